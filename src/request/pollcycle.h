#pragma once

#include "requestfile.h"

#include <QByteArray>
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

// The same poll of one request file, made once and run on every tick. A producer usually leaves
// the same request in place for many ticks: while the first field's bytes stay as they were, the
// text and its command are taken from the tick before instead of being decoded and built again.
class PollCycle {
public:
    explicit PollCycle(const QString &directory, QStringView fileName = RequestFile::Name);

    PollResult run(StatusSink &sink, Transport &transport, const QString &successText);

    // The request last read and its command.
    const QString &request() const { return m_request; }
    const QString &command() const { return m_command; }

private:
    RequestFile m_file;
    std::optional<QByteArray> m_field;
    QString m_request;
    QString m_command;
};
