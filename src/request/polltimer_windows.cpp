#include "polltimer.h"

#include <QWinEventNotifier>

#include <windows.h>

#include <timeapi.h>

// A waitable timer: the event loop waits for it to be signalled, and however many periods passed
// while the thread was busy, it is signalled once. Windows wakes waiting threads only on its system
// timer tick, 15.6 ms unless a program asks for more; the timer asks for 1 ms only while it beats
// faster than that and is not resting, so a resting or stopped window leaves the machine's tick
// alone.
class PollTimer::PlatformBeat final : public PollTimer::Beat {
public:
    explicit PlatformBeat(PollTimer *owner)
        : m_owner(owner)
        , m_timer(::CreateWaitableTimerW(nullptr, FALSE, nullptr))
        , m_notifier(m_timer)
    {
        m_notifier.setEnabled(false);
        QObject::connect(&m_notifier, &QWinEventNotifier::activated, owner,
                         [owner] { emit owner->timeout(); });
    }
    ~PlatformBeat() override
    {
        set(0);
        ::CloseHandle(m_timer);
    }

    void set(int milliseconds) override
    {
        const bool fine = milliseconds > 0 && milliseconds < 16 && !m_owner->isResting();
        if (fine != m_fine) {
            if (fine)
                ::timeBeginPeriod(1);
            else
                ::timeEndPeriod(1);
            m_fine = fine;
        }
        if (milliseconds > 0) {
            LARGE_INTEGER due;
            due.QuadPart = -10000LL * milliseconds; // relative, in 100 ns
            ::SetWaitableTimer(m_timer, &due, milliseconds, nullptr, nullptr, FALSE);
        } else {
            ::CancelWaitableTimer(m_timer);
        }
        m_notifier.setEnabled(milliseconds > 0);
    }

private:
    const PollTimer *m_owner;
    const HANDLE m_timer;
    QWinEventNotifier m_notifier;
    bool m_fine = false;
};

std::unique_ptr<PollTimer::Beat> PollTimer::platformBeat(PollTimer *owner)
{
    return std::make_unique<PlatformBeat>(owner);
}
