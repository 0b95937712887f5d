#include "console.h"
#include "relay.h"
#include "relaylog.h"
#include "relayoptions.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const CommandLine commandLine = readCommandLine(
        app.arguments(), QCoreApplication::applicationDirPath() + QStringLiteral("/api.txt"));
    if (!commandLine.options) {
        writeText(commandLine.exitCode == CommandLine::Ended ? stdout : stderr,
                  commandLine.text + u'\n');
        return commandLine.exitCode;
    }

    const QuitOnSignals quitOnSignals(app);
    RelayLog log(commandLine.options->quiet);
    Relay relay(*commandLine.options, log);
    if (!relay.start())
        return CommandLine::Failed;
    app.exec();
    log.event(QStringLiteral("已停止"));
    return CommandLine::Ended;
}
