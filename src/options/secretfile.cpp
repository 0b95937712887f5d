#include "secretfile.h"

#include "regularfile.h"

#include <QFile>
#include <QStringDecoder>

namespace {
constexpr qint64 MaxBytes = 4096;
}

Result<QString> firstLine(const QString &path)
{
    QFile file;
    if (const Result<void> opened = openRegularFile(file, path); !opened)
        return Failure(QStringLiteral("文件") + opened.error());
    QByteArray line = file.read(MaxBytes);
    const qsizetype end = line.indexOf('\n');
    if (end < 0 && !file.atEnd())
        return Failure(QStringLiteral("第一行超过 %1 字节").arg(MaxBytes));
    if (end >= 0)
        line.truncate(end > 0 && line[end - 1] == '\r' ? end - 1 : end);
    if (line.isEmpty())
        return Failure(QStringLiteral("第一行是空的"));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(line);
    if (utf8.hasError() || line.contains('\0'))
        return Failure(QStringLiteral("第一行不是 UTF-8 文本"));
    return text;
}
