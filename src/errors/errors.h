#pragma once

#include "result.h"

#include <QAbstractSocket>
#include <QSerialPort>
#include <QString>

// Short Chinese reasons for what the system reports as failed: users never see the toolkit's
// English texts.
namespace Errors {
QString socket(QAbstractSocket::SocketError error);
QString serialPort(QSerialPort::SerialPortError error);
// What a user may do about a serial device that may not be opened, in brackets; empty where the
// platform has no advice.
QString serialPermissionAdvice();
// A system error number: errno, or a Windows error (a socket's or the service manager's).
QString system(int error);
// The far side refused the connection, in the system's words or a library's.
QString refused();
// A file named in the settings that cannot be read, or that is a directory, FIFO or device.
QString unreadableFile();
QString notRegularFile();
// A serial device's lock file that is not an ordinary file, so that nothing may take the device.
QString unusableLockFile(const QString &path);
// Whether the connection a non-blocking socket is making has failed, and why.
Result<void> connecting(qintptr socket);
} // namespace Errors
