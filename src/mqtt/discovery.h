#pragma once

#include "mqttsettings.h"
#include "mqtttopics.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The relay as a hub's MQTT discovery knows devices (Home Assistant's convention): one device with
// a switch for each appliance word, driven through PREFIX/request and shown from
// PREFIX/state/<word>. What was announced last is kept, retained, at PREFIX/discovery, so that an
// announcement under another discovery prefix, or one no longer wanted, can be withdrawn.
class Discovery {
public:
    explicit Discovery(const MqttSettings &settings);

    struct Message {
        QString topic;
        QByteArray payload; // retained; empty withdraws
    };

    // The switches and the marker; nothing when discovery is off.
    QList<Message> announcement() const;
    // For a marker the broker kept at PREFIX/discovery: the withdrawal of this relay's switches
    // under the discovery prefix it names, where that is not the one used now, with the marker
    // cleared when discovery is off. Nothing for a marker the relay cannot tell for its own (its
    // node, a prefix it could have used), so that no other client can have it withdraw another
    // relay's switches, its own current ones or any other retained message.
    QList<Message> withdrawal(const QByteArray &marker) const;

private:
    QList<Message> switches(const QString &discoveryPrefix, bool withdraw) const;
    QByteArray markerPayload() const;

    const MqttSettings m_settings;
    const MqttTopics m_topics;
    const QString m_node;
};
