#include "errors.h"

#include <winsock2.h>

QString Errors::serialPermissionAdvice()
{
    return {};
}

QString Errors::system(int error)
{
    switch (error) {
    case WSAECONNREFUSED:
        return refused();
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
    case ERROR_SERVICE_DOES_NOT_EXIST:
        return QStringLiteral("服务没有安装");
    case ERROR_SERVICE_NOT_ACTIVE:
        return QStringLiteral("服务没有在运行");
    case ERROR_SERVICE_CANNOT_ACCEPT_CTRL:
        return QStringLiteral("服务正在启动或停止，稍后再试");
    case ERROR_SERVICE_MARKED_FOR_DELETE:
        return QStringLiteral("服务已在移除中，待它停止后再试");
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return QStringLiteral("文件不存在");
    }
    return QStringLiteral("系统错误 %1").arg(error);
}

Result<void> Errors::connecting(qintptr socket)
{
    int error = 0;
    int size = sizeof error;
    if (getsockopt(SOCKET(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &size) !=
        0)
        return Failure(system(WSAGetLastError()));
    if (error)
        return Failure(system(error));
    return {};
}
