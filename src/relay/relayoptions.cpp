#include "relayoptions.h"

#include "mqttlink.h"
#include "serialtransport.h"
#include "udptransport.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QMap>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryFile>
#include <QUrl>

namespace {
const char Help[] = R"(用法：morvane-relay [选项]
Usage: morvane-relay [options]

无人值守地转发请求：每毫秒查看一次请求文件，把其中的请求（如「打开空调」）变成命令
（如「空调=启动」），发给每一个输出，直到请求文件被移走。每个事件在标准错误上记一行。
Forwards the request in the request file to every output, unattended, on every tick.

选项 Options:
  --request <文件>     请求文件（GBK），默认为 %1
                       the request file (GBK); default: %1
  --udp <主机:端口>    每次一个 UDP 数据报，从本机的这个端口发往主机的同一端口；可给多次
                       one datagram per tick from local port PORT to HOST:PORT; may be repeated
  --serial <设备>      串口输出，9600 波特 8N1；auto：%2 中第一个存在的
                       a serial line at 9600 baud 8N1; auto: the first of these that exists
  --baud <波特率>      串口的波特率，默认 9600
                       the serial line's baud rate, 9600 unless given
  --interval <毫秒>    多久查看一次请求文件，1 到 60000，默认 1
                       how often the request file is read, 1 to 60000 ms, 1 unless given
  --config <文件>      配置文件（INI）：设置与长选项同名，写在任何 [节] 之前；命令行优先
                       an INI file of the long options' settings; the command line wins
  --mqtt <地址>        MQTT 服务器：mqtt://[用户名@]主机[:端口][/主题前缀]，%3
                       默认端口 1883、主题前缀 morvane；密码只写在配置文件的 mqtt_password 中
                       an MQTT broker; the password only in the config file (mqtt_password)
  --mqtt-encoding <编码>  发到 MQTT 的命令用 utf8（默认）或 gbk
                       commands published in utf8 (default) or gbk
  --quiet              只记录失败
                       log failures only
  -h, --help           显示本说明 / show this help
  -v, --version        显示版本 / show the version

至少要给一个输出（--udp、--serial 或 --mqtt）。有 --mqtt 时，--request none 可以不读请求文件，
只接收 MQTT 主题 <前缀>/request 上的请求。
At least one output is required; with --mqtt, --request none reads no request file.

例如 Examples:
  morvane-relay --udp 127.0.0.1:8888
  morvane-relay --serial auto --udp 192.168.1.20:8888
  morvane-relay --config /etc/morvane/relay.conf)";

constexpr qint64 MaxConfigBytes = 64 * 1024;

// The settings of the config file, named as the long options (with "_" for "-"); the password and
// the private CA only in the file, where not every user of the machine can read them.
const QStringList Keys = {QStringLiteral("request"),       QStringLiteral("udp"),
                          QStringLiteral("serial"),        QStringLiteral("baud"),
                          QStringLiteral("interval"),      QStringLiteral("quiet"),
                          QStringLiteral("mqtt"),          QStringLiteral("mqtt_encoding"),
                          QStringLiteral("mqtt_password"), QStringLiteral("mqtt_cafile")};
const QStringList FileOnly = {QStringLiteral("mqtt_password"), QStringLiteral("mqtt_cafile")};

QString optionOf(QString key)
{
    return key.replace(u'_', u'-');
}

// A value as it was typed, and where: an option, or a key of the config file.
struct Typed {
    QString text;
    QString where;
};
using Settings = QMap<QString, QList<Typed>>;

class Misuse {
public:
    explicit Misuse(QString line)
        : line(std::move(line))
    {
    }
    QString line;
};

// As typed: "--request none", or "配置文件“…”中的 request=none".
QString typed(const Typed &value)
{
    return value.where + (value.where.endsWith(u'=') ? QString() : QStringLiteral(" ")) +
           value.text;
}

Misuse invalid(const Typed &value, const QString &why)
{
    return Misuse(QStringLiteral("%1“%2”无效：%3").arg(value.where, value.text, why));
}

