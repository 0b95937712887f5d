#pragma once

#include <QString>

// Where a window's status lines go: appended to a list, or printed on the window.
class StatusSink {
public:
    virtual ~StatusSink() = default;
    virtual void report(const QString &line) = 0;
};

// Delivers commands to the appliance side.
class Transport {
public:
    virtual ~Transport() = default;
    // False when the command did not go out; errorString() then says why, in Chinese.
    virtual bool send(const QString &command) = 0;
    virtual QString errorString() const = 0;
};

// One poll of `directory` for "api.txt": report the request, send its command, report
// `successText`. Does nothing at all while the file is absent.
void pollOnce(const QString &directory, StatusSink &sink, Transport &transport,
              const QString &successText);
