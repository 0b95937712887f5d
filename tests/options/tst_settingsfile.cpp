#include "option.h"
#include "settingsfile.h"
#include "support.h"

#include <QTemporaryDir>
#include <QTest>

class tst_SettingsFile : public QObject {
    Q_OBJECT

private slots:
    // What a file gives, each value as written ("key=value", in the order of the rows), or the
    // start of the one line that refuses it.
    void valuesAsWrittenOrRefused_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("outcome");

        QTest::newRow("every character inside a value")
            << QByteArray("mqtt_password=s3cret;x, y \"z\" \\n=#w;\n")
            << u"mqtt_password=s3cret;x, y \"z\" \\n=#w;"_qs;
        QTest::newRow("spaces at the ends, comments, CRLF, a BOM")
            << QByteArray("\xEF\xBB\xBF; the outputs\r\n# two\r\nudp = a:1, b:2 \r\n"
                          "  # an old one\r\n\r\nmqtt_password =  p  q\t\r\n")
            << u"udp=a:1|udp=b:2|mqtt_password=p  q"_qs;
        QTest::newRow("a colon for the equals sign, an empty value")
            << QByteArray("interval: 5\nmqtt_password=\n") << u"interval=5|mqtt_password="_qs;
        QTest::newRow("no line end at the end") << QByteArray("interval=5") << u"interval=5"_qs;

        QTest::newRow("a semicolon after a space")
            << QByteArray("interval=5\nmqtt_password=abc ;def\n")
            << u"第 2 行：mqtt_password= 的值中空白后的“;”起会被当作注释"_qs;
        QTest::newRow("a comment after a value")
            << QByteArray("interval=5 ; ms\n") << u"第 1 行：interval= 的值中空白后的“;”"_qs;
        QTest::newRow("a list on several lines")
            << QByteArray("udp=a:1\ninterval=3\n\nudp=b:2, c:3\n")
            << u"udp=a:1|udp=b:2|udp=c:3|interval=3"_qs;
        QByteArray fifty;
        QStringList destinations;
        for (int i = 1; i <= 60; ++i) {
            fifty += "udp=192.168.100." + QByteArray::number(i) + ":8888\n";
            destinations << QStringLiteral("udp=192.168.100.%1:8888").arg(i);
        }
        QTest::newRow("sixty destinations") << fifty << destinations.join(u'|');
        QTest::newRow("given twice, the same value")
            << QByteArray("interval=3\ninterval=3\n") << u"中的 interval= 写了两次"_qs;
        QTest::newRow("an indented line") << QByteArray("interval=3\n  udp=a:1\n")
                                          << u"第 2 行以空白开头，会被当作 interval= 的续行"_qs;
        QTest::newRow("a line too long")
            << QByteArray("mqtt_password=" + QByteArray(190, 'x') + "\n")
            << u"第 1 行（mqtt_password）太长：一行至多 198 字节"_qs;
        QTest::newRow("no equals sign")
            << QByteArray("interval=3\nudp\n") << u"第 2 行的格式有误：应为 设置=值"_qs;
        QTest::newRow("not UTF-8") << QByteArray("mqtt_password=\xff\xfe\n")
                                   << u"第 1 行：mqtt_password= 的值不是 UTF-8"_qs;
        QTest::newRow("a NUL byte") << QByteArray("interval=3\0x\n", 13) << u"不是文本文件"_qs;
        QTest::newRow("a key in a section")
            << QByteArray("[relay]\nudp=h:5\n") << u"设置须写在任何 [节] 之前"_qs;
        QTest::newRow("an unknown key")
            << QByteArray("port=8\n") << u"不认识的设置“port”（认识的有：udp、interval、"_qs;
    }
    void valuesAsWrittenOrRefused()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, outcome);
        using Row = Option<QString>;
        const QList<OptionEntry> rows = {Row(u"udp"_qs, u"h:p"_qs).inFile().repeatable().entry(),
                                         Row(u"interval"_qs, u"ms"_qs).inFile().entry(),
                                         Row(u"request"_qs, u"file"_qs).entry(),
                                         Row::fileOnly(u"mqtt_password"_qs, {}, {}).entry()};
        QTemporaryDir dir;
        const QString path = dir.filePath(u"relay.conf"_qs);
        QVERIFY(writeFile(path, file));

        const Result<OptionValues> values = readSettingsFile(path, rows);
        QString got;
        if (values) {
            QStringList given;
            for (const OptionEntry &row : rows) {
                for (const Given &value : values->all(row.name)) {
                    given << row.name + u'=' + value.text;
                    QCOMPARE(value.where,
                             QStringLiteral("配置文件“%1”中的 %2=").arg(path, row.key()));
                }
            }
            got = given.join(u'|');
        } else {
            got = values.error();
            QVERIFY2(got.startsWith(QStringLiteral("配置文件“%1”").arg(path)), qPrintable(got));
            QVERIFY(!got.contains(u'\n'));
            // The values themselves never, wherever the temporary directory happens to be.
            const QString told = QString(got).remove(path);
            QVERIFY2(!told.contains(u"def"_qs) && !told.contains(u"xxx"_qs), qPrintable(got));
        }
        QVERIFY2(values ? got == outcome : got.contains(outcome), qPrintable(got));
    }
};

QTEST_GUILESS_MAIN(tst_SettingsFile)
#include "tst_settingsfile.moc"
