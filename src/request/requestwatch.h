#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>

// Tells a poller when "api.txt" may have appeared in a directory, so that it can rest while the
// file is absent instead of looking for it every millisecond.
class RequestWatch : public QObject {
    Q_OBJECT

public:
    explicit RequestWatch(const QString &directory, QObject *parent = nullptr);

    // False where the system cannot watch the directory: then there is no telling when to wake.
    bool isWatching() const { return !m_watcher.directories().isEmpty(); }

signals:
    // Something was created, removed, renamed or changed in the directory.
    void mayHaveAppeared();

private:
    QFileSystemWatcher m_watcher;
};
