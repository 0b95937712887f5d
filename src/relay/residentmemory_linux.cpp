#include "residentmemory.h"

#include <QFile>
#include <unistd.h>

// /proc/self/statm holds the sizes in pages: the whole, then the resident part.
qint64 residentMemory()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> pages = statm.readLine().split(' ');
    return pages.size() > 1 ? pages[1].toLongLong() * sysconf(_SC_PAGESIZE) : 0;
}
