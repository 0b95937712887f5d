#include "relayoptions.h"

#include "mqttlink.h"
#include "optiontable.h"
#include "regularfile.h"
#include "secretfile.h"
#include "serialtransport.h"
#include "udptransport.h"

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <QUrl>
#include <limits>

namespace {
const char About[] =
    R"(无人值守地转发请求：每毫秒查看一次请求文件，把其中的请求（如「打开空调」）变成命令
（如「空调=启动」），发给每一个输出，直到请求文件被移走。每个事件在标准错误上记一行。
Forwards the request in the request file to every output, unattended, on every tick.)";

const char Notes[] =
    R"(至少要给一个输出（--udp、--serial 或 --mqtt）。有 --mqtt 时，--request none 可以不读请求文件，
只接收 MQTT 主题 <前缀>/request 上的请求。
At least one output is required; with --mqtt, --request none reads no request file.

SIGHUP 或 --reload（systemctl reload morvane-relay）让它重新读取配置文件，未改动的输出照常工作；
Windows 服务用 morvane-relay --service reload。
SIGHUP or --reload (on Windows: --service reload) reads the config file again, keeping what did not
change.

例如 Examples:
  morvane-relay --udp 127.0.0.1:8888
  morvane-relay --serial auto --udp 192.168.1.20:8888
  morvane-relay --config /etc/morvane/relay.conf)";

Result<QString> requestFile(const QString &text)
{
    if (text == u"none")
        return QString();
    if (text.isEmpty())
        return Failure(QStringLiteral("没有给出文件"));
    const QFileInfo file(QDir::current(), text);
    if (file.isDir())
        return Failure(QStringLiteral("这是一个目录，请给出其中请求文件的名字"));
    if (!file.absoluteDir().exists())
        return Failure(QStringLiteral("所在的目录不存在"));
    return file.absoluteFilePath();
}

Result<UdpDestination> udpDestination(const QString &text)
{
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon < 0)
        return Failure(QStringLiteral("应为 主机:端口，例如 127.0.0.1:8888"));
    const QString host = UdpTransport::hostFrom(text.first(colon));
    const std::optional<quint16> port = UdpTransport::portFrom(text.sliced(colon + 1));
    if (!port)
        return Failure(QStringLiteral("端口应为 1 到 65535 之间的整数"));
    if (host.isEmpty())
        return Failure(QStringLiteral("缺少主机，例如 127.0.0.1:8888"));
    if (host.contains(u':') || host.startsWith(u'['))
        return Failure(QStringLiteral("只能发往 IPv4 地址或主机名"));
    static const QRegularExpression name(
        QStringLiteral(R"(^[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9.])?$)"));
    const QString ascii = QString::fromLatin1(QUrl::toAce(host));
    if (!QHostAddress(host).isNull()
            ? QHostAddress(host).protocol() != QAbstractSocket::IPv4Protocol
            : !name.match(ascii).hasMatch())
        return Failure(QStringLiteral("不是 IPv4 地址，也不是主机名"));
    return UdpDestination{host, *port};
}

Result<QStringList> serialDevices(const QString &text)
{
    if (text.isEmpty())
        return Failure(QStringLiteral("没有给出串口设备"));
    return text == u"auto" ? SerialTransport::defaultDevices() : QStringList{text};
}

Result<QString> readableFile(const QString &text)
{
    QFile file;
    if (const Result<void> opened = openRegularFile(file, text); !opened)
        return Failure(QStringLiteral("文件") + opened.error());
    return text;
}

Result<QString> serviceAction(const QString &text)
{
    if (text != u"install" && text != u"remove" && text != u"reload" && text != u"run")
        return Failure(QStringLiteral("应为 install、remove、reload 或 run"));
    return text;
}

Result<QString> instanceName(const QString &text)
{
    static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9_-]{1,32}$"));
    if (!name.match(text).hasMatch())
        return Failure(QStringLiteral("应为 1 到 32 个字母、数字、- 或 _"));
    return text;
}

Result<QByteArray> clientId(const QString &text)
{
    if (!MqttSettings::isClientId(text))
        return Failure(QStringLiteral("应为 1 到 23 个字母或数字"));
    return text.toLatin1();
}

Result<MqttSettings::Encoding> encoding(const QString &text)
{
    if (text.compare(u"gbk", Qt::CaseInsensitive) == 0)
        return MqttSettings::Encoding::Gbk;
    if (text.compare(u"utf8", Qt::CaseInsensitive) == 0 ||
        text.compare(u"utf-8", Qt::CaseInsensitive) == 0)
        return MqttSettings::Encoding::Utf8;
    return Failure(QStringLiteral("应为 utf8 或 gbk"));
}

