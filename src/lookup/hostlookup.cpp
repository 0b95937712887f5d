#include "hostlookup.h"

#include <QHostInfo>

HostLookup::HostLookup(QObject *parent)
    : QObject(parent)
{
    m_timeLimit.setSingleShot(true);
    m_retry.setSingleShot(true);
    connect(&m_timeLimit, &QTimer::timeout, this, [this] {
        abort();
        emit finished({});
    });
    connect(&m_retry, &QTimer::timeout, this, [this] { start(m_host); });
}

HostLookup::~HostLookup() = default;

void HostLookup::setTimeLimit(int ms)
{
    m_timeLimit.setInterval(ms);
}

void HostLookup::start(const QString &host)
{
    abort();
    m_host = host;
    m_id = QHostInfo::lookupHost(host, this, &HostLookup::answered);
    if (m_timeLimit.interval() > 0)
        m_timeLimit.start();
}

void HostLookup::retryIn(int ms)
{
    m_retry.start(ms);
}

// The resolver is left to finish, and its answer is dropped: Qt's own abort leaks the slot of a
// lookup it takes out of its queue. Gone with the lookup, the answer is never delivered.
void HostLookup::abort()
{
    m_timeLimit.stop();
    m_retry.stop();
    m_id = -1;
}

void HostLookup::answered(const QHostInfo &info)
{
    // An answer already on its way when the lookup was given up comes all the same.
    if (info.lookupId() != m_id)
        return;
    m_id = -1;
    m_timeLimit.stop();
    emit finished(info.error() == QHostInfo::NoError ? info.addresses() : QList<QHostAddress>());
}
