#pragma once

#include "support.h"

#include <QHostAddress>
#include <QList>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QVariant>

// A UDP port nobody holds right now, on loopback.
inline quint16 freePort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

// An appliance program on this machine listening on port P, sharing the port with the server's
// socket. Datagrams are collected as the event loop delivers them.
class UdpListener {
public:
    explicit UdpListener(quint16 port, const QHostAddress &address = QHostAddress::LocalHost)
        : m_address(address)
    {
        m_bound = m_socket.bind(address, port,
                                QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint);
        // Windows ticking every millisecond on the thread that also reads here: a deep queue
        // rides out a slow turn of the event loop instead of dropping datagrams.
        m_socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 1 << 22);
        QObject::connect(&m_socket, &QUdpSocket::readyRead, &m_socket, [this] {
            while (m_socket.hasPendingDatagrams()) {
                const QNetworkDatagram datagram = m_socket.receiveDatagram();
                if (datagram.data() == QByteArray(1, Sentinel))
                    m_sentinelsAt.append(received.size());
                else
                    received.append(datagram);
            }
        });
    }

    bool isBound() const { return m_bound; }

    // Sends a sentinel from elsewhere: on loopback it arrives after everything sent before it.
    // Returns its ordinal, counted from 1.
    int dropSentinel()
    {
        QUdpSocket other;
        other.writeDatagram(QByteArray(1, Sentinel), m_address, m_socket.localPort());
        return ++m_sentinels;
    }

    // Waits until everything sent before this call has arrived; false if it never came.
    bool catchUp()
    {
        const int ordinal = dropSentinel();
        return runUntil([this, ordinal] { return m_sentinelsAt.size() >= ordinal; });
    }

    QList<QNetworkDatagram> received;

private:
    QHostAddress m_address;
    QUdpSocket m_socket;
    bool m_bound = false;
    int m_sentinels = 0;
    QList<qsizetype> m_sentinelsAt;
};
