#include "relay.h"

#include "commandbuilder.h"
#include "mqttlink.h"
#include "outputs.h"
#include "poller.h"
#include "polltimer.h"

#include <QFileInfo>
#include <QStringDecoder>
#include <QUdpSocket>

namespace {
constexpr int RestingBeatMs = 100;
}

Relay::Relay(const RelayOptions &options, RelayLog &log, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_log(log)
    , m_timer(new PollTimer(this))
    , m_unreadable(log)
    , m_requests(log)
{
    for (const UdpDestination &destination : options.udp) {
        QUdpSocket *&socket = m_sockets[destination.port];
        if (!socket)
            socket = new QUdpSocket(this);
        m_udp.push_back(new UdpOutput(destination, *socket, log, this));
        m_outputs.add(m_udp.back());
    }
    if (!options.serialDevices.isEmpty())
        m_outputs.add(new SerialOutput(options, log, this));
    if (options.mqtt) {
        m_mqtt = new MqttLink(*options.mqtt, this);
        connect(m_mqtt, &MqttLink::requestArrived, this, &Relay::requestArrived);
        connect(m_mqtt, &MqttLink::event, this, [this](const QString &line, bool failure) {
            failure ? m_log.failure(line) : m_log.event(line);
        });
        connect(m_mqtt, &MqttLink::stopped, this, &Relay::stopped);
    }
    m_timer->setInterval(options.interval);
    // With no request the relay looks ten times a second, not a hundred: the directory watch wakes
    // it at once for a file made on this machine, and an always-on box should not wake for nothing.
    // Only a file put on a network share from another machine waits up to 100 ms.
    m_timer->setRestInterval(RestingBeatMs);
    if (!options.requestFile.isEmpty()) {
        const QFileInfo file(options.requestFile);
        m_poller.reset(new Poller(file.absolutePath(), m_outputs, m_timer, file.fileName()));
        connect(m_poller.get(), &Poller::polled, this, &Relay::polled);
    }
}

Relay::~Relay() = default;

bool Relay::start()
{
    for (UdpOutput *output : m_udp) {
        if (const Result<void> started = output->start(); !started) {
            m_log.failure(
                QStringLiteral("%1：本机端口无法使用（%2）").arg(output->name(), started.error()));
            return false;
        }
    }
    const QString requests = m_poller ? QStringLiteral("请求文件 %1，每 %2 毫秒查看一次")
                                            .arg(m_options.requestFile)
                                            .arg(m_options.interval)
                                      : QStringLiteral("只收 MQTT 上的请求");
    m_log.event(QStringLiteral("已启动：%1；输出 %2").arg(requests, outputsLine()));
    if (m_mqtt && !MqttSettings::hasTls())
        m_log.event(QStringLiteral("本版本不支持 TLS：MQTT 只能以 mqtt:// 连接，不加密"));
    if (m_mqtt)
        m_mqtt->start();
    if (m_poller)
        m_timer->start();
    return true;
}

void Relay::stop()
{
    m_timer->stop();
    if (m_mqtt)
        m_mqtt->stop();
    else
        QMetaObject::invokeMethod(this, &Relay::stopped, Qt::QueuedConnection);
}

// UTF-8, or GBK where it is not valid UTF-8; only the first field counts, as in the file. Its
// command goes out once to every output, the broker's command topic included.
void Relay::requestArrived(const QByteArray &payload)
{
    if (payload.size() > RequestFile::MaxBytes) {
        m_log.failure(QStringLiteral("MQTT 上的请求有 %1 字节，超过 %2 字节，已丢弃")
                          .arg(payload.size())
                          .arg(RequestFile::MaxBytes));
        return;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString whole = utf8(payload);
    const QByteArrayView field = *RequestFile::firstField(payload, true);
    const QString request = utf8.hasError() ? RequestFile::decode(field) : QString::fromUtf8(field);
    const QString command = CommandBuilder::buildCommand(request);
    if (command.isEmpty()) {
        m_log.failure(
            QStringLiteral("MQTT 上的请求“%1”中没有家电名称或开关词，已丢弃").arg(shown(request)));
        return;
    }
    m_requests.told(QStringLiteral("收到 MQTT 上的请求“%1”，命令“%2”").arg(shown(request), command),
                    request, command);
    m_outputs.deliver(command);
    m_mqtt->publishCommand(command);
    m_fileCommandOwed = m_serving;
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
    if (m_options.mqtt)
        outputs << QStringLiteral("MQTT %1%2:%3（主题前缀 %4）")
                       .arg(m_options.mqtt->tls ? u"mqtts://" : u"mqtt://", m_options.mqtt->host)
                       .arg(m_options.mqtt->port)
                       .arg(m_options.mqtt->prefix);
    return outputs.join(QStringLiteral("、"));
}

// The outputs have had the tick's command already: a new request or command is told before
// their books take it.
void Relay::polled(const PollEvent &event)
{
    if (event.commandChanged)
        noteRequest(event);
    else if (m_fileCommandOwed && event.outcome != PollEvent::Outcome::Absent && m_mqtt)
        m_mqtt->publishCommand(event.command);
    m_fileCommandOwed = false;
    m_outputs.book();
    if (event.outcome == PollEvent::Outcome::Unreadable) {
        m_unreadable.failed(QStringLiteral("请求文件 %1 无法读取").arg(m_options.requestFile),
                            QStringLiteral("本次未发送"));
        return;
    }
    if (m_unreadable.isFailing())
        m_unreadable.ended(QStringLiteral("请求文件 %1").arg(m_options.requestFile));
    if (event.outcome != PollEvent::Outcome::Absent || !m_serving)
        return;
    m_serving = false;
    m_requests.told(QStringLiteral("请求已撤走：持续 %1 秒，%2")
                        .arg(seconds(m_log.now() - m_servingSince),
                             m_outputs.tallies().join(QStringLiteral("，"))),
                    QStringLiteral("（撤走）"), QStringLiteral("撤走"));
}

void Relay::noteRequest(const PollEvent &event)
{
    const QString request = shown(event.request);
    const QString &command = event.command;
    QString line;
    if (!m_serving) {
        m_serving = true;
        m_servingSince = m_log.now();
        m_outputs.openBooks();
        line = command.isEmpty()
                   ? QStringLiteral("收到请求“%1”：其中没有家电名称或开关词，命令为空，什么也不发")
                         .arg(request)
                   : QStringLiteral("收到请求“%1”，命令“%2”").arg(request, command);
    } else {
        line = command.isEmpty()
                   ? QStringLiteral("命令改为空（请求“%1”中没有家电名称或开关词），什么也不发")
                         .arg(request)
                   : QStringLiteral("命令改为“%1”（请求“%2”）").arg(command, request);
    }
    m_requests.told(line, event.request, command);
    if (m_mqtt)
        m_mqtt->publishCommand(command);
}
