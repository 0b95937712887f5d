#include "blue.h"
#include "listbox.h"
#include "polltimer.h"
#include "pseudoterminal.h"
#include "scriptedinputbox.h"
#include "support.h"
#include "udplistener.h"
#include "unprivileged.h"
#include "wifi.h"

#include <QAbstractItemModel>
#include <QFileInfo>
#include <QListWidget>
#include <QNetworkDatagram>
#include <QPushButton>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString Found = u"监测到有人向服务器发送请求，已接受"_qs;
const QString WifiSent = u"服务器发送成功"_qs;
const QString BlueSent = u"发送成功"_qs;
const QString Unreadable = u"请求文件 api.txt 无法读取，本次未发送"_qs;
const QString Failed = u"发送失败："_qs;
const QByteArray TurnOnHalves[] = {Bytes::TurnOn.first(4), Bytes::TurnOn.sliced(4)};
const QByteArray TurnOffHalves[] = {Bytes::TurnOff.first(4), Bytes::TurnOff.sliced(4)};
using Bytes::Off;
using Bytes::On;
using Bytes::TurnOff;
using Bytes::TurnOn;
// Marks the end of what was sent on the serial line before it; no command contains this byte.
constexpr char Sentinel = '#';

bool isFailure(const QString &line)
{
    return line.startsWith(Failed) && line.size() > Failed.size();
}

// Every found-line is followed by exactly one outcome that `accept` takes; returns the first line
// that breaks this, or nothing.
QString stray(const QStringList &lines, const std::function<bool(const QString &)> &accept)
{
    for (qsizetype i = 0; i < lines.size(); i += 2) {
        if (lines[i] != Found)
            return QStringLiteral("%1: %2").arg(i).arg(lines[i]);
        if (i + 1 < lines.size() && !accept(lines[i + 1]))
            return QStringLiteral("%1: %2").arg(i + 1).arg(lines[i + 1]);
    }
    return {};
}

std::function<bool(const QString &)> oneOf(const QStringList &outcomes)
{
    return [outcomes](const QString &line) {
        return outcomes.contains(line);
    };
}

// An outside program working on the request directory: runs `round` again and again on its own
// thread until stopped.
class Producer {
public:
    explicit Producer(std::function<void(int)> round)
        : m_thread([this, round] {
            for (int i = 0; !m_stop; ++i) {
                round(i);
                ++m_rounds;
            }
        })
    {
    }
    ~Producer() { stop(); }

    int rounds() const { return m_rounds; }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_rounds{0};
    std::thread m_thread;
};

// The part of `stream` after its `ordinal`-th sentinel, without sentinels; nothing while that
// sentinel has not arrived. Ordinal 0 is the start of the stream.
template <typename Stream, typename IsSentinel>
Stream after(const Stream &stream, int ordinal, IsSentinel isSentinel)
{
    Stream rest;
    int seen = 0;
    for (const auto &item : stream) {
        if (isSentinel(item))
            ++seen;
        else if (seen >= ordinal)
            rest.append(item);
    }
    return seen >= ordinal ? rest : Stream();
}

bool isSentinelByte(char c)
{
    return c == Sentinel;
}

// Both mode windows polling one request directory: `wifi` set up for 127.0.0.1 (or another host)
// on a free port P, `blue` writing to a device path that is a symlink onto a pseudo-terminal. Every
// status line and everything that arrives are recorded from the start.
class Rig {
public:
    // A point between two ticks: lines and rows by count, the two streams by the ordinal of a
    // sentinel dropped into each at that point.
    struct Mark {
        qsizetype wifiLines, blueRows;
        int datagrams, serial;
    };

    Rig()
        : m_pty(std::make_unique<PseudoTerminal>())
    {
        QObject::connect(&m_drain, &QTimer::timeout, &m_drain,
                         [this] { m_serial += m_pty->read(); });
        m_drain.start(1);
    }

