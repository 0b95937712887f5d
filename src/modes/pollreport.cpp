#include "pollreport.h"

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
