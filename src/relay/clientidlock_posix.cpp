#include "clientidlock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// /run/lock is shared by every user and service of the machine, where a service's /tmp is its own.
QByteArray lockPath(const QByteArray &clientId)
{
    const QFileInfo shared(QStringLiteral("/run/lock"));
    const QString directory =
        shared.isDir() && shared.isWritable() ? shared.filePath() : QDir::tempPath();
    return QFile::encodeName(directory + QStringLiteral("/morvane-relay-") +
                             QString::fromLatin1(clientId) + QStringLiteral(".lock"));
}
} // namespace

// An flock, which the kernel lets go with the process. Opened without following a link or waiting
// on a FIFO, as anyone may put either in /run/lock.
bool ClientIdLock::take(const QByteArray &clientId)
{
    if (m_handle >= 0 && clientId == m_clientId)
        return true;
    const QByteArray path = lockPath(clientId);
    const int fd =
        ::open(path.constData(),
               O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    struct stat status, named;
    const bool usable = fd >= 0 && ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    const bool locked = usable && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (usable && !locked && errno == EWOULDBLOCK) {
        ::close(fd);
        return false;
    }
    // Let go and removed by its holder between the open and the lock: the name is another's now.
    if (locked && (::stat(path.constData(), &named) != 0 || named.st_ino != status.st_ino ||
                   named.st_dev != status.st_dev)) {
        ::close(fd);
        return take(clientId);
    }
    // Readable by the relays of other users too, whatever the service's umask.
    if (locked && status.st_uid == ::geteuid())
        ::fchmod(fd, 0644);
    release();
    if (locked)
        m_handle = fd;
    else if (fd >= 0)
        ::close(fd);
    m_clientId = clientId;
    m_path = path;
    return true;
}

// Removed while still held, so that no one takes the name's lock and then finds it gone.
void ClientIdLock::release()
{
    if (m_handle < 0)
        return;
    ::unlink(m_path.constData());
    ::close(int(m_handle));
    m_handle = -1;
}
