#include "blue.h"
#include "facilities.h"
#include "form1.h"
#include "scriptedinputbox.h"
#include "setup.h"
#include "wifi.h"

#include <QAccessible>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>

namespace {
using Names = QMap<QString, QString>;
using MakeWindow = std::function<QWidget *(const QString &directory)>;

// The controls of a window's table and the names they carry for screen readers; Qt's own inner
// parts are left out.
Names controlsOf(QWidget *window)
{
    Names names;
    for (QWidget *control : window->findChildren<QWidget *>()) {
        if (!control->objectName().isEmpty() && !control->objectName().startsWith(u"qt_"))
            names.insert(control->objectName(), control->accessibleName());
    }
    return names;
}
} // namespace

class tst_Accessibility : public QObject {
    Q_OBJECT

private slots:
    void everyControlIsAnnouncedByItsCaption_data()
    {
        QTest::addColumn<MakeWindow>("make");
        QTest::addColumn<Names>("expected");
        QTest::newRow("Form1") << MakeWindow([](const QString &) {
            return new Form1;
        }) << Names{{"Command1", u"启动服务器"_qs}, {"Command2", u"关闭服务器"_qs}};
        QTest::newRow("setup") << MakeWindow([](const QString &) { return new setup; })
                               << Names{{"Frame1", u"通讯方式（可以两个同时启用）"_qs},
                                        {"Command1", u"WIFI(UDP协议)"_qs},
                                        {"Command2", u"蓝牙(文本模式)"_qs},
                                        {"Frame2", u"监测设置"_qs},
                                        {"Label1", u"监测时间间隔（单位：毫秒）"_qs},
                                        {"Combo1", u"监测时间间隔（单位：毫秒）"_qs}};
        QTest::newRow("wifi") << MakeWindow([](const QString &dir) { return new wifi(dir); })
                              << Names{{"serverlog", u"serverlog"_qs}, {"s", u"开始安装"_qs}};
        QTest::newRow("blue") << MakeWindow([](const QString &dir) {
            return new blue(dir, QStringList{});
        }) << Names{{"Label1", u"服务器已经启动！"_qs}};
    }
    void everyControlIsAnnouncedByItsCaption()
    {
        QFETCH(MakeWindow, make);
        QFETCH(Names, expected);
        QTemporaryDir directory;
        const std::unique_ptr<QWidget> window(make(directory.path()));
        QCOMPARE(controlsOf(window.get()), expected);
    }

    // Where an editable box announces its content as its name, the label names it.
    void theIntervalBoxIsLabelledByItsLabel()
    {
        setup window;
        QAccessibleInterface *box =
            QAccessible::queryAccessibleInterface(window.findChild<QWidget *>(u"Combo1"_qs));
        QStringList labels;
        for (const auto &relation : box->relations(QAccessible::Label))
            labels << relation.first->text(QAccessible::Name);
        QVERIFY2(labels.contains(u"监测时间间隔（单位：毫秒）"_qs), qPrintable(labels.join(u'|')));
    }

    void theLogIsReadLineByLine()
    {
        QTemporaryDir directory;
        wifi window(directory.path());
        {
            ScriptedInputBox box({QStringLiteral("不是端口")});
            window.findChild<QPushButton *>(QStringLiteral("s"))->click();
        }

        auto *serverlog = window.findChild<QListWidget *>(QStringLiteral("serverlog"));
        QVERIFY(serverlog->count() > 2);
        QAccessibleInterface *log = QAccessible::queryAccessibleInterface(serverlog);
        QCOMPARE(log->text(QAccessible::Name), u"serverlog"_qs);
        QStringList read;
        for (int i = 0; i < log->childCount(); ++i)
            read << log->child(i)->text(QAccessible::Name);
        QStringList shown;
        for (int i = 0; i < serverlog->count(); ++i)
            shown << serverlog->item(i)->text();
        QCOMPARE(read, shown);
    }
};

QTEST_MAIN(tst_Accessibility)
#include "tst_accessibility.moc"
