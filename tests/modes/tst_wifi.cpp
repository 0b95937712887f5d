#include "listbox.h"
#include "polltimer.h"
#include "scriptedinputbox.h"
#include "udplistener.h"
#include "wifi.h"

#include <QFile>
#include <QListWidget>
#include <QNetworkDatagram>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

namespace {
const QString PortPrompt = QStringLiteral("输入通讯端口（整数,最好大于1000");
const QString HostPrompt = QStringLiteral("输入客户端（比如电冰箱，电视机或者其他计算机之类的)的IP("
                                          "如果与服务器在同一IP可以输入127.0.0.1");
const QStringList SetupLines = {
    QStringLiteral("正在配置服务器"),
    QStringLiteral("正在配置通讯协议"),
    QStringLiteral("正在配置端口"),
    QStringLiteral("正在获取服务器IP地址"),
    QStringLiteral("正在获取客户端IP"),
    QStringLiteral("服务器安装完成。如果有人对服务器下命令的话这里会提示的."),
    QStringLiteral("正在启动服务"),
    QStringLiteral("服务启动完毕"),
};
const QString Found = QStringLiteral("监测到有人向服务器发送请求，已接受");
const QString Sent = QStringLiteral("服务器发送成功");

// True when nothing else on this machine holds `port`, not even with address sharing.
bool portIsFree(quint16 port)
{
    QUdpSocket probe;
    return probe.bind(QHostAddress::AnyIPv4, port, QAbstractSocket::DontShareAddress);
}

QString fullWidth(const QString &digits)
{
    QString result;
    for (const QChar c : digits)
        result.append(QChar(c.unicode() - u'0' + u'０'));
    return result;
}

struct Controls {
    explicit Controls(wifi &window)
        : serverlog(window.findChild<QListWidget *>(QStringLiteral("serverlog")))
        , s(window.findChild<QPushButton *>(QStringLiteral("s")))
        , jiance(window.findChild<PollTimer *>(QStringLiteral("jiance")))
        , Winsock1(window.findChild<QUdpSocket *>(QStringLiteral("Winsock1")))
    {
    }

    QStringList lines() const
    {
        QStringList result;
        for (int i = 0; i < serverlog->count(); ++i)
            result.append(serverlog->item(i)->text());
        return result;
    }

    QListWidget *serverlog;
    QPushButton *s;
    PollTimer *jiance;
    QUdpSocket *Winsock1;
};

// Clicks 开始安装 and waits for the setup to end, served or given up.
void clickToSetUp(wifi &window)
{
    const Controls c(window);
    QTest::mouseClick(c.s, Qt::LeftButton);
    QVERIFY(runUntil([&] { return c.jiance->isActive() || c.s->isEnabled(); }));
}

void runSetup(wifi &window, const QStringList &answers)
{
    ScriptedInputBox box(answers);
    clickToSetUp(window);
}

void waitForTicks(PollTimer *timer, int ticks)
{
    QSignalSpy spy(timer, &PollTimer::timeout);
    QVERIFY(runUntil([&] { return spy.count() >= ticks; }));
}
} // namespace

class tst_Wifi : public QObject {
    Q_OBJECT

private slots:
    void initialWindow();
    void tabOrderStartsAtTheList();
    void setupWithDestination_data();
    void setupWithDestination();
    void badPortStopsSetup_data();
    void badPortStopsSetup();
    void portInUseStopsSetup();
    void requestBeforeSetupCausesNothing();
    void showsOnceAndStartsFreshAfterClose();
    void logKeepsNewestLines();
    void requestsGoOutAsDatagrams();
    void emptyCommandSendsNothing();
    void longestLineCanBeScrolledTo();
    void closingWhileTheHostIsLookedUp();
};

void tst_Wifi::initialWindow()
{
    QTemporaryDir dir;
    wifi window(dir.path());
    const Controls c(window);

    QCOMPARE(window.windowTitle(), QStringLiteral("WiFi模式"));
    QVERIFY(!window.windowIcon().isNull());
    QCOMPARE(window.size(), QSize(460, 322));
    QCOMPARE(c.serverlog->geometry(), QRect(24, 24, 305, 280));
    QCOMPARE(c.s->geometry(), QRect(360, 24, 81, 33));
    QCOMPARE(c.s->text(), QStringLiteral("开始安装"));
    QVERIFY(c.s->isEnabled());
    QCOMPARE(c.serverlog->count(), 0);
    QVERIFY(c.serverlog->uniformItemSizes());
    QCOMPARE(c.jiance->interval(), 1);
    QVERIFY(!c.jiance->isActive());
    QVERIFY(c.Winsock1);
    QCOMPARE(c.Winsock1->parent(), &window);
    QCOMPARE(c.Winsock1->state(), QAbstractSocket::UnconnectedState);
}

