#include "commandbuilder.h"
#include "gbk.h"
#include "support.h"

#include <QFile>
#include <QTest>

namespace {
// The two-byte code space of code page 936: lead bytes 81-FE, trail bytes 40-FE but 7F.
QByteArray codeSpace()
{
    QByteArray pairs;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            if (trail != 0x7F)
                pairs.append(char(lead)).append(char(trail));
        }
    }
    return pairs;
}

// The characters of the whole code space, in its order, from the reference table.
QString reference()
{
    QFile table(u":/gbk-936.txt"_qs);
    if (!table.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QString characters;
    while (!table.atEnd()) {
        const QByteArray line = table.readLine().trimmed();
        if (line.startsWith('#'))
            continue;
        for (const QByteArray &entry : line.split(' ').mid(1)) {
            const QList<QByteArray> run = entry.split('-');
            const ushort first = run.first().toUShort(nullptr, 16);
            const ushort last = run.last().toUShort(nullptr, 16);
            for (uint unit = first; unit <= last; ++unit)
                characters.append(QChar(ushort(unit)));
        }
    }
    return characters;
}
} // namespace

// Whichever converter this build has must read and write code page 936 exactly: Qt's ICU-backed
// one where Qt has ICU, Qt 5 Compat's own tables where it has none.
class TestGbk : public QObject {
    Q_OBJECT

private slots:
    void initTestCase_data()
    {
        QTest::addColumn<int>("backend");
        for (const Gbk::Backend backend :
             {Gbk::Backend::StringConverter, Gbk::Backend::TextCodec}) {
            if (Gbk::isAvailable(backend))
                QTest::newRow(backend == Gbk::Backend::StringConverter ? "ICU"
                                                                       : "Qt 5 Compat tables")
                    << int(backend);
        }
    }

    void theDefaultIsIcuWhereQtHasIt()
    {
        const bool icu = Gbk::isAvailable(Gbk::Backend::StringConverter);
        QCOMPARE(Gbk().backend(), icu ? Gbk::Backend::StringConverter : Gbk::Backend::TextCodec);
        QVERIFY(Gbk::isAvailable(Gbk::Backend::TextCodec));
    }

    void commandsOnTheWire()
    {
        QFETCH_GLOBAL(int, backend);
        const Gbk gbk{Gbk::Backend(backend)};
        QCOMPARE(gbk.encode(u"空调=启动"), Bytes::On);
        QCOMPARE(gbk.encode(u"空调=关闭"), Bytes::Off);
        QCOMPARE(gbk.encode(u""), QByteArray());
        QCOMPARE(gbk.decode(Bytes::TurnOn), u"打开空调"_qs);
        for (QStringView device : CommandBuilder::DeviceWords) {
            for (QStringView suffix : {CommandBuilder::OnSuffix, CommandBuilder::OffSuffix}) {
                const QString command = device.toString().append(suffix);
                const QByteArray bytes = gbk.encode(command);
                QCOMPARE(gbk.decode(bytes), command);
                QVERIFY(!bytes.contains('?'));
            }
        }
    }

    // Every pair of the code space reads as the reference says, and every character of the
    // reference is written back as its pair.
    void wholeCodeSpaceMatchesTheReference()
    {
        QFETCH_GLOBAL(int, backend);
        const Gbk gbk{Gbk::Backend(backend)};
        const QByteArray pairs = codeSpace();
        const QString characters = reference();
        QCOMPARE(characters.size(), pairs.size() / 2);
        QStringList mismatches;
        for (qsizetype i = 0; i < characters.size(); ++i) {
            const QByteArray pair = pairs.sliced(2 * i, 2);
            const QString read = gbk.decode(pair);
            const QByteArray written = gbk.encode(characters.sliced(i, 1));
            if (read != characters.sliced(i, 1) || written != pair)
                mismatches << u"%1: U+%2 expected, read %3, written %4"_qs.arg(
                    QString::fromLatin1(pair.toHex().toUpper()),
                    QString::number(characters.at(i).unicode(), 16).toUpper(),
                    QString::fromLatin1(read.toUtf8().toHex()),
                    QString::fromLatin1(written.toHex().toUpper()));
        }
        QVERIFY2(mismatches.isEmpty(), qPrintable(u"%1 mismatches: "_qs.arg(mismatches.size()) +
                                                  mismatches.mid(0, 20).join(u"; ")));
    }
};

QTEST_GUILESS_MAIN(TestGbk)
#include "tst_gbk.moc"
