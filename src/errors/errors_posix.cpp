#include "errors.h"

#include <cerrno>
#include <sys/socket.h>

QString Errors::serialPermissionAdvice()
{
    return QStringLiteral("（普通用户须在 dialout 组中）");
}

QString Errors::system(int error)
{
    switch (error) {
    case ECONNREFUSED:
        return refused();
    case ETIMEDOUT:
        return QStringLiteral("连接超时");
    case ENETUNREACH:
    case ENETDOWN:
    case EHOSTUNREACH:
        return QStringLiteral("网络不可达");
    case ECONNRESET:
    case EPIPE:
        return QStringLiteral("连接被重置");
    case ECONNABORTED:
        return QStringLiteral("连接被中止");
    case ESRCH:
        return QStringLiteral("没有这个进程");
    case EPERM:
        return QStringLiteral("权限不足");
    }
    return QStringLiteral("系统错误 %1").arg(error);
}

Result<void> Errors::connecting(qintptr socket)
{
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(int(socket), SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        return Failure(system(errno));
    if (error)
        return Failure(system(error));
    // A connection that failed before anyone looked has already given its error away (to the
    // first write of a TLS handshake, say): failed that fast, it was refused.
    sockaddr_storage peer;
    size = sizeof peer;
    if (getpeername(int(socket), reinterpret_cast<sockaddr *>(&peer), &size) != 0 &&
        errno == ENOTCONN)
        return Failure(system(ECONNREFUSED));
    return {};
}
