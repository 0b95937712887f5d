#pragma once

#include "gbk.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>
#include <optional>
#include <vector>

// One thing the appliance side received: a command such as 「空调=启动」, or bytes that are not
// one.
struct Received {
    QString command;
    QByteArray unparsed;

    bool isCommand() const { return !command.isEmpty(); }
};

// A command taken apart: the appliance word it names, and whether it switches it on.
struct CommandParts {
    QStringView appliance;
    bool on = false;
};

// Reads commands as the server sends them: one per datagram, or back to back on a serial line
// with nothing between them. The serial stream is cut after each "=启动" or "=关闭"; a piece is a
// command when an appliance word comes right before that ending. Bytes that are not part of a
// command are handed back as they are, never dropped.
class CommandSplitter {
public:
    CommandSplitter();

    // An appliance word followed by "=启动" or "=关闭", taken apart; nothing for anything else.
    static std::optional<CommandParts> parts(QStringView command);

    QList<Received> datagram(QByteArrayView bytes) const;

    QList<Received> feed(QByteArrayView bytes);
    // Hands back what is still waiting for an ending: for a line gone quiet, or at the end.
    QList<Received> flush();
    bool hasPending() const { return !m_pending.isEmpty(); }

    // Longer than any command: bytes that have waited this long without an ending are not one.
    // Also the most bytes one unparsed piece holds.
    static constexpr qsizetype MaxPending = 64;

private:
    qsizetype endingAt(qsizetype *length) const;
    qsizetype deviceBefore(QByteArrayView body) const;
    void take(QByteArrayView piece, qsizetype endingLength, QList<Received> &out) const;
    Received command(QByteArrayView bytes) const;
    static void unparsed(QByteArrayView bytes, QList<Received> &out);

    Gbk m_gbk;
    QByteArray m_on;
    QByteArray m_off;
    std::vector<QByteArray> m_devices;
    qsizetype m_longestCommand = 0;
    QByteArray m_pending;
};
