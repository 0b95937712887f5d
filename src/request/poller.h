#pragma once

#include "pollcycle.h"

#include <QObject>
#include <QString>

class PollTimer;
class RequestWatch;

// Runs the poll cycle on every tick of a mode window's timer, with the window's sink, transport and
// success text. While there is no request to serve the timer rests, and a change in the directory
// wakes it.
class Poller : public QObject {
    Q_OBJECT

public:
    Poller(const QString &directory, StatusSink &sink, Transport &transport,
           const QString &successText, PollTimer *timer, QStringView fileName = RequestFile::Name);

    const PollCycle &cycle() const { return m_cycle; }

signals:
    // After every tick, with what the poll did.
    void polled(PollResult result);

private:
    void tick();

    PollCycle m_cycle;
    StatusSink &m_sink;
    Transport &m_transport;
    const QString m_successText;
    PollTimer *m_timer;
    RequestWatch *m_watch;
};
