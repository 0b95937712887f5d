#include "neighbours.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>

namespace {
constexpr qsizetype LargestGreeting = 512;
constexpr qsizetype LongestHostShown = 64;
constexpr int MostHeardPerSecond = 5;
constexpr qsizetype MostRemembered = 64;
} // namespace

Neighbours::Neighbours(const MqttSettings &settings)
    : m_prefix(settings.prefix)
    , m_clientId(settings.clientId())
{
}

QByteArray Neighbours::message(bool answer) const
{
    return QJsonDocument(QJsonObject{{u"client_id"_qs, QString::fromLatin1(m_clientId)},
                                     {u"host"_qs, QSysInfo::machineHostName()},
                                     {u"answer"_qs, answer}})
        .toJson(QJsonDocument::Compact);
}

Neighbours::Heard Neighbours::heard(const QByteArray &payload)
{
    if (payload.size() > LargestGreeting)
        return {};
    const QJsonObject other = QJsonDocument::fromJson(payload).object();
    const QString id = other.value(u"client_id"_qs).toString();
    if (!MqttSettings::isClientId(id) || id == QString::fromLatin1(m_clientId) ||
        !withinAllowance())
        return {};
    Heard heard;
    if (!other.value(u"answer"_qs).toBool())
        heard.answer = message(true);
    if (m_met.contains(id))
        return heard;
    // Forgotten, the relays met are told of again when they greet, a few a second at most.
    if (m_met.size() >= MostRemembered)
        m_met.clear();
    m_met.insert(id);
    const QString host = other.value(u"host"_qs).toString().left(LongestHostShown);
    heard.line = QStringLiteral("另一个 morvane-relay（主机 %1，客户端标识 %2）也在主题前缀 %3 "
                                "上应答：每个请求都会被执行两次")
                     .arg(host.isEmpty() ? QStringLiteral("未知") : host, id, m_prefix);
    return heard;
}

bool Neighbours::withinAllowance()
{
    if (!m_second.isValid() || m_second.hasExpired(1000)) {
        m_second.start();
        m_heardThisSecond = 0;
    }
    return m_heardThisSecond++ < MostHeardPerSecond;
}
