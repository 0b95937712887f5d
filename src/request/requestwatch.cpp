#include "requestwatch.h"

RequestWatch::RequestWatch(const QString &directory, QObject *parent)
    : QObject(parent)
{
    m_watcher.addPath(directory);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this,
            &RequestWatch::mayHaveAppeared);
}
