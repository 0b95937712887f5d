#include "commandbuilder.h"
#include "gbk.h"
#include "support.h"

#include <QFile>
#include <QHash>
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

struct Reference {
    // The characters of the whole code space, in its order.
    QString characters;
    // Where Qt's own tables, following GB18030, read a pair otherwise: pair index, character.
    QHash<qsizetype, QChar> gb18030;
};

Reference reference()
{
    QFile table(u":/gbk-936.txt"_qs);
    if (!table.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    Reference reference;
    while (!table.atEnd()) {
        const QByteArray line = table.readLine().trimmed();
        const QList<QByteArray> fields = line.split(' ');
        if (line.startsWith('#')) {
            continue;
        } else if (line.startsWith('=')) {
            const uint pair = fields.at(1).toUInt(nullptr, 16);
            const qsizetype index =
                ((pair >> 8) - 0x81) * 190 + (pair & 0xFF) - 0x40 - ((pair & 0xFF) > 0x7F ? 1 : 0);
            reference.gb18030.insert(index, QChar(fields.at(2).toUShort(nullptr, 16)));
            continue;
        }
        for (const QByteArray &entry : fields.mid(1)) {
            const QList<QByteArray> run = entry.split('-');
            const ushort first = run.first().toUShort(nullptr, 16);
            const ushort last = run.last().toUShort(nullptr, 16);
            for (uint unit = first; unit <= last; ++unit)
                reference.characters.append(QChar(ushort(unit)));
        }
    }
    return reference;
}
} // namespace

// Whichever converter this build has must read and write code page 936 exactly: Qt's ICU-backed
// one where Qt has ICU, Qt 5 Compat's own tables where it has none.
class tst_Gbk : public QObject {
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
    // reference is written back as its pair. Qt's own tables differ from code page 936 in a few
    // pairs that it leaves to private use; none of them is part of any command.
    void wholeCodeSpaceMatchesTheReference()
    {
        QFETCH_GLOBAL(int, backend);
        const Gbk gbk{Gbk::Backend(backend)};
        const QByteArray pairs = codeSpace();
        const Reference table = reference();
        QCOMPARE(table.characters.size(), pairs.size() / 2);
        const bool ownTables = !Gbk::isAvailable(Gbk::Backend::StringConverter);
        QStringList mismatches;
        for (qsizetype i = 0; i < table.characters.size(); ++i) {
            const QByteArray pair = pairs.sliced(2 * i, 2);
            const QString expected(ownTables ? table.gb18030.value(i, table.characters.at(i))
                                             : table.characters.at(i));
            const QString read = gbk.decode(pair);
            const QByteArray written = gbk.encode(expected);
            if (read != expected || written != pair)
                mismatches << u"%1: U+%2 expected, read %3, written %4"_qs.arg(
                    QString::fromLatin1(pair.toHex().toUpper()),
                    QString::number(expected.at(0).unicode(), 16).toUpper(),
                    QString::fromLatin1(read.toUtf8().toHex()),
                    QString::fromLatin1(written.toHex().toUpper()));
        }
        QVERIFY2(mismatches.isEmpty(), qPrintable(u"%1 mismatches: "_qs.arg(mismatches.size()) +
                                                  mismatches.mid(0, 20).join(u"; ")));

        QString words = CommandBuilder::OnSuffix.toString().append(CommandBuilder::OffSuffix);
        for (QStringView word : CommandBuilder::DeviceWords)
            words += word;
        for (QStringView word : CommandBuilder::OnWords)
            words += word;
        for (QStringView word : CommandBuilder::OffWords)
            words += word;
        for (auto at = table.gb18030.cbegin(); at != table.gb18030.cend(); ++at)
            QVERIFY(!words.contains(at.value()) && !words.contains(table.characters.at(at.key())));
    }
};

QTEST_GUILESS_MAIN(tst_Gbk)
#include "tst_gbk.moc"
