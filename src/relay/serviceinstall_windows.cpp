#include "service.h"

#include "errors.h"
#include "servicecontrol_windows.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QThread>
#include <memory>

#include <aclapi.h>
#include <sddl.h>

namespace {
using ServiceControl::Name;
using Handle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, decltype(&::CloseServiceHandle)>;

const wchar_t EventSource[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\"
                              L"MorvaneRelay";
const wchar_t Account[] = L"NT AUTHORITY\\LocalService";
// Administrators and SYSTEM may do anything, the service (LocalService) reads, and every user of
// the machine (Users) may write, rename and remove requests; nobody else may change who may.
const wchar_t FolderAccess[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FR;;;LS)"
                               L"(A;OICI;0x1301bf;;;BU)";
// The settings may hold the broker's password: the service reads them, administrators write them.
const wchar_t SettingsAccess[] = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;LS)";

Handle handle(SC_HANDLE handle)
{
    return Handle(handle, &::CloseServiceHandle);
}

const wchar_t *wide(const QString &text)
{
    return reinterpret_cast<const wchar_t *>(text.utf16());
}

Failure failed(const QString &what, DWORD error = ::GetLastError())
{
    if (error == ERROR_ACCESS_DENIED)
        return Failure(
            QStringLiteral("%1：需要管理员权限，请在“以管理员身份运行”的命令提示符中再试")
                .arg(what));
    return Failure(QStringLiteral("%1：%2").arg(what, Errors::system(int(error))));
}

Result<void> secure(const QString &path, const wchar_t *access)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ::ConvertStringSecurityDescriptorToSecurityDescriptorW(access, SDDL_REVISION_1, &descriptor,
                                                           nullptr);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    ACL *acl = nullptr;
    ::GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted);
    const DWORD error = ::SetNamedSecurityInfoW(
        const_cast<wchar_t *>(wide(QDir::toNativeSeparators(path))), SE_FILE_OBJECT,
        DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr, acl,
        nullptr);
    ::LocalFree(descriptor);
    if (error != ERROR_SUCCESS)
        return failed(QStringLiteral("无法设定 %1 的权限").arg(QDir::toNativeSeparators(path)),
                      error);
    return {};
}

// The service's folder and its settings, made only where missing: an existing relay.conf is kept
// as it is, only who may read it is set again.
Result<QString> layOut()
{
    const QString folder = ServiceControl::folder();
    if (!QDir().mkpath(folder))
        return Failure(QStringLiteral("无法建立目录 %1").arg(QDir::toNativeSeparators(folder)));
    if (const Result<void> secured = secure(folder, FolderAccess); !secured)
        return Failure(secured.error());
    const QString settings = folder + QStringLiteral("/relay.conf");
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ::ConvertStringSecurityDescriptorToSecurityDescriptorW(SettingsAccess, SDDL_REVISION_1,
                                                           &descriptor, nullptr);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    // Made with its access in one step, never over an existing file.
    const HANDLE file = ::CreateFileW(wide(QDir::toNativeSeparators(settings)), GENERIC_WRITE, 0,
                                      &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD error = ::GetLastError();
    ::LocalFree(descriptor);
    if (file != INVALID_HANDLE_VALUE) {
        QFile starter(QStringLiteral(":/relay.conf"));
        starter.open(QIODevice::ReadOnly);
        const QByteArray text = starter.readAll();
        DWORD written = 0;
        const bool wrote =
            ::WriteFile(file, text.constData(), DWORD(text.size()), &written, nullptr);
        ::CloseHandle(file);
        if (!wrote)
            return failed(QStringLiteral("无法写入 %1").arg(QDir::toNativeSeparators(settings)));
    } else if (error != ERROR_FILE_EXISTS) {
        return failed(QStringLiteral("无法建立 %1").arg(QDir::toNativeSeparators(settings)), error);
    } else if (const Result<void> secured = secure(settings, SettingsAccess); !secured) {
        return Failure(secured.error());
    }
    return settings;
}

// What could not be set where the system has no such setting (Wine has neither the delayed start
// nor the flag), in a few words; empty when all was set.
Result<QString> configure(SC_HANDLE service)
{
    QString description =
        QStringLiteral("把请求文件中的请求变成命令，经 UDP、串口和 MQTT 发给家电。"
                       "设置与请求文件在 %1")
            .arg(QDir::toNativeSeparators(ServiceControl::folder()));
    SERVICE_DESCRIPTIONW about{const_cast<wchar_t *>(wide(description))};
    SERVICE_DELAYED_AUTO_START_INFO delayed{TRUE};
    // Again after 5 s, then 30 s, then every minute; counted from nothing again after a day.
    SC_ACTION restarts[] = {
        {SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 30000}, {SC_ACTION_RESTART, 60000}};
    SERVICE_FAILURE_ACTIONSW actions{24 * 60 * 60, nullptr, nullptr, 3, restarts};
    // A start that fails (a port taken, settings refused) counts as a failure too.
    SERVICE_FAILURE_ACTIONS_FLAG onExit{TRUE};
    const struct {
        DWORD level;
        void *config;
        const char16_t *what;
    } configs[] = {{SERVICE_CONFIG_DESCRIPTION, &about, u"说明"},
                   {SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &delayed, u"延迟启动"},
                   {SERVICE_CONFIG_FAILURE_ACTIONS, &actions, u"失败后重新启动"},
                   {SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onExit, u"启动失败后重新启动"}};
    QStringList missing;
    for (const auto &config : configs) {
        if (::ChangeServiceConfig2W(service, config.level, config.config))
            continue;
        if (::GetLastError() != ERROR_INVALID_LEVEL)
            return failed(QStringLiteral("服务已登记，但无法设定其启动与恢复方式"));
        missing << QString::fromUtf16(config.what);
    }
    return missing.isEmpty() ? QString()
                             : QStringLiteral("（此系统不支持：%1）").arg(missing.join(u'、'));
}

Result<void> registerEventSource(const QString &program)
{
    HKEY key = nullptr;
    LSTATUS error = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, EventSource, 0, nullptr, 0, KEY_SET_VALUE,
                                      nullptr, &key, nullptr);
    if (error == ERROR_SUCCESS) {
        const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
        error = ::RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ,
                                 reinterpret_cast<const BYTE *>(program.utf16()),
                                 DWORD((program.size() + 1) * sizeof(wchar_t)));
        if (error == ERROR_SUCCESS)
            error = ::RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD,
                                     reinterpret_cast<const BYTE *>(&types), sizeof types);
        ::RegCloseKey(key);
    }
    if (error != ERROR_SUCCESS)
        return failed(QStringLiteral("无法在事件日志中登记来源 MorvaneRelay"), DWORD(error));
    return {};
}

