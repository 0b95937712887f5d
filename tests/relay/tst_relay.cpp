#include "broker.h"
#include "relay.h"
#include "relaychanges.h"
#include "serialtransport.h"
#include "support.h"
#include "udplistener.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QTest>

namespace {
// The relay as its command line makes it, in this process, its log kept for the test.
struct RelayUnderTest {
    explicit RelayUnderTest(const QStringList &arguments)
        : arguments(QStringList{u"morvane-relay"_qs} + arguments)
        , commandLine(readCommandLine(this->arguments, {}))
        , log(false, [this](const QString &line, bool) { lines << line; })
    {
        if (commandLine.options)
            relay.emplace(*commandLine.options, log);
    }

    QStringList arguments;
    CommandLine commandLine;
    QStringList lines;
    RelayLog log;
    std::optional<Relay> relay;
};

QString summary(const RelayOptions &options)
{
    QStringList udp;
    for (const UdpDestination &destination : options.udp)
        udp << QStringLiteral("%1:%2").arg(destination.host).arg(destination.port);
    const bool gbk = options.mqtt && options.mqtt->encoding == MqttSettings::Encoding::Gbk;
    const QString password = options.mqtt && !options.mqtt->password.isEmpty()
                                 ? QStringLiteral("; password «%1»").arg(options.mqtt->password)
                                 : QString();
    return QStringLiteral("udp %1; serial %2 at %3; every %4 ms%5%6%7")
        .arg(udp.join(u' '), options.serialDevices.join(u' '))
        .arg(options.baudRate)
        .arg(options.interval)
        .arg(options.quiet ? u"; quiet" : u"", gbk ? u"; in GBK" : u"", password);
}
} // namespace

class tst_Relay : public QObject {
    Q_OBJECT

private slots:
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QString>("outcome");

