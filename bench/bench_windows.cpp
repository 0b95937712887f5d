// Runs the real wifi and blue windows (offscreen, real 1 ms timers, UdpTransport to a listener on
// loopback, SerialTransport to a pseudo-terminal) and prints what they achieve: poll rate, latency
// from a request appearing to its datagram, idle CPU and resident memory. With --soak it runs only
// a standing request and fails when anything arrives torn, merged or not at all.
#include "blue.h"
#include "facilities.h"
#include "polltimer.h"
#include "wifi.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {
const QByteArray Request = "\xB4\xF2\xBF\xAA\xBF\xD5\xB5\xF7\r\n"; // 打开空调
const QByteArray Command = "\xBF\xD5\xB5\xF7\x3D\xC6\xF4\xB6\xAF"; // 空调=启动

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
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[std::min(values.size() - 1, size_t(p * values.size()))];
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

double cpuSeconds()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Another process that makes "api.txt" appear on request: written and closed under another name,
// then renamed into place, with the moment of the rename sent back.
class Producer {
public:
    explicit Producer(const QByteArray &directory)
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
    ~Producer()
    {
        close(m_order);
        close(m_reply);
        waitpid(m_pid, nullptr, 0);
    }
    qint64 makeAppear()
    {
        qint64 at = 0;
        if (write(m_order, "w", 1) != 1 || read(m_reply, &at, sizeof at) != sizeof at)
            std::abort();
        return at;
    }

private:
    pid_t m_pid;
    int m_order, m_reply;
};

