#include "listener.h"

#include "console.h"
#include "errors.h"
#include "serialtransport.h"

#include <QNetworkDatagram>
#include <QSerialPort>
#include <QUdpSocket>

namespace {
QString origin(const QNetworkDatagram &datagram)
{
    const QHostAddress address = datagram.senderAddress();
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? u'[' + address.toString() + u']'
                             : address.toString();
    return host + u':' + QString::number(datagram.senderPort());
}

QString describe(const Received &received)
{
    if (received.isCommand())
        return received.command;
    if (received.unparsed.isEmpty())
        return QStringLiteral("无法识别的 0 字节");
    return QStringLiteral("无法识别的 %1 字节：%2")
        .arg(received.unparsed.size())
        .arg(QString::fromLatin1(received.unparsed.toHex(' ').toUpper()));
}
} // namespace

Listener::Listener(std::FILE *out, QObject *parent)
    : QObject(parent)
    , m_out(out)
{
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(QuietMs);
    connect(&m_quiet, &QTimer::timeout, this, &Listener::flush);
}

Result<void> Listener::listenUdp(const QHostAddress &address, quint16 port)
{
    m_udp = new QUdpSocket(this);
    if (!m_udp->bind(address, port,
                     QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint))
        return Failure(QStringLiteral("无法在 %1 端口 %2 上接收：%3")
                           .arg(address.toString())
                           .arg(port)
                           .arg(Errors::socket(m_udp->error())));
    connect(m_udp, &QUdpSocket::readyRead, this, &Listener::readDatagrams);
    return {};
}

Result<void> Listener::openSerial(const QString &device)
{
    m_device = device;
    m_serial = new QSerialPort(device, this);
    SerialTransport::setLine(*m_serial);
    if (!m_serial->open(QIODevice::ReadOnly))
        return Failure(QStringLiteral("无法打开串口 %1：%2")
                           .arg(device, Errors::serialPort(m_serial->error())));
    connect(m_serial, &QSerialPort::readyRead, this, &Listener::readSerial);
    connect(m_serial, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) {
                // A line that hangs up reads as nothing but errors from then on.
                if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError)
                    return;
                flush();
                m_serial->close();
                emit serialLost(QStringLiteral("串口 %1 已断开").arg(m_device));
            });
    return {};
}

void Listener::flush()
{
    if (m_serial)
        print(m_device, m_splitter.flush());
}

void Listener::finish()
{
    if (m_udp)
        readDatagrams();
    if (m_serial && m_serial->isOpen())
        m_serial->waitForReadyRead(0); // emits readyRead for whatever is there
    flush();
}

void Listener::readDatagrams()
{
    while (m_udp->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_udp->receiveDatagram();
        print(origin(datagram), m_splitter.datagram(datagram.data()));
    }
}

void Listener::readSerial()
{
    print(m_device, m_splitter.feed(m_serial->readAll()));
    if (m_splitter.hasPending())
        m_quiet.start();
    else
        m_quiet.stop();
}

void Listener::print(const QString &from, const QList<Received> &received)
{
    if (received.isEmpty())
        return;
    const QString time = timeStamp();
    QString lines;
    for (const Received &one : received)
        lines += QStringLiteral("%1  %2  %3\n").arg(time, from, describe(one));
    writeText(m_out, lines);
}
