#include "console.h"
#include "listener.h"
#include "optiontable.h"
#include "udptransport.h"

#include <QCoreApplication>
#include <QHostInfo>
#include <cstdio>

namespace {
const char About[] = R"(代替家电接收 Morvane智能硬件服务器端 发出的命令，每收到一条打印一行：
接收时间、来源（UDP 发送方的地址和端口，或串口设备）和命令。
不是命令的字节以十六进制打印，不会丢掉。按 Ctrl-C 结束。
Stands in for the appliances: prints each command received, with its time and where it came from.)";

const char Notes[] = R"(--udp 和 --serial 至少给一个，也可以同时给。
At least one of --udp and --serial; both may be given.

例如 Examples:
  morvane-listener --udp 8888
  morvane-listener --serial /dev/pts/3)";

Result<quint16> port(const QString &text)
{
    const std::optional<quint16> port = UdpTransport::portFrom(text);
    if (!port)
        return Failure(QStringLiteral("应为 1 到 65535 之间的整数"));
    return *port;
}

// A host name is taken as the server takes one: its first IPv4 address.
Result<QHostAddress> address(const QString &text)
{
    const QString name = UdpTransport::hostFrom(text);
    QHostAddress host(name);
    if (host.isNull())
        host =
            UdpTransport::firstIPv4(QHostInfo::fromName(name).addresses()).value_or(QHostAddress());
    if (host.isNull())
        return Failure(QStringLiteral("不是 IP 地址，也找不到这个主机名"));
    return host;
}

const OptionTable
    Options(QStringLiteral("morvane-listener"),
            {Option(u"udp"_qs, u"端口"_qs)
                 .letter(u'u')
                 .help(u"在这个 UDP 端口上接收；与服务器在同一台机器上时共用该端口"_qs,
                       u"receive on this UDP port, sharing it with a server on the same machine"_qs)
                 .check(port)
                 .lastWins(),
             Option(u"address"_qs, u"地址"_qs)
                 .letter(u'a')
                 .help(u"UDP 接收所用的本机地址，默认 127.0.0.1"_qs,
                       u"the local address to receive UDP on, 127.0.0.1 unless given"_qs)
                 .check(address)
                 .needs(u"udp"_qs),
             Option(u"serial"_qs, u"设备"_qs)
                 .letter(u's')
                 .help(u"从串口设备读取，9600 波特，8 位数据，无校验，1 位停止位"_qs,
                       u"read a serial line at 9600 baud 8N1"_qs)
                 .lastWins()});

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

    const Result<OptionValues> given = Options.read(app.arguments());
    if (!given)
        return misused(given.error());
    if (given->has(u"help"_qs)) {
        writeText(stdout, Options.help(QString::fromUtf8(About), QString::fromUtf8(Notes)) + u'\n');
        return Ended;
    }
    if (!given->has(u"udp"_qs) && !given->has(u"serial"_qs))
        return misused(QStringLiteral("请用 --udp 给出端口，或用 --serial 给出串口设备"));

    Listener listener(stdout);

    if (given->has(u"udp"_qs)) {
        const auto port = given->value<quint16>(u"udp"_qs);
        const QHostAddress host =
            given->value(u"address"_qs, QHostAddress(QHostAddress::LocalHost));
        if (const Result<void> listening = listener.listenUdp(host, port); !listening) {
            tell(listening.error());
            return Failed;
        }
        tell(QStringLiteral("正在 %1 端口 %2 上接收 UDP 命令").arg(host.toString()).arg(port));
    }
    if (given->has(u"serial"_qs)) {
        const QString device = given->value<QString>(u"serial"_qs);
        if (const Result<void> opened = listener.openSerial(device); !opened) {
            tell(opened.error());
            return Failed;
        }
        tell(QStringLiteral("正在从串口 %1 读取命令（9600 8N1）").arg(device));
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
