#include "blue.h"
#include "facilities.h"
#include "polltimer.h"
#include "pseudoterminal.h"
#include "support.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {
const QString Found = u"监测到有人向服务器发送请求，已接受"_qs;
const QString Sent = u"发送成功"_qs;
} // namespace

class tst_Blue : public QObject {
    Q_OBJECT

private slots:
    void windowLayout()
    {
        QTemporaryDir dir;
        blue window(dir.path(), {});
        QCOMPARE(window.objectName(), u"blue"_qs);
        QCOMPARE(window.windowTitle(), u"蓝牙模式"_qs);
        QCOMPARE(window.size(), QSize(304, 201));
        auto *label = window.findChild<QLabel *>(u"Label1"_qs);
        QVERIFY(label);
        QCOMPARE(label->text(), u"服务器已经启动！"_qs);
        QCOMPARE(label->geometry(), QRect(72, 88, 121, 33));
        QVERIFY(window.findChild<QSerialPort *>(u"MSComm1"_qs));
        auto *timer = window.findChild<PollTimer *>(u"Timer1"_qs);
        QVERIFY(timer && !timer->isActive());
        window.show();
        QVERIFY(timer->isActive());
    }

    // 「关闭空调」 is found and forwarded on every tick, without anything being clicked.
    void forwardsRequestFromTheStart()
    {
        QTemporaryDir dir;
        QVERIFY(writeRequest(dir.path(), Bytes::TurnOff));
        PseudoTerminal pty;
        QVERIFY(pty.isValid());
        blue window(dir.path(), {pty.slavePath()});
        window.show();

        const QByteArray command = Bytes::Off;
        QByteArray received;
        QTRY_VERIFY((received += pty.read()).size() >= 5 * command.size());
        window.findChild<PollTimer *>(u"Timer1"_qs)->stop();
        QTRY_COMPARE(window.findChild<QSerialPort *>(u"MSComm1"_qs)->bytesToWrite(), 0);
        received += pty.read();
        QCOMPARE(received, command.repeated(received.size() / command.size()));

        const QStringList rows = window.printedRows();
        QVERIFY(rows.size() >= 2);
        for (int row = 0; row < rows.size(); ++row)
            QCOMPARE(rows.at(row), row % 2 == 0 ? Found : Sent);
    }

    void missingDeviceIsReported()
    {
        QTemporaryDir dir;
        QVERIFY(writeRequest(dir.path(), Bytes::TurnOff));
        blue window(dir.path(), {dir.filePath(u"rfcomm0"_qs)});
        window.show();
        QTRY_VERIFY(window.printedRows().size() >= 4);
        for (int row = 0; row < window.printedRows().size(); ++row)
            QCOMPARE(window.printedRows().at(row),
                     row % 2 == 0 ? Found : u"发送失败：未找到串口设备"_qs);
    }

    void labelCoversPrintedLines()
    {
        QTemporaryDir dir;
        QVERIFY(writeRequest(dir.path(), Bytes::TurnOff));
        blue window(dir.path(), {});
        window.show();
        auto *label = window.findChild<QLabel *>(u"Label1"_qs);
        const int rowsUnderLabel = label->geometry().bottom() / window.fontMetrics().lineSpacing();
        QTRY_VERIFY(window.printedRows().size() > rowsUnderLabel);
        window.findChild<PollTimer *>(u"Timer1"_qs)->stop();

        const auto image = [](QWidget *widget, const QRect &area) {
            return widget->grab(area).toImage().convertToFormat(QImage::Format_RGB32);
        };
        QCOMPARE(image(&window, label->geometry()), image(label, label->rect()));
    }

    void showsOnceAndStartsAfreshAfterClosing()
    {
        QTemporaryDir dir;
        QVERIFY(writeRequest(dir.path(), Bytes::TurnOff));
        PseudoTerminal pty;
        const QStringList devices{pty.slavePath()};
        QPointer<blue> first = showWindow<blue>(dir.path(), devices);
        QCOMPARE(showWindow<blue>(dir.path(), devices), first.data());
        QPointer<QSerialPort> port = first->findChild<QSerialPort *>(u"MSComm1"_qs);
        QTRY_VERIFY(port->isOpen() && !first->printedRows().isEmpty());

        QVERIFY(removeRequest(dir.path()));
        first->close();
        QTRY_VERIFY(first.isNull() && port.isNull());
        QSerialPort other;
        other.setPortName(pty.slavePath());
        QVERIFY2(other.open(QIODevice::WriteOnly), "the closed window still holds the port");
        other.close();

        blue *second = showWindow<blue>(dir.path(), devices);
        QVERIFY(second->isVisible());
        QVERIFY(second->printedRows().isEmpty());
        QVERIFY(second->findChild<PollTimer *>(u"Timer1"_qs)->isActive());
        second->close();
        QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    }
};

QTEST_MAIN(tst_Blue)
#include "tst_blue.moc"
