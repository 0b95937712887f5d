#include "supervisor.h"

Supervisor::Supervisor(QObject *parent)
    : QObject(parent)
{
}

Supervisor::~Supervisor() = default;

void Supervisor::ready()
{
}

void Supervisor::reloading()
{
}

void Supervisor::stopping()
{
}

void Supervisor::status(const QString &)
{
}
