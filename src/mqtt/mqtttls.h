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
    // The error of a connection that failed while it was being made, 0 if none: the library
    // would retry one that failed beneath a TLS handshake for ever.
    static int connectError(int socket);

    // While the handshake runs the library moves it on only in mosquitto_loop_read, whichever
    // way the socket is ready.
    bool handshaking(mosquitto *client) const;
    bool handshakeWaitsToRead(mosquitto *client) const;
    // Why the last handshake failed.
    QString failure() const;

private:
    std::unique_ptr<MqttTlsState> d;
};
