#include "measure.h"

#include <QFile>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

qint64 nowNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

double median(std::vector<double> values)
{
    return percentile(std::move(values), 0.5);
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[std::min(values.size() - 1, size_t(p * values.size()))];
}

namespace {
double seconds(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}
} // namespace

double processCpuSeconds()
{
    return seconds(CLOCK_PROCESS_CPUTIME_ID);
}

double threadCpuSeconds(pthread_t thread)
{
    clockid_t clock;
    return pthread_getcpuclockid(thread, &clock) == 0 ? seconds(clock) : 0;
}

long residentKiB()
{
    long pages = 0, resident = 0;
    if (FILE *statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

quint16 freeUdpPort()
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool bound = bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
                       getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0;
    close(fd);
    return bound ? ntohs(address.sin_port) : 0;
}

QByteArray loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return "unknown";
    return file.readLine().split(' ').mid(0, 3).join(' ');
}

void GapMeter::beat(qint64 atNs)
{
    if (m_last != 0)
        m_longest = std::max(m_longest, atNs - m_last);
    m_last = atNs;
}

Hogs::Hogs(int count, int niceness)
{
    for (int i = 0; i < count; ++i) {
        const pid_t pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            setpriority(PRIO_PROCESS, 0, niceness);
            for (volatile unsigned long spin = 0;; spin = spin + 1) {
            }
        }
        if (pid > 0)
            m_pids.push_back(pid);
    }
}

Hogs::~Hogs()
{
    for (const pid_t pid : m_pids) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

Xvfb::Xvfb()
{
    int displayPipe[2];
    if (pipe(displayPipe) != 0)
        return;
    m_pid = fork();
    if (m_pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        close(displayPipe[0]);
        if (FILE *null = std::freopen("/dev/null", "w", stderr))
            (void)null;
        const QByteArray fd = QByteArray::number(displayPipe[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.constData(), "-screen", "0", "1280x1024x24",
               "-nolisten", "tcp", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(displayPipe[1]);
    // Xvfb writes the display number once it accepts clients.
    pollfd ready{displayPipe[0], POLLIN, 0};
    char number[16] = {};
    if (m_pid > 0 && poll(&ready, 1, 15000) == 1 && read(displayPipe[0], number, 15) > 0)
        m_display = ':' + QByteArray(number).trimmed();
    close(displayPipe[0]);
}

Xvfb::~Xvfb()
{
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
}

SilentNameServer::SilentNameServer(quint16 port)
{
    // 127.0.0.53 may be a real resolver's; all of 127/8 is loopback on Linux.
    for (const char *address : {"127.0.0.53", "127.53.53.53", "127.0.53.53"}) {
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in bound{};
        bound.sin_family = AF_INET;
        bound.sin_port = htons(port);
        inet_pton(AF_INET, address, &bound.sin_addr);
        socklen_t length = sizeof bound;
        if (bind(fd, reinterpret_cast<sockaddr *>(&bound), sizeof bound) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &length) == 0) {
            m_fd = fd;
            m_address = address;
            m_port = ntohs(bound.sin_port);
            return;
        }
        close(fd);
    }
}

SilentNameServer::~SilentNameServer()
{
    if (m_fd >= 0)
        close(m_fd);
}

QByteArray SilentNameServer::resolvConf() const
{
    return "nameserver " + m_address + "\noptions timeout:5 attempts:2\n";
}

int SilentNameServer::takeQueries()
{
    int queries = 0;
    char query[512];
    while (m_fd >= 0 && recv(m_fd, query, sizeof query, MSG_DONTWAIT) >= 0)
        ++queries;
    return queries;
}

QByteArray figureLine(const QByteArray &key, double value)
{
    return "= " + key + ' ' + QByteArray::number(value, 'g', 10);
}

bool parseFigureLine(const QByteArray &line, QByteArray *key, double *value)
{
    const QList<QByteArray> fields = line.trimmed().split(' ');
    bool isNumber = false;
    if (fields.size() != 3 || fields[0] != "=")
        return false;
    *value = fields[2].toDouble(&isNumber);
    *key = fields[1];
    return isNumber;
}

BareBeat::BareBeat()
    : m_thread([this] {
        const int clock = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
        const itimerspec beat{{0, 1000000}, {0, 1000000}};
        ::timerfd_settime(clock, 0, &beat, nullptr);
        qint64 last = nowNs();
        quint64 expirations;
        while (!m_stop && ::read(clock, &expirations, sizeof expirations) == sizeof expirations) {
            const qint64 now = nowNs();
            m_longest = std::max<qint64>(m_longest, now - last);
            last = now;
        }
        ::close(clock);
    })
{
}

BareBeat::~BareBeat()
{
    m_stop = true;
    m_thread.join();
}

double bareCycleShare(const QByteArray &directory, quint16 port, const QByteArray &device,
                      int seconds)
{
    double share = 0;
    std::thread loop([&] {
        const QByteArray request = directory + "/api.txt";
        const char command[] = "\xBF\xD5\xB5\xF7\x3D\xC6\xF4\xB6\xAF";
        const int clock = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
        const int udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int line = ::open(device.constData(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(port);
        // From port P, as the server sends.
        const int yes = 1;
        ::setsockopt(udp, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in from = to;
        from.sin_addr.s_addr = htonl(INADDR_ANY);
        ::bind(udp, reinterpret_cast<sockaddr *>(&from), sizeof from);
        const itimerspec beat{{0, 1000000}, {0, 1000000}};
        ::timerfd_settime(clock, 0, &beat, nullptr);
        const double cpu0 = threadCpuSeconds(pthread_self());
        const qint64 start = nowNs();
        while (nowNs() - start < seconds * 1000000000LL) {
            quint64 expirations;
            if (::read(clock, &expirations, sizeof expirations) != sizeof expirations)
                break;
            struct stat status;
            for (int window = 0; window < 2; ++window) {
                if (::stat(request.constData(), &status) != 0)
                    continue;
                const int fd = ::open(request.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
                char bytes[4096];
                if (fd >= 0 && ::fstat(fd, &status) == 0 && ::read(fd, bytes, sizeof bytes) >= 0)
                    ::close(fd);
            }
            ::sendto(udp, command, sizeof command - 1, 0, reinterpret_cast<sockaddr *>(&to),
                     sizeof to);
            pollfd room{line, POLLOUT, 0};
            if (::stat(device.constData(), &status) == 0 && ::poll(&room, 1, 0) > 0)
                [[maybe_unused]]
                const auto written = ::write(line, command, sizeof command - 1);
        }
        share = (threadCpuSeconds(pthread_self()) - cpu0) / ((nowNs() - start) / 1e9);
        ::close(line);
        ::close(udp);
        ::close(clock);
    });
    loop.join();
    return share;
}

QString Target::text(const char *unit) const
{
    if (kind == None)
        return QStringLiteral("-");
    return (kind == AtMost ? QStringLiteral("≤ ") : QStringLiteral("≥ ")) + QString::number(bound) +
           QString::fromUtf8(unit);
}
