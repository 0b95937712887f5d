#pragma once

#include <QHostAddress>
#include <QList>
#include <QNetworkDatagram>
#include <QTest>
#include <QUdpSocket>

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
    explicit UdpListener(quint16 port)
    {
        m_bound = m_socket.bind(QHostAddress::LocalHost, port,
                                QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint);
        QObject::connect(&m_socket, &QUdpSocket::readyRead, &m_socket, [this] {
            while (m_socket.hasPendingDatagrams())
                received.append(m_socket.receiveDatagram());
        });
    }

    bool isBound() const { return m_bound; }

    // Waits until everything sent before this call has arrived: a datagram sent now from
    // elsewhere comes after all of it on loopback. False if it never came.
    bool catchUp()
    {
        static const QByteArray sentinel("sentinel");
        QUdpSocket other;
        other.writeDatagram(sentinel, QHostAddress::LocalHost, m_socket.localPort());
        const bool arrived = QTest::qWaitFor(
            [this] { return !received.isEmpty() && received.last().data() == sentinel; }, 30000);
        if (arrived)
            received.removeLast();
        return arrived;
    }

    QList<QNetworkDatagram> received;

private:
    QUdpSocket m_socket;
    bool m_bound = false;
};
