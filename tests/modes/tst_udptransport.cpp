#include "udplistener.h"
#include "udptransport.h"

#include <QNetworkDatagram>
#include <QTest>
#include <QUdpSocket>

namespace {
const QByteArray AirConditionerOn("\xBF\xD5\xB5\xF7\x3D\xC6\xF4\xB6\xAF");
const QByteArray AirConditionerOff("\xBF\xD5\xB5\xF7\x3D\xB9\xD8\xB1\xD5");

bool hasAsciiLetter(const QString &text)
{
    for (const QChar c : text) {
        if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'))
            return true;
    }
    return false;
}
} // namespace

class tst_UdpTransport : public QObject {
    Q_OBJECT

private slots:
    void sendsEachCommandAsItsGbkBytes();
    void failedSendGivesChineseReason();
};

void tst_UdpTransport::sendsEachCommandAsItsGbkBytes()
{
    const quint16 port = freePort();
    UdpListener listener(port);
    QVERIFY(listener.isBound());
    QUdpSocket socket;
    UdpTransport transport(socket);
    QVERIFY(transport.bind(port));
    transport.setDestination(QHostAddress::LocalHost);

    // Alternating commands would expose stale bytes kept from the previous one.
    const QStringList commands = {QStringLiteral("空调=启动"), QStringLiteral("空调=启动"),
                                  QStringLiteral("空调=关闭"), QStringLiteral("空调=启动")};
    for (const QString &command : commands)
        QVERIFY(transport.send(command));

    QVERIFY(listener.catchUp());
    const QList<QNetworkDatagram> &received = listener.received;
    QCOMPARE(received.size(), 4);
    const QList<QByteArray> expected = {AirConditionerOn, AirConditionerOn, AirConditionerOff,
                                        AirConditionerOn};
    for (int i = 0; i < received.size(); ++i) {
        QCOMPARE(received[i].data(), expected[i]);
        QCOMPARE(received[i].senderPort(), int(port));
    }
}

void tst_UdpTransport::failedSendGivesChineseReason()
{
    const quint16 port = freePort();
    UdpListener listener(port);
    QVERIFY(listener.isBound());
    QUdpSocket socket;
    UdpTransport transport(socket);
    QVERIFY(transport.bind(port));
    transport.setDestination(QHostAddress::LocalHost);

    QVERIFY(!transport.send(QString(70000, u'灯')));
    QVERIFY(!transport.errorString().isEmpty());
    QVERIFY2(!hasAsciiLetter(transport.errorString()), qPrintable(transport.errorString()));

    // A failure does not spoil the next command.
    QVERIFY(transport.send(QStringLiteral("空调=启动")));
    QVERIFY(listener.catchUp());
    const QList<QNetworkDatagram> &received = listener.received;
    QCOMPARE(received.size(), 1);
    QCOMPARE(received[0].data(), AirConditionerOn);
}

QTEST_GUILESS_MAIN(tst_UdpTransport)
#include "tst_udptransport.moc"
