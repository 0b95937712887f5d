#include "udptransport.h"

#include "errors.h"

#include <QUdpSocket>

UdpTransport::UdpTransport(QUdpSocket &socket)
    : m_socket(socket)
{
}

Result<void> UdpTransport::bind(quint16 port)
{
    // Several destinations may share one socket and its port.
    if (m_socket.state() == QAbstractSocket::BoundState && m_socket.localPort() == port) {
        m_port = port;
        return {};
    }
    const Result<void> bound = bindShared(port);
    if (bound)
        m_port = port;
    return bound;
}

void UdpTransport::setDestination(const QHostAddress &destination)
{
    m_destination = destination;
}

void UdpTransport::release()
{
    m_socket.close();
}

Result<Delivery> UdpTransport::send(const QString &command)
{
    if (command.isEmpty())
        return Delivery::Sent;
    const QByteArray &bytes = m_bytes.of(command);
    const qint64 written = m_socket.writeDatagram(bytes, m_destination, m_port);
    if (written == bytes.size())
        return Delivery::Sent;
    return Failure(written < 0 ? Errors::socket(m_socket.error())
                               : QStringLiteral("只发出了部分数据"));
}

std::optional<quint16> UdpTransport::portFrom(const QString &typed)
{
    const QString text = typed.normalized(QString::NormalizationForm_KC).trimmed();
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    bool ok = false;
    const uint port = text.toUInt(&ok);
    if (!ok || port < 1 || port > 65535)
        return std::nullopt;
    return quint16(port);
}

QString UdpTransport::hostFrom(const QString &typed)
{
    return typed.normalized(QString::NormalizationForm_KC).trimmed().replace(u'。', u'.');
}

std::optional<QHostAddress> UdpTransport::firstIPv4(const QList<QHostAddress> &addresses)
{
    for (const QHostAddress &address : addresses) {
        bool isIPv4 = false;
        const quint32 ipv4 = address.toIPv4Address(&isIPv4);
        if (isIPv4)
            return QHostAddress(ipv4);
    }
    return std::nullopt;
}
