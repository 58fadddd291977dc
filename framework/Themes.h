// Visual styles through the system's theme library, bound on first use. The
// library is optional: where it is missing, or styles are off, no theme data
// opens and every control draws its classic look.
#pragma once
#include "framework/Handle.h"
#include <commctrl.h>

namespace krv {

// The library's entry points; each null when the library or the entry is missing.
struct TThemeFunctions {
    HANDLE(WINAPI* OpenThemeData)(HWND, LPCWSTR) = nullptr;
    HRESULT(WINAPI* CloseThemeData)(HANDLE) = nullptr;
    HRESULT(WINAPI* DrawThemeBackground)(HANDLE, HDC, int, int, const RECT*, const RECT*) = nullptr;
    HRESULT(WINAPI* GetThemeBackgroundContentRect)(HANDLE, HDC, int, int, const RECT*, RECT*) = nullptr;
    HRESULT(WINAPI* DrawThemeIcon)(HANDLE, HDC, int, int, const RECT*, HIMAGELIST, int) = nullptr;
    BOOL(WINAPI* IsThemeActive)() = nullptr;
    BOOL(WINAPI* IsAppThemed)() = nullptr;
    // Theme data can be opened, drawn and closed.
    bool Usable() const { return OpenThemeData && CloseThemeData && DrawThemeBackground && IsThemeActive; }
};
const TThemeFunctions& ThemeFunctions();

// Styles are on for the system and for this program.
bool ThemesActive();

// A window's theme data of one class list ("HEADER", "scrollbar", ...).
class TTheme {
public:
    TTheme() = default;
    TTheme(HWND wnd, const wchar_t* classList) { Open(wnd, classList); }
    // Opens (or reopens) the class's data for the window; false without styles.
    bool Open(HWND wnd, const wchar_t* classList);
    void Close() { handle_.reset(); }
    bool Active() const { return bool(handle_); }
    // False when nothing was drawn: no theme data, or the system refused.
    bool Draw(HDC dc, int part, int state, const RECT& r) const;
    // The part's content area; r itself without theme data.
    RECT ContentRect(HDC dc, int part, int state, const RECT& r) const;
    // The image list's icon on the part, or drawn plainly without theme data.
    void DrawIcon(HDC dc, int part, int state, const RECT& r, HIMAGELIST images, int index) const;
private:
    ThemeHandle handle_;
};

} // namespace krv
