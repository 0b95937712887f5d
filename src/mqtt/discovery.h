#pragma once

#include "mqttsettings.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The relay as a hub's MQTT discovery knows devices (Home Assistant's convention): one device with
// a switch for each appliance word, driven through PREFIX/request and shown from
// PREFIX/state/<word>, and diagnostic entities: the connectivity of each output, the last request
// and command, the commands sent, the start time and the version. What was announced last, the
// outputs' keys included, is kept, retained, at PREFIX/discovery, so that an announcement under
// another discovery prefix, or one no longer wanted, or an output's that is gone, can be
// withdrawn.
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
    // The switches, the diagnostics for the outputs of `outputKeys` and the marker; nothing when
    // discovery is off.
    QList<Message> announcement(const QStringList &outputKeys) const;
    // For what was found at markerTopic(): the withdrawal of an announcement that is no longer
    // this one's, with the marker cleared when discovery is off; under the same discovery
    // prefix, of the connectivity of outputs not among `outputKeys`.
    QList<Message> stale(const QByteArray &marker, const QStringList &outputKeys) const;

    // The withdrawal of the connectivity of outputs that are gone, under the discovery prefix
    // used now, with their retained states cleared.
    QList<Message> gone(const QStringList &outputKeys) const;

private:
    QList<Message> switches(const QString &discoveryPrefix, const QString &node,
                            bool withdraw) const;
    QList<Message> diagnostics(const QString &discoveryPrefix, const QString &node,
                               const QStringList &outputKeys, bool withdraw) const;
    QByteArray markerPayload(const QStringList &outputKeys) const;

    const MqttSettings m_settings;
    const QString m_marker;
    const QString m_node;
};
