#include "shell/base/ShellEntryPoints.h"
#include <cstring>
#include <cstdio>
#include <mutex>

namespace krv {

const char* const MissingEntryPointsText =
    "The shell functions ILIsEqual and ILIsParent (shell32.dll) are missing on this system; "
    "the program cannot run.";

namespace {
FARPROC SystemResolver(const char* module, LPCSTR name) {
    HMODULE m = ::GetModuleHandleA(module);
    return m ? ::GetProcAddress(m, name) : nullptr;
}

void MessageBoxReporter(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
    ::MessageBoxA(nullptr, text.c_str(), "Korvane", MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

std::mutex g_lock;
TProcResolver g_resolver = SystemResolver;
TFatalReporter g_reporter = MessageBoxReporter;
TShellEntryPoints g_points;
bool g_loaded = false;

template <class Fn> void Bind(Fn& slot, const char* module, LPCSTR name) {
    slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(g_resolver(module, name)));
}

bool LoadLocked() {
    Bind(g_points.ILIsEqual, "shell32.dll", MAKEINTRESOURCEA(21));
    Bind(g_points.ILIsParent, "shell32.dll", MAKEINTRESOURCEA(23));
    Bind(g_points.SHGetImageList, "shell32.dll", MAKEINTRESOURCEA(727));
    g_points.Ordinal747 = g_resolver("shell32.dll", MAKEINTRESOURCEA(747));
    Bind(g_points.AnimateWindow, "user32.dll", "AnimateWindow");
    g_loaded = true;
    return g_points.ILIsEqual && g_points.ILIsParent;
}
} // namespace

TProcResolver SetProcResolver(TProcResolver resolver) {
    std::lock_guard<std::mutex> lock(g_lock);
    TProcResolver old = g_resolver;
    g_resolver = resolver ? resolver : SystemResolver;
    g_points = {};
    g_loaded = false;
    return old == SystemResolver ? nullptr : old;
}

FARPROC ResolveProc(const char* module, LPCSTR name) {
    TProcResolver resolver;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        resolver = g_resolver;
    }
    return resolver(module, name);
}

bool LoadShellEntryPoints() {
    std::lock_guard<std::mutex> lock(g_lock);
    return LoadLocked();
}

const TShellEntryPoints& ShellEntryPoints() {
    std::lock_guard<std::mutex> lock(g_lock);
    if (!g_loaded) LoadLocked();
    return g_points;
}

// Lists of the same bytes name the same items: the shell is asked only when
// the bytes differ, as its comparison builds and compares each item's name.
namespace {
uint16_t ItemSize(LPCITEMIDLIST item) {
    uint16_t cb;
    std::memcpy(&cb, item, sizeof cb);
    return cb;
}

// The number of items child has beyond parent when parent's items are, byte
// for byte, child's first items; -1 otherwise.
int ItemsBeyondSamePrefix(LPCITEMIDLIST parent, LPCITEMIDLIST child) {
    auto p = reinterpret_cast<const uint8_t*>(parent);
    auto c = reinterpret_cast<const uint8_t*>(child);
    for (uint16_t cb; (cb = ItemSize(reinterpret_cast<LPCITEMIDLIST>(p))) != 0; p += cb, c += cb)
        if (ItemSize(reinterpret_cast<LPCITEMIDLIST>(c)) != cb || std::memcmp(p, c, cb) != 0) return -1;
    int beyond = 0;
    for (uint16_t cb; (cb = ItemSize(reinterpret_cast<LPCITEMIDLIST>(c))) != 0; c += cb) ++beyond;
    return beyond;
}
} // namespace

bool ILIsEqual(LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2) {
    if (!pidl1 || !pidl2) return false;
    auto fn = ShellEntryPoints().ILIsEqual;
    if (!fn) return false;
    // The same bytes, or one list the other's with items below it: an item
    // is never the same as one inside it.
    const int beyond = ItemsBeyondSamePrefix(pidl1, pidl2);
    if (beyond >= 0) return beyond == 0;
    if (ItemsBeyondSamePrefix(pidl2, pidl1) > 0) return false;
    return fn(pidl1, pidl2);
}

bool ILIsParent(LPCITEMIDLIST parent, LPCITEMIDLIST child, bool immediate) {
    if (!parent || !child) return false;
    auto fn = ShellEntryPoints().ILIsParent;
    if (!fn) return false;
    // The desktop (the empty list) is left to the shell.
    if (ItemSize(parent) != 0) {
        const int beyond = ItemsBeyondSamePrefix(parent, child);
        if (beyond == 1 || (beyond > 1 && !immediate)) return true;
    }
    return fn(parent, child, immediate);
}

TFatalReporter SetFatalReporter(TFatalReporter reporter) {
    std::lock_guard<std::mutex> lock(g_lock);
    TFatalReporter old = g_reporter;
    g_reporter = reporter ? reporter : MessageBoxReporter;
    return old == MessageBoxReporter ? nullptr : old;
}

void HaltMissingShellEntryPoints() {
    TFatalReporter report;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        report = g_reporter;
    }
    report(MissingEntryPointsText);
    ::ExitProcess(MissingEntryPointsExitCode);
}

} // namespace krv
