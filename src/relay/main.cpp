#include "console.h"
#include "relay.h"
#include "relaylog.h"
#include "relayoptions.h"
#include "service.h"
#include "supervisor.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>

namespace {
int relayMain(int argc, char *argv[])
{
    // The relay waits on sockets and timers only: Qt's own event loop wakes for them with less
    // work than GLib's, a thirtieth of a millisecond off every request's way out.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    // api.txt beside the program, as for the server; installed, that is a link to where requests
    // are written, and the relay reads and watches that file itself.
    const QFileInfo beside(QCoreApplication::applicationDirPath() + QStringLiteral("/api.txt"));
    const QString requestFile =
        Service::requestFile(beside.isSymLink() ? beside.symLinkTarget() : beside.filePath());
    const CommandLine commandLine = readCommandLine(app.arguments(), requestFile);
    if (commandLine.reloadOf) {
        const Result<void> reloaded = Supervisor::askToReload(commandLine.reloadOf);
        if (!reloaded)
            writeText(stderr, reloaded.error() + u'\n');
        return reloaded ? Ended : Failed;
    }
    if (!commandLine.service.isEmpty()) {
        const Result<QString> done = Service::act(commandLine.service, commandLine.settingsFile);
        writeText(done ? stdout : stderr, (done ? *done : done.error()) + u'\n');
        return done ? Ended : Failed;
    }
    if (!commandLine.options) {
        Service::print(commandLine.exitCode == Ended ? stdout : stderr, commandLine.text + u'\n');
        return commandLine.exitCode;
    }

    QuitOnSignals quitOnSignals(app);
    RelayLog log(commandLine.options->quiet, Service::logWriter());
    Relay relay(*commandLine.options, log);
    Supervisor supervisor;
    QObject::connect(&relay, &Relay::serving, &supervisor, [&] { supervisor.ready(); });
    QObject::connect(&relay, &Relay::statusChanged, &supervisor, &Supervisor::status);
    // The command line is read again with the settings file; what it gives still wins.
    const auto reload = [&] {
        supervisor.reloading();
        const Result<RelayOptions> options = rereadCommandLine(app.arguments(), requestFile);
        const Result<void> reloaded = options ? relay.reload(*options) : Failure(options.error());
        if (!reloaded)
            log.failure(QStringLiteral("设置未重新读取，仍按原来的运行：%1").arg(reloaded.error()));
        supervisor.ready(bool(reloaded));
    };
    QObject::connect(&quitOnSignals, &QuitOnSignals::reloadAsked, &relay, reload);
    QObject::connect(&supervisor, &Supervisor::reloadAsked, &relay, reload);
    QObject::connect(&supervisor, &Supervisor::stopAsked, &app, &QCoreApplication::quit);
    // Before the start, so that a hang-up while it starts waits for the loop instead of ending it.
    quitOnSignals.reloadOnHangUp();
    if (!relay.start())
        return Failed;
    app.exec();
    supervisor.stopping();
    // Leaving the broker takes a moment: its `offline`, then a clean goodbye.
    QEventLoop leaving;
    QObject::connect(&relay, &Relay::stopped, &leaving, &QEventLoop::quit);
    relay.stop();
    leaving.exec();
    log.event(QStringLiteral("已停止"));
    return Ended;
}
} // namespace

int main(int argc, char *argv[])
{
    return Service::run(argc, argv, relayMain);
}
