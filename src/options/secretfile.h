#pragma once

#include "result.h"

#include <QString>

// The first line of the file at `path`, without its line end, byte for byte: a password kept
// apart from the settings. Or why not: unreadable, an empty first line, text that is not UTF-8.
Result<QString> firstLine(const QString &path);

// Whether users other than the file's owner and group may read it.
bool isReadableByOthers(const QString &path);
