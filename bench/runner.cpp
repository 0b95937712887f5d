#include "runner.h"

#include "measure.h"

#include <QCoreApplication>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QThread>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {
struct Figure {
    const char *key, *label, *unit;
    int decimals;
    Target target;
};

const Figure Figures[] = {
    {"cpu-standing", "CPU, both windows serving a standing request", "%", 2, {Target::AtMost, 5}},
    {"cpu-floor", "  the same system calls alone, in a bare loop", "%", 2, {Target::None, 0}},
    {"rate-wifi-alone", "cycles/s, wifi alone, 2 hogs at nice 10", "", 1, {Target::AtLeast, 950}},
    {"rate-blue-alone", "cycles/s, blue alone, 2 hogs at nice 10", "", 1, {Target::AtLeast, 950}},
    {"rate-both-wifi", "cycles/s, both at once: wifi, 2 hogs", "", 1, {Target::AtLeast, 950}},
    {"rate-both-blue", "cycles/s, both at once: blue, 2 hogs", "", 1, {Target::AtLeast, 950}},
    {"latency-p99",
     "api.txt appearing to first datagram, p99, 2 hogs",
     " ms",
     2,
     {Target::AtMost, 3}},
    {"cpu-idle", "idle, both windows polling, no api.txt", "%", 2, {Target::AtMost, 1}},
    {"stall", "longest GUI stall, Wi-Fi setup, silent DNS", " ms", 1, {Target::AtMost, 5}},
    {"stall-floor", "  a bare 1 ms loop's longest gap meanwhile", " ms", 1, {Target::None, 0}},
    {"memory-growth",
     "resident growth, standing request, after 10 s",
     " MB",
     2,
     {Target::AtMost, 5}},
    {"faults", "far-side faults (torn, merged, wrong bytes)", "", 0, {Target::AtMost, 0}},
};

struct Configuration {
    QString platform;
    bool accessible;
    QString name() const { return platform + (accessible ? QStringLiteral("+a11y") : QString()); }
    QStringList arguments() const
    {
        return {QStringLiteral("--platform"), platform, QStringLiteral("--accessibility"),
                accessible ? QStringLiteral("on") : QStringLiteral("off")};
    }
};

using Results = QMap<QByteArray, double>;

QList<Configuration> configurationsOf(const QCommandLineParser &options)
{
    const QString platform = options.value(QStringLiteral("platform"));
    const QString accessibility = options.value(QStringLiteral("accessibility"));
    QList<Configuration> configurations;
    for (const QString &name : {QStringLiteral("offscreen"), QStringLiteral("xcb")}) {
        for (const bool accessible : {false, true}) {
            if ((platform == u"all" || platform == name) &&
                (accessibility == u"all" || (accessibility == u"on") == accessible))
                configurations.append({name, accessible});
        }
    }
    return configurations;
}

// Runs this program or a wrapper around it; figure lines go into `results`, everything else is
// passed on, indented.
int runChild(const QString &program, const QStringList &arguments,
             const QProcessEnvironment &environment, Results &results)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForStarted())
        return -1;
    const auto take = [&](const QByteArray &line) {
        QByteArray key;
        double value;
        if (parseFigureLine(line, &key, &value))
            results.insert(key, value);
        else if (!line.trimmed().isEmpty())
            std::printf("    %s\n", line.trimmed().constData());
    };
    while (process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(1000);
        while (process.canReadLine())
            take(process.readLine());
    }
    for (const QByteArray &line : process.readAll().split('\n'))
        take(line);
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QString stallSkipReason()
{
    if (geteuid() != 0)
        return QStringLiteral("not root, and a mount namespace for resolv.conf needs root");
    if (QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty())
        return QStringLiteral("unshare not found (Debian package util-linux)");
    if (!QFile::exists(QStringLiteral("/etc/resolv.conf")))
        return QStringLiteral("there is no /etc/resolv.conf to cover");
    QProcess probe;
    probe.start(QStringLiteral("unshare"), {QStringLiteral("--mount"), QStringLiteral("true")});
    if (!probe.waitForFinished() || probe.exitCode() != 0)
        return QStringLiteral("unshare --mount failed: ") +
               QString::fromLocal8Bit(probe.readAllStandardError().trimmed());
    return {};
}

