#include "poller.h"

#include "polltimer.h"
#include "requestwatch.h"

Poller::Poller(const QString &directory, StatusSink &sink, Transport &transport,
               const QString &successText, PollTimer *timer)
    : m_directory(directory)
    , m_sink(sink)
    , m_transport(transport)
    , m_successText(successText)
    , m_timer(timer)
    , m_watch(new RequestWatch(directory, this))
{
    connect(m_timer, &PollTimer::timeout, this, &Poller::tick);
    connect(m_watch, &RequestWatch::mayHaveAppeared, m_timer, &PollTimer::wake);
}

void Poller::report(const QString &line)
{
    m_reported = true;
    m_sink.report(line);
}

void Poller::tick()
{
    m_reported = false;
    pollOnce(m_directory, *this, m_transport, m_successText);
    // A cycle reports at least one line whenever the file is there: silence means no request, and
    // the directory watch, where there is one, tells when to look again.
    if (!m_reported && m_watch->isWatching())
        m_timer->rest();
}
