#include "pollcycle.h"

#include "commandbuilder.h"
#include "requestfile.h"

void pollOnce(const QString &directory, StatusSink &sink, Transport &transport,
              const QString &successText)
{
    RequestFile file(directory);
    if (!file.exists())
        return;
    sink.report(QStringLiteral("监测到有人向服务器发送请求，已接受"));

    const auto unreadable = QStringLiteral("请求文件 api.txt 无法读取，本次未发送");
    if (!file.open()) {
        sink.report(unreadable);
        return;
    }
    const std::optional<QString> request = file.readFirstField();
    if (!request) {
        file.close();
        sink.report(unreadable);
        return;
    }
    const bool sent = transport.send(CommandBuilder::buildCommand(*request));
    file.close();
    sink.report(sent ? successText : QStringLiteral("发送失败：") + transport.errorString());
}
