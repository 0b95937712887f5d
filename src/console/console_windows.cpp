#include "console.h"

#include <QCoreApplication>

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

namespace {
HANDLE finished = nullptr;

// Called on a thread of the system's own. For Ctrl-C the process goes on once it returns; for a
// closed console window, a logoff or a shutdown it ends then, so it waits (within the few seconds
// Windows grants) until main() has let everything go.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                              Qt::QueuedConnection);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        ::WaitForSingleObject(finished, 4000);
    return TRUE;
}
} // namespace

QuitOnSignals::QuitOnSignals(QCoreApplication &)
{
    finished = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

QuitOnSignals::~QuitOnSignals()
{
    ::SetEvent(finished);
}

void QuitOnSignals::reloadOnHangUp()
{
}
