#pragma once

#include "gbk.h"
#include "mqttsettings.h"

#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

class MqttTls;
class QHostInfo;
class QSocketNotifier;
struct mosquitto;
struct mosquitto_message;

// The relay's link to an MQTT broker, driven by libmosquitto from the Qt event loop: nothing it
// does waits on the network, connecting included. It announces itself at PREFIX/status (`online`,
// retained; the will says `offline`), publishes commands at PREFIX/command and the last state of
// each appliance at PREFIX/state/<device word> (retained), and passes on every message of
// PREFIX/request. When the broker is away it keeps trying, more and more slowly, and keeps the
// latest command for when it is back. Signals are emitted from the event loop, never from inside
// the library, so a slot may do anything with the link, stop() or delete it included.
class MqttLink : public QObject {
    Q_OBJECT

public:
    explicit MqttLink(const MqttSettings &settings, QObject *parent = nullptr);
    // Drops the connection without a word to the broker, which then publishes the will: call
    // stop() first for a clean end.
    ~MqttLink() override;

    void start();
    // Publishes `offline` and disconnects; stopped() follows once the bytes are out (at most
    // half a second), or at once when the broker is away.
    void stop();
    // Publishes the command once, and the state it gives its appliance; an empty command
    // publishes nothing.
    void publishCommand(const QString &command);
    bool isConnected() const { return m_state == State::Connected; }

signals:
    void requestArrived(const QByteArray &payload);
    // A change of state, for the log: a failure (and so told even by a quiet relay) or not.
    void event(const QString &line, bool failure);
    void stopped();

private:
    enum class State { Idle, Resolving, Connecting, Connected, Waiting, Stopping };

    void resolved(const QHostInfo &info);
    void connectNext();
    bool newClient(QString *error);
    void dropClient();
    void watchSocket();
    void readable();
    void writable();
    bool connectFailed();
    void afterIo(int rc);
    void updateWriter();
    void ended(int rc, int error);
    void attemptFailed(const QString &reason);
    void retryLater(const QString &line);
    void finishStop();

    void connected();
    void acknowledged(int mid);
    void received(const mosquitto_message &message);

    void sendCommand();
    int publish(const QString &topic, const QString &text, bool retain, int *mid = nullptr);
    QString topic(const QString &leaf) const;
    QString where() const;
    void later(std::function<void()> emission);

    const MqttSettings m_settings;
    const QByteArray m_clientId;
    Gbk m_gbk;
    std::unique_ptr<MqttTls> m_tls;
    mosquitto *m_client = nullptr;
    int m_socket = -1;
    QSocketNotifier *m_reader = nullptr;
    QSocketNotifier *m_writer = nullptr;
    QTimer m_housekeeping;
    QTimer m_retry;
    QTimer m_stopGuard;
    State m_state = State::Idle;
    int m_lookup = -1;
    QList<QHostAddress> m_addresses;
    int m_delay = 1; // seconds before the next attempt
    int m_refusal = 0;
    QString m_lastLine; // the last failure logged, not logged again until connected
    QString m_command;  // published but not yet acknowledged, or waiting for the broker
    int m_commandMid = -1;
    int m_offlineMid = -1;
    QMap<QString, QString> m_states; // device word: 启动 or 关闭, published on every connect
};
