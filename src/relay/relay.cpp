#include "relay.h"

#include "mqttrequest.h"
#include "poller.h"
#include "polltimer.h"
#include "relaychanges.h"

#include <QFileInfo>

namespace {
constexpr int RestingBeatMs = 100;
}

Relay::Relay(const RelayOptions &options, RelayLog &log, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_log(log)
    , m_outputs(log)
    , m_diagnostics(m_outputs)
    , m_status(m_outputs)
    , m_timer(new PollTimer(this))
    , m_broker(log)
    , m_unreadable(log)
    , m_requests(log)
{
    m_broker.replace(options.mqtt, std::nullopt, m_diagnostics.healthNow());
    m_timer->setInterval(options.interval);
    // With no request the relay looks ten times a second, not a hundred: the directory watch wakes
    // it at once for a file made on this machine, and an always-on box should not wake for nothing.
    // Only a file put on a network share from another machine waits up to 100 ms.
    m_timer->setRestInterval(RestingBeatMs);
    m_poller = pollerFor(options.requestFile);
    connect(&m_outputs, &Outputs::changed, &m_diagnostics, &Diagnostics::changed);
    connect(&m_diagnostics, &Diagnostics::ready, &m_broker, &RelayBroker::publishDiagnostics);
    connect(&m_broker, &RelayBroker::requestArrived, this, &Relay::requestArrived);
    connect(&m_broker, &RelayBroker::stopped, this, &Relay::stopped);
    connect(&m_status, &RelayStatus::changed, this, &Relay::statusChanged);
}

Relay::~Relay() = default;

bool Relay::start()
{
    if (const Result<void> held = holdClientId(m_clientIdLock, m_options.mqtt); !held) {
        m_log.failure(held.error());
        return false;
    }
    if (const Result<void> outputs = m_outputs.reload({}, m_options); !outputs) {
        m_log.failure(outputs.error());
        return false;
    }
    m_log.event(
        QStringLiteral("已启动：%1；输出 %2").arg(requestsLine(m_options), outputsLine(m_options)));
    if (const Result<void> secret = passwordKeptSecret(m_options); !secret)
        m_log.failure(secret.error());
    m_broker.start(m_diagnostics.healthNow());
    m_status.follow(m_options);
    if (m_poller) {
        connect(m_poller.get(), &Poller::polled, this, &Relay::serving, Qt::SingleShotConnection);
        m_timer->start();
    } else {
        QMetaObject::invokeMethod(this, &Relay::serving, Qt::QueuedConnection);
    }
    return true;
}

void Relay::stop()
{
    m_timer->stop();
    m_broker.stop();
}

// Its command goes out once to every output, the broker's command topic included.
void Relay::requestArrived(const QByteArray &payload)
{
    const Result<MqttRequest> arrived = mqttRequest(payload);
    if (!arrived) {
        m_log.failure(arrived.error());
        return;
    }
    const QString &request = arrived->request;
    const QString &command = arrived->command;
    // The datagram goes out first: what is told of the request, and of what became of it, can wait.
    Q_UNUSED(m_outputs.send(command));
    const bool taken = m_outputs.took();
    m_requests.told(QStringLiteral("收到 MQTT 上的请求“%1”，命令“%2”").arg(shown(request), command),
                    request, command);
    m_outputs.book();
    m_diagnostics.requested(request);
    if (taken)
        m_diagnostics.took(command);
    m_broker.publishCommand(command, taken);
    m_fileCommandOwed = m_serving;
}

// The outputs have had the tick's command already: a new request or command is told before
// their books take it.
// A command that no output took on its first tick has its state follow on the first tick one does.
void Relay::polled(const PollEvent &event)
{
    const bool sent = event.outcome != PollEvent::Outcome::Absent &&
                      event.outcome != PollEvent::Outcome::Unreadable;
    if (event.commandChanged) {
        noteRequest(event);
    } else if (m_fileCommandOwed && sent) {
        m_stateOwed = !event.command.isEmpty();
        m_broker.publishCommand(event.command, false);
    }
    m_fileCommandOwed = false;
    if (m_stateOwed && sent && m_outputs.took())
        commandTaken(event.command);
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
    m_stateOwed = false;
    m_requests.told(withdrawnLine(m_log.now() - m_servingSince, m_outputs.tallies()),
                    QStringLiteral("（撤走）"), QStringLiteral("撤走"));
}

void Relay::noteRequest(const PollEvent &event)
{
    const QString &command = event.command;
    const bool first = !m_serving;
    if (first) {
        m_serving = true;
        m_servingSince = m_log.now();
        m_outputs.openBooks();
    }
    m_command = command;
    m_requests.told(requestLine(first, shown(event.request), command), event.request, command);
    m_diagnostics.requested(event.request);
    m_stateOwed = false;
    const bool taken = m_outputs.took();
    if (taken)
        m_diagnostics.took(command);
    else
        m_stateOwed = !command.isEmpty();
    m_broker.publishCommand(command, taken);
}

void Relay::commandTaken(const QString &command)
{
    m_stateOwed = false;
    m_diagnostics.took(command);
    m_broker.commandTaken(command);
}

// The request file's poller is made before the outputs: its watch takes a file descriptor too.
Result<void> Relay::reload(const RelayOptions &options)
{
    if (const Result<void> held = holdClientId(m_clientIdLock, options.mqtt); !held)
        return held;
    const bool otherFile = options.requestFile != m_options.requestFile;
    std::unique_ptr<Poller> poller = otherFile ? pollerFor(options.requestFile) : nullptr;
    if (const Result<void> outputs = m_outputs.reload(m_options, options); !outputs) {
        // The old id again, as the old settings go on.
        Q_UNUSED(holdClientId(m_clientIdLock, m_options.mqtt));
        return outputs;
    }
    m_log.setQuiet(options.quiet);
    m_log.event(reloadLine(m_options, options));
    if (!sameBroker(m_options, options))
        m_broker.replace(options.mqtt,
                         m_serving && !m_stateOwed ? std::optional(m_command) : std::nullopt,
                         m_diagnostics.healthNow());
    // The timer takes a new interval at its next start.
    m_timer->setInterval(options.interval);
    if (otherFile) {
        // Another request file is another request: the one served before is let go without a word.
        m_serving = false;
        m_stateOwed = false;
        m_poller = std::move(poller);
    }
    if (!m_poller)
        m_timer->stop();
    else if (otherFile || options.interval != m_options.interval)
        m_timer->start();
    m_options = options;
    m_status.follow(m_options);
    if (const Result<void> secret = passwordKeptSecret(options); !secret)
        m_log.failure(secret.error());
    return {};
}

std::unique_ptr<Poller> Relay::pollerFor(const QString &requestFile)
{
    if (requestFile.isEmpty())
        return nullptr;
    const QFileInfo file(requestFile);
    auto poller =
        std::make_unique<Poller>(file.absolutePath(), m_outputs, m_timer, file.fileName());
    connect(poller.get(), &Poller::polled, this, &Relay::polled);
    return poller;
}
