// The request handling alone: one poll cycle (kept from tick to tick, as the windows keep it) with
// api.txt present and absent, and one buildCommand. Qt Test benchmarks: they print figures and
// assert nothing about time.
#include "commandbuilder.h"
#include "pollreport.h"
#include "support.h"

#include <QTemporaryDir>
#include <QTest>

namespace {
class Discard : public StatusSink, public Transport {
public:
    void report(const QString &) override {}
    Result<Delivery> send(const QString &) override { return Delivery::Sent; }
};
} // namespace

class bench_Request : public QObject {
    Q_OBJECT

private slots:
    void pollOnce_data()
    {
        QTest::addColumn<bool>("present");
        QTest::newRow("api.txt present") << true;
        QTest::newRow("api.txt absent") << false;
    }

    void pollOnce()
    {
        QFETCH(bool, present);
        QTemporaryDir dir;
        QVERIFY(!present || writeRequest(dir.path(), Bytes::TurnOn));
        PollCycle cycle(dir.path());
        Discard discard;
        const QString success = QStringLiteral("服务器发送成功");
        QBENCHMARK
        {
            reportPoll(cycle.run(discard), discard, success);
        }
    }

    void buildCommand()
    {
        const QString request = QStringLiteral("请帮我把客厅的空调打开");
        QString command;
        QBENCHMARK
        {
            command = CommandBuilder::buildCommand(request);
        }
        QCOMPARE(command, QStringLiteral("空调=启动"));
    }
};

QTEST_GUILESS_MAIN(bench_Request)
#include "bench_request.moc"
