#include "mqtttls.h"

#include <winsock2.h>

// The Windows build of libmosquitto has no TLS: plain TCP only. Its errno holds Windows socket
// errors (WSAGetLastError) after a failed system call.
struct MqttTlsState {};

MqttTls::MqttTls() = default;
MqttTls::~MqttTls() = default;

bool MqttTls::available()
{
    return false;
}

QString MqttTls::socketReason(int error)
{
    switch (error) {
    case WSAECONNREFUSED:
        return QStringLiteral("连接被拒绝");
    case WSAETIMEDOUT:
        return QStringLiteral("连接超时");
    case WSAENETUNREACH:
    case WSAENETDOWN:
    case WSAEHOSTUNREACH:
        return QStringLiteral("网络不可达");
    case WSAECONNRESET:
        return QStringLiteral("连接被重置");
    case WSAECONNABORTED:
        return QStringLiteral("连接被中止");
    case WSAENOTCONN:
        return QStringLiteral("无法建立连接");
    }
    return QStringLiteral("系统错误 %1").arg(error);
}

QString MqttTls::prepare(mosquitto *, const QString &, const QString &)
{
    return QStringLiteral("本版本不支持 TLS");
}

bool MqttTls::handshaking(mosquitto *) const
{
    return false;
}

bool MqttTls::handshakeWaitsToRead(mosquitto *) const
{
    return false;
}

int MqttTls::connectError(int socket)
{
    int error = 0;
    int size = sizeof error;
    if (getsockopt(SOCKET(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &size) !=
        0)
        return WSAGetLastError();
    return error;
}

QString MqttTls::failure() const
{
    return QStringLiteral("TLS 握手失败");
}
