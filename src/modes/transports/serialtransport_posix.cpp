#include "serialtransport.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPort>

#include <cerrno>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

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

// QSerialPort takes LCK..NAME in the first of these directories it may write to, and reads one
// that is there without O_NONBLOCK: a FIFO there (anyone may write to them) would hold the event
// loop for good, and SIGTERM with it. The directories after that one are never looked at.
QString SerialTransport::unusableLockFile(const QString &device)
{
    for (const char *directory : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp",
                                  "/tmp", "/var/tmp", "/var/lock/lockdev", "/run/lock"}) {
        if (::access(directory, W_OK) != 0)
            continue;
        QString name = device.startsWith(u"/dev/") ? device.mid(5) : device;
        name.replace(u'/', u'_');
        const QFileInfo lock(QString::fromLatin1(directory) + QStringLiteral("/LCK..") + name);
        return lock.exists() && !lock.isFile() ? lock.filePath() : QString();
    }
    return {};
}

// The tty driver signals room only while little is queued for the line. Waiting for that keeps a
// slow line's backlog short and spares a write that finds no room at all, which the port would
// report just like a lost device. A hung-up line is let through so that the write tells.
bool SerialTransport::lineHasRoom() const
{
    pollfd line{int(m_port->handle()), POLLOUT, 0};
    return ::poll(&line, 1, 0) > 0 && (line.revents & (POLLOUT | POLLERR | POLLHUP));
}

// Straight to the device: QSerialPort would keep the bytes until a write notifier fired at the next
// turn of the event loop, a second wake-up for every command.
bool SerialTransport::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t count =
            ::write(int(m_port->handle()), bytes.constData() + done, size_t(bytes.size() - done));
        if (count > 0)
            done += count;
        else if (count < 0 && errno == EAGAIN)
            break;
        else if (count == 0 || errno != EINTR)
            return false;
    }
    if (done < bytes.size())
        m_port->write(bytes.constData() + done, bytes.size() - done);
    return true;
}
