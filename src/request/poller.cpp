#include "poller.h"

#include "polltimer.h"
#include "requestwatch.h"

Poller::Poller(const QString &directory, Transport &transport, PollTimer *timer,
               QStringView fileName)
    : m_cycle(directory, fileName)
    , m_transport(transport)
    , m_timer(timer)
    , m_watch(new RequestWatch(directory, fileName, this))
{
    connect(m_timer, &PollTimer::timeout, this, &Poller::tick);
    connect(m_watch, &RequestWatch::mayHaveAppeared, m_timer, &PollTimer::wake);
}

void Poller::tick()
{
    // Only an absent file lets the timer rest: the directory watch, where there is one, tells
    // when to look again.
    const PollEvent event = m_cycle.run(m_transport);
    if (event.outcome == PollEvent::Outcome::Absent && m_watch->isWatching())
        m_timer->rest();
    emit polled(event);
}
