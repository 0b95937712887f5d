#include "requestfile.h"

#include <QDir>

#include <utility>

#include <windows.h>

namespace {
const wchar_t *wide(const QByteArray &nativePath)
{
    return reinterpret_cast<const wchar_t *>(nativePath.constData());
}
} // namespace

RequestFile::RequestFile(const QString &directory, QStringView name)
{
    const QString path = QDir::toNativeSeparators(directory + u'/' + name.toString());
    m_nativePath = QByteArray(reinterpret_cast<const char *>(path.utf16()),
                              (path.size() + 1) * qsizetype(sizeof(char16_t)));
}

// The file system matches the name as it always does, without regard to case.
bool RequestFile::exists() const
{
    const DWORD attributes = ::GetFileAttributesW(wide(m_nativePath));
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN |
                           FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DEVICE));
}

// Shared for deleting too: the server holds the file a thousand times a second, and a producer
// that deletes it or renames a new one over it must never meet a sharing violation.
bool RequestFile::open()
{
    const HANDLE handle = ::CreateFileW(wide(m_nativePath), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        ::CloseHandle(handle);
        return false;
    }
    m_handle = qintptr(handle);
    return true;
}

qint64 RequestFile::readSome(char *data, qint64 size)
{
    DWORD count = 0;
    return ::ReadFile(HANDLE(m_handle), data, DWORD(size), &count, nullptr) ? qint64(count) : -1;
}

void RequestFile::close()
{
    if (m_handle != -1)
        ::CloseHandle(HANDLE(std::exchange(m_handle, -1)));
}
