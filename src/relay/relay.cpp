#include "relay.h"

#include "commandbuilder.h"
#include "mqttlink.h"
#include "outputs.h"
#include "poller.h"
#include "polltimer.h"
#include "relaychanges.h"
#include "secretfile.h"

#include <QFileInfo>
#include <QStringDecoder>
#include <QUdpSocket>
#include <algorithm>

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
    for (const UdpDestination &destination : options.udp)
        addUdp(destination);
    replaceSerial(options);
    replaceBroker(options.mqtt);
    m_timer->setInterval(options.interval);
    // With no request the relay looks ten times a second, not a hundred: the directory watch wakes
    // it at once for a file made on this machine, and an always-on box should not wake for nothing.
    // Only a file put on a network share from another machine waits up to 100 ms.
    m_timer->setRestInterval(RestingBeatMs);
    replacePoller(options.requestFile);
}

Relay::~Relay() = default;

bool Relay::start()
{
    if (const Result<void> held = holdClientId(m_options.mqtt); !held) {
        m_log.failure(held.error());
        return false;
    }
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
    warnOfReadablePassword(m_options);
    if (m_mqtt && !MqttSettings::hasTls())
        m_log.event(QStringLiteral("本版本不支持 TLS：MQTT 只能以 mqtt:// 连接，不加密"));
    if (m_mqtt)
        m_mqtt->start();
    m_started = true;
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
    // The datagram goes out first: what is told of the request, and of what became of it, can wait.
    Q_UNUSED(m_outputs.send(command));
    m_requests.told(QStringLiteral("收到 MQTT 上的请求“%1”，命令“%2”").arg(shown(request), command),
                    request, command);
    m_outputs.book();
    m_mqtt->publishCommand(command);
    m_fileCommandOwed = m_serving;
}

QString Relay::outputsLine() const
{
    QStringList outputs;
    for (const UdpDestination &destination : m_options.udp)
        outputs << udpLine(destination);
    outputs << serialLine(m_options) << brokerLine(m_options);
    outputs.removeAll(QString());
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
    m_command = command;
    m_requests.told(line, event.request, command);
    if (m_mqtt)
        m_mqtt->publishCommand(command);
}

void Relay::reload(const RelayOptions &options)
{
    if (const Result<void> held = holdClientId(options.mqtt); !held) {
        m_log.failure(QStringLiteral("设置未重新读取，仍按原来的运行：%1").arg(held.error()));
        return;
    }
    const QStringList changed = changes(m_options, options);
    m_log.setQuiet(options.quiet);
    m_log.event(QStringLiteral("已重新读取设置：%1")
                    .arg(changed.isEmpty() ? QStringLiteral("没有改动")
                                           : changed.join(QStringLiteral("；"))));
    reloadUdp(options.udp);
    if (!sameSerialLine(m_options, options))
        replaceSerial(options);
    if (!sameBroker(m_options, options))
        replaceBroker(options.mqtt);
    // The timer takes a new interval at its next start.
    m_timer->setInterval(options.interval);
    if (options.requestFile != m_options.requestFile)
        replacePoller(options.requestFile);
    else if (options.interval != m_options.interval && m_poller)
        m_timer->start();
    m_options = options;
    warnOfReadablePassword(options);
}

// A second relay of this machine with the same client id would knock this one off the broker, and
// this one it, over and over.
Result<void> Relay::holdClientId(const std::optional<MqttSettings> &settings)
{
    if (!settings) {
        m_clientIdLock.release();
        return {};
    }
    const QByteArray id = settings->clientId();
    if (m_clientIdLock.take(id))
        return {};
    return Failure(
        QStringLiteral("本机上另一个 morvane-relay 已在用 MQTT 客户端标识 %1（主题前缀 %2），"
                       "两个会在服务器上互相挤掉：请用 --instance 名字（配置文件中 "
                       "instance=）给每一个不同的实例名")
            .arg(QString::fromLatin1(id), settings->prefix));
}