// What only the options together say: at least one output.
Result<RelayOptions> finished(RelayOptions options)
{
    if (options.udp.isEmpty() && options.serialDevices.isEmpty() && !options.mqtt)
        return Failure(QStringLiteral(
            "没有输出：请用 --udp 主机:端口、--serial 设备 或 --mqtt 地址 给出至少一个"));
    return options;
}

// A text to print and end with.
CommandLine answer(const QString &text, ExitStatus exitCode)
{
    CommandLine commandLine;
    commandLine.text = text;
    commandLine.exitCode = exitCode;
    return commandLine;
}

CommandLine misused(const QString &why)
{
    return answer(misuse(why), Misused);
}

// --service and its settings file: nothing else typed means anything to it.
CommandLine serviceCommand(const OptionValues &given)
{
    const Given service = given.all(u"service"_qs).first();
    for (const QString &name : given.names()) {
        const Given first = given.all(name).first();
        if (name == u"service" || !first.where.startsWith(u'-'))
            continue;
        if (name != u"config" || service.text != u"install")
            return misused(
                QStringLiteral("%1 不能与 %2 同用").arg(first.option(), service.typed()));
    }
    CommandLine commandLine;
    commandLine.service = service.text;
    if (given.has(u"config"_qs))
        commandLine.settingsFile =
            QFileInfo(given.all(u"config"_qs).first().text).absoluteFilePath();
    return commandLine;
}
} // namespace

