#include "polltimer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

class tst_PollTimer : public QObject {
    Q_OBJECT

private slots:
    // A timer ticks at its beat, never faster than asked, until it is stopped; it rests no faster
    // than it beats, and a beat of a second and more ticks too.
    void ticksUntilStopped_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("ticksWanted");
        QTest::newRow("1 ms") << 1 << 5;
        QTest::newRow("40 ms") << 40 << 3;
        QTest::newRow("1.2 s") << 1200 << 2;
    }
    void ticksUntilStopped()
    {
        QFETCH(int, interval);
        QFETCH(int, ticksWanted);
        PollTimer timer;
        QCOMPARE(timer.interval(), 1);
        timer.setInterval(interval);
        QCOMPARE(timer.restInterval(), qMax(interval, int(PollTimer::RestInterval)));
        QSignalSpy ticks(&timer, &PollTimer::timeout);
        QElapsedTimer clock;
        clock.start();
        timer.start();
        QVERIFY(timer.isActive());
        QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= ticksWanted, interval * (ticksWanted + 2) + 5000);
        QVERIFY(ticks.count() <= clock.elapsed() / interval + 1);
        timer.stop();
        QVERIFY(!timer.isActive());
        ticks.clear();
        QTest::qWait(20);
        QCOMPARE(ticks.count(), 0);
    }

    // Resting slows the beat without stopping it; waking brings the 1 ms beat back.
    void restingTimerStaysActiveAndWakes()
    {
        PollTimer timer;
        QSignalSpy ticks(&timer, &PollTimer::timeout);
        timer.rest();
        QVERIFY(!timer.isResting());
        timer.start();
        QCOMPARE(ticks.count(), 0);
        timer.rest();
        QVERIFY(timer.isActive());
        QVERIFY(timer.isResting());
        QTRY_VERIFY(ticks.count() >= 2);
        ticks.clear();
        timer.wake();
        QVERIFY(!timer.isResting());
        QCOMPARE(ticks.count(), 1);
        ticks.clear();
        QTRY_VERIFY(ticks.count() >= 20);
        timer.rest();
        timer.stop();
        QVERIFY(!timer.isResting());
        timer.wake();
        QVERIFY(!timer.isActive());
    }

    // A thread kept busy for many periods gets one tick afterwards, not a burst.
    void missedTicksMergeIntoOne()
    {
        PollTimer timer;
        int ticks = 0;
        connect(&timer, &PollTimer::timeout, this, [&ticks] { ++ticks; });
        timer.start();
        QTRY_VERIFY(ticks > 0);
        QThread::msleep(30);
        ticks = 0;
        // The first events to come in after the busy spell bring one tick; on Windows its
        // wake-up is posted from another thread, so it may take a moment to arrive.
        for (QDeadlineTimer patience(5000); ticks == 0 && !patience.hasExpired();)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCOMPARE(ticks, 1);
    }
};

QTEST_GUILESS_MAIN(tst_PollTimer)
#include "tst_polltimer.moc"
