#pragma once

#include "mqttsettings.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QSet>
#include <QString>

// Other relays answering on the same prefix, each of which would carry out every request again.
// Every relay greets at PREFIX/hello on connecting, and answers the greeting of one it has not met.
// Anyone may publish there: only greetings of the shape relays send are heard, a few a second at
// most, and only 64 relays are remembered, so that a flood of them costs neither memory
// nor the log.
class Neighbours {
public:
    explicit Neighbours(const MqttSettings &settings);

    // What this relay says on connecting.
    QByteArray greeting() const { return message(false); }
    // What came at PREFIX/hello: the answer to give, if any, and the line to log for a relay met
    // for the first time.
    struct Heard {
        QByteArray answer;
        QString line;
    };
    Heard heard(const QByteArray &payload);

private:
    QByteArray message(bool answer) const;
    bool withinAllowance();

    const QString m_prefix;
    const QByteArray m_clientId;
    QSet<QString> m_met;
    QElapsedTimer m_second;
    int m_heardThisSecond = 0;
};
