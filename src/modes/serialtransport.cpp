#include "serialtransport.h"

#include <QSerialPort>
#include <algorithm>

#ifdef Q_OS_WIN
#include <QSerialPortInfo>
#else
#include <QFileInfo>
#include <poll.h>
#endif

namespace {
bool deviceExists(const QString &device)
{
#ifdef Q_OS_WIN
    return !QSerialPortInfo(device).isNull();
#else
    return QFileInfo::exists(device);
#endif
}
} // namespace

SerialTransport::SerialTransport(QSerialPort *port, const QStringList &devices)
    : m_port(port)
    , m_devices(devices)
{
    setLine(*m_port);
}

void SerialTransport::setLine(QSerialPort &port)
{
    port.setBaudRate(QSerialPort::Baud9600);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
}

QStringList SerialTransport::defaultDevices()
{
#ifdef Q_OS_WIN
    return {QStringLiteral("COM1")};
#else
    return {QStringLiteral("/dev/rfcomm0"), QStringLiteral("/dev/ttyUSB0"),
            QStringLiteral("/dev/ttyACM0"), QStringLiteral("/dev/ttyS0")};
#endif
}

bool SerialTransport::send(const QString &command)
{
    if (command.isEmpty())
        return true;
    // The rest of a command that went out after its tick may have failed since; a lost device
    // needs a fresh handle once it is back.
    if (m_port->isOpen() && m_port->error() != QSerialPort::NoError)
        m_port->close();
    if (!m_port->isOpen() && !open())
        return false;
    if (!readyForMore())
        return fail(QStringLiteral("串口忙，本次未发送"));

    m_port->write(m_bytes.of(command));
    if (!m_port->flush() || m_port->error() != QSerialPort::NoError) {
        m_port->close();
        return fail(QStringLiteral("串口 %1 写入失败，设备可能已断开").arg(m_device));
    }
    return true;
}

bool SerialTransport::open()
{
    const auto found = std::find_if(m_devices.cbegin(), m_devices.cend(), deviceExists);
    if (found == m_devices.cend())
        return fail(QStringLiteral("未找到串口设备"));
    m_device = *found;
    m_port->setPortName(m_device);
    m_port->clearError();
    if (m_port->open(QIODevice::WriteOnly))
        return true;
    if (m_port->error() == QSerialPort::PermissionError)
        return fail(QStringLiteral("串口 %1 无法打开：没有权限或已被占用").arg(m_device));
    return fail(QStringLiteral("串口 %1 无法打开").arg(m_device));
}

// One command waits at a time: while the line is slower than the ticks the rest are refused whole,
// so nothing piles up and no command is split.
bool SerialTransport::readyForMore() const
{
    if (m_port->bytesToWrite() > 0)
        return false;
#ifdef Q_OS_WIN
    return true;
#else
    // The tty driver signals room only while little is queued for the line. Waiting for that keeps
    // a slow line's backlog short and spares a write that finds no room at all, which the port
    // would report just like a lost device. A hung-up line is let through so the write tells.
    pollfd line{int(m_port->handle()), POLLOUT, 0};
    return ::poll(&line, 1, 0) > 0 && (line.revents & (POLLOUT | POLLERR | POLLHUP));
#endif
}

bool SerialTransport::fail(const QString &reason)
{
    m_error = reason;
    return false;
}
