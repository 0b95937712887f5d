#include "pollcycle.h"

#include "commandbuilder.h"

PollResult pollOnce(const QString &directory, StatusSink &sink, Transport &transport,
                    const QString &successText)
{
    return PollCycle(directory).run(sink, transport, successText);
}

PollCycle::PollCycle(const QString &directory, QStringView fileName)
    : m_file(directory, fileName)
{
}

PollResult PollCycle::run(StatusSink &sink, Transport &transport, const QString &successText)
{
    if (!m_file.exists())
        return PollResult::Absent;
    sink.report(QStringLiteral("监测到有人向服务器发送请求，已接受"));

    const std::optional<QByteArrayView> field =
        m_file.open() ? m_file.readFirstFieldBytes() : std::nullopt;
    if (!field) {
        m_file.close();
        sink.report(QStringLiteral("请求文件 api.txt 无法读取，本次未发送"));
        return PollResult::Unreadable;
    }
    if (!m_field || *m_field != *field) {
        m_field = field->toByteArray();
        m_request = RequestFile::decode(*field);
        m_command = CommandBuilder::buildCommand(m_request);
    }
    const bool sent = transport.send(m_command);
    m_file.close();
    if (!sent) {
        sink.report(QStringLiteral("发送失败：") + transport.errorString());
        return PollResult::SendFailed;
    }
    sink.report(successText);
    return PollResult::Sent;
}
