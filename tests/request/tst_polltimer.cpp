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
    void pollTimerTicksUntilStopped()
    {
        PollTimer timer;
        QCOMPARE(timer.interval(), 1);
        QVERIFY(!timer.isActive());
        QSignalSpy ticks(&timer, &PollTimer::timeout);
        timer.start();
        QVERIFY(timer.isActive());
        QTRY_VERIFY(ticks.count() >= 5);
        timer.stop();
        QVERIFY(!timer.isActive());
        ticks.clear();
        QTest::qWait(20);
        QCOMPARE(ticks.count(), 0);
    }

    // A slower beat never ticks faster than asked, and rests no faster than it beats; one of a
    // second and more beats too.
    void slowerBeat_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("ticksWanted");
        QTest::newRow("40 ms") << 40 << 3;
        QTest::newRow("1.2 s") << 1200 << 2;
    }
    void slowerBeat()
    {
        QFETCH(int, interval);
        QFETCH(int, ticksWanted);
        PollTimer timer;
        timer.setInterval(interval);
        QCOMPARE(timer.restInterval(), interval);
        QSignalSpy ticks(&timer, &PollTimer::timeout);
        QElapsedTimer clock;
        clock.start();
        timer.start();
        QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= ticksWanted, interval * (ticksWanted + 2));
        QVERIFY(ticks.count() <= clock.elapsed() / interval + 1);
        timer.setInterval(1);
        QCOMPARE(timer.restInterval(), PollTimer::RestInterval);
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
