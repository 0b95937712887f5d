#include "requestwatch.h"
#include "support.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// Where api.txt is a symbolic link, as in the Linux package, whose program directory nobody may
// write to.
class tst_RequestLinks : public QObject {
    Q_OBJECT

private slots:
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
};

QTEST_GUILESS_MAIN(tst_RequestLinks)
#include "tst_requestlinks.moc"
