#include "requestfile.h"
#include "support.h"

#include <QTemporaryDir>
#include <QTest>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
const QByteArray OpenAirConditioner = Bytes::TurnOn;
const QByteArray CloseTv = Bytes::TurnOffTv;
const QByteArray FullWidthComma = "\xA3\xAC"; // ，
} // namespace

class tst_RequestFile : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString apiPath() const { return m_dir.filePath(QStringLiteral("api.txt")); }

    std::optional<QString> readFirstField()
    {
        RequestFile file(m_dir.path());
        if (!file.open())
            return std::nullopt;
        const auto field = file.readFirstField();
        file.close();
        return field;
    }

private slots:
    void cleanup() { QDir(m_dir.path()).removeRecursively(), QDir().mkpath(m_dir.path()); }

    void firstField_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("field");

        QTest::newRow("plain line") << OpenAirConditioner + "\r\n" << u"打开空调"_qs;
        QTest::newRow("no line end") << OpenAirConditioner << u"打开空调"_qs;
        QTest::newRow("ascii comma") << OpenAirConditioner + "," + CloseTv << u"打开空调"_qs;
        QTest::newRow("full-width comma is text")
            << OpenAirConditioner + FullWidthComma + CloseTv << u"打开空调，关闭电视"_qs;
        QTest::newRow("quoted comma")
            << QByteArray("\"\xB9\xD8\xB1\xD5,\xB5\xE7\xCA\xD3\"\r\n") << u"关闭,电视"_qs;
        QTest::newRow("quoted line end") << QByteArray("\"a\nb\",c") << u"a\nb"_qs;
        QTest::newRow("text after closing quote ignored") << QByteArray("\"ab\"cd") << u"ab"_qs;
        QTest::newRow("CR") << OpenAirConditioner + "\r" + CloseTv << u"打开空调"_qs;
        QTest::newRow("LF") << OpenAirConditioner + "\n" + CloseTv << u"打开空调"_qs;
        QTest::newRow("CRLF") << OpenAirConditioner + "\r\n" + CloseTv << u"打开空调"_qs;
        QTest::newRow("empty first line") << "\r\n" + OpenAirConditioner << QString();
        QTest::newRow("zero bytes") << QByteArray() << QString();
        QTest::newRow("spaces only") << QByteArray("   ") << QString();
        QTest::newRow("leading spaces and tabs") << " \t " + OpenAirConditioner << u"打开空调"_qs;
        QTest::newRow("trailing spaces kept") << QByteArray("ab  ,c") << u"ab  "_qs;
        QTest::newRow("leading full-width space kept")
            << "\xA1\xA1" + OpenAirConditioner << u"\u3000打开空调"_qs;
        QTest::newRow("unclosed quote ends with its line")
            << "\"" + OpenAirConditioner + "\r\n" + CloseTv << u"打开空调"_qs;
        QTest::newRow("unclosed quote at end of file") << QByteArray("\"a,b") << u"a,b"_qs;
        QTest::newRow("invalid bytes keep their neighbours")
            << QByteArray("\xB4\xF2\x81 \xBF\xAA") << u"打\uFFFD 开"_qs;
        QTest::newRow("lead byte cut off by a comma is dropped")
            << QByteArray("a\xB4,b") << u"a"_qs;
        QTest::newRow("field longer than one read")
            << QByteArray(6000, 'x') + ",y" << QString(6000, u'x');
        QTest::newRow("quote closed after one read")
            << "\"" + QByteArray(6000, 'x') + "\"" << QString(6000, u'x');
    }

    void firstField()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, field);
        QVERIFY(writeRequest(m_dir.path(), bytes));
        QCOMPARE(readFirstField(), std::optional(field));
    }

    // A runaway producer: the cycle reads no more than its bound, whatever the file holds.
    void hugeLineIsBounded_data()
    {
        QTest::addColumn<QByteArray>("prefix");
        QTest::newRow("plain") << QByteArray();
        QTest::newRow("quoted") << QByteArray("\"");
    }

    void hugeLineIsBounded()
    {
        QFETCH(QByteArray, prefix);
        QByteArray bytes = prefix + OpenAirConditioner;
        bytes.append(64 * 1024 * 1024, 'x');
        QVERIFY(writeRequest(m_dir.path(), bytes));
        const auto field = readFirstField();
        QVERIFY(field);
        QVERIFY(field->startsWith(u"打开空调"));
        QVERIFY(field->size() <= RequestFile::MaxBytes);
    }

    void existsOnlyForOrdinaryFiles()
    {
        RequestFile file(m_dir.path());
        QVERIFY(!file.exists());

        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("api.txt")));
        QVERIFY(!file.exists());
        QVERIFY(QDir(apiPath()).removeRecursively());

        QCOMPARE(::mkfifo(QFile::encodeName(apiPath()).constData(), 0644), 0);
        QVERIFY(!file.exists());
        QVERIFY(QFile::remove(apiPath()));

        QVERIFY(QFile::link(m_dir.filePath(QStringLiteral("missing")), apiPath()));
        QVERIFY(!file.exists());
        QVERIFY(QFile::remove(apiPath()));

        const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(apiPath()).constData(),
                 sizeof address.sun_path);
        QCOMPARE(::bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        QVERIFY(!file.exists());
        ::close(sock);
        QVERIFY(QFile::remove(apiPath()));

        QVERIFY(writeFile(m_dir.filePath(QStringLiteral("real.txt")), OpenAirConditioner));
        QVERIFY(QFile::link(m_dir.filePath(QStringLiteral("real.txt")), apiPath()));
        QVERIFY(file.exists());
        QVERIFY(QFile::remove(apiPath()));

        QVERIFY(writeRequest(m_dir.path(), QByteArray()));
        QVERIFY(file.exists());
    }

    // The name can turn into a FIFO between the existence test and the open; a FIFO with no
    // writer would block an ordinary open for ever.
    void openNeverBlocksOnAFifo()
    {
        QCOMPARE(::mkfifo(QFile::encodeName(apiPath()).constData(), 0644), 0);
        RequestFile file(m_dir.path());
        QVERIFY(!file.open());
    }

    void openFailsWhenRemoved()
    {
        RequestFile file(m_dir.path());
        QVERIFY(!file.open());
    }
};

QTEST_GUILESS_MAIN(tst_RequestFile)
#include "tst_requestfile.moc"
