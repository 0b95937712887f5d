#include "diagnosticmessages.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {
// A hub keeps at most 255 characters of a sensor's state.
constexpr qsizetype LongestText = 200;

QString cut(const QString &text)
{
    return text.size() > LongestText ? text.first(LongestText - 1) + u'…' : text;
}

QJsonObject entity(const QString &node, const QString &objectId, const QString &name,
                   const QString &stateTopic, const QJsonObject &device,
                   const QJsonValue &availability)
{
    return {
        {u"name"_qs, name},
        {u"unique_id"_qs, node + u'_' + objectId},
        {u"state_topic"_qs, stateTopic},
        {u"entity_category"_qs, u"diagnostic"_qs},
        {u"availability"_qs, availability},
        {u"qos"_qs, 1},
        {u"device"_qs, device},
    };
}

// A sensor showing one field of a JSON message.
QJsonObject field(QJsonObject config, const QString &name)
{
    config.insert(u"value_template"_qs, QStringLiteral("{{ value_json.%1 }}").arg(name));
    return config;
}

const QString Sensor = QStringLiteral("sensor");
} // namespace

namespace DiagnosticMessages {

QByteArray connectivity(bool connected)
{
    return connected ? MqttTopics::Connected : MqttTopics::Disconnected;
}

QByteArray activity(const RelayFacts &facts)
{
    return QJsonDocument(QJsonObject{{u"last_request"_qs, cut(facts.lastRequest)},
                                     {u"last_command"_qs, cut(facts.lastCommand)},
                                     {u"commands"_qs, facts.commands}})
        .toJson(QJsonDocument::Compact);
}

QByteArray health(const RelayFacts &facts)
{
    QJsonArray outputs;
    for (const OutputFacts &output : facts.outputs)
        outputs.append(QJsonObject{
            {u"key"_qs, output.key},
            {u"name"_qs, output.name},
            {u"kind"_qs, output.serial ? u"serial"_qs : u"udp"_qs},
            {u"connected"_qs, output.connected},
            {u"sends"_qs, output.sends},
            {u"skipped"_qs, output.skipped},
            {u"failures"_qs, output.failures},
            {u"last_failure"_qs, output.lastFailure},
        });
    return QJsonDocument(QJsonObject{
                             {u"version"_qs, facts.version},
                             {u"started"_qs, facts.started.toString(Qt::ISODate)},
                             {u"last_request"_qs, cut(facts.lastRequest)},
                             {u"last_command"_qs, cut(facts.lastCommand)},
                             {u"commands"_qs, facts.commands},
                             {u"resident_bytes"_qs, facts.residentBytes},
                             {u"outputs"_qs, outputs},
                         })
        .toJson(QJsonDocument::Compact);
}

QList<Entity> entities(const MqttTopics &topics, const QString &node, const QStringList &outputKeys,
                       const QJsonObject &device, const QJsonValue &availability)
{
    const auto made = [&](const QString &objectId, const QString &name, const QString &topic) {
        return entity(node, objectId, name, topic, device, availability);
    };
    QList<Entity> entities;
    for (const QString &key : outputKeys) {
        QJsonObject config = made(key, OutputFacts::nameOf(key) + u" 连接"_qs, topics.output(key));
        config.insert(u"device_class"_qs, u"connectivity"_qs);
        config.insert(u"payload_on"_qs, QString::fromLatin1(connectivity(true)));
        config.insert(u"payload_off"_qs, QString::fromLatin1(connectivity(false)));
        entities.append({QStringLiteral("binary_sensor"), key, config});
    }
    const QString &activity = topics.activity, &health = topics.health;
    entities.append(
        {Sensor, u"last_request"_qs,
         field(made(u"last_request"_qs, u"最后的请求"_qs, activity), u"last_request"_qs)});
    entities.append(
        {Sensor, u"last_command"_qs,
         field(made(u"last_command"_qs, u"最后的命令"_qs, activity), u"last_command"_qs)});
    QJsonObject commands = field(made(u"commands"_qs, u"已发命令"_qs, activity), u"commands"_qs);
    commands.insert(u"state_class"_qs, u"total_increasing"_qs);
    entities.append({Sensor, u"commands"_qs, commands});
    QJsonObject started = field(made(u"started"_qs, u"启动时间"_qs, health), u"started"_qs);
    started.insert(u"device_class"_qs, u"timestamp"_qs);
    entities.append({Sensor, u"started"_qs, started});
    entities.append(
        {Sensor, u"version"_qs, field(made(u"version"_qs, u"版本"_qs, health), u"version"_qs)});
    return entities;
}

QList<Entity> withdrawn(const QStringList &outputKeys)
{
    QList<Entity> entities;
    for (const QString &key : outputKeys)
        entities.append({QStringLiteral("binary_sensor"), key, {}});
    for (const QString &objectId :
         {u"last_request"_qs, u"last_command"_qs, u"commands"_qs, u"started"_qs, u"version"_qs})
        entities.append({Sensor, objectId, {}});
    return entities;
}

} // namespace DiagnosticMessages
