#include "mqttrequest.h"

#include "commandbuilder.h"
#include "relaylog.h"
#include "requestfile.h"

#include <QStringDecoder>

Result<MqttRequest> mqttRequest(const QByteArray &payload)
{
    if (payload.size() > RequestFile::MaxBytes)
        return Failure(QStringLiteral("MQTT 上的请求有 %1 字节，超过 %2 字节，已丢弃")
                           .arg(payload.size())
                           .arg(RequestFile::MaxBytes));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString whole = utf8(payload);
    const QByteArrayView field = *RequestFile::firstField(payload, true);
    const QString request = utf8.hasError() ? RequestFile::decode(field) : QString::fromUtf8(field);
    const QString command = CommandBuilder::buildCommand(request);
    if (command.isEmpty())
        return Failure(
            QStringLiteral("MQTT 上的请求“%1”中没有家电名称或开关词，已丢弃").arg(shown(request)));
    return MqttRequest{request, command};
}
