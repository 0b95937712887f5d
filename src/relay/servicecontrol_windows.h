#pragma once

#include <QString>

#include <windows.h>

class Supervisor;

// Between the Service Control Manager's controls, which arrive on the dispatcher's thread, and
// the Supervisor on the relay's.
namespace ServiceControl {
inline constexpr wchar_t Name[] = L"MorvaneRelay";
// The service's own folder, %ProgramData%\Morvane, with '/' between names.
QString folder();

// Tells the Service Control Manager the service's state, when it runs the process.
void report(DWORD state);
// The Supervisor that is told of stop and paramchange from now on; none with nullptr.
void attach(Supervisor *supervisor);
} // namespace ServiceControl
