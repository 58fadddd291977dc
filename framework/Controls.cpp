#include "framework/Controls.h"
#include "framework/Drag.h"
#include "framework/SysUtils.h"
#include <algorithm>

namespace krv {

namespace {
const char* const kControlClass = "KorvaneControl";
const char* const kParkingClass = "KorvaneParking";

int MouseX(LPARAM lParam) { return static_cast<short>(LOWORD(lParam)); }
int MouseY(LPARAM lParam) { return static_cast<short>(HIWORD(lParam)); }
}

namespace {
struct TKeyBit {
    TShiftStateFlag Shift;
    DWORD Key;
};
constexpr TKeyBit kMouseKeys[] = {{ssShift, MK_SHIFT}, {ssCtrl, MK_CONTROL}, {ssLeft, MK_LBUTTON},
                                  {ssRight, MK_RBUTTON}, {ssMiddle, MK_MBUTTON}};
}

TShiftState MouseShiftState(WPARAM wParam) {
    TShiftState s = 0;
    for (const TKeyBit& bit : kMouseKeys)
        if (wParam & bit.Key) s |= bit.Shift;
    if (::GetKeyState(VK_MENU) < 0) s |= ssAlt;
    return s;
}

DWORD ShiftStateKeys(TShiftState shift) {
    DWORD keys = (shift & ssAlt) ? DWORD(MK_ALT) : 0;
    for (const TKeyBit& bit : kMouseKeys)
        if (shift & bit.Shift) keys |= bit.Key;
    return keys;
}

std::string EditControlLine(HWND edit, int index) {
    LRESULT start = ::SendMessageA(edit, EM_LINEINDEX, static_cast<WPARAM>(index), 0);
    if (start < 0) return {};
    int len = static_cast<int>(::SendMessageA(edit, EM_LINELENGTH, static_cast<WPARAM>(start), 0));
    // The first word of the buffer carries its size; a rich edit may add a line break.
    std::string s(static_cast<size_t>(std::max(len, 2)) + 2, '\0');
    *reinterpret_cast<WORD*>(s.data()) = static_cast<WORD>(s.size());
    LRESULT got = ::SendMessageA(edit, EM_GETLINE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(s.data()));
    s.resize(static_cast<size_t>(std::min<LRESULT>(got, len)));
    return s;
}

TShiftState KeyboardShiftState() {
    TShiftState s = 0;
    if (::GetKeyState(VK_SHIFT) < 0) s |= ssShift;
    if (::GetKeyState(VK_CONTROL) < 0) s |= ssCtrl;
    if (::GetKeyState(VK_MENU) < 0) s |= ssAlt;
    return s;
}

HWND ParkingWindow() {
    static HWND parking = nullptr;
    if (!parking || !::IsWindow(parking)) {
        RegisterWindowClass(kParkingClass, 0);
        parking = ::CreateWindowExA(WS_EX_TOOLWINDOW, kParkingClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                    ::GetModuleHandleA(nullptr), nullptr);
    }
    return parking;
}

// ---------------------------------------------------------------- TControl

TControl::TControl(TComponent* owner) : TComponent(owner) {
    font_.OnChange = [this] { FontChanged(); };
}

TControl::~TControl() {
    ControlDragGone(this);
    if (parent_) parent_->RemoveControl(this);
}

void TControl::SetParent(TWinControl* parent) {
    if (parent == parent_) return;
    if (parent == this) throw Exception("A control cannot be its own parent");
    if (parent_) parent_->RemoveControl(this);
    parent_ = nullptr;
    if (parent) parent->InsertControl(this);
}

void TControl::SetBounds(int left, int top, int width, int height) {
    UpdateBounds(left, top, width, height);
    if (parent_ && align_ != alNone) parent_->Realign();
}

void TControl::UpdateBounds(int left, int top, int width, int height) {
    left_ = left;
    top_ = top;
    width_ = std::max(0, width);
    height_ = std::max(0, height);
}

void TControl::SetAlign(TAlign align) {
    if (align == align_) return;
    align_ = align;
    if (parent_) parent_->Realign();
}

void TControl::SetVisible(bool visible) {
    visible_ = visible;
    if (parent_) parent_->Realign();
}

void TControl::SetEnabled(bool enabled) { enabled_ = enabled; }
void TControl::SetCaption(const std::string& text) { caption_ = text; }
void TControl::SetColor(TColor color) { color_ = color; }

void TControl::Click() { DoClick(); }
void TControl::DoClick() { if (OnClick) OnClick(this); }
void TControl::DoStartDrag(TDragObject*& dragObject) { if (OnStartDrag) OnStartDrag(this, dragObject); }
void TControl::DoDblClick() { if (OnDblClick) OnDblClick(this); }
void TControl::DoResize() { if (OnResize) OnResize(this); }

void TControl::ApplyAnchors(int dw, int dh) {
    if (align_ != alNone || (dw == 0 && dh == 0)) return;
    int l = left_, t = top_, w = width_, h = height_;
    if (anchors_ & akRight) {
        if (anchors_ & akLeft) w += dw; else l += dw;
    }
    if (anchors_ & akBottom) {
        if (anchors_ & akTop) h += dh; else t += dh;
    }
    UpdateBounds(l, t, w, h);
}

// ------------------------------------------------------------- TWinControl

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {}

TWinControl::~TWinControl() {
    std::vector<TControl*> children;
    children.swap(controls_);
    DestroyHandle();
    for (TControl* child : children) {
        child->parent_ = nullptr;
        if (!child->Owner()) delete child;
    }
    if (parent_) {
        parent_->RemoveControl(this);
        parent_ = nullptr;
    }
}

void TWinControl::InsertControl(TControl* control) {
    controls_.push_back(control);
    control->parent_ = this;
}

void TWinControl::RemoveControl(TControl* control) {
    controls_.erase(std::remove(controls_.begin(), controls_.end(), control), controls_.end());
    if (control->parent_ == this) control->parent_ = nullptr;
    Realign();
}

void TWinControl::SetParent(TWinControl* parent) {
    if (parent == parent_) return;
    for (TWinControl* p = parent; p; p = p->Parent())
        if (p == this) throw Exception("A control cannot be placed inside itself");
    TControl::SetParent(parent);
    if (HandleAllocated()) {
        ::SetParent(handle_, parent ? parent->HandleNeeded() : ParkingWindow());
        if (parent) parent->Realign();
    } else if (parent && parent->HandleAllocated() && (visible_ || !HandleWhenShown)) {
        HandleNeeded();
    }
}

bool TWinControl::WindowHeldBack() const {
    bool held = false;
    for (const TWinControl* c = this; c; c = c->parent_) {
        if (c->handle_) return held;
        held = held || c->HandleWhenShown;
    }
    return false;
}

TWinControl* TWinControl::FindChildControl(HWND wnd) const {
    for (TControl* c : controls_) {
        auto* w = dynamic_cast<TWinControl*>(c);
        if (!w) continue;
        if (w->Handle() == wnd) return w;
        if (TWinControl* deeper = w->FindChildControl(wnd)) return deeper;
    }
    return nullptr;
}

HWND TWinControl::HandleNeeded() {
    if (!handle_ && !creating_) CreateWnd();
    return handle_;
}

void TWinControl::CreateParams(TCreateParams& params) {
    params.WinClassName = kControlClass;
    params.OwnClass = true;
    params.Caption = caption_;
    params.Style = WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    if (visible_) params.Style |= WS_VISIBLE;
    if (!enabled_) params.Style |= WS_DISABLED;
    if (TabStop) params.Style |= WS_TABSTOP;
    params.X = left_;
    params.Y = top_;
    params.Width = width_;
    params.Height = height_;
    params.WndParent = parent_ ? parent_->HandleNeeded() : ParkingWindow();
}

namespace {

// The wide class a Unicode window is made of, registered on first use. One
// left by another procedure is replaced while no window uses it.
std::wstring UnicodeWindowClass(const TCreateParams& params) {
    const std::wstring base = AnsiToWide(params.WinClassName);
    const std::wstring name = base + L".UnicodeClass";
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    if (params.OwnClass || base.empty() || !::GetClassInfoExW(nullptr, base.c_str(), &wc)) {
        wc = WNDCLASSEXW{};
        wc.cbSize = sizeof wc;
        wc.style = params.ClassStyle;
        wc.lpfnWndProc = &::DefWindowProcW;
        wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.hbrBackground = params.ClassBackground;
    }
    wc.hInstance = instance;
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = name.c_str();
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof existing;
    if (::GetClassInfoExW(instance, name.c_str(), &existing) &&
        (existing.lpfnWndProc == wc.lpfnWndProc || !::UnregisterClassW(name.c_str(), instance)))
        return name;
    if (!::RegisterClassExW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw Exception("Cannot register the window class " + params.WinClassName + ".UnicodeClass: " +
                        SysErrorMessage(::GetLastError()));
    return name;
}

} // namespace

void TWinControl::CreateWnd() {
    TCreateParams params;
    CreateParams(params);
    creating_ = true;
    struct Reset { bool& flag; ~Reset() { flag = false; } } reset{creating_};
    if (params.Unicode) {
        const std::wstring cls = UnicodeWindowClass(params);
        HWND wnd = ::CreateWindowExW(params.ExStyle, cls.c_str(), params.WideCaption.c_str(), params.Style,
                                     params.X, params.Y, params.Width, params.Height, params.WndParent, nullptr,
                                     ::GetModuleHandleW(nullptr), nullptr);
        if (wnd && !SubclassWindow(wnd, true)) ::DestroyWindow(wnd);
    } else if (params.OwnClass) {
        RegisterWindowClass(params.WinClassName.c_str(), params.ClassStyle, params.ClassBackground);
        CreateWindowHandle(params.WinClassName.c_str(), params.Caption.c_str(), params.Style, params.ExStyle,
                           params.X, params.Y, params.Width, params.Height, params.WndParent);
    } else {
        HWND wnd = ::CreateWindowExA(params.ExStyle, params.WinClassName.c_str(), params.Caption.c_str(),
                                     params.Style, params.X, params.Y, params.Width, params.Height,
                                     params.WndParent, nullptr, ::GetModuleHandleA(nullptr), nullptr);
        if (wnd && !SubclassWindow(wnd)) ::DestroyWindow(wnd);
    }
    if (!handle_) {
        DWORD err = ::GetLastError();
        throw Exception("Cannot create a window of class " + params.WinClassName + ": " + SysErrorMessage(err));
    }
    ::SendMessageA(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Handle()), FALSE);
    CreateHandleDone();
    for (TControl* c : controls_)
        if (auto* w = dynamic_cast<TWinControl*>(c); w && (w->visible_ || !w->HandleWhenShown)) w->HandleNeeded();
    lastClientWidth_ = lastClientHeight_ = -1;
    creating_ = false;
    Realign();
}

void TWinControl::HandleDestroyed() {
    lastClientWidth_ = lastClientHeight_ = -1;
}

void TWinControl::SetBounds(int left, int top, int width, int height) {
    UpdateBounds(left, top, width, height);
    if (parent_ && align_ != alNone) parent_->Realign();
}

void TWinControl::UpdateBounds(int left, int top, int width, int height) {
    TControl::UpdateBounds(left, top, width, height);
    if (handle_)
        ::SetWindowPos(handle_, nullptr, left_, top_, width_, height_, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TWinControl::ReadBoundsFromWindow() {
    if (!handle_ || ::IsIconic(handle_)) return;
    RECT r;
    ::GetWindowRect(handle_, &r);
    if (::GetWindowLongA(handle_, GWL_STYLE) & WS_CHILD) {
        HWND parent = ::GetParent(handle_);
        ::MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
    }
    TControl::UpdateBounds(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

void TWinControl::SetVisible(bool visible) {
    visible_ = visible;
    if (visible && !handle_ && HandleWhenShown && parent_ && parent_->HandleAllocated()) HandleNeeded();
    else if (handle_) ::ShowWindow(handle_, visible ? SW_SHOWNA : SW_HIDE);
    if (parent_) parent_->Realign();
}

void TWinControl::SetEnabled(bool enabled) {
    enabled_ = enabled;
    if (handle_) ::EnableWindow(handle_, enabled);
}

std::string TWinControl::Caption() const {
    if (!handle_) return caption_;
    int len = ::GetWindowTextLengthA(handle_);
    std::string s(static_cast<size_t>(len) + 1, '\0');
    int got = ::GetWindowTextA(handle_, s.data(), len + 1);
    s.resize(static_cast<size_t>(std::max(0, got)));
    return s;
}

void TWinControl::SetCaption(const std::string& text) {
    caption_ = text;
    if (handle_) ::SetWindowTextA(handle_, text.c_str());
}

void TWinControl::SetColor(TColor color) {
    color_ = color;
    Invalidate();
}

void TWinControl::FontChanged() {
    if (handle_) {
        ::SendMessageA(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Handle()), TRUE);
        Invalidate();
    }
}

RECT TWinControl::ClientRect() {
    RECT r{0, 0, width_, height_};
    if (handle_) ::GetClientRect(handle_, &r);
    return r;
}
int TWinControl::ClientWidth() { RECT r = ClientRect(); return r.right - r.left; }
int TWinControl::ClientHeight() { RECT r = ClientRect(); return r.bottom - r.top; }

void TWinControl::SetClientSize(int width, int height) {
    RECT r = ClientRect();
    SetBounds(left_, top_, width_ + width - (r.right - r.left), height_ + height - (r.bottom - r.top));
}

void TWinControl::AdjustClientRect(RECT&) {}

void TWinControl::Realign() {
    if (!handle_ || aligning_ || creating_) return;
    aligning_ = true;
    struct Reset { bool& flag; ~Reset() { flag = false; } } reset{aligning_};
    RECT client = ClientRect();
    int cw = client.right - client.left, ch = client.bottom - client.top;
    if (lastClientWidth_ >= 0) {
        for (TControl* c : controls_) c->ApplyAnchors(cw - lastClientWidth_, ch - lastClientHeight_);
    }
    lastClientWidth_ = cw;
    lastClientHeight_ = ch;
    AdjustClientRect(client);
    AlignControls(client);
}

void TWinControl::AlignControls(RECT& rect) {
    for (TAlign pass : {alTop, alBottom, alLeft, alRight, alClient}) {
        for (TControl* c : controls_) {
            if (c->align_ != pass || !c->visible_) continue;
            int w = rect.right - rect.left, h = rect.bottom - rect.top;
            switch (pass) {
            case alTop:
                c->UpdateBounds(rect.left, rect.top, w, c->height_);
                rect.top += c->height_;
                break;
            case alBottom:
                c->UpdateBounds(rect.left, rect.bottom - c->height_, w, c->height_);
                rect.bottom -= c->height_;
                break;
            case alLeft:
                c->UpdateBounds(rect.left, rect.top, c->width_, h);
                rect.left += c->width_;
                break;
            case alRight:
                c->UpdateBounds(rect.right - c->width_, rect.top, c->width_, h);
                rect.right -= c->width_;
                break;
            default:
                c->UpdateBounds(rect.left, rect.top, w, h);
                break;
            }
            if (rect.bottom < rect.top) rect.bottom = rect.top;
            if (rect.right < rect.left) rect.right = rect.left;
        }
    }
}

void TWinControl::Invalidate() {
    if (handle_) ::InvalidateRect(handle_, nullptr, TRUE);
}

void TWinControl::Update() {
    if (handle_) ::UpdateWindow(handle_);
}

bool TWinControl::Focused() const { return handle_ && ::GetFocus() == handle_; }

bool TWinControl::CanFocus() const {
    for (const TWinControl* c = this; c; c = c->Parent())
        if (!c->visible_ || !c->enabled_) return false;
    return true;
}

void TWinControl::SetFocus() {
    if (HandleNeeded()) ::SetFocus(handle_);
}

bool TWinControl::CNCommand(WORD, LRESULT&) { return false; }
bool TWinControl::CNNotify(NMHDR*, LRESULT&) { return false; }
bool TWinControl::CNCtlColor(HDC, HBRUSH&) { return false; }
bool TWinControl::CNDrawItem(DRAWITEMSTRUCT*) { return false; }
bool TWinControl::CNMeasureItem(MEASUREITEMSTRUCT*) { return false; }

HBRUSH TWinControl::BackgroundBrush() {
    background_.SetColor(color_);
    return background_.Handle();
}

void TWinControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    if (OnMouseDown) OnMouseDown(this, button, shift, x, y);
}
void TWinControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    if (OnMouseUp) OnMouseUp(this, button, shift, x, y);
}
bool TWinControl::DoMouseWheel(TShiftState shift, int wheelDelta, POINT mousePos) {
    bool handled = false;
    if (OnMouseWheel) OnMouseWheel(this, shift, wheelDelta, mousePos, handled);
    return handled;
}

void TWinControl::MouseMove(TShiftState shift, int x, int y) {
    if (OnMouseMove) OnMouseMove(this, shift, x, y);
}
void TWinControl::KeyDown(WORD& key, TShiftState shift) {
    if (OnKeyDown) OnKeyDown(this, key, shift);
}
void TWinControl::KeyUp(WORD& key, TShiftState shift) {
    if (OnKeyUp) OnKeyUp(this, key, shift);
}
void TWinControl::KeyPress(char& key) {
    if (OnKeyPress) OnKeyPress(this, key);
}

bool TWinControl::ReflectToChild(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    HWND from = nullptr;
    switch (msg) {
    case WM_COMMAND: from = reinterpret_cast<HWND>(lParam); break;
    case WM_NOTIFY: from = reinterpret_cast<NMHDR*>(lParam)->hwndFrom; break;
    case WM_DRAWITEM: from = reinterpret_cast<DRAWITEMSTRUCT*>(lParam)->hwndItem; break;
    default: from = reinterpret_cast<HWND>(lParam); break;   // WM_CTLCOLOR*
    }
    if (!from || from == handle_) return false;
    auto* child = dynamic_cast<TWinControl*>(TWindow::FromHandle(from));
    if (!child) return false;
    switch (msg) {
    case WM_COMMAND: return child->CNCommand(HIWORD(wParam), result);
    case WM_NOTIFY: return child->CNNotify(reinterpret_cast<NMHDR*>(lParam), result);
    case WM_DRAWITEM:
        if (child->CNDrawItem(reinterpret_cast<DRAWITEMSTRUCT*>(lParam))) { result = TRUE; return true; }
        return false;
    default: {
        HBRUSH brush = nullptr;
        if (child->CNCtlColor(reinterpret_cast<HDC>(wParam), brush)) {
            result = reinterpret_cast<LRESULT>(brush);
            return true;
        }
        return false;
    }
    }
}

bool TWinControl::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
    case WM_COMMAND:
        if (lParam) return ReflectToChild(msg, wParam, lParam, result);
        break;
    case WM_NOTIFY:
    case WM_DRAWITEM:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX:
        return ReflectToChild(msg, wParam, lParam, result);
    case WM_ERASEBKGND:
        if (!oldWndProc_) {
            RECT r;
            ::GetClientRect(handle_, &r);
            ::FillRect(reinterpret_cast<HDC>(wParam), &r, BackgroundBrush());
            result = 1;
            return true;
        }
        break;
    case WM_SIZE:
        ReadBoundsFromWindow();
        if (wParam != SIZE_MINIMIZED) {
            Realign();
            DoResize();
        }
        break;
    case WM_MOVE:
        ReadBoundsFromWindow();
        break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        TMouseButton b = msg == WM_RBUTTONDOWN ? mbRight : msg == WM_MBUTTONDOWN ? mbMiddle : mbLeft;
        TShiftState s = MouseShiftState(wParam) | (msg == WM_LBUTTONDBLCLK ? unsigned(ssDouble) : 0u);
        MouseDown(b, s, MouseX(lParam), MouseY(lParam));
        if (msg == WM_LBUTTONDBLCLK) DoDblClick();
        break;
    }
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP: {
        TMouseButton b = msg == WM_RBUTTONUP ? mbRight : msg == WM_MBUTTONUP ? mbMiddle : mbLeft;
        MouseUp(b, MouseShiftState(wParam), MouseX(lParam), MouseY(lParam));
        break;
    }
    case WM_MOUSEMOVE:
        MouseMove(MouseShiftState(wParam), MouseX(lParam), MouseY(lParam));
        break;
    case WM_KEYDOWN:
    case WM_KEYUP: {
        WORD key = static_cast<WORD>(wParam);
        if (msg == WM_KEYDOWN) KeyDown(key, KeyboardShiftState()); else KeyUp(key, KeyboardShiftState());
        if (key == 0) { result = 0; return true; }
        break;
    }
    case WM_CHAR: {
        // A wide character beyond Latin-1 reaches KeyPress as 255; the window
        // itself still gets the original code.
        char c = static_cast<char>(wParam > 255 ? 255 : wParam);
        KeyPress(c);
        if (c == 0) { result = 0; return true; }
        break;
    }
    case WM_SETFOCUS:
        if (OnEnter) OnEnter(this);
        break;
    case WM_KILLFOCUS:
        if (OnExit) OnExit(this);
        break;
    case CM_DRAG:
        // A control takes no drop unless it says otherwise; it is its own target.
        result = wParam == dmFindTarget && enabled_ ? reinterpret_cast<LRESULT>(static_cast<TControl*>(this)) : 0;
        return true;
    default:
        break;
    }
    return false;
}

// ----------------------------------------------------------- TCustomControl

TCustomControl::TCustomControl(TComponent* owner) : TWinControl(owner) {}

void TCustomControl::Paint() {
    if (OnPaint) OnPaint(this);
}

bool TCustomControl::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    // The canvas draws into the DC for the one call and lets it go however Paint ends.
    auto paintInto = [this](HDC dc) {
        canvas_.SetHandle(dc);
        canvas_.Font = font_;
        try {
            Paint();
        } catch (...) {
            canvas_.SetHandle(nullptr);
            throw;
        }
        canvas_.SetHandle(nullptr);
    };
    if (msg == WM_PRINTCLIENT) {
        // Paints into a DC the caller owns (snapshots, animation).
        paintInto(reinterpret_cast<HDC>(wParam));
        result = 0;
        return true;
    }
    if (msg == WM_PAINT) {
        PaintScope paint(handle_);
        paintInto(paint.dc());
        result = 0;
        return true;
    }
    return TWinControl::HandleMessage(msg, wParam, lParam, result);
}

} // namespace krv
