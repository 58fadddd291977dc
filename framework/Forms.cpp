#include "framework/Forms.h"
#include "framework/Menus.h"
#include "framework/StdCtrls.h"
#include "framework/SysUtils.h"
#include "framework/Thread.h"
#include <commctrl.h>
#include <algorithm>
#include <utility>
#include <vector>

namespace krv {

namespace {
const char* const kFormClass = "KorvaneForm";

BOOL CALLBACK CollectEnabledWindow(HWND wnd, LPARAM param) {
    auto* list = reinterpret_cast<std::vector<HWND>*>(param);
    if (::IsWindowVisible(wnd) && ::IsWindowEnabled(wnd)) list->push_back(wnd);
    return TRUE;
}

TButton* FindDialogButton(TWinControl* parent, bool cancel) {
    for (int i = 0; i < parent->ControlCount(); ++i) {
        TControl* c = parent->Controls(i);
        if (!c->Visible() || !c->Enabled()) continue;
        if (auto* b = dynamic_cast<TButton*>(c); b && (cancel ? b->Cancel : b->Default)) return b;
        if (auto* w = dynamic_cast<TWinControl*>(c))
            if (TButton* found = FindDialogButton(w, cancel)) return found;
    }
    return nullptr;
}
}

TForm* GetParentForm(TControl* control) {
    TControl* top = control;
    while (top && top->Parent()) top = top->Parent();
    return dynamic_cast<TForm*>(top);
}

// ------------------------------------------------------------------- TForm

TForm::TForm(TComponent* owner) : TWinControl(owner) {
    visible_ = false;
    SetBounds(0, 0, 400, 300);
}

TForm::~TForm() {
    if (Application().MainForm == this) Application().MainForm = nullptr;
    if (menu_) menu_->Window = nullptr;
}

void TForm::CreateParams(TCreateParams& params) {
    TWinControl::CreateParams(params);
    params.WinClassName = kFormClass;
    params.ClassBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    switch (BorderStyle) {
    case bsDialog:
        params.Style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
        params.ExStyle = WS_EX_DLGMODALFRAME;
        break;
    case bsSingle:
        params.Style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
        break;
    case bsNone:
        params.Style = WS_POPUP;
        break;
    default:
        params.Style = WS_OVERLAPPEDWINDOW;
        break;
    }
    params.Style |= WS_CLIPCHILDREN;
    params.ExStyle |= WS_EX_CONTROLPARENT;
    TForm* main = Application().MainForm;
    params.WndParent = (main && main != this && main->HandleAllocated()) ? main->Handle() : nullptr;
}

void TForm::SetMenu(TMainMenu* menu) {
    menu_ = menu;
    HWND wnd = HandleNeeded();
    if (menu) {
        menu->Window = wnd;
        ::SetMenu(wnd, menu->Handle());
    } else {
        ::SetMenu(wnd, nullptr);
    }
}

POINT PlaceInWorkArea(const RECT* owner, SIZE size, const RECT& work) {
    const RECT& around = owner ? *owner : work;
    LONG l = around.left + ((around.right - around.left) - size.cx) / 2;
    LONG t = around.top + ((around.bottom - around.top) - size.cy) / 2;
    l = std::max(std::min(l, work.right - size.cx), work.left);
    t = std::max(std::min(t, work.bottom - size.cy), work.top);
    return {l, t};
}

namespace {
// The work area of the monitor that shows most of rect, or of the primary one.
RECT WorkAreaNear(const RECT* rect) {
    HMONITOR monitor = rect ? ::MonitorFromRect(rect, MONITOR_DEFAULTTOPRIMARY)
                            : ::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (monitor && ::GetMonitorInfoA(monitor, &info)) return info.rcWork;
    RECT area{};
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    return area;
}
}

void TForm::PlaceWindow() {
    placed_ = true;
    if (Position == poDesigned) return;
    // A minimised or hidden owner, or one off every screen, has no centre
    // worth sharing: the window would land where no one sees it (an
    // unattended run's windows, owned by the minimised main window).
    TForm* main = Application().MainForm;
    RECT ownerRect{};
    bool byOwner = Position == poMainFormCenter && main && main != this && main->HandleAllocated() &&
                   ::IsWindowVisible(main->Handle()) && !::IsIconic(main->Handle()) &&
                   ::GetWindowRect(main->Handle(), &ownerRect) &&
                   ::MonitorFromRect(&ownerRect, MONITOR_DEFAULTTONULL) != nullptr;
    const RECT work = WorkAreaNear(byOwner ? &ownerRect : nullptr);
    POINT at = PlaceInWorkArea(byOwner ? &ownerRect : nullptr, SIZE{width_, height_}, work);
    SetBounds(at.x, at.y, width_, height_);
}

void TForm::Show() {
    HandleNeeded();
    if (!placed_) PlaceWindow();
    visible_ = true;
    ::ShowWindow(handle_, SW_SHOW);
    ::SetForegroundWindow(handle_);
}

int TForm::ShowModal() {
    HandleNeeded();
    std::vector<HWND> disabled;
    ::EnumThreadWindows(::GetCurrentThreadId(), &CollectEnabledWindow, reinterpret_cast<LPARAM>(&disabled));
    for (HWND w : disabled)
        if (w != handle_) ::EnableWindow(w, FALSE);
    HWND previous = ::GetActiveWindow();
    modal_ = true;
    modalResult_ = mrNone;
    Show();
    bool quit = false;
    while (!quit && handle_) {
        if (modalResult_ == mrNone) {
            quit = !Application().HandleOneMessage(true);
            continue;
        }
        TCloseAction action = caHide;
        DoClose(action);
        if (action != caNone) break;
        modalResult_ = mrNone;
    }
    for (HWND w : disabled)
        if (w != handle_) ::EnableWindow(w, TRUE);
    if (handle_) {
        visible_ = false;
        ::ShowWindow(handle_, SW_HIDE);
    }
    if (previous && ::IsWindow(previous)) ::SetActiveWindow(previous);
    modal_ = false;
    if (quit && modalResult_ == mrNone) modalResult_ = mrCancel;
    return modalResult_;
}

bool TForm::CloseQuery() {
    bool canClose = true;
    if (OnCloseQuery) OnCloseQuery(this, canClose);
    return canClose;
}

void TForm::Close() {
    if (!CloseQuery()) return;
    if (modal_) {
        modalResult_ = mrCancel;   // the modal loop asks OnClose
        return;
    }
    TCloseAction action = Application().MainForm == this ? caFree : caHide;
    DoClose(action);
    switch (action) {
    case caNone:
        return;
    case caMinimize:
        Minimize();
        return;
    default:
        if (Application().MainForm == this) {
            Application().Terminate();
            return;
        }
        SetVisible(false);
        return;
    }
}

void TForm::Minimize() {
    if (handle_) ::ShowWindow(handle_, SW_MINIMIZE);
}

bool TForm::Active() const { return handle_ && ::GetActiveWindow() == handle_; }

void TForm::DoCreate() { if (OnCreate) OnCreate(this); }
void TForm::DoShow() { if (OnShow) OnShow(this); }
void TForm::DoHide() { if (OnHide) OnHide(this); }
void TForm::DoActivate() { if (OnActivate) OnActivate(this); }
void TForm::DoDeactivate() { if (OnDeactivate) OnDeactivate(this); }
void TForm::DoClose(TCloseAction& action) { if (OnClose) OnClose(this, action); }

bool TForm::PressDialogButton(bool cancel) {
    TButton* b = FindDialogButton(this, cancel);
    if (!b) return false;
    b->Click();
    return true;
}

namespace {
UINT PostedStepMessage() {
    static const UINT message = ::RegisterWindowMessageA("Korvane.PostedStep");
    return message;
}
}

void TForm::PostStep(std::function<void()> step, bool paintFirst) {
    HandleNeeded();
    postedStep_ = std::move(step);
    paintFirst_ = paintFirst;
    if (!::PostMessageA(handle_, PostedStepMessage(), 0, 0)) {
        postedStep_ = nullptr;
        throw Exception("The window's first step could not be queued: " + SysErrorMessage(::GetLastError()));
    }
}

namespace {
BOOL CALLBACK TellChildOfColours(HWND child, LPARAM) {
    ::SendMessageA(child, WM_SYSCOLORCHANGE, 0, 0);
    return TRUE;
}
} // namespace

bool TForm::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (msg == PostedStepMessage() && msg != 0) {
        result = 0;
        if (std::function<void()> step = std::exchange(postedStep_, nullptr)) {
            if (paintFirst_) ::RedrawWindow(handle_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
            step();
        }
        return true;
    }
    switch (msg) {
    case WM_SYSCOLORCHANGE:
        // Only top-level windows hear of a new colour scheme: the controls on the form are told too.
        ::EnumChildWindows(handle_, TellChildOfColours, 0);
        break;
    case WM_CLOSE:
        Close();
        result = 0;
        return true;
    case WM_COMMAND: {
        // Enter and Escape in a form come as IDOK/IDCANCEL from the dialog manager.
        WORD id = LOWORD(wParam);
        bool fromOurControl = lParam && TWindow::FromHandle(reinterpret_cast<HWND>(lParam));
        if (!fromOurControl && HIWORD(wParam) == BN_CLICKED && (id == IDOK || id == IDCANCEL)) {
            PressDialogButton(id == IDCANCEL);
            result = 0;
            return true;
        }
        if (lParam == 0 && HIWORD(wParam) == 0 && menu_ && menu_->DispatchCommand(id)) {
            result = 0;
            return true;
        }
        break;
    }
    case WM_INITMENUPOPUP:
        if (menu_ && menu_->DispatchPopup(reinterpret_cast<HMENU>(wParam))) {
            result = 0;
            return true;
        }
        break;
    case WM_MENUSELECT: {
        // Closing the menu comes as 0xFFFF with no menu: the hint goes.
        const UINT flags = HIWORD(wParam);
        TMenuItem* item = nullptr;
        if (menu_ && !(flags == 0xFFFF && lParam == 0))
            item = menu_->FindSelected(LOWORD(wParam), flags, reinterpret_cast<HMENU>(lParam));
        Application().SetHint(item ? item->Hint : std::string());
        break;
    }
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        if (Constraints.MinWidth > 0) info->ptMinTrackSize.x = Constraints.MinWidth;
        if (Constraints.MinHeight > 0) info->ptMinTrackSize.y = Constraints.MinHeight;
        if (Constraints.MaxWidth > 0) info->ptMaxTrackSize.x = Constraints.MaxWidth;
        if (Constraints.MaxHeight > 0) info->ptMaxTrackSize.y = Constraints.MaxHeight;
        result = 0;
        return true;
    }
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) DoDeactivate(); else DoActivate();
        break;
    case WM_SHOWWINDOW:
        if (wParam) DoShow(); else DoHide();
        break;
    default:
        break;
    }
    return TWinControl::HandleMessage(msg, wParam, lParam, result);
}

