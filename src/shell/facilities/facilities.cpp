#include "facilities.h"

#include <QApplication>
#include <QInputDialog>

namespace {
QString askUser(QWidget *parent, const QString &prompt)
{
    QInputDialog dialog(parent);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setWindowTitle(QStringLiteral("Morvane"));
    dialog.setLabelText(prompt);
    dialog.setOkButtonText(QStringLiteral("确定"));
    dialog.setCancelButtonText(QStringLiteral("取消"));
    return dialog.exec() == QDialog::Accepted ? dialog.textValue() : QString();
}

InputBoxFunction &currentInputBox()
{
    static InputBoxFunction function = askUser;
    return function;
}
} // namespace

QIcon Icons::application()
{
    return QIcon(QStringLiteral(":/icons/application.svg"));
}
QIcon Icons::setup()
{
    return QIcon(QStringLiteral(":/icons/setup.svg"));
}
QIcon Icons::mode()
{
    return QIcon(QStringLiteral(":/icons/mode.svg"));
}

void place(QWidget *control, const ControlRow &row, const QString &accessibleName)
{
    control->setObjectName(QLatin1String(row.name));
    control->setGeometry(row.rect.pixels());
    control->setAccessibleName(accessibleName);
}

void endProgram()
{
    QApplication::closeAllWindows();
    QCoreApplication::quit();
}

QString inputBox(QWidget *parent, const QString &prompt)
{
    return currentInputBox()(parent, prompt);
}

InputBoxFunction replaceInputBox(InputBoxFunction replacement)
{
    return std::exchange(currentInputBox(), std::move(replacement));
}