OptionTable<RelayOptions> relayOptionTable(const QString &defaultRequestFile)
{
    using Row = Option<RelayOptions>;
    const QString mqtt = MqttSettings::hasTls() ? QStringLiteral("mqtts:// 经 TLS（默认端口 8883）")
                                                : QStringLiteral("本版本不支持 TLS（mqtts://）");
    return OptionTable<RelayOptions>(
        QStringLiteral("morvane-relay"), QString::fromUtf8(About), QString::fromUtf8(Notes),
        {Row(u"request"_qs, u"文件"_qs, u"FILE"_qs)
             .help(u"请求文件（GBK）；有 --mqtt 时，none 表示不读请求文件"_qs,
                   u"the request file (GBK); none, with --mqtt, reads no request file"_qs)
             .byDefault(defaultRequestFile)
             .to(&RelayOptions::requestFile, requestFile)
             .inFile()
             .needs(u"mqtt"_qs, u"none"_qs, u"否则没有请求可转发"_qs),
         Row(u"udp"_qs, u"主机:端口"_qs, u"HOST:PORT"_qs)
             .help(u"每次一个 UDP 数据报，从本机的这个端口发往主机的同一端口；可给多次"_qs,
                   u"one datagram per tick from local port PORT to HOST:PORT; may be repeated"_qs)
             .example(u"192.168.1.20:8888, 192.168.1.21:8888"_qs)
             .to(
                 [](RelayOptions &options, UdpDestination udp) -> std::optional<QString> {
                     for (const UdpDestination &earlier : std::as_const(options.udp)) {
                         if (earlier.host == udp.host && earlier.port == udp.port)
                             return QStringLiteral("这个输出已经给过了");
                     }
                     options.udp.append(udp);
                     return std::nullopt;
                 },
                 udpDestination)
             .inFile()
             .repeatable(),
         Row(u"serial"_qs, u"设备"_qs, u"DEVICE"_qs)
             .help(
                 QStringLiteral("串口输出，9600 波特 8N1；auto：%1 中第一个存在的")
                     .arg(SerialTransport::defaultDevices().join(QStringLiteral("、"))),
                 QStringLiteral("a serial line at 9600 baud 8N1; auto: the first of %1 that exists")
                     .arg(SerialTransport::defaultDevices().join(QStringLiteral(", "))))
             .example(u"auto"_qs)
             .to(
                 [](RelayOptions &options, QStringList devices, const Given &given) {
                     options.serialDevices = devices;
                     options.serialAuto = given.text == u"auto";
                 },
                 serialDevices)
             .inFile(),
         Row(u"baud"_qs, u"波特率"_qs, u"N"_qs)
             .help(u"串口的波特率"_qs, u"the serial line's baud rate"_qs)
             .within(50, 4000000, u"整数"_qs)
             .byDefault(u"9600"_qs)
             .to(&RelayOptions::baudRate)
             .inFile()
             .needs(u"serial"_qs),
         Row(u"interval"_qs, u"毫秒"_qs, u"MS"_qs)
             .help(u"多久查看一次请求文件"_qs, u"how often the request file is read, in ms"_qs)
             .within(1, 60000, u"毫秒数"_qs)
             .byDefault(u"1"_qs)
             .to(&RelayOptions::interval)
             .inFile(),
         Row(u"config"_qs, u"文件"_qs, u"FILE"_qs)
             .help(u"配置文件（INI）：设置与长选项同名，写在任何 [节] 之前；命令行优先"_qs,
                   u"an INI file of the long options' settings; the command line wins"_qs)
             .namesSettingsFile(),
         Row(u"mqtt"_qs, u"地址"_qs, u"URL"_qs)
             .help(QStringLiteral("MQTT 服务器：mqtt://[用户名@]主机[:端口][/主题前缀]，%1\n"
                                  "默认端口 1883、主题前缀 morvane；密码只写在配置文件的 "
                                  "mqtt_password 中，或 --mqtt-password-file 所指的文件中")
                       .arg(mqtt),
                   u"an MQTT broker; the password in the config file (mqtt_password) or a file"_qs)
             .example(u"mqtt://relay@broker.home.arpa"_qs)
             .to(&RelayOptions::mqtt, &MqttSettings::fromUrl)
             .inFile()
             .secret(),
         Row(u"mqtt-encoding"_qs, u"编码"_qs, u"ENCODING"_qs)
             .help(u"发到 MQTT 的命令用 utf8 或 gbk"_qs, u"commands published in utf8 or gbk"_qs)
             .byDefault(u"utf8"_qs)
             .to([](RelayOptions &options,
                    MqttSettings::Encoding encoding) { options.mqtt->encoding = encoding; },
                 encoding)
             .inFile()
             .needs(u"mqtt"_qs),
         Row(u"mqtt-password-file"_qs, u"文件"_qs, u"FILE"_qs)
             .help(
                 u"MQTT 密码所在的文件：其第一行（不含行尾）原样是密码；重新读取设置时也重读"_qs,
                 u"a file whose first line is the MQTT password as it is; read again on reload"_qs)
             .example(u"/etc/morvane/mqtt-password"_qs)
             .to(
                 [](RelayOptions &options, QString password, const Given &given) {
                     options.mqtt->password = password;
                     options.passwordKeptIn = given.text;
                 },
                 firstLine)
             .inFile()
             .needs(u"mqtt"_qs),
         Row(u"mqtt-discovery"_qs, u"前缀"_qs, u"PREFIX"_qs)
             .help(u"向家居中枢（如 Home Assistant）的自动发现通告本机，前缀通常为 homeassistant；"
                   u"不给则撤回以前的通告"_qs,
                   u"announce the relay to a hub's MQTT discovery under this prefix"_qs)
             .example(u"homeassistant"_qs)
             .to([](RelayOptions &options,
                    QString prefix) { options.mqtt->discoveryPrefix = prefix; },
                 &MqttSettings::checkedPrefix)
             .inFile()
             .needs(u"mqtt"_qs),
         Row(u"mqtt-keepalive"_qs, u"秒数"_qs, u"SECONDS"_qs)
             .help(u"多久没有服务器的消息就问它一次，再等同样久仍无回答即重连"_qs,
                   u"seconds of silence before the broker is asked; as long again unanswered, "
                   u"the relay connects anew"_qs)
             .within(5, 600, u"秒数"_qs)
             .byDefault(u"5"_qs)
             .to([](RelayOptions &options, int seconds) { options.mqtt->keepAlive = seconds; })
             .inFile()
             .needs(u"mqtt"_qs),
         Row(u"instance"_qs, u"名字"_qs, u"NAME"_qs)
             .help(
                 u"实例名，1 到 32 个字母、数字、- 或 _：与本机和主题前缀一起生成 MQTT 客户端"
                 u"标识，同一台机器上同一主题前缀的几个实例须各给一个"_qs,
                 u"this instance's name: with the machine and the prefix it makes the MQTT client "
                 u"id, so several relays of one machine and prefix each need one"_qs)
             .example(u"kitchen"_qs)
             .to(
                 [](RelayOptions &options, QString name) {
                     if (options.mqtt)
                         options.mqtt->instance = name;
                 },
                 instanceName)
             .inFile(),
         Row(u"mqtt-client-id"_qs, u"标识"_qs, u"ID"_qs)
             .help(u"MQTT 客户端标识，1 到 23 个字母或数字，代替由本机、主题前缀和实例名生成的；"
                   u"把中继搬到另一台机器时给出原来的（见“已连接”那一行），家居中枢便认得它"_qs,
                   u"the MQTT client id instead of the one made from the machine, prefix and "
                   u"instance; to move the relay to another machine, give the old one"_qs)
             .example(u"morvane1a2b3c4d5e6f7a8b"_qs)
             .to([](RelayOptions &options, QByteArray id) { options.mqtt->givenClientId = id; },
                 clientId)
             .inFile()
             .needs(u"mqtt"_qs),
         // Where not every user of the machine can read them.
         Row::fileOnly(u"mqtt_password"_qs, u"密码"_qs, u"PASSWORD"_qs)
             .help(u"MQTT 的密码，只能写在这里，不能写在命令行上"_qs,
                   u"the MQTT password, only here, never on the command line"_qs)
             .to([](RelayOptions &options, QString password, const Given &given) {
                 options.mqtt->password = password;
                 options.passwordKeptIn = given.file;
             })
             .needs(u"mqtt"_qs)
             .notWith(u"mqtt-password-file"_qs)
             .secret(),
         Row::fileOnly(u"mqtt_cafile"_qs, u"文件"_qs, u"FILE"_qs)
             .help(u"检查 mqtts:// 服务器所用的 CA 证书（私有 CA）"_qs,
                   u"the CA certificate an mqtts:// broker is checked against (a private CA)"_qs)
             .example(u"/etc/morvane/ca.crt"_qs)
             .to(
                 [](RelayOptions &options, QString file) -> std::optional<QString> {
                     if (!options.mqtt->tls)
                         return QStringLiteral("只用于 mqtts://");
                     options.mqtt->caFile = file;
                     return std::nullopt;
                 },
                 readableFile)
             .needs(u"mqtt"_qs),
         Row(u"quiet"_qs)
             .help(u"只记录失败"_qs, u"log failures only"_qs)
             .example(u"false"_qs)
             .to(&RelayOptions::quiet)
             .inFile(),
         Row(u"service"_qs, u"操作"_qs, u"ACTION"_qs)
             .help(
                 u"Windows 服务 MorvaneRelay（需要管理员权限）：install 安装，可带 --config 文件；"
                 u"remove 停止并移除；reload 让它重新读取设置；run 是服务管理器启动它时用的"_qs,
                 u"the Windows service: install (with --config FILE), remove, reload; run is "
                 u"how the Service Control Manager starts it"_qs)
             .to(&RelayOptions::service, serviceAction),
         Row(u"reload"_qs, u"进程号"_qs, u"PID"_qs)
             .help(u"请这个进程号的 morvane-relay 重新读取设置，等它读完才结束；新设置未被接受时"
                   u"以状态 1 结束；systemctl reload 用它"_qs,
                   u"asks the relay running as this process to read its settings again, and ends "
                   u"once it has; status 1 when the new settings were refused; systemctl reload "
                   u"runs it"_qs)
             .within(1, std::numeric_limits<int>::max(), u"进程号"_qs)
             .to(&RelayOptions::reloadOf)
             .question(),
         Row(u"version"_qs)
             .letter(u'v')
             .help(u"显示版本"_qs, u"show the version"_qs)
             .answers(QStringLiteral("morvane-relay %1").arg(QStringLiteral(MORVANE_VERSION)))});
}

