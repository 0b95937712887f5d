#include "mqttlink.h"

#include "commandbuilder.h"
#include "commandsplitter.h"
#include "mqtttls.h"

#include <QCryptographicHash>
#include <QHostInfo>
#include <QSocketNotifier>
#include <QSysInfo>
#include <algorithm>
#include <cerrno>
#include <mosquitto.h>

namespace {
constexpr int KeepAliveSeconds = 30;
constexpr int LongestDelaySeconds = 30;
constexpr int StopPatienceMs = 500;
const QString Online = QStringLiteral("online");
const QString Offline = QStringLiteral("offline");

void initialiseLibraryOnce()
{
    static const int done = mosquitto_lib_init();
    Q_UNUSED(done);
}

// Stable, so that a relay started again after a crash takes over its old connection at once
// (whose will would otherwise mark it offline once the broker gives up on it); one per machine
// and prefix; and 23 letters and digits, which every broker must accept.
QByteArray clientIdFor(const QString &prefix)
{
    const QByteArray seed = (QSysInfo::machineHostName() + u'\n' + prefix).toUtf8();
    return "morvane" + QCryptographicHash::hash(seed, QCryptographicHash::Sha256).toHex().left(16);
}

QString refusal(int code)
{
    switch (code) {
    case 1:
        return QStringLiteral("服务器不支持此协议版本");
    case 2:
        return QStringLiteral("客户端标识被拒绝");
    case 3:
        return QStringLiteral("服务器暂不可用");
    case 4:
        return QStringLiteral("用户名或密码错误");
    case 5:
        return QStringLiteral("未获授权（请检查用户名和密码）");
    }
    return QStringLiteral("代码 %1").arg(code);
}

} // namespace

MqttLink::MqttLink(const MqttSettings &settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_clientId(clientIdFor(settings.prefix))
    , m_tls(std::make_unique<MqttTls>())
{
    initialiseLibraryOnce();
    m_housekeeping.setInterval(1000);
    connect(&m_housekeeping, &QTimer::timeout, this,
            [this] { afterIo(mosquitto_loop_misc(m_client)); });
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &MqttLink::start);
    m_stopGuard.setSingleShot(true);
    connect(&m_stopGuard, &QTimer::timeout, this, &MqttLink::finishStop);
}

MqttLink::~MqttLink()
{
    if (m_lookup >= 0)
        QHostInfo::abortHostLookup(m_lookup);
    dropClient();
}

void MqttLink::start()
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
    m_lookup = QHostInfo::lookupHost(m_settings.host, this, &MqttLink::resolved);
}

void MqttLink::resolved(const QHostInfo &info)
{
    m_lookup = -1;
    m_addresses = info.addresses();
    if (m_addresses.isEmpty()) {
        attemptFailed(QStringLiteral("找不到主机 %1").arg(m_settings.host));
        return;
    }
    connectNext();
}

// One address after the other, as the library does with the addresses of a name.
void MqttLink::connectNext()
{
    m_state = State::Connecting;
    m_refusal = 0;
    const QHostAddress address = m_addresses.takeFirst();
    QString problem;
    if (!newClient(&problem)) {
        dropClient();
        attemptFailed(problem);
        return;
    }
    errno = 0;
    const int rc = mosquitto_connect_async(m_client, address.toString().toUtf8().constData(),
                                           m_settings.port, KeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        // Reset before it was made, as Wine reports a port nobody listens on: refused.
        ended(rc == MOSQ_ERR_CONN_LOST ? MOSQ_ERR_CONN_REFUSED : rc, errno);
        return;
    }
    watchSocket();
}

// A client of its own for every attempt: one whose connection failed under a TLS handshake
// cannot be reset otherwise.
bool MqttLink::newClient(QString *error)
{
    m_client = mosquitto_new(m_clientId.constData(), true, this);
    if (!m_client) {
        *error = QStringLiteral("内存不足");
        return false;
    }
    mosquitto_int_option(m_client, MOSQ_OPT_TCP_NODELAY, 1);
    const QByteArray status = topic(QStringLiteral("status")).toUtf8();
    const QByteArray offline = Offline.toUtf8();
    mosquitto_will_set(m_client, status.constData(), int(offline.size()), offline.constData(), 1,
                       true);
    if (!m_settings.user.isEmpty())
        mosquitto_username_pw_set(
            m_client, m_settings.user.toUtf8().constData(),
            m_settings.password.isEmpty() ? nullptr : m_settings.password.toUtf8().constData());
    mosquitto_connect_callback_set(m_client, [](mosquitto *, void *link, int code) {
        auto *self = static_cast<MqttLink *>(link);
        if (code == 0)
            self->connected();
        else
            self->m_refusal = code;
    });
    mosquitto_publish_callback_set(m_client, [](mosquitto *, void *link, int mid) {
        static_cast<MqttLink *>(link)->acknowledged(mid);
    });
    mosquitto_message_callback_set(m_client,
                                   [](mosquitto *, void *link, const mosquitto_message *message) {
                                       static_cast<MqttLink *>(link)->received(*message);
                                   });
    if (m_settings.tls) {
        *error = m_tls->prepare(m_client, m_settings.host, m_settings.caFile);
        return error->isEmpty();
    }
    return true;
}

