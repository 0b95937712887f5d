#pragma once

#include "relaylog.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

// The lines that come with each request: told one by one up to a few a second; past that, one
// line a second with how many more came, the first and the last of them, and their commands, so
// that a flood of requests does not flood the log. Failures do not pass through here: each is told.
class RequestEvents : public QObject {
    Q_OBJECT

public:
    explicit RequestEvents(RelayLog &log, QObject *parent = nullptr);

    // `line` tells of `request`, whose command is `command` (empty: none).
    void told(const QString &line, const QString &request, const QString &command);

private:
    void summarise();

    RelayLog &m_log;
    QTimer m_second;
    int m_told = 0; // this second
    int m_untold = 0;
    QString m_first, m_last;
    QMap<QString, int> m_commands;
};

// The line that tells of the request file's `request` and its `command` (empty: none): the
// `first` of a request served, or a change of its command.
QString requestLine(bool first, const QString &request, const QString &command);
// The line that tells of the request going away after `milliseconds`, with the outputs' `tallies`.
QString withdrawnLine(qint64 milliseconds, const QStringList &tallies);
