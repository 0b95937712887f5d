#include "facilities.h"
#include "form1.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Morvane"));
    QApplication::setDesktopFileName(QStringLiteral("morvane-server"));
    QApplication::setWindowIcon(Icons::application());
    showWindow<Form1>();
    return app.exec();
}
