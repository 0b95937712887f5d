#include "requestfile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

RequestFile::RequestFile(const QString &directory, QStringView name)
    : m_nativePath(QFile::encodeName(directory + u'/' + name.toString()))
{
}

bool RequestFile::exists() const
{
    struct stat status;
    return ::stat(m_nativePath.constData(), &status) == 0 && S_ISREG(status.st_mode);
}

bool RequestFile::open()
{
    // The name may have turned into a FIFO or a device since exists(): open without blocking and
    // read only what is still an ordinary file.
    const int fd = ::open(m_nativePath.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return false;
    }
    m_handle = fd;
    return true;
}

qint64 RequestFile::readSome(char *data, qint64 size)
{
    ssize_t count;
    do
        count = ::read(int(m_handle), data, size_t(size));
    while (count < 0 && errno == EINTR);
    return count;
}

void RequestFile::close()
{
    if (m_handle >= 0)
        ::close(int(std::exchange(m_handle, -1)));
}
