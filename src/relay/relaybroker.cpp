#include "relaybroker.h"

#include "mqttlink.h"
#include "relaylog.h"

#include <utility>

RelayBroker::RelayBroker(RelayLog &log, QObject *parent)
    : QObject(parent)
    , m_log(log)
{
}

// The link that goes says goodbye to its broker first; the new one, which may have the same
// client id, connects only then.
void RelayBroker::replace(const std::optional<MqttSettings> &settings,
                          const std::optional<QString> &state, const RelayFacts &health)
{
    MqttLink *old = std::exchange(m_link, nullptr);
    if (settings) {
        m_link = new MqttLink(*settings, this);
        connect(m_link, &MqttLink::requestArrived, this, &RelayBroker::requestArrived);
        connect(m_link, &MqttLink::event, this, [this](const QString &line, bool failure) {
            failure ? m_log.failure(line) : m_log.event(line);
        });
        connect(m_link, &MqttLink::stopped, this, &RelayBroker::stopped);
        if (state)
            m_link->keepState(*state);
        m_link->publishDiagnostics(health, true);
    }
    if (!old)
        return;
    disconnect(old, &MqttLink::requestArrived, this, nullptr);
    disconnect(old, &MqttLink::stopped, this, nullptr);
    connect(old, &MqttLink::stopped, this, [this, old, link = m_link] {
        old->deleteLater();
        if (link && link == m_link)
            link->start();
    });
    old->stop();
}

void RelayBroker::start(const RelayFacts &health)
{
    if (!m_link)
        return;
    if (!MqttSettings::hasTls())
        m_log.event(QStringLiteral("本版本不支持 TLS：MQTT 只能以 mqtt:// 连接，不加密"));
    m_link->publishDiagnostics(health, true);
    m_link->start();
}

void RelayBroker::stop()
{
    if (m_link)
        m_link->stop();
    else
        QMetaObject::invokeMethod(this, &RelayBroker::stopped, Qt::QueuedConnection);
}

void RelayBroker::publishCommand(const QString &command, bool taken)
{
    if (m_link)
        m_link->publishCommand(command, taken);
}

void RelayBroker::commandTaken(const QString &command)
{
    if (m_link)
        m_link->commandTaken(command);
}

void RelayBroker::publishDiagnostics(const RelayFacts &facts, bool health)
{
    if (m_link)
        m_link->publishDiagnostics(facts, health);
}
