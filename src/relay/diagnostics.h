#pragma once

#include "relayfacts.h"

#include <QObject>
#include <QString>
#include <QTimer>

class Outputs;

// What the relay tells of itself beside its commands, kept as it goes and handed on from timers,
// never per tick: the facts follow a change within a quarter of a second, at most four times a
// second however many requests come; the health message goes with them at most once every five
// seconds, and goes on every five seconds only while the facts go on changing.
class Diagnostics : public QObject {
    Q_OBJECT

public:
    explicit Diagnostics(const Outputs &outputs, QObject *parent = nullptr);

    // A request was read, from the file or the broker.
    void requested(const QString &request);
    // At least one output took `command`.
    void took(const QString &command);
    // Something the facts hold changed.
    void changed();

    // The facts now, for a link that has none yet: the health message they make counts as
    // published.
    RelayFacts healthNow();

signals:
    // `health`: the health message is due as well.
    void ready(const RelayFacts &facts, bool health);

private:
    // All but the resident memory, which only the health message carries.
    RelayFacts gathered() const;
    void soon();
    void healthDue();

    const Outputs &m_outputs;
    QTimer m_soon;
    QTimer m_health;
    const QDateTime m_started;
    QString m_lastRequest;
    QString m_lastCommand;
    qint64 m_commands = 0;
    RelayFacts m_lastHealth;
};