        const QByteArray none;
        QTest::newRow("no output") << QStringList{} << none << u"2 没有输出"_qs;
        QTest::newRow("no port") << QStringList{"--udp", "abc"} << none
                                 << u"2 --udp“abc”无效：应为 主机:端口"_qs;
        QTest::newRow("port 0") << QStringList{"--udp", "a:0"} << none << u"2 --udp“a:0”无效"_qs;
        QTest::newRow("IPv6") << QStringList{"--udp", "[::1]:5"} << none << u"2 只能发往 IPv4"_qs;
        QTest::newRow("not a host") << QStringList{"--udp", "a b:5"} << none << u"2 不是 IPv4"_qs;
        QTest::newRow("twice the same")
            << QStringList{"--udp", "h:5", "--udp", "h:5"} << none << u"2 已经给过了"_qs;
        QTest::newRow("interval 0")
            << QStringList{"--udp", "h:5", "--interval", "0"} << none << u"2 --interval“0”无效"_qs;
        QTest::newRow("interval 60001") << QStringList{"--udp", "h:5", "--interval", "60001"}
                                        << none << u"2 1 到 60000 之间的毫秒数"_qs;
        QTest::newRow("baud without serial") << QStringList{"--udp", "h:5", "--baud", "9600"}
                                             << none << u"2 --baud 只能与 --serial 同用"_qs;
        QTest::newRow("baud not a number")
            << QStringList{"--serial", "d", "--baud", "快"} << none << u"2 --baud“快”无效"_qs;
        QTest::newRow("two lines")
            << QStringList{"--serial", "a", "--serial", "b"} << none << u"2 --serial 只能给一次"_qs;
        QTest::newRow("unknown option")
            << QStringList{"--tcp", "1"} << none << u"2 未知选项：--tcp"_qs;
        QTest::newRow("missing value") << QStringList{"--udp"} << none << u"2 选项 --udp 缺少值"_qs;
        QTest::newRow("reload of no process")
            << QStringList{"--reload", "abc"} << none << u"2 --reload“abc”无效：应为 1 到"_qs;
        QTest::newRow("stray argument")
            << QStringList{"--udp", "h:5", "x"} << none << u"2 多余的参数：x"_qs;
        QTest::newRow("no request file and no broker")
            << QStringList{"--udp", "h:5", "--request", "none"} << none
            << u"2 --request none 只能与 --mqtt 同用：否则没有请求可转发"_qs;
        QTest::newRow("request in no directory")
            << QStringList{"--udp", "h:5", "--request", "/no/such/api.txt"} << none
            << u"2 所在的目录不存在"_qs;
        QTest::newRow("config missing") << QStringList{"--config", "/no/such.conf"} << none
                                        << u"2 配置文件“/no/such.conf”不存在"_qs;
        QTest::newRow("config unknown key")
            << QStringList{} << QByteArray("udp=h:5\nport=8\n") << u"2 不认识的设置“port”"_qs;
        QTest::newRow("config section") << QStringList{} << QByteArray("[relay]\nudp=h:5\n")
                                        << u"2 设置须写在任何 [节] 之前"_qs;
        QTest::newRow("config bad value") << QStringList{} << QByteArray("udp=h:5\ninterval=x\n")
                                          << u"2 中的 interval=“x”无效"_qs;
        QTest::newRow("config bad quiet")
            << QStringList{} << QByteArray("udp=h:5\nquiet=maybe\n") << u"2 quiet=“maybe”无效"_qs;
        // A prefix every topic can be made from, and one that cannot forge a line.
        const auto prefixed = [](const QString &prefix) {
            return QStringList{u"--mqtt"_qs, u"mqtt://hub/"_qs + prefix};
        };
        QTest::newRow("prefix $SYS") << prefixed(u"$SYS/x"_qs) << none << u"2 不能以 $ 开头"_qs;
        QTest::newRow("prefix wildcard +") << prefixed(u"a/+/b"_qs) << none << u"2 通配符"_qs;
        QTest::newRow("prefix wildcard #")
            << prefixed(u"a/#"_qs) << none << u"2 MQTT 地址“mqtt://hub/a/#”无效"_qs;
        QTest::newRow("prefix encoded +") << prefixed(u"a%2Bb"_qs) << none << u"2 通配符"_qs;
        QTest::newRow("prefix empty level") << prefixed(u"a//b"_qs) << none << u"2 空的层级"_qs;
        QTest::newRow("prefix line end") << prefixed(u"a\nb"_qs) << none << u"2 控制字符"_qs;
        QTest::newRow("prefix encoded line end")
            << prefixed(u"a%0A2026-01-01 forged"_qs) << none << u"2 控制字符"_qs;
        QTest::newRow("prefix in a config file")
            << QStringList{} << QByteArray("mqtt=mqtt://hub/a%0Db\n") << u"2 控制字符"_qs;
        QTest::newRow("prefix of 70,000 letters")
            << prefixed(QString(70000, u'a')) << none << u"2 70000 字节，最多 65519 字节"_qs;
        QTest::newRow("prefix of 21,840 Chinese characters")
            << prefixed(QString(21840, u'家')) << none << u"2 65520 字节"_qs;

        QTest::newRow("discovery prefix $SYS")
            << QStringList{"--mqtt", "mqtt://hub", "--mqtt-discovery", "$SYS"} << none
            << u"2 --mqtt-discovery“$SYS”无效：主题前缀不能以 $ 开头"_qs;
        QTest::newRow("discovery prefix with an escape")
            << QStringList{} << QByteArray("mqtt=mqtt://hub\nmqtt_discovery=home\x1b[2Jassistant\n")
            << u"2 控制字符"_qs;
        QTest::newRow("discovery reordering the line")
            << QStringList{"--mqtt", "mqtt://hub", "--mqtt-discovery", "home\u202eassistant"}
            << none << u"2 双向文字控制符"_qs;
        QTest::newRow("discovery without mqtt")
            << QStringList{"--udp", "h:5", "--mqtt-discovery", "homeassistant"} << none
            << u"2 --mqtt-discovery 只能与 --mqtt 同用"_qs;
        QTest::newRow("keepalive under 5")
            << QStringList{"--mqtt", "mqtt://hub", "--mqtt-keepalive", "4"} << none
            << u"2 --mqtt-keepalive“4”无效：应为 5 到 600 之间的秒数"_qs;
        QTest::newRow("keepalive without mqtt")
            << QStringList{"--udp", "h:5", "--mqtt-keepalive", "9"} << none
            << u"2 --mqtt-keepalive 只能与 --mqtt 同用"_qs;

