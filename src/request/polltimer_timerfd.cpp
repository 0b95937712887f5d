#include "polltimer.h"

#include <QSocketNotifier>

#include <sys/timerfd.h>
#include <unistd.h>

// A timerfd on the monotonic clock: the event loop waits for it to become readable, and reading it
// collects every expiration since the last read at once.
class PollTimer::PlatformBeat final : public PollTimer::Beat {
public:
    explicit PlatformBeat(PollTimer *owner)
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
    ~PlatformBeat() override
    {
        m_notifier.setEnabled(false);
        ::close(m_fd);
    }

    // Every timer beats on whole periods of the monotonic clock, so two windows polling at once
    // wake the thread once per period between them, not twice.
    void set(int milliseconds) override
    {
        itimerspec beat{};
        if (milliseconds > 0) {
            // In 64 bits: a minute of nanoseconds does not fit the 32-bit long of armhf.
            constexpr qint64 Second = 1000000000;
            const qint64 period = milliseconds * qint64(1000000);
            timespec now;
            ::clock_gettime(CLOCK_MONOTONIC, &now);
            const qint64 next = ((now.tv_sec * Second + now.tv_nsec) / period + 1) * period;
            beat = {{time_t(period / Second), long(period % Second)},
                    {time_t(next / Second), long(next % Second)}};
        }
        ::timerfd_settime(m_fd, TFD_TIMER_ABSTIME, &beat, nullptr);
        m_notifier.setEnabled(milliseconds > 0);
    }

private:
    const int m_fd;
    QSocketNotifier m_notifier;
};

std::unique_ptr<PollTimer::Beat> PollTimer::platformBeat(PollTimer *owner)
{
    return std::make_unique<PlatformBeat>(owner);
}
