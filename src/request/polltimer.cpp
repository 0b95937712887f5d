#include "polltimer.h"

PollTimer::PollTimer(QObject *parent)
    : QObject(parent)
    , m_beat(platformBeat(this))
{
}

PollTimer::~PollTimer() = default;

void PollTimer::start()
{
    m_active = true;
    m_resting = false;
    m_beat->set(interval());
}

void PollTimer::stop()
{
    m_active = false;
    m_resting = false;
    m_beat->set(0);
}

void PollTimer::rest()
{
    if (!m_active || m_resting)
        return;
    m_resting = true;
    m_beat->set(restInterval());
}

void PollTimer::wake()
{
    if (!m_active || !m_resting)
        return;
    m_resting = false;
    m_beat->set(interval());
    // Whatever woke the timer may be a request: look at once rather than at the next beat.
    emit timeout();
}
