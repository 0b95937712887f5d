#include "service.h"

#include "console.h"
#include "eventlog.h"
#include "servicecontrol_windows.h"
#include "supervisor.h"

#include <QDir>
#include <cstring>
#include <mutex>

#include <shlobj.h>

// Started by the Service Control Manager, the process's main thread connects to it and stays in
// its dispatcher, which calls the control handler there; the dispatcher starts the service on a
// thread of its own, where the relay makes its QCoreApplication and runs its event loop as from a
// console. Controls reach the relay as queued signals of its Supervisor.
namespace {
using ServiceControl::Name;

struct Running {
    int argc = 0;
    char **argv = nullptr;
    int (*relay)(int, char *[]) = nullptr;
    int exitStatus = 0;
    std::mutex lock;
    SERVICE_STATUS_HANDLE handle = nullptr;
    SERVICE_STATUS status{SERVICE_WIN32_OWN_PROCESS, 0, 0, 0, 0, 0, 0};
    Supervisor *supervisor = nullptr;
} service;

void setState(DWORD state, int exitStatus = 0)
{
    const std::lock_guard guard(service.lock);
    if (!service.handle)
        return;
    SERVICE_STATUS &status = service.status;
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    status.dwCurrentState = state;
    status.dwControlsAccepted =
        state == SERVICE_RUNNING
            ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PARAMCHANGE
            : 0;
    status.dwWin32ExitCode = exitStatus ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR;
    status.dwServiceSpecificExitCode = DWORD(exitStatus);
    status.dwCheckPoint = pending ? status.dwCheckPoint + 1 : 0;
    // Host names among the outputs are looked up at start.
    status.dwWaitHint = pending ? 10000 : 0;
    ::SetServiceStatus(service.handle, &status);
}

bool isService()
{
    const std::lock_guard guard(service.lock);
    return service.handle;
}

void writeEvent(WORD type, const QString &line)
{
    static const HANDLE source = ::RegisterEventSourceW(nullptr, Name);
    const wchar_t *strings[] = {reinterpret_cast<const wchar_t *>(line.utf16())};
    ::ReportEventW(source, type, 0, MSG_LINE, nullptr, 1, 0, strings, nullptr);
}

DWORD WINAPI control(DWORD control, DWORD, void *, void *)
{
    void (Supervisor::*asked)() = nullptr;
    switch (control) {
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        setState(SERVICE_STOP_PENDING);
        asked = &Supervisor::stopAsked;
        break;
    case SERVICE_CONTROL_PARAMCHANGE:
        asked = &Supervisor::reloadAsked;
        break;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    const std::lock_guard guard(service.lock);
    if (Supervisor *supervisor = service.supervisor)
        QMetaObject::invokeMethod(
            supervisor, [supervisor, asked] { emit(supervisor->*asked)(); }, Qt::QueuedConnection);
    return NO_ERROR;
}

void WINAPI serviceMain(DWORD, wchar_t **)
{
    {
        const std::lock_guard guard(service.lock);
        service.handle = ::RegisterServiceCtrlHandlerExW(Name, control, nullptr);
        if (!service.handle)
            return;
    }
    setState(SERVICE_START_PENDING);
    service.exitStatus = service.relay(service.argc, service.argv);
    if (service.exitStatus != Ended)
        writeEvent(
            EVENTLOG_ERROR_TYPE,
            QStringLiteral("服务以状态 %1 结束，将按恢复设置重新启动").arg(service.exitStatus));
    setState(SERVICE_STOPPED, service.exitStatus);
}

// Windows ends a service's process at logoff when a console handler lets it: the relay's
// QuitOnSignals would, so this one, called before it, keeps the event from it.
BOOL WINAPI ignoreLogoff(DWORD event)
{
    return event == CTRL_LOGOFF_EVENT;
}
} // namespace

QString ServiceControl::folder()
{
    wchar_t *programData = nullptr;
    ::SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &programData);
    const QString folder = QString::fromWCharArray(programData);
    ::CoTaskMemFree(programData);
    return QDir::fromNativeSeparators(folder) + QStringLiteral("/Morvane");
}

void ServiceControl::report(DWORD state)
{
    setState(state);
}

void ServiceControl::attach(Supervisor *supervisor)
{
    const std::lock_guard guard(service.lock);
    service.supervisor = supervisor;
    if (service.handle)
        ::SetConsoleCtrlHandler(ignoreLogoff, supervisor != nullptr);
}

int Service::run(int argc, char *argv[], int (*relay)(int, char *[]))
{
    // The service's command line, as --service install writes it, starts with `--service run`.
    // Only then is the dispatcher asked: under Wine it may wait ten seconds before it fails.
    if (argc < 3 || std::strcmp(argv[1], "--service") != 0 || std::strcmp(argv[2], "run") != 0)
        return relay(argc, argv);
    service.argc = argc;
    service.argv = argv;
    service.relay = relay;
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t *>(Name), serviceMain}, {nullptr, nullptr}};
    if (::StartServiceCtrlDispatcherW(table))
        return service.exitStatus;
    return relay(argc, argv);
}

QString Service::requestFile(const QString &beside)
{
    return isService() ? ServiceControl::folder() + QStringLiteral("/api.txt") : beside;
}

RelayLog::Writer Service::logWriter()
{
    if (!isService())
        return {};
    return [](const QString &line, bool failure) {
        writeEvent(failure ? EVENTLOG_WARNING_TYPE : EVENTLOG_INFORMATION_TYPE, line);
    };
}

void Service::print(std::FILE *stream, const QString &text)
{
    if (isService())
        writeEvent(stream == stderr ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE,
                   text.trimmed());
    else
        writeText(stream, text);
}
