#include "relaylog.h"

#include "console.h"

namespace {
constexpr qint64 FirstGap = 1000;
constexpr qint64 LongestGap = 60000;
constexpr qsizetype LongestShown = 60;
} // namespace

RelayLog::RelayLog(bool quiet, Writer writer)
    : m_quiet(quiet)
    , m_writer(writer ? std::move(writer) : [](const QString &line, bool) {
        writeText(stderr, timeStamp() + QStringLiteral("  ") + line + u'\n');
    })
{
    m_clock.start();
}

void RelayLog::event(const QString &line)
{
    if (!m_quiet)
        m_writer(escaped(line), false);
}

void RelayLog::failure(const QString &line)
{
    m_writer(escaped(line), true);
}

void Failures::failed(const QString &what, const QString &reason)
{
    const qint64 now = m_log.now();
    if (m_since < 0) {
        m_since = now;
        m_count = 0;
        m_gap = FirstGap;
    }
    ++m_count;
    if (m_count == 1 || reason != m_reason) {
        m_reason = reason;
        m_toldAt = now;
        m_untold = 0;
        m_log.failure(what + u'：' + reason);
        return;
    }
    ++m_untold;
    if (now - m_toldAt >= m_gap) {
        m_log.failure(QStringLiteral("%1：%2（%3 秒内又 %4 次）")
                          .arg(what, reason, seconds(now - m_toldAt))
                          .arg(m_untold));
        m_toldAt = now;
        m_untold = 0;
        m_gap = qMin(2 * m_gap, LongestGap);
    }
}

void Failures::ended(const QString &who)
{
    m_log.failure(QStringLiteral("%1 已恢复：%2 秒内失败 %3 次")
                      .arg(who, seconds(m_log.now() - m_since))
                      .arg(m_count));
    m_since = -1;
}

QString shown(const QString &text)
{
    return text.size() > LongestShown
               ? text.first(LongestShown) + QStringLiteral("…（共 %1 字）").arg(text.size())
               : text;
}

QString seconds(qint64 milliseconds)
{
    return QString::number(milliseconds / 1000.0, 'f', milliseconds < 10000 ? 3 : 1);
}
