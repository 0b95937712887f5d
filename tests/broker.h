#pragma once

#include "support.h"

#include <QFile>
#include <QHostAddress>
#include <QMap>
#include <QProcess>
#include <QTcpSocket>
#include <QTimer>
#include <mosquitto.h>

// Runs against the broker of tests/broker.sh, in `dir` or else the directory MORVANE_BROKER_DIR
// names. Where the script (MORVANE_BROKER_SCRIPT) can be run, by MORVANE_BROKER_RUNNER, tests also
// stop the broker and start it again, and the benchmark sets one up.
struct Broker {
    QString dir;
    quint16 port = 0, authPort = 0, tlsPort = 0, tlsOtherPort = 0;

    bool read()
    {
        if (dir.isEmpty())
            dir = qEnvironmentVariable("MORVANE_BROKER_DIR");
        QFile file(dir + QStringLiteral("/ports"));
        if (!file.open(QIODevice::ReadOnly))
            return false;
        const QMap<QString, quint16 *> fields = {{QStringLiteral("port"), &port},
                                                 {QStringLiteral("authPort"), &authPort},
                                                 {QStringLiteral("tlsPort"), &tlsPort},
                                                 {QStringLiteral("tlsOtherPort"), &tlsOtherPort}};
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QList<QByteArray> parts = line.trimmed().split('=');
            if (parts.size() == 2 && fields.contains(QString::fromLatin1(parts[0])))
                *fields[QString::fromLatin1(parts[0])] = parts[1].toUShort();
        }
        return port && authPort && tlsPort && tlsOtherPort;
    }
    static bool canRestart() { return !qEnvironmentVariableIsEmpty("MORVANE_BROKER_RUNNER"); }
    bool run(const QString &action)
    {
        QStringList command = qEnvironmentVariable("MORVANE_BROKER_RUNNER").split(u' ');
        const QString program = command.takeFirst();
        command << qEnvironmentVariable("MORVANE_BROKER_SCRIPT") << action << dir;
        QProcess::execute(program, command);
        // Under Wine the script's exit status is lost, and start /unix does not wait for it.
        const bool up = action != u"stop";
        return (action != u"setup" || read()) && runUntil([&] { return listening() == up; }, 10000);
    }
    bool listening() const
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        return socket.waitForConnected(1000);
    }
    // The broker's log from `offset` on.
    QString log(qint64 offset = 0) const
    {
        QFile file(dir + QStringLiteral("/broker.log"));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        file.seek(offset);
        return QString::fromUtf8(file.readAll());
    }
    qint64 logSize() const { return QFile(dir + QStringLiteral("/broker.log")).size(); }
};

struct Message {
    QByteArray topic, payload;
    int qos;
    bool retain;
};

// The far side: a plain client of the same broker, as a hub or an appliance would be.
class Far {
public:
    // A persistent session when `id` is given: the broker keeps what it subscribed to, and
    // what arrives for it meanwhile, until it connects again.
    Far(quint16 port, const QList<QByteArray> &topics, const QByteArray &id = {})
        : m_client(mosquitto_new(id.isEmpty() ? nullptr : id.constData(), id.isEmpty(), this))
        , m_topics(topics.size())
    {
        mosquitto_max_inflight_messages_set(m_client, 0); // a burst goes out at once
        mosquitto_message_callback_set(
            m_client, [](mosquitto *, void *far, const mosquitto_message *m) {
                static_cast<Far *>(far)->messages.append(
                    {m->topic, QByteArray(static_cast<const char *>(m->payload), m->payloadlen),
                     m->qos, m->retain});
            });
        mosquitto_subscribe_callback_set(m_client,
                                         [](mosquitto *, void *far, int, int, const int *) {
                                             ++static_cast<Far *>(far)->m_subscribed;
                                         });
        m_connected = mosquitto_connect(m_client, "127.0.0.1", port, 30) == MOSQ_ERR_SUCCESS;
        for (const QByteArray &topic : topics)
            mosquitto_subscribe(m_client, nullptr, topic.constData(), 1);
        QObject::connect(&m_loop, &QTimer::timeout, [this] { mosquitto_loop(m_client, 0, 1); });
        m_loop.start(1);
    }
    ~Far()
    {
        mosquitto_disconnect(m_client);
        mosquitto_destroy(m_client);
    }

    bool subscribed()
    {
        return m_connected && runUntil([this] { return m_subscribed == m_topics; }, 5000);
    }
    void publish(const QByteArray &topic, const QByteArray &payload, bool retain = false)
    {
        mosquitto_publish(m_client, nullptr, topic.constData(), int(payload.size()),
                          payload.constData(), 1, retain);
    }
    QList<Message> on(const QByteArray &topic) const
    {
        QList<Message> found;
        for (const Message &message : messages)
            if (message.topic == topic)
                found << message;
        return found;
    }

    QList<Message> messages;

private:
    mosquitto *m_client;
    const int m_topics;
    int m_subscribed = 0;
    bool m_connected = false;
    QTimer m_loop;
};

// What a newcomer to the broker finds retained at `topic`.
inline QList<Message> retainedAt(quint16 port, const QByteArray &topic)
{
    Far far(port, {topic});
    if (far.subscribed())
        runUntil([&] { return !far.messages.isEmpty(); }, 1000);
    return far.messages;
}
