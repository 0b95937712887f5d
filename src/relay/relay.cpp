#include "relay.h"

#include "outputs.h"
#include "poller.h"
#include "polltimer.h"

#include <QFileInfo>
#include <QUdpSocket>

Relay::Relay(const RelayOptions &options, RelayLog &log, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_log(log)
    , m_timer(new PollTimer(this))
    , m_unreadable(log)
{
    for (const UdpDestination &destination : options.udp) {
        QUdpSocket *&socket = m_sockets[destination.port];
        if (!socket)
            socket = new QUdpSocket(this);
        m_udp.push_back(new UdpOutput(destination, *socket, log, this));
        m_outputs.push_back(m_udp.back());
    }
    if (!options.serialDevices.isEmpty()) {
        m_serial = new SerialOutput(options, log, this);
        m_outputs.push_back(m_serial);
    }
    m_timer->setInterval(options.interval);
    if (!options.requestFile.isEmpty()) {
        const QFileInfo file(options.requestFile);
        m_poller = new Poller(file.absolutePath(), *this, *this, {}, m_timer, file.fileName());
        connect(m_poller, &Poller::polled, this, &Relay::polled);
    }
}

Relay::~Relay() = default;

bool Relay::start()
{
    for (UdpOutput *output : m_udp) {
        if (!output->start()) {
            m_log.failure(QStringLiteral("%1：本机端口无法使用（%2）")
                              .arg(output->name(), output->errorString()));
            return false;
        }
    }
    m_log.event(QStringLiteral("已启动：请求文件 %1，每 %2 毫秒查看一次；输出 %3")
                    .arg(m_options.requestFile)
                    .arg(m_options.interval)
                    .arg(outputsLine()));
    if (m_poller)
        m_timer->start();
    return true;
}

QString Relay::outputsLine() const
{
    QStringList outputs;
    for (const UdpDestination &destination : m_options.udp)
        outputs << QStringLiteral("UDP %1:%2（本机端口 %2）")
                       .arg(destination.host)
                       .arg(destination.port);
    if (m_options.serialAuto)
        outputs << QStringLiteral("串口 %1 中第一个存在的（%2 波特 8N1）")
                       .arg(m_options.serialDevices.join(QStringLiteral("、")))
                       .arg(m_options.baudRate);
    else if (!m_options.serialDevices.isEmpty())
        outputs << QStringLiteral("串口 %1（%2 波特 8N1）")
                       .arg(m_options.serialDevices.first())
                       .arg(m_options.baudRate);
    return outputs.join(QStringLiteral("、"));
}

// Every tick's command, to every output; an empty command puts nothing anywhere.
bool Relay::send(const QString &command)
{
    if (!m_serving || command != m_command)
        noteRequest(command);
    if (!command.isEmpty()) {
        for (Output *output : m_outputs)
            output->deliver(command);
    }
    return true;
}

// A request found, or its command changed: told before anything goes out.
void Relay::noteRequest(const QString &command)
{
    const QString request = shown(m_poller->cycle().request());
    if (!m_serving) {
        m_serving = true;
        m_servingSince = m_log.now();
        for (Output *output : m_outputs)
            output->openBooks();
        m_log.event(
            command.isEmpty()
                ? QStringLiteral("收到请求“%1”：其中没有家电名称或开关词，命令为空，什么也不发")
                      .arg(request)
                : QStringLiteral("收到请求“%1”，命令“%2”").arg(request, command));
    } else {
        m_log.event(command.isEmpty()
                        ? QStringLiteral("命令改为空（请求“%1”中没有家电名称或开关词），什么也不发")
                              .arg(request)
                        : QStringLiteral("命令改为“%1”（请求“%2”）").arg(command, request));
    }
    m_command = command;
}

void Relay::polled(PollResult result)
{
    if (result == PollResult::Unreadable) {
        m_unreadable.failed(QStringLiteral("请求文件 %1 无法读取").arg(m_options.requestFile),
                            QStringLiteral("本次未发送"));
        return;
    }
    if (m_unreadable.isFailing())
        m_unreadable.ended(QStringLiteral("请求文件 %1").arg(m_options.requestFile));
    if (result != PollResult::Absent || !m_serving)
        return;
    m_serving = false;
    QStringList tallies;
    for (const Output *output : m_outputs)
        tallies << output->tally();
    m_log.event(
        QStringLiteral("请求已撤走：持续 %1 秒，%2")
            .arg(seconds(m_log.now() - m_servingSince), tallies.join(QStringLiteral("，"))));
}
