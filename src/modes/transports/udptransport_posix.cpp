#include "udptransport.h"

#include "errors.h"

#include <QUdpSocket>

// SO_REUSEADDR: another program asking for it too can listen on the port, whether it binds
// before the server or after it.
Result<void> UdpTransport::bindShared(quint16 port)
{
    if (!m_socket.bind(QHostAddress::AnyIPv4, port, QAbstractSocket::ShareAddress))
        return Failure(Errors::socket(m_socket.error()));
    return {};
}
