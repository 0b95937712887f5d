#include "poller.h"

#include "polltimer.h"
#include "requestwatch.h"

Poller::Poller(const QString &directory, StatusSink &sink, Transport &transport,
               const QString &successText, PollTimer *timer, QStringView fileName)
    : m_cycle(directory, fileName)
    , m_sink(sink)
    , m_transport(transport)
    , m_successText(successText)
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
    const PollResult result = m_cycle.run(m_sink, m_transport, m_successText);
    if (result == PollResult::Absent && m_watch->isWatching())
        m_timer->rest();
    emit polled(result);
}
