// The owner-drawn scroll bar: its arithmetic on tables (including bars too
// small for a thumb), range clamping, the scroll messages a scripted mouse
// makes it send, and golden images with themes off.
#include "common/GoldenImage.h"
#include "framework/Controls.h"
#include "framework/Window.h"
#include "shell/combo/OwnerDrawScrollbar.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <vector>

using namespace krv;
using namespace krv::test;

namespace {

struct TScrollMsg {
    int Code, Pos;
    bool FromBar;
    bool operator==(const TScrollMsg&) const = default;
};
std::ostream& operator<<(std::ostream& os, const TScrollMsg& m) {
    return os << "{" << m.Code << "," << m.Pos << (m.FromBar ? "" : ",foreign") << "}";
}

// Owns the bar and logs every WM_VSCROLL it gets.
class TScrollOwner : public TCustomControl {
public:
    TScrollOwner() { SetBounds(0, 0, 200, 300); }
    std::vector<TScrollMsg> Log;
    HWND Bar = nullptr;
    // A bar 16 x 200 owned by this control and inside it.
    TOwnerDrawScrollbar* MakeBar() {
        HandleNeeded();
        auto* bar = new TOwnerDrawScrollbar(this);
        bar->SetParent(this);
        bar->SetBounds(0, 0, 16, 200);
        bar->HandleNeeded();
        Bar = bar->Handle();
        return bar;
    }
protected:
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
        if (msg == WM_VSCROLL) {
            Log.push_back({LOWORD(wParam), static_cast<short>(HIWORD(wParam)), reinterpret_cast<HWND>(lParam) == Bar});
            result = 0;
            return true;
        }
        return TCustomControl::HandleMessage(msg, wParam, lParam, result);
    }
};

POINT Centre(const RECT& r) { return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

void Post(TWinControl& c, UINT msg, POINT p, WPARAM keys = MK_LBUTTON) {
    ::PostMessageA(c.Handle(), msg, keys, MAKELPARAM(p.x, p.y));
    ProcessMessages();
}
void Click(TWinControl& c, POINT p) {
    Post(c, WM_LBUTTONDOWN, p);
    Post(c, WM_LBUTTONUP, p, 0);
}

} // namespace

TEST(ScrollBarMetrics, PixelsAndPositionsMapBothWaysOverTheShortenedTrack) {
    struct Row {
        int height, min, max, page;
        int thumb, trackLength;
        std::vector<std::pair<int, int>> pixelToPos, posToPixel;
    } rows[] = {
        // Track 168, thumb at its least (8): the centre travels 20..180.
        {200, 0, 100, 1, 8, 168, {{0, 0}, {20, 0}, {21, 1}, {100, 50}, {179, 99}, {180, 100}, {199, 100}},
         {{-5, 20}, {0, 20}, {50, 100}, {100, 180}, {150, 180}}},
        // A minimum above 0 counts from the minimum; the thumb follows the page.
        {100, 10, 20, 5, 23, 68, {{27, 10}, {49, 15}, {72, 20}, {90, 20}}, {{10, 27}, {15, 50}, {20, 72}}},
        // Too small for a thumb: the whole track is travel.
        {36, 0, 100, 1, 0, 4, {{16, 0}, {18, 50}, {20, 100}}, {{0, 16}, {50, 18}, {100, 20}}},
        // A thumb exactly as long as the track: no travel, every pixel is the minimum.
        {40, 5, 100, 1, 8, 8, {{0, 5}, {20, 5}, {39, 5}}, {{5, 20}, {50, 20}, {100, 20}}},
        // Track length 0 (two buttons only) and lower than two buttons: the minimum.
        {32, 3, 100, 1, 0, 0, {{0, 3}, {16, 3}, {31, 3}}, {{50, 16}}},
        {20, 0, 100, 1, 0, 0, {{10, 0}}, {{100, 10}}},
        {0, 0, 100, 1, 0, 0, {{0, 0}}, {{0, 0}}},
    };
    for (auto& r : rows) {
        TScrollBarMetrics m(16, r.height, 16, 8, r.min, r.max, r.page);
        SCOPED_TRACE("height " + std::to_string(r.height));
        EXPECT_EQ(m.ThumbLength, r.thumb);
        EXPECT_EQ(m.TrackLength, r.trackLength);
        EXPECT_EQ(m.ButtonHeight, std::min(16, r.height / 2));
        for (auto [y, pos] : r.pixelToPos) EXPECT_EQ(m.PixelToPosition(y), pos) << "pixel " << y;
        for (auto [pos, y] : r.posToPixel) EXPECT_EQ(m.PositionToPixel(pos), y) << "position " << pos;
    }
}

