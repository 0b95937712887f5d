#include "secretfile.h"

#include <QFileInfo>

bool isReadableByOthers(const QString &path)
{
    return QFileInfo(path).permissions().testFlag(QFileDevice::ReadOther);
}
