#include "mqttclient.h"

#include "errors.h"
#include "mqtterrors.h"
#include "mqtttls.h"
#include "quickack.h"

#include <QSocketNotifier>
#include <cerrno>
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <utility>

namespace {
// Every message the relay takes, with room to spare: a request of 16 KiB at most, or a discovery
// marker naming a prefix, under a topic of 64 KiB at most.
constexpr int LargestPacket = 256 * 1024;

void initialiseLibraryOnce()
{
    static const int done = mosquitto_lib_init();
    Q_UNUSED(done);
}

} // namespace

MqttClient::MqttClient(const MqttSettings &settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_clientId(settings.clientId())
    , m_tls(std::make_unique<MqttTls>())
{
    initialiseLibraryOnce();
    m_housekeeping.setInterval(1000);
    connect(&m_housekeeping, &QTimer::timeout, this, &MqttClient::keepHouse);
}

MqttClient::~MqttClient()
{
    close();
}

void MqttClient::setWill(const QString &topic, const QByteArray &payload)
{
    m_willTopic = topic;
    m_will = payload;
}

Result<void> MqttClient::open(const QHostAddress &address)
{
    m_address = address;
    if (const Result<void> made = newClient(); !made) {
        close();
        return made;
    }
    errno = 0;
    const int rc = mosquitto_connect_async(m_client, address.toString().toUtf8().constData(),
                                           m_settings.port, m_settings.keepAlive);
    const int error = errno;
    if (rc != MOSQ_ERR_SUCCESS) {
        // Reset before it was made, as Wine reports a port nobody listens on: refused.
        const Failure failed(reason(rc == MOSQ_ERR_CONN_LOST ? MOSQ_ERR_CONN_REFUSED : rc, error));
        close();
        return failed;
    }
    watchSocket();
    return {};
}

// A library client of its own for every attempt: one whose connection failed under a TLS
// handshake cannot be reset otherwise.
Result<void> MqttClient::newClient()
{
    m_accepted = false;
    m_closedFor = 0;
    m_client = mosquitto_new(m_clientId.constData(), true, this);
    if (!m_client)
        return Failure(reason(MOSQ_ERR_NOMEM, 0));
    mosquitto_int_option(m_client, MOSQ_OPT_TCP_NODELAY, 1);
    // As many requests unacknowledged as the protocol allows: a broker drops what it queues
    // beyond its limit (mosquitto: 1,000) for a client held up a moment in a burst.
    mosquitto_int_option(m_client, MOSQ_OPT_RECEIVE_MAXIMUM, 65535);
    mosquitto_int_option(m_client, MOSQ_OPT_PROTOCOL_VERSION,
                         m_legacy ? MQTT_PROTOCOL_V311 : MQTT_PROTOCOL_V5);
    if (!m_legacy)
        if (const Result<void> asked = askForLargestPacket(); !asked)
            return asked;
    mosquitto_will_set(m_client, m_willTopic.toUtf8().constData(), int(m_will.size()),
                       m_will.constData(), 1, true);
    if (!m_settings.user.isEmpty())
        mosquitto_username_pw_set(
            m_client, m_settings.user.toUtf8().constData(),
            m_settings.password.isEmpty() ? nullptr : m_settings.password.toUtf8().constData());
    mosquitto_connect_callback_set(m_client, [](mosquitto *, void *client, int code) {
        auto *self = static_cast<MqttClient *>(client);
        if (code == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION && !self->m_legacy) {
            self->m_legacy = self->m_speakAgain = true;
            return;
        }
        self->m_accepted = code == 0;
        emit self->answered(code);
    });
    mosquitto_disconnect_v5_callback_set(
        m_client, [](mosquitto *, void *client, int code, const mosquitto_property *) {
            static_cast<MqttClient *>(client)->m_closedFor = code;
        });
    mosquitto_publish_callback_set(m_client, [](mosquitto *, void *client, int mid) {
        emit static_cast<MqttClient *>(client)->acknowledged(mid);
    });
    mosquitto_message_callback_set(
        m_client, [](mosquitto *, void *client, const mosquitto_message *message) {
            emit static_cast<MqttClient *>(client)->messageArrived(
                QString::fromUtf8(message->topic),
                QByteArray(static_cast<const char *>(message->payload), message->payloadlen),
                message->retain);
        });
    if (m_settings.tls)
        return m_tls->prepare(m_client, m_settings.host, m_settings.caFile);
    return {};
}

// The library sends CONNECT properties only from its blocking connect, which keeps them for the
// connections that follow before it checks its arguments: given a port no broker has, it keeps
// them and returns at once, and the connection made without blocking carries them.
Result<void> MqttClient::askForLargestPacket()
{
    mosquitto_property *properties = nullptr;
    mosquitto_property_add_int32(&properties, MQTT_PROP_MAXIMUM_PACKET_SIZE, LargestPacket);
    const int rc = mosquitto_connect_bind_v5(m_client, "", -1, 0, nullptr, properties);
    mosquitto_property_free_all(&properties);
    if (rc != MOSQ_ERR_INVAL)
        return Failure(reason(rc, 0));
    return {};
}

void MqttClient::close()
{
    for (QSocketNotifier *notifier : {m_reader, m_writer}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
    m_reader = m_writer = nullptr;
    m_socket = -1;
    m_housekeeping.stop();
    if (m_client)
        mosquitto_destroy(m_client);
    m_client = nullptr;
}

void MqttClient::sendDisconnect()
{
    mosquitto_disconnect(m_client);
}

void MqttClient::watchSocket()
{
    m_socket = mosquitto_socket(m_client);
    m_reader = new QSocketNotifier(qintptr(m_socket), QSocketNotifier::Read, this);
    m_writer = new QSocketNotifier(qintptr(m_socket), QSocketNotifier::Write, this);
    connect(m_reader, &QSocketNotifier::activated, this, &MqttClient::readable);
    connect(m_writer, &QSocketNotifier::activated, this, &MqttClient::writable);
    m_housekeeping.start();
    updateWriter();
}

void MqttClient::readable()
{
    if (!socketUsable())
        return;
    errno = 0;
    const int rc = mosquitto_loop_read(m_client, 1);
    if (rc == MOSQ_ERR_SUCCESS)
        acknowledgePromptly(m_socket);
    afterIo(rc);
}

// A close by the broker can go unannounced by the socket notifier (seen under Wine, where the
// connection then looked up until the keep-alive ran out): a read each second finds it.
void MqttClient::keepHouse()
{
    errno = 0;
    if (m_client && m_accepted)
        afterIo(mosquitto_loop_read(m_client, 1));
    errno = 0;
    if (m_client)
        afterIo(mosquitto_loop_misc(m_client));
}

void MqttClient::writable()
{
    if (!socketUsable())
        return;
    errno = 0;
    // The library moves a TLS handshake on only when reading.
    afterIo(m_tls->handshaking(m_client) ? mosquitto_loop_read(m_client, 1)
                                         : mosquitto_loop_write(m_client, 1));
}

// A connection that failed while it was being made ends here: the library would retry one that
// failed beneath a TLS handshake for ever.
bool MqttClient::socketUsable()
{
    if (!m_client)
        return false;
    if (m_accepted)
        return true;
    const Result<void> made = Errors::connecting(m_socket);
    if (!made)
        end(made.error());
    return bool(made);
}

// After anything that may have queued output or closed the connection.
void MqttClient::afterIo(int rc)
{
    const int error = errno;
    if (!m_client)
        return;
    if (mosquitto_socket(m_client) == m_socket)
        updateWriter();
    else
        end(reason(rc, error));
}

void MqttClient::updateWriter()
{
    if (m_writer)
        m_writer->setEnabled(mosquitto_want_write(m_client) &&
                             !m_tls->handshakeWaitsToRead(m_client));
}

// A broker that speaks only MQTT 3.1.1 refuses the first attempt: the next, at once, speaks that.
void MqttClient::end(const QString &reason)
{
    close();
    if (!std::exchange(m_speakAgain, false))
        emit ended(reason);
    else if (const Result<void> opened = open(m_address); !opened)
        emit ended(opened.error());
}

// Why the library gave up, with the system's error number where it gives one.
QString MqttClient::reason(int rc, int error) const
{
    return rc == MOSQ_ERR_TLS ? m_tls->failure() : Errors::mqttLibrary(rc, error);
}

// Topics are UTF-8 by the protocol.
Result<int> MqttClient::publish(const QString &topic, const QByteArray &payload, bool retain)
{
    int mid = 0;
    errno = 0;
    const int rc = mosquitto_publish(m_client, &mid, topic.toUtf8().constData(),
                                     int(payload.size()), payload.constData(), 1, retain);
    if (rc != MOSQ_ERR_SUCCESS)
        return Failure(reason(rc, errno));
    return mid;
}

void MqttClient::publishFact(const QString &topic, const QByteArray &payload)
{
    Q_UNUSED(publish(topic, payload, true));
}

void MqttClient::notify(const QString &topic, const QByteArray &payload)
{
    Q_UNUSED(publish(topic, payload, false));
}

void MqttClient::subscribe(const QString &topic)
{
    mosquitto_subscribe(m_client, nullptr, topic.toUtf8().constData(), 1);
}

void MqttClient::sendPublished()
{
    afterIo(MOSQ_ERR_SUCCESS);
}
