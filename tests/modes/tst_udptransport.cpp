#include "udplistener.h"
#include "udptransport.h"

#include <QNetworkDatagram>
#include <QTest>
#include <QUdpSocket>

namespace {
// A transport bound to a free port P, sending to a listener that joined it at 127.0.0.1.
struct Loopback {
    bool ready() const { return bound && listener.isBound(); }

    const quint16 port = freePort();
    QUdpSocket socket;
    UdpTransport transport{socket};
    const bool bound =
        (transport.setDestination(QHostAddress::LocalHost), bool(transport.bind(port)));
    UdpListener listener{port};
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
    auto &[port, socket, transport, bound, listener] = loopback;

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
    auto &[port, socket, transport, bound, listener] = loopback;

    QCOMPARE(transport.send(QString(70000, u'灯')).error(), u"数据太长，无法放进一个数据报"_qs);

    // A failure does not spoil the next command.
    QVERIFY(transport.send(QStringLiteral("空调=启动")));
    QVERIFY(listener.catchUp());
    const QList<QNetworkDatagram> &received = listener.received;
    QCOMPARE(received.size(), 1);
    QCOMPARE(received[0].data(), Bytes::On);
}

QTEST_GUILESS_MAIN(tst_UdpTransport)
#include "tst_udptransport.moc"
