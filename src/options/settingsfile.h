#pragma once

#include "option.h"
#include "optionvalues.h"
#include "result.h"

#include <QList>
#include <QString>

// The values of an INI file for the rows kept in one (each under its key, before any [section]),
// as typed, each with where: "配置文件“…”中的 udp=". A line starting with "#" or ";" is a comment.
// Or why the file cannot be used: missing, too big, malformed, a key in a section, a key of none
// of the rows.
Result<OptionValues> readSettingsFile(const QString &path, const QList<Option> &rows);
