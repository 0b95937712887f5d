#pragma once

#include "mqttsettings.h"
#include "result.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

class MqttTls;
class QSocketNotifier;
struct mosquitto;

// libmosquitto's client driven from the Qt event loop: its socket is watched by notifiers and its
// housekeeping runs once a second, so that nothing waits on the network, connecting included. It
// speaks MQTT 5 and tells the broker the largest packet it takes, so that an oversized message is
// dropped by the broker and never read; with a broker that speaks only MQTT 3.1.1, it speaks that.
class MqttClient : public QObject {
    Q_OBJECT

public:
    explicit MqttClient(const MqttSettings &settings, QObject *parent = nullptr);
    ~MqttClient() override;

    // What the broker publishes for a client that went without a word.
    void setWill(const QString &topic, const QByteArray &payload);
    // Starts connecting to `address`; why not when that fails at once. The broker's answer comes
    // as answered(); a connection that fails or ends later, as ended().
    Result<void> open(const QHostAddress &address);
    // Drops the connection without a word to the broker, which then publishes the will.
    void close();
    // Ends the connection with a word to the broker, which then keeps the will to itself.
    void sendDisconnect();

    // At QoS 1: the message's id, or why the library would not take it.
    Result<int> publish(const QString &topic, const QByteArray &payload, bool retain);
    // Retained, at QoS 1, for what every connection publishes anew: one lost with its connection
    // needs no word.
    void publishFact(const QString &topic, const QByteArray &payload);
    // Not retained, at QoS 1, for a word to whoever listens now: one lost needs no word either.
    void notify(const QString &topic, const QByteArray &payload);
    void subscribe(const QString &topic);
    // Has what was published, other than from the slots below, go out.
    void sendPublished();
    // The reason the broker gave for closing the last connection (MQTT 5), or 0.
    int closedFor() const { return m_closedFor; }

signals:
    // From inside the library: what the slots publish goes out once it returns.
    void answered(int code); // 0: connected, else the broker's reason for refusing
    void acknowledged(int mid);
    // `retained`: kept by the broker from before, not sent just now.
    void messageArrived(const QString &topic, const QByteArray &payload, bool retained);
    // The client is closed by then.
    void ended(const QString &reason);

private:
    Result<void> newClient();
    Result<void> askForLargestPacket();
    void watchSocket();
    void readable();
    void keepHouse();
    void writable();
    bool socketUsable();
    void afterIo(int rc);
    void updateWriter();
    void end(const QString &reason);
    QString reason(int rc, int error) const;

    const MqttSettings m_settings;
    const QByteArray m_clientId;
    QString m_willTopic;
    QByteArray m_will;
    std::unique_ptr<MqttTls> m_tls;
    mosquitto *m_client = nullptr;
    bool m_accepted = false;
    int m_closedFor = 0;
    bool m_legacy = false;     // the broker speaks MQTT 3.1.1 only
    bool m_speakAgain = false; // ...which it has just said
    QHostAddress m_address;
    int m_socket = -1;
    QSocketNotifier *m_reader = nullptr;
    QSocketNotifier *m_writer = nullptr;
    QTimer m_housekeeping;
};
