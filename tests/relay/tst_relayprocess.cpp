#include "program.h"
#include "pseudoterminal.h"
#include "support.h"
#include "udplistener.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {
// morvane-relay started as a service starts it, reading `directory`/api.txt.
class RelayProcess : public Program {
public:
    RelayProcess(const QTemporaryDir &directory, const QStringList &outputs)
        : Program(QStringLiteral(RELAY_EXECUTABLE),
                  QStringList{u"--request"_qs, directory.filePath(u"api.txt"_qs)} + outputs)
    {
    }
};

// The device path leads to `line`, switched in one step as udev would.
bool pointAt(const QString &link, const PseudoTerminal &line)
{
    const QString fresh = link + u".new"_qs;
    QFile::remove(fresh);
    return QFile::link(line.slavePath(), fresh) &&
           ::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(link).constData()) == 0;
}

bool receives(PseudoTerminal &line, const QByteArray &command, int count)
{
    QByteArray received;
    return QTest::qWaitFor(
               [&] { return (received += line.read()).size() >= count * command.size(); },
               Program::Patience) &&
           received == command.repeated(received.size() / command.size()) &&
           received.size() % command.size() == 0;
}
} // namespace

class tst_RelayProcess : public QObject {
    Q_OBJECT

private slots:
    // Exactly the command's bytes back to back; the line lost, told once, and taken up again by
    // the next device under the name. Quiet, the log holds only the failure and its end.
    void serialLineGoesAndComesBack()
    {
        QTemporaryDir dir;
        const QString device = dir.filePath(u"rfcomm0"_qs);
        PseudoTerminal first, second;
        QVERIFY(pointAt(device, first));
        RelayProcess relay(dir, {u"--serial"_qs, device, u"--quiet"_qs});
        QVERIFY(writeRequest(dir.path(), Bytes::TurnOff));
        QVERIFY(receives(first, Bytes::Off, 20));

        QVERIFY(QFile::remove(device));
        QVERIFY(relay.waitForError(QStringLiteral("串口 %1 发送失败：未找到串口设备").arg(device)));
        QVERIFY(pointAt(device, second));
        QVERIFY(relay.waitForError(QStringLiteral("串口 %1 已恢复").arg(device)));
        QVERIFY(receives(second, Bytes::Off, 20));
        QCOMPARE(relay.error().count(u'\n'), 2);
    }

    void endsCleanlyOnSignal_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
    }
    // While serving: gone within a second, status 0, the port free for anyone.
    void endsCleanlyOnSignal()
    {
        QFETCH(int, signal);
        QTemporaryDir dir;
        const quint16 port = freePort();
        RelayProcess relay(dir, {u"--udp"_qs, QStringLiteral("127.0.0.1:%1").arg(port)});
        QVERIFY(relay.waitForError(u"已启动"_qs));
        {
            UdpListener listener(port);
            QVERIFY(writeRequest(dir.path(), Bytes::TurnOn));
            QVERIFY(runUntil([&] { return listener.received.size() >= 20; }));
        }

        QElapsedTimer clock;
        clock.start();
        relay.signal(signal);
        QVERIFY(relay.waitForExit(1000));
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(relay.exitStatus(), QProcess::NormalExit);
        QCOMPARE(relay.exitCode(), 0);
        QVERIFY(relay.error().endsWith(u"已停止\n"));
        QUdpSocket alone;
        QVERIFY(alone.bind(QHostAddress::AnyIPv4, port, QAbstractSocket::DontShareAddress));
        QVERIFY(QFile::exists(dir.filePath(u"api.txt"_qs)));
    }
};

QTEST_GUILESS_MAIN(tst_RelayProcess)
#include "tst_relayprocess.moc"