Settings fromConfig(const QString &path)
{
    // QSettings knows only ";" for comments; a line starting with "#" is one too, as in every
    // other file under /etc. The file is read without them from a copy.
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        throw Misuse(QStringLiteral("配置文件“%1”不存在或无法读取").arg(path));
    if (file.size() > MaxConfigBytes)
        throw Misuse(QStringLiteral("配置文件“%1”太大，不像是配置文件").arg(path));
    QTemporaryFile copy;
    if (!copy.open())
        throw Misuse(QStringLiteral("配置文件“%1”无法读取：没有地方放它的副本").arg(path));
    for (const QByteArray &line : file.readAll().split('\n'))
        copy.write(line.trimmed().startsWith('#') ? QByteArray("\n") : line + '\n');
    copy.close();
    QSettings config(copy.fileName(), QSettings::IniFormat);
    if (config.status() != QSettings::NoError)
        throw Misuse(QStringLiteral("配置文件“%1”的格式有误").arg(path));
    Settings settings;
    for (const QString &key : config.allKeys()) {
        if (key.contains(u'/'))
            throw Misuse(
                QStringLiteral("配置文件“%1”：设置须写在任何 [节] 之前，而“%2”在节 [%3] 中")
                    .arg(path, key.section(u'/', 1), key.section(u'/', 0, 0)));
        if (!Keys.contains(key))
            throw Misuse(QStringLiteral("配置文件“%1”：不认识的设置“%2”（认识的有：%3）")
                             .arg(path, key, Keys.join(QStringLiteral("、"))));
        // A value with commas reads as a list: several UDP outputs, or a name holding a comma.
        const QStringList values = config.value(key).toStringList();
        const QString where = QStringLiteral("配置文件“%1”中的 %2=").arg(path, key);
        if (key == u"udp") {
            for (const QString &value : values)
                settings[key].append({value.trimmed(), where});
        } else {
            settings[key].append({values.join(u',').trimmed(), where});
        }
    }
    return settings;
}

// A value that may be given only once.
const Typed *single(const Settings &settings, const QString &key)
{
    const auto found = settings.find(key);
    if (found == settings.end())
        return nullptr;
    if (found->size() > 1)
        throw Misuse(QStringLiteral("%1 只能给一次，却给了“%2”和“%3”")
                         .arg(found->first().where, found->at(0).text, found->at(1).text));
    return &found->first();
}

int number(const Typed &value, int lowest, int highest, const QString &unit)
{
    bool ok = false;
    const int result = value.text.toInt(&ok);
    if (!ok || result < lowest || result > highest)
        throw invalid(value,
                      QStringLiteral("应为 %1 到 %2 之间的%3").arg(lowest).arg(highest).arg(unit));
    return result;
}

QString requestFile(const Typed &value)
{
    if (value.text.isEmpty())
        throw invalid(value, QStringLiteral("没有给出文件"));
    const QFileInfo file(QDir::current(), value.text);
    if (file.isDir())
        throw invalid(value, QStringLiteral("这是一个目录，请给出其中请求文件的名字"));
    if (!file.absoluteDir().exists())
        throw invalid(value, QStringLiteral("所在的目录不存在"));
    return file.absoluteFilePath();
}

UdpDestination udpDestination(const Typed &value)
{
    const qsizetype colon = value.text.lastIndexOf(u':');
    if (colon < 0)
        throw invalid(value, QStringLiteral("应为 主机:端口，例如 127.0.0.1:8888"));
    const QString host = UdpTransport::hostFrom(value.text.first(colon));
    const std::optional<quint16> port = UdpTransport::portFrom(value.text.sliced(colon + 1));
    if (!port)
        throw invalid(value, QStringLiteral("端口应为 1 到 65535 之间的整数"));
    if (host.isEmpty())
        throw invalid(value, QStringLiteral("缺少主机，例如 127.0.0.1:8888"));
    if (host.contains(u':') || host.startsWith(u'['))
        throw invalid(value, QStringLiteral("只能发往 IPv4 地址或主机名"));
    static const QRegularExpression name(
        QStringLiteral(R"(^[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9.])?$)"));
    const QString ascii = QString::fromLatin1(QUrl::toAce(host));
    if (!QHostAddress(host).isNull()
            ? QHostAddress(host).protocol() != QAbstractSocket::IPv4Protocol
            : !name.match(ascii).hasMatch())
        throw invalid(value, QStringLiteral("不是 IPv4 地址，也不是主机名"));
    return {host, *port};
}

