#include "regularfile.h"

#include <QFileInfo>

// Opening a file never waits on Windows: a pipe's name that no one serves fails at once.
Result<void> openRegularFile(QFile &file, const QString &path)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return Failure(QStringLiteral("不是普通文件（而是目录、FIFO 或设备）"));
    file.setFileName(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly))
        return Failure(QStringLiteral("不存在或无法读取"));
    return {};
}
