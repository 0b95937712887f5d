#include "polltimer.h"

#ifdef Q_OS_LINUX
#include <QSocketNotifier>

#include <sys/timerfd.h>
#include <unistd.h>

namespace {
constexpr long Period = PollTimer::interval() * 1000000L;

// Every timer beats on the whole milliseconds of the monotonic clock, so two windows polling at
// once wake the thread once per period between them, not twice.
void arm(int fd)
{
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const long next = (now.tv_nsec / Period + 1) * Period;
    const itimerspec beat{{0, Period}, {now.tv_sec + next / 1000000000L, next % 1000000000L}};
    ::timerfd_settime(fd, TFD_TIMER_ABSTIME, &beat, nullptr);
}

void disarm(int fd)
{
    const itimerspec off{};
    ::timerfd_settime(fd, 0, &off, nullptr);
}
} // namespace

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

void PollTimer::start()
{
    arm(m_fd);
    m_notifier->setEnabled(true);
    m_active = true;
}

void PollTimer::stop()
{
    disarm(m_fd);
    m_notifier->setEnabled(false);
    m_active = false;
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
    m_timer->setInterval(interval());
    connect(m_timer, &QTimer::timeout, this, &PollTimer::timeout);
}

PollTimer::~PollTimer() = default;

void PollTimer::start()
{
    m_timer->start();
    m_active = true;
}

void PollTimer::stop()
{
    m_timer->stop();
    m_active = false;
}
#endif
