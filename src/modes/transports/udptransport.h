#pragma once

#include "gbk.h"
#include "pollcycle.h"

#include <QAbstractSocket>
#include <QHostAddress>
#include <QString>
#include <optional>

class QUdpSocket;

// Sends each command as one datagram of its GBK bytes from local port P to the destination's
// port P. Nothing is ever read from the socket.
class UdpTransport : public Transport {
public:
    explicit UdpTransport(QUdpSocket &socket);

    // Binds local port P on every IPv4 address, shared with other programs on this machine that
    // ask for sharing as well, so an appliance program can listen on the same port (on Windows
    // one that binds after the server: a port another program holds is reported as taken). After
    // a failure release() frees the socket. A socket already bound to the port is taken as it is.
    Result<void> bind(quint16 port);
    void setDestination(const QHostAddress &destination);
    // Closes the socket so that the port is free again.
    void release();

    // An empty command puts nothing on the wire and counts as sent.
    Result<Delivery> send(const QString &command) override;

    // A port as a person types it: surrounding spaces ignored, full-width digits from a Chinese
    // input method accepted; nothing unless it is a whole number from 1 to 65535.
    static std::optional<quint16> portFrom(const QString &typed);
    // A host as a person types it: surrounding spaces ignored, full-width characters and the
    // ideographic full stop "。" of a Chinese input method read as their ASCII forms.
    static QString hostFrom(const QString &typed);
    // The first IPv4 address among `addresses`, the way a host name is taken.
    static std::optional<QHostAddress> firstIPv4(const QList<QHostAddress> &addresses);

private:
    // Binds the socket for sharing, the way the platform allows it (a file of its own per
    // platform).
    Result<void> bindShared(quint16 port);

    QUdpSocket &m_socket;
    quint16 m_port = 0;
    QHostAddress m_destination;
    CommandBytes m_bytes;
};
