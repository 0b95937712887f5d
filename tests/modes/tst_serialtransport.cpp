#include "pseudoterminal.h"
#include "serialtransport.h"
#include "support.h"

#include <QFile>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <memory>
#include <optional>
#include <termios.h>

namespace {
using Bytes::On;
using Bytes::TvOff;

bool sent(const Result<Delivery> &delivery)
{
    return delivery && *delivery == Delivery::Sent;
}
} // namespace

class tst_SerialTransport : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_pty = std::make_unique<PseudoTerminal>();
        QVERIFY(m_dir->isValid());
        QVERIFY(m_pty->isValid());
    }

    void commandsGoOutExactlyBackToBack_data()
    {
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("repeated") << QStringList(5, u"空调=启动"_qs) << On.repeated(5);
        QTest::newRow("alternating")
            << QStringList{u"空调=启动"_qs, u"电视=关闭"_qs, u"空调=启动"_qs} << On + TvOff + On;
        QTest::newRow("empty ones add nothing")
            << QStringList{QString(), u"电视=关闭"_qs, QString(), u"电视=关闭"_qs}
            << TvOff.repeated(2);
    }
    void commandsGoOutExactlyBackToBack()
    {
        QFETCH(QStringList, commands);
        QFETCH(QByteArray, expected);
        QSerialPort port;
        SerialTransport transport(&port, {m_pty->slavePath()});
        for (const QString &command : commands)
            QVERIFY(sent(transport.send(command)));
        QByteArray received;
        QTRY_COMPARE((received += m_pty->read()), expected);
    }

    void lineIs9600Baud8N1WithoutFlowControl_data()
    {
        QTest::addColumn<qint32>("baud");
        QTest::addColumn<speed_t>("speed");
        QTest::newRow("as agreed") << 0 << speed_t(B9600);
        QTest::newRow("a faster module") << 115200 << speed_t(B115200);
    }
    void lineIs9600Baud8N1WithoutFlowControl()
    {
        QFETCH(qint32, baud);
        QFETCH(speed_t, speed);
        QSerialPort port;
        std::optional<SerialTransport> transport;
        if (baud)
            transport.emplace(&port, QStringList{m_pty->slavePath()}, baud);
        else
            transport.emplace(&port, QStringList{m_pty->slavePath()});
        QVERIFY(sent(transport->send(u"灯=启动"_qs)));
        termios line{};
        QCOMPARE(::tcgetattr(m_pty->slave(), &line), 0);
        QCOMPARE(::cfgetospeed(&line), speed);
        QCOMPARE(line.c_cflag & CSIZE, tcflag_t(CS8));
        QCOMPARE(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
        QCOMPARE(line.c_iflag & (IXON | IXOFF), tcflag_t(0));
    }

    void emptyCommandLeavesPortClosed()
    {
        QSerialPort port;
        SerialTransport transport(&port, {m_dir->filePath(u"absent"_qs)});
        QVERIFY(sent(transport.send(QString())));
        QVERIFY(!port.isOpen());
        QCOMPARE(transport.device(), QString());
    }

    void openFailureIsExplained_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("reason");
        QTest::newRow("absent") << u"absent"_qs << u"未找到串口设备"_qs;
        QTest::newRow("not a terminal") << u"plain"_qs << u"串口 %1 无法打开"_qs;
        QTest::newRow("held by another")
            << u"held"_qs
            << u"串口 %1 无法打开：没有权限或已被占用（普通用户须在 dialout 组中）"_qs;
    }
    void openFailureIsExplained()
    {
        QFETCH(QString, device);
        QFETCH(QString, reason);
        const QString path = m_dir->filePath(device);
        QFile plain(m_dir->filePath(u"plain"_qs));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        QVERIFY(pointLink(m_dir->filePath(u"held"_qs), m_pty->slavePath()));
        QSerialPort holder;
        holder.setPortName(m_dir->filePath(u"held"_qs));
        QVERIFY(holder.open(QIODevice::WriteOnly));

        QSerialPort port;
        SerialTransport transport(&port, {path});
        for (int attempt = 0; attempt < 2; ++attempt)
            QCOMPARE(transport.send(u"灯=启动"_qs).error(), reason.arg(path));
        QVERIFY(!port.isOpen());
        QCOMPARE(m_pty->read(), QByteArray());
    }

    void deviceAppearingLaterIsPickedUp()
    {
        const QString link = m_dir->filePath(u"rfcomm0"_qs);
        QSerialPort port;
        SerialTransport transport(&port, {m_dir->filePath(u"ttyUSB0"_qs), link});
        QCOMPARE(transport.send(u"电视=关闭"_qs).error(), u"未找到串口设备"_qs);

        QVERIFY(pointLink(link, m_pty->slavePath()));
        QVERIFY(sent(transport.send(u"电视=关闭"_qs)));
        QByteArray received;
        QTRY_COMPARE((received += m_pty->read()), TvOff);
    }

    void lostDeviceFailsThenRecovers()
    {
        const QString link = m_dir->filePath(u"rfcomm0"_qs);
        QVERIFY(pointLink(link, m_pty->slavePath()));
        QSerialPort port;
        SerialTransport transport(&port, {link});
        QVERIFY(sent(transport.send(u"电视=关闭"_qs)));

        m_pty->closeMaster();
        QCOMPARE(transport.send(u"电视=关闭"_qs).error(), u"未找到串口设备"_qs);
        QVERIFY(!port.isOpen());

        PseudoTerminal replacement;
        QVERIFY(pointLink(link, replacement.slavePath()));
        QVERIFY(sent(transport.send(u"空调=启动"_qs)));
        QByteArray received;
        QTRY_COMPARE((received += replacement.read()), On);

        // A write that fails closes the port, and the next command opens it afresh.
        const int readOnly = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        QVERIFY(::dup2(readOnly, int(port.handle())) >= 0);
        ::close(readOnly);
        QCOMPARE(transport.send(u"电视=关闭"_qs).error(),
                 u"串口 %1 写入失败，设备可能已断开"_qs.arg(link));
        QVERIFY(!port.isOpen());
        QVERIFY(sent(transport.send(u"空调=启动"_qs)));
        QTRY_COMPARE((received += replacement.read()), On + On);
    }

    // rfcomm0 before ttyS0: the line goes to the first that is there, and a device that stays is
    // never opened afresh.
    void linePrefersTheFirstDeviceThere()
    {
        const QString rfcomm0 = m_dir->filePath(u"rfcomm0"_qs);
        const QString ttyS0 = m_dir->filePath(u"ttyS0"_qs);
        PseudoTerminal bluetooth;
        QVERIFY(pointLink(ttyS0, m_pty->slavePath()));
        QSerialPort port;
        SerialTransport transport(&port, {rfcomm0, ttyS0});
        const auto sendsTo = [&](PseudoTerminal &line, const QByteArray &bytes) {
            QByteArray received;
            return sent(transport.send(u"电视=关闭"_qs)) &&
                   QTest::qWaitFor([&] { return (received += line.read()) == bytes; });
        };
        QVERIFY(sendsTo(*m_pty, TvOff));
        // Marks the open file: a port opened afresh would not carry the mark.
        QCOMPARE(::fcntl(port.handle(), F_SETFL, ::fcntl(port.handle(), F_GETFL) | O_APPEND), 0);
        QVERIFY(sendsTo(*m_pty, TvOff));
        QVERIFY(::fcntl(port.handle(), F_GETFL) & O_APPEND);
        QCOMPARE(transport.device(), ttyS0);

        QVERIFY(pointLink(rfcomm0, bluetooth.slavePath()));
        QVERIFY(sendsTo(bluetooth, TvOff));
        QCOMPARE(transport.device(), rfcomm0);
        QVERIFY(QFile::remove(rfcomm0));
        QVERIFY(sendsTo(*m_pty, TvOff));
        QVERIFY(pointLink(rfcomm0, bluetooth.slavePath()));
        QVERIFY(sendsTo(bluetooth, TvOff));
        QCOMPARE(m_pty->read(), QByteArray());

        QVERIFY(QFile::remove(rfcomm0) && QFile::remove(ttyS0));
        QCOMPARE(transport.send(u"电视=关闭"_qs).error(), u"未找到串口设备"_qs);
        QVERIFY(!port.isOpen());
    }

    void fullLineSkipsWholeCommands_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("nine bytes") << u"空调=启动"_qs << On;
        QTest::newRow("one byte, fills the line exactly") << u"A"_qs << QByteArray("A");
    }
    // Nobody reads the far side, so the line fills up: commands are then skipped whole, the
    // port's own buffer never holds more than one, and what did go out is intact.
    void fullLineSkipsWholeCommands()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, bytes);
        QSerialPort port;
        SerialTransport transport(&port, {m_pty->slavePath()});
        int written = 0;
        int skipped = 0;
        for (int tick = 0; tick < 200000 / bytes.size(); ++tick) {
            const Result<Delivery> delivery = transport.send(command);
            QVERIFY2(delivery, qPrintable(delivery.error()));
            ++(*delivery == Delivery::Busy ? skipped : written);
            QVERIFY(port.bytesToWrite() <= bytes.size());
        }
        QVERIFY(skipped > 0);

        QByteArray received;
        QTRY_VERIFY((received += m_pty->read(), port.bytesToWrite() == 0));
        received += m_pty->read();
        QCOMPARE(received.size(), written * bytes.size());
        QCOMPARE(received, bytes.repeated(written));
        QVERIFY(sent(transport.send(command)));
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<PseudoTerminal> m_pty;
};

QTEST_GUILESS_MAIN(tst_SerialTransport)
#include "tst_serialtransport.moc"
