#include "framework/RichLog.h"
#include "framework/SysUtils.h"
#include <richedit.h>
#include <algorithm>
#include <cstring>

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
// Deleting lines at the top costs the control more per line the more lines
// go at once (1,000 lines in one step: about twice ten steps of 100), so
// they go in steps of at most this many.
constexpr size_t kDropStep = 100;

// The characters a line of text takes in the control: UTF-16 units of the ANSI text.
int ControlLength(const std::string& line) {
    if (line.empty()) return 0;
    return ::MultiByteToWideChar(CP_ACP, 0, line.data(), static_cast<int>(line.size()), nullptr, 0);
}

// The last `keep` lines of the texts, one line of text each.
std::vector<TLogLine> LastLines(const std::vector<TLogLine>& texts, size_t keep) {
    std::vector<TLogLine> lines;
    for (auto text = texts.rbegin(); text != texts.rend() && lines.size() < keep; ++text) {
        size_t end = text->Text.size();
        while (lines.size() < keep) {
            const size_t at = end == 0 ? std::string::npos : text->Text.rfind("\r\n", end - 1);
            const size_t from = at == std::string::npos ? 0 : at + 2;
            lines.push_back({text->Text.substr(from, end - from), text->Color});
            if (at == std::string::npos) break;
            end = at;
        }
    }
    std::reverse(lines.begin(), lines.end());
    return lines;
}

// A line as RTF: the reader's own characters escaped, anything beyond ASCII
// as its UTF-16 unit, a line break (CR, LF or both) as a paragraph.
void AppendRtfText(std::string& rtf, const std::string& text) {
    const std::wstring wide = AnsiToWide(text);
    for (size_t i = 0; i < wide.size(); ++i) {
        const wchar_t c = wide[i];
        if (c == L'\\' || c == L'{' || c == L'}') {
            rtf += '\\';
            rtf += static_cast<char>(c);
        } else if (c == L'\r' || c == L'\n') {
            if (c == L'\r' && i + 1 < wide.size() && wide[i + 1] == L'\n') ++i;
            rtf += "\\par ";
        } else if (c >= 0x20 && c < 0x7F) {
            rtf += static_cast<char>(c);
        } else {
            rtf += "\\u" + std::to_string(static_cast<int16_t>(c)) + "?";
        }
    }
}

// The lines as one RTF text of colours only (font and size stay the
// insertion point's), each after a paragraph mark unless lead is false for the first.
std::string RtfOf(const std::vector<TLogLine>& lines, bool lead) {
    std::vector<TColor> colours;
    std::string rtf = "{\\rtf1\\ansi\\uc1{\\colortbl;";
    for (const TLogLine& line : lines) {
        if (std::find(colours.begin(), colours.end(), line.Color) != colours.end()) continue;
        colours.push_back(line.Color);
        const COLORREF rgb = ColorToRGB(line.Color);
        rtf += "\\red" + std::to_string(GetRValue(rgb)) + "\\green" + std::to_string(GetGValue(rgb)) + "\\blue" +
               std::to_string(GetBValue(rgb)) + ";";
    }
    rtf += "}";
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lead || i > 0) rtf += "\\par ";
        if (i == 0 || lines[i].Color != lines[i - 1].Color) {
            const auto index = std::find(colours.begin(), colours.end(), lines[i].Color) - colours.begin();
            rtf += "\\cf" + std::to_string(index + 1) + " ";
        }
        AppendRtfText(rtf, lines[i].Text);
    }
    return rtf + "}";
}

struct TRtfSource {
    const std::string& text;
    size_t at = 0;
};

DWORD CALLBACK ReadRtf(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* done) {
    auto* source = reinterpret_cast<TRtfSource*>(cookie);
    const size_t n = std::min(static_cast<size_t>(size), source->text.size() - source->at);
    std::memcpy(buffer, source->text.data() + source->at, n);
    source->at += n;
    *done = static_cast<LONG>(n);
    return 0;
}
} // namespace

void TRichLog::AddLine(const std::string& text, TColor color) { AddLines({{text, color}}); }

