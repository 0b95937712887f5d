#include "discovery.h"

#include "commandbuilder.h"
#include "diagnosticmessages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {
QJsonObject device(const MqttSettings &settings, const QString &node)
{
    return {{u"identifiers"_qs, QJsonArray{node}},
            {u"name"_qs, u"Morvane "_qs + settings.prefix},
            {u"manufacturer"_qs, u"Morvane"_qs},
            {u"model"_qs, u"morvane-relay"_qs},
            {u"sw_version"_qs, QStringLiteral(MORVANE_VERSION)}};
}

QJsonArray availability(const MqttSettings &settings)
{
    return {QJsonObject{{u"topic"_qs, settings.topic(u"status"_qs)},
                        {u"payload_available"_qs, u"online"_qs},
                        {u"payload_not_available"_qs, u"offline"_qs}}};
}

// Only what the relay makes: a marker from elsewhere must not name other topics.
bool isOutputKey(const QString &key)
{
    static const QRegularExpression shape(u"^(serial|udp_([0-9a-f]{2})+)$"_qs);
    return shape.match(key).hasMatch();
}

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
        {u"availability"_qs, availability(settings)},
        {u"qos"_qs, 1},
        {u"retain"_qs, false},
        {u"encoding"_qs,
         settings.encoding == MqttSettings::Encoding::Gbk ? u"gbk"_qs : u"utf-8"_qs},
        {u"device"_qs, device(settings, node)},
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

QList<Discovery::Message> Discovery::announcement(const QStringList &outputKeys) const
{
    if (m_settings.discoveryPrefix.isEmpty())
        return {};
    return switches(m_settings.discoveryPrefix, m_node, false) +
           diagnostics(m_settings.discoveryPrefix, m_node, outputKeys, false) +
           QList<Message>{{m_marker, markerPayload(outputKeys)}};
}

QList<Discovery::Message> Discovery::stale(const QByteArray &marker,
                                           const QStringList &outputKeys) const
{
    const QJsonObject last = QJsonDocument::fromJson(marker).object();
    const QString prefix = last.value(u"prefix"_qs).toString();
    const QString node = last.value(u"node"_qs).toString();
    QStringList keys;
    for (const QJsonValue key : last.value(u"outputs"_qs).toArray()) {
        if (isOutputKey(key.toString()))
            keys << key.toString();
    }
    if (marker.isEmpty() || marker == markerPayload(outputKeys) || prefix.isEmpty() ||
        node.isEmpty())
        return {};
    QStringList gone;
    for (const QString &key : std::as_const(keys)) {
        if (!outputKeys.contains(key))
            gone << key;
    }
    if (prefix == m_settings.discoveryPrefix && node == m_node)
        return this->gone(gone);
    QList<Message> withdrawals =
        switches(prefix, node, true) + diagnostics(prefix, node, keys, true);
    for (const QString &key : std::as_const(gone))
        withdrawals.append({DiagnosticMessages::outputTopic(m_settings, key), {}});
    if (m_settings.discoveryPrefix.isEmpty())
        withdrawals.append({m_marker, {}});
    return withdrawals;
}

QList<Discovery::Message> Discovery::gone(const QStringList &outputKeys) const
{
    QList<Message> withdrawals;
    for (const QString &key : outputKeys) {
        if (!m_settings.discoveryPrefix.isEmpty())
            withdrawals.append({QStringLiteral("%1/binary_sensor/%2/%3/config")
                                    .arg(m_settings.discoveryPrefix, m_node, key),
                                {}});
        withdrawals.append({DiagnosticMessages::outputTopic(m_settings, key), {}});
    }
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

QList<Discovery::Message> Discovery::diagnostics(const QString &discoveryPrefix,
                                                 const QString &node, const QStringList &outputKeys,
                                                 bool withdraw) const
{
    QList<Message> messages;
    const QList<DiagnosticMessages::Entity> entities =
        withdraw ? DiagnosticMessages::withdrawn(outputKeys)
                 : DiagnosticMessages::entities(m_settings, node, outputKeys,
                                                device(m_settings, node), availability(m_settings));
    for (const DiagnosticMessages::Entity &entity : entities)
        messages.append({QStringLiteral("%1/%2/%3/%4/config")
                             .arg(discoveryPrefix, entity.component, node, entity.objectId),
                         withdraw ? QByteArray()
                                  : QJsonDocument(entity.config).toJson(QJsonDocument::Compact)});
    return messages;
}

QByteArray Discovery::markerPayload(const QStringList &outputKeys) const
{
    return QJsonDocument(QJsonObject{{u"prefix"_qs, m_settings.discoveryPrefix},
                                     {u"node"_qs, m_node},
                                     {u"outputs"_qs, QJsonArray::fromStringList(outputKeys)}})
        .toJson(QJsonDocument::Compact);
}
