#pragma once

#include "requestfile.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QStringView>

// Tells a poller when "api.txt" may have appeared in a directory, so that it can rest while the
// file is absent instead of looking for it every millisecond. Where "api.txt" is a link to a file
// kept elsewhere (as in an installed program, whose own directory nobody may write to), the
// directory the link points into is watched as well.
class RequestWatch : public QObject {
    Q_OBJECT

public:
    explicit RequestWatch(const QString &directory, QStringView fileName = RequestFile::Name,
                          QObject *parent = nullptr);

    // False where the system cannot watch every directory involved: then there is no telling
    // when to wake.
    bool isWatching() const { return m_watching; }

signals:
    // Something was created, removed, renamed or changed in a watched directory.
    void mayHaveAppeared();

private:
    QFileSystemWatcher m_watcher;
    bool m_watching = false;
};
