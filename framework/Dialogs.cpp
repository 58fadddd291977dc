#include "framework/Dialogs.h"
#include "framework/SysUtils.h"
#include <algorithm>
#include <cmath>

namespace krv {

namespace {
MessageBoxHook messageBoxHook;
}

void SetMessageBoxHook(MessageBoxHook hook) { messageBoxHook = std::move(hook); }

int ShowMessageBox(const std::string& text, const std::string& caption, UINT flags) {
    if (messageBoxHook) return messageBoxHook(text, caption, flags);
    return ::MessageBoxA(::GetActiveWindow(), text.c_str(), caption.c_str(), flags);
}

TDateTime SystemTimeToDateTime(const SYSTEMTIME& st) {
    FILETIME ft;
    if (!::SystemTimeToFileTime(&st, &ft)) return 0;
    ULARGE_INTEGER v;
    v.LowPart = ft.dwLowDateTime;
    v.HighPart = ft.dwHighDateTime;
    // FILETIME counts 100 ns from 1601-01-01; 109205 days lie between that and 1899-12-30.
    return static_cast<double>(v.QuadPart) / 864000000000.0 - 109205.0;
}

SYSTEMTIME DateTimeToSystemTime(TDateTime value) {
    double ticks = std::floor((value + 109205.0) * 864000000000.0 + 0.5);
    ULARGE_INTEGER v;
    v.QuadPart = ticks < 0 ? 0 : static_cast<ULONGLONG>(ticks);
    // Round to whole milliseconds so 12:00:00 does not print as 11:59:59.
    v.QuadPart = (v.QuadPart + 5000) / 10000 * 10000;
    FILETIME ft{v.LowPart, v.HighPart};
    SYSTEMTIME st{};
    ::FileTimeToSystemTime(&ft, &st);
    return st;
}

TDateTime Now() {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    return SystemTimeToDateTime(st);
}

std::string DateToStr(TDateTime value) {
    SYSTEMTIME st = DateTimeToSystemTime(value);
    char buf[128];
    int n = ::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, buf, sizeof buf);
    return n > 0 ? std::string(buf) : std::string();
}

std::string TimeToStr(TDateTime value) {
    SYSTEMTIME st = DateTimeToSystemTime(value);
    char buf[128];
    int n = ::GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, buf, sizeof buf);
    return n > 0 ? std::string(buf) : std::string();
}

std::string DateTimeToStr(TDateTime value) {
    return DateToStr(value) + " " + TimeToStr(value);
}

} // namespace krv

// ------------------------------------------------- dialogs from templates