    bool start(const QString &host = u"127.0.0.1"_qs,
               const std::optional<QHostAddress> &listenAt = QHostAddress(QHostAddress::LocalHost))
    {
        m_port = freePort();
        if (!m_dir.isValid() || !m_pty->isValid() || m_port == 0 || !pointDeviceAt(*m_pty))
            return false;

        m_wifi = std::make_unique<wifi>(m_dir.path());
        {
            ScriptedInputBox box({QString::number(m_port), host});
            m_wifi->findChild<QPushButton *>(u"s"_qs)->click();
        }
        if (!wifiTimer()->isActive() || (listenAt && !listen(*listenAt)))
            return false;
        m_log = m_wifi->findChild<ListBox *>(u"serverlog"_qs);
        QObject::connect(m_log, &ListBox::linesAdded, m_log,
                         [this](const QStringList &lines) { m_wifiLines.append(lines); });

        m_blue = std::make_unique<blue>(m_dir.path(), QStringList{devicePath()});
        // Never shown, so its timer is started by hand: a window this tall keeps every printed
        // row for counting.
        m_blue->resize(m_blue->width(), QWIDGETSIZE_MAX);
        blueTimer()->start();
        return true;
    }

    QString directory() const { return m_dir.path(); }
    QString requestPath() const { return m_dir.filePath(u"api.txt"_qs); }
    QByteArray requestDirectory() const { return QFile::encodeName(m_dir.path()); }
    QString devicePath() const { return m_dir.filePath(u"rfcomm0"_qs); }
    quint16 port() const { return m_port; }
    PollTimer *wifiTimer() const { return m_wifi->findChild<PollTimer *>(u"jiance"_qs); }
    PollTimer *blueTimer() const { return m_blue->findChild<PollTimer *>(u"Timer1"_qs); }
    PseudoTerminal &pty() { return *m_pty; }

    bool writeRequest(const QByteArray &bytes) { return ::writeRequest(directory(), bytes); }
    // Whatever is under the name: a file, a FIFO, a link or an empty directory.
    bool removeRequest() { return std::remove(QFile::encodeName(requestPath()).constData()) == 0; }

    bool listen(const QHostAddress &address)
    {
        m_listener = std::make_unique<UdpListener>(m_port, address);
        return m_listener->isBound();
    }

    // The serial device path now leads to `pty`, switched in one step as udev would.
    bool pointDeviceAt(const PseudoTerminal &pty)
    {
        const QByteArray link = QFile::encodeName(devicePath());
        const QByteArray temporary = link + ".new";
        return ::symlink(QFile::encodeName(pty.slavePath()).constData(), temporary.constData()) ==
                   0 &&
               ::rename(temporary.constData(), link.constData()) == 0;
    }

    // The far side of the serial line is replaced by a new pseudo-terminal at the same path; the
    // serial record starts afresh with it.
    bool replacePty()
    {
        auto fresh = std::make_unique<PseudoTerminal>();
        if (!fresh->isValid() || !pointDeviceAt(*fresh))
            return false;
        m_pty = std::move(fresh);
        m_serial.clear();
        m_serialSentinels = 0;
        return true;
    }

    // The log shows its lines in batches: a mark takes in every line reported so far.
    Mark mark()
    {
        m_log->flush();
        return {m_wifiLines.size(), m_blue->printedRows().size(),
                m_listener ? m_listener->dropSentinel() : 0, dropSerialSentinel()};
    }
    QStringList wifiSince(const Mark &from) const { return m_wifiLines.mid(from.wifiLines); }
    QStringList blueSince(const Mark &from) const
    {
        return m_blue->printedRows().mid(from.blueRows);
    }
    QList<QNetworkDatagram> datagramsSince(const Mark &from) const
    {
        return m_listener ? m_listener->since(from.datagrams) : QList<QNetworkDatagram>();
    }
    QByteArray serialSince(const Mark &from) const
    {
        return after(m_serial, from.serial, isSentinelByte);
    }

