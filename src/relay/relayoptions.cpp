#include "relayoptions.h"

#include "mqttlink.h"
#include "optiontable.h"
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
在 Windows 上不需要：改了配置文件，重新启动它即可。
SIGHUP or --reload reads the config file again, keeping what did not change; on Windows, restart
it instead.

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

auto whole(int lowest, int highest, const QString &unit)
{
    return [=](const QString &text) -> Result<int> {
        bool ok = false;
        const int value = text.toInt(&ok);
        if (!ok || value < lowest || value > highest)
            return Failure(
                QStringLiteral("应为 %1 到 %2 之间的%3").arg(lowest).arg(highest).arg(unit));
        return value;
    };
}

Result<QString> readableFile(const QString &text)
{
    if (!QFileInfo(text).isReadable())
        return Failure(QStringLiteral("文件不存在或无法读取"));
    return text;
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

OptionTable relayOptionTable(const QString &defaultRequestFile)
{
    const QString mqtt = MqttSettings::hasTls() ? QStringLiteral("mqtts:// 经 TLS（默认端口 8883）")
                                                : QStringLiteral("本版本不支持 TLS（mqtts://）");
    return OptionTable(
        QStringLiteral("morvane-relay"),
        {Option(u"request"_qs, u"文件"_qs)
             .help(QStringLiteral("请求文件（GBK），默认为 %1").arg(defaultRequestFile),
                   QStringLiteral("the request file (GBK); default: %1").arg(defaultRequestFile))
             .check(requestFile)
             .inFile(),
         Option(u"udp"_qs, u"主机:端口"_qs)
             .help(u"每次一个 UDP 数据报，从本机的这个端口发往主机的同一端口；可给多次"_qs,
                   u"one datagram per tick from local port PORT to HOST:PORT; may be repeated"_qs)
             .check(udpDestination)
             .inFile()
             .repeatable(),
         Option(u"serial"_qs, u"设备"_qs)
             .help(QStringLiteral("串口输出，9600 波特 8N1；auto：%1 中第一个存在的")
                       .arg(SerialTransport::defaultDevices().join(QStringLiteral("、"))),
                   u"a serial line at 9600 baud 8N1; auto: the first of these that exists"_qs)
             .check(serialDevices)
             .inFile(),
         Option(u"baud"_qs, u"波特率"_qs)
             .help(u"串口的波特率，默认 9600"_qs,
                   u"the serial line's baud rate, 9600 unless given"_qs)
             .check(whole(50, 4000000, QStringLiteral("整数")))
             .inFile()
             .needs(u"serial"_qs),
         Option(u"interval"_qs, u"毫秒"_qs)
             .help(u"多久查看一次请求文件，1 到 60000，默认 1"_qs,
                   u"how often the request file is read, 1 to 60000 ms, 1 unless given"_qs)
             .check(whole(1, 60000, QStringLiteral("毫秒数")))
             .inFile(),
         Option(u"config"_qs, u"文件"_qs)
             .help(u"配置文件（INI）：设置与长选项同名，写在任何 [节] 之前；命令行优先"_qs,
                   u"an INI file of the long options' settings; the command line wins"_qs)
             .namesSettingsFile(),
         Option(u"mqtt"_qs, u"地址"_qs)
             .help(QStringLiteral("MQTT 服务器：mqtt://[用户名@]主机[:端口][/主题前缀]，%1\n"
                                  "默认端口 1883、主题前缀 morvane；密码只写在配置文件的 "
                                  "mqtt_password 中，或 --mqtt-password-file 所指的文件中")
                       .arg(mqtt),
                   u"an MQTT broker; the password in the config file (mqtt_password) or a file"_qs)
             .check(&MqttSettings::fromUrl)
             .inFile()
             .secret(),
         Option(u"mqtt-encoding"_qs, u"编码"_qs)
             .help(u"发到 MQTT 的命令用 utf8（默认）或 gbk"_qs,
                   u"commands published in utf8 (default) or gbk"_qs)
             .check(encoding)
             .inFile()
             .needs(u"mqtt"_qs),
         Option(u"mqtt-password-file"_qs, u"文件"_qs)
             .help(
                 u"MQTT 密码所在的文件：其第一行（不含行尾）原样是密码；重新读取设置时也重读"_qs,
                 u"a file whose first line is the MQTT password as it is; read again on reload"_qs)
             .check(firstLine)
             .inFile()
             .needs(u"mqtt"_qs),
         Option(u"mqtt-discovery"_qs, u"前缀"_qs)
             .help(u"向家居中枢（如 Home Assistant）的自动发现通告本机，前缀通常为 homeassistant；"
                   u"不给则撤回以前的通告"_qs,
                   u"announce the relay to a hub's MQTT discovery under this prefix"_qs)
             .check(&MqttSettings::checkedPrefix)
             .inFile()
             .needs(u"mqtt"_qs),
         Option(u"mqtt-keepalive"_qs, u"秒数"_qs)
             .help(u"多久没有服务器的消息就问它一次，5 到 600，默认 5；再等同样久仍无回答即重连"_qs,
                   u"seconds of silence before the broker is asked, 5 to 600, 5 unless given; as "
                   u"long again without an answer and the relay connects anew"_qs)
             .check(whole(5, 600, QStringLiteral("秒数")))
             .inFile()
             .needs(u"mqtt"_qs),
         // Where not every user of the machine can read them.
         Option::fileOnly(u"mqtt_password"_qs).needs(u"mqtt"_qs).secret(),
         Option::fileOnly(u"mqtt_cafile"_qs).check(readableFile).needs(u"mqtt"_qs),
         Option(u"quiet"_qs).help(u"只记录失败"_qs, u"log failures only"_qs).inFile(),
         Option(u"reload"_qs, u"进程号"_qs)
             .help(u"请这个进程号的 morvane-relay 重新读取设置，等它读完才结束；新设置未被接受时"
                   u"以状态 1 结束（systemctl reload 用它）"_qs,
                   u"asks the relay running as this process to read its settings again, and ends "
                   u"once it has; status 1 when the new settings were refused"_qs)
             .question(),
         Option(u"version"_qs)
             .letter(u'v')
             .help(u"显示版本"_qs, u"show the version"_qs)
             .question()});
}

// The checks that take more than one option.
Result<RelayOptions> relayOptions(const OptionValues &given, const QString &defaultRequestFile)
{
    RelayOptions options;
    options.requestFile = given.value(u"request"_qs, defaultRequestFile);
    for (const Given &udp : given.all(u"udp"_qs)) {
        const auto destination = udp.value.value<UdpDestination>();
        for (const UdpDestination &earlier : std::as_const(options.udp)) {
            if (earlier.host == destination.host && earlier.port == destination.port)
                return Failure(udp.invalid(QStringLiteral("这个输出已经给过了")));
        }
        options.udp.append(destination);
    }
    options.serialDevices = given.value<QStringList>(u"serial"_qs);
    options.serialAuto = given.has(u"serial"_qs) && given.all(u"serial"_qs).first().text == u"auto";
    options.baudRate = given.value(u"baud"_qs, options.baudRate);
    options.interval = given.value(u"interval"_qs, options.interval);
    options.quiet = given.value(u"quiet"_qs, false);

    if (given.has(u"mqtt"_qs)) {
        options.mqtt = given.value<MqttSettings>(u"mqtt"_qs);
        if (given.has(u"mqtt_password"_qs) && given.has(u"mqtt-password-file"_qs))
            return Failure(QStringLiteral("%1 与 %2 只能给一个")
                               .arg(given.all(u"mqtt_password"_qs).first().option(),
                                    given.all(u"mqtt-password-file"_qs).first().option()));
        options.mqtt->password = given.value<QString>(
            given.has(u"mqtt_password"_qs) ? u"mqtt_password"_qs : u"mqtt-password-file"_qs);
        if (given.has(u"mqtt_password"_qs))
            options.passwordKeptIn = given.all(u"config"_qs).first().text;
        else if (given.has(u"mqtt-password-file"_qs))
            options.passwordKeptIn = given.all(u"mqtt-password-file"_qs).first().text;
        options.mqtt->encoding = given.value(u"mqtt-encoding"_qs, options.mqtt->encoding);
        options.mqtt->keepAlive = given.value(u"mqtt-keepalive"_qs, options.mqtt->keepAlive);
        options.mqtt->discoveryPrefix = given.value<QString>(u"mqtt-discovery"_qs);
        if (given.has(u"mqtt_cafile"_qs) && !options.mqtt->tls)
            return Failure(
                given.all(u"mqtt_cafile"_qs).first().invalid(QStringLiteral("只用于 mqtts://")));
        options.mqtt->caFile = given.value<QString>(u"mqtt_cafile"_qs);
        QStringList identity{options.requestFile, options.serialDevices.join(u' ')};
        for (const UdpDestination &udp : std::as_const(options.udp))
            identity << QStringLiteral("%1:%2").arg(udp.host).arg(udp.port);
        options.mqtt->identity = identity.join(u'\n');
    } else if (given.has(u"request"_qs) && options.requestFile.isEmpty()) {
        return Failure(QStringLiteral("%1 只能与 --mqtt 同用：否则没有请求可转发")
                           .arg(given.all(u"request"_qs).first().typed()));
    }

    if (options.udp.isEmpty() && options.serialDevices.isEmpty() && !options.mqtt)
        return Failure(QStringLiteral(
            "没有输出：请用 --udp 主机:端口、--serial 设备 或 --mqtt 地址 给出至少一个"));
    return options;
}

CommandLine misused(const QString &why)
{
    return {std::nullopt, misuse(why), Misused};
}
} // namespace

