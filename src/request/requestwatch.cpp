#include "requestwatch.h"

#include "requestfile.h"

RequestWatch::RequestWatch(const QString &directory, QObject *parent)
    : QObject(parent)
    , m_directory(directory)
{
    m_watcher.addPath(directory);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this,
            &RequestWatch::mayHaveAppeared);
}

bool RequestWatch::requestPresent() const
{
    return RequestFile(m_directory).exists();
}