TEST(ScrollBarMetrics, EveryPointFallsOnTheRightPart) {
    TScrollBarMetrics m(16, 200, 16, 8, 0, 100, 1);
    RECT thumb = m.Thumb(50);
    EXPECT_EQ(thumb.top, 96);
    EXPECT_EQ(thumb.bottom, 104);
    struct { int y; TScrollHitPart part; } table[] = {
        {0, shUpButton}, {15, shUpButton}, {16, shPageUp}, {95, shPageUp}, {96, shThumb}, {103, shThumb},
        {104, shPageDown}, {183, shPageDown}, {184, shDownButton}, {199, shDownButton}, {200, shNone},
    };
    for (auto& row : table) EXPECT_EQ(m.HitTest(8, row.y, 50), row.part) << row.y;
    EXPECT_EQ(m.HitTest(16, 100, 50), shNone);   // right of the bar

    // No thumb: the track answers to no part, so a click there scrolls nothing.
    TScrollBarMetrics small(16, 36, 16, 8, 0, 100, 1);
    EXPECT_EQ(small.HitTest(8, 18, 0), shNone);
    EXPECT_EQ(small.HitTest(8, 2, 0), shUpButton);
}

TEST(OwnerDrawScrollbar, RangesClampAsTheyAreSet) {
    TOwnerDrawScrollbar bar;
    EXPECT_EQ(bar.Min(), 0);
    EXPECT_EQ(bar.Max(), 100);
    EXPECT_EQ(bar.PageSize(), 1);
    EXPECT_EQ(bar.Position(), 0);
    EXPECT_EQ(bar.Options(), unsigned(soThemeAware));
    EXPECT_EQ(bar.Height(), 200);
    EXPECT_EQ(bar.Width(), ::GetSystemMetrics(SM_CXVSCROLL));

    struct Step { const char* what; std::function<void()> act; int min, max, page, pos; } steps[] = {
        {"page size keeps the maximum", [&] { bar.SetPageSize(20); }, 0, 100, 20, 0},
        {"position above the maximum", [&] { bar.SetPosition(500); }, 0, 100, 20, 100},
        {"lower maximum pulls the position", [&] { bar.SetMax(50); }, 0, 50, 20, 50},
        {"page size beyond the range", [&] { bar.SetPageSize(1000); }, 0, 50, 50, 50},
        {"page size below 1", [&] { bar.SetPageSize(0); }, 0, 50, 1, 50},
        {"maximum at the minimum", [&] { bar.SetMax(0); }, 0, 1, 1, 1},
        {"minimum at the maximum", [&] { bar.SetMax(100); bar.SetMin(100); }, 99, 100, 1, 99},
        {"negative minimum", [&] { bar.SetMin(-10); bar.SetPosition(-20); }, -10, 100, 1, -10},
    };
    for (auto& s : steps) {
        s.act();
        EXPECT_EQ(bar.Min(), s.min) << s.what;
        EXPECT_EQ(bar.Max(), s.max) << s.what;
        EXPECT_EQ(bar.PageSize(), s.page) << s.what;
        EXPECT_EQ(bar.Position(), s.pos) << s.what;
    }
}