CommandLine readCommandLine(const QStringList &arguments, const QString &defaultRequestFile)
{
    const OptionTable table = relayOptionTable(defaultRequestFile);
    const Result<OptionValues> given = table.read(arguments);
    if (!given)
        return misused(given.error());
    if (given->has(u"help"_qs))
        return {std::nullopt, table.help(QString::fromUtf8(About), QString::fromUtf8(Notes)),
                Ended};
    if (given->has(u"version"_qs))
        return {std::nullopt,
                QStringLiteral("morvane-relay %1").arg(QStringLiteral(MORVANE_VERSION)), Ended};
    if (given->has(u"reload"_qs)) {
        const Given &typed = given->all(u"reload"_qs).first();
        const Result<int> processId =
            whole(1, std::numeric_limits<int>::max(), QStringLiteral("进程号"))(typed.text);
        if (!processId)
            return misused(typed.invalid(processId.error()));
        return {std::nullopt, {}, Ended, *processId};
    }
    const Result<RelayOptions> options = relayOptions(*given, defaultRequestFile);
    if (!options)
        return misused(options.error());
    return {*options, {}, Ended};
}

Result<RelayOptions> rereadCommandLine(const QStringList &arguments,
                                       const QString &defaultRequestFile)
{
    const Result<OptionValues> given = relayOptionTable(defaultRequestFile).read(arguments);
    if (!given)
        return Failure(given.error());
    return relayOptions(*given, defaultRequestFile);
}
