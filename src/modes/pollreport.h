#pragma once

#include "pollcycle.h"

#include <QString>

// Where a window's status lines go: appended to a list, or printed on the window.
class StatusSink {
public:
    virtual ~StatusSink() = default;
    virtual void report(const QString &line) = 0;
};

// The windows' lines for one tick: the request found, then what became of its command, ending
// with the window's `successText` when it went out. Nothing at all while the file is absent.
void reportPoll(const PollEvent &event, StatusSink &sink, const QString &successText);
