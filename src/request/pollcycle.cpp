#include "pollcycle.h"

#include "commandbuilder.h"

#include <utility>

PollCycle::PollCycle(const QString &directory, QStringView fileName)
    : m_file(directory, fileName)
{
}

PollEvent PollCycle::run(Transport &transport)
{
    PollEvent event;
    if (!m_file.exists()) {
        m_fresh = true;
        return event;
    }
    const std::optional<QByteArrayView> field =
        m_file.open() ? m_file.readFirstFieldBytes() : std::nullopt;
    if (!field) {
        m_file.close();
        event.outcome = PollEvent::Outcome::Unreadable;
        return event;
    }
    event.commandChanged = std::exchange(m_fresh, false);
    if (!m_field || *m_field != *field) {
        m_field = field->toByteArray();
        m_request = RequestFile::decode(*field);
        QString command = CommandBuilder::buildCommand(m_request);
        event.commandChanged |= command != m_command;
        m_command = std::move(command);
    }
    event.request = m_request;
    event.command = m_command;

    const Result<Delivery> delivery = transport.send(m_command);
    m_file.close();
    if (!delivery) {
        event.outcome = PollEvent::Outcome::Failed;
        event.reason = delivery.error();
    } else {
        event.outcome =
            *delivery == Delivery::Busy ? PollEvent::Outcome::Busy : PollEvent::Outcome::Sent;
    }
    return event;
}
