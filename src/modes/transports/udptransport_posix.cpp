#include "udptransport.h"

#include <QUdpSocket>

// SO_REUSEADDR: another program asking for it too can listen on the port, whether it binds
// before the server or after it.
QAbstractSocket::SocketError UdpTransport::bindShared(quint16 port)
{
    if (m_socket.bind(QHostAddress::AnyIPv4, port, QAbstractSocket::ShareAddress))
        return QAbstractSocket::UnknownSocketError;
    return m_socket.error();
}
