#include "outputs.h"

#include <QUdpSocket>

namespace {
constexpr int LookUpAgainMs = 30000;
}

Output::Output(RelayLog &log, QObject *parent)
    : QObject(parent)
    , m_log(log)
    , m_failures(log)
{
}

void Output::deliver(const QString &command)
{
    QString reason;
    switch (send(command, &reason)) {
    case Outcome::Sent:
        ++m_sent;
        if (m_failures.isFailing())
            m_failures.ended(name());
        break;
    case Outcome::Skipped:
        ++m_skipped;
        break;
    case Outcome::Failed:
        m_failures.failed(name() + QStringLiteral(" 发送失败"), reason);
        break;
    }
}

QString Output::tally() const
{
    QString line = QStringLiteral("%1 发送 %2 次").arg(name()).arg(m_sent);
    if (m_skipped > 0)
        line += QStringLiteral("（线路忙，跳过 %1 次）").arg(m_skipped);
    return line;
}

void Output::openBooks()
{
    m_sent = 0;
    m_skipped = 0;
}

UdpOutput::UdpOutput(const UdpDestination &destination, QUdpSocket &socket, RelayLog &log,
                     QObject *parent)
    : Output(log, parent)
    , m_destination(destination)
    , m_transport(socket)
{
    connect(&m_lookup, &HostLookup::finished, this, &UdpOutput::lookedUp);
}

bool UdpOutput::start()
{
    if (!m_transport.bind(m_destination.port))
        return false;
    const QHostAddress address(m_destination.host);
    if (address.isNull()) {
        m_lookup.start(m_destination.host);
    } else {
        m_transport.setDestination(address);
        m_address = Address::Known;
    }
    return true;
}

QString UdpOutput::name() const
{
    return QStringLiteral("UDP %1:%2").arg(m_destination.host).arg(m_destination.port);
}

Output::Outcome UdpOutput::send(const QString &command, QString *reason)
{
    switch (m_address) {
    case Address::Looking:
        return Outcome::Skipped;
    case Address::Unknown:
        *reason = QStringLiteral("找不到主机“%1”").arg(m_destination.host);
        return Outcome::Failed;
    case Address::Known:
        break;
    }
    if (m_transport.send(command))
        return Outcome::Sent;
    *reason = m_transport.errorString();
    return Outcome::Failed;
}

void UdpOutput::lookedUp(const QList<QHostAddress> &addresses)
{
    const std::optional<QHostAddress> address = UdpTransport::firstIPv4(addresses);
    if (!address) {
        m_address = Address::Unknown;
        m_lookup.retryIn(LookUpAgainMs);
        return;
    }
    m_transport.setDestination(*address);
    m_address = Address::Known;
    m_log.event(QStringLiteral("%1：主机“%2”的地址是 %3")
                    .arg(name(), m_destination.host, address->toString()));
}

SerialOutput::SerialOutput(const RelayOptions &options, RelayLog &log, QObject *parent)
    : Output(log, parent)
    , m_auto(options.serialAuto)
    , m_given(options.serialDevices.first())
    , m_transport(&m_port, options.serialDevices, options.baudRate)
{
}

QString SerialOutput::name() const
{
    if (!m_device.isEmpty())
        return QStringLiteral("串口 %1").arg(m_device);
    return m_auto ? QStringLiteral("串口（自动）") : QStringLiteral("串口 %1").arg(m_given);
}

Output::Outcome SerialOutput::send(const QString &command, QString *reason)
{
    const bool sent = m_transport.send(command);
    const QString device = m_transport.device();
    if (!device.isEmpty() && device != m_device) {
        m_log.event(
            m_device.isEmpty()
                ? QStringLiteral("串口 %1 已打开（%2 波特 8N1）").arg(device).arg(m_port.baudRate())
                : QStringLiteral("串口从 %1 改到 %2").arg(m_device, device));
        m_device = device;
    }
    if (sent)
        return Outcome::Sent;
    if (m_transport.wasBusy())
        return Outcome::Skipped;
    *reason = m_transport.errorString();
    return Outcome::Failed;
}
