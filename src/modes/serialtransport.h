#pragma once

#include "gbk.h"
#include "pollcycle.h"

#include <QString>
#include <QStringList>

class QSerialPort;

// Writes each command as its GBK bytes to a serial line at 9600 baud, 8N1, no handshaking, and
// never reads. The port is opened at the first command that has bytes to send, on the first
// candidate device that exists, and opened afresh after any failure, so a device plugged in late
// or back again is picked up by the next command.
class SerialTransport : public Transport {
public:
    SerialTransport(QSerialPort *port, const QStringList &devices);

    // A Bluetooth serial link bound to rfcomm0, then USB serial modules, then the first UART.
    static QStringList defaultDevices();
    // The line both ends agree on: 9600 baud, 8 data bits, no parity, 1 stop bit, no handshaking.
    static void setLine(QSerialPort &port);

    bool send(const QString &command) override;
    QString errorString() const override { return m_error; }

private:
    bool open();
    bool readyForMore() const;
    bool fail(const QString &reason);

    QSerialPort *m_port;
    QStringList m_devices;
    QString m_device;
    CommandBytes m_bytes;
    QString m_error;
};
