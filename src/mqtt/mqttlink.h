#pragma once

#include "appliancestates.h"
#include "discovery.h"
#include "gbk.h"
#include "mqttclient.h"
#include "mqttconnection.h"
#include "mqttsettings.h"
#include "mqtttopics.h"
#include "neighbours.h"
#include "relayfacts.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

// The relay's link to an MQTT broker, driven by libmosquitto from the Qt event loop: nothing it
// does waits on the network, connecting included. It announces itself at PREFIX/status (`online`,
// retained; the will says `offline`), publishes commands at PREFIX/command and the last state of
// each appliance at PREFIX/state/<device word> (retained), and passes on every message of
// PREFIX/request but a retained one, which would be carried out again at every connection, and an
// empty one, which clears a retained one. It tells of another relay answering on the same prefix,
// and announces itself to a hub's discovery, again when the hub says it is back. It publishes the
// relay's diagnostics as they change (diagnosticmessages.h). When the broker is away it keeps
// trying, more and more slowly, and keeps the latest command and the diagnostics for
// when it is back. Signals are emitted from the event loop, never from inside the library, so a
// slot may do anything with the link, stop() or delete it included.
class MqttLink : public QObject {
    Q_OBJECT

public:
    explicit MqttLink(const MqttSettings &settings, QObject *parent = nullptr);

    void start();
    // Publishes `offline` and disconnects; stopped() follows once the bytes are out (at most
    // half a second), or at once when the broker is away. Deleting the link without stopping it
    // drops the connection without a word to the broker, which then publishes the will.
    void stop();
    // Publishes the command once; an empty command publishes nothing. `taken`: an output took it,
    // and the state it gives its appliance is published too.
    void publishCommand(const QString &command, bool taken);
    // An output took the command published before: the state it gives its appliance is published.
    void commandTaken(const QString &command);
    // Publishes what changed of the diagnostics, and the health message when `health`; both
    // are kept for publishing again on every connect.
    void publishDiagnostics(const RelayFacts &facts, bool health);
    // Keeps the state the command gives its appliance, published with the others on connecting;
    // the command itself is not published.
    void keepState(const QString &command) { m_states.keep(command); }
    bool isConnected() const { return m_connection.isConnected(); }

signals:
    void requestArrived(const QByteArray &payload);
    // A change of state, for the log: a failure (and so told even by a quiet relay) or not.
    void event(const QString &line, bool failure);
    void stopped();

private:
    void connected();
    void arrived(const QString &topic, const QByteArray &payload, bool retained);
    void greeted(const QByteArray &payload);
    void hubBack();
    void acknowledged(int mid);
    void sendCommand();
    void publishAll(const QList<Discovery::Message> &messages);
    void publishState(const ApplianceStates::State &state);
    QStringList outputKeys() const;
    // The diagnostics that differ from those published last, the health message too if
    // `health`; then, after a change of outputs, the announcement that names them.
    void sendDiagnostics(bool health);
    void publishChanged(const QString &topic, const QByteArray &payload);
    QByteArray encoded(const QString &text);

    const MqttSettings m_settings;
    const MqttTopics m_topics;
    Gbk m_gbk;
    MqttClient m_client;
    MqttConnection m_connection;
    QString m_command; // published but not yet acknowledged, or waiting for the broker
    int m_commandMid = -1;
    ApplianceStates m_states;
    Neighbours m_neighbours;
    Discovery m_discovery;
    QTimer m_hubBack;
    bool m_retainedTold = false;
    RelayFacts m_facts;
    QHash<QString, QByteArray> m_published; // since connecting
    QStringList m_announcedKeys;
};
