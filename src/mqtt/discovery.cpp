#include "discovery.h"

#include "commandbuilder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
QJsonObject switchConfig(const MqttSettings &settings, const MqttTopics &topics,
                         const QString &node, QStringView view)
{
    const QString word = view.toString();
    const QString topicId = QString::fromLatin1(word.toUtf8().toHex());
    const QString version = QStringLiteral(MORVANE_VERSION);
    return {
        {u"name"_qs, word},
        {u"unique_id"_qs, node + u'_' + topicId},
        {u"command_topic"_qs, topics.request},
        {u"payload_on"_qs, MqttTopics::switchRequest(word, true)},
        {u"payload_off"_qs, MqttTopics::switchRequest(word, false)},
        {u"state_topic"_qs, topics.state(word)},
        {u"state_on"_qs, MqttTopics::stateWord(true)},
        {u"state_off"_qs, MqttTopics::stateWord(false)},
        {u"availability"_qs,
         QJsonArray{
             QJsonObject{{u"topic"_qs, topics.status},
                         {u"payload_available"_qs, QString::fromLatin1(MqttTopics::Online)},
                         {u"payload_not_available"_qs, QString::fromLatin1(MqttTopics::Offline)}}}},
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
    , m_topics(settings)
    , m_node(QString::fromLatin1(settings.clientId()))
{
}

QList<Discovery::Message> Discovery::announcement() const
{
    if (m_settings.discoveryPrefix.isEmpty())
        return {};
    return switches(m_settings.discoveryPrefix, false) +
           QList<Message>{{m_topics.discovery, markerPayload()}};
}

QList<Discovery::Message> Discovery::withdrawal(const QByteArray &marker) const
{
    const QJsonObject last = QJsonDocument::fromJson(marker).object();
    const QString prefix = last.value(u"prefix"_qs).toString();
    if (last.value(u"node"_qs).toString() != m_node || !MqttSettings::checkedPrefix(prefix) ||
        prefix == m_settings.discoveryPrefix)
        return {};
    QList<Message> withdrawals = switches(prefix, true);
    if (m_settings.discoveryPrefix.isEmpty())
        withdrawals.append({m_topics.discovery, {}});
    return withdrawals;
}

QList<Discovery::Message> Discovery::switches(const QString &discoveryPrefix, bool withdraw) const
{
    QList<Message> messages;
    for (QStringView word : CommandBuilder::DeviceWords)
        messages.append({MqttTopics::switchConfig(discoveryPrefix, m_node, word),
                         withdraw ? QByteArray()
                                  : QJsonDocument(switchConfig(m_settings, m_topics, m_node, word))
                                        .toJson(QJsonDocument::Compact)});
    return messages;
}

QByteArray Discovery::markerPayload() const
{
    return QJsonDocument(
               QJsonObject{{u"prefix"_qs, m_settings.discoveryPrefix}, {u"node"_qs, m_node}})
        .toJson(QJsonDocument::Compact);
}