// Told at the start and at every reload, as the file may have been made readable meanwhile.
void Relay::warnOfReadablePassword(const RelayOptions &options)
{
    if (!options.passwordKeptIn.isEmpty() && isReadableByOthers(options.passwordKeptIn))
        m_log.failure(QStringLiteral("MQTT 密码所在的文件 %1 其他用户也能读取（chmod o-r %1）")
                          .arg(options.passwordKeptIn));
}

UdpOutput *Relay::addUdp(const UdpDestination &destination)
{
    QUdpSocket *&socket = m_sockets[destination.port];
    if (!socket)
        socket = new QUdpSocket(this);
    m_udp.push_back(new UdpOutput(destination, *socket, m_log, this));
    m_outputs.add(m_udp.back());
    return m_udp.back();
}

// A destination that stays keeps its output and its socket; a socket no destination uses any more
// is let go, freeing its port.
void Relay::reloadUdp(const QList<UdpDestination> &destinations)
{
    for (auto output = m_udp.begin(); output != m_udp.end();) {
        if (destinations.contains((*output)->destination())) {
            ++output;
            continue;
        }
        m_outputs.remove(*output);
        delete *output;
        output = m_udp.erase(output);
    }
    for (auto socket = m_sockets.begin(); socket != m_sockets.end();) {
        const bool used = std::any_of(m_udp.begin(), m_udp.end(), [&](const UdpOutput *output) {
            return output->destination().port == socket->first;
        });
        if (used) {
            ++socket;
            continue;
        }
        delete socket->second;
        socket = m_sockets.erase(socket);
    }
    for (const UdpDestination &destination : destinations) {
        if (m_options.udp.contains(destination))
            continue;
        UdpOutput *output = addUdp(destination);
        if (const Result<void> started = output->start(); !started) {
            m_log.failure(
                QStringLiteral("%1：本机端口无法使用（%2）").arg(output->name(), started.error()));
            m_outputs.remove(output);
            m_udp.pop_back();
            delete output;
        }
    }
}

void Relay::replaceSerial(const RelayOptions &options)
{
    if (m_serial) {
        m_outputs.remove(m_serial);
        delete m_serial;
        m_serial = nullptr;
    }
    if (options.serialDevices.isEmpty())
        return;
    m_serial = new SerialOutput(options, m_log, this);
    m_outputs.add(m_serial);
}

// A link that goes first says goodbye to its broker; the new one, which may have the same client
// id, connects only then.
void Relay::replaceBroker(const std::optional<MqttSettings> &settings)
{
    MqttLink *old = m_mqtt;
    m_mqtt = nullptr;
    if (settings) {
        m_mqtt = new MqttLink(*settings, this);
        connect(m_mqtt, &MqttLink::requestArrived, this, &Relay::requestArrived);
        connect(m_mqtt, &MqttLink::event, this, [this](const QString &line, bool failure) {
            failure ? m_log.failure(line) : m_log.event(line);
        });
        connect(m_mqtt, &MqttLink::stopped, this, &Relay::stopped);
        if (m_serving)
            m_mqtt->publishCommand(m_command);
    }
    if (!old)
        return;
    disconnect(old, &MqttLink::requestArrived, this, nullptr);
    disconnect(old, &MqttLink::stopped, this, nullptr);
    connect(old, &MqttLink::stopped, this, [this, old, link = m_mqtt] {
        old->deleteLater();
        if (link && link == m_mqtt)
            link->start();
    });
    old->stop();
}

// Another request file is another request: the one served before is let go without a word.
void Relay::replacePoller(const QString &requestFile)
{
    m_serving = false;
    m_poller.reset();
    if (requestFile.isEmpty()) {
        m_timer->stop();
        return;
    }
    const QFileInfo file(requestFile);
    m_poller.reset(new Poller(file.absolutePath(), m_outputs, m_timer, file.fileName()));
    connect(m_poller.get(), &Poller::polled, this, &Relay::polled);
    if (m_started)
        m_timer->start();
}
