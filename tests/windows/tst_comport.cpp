#include "blue.h"
#include "launch.h"
#include "polltimer.h"
#include "serialtransport.h"
#include "support.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

// The serial line on Windows: `blue` and then morvane-relay write to COM1, and the test reads what
// arrives at COM2, the far end of the same line (under Wine, a pseudo-terminal pair). Each port is
// opened once only: under Wine 8, a process that opens a serial port a second time crashes or hangs
// at its next loading of a DLL.
namespace {
const QByteArray AirOff = Bytes::Off;

// What arrives until `count` bytes have come or a second passes with nothing new, while the event
// loop keeps running. The port is waited on directly: under Wine its readyRead does not come
// through the event loop.
QByteArray receive(QSerialPort &port, qsizetype count)
{
    QByteArray bytes = port.readAll();
    QDeadlineTimer quiet(1000);
    while (bytes.size() < count && !quiet.hasExpired()) {
        QCoreApplication::processEvents();
        port.waitForReadyRead(10);
        const QByteArray more = port.readAll();
        if (!more.isEmpty())
            quiet.setRemainingTime(1000);
        bytes += more;
    }
    return bytes;
}
} // namespace

class tst_ComPort : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_farEnd.setPortName(u"COM2"_qs);
        SerialTransport::setLine(m_farEnd);
        QVERIFY2(m_farEnd.open(QIODevice::ReadWrite), qPrintable(m_farEnd.errorString()));
        while (m_farEnd.waitForReadyRead(100))
            m_farEnd.readAll();
    }

    // 「关闭空调」 goes out on COM1 as 「空调=关闭」 in GBK at every tick, one command after
    // another.
    void blueForwardsEachRequestOnComOne()
    {
        QTemporaryDir dir;
        QVERIFY(writeRequest(dir.path(), Bytes::TurnOff));
        blue window(dir.path(), SerialTransport::defaultDevices());
        window.show();

        QByteArray received = receive(m_farEnd, 3 * AirOff.size());
        window.findChild<PollTimer *>(u"Timer1"_qs)->stop();
        received += receive(m_farEnd, AirOff.size());
        const QStringList rows = window.printedRows();
        QVERIFY2(received.size() >= 3 * AirOff.size(), qPrintable(rows.value(1)));
        QCOMPARE(received, AirOff.repeated(received.size() / AirOff.size()));

        // A write completes in the event loop, so a tick may find the line still busy: it sends
        // nothing then, and every tick that reports success put one whole command on the line.
        qsizetype sent = 0;
        for (int row = 0; row < rows.size(); ++row) {
            if (row % 2 == 0)
                QCOMPARE(rows.at(row), u"监测到有人向服务器发送请求，已接受"_qs);
            else if (rows.at(row) == u"发送成功"_qs)
                ++sent;
            else
                QCOMPARE(rows.at(row), u"发送失败：串口忙，本次未发送"_qs);
        }
        QCOMPARE(sent * AirOff.size(), received.size());
    }

    // The relay, started as a user starts it, forwards the request on COM1 in the same bytes.
    void relayForwardsEachRequestOnComOne()
    {
        QTemporaryDir dir;
        QVERIFY(writeRequest(dir.path(), Bytes::TurnOff));
        QProcess relay;
        QVERIFY((Launch{QStringLiteral(RELAY_EXECUTABLE),
                        {u"--request"_qs, dir.filePath(u"api.txt"_qs), u"--serial"_qs, u"COM1"_qs}}
                     .started(relay)));
        const QByteArray received = receive(m_farEnd, 20 * AirOff.size());
        relay.kill();
        relay.waitForFinished();
        QVERIFY2(received.size() >= 20 * AirOff.size(), relay.readAllStandardError().constData());
        const qsizetype whole = received.size() / AirOff.size();
        QCOMPARE(received.first(whole * AirOff.size()), AirOff.repeated(whole));
    }

private:
    QSerialPort m_farEnd;
};

QTEST_MAIN(tst_ComPort)
#include "tst_comport.moc"
