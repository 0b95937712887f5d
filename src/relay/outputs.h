#pragma once

#include "hostlookup.h"
#include "relaylog.h"
#include "relayoptions.h"
#include "serialtransport.h"
#include "udptransport.h"

#include <QObject>
#include <QSerialPort>
#include <QString>

class QUdpSocket;

// One place the relay's commands go, with its books: how many went out (or were skipped) while
// the request stood, and its failures, told as they start, last and end.
class Output : public QObject {
public:
    explicit Output(RelayLog &log, QObject *parent = nullptr);

    // Sends one tick's command, which is never empty.
    void deliver(const QString &command);
    // What went out since the books were last opened, for the line that closes them.
    QString tally() const;
    void openBooks();

    virtual QString name() const = 0;

protected:
    enum class Outcome { Sent, Skipped, Failed };
    // On failure `reason` says why, in Chinese.
    virtual Outcome send(const QString &command, QString *reason) = 0;

    RelayLog &m_log;

private:
    Failures m_failures;
    qint64 m_sent = 0;
    qint64 m_skipped = 0;
};

// Datagrams from local port P to a host's port P, on a socket that other destinations with the
// same port share. A host name is looked up without holding up the beat, and looked up again
// every half minute for as long as it cannot be found.
class UdpOutput : public Output {
public:
    UdpOutput(const UdpDestination &destination, QUdpSocket &socket, RelayLog &log,
              QObject *parent = nullptr);

    // False, with errorString() saying why, when the port cannot be had.
    bool start();
    QString errorString() const { return m_transport.errorString(); }

    QString name() const override;

private:
    Outcome send(const QString &command, QString *reason) override;
    void lookedUp(const QList<QHostAddress> &addresses);

    const UdpDestination m_destination;
    UdpTransport m_transport;
    enum class Address { Known, Looking, Unknown } m_address = Address::Looking;
    HostLookup m_lookup;
};

// The serial line: the given device, or the first of the candidates that is there, followed as
// the Bluetooth window follows it; a move to another device is told.
class SerialOutput : public Output {
public:
    SerialOutput(const RelayOptions &options, RelayLog &log, QObject *parent = nullptr);

    QString name() const override;

private:
    Outcome send(const QString &command, QString *reason) override;

    const bool m_auto;
    const QString m_given;
    QSerialPort m_port;
    SerialTransport m_transport;
    QString m_device;
};
