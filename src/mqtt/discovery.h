#pragma once

#include "mqttsettings.h"
#include "mqtttopics.h"

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

    // The switches, the diagnostics for the outputs of `outputKeys` and the marker; nothing when
    // discovery is off.
    QList<Message> announcement(const QStringList &outputKeys) const;
    // For a marker the broker kept at PREFIX/discovery: the withdrawal of this relay's switches
    // and diagnostics under the discovery prefix it names, where that is not the one used now,
    // with the marker cleared when discovery is off; under the prefix used now, of the
    // connectivity of the outputs it names that are not among `outputKeys`. Nothing for a marker
    // the relay cannot tell for its own (its node, a prefix it could have used, keys it makes), so
    // that no other client can have it withdraw another relay's switches, its own current ones or
    // any other retained message.
    QList<Message> withdrawal(const QByteArray &marker, const QStringList &outputKeys) const;
    // The withdrawal of the connectivity of outputs that are gone, under the discovery prefix
    // used now, with their retained states cleared.
    QList<Message> gone(const QStringList &outputKeys) const;

private:
    QList<Message> switches(const QString &discoveryPrefix, bool withdraw) const;
    QList<Message> diagnostics(const QString &discoveryPrefix, const QStringList &outputKeys,
                               bool withdraw) const;
    QByteArray markerPayload(const QStringList &outputKeys) const;

    const MqttSettings m_settings;
    const MqttTopics m_topics;
    const QString m_node;
};