TEST(OwnerDrawScrollbar, MouseScriptsSendTheOwnerScrollCodesInOrder) {
    TScrollOwner owner;
    TOwnerDrawScrollbar* bar = owner.MakeBar();
    TScrollBarMetrics m = bar->Metrics();

    // A click on the track below the thumb: page down, then end of scroll.
    Post(*bar, WM_LBUTTONDOWN, Centre(m.PageDown(0)));
    EXPECT_EQ(bar->PressedPart(), shPageDown);
    Post(*bar, WM_LBUTTONUP, Centre(m.PageDown(0)), 0);
    EXPECT_EQ(bar->PressedPart(), shNone);
    EXPECT_EQ(owner.Log, (std::vector<TScrollMsg>{{SB_PAGEDOWN, 0, true}, {SB_ENDSCROLL, 0, true}}));
    EXPECT_EQ(bar->Position(), 0);   // the owner moves it, not the bar

    struct Script {
        const char* what;
        int position;
        std::function<void()> act;
        std::vector<TScrollMsg> expected;
    } scripts[] = {
        {"up button", 0, [&] { Click(*bar, Centre(m.UpButton())); }, {{SB_LINEUP, 0, true}, {SB_ENDSCROLL, 0, true}}},
        {"down button", 0, [&] { Click(*bar, Centre(m.DownButton())); },
         {{SB_LINEDOWN, 0, true}, {SB_ENDSCROLL, 0, true}}},
        {"track above the thumb", 50, [&] { Click(*bar, Centre(m.PageUp(50))); },
         {{SB_PAGEUP, 0, true}, {SB_ENDSCROLL, 0, true}}},
        {"thumb dragged: tracking only, no end of scroll", 50,
         [&] {
             POINT p = Centre(m.Thumb(50));
             Post(*bar, WM_LBUTTONDOWN, p);
             POINT to{p.x, p.y + m.PositionToPixel(75) - m.PositionToPixel(50)};
             Post(*bar, WM_MOUSEMOVE, to);
             Post(*bar, WM_MOUSEMOVE, to);   // no move: nothing new
             Post(*bar, WM_LBUTTONUP, to, 0);
         },
         {{SB_THUMBTRACK, 75, true}}},
        {"disabled bar", 50,
         [&] {
             bar->SetEnabled(false);
             Click(*bar, Centre(m.PageDown(50)));
             bar->SetEnabled(true);
         },
         {}},
    };
    for (auto& s : scripts) {
        owner.Log.clear();
        bar->SetPosition(s.position);
        s.act();
        EXPECT_EQ(owner.Log, s.expected) << s.what;
        EXPECT_EQ(bar->Position(), s.position) << s.what;
    }
}

TEST(OwnerDrawScrollbar, WithoutAnOwnerTheBarScrollsItself) {
    TScrollOwner parent;   // the parent only: it must hear nothing
    parent.HandleNeeded();
    TOwnerDrawScrollbar bar;
    bar.SetParent(&parent);
    bar.SetBounds(0, 0, 16, 200);
    bar.LargeChange = 10;
    bar.SmallChange = 3;
    bar.HandleNeeded();
    TScrollBarMetrics m = bar.Metrics();
    Click(bar, Centre(m.PageDown(0)));
    EXPECT_EQ(bar.Position(), 10);
    Click(bar, Centre(m.DownButton()));
    EXPECT_EQ(bar.Position(), 13);
    Click(bar, Centre(m.UpButton()));
    EXPECT_EQ(bar.Position(), 10);
    POINT p = Centre(m.Thumb(10));
    Post(bar, WM_LBUTTONDOWN, p);
    Post(bar, WM_MOUSEMOVE, POINT{p.x, 1000});   // far below: clamped to the end
    Post(bar, WM_LBUTTONUP, POINT{p.x, 1000}, 0);
    EXPECT_EQ(bar.Position(), 100);
    EXPECT_TRUE(parent.Log.empty());
}

