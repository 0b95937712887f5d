#include "discovery.h"

#include "commandbuilder.h"
#include "diagnosticmessages.h"
#include "relayfacts.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
QJsonObject device(const MqttSettings &settings, const QString &node)
{
    return {{u"identifiers"_qs, QJsonArray{node}},
            {u"name"_qs, u"Morvane "_qs + settings.prefix},
            {u"manufacturer"_qs, u"Morvane"_qs},
            {u"model"_qs, u"morvane-relay"_qs},
            {u"sw_version"_qs, QStringLiteral(MORVANE_VERSION)}};
}

QJsonArray availability(const MqttTopics &topics)
{
    return {QJsonObject{{u"topic"_qs, topics.status},
                        {u"payload_available"_qs, QString::fromLatin1(MqttTopics::Online)},
                        {u"payload_not_available"_qs, QString::fromLatin1(MqttTopics::Offline)}}};
}

QJsonObject switchConfig(const MqttSettings &settings, const MqttTopics &topics,
                         const QString &node, QStringView view)
{
    const QString word = view.toString();
    const QString version = QStringLiteral(MORVANE_VERSION);
    return {
        {u"name"_qs, word},
        {u"unique_id"_qs, node + u'_' + MqttTopics::applianceId(word)},
        {u"command_topic"_qs, topics.request},
        {u"payload_on"_qs, MqttTopics::switchRequest(word, true)},
        {u"payload_off"_qs, MqttTopics::switchRequest(word, false)},
        {u"state_topic"_qs, topics.state(word)},
        {u"state_on"_qs, MqttTopics::stateWord(true)},
        {u"state_off"_qs, MqttTopics::stateWord(false)},
        {u"availability"_qs, availability(topics)},
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
    , m_topics(settings)
    , m_node(QString::fromLatin1(settings.clientId()))
{
}

QList<Discovery::Message> Discovery::announcement(const QStringList &outputKeys) const
{
    if (m_settings.discoveryPrefix.isEmpty())
        return {};
    return switches(m_settings.discoveryPrefix, false) +
           diagnostics(m_settings.discoveryPrefix, outputKeys, false) +
           QList<Message>{{m_topics.discovery, markerPayload(outputKeys)}};
}

QList<Discovery::Message> Discovery::withdrawal(const QByteArray &marker,
                                                const QStringList &outputKeys) const
{
    const QJsonObject last = QJsonDocument::fromJson(marker).object();
    const QString prefix = last.value(u"prefix"_qs).toString();
    if (last.value(u"node"_qs).toString() != m_node || !MqttSettings::checkedPrefix(prefix))
        return {};
    QStringList keys, gone;
    for (const QJsonValue key : last.value(u"outputs"_qs).toArray()) {
        if (!OutputFacts::isKey(key.toString()))
            continue;
        keys << key.toString();
        if (!outputKeys.contains(key.toString()))
            gone << key.toString();
    }
    if (prefix == m_settings.discoveryPrefix)
        return this->gone(gone);
    QList<Message> withdrawals = switches(prefix, true) + diagnostics(prefix, keys, true);
    for (const QString &key : std::as_const(gone))
        withdrawals.append({m_topics.output(key), {}});
    if (m_settings.discoveryPrefix.isEmpty())
        withdrawals.append({m_topics.discovery, {}});
    return withdrawals;
}

QList<Discovery::Message> Discovery::gone(const QStringList &outputKeys) const
{
    QList<Message> withdrawals;
    for (const QString &key : outputKeys) {
        if (!m_settings.discoveryPrefix.isEmpty())
            withdrawals.append(
                {MqttTopics::config(m_settings.discoveryPrefix, u"binary_sensor"_qs, m_node, key),
                 {}});
        withdrawals.append({m_topics.output(key), {}});
    }
    return withdrawals;
}

QList<Discovery::Message> Discovery::switches(const QString &discoveryPrefix, bool withdraw) const
{
    QList<Message> messages;
    for (QStringView word : CommandBuilder::DeviceWords)
        messages.append({MqttTopics::config(discoveryPrefix, u"switch"_qs, m_node,
                                            MqttTopics::applianceId(word)),
                         withdraw ? QByteArray()
                                  : QJsonDocument(switchConfig(m_settings, m_topics, m_node, word))
                                        .toJson(QJsonDocument::Compact)});
    return messages;
}

QList<Discovery::Message> Discovery::diagnostics(const QString &discoveryPrefix,
                                                 const QStringList &outputKeys, bool withdraw) const
{
    QList<Message> messages;
    const QList<DiagnosticMessages::Entity> entities =
        withdraw ? DiagnosticMessages::withdrawn(outputKeys)
                 : DiagnosticMessages::entities(m_topics, m_node, outputKeys,
                                                device(m_settings, m_node), availability(m_topics));
    for (const DiagnosticMessages::Entity &entity : entities)
        messages.append(
            {MqttTopics::config(discoveryPrefix, entity.component, m_node, entity.objectId),
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
