#include "clientidlock.h"

#include <QDir>

#include <windows.h>

// A file opened sharing nothing: Windows closes it with the process, and deletes it then.
bool ClientIdLock::take(const QByteArray &clientId)
{
    if (m_handle != -1 && clientId == m_clientId)
        return true;
    const QString path =
        QDir::toNativeSeparators(QDir::tempPath() + QStringLiteral("/morvane-relay-") +
                                 QString::fromLatin1(clientId) + QStringLiteral(".lock"));
    const HANDLE handle = ::CreateFileW(
        reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ | DELETE, 0, nullptr,
        OPEN_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_SHARING_VIOLATION)
        return false;
    release();
    m_handle = handle == INVALID_HANDLE_VALUE ? -1 : qintptr(handle);
    m_clientId = clientId;
    return true;
}

void ClientIdLock::release()
{
    if (m_handle != -1)
        ::CloseHandle(HANDLE(m_handle));
    m_handle = -1;
}
