#include "mqttlink.h"

#include "diagnosticmessages.h"

#include <QRandomGenerator>

namespace {
// The hub asks devices to wait a random moment before they announce themselves again, so that
// they do not all answer its return at once; at least a second, so that an announcement follows
// the one before no sooner however often the hub says it is back.
constexpr int HubBackLeastMs = 1000;
constexpr int HubBackMostMs = 2000;
} // namespace

MqttLink::MqttLink(const MqttSettings &settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_topics(settings)
    , m_client(settings)
    , m_connection(settings, m_client)
    , m_neighbours(settings)
    , m_discovery(settings)
{
    connect(&m_connection, &MqttConnection::connected, this, &MqttLink::connected);
    connect(&m_client, &MqttClient::acknowledged, this, &MqttLink::acknowledged);
    connect(&m_client, &MqttClient::messageArrived, this, &MqttLink::arrived, Qt::QueuedConnection);
    connect(&m_connection, &MqttConnection::event, this, &MqttLink::event);
    connect(&m_connection, &MqttConnection::stopped, this, &MqttLink::stopped);
    m_hubBack.setSingleShot(true);
    connect(&m_hubBack, &QTimer::timeout, this, &MqttLink::hubBack);
}

void MqttLink::start()
{
    m_connection.start();
}

void MqttLink::stop()
{
    m_connection.stop();
}

void MqttLink::publishCommand(const QString &command, bool taken)
{
    if (command.isEmpty())
        return;
    m_command = command;
    const std::optional<ApplianceStates::State> state =
        taken ? m_states.keep(command) : std::nullopt;
    if (!m_connection.isConnected())
        return;
    sendCommand();
    if (state)
        publishState(*state);
    m_client.sendPublished();
}

void MqttLink::commandTaken(const QString &command)
{
    const std::optional<ApplianceStates::State> state = m_states.keep(command);
    if (!state || !m_connection.isConnected())
        return;
    publishState(*state);
    m_client.sendPublished();
}

// Only the health message carries the resident memory: it is kept from the last one.
void MqttLink::publishDiagnostics(const RelayFacts &facts, bool health)
{
    const qint64 resident = m_facts.residentBytes;
    m_facts = facts;
    if (!health)
        m_facts.residentBytes = resident;
    if (!m_connection.isConnected())
        return;
    sendDiagnostics(health);
    m_client.sendPublished();
}

QStringList MqttLink::outputKeys() const
{
    QStringList keys;
    for (const OutputFacts &output : m_facts.outputs)
        keys << output.key;
    return keys;
}

// Outputs added or taken away are announced, or withdrawn, first.
void MqttLink::sendDiagnostics(bool health)
{
    const QStringList keys = outputKeys();
    if (keys != m_announcedKeys) {
        QStringList gone;
        for (const QString &key : std::as_const(m_announcedKeys)) {
            if (!keys.contains(key))
                gone << key;
        }
        publishAll(m_discovery.gone(gone) + m_discovery.announcement(keys));
        m_announcedKeys = keys;
    }
    for (const OutputFacts &output : m_facts.outputs)
        publishChanged(m_topics.output(output.key),
                       DiagnosticMessages::connectivity(output.connected));
    publishChanged(m_topics.activity, DiagnosticMessages::activity(m_facts));
    if (health)
        m_client.publishFact(m_topics.health, DiagnosticMessages::health(m_facts));
}

void MqttLink::publishChanged(const QString &topic, const QByteArray &payload)
{
    QByteArray &published = m_published[topic];
    if (published == payload)
        return;
    published = payload;
    m_client.publishFact(topic, payload);
}

// Called from inside the library: what is published here goes out once the library returns.
void MqttLink::connected()
{
    m_commandMid = -1; // message ids start afresh with every connection
    m_client.subscribe(m_topics.request);
    m_client.subscribe(m_topics.hello);
    m_client.notify(m_topics.hello, m_neighbours.greeting());
    m_client.subscribe(m_topics.discovery);
    if (!m_topics.hubStatus.isEmpty())
        m_client.subscribe(m_topics.hubStatus);
    m_announcedKeys = outputKeys();
    publishAll(m_discovery.announcement(m_announcedKeys));
    // The broker may have restarted without its retained messages.
    for (const ApplianceStates::State &state : m_states.all())
        publishState(state);
    m_published.clear();
    if (m_facts.started.isValid())
        sendDiagnostics(true);
    if (!m_command.isEmpty())
        sendCommand();
}

// A request is carried out when it is sent, not whenever the relay connects again. A marker is
// read only as the broker kept it from before: one published now is the relay's own, or another's.
void MqttLink::arrived(const QString &topic, const QByteArray &payload, bool retained)
{
    if (topic == m_topics.hello) {
        greeted(payload);
        return;
    }
    if (topic == m_topics.discovery) {
        if (retained) {
            publishAll(m_discovery.withdrawal(payload, m_announcedKeys));
            m_client.sendPublished();
        }
        return;
    }
    if (topic == m_topics.hubStatus) {
        if (payload == MqttTopics::Online && !m_hubBack.isActive())
            m_hubBack.start(QRandomGenerator::global()->bounded(HubBackLeastMs, HubBackMostMs));
        return;
    }
    if (payload.isEmpty())
        return;
    if (!retained) {
        emit requestArrived(payload);
        return;
    }
    if (m_retainedTold)
        return;
    m_retainedTold = true;
    emit event(QStringLiteral(
                   "MQTT 主题 %1 上有一条保留的请求，不执行；请清除它：mosquitto_pub -r -n -t '%1'")
                   .arg(topic),
               true);
}

void MqttLink::greeted(const QByteArray &payload)
{
    const Neighbours::Heard heard = m_neighbours.heard(payload);
    if (!heard.answer.isEmpty() && m_connection.isConnected()) {
        m_client.notify(m_topics.hello, heard.answer);
        m_client.sendPublished();
    }
    if (!heard.line.isEmpty())
        emit event(heard.line, true);
}

void MqttLink::hubBack()
{
    if (!m_connection.isConnected())
        return;
    publishAll(m_discovery.announcement(m_announcedKeys));
    m_client.sendPublished();
}

// The command stays until the broker has it, and is published again on reconnecting.
void MqttLink::sendCommand()
{
    const Result<int> mid = m_client.publish(m_topics.command, encoded(m_command), false);
    m_commandMid = mid ? *mid : -1;
}

void MqttLink::publishAll(const QList<Discovery::Message> &messages)
{
    for (const Discovery::Message &message : messages)
        m_client.publishFact(message.topic, message.payload);
}

void MqttLink::acknowledged(int mid)
{
    if (mid == m_commandMid) {
        m_command.clear();
        m_commandMid = -1;
    }
}

void MqttLink::publishState(const ApplianceStates::State &state)
{
    m_client.publishFact(m_topics.state(state.appliance), encoded(state.word));
}

// Payloads as the appliances want them.
QByteArray MqttLink::encoded(const QString &text)
{
    return m_settings.encoding == MqttSettings::Encoding::Gbk ? m_gbk.encode(text) : text.toUtf8();
}
