#pragma once

#include "clientidlock.h"
#include "diagnostics.h"
#include "outputs.h"
#include "pollcycle.h"
#include "relaybroker.h"
#include "relaylog.h"
#include "relayoptions.h"
#include "relaystatus.h"
#include "requestevents.h"

#include <QElapsedTimer>
#include <QObject>
#include <memory>

class Poller;
class PollTimer;

// The relay without a desktop: polls the request file as the mode windows do, on the same beat
// and with the same cycle, and sends every tick's command to each of its outputs. It logs what
// happens, never what merely goes on: a request appearing, its command changing, the request going
// away, failures and their ends. The state of an appliance on the broker is what at least one
// output took (the broker's command topic, for a relay with no other output): a command every
// output refused leaves it as it was.
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
    // the serial port, the broker link. One line of the log tells what changed. Whole or not at
    // all: when a new output cannot be had, the failure says why and the relay goes on as before,
    // to try the same settings afresh at the next reload.
    Result<void> reload(const RelayOptions &options);

    // A request that came over MQTT: its command goes out once to every output.
    void requestArrived(const QByteArray &payload);

signals:
    void stopped();
    // The outputs are bound and the first beat has run: at once for a relay without a request
    // file.
    void serving();
    // One line on what is served and which outputs fail, anew at start, after a reload and when
    // an output begins to fail or works again.
    void statusChanged(const QString &line);

private:
    void polled(const PollEvent &event);
    void noteRequest(const PollEvent &event);
    void commandTaken(const QString &command);
    std::unique_ptr<Poller> pollerFor(const QString &requestFile);

    RelayOptions m_options;
    RelayLog &m_log;
    ClientIdLock m_clientIdLock;
    Outputs m_outputs;
    Diagnostics m_diagnostics;
    RelayStatus m_status;
    PollTimer *m_timer;
    std::unique_ptr<Poller> m_poller;
    RelayBroker m_broker;
    Failures m_unreadable;
    RequestEvents m_requests;
    bool m_serving = false;
    // A request over MQTT went out between ticks: the file's command, sent again, is the state.
    bool m_fileCommandOwed = false;
    // The file's command went out on the broker, but no output has taken it yet.
    bool m_stateOwed = false;
    qint64 m_servingSince = 0;
    QString m_command;
};
