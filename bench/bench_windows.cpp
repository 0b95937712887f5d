// Runs the real wifi and blue windows, and morvane-relay, against the far side of tests/rig.h and
// prints the figures of one configuration as "name value unit" lines. The platform is Qt's
// (QT_QPA_PLATFORM), the load is whatever else the machine runs (bench/run.sh starts it). Beside
// every figure a floor: a bare loop on a thread of its own that makes only the system calls of the
// same work. With
// --soak N only a standing request is served, for N seconds, and the run fails when anything
// arrives torn or merged, either side stops receiving, or resident memory grows.
#include "measure.h"
#include "polltimer.h"
#include "rig.h"
#include "support.h"

#include <QAccessible>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QProcess>

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {
void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Of this process, or of process `pid`.
double residentMB(qint64 pid = 0)
{
    long pages = 0, resident = 0;
    const QByteArray path =
        pid ? "/proc/" + QByteArray::number(pid) + "/statm" : "/proc/self/statm";
    if (FILE *statm = std::fopen(path.constData(), "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * double(sysconf(_SC_PAGESIZE)) / (1 << 20);
}

void print(const QByteArray &name, double value, const char *unit)
{
    std::printf("%-28s %10.4g %s\n", name.constData(), value, unit);
}

template <typename Work> void onGuiThread(Work work)
{
    QMetaObject::invokeMethod(qApp, work, Qt::BlockingQueuedConnection);
}

// What one tick does while a request stands: `polls` looks at api.txt (one per poller), one
// datagram, one serial write.
struct Work {
    int polls;
    bool udp, serial;
};

// The floor under the figures: what the windows' poll engine asks of the kernel, alone on a thread
// of its own. While `directory`/api.txt is there it beats every millisecond and does `work` on
// each beat (stat, open, fstat, read and close the file, send from port P, stat the serial
// device, poll and write it); while the file is absent it beats every 10 ms and a watch on the
// directory wakes it at once.
class BareLoop {
public:
    BareLoop(const QString &directory, Work work, quint16 port, const QString &device)
        : m_stop(::eventfd(0, EFD_CLOEXEC))
        , m_thread(
              [=] { run(QFile::encodeName(directory), work, port, QFile::encodeName(device)); })
    {
        pthread_setname_np(m_thread.native_handle(), "bare loop");
    }
    ~BareLoop()
    {
        const quint64 one = 1;
        [[maybe_unused]] const auto written = ::write(m_stop, &one, sizeof one);
        m_thread.join();
        ::close(m_stop);
    }

    std::atomic<qint64> ticks{0};
    double cpuSeconds() { return threadCpuSeconds(m_thread.native_handle()); }

private:
    void run(const QByteArray &directory, Work work, quint16 port, const QByteArray &device)
    {
        const QByteArray request = directory + "/api.txt";
        const int beat = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
        const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ::inotify_add_watch(watch, directory.constData(),
                            IN_CREATE | IN_DELETE | IN_MOVE | IN_ATTRIB | IN_DELETE_SELF);
        const int udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int line = ::open(device.constData(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        const int yes = 1;
        ::setsockopt(udp, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        sockaddr_in from = to;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(udp, reinterpret_cast<sockaddr *>(&from), sizeof from);
        const auto setBeat = [beat](long ms) {
            const itimerspec every{{0, ms * 1000000}, {0, ms * 1000000}};
            ::timerfd_settime(beat, 0, &every, nullptr);
        };
        bool resting = false;
        pollfd fds[3] = {{m_stop, POLLIN, 0}, {beat, POLLIN, 0}, {watch, POLLIN, 0}};
        setBeat(1);
        while (::poll(fds, 3, -1) >= 0 && !(fds[0].revents & POLLIN)) {
            char drained[4096];
            while (::read(beat, drained, sizeof(quint64)) > 0 || ::read(watch, drained, 4096) > 0) {
            }
            ++ticks;
            struct stat status;
            bool present = false;
            for (int poll = 0; poll < work.polls; ++poll) {
                if (::stat(request.constData(), &status) != 0 || !S_ISREG(status.st_mode))
                    continue;
                present = true;
                const int fd = ::open(request.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
                char bytes[4096];
                if (fd >= 0 && ::fstat(fd, &status) == 0 && ::read(fd, bytes, sizeof bytes) >= 0)
                    ::close(fd);
            }
            if (present && work.udp)
                ::sendto(udp, Bytes::On.constData(), Bytes::On.size(), 0,
                         reinterpret_cast<sockaddr *>(&to), sizeof to);
            pollfd room{line, POLLOUT, 0};
            if (present && work.serial && ::stat(device.constData(), &status) == 0 &&
                ::poll(&room, 1, 0) > 0) [[maybe_unused]]
                const auto written = ::write(line, Bytes::On.constData(), Bytes::On.size());
            if (present == resting)
                setBeat(present ? 1 : PollTimer::RestInterval);
            resting = !present;
        }
        for (const int fd : {line, udp, watch, beat})
            ::close(fd);
    }

    const int m_stop;
    std::thread m_thread;
};

struct Options {
    int runs, seconds, trials, pauseUs, standing;
    QStringList only;
    bool wants(const char *figure) const
    {
        return only.isEmpty() || only.contains(QLatin1String(figure));
    }
};

class Bench {
public:
    Bench(Rig &rig, const Options &options)
        : m_rig(rig)
        , m_options(options)
    {
        QDir(rig.directory()).mkdir(QStringLiteral("floor"));
    }

    int figures();
    int soak(int seconds, bool alone);

private:
    struct Setup {
        QByteArray name;
        Rig::Windows windows;
        Work work;
    };
    void open(Rig::Windows windows);
    void close()
    {
        onGuiThread([this] { m_rig.close(); });
    }
    QString floorDirectory() const { return m_rig.directory() + QStringLiteral("/floor"); }
    // The windows' side of the process: all of it but the far side, the floor and this thread.
    double windowsCpuSeconds(BareLoop &floor)
    {
        return cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) -
               threadCpuSeconds(m_rig.far().thread().native_handle()) - floor.cpuSeconds() -
               cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    }
    // Takes what the far side received and counts what is not one whole command from port P.
    void drain();
    void serving(const Setup &setup);
    void idle();
    void latency();
    void relay();

    Rig &m_rig;
    const Options m_options;
    std::atomic<qint64> m_wifiTicks{0}, m_blueTicks{0};
    qint64 m_datagrams = 0, m_commands = 0, m_faults = 0;
    QByteArray m_partial;
};

void Bench::open(Rig::Windows windows)
{
    bool opened = false;
    onGuiThread([&] {
        opened = m_rig.open(windows, Rig::Measured);
        for (auto [timer, ticks] : {std::pair(m_rig.wifiTimer(), &m_wifiTicks),
                                    std::pair(m_rig.blueTimer(), &m_blueTicks)}) {
            if (timer)
                QObject::connect(timer, &PollTimer::timeout, [ticks] { ++*ticks; });
        }
    });
    if (!opened) {
        std::fprintf(stderr, "the windows could not be opened\n");
        std::exit(2);
    }
}

void Bench::drain()
{
    auto [datagrams, serial] = m_rig.far().take();
    for (const FarSide::Datagram &datagram : datagrams)
        m_faults += datagram.data != Bytes::On || datagram.senderPort != m_rig.port();
    m_datagrams += datagrams.size();
    m_partial += serial;
    qsizetype whole = 0;
    for (; m_partial.size() - whole >= Bytes::On.size(); whole += Bytes::On.size())
        m_faults += QByteArrayView(m_partial).sliced(whole, Bytes::On.size()) != Bytes::On;
    m_commands += whole / Bytes::On.size();
    m_partial.remove(0, whole);
}

// A standing request served by the windows of `setup` and by the floor doing the same work, in
// turns of `seconds`, the other side resting meanwhile: cycles a second of each and the share of
// one core each used.
void Bench::serving(const Setup &setup)
{
    open(setup.windows);
    BareLoop floor(floorDirectory(), setup.work, m_rig.port(), m_rig.devicePath());
    Producer floorProducer(floorDirectory());
    std::vector<double> wifi, blue, bare, cpu, bareCpu, perCycle;
    for (int run = 0; run < m_options.runs; ++run) {
        for (const bool windows : {false, true}) {
            const Producer &producer = windows ? m_rig.producer() : floorProducer;
            producer.put(Bytes::TurnOn);
            sleepMs(300);
            const qint64 wifi0 = m_wifiTicks, blue0 = m_blueTicks, bare0 = floor.ticks;
            const double cpu0 = windows ? windowsCpuSeconds(floor) : floor.cpuSeconds();
            const qint64 start = nowNs();
            sleepMs(m_options.seconds * 1000);
            const double elapsed = (nowNs() - start) / 1e9;
            const double used = (windows ? windowsCpuSeconds(floor) : floor.cpuSeconds()) - cpu0;
            producer.remove();
            if (windows) {
                wifi.push_back((m_wifiTicks - wifi0) / elapsed);
                blue.push_back((m_blueTicks - blue0) / elapsed);
                cpu.push_back(100 * used / elapsed);
                perCycle.push_back(used * 1e6 / (m_wifiTicks - wifi0 + m_blueTicks - blue0));
            } else {
                bare.push_back((floor.ticks - bare0) / elapsed);
                bareCpu.push_back(100 * used / elapsed);
            }
            sleepMs(100);
            drain();
        }
    }
    close();
    const QByteArray name = setup.name;
    double slowest = 1e9;
    if (setup.windows & Rig::Wifi) {
        print("rate-" + name + (setup.windows == Rig::Both ? "-wifi" : ""), median(wifi), "/s");
        slowest = median(wifi);
    }
    if (setup.windows & Rig::Blue) {
        print("rate-" + name + (setup.windows == Rig::Both ? "-blue" : ""), median(blue), "/s");
        slowest = std::min(slowest, median(blue));
    }
    print("rate-" + name + "-floor", median(bare), "/s");
    print("rate-" + name + "-ratio", slowest / median(bare), "x");
    print("cpu-" + name, median(cpu), "%");
    print("cpu-" + name + "-floor", median(bareCpu), "%");
    print("cpu-" + name + "-ratio", median(cpu) / median(bareCpu), "x");
    print("cpu-" + name + "-per-cycle", median(perCycle), "us");
}

// Both windows open with no request, and the floor resting beside them.
void Bench::idle()
{
    open(Rig::Both);
    BareLoop floor(floorDirectory(), {2, true, true}, m_rig.port(), m_rig.devicePath());
    sleepMs(500);
    std::vector<double> cpu, bareCpu;
    for (int run = 0; run < m_options.runs; ++run) {
        const double cpu0 = windowsCpuSeconds(floor), bare0 = floor.cpuSeconds();
        const qint64 start = nowNs();
        sleepMs(m_options.seconds * 1000);
        const double elapsed = (nowNs() - start) / 1e9;
        cpu.push_back(100 * (windowsCpuSeconds(floor) - cpu0) / elapsed);
        bareCpu.push_back(100 * (floor.cpuSeconds() - bare0) / elapsed);
    }
    close();
    print("cpu-idle", median(cpu), "%");
    print("cpu-idle-floor", median(bareCpu), "%");
}

// From the rename that makes api.txt appear to the kernel's arrival stamp of the first datagram,
// and to the far side's reading of the first bytes on the line, both windows resting before, as a
// producer finds them: the file is written under another name (which wakes the windows for nothing)
// a while before a program of its own renames it, as with a shell's `> api.tmp && mv api.tmp
// api.txt`; trials come at irregular times, and turns alternate with the floor, which rests and
// wakes the same way.
qint64 renameByAnotherProgram(const QString &directory, int pauseUs)
{
    const QString temporary = directory + QStringLiteral("/api.tmp");
    if (!writeFile(temporary, Bytes::TurnOn))
        return 0;
    std::this_thread::sleep_for(std::chrono::microseconds(pauseUs));
    QProcess rename;
    rename.setWorkingDirectory(directory);
    rename.start(QStringLiteral(RENAME), {});
    qint64 at = 0;
    return rename.waitForFinished() &&
                   rename.read(reinterpret_cast<char *>(&at), sizeof at) == sizeof at
               ? at
               : 0;
}

void Bench::latency()
{
    open(Rig::Both);
    BareLoop floor(floorDirectory(), {2, true, true}, m_rig.port(), m_rig.devicePath());
    std::mt19937 random(18);
    const int pause = m_options.pauseUs;
    std::uniform_int_distribution<int> pauses(pause / 2, pause * 3 / 2), gaps(20, 120);
    // Of the windows and of the floor, the datagram's and the line's.
    std::vector<double> latencies[2][2];
    sleepMs(500);
    for (int trial = 0; trial < 2 * m_options.trials; ++trial) {
        const QString directory = trial % 2 ? floorDirectory() : m_rig.directory();
        m_rig.far().take();
        const qint64 renamed = renameByAnotherProgram(directory, pauses(random));
        // A pseudo-terminal hands bytes on through a kernel worker, which a busy machine can keep
        // waiting for most of a second.
        if (!m_rig.far().waitForBoth(5000)) {
            std::fprintf(stderr, "nothing on an output within 5 s of the rename\n");
            std::exit(2);
        }
        const qint64 serial = m_rig.far().serialArrivedNs();
        const qint64 arrived = m_rig.far().take().first.first().arrivedNs;
        latencies[trial % 2][0].push_back((arrived - renamed) / 1e6);
        latencies[trial % 2][1].push_back((serial - renamed) / 1e6);
        QFile::remove(directory + QStringLiteral("/api.txt"));
        sleepMs(gaps(random));
        drain();
    }
    close();
    for (const int output : {0, 1}) {
        const QByteArray name = output ? "latency-serial" : "latency";
        for (const int floor : {0, 1}) {
            const std::vector<double> &of = latencies[floor][output];
            print(name + (floor ? "-floor" : "") + "-p50", percentile(of, 0.5), "ms");
            print(name + (floor ? "-floor" : "") + "-p99", percentile(of, 0.99), "ms");
            print(name + (floor ? "-floor" : "") + "-max", percentile(of, 1), "ms");
        }
        print(name + "-p99-ratio",
              percentile(latencies[0][output], 0.99) / percentile(latencies[1][output], 0.99), "x");
    }
}

// morvane-relay with one UDP and one serial output serving a standing request, in turns with the
// floor doing the same work, counted by what arrives; then resting with no request file; then its
// resident memory over a standing request of --standing seconds.
void Bench::relay()
{
    const QString directory = m_rig.directory() + QStringLiteral("/relay");
    QDir().mkdir(directory);
    m_rig.listen(QHostAddress(QHostAddress::LocalHost));
    QProcess relay;
    relay.setProcessChannelMode(QProcess::ForwardedChannels);
    relay.start(QStringLiteral(RELAY),
                {u"--quiet"_qs, u"--request"_qs, directory + u"/api.txt"_qs, u"--udp"_qs,
                 QStringLiteral("127.0.0.1:%1").arg(m_rig.port()), u"--serial"_qs,
                 m_rig.devicePath()});
    if (!relay.waitForStarted()) {
        std::fprintf(stderr, "morvane-relay did not start\n");
        std::exit(2);
    }
    const qint64 pid = relay.processId();
    BareLoop floor(floorDirectory(), {1, true, true}, m_rig.port(), m_rig.devicePath());
    const Producer relayProducer(directory), floorProducer(floorDirectory());
    // A turn of --seconds: commands arrived a second over UDP and serial, and the share of a core.
    const auto turn = [&](const Producer *producer, const std::function<double()> &cpuSeconds) {
        if (producer)
            producer->put(Bytes::TurnOn);
        sleepMs(300);
        drain();
        const qint64 datagrams0 = m_datagrams, commands0 = m_commands, start = nowNs();
        const double cpu0 = cpuSeconds();
        sleepMs(m_options.seconds * 1000);
        drain();
        const double elapsed = (nowNs() - start) / 1e9;
        const std::array<double, 3> figures{(m_datagrams - datagrams0) / elapsed,
                                            (m_commands - commands0) / elapsed,
                                            100 * (cpuSeconds() - cpu0) / elapsed};
        if (producer)
            producer->remove();
        return figures;
    };
    const auto relayCpu = [pid] {
        return processCpuSeconds(pid);
    };
    const auto floorCpu = [&floor] {
        return floor.cpuSeconds();
    };
    std::vector<double> figures[7]; // udp, serial, cpu; the same of the floor; cpu resting
    for (int run = 0; run < m_options.runs; ++run) {
        for (const bool bare : {false, true}) {
            const auto done = turn(bare ? &floorProducer : &relayProducer,
                                   bare ? std::function(floorCpu) : relayCpu);
            for (int figure = 0; figure < 3; ++figure)
                figures[3 * bare + figure].push_back(done[figure]);
        }
    }
    for (int run = 0; run < m_options.runs; ++run)
        figures[6].push_back(turn(nullptr, relayCpu)[2]);
    relayProducer.put(Bytes::TurnOn);
    sleepMs(10000);
    const double after10 = residentMB(pid);
    sleepMs(std::max(0, m_options.standing - 10) * 1000);
    const double growth = residentMB(pid) - after10;
    relayProducer.remove();
    relay.terminate();
    relay.waitForFinished();
    drain();
    const auto at = [&](int figure) {
        return median(figures[figure]);
    };
    print("rate-relay-udp", at(0), "/s");
    print("rate-relay-serial", at(1), "/s");
    print("rate-relay-floor", std::min(at(3), at(4)), "/s");
    print("rate-relay-ratio", std::min(at(0), at(1)) / std::min(at(3), at(4)), "x");
    print("cpu-relay", at(2), "%");
    print("cpu-relay-floor", at(5), "%");
    print("cpu-relay-ratio", at(2) / at(5), "x");
    print("cpu-relay-idle", at(6), "%");
    print("rss-relay-after-10s", after10, "MB");
    print("rss-relay-growth", growth, "MB");
}

// Both windows serving a standing request: resident memory after the first 10 s and at the end.
int Bench::soak(int seconds, bool alone)
{
    open(Rig::Both);
    m_rig.producer().put(Bytes::TurnOn);
    for (int second = 0; second < 10; ++second, drain())
        sleepMs(1000);
    const double after10 = residentMB();
    const qint64 datagrams0 = m_datagrams, commands0 = m_commands;
    for (int second = 10; second < seconds; ++second, drain())
        sleepMs(1000);
    const double growth = residentMB() - after10;
    m_rig.producer().remove();
    sleepMs(100);
    drain();
    close();
    print("rss-after-10s", after10, "MB");
    print("rss-growth", growth, "MB");
    if (!alone)
        return 0;
    print("soak-datagrams", m_datagrams - datagrams0, "count");
    print("soak-serial-commands", m_commands - commands0, "count");
    print("faults", m_faults, "count");
    const bool passed =
        m_faults == 0 && m_datagrams > datagrams0 && m_commands > commands0 && growth < 5;
    std::printf("soak %s\n", passed ? "passed" : "FAILED");
    return passed ? 0 : 1;
}

int Bench::figures()
{
    const Setup setups[] = {{"wifi-alone", Rig::Wifi, {1, true, false}},
                            {"blue-alone", Rig::Blue, {1, false, true}},
                            {"serving", Rig::Both, {2, true, true}}};
    for (const Setup &setup : setups) {
        if (m_options.wants("rates") || (m_options.wants("cpu") && setup.windows == Rig::Both))
            serving(setup);
    }
    if (m_options.wants("cpu"))
        idle();
    if (m_options.wants("latency"))
        latency();
    if (m_options.wants("memory"))
        soak(m_options.standing, false);
    if (m_options.wants("relay"))
        relay();
    // Whether a screen reader could follow the windows: Qt joined the AT-SPI bus.
    bool accessible = false;
    onGuiThread([&accessible] { accessible = QAccessible::isActive(); });
    print("accessibility", accessible, "on");
    print("faults", m_faults, "count");
    return m_faults == 0 ? 0 : 1;
}
} // namespace

int main(int argc, char *argv[])
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const auto option = [&](const char *name, const char *help, const char *fallback) {
        parser.addOption({QString::fromLatin1(name), QString::fromLatin1(help), QStringLiteral("n"),
                          QString::fromLatin1(fallback)});
    };
    option("runs", "Runs per rate and CPU figure (medians).", "5");
    option("seconds", "Seconds per run.", "2");
    option("trials", "Latency trials of the windows, and as many of the floor.", "400");
    option("pause", "Mean µs between the other name appearing and the renaming program's start.",
           "2000");
    option("standing", "Seconds of the standing request for memory.", "30");
    option("soak", "Only serve a standing request for this many seconds.", "0");
    parser.addOption({QStringLiteral("only"),
                      QStringLiteral("Figures to measure: rates, cpu, latency, memory, relay."),
                      QStringLiteral("list")});
    parser.process(app);
    const auto number = [&](const char *name) {
        return parser.value(QString::fromLatin1(name)).toInt();
    };
    const QString only = parser.value(QStringLiteral("only"));
    const Options options{number("runs"),     number("seconds"),
                          number("trials"),   number("pause"),
                          number("standing"), only.isEmpty() ? QStringList() : only.split(u',')};

    Rig rig;
    Bench bench(rig, options);
    std::printf("# platform %s, Qt %s\n", qUtf8Printable(QApplication::platformName()), qVersion());
    int result = 0;
    std::thread driver([&] {
        pthread_setname_np(pthread_self(), "driver");
        result = number("soak") > 0 ? bench.soak(number("soak"), true) : bench.figures();
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::exec();
    driver.join();
    return result;
}
