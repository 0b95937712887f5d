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

RelayFacts Diagnostics::facts() const
{
    RelayFacts facts = gathered();
    facts.residentBytes = residentMemory();
    return facts;
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

void Diagnostics::soon()
{
    RelayFacts now = gathered();
    const bool health = !m_health.isActive();
    if (health) {
        now.residentBytes = residentMemory();
        m_lastHealth = now;
        m_health.start();
    } else {
        m_healthOwed = true;
    }
    emit ready(now, health);
}

void Diagnostics::healthDue()
{
    RelayFacts now = gathered();
    if (!m_healthOwed && now.sameAs(m_lastHealth))
        return;
    now.residentBytes = residentMemory();
    m_healthOwed = false;
    m_lastHealth = now;
    m_health.start();
    emit ready(now, true);
}