// ------------------------------------------------------------ TApplication

TApplication::TApplication() : TComponent(nullptr) {}
TApplication::~TApplication() = default;

TApplication& Application() {
    static TApplication app;
    return app;
}

void TApplication::Initialize() {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_TAB_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&icc);
    InitSynchronize();
    SetWindowExceptionHandler([this](const std::exception_ptr& e) { HandleException(e); });
}

void TApplication::SetTitle(const std::string& title) { title_ = title; }

void TApplication::SetHint(const std::string& hint) {
    if (hint == hint_) return;
    hint_ = hint;
    DoHint();
}

void TApplication::DoHint() {
    if (OnHint) OnHint(this);
}

bool TApplication::HandleOneMessage(bool wait) {
    MSG msg;
    if (wait) {
        if (::GetMessageA(&msg, nullptr, 0, 0) <= 0) {
            terminated_ = true;
            ::PostQuitMessage(0);
            return false;
        }
    } else if (!::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        return true;
    } else if (msg.message == WM_QUIT) {
        terminated_ = true;
        ::PostQuitMessage(static_cast<int>(msg.wParam));
        return false;
    }
    HWND top = msg.hwnd ? ::GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (top && dynamic_cast<TForm*>(TWindow::FromHandle(top)) && ::IsDialogMessageA(top, &msg)) return true;
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
    return true;
}