        QTest::newRow("instance with a space") << QStringList{"--udp", "h:5", "--instance", "a b"}
                                               << none << u"2 --instance“a b”无效"_qs;
        QTest::newRow("instance of 33 letters")
            << QStringList{"--udp", "h:5", "--instance", QString(33, u'a')} << none
            << u"2 1 到 32 个字母、数字、- 或 _"_qs;
        QTest::newRow("client id of 24 letters")
            << QStringList{"--mqtt", "mqtt://h", "--mqtt-client-id", QString(24, u'a')} << none
            << u"2 1 到 23 个字母或数字"_qs;
        QTest::newRow("client id with a dash")
            << QStringList{} << QByteArray("mqtt=mqtt://h\nmqtt_client_id=a-b\n")
            << u"2 mqtt_client_id=“a-b”无效"_qs;
        const QStringList broker = {"--mqtt", "mqtt://h"};
        QTest::newRow("password in a file")
            << broker + QStringList{"--mqtt-password-file", "PASSWORD"} << none
            << u"0 udp ; serial  at 9600; every 1 ms; password «s3cret;x, \"y\" \\z =#w »"_qs;
        QTest::newRow("password in the settings, as written")
            << QStringList{} << QByteArray("mqtt=mqtt://h\nmqtt_password = s3cret;x, y\n")
            << u"0 udp ; serial  at 9600; every 1 ms; password «s3cret;x, y»"_qs;
        QTest::newRow("password twice")
            << QStringList{"--mqtt-password-file", "PASSWORD"}
            << QByteArray("mqtt=mqtt://h\nmqtt_password=p\n")
            << u"2 中的 mqtt_password 与 --mqtt-password-file 只能给一个"_qs;
        QTest::newRow("password file missing")
            << broker + QStringList{"--mqtt-password-file", "/no/such"} << none
            << u"2 --mqtt-password-file“/no/such”无效：文件不存在或无法读取"_qs;
        QTest::newRow("password file without a broker")
            << QStringList{"--udp", "h:5", "--mqtt-password-file", "PASSWORD"} << none
            << u"2 --mqtt-password-file 只能与 --mqtt 同用"_qs;

        QTest::newRow("both outputs")
            << QStringList{"--serial", "auto", "--baud", "115200", "--udp", "１２７.0.0.1:８８"}
            << none
            << u"0 udp 127.0.0.1:88; serial %1 at 115200; every 1 ms"_qs.arg(
                   SerialTransport::defaultDevices().join(u' '));
        QTest::newRow("config, the command line replacing a key")
            << QStringList{"--interval", "7", "--quiet", "--mqtt-encoding", "GBK"}
            << QByteArray("; the outputs\n# two\nudp = a:1, b:2\n#quiet=no\n  # an old one\n"
                          "interval=5\nserial=/dev/x\nmqtt=mqtt://h\n")
            << u"0 udp a:1 b:2; serial /dev/x at 9600; every 7 ms; quiet; in GBK"_qs;

