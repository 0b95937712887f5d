#include "console.h"
#include "relay.h"
#include "relaylog.h"
#include "relayoptions.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // api.txt beside the program, as for the server; installed, that is a link to where requests
    // are written, and the relay reads and watches that file itself.
    const QFileInfo beside(QCoreApplication::applicationDirPath() + QStringLiteral("/api.txt"));
    const CommandLine commandLine = readCommandLine(
        app.arguments(), beside.isSymLink() ? beside.symLinkTarget() : beside.filePath());
    if (!commandLine.options) {
        writeText(commandLine.exitCode == Ended ? stdout : stderr, commandLine.text + u'\n');
        return commandLine.exitCode;
    }

    const QuitOnSignals quitOnSignals(app);
    RelayLog log(commandLine.options->quiet);
    Relay relay(*commandLine.options, log);
    if (!relay.start())
        return Failed;
    app.exec();
    // Leaving the broker takes a moment: its `offline`, then a clean goodbye.
    QEventLoop leaving;
    QObject::connect(&relay, &Relay::stopped, &leaving, &QEventLoop::quit);
    relay.stop();
    leaving.exec();
    log.event(QStringLiteral("已停止"));
    return Ended;
}
