#include "mqtttls.h"

// The Windows build of libmosquitto has no TLS: plain TCP only.
struct MqttTlsState {};

MqttTls::MqttTls() = default;
MqttTls::~MqttTls() = default;

bool MqttTls::available()
{
    return false;
}

Result<void> MqttTls::prepare(mosquitto *, const QString &, const QString &)
{
    return Failure(QStringLiteral("本版本不支持 TLS"));
}

bool MqttTls::handshaking(mosquitto *) const
{
    return false;
}

bool MqttTls::handshakeWaitsToRead(mosquitto *) const
{
    return false;
}

QString MqttTls::failure() const
{
    return QStringLiteral("TLS 握手失败");
}