void MqttLink::dropClient()
{
    for (QSocketNotifier *notifier : {m_reader, m_writer}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
    m_reader = m_writer = nullptr;
    m_socket = -1;
    m_commandMid = -1;
    m_housekeeping.stop();
    if (m_client)
        mosquitto_destroy(m_client);
    m_client = nullptr;
}

void MqttLink::watchSocket()
{
    m_socket = mosquitto_socket(m_client);
    m_reader = new QSocketNotifier(qintptr(m_socket), QSocketNotifier::Read, this);
    m_writer = new QSocketNotifier(qintptr(m_socket), QSocketNotifier::Write, this);
    connect(m_reader, &QSocketNotifier::activated, this, &MqttLink::readable);
    connect(m_writer, &QSocketNotifier::activated, this, &MqttLink::writable);
    m_housekeeping.start();
    updateWriter();
}

void MqttLink::readable()
{
    if (!m_client)
        return;
    if (m_state == State::Connecting && connectFailed())
        return;
    errno = 0;
    afterIo(mosquitto_loop_read(m_client, 1));
}

void MqttLink::writable()
{
    if (!m_client)
        return;
    if (m_state == State::Connecting && connectFailed())
        return;
    errno = 0;
    // The library moves a TLS handshake on only when reading.
    afterIo(m_tls->handshaking(m_client) ? mosquitto_loop_read(m_client, 1)
                                         : mosquitto_loop_write(m_client, 1));
}

bool MqttLink::connectFailed()
{
    const int error = MqttTls::connectError(m_socket);
    if (error)
        ended(MOSQ_ERR_ERRNO, error);
    return error;
}

// After anything that may have queued output or closed the connection.
void MqttLink::afterIo(int rc)
{
    const int error = errno;
    if (!m_client)
        return;
    if (mosquitto_socket(m_client) == m_socket)
        updateWriter();
    else
        ended(rc, error);
}

void MqttLink::updateWriter()
{
    if (m_writer)
        m_writer->setEnabled(mosquitto_want_write(m_client) &&
                             !m_tls->handshakeWaitsToRead(m_client));
}

void MqttLink::ended(int rc, int error)
{
    const State was = m_state;
    dropClient();
    if (was == State::Stopping) {
        finishStop();
        return;
    }
    QString reason;
    switch (rc) {
    case MOSQ_ERR_ERRNO:
        reason = MqttTls::socketReason(error);
        break;
    case MOSQ_ERR_TLS:
        reason = m_tls->failure();
        break;
    case MOSQ_ERR_SUCCESS:
    case MOSQ_ERR_CONN_LOST:
        reason = QStringLiteral("服务器关闭了连接");
        break;
    case MOSQ_ERR_CONN_REFUSED:
        reason = QStringLiteral("连接被拒绝");
        break;
    case MOSQ_ERR_KEEPALIVE:
        reason = QStringLiteral("服务器无响应");
        break;
    case MOSQ_ERR_NOMEM:
        reason = QStringLiteral("内存不足");
        break;
    default:
        reason = QStringLiteral("协议错误（代码 %1）").arg(rc);
    }
    if (was == State::Connected)
        retryLater(
            QStringLiteral("与 MQTT 服务器 %1 的连接已断开：%2，正在重连").arg(where(), reason));
    else if (m_refusal)
        retryLater(QStringLiteral("MQTT 服务器 %1 拒绝登录：%2，稍后重试")
                       .arg(where(), refusal(m_refusal)));
    else if (!m_addresses.isEmpty())
        connectNext();
    else
        attemptFailed(reason);
}

void MqttLink::attemptFailed(const QString &reason)
{
    retryLater(QStringLiteral("无法连接 MQTT 服务器 %1：%2，稍后重试").arg(where(), reason));
}

// Each failure is logged once, however often the next attempts fail the same way.
void MqttLink::retryLater(const QString &line)
{
    if (line != m_lastLine)
        later([this, line] { emit event(line, true); });
    m_lastLine = line;
    m_state = State::Waiting;
    m_retry.start(m_delay * 1000);
    m_delay = std::min(m_delay * 2, LongestDelaySeconds);
}

void MqttLink::stop()
{
    if (m_state == State::Stopping)
        return;
    m_retry.stop();
    if (m_lookup >= 0)
        QHostInfo::abortHostLookup(m_lookup);
    m_lookup = -1;
    if (m_state != State::Connected) {
        dropClient();
        m_state = State::Idle;
        later([this] { emit stopped(); });
        return;
    }
    // DISCONNECT only once the broker has `offline`: with its acknowledgement still on the way,
    // closing would reset the connection, the DISCONNECT would be lost and the will published.
    m_state = State::Stopping;
    m_stopGuard.start(StopPatienceMs);
    if (publish(topic(QStringLiteral("status")), Offline, true, &m_offlineMid) != MOSQ_ERR_SUCCESS)
        finishStop();
    else
        afterIo(MOSQ_ERR_SUCCESS);
}

void MqttLink::finishStop()
{
    m_stopGuard.stop();
    dropClient();
    m_state = State::Idle;
    m_delay = 1;
    m_lastLine.clear();
    const QString line = QStringLiteral("已断开 MQTT 服务器 %1").arg(where());
    later([this, line] { emit event(line, false); });
    later([this] { emit stopped(); });
}

void MqttLink::publishCommand(const QString &command)
{
    if (command.isEmpty())
        return;
    m_command = command;
    const auto parts = CommandSplitter::parts(command);
    const QString appliance = parts ? parts->appliance.toString() : QString();
    const QString state =
        parts ? (parts->on ? CommandBuilder::OnSuffix : CommandBuilder::OffSuffix).mid(1).toString()
              : QString();
    if (parts)
        m_states.insert(appliance, state);
    if (m_state != State::Connected)
        return;
    sendCommand();
    if (parts)
        publish(topic(QStringLiteral("state/") + appliance), state, true);
    afterIo(MOSQ_ERR_SUCCESS);
}

// Called from inside the library: what is published here goes out once the library returns.
void MqttLink::connected()
{
    m_state = State::Connected;
    m_delay = 1;
    m_lastLine.clear();
    publish(topic(QStringLiteral("status")), Online, true);
    mosquitto_subscribe(m_client, nullptr, topic(QStringLiteral("request")).toUtf8().constData(),
                        1);
    // The broker may have restarted without its retained messages.
    for (auto state = m_states.cbegin(); state != m_states.cend(); ++state)
        publish(topic(QStringLiteral("state/") + state.key()), state.value(), true);
    if (!m_command.isEmpty())
        sendCommand();
    const QString line = QStringLiteral("已%1连接 MQTT 服务器 %2（主题前缀 %3）")
                             .arg(m_settings.tls ? QStringLiteral("通过 TLS ") : QString(), where(),
                                  m_settings.prefix);
    later([this, line] { emit event(line, false); });
}

// The command stays until the broker has it, and is published again on reconnecting.
void MqttLink::sendCommand()
{
    if (publish(topic(QStringLiteral("command")), m_command, false, &m_commandMid) !=
        MOSQ_ERR_SUCCESS)
        m_commandMid = -1;
}

void MqttLink::acknowledged(int mid)
{
    if (m_state == State::Stopping && mid == m_offlineMid)
        mosquitto_disconnect(m_client);
    if (mid == m_commandMid) {
        m_command.clear();
        m_commandMid = -1;
    }
}

void MqttLink::received(const mosquitto_message &message)
{
    const QByteArray payload(static_cast<const char *>(message.payload), message.payloadlen);
    later([this, payload] { emit requestArrived(payload); });
}

// Topics are UTF-8 by the protocol; payloads as the appliances want them.
int MqttLink::publish(const QString &topic, const QString &text, bool retain, int *mid)
{
    const QByteArray payload =
        m_settings.encoding == MqttSettings::Encoding::Gbk ? m_gbk.encode(text) : text.toUtf8();
    return mosquitto_publish(m_client, mid, topic.toUtf8().constData(), int(payload.size()),
                             payload.constData(), 1, retain);
}

QString MqttLink::topic(const QString &leaf) const
{
    return m_settings.prefix + u'/' + leaf;
}

QString MqttLink::where() const
{
    const QString host =
        m_settings.host.contains(u':') ? u'[' + m_settings.host + u']' : m_settings.host;
    return host + u':' + QString::number(m_settings.port);
}

void MqttLink::later(std::function<void()> emission)
{
    QMetaObject::invokeMethod(this, std::move(emission), Qt::QueuedConnection);
}
