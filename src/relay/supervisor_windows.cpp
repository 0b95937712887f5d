#include "supervisor.h"

#include "servicecontrol_windows.h"

Supervisor::Supervisor(QObject *parent)
    : QObject(parent)
{
    ServiceControl::attach(this);
}

Supervisor::~Supervisor()
{
    ServiceControl::attach(nullptr);
}

// Whether a reload took is in the Event Log.
void Supervisor::ready(bool)
{
    ServiceControl::report(SERVICE_RUNNING);
}

// The Service Control Manager knows no reloading: the service stays running meanwhile.
void Supervisor::reloading()
{
}

void Supervisor::stopping()
{
    ServiceControl::report(SERVICE_STOP_PENDING);
}

// Nor a line of status: what the service does is in the Event Log.
void Supervisor::status(const QString &)
{
}

Result<void> Supervisor::askToReload(qint64)
{
    return Failure(QStringLiteral("--reload 用于 systemd；Windows 服务用 --service reload"));
}
