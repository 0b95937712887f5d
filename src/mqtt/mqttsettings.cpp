#include "mqttsettings.h"

#include "console.h"
#include "mqtttls.h"

#include <QCryptographicHash>
#include <QSysInfo>
#include <QUrl>
#include <algorithm>

namespace {
// A topic holds at most 65,535 bytes of UTF-8; the longest leaf is "/state/近光灯".
constexpr qsizetype LongestPrefixBytes = 65535 - 16;
constexpr qsizetype LongestShownUrl = 100;
} // namespace

// Host names repeat (every Raspberry Pi is raspberrypi); the machine's id does not.
QByteArray MqttSettings::clientId() const
{
    if (!givenClientId.isEmpty())
        return givenClientId;
    QByteArray machine = QSysInfo::machineUniqueId();
    if (machine.isEmpty())
        machine = QSysInfo::machineHostName().toUtf8();
    const QByteArray seed = machine + '\n' + prefix.toUtf8() + '\n' + instance.toUtf8();
    return "morvane" + QCryptographicHash::hash(seed, QCryptographicHash::Sha256).toHex().left(16);
}

Result<QString> MqttSettings::checkedPrefix(const QString &prefix)
{
    if (prefix.split(u'/').contains(QString()))
        return Failure(QStringLiteral("主题前缀不能有空的层级"));
    if (prefix.contains(u'+') || prefix.contains(u'#'))
        return Failure(QStringLiteral("主题前缀不能含通配符 + 或 #"));
    if (prefix.startsWith(u'$'))
        return Failure(QStringLiteral("主题前缀不能以 $ 开头（那是服务器自己的主题）"));
    if (std::any_of(prefix.begin(), prefix.end(), writtenOut))
        return Failure(QStringLiteral("主题前缀不能含控制字符或双向文字控制符"));
    if (const qsizetype bytes = prefix.toUtf8().size(); bytes > LongestPrefixBytes)
        return Failure(
            QStringLiteral("主题前缀有 %1 字节，最多 %2 字节").arg(bytes).arg(LongestPrefixBytes));
    return prefix;
}

bool MqttSettings::hasTls()
{
    return MqttTls::available();
}

Result<MqttSettings> MqttSettings::fromUrl(const QString &url)
{
    const QUrl parsed(url.trimmed());
    // The message goes to the log: not with a password typed by mistake.
    const bool withPassword = parsed.userInfo().contains(u':');
    const auto fail = [&](const QString &why) {
        const QString shown = withPassword ? parsed.toString(QUrl::RemovePassword) : url;
        return Failure(QStringLiteral("MQTT 地址“%1”无效：%2")
                           .arg(shown.size() > LongestShownUrl
                                    ? shown.first(LongestShownUrl) + QStringLiteral("…")
                                    : shown,
                                why));
    };
    const QString scheme = parsed.scheme();
    if (!parsed.isValid() || (scheme != u"mqtt" && scheme != u"mqtts") || parsed.hasQuery() ||
        parsed.hasFragment())
        return fail(QStringLiteral("应为 mqtt://[用户名@]主机[:端口][/主题前缀]"));
    MqttSettings settings;
    settings.tls = scheme == u"mqtts";
    if (settings.tls && !hasTls())
        return fail(QStringLiteral("本版本不支持 TLS，请使用 mqtt://"));
    if (withPassword)
        return fail(QStringLiteral("密码不能写在命令行中，请写在配置文件的 mqtt_password 中"));
    settings.user = parsed.userName();
    settings.host = parsed.host();
    if (settings.host.isEmpty())
        return fail(QStringLiteral("缺少服务器主机名"));
    const int port = parsed.port(settings.tls ? 8883 : 1883);
    if (port < 1 || port > 65535)
        return fail(QStringLiteral("端口须为 1 到 65535 之间的整数"));
    settings.port = quint16(port);
    // Decoded: %0A is a line end, %2B a wildcard.
    const QString path = parsed.path(QUrl::FullyDecoded);
    if (path.size() > 1) {
        const Result<QString> prefix = checkedPrefix(path.mid(1));
        if (!prefix)
            return fail(prefix.error());
        settings.prefix = *prefix;
    }
    return settings;
}

bool MqttSettings::isClientId(const QString &id)
{
    return !id.isEmpty() && id.size() <= 23 && std::all_of(id.begin(), id.end(), [](QChar c) {
        return c.unicode() < 0x80 && c.isLetterOrNumber();
    });
}
