#include "framework/RichLog.h"
#include "framework/SysUtils.h"
#include <richedit.h>
#include <algorithm>

namespace krv {

namespace {
// The control lays out one insertion in more than linear time (2,000 short
// lines: twice the time in one insertion as in pieces of 200), so a long
// text goes in pieces of about this many bytes, cut before a line break.
constexpr size_t kPieceBytes = 12 * 1024;

// Where the piece of text starting at from ends: before the last line break
// within kPieceBytes, or, for a longer line, before the next one.
size_t PieceEnd(const std::string& text, size_t from) {
    if (text.size() - from <= kPieceBytes) return text.size();
    size_t cut = text.rfind("\r\n", from + kPieceBytes);
    if (cut == std::string::npos || cut <= from) cut = text.find("\r\n", from + 1);
    return cut == std::string::npos ? text.size() : cut;
}

// Loaded once for the process; it must outlive every rich-edit window.
void LoadRichEditLibrary() {
    static ModuleHandle library(::LoadLibraryA("riched20.dll"));
    if (!library) throw Exception("Cannot load riched20.dll: " + SysErrorMessage(::GetLastError()));
}
}

TRichLog::TRichLog(TComponent* owner) : TWinControl(owner) {
    color_ = clWindow;
    SetBounds(0, 0, 300, 100);
}

void TRichLog::CreateParams(TCreateParams& params) {
    LoadRichEditLibrary();
    TWinControl::CreateParams(params);
    params.WinClassName = RICHEDIT_CLASSA;
    params.OwnClass = false;
    params.Style &= ~WS_CLIPCHILDREN;
    params.Style |= ES_MULTILINE | ES_READONLY | WS_VSCROLL | ES_AUTOVSCROLL | ES_NOHIDESEL;
    params.ExStyle |= WS_EX_CLIENTEDGE;
    params.Caption.clear();
}

void TRichLog::CreateHandleDone() {
    ::SendMessageA(handle_, EM_SETBKGNDCOLOR, 0, static_cast<LPARAM>(ColorToRGB(color_)));
    ::SendMessageA(handle_, EM_EXLIMITTEXT, 0, 16 * 1024 * 1024);
    // Nothing is ever undone in a read-only log: without this the control
    // keeps a second copy of every line added.
    ::SendMessageA(handle_, EM_SETUNDOLIMIT, 0, 0);
}

int TRichLog::TextLength() {
    GETTEXTLENGTHEX len{GTL_NUMCHARS | GTL_PRECISE, CP_ACP};
    return static_cast<int>(::SendMessageA(HandleNeeded(), EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&len), 0));
}

void TRichLog::SetSelectionColor(TColor color) {
    CHARFORMAT2A format{};
    format.cbSize = sizeof format;
    format.dwMask = CFM_COLOR;
    format.crTextColor = ColorToRGB(color);
    ::SendMessageA(handle_, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
}

namespace {
// The last `keep` lines of a text ("\r\n" between lines).
std::string LastLines(const std::string& text, int keep) {
    size_t at = text.size();
    for (int n = 0; n < keep; ++n) {
        if (at == 0) return text;
        at = text.rfind("\r\n", at - 1);
        if (at == std::string::npos) return text;
    }
    return text.substr(at + 2);
}
} // namespace

void TRichLog::AddLine(const std::string& text, TColor color) {
    HWND wnd = HandleNeeded();
    int end = TextLength();
    // Every line but the first starts after a line break of its own.
    std::string line = (end > 0 ? "\r\n" : "") + (MaxLines > 0 ? LastLines(text, MaxLines) : text);
    // A shown control redraws each new paragraph as it lays it out, a round
    // trip to the window system per line: a text of many lines is laid out
    // undrawn and drawn once. Only a shown control is frozen: thawing sets
    // the visible style again.
    const bool freeze = text.find('\n') != std::string::npos && (::GetWindowLongA(wnd, GWL_STYLE) & WS_VISIBLE);
    if (freeze) ::SendMessageA(wnd, WM_SETREDRAW, FALSE, 0);
    ::SendMessageA(wnd, EM_SETSEL, static_cast<WPARAM>(end), static_cast<LPARAM>(end));
    SetSelectionColor(color);
    // Each piece goes in at the caret the one before left at the end, in
    // the colour it carries on.
    size_t from = 0;
    do {
        const size_t to = PieceEnd(line, from);
        const std::string piece = line.substr(from, to - from);
        ::SendMessageA(wnd, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(piece.c_str()));
        from = to;
    } while (from < line.size());
    SetSelectionColor(clBlack);
    DropFirstLines();
    if (freeze) {
        ::SendMessageA(wnd, WM_SETREDRAW, TRUE, 0);
        ::InvalidateRect(wnd, nullptr, TRUE);
    }
    ScrollToEnd(true);
}

void TRichLog::DropFirstLines() {
    if (MaxLines <= 0) return;
    const int lines = static_cast<int>(::SendMessageA(handle_, EM_GETLINECOUNT, 0, 0));
    if (lines <= MaxLines) return;
    const LRESULT cut = ::SendMessageA(handle_, EM_LINEINDEX, static_cast<WPARAM>(lines - MaxLines), 0);
    if (cut <= 0) return;
    ::SendMessageA(handle_, EM_SETSEL, 0, cut);
    ::SendMessageA(handle_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(""));
    const int end = TextLength();
    ::SendMessageA(handle_, EM_SETSEL, static_cast<WPARAM>(end), static_cast<LPARAM>(end));
}

void TRichLog::Clear() {
    if (HandleAllocated()) ::SetWindowTextA(handle_, "");
}

int TRichLog::LineCount() {
    if (TextLength() == 0) return 0;
    return static_cast<int>(::SendMessageA(HandleNeeded(), EM_GETLINECOUNT, 0, 0));
}

std::string TRichLog::Line(int index) {
    std::string s = EditControlLine(HandleNeeded(), index);
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) s.pop_back();
    return s;
}

TColor TRichLog::LineColor(int index) {
    HWND wnd = HandleNeeded();
    LRESULT start = ::SendMessageA(wnd, EM_LINEINDEX, static_cast<WPARAM>(index), 0);
    if (start < 0) return clNoColor;
    CHARRANGE keep{};
    ::SendMessageA(wnd, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&keep));
    ::SendMessageA(wnd, EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(start + 1));
    CHARFORMAT2A format{};
    format.cbSize = sizeof format;
    format.dwMask = CFM_COLOR;
    ::SendMessageA(wnd, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    ::SendMessageA(wnd, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&keep));
    return static_cast<TColor>(format.crTextColor & 0xFFFFFF);
}

void TRichLog::ScrollToEnd(bool scroll) {
    if (scroll && HandleAllocated()) ::SendMessageA(handle_, EM_SCROLLCARET, 0, 0);
}

} // namespace krv
