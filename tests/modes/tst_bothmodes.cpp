#include "blue.h"
#include "facilities.h"
#include "modes/pseudoterminal.h"
#include "support.h"
#include "wifi.h"

#include <QListWidget>
#include <QNetworkDatagram>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

// Both mode windows polling the same request file: each request goes out on both transports.
class TestBothModes : public QObject {
    Q_OBJECT

private slots:
    void eachRequestGoesOutOnBothTransports()
    {
        QTemporaryDir dir;
        QUdpSocket listener;
        QVERIFY(listener.bind(QHostAddress::LocalHost, 0,
                              QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint));
        const quint16 port = listener.localPort();
        PseudoTerminal line;
        QVERIFY(line.isValid());

        const QStringList answers{QString::number(port), u"127.0.0.1"_qs};
        int next = 0;
        const InputBoxFunction previous =
            replaceInputBox([&](QWidget *, const QString &) { return answers.value(next++); });
        wifi udp(dir.path());
        udp.findChild<QPushButton *>(u"s"_qs)->click();
        replaceInputBox(previous);
        blue serial(dir.path(), {line.slavePath()});

        QVERIFY(writeBytes(dir.filePath(u"api.txt"_qs), "\xB4\xF2\xBF\xAA\xBF\xD5\xB5\xF7"));
        const QByteArray command("\xBF\xD5\xB5\xF7\x3D\xC6\xF4\xB6\xAF");
        QByteArray serialBytes;
        int datagrams = 0;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                while (listener.hasPendingDatagrams()) {
                    const QNetworkDatagram datagram = listener.receiveDatagram();
                    if (datagram.data() != command || datagram.senderPort() != port)
                        return false;
                    ++datagrams;
                }
                serialBytes += line.read();
                return datagrams >= 10 && serialBytes.size() >= 10 * command.size();
            }(),
            10000);
        QCOMPARE(serialBytes.size() % command.size() == 0 ? serialBytes : QByteArray(),
                 command.repeated(serialBytes.size() / command.size()));
        QVERIFY(udp.findChild<QListWidget *>(u"serverlog"_qs)
                    ->findItems(u"服务器发送成功"_qs, Qt::MatchExactly)
                    .size() > 0);
        QVERIFY(serial.printedRows().contains(u"发送成功"_qs));
    }
};

QTEST_MAIN(TestBothModes)
#include "tst_bothmodes.moc"
