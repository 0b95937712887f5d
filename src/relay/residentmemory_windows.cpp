#include "residentmemory.h"

#include <windows.h>

#include <psapi.h>

// The working set is what Windows keeps resident.
qint64 residentMemory()
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return 0;
    return qint64(counters.WorkingSetSize);
}