        // The Windows service's commands take nothing but install's settings file.
        QTest::newRow("service install")
            << QStringList{"--service", "install"} << none << u"0 service install "_qs;
        QTest::newRow("service install, its settings")
            << QStringList{"--service", "install"} << QByteArray("udp=h:5\n")
            << u"0 service install relay.conf"_qs;
        QTest::newRow("service run") << QStringList{"--service", "run", "--udp", "h:5"} << none
                                     << u"0 udp h:5; serial  at 9600; every 1 ms"_qs;
        QTest::newRow("service unknown") << QStringList{"--service", "start"} << none
                                         << u"2 --service“start”无效：应为 install、remove"_qs;
        QTest::newRow("service with an output")
            << QStringList{"--service", "remove", "--udp", "h:5"} << none
            << u"2 --udp 不能与 --service remove 同用"_qs;
        QTest::newRow("service reload, settings")
            << QStringList{"--service", "reload"} << QByteArray("udp=h:5\n")
            << u"2 --config 不能与 --service reload 同用"_qs;
    }
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, config);
        QFETCH(QString, outcome);
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath(u"password"_qs), "s3cret;x, \"y\" \\z =#w \r\nnot this\n"));
        arguments.replaceInStrings(u"PASSWORD"_qs, dir.filePath(u"password"_qs));
        if (!config.isEmpty()) {
            QVERIFY(writeFile(dir.filePath(u"relay.conf"_qs), config));
            arguments << u"--config"_qs << dir.filePath(u"relay.conf"_qs);
        }
        const CommandLine line = readCommandLine(QStringList{u"morvane-relay"_qs} + arguments, {});
        const QString service =
            u"service "_qs + line.service + u' ' + QFileInfo(line.settingsFile).fileName();
        const QString got = QString::number(line.exitCode) + u' ' +
                            (line.options             ? summary(*line.options)
                             : line.service.isEmpty() ? line.text
                                                      : service);
        QVERIFY2(got.startsWith(outcome) || (outcome.startsWith(u'2') && got.startsWith(u'2') &&
                                             got.contains(outcome.sliced(2))),
                 qPrintable(got));
        QVERIFY(!line.text.contains(u'\n') && !line.text.contains(u'\r'));
        QVERIFY2(line.text.size() < 400, qPrintable(line.text.left(400)));
    }

    void clientIdOutlivesTheOutputs_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<bool>("same");
        const QStringList broker = {"--mqtt", "mqtt://h/p", "--udp", "a:1"};
        QTest::newRow("outputs added")
            << broker << broker + QStringList{"--udp", "b:2", "--serial", "/dev/x"} << true;
        QTest::newRow("request file moved")
            << broker << broker + QStringList{"--request", "/tmp/api.txt"} << true;
        QTest::newRow("an instance")
            << broker << broker + QStringList{"--instance", "kitchen"} << false;
        QTest::newRow("another prefix") << broker << QStringList{"--mqtt", "mqtt://h/q"} << false;
        QTest::newRow("given, on another prefix")
            << broker + QStringList{"--mqtt-client-id", "morvane0123"}
            << QStringList{"--mqtt", "mqtt://k/q", "--mqtt-client-id", "morvane0123"} << true;
    }
    // Made from the machine, the prefix and the instance, or given: what the hub knows the
    // relay by stays when its outputs change.
    void clientIdOutlivesTheOutputs()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        QFETCH(bool, same);
        const auto id = [](const QStringList &arguments) {
            return readCommandLine(QStringList{u"morvane-relay"_qs} + arguments, u"/srv/api.txt"_qs)
                .options->mqtt->clientId();
        };
        QCOMPARE(id(before) == id(after), same);
        QVERIFY(id(after).size() <= 23);
    }

    // A flood of requests: five told one by one, then one line for the rest of the second, while
    // a failure among them is told at once; the next second starts afresh.
    void floodOfRequestsIsSummarised()
    {
        RelayUnderTest under(
            {u"--mqtt"_qs, u"mqtt://127.0.0.1:9/t"_qs, u"--request"_qs, u"none"_qs});
        QVERIFY(under.relay);
        for (int i = 0; i < 100; ++i)
            under.relay->requestArrived(i % 2 ? "打开空调" : "关闭电视");
        under.relay->requestArrived("你好");
        QCOMPARE(under.lines.size(), 6);
        QCOMPARE(under.lines[4], u"收到 MQTT 上的请求“关闭电视”，命令“电视=关闭”"_qs);
        QVERIFY(under.lines[5].startsWith(u"MQTT 上的请求“你好”中没有"));
        QVERIFY(runUntil([&] { return under.lines.size() == 7; }, 2000));
        QCOMPARE(under.lines[6], u"1 秒内另有 95 个请求（第一个“打开空调”，最后一个“打开空调”），"
                                 u"命令：电视=关闭 47 次、空调=启动 48 次"_qs);
        under.relay->requestArrived("打开电视");
        QCOMPARE(under.lines.size(), 8);
        QTest::qWait(2200);
        QCOMPARE(under.lines.size(), 8);
    }

    // With the broker as its only output, a command published is taken: the state follows.
    void brokerAloneTakesTheCommand()
    {
        Broker broker;
        QVERIFY2(broker.read(), "no broker: run through CTest, whose fixture starts one");
        const QString prefix = QStringLiteral("alone%1").arg(QCoreApplication::applicationPid());
        const QByteArray state = (prefix + u"/state/空调"_qs).toUtf8();
        Far far(broker.port, {state});
        QVERIFY(far.subscribed());
        RelayUnderTest under(
            {u"--request"_qs, u"none"_qs, u"--mqtt"_qs,
             QStringLiteral("mqtt://127.0.0.1:%1/%2").arg(broker.port).arg(prefix)});
        QVERIFY(under.relay && under.relay->start());
        QVERIFY(runUntil([&] { return !under.lines.filter(u"已连接 MQTT"_qs).isEmpty(); }, 10000));
        under.relay->requestArrived("打开空调");
        QVERIFY(runUntil([&] { return !far.on(state).isEmpty(); }, 2000));
        QCOMPARE(far.on(state).last().payload, QByteArray("启动"));
    }

    // A toggle that no output takes: the command still goes out on the broker's command topic, the
    // appliance's state stays as it was, and the diagnostics say why, at once for the hub and in
    // the health message within a few seconds.
    void toggleNoOutputTakesLeavesTheState()
    {
        Broker broker;
        QVERIFY2(broker.read(), "no broker: run through CTest, whose fixture starts one");
        const QString prefix = QStringLiteral("untaken%1").arg(QCoreApplication::applicationPid());
        const auto topic = [&](const QString &leaf) {
            return (prefix + u'/' + leaf).toUtf8();
        };
        Far far(broker.port,
                {topic(u"command"_qs), topic(u"state/#"_qs), topic(u"output/serial"_qs),
                 topic(u"activity"_qs), topic(u"health"_qs)});
        QVERIFY(far.subscribed());
        RelayUnderTest under(
            {u"--request"_qs, u"none"_qs, u"--serial"_qs, u"/no/such/tty"_qs, u"--mqtt"_qs,
             QStringLiteral("mqtt://127.0.0.1:%1/%2").arg(broker.port).arg(prefix)});
        QVERIFY(under.relay && under.relay->start());
        QVERIFY(runUntil([&] { return !under.lines.filter(u"已连接 MQTT"_qs).isEmpty(); }, 10000));
        under.relay->requestArrived("打开空调");
        const auto last = [&](const QString &leaf) {
            const QList<Message> messages = far.on(topic(leaf));
            return QJsonDocument::fromJson(messages.value(messages.size() - 1).payload).object();
        };
        QVERIFY(runUntil(
            [&] { return last(u"activity"_qs).value(u"last_request"_qs) == u"打开空调"_qs; },
            2000));
        QVERIFY(runUntil(
            [&] { return last(u"health"_qs).value(u"last_request"_qs) == u"打开空调"_qs; }, 7000));
        QCOMPARE(far.on(topic(u"command"_qs)).size(), 1);
        QVERIFY(far.on(topic(u"state/空调"_qs)).isEmpty());
        QCOMPARE(far.on(topic(u"output/serial"_qs)).last().payload, QByteArray("OFF"));
        QCOMPARE(last(u"activity"_qs).value(u"commands"_qs).toInt(-1), 0);
        QCOMPARE(last(u"activity"_qs).value(u"last_command"_qs), u""_qs);
        const QJsonObject health = last(u"health"_qs);
        const QJsonObject serial = health.value(u"outputs"_qs).toArray().first().toObject();
        QCOMPARE(serial.value(u"key"_qs), u"serial"_qs);
        QCOMPARE(serial.value(u"connected"_qs), false);
        QCOMPARE(serial.value(u"sends"_qs).toInt(-1), 0);
        QCOMPARE(serial.value(u"failures"_qs).toInt(-1), 1);
        QVERIFY(!serial.value(u"last_failure"_qs).toString().isEmpty());
        QVERIFY(health.value(u"resident_bytes"_qs).toDouble() > 0);
        QVERIFY(
            QDateTime::fromString(health.value(u"started"_qs).toString(), Qt::ISODate).isValid());
        // Published on change only: nothing more while nothing happens.
        const qsizetype published = far.messages.size();
        QTest::qWait(1500);
        QCOMPARE(far.messages.size(), published);
    }

    // A request that would forge a line of the log with a line end of its own: its control
    // characters written out, one line.
    void requestCannotForgeALogLine()
    {
        RelayUnderTest under(
            {u"--mqtt"_qs, u"mqtt://127.0.0.1:9/t"_qs, u"--request"_qs, u"none"_qs});
        QVERIFY(under.relay);
        under.relay->requestArrived(
            QStringLiteral("\"你好\r\n2026-12-09 00:00:00.000  已停止\u2028\x1b[2J\u202e\"")
                .toUtf8());
        QCOMPARE(under.lines.size(), 1);
        QVERIFY2(under.lines[0].contains(
                     u"“你好\\r\\n2026-12-09 00:00:00.000  已停止\\u2028\\x1b[2J\\u202e”"_qs),
                 qPrintable(under.lines[0]));
    }

    void warnsOfAPasswordOthersCanRead_data()
    {
        QTest::addColumn<QString>("holder");
        QTest::addColumn<int>("permissions");
        QTest::addColumn<bool>("warned");
        const int others = int(QFile::ReadOther);
        const int owner = int(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        QTest::newRow("settings file, others read") << u"relay.conf"_qs << owner + others << true;
        QTest::newRow("settings file, private") << u"relay.conf"_qs << owner << false;
        QTest::newRow("password file, others read") << u"password"_qs << owner + others << true;
        QTest::newRow("password file, private") << u"password"_qs << owner << false;
    }
    // Said at the start and at every reload, and the relay goes on.
    void warnsOfAPasswordOthersCanRead()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows keeps a file's readers in its access list, which setPermissions leaves");
#endif
        QFETCH(QString, holder);
        QFETCH(int, permissions);
        QFETCH(bool, warned);
        QTemporaryDir dir;
        const QString config = dir.filePath(u"relay.conf"_qs);
        const QString password = dir.filePath(u"password"_qs);
        const bool inFile = holder == u"password";
        const int others = int(QFile::ReadOther);
        QVERIFY(writeFile(config, inFile ? QByteArray("mqtt_password_file=") + password.toUtf8()
                                         : QByteArray("mqtt_password=p")));
        QVERIFY(writeFile(password, "p\n"));
        QVERIFY(QFile::setPermissions(inFile ? password : config, QFile::Permissions(permissions)));
        RelayUnderTest relay({u"--config"_qs, config, u"--request"_qs, u"none"_qs, u"--mqtt"_qs,
                              u"mqtt://127.0.0.1:1"_qs});
        QVERIFY(relay.relay && relay.relay->start());
        const QString warning = QStringLiteral("MQTT 密码所在的文件 %1 其他用户也能读取")
                                    .arg(inFile ? password : config);
        QCOMPARE(relay.lines.filter(u"其他用户也能读取"_qs).size(), int(warned));
        QCOMPARE(relay.lines.filter(warning).size(), int(warned));

        // Made readable, or private, before a reload: told then, or not.
        QVERIFY(QFile::setPermissions(inFile ? password : config,
                                      QFile::Permissions(permissions ^ others)));
        QVERIFY(relay.relay->reload(*rereadCommandLine(relay.arguments, {})));
        QCOMPARE(relay.lines.filter(warning).size(), 1);
    }

    void reloadTellsWhatChanged_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<QString>("changes");
        const QStringList udp = {"--udp", "a:1", "--udp", "b:2"};
        QTest::newRow("nothing") << udp << QStringList{"--udp", "b:2", "--udp", "a:1"} << QString();
        QTest::newRow("a destination for another")
            << udp << QStringList{"--udp", "b:2", "--udp", "c:1", "--interval", "5"}
            << u"每 5 毫秒查看一次；去掉 UDP a:1（本机端口 1）；加上 UDP c:1（本机端口 1）"_qs;
        QTest::newRow("the serial line's baud rate")
            << QStringList{"--serial", "/dev/x"}
            << QStringList{"--serial", "/dev/x", "--baud", "300"}
            << u"串口 /dev/x（9600 波特 8N1） 改为 串口 /dev/x（300 波特 8N1）"_qs;
        QTest::newRow("a broker added, quiet")
            << udp << udp + QStringList{"--mqtt", "mqtt://h/p", "--quiet"}
            << u"加上 MQTT mqtt://h:1883（主题前缀 p）；只记录失败"_qs;
        QTest::newRow("the broker's encoding")
            << QStringList{"--mqtt", "mqtt://h"}
            << QStringList{"--mqtt", "mqtt://h", "--mqtt-encoding", "gbk"}
            << u"MQTT 的编码改了，重新连接"_qs;
        QTest::newRow("the hub and the keepalive")
            << QStringList{"--mqtt", "mqtt://h", "--mqtt-discovery", "homeassistant"}
            << QStringList{"--mqtt", "mqtt://h", "--mqtt-keepalive", "60"}
            << u"MQTT 的保活时间、发现前缀改了，重新连接"_qs;
        QTest::newRow("the instance") << QStringList{"--mqtt", "mqtt://h"}
                                      << QStringList{"--mqtt", "mqtt://h", "--instance", "b"}
                                      << u"MQTT 的客户端标识改了，重新连接"_qs;
        QTest::newRow("the broker and the request file gone")
            << QStringList{"--mqtt", "mqtt://h", "--udp", "a:1", "--request", "/tmp/api.txt"}
            << QStringList{"--udp", "a:1"}
            << u"请求文件改为 /srv/api.txt；去掉 MQTT mqtt://h:1883（主题前缀 morvane）"_qs;
    }
    void reloadTellsWhatChanged()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        QFETCH(QString, changes);
        // The default is made absolute as a given file is: on Windows, on the current drive.
        const QString requestFile = QFileInfo(u"/srv/api.txt"_qs).absoluteFilePath();
        changes.replace(u"/srv/api.txt"_qs, requestFile);
        const auto options = [&](const QStringList &arguments) {
            return *readCommandLine(QStringList{u"morvane-relay"_qs} + arguments, requestFile)
                        .options;
        };
        QCOMPARE(::changes(options(before), options(after)).join(u"；"_qs), changes);
    }

    // Every tick's command goes to each destination, two of them sharing port P; the log tells
    // each event once, and its closing books match what arrived.
    void servesEveryOutputAndTellsEachEvent()
    {
        QTemporaryDir dir;
        const quint16 port = freePort();
        const QString first = QStringLiteral("127.0.0.1:%1").arg(port);
        const QString second = QStringLiteral("127.0.0.2:%1").arg(port);
        RelayUnderTest relay({u"--request"_qs, dir.filePath(u"api.txt"_qs), u"--udp"_qs, first,
                              u"--udp"_qs, second});
        QVERIFY(relay.relay && relay.relay->start());
        UdpListener near(port), far(port, QHostAddress(u"127.0.0.2"_qs));
        QVERIFY(near.isBound() && far.isBound());

        QVERIFY(writeRequest(dir.path(), Bytes::TurnOn));
        QVERIFY(runUntil([&] { return near.received.size() >= 5 && far.received.size() >= 5; }));
        QVERIFY(writeRequest(dir.path(), Bytes::TurnOff));
        QVERIFY(runUntil([&] {
            return near.received.last().data() == Bytes::Off &&
                   far.received.last().data() == Bytes::Off;
        }));
        QVERIFY(removeRequest(dir.path()));
        QVERIFY(runUntil([&] { return relay.lines.size() >= 4; }));
        QVERIFY(near.catchUp() && far.catchUp());

        QCOMPARE(relay.lines.size(), 4);
        QVERIFY(relay.lines[0].startsWith(u"已启动：请求文件 "_qs + dir.filePath(u"api.txt"_qs)));
        QCOMPARE(relay.lines[1], u"收到请求“打开空调”，命令“空调=启动”"_qs);
        QCOMPARE(relay.lines[2], u"命令改为“空调=关闭”（请求“关闭空调”）"_qs);
        for (const UdpListener *listener : {&near, &far}) {
            const QList<QNetworkDatagram> &received = listener->received;
            const qsizetype on = std::count_if(received.begin(), received.end(),
                                               [](const auto &d) { return d.data() == Bytes::On; });
            QVERIFY(on >= 5);
            for (qsizetype i = 0; i < received.size(); ++i) {
                QCOMPARE(received[i].data(), i < on ? Bytes::On : Bytes::Off);
                QCOMPARE(received[i].senderPort(), int(port));
            }
            const QString destination = listener == &near ? first : second;
            QVERIFY2(relay.lines[3].contains(
                         QStringLiteral("UDP %1 发送 %2 次").arg(destination).arg(received.size())),
                     qPrintable(relay.lines[3]));
        }
    }
};

QTEST_GUILESS_MAIN(tst_Relay)
#include "tst_relay.moc"
