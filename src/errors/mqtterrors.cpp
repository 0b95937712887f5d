#include "mqtterrors.h"

#include "errors.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

QString Errors::mqttLibrary(int rc, int error)
{
    switch (rc) {
    case MOSQ_ERR_ERRNO:
        return Errors::system(error);
    case MOSQ_ERR_SUCCESS:
    case MOSQ_ERR_CONN_LOST:
        return QStringLiteral("服务器关闭了连接");
    case MOSQ_ERR_CONN_REFUSED:
        return refused();
    case MOSQ_ERR_KEEPALIVE:
        return QStringLiteral("服务器无响应");
    case MOSQ_ERR_NOMEM:
        return QStringLiteral("内存不足");
    }
    return QStringLiteral("协议错误（代码 %1）").arg(rc);
}

QString Errors::mqttRefusal(int code)
{
    switch (code) {
    case CONNACK_REFUSED_PROTOCOL_VERSION:
    case MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION:
        return QStringLiteral("服务器不支持此协议版本");
    case CONNACK_REFUSED_IDENTIFIER_REJECTED:
    case MQTT_RC_CLIENTID_NOT_VALID:
        return QStringLiteral("客户端标识被拒绝");
    case CONNACK_REFUSED_SERVER_UNAVAILABLE:
    case MQTT_RC_SERVER_UNAVAILABLE:
    case MQTT_RC_SERVER_BUSY:
        return QStringLiteral("服务器暂不可用");
    case CONNACK_REFUSED_BAD_USERNAME_PASSWORD:
    case MQTT_RC_BAD_USERNAME_OR_PASSWORD:
        return QStringLiteral("用户名或密码错误");
    case CONNACK_REFUSED_NOT_AUTHORIZED:
    case MQTT_RC_NOT_AUTHORIZED:
        return QStringLiteral("未获授权（请检查用户名和密码）");
    }
    return QStringLiteral("代码 %1").arg(code);
}

QString Errors::tlsHandshake()
{
    return QStringLiteral("TLS 握手失败");
}

QString Errors::mqttTakenOver(const QString &clientId, const QString &where, int seconds)
{
    return QStringLiteral(
               "另一个客户端以相同的客户端标识 %1 连接了 MQTT 服务器 %2，把本机挤了下来："
               "两个 morvane-relay 不能用同一个标识（请用 --instance 或 "
               "--mqtt-client-id 区分），%3 秒后再连")
        .arg(clientId, where)
        .arg(seconds);
}
