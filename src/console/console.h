#pragma once

#include <QObject>
#include <QString>
#include <cstdio>

class QCoreApplication;

// How a console program ends: its work done (or stopped by Ctrl-C), failed at it, or started with
// a command line it cannot follow.
enum ExitStatus { Ended = 0, Failed = 1, Misused = 2 };

// The one line that ends a misused program: what was wrong, then where to read how to start it.
QString misuse(const QString &why);

// `text` with every control character written out (\n, \r, \t, \xHH, \uHHHH), line ends and
// separators included, so that nothing from outside can start a line of its own, and the controls
// of bidirectional text too, so that nothing can reorder what a reader sees of the line.
QString escaped(QStringView text);
// Whether escaped() writes `c` out.
bool writtenOut(QChar c);

// The local time at the start of a log line, to the millisecond: "2024-05-01 08:30:00.123".
QString timeStamp();

// Writes text to standard output or standard error the way whatever they lead to reads it: a
// Windows console takes it as UTF-16, whatever its code page; a pipe, a file or a terminal
// elsewhere gets it in the local 8-bit encoding. Nothing is buffered.
void writeText(std::FILE *stream, const QString &text);

// While it lives, Ctrl-C and SIGTERM (on Windows Ctrl-C, Ctrl-Break and closing the console
// window) end the event loop instead of the process, so that the program can finish its work and
// release its ports and devices first. SIGPIPE is ignored: a closed standard error or socket fails
// the write instead of ending the program. Make it at the start of main() and let it go at the end.
class QuitOnSignals : public QObject {
    Q_OBJECT

public:
    explicit QuitOnSignals(QCoreApplication &app);
    ~QuitOnSignals() override;

    // From now on SIGHUP emits reloadAsked() instead of ending the program: at once, and at most
    // once more a quarter second later for all that come meanwhile. Windows has no such signal:
    // there nothing happens.
    void reloadOnHangUp();

signals:
    void reloadAsked();
};
