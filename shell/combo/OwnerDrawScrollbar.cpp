#include "shell/combo/OwnerDrawScrollbar.h"
#include "framework/SysUtils.h"
#include <uxtheme.h>
#include <vssym32.h>
#include <algorithm>

namespace krv {

namespace {
constexpr UINT_PTR kHotTimer = 201;
constexpr UINT_PTR kRepeatTimer = 202;
constexpr UINT_PTR kFirstRepeatTimer = 203;
constexpr UINT kHotInterval = 50;
constexpr UINT kFirstRepeatDelay = 500;

bool Contains(const RECT& r, int x, int y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }
bool IsEmpty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }
} // namespace

// ------------------------------------------------------------------ metrics

TScrollBarMetrics::TScrollBarMetrics(int width, int height, int buttonHeight, int minThumb, int min, int max,
                                     int pageSize)
    : Width(std::max(0, width)), Height(std::max(0, height)), Min(min), Max(max), PageSize(pageSize) {
    ButtonHeight = std::min(std::max(0, buttonHeight), Height / 2);
    TrackTop = ButtonHeight;
    TrackLength = Height - 2 * ButtonHeight;
    int range = Max - Min + PageSize;
    int thumb = range > 0 ? ::MulDiv(TrackLength, PageSize, range) : TrackLength;
    thumb = std::max(thumb, minThumb);
    ThumbLength = thumb <= TrackLength ? thumb : 0;
}

// The thumb's centre travels the track shortened by half a thumb at each end.
int TScrollBarMetrics::PixelToPosition(int y) const {
    int top = TrackTop + ThumbLength / 2;
    int length = TrackLength - ThumbLength;
    if (length <= 0 || Max <= Min) return Min;   // nowhere to travel: never divide by it
    if (y <= top) return Min;
    if (y >= top + length) return Max;
    return Min + ::MulDiv(y - top, Max - Min, length);
}

int TScrollBarMetrics::PositionToPixel(int position) const {
    int top = TrackTop + ThumbLength / 2;
    int length = std::max(0, TrackLength - ThumbLength);
    if (position <= Min || Max <= Min) return top;
    if (position >= Max) return top + length;
    return top + ::MulDiv(position - Min, length, Max - Min);
}

RECT TScrollBarMetrics::Thumb(int position) const {
    if (ThumbLength == 0) return RECT{0, TrackTop, 0, TrackTop};
    int top = PositionToPixel(position) - ThumbLength / 2;
    return RECT{0, top, Width, top + ThumbLength};
}

RECT TScrollBarMetrics::PageUp(int position) const {
    if (ThumbLength == 0) return RECT{0, TrackTop, 0, TrackTop};
    return RECT{0, TrackTop, Width, Thumb(position).top};
}

RECT TScrollBarMetrics::PageDown(int position) const {
    int bottom = TrackTop + TrackLength;
    if (ThumbLength == 0) return RECT{0, bottom, 0, bottom};
    return RECT{0, Thumb(position).bottom, Width, bottom};
}

TScrollHitPart TScrollBarMetrics::HitTest(int x, int y, int position) const {
    if (Contains(UpButton(), x, y)) return shUpButton;
    if (Contains(DownButton(), x, y)) return shDownButton;
    if (Contains(Thumb(position), x, y)) return shThumb;
    if (Contains(PageUp(position), x, y)) return shPageUp;
    if (Contains(PageDown(position), x, y)) return shPageDown;
    return shNone;
}

// ------------------------------------------------------------------- colours

TScrollBarColors::TScrollBarColors(TCustomOwnerDrawScrollbar* bar)
    : bar_(bar), thumbButton_(SystemColor(COLOR_SCROLLBAR)), background_(SystemColor(COLOR_SCROLLBAR)) {}

void TScrollBarColors::Set(TColor& slot, TColor c) {
    if (slot == c) return;
    slot = c;
    bar_->ColorsChanged();
}

// ---------------------------------------------------------------------- bar

