#include "wifi.h"

#include "facilities.h"
#include "polltimer.h"

#include <QHostInfo>
#include <QListWidget>
#include <QPushButton>
#include <QUdpSocket>
#include <optional>

namespace Table {
constexpr TwipsSize ClientArea{6900, 4830};
constexpr ControlRow serverlog{"serverlog", {360, 360, 4575, 4200}};
constexpr ControlRow s{"s", {5400, 360, 1215, 495}};
} // namespace Table

namespace {
// Replies typed with a Chinese input method may carry full-width digits and dots.
QString normalisedReply(const QString &reply)
{
    return reply.normalized(QString::NormalizationForm_KC).trimmed();
}

// Addresses are taken as they stand: only a host name goes to the resolver.
QHostInfo lookUp(const QString &host)
{
    QHostAddress address;
    if (!address.setAddress(host))
        return QHostInfo::fromName(host);
    QHostInfo info;
    info.setAddresses({address});
    return info;
}

std::optional<QHostAddress> firstIPv4(const QList<QHostAddress> &addresses)
{
    for (const QHostAddress &address : addresses) {
        bool isIPv4 = false;
        const quint32 ipv4 = address.toIPv4Address(&isIPv4);
        if (isIPv4)
            return QHostAddress(ipv4);
    }
    return std::nullopt;
}
} // namespace

wifi::wifi(const QString &directory, QWidget *parent)
    : QWidget(parent)
    , serverlog(new QListWidget(this))
    , s(new QPushButton(QStringLiteral("开始安装"), this))
    , jiance(new PollTimer(this))
    , Winsock1(new QUdpSocket(this))
    , m_transport(*Winsock1)
    , m_poller(directory, *this, m_transport, QStringLiteral("服务器发送成功"), jiance)
{
    setObjectName(QStringLiteral("wifi"));
    setWindowTitle(QStringLiteral("WiFi模式"));
    setWindowIcon(Icons::mode());
    resize(Table::ClientArea.pixels());
    place(serverlog, Table::serverlog, QStringLiteral("serverlog"));
    place(s, Table::s, s->text());
    jiance->setObjectName(QStringLiteral("jiance"));
    Winsock1->setObjectName(QStringLiteral("Winsock1"));
    setTabOrder(serverlog, s);

    // Every line has the same height; saying so spares the list measuring each one.
    serverlog->setUniformItemSizes(true);

    connect(s, &QPushButton::clicked, this, &wifi::setupSequence);
}

void wifi::report(const QString &line)
{
    if (serverlog->count() >= MaxLogLines)
        delete serverlog->takeItem(0);
    serverlog->addItem(line);
}

void wifi::setupSequence()
{
    s->setEnabled(false);
    report(QStringLiteral("正在配置服务器"));
    report(QStringLiteral("正在配置通讯协议"));
    // Winsock1 is a UDP socket from the start; there is no protocol to switch.
    report(QStringLiteral("正在配置端口"));

    const std::optional<quint16> port =
        UdpTransport::portFrom(inputBox(this, QStringLiteral("输入通讯端口（整数,最好大于1000")));
    if (!port) {
        abandonSetup(
            QStringLiteral("端口无效：请输入 1 到 65535 之间的整数，然后重新点击“开始安装”"));
        return;
    }
    // Binding now, not at the first send, shows a port that is taken before the user goes on.
    if (!m_transport.bind(*port)) {
        abandonSetup(QStringLiteral("端口 %1 无法使用（%2）：请换一个端口，然后重新点击“开始安装”")
                         .arg(*port)
                         .arg(m_transport.errorString()));
        return;
    }

    report(QStringLiteral("正在获取服务器IP地址"));
    report(QStringLiteral("正在获取客户端IP"));
    // A Chinese input method in Chinese punctuation mode types "。" for the dot.
    const QString host =
        normalisedReply(
            inputBox(this, QStringLiteral("输入客户端（比如电冰箱，电视机或者其他计算机之类的)的IP("
                                          "如果与服务器在同一IP可以输入127.0.0.1")))
            .replace(u'。', u'.');
    if (host.isEmpty()) {
        abandonSetup(QStringLiteral(
            "未输入客户端IP：请重新点击“开始安装”，输入客户端的IP地址（例如127.0.0.1）"));
        return;
    }
    // A host name is resolved once, here: the destination stays fixed while the window serves.
    const QHostInfo lookup = lookUp(host);
    if (lookup.error() != QHostInfo::NoError) {
        abandonSetup(
            QStringLiteral("找不到客户端“%1”：请检查IP地址或主机名，然后重新点击“开始安装”")
                .arg(host));
        return;
    }
    const std::optional<QHostAddress> destination = firstIPv4(lookup.addresses());
    if (!destination) {
        abandonSetup(
            QStringLiteral("客户端“%1”没有IPv4地址：请输入IPv4地址，然后重新点击“开始安装”")
                .arg(host));
        return;
    }
    m_transport.setDestination(*destination);

    report(QStringLiteral("服务器安装完成。如果有人对服务器下命令的话这里会提示的."));
    report(QStringLiteral("正在启动服务"));
    jiance->start();
    report(QStringLiteral("服务启动完毕"));
}

void wifi::abandonSetup(const QString &line)
{
    m_transport.release();
    report(line);
    s->setEnabled(true);
}
