#include "mqttsettings.h"

#include "mqtttls.h"

#include <QUrl>

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
        return Failure(QStringLiteral("MQTT 地址“%1”无效：%2")
                           .arg(withPassword ? parsed.toString(QUrl::RemovePassword) : url, why));
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
    const QString path = parsed.path();
    if (path.size() > 1) {
        settings.prefix = path.mid(1);
        if (settings.prefix.contains(u'+') || settings.prefix.contains(u'#') ||
            settings.prefix.split(u'/').contains(QString()))
            return fail(QStringLiteral("主题前缀不能含 +、# 或空的层级"));
    }
    return settings;
}
