#include "clientidlock.h"

Result<void> holdClientId(ClientIdLock &lock, const std::optional<MqttSettings> &settings)
{
    if (!settings) {
        lock.release();
        return {};
    }
    const QByteArray id = settings->clientId();
    if (lock.take(id))
        return {};
    return Failure(
        QStringLiteral("本机上另一个 morvane-relay 已在用 MQTT 客户端标识 %1（主题前缀 %2），"
                       "两个会在服务器上互相挤掉：请用 --instance 名字（配置文件中 "
                       "instance=）给每一个不同的实例名")
            .arg(QString::fromLatin1(id), settings->prefix));
}
