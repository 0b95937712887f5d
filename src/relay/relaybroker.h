#pragma once

#include "mqttsettings.h"
#include "relayfacts.h"

#include <QObject>
#include <optional>

class MqttLink;
class RelayLog;

// The relay's link to its broker, when it has one, and the link's replacement when the settings
// change. Without a link, what it is given to publish goes nowhere.
class RelayBroker : public QObject {
    Q_OBJECT

public:
    explicit RelayBroker(RelayLog &log, QObject *parent = nullptr);

    // A link to the broker `settings` name, or none. It keeps `state`'s command as its
    // appliance's state, when there is one, and `health` as the relay's.
    void replace(const std::optional<MqttSettings> &settings, const std::optional<QString> &state,
                 const RelayFacts &health);
    void start(const RelayFacts &health);
    // stopped() follows: at once without a link.
    void stop();

    void publishCommand(const QString &command, bool taken);
    void commandTaken(const QString &command);
    void publishDiagnostics(const RelayFacts &facts, bool health);

signals:
    void requestArrived(const QByteArray &payload);
    void stopped();

private:
    RelayLog &m_log;
    MqttLink *m_link = nullptr;
};
