#include "listeneroptions.h"

#include "optiontable.h"
#include "udptransport.h"

#include <QHostInfo>

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
} // namespace

OptionTable<ListenerOptions> listenerOptionTable()
{
    using Row = Option<ListenerOptions>;
    return OptionTable<ListenerOptions>(
        QStringLiteral("morvane-listener"), QString::fromUtf8(About), QString::fromUtf8(Notes),
        {Row(u"udp"_qs, u"端口"_qs, u"PORT"_qs)
             .letter(u'u')
             .help(u"在这个 UDP 端口上接收；与服务器在同一台机器上时共用该端口"_qs,
                   u"receive on this UDP port, sharing it with a server on the same machine"_qs)
             .to(&ListenerOptions::udp, port)
             .lastWins(),
         Row(u"address"_qs, u"地址"_qs, u"ADDRESS"_qs)
             .letter(u'a')
             .help(u"UDP 接收所用的本机地址"_qs, u"the local address to receive UDP on"_qs)
             .byDefault(u"127.0.0.1"_qs)
             .to(&ListenerOptions::address, address)
             .needs(u"udp"_qs),
         Row(u"serial"_qs, u"设备"_qs, u"DEVICE"_qs)
             .letter(u's')
             .help(u"从串口设备读取，9600 波特，8 位数据，无校验，1 位停止位"_qs,
                   u"read a serial line at 9600 baud 8N1"_qs)
             .to(&ListenerOptions::serial)
             .lastWins()});
}
