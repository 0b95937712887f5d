#include "neighbours.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>

Neighbours::Neighbours(const MqttSettings &settings)
    : m_topic(settings.topic(QStringLiteral("hello")))
    , m_prefix(settings.prefix)
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
    const QJsonObject other = QJsonDocument::fromJson(payload).object();
    const QString id = other.value(u"client_id"_qs).toString();
    if (id.isEmpty() || id == QString::fromLatin1(m_clientId))
        return {};
    Heard heard;
    if (!other.value(u"answer"_qs).toBool())
        heard.answer = message(true);
    if (!m_met.contains(id)) {
        m_met.insert(id);
        const QString host = other.value(u"host"_qs).toString();
        heard.line = QStringLiteral("另一个 morvane-relay（主机 %1，客户端标识 %2）也在主题前缀 %3 "
                                    "上应答：每个请求都会被执行两次")
                         .arg(host.isEmpty() ? QStringLiteral("未知") : host.left(64), id.left(64),
                              m_prefix);
    }
    return heard;
}
