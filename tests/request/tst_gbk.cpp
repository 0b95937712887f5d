#include "commandbuilder.h"
#include "gbk.h"

#include <QTest>

// Both converters must give the same bytes both ways: builds without ICU use the second one.
class TestGbk : public QObject {
    Q_OBJECT

private slots:
    void bothBackendsExistHere()
    {
        QVERIFY(Gbk::isAvailable(Gbk::Backend::StringConverter));
        QVERIFY(Gbk::isAvailable(Gbk::Backend::TextCodec));
        QCOMPARE(Gbk().backend(), Gbk::Backend::StringConverter);
    }

    void commandsOnTheWire_data()
    {
        QTest::addColumn<int>("backend");
        QTest::newRow("string converter") << int(Gbk::Backend::StringConverter);
        QTest::newRow("text codec") << int(Gbk::Backend::TextCodec);
    }

    void commandsOnTheWire()
    {
        QFETCH(int, backend);
        const Gbk gbk{Gbk::Backend(backend)};
        QCOMPARE(gbk.encode(u"空调=启动"), QByteArray("\xBF\xD5\xB5\xF7\x3D\xC6\xF4\xB6\xAF"));
        QCOMPARE(gbk.encode(u"空调=关闭"), QByteArray("\xBF\xD5\xB5\xF7\x3D\xB9\xD8\xB1\xD5"));
        QCOMPARE(gbk.encode(u""), QByteArray());
        QCOMPARE(gbk.decode("\xB4\xF2\xBF\xAA\xBF\xD5\xB5\xF7"), u"打开空调"_qs);
    }

    void everyCommandEncodesAlikeAndRoundTrips()
    {
        const Gbk icu(Gbk::Backend::StringConverter);
        const Gbk compat(Gbk::Backend::TextCodec);
        for (QStringView device : CommandBuilder::DeviceWords) {
            for (QStringView suffix : {CommandBuilder::OnSuffix, CommandBuilder::OffSuffix}) {
                const QString command = device.toString().append(suffix);
                const QByteArray bytes = icu.encode(command);
                QCOMPARE(compat.encode(command), bytes);
                QCOMPARE(icu.decode(bytes), command);
                QVERIFY(!bytes.contains('?'));
            }
        }
    }

    // Every two-byte sequence, valid or not, decodes the same through both converters, and every
    // character they produce encodes back the same.
    void wholeCodeSpaceAgrees()
    {
        const Gbk icu(Gbk::Backend::StringConverter);
        const Gbk compat(Gbk::Backend::TextCodec);
        QByteArray pair(2, '\0');
        for (int lead = 0x80; lead <= 0xFF; ++lead) {
            for (int trail = 0x20; trail <= 0xFF; ++trail) {
                pair[0] = char(lead);
                pair[1] = char(trail);
                const QString text = icu.decode(pair);
                QCOMPARE(compat.decode(pair), text);
                QCOMPARE(compat.encode(text), icu.encode(text));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestGbk)
#include "tst_gbk.moc"