TCustomOwnerDrawScrollbar::TCustomOwnerDrawScrollbar(TComponent* owner)
    : TCustomControl(owner), colors_(this) {
    width_ = ::GetSystemMetrics(SM_CXVSCROLL);
    height_ = 200;
    color_ = SystemColor(COLOR_SCROLLBAR);
    TabStop = false;
    BuildPattern();
}

TCustomOwnerDrawScrollbar::~TCustomOwnerDrawScrollbar() { DestroyHandle(); }

TScrollBarMetrics TCustomOwnerDrawScrollbar::Metrics() {
    RECT r = ClientRect();
    return TScrollBarMetrics(r.right - r.left, r.bottom - r.top, ::GetSystemMetrics(SM_CYVSCROLL),
                             ::GetSystemMetrics(SM_CYVTHUMB), min_, Max(), pageSize_);
}

void TCustomOwnerDrawScrollbar::SetFlat(bool flat) {
    if (flat == flat_) return;
    flat_ = flat;
    Invalidate();
}

// The page is clamped when it is set, not here: a list shorter than two
// pages has a page larger than the range it scrolls.
void TCustomOwnerDrawScrollbar::SetMax(int max) {
    if (max <= min_) max = min_ + 1;
    storedMax_ = max + pageSize_;
    SetPosition(position_);
    Invalidate();
}

void TCustomOwnerDrawScrollbar::SetMin(int min) {
    int max = Max();
    if (min >= max) min = max - 1;
    min_ = min;
    SetPageSize(pageSize_);
}

void TCustomOwnerDrawScrollbar::SetPageSize(int pageSize) {
    int max = Max();
    pageSize_ = std::clamp(pageSize, 1, max - min_);
    storedMax_ = max + pageSize_;
    SetPosition(position_);
    Invalidate();
}

void TCustomOwnerDrawScrollbar::SetPosition(int position) {
    position = std::clamp(position, min_, Max());
    if (position == position_) return;
    position_ = position;
    Invalidate();
}

void TCustomOwnerDrawScrollbar::SetOptions(TScrollOptions options) {
    options_ = options;
    theme_.Close();
    if ((options_ & soThemeAware) && HandleAllocated()) theme_.Open(Handle(), L"scrollbar");
    Invalidate();
}

void TCustomOwnerDrawScrollbar::ColorsChanged() {
    BuildPattern();
    Invalidate();
}

// An 8 x 8 checkerboard of the two background colours.
void TCustomOwnerDrawScrollbar::BuildPattern() {
    patternBrush_.reset();
    WindowDC screen(nullptr);
    pattern_.reset(::CreateCompatibleBitmap(screen.get(), 8, 8));
    MemoryDC dc(screen.get());
    if (!pattern_ || !dc.get()) return;
    {
        SelectObjectScope select(dc.get(), pattern_.get());
        COLORREF odd = ColorToRGB(colors_.Background()), even = ColorToRGB(colors_.BackgroundBlend());
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) ::SetPixelV(dc.get(), x, y, (x + y) % 2 ? odd : even);
    }
    patternBrush_.reset(::CreatePatternBrush(pattern_.get()));
}

TWinControl* TCustomOwnerDrawScrollbar::OwnerControl() const {
    auto* owner = dynamic_cast<TWinControl*>(Owner());
    return owner && owner->HandleAllocated() ? owner : nullptr;
}

void TCustomOwnerDrawScrollbar::DoScroll(int code, int trackPosition) {
    if (TWinControl* owner = OwnerControl()) {
        HWND target = owner->Handle();
        ::SendMessageA(target, WM_VSCROLL, MAKEWPARAM(code, trackPosition), reinterpret_cast<LPARAM>(Handle()));
        if (code != SB_THUMBTRACK)
            ::SendMessageA(target, WM_VSCROLL, MAKEWPARAM(SB_ENDSCROLL, 0), reinterpret_cast<LPARAM>(Handle()));
        return;
    }
    switch (code) {
    case SB_LINEUP: SetPosition(position_ - SmallChange); break;
    case SB_LINEDOWN: SetPosition(position_ + SmallChange); break;
    case SB_PAGEUP: SetPosition(position_ - LargeChange); break;
    case SB_PAGEDOWN: SetPosition(position_ + LargeChange); break;
    case SB_THUMBTRACK: SetPosition(trackPosition); break;
    default: break;
    }
}

