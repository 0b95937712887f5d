#include "requestwatch.h"
#include "support.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class tst_RequestWatch : public QObject {
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

    void aMissingDirectoryCannotBeWatched()
    {
        QTemporaryDir dir;
        RequestWatch watch(dir.filePath(u"missing"_qs));
        QVERIFY(!watch.isWatching());
    }
};

QTEST_GUILESS_MAIN(tst_RequestWatch)
#include "tst_requestwatch.moc"
