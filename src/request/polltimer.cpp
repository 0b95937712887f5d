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
    beat(restInterval());
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
