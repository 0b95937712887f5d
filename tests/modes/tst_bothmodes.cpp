#include "blue.h"
#include "pseudoterminal.h"
#include "scriptedinputbox.h"
#include "support.h"
#include "udplistener.h"
#include "wifi.h"

#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

// Both mode windows polling the same request file: each request goes out on both transports.
class tst_BothModes : public QObject {
    Q_OBJECT

private slots:
    void eachRequestGoesOutOnBothTransports()
    {
        QTemporaryDir dir;
        const quint16 port = freePort();
        PseudoTerminal line;
        QVERIFY(line.isValid());

        wifi udp(dir.path());
        {
            ScriptedInputBox box({QString::number(port), u"127.0.0.1"_qs});
            udp.findChild<QPushButton *>(u"s"_qs)->click();
        }
        UdpListener listener(port);
        QVERIFY(listener.isBound());
        blue serial(dir.path(), {line.slavePath()});
        serial.show();

        QVERIFY(writeRequest(dir.path(), Bytes::TurnOn));
        QByteArray serialBytes;
        auto *serverlog = udp.findChild<QListWidget *>(u"serverlog"_qs);
        QVERIFY(runUntil([&] {
            serialBytes += line.read();
            return listener.received.size() >= 10 && serialBytes.size() >= 10 * Bytes::On.size() &&
                   !serverlog->findItems(u"服务器发送成功"_qs, Qt::MatchExactly).isEmpty();
        }));
        for (const QNetworkDatagram &datagram : std::as_const(listener.received)) {
            QCOMPARE(datagram.data(), Bytes::On);
            QCOMPARE(datagram.senderPort(), int(port));
        }
        QCOMPARE(serialBytes.size() % Bytes::On.size() == 0 ? serialBytes : QByteArray(),
                 Bytes::On.repeated(serialBytes.size() / Bytes::On.size()));
        QVERIFY(serial.printedRows().contains(u"发送成功"_qs));
    }
};

QTEST_MAIN(tst_BothModes)
#include "tst_bothmodes.moc"
