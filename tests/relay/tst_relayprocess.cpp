#include "broker.h"
#include "program.h"
#include "pseudoterminal.h"
#include "support.h"
#include "udplistener.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {
// The sanitizers test whether memory is readable through a pipe of their own: in a relay left
// without a file descriptor they take every object checked for unreadable.
#ifdef __SANITIZE_ADDRESS__
constexpr bool Sanitized = true;
#else
constexpr bool Sanitized = false;
#endif
// morvane-relay started as a service starts it; given a directory, reading its api.txt.
class RelayProcess : public Program {
public:
    explicit RelayProcess(const QStringList &arguments)
        : Program(Launch{QStringLiteral(RELAY_EXECUTABLE), arguments})
    {
    }
    RelayProcess(const QTemporaryDir &directory, const QStringList &outputs)
        : RelayProcess(QStringList{u"--request"_qs, directory.filePath(u"api.txt"_qs)} + outputs)
    {
    }
};

// The socket systemd gives a service in NOTIFY_SOCKET: the relay's messages, oldest first, and
// apart from them the watchdog's pings.
class NotifySocket {
public:
    explicit NotifySocket(const QString &path)
        : m_socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0))
    {
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
        m_bound = ::bind(m_socket, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    }
    ~NotifySocket() { ::close(m_socket); }

    bool isBound() const { return m_bound; }
    const QStringList &messages()
    {
        char buffer[4096];
        for (ssize_t size; (size = ::recv(m_socket, buffer, sizeof buffer, 0)) >= 0;) {
            const QString message = QString::fromUtf8(buffer, size);
            if (message == u"WATCHDOG=1")
                ++m_pings;
            else
                m_messages << message;
        }
        return m_messages;
    }
    int pings()
    {
        messages();
        return m_pings;
    }
    bool waitFor(const QString &message)
    {
        return runUntil([&] { return messages().contains(message); });
    }

private:
    int m_socket;
    bool m_bound = false;
    QStringList m_messages;
    int m_pings = 0;
};

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
    // The broker beside the other outputs: a command once per change, never per tick; the broker
    // lost and back without a pause on the wire, with the latest command; a request over MQTT out
    // on UDP and the serial line in the same bytes; what is no request dropped; the will when the
    // relay is killed.
    void mqttBesideTheOtherOutputs()
    {
        Broker broker;
        QVERIFY2(broker.read(), "no broker: run through CTest, whose fixture starts one");
        QTemporaryDir dir;
        const QString prefix = QStringLiteral("relay%1").arg(QCoreApplication::applicationPid());
        const QByteArray command = (prefix + u"/command"_qs).toUtf8();
        const QByteArray farId = "far-" + prefix.toUtf8();
        std::optional<Far> far(std::in_place, broker.port, QList<QByteArray>{command}, farId);
        QVERIFY(far->subscribed());
        const quint16 port = freePort();
        PseudoTerminal line;
        RelayProcess relay(dir,
                           {u"--udp"_qs, QStringLiteral("127.0.0.1:%1").arg(port), u"--serial"_qs,
                            line.slavePath(), u"--mqtt"_qs,
                            QStringLiteral("mqtt://127.0.0.1:%1/%2").arg(broker.port).arg(prefix)});
        QVERIFY(relay.waitForError(u"已连接 MQTT 服务器"_qs));
        UdpListener listener(port);
        QVERIFY(writeRequest(dir.path(), Bytes::TurnOn));
        QVERIFY(runUntil([&] { return listener.received.size() >= 500; }));
        QCOMPARE(far->on(command).size(), 1);

        QVERIFY(broker.run(u"stop"_qs));
        const qsizetype before = listener.received.size();
        QVERIFY(relay.waitForError(u"的连接已断开"_qs));
        QVERIFY(writeRequest(dir.path(), Bytes::TurnOff));
        QVERIFY(runUntil([&] { return listener.received.last().data() == Bytes::Off; }));
        QVERIFY(listener.received.size() - before >= 500);
        far.reset();
        QVERIFY(broker.run(u"start"_qs));
        QVERIFY(runUntil([&] { return relay.error().count(u"已连接 MQTT 服务器") == 2; }, 40000));
        far.emplace(broker.port, QList<QByteArray>{command}, farId);
        QVERIFY(runUntil([&] { return !far->messages.isEmpty(); }, 10000));
        QCOMPARE(far->messages.last().payload, QByteArray("空调=关闭"));

        QVERIFY(removeRequest(dir.path()));
        QVERIFY(relay.waitForError(u"请求已撤走"_qs));
        QVERIFY(listener.catchUp());
        listener.received.clear();
        line.read();
        far->publish((prefix + u"/request"_qs).toUtf8(), QByteArray(17000, 'x'));
        far->publish((prefix + u"/request"_qs).toUtf8(), QByteArray("\x00\xff\x81", 3));
        far->publish((prefix + u"/request"_qs).toUtf8(), Bytes::TurnOffTv);
        QVERIFY(relay.waitForError(u"收到 MQTT 上的请求“关闭电视”，命令“电视=关闭”"_qs));
        QVERIFY(relay.error().contains(u"超过 16384 字节，已丢弃"));
        QVERIFY(relay.error().contains(u"中没有家电名称或开关词，已丢弃"));
        QVERIFY(listener.catchUp());
        QCOMPARE(listener.received.size(), 1);
        QCOMPARE(listener.received[0].data(), Bytes::TvOff);
        QVERIFY(receives(line, Bytes::TvOff, 1));

        relay.signal(SIGKILL);
        QVERIFY(relay.waitForExit());
        QVERIFY(runUntil(
            [&] {
                return retainedAt(broker.port, (prefix + u"/status"_qs).toUtf8())
                           .value(0)
                           .payload == "offline";
            },
            10000));
    }

    // A switch toggled in the hub, as its discovery config says: with no request file, exactly
    // the command's GBK bytes once on UDP and the serial line, and the state follows; with one
    // standing, the toggle's command once between ticks, and the state that of the command sent
    // last.
    void hubSwitchDrivesTheOutputs()
    {
        Broker broker;
        QVERIFY2(broker.read(), "no broker: run through CTest, whose fixture starts one");
        QTemporaryDir dir;
        const QString prefix = QStringLiteral("hub%1").arg(QCoreApplication::applicationPid());
        const quint16 port = freePort();
        UdpListener listener(port);
        PseudoTerminal line;
        RelayProcess relay(dir,
                           {u"--udp"_qs, QStringLiteral("127.0.0.1:%1").arg(port), u"--serial"_qs,
                            line.slavePath(), u"--mqtt"_qs,
                            QStringLiteral("mqtt://127.0.0.1:%1/%2").arg(broker.port).arg(prefix),
                            u"--mqtt-discovery"_qs, prefix + u"/ha"_qs});
        QVERIFY(relay.waitForError(u"已连接 MQTT 服务器"_qs));
        Far hub(broker.port, {(prefix + u"/ha/switch/#"_qs).toUtf8()});
        QVERIFY(hub.subscribed());
        QJsonObject airConditioner;
        QVERIFY(runUntil([&] {
            for (const Message &message : std::as_const(hub.messages)) {
                const QJsonObject config = QJsonDocument::fromJson(message.payload).object();
                if (config.value(u"name"_qs).toString() == u"空调")
                    airConditioner = config;
            }
            return !airConditioner.isEmpty();
        }));
        const QByteArray command = airConditioner.value(u"command_topic"_qs).toString().toUtf8();
        const QByteArray state = airConditioner.value(u"state_topic"_qs).toString().toUtf8();
        const auto stateShown = [&](const QByteArray &word) {
            return runUntil([&] { return retainedAt(broker.port, state).value(0).payload == word; },
                            5000);
        };

        hub.publish(command, airConditioner.value(u"payload_on"_qs).toString().toUtf8());
        QVERIFY(receives(line, Bytes::On, 1));
        QVERIFY(listener.catchUp());
        QCOMPARE(listener.received.size(), 1);
        QCOMPARE(listener.received[0].data(), Bytes::On);
        QVERIFY(stateShown("启动"));

        QVERIFY(writeRequest(dir.path(), Bytes::TurnOn));
        QVERIFY(runUntil([&] { return listener.received.size() >= 200; }));
        hub.publish(command, airConditioner.value(u"payload_off"_qs).toString().toUtf8());
        QVERIFY(relay.waitForError(u"收到 MQTT 上的请求“关闭空调”"_qs));
        QVERIFY(stateShown("启动"));
        QVERIFY(removeRequest(dir.path()));
        QVERIFY(relay.waitForError(u"请求已撤走"_qs));
        QVERIFY(listener.catchUp());
        qsizetype offs = 0;
        for (const QNetworkDatagram &datagram : std::as_const(listener.received))
            offs += datagram.data() == Bytes::Off;
        QCOMPARE(offs, 1);
        QVERIFY(stateShown("启动"));
    }

    // A reload that has the relay connect to the broker anew publishes no command of its own.
    void reloadOfTheBrokerPublishesNoCommand()
    {
        Broker broker;
        QVERIFY2(broker.read(), "no broker: run through CTest, whose fixture starts one");
        QTemporaryDir dir;
        const QString prefix = QStringLiteral("reload%1").arg(QCoreApplication::applicationPid());
        const QString config = dir.filePath(u"relay.conf"_qs);
        const QString mqtt =
            QStringLiteral("mqtt=mqtt://127.0.0.1:%1/%2\n").arg(broker.port).arg(prefix);
        QVERIFY(writeFile(config, mqtt.toUtf8()));
        Far far(broker.port, {(prefix + u"/command"_qs).toUtf8()});
        QVERIFY(far.subscribed());
        RelayProcess relay(dir, {u"--config"_qs, config});
        QVERIFY(relay.waitForError(u"已连接 MQTT 服务器"_qs));
        QVERIFY(writeRequest(dir.path(), Bytes::TurnOn));
        QVERIFY(runUntil([&] { return far.messages.size() == 1; }));
        QVERIFY(writeFile(config, (mqtt + u"mqtt_keepalive=60\n"_qs).toUtf8()));
        relay.signal(SIGHUP);
        QVERIFY(runUntil([&] { return relay.error().count(u"已连接 MQTT 服务器") == 2; }));
        QTest::qWait(500);
        QCOMPARE(far.messages.size(), 1);
    }

    // Requests a few milliseconds apart, as a hub's switches send them: each one's datagram out
    // within a few milliseconds, not held back by the broker until the relay's kernel acknowledges
    // what the broker sent it last (up to 40 ms).
    void mqttRequestsArePrompt()
    {
        Broker broker;
        QVERIFY2(broker.read(), "no broker: run through CTest, whose fixture starts one");
        QTemporaryDir dir;
        const QByteArray prefix = "prompt" + QByteArray::number(QCoreApplication::applicationPid());
        const quint16 port = freePort();
        UdpListener listener(port);
        RelayProcess relay({u"--request"_qs, u"none"_qs, u"--udp"_qs,
                            QStringLiteral("127.0.0.1:%1").arg(port), u"--mqtt"_qs,
                            QStringLiteral("mqtt://127.0.0.1:%1/%2")
                                .arg(broker.port)
                                .arg(QString::fromLatin1(prefix))});
        QVERIFY(relay.waitForError(u"已连接 MQTT 服务器"_qs));
        Far far(broker.port, {});
        QVERIFY(far.subscribed());
        std::vector<qint64> delays;
        QElapsedTimer clock;
        for (int i = 0; i < 40; ++i) {
            QTest::qWait(5 + i % 3 * 5);
            const qsizetype before = listener.received.size();
            clock.start();
            far.publish(prefix + "/request", i % 2 ? Bytes::TurnOn : Bytes::TurnOff);
            QVERIFY(runUntil([&] { return listener.received.size() > before; }, 5000));
            delays.push_back(clock.elapsed());
        }
        std::sort(delays.begin(), delays.end());
        QVERIFY2(delays[delays.size() / 2] < 15, qPrintable(QString::number(delays[20])));
    }

    // Exactly the command's bytes back to back; the line lost, told once, and taken up again by
    // the next device under the name. Quiet, the log holds only the failure and its end. On the
    // broker, the line's connectivity goes off within a second of the loss and on within a second
    // of the return, and a command no output took leaves the appliance's state until one does.
    void serialLineGoesAndComesBack()
    {
        Broker broker;
        QVERIFY2(broker.read(), "no broker: run through CTest, whose fixture starts one");
        QTemporaryDir dir;
        const QString device = dir.filePath(u"rfcomm0"_qs);
        const QString prefix = QStringLiteral("line%1").arg(QCoreApplication::applicationPid());
        const QByteArray connectivity = (prefix + u"/output/serial"_qs).toUtf8();
        const QByteArray state = (prefix + u"/state/空调"_qs).toUtf8();
        PseudoTerminal first, second;
        QVERIFY(pointLink(device, first.slavePath()));
        Far far(broker.port, {connectivity, state});
        QVERIFY(far.subscribed());
        RelayProcess relay(dir,
                           {u"--serial"_qs, device, u"--quiet"_qs, u"--mqtt"_qs,
                            QStringLiteral("mqtt://127.0.0.1:%1/%2").arg(broker.port).arg(prefix)});
        const auto last = [&](const QByteArray &topic, const QByteArray &payload) {
            return runUntil(
                [&] { return far.on(topic).value(far.on(topic).size() - 1).payload == payload; },
                5000);
        };
        QVERIFY(writeRequest(dir.path(), Bytes::TurnOff));
        QVERIFY(receives(first, Bytes::Off, 20));
        QVERIFY(last(connectivity, "ON") && last(state, "关闭"));

        QElapsedTimer clock;
        clock.start();
        QVERIFY(QFile::remove(device));
        QVERIFY(last(connectivity, "OFF"));
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(relay.waitForError(QStringLiteral("串口 %1 发送失败：未找到串口设备").arg(device)));
        QVERIFY(writeRequest(dir.path(), Bytes::TurnOn));
        QTest::qWait(500);
        QCOMPARE(far.on(state).last().payload, QByteArray("关闭"));
        QCOMPARE(retainedAt(broker.port, state).value(0).payload, QByteArray("关闭"));

        clock.start();
        QVERIFY(pointLink(device, second.slavePath()));
        QVERIFY(last(connectivity, "ON"));
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(last(state, "启动"));
        QVERIFY(relay.waitForError(QStringLiteral("串口 %1 已恢复").arg(device)));
        QVERIFY(receives(second, Bytes::On, 20));
        QCOMPARE(relay.error().count(u'\n'), 2);
    }

    // The settings read again on SIGHUP: a destination added takes effect within a second, those
    // kept go on from the same socket, the serial line stays open; a file with a key given twice,
    // or a port another program holds, is refused and the old settings go on, and the same
    // settings are tried afresh by the next reload; a destination dropped frees its port. The
    // command line still wins over the file.
    void reloadsOnHangUp()
    {
        QTemporaryDir dir;
        const QString config = dir.filePath(u"relay.conf"_qs);
        const quint16 kept = freePort(), added = freePort();
        const QString keptLine = QStringLiteral("udp=127.0.0.1:%1\n").arg(kept);
        PseudoTerminal line;
        const QString serial = QStringLiteral("serial=%1\ninterval=2\n").arg(line.slavePath());
        QVERIFY(writeFile(config, (keptLine + serial).toUtf8()));
        RelayProcess relay(dir, {u"--config"_qs, config, u"--interval"_qs, u"3"_qs});
        QVERIFY(relay.waitForError(u"已启动"_qs));
        std::optional<UdpListener> first(std::in_place, kept);
        QVERIFY(writeRequest(dir.path(), Bytes::TurnOn));
        QVERIFY(runUntil([&] { return first->received.size() >= 20; }));
        QVERIFY(receives(line, Bytes::On, 20));

        QVERIFY(writeFile(config, (keptLine + serial + u"interval=4\n"_qs).toUtf8()));
        relay.signal(SIGHUP);
        QVERIFY(relay.waitForError(u"设置未重新读取，仍按原来的运行：配置文件“"_qs));
        QVERIFY(relay.error().contains(u"中的 interval= 写了两次：第 3 行和第 4 行"_qs));
        qsizetype before = first->received.size();
        QVERIFY(runUntil([&] { return first->received.size() >= before + 20; }));

        QVERIFY(writeFile(config, QStringLiteral("udp=127.0.0.1:%1, 127.0.0.1:%2\n%3")
                                      .arg(kept)
                                      .arg(added)
                                      .arg(serial)
                                      .toUtf8()));
        std::optional<QUdpSocket> holder(std::in_place);
        QVERIFY(holder->bind(QHostAddress::AnyIPv4, added, QAbstractSocket::DontShareAddress));
        relay.signal(SIGHUP);
        QVERIFY(relay.waitForError(
            QStringLiteral("设置未重新读取，仍按原来的运行：UDP 127.0.0.1:%1：本机端口无法使用")
                .arg(added)));
        holder.reset();
        UdpListener second(added);
        QElapsedTimer clock;
        clock.start();
        relay.signal(SIGHUP);
        QVERIFY(runUntil([&] { return !second.received.isEmpty(); }));
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(relay.waitForError(
            QStringLiteral("已重新读取设置：加上 UDP 127.0.0.1:%1（本机端口 %1）\n").arg(added)));
        before = first->received.size();
        QVERIFY(runUntil([&] { return first->received.size() >= before + 20; }));
        QVERIFY(receives(line, Bytes::On, 20));

        QVERIFY(writeFile(config,
                          QStringLiteral("udp=127.0.0.1:%1\n%2").arg(added).arg(serial).toUtf8()));
        relay.signal(SIGHUP);
        QVERIFY(
            relay.waitForError(QStringLiteral("已重新读取设置：去掉 UDP 127.0.0.1:%1").arg(kept)));
        first.reset();
        QUdpSocket alone;
        QVERIFY(alone.bind(QHostAddress::AnyIPv4, kept, QAbstractSocket::DontShareAddress));
        before = second.received.size();
        QVERIFY(runUntil([&] { return second.received.size() >= before + 20; }));
        QVERIFY(relay.isRunning());
        QCOMPARE(relay.error().count(u"已打开"_qs), 1);
        QCOMPARE(relay.error().count(u"已重新读取设置"_qs), 2);
    }

    // A burst of hang-ups, as a careless loop sends them: a few reloads, the request still
    // served, and SIGTERM still ends it at once.
    void burstOfHangUps()
    {
        QTemporaryDir dir;
        const QString config = dir.filePath(u"relay.conf"_qs);
        const quint16 port = freePort();
        QVERIFY(writeFile(config, QStringLiteral("udp=127.0.0.1:%1\n").arg(port).toUtf8()));
        RelayProcess relay(dir, {u"--config"_qs, config});
        QVERIFY(relay.waitForError(u"已启动"_qs));
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 200000; ++i)
            relay.signal(SIGHUP);
        const qint64 burst = clock.elapsed();
        UdpListener listener(port);
        QVERIFY(writeRequest(dir.path(), Bytes::TurnOn));
        QVERIFY(runUntil([&] { return listener.received.size() >= 20; }, 5000));
        QTest::qWait(300);
        const qsizetype reloads = relay.error().count(u"已重新读取设置"_qs);
        QVERIFY2(reloads >= 1 && reloads <= 3 + burst / 200,
                 qPrintable(QStringLiteral("%1 reloads in %2 ms").arg(reloads).arg(burst)));
        relay.signal(SIGTERM);
        QVERIFY(relay.waitForExit(2000));
        QCOMPARE(relay.exitCode(), 0);
    }

    void refusesWhatWouldBlock_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("settings");
        const QStringList mqtt = {u"--request"_qs, u"none"_qs, u"--mqtt"_qs,
                                  u"mqtt://127.0.0.1:1"_qs};
        QTest::newRow("settings file") << QStringList{u"--config"_qs, u"FIFO"_qs} << QByteArray();
        QTest::newRow("password file")
            << mqtt + QStringList{u"--mqtt-password-file"_qs, u"FIFO"_qs} << QByteArray();
        QTest::newRow("CA file") << QStringList{u"--request"_qs, u"none"_qs, u"--mqtt"_qs,
                                                u"mqtts://127.0.0.1:1"_qs}
                                 << QByteArray("mqtt_cafile=FIFO\n");
    }
    // A FIFO where a file is read is refused with a line, never waited on.
    void refusesWhatWouldBlock()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, settings);
        QTemporaryDir dir;
        const QString fifo = dir.filePath(u"fifo"_qs);
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        arguments.replaceInStrings(u"FIFO"_qs, fifo);
        if (!settings.isEmpty()) {
            QVERIFY(
                writeFile(dir.filePath(u"relay.conf"_qs), settings.replace("FIFO", fifo.toUtf8())));
            arguments << u"--config"_qs << dir.filePath(u"relay.conf"_qs);
        }
        RelayProcess relay(arguments);
        QVERIFY(relay.waitForExit(5000));
        QCOMPARE(relay.exitCode(), 2);
        QVERIFY2(relay.error().contains(u"不是普通文件"_qs), qPrintable(relay.error()));
    }

    // A FIFO where QSerialPort keeps the line's lock file (a directory anyone may write to) is
    // refused with a line, never read: the relay still ends on SIGTERM.
    void serialLockThatWouldBlock()
    {
        if (!QFileInfo(u"/var/lock"_qs).isWritable())
            QSKIP("/var/lock cannot be written here");
        PseudoTerminal line;
        const QString lock = u"/var/lock/LCK.."_qs + line.slavePath().mid(5).replace(u'/', u'_');
        QFile::remove(lock); // left by whoever had a terminal of this number before
        QVERIFY(::mkfifo(QFile::encodeName(lock).constData(), 0600) == 0);
        const auto removed = qScopeGuard([&] { QFile::remove(lock); });
        QTemporaryDir dir;
        RelayProcess relay(dir, {u"--serial"_qs, line.slavePath()});
        QVERIFY(writeRequest(dir.path(), Bytes::TurnOn));
        QVERIFY(relay.waitForError(QStringLiteral("锁文件 %1 不是普通文件").arg(lock)));
        relay.signal(SIGTERM);
        QVERIFY(relay.waitForExit(2000));
    }

    // A second relay of this machine with the same client id (the settings copied) is refused at
    // its start, and the first stays connected; with an instance name of its own it runs beside.
    void oneClientIdPerMachine()
    {
        Broker broker;
        QVERIFY2(broker.read(), "no broker: run through CTest, whose fixture starts one");
        const QStringList arguments = {u"--request"_qs, u"none"_qs, u"--mqtt"_qs,
                                       QStringLiteral("mqtt://127.0.0.1:%1/twins%2")
                                           .arg(broker.port)
                                           .arg(QCoreApplication::applicationPid())};
        RelayProcess first(arguments);
        QVERIFY(first.waitForError(u"已连接 MQTT 服务器"_qs));
        const auto connectedAs = [](Program &relay) {
            return relay.error().section(u"客户端标识 "_qs, 1, 1).section(u'）', 0, 0);
        };
        const QString id = connectedAs(first);
        QVERIFY2(id.startsWith(u"morvane"_qs), qPrintable(first.error()));

        RelayProcess copy(arguments);
        QVERIFY(copy.waitForExit(5000));
        QCOMPARE(copy.exitCode(), 1);
        QVERIFY2(copy.error().contains(QStringLiteral("已在用 MQTT 客户端标识 %1").arg(id)),
                 qPrintable(copy.error()));
        QVERIFY(copy.error().contains(u"--instance"_qs));

        RelayProcess second(arguments + QStringList{u"--instance"_qs, u"second"_qs});
        QVERIFY(second.waitForError(u"已连接 MQTT 服务器"_qs));
        QVERIFY(connectedAs(second).startsWith(u"morvane"_qs) && connectedAs(second) != id);
        QTest::qWait(1500);
        QCOMPARE(first.error().count(u"已连接"_qs), 1);
        QCOMPARE(second.error().count(u"已连接"_qs), 1);
    }

    void reloadIsWholeOrNotAtAll_data()
    {
        QTest::addColumn<int>("spare");
        QTest::newRow("descriptors for half the ports") << 5;
        QTest::newRow("none left for the request file") << 10;
    }
    // Ten destinations added with file descriptors for `spare` more: the reload is refused, the
    // request file is still read and its command sent, and the settings are read again once
    // there are descriptors for them.
    void reloadIsWholeOrNotAtAll()
    {
        if (Sanitized)
            QSKIP("the sanitizers need file descriptors of their own");
        QFETCH(int, spare);
        QTemporaryDir dir;
        const QString config = dir.filePath(u"relay.conf"_qs);
        const quint16 port = freePort();
        QString line = QStringLiteral("udp=127.0.0.1:%1").arg(port);
        QVERIFY(writeFile(config, line.toUtf8()));
        RelayProcess relay(dir, {u"--config"_qs, config});
        QVERIFY(relay.waitForError(u"已启动"_qs));
        const auto pid = pid_t(relay.processId());
        // A new descriptor takes the lowest free number, and the limit bounds the numbers.
        const QStringList open = QDir(QStringLiteral("/proc/%1/fd").arg(pid))
                                     .entryList(QDir::System | QDir::NoDotAndDotDot);
        rlim_t limit = 0;
        for (int free = 0; free < spare; ++limit)
            free += !open.contains(QString::number(limit));
        rlimit usual;
        QVERIFY(::prlimit(pid, RLIMIT_NOFILE, nullptr, &usual) == 0);
        const rlimit tight{limit, usual.rlim_max};
        QVERIFY(::prlimit(pid, RLIMIT_NOFILE, &tight, nullptr) == 0);
        for (int i = 0; i < 10; ++i)
            line += QStringLiteral(", 127.0.0.1:%1").arg(freePort());
        QVERIFY(writeFile(config, line.toUtf8()));

        relay.signal(SIGHUP);
        QVERIFY(relay.waitForError(u"设置未重新读取，仍按原来的运行："_qs));
        UdpListener listener(port);
        QVERIFY(writeRequest(dir.path(), Bytes::TurnOn));
        QVERIFY(runUntil([&] { return listener.received.size() >= 20; }));
        QVERIFY(::prlimit(pid, RLIMIT_NOFILE, &usual, nullptr) == 0);
        relay.signal(SIGHUP);
        QVERIFY2(relay.waitForError(u"已重新读取设置：加上 UDP"_qs), qPrintable(relay.error()));
    }

    void tellsSystemd_data()
    {
        QTest::addColumn<QByteArray>("watchdogUsec");
        QTest::newRow("no watchdog") << QByteArray();
        QTest::newRow("watchdog of 300 ms") << QByteArray("300000");
    }
    // Ready once the ports are bound, with a line on what is served, and anew while an output
    // fails; reloading then ready around a reload, asked by --reload (which ends only then, and
    // fails when the settings are refused) or by SIGHUP; the watchdog's pings only where asked
    // for, twice a period; stopping on the way out.
    void tellsSystemd()
    {
        QFETCH(QByteArray, watchdogUsec);
        QTemporaryDir dir;
        NotifySocket systemd(dir.filePath(u"notify"_qs));
        QVERIFY(systemd.isBound());
        const quint16 port = freePort(), added = freePort();
        const QString config = dir.filePath(u"relay.conf"_qs);
        const QString device = dir.filePath(u"rfcomm0"_qs);
        PseudoTerminal line;
        QVERIFY(pointLink(device, line.slavePath()));
        const auto settings = [&](const QString &udp) {
            return QStringLiteral("udp=%1\nserial=%2\n").arg(udp, device).toUtf8();
        };
        QVERIFY(writeFile(config, settings(QStringLiteral("127.0.0.1:%1").arg(port))));
        Launch launch{QStringLiteral(RELAY_EXECUTABLE),
                      {u"--request"_qs, dir.filePath(u"api.txt"_qs), u"--config"_qs, config}};
        launch.additions.insert(u"NOTIFY_SOCKET"_qs, dir.filePath(u"notify"_qs));
        if (!watchdogUsec.isEmpty())
            launch.additions.insert(u"WATCHDOG_USEC"_qs, QString::fromLatin1(watchdogUsec));
        Program relay(launch);

        QVERIFY(systemd.waitFor(u"READY=1"_qs));
        QElapsedTimer clock;
        clock.start();
        const int pingsAtReady = systemd.pings();
        QUdpSocket taken;
        QVERIFY(!taken.bind(QHostAddress::AnyIPv4, port, QAbstractSocket::DontShareAddress));
        const QString status =
            QStringLiteral("STATUS=请求文件 %1，每 1 毫秒查看一次；输出 UDP 127.0.0.1:%2（本机端口 "
                           "%2）、串口 %3（9600 波特 8N1）")
                .arg(dir.filePath(u"api.txt"_qs))
                .arg(port)
                .arg(device);
        QCOMPARE(systemd.messages(), (QStringList{status, u"READY=1"_qs}));
        QVERIFY(writeRequest(dir.path(), Bytes::TurnOn));
        QVERIFY(receives(line, Bytes::On, 5));
        QVERIFY(QFile::remove(device));
        QVERIFY(systemd.waitFor(status + QStringLiteral("；发送失败：串口 %1").arg(device)));
        QVERIFY(pointLink(device, line.slavePath()));
        QVERIFY(runUntil([&] { return systemd.messages().last() == status; }));

        const auto reloaded = [&](const QByteArray &written, int exitCode, QStringView answer) {
            const qsizetype before = systemd.messages().size();
            if (!writeFile(config, written))
                return QStringList();
            RelayProcess asker({u"--reload"_qs, QString::number(relay.processId())});
            if (!asker.waitForExit() || asker.exitCode() != exitCode ||
                !asker.error().contains(answer))
                return QStringList{asker.error()};
            return systemd.messages().mid(before);
        };
        QStringList reload = reloaded(
            settings(QStringLiteral("127.0.0.1:%1, 127.0.0.1:%2").arg(port).arg(added)), 0, u"");
        QCOMPARE(reload.size(), 3);
        timespec now = {};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const qint64 ago = now.tv_sec * 1000000 + now.tv_nsec / 1000 -
                           reload[0].sliced(sizeof "RELOADING=1\nMONOTONIC_USEC=" - 1).toLongLong();
        QVERIFY2(reload[0].startsWith(u"RELOADING=1\nMONOTONIC_USEC=") && ago < 30000000,
                 qPrintable(reload[0]));
        QVERIFY(reload[1].contains(QStringLiteral("UDP 127.0.0.1:%1（").arg(added)));
        QCOMPARE(reload[2], u"READY=1"_qs);
        reload = reloaded("udp=127.0.0.1:1\ninterval=1\ninterval=2\n", 1, u"没有接受新的设置");
        QCOMPARE(reload.size(), 2);
        QCOMPARE(reload[1], u"READY=1"_qs);
        QVERIFY(writeFile(config, settings(QStringLiteral("127.0.0.1:%1").arg(added))));
        relay.signal(SIGHUP);
        QVERIFY(runUntil([&] { return systemd.messages().count(u"READY=1"_qs) == 4; }));
        QVERIFY(systemd.messages().at(systemd.messages().size() - 3).startsWith(u"RELOADING=1\n"));

        // Six pings within 1.5 s of ready, none faster than 100 ms apart; or none at all.
        runUntil([&] { return systemd.pings() - pingsAtReady >= 6; }, 1500 - int(clock.elapsed()));
        const QString pings =
            QStringLiteral("%1 in %2 ms").arg(systemd.pings() - pingsAtReady).arg(clock.elapsed());
        if (watchdogUsec.isEmpty())
            QVERIFY2(systemd.pings() == 0, qPrintable(pings));
        else
            QVERIFY2(systemd.pings() - pingsAtReady >= 6 && clock.elapsed() >= 600,
                     qPrintable(pings));
        relay.signal(SIGTERM);
        QVERIFY(relay.waitForExit());
        QCOMPARE(systemd.messages().last(), u"STOPPING=1"_qs);
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

    // Standard error closed by whatever read it: the next line of the log is lost, the relay goes
    // on serving and still ends cleanly.
    void goesOnWithoutStandardError()
    {
        QTemporaryDir dir;
        const quint16 port = freePort();
        int pipe[2];
        QVERIFY(::pipe2(pipe, O_CLOEXEC) == 0);
        QProcess relay;
        relay.setChildProcessModifier([&] { ::dup2(pipe[1], STDERR_FILENO); });
        Launch{QStringLiteral(RELAY_EXECUTABLE),
               {u"--request"_qs, dir.filePath(u"api.txt"_qs), u"--udp"_qs,
                QStringLiteral("127.0.0.1:%1").arg(port)}}
            .start(relay);
        ::close(pipe[1]);
        QByteArray started;
        char buffer[512];
        ssize_t count = 0;
        while (!started.contains("已启动") && (count = ::read(pipe[0], buffer, sizeof buffer)) > 0)
            started.append(buffer, count);
        ::close(pipe[0]);
        QVERIFY(started.contains("已启动"));

        UdpListener listener(port);
        QVERIFY(writeRequest(dir.path(), Bytes::TurnOn));
        QVERIFY(runUntil([&] { return listener.received.size() >= 20; }));
        QVERIFY(writeRequest(dir.path(), Bytes::TurnOff));
        QVERIFY(runUntil([&] { return listener.received.last().data() == Bytes::Off; }));
        QCOMPARE(relay.state(), QProcess::Running);
        ::kill(pid_t(relay.processId()), SIGTERM);
        QVERIFY(relay.waitForFinished(Program::Patience));
        QCOMPARE(relay.exitStatus(), QProcess::NormalExit);
        QCOMPARE(relay.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_RelayProcess)
#include "tst_relayprocess.moc"