namespace krv {

namespace {

std::function<void(HWND)> dialogShownHook;

// Writes a DLGTEMPLATE and its items into a WORD-aligned buffer.
class TDialogTemplate {
public:
    TDialogTemplate(const std::string& caption, int width, int height, int itemCount) {
        Align(2);
        DLGTEMPLATE t{};
        t.style = DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU;
        t.cdit = static_cast<WORD>(itemCount);
        t.cx = static_cast<short>(width);
        t.cy = static_cast<short>(height);
        Put(&t, sizeof t);
        Word(0);   // no menu
        Word(0);   // the standard dialog class
        Text(caption);
        Word(8);
        Text("MS Shell Dlg");
    }
    void Item(WORD id, WORD classAtom, DWORD style, int x, int y, int cx, int cy, const std::string& text) {
        Align(4);
        DLGITEMTEMPLATE i{};
        i.style = style | WS_CHILD | WS_VISIBLE;
        i.x = static_cast<short>(x);
        i.y = static_cast<short>(y);
        i.cx = static_cast<short>(cx);
        i.cy = static_cast<short>(cy);
        i.id = id;
        Put(&i, sizeof i);
        Word(0xFFFF);
        Word(classAtom);
        Text(text);
        Word(0);   // no creation data
    }
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(data_.data()); }

private:
    void Put(const void* p, size_t n) {
        const auto* b = static_cast<const BYTE*>(p);
        data_.insert(data_.end(), b, b + n);
    }
    void Word(WORD w) { Put(&w, sizeof w); }
    void Align(size_t to) {
        while (data_.size() % to) data_.push_back(0);
    }
    void Text(const std::string& s) {
        std::wstring w = AnsiToWide(s);
        Put(w.c_str(), (w.size() + 1) * sizeof(wchar_t));   // with its terminating null
    }
    std::vector<BYTE> data_;
};

constexpr WORD kButtonAtom = 0x0080, kEditAtom = 0x0081, kStaticAtom = 0x0082;

struct TInputState {
    std::string* value;
    bool password;
};

// Over the window it belongs to, else mid-screen, and wholly on the screen.
void CenterDialog(HWND dialog) {
    RECT self, area;
    ::GetWindowRect(dialog, &self);
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    RECT around = area;
    if (HWND owner = ::GetWindow(dialog, GW_OWNER); owner && ::IsWindowVisible(owner)) ::GetWindowRect(owner, &around);
    const int w = self.right - self.left, h = self.bottom - self.top;
    int x = (around.left + around.right - w) / 2, y = (around.top + around.bottom - h) / 2;
    x = std::max(static_cast<int>(area.left), std::min(x, static_cast<int>(area.right) - w));
    y = std::max(static_cast<int>(area.top), std::min(y, static_cast<int>(area.bottom) - h));
    ::SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK ButtonDialogProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG:
        CenterDialog(wnd);
        if (dialogShownHook) dialogShownHook(wnd);
        return TRUE;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) ::EndDialog(wnd, LOWORD(wParam));
        return TRUE;
    case WM_CLOSE:
        ::EndDialog(wnd, IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK InputDialogProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG: {
        auto* state = reinterpret_cast<TInputState*>(lParam);
        ::SetWindowLongPtrA(wnd, DWLP_USER, lParam);
        HWND edit = ::GetDlgItem(wnd, idInputEdit);
        if (state->password) ::SendMessageA(edit, EM_SETPASSWORDCHAR, '*', 0);
        CenterDialog(wnd);
        ::SetWindowTextA(edit, state->value->c_str());
        if (dialogShownHook) dialogShownHook(wnd);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            auto* state = reinterpret_cast<TInputState*>(::GetWindowLongPtrA(wnd, DWLP_USER));
            HWND edit = ::GetDlgItem(wnd, idInputEdit);
            std::string text(static_cast<size_t>(::GetWindowTextLengthA(edit)) + 1, '\0');
            text.resize(static_cast<size_t>(::GetWindowTextA(edit, text.data(), static_cast<int>(text.size()))));
            *state->value = text;
            ::EndDialog(wnd, IDOK);
        } else if (LOWORD(wParam) == IDCANCEL) {
            ::EndDialog(wnd, IDCANCEL);
        }
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

void SetDialogShownHook(std::function<void(HWND)> hook) { dialogShownHook = std::move(hook); }

int ShowButtonDialog(const std::string& text, const std::string& caption, const std::vector<TDialogButton>& buttons) {
    // Dialog units: buttons 50 wide with 4 between, the text above them.
    const int buttonWidth = 50, gap = 4, margin = 7;
    const int rowWidth = static_cast<int>(buttons.size()) * (buttonWidth + gap) - gap;
    const int width = std::max(rowWidth, 180) + 2 * margin;
    const int lines = 1 + static_cast<int>(text.size()) / 45;
    const int textHeight = 9 * std::min(lines, 12);
    TDialogTemplate t(caption, width, textHeight + 40, static_cast<int>(buttons.size()) + 1);
    t.Item(0xFFFF, kStaticAtom, SS_LEFT, margin, margin, width - 2 * margin, textHeight, text);
    int x = width - margin - rowWidth;
    bool first = true;
    for (const TDialogButton& b : buttons) {
        t.Item(static_cast<WORD>(b.Id), kButtonAtom, WS_TABSTOP | (first ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), x,
               textHeight + 2 * margin + 4, buttonWidth, 14, b.Caption);
        x += buttonWidth + gap;
        first = false;
    }
    INT_PTR r = ::DialogBoxIndirectParamA(::GetModuleHandleA(nullptr), t.Get(), ::GetActiveWindow(), ButtonDialogProc, 0);
    return r <= 0 ? IDCANCEL : static_cast<int>(r);
}

bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value, bool password) {
    TDialogTemplate t(caption, 200, 62, 4);
    t.Item(0xFFFF, kStaticAtom, SS_LEFT, 7, 7, 186, 9, prompt);
    t.Item(idInputEdit, kEditAtom, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 7, 19, 186, 12, "");
    t.Item(IDOK, kButtonAtom, WS_TABSTOP | BS_DEFPUSHBUTTON, 89, 40, 50, 14, "OK");
    t.Item(IDCANCEL, kButtonAtom, WS_TABSTOP | BS_PUSHBUTTON, 143, 40, 50, 14, "Cancel");
    std::string text = value;
    TInputState state{&text, password};
    INT_PTR r = ::DialogBoxIndirectParamA(::GetModuleHandleA(nullptr), t.Get(), ::GetActiveWindow(), InputDialogProc,
                                          reinterpret_cast<LPARAM>(&state));
    if (r != IDOK) return false;
    value = text;
    return true;
}

} // namespace krv