bool yes(const Typed &value)
{
    static const QStringList Yes = {u"true"_qs, u"yes"_qs, u"on"_qs, u"1"_qs};
    static const QStringList No = {u"false"_qs, u"no"_qs, u"off"_qs, u"0"_qs};
    if (Yes.contains(value.text, Qt::CaseInsensitive))
        return true;
    if (No.contains(value.text, Qt::CaseInsensitive))
        return false;
    throw invalid(value, QStringLiteral("应为 true 或 false"));
}

RelayOptions check(const Settings &settings, const QString &defaultRequestFile)
{
    RelayOptions options;
    const Typed *request = single(settings, QStringLiteral("request"));
    options.requestFile = !request                   ? defaultRequestFile
                          : request->text == u"none" ? QString()
                                                     : requestFile(*request);

    for (const Typed &value : settings.value(QStringLiteral("udp"))) {
        const UdpDestination destination = udpDestination(value);
        for (const UdpDestination &earlier : std::as_const(options.udp)) {
            if (earlier.host == destination.host && earlier.port == destination.port)
                throw invalid(value, QStringLiteral("这个输出已经给过了"));
        }
        options.udp.append(destination);
    }

    const Typed *baud = single(settings, QStringLiteral("baud"));
    if (const Typed *serial = single(settings, QStringLiteral("serial"))) {
        if (serial->text.isEmpty())
            throw invalid(*serial, QStringLiteral("没有给出串口设备"));
        options.serialAuto = serial->text == u"auto";
        options.serialDevices =
            options.serialAuto ? SerialTransport::defaultDevices() : QStringList{serial->text};
        if (baud)
            options.baudRate = number(*baud, 50, 4000000, QStringLiteral("整数"));
    } else if (baud) {
        throw Misuse(QStringLiteral("%1 只用于串口输出（--serial）").arg(baud->where));
    }

    if (const Typed *interval = single(settings, QStringLiteral("interval")))
        options.interval = number(*interval, 1, 60000, QStringLiteral("毫秒数"));
    if (const Typed *quiet = single(settings, QStringLiteral("quiet")))
        options.quiet = yes(*quiet);

    if (const Typed *mqtt = single(settings, QStringLiteral("mqtt"))) {
        const Result<MqttSettings> url = MqttSettings::fromUrl(mqtt->text);
        if (!url)
            throw Misuse(QStringLiteral("%1：%2").arg(
                mqtt->where.endsWith(u'=') ? mqtt->where.chopped(1) : mqtt->where, url.error()));
        options.mqtt = *url;
        if (const Typed *password = single(settings, QStringLiteral("mqtt_password")))
            options.mqtt->password = password->text;
        if (const Typed *caFile = single(settings, QStringLiteral("mqtt_cafile"))) {
            if (!options.mqtt->tls || !QFileInfo(caFile->text).isReadable())
                throw invalid(*caFile, options.mqtt->tls ? QStringLiteral("文件不存在或无法读取")
                                                         : QStringLiteral("只用于 mqtts://"));
            options.mqtt->caFile = caFile->text;
        }
        if (const Typed *encoding = single(settings, QStringLiteral("mqtt_encoding"))) {
            if (encoding->text.compare(u"gbk", Qt::CaseInsensitive) == 0)
                options.mqtt->encoding = MqttSettings::Encoding::Gbk;
            else if (encoding->text.compare(u"utf8", Qt::CaseInsensitive) != 0 &&
                     encoding->text.compare(u"utf-8", Qt::CaseInsensitive) != 0)
                throw invalid(*encoding, QStringLiteral("应为 utf8 或 gbk"));
        }
    } else {
        for (const QString &key : {u"mqtt_encoding"_qs, u"mqtt_password"_qs, u"mqtt_cafile"_qs}) {
            if (const Typed *value = single(settings, key))
                throw Misuse(QStringLiteral("%1 只用于 MQTT（--mqtt）").arg(value->where));
        }
        if (request && options.requestFile.isEmpty())
            throw Misuse(
                QStringLiteral("%1 只能与 --mqtt 同用：否则没有请求可转发").arg(typed(*request)));
    }

    if (options.udp.isEmpty() && options.serialDevices.isEmpty() && !options.mqtt)
        throw Misuse(QStringLiteral(
            "没有输出：请用 --udp 主机:端口、--serial 设备 或 --mqtt 地址 给出至少一个"));
    return options;
}
} // namespace