// The stall is measured where /etc/resolv.conf names only a name server that never answers.
void runStall(const QString &program, const QStringList &arguments,
              const QProcessEnvironment &environment, Results &results)
{
    const QString reason = stallSkipReason();
    SilentNameServer nameServer;
    QTemporaryFile resolvConf;
    if (!reason.isEmpty() || !nameServer.isListening() || !resolvConf.open() ||
        resolvConf.write(nameServer.resolvConf()) < 0 || !resolvConf.flush()) {
        std::printf("    stall not measured: %s\n",
                    reason.isEmpty() ? "no UDP port 53 free on loopback for a silent name server"
                                     : qUtf8Printable(reason));
        return;
    }
    std::printf("    stall: resolv.conf names only %s, which never answers\n",
                nameServer.address().constData());
    runChild(QStringLiteral("unshare"),
             QStringList{QStringLiteral("--mount"), QStringLiteral("--propagation"),
                         QStringLiteral("private"), QStringLiteral("sh"), QStringLiteral("-c"),
                         QStringLiteral("mount --bind \"$0\" /etc/resolv.conf && exec \"$@\""),
                         resolvConf.fileName(), program} +
                 arguments,
             environment, results);
    const int queries = nameServer.takeQueries();
    std::printf("    the silent name server received %d queries%s\n", queries,
                queries ? "" : ": the name never reached it, so no lookup was waited for");
}

QString cell(const Figure &figure, const Results &results)
{
    if (!results.contains(figure.key))
        return QStringLiteral("-");
    const double value = results.value(figure.key);
    const QString shown =
        QString::number(value, 'f', figure.decimals) + QString::fromUtf8(figure.unit);
    if (figure.target.kind == Target::None)
        return shown;
    return shown +
           (figure.target.isMetBy(value) ? QStringLiteral(" PASS") : QStringLiteral(" FAIL"));
}

void printTable(const QList<Configuration> &configurations, const QMap<QString, Results> &results)
{
    QString heading = QStringLiteral("figure (medians of the runs)").leftJustified(50) +
                      QStringLiteral("target").leftJustified(10);
    for (const Configuration &configuration : configurations)
        heading += configuration.name().leftJustified(17);
    std::printf("\n%s\n", qUtf8Printable(heading.trimmed()));
    for (const Figure &figure : Figures) {
        QString line = QString::fromLatin1(figure.label).leftJustified(50) +
                       figure.target.text(figure.unit).leftJustified(10);
        for (const Configuration &configuration : configurations)
            line += cell(figure, results.value(configuration.name())).leftJustified(17);
        std::printf("%s\n", qUtf8Printable(line.trimmed()));
    }
    std::printf("(- : not measured, see above)\n");
}
} // namespace

int runConfigurations(const QCommandLineParser &options)
{
    const QString program = QCoreApplication::applicationFilePath();
    const QList<Configuration> configurations = configurationsOf(options);
    QStringList passedOn;
    for (const QString &name : options.optionNames()) {
        if (name != u"platform" && name != u"accessibility")
            passedOn << QStringLiteral("--") + name << options.value(name);
    }
    const auto child = [&](const char *what, const Configuration &configuration) {
        return QStringList{QStringLiteral("--child"), QString::fromLatin1(what)} +
               configuration.arguments() + passedOn;
    };
    std::printf("machine: %d cores, load average %s before the run; Qt %s\n",
                QThread::idealThreadCount(), loadAverage().constData(), qVersion());

    QTemporaryDir runtime;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    std::unique_ptr<Xvfb> xvfb;
    QMap<QString, Results> results;
    int failures = 0;
    for (const Configuration &configuration : configurations) {
        std::printf("\n%s, accessibility %s (load average %s):\n",
                    qUtf8Printable(configuration.platform), configuration.accessible ? "on" : "off",
                    loadAverage().constData());
        if (configuration.platform == u"xcb") {
            if (!xvfb)
                xvfb = std::make_unique<Xvfb>();
            if (xvfb->display().isEmpty()) {
                std::printf("    not measured: Xvfb could not be started (Debian package xvfb)\n");
                ++failures;
                continue;
            }
            environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(xvfb->display()));
        }
        Results &measured = results[configuration.name()];
        if (options.isSet(QStringLiteral("soak")))
            return runChild(program, child("soak", configuration), environment, measured);
        if (runChild(program, child("figures", configuration), environment, measured) != 0)
            ++failures;
        runStall(program, child("stall", configuration), environment, measured);
    }
    printTable(configurations, results);
    std::printf("load average %s after the run\n", loadAverage().constData());
    return failures == 0 ? 0 : 1;
}
