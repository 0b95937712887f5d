#include "program.h"
#include "pseudoterminal.h"
#include "udplistener.h"
#include "udptransport.h"

#include <QRegularExpression>
#include <QTest>
#include <QUdpSocket>

namespace {
using Bytes::HighBeamOn;
using Bytes::On;
using Bytes::TvOff;
constexpr int Patience = Program::Patience;

// morvane-listener as a user starts it, its standard output read line by line.
class ListenerProcess : public Program {
public:
    explicit ListenerProcess(const QStringList &arguments)
        : Program(QStringLiteral(LISTENER_EXECUTABLE), arguments)
    {
    }

    bool waitUntilReady() { return waitForError(u"按 Ctrl-C 结束"_qs); }

    // The lines printed so far, each split into where the bytes came from and what they were.
    QList<QStringList> lines()
    {
        static const QRegularExpression line(
            QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  (\S+)  (.*)$)"));
        QList<QStringList> parsed;
        for (const QString &text : output().split(u'\n', Qt::SkipEmptyParts)) {
            const QRegularExpressionMatch match = line.match(text);
            parsed << (match.hasMatch() ? QStringList{match.captured(1), match.captured(2)}
                                        : QStringList{QStringLiteral("malformed line"), text});
        }
        return parsed;
    }
    bool waitForLines(qsizetype count)
    {
        return QTest::qWaitFor([&] { return lines().size() >= count; }, Patience);
    }
};

// A listener started on one end of a pseudo-terminal; the test writes to the other end.
struct OnTheLine {
    explicit OnTheLine(const QStringList &moreArguments = {})
        : listener(QStringList{QStringLiteral("--serial"), line.slavePath()} + moreArguments)
    {
    }
    bool ready() { return line.isValid() && listener.waitUntilReady(); }

    PseudoTerminal line;
    ListenerProcess listener;
};

QList<QStringList> from(const QString &origin, const QStringList &texts)
{
    QList<QStringList> lines;
    for (const QString &text : texts)
        lines << QStringList{origin, text};
    return lines;
}
} // namespace

class tst_Listener : public QObject {
    Q_OBJECT

private slots:
    void printsEachDatagramWithItsSender_data()
    {
        QTest::addColumn<QStringList>("address");
        QTest::newRow("default address") << QStringList();
        QTest::newRow("host name") << QStringList{u"--address"_qs, u"localhost"_qs};
    }
    // The server's own transport holds port P on every address; the listener shares it.
    void printsEachDatagramWithItsSender()
    {
        QFETCH(QStringList, address);
        const quint16 port = freePort();
        QUdpSocket socket;
        UdpTransport server(socket);
        QVERIFY2(server.bind(port), qPrintable(server.errorString()));
        server.setDestination(QHostAddress::LocalHost);
        ListenerProcess listener(QStringList{QStringLiteral("--udp"), QString::number(port)} +
                                 address);
        QVERIFY(listener.waitUntilReady());

        QVERIFY(server.send(u"空调=启动"_qs));
        QVERIFY(server.send(u"电视=关闭"_qs));
        QVERIFY(server.send(u"近光灯=启动"_qs));
        QUdpSocket stranger;
        QVERIFY(stranger.bind(QHostAddress::LocalHost, 0));
        stranger.writeDatagram(QByteArray::fromHex("FF006162"), QHostAddress::LocalHost, port);

        QVERIFY(listener.waitForLines(4));
        auto expected = from(QStringLiteral("127.0.0.1:%1").arg(port),
                             {u"空调=启动"_qs, u"电视=关闭"_qs, u"近光灯=启动"_qs});
        expected << QStringList{QStringLiteral("127.0.0.1:%1").arg(stranger.localPort()),
                                u"无法识别的 4 字节：FF 00 61 62"_qs};
        QCOMPARE(listener.lines(), expected);
    }

    void splitsBackToBackSerialCommands()
    {
        OnTheLine serial;
        QVERIFY(serial.ready());
        auto &[line, listener] = serial;

        const QByteArray stream = On + TvOff + "\x01\x02" + HighBeamOn + On;
        // Pieces that cut commands, and even their endings, in two.
        for (qsizetype at = 0; at < stream.size(); at += 4) {
            QVERIFY(line.write(stream.mid(at, 4)));
            QTest::qWait(5);
        }

        QVERIFY(listener.waitForLines(5));
        const auto expected = from(line.slavePath(), {u"空调=启动"_qs, u"电视=关闭"_qs,
                                                      u"无法识别的 2 字节：01 02"_qs,
                                                      u"近光灯=启动"_qs, u"空调=启动"_qs});
        QCOMPARE(listener.lines(), expected);
    }

