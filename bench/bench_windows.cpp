// Runs the real wifi and blue windows (real 1 ms timers, UdpTransport to a listener on loopback,
// SerialTransport to a pseudo-terminal) and prints each figure against its target: CPU over a
// standing request, poll rates and latency beside two busy loops at nice 10, idle cost, memory,
// and the longest stall of the windows' thread while the Wi-Fi setup looks up a host name whose
// name server never answers. Every configuration (the offscreen and the xcb platform, each with
// accessibility off and on) is measured by a run of this program of its own; xcb runs get an Xvfb
// of their own, and the stall is measured in a mount namespace whose resolv.conf names a silent
// name server. With --soak it runs only a standing request and fails when anything arrives torn,
// merged or not at all.
#include "facilities.h"
#include "measure.h"
#include "polltimer.h"
#include "rig.h"
#include "runner.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <thread>

namespace {
void addOptions(QCommandLineParser &options)
{
    options.addHelpOption();
    options.addOptions({
        {QStringLiteral("platform"), QStringLiteral("offscreen, xcb or all."),
         QStringLiteral("name"), QStringLiteral("all")},
        {QStringLiteral("accessibility"), QStringLiteral("off, on or all."),
         QStringLiteral("state"), QStringLiteral("all")},
        {QStringLiteral("runs"), QStringLiteral("Runs per figure."), QStringLiteral("n"),
         QStringLiteral("5")},
        {QStringLiteral("seconds"), QStringLiteral("Seconds per rate or CPU run."),
         QStringLiteral("s"), QStringLiteral("3")},
        {QStringLiteral("trials"), QStringLiteral("Latency trials per run."), QStringLiteral("n"),
         QStringLiteral("200")},
        {QStringLiteral("standing"), QStringLiteral("Seconds of the standing request for memory."),
         QStringLiteral("s"), QStringLiteral("30")},
        {QStringLiteral("setups"), QStringLiteral("Wi-Fi setups timed for the stall."),
         QStringLiteral("n"), QStringLiteral("3")},
        {QStringLiteral("host"), QStringLiteral("Host name given to the Wi-Fi setup."),
         QStringLiteral("name"), QStringLiteral("kuehlschrank.example.")},
        {QStringLiteral("soak"), QStringLiteral("Only soak for this many seconds."),
         QStringLiteral("s")},
        {QStringLiteral("child"),
         QStringLiteral("Measure one configuration: figures, stall, soak."),
         QStringLiteral("what")},
    });
}

void report(const char *key, double value)
{
    std::printf("%s\n", figureLine(key, value).constData());
}

struct Rig {
    const QCommandLineParser &options;
    QString directory;
    FarSide &far;
    Producer &producer;
    int number(const char *name) const { return options.value(QString::fromLatin1(name)).toInt(); }
};

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

// The share of one core the windows' side used over `seconds`, and its cost per cycle in µs.
std::pair<double, double> measureCpu(Windows &windows, FarSide &far, int seconds)
{
    const double cpu0 = serverCpuSeconds(far);
    const qint64 cycles0 = windows.udpCycles + windows.serialCycles, wall0 = nowNs();
    sleepMs(seconds * 1000);
    const double cpu = serverCpuSeconds(far) - cpu0;
    const qint64 cycles = windows.udpCycles + windows.serialCycles - cycles0;
    return {cpu / ((nowNs() - wall0) / 1e9), cycles > 0 ? cpu * 1e6 / cycles : 0};
}

void measureCpuFigures(const Rig &rig)
{
    const int runs = rig.number("runs"), seconds = rig.number("seconds");
    rig.producer.makeAppear();
    std::vector<double> floors;
    for (int run = 0; run < runs; ++run)
        floors.push_back(100 * bareCycleShare(QFile::encodeName(rig.directory), rig.far.port(),
                                              QFile::encodeName(rig.far.serialDevice()), seconds));
    std::printf("the same system calls alone, in a bare loop: %.2f%% of one core\n",
                median(floors));
    report("cpu-floor", median(floors));

    Windows windows;
    openWindows(windows, rig.directory, rig.far, true, true);
    sleepMs(1000);
    std::vector<double> shares, perCycle;
    const qint64 events0 = accessibilityEvents(), paints0 = windows.logPaints, start = nowNs();
    for (int run = 0; run < runs; ++run) {
        const auto [share, cost] = measureCpu(windows, rig.far, seconds);
        shares.push_back(share * 100);
        perCycle.push_back(cost);
    }
    const double elapsed = (nowNs() - start) / 1e9;
    std::printf("standing request, both windows, no load: %.2f%% of one core, %.1f µs per cycle "
                "(of either window); the wifi log painted %.0f times/s; %.0f accessibility "
                "events/s\n",
                median(shares), median(perCycle), (windows.logPaints - paints0) / elapsed,
                (accessibilityEvents() - events0) / elapsed);
    report("cpu-standing", median(shares));

    QFile::remove(rig.directory + QStringLiteral("/api.txt"));
    sleepMs(500);
    shares.clear();
    for (int run = 0; run < runs; ++run)
        shares.push_back(measureCpu(windows, rig.far, seconds).first * 100);
    std::printf("idle, both windows polling, no api.txt: %.2f%% of one core\n", median(shares));
    report("cpu-idle", median(shares));
    closeWindows(windows);
}

void measureRateFigures(const Rig &rig)
{
    struct Setup {
        const char *name, *udpKey, *serialKey;
        bool udp, serial;
    };
    rig.producer.makeAppear();
    for (const Setup setup :
         {Setup{"wifi alone", "rate-wifi-alone", nullptr, true, false},
          Setup{"blue alone", nullptr, "rate-blue-alone", false, true},
          Setup{"both at once", "rate-both-wifi", "rate-both-blue", true, true}}) {
        Windows windows;
        openWindows(windows, rig.directory, rig.far, setup.udp, setup.serial);
        sleepMs(500);
        std::vector<double> udp, serial, datagrams, commands;
        for (int run = 0; run < rig.number("runs"); ++run) {
            const Rates rates = measureRates(windows, rig.far, rig.number("seconds"));
            udp.push_back(rates.udpCycles);
            serial.push_back(rates.serialCycles);
            datagrams.push_back(rates.datagrams);
            commands.push_back(rates.serialCommands);
        }
        closeWindows(windows);
        std::printf("poll rate, %-13s wifi %7.1f cycles/s, blue %7.1f cycles/s; received %7.1f "
                    "datagrams/s, %7.1f serial commands/s\n",
                    setup.name, median(udp), median(serial), median(datagrams), median(commands));
        if (setup.udpKey)
            report(setup.udpKey, median(udp));
        if (setup.serialKey)
            report(setup.serialKey, median(serial));
    }
}

void measureLatencyFigure(const Rig &rig)
{
    Windows windows;
    openWindows(windows, rig.directory, rig.far, true, true);
    std::vector<double> p50s, p99s, maxima;
    rig.far.longestReadDelay = 0;
    for (int run = 0; run < rig.number("runs"); ++run) {
        std::vector<double> latencies;
        for (int trial = 0; trial < rig.number("trials"); ++trial) {
            QFile::remove(rig.directory + QStringLiteral("/api.txt"));
            do
                sleepMs(10);
            while (nowNs() - rig.far.lastDatagramAt < 10000000 || rig.far.hasUnread());
            rig.far.armed = true;
            const qint64 appeared = rig.producer.makeAppear();
            while (rig.far.armed)
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            latencies.push_back((rig.far.armedArrival - appeared) / 1e6);
        }
        p50s.push_back(percentile(latencies, 0.5));
        p99s.push_back(percentile(latencies, 0.99));
        maxima.push_back(percentile(latencies, 1.0));
    }
    closeWindows(windows);
    std::printf("latency, api.txt appearing to first datagram, %d trials a run: p50 %.3f ms, p99 "
                "%.3f ms (runs from %.3f to %.3f), max %.3f ms; the far side read datagrams up to "
                "%.1f ms after they arrived\n",
                rig.number("trials"), median(p50s), median(p99s), percentile(p99s, 0),
                percentile(p99s, 1), median(maxima), rig.far.longestReadDelay / 1e6);
    report("latency-p99", median(p99s));
}

void measureMemoryFigure(const Rig &rig)
{
    const int standing = rig.number("standing");
    Windows windows;
    openWindows(windows, rig.directory, rig.far, true, true);
    rig.producer.makeAppear();
    const long atStart = residentKiB();
    sleepMs(10000);
    const long after10 = residentKiB();
    std::vector<double> perSecond;
    for (int second = 10; second < standing; ++second)
        perSecond.push_back(measureRates(windows, rig.far, 1).udpCycles);
    const long atEnd = residentKiB();
    closeWindows(windows);
    std::printf("memory, standing request of %d s: resident %.1f MB at start, %.1f MB after 10 s, "
                "%.1f MB at the end\n",
                standing, atStart / 1024.0, after10 / 1024.0, atEnd / 1024.0);
    if (!perSecond.empty())
        std::printf("wifi cycles per second during it: min %.0f, median %.0f, max %.0f\n",
                    percentile(perSecond, 0), median(perSecond), percentile(perSecond, 1.0));
    report("memory-growth", (atEnd - after10) / 1024.0);
}

int figures(const Rig &rig)
{
    measureCpuFigures(rig);
    {
        const Hogs hogs(2, 10);
        std::printf("two busy loops at nice 10 running for the rates and the latency\n");
        measureRateFigures(rig);
        measureLatencyFigure(rig);
    }
    measureMemoryFigure(rig);
    report("faults", double(rig.far.faults));
    return rig.far.faults == 0 ? 0 : 1;
}

// One Wi-Fi setup, clicked as a user would while the windows' thread keeps beating; its state is
// read on the windows' thread and left for the driving thread to poll, so that waiting for the
// end stays bounded however long the thread is held.
struct WifiSetup {
    QPointer<wifi> window;
    InputBoxFunction previousInputBox;
    std::atomic<bool> clickReturned{false}, finished{false};
    std::atomic<qint64> finishedAt{0};
    QString lastLine;
};

// Over once the log holds the last line of a setup, or "开始安装" can be clicked again; lines
// that polling adds after a successful setup may follow the last one.
bool setupIsOver(wifi *window, bool clickReturned, QString *lastLine)
{
    const auto *log = window->findChild<QListWidget *>(QStringLiteral("serverlog"));
    QList<QListWidgetItem *> last =
        log->findItems(QStringLiteral("服务启动完毕"), Qt::MatchEndsWith);
    last += log->findItems(QStringLiteral("找不到客户端"), Qt::MatchStartsWith);
    *lastLine = !last.isEmpty() ? last.first()->text()
                : log->count()  ? log->item(log->count() - 1)->text()
                                : QString();
    return clickReturned &&
           (!last.isEmpty() || window->findChild<QPushButton *>(QStringLiteral("s"))->isEnabled());
}

int stall(const Rig &rig)
{
    Windows windows;
    rig.producer.makeAppear();
    openWindows(windows, rig.directory, rig.far, false, true);
    GapMeter heartbeat, blueCycles;
    onGuiThread([&] {
        auto *beat = new PollTimer(windows.serial);
        QObject::connect(beat, &PollTimer::timeout, [&] { heartbeat.beat(nowNs()); });
        beat->start();
        QObject::connect(windows.serial->findChild<PollTimer *>(QStringLiteral("Timer1")),
                         &PollTimer::timeout, [&] { blueCycles.beat(nowNs()); });
    });
    sleepMs(500);
    onGuiThread([&] { heartbeat.reset(nowNs()); });
    sleepMs(2000);
    double baseline = 0;
    onGuiThread([&] { baseline = heartbeat.longestMs(); });
    std::printf("longest gap of the windows' thread with blue serving alone, over 2 s: %.2f ms\n",
                baseline);

    const QString host = rig.options.value(QStringLiteral("host"));
    std::vector<double> gaps, floors;
    for (int run = 0; run < rig.number("setups"); ++run) {
        const auto setup = std::make_shared<WifiSetup>();
        const QString port = QString::number(freeUdpPort());
        // The window is open and drawn before the setup is timed: opening a window is not part
        // of its setup.
        onGuiThread([&] {
            setup->window = new wifi(rig.directory);
            setup->window->show();
        });
        sleepMs(300);
        const auto floor = std::make_unique<BareBeat>();
        const qint64 clicked = nowNs();
        QMetaObject::invokeMethod(qApp, [&, setup] {
            heartbeat.reset(nowNs());
            blueCycles.reset(nowNs());
            setup->previousInputBox = replaceInputBox([=](QWidget *, const QString &prompt) {
                return prompt.contains(u"端口") ? port : host;
            });
            setup->window->findChild<QPushButton *>(QStringLiteral("s"))->click();
            setup->clickReturned = true;
        });
        while (!setup->finished && nowNs() - clicked < 15000000000LL) {
            sleepMs(20);
            QMetaObject::invokeMethod(qApp, [setup] {
                if (setup->window && !setup->finished &&
                    setupIsOver(setup->window, setup->clickReturned, &setup->lastLine)) {
                    setup->finishedAt = nowNs();
                    setup->finished = true;
                }
            });
        }
        sleepMs(100);
        double gap = 0, blueGap = 0;
        onGuiThread([&] {
            gap = heartbeat.longestMs();
            blueGap = blueCycles.longestMs();
            replaceInputBox(setup->previousInputBox);
            delete setup->window;
        });
        gaps.push_back(gap);
        floors.push_back(floor->longestMs());
        if (setup->finished)
            std::printf("setup %d: longest gap of the windows' thread %.1f ms (between blue's "
                        "cycles %.1f ms; of a bare loop beside them %.1f ms); over after %.2f s "
                        "with \"%s\"\n",
                        run + 1, gap, blueGap, floors.back(), (setup->finishedAt - clicked) / 1e9,
                        qUtf8Printable(setup->lastLine));
        else
            std::printf("setup %d: longest gap of the windows' thread %.1f ms; not over within "
                        "15 s (last line \"%s\")\n",
                        run + 1, gap, qUtf8Printable(setup->lastLine));
    }
    closeWindows(windows);
    report("stall", median(gaps));
    report("stall-floor", median(floors));
    return 0;
}

int soak(const Rig &rig)
{
    const int seconds = rig.options.value(QStringLiteral("soak")).toInt();
    Windows windows;
    openWindows(windows, rig.directory, rig.far, true, true);
    rig.producer.makeAppear();
    sleepMs(10000);
    const long after10 = residentKiB();
    const qint64 datagrams0 = rig.far.datagrams, commands0 = rig.far.serialCommands;
    const qint64 cycles0 = windows.udpCycles + windows.serialCycles;
    const double cpu0 = serverCpuSeconds(rig.far);
    for (int left = seconds - 10; left > 0; left -= 10)
        sleepMs(std::min(left, 10) * 1000);
    const double cpu = serverCpuSeconds(rig.far) - cpu0;
    const long atEnd = residentKiB();
    const qint64 datagrams = rig.far.datagrams - datagrams0;
    const qint64 commands = rig.far.serialCommands - commands0;
    const qint64 cycles = windows.udpCycles + windows.serialCycles - cycles0;
    closeWindows(windows);
    sleepMs(200);

    const double growth = (atEnd - after10) / 1024.0;
    std::printf("soak of %d s: %lld cycles, %lld datagrams and %lld serial commands received, "
                "%lld faulty; resident %.1f MB after 10 s, %.1f MB at the end\n",
                seconds, cycles, datagrams, commands, qint64(rig.far.faults), after10 / 1024.0,
                atEnd / 1024.0);
    if (cycles > 0 && seconds > 10)
        std::printf("windows' side after the first 10 s: %.2f%% of one core, %.1f µs per cycle\n",
                    cpu * 100 / (seconds - 10), cpu * 1e6 / cycles);
    // Every datagram and serial command must be whole, and both sides must have kept receiving.
    const bool intact = rig.far.faults == 0 && datagrams > 0 && commands > 0;
    const bool flat = growth < 5.0;
    std::printf("%s\n", intact && flat ? "soak passed" : "soak FAILED");
    return intact && flat ? 0 : 1;
}

int measureOneConfiguration(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser options;
    addOptions(options);
    options.parse(arguments);
    qputenv("QT_QPA_PLATFORM", options.value(QStringLiteral("platform")).toLatin1());
    QTemporaryDir directory;
    // Forked before Qt starts any thread.
    Producer producer(QFile::encodeName(directory.path()));

    QApplication app(argc, argv);
    if (options.value(QStringLiteral("accessibility")) == u"on" && !activateAccessibility()) {
        std::printf("accessibility could not be activated on this platform\n");
        return 1;
    }
    FarSide far;
    const Rig rig{options, directory.path(), far, producer};
    const QString what = options.value(QStringLiteral("child"));
    int result = 0;
    std::thread driver([&] {
        pthread_setname_np(pthread_self(), "driver");
        result = what == u"soak" ? soak(rig) : what == u"stall" ? stall(rig) : figures(rig);
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::exec();
    driver.join();
    std::fflush(stdout);
    return result;
}
} // namespace

int main(int argc, char *argv[])
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]).startsWith("--child"))
            return measureOneConfiguration(argc, argv);
    }
    QCoreApplication app(argc, argv);
    QCommandLineParser options;
    addOptions(options);
    options.process(app);
    return runConfigurations(options);
}
