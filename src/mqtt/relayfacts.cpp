#include "relayfacts.h"

#include <QRegularExpression>

namespace {
const QString UdpKey = QStringLiteral("udp_");
}

QString OutputFacts::serialKey()
{
    return QStringLiteral("serial");
}

QString OutputFacts::udpKey(const QString &host, quint16 port)
{
    return UdpKey +
           QString::fromLatin1(QStringLiteral("%1:%2").arg(host).arg(port).toUtf8().toHex());
}

bool OutputFacts::isKey(const QString &key)
{
    static const QRegularExpression shape(QStringLiteral("^(serial|udp_([0-9a-f]{2})+)$"));
    return shape.match(key).hasMatch();
}

QString OutputFacts::nameOf(const QString &key)
{
    if (!key.startsWith(UdpKey))
        return QStringLiteral("串口");
    return QStringLiteral("UDP ") +
           QString::fromUtf8(QByteArray::fromHex(key.sliced(UdpKey.size()).toLatin1()));
}
