#include "requestwatch.h"
#include "support.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestRequestWatch : public QObject {
    Q_OBJECT

private slots:
    void wakesWhenTheRequestAppears()
    {
        QTemporaryDir dir;
        RequestWatch watch(dir.path());
        QVERIFY(watch.isWatching());

        QSignalSpy appeared(&watch, &RequestWatch::mayHaveAppeared);
        QVERIFY(QDir(dir.path()).mkdir(u"api.txt"_qs));
        QTRY_VERIFY(appeared.count() > 0);

        QVERIFY(QDir(dir.filePath(u"api.txt"_qs)).removeRecursively());
        appeared.clear();
        QVERIFY(writeFile(dir.filePath(u"api.tmp"_qs), Bytes::TurnOn));
        QVERIFY(QFile::rename(dir.filePath(u"api.tmp"_qs), dir.filePath(u"api.txt"_qs)));
        QTRY_VERIFY(appeared.count() > 0);
    }

    // An installed program's api.txt is a link into a directory that producers may write to.
    void wakesWhenTheRequestAppearsWhereTheLinkPoints()
    {
        QTemporaryDir program;
        QTemporaryDir requests;
        QVERIFY(QFile::link(requests.filePath(u"api.txt"_qs), program.filePath(u"api.txt"_qs)));
        RequestWatch watch(program.path());
        QVERIFY(watch.isWatching());

        QSignalSpy appeared(&watch, &RequestWatch::mayHaveAppeared);
        QVERIFY(writeRequest(requests.path(), Bytes::TurnOn));
        QTRY_VERIFY(appeared.count() > 0);
    }

    void aLinkIntoAMissingDirectoryCannotBeWatched()
    {
        QTemporaryDir program;
        QVERIFY(QFile::link(program.filePath(u"gone/api.txt"_qs), program.filePath(u"api.txt"_qs)));
        RequestWatch watch(program.path());
        QVERIFY(!watch.isWatching());
    }

    void aMissingDirectoryCannotBeWatched()
    {
        QTemporaryDir dir;
        RequestWatch watch(dir.filePath(u"missing"_qs));
        QVERIFY(!watch.isWatching());
    }
};

QTEST_GUILESS_MAIN(TestRequestWatch)
#include "tst_requestwatch.moc"