TEST(OwnerDrawScrollbar, GoldenImagesWithThemesOff) {
    TScrollOwner host;
    host.SetBounds(0, 0, 400, 200);
    host.HandleNeeded();
    const int w = ::GetSystemMetrics(SM_CXVSCROLL), h = 120, gap = 4;
    struct Look { const char* what; int height; std::function<void(TOwnerDrawScrollbar&)> set; } looks[] = {
        {"default", h, [](auto&) {}},
        {"half way, page 20", h, [](auto& b) { b.SetPageSize(20); b.SetPosition(50); }},
        {"flat at the end", h, [](auto& b) { b.SetFlat(true); b.SetPosition(100); }},
        {"disabled", h, [](auto& b) { b.SetPosition(30); b.SetEnabled(false); }},
        {"page down held", h,
         [](auto& b) {
             b.SetPageSize(20);
             ::SendMessageA(b.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, h - 30));
         }},
        {"too small for a thumb", 40, [](auto&) {}},
        {"owner paints the thumb, disabled too", h,
         [](auto& b) {
             b.SetPosition(70);
             b.SetEnabled(false);
             b.OnScrollCustomPaint = [](TCustomOwnerDrawScrollbar*, TScrollPaintCycle cycle, TScrollPaintState,
                                        const RECT& r, TCanvas& canvas, bool& handled) {
                 if (cycle != pcThumb) return;
                 canvas.Brush.SetColor(0x0000C0);
                 canvas.FillRect(r);
                 handled = true;
             };
         }},
    };
    const int count = static_cast<int>(std::size(looks));
    const COLORREF magenta = RGB(255, 0, 255);
    TImage looksImage = Capture(count * (w + gap), h, [&](HDC dc) {
        for (int i = 0; i < count; ++i) {
            TOwnerDrawScrollbar bar;
            bar.SetParent(&host);
            bar.SetBounds(0, 0, w, looks[i].height);
            bar.SetOptions(0);
            bar.Colors().SetBackground(RGB(160, 160, 160));
            bar.Colors().SetBackgroundBlend(RGB(255, 255, 255));
            bar.Colors().SetThumbButton(RGB(212, 208, 200));
            bar.HandleNeeded();
            looks[i].set(bar);
            POINT old;
            ::SetViewportOrgEx(dc, i * (w + gap), 0, &old);
            ::SendMessageA(bar.Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
            ::SetViewportOrgEx(dc, old.x, old.y, nullptr);
            ::SendMessageA(bar.Handle(), WM_LBUTTONUP, 0, 0);
        }
    }, magenta);
    ExpectMatchesGolden("scrollbar-looks", looksImage);

    // With the theme on (its look is the system's, so no golden file) the
    // bar still paints its parts.
    TOwnerDrawScrollbar themed;
    themed.SetParent(&host);
    themed.SetBounds(0, 0, w, h);
    themed.HandleNeeded();
    auto pixels = Capture(w, h, [&](HDC dc) {
        ::SendMessageA(themed.Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    }, magenta).Pixels;
    EXPECT_EQ(std::count(pixels.begin(), pixels.end(), 0xFF00FFu), 0);
}

// The timers are driven by hand (WM_TIMER sent in order) with the pointer
// placed where the script wants it: no waiting on real time.
TEST(OwnerDrawScrollbar, HoldingAButtonRepeatsOnlyWhileThePointerStaysOnIt) {
    TScrollOwner owner;
    TOwnerDrawScrollbar* bar = owner.MakeBar();
    TScrollBarMetrics m = bar->Metrics();
    auto pointerAt = [&](POINT p) {
        ::ClientToScreen(bar->Handle(), &p);
        ::SetCursorPos(p.x, p.y);
    };
    auto timer = [&](UINT_PTR id) { ::SendMessageA(bar->Handle(), WM_TIMER, id, 0); };
    const std::vector<TScrollMsg> once{{SB_LINEDOWN, 0, true}, {SB_ENDSCROLL, 0, true}};

    POINT down = Centre(m.DownButton());
    pointerAt(down);
    Post(*bar, WM_LBUTTONDOWN, down);
    EXPECT_EQ(owner.Log, once);
    timer(203);   // the first delay is over: repeating starts
    timer(202);
    timer(202);
    std::vector<TScrollMsg> three = once;
    for (int i = 0; i < 2; ++i) three.insert(three.end(), once.begin(), once.end());
    EXPECT_EQ(owner.Log, three);
    pointerAt(Centre(m.UpButton()));   // moved off the pressed part
    timer(202);
    EXPECT_EQ(owner.Log, three);
    pointerAt(down);                   // and back on it
    timer(202);
    EXPECT_EQ(owner.Log.size(), 8u);
    Post(*bar, WM_LBUTTONUP, down, 0);
    EXPECT_EQ(bar->PressedPart(), shNone);
    EXPECT_EQ(::GetCapture(), nullptr);

    // Hot tracking: a move marks the pointer inside; the hot timer notices it left.
    pointerAt(down);
    Post(*bar, WM_MOUSEMOVE, down, 0);
    EXPECT_TRUE(bar->MouseInside());
    timer(201);
    EXPECT_TRUE(bar->MouseInside());
    pointerAt(POINT{600, 600});
    timer(201);
    EXPECT_FALSE(bar->MouseInside());
    EXPECT_EQ(owner.Log.size(), 8u);   // hovering never scrolls
}
