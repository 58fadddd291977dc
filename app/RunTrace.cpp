#include "app/RunTrace.h"
#include "framework/Handle.h"
#include "framework/LazyLibrary.h"
#include <windows.h>
#include <cstdio>
#include <string>

namespace krv {

namespace {
struct TTrace {
    FileHandle file;
    ULONGLONG started = 0;   // the process's creation, in 100 ns units
    TTrace() {
        char name[MAX_PATH] = {};
        DWORD n = ::GetEnvironmentVariableA("KORVANE_TRACE", name, sizeof name);
        if (n == 0 || n >= sizeof name) return;
        file.reset(::CreateFileA(name, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        FILETIME creation{}, exit{}, kernel{}, user{};
        if (::GetProcessTimes(::GetCurrentProcess(), &creation, &exit, &kernel, &user))
            started = (static_cast<ULONGLONG>(creation.dwHighDateTime) << 32) | creation.dwLowDateTime;
    }
};

TTrace& Trace() {
    static TTrace trace;
    return trace;
}
} // namespace

void TraceMark(const char* phase) {
    TTrace& trace = Trace();
    if (!trace.file) return;
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const ULONGLONG t = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    char line[160];
    int n = std::snprintf(line, sizeof line, "%llu %s\r\n", (t - trace.started) / 10000, phase);
    DWORD written = 0;
    if (n > 0) ::WriteFile(trace.file.get(), line, static_cast<DWORD>(n), &written, nullptr);
}

void TracePeakMemory() {
    if (!Trace().file) return;
    // Looked up only when tracing: older systems lack the function.
    struct Counters {
        DWORD cb;
        DWORD PageFaultCount;
        SIZE_T PeakWorkingSetSize, WorkingSetSize, QuotaPeakPagedPoolUsage, QuotaPagedPoolUsage,
            QuotaPeakNonPagedPoolUsage, QuotaNonPagedPoolUsage, PagefileUsage, PeakPagefileUsage;
    } counters{};
    counters.cb = sizeof counters;
    using Query = BOOL(WINAPI*)(HANDLE, Counters*, DWORD);
    const auto query = KernelLibrary().TryGet<Query>("K32GetProcessMemoryInfo");
    if (!query || !query(::GetCurrentProcess(), &counters, sizeof counters)) return;
    char phase[64];
    std::snprintf(phase, sizeof phase, "peak working set %lu", static_cast<unsigned long>(counters.PeakWorkingSetSize));
    TraceMark(phase);
}

} // namespace krv
