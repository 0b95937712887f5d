#include "pollcycle.h"

#include "commandbuilder.h"
#include "requestfile.h"

PollResult pollOnce(const QString &directory, StatusSink &sink, Transport &transport,
                    const QString &successText)
{
    RequestFile file(directory);
    return pollOnce(file, sink, transport, successText);
}

PollResult pollOnce(RequestFile &file, StatusSink &sink, Transport &transport,
                    const QString &successText)
{
    if (!file.exists())
        return PollResult::Absent;
    sink.report(QStringLiteral("监测到有人向服务器发送请求，已接受"));

    const std::optional<QString> request =
        file.open() ? file.readFirstField() : std::optional<QString>();
    if (!request) {
        file.close();
        sink.report(QStringLiteral("请求文件 api.txt 无法读取，本次未发送"));
        return PollResult::Unreadable;
    }
    const bool sent = transport.send(CommandBuilder::buildCommand(*request));
    file.close();
    if (!sent) {
        sink.report(QStringLiteral("发送失败：") + transport.errorString());
        return PollResult::SendFailed;
    }
    sink.report(successText);
    return PollResult::Sent;
}
