#include "rig.h"

#include "facilities.h"
#include "polltimer.h"

#include <QAccessible>
#include <QListWidget>
#include <QPushButton>
#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

const QByteArray Request = "\xB4\xF2\xBF\xAA\xBF\xD5\xB5\xF7\r\n"; // 打开空调
const QByteArray Command = "\xBF\xD5\xB5\xF7\x3D\xC6\xF4\xB6\xAF"; // 空调=启动

Producer::Producer(const QByteArray &directory)
{
    int toChild[2], fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0)
        std::abort();
    m_pid = fork();
    if (m_pid == 0) {
        close(toChild[1]);
        close(fromChild[0]);
        const QByteArray temporary = directory + "/api.tmp";
        const QByteArray final = directory + "/api.txt";
        char order;
        while (read(toChild[0], &order, 1) == 1) {
            const int fd = open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || write(fd, Request.constData(), Request.size()) != Request.size())
                _exit(1);
            close(fd);
            const qint64 at = nowNs();
            rename(temporary.constData(), final.constData());
            if (write(fromChild[1], &at, sizeof at) != sizeof at)
                _exit(1);
        }
        _exit(0);
    }
    close(toChild[0]);
    close(fromChild[1]);
    m_order = toChild[1];
    m_reply = fromChild[0];
}

Producer::~Producer()
{
    close(m_order);
    close(m_reply);
    waitpid(m_pid, nullptr, 0);
}

qint64 Producer::makeAppear()
{
    qint64 at = 0;
    if (write(m_order, "w", 1) != 1 || read(m_reply, &at, sizeof at) != sizeof at)
        std::abort();
    return at;
}

FarSide::FarSide()
{
    m_udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    setsockopt(m_udp, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    const int buffer = 4 << 20;
    setsockopt(m_udp, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    setsockopt(m_udp, SOL_SOCKET, SO_TIMESTAMPNS, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (quint16 port = 47000; port < 48000; ++port) {
        address.sin_port = htons(port);
        if (bind(m_udp, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
            m_port = port;
            break;
        }
    }
    int slave = -1;
    char name[256];
    if (m_port == 0 || openpty(&m_master, &slave, name, nullptr, nullptr) != 0)
        std::abort();
    m_slaveName = QString::fromLocal8Bit(name);
    m_slave = slave; // held open so the master never sees the line hang up
    m_thread = std::thread([this] { run(); });
    // Named apart from the windows' thread, so that a profile tells the two apart.
    pthread_setname_np(m_thread.native_handle(), "far side");
}

FarSide::~FarSide()
{
    m_stop = true;
    m_thread.join();
    close(m_udp);
    close(m_master);
    close(m_slave);
}

void FarSide::run()
{
    pollfd fds[2] = {{m_udp, POLLIN, 0}, {m_master, POLLIN, 0}};
    char buffer[65536];
    QByteArray partial;
    while (!m_stop) {
        if (::poll(fds, 2, 50) <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            sockaddr_in from{};
            iovec payload{buffer, sizeof buffer};
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
            msghdr message{&from, sizeof from, &payload, 1, control, sizeof control, 0};
            const ssize_t n = recvmsg(m_udp, &message, 0);
            const qint64 readAt = nowNs();
            qint64 at = readAt;
            if (const cmsghdr *stamp = CMSG_FIRSTHDR(&message);
                stamp && stamp->cmsg_level == SOL_SOCKET && stamp->cmsg_type == SCM_TIMESTAMPNS) {
                timespec arrived, now;
                std::memcpy(&arrived, CMSG_DATA(stamp), sizeof arrived);
                clock_gettime(CLOCK_REALTIME, &now);
                at -= (now.tv_sec - arrived.tv_sec) * 1000000000LL + now.tv_nsec - arrived.tv_nsec;
            }
            if (n >= 0) {
                if (QByteArrayView(buffer, n) != Command || ntohs(from.sin_port) != m_port)
                    ++faults;
                ++datagrams;
                lastDatagramAt = at;
                longestReadDelay = std::max<qint64>(longestReadDelay, readAt - at);
                if (armed.exchange(false))
                    armedArrival = at;
            }
        }
        if (fds[1].revents & POLLIN) {
            const ssize_t n = read(m_master, buffer, sizeof buffer);
            if (n > 0) {
                partial.append(buffer, n);
                qsizetype whole = 0;
                while (partial.size() - whole >= Command.size()) {
                    if (QByteArrayView(partial).sliced(whole, Command.size()) != Command)
                        ++faults;
                    whole += Command.size();
                    ++serialCommands;
                }
                partial.remove(0, whole);
            }
        }
    }
}

namespace {
// Counts the paints of the Wi-Fi log, which a standing request changes on every cycle.
class PaintCounter : public QObject {
public:
    PaintCounter(std::atomic<qint64> &paints, QObject *parent)
        : QObject(parent)
        , m_paints(paints)
    {
    }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++m_paints;
        return false;
    }

private:
    std::atomic<qint64> &m_paints;
};
} // namespace

bool FarSide::hasUnread() const
{
    int next = 0;
    return ioctl(m_udp, FIONREAD, &next) == 0 && next > 0;
}

void openWindows(Windows &windows, const QString &directory, const FarSide &far, bool withUdp,
                 bool withSerial)
{
    onGuiThread([&] {
        if (withUdp) {
            windows.udp = new wifi(directory);
            const QStringList answers{QString::number(far.port()), QStringLiteral("127.0.0.1")};
            int next = 0;
            const InputBoxFunction previous =
                replaceInputBox([&](QWidget *, const QString &) { return answers.value(next++); });
            windows.udp->findChild<QPushButton *>(QStringLiteral("s"))->click();
            replaceInputBox(previous);
            QObject::connect(windows.udp->findChild<PollTimer *>(QStringLiteral("jiance")),
                             &PollTimer::timeout, [&windows] { ++windows.udpCycles; });
            QWidget *log =
                windows.udp->findChild<QListWidget *>(QStringLiteral("serverlog"))->viewport();
            log->installEventFilter(new PaintCounter(windows.logPaints, log));
            windows.udp->show();
        }
        if (withSerial) {
            windows.serial = new blue(directory, {far.serialDevice()});
            QObject::connect(windows.serial->findChild<PollTimer *>(QStringLiteral("Timer1")),
                             &PollTimer::timeout, [&windows] { ++windows.serialCycles; });
            windows.serial->show();
        }
    });
}

void closeWindows(Windows &windows)
{
    onGuiThread([&] {
        delete windows.udp;
        delete windows.serial;
    });
}

double serverCpuSeconds(FarSide &far)
{
    return processCpuSeconds() - far.cpuSeconds() - threadCpuSeconds(pthread_self());
}

namespace {
std::atomic<qint64> events{0};

// What a screen reader does with each event it is sent: asks the object for its role and name.
void readOut(QAccessibleEvent *event)
{
    if (QAccessibleInterface *object = event->accessibleInterface()) {
        object->role();
        object->text(QAccessible::Name);
    }
    ++events;
}
} // namespace

// QAccessible::setActive only tells observers; what widgets look at, QAccessible::isActive, is the
// platform accessibility's own flag, which the platform sets when a screen reader first asks.
bool activateAccessibility()
{
    QPlatformAccessibility *platform =
        QGuiApplicationPrivate::platformIntegration()->accessibility();
    if (!platform)
        return false;
    QAccessible::installUpdateHandler(readOut);
    platform->setActive(true);
    return QAccessible::isActive();
}

qint64 accessibilityEvents()
{
    return events;
}
