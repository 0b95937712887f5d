#pragma once

#include "result.h"

#include <QString>
#include <memory>

struct mosquitto;
struct MqttTlsState;

// TLS under one link: OpenSSL on Linux (mqtttls_openssl.cpp); the Windows build has none
// (mqtttls_windows.cpp).
class MqttTls {
public:
    MqttTls();
    ~MqttTls();

    static bool available();

    // Sets `client` up to speak TLS to `host`, trusting `caFile` or else the system's CA
    // certificates: the certificate must name `host`, which also goes out as the server name
    // (SNI), whatever address the client is handed.
    Result<void> prepare(mosquitto *client, const QString &host, const QString &caFile);

    // While the handshake runs the library moves it on only in mosquitto_loop_read, whichever
    // way the socket is ready.
    bool handshaking(mosquitto *client) const;
    bool handshakeWaitsToRead(mosquitto *client) const;
    // Why the last handshake failed.
    QString failure() const;

private:
    std::unique_ptr<MqttTlsState> d;
};
