#include "pollcycle.h"
#include "support.h"
#include "unprivileged.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {
const QString Found = QStringLiteral("report:监测到有人向服务器发送请求，已接受");
const QString Success = QStringLiteral("服务器发送成功");
const QString Unreadable = QStringLiteral("report:请求文件 api.txt 无法读取，本次未发送");
} // namespace

class tst_PollCycle : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    Recorder m_recorder;
    PollResult m_result = PollResult::Absent;

    QString apiPath() const { return m_dir.filePath(QStringLiteral("api.txt")); }
    QStringList poll()
    {
        m_recorder.events.clear();
        m_result = pollOnce(m_dir.path(), m_recorder, m_recorder, Success);
        return m_recorder.events;
    }

private slots:
    void init()
    {
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
        m_recorder.sendSucceeds = true;
    }

    void absentFileDoesNothing()
    {
        for (int tick = 0; tick < 3; ++tick) {
            QCOMPARE(poll(), QStringList());
            QCOMPARE(m_result, PollResult::Absent);
        }
    }

    void directoryCountsAsAbsent()
    {
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("api.txt")));
        QCOMPARE(poll(), QStringList());
    }

    void cycle_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("command");

        QTest::newRow("on") << Bytes::TurnOn + "\r\n" << u"空调=启动"_qs;
        QTest::newRow("only the first field")
            << Bytes::TurnOn + "," + Bytes::TurnOffTv << u"空调=启动"_qs;
        QTest::newRow("quoted") << QByteArray("\"\xB9\xD8\xB1\xD5,\xB5\xE7\xCA\xD3\"")
                                << u"电视=关闭"_qs;
        QTest::newRow("empty first line still sends") << "\r\n" + Bytes::TurnOn << QString();
        QTest::newRow("no device still sends") << Bytes::TurnOn.first(4) << QString();
        QTest::newRow("zero bytes still sends") << QByteArray() << QString();
    }

    void cycle()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, command);
        QVERIFY(writeRequest(m_dir.path(), bytes));
        const QStringList expected{Found, u"send:"_qs + command, u"report:"_qs + Success};
        QCOMPARE(poll(), expected);
        QCOMPARE(poll(), expected);
        QCOMPARE(m_result, PollResult::Sent);
        QVERIFY(QFile::exists(apiPath()));
    }

    void failedSendIsNeverReportedAsSuccess()
    {
        QVERIFY(writeRequest(m_dir.path(), Bytes::TurnOn));
        m_recorder.sendSucceeds = false;
        QCOMPARE(poll(),
                 QStringList({Found, u"send:空调=启动"_qs, u"report:发送失败：线路不通"_qs}));
        QCOMPARE(m_result, PollResult::SendFailed);
    }

    void unreadableFileSendsNothing()
    {
        QVERIFY(writeRequest(m_dir.path(), Bytes::TurnOn));
        QCOMPARE(::chmod(QFile::encodeName(m_dir.path()).constData(), 0755), 0);
        QCOMPARE(::chmod(QFile::encodeName(apiPath()).constData(), 0), 0);
        QStringList events;
        {
            Unprivileged user;
            events = poll();
        }
        QCOMPARE(events, QStringList({Found, Unreadable}));
        QCOMPARE(m_result, PollResult::Unreadable);
    }

    // One cycle kept from tick to tick reuses what it read only while the bytes are the same.
    void keptCycleFollowsEveryChange()
    {
        PollCycle cycle(m_dir.path(), u"request.txt");
        const QString path = m_dir.filePath(u"request.txt"_qs);
        const QByteArray steps[] = {Bytes::TurnOn,
                                    Bytes::TurnOff,
                                    Bytes::TurnOn + "\r\n",
                                    Bytes::TurnOffTv,
                                    QByteArray(5000, 'x') + Bytes::TurnOn,
                                    Bytes::TurnOffTv};
        const QString commands[] = {u"空调=启动"_qs, u"空调=关闭"_qs, u"空调=启动"_qs,
                                    u"电视=关闭"_qs, u"空调=启动"_qs, u"电视=关闭"_qs};
        for (int step = 0; step < 6; ++step) {
            QVERIFY(writeFile(path, steps[step]));
            m_recorder.events.clear();
            QCOMPARE(cycle.run(m_recorder, m_recorder, Success), PollResult::Sent);
            QCOMPARE(m_recorder.events.at(1), u"send:"_qs + commands[step]);
            QCOMPARE(cycle.command(), commands[step]);
        }
        QCOMPARE(cycle.request(), u"关闭电视"_qs);
        QVERIFY(QFile::remove(path));
        QCOMPARE(cycle.run(m_recorder, m_recorder, Success), PollResult::Absent);
    }

    // An ordinary file whose read fails: the first bytes of this process's own memory map.
    void readErrorSendsNothing()
    {
        QVERIFY(QFile::link(QStringLiteral("/proc/self/mem"), apiPath()));
        QCOMPARE(poll(), QStringList({Found, Unreadable}));
    }
};

QTEST_GUILESS_MAIN(tst_PollCycle)
#include "tst_pollcycle.moc"
