#include "regularfile.h"

#include "errors.h"

#include <QFileInfo>

// Opening a file never waits on Windows: a pipe's name that no one serves fails at once.
Result<void> openRegularFile(QFile &file, const QString &path)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return Failure(Errors::notRegularFile());
    file.setFileName(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly))
        return Failure(Errors::unreadableFile());
    return {};
}