    // Waits until whatever both windows have sent so far has arrived.
    bool catchUp()
    {
        if (m_listener && !m_listener->catchUp())
            return false;
        auto *port = m_blue->findChild<QSerialPort *>(u"MSComm1"_qs);
        if (!runUntil([port] { return port->bytesToWrite() == 0; }))
            return false;
        const int ordinal = dropSerialSentinel();
        const bool arrived = runUntil([this, ordinal] {
            m_serial += m_pty->read();
            return m_serial.count(Sentinel) >= ordinal;
        });
        m_log->flush();
        return arrived;
    }

private:
    // Written on the line after everything the window has written, so it arrives after all of it.
    int dropSerialSentinel()
    {
        return ::write(m_pty->slave(), &Sentinel, 1) == 1 ? ++m_serialSentinels
                                                          : std::numeric_limits<int>::max();
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<PseudoTerminal> m_pty;
    QTimer m_drain;
    QByteArray m_serial;
    int m_serialSentinels = 0;
    quint16 m_port = 0;
    std::unique_ptr<UdpListener> m_listener;
    std::unique_ptr<wifi> m_wifi;
    ListBox *m_log = nullptr;
    std::unique_ptr<blue> m_blue;
    QStringList m_wifiLines;
};

void waitForTicks(const Rig &rig, int ticks)
{
    QSignalSpy wifiTicks(rig.wifiTimer(), &PollTimer::timeout);
    QSignalSpy blueTicks(rig.blueTimer(), &PollTimer::timeout);
    QVERIFY(runUntil([&] { return wifiTicks.count() >= ticks && blueTicks.count() >= ticks; }));
}

// Both windows forward the request in the file once more: fresh success lines, and fresh
// commands arriving on both transports.
void expectBothSending(Rig &rig)
{
    const Rig::Mark from = rig.mark();
    QVERIFY(runUntil([&] {
        return rig.wifiSince(from).count(WifiSent) >= 3 &&
               rig.blueSince(from).count(BlueSent) >= 3 && rig.datagramsSince(from).size() >= 3 &&
               rig.serialSince(from).size() >= 3 * On.size();
    }));
}

// With the request file gone and everything delivered: since `from`, exactly one `command`
// arrived for each success line, on both transports, and nothing else.
void checkBooks(Rig &rig, const Rig::Mark &from, const QByteArray &command)
{
    QVERIFY(!QFileInfo::exists(rig.requestPath()));
    QVERIFY(rig.catchUp());
    const QList<QNetworkDatagram> datagrams = rig.datagramsSince(from);
    QCOMPARE(datagrams.size(), rig.wifiSince(from).count(WifiSent));
    for (const QNetworkDatagram &datagram : datagrams) {
        QCOMPARE(datagram.data(), command);
        QCOMPARE(datagram.senderPort(), int(rig.port()));
    }
    QCOMPARE(rig.serialSince(from), command.repeated(rig.blueSince(from).count(BlueSent)));
}

enum class Other { Nothing, Directory, Fifo, LinkToFifo };

// Puts something that is not a request file under the name.
bool putInPlace(const Rig &rig, Other other)
{
    const QByteArray path = QFile::encodeName(rig.requestPath());
    const QByteArray fifo = rig.requestDirectory() + "/pipe";
    switch (other) {
    case Other::Nothing:
        return true;
    case Other::Directory:
        return ::mkdir(path.constData(), 0755) == 0;
    case Other::Fifo:
        return ::mkfifo(path.constData(), 0644) == 0;
    case Other::LinkToFifo:
        return (::mkfifo(fifo.constData(), 0644) == 0 || errno == EEXIST) &&
               ::symlink(fifo.constData(), path.constData()) == 0;
    }
    return false;
}
} // namespace

Q_DECLARE_METATYPE(Other)

class tst_Faults : public QObject {
    Q_OBJECT

private slots:
    void fileComingAndGoing_data();
    void fileComingAndGoing();
    void fileRewrittenWhileRead();
    void unreadableFile_data();
    void unreadableFile();
    void notAFile_data();
    void notAFile();
    void serialLineDropsAndReturns();
    void destinationWithoutListener_data();
    void destinationWithoutListener();
};

void tst_Faults::fileComingAndGoing_data()
{
    QTest::addColumn<Other>("other");

    QTest::newRow("absent") << Other::Nothing;
    QTest::newRow("directory") << Other::Directory;
    QTest::newRow("FIFO") << Other::Fifo;
}

// The file appears and disappears between the existence check, the open and the read.
void tst_Faults::fileComingAndGoing()
{
    QFETCH(Other, other);
    Rig rig;
    QVERIFY(rig.start());
    const Rig::Mark from = rig.mark();

    Producer producer([&rig, other](int round) {
        rig.removeRequest();
        if (round % 2 == 0)
            rig.writeRequest(TurnOn);
        else
            putInPlace(rig, other);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    });
    QVERIFY(runUntil([&] {
        return producer.rounds() >= 5000 && rig.wifiSince(from).count(WifiSent) >= 20 &&
               rig.blueSince(from).count(BlueSent) >= 20;
    }));
    producer.stop();
    std::remove(QFile::encodeName(rig.requestPath()).constData());

    const QString wifiStray = stray(rig.wifiSince(from), oneOf({WifiSent, Unreadable}));
    QVERIFY2(wifiStray.isEmpty(), qPrintable(wifiStray));
    const QString blueStray = stray(rig.blueSince(from), oneOf({BlueSent, Unreadable}));
    QVERIFY2(blueStray.isEmpty(), qPrintable(blueStray));
    checkBooks(rig, from, On);

    const Rig::Mark after = rig.mark();
    QVERIFY(rig.writeRequest(TurnOn));
    expectBothSending(rig);
    QVERIFY(rig.removeRequest());
    checkBooks(rig, after, On);
}