// The far sides: a UDP listener on loopback and the master of a pseudo-terminal, read on their
// own thread so that the windows' thread is measured alone.
class FarSide {
public:
    FarSide()
    {
        m_udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int yes = 1;
        setsockopt(m_udp, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        const int buffer = 4 << 20;
        setsockopt(m_udp, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
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
    }
    ~FarSide()
    {
        m_stop = true;
        m_thread.join();
        close(m_udp);
        close(m_master);
        close(m_slave);
    }

    quint16 port() const { return m_port; }
    QString serialDevice() const { return m_slaveName; }

    std::atomic<qint64> datagrams{0}, serialCommands{0}, faults{0};
    std::atomic<qint64> armedArrival{0};
    std::atomic<bool> armed{false};
    std::atomic<qint64> lastDatagramAt{0};

private:
    void run()
    {
        pollfd fds[2] = {{m_udp, POLLIN, 0}, {m_master, POLLIN, 0}};
        char buffer[65536];
        QByteArray partial;
        while (!m_stop) {
            if (::poll(fds, 2, 50) <= 0)
                continue;
            if (fds[0].revents & POLLIN) {
                sockaddr_in from{};
                socklen_t length = sizeof from;
                const ssize_t n = recvfrom(m_udp, buffer, sizeof buffer, 0,
                                           reinterpret_cast<sockaddr *>(&from), &length);
                const qint64 at = nowNs();
                if (n >= 0) {
                    if (QByteArrayView(buffer, n) != Command || ntohs(from.sin_port) != m_port)
                        ++faults;
                    ++datagrams;
                    lastDatagramAt = at;
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

    int m_udp = -1, m_master = -1, m_slave = -1;
    quint16 m_port = 0;
    QString m_slaveName;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Runs `work` on the windows' thread and waits for it.
template <typename Work> void onGuiThread(Work work)
{
    QMetaObject::invokeMethod(qApp, work, Qt::BlockingQueuedConnection);
}

struct Windows {
    QPointer<wifi> udp;
    QPointer<blue> serial;
    std::atomic<qint64> udpCycles{0}, serialCycles{0};
};

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

struct Rates {
    double udpCycles, serialCycles, datagrams, serialCommands;
};

Rates measureRates(Windows &windows, FarSide &far, int seconds)
{
    const qint64 udp0 = windows.udpCycles, serial0 = windows.serialCycles;
    const qint64 datagrams0 = far.datagrams, commands0 = far.serialCommands;
    const qint64 start = nowNs();
    sleepMs(seconds * 1000);
    const double elapsed = (nowNs() - start) / 1e9;
    return {(windows.udpCycles - udp0) / elapsed, (windows.serialCycles - serial0) / elapsed,
            (far.datagrams - datagrams0) / elapsed, (far.serialCommands - commands0) / elapsed};
}

int benchmark(const QCommandLineParser &options, const QString &directory, FarSide &far,
              Producer &producer)
{
    const int runs = options.value(QStringLiteral("runs")).toInt();
    const int seconds = options.value(QStringLiteral("seconds")).toInt();
    const int trials = options.value(QStringLiteral("trials")).toInt();
    const int standing = options.value(QStringLiteral("standing")).toInt();
    const QString api = directory + QStringLiteral("/api.txt");

    std::printf("cores: %d; medians of %d runs of %d s\n", QThread::idealThreadCount(), runs,
                seconds);
    producer.makeAppear();
    struct Setup {
        const char *name;
        bool udp, serial;
    };
    for (const Setup setup : {Setup{"wifi alone", true, false}, Setup{"blue alone", false, true},
                              Setup{"both at once", true, true}}) {
        Windows windows;
        openWindows(windows, directory, far, setup.udp, setup.serial);
        sleepMs(500);
        std::vector<double> udp, serial, datagrams, commands;
        for (int run = 0; run < runs; ++run) {
            const Rates rates = measureRates(windows, far, seconds);
            udp.push_back(rates.udpCycles);
            serial.push_back(rates.serialCycles);
            datagrams.push_back(rates.datagrams);
            commands.push_back(rates.serialCommands);
        }
        closeWindows(windows);
        std::printf("poll rate, %-13s wifi %7.1f cycles/s, blue %7.1f cycles/s; received %7.1f "
                    "datagrams/s, %7.1f serial commands/s\n",
                    setup.name, median(udp), median(serial), median(datagrams), median(commands));
    }

    Windows windows;
    openWindows(windows, directory, far, true, true);
    std::vector<double> latencies;
    for (int trial = 0; trial < trials; ++trial) {
        QFile::remove(api);
        do
            sleepMs(10);
        while (nowNs() - far.lastDatagramAt < 10000000);
        far.armed = true;
        const qint64 appeared = producer.makeAppear();
        while (far.armed)
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        latencies.push_back((far.armedArrival - appeared) / 1e6);
    }
    std::printf("latency, api.txt appearing to first datagram over %d trials: p50 %.3f ms, p99 "
                "%.3f ms, max %.3f ms\n",
                trials, percentile(latencies, 0.5), percentile(latencies, 0.99),
                percentile(latencies, 1.0));

    QFile::remove(api);
    sleepMs(500);
    const double cpu0 = cpuSeconds();
    const qint64 wall0 = nowNs();
    sleepMs(10000);
    const double idle = (cpuSeconds() - cpu0) / ((nowNs() - wall0) / 1e9);
    std::printf("idle cost, both windows polling, no api.txt: %.2f%% of one core\n", idle * 100);

    producer.makeAppear();
    const long atStart = residentKiB();
    sleepMs(10000);
    const long after10 = residentKiB();
    std::vector<double> perSecond;
    for (int second = 10; second < standing; ++second)
        perSecond.push_back(measureRates(windows, far, 1).udpCycles);
    const long atEnd = residentKiB();
    std::printf("memory, standing request of %d s: resident %.1f MB at start, %.1f MB after 10 s, "
                "%.1f MB at the end (%+.2f MB since 10 s)\n",
                standing, atStart / 1024.0, after10 / 1024.0, atEnd / 1024.0,
                (atEnd - after10) / 1024.0);
    if (!perSecond.empty())
        std::printf("wifi cycles per second during it: min %.0f, median %.0f, max %.0f\n",
                    percentile(perSecond, 0), median(perSecond), percentile(perSecond, 1.0));
    closeWindows(windows);
    std::printf("far-side faults (torn, merged or wrong bytes): %lld\n", qint64(far.faults));
    return far.faults == 0 ? 0 : 1;
}

int soak(const QCommandLineParser &options, const QString &directory, FarSide &far,
         Producer &producer)
{
    const int seconds = options.value(QStringLiteral("soak")).toInt();
    Windows windows;
    openWindows(windows, directory, far, true, true);
    producer.makeAppear();
    sleepMs(10000);
    const long after10 = residentKiB();
    const qint64 datagrams0 = far.datagrams, commands0 = far.serialCommands;
    const qint64 cycles0 = windows.udpCycles + windows.serialCycles;
    for (int left = seconds - 10; left > 0; left -= 10)
        sleepMs(std::min(left, 10) * 1000);
    const long atEnd = residentKiB();
    const qint64 datagrams = far.datagrams - datagrams0, commands = far.serialCommands - commands0;
    const qint64 cycles = windows.udpCycles + windows.serialCycles - cycles0;
    closeWindows(windows);
    sleepMs(200);

    const double growth = (atEnd - after10) / 1024.0;
    std::printf("soak of %d s: %lld cycles, %lld datagrams and %lld serial commands received, "
                "%lld faulty; resident %.1f MB after 10 s, %.1f MB at the end\n",
                seconds, cycles, datagrams, commands, qint64(far.faults), after10 / 1024.0,
                atEnd / 1024.0);
    // Every datagram and serial command must be whole, and both sides must have kept receiving.
    const bool intact = far.faults == 0 && datagrams > 0 && commands > 0;
    const bool flat = growth < 5.0;
    std::printf("%s\n", intact && flat ? "soak passed" : "soak FAILED");
    return intact && flat ? 0 : 1;
}
} // namespace

int main(int argc, char *argv[])
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir directory;
    Producer producer(QFile::encodeName(directory.path()));

    QApplication app(argc, argv);
    QCommandLineParser options;
    options.addHelpOption();
    options.addOptions({
        {QStringLiteral("runs"), QStringLiteral("Runs per poll-rate figure."), QStringLiteral("n"),
         QStringLiteral("5")},
        {QStringLiteral("seconds"), QStringLiteral("Seconds per poll-rate run."),
         QStringLiteral("s"), QStringLiteral("3")},
        {QStringLiteral("trials"), QStringLiteral("Latency trials."), QStringLiteral("n"),
         QStringLiteral("200")},
        {QStringLiteral("standing"), QStringLiteral("Seconds of the standing request."),
         QStringLiteral("s"), QStringLiteral("60")},
        {QStringLiteral("soak"), QStringLiteral("Only soak for this many seconds."),
         QStringLiteral("s")},
    });
    options.process(app);

    FarSide far;
    int result = 0;
    std::thread driver([&] {
        result = options.isSet(QStringLiteral("soak"))
                     ? soak(options, directory.path(), far, producer)
                     : benchmark(options, directory.path(), far, producer);
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::exec();
    driver.join();
    std::fflush(stdout);
    return result;
}
