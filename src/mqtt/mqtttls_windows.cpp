#include "mqtttls.h"

#include "mqtterrors.h"

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
    return Failure(Errors::tlsUnsupported());
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
    return Errors::tlsHandshake();
}
