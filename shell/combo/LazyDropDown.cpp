#include "shell/combo/LazyDropDown.h"
#include "shell/base/ShellEntryPoints.h"
#include "shell/base/SystemVersion.h"
#include "framework/Forms.h"
#include <algorithm>
#include <uxtheme.h>
#include <vssym32.h>

namespace krv {

namespace {
constexpr UINT_PTR kAutoScrollTimer = 100;
// How far beyond the tree the mouse runs the slow interval before the fast one.
constexpr int kSlowZone = 20;

RECT ScreenRectOf(TControl* control) {
    RECT r{};
    if (auto* w = dynamic_cast<TWinControl*>(control); w && w->HandleAllocated()) {
        ::GetWindowRect(w->Handle(), &r);
        return r;
    }
    r = control->BoundsRect();
    if (TWinControl* parent = control->Parent(); parent && parent->HandleAllocated())
        ::MapWindowPoints(parent->Handle(), HWND_DESKTOP, reinterpret_cast<POINT*>(&r), 2);
    return r;
}
} // namespace

// ---------------------------------------------------------------- plain parts

TDropDownPlacement PlaceDropDown(const RECT& anchor, int height, int screenHeight) {
    int bottom = anchor.bottom, top = anchor.top;
    if (bottom + height <= screenHeight) return {anchor.left, bottom, height, false};
    if (top >= height) return {anchor.left, top - height, height, true};
    // Fits neither way: the side with more room, cut to the screen; below on a tie.
    if (top > screenHeight - bottom) return {anchor.left, 0, top, true};
    return {anchor.left, bottom, screenHeight - bottom, false};
}

TDropDownLayout LayoutDropDown(int w, int h, int scrollWidth, int gripHeight, bool openedBelow, bool rightToLeft) {
    int x = rightToLeft ? 0 : w - 2 - scrollWidth;
    TDropDownLayout l{};
    if (openedBelow) {
        l.Grip = RECT{x, h - 2 - gripHeight, x + scrollWidth, h - 2};
        l.ScrollBar = RECT{x, 0, x + scrollWidth, h - 2 - gripHeight};
    } else {
        l.Grip = RECT{x, -1, x + scrollWidth, gripHeight - 1};
        l.ScrollBar = RECT{x, gripHeight - 1, x + scrollWidth, h - 2};
    }
    return l;
}

TGripCorner GripCorner(bool openedBelow, bool rightToLeft) {
    if (rightToLeft) return openedBelow ? gcBottomLeft : gcTopLeft;
    return openedBelow ? gcBottomRight : gcTopRight;
}

void GripTriangle(const RECT& g, TGripCorner corner, POINT p[3]) {
    switch (corner) {
    case gcBottomRight: p[0] = {g.right, g.top}; p[1] = {g.right, g.bottom}; p[2] = {g.left, g.bottom}; break;
    case gcTopRight: p[0] = {g.left, g.top}; p[1] = {g.right, g.top}; p[2] = {g.right, g.bottom}; break;
    case gcBottomLeft: p[0] = {g.left, g.top}; p[1] = {g.left, g.bottom}; p[2] = {g.right, g.bottom}; break;
    case gcTopLeft: p[0] = {g.right, g.top}; p[1] = {g.left, g.top}; p[2] = {g.left, g.bottom}; break;
    }
}

// ---------------------------------------------------------------- the grip

TSizeGrabber::TSizeGrabber(TDropDownWnd* dropDown) : TCustomControl(dropDown), dropDown_(dropDown) {
    width_ = ::GetSystemMetrics(SM_CXVSCROLL);
    height_ = ::GetSystemMetrics(SM_CYVSCROLL);
    TabStop = false;
}

void TSizeGrabber::UpdateRegion() {
    if (!HandleAllocated()) return;
    POINT p[3];
    GripTriangle(RECT{0, 0, width_, height_}, GripCorner(!dropDown_->OpenedAbove(), dropDown_->RightToLeftScrollbar()), p);
    // The window owns the region once it is set.
    ::SetWindowRgn(Handle(), ::CreatePolygonRgn(p, 3, WINDING), TRUE);
}

void TSizeGrabber::PaintGrip(HDC dc, const RECT& r) {
    int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return;
    // Drawn for the bottom-right corner, then mirrored to the window's corner.
    MemoryDC mem(dc);
    BitmapHandle bmp(::CreateCompatibleBitmap(dc, w, h));
    SelectObjectScope select(mem.get(), bmp.get());
    RECT local{0, 0, w, h};
    ::FillRect(mem.get(), &local, ::GetSysColorBrush(COLOR_BTNFACE));
    TTheme theme;
    if (dropDown_->Options().Contains(poThemeAware) && theme.Open(Handle(), L"status"))
        theme.Draw(mem.get(), SP_GRIPPER, 0, local);
    else
        ::DrawFrameControl(mem.get(), &local, DFC_SCROLL, DFCS_SCROLLSIZEGRIP);
    TGripCorner corner = GripCorner(!dropDown_->OpenedAbove(), dropDown_->RightToLeftScrollbar());
    bool flipX = corner == gcBottomLeft || corner == gcTopLeft;
    bool flipY = corner == gcTopRight || corner == gcTopLeft;
    ::StretchBlt(dc, flipX ? r.right - 1 : r.left, flipY ? r.bottom - 1 : r.top, flipX ? -w : w, flipY ? -h : h,
                 mem.get(), 0, 0, w, h, SRCCOPY);
}

void TSizeGrabber::Paint() { PaintGrip(canvas_.Handle(), ClientRect()); }

bool TSizeGrabber::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (msg == WM_SETCURSOR && dropDown_->Options().Contains(poSizeable)) {
        ::SetCursor(::LoadCursor(nullptr, dropDown_->OpenedAbove() ? IDC_SIZENESW : IDC_SIZENWSE));
        result = TRUE;
        return true;
    }
    return TCustomControl::HandleMessage(msg, wParam, lParam, result);
}

