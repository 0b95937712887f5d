#include "errors.h"

QString Errors::socket(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::AddressInUseError:
        return QStringLiteral("端口已被占用");
    case QAbstractSocket::SocketAccessError:
        return QStringLiteral("没有使用该端口或地址的权限");
    case QAbstractSocket::SocketAddressNotAvailableError:
        return QStringLiteral("本机没有这个地址");
    case QAbstractSocket::SocketResourceError:
        return QStringLiteral("系统网络资源不足");
    case QAbstractSocket::DatagramTooLargeError:
        return QStringLiteral("数据太长，无法放进一个数据报");
    case QAbstractSocket::ConnectionRefusedError:
    case QAbstractSocket::RemoteHostClosedError:
        return QStringLiteral("对方拒绝接收");
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("找不到对方主机");
    case QAbstractSocket::NetworkError:
        return QStringLiteral("网络不通");
    case QAbstractSocket::TemporaryError:
        return QStringLiteral("网络暂时繁忙");
    case QAbstractSocket::UnsupportedSocketOperationError:
        return QStringLiteral("系统不支持此网络操作");
    case QAbstractSocket::OperationError:
        return QStringLiteral("套接字当前状态不允许此操作");
    default:
        return QStringLiteral("未知网络错误");
    }
}

QString Errors::serialPort(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("设备不存在");
    case QSerialPort::PermissionError:
        return QStringLiteral("没有权限或已被占用");
    default:
        return QStringLiteral("不是可用的串口");
    }
}

QString Errors::unreadableFile()
{
    return QStringLiteral("不存在或无法读取");
}

QString Errors::notRegularFile()
{
    return QStringLiteral("不是普通文件（而是目录、FIFO 或设备）");
}

QString Errors::unusableLockFile(const QString &path)
{
    return QStringLiteral("锁文件 %1 不是普通文件（请删除它）").arg(path);
}

QString Errors::refused()
{
    return QStringLiteral("连接被拒绝");
}
