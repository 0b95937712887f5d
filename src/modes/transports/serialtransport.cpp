#include "serialtransport.h"

#include "errors.h"

#include <QSerialPort>

SerialTransport::SerialTransport(QSerialPort *port, const QStringList &devices, qint32 baudRate)
    : m_port(port)
    , m_devices(devices)
{
    for (const QString &device : devices)
        m_nativeNames.push_back(nativeName(device));
    setLine(*m_port, baudRate);
    // Nothing is ever read; where the port has to be opened for reading too, it keeps no more
    // than this of what arrives.
    m_port->setReadBufferSize(64);
}

void SerialTransport::setLine(QSerialPort &port, qint32 baudRate)
{
    port.setBaudRate(baudRate);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
}

Result<Delivery> SerialTransport::send(const QString &command)
{
    if (command.isEmpty())
        return Delivery::Sent;
    const qsizetype wanted = firstPresent();
    // The rest of a command that went out after its tick may have failed since; a lost device
    // needs a fresh handle once it is back.
    if (m_port->isOpen() && (wanted != m_open || m_port->error() != QSerialPort::NoError)) {
        m_port->close();
        m_open = -1;
    }
    if (wanted < 0)
        return Failure(QStringLiteral("未找到串口设备"));
    if (!m_port->isOpen()) {
        if (const Result<void> opened = open(wanted); !opened)
            return Failure(opened.error());
    }
    // One command waits at a time: while the line is slower than the ticks the rest are skipped
    // whole, so nothing piles up and no command is split.
    if (m_port->bytesToWrite() > 0 || !lineHasRoom())
        return Delivery::Busy;

    if (!write(m_bytes.of(command))) {
        m_port->close();
        m_open = -1;
        return Failure(QStringLiteral("串口 %1 写入失败，设备可能已断开").arg(m_devices[wanted]));
    }
    return Delivery::Sent;
}

// Stops at the open device while it is there: only an earlier one can take its place.
qsizetype SerialTransport::firstPresent() const
{
    for (qsizetype candidate = 0; candidate < qsizetype(m_nativeNames.size()); ++candidate) {
        if (exists(m_nativeNames[candidate]))
            return candidate;
    }
    return -1;
}

Result<void> SerialTransport::open(qsizetype candidate)
{
    const QString &device = m_devices[candidate];
    if (const QString lock = unusableLockFile(device); !lock.isEmpty())
        return Failure(
            QStringLiteral("串口 %1 无法打开：%2").arg(device, Errors::unusableLockFile(lock)));
    m_port->setPortName(device);
    m_port->clearError();
    if (m_port->open(openMode())) {
        m_open = candidate;
        return {};
    }
    if (m_port->error() == QSerialPort::PermissionError)
        return Failure(QStringLiteral("串口 %1 无法打开：%2%3")
                           .arg(device, Errors::serialPort(m_port->error()),
                                Errors::serialPermissionAdvice()));
    return Failure(QStringLiteral("串口 %1 无法打开").arg(device));
}
