#pragma once

#include "clientidlock.h"
#include "outputs.h"
#include "pollcycle.h"
#include "relaylog.h"
#include "relayoptions.h"
#include "requestevents.h"

#include <QElapsedTimer>
#include <QObject>
#include <map>
#include <memory>
#include <vector>

class MqttLink;
class Poller;
class PollTimer;
class QUdpSocket;

// The relay without a desktop: polls the request file as the mode windows do, on the same beat
// and with the same cycle, and sends every tick's command to each of its outputs. It logs what
// happens, never what merely goes on: a request appearing, its command changing, the request going
// away, failures and their ends.
class Relay : public QObject {
    Q_OBJECT

public:
    Relay(const RelayOptions &options, RelayLog &log, QObject *parent = nullptr);
    ~Relay() override;

    // Takes the outputs' ports and starts the beat. False when a port cannot be had; the log
    // says why.
    bool start();
    // Leaves the broker cleanly, where there is one; stopped() follows, at once without one.
    void stop();

    // Goes on with `options`, keeping what did not change: a UDP destination's socket and port,
    // the serial port, the broker link. One line of the log tells what changed.
    void reload(const RelayOptions &options);

    // A request that came over MQTT: its command goes out once to every output.
    void requestArrived(const QByteArray &payload);

signals:
    void stopped();

private:
    void polled(const PollEvent &event);
    void noteRequest(const PollEvent &event);
    QString outputsLine() const;
    UdpOutput *addUdp(const UdpDestination &destination);
    void reloadUdp(const QList<UdpDestination> &destinations);
    void replaceSerial(const RelayOptions &options);
    void replaceBroker(const std::optional<MqttSettings> &settings);
    void replacePoller(const QString &requestFile);
    Result<void> holdClientId(const std::optional<MqttSettings> &settings);
    void warnOfReadablePassword(const RelayOptions &options);

    RelayOptions m_options;
    RelayLog &m_log;
    ClientIdLock m_clientIdLock;
    std::map<quint16, QUdpSocket *> m_sockets;
    std::vector<UdpOutput *> m_udp;
    Outputs m_outputs;
    PollTimer *m_timer;
    std::unique_ptr<Poller> m_poller;
    MqttLink *m_mqtt = nullptr;
    Failures m_unreadable;
    SerialOutput *m_serial = nullptr;
    bool m_started = false;
    RequestEvents m_requests;
    bool m_serving = false;
    // A request over MQTT went out between ticks: the file's command, sent again, is the state.
    bool m_fileCommandOwed = false;
    qint64 m_servingSince = 0;
    QString m_command;
};
