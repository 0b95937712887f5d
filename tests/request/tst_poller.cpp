#include "poller.h"
#include "polltimer.h"
#include "support.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

// The timer rests exactly while there is no request to serve, and wakes to serve one.
class tst_Poller : public QObject {
    Q_OBJECT

private slots:
    void restsWhileAbsentAndServesOnceWoken()
    {
        QTemporaryDir dir;
        Recorder recorder;
        PollTimer timer;
        Poller poller(dir.path(), recorder, &timer);
        timer.start();
        QTRY_VERIFY(timer.isResting());
        QCOMPARE(recorder.events, QStringList());

        // A directory under the name is no request: the timer goes on resting.
        QVERIFY(QDir(dir.path()).mkdir(u"api.txt"_qs));
        QTest::qWait(3 * PollTimer::RestInterval);
        QVERIFY(timer.isResting());
        QCOMPARE(recorder.events, QStringList());
        QVERIFY(QDir(dir.filePath(u"api.txt"_qs)).removeRecursively());

        QVERIFY(writeRequest(dir.path(), Bytes::TurnOn));
        QTRY_VERIFY(recorder.events.size() >= 2);
        QVERIFY(!timer.isResting());
        QCOMPARE(recorder.events.first(), u"send:空调=启动"_qs);

        // A request the transport refuses is still a request: the timer keeps its 1 ms beat.
        recorder.answer = Failure(u"线路不通"_qs);
        recorder.events.clear();
        QTRY_VERIFY(recorder.events.size() >= 2);
        QVERIFY(!timer.isResting());

        QVERIFY(removeRequest(dir.path()));
        QTRY_VERIFY(timer.isResting());
    }
};

QTEST_GUILESS_MAIN(tst_Poller)
#include "tst_poller.moc"
