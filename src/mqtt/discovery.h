#pragma once

#include "mqttsettings.h"

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

    // Where the relay learns what it announced last; and where the hub says it is back, to be
    // told again (empty when discovery is off).
    QString markerTopic() const { return m_marker; }
    QString hubStatusTopic() const;
    // The switches and the marker; nothing when discovery is off.
    QList<Message> announcement() const;
    // For what was found at markerTopic(): the withdrawal of an announcement that is no longer
    // this one's, with the marker cleared when discovery is off.
    QList<Message> stale(const QByteArray &marker) const;

private:
    QList<Message> switches(const QString &discoveryPrefix, const QString &node,
                            bool withdraw) const;
    QByteArray markerPayload() const;

    const MqttSettings m_settings;
    const QString m_marker;
    const QString m_node;
};
