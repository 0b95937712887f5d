#include "mqttconnection.h"

#include "mqttclient.h"
#include "mqtterrors.h"
#include "mqtttopics.h"

#include <algorithm>
#include <mqtt_protocol.h>

namespace {
constexpr int LongestDelaySeconds = 30;
// After the session was taken over: long enough that two relays of one client id take turns
// rarely, not every second.
constexpr int TakenOverDelaySeconds = 30;
constexpr int LongestTakenOverDelaySeconds = 300;
constexpr int StopPatienceMs = 500;

} // namespace

MqttConnection::MqttConnection(const MqttSettings &settings, MqttClient &client, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_status(MqttTopics(settings).status)
    , m_clientId(settings.clientId())
    , m_client(client)
{
    m_client.setWill(m_status, MqttTopics::Offline);
    connect(&m_client, &MqttClient::answered, this, &MqttConnection::answered);
    connect(&m_client, &MqttClient::acknowledged, this, &MqttConnection::acknowledged);
    connect(&m_client, &MqttClient::ended, this, &MqttConnection::ended);
    connect(&m_lookup, &HostLookup::finished, this, &MqttConnection::resolved);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &MqttConnection::start);
    m_stopGuard.setSingleShot(true);
    connect(&m_stopGuard, &QTimer::timeout, this, &MqttConnection::finishStop);
    // A connection the broker ends soon after it was made (another client with the same id took
    // it over, say) is tried again more and more slowly too: only one that lasted starts afresh.
    m_settled.setSingleShot(true);
    m_settled.setInterval(LongestDelaySeconds * 1000);
    connect(&m_settled, &QTimer::timeout, this, [this] { m_delay = 1; });
}

void MqttConnection::start()
{
    if (m_state != State::Idle && m_state != State::Waiting)
        return;
    m_state = State::Resolving;
    const QHostAddress address(m_settings.host);
    if (!address.isNull()) {
        m_addresses = {address};
        connectNext();
        return;
    }
    // The library would look the name up itself, and wait for the answer.
    m_lookup.start(m_settings.host);
}

void MqttConnection::resolved(const QList<QHostAddress> &addresses)
{
    m_addresses = addresses;
    if (m_addresses.isEmpty())
        attemptFailed(QStringLiteral("找不到主机 %1").arg(m_settings.host));
    else
        connectNext();
}

// One address after the other, as the library does with the addresses of a name.
void MqttConnection::connectNext()
{
    m_state = State::Connecting;
    m_refusal = 0;
    if (const Result<void> opened = m_client.open(m_addresses.takeFirst()); !opened)
        ended(opened.error());
}

// Called from inside the library: what is published here goes out once the library returns.
void MqttConnection::answered(int code)
{
    if (code != 0) {
        m_refusal = code;
        return;
    }
    m_state = State::Connected;
    m_settled.start();
    m_lastLine.clear();
    m_client.publishFact(m_status, MqttTopics::Online);
    emit connected();
    const QString line = QStringLiteral("已%1连接 MQTT 服务器 %2（主题前缀 %3，客户端标识 %4）")
                             .arg(m_settings.tls ? QStringLiteral("通过 TLS ") : QString(), where(),
                                  m_settings.prefix, QString::fromLatin1(m_clientId));
    later([this, line] { emit event(line, false); });
}

void MqttConnection::acknowledged(int mid)
{
    if (m_state == State::Stopping && mid == m_offlineMid)
        m_client.sendDisconnect();
}

void MqttConnection::ended(const QString &reason)
{
    m_settled.stop();
    if (m_state == State::Stopping)
        finishStop();
    else if (m_state == State::Connected && m_client.closedFor() == MQTT_RC_SESSION_TAKEN_OVER)
        backOff();
    else if (m_state == State::Connected)
        retryLater(
            QStringLiteral("与 MQTT 服务器 %1 的连接已断开：%2，正在重连").arg(where(), reason));
    else if (m_refusal)
        retryLater(QStringLiteral("MQTT 服务器 %1 拒绝登录：%2，稍后重试")
                       .arg(where(), Errors::mqttRefusal(m_refusal)));
    else if (!m_addresses.isEmpty())
        connectNext();
    else
        attemptFailed(reason);
}

// Told every time: each is a turn the other client had.
void MqttConnection::backOff()
{
    m_takenOverDelay =
        std::clamp(m_takenOverDelay * 2, TakenOverDelaySeconds, LongestTakenOverDelaySeconds);
    const QString line =
        Errors::mqttTakenOver(QString::fromLatin1(m_clientId), where(), m_takenOverDelay);
    later([this, line] { emit event(line, true); });
    m_lastLine.clear();
    m_state = State::Waiting;
    m_retry.start(m_takenOverDelay * 1000);
}

void MqttConnection::attemptFailed(const QString &reason)
{
    retryLater(QStringLiteral("无法连接 MQTT 服务器 %1：%2，稍后重试").arg(where(), reason));
}

// Each failure is logged once, however often the next attempts fail the same way.
void MqttConnection::retryLater(const QString &line)
{
    if (line != m_lastLine)
        later([this, line] { emit event(line, true); });
    m_lastLine = line;
    m_state = State::Waiting;
    m_retry.start(m_delay * 1000);
    m_delay = std::min(m_delay * 2, LongestDelaySeconds);
}

void MqttConnection::stop()
{
    if (m_state == State::Stopping)
        return;
    m_retry.stop();
    m_lookup.abort();
    if (m_state != State::Connected) {
        m_client.close();
        m_state = State::Idle;
        later([this] { emit stopped(); });
        return;
    }
    // DISCONNECT only once the broker has `offline`: with its acknowledgement still on the way,
    // closing would reset the connection, the DISCONNECT would be lost and the will published.
    m_state = State::Stopping;
    m_stopGuard.start(StopPatienceMs);
    const Result<int> offline = m_client.publish(m_status, MqttTopics::Offline, true);
    if (!offline) {
        finishStop();
        return;
    }
    m_offlineMid = *offline;
    m_client.sendPublished();
}

void MqttConnection::finishStop()
{
    m_stopGuard.stop();
    m_client.close();
    m_state = State::Idle;
    m_delay = 1;
    m_lastLine.clear();
    const QString line = QStringLiteral("已断开 MQTT 服务器 %1").arg(where());
    later([this, line] { emit event(line, false); });
    later([this] { emit stopped(); });
}

QString MqttConnection::where() const
{
    const QString host =
        m_settings.host.contains(u':') ? u'[' + m_settings.host + u']' : m_settings.host;
    return host + u':' + QString::number(m_settings.port);
}

void MqttConnection::later(std::function<void()> emission)
{
    QMetaObject::invokeMethod(this, std::move(emission), Qt::QueuedConnection);
}