void TCustomOwnerDrawScrollbar::ScrollPart(TScrollHitPart part) {
    switch (part) {
    case shUpButton: DoScroll(SB_LINEUP); break;
    case shDownButton: DoScroll(SB_LINEDOWN); break;
    case shPageUp: DoScroll(SB_PAGEUP); break;
    case shPageDown: DoScroll(SB_PAGEDOWN); break;
    default: break;
    }
}

void TCustomOwnerDrawScrollbar::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    TCustomControl::MouseDown(button, shift, x, y);
    if (button != mbLeft || !Enabled()) return;
    TScrollBarMetrics m = Metrics();
    pressed_ = m.HitTest(x, y, position_);
    if (pressed_ == shNone) return;
    ::SetCapture(Handle());
    if (pressed_ == shThumb) {
        dragging_ = true;
        dragOffset_ = y - m.PositionToPixel(position_);
        lastTrack_ = position_;
    } else {
        ScrollPart(pressed_);
        ::SetTimer(Handle(), kFirstRepeatTimer, kFirstRepeatDelay, nullptr);
    }
    Invalidate();
}

void TCustomOwnerDrawScrollbar::MouseMove(TShiftState shift, int x, int y) {
    TCustomControl::MouseMove(shift, x, y);
    if (dragging_) {
        int pos = Metrics().PixelToPosition(y - dragOffset_);
        if (pos != lastTrack_) {
            lastTrack_ = pos;
            DoScroll(SB_THUMBTRACK, pos);
        }
        return;
    }
    TScrollHitPart part = Metrics().HitTest(x, y, position_);
    if (!hot_) ::SetTimer(Handle(), kHotTimer, kHotInterval, nullptr);
    hot_ = true;
    if (part != hotPart_) {
        hotPart_ = part;
        Invalidate();
    }
}

void TCustomOwnerDrawScrollbar::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    TCustomControl::MouseUp(button, shift, x, y);
    if (button == mbLeft) EndPress();
}

void TCustomOwnerDrawScrollbar::EndPress() {
    if (!HandleAllocated()) return;
    ::KillTimer(Handle(), kFirstRepeatTimer);
    ::KillTimer(Handle(), kRepeatTimer);
    bool was = pressed_ != shNone;
    pressed_ = shNone;
    dragging_ = false;
    if (::GetCapture() == Handle()) ::ReleaseCapture();
    if (was) Invalidate();
}

bool TCustomOwnerDrawScrollbar::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
    case WM_CREATE:
        if (options_ & soThemeAware) theme_.Open(Handle(), L"scrollbar");
        break;
    case WM_THEMECHANGED:
        SetOptions(options_);
        break;
    case WM_CAPTURECHANGED:
        if (reinterpret_cast<HWND>(lParam) != Handle() && pressed_ != shNone) EndPress();
        break;
    case WM_TIMER:
        if (wParam == kFirstRepeatTimer) {
            ::KillTimer(Handle(), kFirstRepeatTimer);
            ::SetTimer(Handle(), kRepeatTimer, RepeatInterval, nullptr);
        } else if (wParam == kRepeatTimer) {
            // Repeat only while the pointer stays on the part first pressed.
            POINT p;
            ::GetCursorPos(&p);
            ::ScreenToClient(Handle(), &p);
            if (Metrics().HitTest(p.x, p.y, position_) == pressed_) ScrollPart(pressed_);
        } else if (wParam == kHotTimer) {
            POINT p;
            RECT r;
            ::GetCursorPos(&p);
            ::GetWindowRect(Handle(), &r);
            if (!::PtInRect(&r, p)) {
                ::KillTimer(Handle(), kHotTimer);
                hot_ = false;
                hotPart_ = shNone;
                Invalidate();
            }
        } else {
            break;
        }
        result = 0;
        return true;
    case WM_DESTROY:
        theme_.Close();
        break;
    default:
        break;
    }
    return TCustomControl::HandleMessage(msg, wParam, lParam, result);
}

