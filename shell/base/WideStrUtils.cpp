#include "shell/base/WideStrUtils.h"
#include "shell/base/SystemVersion.h"
#include "framework/Handle.h"
#include <algorithm>
#include <cstring>

namespace krv {

size_t StrLenW(const wchar_t* s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

wchar_t* StrMoveW(wchar_t* dest, const wchar_t* source, size_t count) {
    std::memmove(dest, source, count * sizeof(wchar_t));
    return dest;
}

namespace {
// Moves surrogates above every other BMP unit and U+E000..U+FFFF down to make
// room, so that comparing adjusted units gives code-point order.
uint16_t CodePointKey(wchar_t c) {
    static const uint16_t CodePointFixup[32] = {
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x2000, 0xF800, 0xF800, 0xF800, 0xF800};
    uint16_t u = static_cast<uint16_t>(c);
    return static_cast<uint16_t>(u + CodePointFixup[u >> 11]);
}

// Case mapping of a zero-terminated buffer through the ANSI twin.
void MapThroughAnsi(wchar_t* s, DWORD(WINAPI* map)(LPSTR, DWORD)) {
    std::string a = WideToAnsi(s);
    map(a.data(), static_cast<DWORD>(a.size()));
    std::wstring w = AnsiToWide(a);
    size_t n = std::min(w.size(), StrLenW(s));
    std::memcpy(s, w.data(), n * sizeof(wchar_t));
}
} // namespace

int StrCompW(const wchar_t* s1, const wchar_t* s2) {
    while (*s1 && *s1 == *s2) {
        ++s1;
        ++s2;
    }
    return static_cast<int>(CodePointKey(*s1)) - static_cast<int>(CodePointKey(*s2));
}

int StrICompW(const wchar_t* s1, const wchar_t* s2) {
    if (auto cmp = WideFunctions().lstrcmpiW) return cmp(s1, s2);
    return ::lstrcmpiA(WideToAnsi(s1).c_str(), WideToAnsi(s2).c_str());
}

wchar_t* StrLowerW(wchar_t* s) {
    if (auto lower = WideFunctions().CharLowerBuffW) lower(s, static_cast<DWORD>(StrLenW(s)));
    else MapThroughAnsi(s, ::CharLowerBuffA);
    return s;
}

wchar_t* StrUpperW(wchar_t* s) {
    if (IsWinNT()) ::CharUpperBuffW(s, static_cast<DWORD>(StrLenW(s)));
    else MapThroughAnsi(s, ::CharUpperBuffA);
    return s;
}

const wchar_t* StrScanW(const wchar_t* s, wchar_t ch) {
    for (; *s; ++s)
        if (*s == ch) return s;
    return ch == 0 ? s : nullptr;
}

const wchar_t* StrRScanW(const wchar_t* s, wchar_t ch) {
    const wchar_t* found = nullptr;
    for (; *s; ++s)
        if (*s == ch) found = s;
    return ch == 0 ? s : found;
}

const wchar_t* StrPosW(const wchar_t* s, const wchar_t* sub) {
    if (!s || !sub || !*sub) return nullptr;
    size_t n = StrLenW(s), m = StrLenW(sub);
    if (m > n) return nullptr;
    for (size_t i = 0; i + m <= n; ++i)
        if (std::wmemcmp(s + i, sub, m) == 0) return s + i;
    return nullptr;
}

wchar_t* StrSwapByteOrder(wchar_t* s) {
    for (wchar_t* p = s; *p; ++p) *p = static_cast<wchar_t>(((*p & 0xFF) << 8) | ((*p >> 8) & 0xFF));
    return s;
}

std::wstring WideLowerCase(const std::wstring& s) {
    std::wstring r = s;
    if (!r.empty()) {
        // Embedded zeros are kept: each run between them is mapped.
        for (size_t at = 0; at < r.size(); at += StrLenW(r.data() + at) + 1) StrLowerW(r.data() + at);
    }
    return r;
}

std::wstring IntToStrW(int64_t n) { return std::to_wstring(n); }

wchar_t ThousandSeparator() {
    wchar_t buf[8] = {};
    if (::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, buf, 8) > 1) return buf[0];
    return L',';
}

std::wstring AddThousandSeparators(const std::wstring& digits) {
    return AddThousandSeparators(digits, ThousandSeparator());
}

std::wstring AddThousandSeparators(const std::wstring& digits, wchar_t separator) {
    std::wstring r = digits;
    size_t start = (!r.empty() && (r[0] == L'-' || r[0] == L'+')) ? 1 : 0;
    for (size_t i = r.size(); i > start + 3;) {
        i -= 3;
        r.insert(i, 1, separator);
    }
    return r;
}

void InsertW(const std::wstring& source, std::wstring& s, int index) {
    if (index >= 0 && static_cast<size_t>(index) <= s.size()) s.insert(static_cast<size_t>(index), source);
}

std::wstring StrRetToStr(STRRET& strRet, LPCITEMIDLIST pidl) {
    switch (strRet.uType) {
    case STRRET_WSTR: {
        CoTaskMem<wchar_t> text(std::exchange(strRet.pOleStr, nullptr));
        return text ? std::wstring(text.get()) : std::wstring();
    }
    case STRRET_OFFSET:
        if (!pidl) return std::wstring();
        return AnsiToWide(reinterpret_cast<const char*>(pidl) + strRet.uOffset);
    case STRRET_CSTR:
        return AnsiToWide(std::string(strRet.cStr, strnlen(strRet.cStr, sizeof strRet.cStr)));
    default:
        return std::wstring();
    }
}

int WideMessageBox(HWND wnd, const std::wstring& caption, const std::wstring& text) {
    if (IsWinNT()) return ::MessageBoxW(wnd, text.c_str(), caption.c_str(), MB_ICONEXCLAMATION);
    return ::MessageBoxA(wnd, WideToAnsi(text).c_str(), WideToAnsi(caption).c_str(), MB_ICONEXCLAMATION);
}

SIZE TextExtentW(const std::wstring& text, HDC dc) {
    SIZE size{0, 0};
    if (IsWinNT()) {
        ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    } else {
        std::string a = WideToAnsi(text);
        ::GetTextExtentPoint32A(dc, a.c_str(), static_cast<int>(a.size()), &size);
    }
    return size;
}

SIZE TextExtentW(const std::wstring& text, HFONT font) {
    WindowDC screen(nullptr);
    MemoryDC canvas(screen.get());
    SelectObjectScope select(canvas.get(), font);
    return TextExtentW(text, canvas.get());
}

} // namespace krv