CommandLine readCommandLine(const QStringList &arguments, const QString &defaultRequestFile)
{
    const OptionTable<RelayOptions> table = relayOptionTable(defaultRequestFile);
    const Result<Asked<RelayOptions>> asked = table.read(arguments);
    if (!asked)
        return misused(asked.error());
    if (!asked->options)
        return answer(asked->answer, Ended);
    CommandLine commandLine;
    if (asked->options->reloadOf) {
        commandLine.reloadOf = asked->options->reloadOf;
        return commandLine;
    }
    if (const QString &service = asked->options->service; !service.isEmpty() && service != u"run")
        return serviceCommand(*table.rows().read(arguments));
    const Result<RelayOptions> options = finished(*asked->options);
    if (!options)
        return misused(options.error());
    commandLine.options = *options;
    return commandLine;
}

Result<RelayOptions> rereadCommandLine(const QStringList &arguments,
                                       const QString &defaultRequestFile)
{
    const Result<Asked<RelayOptions>> asked = relayOptionTable(defaultRequestFile).read(arguments);
    if (!asked)
        return Failure(asked.error());
    return finished(*asked->options);
}

Result<void> passwordKeptSecret(const RelayOptions &options)
{
    if (!options.passwordKeptIn.isEmpty() && isReadableByOthers(options.passwordKeptIn))
        return Failure(QStringLiteral("MQTT 密码所在的文件 %1 其他用户也能读取（chmod o-r %1）")
                           .arg(options.passwordKeptIn));
    return {};
}
