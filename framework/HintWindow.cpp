#include "framework/HintWindow.h"

namespace krv {

namespace {
const char* const HintClassName = "KrvHintWindow";
const UINT_PTR HintTimerId = 1;
}

THintWindow::THintWindow() = default;

THintWindow::~THintWindow() { DestroyHandle(); }

HFONT THintWindow::HintFont() {
    static FontHandle font = [] {
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof metrics;
        if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
            return FontHandle(static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT)));
        return FontHandle(::CreateFontIndirectW(&metrics.lfStatusFont));
    }();
    return font.get();
}

void THintWindow::HandleNeeded() {
    if (handle_) return;
    RegisterWindowClass(HintClassName, CS_SAVEBITS, nullptr, ::LoadCursor(nullptr, IDC_ARROW));
    CreateWindowHandle(HintClassName, "", Style, ExStyle, 0, 0, 0, 0, nullptr);
}

RECT THintWindow::CalcHintRect(int maxWidth, const std::wstring& hint, void*) {
    RECT r{0, 0, maxWidth, 0};
    if (hint.empty()) return RECT{};
    {
        WindowDC dc(nullptr);
        SelectObjectScope font(dc.get(), HintFont());
        ::DrawTextW(dc.get(), hint.c_str(), int(hint.size()), &r, DT_CALCRECT | DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
    }
    r.right += 6;
    r.bottom += 2;
    return r;
}

void THintWindow::ActivateHint(RECT rect, const std::wstring& hint) {
    caption_ = hint;
    HandleNeeded();
    ::SetWindowPos(handle_, HWND_TOPMOST, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                   SWP_SHOWWINDOW | SWP_NOACTIVATE);
    ::InvalidateRect(handle_, nullptr, TRUE);
}

void THintWindow::ActivateHintData(RECT rect, const std::wstring& hint, void*) { ActivateHint(rect, hint); }

void THintWindow::ReleaseHandle() {
    if (handle_) ::ShowWindow(handle_, SW_HIDE);
}

void THintWindow::Paint(HDC dc) {
    RECT r;
    ::GetClientRect(handle_, &r);
    ::FillRect(dc, &r, ::GetSysColorBrush(COLOR_INFOBK));
    SelectObjectScope font(dc, HintFont());
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ::GetSysColor(COLOR_INFOTEXT));
    ::InflateRect(&r, -2, 0);
    ::DrawTextW(dc, caption_.c_str(), int(caption_.size()), &r, DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
}

bool THintWindow::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
    case WM_PAINT: {
        PaintScope paint(handle_);
        Paint(paint.dc());
        result = 0;
        return true;
    }
    case WM_MOUSEACTIVATE:
        result = MA_NOACTIVATE;
        return true;
    case WM_NCHITTEST:
        result = HTTRANSPARENT;
        return true;
    default:
        return TWindow::HandleMessage(msg, wParam, lParam, result);
    }
}

THintManager::THintManager() = default;
THintManager::~THintManager() = default;

void THintManager::MouseMoved(TControl* control, HWND wnd, POINT client, THintShow hintShow, int pause) {
    if (window_ && window_->Visible() && control == control_ && ::PtInRect(&cursorRect_, client)) return;
    CancelHint();
    control_ = control;
    wnd_ = wnd;
    pending_ = client;
    hintShow_ = std::move(hintShow);
    if (!timer_) {
        timer_ = std::make_unique<TMessageWindow>([this](UINT msg, WPARAM wParam, LPARAM, LRESULT& result) {
            if (msg != WM_TIMER || wParam != HintTimerId) return false;
            ::KillTimer(timer_->Handle(), HintTimerId);
            POINT cursor;
            // Only while the mouse is still over the control.
            if (::GetCursorPos(&cursor) && ::WindowFromPoint(cursor) == wnd_ && hintShow_) {
                THintShow hintShow = hintShow_;   // showing cancels the old hint, which forgets it
                ShowHintAt(control_, wnd_, pending_, hintShow);
            }
            result = 0;
            return true;
        });
    }
    ::SetTimer(timer_->Handle(), HintTimerId, pause >= 0 ? UINT(pause) : HintPause, nullptr);
}

bool THintManager::ShowHintAt(TControl* control, HWND wnd, POINT client, const THintShow& hintShow) {
    THintInfo info;
    info.HintControl = control;
    info.CursorPos = client;
    POINT screen = client;
    ::ClientToScreen(wnd, &screen);
    // Below the cursor's hot spot, as the system's tooltips are.
    info.HintPos = POINT{screen.x, screen.y + ::GetSystemMetrics(SM_CYCURSOR) / 2 + 4};
    ::GetClientRect(wnd, &info.CursorRect);
    info.HintMaxWidth = ::GetSystemMetrics(SM_CXSCREEN);
    bool keep = window_ && window_->Visible() && control == control_ && ::PtInRect(&cursorRect_, client);
    if (hintShow(info) != 0 || info.HintStr.empty()) {
        if (!keep) CancelHint();
        return keep;
    }
    std::unique_ptr<THintWindow> window =
        info.HintWindowClass ? info.HintWindowClass() : std::make_unique<THintWindow>();
    RECT r = window->CalcHintRect(info.HintMaxWidth, info.HintStr, info.HintData);
    CancelHint();
    if (::IsRectEmpty(&r)) return false;
    ::OffsetRect(&r, info.HintPos.x, info.HintPos.y);
    control_ = control;
    wnd_ = wnd;
    cursorRect_ = info.CursorRect;
    window_ = std::move(window);
    window_->ActivateHintData(r, info.HintStr, info.HintData);
    return true;
}

void THintManager::CancelHint() {
    if (timer_) ::KillTimer(timer_->Handle(), HintTimerId);
    if (window_) window_->ReleaseHandle();
    window_.reset();
    control_ = nullptr;
    wnd_ = nullptr;
    hintShow_ = nullptr;
}

THintManager& HintManager() {
    static THintManager manager;
    return manager;
}

} // namespace krv
