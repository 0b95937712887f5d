#include "commandbuilder.h"

#include <QTest>

class tst_CommandBuilder : public QObject {
    Q_OBJECT

private slots:
    void buildCommand_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("command");

        QTest::newRow("on") << u"打开空调"_qs << u"空调=启动"_qs;
        QTest::newRow("off") << u"关闭空调"_qs << u"空调=关闭"_qs;
        QTest::newRow("start") << u"启动电脑"_qs << u"电脑=启动"_qs;
        QTest::newRow("stop") << u"停止音乐"_qs << u"音乐=关闭"_qs;
        QTest::newRow("run") << u"运行风扇"_qs << u"风扇=启动"_qs;
        QTest::newRow("cut") << u"断电冰箱"_qs << u"冰箱=关闭"_qs;
        QTest::newRow("first device") << u"打开后背箱"_qs << u"后背箱=启动"_qs;
        QTest::newRow("last device") << u"打开广播"_qs << u"广播=启动"_qs;
        QTest::newRow("computer words stay apart") << u"打开计算机"_qs << u"计算机=启动"_qs;

        QTest::newRow("off outweighs on") << u"断开窗户"_qs << u"窗户=关闭"_qs;
        QTest::newRow("switch word holds both") << u"开关灯"_qs << u"灯=关闭"_qs;
        QTest::newRow("on after off in text") << u"先关再开电视"_qs << u"电视=关闭"_qs;

        QTest::newRow("low beam before lamp") << u"打开近光灯"_qs << u"近光灯=启动"_qs;
        QTest::newRow("high beam before lamp") << u"关远光灯"_qs << u"远光灯=关闭"_qs;
        QTest::newRow("lamp") << u"开灯"_qs << u"灯=启动"_qs;
        QTest::newRow("desk lamp is a lamp") << u"打开台灯"_qs << u"灯=启动"_qs;
        QTest::newRow("table order, not text order") << u"打开电视和电脑"_qs << u"电脑=启动"_qs;
        QTest::newRow("radio set before station") << u"打开收音机电台"_qs << u"收音机=启动"_qs;

        QTest::newRow("device only") << u"空调"_qs << QString();
        QTest::newRow("action only") << u"打开"_qs << QString();
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("word split by space") << u"打开空 调"_qs << QString();
        QTest::newRow("no width folding") << u"打开ＴＶ"_qs << QString();
        QTest::newRow("device word kept exact around noise")
            << u"  请帮我把客厅的空调打开吧！"_qs << u"空调=启动"_qs;
        QTest::newRow("replacement characters do not stop the search")
            << u"\uFFFD打开\uFFFD空调"_qs << u"空调=启动"_qs;
    }

    void buildCommand()
    {
        QFETCH(QString, request);
        QFETCH(QString, command);
        QCOMPARE(CommandBuilder::buildCommand(request), command);
    }

    // Each device word, asked for alone, must come back as itself: a table entry shadowed by an
    // earlier one would never be sent.
    void everyDeviceWordReachesTheWire()
    {
        for (QStringView device : CommandBuilder::DeviceWords) {
            QCOMPARE(CommandBuilder::buildCommand(QStringLiteral("打开").append(device)),
                     device.toString().append(u"=启动"));
            QCOMPARE(CommandBuilder::buildCommand(QStringLiteral("关闭").append(device)),
                     device.toString().append(u"=关闭"));
        }
    }
};

QTEST_GUILESS_MAIN(tst_CommandBuilder)
#include "tst_commandbuilder.moc"