CommandLine readCommandLine(const QStringList &arguments, const QString &defaultRequestFile)
{
    QCommandLineParser parser;
    for (const QString &key : Keys) {
        if (key == u"quiet")
            parser.addOption(QCommandLineOption(key));
        else if (!FileOnly.contains(key))
            parser.addOption(QCommandLineOption(optionOf(key), {}, key));
    }
    const QCommandLineOption config(QStringLiteral("config"), {}, QStringLiteral("config"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    parser.addOptions({config, help, version});

    const auto misused = [](const QString &why) {
        return CommandLine{std::nullopt, why + QStringLiteral("（用 --help 查看用法）"),
                           CommandLine::Misused};
    };
    if (!parser.parse(arguments)) {
        // Short of an unknown option, the parser's one complaint is a value missing after
        // the option it quotes.
        if (parser.unknownOptionNames().isEmpty()) {
            static const QRegularExpression quoted(QStringLiteral("'([^']*)'"));
            return misused(
                QStringLiteral("选项 %1 缺少值").arg(quoted.match(parser.errorText()).captured(1)));
        }
        const QString name = parser.unknownOptionNames().first();
        return misused(
            QStringLiteral("未知选项：%1%2")
                .arg(name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), name));
    }
    if (parser.isSet(help)) {
        return {std::nullopt,
                QString::fromUtf8(Help).arg(
                    defaultRequestFile,
                    SerialTransport::defaultDevices().join(QStringLiteral("、")),
                    MqttSettings::hasTls() ? QStringLiteral("mqtts:// 经 TLS（默认端口 8883）")
                                           : QStringLiteral("本版本不支持 TLS（mqtts://）")),
                CommandLine::Ended};
    }
    if (parser.isSet(version))
        return {std::nullopt,
                QStringLiteral("morvane-relay %1").arg(QStringLiteral(MORVANE_VERSION)),
                CommandLine::Ended};
    if (!parser.positionalArguments().isEmpty())
        return misused(
            QStringLiteral("多余的参数：%1").arg(parser.positionalArguments().join(u' ')));

    try {
        Settings settings;
        if (parser.isSet(config)) {
            const QStringList files = parser.values(config);
            if (files.size() > 1)
                throw Misuse(QStringLiteral("--config 只能给一次"));
            settings = fromConfig(files.first());
        }
        // An option on the command line replaces that setting of the file.
        for (const QString &key : Keys) {
            const QString option = optionOf(key);
            if (FileOnly.contains(key) || !parser.isSet(option))
                continue;
            QList<Typed> &values = settings[key];
            values.clear();
            if (key == u"quiet")
                values.append({QStringLiteral("true"), QStringLiteral("--quiet")});
            for (const QString &value : parser.values(option))
                values.append({value, QStringLiteral("--") + option});
        }
        return {check(settings, defaultRequestFile), {}, CommandLine::Ended};
    } catch (const Misuse &misuse) {
        return misused(misuse.line);
    }
}
