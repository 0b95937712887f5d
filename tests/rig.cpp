#include "rig.h"

#include "blue.h"
#include "listbox.h"
#include "polltimer.h"
#include "pseudoterminal.h"
#include "scriptedinputbox.h"
#include "support.h"
#include "udplistener.h"
#include "wifi.h"

#include <QAbstractItemModel>
#include <QFile>
#include <QPushButton>
#include <QSerialPort>

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

qint64 nowNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

namespace {
// What arrived after the `ordinal`-th sentinel (0: from the start), where `sentinelsAt` holds how
// much had arrived when each sentinel came; nothing while that one has not come.
template <typename List>
List since(const List &arrived, const QList<qsizetype> &sentinelsAt, int ordinal)
{
    if (ordinal == 0)
        return arrived;
    return ordinal <= sentinelsAt.size() ? arrived.mid(sentinelsAt[ordinal - 1]) : List();
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

sockaddr_in socketAddress(const QHostAddress &address, quint16 port)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(address.toIPv4Address());
    return to;
}
} // namespace

FarSide::FarSide(const QString &devicePath)
    : m_devicePath(devicePath)
    , m_wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    m_valid = replaceLine();
    m_thread = std::thread([this] { run(); });
    // Named apart from the windows' thread, so that a profile tells the two apart.
    pthread_setname_np(m_thread.native_handle(), "far side");
}

FarSide::~FarSide()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        changed();
    }
    m_thread.join();
    closeFd(m_udp);
    closeFd(m_master);
    closeFd(m_slave);
    closeFd(m_wake);
}

void FarSide::changed()
{
    ++m_changes;
    const quint64 one = 1;
    [[maybe_unused]] const auto written = ::write(m_wake, &one, sizeof one);
}

void FarSide::retire(std::unique_lock<std::mutex> &lock, int &fd)
{
    if (fd < 0)
        return;
    m_closing.append(std::exchange(fd, -1));
    changed();
    m_returned.wait(lock, [this] { return m_closing.isEmpty(); });
}

bool FarSide::listen(const QHostAddress &address, quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int yes = 1, buffer = 4 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    // Deep enough to ride out this thread being kept off the processor for a while.
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &yes, sizeof yes);
    const sockaddr_in at = socketAddress(address, port);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&at), sizeof at) != 0) {
        ::close(fd);
        return false;
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    retire(lock, m_udp);
    m_udp = fd;
    m_address = address;
    m_port = port;
    changed();
    return true;
}

void FarSide::hangUp()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    retire(lock, m_master);
}

bool FarSide::replaceLine()
{
    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return false;
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    // A child process must not keep the far side open after hangUp().
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    if (!pointLink(m_devicePath, QFile::decodeName(name))) {
        ::close(master);
        ::close(slave);
        return false;
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    retire(lock, m_master);
    closeFd(m_slave);
    // The slave stays open here too, so that the master never sees the line hang up.
    m_master = master;
    m_slave = slave;
    m_serial.clear();
    m_serialSentinels.clear();
    m_serialMarks = 0;
    changed();
    return true;
}

void FarSide::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    char buffer[65536];
    while (!m_stop) {
        pollfd fds[3] = {{m_wake, POLLIN, 0}, {m_udp, POLLIN, 0}, {m_master, POLLIN, 0}};
        const int changes = m_changes;
        lock.unlock();
        ::poll(fds, 3, -1);
        quint64 wakes;
        [[maybe_unused]] const auto drained = ::read(m_wake, &wakes, sizeof wakes);
        lock.lock();
        if (!m_closing.isEmpty()) {
            for (int fd : std::exchange(m_closing, {}))
                ::close(fd);
            m_returned.notify_all();
        }
        if (changes != m_changes)
            continue;
        bool arrived = false;
        while (m_udp >= 0) {
            sockaddr_in from{};
            iovec payload{buffer, sizeof buffer};
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
            msghdr message{&from, sizeof from, &payload, 1, control, sizeof control, 0};
            const ssize_t n = ::recvmsg(m_udp, &message, MSG_DONTWAIT);
            if (n < 0)
                break;
            qint64 at = nowNs();
            // The kernel stamps arrival on the real-time clock: its distance from now, moved to
            // the monotonic clock, keeps this thread's own delays out of every figure.
            if (const cmsghdr *stamp = CMSG_FIRSTHDR(&message);
                stamp && stamp->cmsg_level == SOL_SOCKET && stamp->cmsg_type == SCM_TIMESTAMPNS) {
                timespec arrivedAt, now;
                std::memcpy(&arrivedAt, CMSG_DATA(stamp), sizeof arrivedAt);
                clock_gettime(CLOCK_REALTIME, &now);
                at -= (now.tv_sec - arrivedAt.tv_sec) * 1000000000LL + now.tv_nsec -
                      arrivedAt.tv_nsec;
            }
            if (n == 1 && buffer[0] == Sentinel) {
                m_datagramSentinels.append(m_datagrams.size());
            } else {
                m_datagrams.append({QByteArray(buffer, n), ntohs(from.sin_port), at});
                arrived = true;
            }
        }
        ssize_t n;
        while (m_master >= 0 && (n = ::read(m_master, buffer, sizeof buffer)) > 0) {
            if (m_serial.isEmpty())
                m_serialArrivedNs = nowNs();
            for (const char byte : QByteArrayView(buffer, n)) {
                if (byte == Sentinel)
                    m_serialSentinels.append(m_serial.size());
                else
                    m_serial.append(byte);
            }
            arrived |= !m_serial.isEmpty();
        }
        if (arrived)
            m_arrived.notify_all();
    }
}

