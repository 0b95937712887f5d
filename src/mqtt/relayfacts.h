#pragma once

#include <QDateTime>
#include <QString>
#include <vector>

// What the relay tells of itself on the broker: the hub's diagnostic entities and the health
// message are made from it.
struct OutputFacts {
    // Stable across restarts and across other outputs coming and going: "serial", or "udp_" and
    // the destination's host:port in hex.
    QString key;
    QString name; // as the log names the output
    bool serial = false;
    // A UDP destination resolved and its last datagram taken by the kernel; the serial line open
    // and its last write taken.
    bool connected = false;
    qint64 sends = 0;   // commands the output took since the start
    qint64 skipped = 0; // ticks skipped while the line was busy
    qint64 failures = 0;
    QString lastFailure;

    static QString serialKey();
    static QString udpKey(const QString &host, quint16 port);
    // Only what the relay makes: a marker from elsewhere must not name other topics.
    static bool isKey(const QString &key);
    // From the key alone, so that the name stays when the serial line moves to another device.
    static QString nameOf(const QString &key);

    bool operator==(const OutputFacts &other) const
    {
        return key == other.key && name == other.name && connected == other.connected &&
               sends == other.sends && skipped == other.skipped && failures == other.failures &&
               lastFailure == other.lastFailure;
    }
};

struct RelayFacts {
    QDateTime started; // UTC
    QString version;
    QString lastRequest; // the last request read, whatever became of it
    QString lastCommand; // the last command at least one output took
    qint64 commands = 0; // commands at least one output took since the start
    std::vector<OutputFacts> outputs;
    // Not a change on its own: it moves a little all the time.
    qint64 residentBytes = 0;

    // Equal but for the resident memory.
    bool sameAs(const RelayFacts &other) const
    {
        return started == other.started && version == other.version &&
               lastRequest == other.lastRequest && lastCommand == other.lastCommand &&
               commands == other.commands && outputs == other.outputs;
    }
};
