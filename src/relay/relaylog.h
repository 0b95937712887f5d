#pragma once

#include <QElapsedTimer>
#include <QString>
#include <functional>

// The relay's log: one line per event, each with the local time, on standard error (where
// journald takes it as it is), or where a writer puts it. Control characters in a line are written
// out, so that no text from outside can forge a line. Quiet, it keeps only failures and their ends.
class RelayLog {
public:
    // Takes each line as it is to be read, without time or line end, and whether it tells of a
    // failure.
    using Writer = std::function<void(const QString &line, bool failure)>;

    explicit RelayLog(bool quiet, Writer writer = {});

    void event(const QString &line);
    void failure(const QString &line);
    void setQuiet(bool quiet) { m_quiet = quiet; }

    // Milliseconds since the log was made, for the books of the lines.
    qint64 now() const { return m_clock.elapsed(); }

private:
    bool m_quiet;
    Writer m_writer;
    QElapsedTimer m_clock;
};

// A failure that may happen on every tick: told when it starts and whenever its reason changes,
// then at most once a second with how often it happened meanwhile (less often the longer it
// lasts, up to once a minute), and once when it ends.
class Failures {
public:
    explicit Failures(RelayLog &log)
        : m_log(log)
    {
    }

    // `what` names what failed ("UDP 127.0.0.1:8888 发送失败"); `reason` says why.
    void failed(const QString &what, const QString &reason);
    bool isFailing() const { return m_since >= 0; }
    // `who` names what works again.
    void ended(const QString &who);

private:
    RelayLog &m_log;
    qint64 m_since = -1;
    qint64 m_count = 0;
    qint64 m_untold = 0;
    qint64 m_toldAt = 0;
    qint64 m_gap = 0;
    QString m_reason;
};

// A text of the outside world as part of a line of the log: a long one cut short.
QString shown(const QString &text);
// Milliseconds as seconds, the way the log gives a duration.
QString seconds(qint64 milliseconds);
