#include "console.h"

#include <QDateTime>

QString misuse(const QString &why)
{
    return why + QStringLiteral("（用 --help 查看用法）");
}

QString timeStamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}
