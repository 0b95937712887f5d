#pragma once

#include <QObject>
#include <memory>

// Ticks every millisecond on the thread that owns it. Ticks that fall due while the thread is busy
// merge into one, and a tick never starts while another runs. Qt's own timers round every wait up
// to a whole millisecond, so at 1 ms they lose about one tick in ten; each platform keeps the beat
// with its own clock instead, and the event loop only waits for that clock.
//
// A timer with nothing to do can rest: it then ticks only every RestInterval ms, until wake()
// brings back the 1 ms beat with a tick at once. It stays active throughout.
class PollTimer : public QObject {
    Q_OBJECT

public:
    explicit PollTimer(QObject *parent = nullptr);
    ~PollTimer() override;

    static constexpr int interval() { return 1; }
    static constexpr int RestInterval = 10;

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
    class Beat;
    // Beats every `milliseconds` from now on, or never for 0.
    void beat(int milliseconds);

    bool m_active = false;
    bool m_resting = false;
    std::unique_ptr<Beat> m_beat;
};
