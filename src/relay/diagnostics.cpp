#include "diagnostics.h"

#include "outputs.h"
#include "residentmemory.h"

namespace {
constexpr int SoonMs = 250;
constexpr int HealthMs = 5000;
} // namespace

Diagnostics::Diagnostics(const Outputs &outputs, QObject *parent)
    : QObject(parent)
    , m_outputs(outputs)
    , m_started(QDateTime::currentDateTimeUtc())
{
    m_soon.setSingleShot(true);
    m_soon.setInterval(SoonMs);
    m_health.setSingleShot(true);
    m_health.setInterval(HealthMs);
    connect(&m_soon, &QTimer::timeout, this, &Diagnostics::soon);
    connect(&m_health, &QTimer::timeout, this, &Diagnostics::healthDue);
}

void Diagnostics::requested(const QString &request)
{
    m_lastRequest = request;
    changed();
}

void Diagnostics::took(const QString &command)
{
    m_lastCommand = command;
    ++m_commands;
    changed();
}

// Under a flood of requests the timer is running already: nothing is done but the test.
void Diagnostics::changed()
{
    if (!m_soon.isActive())
        m_soon.start();
}

RelayFacts Diagnostics::healthNow()
{
    m_lastHealth = gathered();
    m_lastHealth.residentBytes = residentMemory();
    m_health.start();
    return m_lastHealth;
}

RelayFacts Diagnostics::gathered() const
{
    RelayFacts facts;
    facts.started = m_started;
    facts.version = QStringLiteral(MORVANE_VERSION);
    facts.lastRequest = m_lastRequest;
    facts.lastCommand = m_lastCommand;
    facts.commands = m_commands;
    facts.outputs = m_outputs.facts();
    return facts;
}

// While the health message waits, healthDue() sees to it.
void Diagnostics::soon()
{
    if (!m_health.isActive()) {
        emit ready(healthNow(), true);
        return;
    }
    emit ready(gathered(), false);
}

// Quiet once the facts stay as the last health message told them.
void Diagnostics::healthDue()
{
    if (gathered().sameAs(m_lastHealth))
        return;
    emit ready(healthNow(), true);
}