void TSizeGrabber::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    TCustomControl::MouseDown(button, shift, x, y);
    if (button != mbLeft || !dropDown_->Options().Contains(poSizeable)) return;
    dragging_ = true;
    ::GetCursorPos(&start_);
    startBounds_ = dropDown_->BoundsRect();
    ::SetCapture(Handle());
}

void TSizeGrabber::MouseMove(TShiftState shift, int x, int y) {
    TCustomControl::MouseMove(shift, x, y);
    if (!dragging_) return;
    POINT p;
    ::GetCursorPos(&p);
    int dx = p.x - start_.x, dy = p.y - start_.y;
    RECT b = startBounds_;
    int minSize = 2 * height_ + 4;
    if (dropDown_->RightToLeftScrollbar()) b.left = std::min(b.left + dx, b.right - minSize);
    else b.right = std::max(b.right + dx, b.left + minSize);
    if (dropDown_->OpenedAbove()) b.top = std::min(b.top + dy, b.bottom - minSize);
    else b.bottom = std::max(b.bottom + dy, b.top + minSize);
    dropDown_->SetBounds(b.left, b.top, b.right - b.left, b.bottom - b.top);
}

void TSizeGrabber::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    TCustomControl::MouseUp(button, shift, x, y);
    if (dragging_) ::ReleaseCapture();
    dragging_ = false;
}

// ---------------------------------------------------------------- the window

TDropDownWnd::TDropDownWnd(TComponent* owner) : TWinControl(owner) {
    visible_ = false;
    color_ = clWindow;
    scrollBar_ = new TOwnerDrawScrollbar(this);
    scrollBar_->SetParent(this);
    grabber_ = new TSizeGrabber(this);
    grabber_->SetParent(this);
}

TDropDownWnd::~TDropDownWnd() {
    EndLifetime();   // the loop may still run while the window goes
    StopAutoScroll();
    DestroyHandle();
}

int TDropDownWnd::GripHeight() const {
    return options_.Contains(poSizeable) ? ::GetSystemMetrics(SM_CYVSCROLL) : 0;
}

void TDropDownWnd::SetDropDownCount(int value) {
    if (value == dropDownCount_) return;
    dropDownCount_ = value;
    UpdateScrollbar();
}

