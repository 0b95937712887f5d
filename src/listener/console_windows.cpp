#include "console.h"

#include <io.h>
#include <windows.h>

void writeText(std::FILE *stream, const QString &text)
{
    const HANDLE handle = HANDLE(::_get_osfhandle(::_fileno(stream)));
    DWORD mode;
    DWORD written;
    if (::GetConsoleMode(handle, &mode)) {
        ::WriteConsoleW(handle, text.utf16(), DWORD(text.size()), &written, nullptr);
        return;
    }
    const QByteArray bytes = text.toLocal8Bit();
    ::WriteFile(handle, bytes.constData(), DWORD(bytes.size()), &written, nullptr);
}
