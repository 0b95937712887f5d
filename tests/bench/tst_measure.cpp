#include "measure.h"

#include <QStandardPaths>
#include <QTest>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

class tst_Measure : public QObject {
    Q_OBJECT

private slots:
    void medianAndPercentilesTakeRanks()
    {
        QCOMPARE(median({5, 1, 3}), 3.0);
        QCOMPARE(percentile({4, 2, 9, 7}, 0), 2.0);
        QCOMPARE(percentile({4, 2, 9, 7}, 1), 9.0);
        QCOMPARE(percentile(std::vector<double>(99, 1.0), 0.99), 1.0);
        QCOMPARE(median({}), 0.0);
    }

    void aStallFromTheResetOnIsCounted()
    {
        GapMeter meter;
        meter.beat(5000);
        meter.reset(1000000);
        QCOMPARE(meter.longestMs(), 0.0);
        meter.beat(11000000);
        meter.beat(12000000);
        QCOMPARE(meter.longestMs(), 10.0);
    }

    void theFirstBeatWithoutAResetStartsTheCount()
    {
        GapMeter meter;
        meter.beat(7000000);
        meter.beat(9000000);
        QCOMPARE(meter.longestMs(), 2.0);
    }

    void targetsIncludeTheirBound()
    {
        const Target atMost{Target::AtMost, 5}, atLeast{Target::AtLeast, 950};
        QVERIFY(atMost.isMetBy(5) && !atMost.isMetBy(5.01));
        QVERIFY(atLeast.isMetBy(950) && !atLeast.isMetBy(949.9));
        QCOMPARE(atMost.text("%"), u"≤ 5%"_qs);
        QCOMPARE(atLeast.text(""), u"≥ 950"_qs);
    }

    void figureLinesStandOutFromOtherOutput()
    {
        QByteArray key;
        double value = 0;
        QVERIFY(parseFigureLine(figureLine("latency-p99", 1.25) + '\n', &key, &value));
        QCOMPARE(key, QByteArray("latency-p99"));
        QCOMPARE(value, 1.25);
        QVERIFY(!parseFigureLine("poll rate, wifi alone 999 cycles/s", &key, &value));
        QVERIFY(!parseFigureLine("= stall", &key, &value));
        QVERIFY(!parseFigureLine("= stall long", &key, &value));
    }

    void theNameServerTakesQueriesAndAnswersNone()
    {
        SilentNameServer server(0);
        QVERIFY(server.isListening());
        QVERIFY(server.resolvConf().startsWith("nameserver " + server.address() + '\n'));
        const int client = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(server.port());
        inet_pton(AF_INET, server.address().constData(), &to.sin_addr);
        QCOMPARE(sendto(client, "query", 5, 0, reinterpret_cast<sockaddr *>(&to), sizeof to), 5);
        QCOMPARE(server.takeQueries(), 1);
        QCOMPARE(server.takeQueries(), 0);
        char reply[16];
        QCOMPARE(recv(client, reply, sizeof reply, MSG_DONTWAIT), -1);
        QCOMPARE(errno, EAGAIN);
        close(client);
    }

    void hogsRunNicedAndEndWithTheirOwner()
    {
        std::vector<pid_t> pids;
        {
            const Hogs hogs(2, 10);
            pids = hogs.pids();
            QCOMPARE(pids.size(), size_t(2));
            for (const pid_t pid : pids)
                QTRY_COMPARE(getpriority(PRIO_PROCESS, pid), 10);
        }
        for (const pid_t pid : pids)
            QCOMPARE(kill(pid, 0), -1);
    }

    void aFreePortCanBeBound()
    {
        const quint16 port = freeUdpPort();
        QVERIFY(port != 0);
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QCOMPARE(bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        close(fd);
    }

    void theLoadAverageHasThreeFigures()
    {
        const QList<QByteArray> figures = loadAverage().split(' ');
        QCOMPARE(figures.size(), 3);
        for (const QByteArray &figure : figures)
            QVERIFY(figure.toDouble() >= 0);
    }

    void xvfbGivesADisplay()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
            QSKIP("Xvfb is not installed");
        const Xvfb server;
        QVERIFY(server.display().startsWith(':'));
    }
};

QTEST_GUILESS_MAIN(tst_Measure)
#include "tst_measure.moc"
