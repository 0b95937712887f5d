#include "serialtransport.h"

#include <QFile>
#include <QSerialPort>

#include <poll.h>
#include <sys/stat.h>

QStringList SerialTransport::defaultDevices()
{
    return {QStringLiteral("/dev/rfcomm0"), QStringLiteral("/dev/ttyUSB0"),
            QStringLiteral("/dev/ttyACM0"), QStringLiteral("/dev/ttyS0")};
}

QByteArray SerialTransport::nativeName(const QString &device)
{
    return QFile::encodeName(device);
}

bool SerialTransport::exists(const QByteArray &nativeName)
{
    struct stat status;
    return ::stat(nativeName.constData(), &status) == 0;
}

QIODevice::OpenMode SerialTransport::openMode()
{
    return QIODevice::WriteOnly;
}

QString SerialTransport::permissionAdvice()
{
    return QStringLiteral("（普通用户须在 dialout 组中）");
}

// The tty driver signals room only while little is queued for the line. Waiting for that keeps a
// slow line's backlog short and spares a write that finds no room at all, which the port would
// report just like a lost device. A hung-up line is let through so that the write tells.
bool SerialTransport::lineHasRoom() const
{
    pollfd line{int(m_port->handle()), POLLOUT, 0};
    return ::poll(&line, 1, 0) > 0 && (line.revents & (POLLOUT | POLLERR | POLLHUP));
}
