#include "udplistener.h"
#include "udptransport.h"

#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QTest>
#include <QUdpSocket>

namespace {
// A transport bound to a free port P, sending to a listener at 127.0.0.1 on P.
struct Loopback {
    bool ready()
    {
        transport.setDestination(QHostAddress::LocalHost);
        return listener.isBound() && transport.bind(port);
    }

    const quint16 port = freePort();
    UdpListener listener{port};
    QUdpSocket socket;
    UdpTransport transport{socket};
};
} // namespace

class tst_UdpTransport : public QObject {
    Q_OBJECT

private slots:
    void sendsEachCommandAsItsGbkBytes();
    void failedSendGivesChineseReason();
};

void tst_UdpTransport::sendsEachCommandAsItsGbkBytes()
{
    Loopback loopback;
    QVERIFY(loopback.ready());
    auto &[port, listener, socket, transport] = loopback;

    // Alternating commands would expose stale bytes kept from the previous one.
    const QStringList commands = {QStringLiteral("空调=启动"), QStringLiteral("空调=启动"),
                                  QStringLiteral("空调=关闭"), QStringLiteral("空调=启动")};
    for (const QString &command : commands)
        QVERIFY(transport.send(command));

    QVERIFY(listener.catchUp());
    const QList<QNetworkDatagram> &received = listener.received;
    QCOMPARE(received.size(), 4);
    const QList<QByteArray> expected = {Bytes::On, Bytes::On, Bytes::Off, Bytes::On};
    for (int i = 0; i < received.size(); ++i) {
        QCOMPARE(received[i].data(), expected[i]);
        QCOMPARE(received[i].senderPort(), int(port));
    }
}

void tst_UdpTransport::failedSendGivesChineseReason()
{
    Loopback loopback;
    QVERIFY(loopback.ready());
    auto &[port, listener, socket, transport] = loopback;

    QVERIFY(!transport.send(QString(70000, u'灯')));
    QVERIFY(!transport.errorString().isEmpty());
    QVERIFY2(!transport.errorString().contains(QRegularExpression(u"[A-Za-z]"_qs)),
             qPrintable(transport.errorString()));

    // A failure does not spoil the next command.
    QVERIFY(transport.send(QStringLiteral("空调=启动")));
    QVERIFY(listener.catchUp());
    const QList<QNetworkDatagram> &received = listener.received;
    QCOMPARE(received.size(), 1);
    QCOMPARE(received[0].data(), Bytes::On);
}

QTEST_GUILESS_MAIN(tst_UdpTransport)
#include "tst_udptransport.moc"
