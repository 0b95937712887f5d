#pragma once

#include "commandsplitter.h"
#include "result.h"

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdio>

class QSerialPort;
class QUdpSocket;

// Stands in for the appliance side: receives what the server sends over UDP, over a serial line,
// or both, and prints one line for each command, with the time it arrived and where it came from.
// Bytes that are not a command are printed in hexadecimal.
class Listener : public QObject {
    Q_OBJECT

public:
    explicit Listener(std::FILE *out, QObject *parent = nullptr);

    // Binds with address sharing, so that the server on the same machine can hold the port too.
    Result<void> listenUdp(const QHostAddress &address, quint16 port);
    Result<void> openSerial(const QString &device);

    // Prints what the serial line left without an ending.
    void flush();
    // At the end: reads what has arrived but not been seen yet, then prints everything left.
    void finish();

    // How long the serial line stays quiet before bytes without an ending are printed.
    static constexpr int QuietMs = 200;

signals:
    // The serial device went away, as when a Bluetooth link drops or a cable is pulled.
    void serialLost(const QString &reason);

private:
    void readDatagrams();
    void readSerial();
    void print(const QString &from, const QList<Received> &received);

    std::FILE *m_out;
    QUdpSocket *m_udp = nullptr;
    QSerialPort *m_serial = nullptr;
    QString m_device;
    QTimer m_quiet;
    CommandSplitter m_splitter;
};