Result<QString> install(const QString &given)
{
    const Handle manager = handle(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return failed(QStringLiteral("无法安装服务"));
    const Result<QString> settings = given.isEmpty() ? layOut() : Result<QString>(given);
    if (!settings)
        return Failure(settings.error());
    const QString program = QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
    const QString command = QStringLiteral("\"%1\" --service run --config \"%2\"")
                                .arg(program, QDir::toNativeSeparators(*settings));
    const QString shownName = QStringLiteral("Morvane 请求转发");
    Handle service =
        handle(::CreateServiceW(manager.get(), Name, wide(shownName), SERVICE_ALL_ACCESS,
                                SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                wide(command), nullptr, nullptr, nullptr, Account, L""));
    const bool existed = !service && ::GetLastError() == ERROR_SERVICE_EXISTS;
    if (existed) {
        service = handle(::OpenServiceW(manager.get(), Name, SERVICE_ALL_ACCESS));
        if (service &&
            !::ChangeServiceConfigW(service.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                    SERVICE_ERROR_NORMAL, wide(command), nullptr, nullptr, nullptr,
                                    Account, L"", wide(shownName)))
            service.reset();
    }
    if (!service)
        return failed(QStringLiteral("无法登记服务 MorvaneRelay"));
    const Result<QString> unsupported = configure(service.get());
    if (!unsupported)
        return Failure(unsupported.error());
    if (const Result<void> registered = registerEventSource(program); !registered)
        return Failure(registered.error());
    return QStringLiteral("%1服务 MorvaneRelay：开机自动（延迟）启动，以 LocalService 运行，"
                          "设置文件 %2；启动它：sc start MorvaneRelay%3")
        .arg(existed ? QStringLiteral("已更新") : QStringLiteral("已安装"),
             QDir::toNativeSeparators(*settings), *unsupported);
}

// Stops the service, if it runs, waiting at most ten seconds for it.
bool stopped(SC_HANDLE service)
{
    SERVICE_STATUS status{};
    if (!::ControlService(service, SERVICE_CONTROL_STOP, &status))
        return false;
    for (int waited = 0; status.dwCurrentState != SERVICE_STOPPED && waited < 100; ++waited) {
        QThread::msleep(100);
        ::QueryServiceStatus(service, &status);
    }
    return true;
}

Result<QString> remove()
{
    const Handle manager = handle(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const Handle service = handle(
        manager ? ::OpenServiceW(manager.get(), Name, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE)
                : nullptr);
    if (!service && ::GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST)
        return failed(QStringLiteral("无法移除服务 MorvaneRelay"));
    const bool wasRunning = service && stopped(service.get());
    if (service && !::DeleteService(service.get()) &&
        ::GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
        return failed(QStringLiteral("无法移除服务 MorvaneRelay"));
    const LSTATUS error = ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, EventSource);
    if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND)
        return failed(QStringLiteral("无法从事件日志中注销来源 MorvaneRelay"), DWORD(error));
    if (!service)
        return QStringLiteral("服务 MorvaneRelay 没有安装，无需移除");
    return QStringLiteral("已%1移除服务 MorvaneRelay；%2 中的设置保留")
        .arg(wasRunning ? QStringLiteral("停止并") : QString(),
             QDir::toNativeSeparators(ServiceControl::folder()));
}

Result<QString> reload()
{
    const Handle manager = handle(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const Handle service =
        handle(manager ? ::OpenServiceW(manager.get(), Name, SERVICE_PAUSE_CONTINUE) : nullptr);
    SERVICE_STATUS status{};
    if (!service || !::ControlService(service.get(), SERVICE_CONTROL_PARAMCHANGE, &status))
        return failed(QStringLiteral("无法让服务 MorvaneRelay 重新读取设置"));
    return QStringLiteral("已请服务 MorvaneRelay 重新读取设置；结果见事件日志（应用程序，来源 "
                          "MorvaneRelay）");
}
} // namespace

Result<QString> Service::act(const QString &action, const QString &settingsFile)
{
    if (action == u"install")
        return install(settingsFile);
    return action == u"remove" ? remove() : reload();
}