    void showsBytesWithoutEndingOnceTheLineIsQuiet()
    {
        OnTheLine serial;
        QVERIFY(serial.ready());
        auto &[line, listener] = serial;

        QVERIFY(line.write(TvOff + On.first(6)));
        QVERIFY(listener.waitForLines(2));
        const auto expected =
            from(line.slavePath(), {u"电视=关闭"_qs, u"无法识别的 6 字节：BF D5 B5 F7 3D C6"_qs});
        QCOMPARE(listener.lines(), expected);
    }

    void ctrlCPrintsWhatIsLeftAndEndsCleanly()
    {
        OnTheLine serial({QStringLiteral("--udp"), QString::number(freePort())});
        QVERIFY(serial.ready());
        auto &[line, listener] = serial;

        QVERIFY(line.write("xyz"));
        listener.signal(SIGINT);
        QVERIFY(listener.waitForExit());
        QCOMPARE(listener.exitStatus(), QProcess::NormalExit);
        QCOMPARE(listener.exitCode(), 0);
        const auto expected = from(line.slavePath(), {u"无法识别的 3 字节：78 79 7A"_qs});
        QCOMPARE(listener.lines(), expected);
    }

    void endsWhenTheSerialLineGoesAway()
    {
        OnTheLine serial;
        QVERIFY(serial.ready());
        auto &[line, listener] = serial;

        line.closeMaster();
        QVERIFY(listener.waitForExit());
        QCOMPARE(listener.exitCode(), 1);
        QVERIFY2(listener.error().contains(QStringLiteral("串口 %1 已断开").arg(line.slavePath())),
                 qPrintable(listener.error()));
    }

    void refusesWhatItCannotDo_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("says");
        QTest::newRow("nothing to listen on") << QStringList{} << 2 << u"请用 --udp 给出端口"_qs;
        QTest::newRow("port 0") << QStringList{"--udp", "0"} << 2 << u"端口无效：0"_qs;
        QTest::newRow("port 70000") << QStringList{"--udp", "70000"} << 2 << u"端口无效"_qs;
        QTest::newRow("port not a number") << QStringList{"-u", "八"} << 2 << u"端口无效：八"_qs;
        QTest::newRow("no port given") << QStringList{"--udp"} << 2 << u"缺少值"_qs;
        QTest::newRow("bad address")
            << QStringList{"--udp", "8888", "--address", "here"} << 2 << u"地址无效：here"_qs;
        QTest::newRow("address without udp")
            << QStringList{"--serial", "/dev/null", "--address", "127.0.0.1"} << 2
            << u"--address 只用于 --udp"_qs;
        QTest::newRow("unknown option") << QStringList{"--tcp", "1"} << 2 << u"未知选项：--tcp"_qs;
        QTest::newRow("stray argument")
            << QStringList{"-u", "8888", "more"} << 2 << u"多余的参数：more"_qs;
        QTest::newRow("no such device") << QStringList{"--serial", "/dev/no-such-line"} << 1
                                        << u"无法打开串口 /dev/no-such-line：设备不存在"_qs;
    }
    void refusesWhatItCannotDo()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, says);
        ListenerProcess listener(arguments);
        QVERIFY(listener.waitForExit());
        QCOMPARE(listener.exitCode(), exitCode);
        QVERIFY2(listener.error().contains(says), qPrintable(listener.error()));
        QVERIFY(listener.lines().isEmpty());
    }

    void refusesAPortHeldWithoutSharing()
    {
        QUdpSocket holder;
        QVERIFY(holder.bind(QHostAddress::LocalHost, 0, QAbstractSocket::DontShareAddress));
        ListenerProcess listener({QStringLiteral("--udp"), QString::number(holder.localPort())});
        QVERIFY(listener.waitForExit());
        QCOMPARE(listener.exitCode(), 1);
        QVERIFY2(listener.error().contains(u"端口已被占用"), qPrintable(listener.error()));
    }

    void helpIsChinese()
    {
        ListenerProcess listener({QStringLiteral("--help")});
        QVERIFY(listener.waitForExit());
        QCOMPARE(listener.exitCode(), 0);
        const QString help = listener.output();
        QVERIFY(help.startsWith(u"用法：morvane-listener [选项]"));
        for (const char *option : {"--udp", "--address", "--serial", "--help"})
            QVERIFY2(help.contains(QLatin1String(option)), option);
    }
};

QTEST_GUILESS_MAIN(tst_Listener)
#include "tst_listener.moc"
