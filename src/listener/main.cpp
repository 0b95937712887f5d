#include "console.h"
#include "listener.h"
#include "udptransport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostInfo>
#include <cstdio>

namespace {
enum ExitCode { Ended = 0, Failed = 1, Misused = 2 };

const char Help[] = R"(用法：morvane-listener [选项]

代替家电接收 Morvane智能硬件服务器端 发出的命令，每收到一条打印一行：
接收时间、来源（UDP 发送方的地址和端口，或串口设备）和命令。
不是命令的字节以十六进制打印，不会丢掉。按 Ctrl-C 结束。

选项：
  -u, --udp <端口>      在这个 UDP 端口上接收；与服务器在同一台机器上时共用该端口
  -a, --address <地址>  UDP 接收所用的本机地址，默认 127.0.0.1
  -s, --serial <设备>   从串口设备读取，9600 波特，8 位数据，无校验，1 位停止位
  -h, --help            显示本说明

--udp 和 --serial 至少给一个，也可以同时给。

例如：
  morvane-listener --udp 8888
  morvane-listener --serial /dev/pts/3
)";

// Everything but the received commands goes to standard error, so that standard output can be
// piped on as it is.
void tell(const QString &line)
{
    writeText(stderr, line + u'\n');
}

int misused(const QString &why)
{
    tell(why + QStringLiteral("\n请用 --help 查看用法。"));
    return Misused;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);

    QCommandLineParser parser;
    const QCommandLineOption udp(QStringList{QStringLiteral("u"), QStringLiteral("udp")}, {},
                                 QStringLiteral("端口"));
    const QCommandLineOption address(QStringList{QStringLiteral("a"), QStringLiteral("address")},
                                     {}, QStringLiteral("地址"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption serial(QStringList{QStringLiteral("s"), QStringLiteral("serial")}, {},
                                    QStringLiteral("设备"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOptions({udp, address, serial, help});

    if (!parser.parse(app.arguments())) {
        if (parser.unknownOptionNames().isEmpty())
            return misused(QStringLiteral("选项缺少值，例如 --udp 8888。"));
        QStringList unknown;
        for (const QString &name : parser.unknownOptionNames())
            unknown << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
        return misused(QStringLiteral("未知选项：%1").arg(unknown.join(QStringLiteral("、"))));
    }
    if (parser.isSet(help)) {
        writeText(stdout, QString::fromUtf8(Help));
        return Ended;
    }
    if (!parser.positionalArguments().isEmpty())
        return misused(
            QStringLiteral("多余的参数：%1").arg(parser.positionalArguments().join(u' ')));
    if (!parser.isSet(udp) && !parser.isSet(serial))
        return misused(QStringLiteral("请用 --udp 给出端口，或用 --serial 给出串口设备。"));

    Listener listener(stdout);

    if (parser.isSet(udp)) {
        const std::optional<quint16> port = UdpTransport::portFrom(parser.value(udp));
        if (!port)
            return misused(QStringLiteral("端口无效：%1（应为 1 到 65535 之间的整数）")
                               .arg(parser.value(udp)));
        // A host name is taken as the server takes one: its first IPv4 address.
        const QString name = UdpTransport::hostFrom(parser.value(address));
        QHostAddress host(name);
        if (host.isNull())
            host = UdpTransport::firstIPv4(QHostInfo::fromName(name).addresses())
                       .value_or(QHostAddress());
        if (host.isNull())
            return misused(QStringLiteral("地址无效：%1").arg(parser.value(address)));
        if (!listener.listenUdp(host, *port)) {
            tell(listener.errorString());
            return Failed;
        }
        tell(QStringLiteral("正在 %1 端口 %2 上接收 UDP 命令").arg(host.toString()).arg(*port));
    } else if (parser.isSet(address)) {
        return misused(QStringLiteral("--address 只用于 --udp。"));
    }
    if (parser.isSet(serial)) {
        if (!listener.openSerial(parser.value(serial))) {
            tell(listener.errorString());
            return Failed;
        }
        tell(QStringLiteral("正在从串口 %1 读取命令（9600 8N1）").arg(parser.value(serial)));
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
