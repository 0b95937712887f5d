#include "polltimer.h"

void PollTimer::start()
{
    m_active = true;
    m_resting = false;
    beat(interval());
}

void PollTimer::stop()
{
    m_active = false;
    m_resting = false;
    beat(0);
}

void PollTimer::rest()
{
    if (!m_active || m_resting)
        return;
    m_resting = true;
    beat(RestInterval);
}

void PollTimer::wake()
{
    if (!m_active || !m_resting)
        return;
    m_resting = false;
    beat(interval());
    // Whatever woke the timer may be a request: look at once rather than at the next beat.
    emit timeout();
}

#ifdef Q_OS_LINUX
#include <QSocketNotifier>

#include <sys/timerfd.h>
#include <unistd.h>

PollTimer::PollTimer(QObject *parent)
    : QObject(parent)
    , m_fd(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC))
    , m_notifier(new QSocketNotifier(m_fd, QSocketNotifier::Read, this))
{
    m_notifier->setEnabled(false);
    connect(m_notifier, &QSocketNotifier::activated, this, &PollTimer::expire);
}

PollTimer::~PollTimer()
{
    delete m_notifier;
    ::close(m_fd);
}

// Every timer beats on whole periods of the monotonic clock, so two windows polling at once wake
// the thread once per period between them, not twice.
void PollTimer::beat(int milliseconds)
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
    m_notifier->setEnabled(milliseconds > 0);
}

void PollTimer::expire()
{
    // However many periods have passed since the last tick, they make one tick.
    quint64 expirations;
    if (::read(m_fd, &expirations, sizeof expirations) == sizeof expirations)
        emit timeout();
}
#else
#include <QTimer>

PollTimer::PollTimer(QObject *parent)
    : QObject(parent)
    , m_timer(new QTimer(this))
{
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &PollTimer::timeout);
}

PollTimer::~PollTimer() = default;

void PollTimer::beat(int milliseconds)
{
    if (milliseconds > 0)
        m_timer->start(milliseconds);
    else
        m_timer->stop();
}
#endif
