#pragma once

#include "requestfile.h"
#include "result.h"

#include <QByteArray>
#include <QString>
#include <optional>

// What became of a command that a transport did not refuse.
enum class Delivery {
    Sent,
    // The serial line still carried the previous command, so this one was skipped: a slow line,
    // not a fault.
    Busy,
};

// Delivers commands to the appliance side.
class Transport {
public:
    virtual ~Transport() = default;
    virtual Result<Delivery> send(const QString &command) = 0;
};

// What one tick of the poll cycle did.
struct PollEvent {
    enum class Outcome {
        Absent,     // no request file: nothing read, nothing sent
        Unreadable, // the file is there but could not be read, so nothing was sent
        Sent,       // the command was handed over
        Failed,     // the transport refused the command; `reason` says why
        Busy,       // the transport skipped the command while its line was busy
    };

    Outcome outcome = Outcome::Absent;
    // What was read: the cycle's own strings, shared rather than copied.
    QString request;
    QString command;
    // The command differs from that of the last tick that read the file, or the file was absent
    // since that tick.
    bool commandChanged = false;
    QString reason;
};

// The same poll of one request file, made once and run on every tick. A producer usually leaves
// the same request in place for many ticks: while the first field's bytes stay as they were, the
// text and its command are taken from the tick before instead of being decoded and built again.
class PollCycle {
public:
    explicit PollCycle(const QString &directory, QStringView fileName = RequestFile::Name);

    PollEvent run(Transport &transport);

private:
    RequestFile m_file;
    std::optional<QByteArray> m_field;
    QString m_request;
    QString m_command;
    // No tick has read the file since it was last absent.
    bool m_fresh = true;
};
