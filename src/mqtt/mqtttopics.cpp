#include "mqtttopics.h"

#include "commandbuilder.h"

namespace {
QString under(const QString &prefix, QStringView leaf)
{
    return prefix + u'/' + leaf.toString();
}
} // namespace

MqttTopics::MqttTopics(const MqttSettings &settings)
    : request(under(settings.prefix, u"request"))
    , command(under(settings.prefix, u"command"))
    , status(under(settings.prefix, u"status"))
    , hello(under(settings.prefix, u"hello"))
    , discovery(under(settings.prefix, u"discovery"))
    , hubStatus(settings.discoveryPrefix.isEmpty() ? QString()
                                                   : under(settings.discoveryPrefix, u"status"))
    , activity(under(settings.prefix, u"activity"))
    , health(under(settings.prefix, u"health"))
    , m_prefix(settings.prefix)
{
}

QString MqttTopics::state(QStringView appliance) const
{
    return m_prefix + QStringLiteral("/state/") + appliance.toString();
}

QString MqttTopics::output(const QString &key) const
{
    return m_prefix + QStringLiteral("/output/") + key;
}

QString MqttTopics::config(const QString &discoveryPrefix, const QString &component,
                           const QString &node, const QString &id)
{
    return QStringLiteral("%1/%2/%3/%4/config").arg(discoveryPrefix, component, node, id);
}

QString MqttTopics::applianceId(QStringView appliance)
{
    return QString::fromLatin1(appliance.toUtf8().toHex());
}

QString MqttTopics::stateWord(bool on)
{
    return (on ? CommandBuilder::OnSuffix : CommandBuilder::OffSuffix).mid(1).toString();
}

QString MqttTopics::switchRequest(QStringView appliance, bool on)
{
    return (on ? QStringLiteral("打开") : QStringLiteral("关闭")) + appliance.toString();
}
