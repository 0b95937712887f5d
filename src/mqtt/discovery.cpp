#include "discovery.h"

#include "commandbuilder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
QJsonObject switchConfig(const MqttSettings &settings, const QString &node, QStringView view)
{
    const QString word = view.toString();
    const QString topicId = QString::fromLatin1(word.toUtf8().toHex());
    const QString version = QStringLiteral(MORVANE_VERSION);
    return {
        {u"name"_qs, word},
        {u"unique_id"_qs, node + u'_' + topicId},
        {u"command_topic"_qs, settings.topic(u"request"_qs)},
        {u"payload_on"_qs, u"打开"_qs + word},
        {u"payload_off"_qs, u"关闭"_qs + word},
        {u"state_topic"_qs, settings.topic(u"state/"_qs + word)},
        {u"state_on"_qs, u"启动"_qs},
        {u"state_off"_qs, u"关闭"_qs},
        {u"availability"_qs, QJsonArray{QJsonObject{{u"topic"_qs, settings.topic(u"status"_qs)},
                                                    {u"payload_available"_qs, u"online"_qs},
                                                    {u"payload_not_available"_qs, u"offline"_qs}}}},
        {u"qos"_qs, 1},
        {u"retain"_qs, false},
        {u"encoding"_qs,
         settings.encoding == MqttSettings::Encoding::Gbk ? u"gbk"_qs : u"utf-8"_qs},
        {u"device"_qs, QJsonObject{{u"identifiers"_qs, QJsonArray{node}},
                                   {u"name"_qs, u"Morvane "_qs + settings.prefix},
                                   {u"manufacturer"_qs, u"Morvane"_qs},
                                   {u"model"_qs, u"morvane-relay"_qs},
                                   {u"sw_version"_qs, version}}},
        {u"origin"_qs, QJsonObject{{u"name"_qs, u"morvane-relay"_qs}, {u"sw_version"_qs, version}}},
    };
}
} // namespace

Discovery::Discovery(const MqttSettings &settings)
    : m_settings(settings)
    , m_marker(settings.topic(QStringLiteral("discovery")))
    , m_node(QString::fromLatin1(settings.clientId()))
{
}

QString Discovery::hubStatusTopic() const
{
    return m_settings.discoveryPrefix.isEmpty()
               ? QString()
               : m_settings.discoveryPrefix + QStringLiteral("/status");
}

QList<Discovery::Message> Discovery::announcement() const
{
    if (m_settings.discoveryPrefix.isEmpty())
        return {};
    return switches(m_settings.discoveryPrefix, m_node, false) +
           QList<Message>{{m_marker, markerPayload()}};
}

QList<Discovery::Message> Discovery::stale(const QByteArray &marker) const
{
    const QJsonObject last = QJsonDocument::fromJson(marker).object();
    const QString prefix = last.value(u"prefix"_qs).toString();
    const QString node = last.value(u"node"_qs).toString();
    if (marker.isEmpty() || marker == markerPayload() || prefix.isEmpty() || node.isEmpty())
        return {};
    QList<Message> withdrawals = switches(prefix, node, true);
    if (m_settings.discoveryPrefix.isEmpty())
        withdrawals.append({m_marker, {}});
    return withdrawals;
}

QList<Discovery::Message> Discovery::switches(const QString &discoveryPrefix, const QString &node,
                                              bool withdraw) const
{
    QList<Message> messages;
    for (QStringView word : CommandBuilder::DeviceWords) {
        const QString topic =
            QStringLiteral("%1/switch/%2/%3/config")
                .arg(discoveryPrefix, node, QString::fromLatin1(word.toUtf8().toHex()));
        messages.append({topic, withdraw ? QByteArray()
                                         : QJsonDocument(switchConfig(m_settings, node, word))
                                               .toJson(QJsonDocument::Compact)});
    }
    return messages;
}

QByteArray Discovery::markerPayload() const
{
    return QJsonDocument(
               QJsonObject{{u"prefix"_qs, m_settings.discoveryPrefix}, {u"node"_qs, m_node}})
        .toJson(QJsonDocument::Compact);
}
