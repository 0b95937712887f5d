#pragma once

#include "mqttsettings.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <optional>

// Other relays answering on the same prefix, each of which would carry out every request again.
// Every relay greets at PREFIX/hello on connecting, and answers the greeting of one it has not met.
class Neighbours {
public:
    explicit Neighbours(const MqttSettings &settings);

    QString topic() const { return m_topic; }
    // What this relay says on connecting.
    QByteArray greeting() const { return message(false); }
    // What came at topic(): the answer to give, if any, and the line to log for a relay met for
    // the first time.
    struct Heard {
        QByteArray answer;
        QString line;
    };
    Heard heard(const QByteArray &payload);

private:
    QByteArray message(bool answer) const;

    const QString m_topic;
    const QString m_prefix;
    const QByteArray m_clientId;
    QSet<QString> m_met;
};