void tst_Wifi::tabOrderStartsAtTheList()
{
    QTemporaryDir dir;
    wifi window(dir.path());
    const Controls c(window);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    QCOMPARE(QApplication::focusWidget(), c.serverlog);
    QTest::keyClick(c.serverlog, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), c.s);
}

// A destination as typed: the setup's eight lines and a port that serves, or one failure line
// naming the reply, the socket freed and 开始安装 enabled again.
void tst_Wifi::setupWithDestination_data()
{
    QTest::addColumn<bool>("fullWidthPort");
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("serves");
    QTest::addColumn<QString>("named");

    QTest::newRow("address") << false << u"127.0.0.1"_qs << true << QString();
    QTest::newRow("spaces around") << false << u"  127.0.0.1 "_qs << true << QString();
    QTest::newRow("full-width") << true << u"１２７．０．０．１"_qs << true << QString();
    QTest::newRow("ideographic dots") << false << u"127。0。0。1"_qs << true << QString();
    QTest::newRow("host name") << false << u"localhost"_qs << true << QString();
    QTest::newRow("cancel") << false << QString() << false << QString();
    QTest::newRow("empty") << false << u""_qs << false << QString();
    QTest::newRow("spaces only") << false << u" 　 "_qs << false << QString();
    QTest::newRow("unresolvable") << false << u" no such host "_qs << false << u"no such host"_qs;
    QTest::newRow("IPv6 only") << false << u"::1"_qs << false << u"::1"_qs;
}

void tst_Wifi::setupWithDestination()
{
    QFETCH(bool, fullWidthPort);
    QFETCH(QString, host);
    QFETCH(bool, serves);
    QFETCH(QString, named);
    QTemporaryDir dir;
    wifi window(dir.path());
    const Controls c(window);
    const quint16 port = freePort();
    const QString portReply = QString::number(port);

    ScriptedInputBox box({fullWidthPort ? fullWidth(portReply) : portReply, host});
    clickToSetUp(window);
    QCOMPARE(box.prompts, QStringList({PortPrompt, HostPrompt}));
    if (!serves) {
        QCOMPARE(c.lines().size(), 6);
        QCOMPARE(c.lines().mid(0, 5), SetupLines.mid(0, 5));
        const QString failure = c.lines().last();
        QVERIFY2(failure.contains(u"客户端"_qs), qPrintable(failure));
        if (!named.isEmpty())
            QVERIFY2(failure.contains(u"“"_qs + named + u"”"_qs), qPrintable(failure));
        QVERIFY(c.s->isEnabled());
        QVERIFY(!c.jiance->isActive());
        QVERIFY(portIsFree(port));
        return;
    }
    QCOMPARE(c.lines(), SetupLines);
    QVERIFY(!c.s->isEnabled());
    QVERIFY(c.jiance->isActive());
    QCOMPARE(c.Winsock1->state(), QAbstractSocket::BoundState);
    QCOMPARE(c.Winsock1->localPort(), port);

    // Greyed for good: a second click starts nothing.
    QTest::mouseClick(c.s, Qt::LeftButton);
    QCOMPARE(box.prompts.size(), 2);
    QCOMPARE(c.lines(), SetupLines);
}

void tst_Wifi::badPortStopsSetup_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("named");

    QTest::newRow("letters") << u"abc"_qs << u"“abc”"_qs;
    QTest::newRow("fraction") << u"1.5"_qs << u"“1.5”"_qs;
    QTest::newRow("zero") << u"0"_qs << u"“0”"_qs;
    QTest::newRow("too large") << u"70000"_qs << u"“70000”"_qs;
    QTest::newRow("overflow") << u"99999999999999999999"_qs << u"“99999999999999999999”"_qs;
    QTest::newRow("junk inside") << u" 8x88"_qs << u"“8x88”"_qs;
    QTest::newRow("sign") << u"+8888"_qs << u"“+8888”"_qs;
    QTest::newRow("negative") << u"-8888"_qs << u"“-8888”"_qs;
    QTest::newRow("spaces only") << u"   "_qs << u"未输入端口"_qs;
    QTest::newRow("empty") << u""_qs << u"未输入端口"_qs;
    QTest::newRow("cancel") << QString() << u"未输入端口"_qs;
}

