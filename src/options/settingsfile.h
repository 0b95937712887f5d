#pragma once

#include "option.h"
#include "optionvalues.h"
#include "result.h"

#include <QList>
#include <QString>

// The values of an INI file for the rows kept in one (each under its key, before any [section]),
// exactly as written between "=" and the end of the line, less the spaces at either end, each
// with where: "配置文件“…”中的 udp=". A line starting with "#" or ";" is a comment; a repeatable
// row's key may be given on several lines, each a list separated by commas. Or why the file
// cannot be used, naming the key where there is one: missing, too big, malformed, a key in a
// section, a key of none of the rows, any other key given twice, a value that would not be read
// as written (a ";" after a space, an indented line, a line too long, text that is not UTF-8).
Result<OptionValues> readSettingsFile(const QString &path, const QList<OptionEntry> &rows);
