#include "requestwatch.h"

#include <QDir>
#include <QFileInfo>

RequestWatch::RequestWatch(const QString &directory, QStringView fileName, QObject *parent)
    : QObject(parent)
{
    QStringList directories{QDir::cleanPath(directory)};
    const QString target = QFileInfo(directory + u'/' + fileName.toString()).symLinkTarget();
    if (!target.isEmpty())
        directories << QDir::cleanPath(QFileInfo(target).absolutePath());
    directories.removeDuplicates();
    m_watching = m_watcher.addPaths(directories).isEmpty();
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this,
            &RequestWatch::mayHaveAppeared);
}
