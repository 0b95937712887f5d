#pragma once

#include "hostlookup.h"
#include "mqttsettings.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

class MqttClient;

// Keeps a client connected to the broker: looks its name up, tries its addresses one after the
// other, and says `online` at PREFIX/status (retained; the will says `offline`). When the broker
// is away it keeps trying, more and more slowly, and logs each failure once. When another client
// with the same id takes its session over, it says so and waits long before taking it back.
class MqttConnection : public QObject {
    Q_OBJECT

public:
    MqttConnection(const MqttSettings &settings, MqttClient &client, QObject *parent = nullptr);

    void start();
    // Publishes `offline` and disconnects; stopped() follows once the bytes are out (at most
    // half a second), or at once when the broker is away.
    void stop();
    bool isConnected() const { return m_state == State::Connected; }

signals:
    // From inside the library: what the slots publish goes out once it returns.
    void connected();
    // A change of state, for the log: a failure (and so told even by a quiet relay) or not. This
    // and stopped() come from the event loop, so that a slot may do anything with the connection.
    void event(const QString &line, bool failure);
    void stopped();

private:
    enum class State { Idle, Resolving, Connecting, Connected, Waiting, Stopping };

    void resolved(const QList<QHostAddress> &addresses);
    void connectNext();
    void answered(int code);
    void acknowledged(int mid);
    void ended(const QString &reason);
    void attemptFailed(const QString &reason);
    void retryLater(const QString &line);
    void backOff();
    void finishStop();
    QString where() const;
    void later(std::function<void()> emission);

    const MqttSettings m_settings;
    const QString m_status;
    const QByteArray m_clientId;
    MqttClient &m_client;
    HostLookup m_lookup;
    QTimer m_retry;
    QTimer m_stopGuard;
    QTimer m_settled;
    State m_state = State::Idle;
    QList<QHostAddress> m_addresses;
    int m_delay = 1;          // seconds before the next attempt
    int m_takenOverDelay = 0; // seconds waited after the session was last taken over
    int m_refusal = 0;
    QString m_lastLine; // the last failure logged, not logged again until connected
    int m_offlineMid = -1;
};
