#pragma once

#include "gbk.h"
#include "pollcycle.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>
#include <vector>

class QSerialPort;

// Writes each command as its GBK bytes to a serial line at 9600 baud, 8N1, no handshaking, and
// never reads. The line goes to the first of the candidate devices that exists: the port is opened
// at the first command that has bytes to send; when a device earlier in the list appears, or the
// open one goes away, the next command goes to the first one there is; a device that stays is
// never closed and opened again (that would toggle DTR, which resets many USB serial boards).
// After a failure the port is opened afresh, so a device plugged in late or back again is picked
// up by the next command.
class SerialTransport : public Transport {
public:
    SerialTransport(QSerialPort *port, const QStringList &devices, qint32 baudRate = 9600);

    // A Bluetooth serial link bound to rfcomm0, then USB serial modules, then the first UART; COM1
    // on Windows.
    static QStringList defaultDevices();
    // The line both ends agree on: 9600 baud, 8 data bits, no parity, 1 stop bit, no handshaking.
    static void setLine(QSerialPort &port, qint32 baudRate = 9600);

    // Busy while the line still carries the command before: this one is then skipped whole.
    Result<Delivery> send(const QString &command) override;

    // The device the line is on, empty while none is open.
    QString device() const { return m_open >= 0 ? m_devices[m_open] : QString(); }
    bool isOpen() const { return m_open >= 0; }
    // The device the line is open on is still there.
    bool isPresent() const { return m_open >= 0 && exists(m_nativeNames[size_t(m_open)]); }

private:
    // Where the line should go now: the first candidate that exists, or -1.
    qsizetype firstPresent() const;
    Result<void> open(qsizetype candidate);

    // What differs between platforms, in a file of its own per platform: how a device is named
    // to the system and looked up without opening it, how a port must be opened, and whether the
    // line has room for another command.
    static QByteArray nativeName(const QString &device);
    static bool exists(const QByteArray &nativeName);
    static QIODevice::OpenMode openMode();
    // A lock file under the device's name that QSerialPort would read and wait on: its path, or
    // empty.
    static QString unusableLockFile(const QString &device);
    bool lineHasRoom() const;
    // Hands the bytes to the line; what does not fit at once waits in the port. False when the
    // line failed.
    bool write(const QByteArray &bytes);

    QSerialPort *m_port;
    QStringList m_devices;
    std::vector<QByteArray> m_nativeNames;
    qsizetype m_open = -1;
    CommandBytes m_bytes;
};