TScrollPaintState TCustomOwnerDrawScrollbar::StateOf(TScrollHitPart part) const {
    if (!Enabled()) return psDisabled;
    if (pressed_ == part) return part == shThumb ? psScrolling : psPressed;
    if (hot_ && hotPart_ == part) return psHot;
    return psNormal;
}

bool TCustomOwnerDrawScrollbar::DoScrollCustomPaint(TScrollPaintCycle cycle, TScrollPaintState state,
                                                    const RECT& rect) {
    bool handled = false;
    if (OnScrollCustomPaint) OnScrollCustomPaint(this, cycle, state, rect, canvas_, handled);
    return handled;
}

void TCustomOwnerDrawScrollbar::PaintButton(TScrollPaintCycle cycle, const RECT& r) {
    bool up = cycle == pcScrollUp;
    TScrollPaintState state = StateOf(up ? shUpButton : shDownButton);
    if (IsEmpty(r) || DoScrollCustomPaint(cycle, state, r)) return;
    HDC dc = canvas_.Handle();
    if (theme_.Active()) {
        int s = state == psDisabled ? ABS_UPDISABLED : state == psPressed ? ABS_UPPRESSED
                : state == psHot ? ABS_UPHOT : ABS_UPNORMAL;
        theme_.Draw(dc, SBP_ARROWBTN, up ? s : s + (ABS_DOWNNORMAL - ABS_UPNORMAL), r);
        return;
    }
    UINT flags = up ? DFCS_SCROLLUP : DFCS_SCROLLDOWN;
    if (state == psDisabled) flags |= DFCS_INACTIVE;
    if (state == psPressed) flags |= DFCS_PUSHED;
    if (flat_) flags |= DFCS_FLAT;
    RECT box = r;
    ::DrawFrameControl(dc, &box, DFC_SCROLL, flags);
}

void TCustomOwnerDrawScrollbar::PaintTrack(const TScrollBarMetrics& m) {
    RECT track = m.Track();
    if (IsEmpty(track)) return;
    TScrollHitPart page = pressed_ == shPageUp || pressed_ == shPageDown ? pressed_ : shNone;
    TScrollPaintState state = page != shNone ? psPressed : StateOf(shNone);
    if (DoScrollCustomPaint(pcBackground, state, track)) return;
    HDC dc = canvas_.Handle();
    if (theme_.Active()) {
        theme_.Draw(dc, SBP_UPPERTRACKVERT, SCRBS_NORMAL, track);
    } else {
        ::FillRect(dc, &track, patternBrush_ ? patternBrush_.get() : BackgroundBrush());
    }
    if (page != shNone) {
        RECT area = page == shPageUp ? m.PageUp(position_) : m.PageDown(position_);
        canvas_.Brush.SetColor(colors_.PageScrollHot());
        canvas_.FillRect(area);
    }
}

void TCustomOwnerDrawScrollbar::PaintThumb(const RECT& r) {
    TScrollPaintState state = StateOf(shThumb);
    if (IsEmpty(r) || DoScrollCustomPaint(pcThumb, state, r)) return;
    HDC dc = canvas_.Handle();
    if (theme_.Active()) {
        int s = state == psDisabled ? SCRBS_DISABLED : state == psScrolling ? SCRBS_PRESSED
                : state == psHot ? SCRBS_HOT : SCRBS_NORMAL;
        theme_.Draw(dc, SBP_THUMBBTNVERT, s, r);
        return;
    }
    canvas_.Brush.SetColor(colors_.ThumbButton());
    canvas_.FillRect(r);
    RECT edge = r;
    if (flat_) {
        canvas_.Brush.SetColor(clBtnShadow);
        canvas_.FrameRect(r);
    } else {
        ::DrawEdge(dc, &edge, EDGE_RAISED, BF_RECT);
    }
}

void TCustomOwnerDrawScrollbar::Paint() {
    TScrollBarMetrics m = Metrics();
    PaintTrack(m);
    PaintButton(pcScrollUp, m.UpButton());
    PaintButton(pcScrollDown, m.DownButton());
    PaintThumb(m.Thumb(position_));
    TCustomControl::Paint();
}

} // namespace krv
