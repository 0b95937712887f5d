#include "polltimer.h"

#include <QSocketNotifier>

#include <sys/timerfd.h>
#include <unistd.h>

// A timerfd on the monotonic clock: the event loop waits for it to become readable, and reading it
// collects every expiration since the last read at once.
class PollTimer::Beat {
public:
    explicit Beat(PollTimer *owner)
        : m_fd(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC))
        , m_notifier(m_fd, QSocketNotifier::Read)
    {
        m_notifier.setEnabled(false);
        QObject::connect(&m_notifier, &QSocketNotifier::activated, owner, [this, owner] {
            quint64 expirations;
            if (::read(m_fd, &expirations, sizeof expirations) == sizeof expirations)
                emit owner->timeout();
        });
    }
    ~Beat()
    {
        m_notifier.setEnabled(false);
        ::close(m_fd);
    }

    // Every timer beats on whole periods of the monotonic clock, so two windows polling at once
    // wake the thread once per period between them, not twice.
    void set(int milliseconds)
    {
        itimerspec beat{};
        if (milliseconds > 0) {
            const long period = milliseconds * 1000000L;
            timespec now;
            ::clock_gettime(CLOCK_MONOTONIC, &now);
            const long next = (now.tv_nsec / period + 1) * period;
            beat = {{0, period}, {now.tv_sec + next / 1000000000L, next % 1000000000L}};
        }
        ::timerfd_settime(m_fd, TFD_TIMER_ABSTIME, &beat, nullptr);
        m_notifier.setEnabled(milliseconds > 0);
    }

private:
    const int m_fd;
    QSocketNotifier m_notifier;
};

PollTimer::PollTimer(QObject *parent)
    : QObject(parent)
    , m_beat(std::make_unique<Beat>(this))
{
}

PollTimer::~PollTimer() = default;

void PollTimer::beat(int milliseconds)
{
    m_beat->set(milliseconds);
}
