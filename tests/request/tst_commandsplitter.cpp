#include "commandsplitter.h"

#include <QTest>

namespace {
QByteArray gbk(const char16_t *text)
{
    return Gbk().encode(QStringView(text));
}

// "空调=启动" for a command, hex for bytes that are not one.
QStringList render(const QList<Received> &received)
{
    QStringList lines;
    for (const Received &one : received)
        lines << (one.isCommand() ? one.command : QString::fromLatin1(one.unparsed.toHex(' ')));
    return lines;
}
} // namespace

class tst_CommandSplitter : public QObject {
    Q_OBJECT

private slots:
    void datagramHoldsOneCommand_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("command") << gbk(u"空调=启动") << QStringList{u"空调=启动"_qs};
        QTest::newRow("off") << gbk(u"后背箱=关闭") << QStringList{u"后背箱=关闭"_qs};
        QTest::newRow("longest word wins") << gbk(u"近光灯=启动") << QStringList{u"近光灯=启动"_qs};
        QTest::newRow("trailing newline")
            << gbk(u"灯=关闭\n") << QStringList{"b5 c6 3d b9 d8 b1 d5 0a"};
        QTest::newRow("two commands")
            << gbk(u"灯=关闭灯=关闭") << QStringList{"b5 c6 3d b9 d8 b1 d5 b5 c6 3d b9 d8 b1 d5"};
        QTest::newRow("unknown device") << gbk(u"饭=启动") << QStringList{"b7 b9 3d c6 f4 b6 af"};
        QTest::newRow("junk before")
            << QByteArray("\xff" + gbk(u"灯=关闭")) << QStringList{"ff b5 c6 3d b9 d8 b1 d5"};
        QTest::newRow("ending only") << gbk(u"=启动") << QStringList{"3d c6 f4 b6 af"};
        QTest::newRow("empty") << QByteArray() << QStringList{""};
    }
    void datagramHoldsOneCommand()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(QStringList, expected);
        QCOMPARE(render(CommandSplitter().datagram(datagram)), expected);
    }

    void streamIsCutAfterEachEnding_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("back to back")
            << gbk(u"空调=启动电视=关闭空调=启动")
            << QStringList{u"空调=启动"_qs, u"电视=关闭"_qs, u"空调=启动"_qs};
        QTest::newRow("words that end in 灯")
            << gbk(u"近光灯=启动灯=关闭远光灯=关闭")
            << QStringList{u"近光灯=启动"_qs, u"灯=关闭"_qs, u"远光灯=关闭"_qs};
        QTest::newRow("junk before a command")
            << QByteArray("\x01\x02" + gbk(u"风扇=启动")) << QStringList{"01 02", u"风扇=启动"_qs};
        QTest::newRow("junk between commands")
            << gbk(u"冰箱=关闭") + "abc" + gbk(u"冰箱=启动")
            << QStringList{u"冰箱=关闭"_qs, "61 62 63", u"冰箱=启动"_qs};
        QTest::newRow("unknown device")
            << gbk(u"饭=启动灯=启动") << QStringList{"b7 b9 3d c6 f4 b6 af", u"灯=启动"_qs};
        QTest::newRow("stray ending")
            << gbk(u"=关闭收音机=关闭") << QStringList{"3d b9 d8 b1 d5", u"收音机=关闭"_qs};
        QTest::newRow("invalid GBK before a command")
            << QByteArray("\x81\x20" + gbk(u"电台=启动")) << QStringList{"81 20", u"电台=启动"_qs};
    }
    void streamIsCutAfterEachEnding()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QStringList, expected);
        // However the line delivers the bytes, the same commands come out.
        for (qsizetype chunk = 1; chunk <= stream.size(); ++chunk) {
            CommandSplitter splitter;
            QList<Received> received;
            for (qsizetype at = 0; at < stream.size(); at += chunk)
                received += splitter.feed(
                    QByteArrayView(stream).sliced(at).first(std::min(chunk, stream.size() - at)));
            QCOMPARE(render(received), expected);
            QVERIFY(!splitter.hasPending());
        }
    }

    void bytesWithoutEndingWaitUntilFlushed()
    {
        CommandSplitter splitter;
        QVERIFY(splitter.feed(gbk(u"灯=关闭空调=启")).size() == 1);
        QVERIFY(splitter.hasPending());
        QCOMPARE(render(splitter.flush()), QStringList{"bf d5 b5 f7 3d c6 f4"});
        QVERIFY(!splitter.hasPending());
        QVERIFY(splitter.flush().isEmpty());
        QCOMPARE(render(splitter.feed(gbk(u"灯=关闭"))), QStringList{u"灯=关闭"_qs});
    }

    void longJunkIsHandedBackAndTheNextCommandSurvives_data()
    {
        QTest::addColumn<bool>("inOneRead");
        QTest::newRow("junk, then the command") << false;
        QTest::newRow("both in one read") << true;
    }
    void longJunkIsHandedBackAndTheNextCommandSurvives()
    {
        QFETCH(bool, inOneRead);
        CommandSplitter splitter;
        const QByteArray junk(1000, 'x');
        QList<Received> received;
        if (inOneRead) {
            received = splitter.feed(junk + gbk(u"广播=启动"));
        } else {
            received = splitter.feed(junk);
            QVERIFY(!received.isEmpty());
            received += splitter.feed(gbk(u"广播=启动"));
        }
        received += splitter.flush();

        QByteArray unparsed;
        for (qsizetype i = 0; i + 1 < received.size(); ++i) {
            QVERIFY(!received[i].isCommand());
            QVERIFY(received[i].unparsed.size() <= CommandSplitter::MaxPending);
            unparsed += received[i].unparsed;
        }
        QCOMPARE(unparsed, junk);
        QCOMPARE(received.last().command, u"广播=启动"_qs);
    }
};

QTEST_GUILESS_MAIN(tst_CommandSplitter)
#include "tst_commandsplitter.moc"
