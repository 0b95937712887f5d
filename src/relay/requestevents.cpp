#include "requestevents.h"

namespace {
constexpr int OneByOne = 5; // lines a second
}

RequestEvents::RequestEvents(RelayLog &log, QObject *parent)
    : QObject(parent)
    , m_log(log)
{
    m_second.setInterval(1000);
    connect(&m_second, &QTimer::timeout, this, &RequestEvents::summarise);
}

void RequestEvents::told(const QString &line, const QString &request, const QString &command)
{
    if (!m_second.isActive())
        m_second.start();
    if (m_told < OneByOne) {
        ++m_told;
        m_log.event(line);
        return;
    }
    if (m_untold++ == 0)
        m_first = request;
    m_last = request;
    ++m_commands[command.isEmpty() ? QStringLiteral("（空）") : command];
}

void RequestEvents::summarise()
{
    m_told = 0;
    if (m_untold == 0) {
        m_second.stop();
        return;
    }
    QStringList commands;
    for (auto it = m_commands.cbegin(); it != m_commands.cend(); ++it)
        commands << QStringLiteral("%1 %2 次").arg(it.key()).arg(it.value());
    m_log.event(QStringLiteral("1 秒内另有 %1 个请求（第一个“%2”，最后一个“%3”），命令：%4")
                    .arg(m_untold)
                    .arg(shown(m_first), shown(m_last), commands.join(QStringLiteral("、"))));
    m_untold = 0;
    m_commands.clear();
}

QString requestLine(bool first, const QString &request, const QString &command)
{
    if (first)
        return command.isEmpty()
                   ? QStringLiteral("收到请求“%1”：其中没有家电名称或开关词，命令为空，什么也不发")
                         .arg(request)
                   : QStringLiteral("收到请求“%1”，命令“%2”").arg(request, command);
    return command.isEmpty()
               ? QStringLiteral("命令改为空（请求“%1”中没有家电名称或开关词），什么也不发")
                     .arg(request)
               : QStringLiteral("命令改为“%1”（请求“%2”）").arg(command, request);
}

QString withdrawnLine(qint64 milliseconds, const QStringList &tallies)
{
    return QStringLiteral("请求已撤走：持续 %1 秒，%2")
        .arg(seconds(milliseconds), tallies.join(QStringLiteral("，")));
}
