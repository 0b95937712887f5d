#include "hostlookup.h"

#include <QSignalSpy>
#include <QTest>

class tst_HostLookup : public QObject {
    Q_OBJECT

private slots:
    void looksAgainWhenAskedAndNotOnceGivenUp()
    {
        HostLookup lookup;
        QSignalSpy finished(&lookup, &HostLookup::finished);
        lookup.start(u"no such host"_qs); // no resolver is asked about a name with spaces
        QVERIFY(finished.wait(10000));
        QVERIFY(finished[0][0].value<QList<QHostAddress>>().isEmpty());
        lookup.retryIn(50);
        QVERIFY(finished.wait(10000));
        lookup.retryIn(1);
        lookup.abort();
        lookup.start(u"localhost"_qs);
        lookup.abort();
        QTest::qWait(300);
        QCOMPARE(finished.size(), 2);
    }

    // However the time limit and the answer race, one of them is told, and once.
    void answersOnceWithinTheTimeLimit()
    {
        HostLookup lookup;
        lookup.setTimeLimit(1);
        QSignalSpy finished(&lookup, &HostLookup::finished);
        lookup.start(u"localhost"_qs);
        QVERIFY(finished.wait(10000));
        QTest::qWait(300);
        QCOMPARE(finished.size(), 1);
    }
};

QTEST_GUILESS_MAIN(tst_HostLookup)
#include "tst_hostlookup.moc"
