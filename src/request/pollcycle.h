#pragma once

#include <QString>

class RequestFile;

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

// What one poll did.
enum class PollResult {
    Absent,     // no request file: nothing reported, nothing sent
    Unreadable, // reported, but the file could not be read, so nothing was sent
    Sent,       // the command was handed over and the success text reported
    SendFailed, // the transport refused the command and said why
};

// One poll of `directory` for "api.txt": report the request, send its command, report
// `successText`. Does nothing at all while the file is absent.
PollResult pollOnce(const QString &directory, StatusSink &sink, Transport &transport,
                    const QString &successText);
// The same for a request file made once and polled on every tick.
PollResult pollOnce(RequestFile &file, StatusSink &sink, Transport &transport,
                    const QString &successText);
