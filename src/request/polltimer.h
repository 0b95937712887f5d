#pragma once

#include <QObject>
#include <memory>

// Ticks every millisecond (or every interval() ms) on the thread that owns it. Ticks that fall due
// while the thread is busy merge into one, and a tick never starts while another runs. Qt's own
// timers round every wait up to a whole millisecond, so at 1 ms they lose about one tick in ten;
// each platform keeps the beat with its own clock instead, and the event loop only waits for that
// clock.
//
// A timer with nothing to do can rest: it then ticks only every restInterval() ms, until wake()
// brings back its beat with a tick at once. It stays active throughout.
class PollTimer : public QObject {
    Q_OBJECT

public:
    explicit PollTimer(QObject *parent = nullptr);
    ~PollTimer() override;

    static constexpr int RestInterval = 10;

    int interval() const { return m_interval; }
    // Takes effect at the next start.
    void setInterval(int milliseconds) { m_interval = milliseconds; }
    // Takes effect at the next rest.
    void setRestInterval(int milliseconds) { m_restInterval = milliseconds; }
    int restInterval() const { return qMax(m_restInterval, m_interval); }

    void start();
    void stop();
    bool isActive() const { return m_active; }

    void rest();
    void wake();
    bool isResting() const { return m_resting; }

signals:
    void timeout();

private:
    // The platform's clock, in a file of its own per platform: it emits timeout() once for
    // however many beats have passed since the last tick.
    class Beat {
    public:
        virtual ~Beat() = default;
        // Beats every `milliseconds` from now on, or never for 0.
        virtual void set(int milliseconds) = 0;
    };
    class PlatformBeat;
    static std::unique_ptr<Beat> platformBeat(PollTimer *owner);

    int m_interval = 1;
    int m_restInterval = RestInterval;
    bool m_active = false;
    bool m_resting = false;
    std::unique_ptr<Beat> m_beat;
};
