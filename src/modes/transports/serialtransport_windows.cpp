#include "serialtransport.h"

#include <QSerialPort>

#include <windows.h>

QStringList SerialTransport::defaultDevices()
{
    return {QStringLiteral("COM1")};
}

QByteArray SerialTransport::nativeName(const QString &device)
{
    return QByteArray(reinterpret_cast<const char *>(device.utf16()),
                      (device.size() + 1) * qsizetype(sizeof(char16_t)));
}

// Asks the object manager for the device's name alone: enumerating the machine's ports on every
// tick while none is open would cost far more.
bool SerialTransport::exists(const QByteArray &nativeName)
{
    wchar_t target[MAX_PATH];
    return ::QueryDosDeviceW(reinterpret_cast<const wchar_t *>(nativeName.constData()), target,
                             MAX_PATH) != 0;
}

// Some serial drivers (Wine's among them) cannot set the line on a port opened for writing only.
// Nothing is ever read: the port's read buffer is kept to a few bytes, and what arrives beyond
// them is the driver's to drop.
QIODevice::OpenMode SerialTransport::openMode()
{
    return QIODevice::ReadWrite;
}

// QSerialPort keeps no lock files on Windows: the system opens a port for one program at a time.
QString SerialTransport::unusableLockFile(const QString &)
{
    return {};
}

bool SerialTransport::lineHasRoom() const
{
    return true;
}

bool SerialTransport::write(const QByteArray &bytes)
{
    m_port->write(bytes);
    return m_port->flush() && m_port->error() == QSerialPort::NoError;
}
