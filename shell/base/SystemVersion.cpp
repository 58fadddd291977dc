#include "shell/base/SystemVersion.h"
#include <mutex>

namespace krv {

namespace {
TVersionSource g_source = nullptr;
TWideFunctions g_wide;
bool g_wideLoaded = false;
std::mutex g_wideLock;

template <class Fn> void Bind(Fn& slot, HMODULE module, const char* name) {
    slot = module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name))) : nullptr;
}
} // namespace

TOSVersion SystemOSVersion() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    TOSVersion v;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (::GetVersionExA(&info)) {
#pragma GCC diagnostic pop
        v.PlatformId = info.dwPlatformId;
        v.MajorVersion = info.dwMajorVersion;
        v.MinorVersion = info.dwMinorVersion;
        v.BuildNumber = info.dwBuildNumber;
    }
    return v;
}

TOSVersion CurrentOSVersion() { return g_source ? g_source() : SystemOSVersion(); }

TVersionSource SetVersionSource(TVersionSource source) {
    std::lock_guard<std::mutex> lock(g_wideLock);
    TVersionSource old = g_source;
    g_source = source;
    g_wide = LoadWideFunctions(CurrentOSVersion());
    g_wideLoaded = true;
    return old;
}

bool IsWinNT(const TOSVersion& v) { return v.PlatformId == VER_PLATFORM_WIN32_NT; }
bool IsWin95Gold(const TOSVersion& v) {
    return v.PlatformId == VER_PLATFORM_WIN32_WINDOWS && v.MajorVersion == 4 && v.MinorVersion == 0 &&
           LOWORD(v.BuildNumber) < 1081;
}
bool IsWinXPFamily(const TOSVersion& v) { return IsWinNT(v) && v.MajorVersion == 5 && v.MinorVersion > 0; }

bool IsWinNT() { return IsWinNT(CurrentOSVersion()); }
bool IsWin95Gold() { return IsWin95Gold(CurrentOSVersion()); }
bool IsWinXPFamily() { return IsWinXPFamily(CurrentOSVersion()); }

TWideFunctions LoadWideFunctions(const TOSVersion& v) {
    TWideFunctions t;
    if (!IsWinNT(v)) return t;
    // All four are imported by the program itself, so they are loaded already.
    HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    HMODULE user = ::GetModuleHandleA("user32.dll");
    HMODULE shell = ::GetModuleHandleA("shell32.dll");
    HMODULE gdi = ::GetModuleHandleA("gdi32.dll");
    Bind(t.GetDriveTypeW, kernel, "GetDriveTypeW");
    Bind(t.DrawTextW, user, "DrawTextW");
    Bind(t.SHGetFileInfoW, shell, "SHGetFileInfoW");
    Bind(t.CreateFileW, kernel, "CreateFileW");
    Bind(t.SHGetDataFromIDListW, shell, "SHGetDataFromIDListW");
    Bind(t.FindFirstFileW, kernel, "FindFirstFileW");
    Bind(t.lstrcmpiW, kernel, "lstrcmpiW");
    Bind(t.CharLowerBuffW, user, "CharLowerBuffW");
    Bind(t.CreateDirectoryW, kernel, "CreateDirectoryW");
    Bind(t.GetFullPathNameW, kernel, "GetFullPathNameW");
    Bind(t.ShellExecuteExW, shell, "ShellExecuteExW");
    Bind(t.FindFirstChangeNotificationW, kernel, "FindFirstChangeNotificationW");
    Bind(t.GetCharABCWidthsW, gdi, "GetCharABCWidthsW");
    Bind(t.GetFileAttributesW, kernel, "GetFileAttributesW");
    Bind(t.GetSystemDirectoryW, kernel, "GetSystemDirectoryW");
    Bind(t.GetWindowsDirectoryW, kernel, "GetWindowsDirectoryW");
    if (v.MajorVersion >= 5) Bind(t.SHMultiFileProperties, shell, "SHMultiFileProperties");
    return t;
}

const TWideFunctions& WideFunctions() {
    std::lock_guard<std::mutex> lock(g_wideLock);
    if (!g_wideLoaded) {
        g_wide = LoadWideFunctions(CurrentOSVersion());
        g_wideLoaded = true;
    }
    return g_wide;
}

} // namespace krv
