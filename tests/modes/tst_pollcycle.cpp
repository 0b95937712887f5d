#include "pollreport.h"
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
using Outcome = PollEvent::Outcome;

// The window's lines of a tick in the same list as the commands sent, in their order.
struct LineRecorder : Recorder, StatusSink {
    void report(const QString &line) override { events << u"report:"_qs + line; }
};
} // namespace

class tst_PollCycle : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    LineRecorder m_recorder;
    PollEvent m_event;

    QString apiPath() const { return m_dir.filePath(QStringLiteral("api.txt")); }
    QStringList poll()
    {
        m_recorder.events.clear();
        m_event = PollCycle(m_dir.path()).run(m_recorder);
        reportPoll(m_event, m_recorder, Success);
        return m_recorder.events;
    }

private slots:
    void init()
    {
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
        m_recorder.answer = Delivery::Sent;
    }

    void absentFileDoesNothing()
    {
        for (int tick = 0; tick < 3; ++tick) {
            QCOMPARE(poll(), QStringList());
            QCOMPARE(m_event.outcome, Outcome::Absent);
        }
        // A directory under the name is no request either.
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("api.txt")));
        QCOMPARE(poll(), QStringList());
    }

    // The whole cycle with its lines: every tick alike, and the file left where it is.
    void cycle()
    {
        QVERIFY(writeRequest(m_dir.path(), Bytes::TurnOn + "\r\n"));
        const QStringList expected{u"send:空调=启动"_qs, Found, u"report:"_qs + Success};
        QCOMPARE(poll(), expected);
        QCOMPARE(poll(), expected);
        QCOMPARE(m_event.outcome, Outcome::Sent);
        QVERIFY(QFile::exists(apiPath()));
    }

    void refusedCommandIsNeverReportedAsSuccess()
    {
        QVERIFY(writeRequest(m_dir.path(), Bytes::TurnOn));
        m_recorder.answer = Failure(u"线路不通"_qs);
        QCOMPARE(poll(),
                 QStringList({u"send:空调=启动"_qs, Found, u"report:发送失败：线路不通"_qs}));
        QCOMPARE(m_event.outcome, Outcome::Failed);
        m_recorder.answer = Delivery::Busy;
        QCOMPARE(poll().last(), u"report:发送失败：串口忙，本次未发送"_qs);
        QCOMPARE(m_event.outcome, Outcome::Busy);
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
        QCOMPARE(m_event.outcome, Outcome::Unreadable);
    }

    // One cycle kept from tick to tick reuses what it read only while the bytes are the same, and
    // tells a command that differs from the last one read, or comes after the file was absent.
    void keptCycleFollowsEveryChange()
    {
        PollCycle cycle(m_dir.path(), u"request.txt");
        const QString path = m_dir.filePath(u"request.txt"_qs);
        const QByteArray gone = "<absent>", broken = "<unreadable>";
        const struct {
            QByteArray bytes;
            Outcome outcome;
            QString request, command;
            bool changed;
        } steps[] = {
            {gone, Outcome::Absent, {}, {}, false},
            {Bytes::TurnOn, Outcome::Sent, u"打开空调"_qs, u"空调=启动"_qs, true},
            {Bytes::TurnOn, Outcome::Sent, u"打开空调"_qs, u"空调=启动"_qs, false},
            {Bytes::TurnOff, Outcome::Sent, u"关闭空调"_qs, u"空调=关闭"_qs, true},
            {Bytes::TurnOff + "\r\n", Outcome::Sent, u"关闭空调"_qs, u"空调=关闭"_qs, false},
            // An ordinary file whose read fails: the first bytes of this process's memory map.
            {broken, Outcome::Unreadable, {}, {}, false},
            {Bytes::TurnOff, Outcome::Sent, u"关闭空调"_qs, u"空调=关闭"_qs, false},
            {Bytes::TurnOffTv, Outcome::Sent, u"关闭电视"_qs, u"电视=关闭"_qs, true},
            {QByteArray(5000, 'x') + Bytes::TurnOn, Outcome::Sent,
             QString(5000, u'x') + u"打开空调"_qs, u"空调=启动"_qs, true},
            {gone, Outcome::Absent, {}, {}, false},
            {Bytes::TurnOn + "," + Bytes::TurnOffTv, Outcome::Sent, u"打开空调"_qs, u"空调=启动"_qs,
             true},
            {"\"\xB9\xD8\xB1\xD5,\xB5\xE7\xCA\xD3\"", Outcome::Sent, u"关闭,电视"_qs,
             u"电视=关闭"_qs, true},
            // A request without a command is still handed over, empty.
            {"\r\n" + Bytes::TurnOn, Outcome::Sent, {}, {}, true},
            {Bytes::TurnOn.first(4), Outcome::Sent, u"打开"_qs, {}, false},
            {QByteArray(), Outcome::Sent, {}, {}, false},
        };
        for (const auto &step : steps) {
            QFile::remove(path);
            if (step.bytes == broken)
                QVERIFY(QFile::link(QStringLiteral("/proc/self/mem"), path));
            else if (step.bytes != gone)
                QVERIFY(writeFile(path, step.bytes));
            m_recorder.events.clear();
            const PollEvent event = cycle.run(m_recorder);
            QCOMPARE(event.outcome, step.outcome);
            QCOMPARE(event.request, step.request);
            QCOMPARE(event.command, step.command);
            QCOMPARE(event.commandChanged, step.changed);
            const qsizetype sends = step.outcome == Outcome::Sent ? 1 : 0;
            QCOMPARE(m_recorder.events, QStringList(sends, u"send:"_qs + step.command));
        }
    }
};

QTEST_GUILESS_MAIN(tst_PollCycle)
#include "tst_pollcycle.moc"