void tst_Wifi::badPortStopsSetup()
{
    QFETCH(QString, reply);
    QFETCH(QString, named);
    QTemporaryDir dir;
    wifi window(dir.path());
    const Controls c(window);

    ScriptedInputBox box({reply, QStringLiteral("127.0.0.1")});
    QTest::mouseClick(c.s, Qt::LeftButton);

    QCOMPARE(box.prompts, QStringList({PortPrompt}));
    QCOMPARE(c.lines().mid(0, 3), SetupLines.mid(0, 3));
    QCOMPARE(c.lines().size(), 4);
    const QString failure = c.lines().last();
    QVERIFY2(failure.startsWith(u"端口无效："_qs + named) && failure.contains(u"1 到 65535"),
             qPrintable(failure));
    QVERIFY(c.s->isEnabled());
    QVERIFY(!c.jiance->isActive());
    QCOMPARE(c.Winsock1->state(), QAbstractSocket::UnconnectedState);

    runSetup(window, {QString::number(freePort()), QStringLiteral("127.0.0.1")});
    QCOMPARE(c.lines().mid(4), SetupLines);
    QVERIFY(c.jiance->isActive());
}

void tst_Wifi::portInUseStopsSetup()
{
    QUdpSocket holder;
    QVERIFY(holder.bind(QHostAddress::AnyIPv4, 0, QAbstractSocket::DontShareAddress));
    const quint16 port = holder.localPort();
    QTemporaryDir dir;
    wifi window(dir.path());
    const Controls c(window);

    ScriptedInputBox box({QString::number(port), QStringLiteral("127.0.0.1")});
    QTest::mouseClick(c.s, Qt::LeftButton);

    QCOMPARE(box.prompts, QStringList({PortPrompt}));
    QCOMPARE(c.lines().size(), 4);
    QCOMPARE(c.lines().mid(0, 3), SetupLines.mid(0, 3));
    const QString failure = c.lines().last();
    QVERIFY2(failure.contains(QString::number(port)) && failure.contains(QStringLiteral("占用")),
             qPrintable(failure));
    QVERIFY(c.s->isEnabled());
    QVERIFY(!c.jiance->isActive());
    QCOMPARE(c.Winsock1->state(), QAbstractSocket::UnconnectedState);

    holder.close();
    runSetup(window, {QString::number(port), QStringLiteral("127.0.0.1")});
    QCOMPARE(c.lines().mid(4), SetupLines);
    QCOMPARE(c.Winsock1->localPort(), port);
}

