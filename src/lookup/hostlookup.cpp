#include "hostlookup.h"

#include <QHostInfo>
#include <utility>

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

HostLookup::~HostLookup()
{
    abort();
}

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

void HostLookup::abort()
{
    m_timeLimit.stop();
    m_retry.stop();
    if (m_id >= 0)
        QHostInfo::abortHostLookup(std::exchange(m_id, -1));
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
