#include "requestfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

RequestFile::RequestFile(const QString &directory)
    : m_nativePath(QFile::encodeName(directory + QLatin1String("/api.txt")))
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
    return m_file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered,
                       QFileDevice::AutoCloseHandle);
}
