#include "polltimer.h"
#include "rig.h"
#include "support.h"
#include "unprivileged.h"

#include <QFileInfo>
#include <QListWidget>
#include <QSignalSpy>
#include <QTest>

#include <cerrno>
#include <functional>
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
    const QList<FarSide::Datagram> datagrams = rig.datagramsSince(from);
    QCOMPARE(datagrams.size(), rig.wifiSince(from).count(WifiSent));
    for (const FarSide::Datagram &datagram : datagrams) {
        QCOMPARE(datagram.data, command);
        QCOMPARE(datagram.senderPort, int(rig.port()));
    }
    QCOMPARE(rig.serialSince(from), command.repeated(rig.blueSince(from).count(BlueSent)));
}

enum class Other { Nothing, Directory, Fifo, LinkToFifo };

// Puts something that is not a request file under the name.
bool putInPlace(Rig &rig, Other other)
{
    const QByteArray path = QFile::encodeName(rig.requestPath());
    const QByteArray fifo = QFile::encodeName(rig.directory()) + "/pipe";
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
    void shownWindowsSendOnBothTransports();
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
    QVERIFY(rig.open());
    const Rig::Mark from = rig.mark();

    Producer &producer = rig.producer();
    producer.run([&rig, other](int round) {
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
    rig.removeRequest();

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
    QVERIFY(rig.open());
    const Rig::Mark from = rig.mark();

    const int fd = ::open(QFile::encodeName(rig.requestPath()).constData(),
                          O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    QVERIFY(fd >= 0);
    Producer &producer = rig.producer();
    producer.run([fd](int round) {
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
    const QList<FarSide::Datagram> datagrams = rig.datagramsSince(from);
    QVERIFY(datagrams.size() <= rig.wifiSince(from).count(WifiSent));
    for (const FarSide::Datagram &datagram : datagrams)
        QVERIFY2(datagram.data == On || datagram.data == Off, datagram.data.toHex().data());
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
    QVERIFY(rig.open());
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
    QVERIFY(rig.open());
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
    QVERIFY(rig.open());
    QVERIFY(rig.writeRequest(TurnOn));
    expectBothSending(rig);

    const Rig::Mark dropped = rig.mark();
    rig.far().hangUp();
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

    QVERIFY(rig.far().replaceLine());
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
    QVERIFY(rig.open(Rig::Both, Rig::Tested, host, std::nullopt));
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

// The windows as a user has them, shown, with the Bluetooth window polling from being shown: each
// request goes out on both transports.
void tst_Faults::shownWindowsSendOnBothTransports()
{
    Rig rig;
    QVERIFY(rig.open(Rig::Both, Rig::Measured));
    QVERIFY(rig.writeRequest(TurnOn));
    QVERIFY(runUntil([&] {
        return rig.datagramsSince({}).size() >= 10 && rig.serialSince({}).size() >= 10 * On.size();
    }));
    QVERIFY(rig.removeRequest());
    QVERIFY(rig.catchUp());
    for (const FarSide::Datagram &datagram : rig.datagramsSince({})) {
        QCOMPARE(datagram.data, On);
        QCOMPARE(datagram.senderPort, int(rig.port()));
    }
    const QByteArray serial = rig.serialSince({});
    QCOMPARE(serial, On.repeated(serial.size() / On.size()));
    auto *serverlog = rig.wifiTimer()->parent()->findChild<QListWidget *>(u"serverlog"_qs);
    QVERIFY(!serverlog->findItems(WifiSent, Qt::MatchExactly).isEmpty());
    QVERIFY(rig.blueSince({}).contains(BlueSent));
}

QTEST_MAIN(tst_Faults)
#include "tst_faults.moc"
