#include "pollcycle.h"

#include "commandbuilder.h"

#include <utility>

void reportPoll(const PollEvent &event, StatusSink &sink, const QString &successText)
{
    using Outcome = PollEvent::Outcome;
    if (event.outcome == Outcome::Absent)
        return;
    sink.report(QStringLiteral("监测到有人向服务器发送请求，已接受"));
    if (event.outcome == Outcome::Unreadable)
        sink.report(QStringLiteral("请求文件 api.txt 无法读取，本次未发送"));
    else if (event.outcome == Outcome::Failed)
        sink.report(QStringLiteral("发送失败：") + event.reason);
    else if (event.outcome == Outcome::Busy)
        sink.report(QStringLiteral("发送失败：串口忙，本次未发送"));
    else
        sink.report(successText);
}

PollEvent pollOnce(const QString &directory, StatusSink &sink, Transport &transport,
                   const QString &successText)
{
    const PollEvent event = PollCycle(directory).run(transport);
    reportPoll(event, sink, successText);
    return event;
}

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
