// UTF-16 string routines of the shell components: zero-terminated buffers
// and std::wstring values. Each picks the wide system call on the NT family
// and goes through the ANSI twin elsewhere.
#pragma once
#include "framework/SysUtils.h"   // AnsiToWide, WideToAnsi
#include <windows.h>
#include <shlobj.h>
#include <string>

#ifdef StrRetToStr
#undef StrRetToStr
#endif

namespace krv {

size_t StrLenW(const wchar_t* s);
// Copies count units; correct when the buffers overlap.
wchar_t* StrMoveW(wchar_t* dest, const wchar_t* source, size_t count);
// Unicode code-point order (characters beyond the BMP after U+FFFF).
int StrCompW(const wchar_t* s1, const wchar_t* s2);
int StrICompW(const wchar_t* s1, const wchar_t* s2);
wchar_t* StrLowerW(wchar_t* s);
wchar_t* StrUpperW(wchar_t* s);
const wchar_t* StrScanW(const wchar_t* s, wchar_t ch);
const wchar_t* StrRScanW(const wchar_t* s, wchar_t ch);
const wchar_t* StrPosW(const wchar_t* s, const wchar_t* sub);
wchar_t* StrSwapByteOrder(wchar_t* s);

std::wstring WideLowerCase(const std::wstring& s);
std::wstring IntToStrW(int64_t n);
// Thousands separators every three digits from the right.
std::wstring AddThousandSeparators(const std::wstring& digits);
std::wstring AddThousandSeparators(const std::wstring& digits, wchar_t separator);
// The user's thousands separator.
wchar_t ThousandSeparator();
// Inserts source before the 0-based index (nothing when the index is outside 0..length).
void InsertW(const std::wstring& source, std::wstring& s, int index);

// The text of a shell STRRET; a wide string inside it is freed.
std::wstring StrRetToStr(STRRET& strRet, LPCITEMIDLIST pidl);

int WideMessageBox(HWND wnd, const std::wstring& caption, const std::wstring& text);
SIZE TextExtentW(const std::wstring& text, HDC dc);
SIZE TextExtentW(const std::wstring& text, HFONT font);

} // namespace krv