void TApplication::ProcessMessages() {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
        if (!HandleOneMessage(false)) return;
    }
}

void TApplication::Run() {
    if (MainForm) MainForm->Show();
    while (HandleOneMessage(true)) {
    }
}

bool TApplication::HelpContext(int context) {
    if (OnHelp && OnHelp(context)) return true;
    if (HelpFile.empty() || context == 0) return false;
    return ::WinHelpA(MainForm ? MainForm->Handle() : nullptr, HelpFile.c_str(), HELP_CONTEXT, ULONG_PTR(context)) != 0;
}

void TApplication::Terminate() {
    terminated_ = true;
    ::PostQuitMessage(0);
}

void TApplication::Minimize() {
    if (MainForm) MainForm->Minimize();
}

void TApplication::Restore() {
    if (MainForm && MainForm->HandleAllocated()) ::ShowWindow(MainForm->Handle(), SW_RESTORE);
}

void TApplication::HandleException(const std::exception_ptr& e) {
    std::string text = ExceptionText(e);
    if (OnException) {
        OnException(this, text);
        return;
    }
    HWND owner = MainForm && MainForm->HandleAllocated() ? MainForm->Handle() : nullptr;
    ::MessageBoxA(owner, text.c_str(), title_.c_str(), MB_OK | MB_ICONSTOP);
}

// ------------------------------------------------------------------ TTimer

TTimer::TTimer(TComponent* owner) : TComponent(owner) {
    window_ = std::make_unique<TMessageWindow>([this](UINT msg, WPARAM, LPARAM, LRESULT& result) {
        if (msg != WM_TIMER) return false;
        DoTimer();
        result = 0;
        return true;
    });
    UpdateTimer();
}

TTimer::~TTimer() {
    if (window_ && window_->Handle()) ::KillTimer(window_->Handle(), 1);
}

void TTimer::SetEnabled(bool enabled) {
    enabled_ = enabled;
    UpdateTimer();
}

void TTimer::SetInterval(unsigned ms) {
    interval_ = ms;
    UpdateTimer();
}

void TTimer::UpdateTimer() {
    HWND wnd = window_->Handle();
    ::KillTimer(wnd, 1);
    if (enabled_ && interval_ > 0) ::SetTimer(wnd, 1, interval_, nullptr);
}

void TTimer::DoTimer() {
    if (OnTimer) OnTimer(this);
}

} // namespace krv
