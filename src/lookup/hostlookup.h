#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

class QHostInfo;

// Looks a host name up without holding up the event loop, however long the system's resolver
// takes; gives up after a time limit, if one is set, and looks again when asked to.
class HostLookup : public QObject {
    Q_OBJECT

public:
    explicit HostLookup(QObject *parent = nullptr);
    // Gives up what is under way: finished() does not follow.
    ~HostLookup() override;

    // A lookup that takes longer than this finds nothing; none by default.
    void setTimeLimit(int ms);
    // Gives up what is under way and looks `host` up; finished() follows.
    void start(const QString &host);
    // Looks the same host up again `ms` from now.
    void retryIn(int ms);
    // Gives up the lookup under way or the one to come: finished() does not follow.
    void abort();

signals:
    // The host's addresses, from the event loop; none when it was not found in time.
    void finished(const QList<QHostAddress> &addresses);

private:
    void answered(const QHostInfo &info);

    QString m_host;
    int m_id = -1;
    QTimer m_timeLimit;
    QTimer m_retry;
};