void tst_Wifi::requestBeforeSetupCausesNothing()
{
    QTemporaryDir dir;
    QVERIFY(writeRequest(dir.path(), Bytes::TurnOn));
    wifi window(dir.path());
    const Controls c(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(50);

    QCOMPARE(c.serverlog->count(), 0);
    QVERIFY(!c.jiance->isActive());
}

void tst_Wifi::showsOnceAndStartsFreshAfterClose()
{
    QTemporaryDir dir;
    const QString &path = dir.path();
    const quint16 port = freePort();

    QPointer<wifi> first = showWindow<wifi>(path);
    QCOMPARE(showWindow<wifi>(path), first.data());
    runSetup(*first, {QString::number(port), QStringLiteral("127.0.0.1")});
    QVERIFY(Controls(*first).jiance->isActive());
    QVERIFY(!portIsFree(port));

    first->close();
    QTRY_VERIFY(first.isNull());
    QVERIFY(portIsFree(port));

    QPointer<wifi> second = showWindow<wifi>(path);
    const Controls c(*second);
    QCOMPARE(c.serverlog->count(), 0);
    QVERIFY(c.s->isEnabled());
    QVERIFY(!c.jiance->isActive());
    second->close();
    QTRY_VERIFY(second.isNull());
}

void tst_Wifi::logKeepsNewestLines()
{
    QTemporaryDir dir;
    QVERIFY(writeRequest(dir.path(), Bytes::TurnOn));
    wifi window(dir.path());
    const Controls c(window);
    int most = 0;
    connect(c.serverlog->model(), &QAbstractItemModel::rowsInserted, this,
            [&] { most = std::max(most, c.serverlog->count()); });
    window.show();
    runSetup(window, {QString::number(freePort()), QStringLiteral("127.0.0.1")});

    // Once the last setup line is gone, more than MaxLogLines lines have been appended.
    QTRY_VERIFY_WITH_TIMEOUT(
        most > wifi::MaxLogLines || !SetupLines.contains(c.serverlog->item(0)->text()), 120000);
    QCOMPARE(most, wifi::MaxLogLines);
    QCOMPARE(c.serverlog->count(), wifi::MaxLogLines);
    const QStringList lines = c.lines();
    for (int i = 0; i < lines.size(); i += 2) {
        QCOMPARE(lines[i], Found);
        QCOMPARE(lines[i + 1], Sent);
    }
    QCOMPARE(c.serverlog->verticalScrollBar()->value(), 0);

    // Batches that leave the list reading the same leave its items alone, yet every line is told;
    // a line that differs goes in as ever.
    auto *log = static_cast<ListBox *>(c.serverlog);
    QSignalSpy batches(log, &ListBox::linesAdded);
    QSignalSpy removed(log->model(), &QAbstractItemModel::rowsRemoved);
    QTRY_VERIFY(batches.count() >= 3);
    QCOMPARE(removed.count(), 0);
    log->appendSoon(u"发送失败：线路不通"_qs);
    QTRY_VERIFY(removed.count() > 0);
    QVERIFY(c.lines().contains(u"发送失败：线路不通"_qs));
    QCOMPARE(c.serverlog->count(), wifi::MaxLogLines);
}

void tst_Wifi::requestsGoOutAsDatagrams()
{
    QTemporaryDir dir;
    QVERIFY(writeRequest(dir.path(), Bytes::TurnOn));
    const quint16 port = freePort();
    wifi window(dir.path());
    const Controls c(window);
    runSetup(window, {QString::number(port), QStringLiteral("127.0.0.1")});
    UdpListener listener(port);
    QVERIFY(listener.isBound());

    QVERIFY(runUntil([&] { return listener.received.size() >= 3; }));
    QVERIFY(removeRequest(dir.path()));
    waitForTicks(c.jiance, 20);
    QVERIFY(listener.catchUp());
    const QStringList lines = c.lines();
    QCOMPARE(listener.received.size(), int(lines.count(Sent)));
    for (const QNetworkDatagram &datagram : std::as_const(listener.received)) {
        QCOMPARE(datagram.data(), Bytes::On);
        QCOMPARE(datagram.senderPort(), int(port));
    }

    const auto before = listener.received.size();
    waitForTicks(c.jiance, 20);
    QVERIFY(listener.catchUp());
    QCOMPARE(listener.received.size(), before);
    QCOMPARE(c.lines(), lines);
}

void tst_Wifi::emptyCommandSendsNothing()
{
    QTemporaryDir dir;
    QVERIFY(writeRequest(dir.path(), "\xC4\xE3\xBA\xC3")); // 你好
    const quint16 port = freePort();
    wifi window(dir.path());
    const Controls c(window);
    runSetup(window, {QString::number(port), QStringLiteral("127.0.0.1")});
    UdpListener listener(port);
    QVERIFY(listener.isBound());

    QTRY_VERIFY_WITH_TIMEOUT(c.lines().count(Sent) >= 3, 30000);
    QVERIFY(listener.catchUp());
    QCOMPARE(listener.received.size(), 0);
    const QStringList served = c.lines().mid(SetupLines.size());
    QCOMPARE(served.mid(0, 2), QStringList({Found, Sent}));
}

void tst_Wifi::longestLineCanBeScrolledTo()
{
    QTemporaryDir dir;
    wifi window(dir.path());
    const Controls c(window);
    window.show();
    runSetup(window, {QString::number(freePort()), QStringLiteral("127.0.0.1")});
    const QString longest = SetupLines.at(5);
    const int needed = c.serverlog->fontMetrics().horizontalAdvance(longest);
    QVERIFY(needed > c.serverlog->viewport()->width());
    QTRY_VERIFY(c.serverlog->horizontalScrollBar()->maximum() + c.serverlog->viewport()->width() >=
                needed);
    QCOMPARE(c.serverlog->visualItemRect(c.serverlog->item(5)).width() >= needed, true);
}

// The window may be closed while it waits for the resolver: nothing of it is left to answer.
void tst_Wifi::closingWhileTheHostIsLookedUp()
{
    QTemporaryDir dir;
    auto *window = new wifi(dir.path());
    const Controls c(*window);
    {
        ScriptedInputBox box({QString::number(freePort()), QStringLiteral("localhost")});
        QTest::mouseClick(c.s, Qt::LeftButton);
    }
    QVERIFY(!c.s->isEnabled());
    QVERIFY(!c.jiance->isActive());
    QCOMPARE(c.lines(), SetupLines.mid(0, 5));
    delete window;
    QTest::qWait(100);
}

QTEST_MAIN(tst_Wifi)
#include "tst_wifi.moc"
