#pragma once

#include "result.h"

#include <QFile>
#include <QString>

// Opens `path` into `file` for reading, only where it names an ordinary file (through links), and
// never waits on it: a FIFO, a device or a directory under the name is refused, not opened, so a
// name put wrongly in the settings cannot hold the event loop up. Or why not, to follow the name:
// "不存在或无法读取", "不是普通文件…".
Result<void> openRegularFile(QFile &file, const QString &path);
