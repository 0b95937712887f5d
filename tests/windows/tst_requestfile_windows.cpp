#include "pollcycle.h"
#include "requestfile.h"
#include "support.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <windows.h>

// The request file as Windows has it: marks that hide a file, names without regard to case, and a
// producer that replaces or removes the file while the server has it open.
class tst_RequestFileWindows : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    bool mark(DWORD attributes) const
    {
        const QString path = QDir::toNativeSeparators(m_dir.filePath(u"api.txt"_qs));
        return ::SetFileAttributesW(reinterpret_cast<const wchar_t *>(path.utf16()), attributes);
    }

private slots:
    void cleanup()
    {
        mark(FILE_ATTRIBUTE_NORMAL);
        removeRequest(m_dir.path());
    }

    void hiddenAndSystemFilesCountAsAbsent_data()
    {
        QTest::addColumn<int>("attributes");
        QTest::addColumn<bool>("present");
        QTest::newRow("plain") << int(FILE_ATTRIBUTE_NORMAL) << true;
        QTest::newRow("read-only") << int(FILE_ATTRIBUTE_READONLY) << true;
        QTest::newRow("hidden") << int(FILE_ATTRIBUTE_HIDDEN) << false;
        QTest::newRow("system") << int(FILE_ATTRIBUTE_SYSTEM) << false;
        QTest::newRow("both") << int(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM) << false;
    }
    void hiddenAndSystemFilesCountAsAbsent()
    {
        QFETCH(int, attributes);
        QFETCH(bool, present);
        QVERIFY(writeRequest(m_dir.path(), Bytes::TurnOn));
        QVERIFY(mark(DWORD(attributes)));
        Recorder recorder;
        QCOMPARE(PollCycle(m_dir.path()).run(recorder).outcome,
                 present ? PollEvent::Outcome::Sent : PollEvent::Outcome::Absent);
    }

    void nameMatchesWithoutRegardToCase()
    {
        QVERIFY(writeFile(m_dir.filePath(u"API.TXT"_qs), Bytes::TurnOn));
        Recorder recorder;
        QCOMPARE(PollCycle(m_dir.path()).run(recorder).outcome, PollEvent::Outcome::Sent);
        QVERIFY(recorder.events.contains(u"send:空调=启动"_qs));
    }

    // The server holds the file a thousand times a second: a producer removing it must never meet
    // a sharing violation.
    void producerMayRemoveTheOpenFile()
    {
        QVERIFY(writeRequest(m_dir.path(), Bytes::TurnOn));
        RequestFile file(m_dir.path());
        QVERIFY(file.open());
        QVERIFY(removeRequest(m_dir.path()));
        QCOMPARE(file.readFirstField(), std::optional(u"打开空调"_qs));
        file.close();
        QVERIFY(!file.exists());
    }
};

QTEST_GUILESS_MAIN(tst_RequestFileWindows)
#include "tst_requestfile_windows.moc"
