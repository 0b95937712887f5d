#include "wifi.h"

#include "facilities.h"
#include "hostlookup.h"
#include "listbox.h"
#include "polltimer.h"

#include <QPushButton>
#include <QUdpSocket>
#include <optional>

namespace Table {
constexpr TwipsSize ClientArea{6900, 4830};
constexpr ControlRow serverlog{"serverlog", {360, 360, 4575, 4200}};
constexpr ControlRow s{"s", {5400, 360, 1215, 495}};
} // namespace Table

namespace {
QString badPortLine(const QString &reply)
{
    const QString typed = reply.trimmed();
    if (typed.isEmpty())
        return QStringLiteral(
            "端口无效：未输入端口，请重新点击“开始安装”，输入 1 到 65535 之间的整数");
    return QStringLiteral("端口无效：“%1”不是 1 到 65535 之间的整数，请改正后重新点击“开始安装”")
        .arg(typed);
}

QString unknownHostLine(const QString &host)
{
    return QStringLiteral("找不到客户端“%1”：请检查IP地址或主机名，然后重新点击“开始安装”")
        .arg(host);
}
} // namespace

wifi::wifi(const QString &directory, QWidget *parent)
    : QWidget(parent)
    , serverlog(new ListBox(MaxLogLines, this))
    , s(new QPushButton(QStringLiteral("开始安装"), this))
    , jiance(new PollTimer(this))
    , Winsock1(new QUdpSocket(this))
    , m_lookup(new HostLookup(this))
    , m_transport(*Winsock1)
    , m_poller(directory, m_transport, jiance)
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

    m_lookup->setTimeLimit(LookupMs);

    connect(&m_poller, &Poller::polled, this, &wifi::polled);
    connect(s, &QPushButton::clicked, this, &wifi::setupSequence);
    connect(m_lookup, &HostLookup::finished, this, &wifi::hostLookedUp);
}

void wifi::polled(const PollEvent &event)
{
    reportPoll(event, *this, QStringLiteral("服务器发送成功"));
}

void wifi::report(const QString &line)
{
    serverlog->appendSoon(line);
}

void wifi::log(const QString &line)
{
    serverlog->append(line);
}

void wifi::setupSequence()
{
    s->setEnabled(false);
    log(QStringLiteral("正在配置服务器"));
    log(QStringLiteral("正在配置通讯协议"));
    // Winsock1 is a UDP socket from the start; there is no protocol to switch.
    log(QStringLiteral("正在配置端口"));

    const QString portReply = inputBox(this, QStringLiteral("输入通讯端口（整数,最好大于1000"));
    const std::optional<quint16> port = UdpTransport::portFrom(portReply);
    if (!port) {
        abandonSetup(badPortLine(portReply));
        return;
    }
    // Binding now, not at the first send, shows a port that is taken before the user goes on.
    if (const Result<void> bound = m_transport.bind(*port); !bound) {
        abandonSetup(QStringLiteral("端口 %1 无法使用（%2）：请换一个端口，然后重新点击“开始安装”")
                         .arg(*port)
                         .arg(bound.error()));
        return;
    }

    log(QStringLiteral("正在获取服务器IP地址"));
    log(QStringLiteral("正在获取客户端IP"));
    m_host = UdpTransport::hostFrom(
        inputBox(this, QStringLiteral("输入客户端（比如电冰箱，电视机或者其他计算机之类的)的IP("
                                      "如果与服务器在同一IP可以输入127.0.0.1")));
    if (m_host.isEmpty()) {
        abandonSetup(QStringLiteral(
            "未输入客户端IP：请重新点击“开始安装”，输入客户端的IP地址（例如127.0.0.1）"));
        return;
    }
    QHostAddress address;
    if (address.setAddress(m_host)) {
        finishSetup({address});
        return;
    }
    // A host name is resolved once, here, and the destination stays fixed while the window
    // serves. The resolver may take long: the window waits for its answer with 开始安装 greyed,
    // and the other window goes on polling meanwhile.
    m_lookup->start(m_host);
}

void wifi::hostLookedUp(const QList<QHostAddress> &addresses)
{
    if (addresses.isEmpty()) {
        abandonSetup(unknownHostLine(m_host));
        return;
    }
    finishSetup(addresses);
}

void wifi::finishSetup(const QList<QHostAddress> &addresses)
{
    const std::optional<QHostAddress> destination = UdpTransport::firstIPv4(addresses);
    if (!destination) {
        abandonSetup(
            QStringLiteral("客户端“%1”没有IPv4地址：请输入IPv4地址，然后重新点击“开始安装”")
                .arg(m_host));
        return;
    }
    m_transport.setDestination(*destination);

    log(QStringLiteral("服务器安装完成。如果有人对服务器下命令的话这里会提示的."));
    log(QStringLiteral("正在启动服务"));
    jiance->start();
    log(QStringLiteral("服务启动完毕"));
}

void wifi::abandonSetup(const QString &line)
{
    m_transport.release();
    log(line);
    s->setEnabled(true);
}
