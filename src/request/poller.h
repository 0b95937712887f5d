#pragma once

#include "pollcycle.h"

#include <QObject>
#include <QString>

class PollTimer;
class RequestWatch;

// Runs the poll cycle on every tick of a timer, handing each command to the transport. While
// there is no request to serve the timer rests, and a change in the directory wakes it.
class Poller : public QObject {
    Q_OBJECT

public:
    Poller(const QString &directory, Transport &transport, PollTimer *timer,
           QStringView fileName = RequestFile::Name);

signals:
    // After every tick, with what it did.
    void polled(const PollEvent &event);

private:
    void tick();

    PollCycle m_cycle;
    Transport &m_transport;
    PollTimer *m_timer;
    RequestWatch *m_watch;
};