FarSide::Mark FarSide::mark()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    Mark mark{0, std::numeric_limits<int>::max()};
    if (m_udp >= 0) {
        const int other = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const sockaddr_in to = socketAddress(m_address, m_port);
        if (::sendto(other, &Sentinel, 1, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to) ==
            1)
            mark.datagrams = ++m_datagramMarks;
        ::close(other);
    }
    // Written on the line after everything the window has written, so it arrives after all of it.
    if (m_slave >= 0 && ::write(m_slave, &Sentinel, 1) == 1)
        mark.serial = ++m_serialMarks;
    return mark;
}

bool FarSide::hasArrived(const Mark &mark) const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_datagramSentinels.size() >= mark.datagrams && m_serialSentinels.size() >= mark.serial;
}

QList<FarSide::Datagram> FarSide::datagramsSince(const Mark &from) const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return since(m_datagrams, m_datagramSentinels, from.datagrams);
}

QByteArray FarSide::serialSince(const Mark &from) const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return since(m_serial, m_serialSentinels, from.serial);
}

std::pair<QList<FarSide::Datagram>, QByteArray> FarSide::take()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_datagramSentinels.clear();
    m_serialSentinels.clear();
    m_datagramMarks = m_serialMarks = 0;
    return {std::exchange(m_datagrams, {}), std::exchange(m_serial, {})};
}

bool FarSide::waitForBoth(int ms)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_arrived.wait_for(lock, std::chrono::milliseconds(ms),
                              [this] { return !m_datagrams.isEmpty() && !m_serial.isEmpty(); });
}

qint64 FarSide::serialArrivedNs() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_serial.isEmpty() ? 0 : m_serialArrivedNs;
}

Producer::Producer(const QString &directory)
    : m_directory(QFile::encodeName(directory))
{
}

qint64 Producer::put(const QByteArray &bytes, int pauseUs) const
{
    const QByteArray temporary = m_directory + "/api.tmp", final = m_directory + "/api.txt";
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return 0;
    const qint64 created = nowNs();
    const bool written = ::write(fd, bytes.constData(), bytes.size()) == bytes.size();
    ::close(fd);
    // One sleep, as a producer waits for its next program: the machine may go idle meanwhile.
    std::this_thread::sleep_for(std::chrono::nanoseconds(pauseUs * 1000LL - (nowNs() - created)));
    const qint64 at = nowNs();
    return written && ::rename(temporary.constData(), final.constData()) == 0 ? at : 0;
}

bool Producer::remove() const
{
    return std::remove((m_directory + "/api.txt").constData()) == 0;
}

void Producer::run(std::function<void(int)> round)
{
    stop();
    m_stop = false;
    m_rounds = 0;
    m_thread = std::thread([this, round] {
        for (int i = 0; !m_stop; ++i) {
            round(i);
            ++m_rounds;
        }
    });
}

void Producer::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

Rig::Rig()
    : m_port(freePort())
    , m_far(std::make_unique<FarSide>(devicePath()))
    , m_producer(directory())
{
}

Rig::~Rig()
{
    m_producer.stop();
    close();
}

PollTimer *Rig::wifiTimer() const
{
    return m_wifi ? m_wifi->findChild<PollTimer *>(u"jiance"_qs) : nullptr;
}

PollTimer *Rig::blueTimer() const
{
    return m_blue ? m_blue->findChild<PollTimer *>(u"Timer1"_qs) : nullptr;
}

bool Rig::open(Windows windows, Use use, const QString &host,
               const std::optional<QHostAddress> &listenAt)
{
    if (!m_dir.isValid() || !m_far->isValid() || m_port == 0)
        return false;
    if (windows & Wifi) {
        m_wifi = std::make_unique<wifi>(directory());
        {
            ScriptedInputBox box({QString::number(m_port), host});
            m_wifi->findChild<QPushButton *>(u"s"_qs)->click();
        }
        if (!wifiTimer()->isActive() || (listenAt && !listen(*listenAt)))
            return false;
        m_log = m_wifi->findChild<ListBox *>(u"serverlog"_qs);
        if (use == Tested)
            QObject::connect(m_log, &ListBox::linesAdded, m_log,
                             [this](const QStringList &lines) { m_wifiLines.append(lines); });
        else
            m_wifi->show();
    }
    if (windows & Blue) {
        m_blue = std::make_unique<blue>(directory(), QStringList{devicePath()});
        if (use == Tested) {
            // Never shown, so its timer is started by hand: a window this tall keeps every
            // printed row for counting.
            m_blue->resize(m_blue->width(), QWIDGETSIZE_MAX);
            blueTimer()->start();
        } else {
            m_blue->show();
        }
    }
    return true;
}

void Rig::close()
{
    m_wifi.reset();
    m_blue.reset();
    m_log = nullptr;
}

Rig::Mark Rig::mark()
{
    if (m_log)
        m_log->flush();
    return {m_wifiLines.size(), m_blue ? m_blue->printedRows().size() : 0, m_far->mark()};
}

QStringList Rig::blueSince(const Mark &from) const
{
    return m_blue ? m_blue->printedRows().mid(from.blueRows) : QStringList();
}

bool Rig::catchUp()
{
    if (m_blue) {
        auto *port = m_blue->findChild<QSerialPort *>(u"MSComm1"_qs);
        if (!runUntil([port] { return port->bytesToWrite() == 0; }))
            return false;
    }
    const FarSide::Mark mark = m_far->mark();
    const bool arrived = runUntil([&] { return m_far->hasArrived(mark); });
    if (m_log)
        m_log->flush();
    return arrived;
}