void TDropDownWnd::CreateParams(TCreateParams& params) {
    TWinControl::CreateParams(params);
    params.WinClassName = "KrvDropDownWnd";
    params.Style = WS_POPUP | WS_BORDER | WS_CLIPCHILDREN;
    params.ExStyle = WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOPARENTNOTIFY;
    if (ScrollBarOnLeft()) params.ExStyle |= WS_EX_LEFTSCROLLBAR;
    params.WndParent = nullptr;
    // The pixels under a sliding window come back without a repaint.
    if (ShellEntryPoints().AnimateWindow) params.ClassStyle |= CS_SAVEBITS;
}

void TDropDownWnd::CreateHandleDone() {
    TWinControl::CreateHandleDone();
    rtlScrollbar_ = (::GetWindowLongA(Handle(), GWL_EXSTYLE) & WS_EX_LEFTSCROLLBAR) != 0;
}

void TDropDownWnd::LayoutChildren(int width, int height) {
    TDropDownLayout l = LayoutDropDown(width, height, ::GetSystemMetrics(SM_CXVSCROLL), GripHeight(), below_,
                                       rtlScrollbar_);
    scrollBar_->SetBounds(l.ScrollBar.left, l.ScrollBar.top, l.ScrollBar.right - l.ScrollBar.left,
                          l.ScrollBar.bottom - l.ScrollBar.top);
    grabber_->SetBounds(l.Grip.left, l.Grip.top, l.Grip.right - l.Grip.left, l.Grip.bottom - l.Grip.top);
    grabber_->SetVisible(options_.Contains(poSizeable));
    grabber_->UpdateRegion();
    if (HandleAllocated() && grabber_->HandleAllocated())
        ::SetWindowPos(grabber_->Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void TDropDownWnd::DoRollDown(bool& allow) {
    if (OnRollDown) OnRollDown(this, allow);
}

void TDropDownWnd::DoRollDownInit() {
    if (OnRollDownInit) OnRollDownInit(this);
}

void TDropDownWnd::DoRollUp(bool selected) {
    StopAutoScroll();
    if (OnRollUp) OnRollUp(this, selected);
}

// Enter and Escape come marked handled by the loop and stay so: they never reach the owner.
void TDropDownWnd::HandleKey(MSG&, bool&) {}

void TDropDownWnd::PlaceAndInit(TControl* alignTo, const SIZE* size) {
    RECT anchor = ScreenRectOf(alignTo);
    int width = width_, height = height_;
    if (!(options_.Contains(poPersistentSizing) && sized_)) {
        width = size && size->cx >= 1 ? int(size->cx) : int(anchor.right - anchor.left);
        height = size && size->cy >= 1 ? int(size->cy)
                                       : ::GetSystemMetrics(SM_CYFRAME) + RowHeight() * dropDownCount_;
    }
    above_ = below_ = false;
    int screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
    TDropDownPlacement p = PlaceDropDown(anchor, height, screenHeight);
    above_ = p.Above;
    below_ = !p.Above;
    HandleNeeded();
    SetBounds(p.Left, screenHeight, width, p.Height);
    LayoutChildren(width, p.Height);
    ::ShowWindow(Handle(), SW_SHOWNA);
    DoRollDownInit();
    ::ShowWindow(Handle(), SW_HIDE);
    SetBounds(p.Left, p.Top, width, p.Height);
}

void TDropDownWnd::PrintChildren(HDC dc, LPARAM flags) {
    for (int i = 0; i < ControlCount(); ++i) {
        auto* child = dynamic_cast<TWinControl*>(Controls(i));
        if (!child || !child->HandleAllocated() || !::IsWindowVisible(child->Handle())) continue;
        POINT old;
        ::OffsetViewportOrgEx(dc, child->Left() + 1, child->Top() + 1, &old);
        ::SendMessageA(child->Handle(), WM_PRINT, reinterpret_cast<WPARAM>(dc), flags);
        ::SetViewportOrgEx(dc, old.x, old.y, nullptr);
    }
}

void TDropDownWnd::AnimateByBitmap(bool upward) {
    int w = width_, h = height_;
    WindowDC screenDC(nullptr);
    HDC screen = screenDC.get();
    MemoryDC mem(screen);
    BitmapHandle bmp(::CreateCompatibleBitmap(screen, w, h));
    SelectObjectScope select(mem.get(), bmp.get());
    BrushHandle back(::CreateSolidBrush(ColorToRGB(color_)));
    RECT all{0, 0, w, h};
    ::FillRect(mem.get(), &all, back.get());
    ::SendMessageA(Handle(), WM_PRINT, reinterpret_cast<WPARAM>(mem.get()), 30);
    for (int step = 1; step <= 16; ++step) {
        int shown = h * step / 16;
        if (upward) ::BitBlt(screen, left_, top_ + h - shown, w, shown, mem.get(), 0, 0, SRCCOPY);
        else ::BitBlt(screen, left_, top_, w, shown, mem.get(), 0, h - shown, SRCCOPY);
        ::Sleep(DWORD(AnimationSpeed / 16));
    }
}

void TDropDownWnd::Animate() {
    BOOL systemOn = TRUE;
    if (options_.Contains(poRespectSysAnimationFlag) && !::SystemParametersInfoA(SPI_GETCOMBOBOXANIMATION, 0, &systemOn, 0))
        systemOn = FALSE;
    if (!options_.Contains(poAnimated) || !systemOn || AnimationSpeed < 1) return;
    if (auto animate = ShellEntryPoints().AnimateWindow)
        animate(Handle(), DWORD(AnimationSpeed), above_ ? (AW_SLIDE | AW_VER_NEGATIVE) : (AW_SLIDE | AW_VER_POSITIVE));
    else
        AnimateByBitmap(above_);
}

void TDropDownWnd::RollDown(TWinControl* control, TControl* alignTo, const SIZE* size) {
    if (!control || droppedDown_ || !options_.Contains(poEnabled)) return;
    bool allow = true;
    DoRollDown(allow);
    if (!allow) return;
    lastSelected_ = false;
    try {
        ownerControl_ = control;
        droppedDown_ = true;
        {
            HCURSOR previous = ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
            struct Restore { HCURSOR c; ~Restore() { ::SetCursor(c); } } restore{previous};
            PlaceAndInit(alignTo ? alignTo : control, size);
            Animate();
            ::SetWindowPos(Handle(), HWND_TOPMOST, 0, 0, 0, 0,
                           SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
            visible_ = true;
            sized_ = true;
        }
        RunLoop();
    } catch (...) {
        RollUp(false);
        droppedDown_ = above_ = below_ = sized_ = false;
    }
}

void TDropDownWnd::RunLoop() {
    TLifeWatch self(this);
    MSG msg;
    while (droppedDown_) {
        BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            // The quit belongs to the loop below ours: hand it back, close unselected.
            if (got == 0) ::PostQuitMessage(int(msg.wParam));
            RollUp(false);
            return;
        }
        bool handled = false, end = false, selected = false, wheel = false;
        switch (msg.message) {
        case WM_KEYDOWN:
        case WM_CHAR:
            if (msg.wParam == VK_RETURN || msg.wParam == VK_ESCAPE) {
                handled = end = true;
                selected = msg.wParam == VK_RETURN;
            }
            HandleKey(msg, handled);
            break;
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN: {
            RECT r = ClientRect();
            ::MapWindowPoints(Handle(), HWND_DESKTOP, reinterpret_cast<POINT*>(&r), 2);
            if (!::PtInRect(&r, msg.pt)) {
                RollUp(false);
                handled = true;
            }
            break;
        }
        case WM_NCLBUTTONDOWN:
        case WM_NCLBUTTONDBLCLK:
        case WM_NCMBUTTONDOWN:
        case WM_NCMBUTTONDBLCLK:
        case WM_CANCELMODE:
        case WM_SYSKEYDOWN:
            RollUp(false);
            break;
        case WM_MOUSEWHEEL:
            // The caret stays in the owner's edit; the wheel is meant for the list.
            if (focusControl_ && focusControl_->HandleAllocated()) msg.hwnd = focusControl_->Handle();
            wheel = true;
            break;
        default: break;
        }
        if (!handled) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
            if (self.Gone()) return;
        }
        if (self.Gone()) return;
        if (wheel) UpdateScrollbar();
        if (end) RollUp(selected);
    }
}

void TDropDownWnd::RollUp(bool selected) {
    if (!droppedDown_) return;
    ::ReleaseCapture();
    droppedDown_ = false;
    lastSelected_ = selected;
    if (HandleAllocated()) ::ShowWindow(Handle(), SW_HIDE);
    visible_ = false;
    TForm* form = ownerControl_ ? GetParentForm(ownerControl_) : nullptr;
    if (form && form->HandleAllocated()) form->Repaint();
    if (ownerControl_ && ownerControl_->HandleAllocated()) ownerControl_->SetFocus();
    TLifeWatch self(this);
    DoRollUp(selected);
    if (self.Gone()) return;
    if (form && form->HandleAllocated() && CurrentOSVersion().PlatformId == VER_PLATFORM_WIN32_WINDOWS) {
        ::SetWindowPos(form->Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
        ::RedrawWindow(form->Handle(), nullptr, nullptr, 0x4A1);
    }
    StopAutoScroll();
    // A roll-up from a sent message (activation) must still wake the loop.
    if (HandleAllocated()) ::PostMessageW(Handle(), WM_NULL, 0, 0);
}

void TDropDownWnd::AutoScrollAt(int y, int treeHeight) {
    int beyond = y < 0 ? -y : y - treeHeight;
    if (beyond <= 0) {
        StopAutoScroll();
        return;
    }
    bool fast = beyond > kSlowZone;
    if ((y < 0) == scrollingUp_ && (y >= 0) == scrollingDown_ && fast == fastTimer_ && !fast == slowTimer_) return;
    scrollingUp_ = y < 0;
    scrollingDown_ = !scrollingUp_;
    fastTimer_ = fast;
    slowTimer_ = !fast;
    if (HandleAllocated()) ::SetTimer(Handle(), kAutoScrollTimer, fast ? AutoScrollTimeFast : AutoScrollTimeSlow, nullptr);
}

void TDropDownWnd::StopAutoScroll() {
    if ((fastTimer_ || slowTimer_) && HandleAllocated()) ::KillTimer(Handle(), kAutoScrollTimer);
    scrollingUp_ = scrollingDown_ = fastTimer_ = slowTimer_ = false;
}

bool TDropDownWnd::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
    case WM_ACTIVATE:
        result = DefaultHandler(msg, wParam, lParam);
        // The window that lost activation keeps its caption drawn active.
        if (LOWORD(wParam) != WA_INACTIVE && lParam)
            ::SendMessageA(reinterpret_cast<HWND>(lParam), WM_NCACTIVATE, 1, 0);
        return true;
    case WM_ACTIVATEAPP:
        result = DefaultHandler(msg, wParam, lParam);
        if (!wParam) RollUp(false);
        return true;
    case WM_ERASEBKGND:
        result = 1;
        return true;
    case WM_PAINT: {
        // What the children leave uncovered: beside the grip's triangle, under a hidden bar.
        PaintScope paint(Handle());
        BrushHandle back(::CreateSolidBrush(ColorToRGB(color_)));
        ::FillRect(paint.dc(), &paint.rect(), back.get());
        result = 0;
        return true;
    }
    case WM_MOUSEACTIVATE:
        result = MA_NOACTIVATE;
        return true;
    case WM_PRINT:
        if (lParam & PRF_CHILDREN) PrintChildren(reinterpret_cast<HDC>(wParam), lParam);
        result = 0;
        return true;
    case WM_DROPDOWNUPDATESCROLLBAR:
        UpdateScrollbar();
        result = 0;
        return true;
    case WM_WINDOWPOSCHANGING: {
        result = DefaultHandler(msg, wParam, lParam);
        auto* pos = reinterpret_cast<WINDOWPOS*>(lParam);
        if (!(pos->flags & SWP_NOSIZE)) LayoutChildren(pos->cx, pos->cy);
        UpdateScrollbar();
        return true;
    }
    case WM_TIMER:
        if (wParam != kAutoScrollTimer) break;
        AutoScrollStep(scrollingUp_ ? SB_LINEUP : SB_LINEDOWN);
        UpdateScrollbar();
        result = 0;
        return true;
    default: break;
    }
    return TWinControl::HandleMessage(msg, wParam, lParam, result);
}

} // namespace krv
