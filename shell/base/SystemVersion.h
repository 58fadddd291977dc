// Which Windows we run on, and the wide-character system functions that only
// the NT family has. Both are looked up at run time so that the same program
// runs on Windows 95/98/Me through the ANSI twins. The version source can be
// replaced, so the 9x paths can be exercised on an NT system.
#pragma once
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

namespace krv {

struct TOSVersion {
    DWORD PlatformId = VER_PLATFORM_WIN32_NT;
    DWORD MajorVersion = 0;
    DWORD MinorVersion = 0;
    DWORD BuildNumber = 0;   // on 9x the high word repeats major and minor
};

using TVersionSource = TOSVersion (*)();

// The version the system reports.
TOSVersion SystemOSVersion();
// Replaces the version source (nullptr restores the system's); answers the old one.
// The wide-function table is looked up again for the new version.
TVersionSource SetVersionSource(TVersionSource source);
TOSVersion CurrentOSVersion();

bool IsWinNT();
bool IsWin95Gold();
bool IsWinXPFamily();
// The same tests of a given version.
bool IsWinNT(const TOSVersion& v);
bool IsWin95Gold(const TOSVersion& v);
bool IsWinXPFamily(const TOSVersion& v);

// Wide system functions, nil until found (and always nil off the NT family).
struct TWideFunctions {
    UINT(WINAPI* GetDriveTypeW)(LPCWSTR) = nullptr;
    int(WINAPI* DrawTextW)(HDC, LPCWSTR, int, LPRECT, UINT) = nullptr;
    DWORD_PTR(WINAPI* SHGetFileInfoW)(LPCWSTR, DWORD, SHFILEINFOW*, UINT, UINT) = nullptr;
    HANDLE(WINAPI* CreateFileW)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) = nullptr;
    HRESULT(WINAPI* SHGetDataFromIDListW)(IShellFolder*, LPCITEMIDLIST, int, void*, int) = nullptr;
    HANDLE(WINAPI* FindFirstFileW)(LPCWSTR, LPWIN32_FIND_DATAW) = nullptr;
    int(WINAPI* lstrcmpiW)(LPCWSTR, LPCWSTR) = nullptr;
    DWORD(WINAPI* CharLowerBuffW)(LPWSTR, DWORD) = nullptr;
    BOOL(WINAPI* CreateDirectoryW)(LPCWSTR, LPSECURITY_ATTRIBUTES) = nullptr;
    DWORD(WINAPI* GetFullPathNameW)(LPCWSTR, DWORD, LPWSTR, LPWSTR*) = nullptr;
    BOOL(WINAPI* ShellExecuteExW)(SHELLEXECUTEINFOW*) = nullptr;
    HANDLE(WINAPI* FindFirstChangeNotificationW)(LPCWSTR, BOOL, DWORD) = nullptr;
    BOOL(WINAPI* GetCharABCWidthsW)(HDC, UINT, UINT, LPABC) = nullptr;
    DWORD(WINAPI* GetFileAttributesW)(LPCWSTR) = nullptr;
    UINT(WINAPI* GetSystemDirectoryW)(LPWSTR, UINT) = nullptr;
    UINT(WINAPI* GetWindowsDirectoryW)(LPWSTR, UINT) = nullptr;
    HRESULT(WINAPI* SHMultiFileProperties)(IDataObject*, DWORD) = nullptr;
};

// The table for the current version source, looked up on first use.
const TWideFunctions& WideFunctions();
// The table a system of the given version would have.
TWideFunctions LoadWideFunctions(const TOSVersion& v);

} // namespace krv
