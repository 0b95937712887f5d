#pragma once

#include "relaylog.h"
#include "result.h"

#include <QString>
#include <cstdio>

// The relay as a service of a service manager that starts programs in a way of its own (Windows'
// Service Control Manager), and its installation there. Where the service manager simply starts
// the program and reads its standard error (systemd), it runs as from a console.
namespace Service {
// Runs `relay`, main()'s work, and gives its exit status: started by the service manager, once it
// has connected and on the thread it makes for the service; otherwise at once.
int run(int argc, char *argv[], int (*relay)(int, char *[]));

// The request file unless one is given: the service's own; from a console, `beside`.
QString requestFile(const QString &beside);
// Where the log's lines go: the service's log, or standard error (empty).
RelayLog::Writer logWriter();
// Writes a program's last words (its help, or what was wrong) where they are read.
void print(std::FILE *stream, const QString &text);

// --service install|remove|reload: the one line saying what was done, or why it was not.
// `settingsFile` is the service's --config, given with install; empty, its own.
Result<QString> act(const QString &action, const QString &settingsFile);
} // namespace Service
