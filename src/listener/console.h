#pragma once

#include <QString>
#include <cstdio>

// Writes text to standard output or standard error the way whatever they lead to reads it: a
// Windows console takes it as UTF-16, whatever its code page; a pipe, a file or a terminal
// elsewhere gets it in the local 8-bit encoding. Nothing is buffered.
void writeText(std::FILE *stream, const QString &text);
