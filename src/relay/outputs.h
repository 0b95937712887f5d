#pragma once

#include "hostlookup.h"
#include "relayfacts.h"
#include "relaylog.h"
#include "relayoptions.h"
#include "serialtransport.h"
#include "udptransport.h"

#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QUdpSocket;

// One place the relay's commands go, with its books: how many went out (or were skipped) while
// the request stood, and its failures, told as they start, last and end. It also keeps what the
// diagnostics show of it, counted as it goes: nothing of that is made per command.
class Output : public QObject {
    Q_OBJECT

public:
    explicit Output(RelayLog &log, QObject *parent = nullptr);

    // Hands one command, never empty, to the output; book() then enters what became of it.
    const Result<Delivery> &deliver(const QString &command);
    // Enters the last delivery in the books and tells what it changed.
    virtual void book();
    // What went out since the books were last opened, for the line that closes them.
    QString tally() const;
    void openBooks();
    bool isFailing() const { return m_failures.isFailing(); }

    virtual QString name() const = 0;
    virtual OutputFacts facts() const;
    bool isConnected() const { return m_connected; }

signals:
    // The output began to fail, or works again.
    void failingChanged();
    void connectivityChanged();

protected:
    // Busy when the output had to skip the command for now.
    virtual Result<Delivery> send(const QString &command) = 0;
    // Whether the output could take a command, as far as it knows without sending one.
    virtual bool isReachable() const = 0;
    // Tells a change of isReachable() or of the last delivery.
    void checkConnectivity();

    RelayLog &m_log;

private:
    Failures m_failures;
    std::optional<Result<Delivery>> m_delivered;
    qint64 m_sent = 0;
    qint64 m_skipped = 0;
    // Since the start, for the diagnostics.
    qint64 m_sends = 0;
    qint64 m_skips = 0;
    qint64 m_refusals = 0;
    QString m_lastFailure;
    bool m_refused = false; // the last delivery
    bool m_connected = false;
};

// Datagrams from local port P to a host's port P, on a socket that other destinations with the
// same port share. A host name is looked up without holding up the beat, and looked up again
// every half minute for as long as it cannot be found.
class UdpOutput : public Output {
public:
    UdpOutput(const UdpDestination &destination, QUdpSocket &socket, RelayLog &log,
              QObject *parent = nullptr);

    // Fails when the port cannot be had.
    Result<void> start();

    QString name() const override;
    OutputFacts facts() const override;
    const UdpDestination &destination() const { return m_destination; }

private:
    Result<Delivery> send(const QString &command) override;
    bool isReachable() const override { return m_address == Address::Known; }
    void lookedUp(const QList<QHostAddress> &addresses);

    const UdpDestination m_destination;
    UdpTransport m_transport;
    enum class Address { Known, Looking, Unknown } m_address = Address::Looking;
    HostLookup m_lookup;
};

// The serial line: the given device, or the first of the candidates that is there, followed as
// the Bluetooth window follows it; a move to another device is told. While the line is open and
// works, it is looked at once a second, so that a device pulled while no command goes out is
// noticed too.
class SerialOutput : public Output {
    Q_OBJECT

public:
    SerialOutput(const RelayOptions &options, RelayLog &log, QObject *parent = nullptr);

    // Tells first when the line moved to another device.
    void book() override;
    QString name() const override;
    OutputFacts facts() const override;

private:
    Result<Delivery> send(const QString &command) override;
    bool isReachable() const override { return m_transport.isOpen() && !m_gone; }
    void look();

    const bool m_auto;
    const QString m_given;
    QSerialPort m_port;
    SerialTransport m_transport;
    QString m_device;
    QTimer m_watch;
    bool m_gone = false; // the open device went away while nothing was written
};

// Every output the settings name, made and owned here, behind one transport: a command goes to
// each in turn. The books are kept separately, so that the relay can tell what a command is before
// the outputs tell what became of it.
class Outputs : public QObject, public Transport {
    Q_OBJECT

public:
    explicit Outputs(RelayLog &log, QObject *parent = nullptr);
    ~Outputs() override;

    // Goes from the outputs of `before` to those of `after` (from none at the start), keeping what
    // stays: a UDP destination's output and its socket, the serial line. Whole or not at all: the
    // new UDP outputs are bound before anything changes, and when one cannot have its port, or
    // they would leave no file descriptor for the request file, the outputs stay as they were.
    Result<void> reload(const RelayOptions &before, const RelayOptions &after);

    // An empty command goes nowhere. Failed when an output refused the command, with the first
    // one's reason; otherwise Busy when an output skipped it.
    Result<Delivery> send(const QString &command) override;
    // At least one output took the last command sent, or there is none to take it (the broker's
    // command topic is then the output); false for an empty command.
    bool took() const { return m_took; }
    void book();
    void openBooks();
    QStringList tallies() const;
    // The names of those that fail now.
    QStringList failing() const;
    const std::vector<Output *> &all() const { return m_outputs; }
    std::vector<OutputFacts> facts() const;

signals:
    // An output was added or taken away, or its connectivity changed.
    void changed();

private:
    // One socket for each local port, shared by the destinations with that port.
    using Sockets = std::map<quint16, std::unique_ptr<QUdpSocket>>;
    using UdpOutputs = std::vector<std::unique_ptr<UdpOutput>>;

    Result<void> addUdp(const QList<UdpDestination> &destinations, Sockets &sockets,
                        UdpOutputs &added) const;
    void takeUdp(const QList<UdpDestination> &destinations, Sockets &sockets, UdpOutputs &added);

    RelayLog &m_log;
    Sockets m_sockets;
    UdpOutputs m_udp;
    std::unique_ptr<SerialOutput> m_serial;
    // Every output above, as send() goes through them: made again when they change, never per
    // tick.
    std::vector<Output *> m_outputs;
    bool m_took = false;
};