// A producer that rewrites the file in place: the reader may find it empty, half written or
// whole, and must never forward anything but a whole command.
void tst_Faults::fileRewrittenWhileRead()
{
    Rig rig;
    QVERIFY(rig.start());
    const Rig::Mark from = rig.mark();

    const int fd = ::open(QFile::encodeName(rig.requestPath()).constData(),
                          O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    QVERIFY(fd >= 0);
    Producer producer([fd](int round) {
        const QByteArray *halves = round % 2 == 0 ? TurnOnHalves : TurnOffHalves;
        if (::ftruncate(fd, 0) == 0 && ::pwrite(fd, halves[0].constData(), 4, 0) == 4)
            ::pwrite(fd, halves[1].constData(), 4, 4);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    QVERIFY(runUntil([&] {
        return producer.rounds() >= 1000 && rig.wifiSince(from).count(WifiSent) >= 20 &&
               rig.blueSince(from).count(BlueSent) >= 20;
    }));
    producer.stop();
    ::close(fd);
    QVERIFY(rig.removeRequest());
    QVERIFY(rig.catchUp());

    const QString wifiStray = stray(rig.wifiSince(from), oneOf({WifiSent}));
    QVERIFY2(wifiStray.isEmpty(), qPrintable(wifiStray));
    const QString blueStray = stray(rig.blueSince(from), oneOf({BlueSent}));
    QVERIFY2(blueStray.isEmpty(), qPrintable(blueStray));
    // A file caught empty or half written holds no whole request: success without a send.
    const QList<QNetworkDatagram> datagrams = rig.datagramsSince(from);
    QVERIFY(datagrams.size() <= rig.wifiSince(from).count(WifiSent));
    for (const QNetworkDatagram &datagram : datagrams)
        QVERIFY2(datagram.data() == On || datagram.data() == Off, datagram.data().toHex().data());
    const QByteArray serial = rig.serialSince(from);
    QCOMPARE(serial.size() % On.size(), 0);
    QVERIFY(serial.size() / On.size() <= rig.blueSince(from).count(BlueSent));
    for (qsizetype at = 0; at < serial.size(); at += On.size()) {
        const QByteArray command = serial.mid(at, On.size());
        QVERIFY2(command == On || command == Off, command.toHex().data());
    }

    const Rig::Mark after = rig.mark();
    QVERIFY(rig.writeRequest(TurnOff));
    expectBothSending(rig);
    QVERIFY(rig.removeRequest());
    checkBooks(rig, after, Off);
}

void tst_Faults::unreadableFile_data()
{
    QTest::addColumn<bool>("readError");

    QTest::newRow("no permission") << false;
    QTest::newRow("read error") << true;
}

void tst_Faults::unreadableFile()
{
    QFETCH(bool, readError);
    Rig rig;
    QVERIFY(rig.start());
    QVERIFY(rig.writeRequest(TurnOn));
    expectBothSending(rig);

    const QByteArray path = QFile::encodeName(rig.requestPath());
    const Rig::Mark from = rig.mark();
    {
        std::optional<Unprivileged> user;
        if (readError) {
            // Reading the process's own memory at address 0 fails with EIO, even for root.
            QVERIFY(rig.removeRequest());
            QCOMPARE(::symlink("/proc/self/mem", path.constData()), 0);
        } else {
            QCOMPARE(::chmod(QFile::encodeName(rig.directory()).constData(), 0755), 0);
            if (::geteuid() == 0)
                QCOMPARE(::chown(path.constData(), Unprivileged::Nobody, Unprivileged::Nobody), 0);
            QCOMPARE(::chmod(path.constData(), 0), 0);
            user.emplace();
        }
        QVERIFY(runUntil([&] {
            return rig.wifiSince(from).count(Unreadable) >= 5 &&
                   rig.blueSince(from).count(Unreadable) >= 5;
        }));
        QVERIFY(rig.catchUp());
        const QString wifiStray = stray(rig.wifiSince(from), oneOf({Unreadable}));
        QVERIFY2(wifiStray.isEmpty(), qPrintable(wifiStray));
        const QString blueStray = stray(rig.blueSince(from), oneOf({Unreadable}));
        QVERIFY2(blueStray.isEmpty(), qPrintable(blueStray));
        QCOMPARE(rig.datagramsSince(from).size(), 0);
        QCOMPARE(rig.serialSince(from), QByteArray());

        if (readError) {
            QVERIFY(rig.removeRequest());
            QVERIFY(rig.writeRequest(TurnOn));
        } else {
            QCOMPARE(::chmod(path.constData(), 0644), 0);
        }
        expectBothSending(rig);
    }
    QVERIFY(rig.removeRequest());
    checkBooks(rig, from, On);
}

void tst_Faults::notAFile_data()
{
    QTest::addColumn<Other>("other");

    QTest::newRow("directory") << Other::Directory;
    QTest::newRow("FIFO without writer") << Other::Fifo;
    QTest::newRow("link to FIFO") << Other::LinkToFifo;
}

// Nothing under the name is a request: no line, no send, and the windows keep polling.
void tst_Faults::notAFile()
{
    QFETCH(Other, other);
    Rig rig;
    QVERIFY(rig.start());
    QVERIFY(putInPlace(rig, other));
    const Rig::Mark from = rig.mark();

    waitForTicks(rig, 200);
    QVERIFY(rig.catchUp());
    QCOMPARE(rig.wifiSince(from), QStringList());
    QCOMPARE(rig.blueSince(from), QStringList());
    QCOMPARE(rig.datagramsSince(from).size(), 0);
    QCOMPARE(rig.serialSince(from), QByteArray());

    QVERIFY(rig.removeRequest());
    QVERIFY(rig.writeRequest(TurnOn));
    expectBothSending(rig);
    QVERIFY(rig.removeRequest());
    checkBooks(rig, from, On);
}

// The Bluetooth link drops while commands are going out, and later a new link appears under the
// same device path.
void tst_Faults::serialLineDropsAndReturns()
{
    Rig rig;
    QVERIFY(rig.start());
    QVERIFY(rig.writeRequest(TurnOn));
    expectBothSending(rig);

    const Rig::Mark dropped = rig.mark();
    rig.pty().closeMaster();
    QVERIFY(runUntil([&] {
        return rig.blueSince(dropped).size() >= 20 && rig.wifiSince(dropped).count(WifiSent) >= 10;
    }));
    const QString blueStray = stray(rig.blueSince(dropped), isFailure);
    QVERIFY2(blueStray.isEmpty(), qPrintable(blueStray));
    const QString first = rig.blueSince(dropped).at(1);
    QVERIFY2(first.contains(rig.devicePath()) || first == Failed + u"未找到串口设备"_qs,
             qPrintable(first));
    const QString wifiStray = stray(rig.wifiSince(dropped), oneOf({WifiSent}));
    QVERIFY2(wifiStray.isEmpty(), qPrintable(wifiStray));

    QVERIFY(rig.replacePty());
    const Rig::Mark back = rig.mark();
    expectBothSending(rig);
    QVERIFY(rig.removeRequest());
    checkBooks(rig, back, On);
    const QString backStray = stray(rig.blueSince(back), oneOf({BlueSent}));
    QVERIFY2(backStray.isEmpty(), qPrintable(backStray));
}

void tst_Faults::destinationWithoutListener_data()
{
    QTest::addColumn<QString>("host");

    QTest::newRow("own port") << u"127.0.0.1"_qs;
    QTest::newRow("other loopback address") << u"127.0.0.2"_qs;
}

// With nobody listening the datagrams land on the window's own socket, bound to every address at
// port P, so nothing reports the loss; a listener that binds later gets them without any action.
void tst_Faults::destinationWithoutListener()
{
    QFETCH(QString, host);
    Rig rig;
    QVERIFY(rig.start(host, std::nullopt));
    QVERIFY(rig.writeRequest(TurnOn));
    const Rig::Mark unheard = rig.mark();
    QVERIFY(runUntil([&] { return rig.wifiSince(unheard).count(WifiSent) >= 20; }));
    const QString unheardStray = stray(rig.wifiSince(unheard), oneOf({WifiSent}));
    QVERIFY2(unheardStray.isEmpty(), qPrintable(unheardStray));

    QVERIFY(rig.listen(QHostAddress(host)));
    const Rig::Mark heard = rig.mark();
    expectBothSending(rig);
    QVERIFY(rig.removeRequest());
    checkBooks(rig, heard, On);
    QVERIFY(rig.wifiTimer()->isActive());
}

QTEST_MAIN(tst_Faults)
#include "tst_faults.moc"
