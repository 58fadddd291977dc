// Shell functions that shell32 exports only by ordinal, plus AnimateWindow,
// looked up once at run time. Where they come from can be replaced, so a
// system that lacks them can be imitated.
#pragma once
#include <windows.h>
#include <shlobj.h>
#include <string>

namespace krv {

// Looks up name (or an ordinal made with MAKEINTRESOURCEA) in a loaded module.
using TProcResolver = FARPROC (*)(const char* module, LPCSTR name);
// nullptr restores the real lookup; answers the old resolver. Forgets what was found.
TProcResolver SetProcResolver(TProcResolver resolver);
// Looks an entry point up through the current resolver.
FARPROC ResolveProc(const char* module, LPCSTR name);

struct TShellEntryPoints {
    BOOL(WINAPI* ILIsEqual)(LPCITEMIDLIST, LPCITEMIDLIST) = nullptr;               // shell32 #21
    BOOL(WINAPI* ILIsParent)(LPCITEMIDLIST, LPCITEMIDLIST, BOOL) = nullptr;        // shell32 #23
    HRESULT(WINAPI* SHGetImageList)(int, REFIID, void**) = nullptr;                // shell32 #727
    FARPROC Ordinal747 = nullptr;                                                  // shell32 #747, never called
    BOOL(WINAPI* AnimateWindow)(HWND, DWORD, DWORD) = nullptr;                     // user32
};

// Looks every entry point up (again); true only when ILIsEqual and ILIsParent were found.
bool LoadShellEntryPoints();
// What was found; looked up on first use.
const TShellEntryPoints& ShellEntryPoints();

// Wrappers: false when either list is nil or the entry point is missing.
bool ILIsEqual(LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2);
bool ILIsParent(LPCITEMIDLIST parent, LPCITEMIDLIST child, bool immediate);

// Ends the program with a message and a non-zero exit code: the shell components
// cannot work without the ordinal entry points.
[[noreturn]] void HaltMissingShellEntryPoints();
// Where the halt message goes (a message box by default).
using TFatalReporter = void (*)(const std::string& text);
TFatalReporter SetFatalReporter(TFatalReporter reporter);
constexpr UINT MissingEntryPointsExitCode = 3;
extern const char* const MissingEntryPointsText;

} // namespace krv
