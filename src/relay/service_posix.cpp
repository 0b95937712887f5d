#include "service.h"

#include "console.h"

int Service::run(int argc, char *argv[], int (*relay)(int, char *[]))
{
    return relay(argc, argv);
}

QString Service::requestFile(const QString &beside)
{
    return beside;
}

RelayLog::Writer Service::logWriter()
{
    return {};
}

void Service::print(std::FILE *stream, const QString &text)
{
    writeText(stream, text);
}

Result<QString> Service::act(const QString &, const QString &)
{
    return Failure(QStringLiteral("--service 只用于 Windows；在 Linux 上由 systemd 管理："
                                  "systemctl enable --now morvane-relay"));
}
