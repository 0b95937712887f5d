#include "console.h"
#include "listener.h"
#include "listeneroptions.h"
#include "optiontable.h"

#include <QCoreApplication>
#include <cstdio>

namespace {
// Everything but the received commands goes to standard error, so that standard output can be
// piped on as it is.
void tell(const QString &line)
{
    writeText(stderr, line + u'\n');
}

int misused(const QString &why)
{
    tell(misuse(why));
    return Misused;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);

    const Result<Asked<ListenerOptions>> asked = listenerOptionTable().read(app.arguments());
    if (!asked)
        return misused(asked.error());
    if (!asked->options) {
        writeText(stdout, asked->answer + u'\n');
        return Ended;
    }
    const ListenerOptions &options = *asked->options;
    if (!options.udp && !options.serial)
        return misused(QStringLiteral("请用 --udp 给出端口，或用 --serial 给出串口设备"));

    Listener listener(stdout);

    if (options.udp) {
        if (const Result<void> listening = listener.listenUdp(options.address, *options.udp);
            !listening) {
            tell(listening.error());
            return Failed;
        }
        tell(QStringLiteral("正在 %1 端口 %2 上接收 UDP 命令")
                 .arg(options.address.toString())
                 .arg(*options.udp));
    }
    if (options.serial) {
        if (const Result<void> opened = listener.openSerial(*options.serial); !opened) {
            tell(opened.error());
            return Failed;
        }
        tell(QStringLiteral("正在从串口 %1 读取命令（9600 8N1）").arg(*options.serial));
    }

    // Ctrl-C and kill end the event loop instead of the process, so that whatever the serial line
    // left unfinished is still printed and the port is closed properly.
    const QuitOnSignals quitOnSignals(app);
    int code = Ended;
    QObject::connect(&listener, &Listener::serialLost, &app, [&](const QString &reason) {
        tell(reason);
        code = Failed;
        app.quit();
    });
    tell(QStringLiteral("按 Ctrl-C 结束。"));
    app.exec();
    listener.finish();
    return code;
}
