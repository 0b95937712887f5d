#include "udptransport.h"

#include "errors.h"

#include <QUdpSocket>

// On Windows SO_REUSEADDR binds even a port that another program holds, and takes it from under
// that program. A plain bind tries first whether anyone holds the port; only then is it bound
// with SO_REUSEADDR, so that an appliance program binding after the server can join it. A port
// held exclusively, or reserved by the system, refuses with an access error: to the user it is
// simply taken.
Result<void> UdpTransport::bindShared(quint16 port)
{
    QUdpSocket probe;
    if (!probe.bind(QHostAddress::AnyIPv4, port, QAbstractSocket::ShareAddress))
        return Failure(Errors::socket(probe.error() == QAbstractSocket::SocketAccessError
                                          ? QAbstractSocket::AddressInUseError
                                          : probe.error()));
    probe.close();
    if (!m_socket.bind(QHostAddress::AnyIPv4, port,
                       QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint))
        return Failure(Errors::socket(m_socket.error()));
    return {};
}