void TRichLog::AddLines(const std::vector<TLogLine>& texts) {
    if (texts.empty()) return;
    std::vector<TLogLine> limited;
    size_t drop = 0;
    if (MaxLines > 0) {
        const size_t keep = static_cast<size_t>(MaxLines);
        limited = LastLines(texts, keep);
        drop = held_.size() + limited.size() > keep ? held_.size() + limited.size() - keep : 0;
        if (drop > held_.size() / 2 || !HandleAllocated()) {
            // A new window with the lines that stay costs less than deleting
            // most of the old one's (its lines go at once with the window);
            // a window made anew holds none of them.
            held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(drop));
            limited.insert(limited.begin(), held_.begin(), held_.end());
            held_.clear();
            drop = 0;
            DestroyHandle();
        }
    }
    const std::vector<TLogLine>& lines = MaxLines > 0 ? limited : texts;
    HWND wnd = HandleNeeded();
    // A shown control redraws each new paragraph as it lays it out, a round
    // trip to the window system per line: a text of many lines is laid out
    // undrawn and drawn once. Only a shown control is frozen: thawing sets
    // the visible style again.
    const bool freeze = (lines.size() > 1 || drop > 0 || lines.front().Text.find('\n') != std::string::npos) &&
                        (::GetWindowLongA(wnd, GWL_STYLE) & WS_VISIBLE);
    if (freeze) ::SendMessageA(wnd, WM_SETREDRAW, FALSE, 0);
    Insert(wnd, lines);
    DropFirstLines(drop);
    if (MaxLines > 0) held_.insert(held_.end(), limited.begin(), limited.end());
    if (freeze) {
        ::SendMessageA(wnd, WM_SETREDRAW, TRUE, 0);
        ::InvalidateRect(wnd, nullptr, TRUE);
    }
    ScrollToEnd(true);
}

void TRichLog::Insert(HWND wnd, const std::vector<TLogLine>& lines) {
    const int end = TextLength();
    ::SendMessageA(wnd, EM_SETSEL, static_cast<WPARAM>(end), static_cast<LPARAM>(end));
    const bool oneColour = std::all_of(lines.begin(), lines.end(),
                                       [&](const TLogLine& line) { return line.Color == lines.front().Color; });
    if (!oneColour) {
        // Every change of the control lays out its whole text again: lines
        // of several colours go in as one stream, not coloured one by one.
        const std::string rtf = RtfOf(lines, end > 0);
        TRtfSource source{rtf};
        EDITSTREAM stream{reinterpret_cast<DWORD_PTR>(&source), 0, ReadRtf};
        ::SendMessageA(wnd, EM_STREAMIN, SF_RTF | SFF_SELECTION, reinterpret_cast<LPARAM>(&stream));
        const int last = TextLength();
        ::SendMessageA(wnd, EM_SETSEL, static_cast<WPARAM>(last), static_cast<LPARAM>(last));
        SetSelectionColor(clBlack);
        return;
    }
    // Every line but the first starts after a line break of its own.
    std::string text;
    size_t length = 0;
    for (const TLogLine& line : lines) length += line.Text.size() + 2;
    text.reserve(length);
    for (size_t i = 0; i < lines.size(); ++i) {
        if (end > 0 || i > 0) text += "\r\n";
        text += lines[i].Text;
    }
    SetSelectionColor(lines.front().Color);
    // Each piece goes in at the caret the one before left at the end, in
    // the colour it carries on.
    size_t from = 0;
    do {
        const size_t to = PieceEnd(text, from);
        const std::string piece = text.substr(from, to - from);
        ::SendMessageA(wnd, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(piece.c_str()));
        from = to;
    } while (from < text.size());
    SetSelectionColor(clBlack);
}

void TRichLog::DropFirstLines(size_t count) {
    if (count == 0) return;
    for (size_t done = 0; done < count;) {
        // Each line with the line break after it.
        int cut = 0;
        for (const size_t step = std::min(count, done + kDropStep); done < step; ++done)
            cut += ControlLength(held_[done].Text) + 1;
        ::SendMessageA(handle_, EM_SETSEL, 0, cut);
        ::SendMessageA(handle_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(""));
    }
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(count));
    const int end = TextLength();
    ::SendMessageA(handle_, EM_SETSEL, static_cast<WPARAM>(end), static_cast<LPARAM>(end));
}

void TRichLog::Clear() {
    held_.clear();
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
