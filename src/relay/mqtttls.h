#pragma once

#include <QString>
#include <memory>

struct mosquitto;
struct MqttTlsState;

// What differs between the platforms under one link: TLS (OpenSSL on Linux, none in the Windows
// build) and the wording of socket errors (mqtttls_openssl.cpp, mqtttls_windows.cpp).
class MqttTls {
public:
    MqttTls();
    ~MqttTls();

    static bool available();
    // Chinese reason for a system error number as the library reports it (errno, or a Windows
    // socket error).
    static QString socketReason(int error);

    // Sets `client` up to speak TLS to `host`, trusting `caFile` or else the system's CA
    // certificates: the certificate must name `host`, which also goes out as the server name
    // (SNI), whatever address the client is handed. Empty when done, else why not.
    QString prepare(mosquitto *client, const QString &host, const QString &caFile);
    // While the handshake runs the library moves it on only in mosquitto_loop_read, whichever
    // way the socket is ready; and a connection refused beneath it it would retry for ever.
    bool handshaking(mosquitto *client) const;
    bool handshakeWaitsToRead(mosquitto *client) const;
    // The error of a TCP connection that failed under the handshake, 0 if none.
    int connectError(mosquitto *client) const;
    // Why the last handshake failed.
    QString failure() const;

private:
    std::unique_ptr<MqttTlsState> d;
};
