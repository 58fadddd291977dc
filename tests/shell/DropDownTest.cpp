// The drop-down window: where it goes at each screen edge, where its grip and
// scroll bar sit, and its own message loop driven by posted messages (a
// watchdog timer ends a loop that would otherwise wait for a person).
#include "PostedSteps.h"
#include "ShellTestUtil.h"
#include "shell/combo/LazyDropDown.h"
#include "shell/combo/LazyPopupDropDowns.h"
#include "framework/Forms.h"
#include "framework/Window.h"
#include <gtest/gtest.h>
#include <functional>
#include <string>
#include <vector>

using namespace krv;

namespace {

struct PlaceCase {
    const char* what;
    RECT anchor;
    int height;
    TDropDownPlacement expected;
};

bool operator==(const TDropDownPlacement& a, const TDropDownPlacement& b) {
    return a.Left == b.Left && a.Top == b.Top && a.Height == b.Height && a.Above == b.Above;
}
bool operator==(const RECT& a, const RECT& b) { return ::EqualRect(&a, &b) != FALSE; }

} // namespace

TEST(DropDownPlacement, EachScreenEdge) {
    const int screen = 1000;
    const PlaceCase cases[] = {
        {"room below", {10, 100, 310, 123}, 200, {10, 123, 200, false}},
        {"exactly fits below", {10, 777, 310, 800}, 200, {10, 800, 200, false}},
        {"one pixel short below: above", {10, 778, 310, 801}, 200, {10, 578, 200, true}},
        {"at the bottom edge: above", {10, 977, 310, 1000}, 200, {10, 777, 200, true}},
        {"exactly fits above", {10, 200, 310, 900}, 200, {10, 0, 200, true}},
        {"neither, more room below: cut to the bottom", {0, 400, 300, 423}, 700, {0, 423, 577, false}},
        {"neither, more room above: cut to the top", {0, 577, 300, 600}, 700, {0, 0, 577, true}},
        {"neither, equal room: below", {0, 380, 300, 620}, 700, {0, 620, 380, false}},
        {"left of the screen keeps its left", {-50, 100, 250, 123}, 100, {-50, 123, 100, false}},
    };
    for (const PlaceCase& c : cases) {
        TDropDownPlacement p = PlaceDropDown(c.anchor, c.height, screen);
        EXPECT_TRUE(p == c.expected) << c.what << ": got " << p.Left << "," << p.Top << " h" << p.Height
                                     << (p.Above ? " above" : " below");
        EXPECT_GE(p.Top, 0) << c.what;
        EXPECT_LE(p.Top + p.Height, screen) << c.what;
    }
}

TEST(DropDownLayout, ScrollBarAndGripColumn) {
    struct Case {
        const char* what;
        int gripHeight;
        bool below, rtl;
        RECT bar, grip;
    } cases[] = {
        {"below, sizeable", 16, true, false, {182, 0, 198, 132}, {182, 132, 198, 148}},
        {"below, fixed: the bar runs the full height", 0, true, false, {182, 0, 198, 148}, {182, 148, 198, 148}},
        {"above, sizeable", 16, false, false, {182, 15, 198, 148}, {182, -1, 198, 15}},
        {"above, fixed", 0, false, false, {182, -1, 198, 148}, {182, -1, 198, -1}},
        {"below, scroll bar on the left", 16, true, true, {0, 0, 16, 132}, {0, 132, 16, 148}},
        {"above, scroll bar on the left", 16, false, true, {0, 15, 16, 148}, {0, -1, 16, 15}},
    };
    for (const Case& c : cases) {
        TDropDownLayout l = LayoutDropDown(200, 150, 16, c.gripHeight, c.below, c.rtl);
        EXPECT_TRUE(l.ScrollBar == c.bar) << c.what;
        EXPECT_TRUE(l.Grip == c.grip) << c.what;
    }
}

// The triangle's right angle lies at the window's outer corner: a real region
// holds that corner's pixel and not the opposite one.
TEST(DropDownGrip, TriangleCornerFollowsPlacementAndScrollBarSide) {
    struct Case {
        bool below, rtl;
        TGripCorner corner;
        POINT inside, outside;
    } cases[] = {
        {true, false, gcBottomRight, {14, 14}, {1, 1}},
        {false, false, gcTopRight, {14, 1}, {1, 14}},
        {true, true, gcBottomLeft, {1, 14}, {14, 1}},
        {false, true, gcTopLeft, {1, 1}, {14, 14}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.corner, GripCorner(c.below, c.rtl));
        POINT p[3];
        GripTriangle(RECT{0, 0, 16, 16}, c.corner, p);
        RegionHandle rgn(::CreatePolygonRgn(p, 3, WINDING));
        ASSERT_TRUE(rgn);
        EXPECT_TRUE(::PtInRegion(rgn.get(), c.inside.x, c.inside.y)) << c.corner;
        EXPECT_FALSE(::PtInRegion(rgn.get(), c.outside.x, c.outside.y)) << c.corner;
    }
}

namespace {

class DropDown : public ::testing::Test {
protected:
    TForm& form = shelltest::ShownForm();
    TWinControl anchor;
    TDropDownWnd dd;
    std::vector<std::string> log;

    void SetUp() override {
        anchor.SetParent(&form);
        anchor.SetBounds(10, 10, 200, 23);
        anchor.HandleNeeded();
        dd.OnRollDown = [this](TObject*, bool&) { log.push_back("down"); };
        dd.OnRollDownInit = [this](TObject*) { log.push_back("init"); };
        dd.OnRollUp = [this](TObject*, bool selected) { log.push_back(selected ? "up selected" : "up"); };
    }
    void TearDown() override { anchor.SetParent(nullptr); }
    void PostKey(WPARAM key) { ::PostMessageW(anchor.Handle(), WM_KEYDOWN, key, 1); }
};

} // namespace

TEST_F(DropDown, NothingHappensWithoutControlWhenDisabledOrVetoed) {
    dd.RollDown(nullptr, &anchor);
    dd.SetOptions(DefaultPopupOptions - TPopupOptions{poEnabled});
    dd.RollDown(&anchor, &anchor);
    EXPECT_TRUE(log.empty());
    dd.SetOptions(DefaultPopupOptions);
    dd.OnRollDown = [this](TObject*, bool& allow) {
        log.push_back("down");
        allow = false;
    };
    dd.RollDown(&anchor, &anchor);
    EXPECT_EQ((std::vector<std::string>{"down"}), log);
    EXPECT_FALSE(dd.DroppedDown());
    EXPECT_FALSE(dd.HandleAllocated() && ::IsWindowVisible(dd.Handle()));
}

TEST_F(DropDown, EnterChoosesEscapeDoesNotAndARollDownWhileOpenIsIgnored) {
    for (WPARAM key : {WPARAM(VK_RETURN), WPARAM(VK_ESCAPE)}) {
        log.clear();
        shelltest::PostedSteps script([this] { dd.RollUp(false); });
        bool visibleBelow = false;
        script.Then([&] {
            RECT w, a;
            ::GetWindowRect(dd.Handle(), &w);
            ::GetWindowRect(anchor.Handle(), &a);
            visibleBelow = ::IsWindowVisible(dd.Handle()) && w.top == a.bottom && w.left == a.left &&
                           w.right - w.left == a.right - a.left;
            dd.RollDown(&anchor, &anchor);   // already open: nothing, no event
            PostKey(key);
        });
        dd.RollDown(&anchor, &anchor);
        EXPECT_FALSE(script.WatchdogFired());
        EXPECT_TRUE(visibleBelow) << key;
        EXPECT_TRUE(dd.OpenedBelow());
        EXPECT_FALSE(dd.DroppedDown());
        EXPECT_FALSE(::IsWindowVisible(dd.Handle()));
        EXPECT_EQ(key == VK_RETURN, dd.LastSelected());
        std::vector<std::string> expected{"down", "init", key == VK_RETURN ? "up selected" : "up"};
        EXPECT_EQ(expected, log);
    }
}

TEST_F(DropDown, SwitchingApplicationsClosesWithNothingSelected) {
    shelltest::PostedSteps script([this] { dd.RollUp(false); });
    // What the system sends every top-level window of ours when another program is activated.
    script.Then([&] { ::SendMessageW(dd.Handle(), WM_ACTIVATEAPP, FALSE, 0); });
    dd.RollDown(&anchor, &anchor);
    EXPECT_FALSE(script.WatchdogFired());
    EXPECT_FALSE(dd.LastSelected());
    EXPECT_EQ((std::vector<std::string>{"down", "init", "up"}), log);
}

TEST_F(DropDown, AClickOutsideClosesAndIsNotDispatched) {
    shelltest::PostedSteps script([this] { dd.RollUp(false); });
    int anchorClicks = 0;
    anchor.OnMouseDown = [&](TObject*, TMouseButton, TShiftState, int, int) { ++anchorClicks; };
    script.Then([&] {
        RECT a;
        ::GetWindowRect(anchor.Handle(), &a);
        ::SetCursorPos(a.left + 5, a.top + 5);
        ::PostMessageW(anchor.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    });
    dd.RollDown(&anchor, &anchor);
    anchor.OnMouseDown = nullptr;
    EXPECT_FALSE(script.WatchdogFired());
    EXPECT_FALSE(dd.LastSelected());
    EXPECT_EQ(0, anchorClicks);
}

TEST_F(DropDown, AQuitMessageEndsTheLoopAndIsPostedAgain) {
    shelltest::PostedSteps script([this] { dd.RollUp(false); });
    script.Then([] { ::PostQuitMessage(7); });
    dd.RollDown(&anchor, &anchor);
    EXPECT_FALSE(script.WatchdogFired());
    EXPECT_FALSE(dd.DroppedDown());
    EXPECT_FALSE(::IsWindowVisible(dd.Handle()));
    MSG msg;
    ASSERT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(7u, msg.wParam);
}

TEST_F(DropDown, AtTheScreenBottomItOpensAboveWithTheGripAtTheTopCorner) {
    int screen = ::GetSystemMetrics(SM_CYSCREEN);
    TForm low;
    low.BorderStyle = bsNone;
    low.SetBounds(100, screen - 40, 300, 40);
    low.Show();
    TWinControl bottomAnchor;
    bottomAnchor.SetParent(&low);
    bottomAnchor.SetBounds(0, 10, 200, 23);
    dd.SetOptions(DefaultPopupOptions + TPopupOptions{poSizeable});
    shelltest::PostedSteps script([this] { dd.RollUp(false); });
    RECT w{}, a{}, grip{};
    bool gripCorner = false;
    script.Then([&] {
        ::GetWindowRect(dd.Handle(), &w);
        ::GetWindowRect(bottomAnchor.Handle(), &a);
        ::GetWindowRect(dd.Grabber().Handle(), &grip);
        RegionHandle rgn(::CreateRectRgn(0, 0, 0, 0));
        ::GetWindowRgn(dd.Grabber().Handle(), rgn.get());
        int gw = grip.right - grip.left, gh = grip.bottom - grip.top;
        gripCorner = ::PtInRegion(rgn.get(), gw - 2, 1) && !::PtInRegion(rgn.get(), 1, gh - 2);
        PostKey(VK_ESCAPE);
    });
    dd.RollDown(&bottomAnchor, &bottomAnchor);
    EXPECT_FALSE(script.WatchdogFired());
    EXPECT_TRUE(dd.OpenedAbove());
    EXPECT_EQ(a.top, w.bottom);
    EXPECT_EQ(dd.GripHeight(), grip.bottom - grip.top);
    EXPECT_EQ(w.right - 1, grip.right);   // in the scroll bar's column, inside the border
    EXPECT_TRUE(gripCorner);
    EXPECT_EQ(::GetSystemMetrics(SM_CYFRAME) + 17 * 8, w.bottom - w.top);
}

TEST_F(DropDown, TheGripResizesOnlyWhenSizeableAndPersistentSizingKeepsTheSize) {
    auto dragGrip = [&](int dx, int dy) {
        shelltest::PostedSteps steps([this] { dd.RollUp(false); });
        RECT before{}, after{};
        steps.Then([&] {
            ::GetWindowRect(dd.Handle(), &before);
            HWND grip = dd.Grabber().Handle();
            RECT g;
            ::GetWindowRect(grip, &g);
            POINT p{g.right - 3, g.bottom - 3};   // inside the bottom-right triangle
            ::SetCursorPos(p.x, p.y);
            ::ScreenToClient(grip, &p);
            ::PostMessageW(grip, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(p.x, p.y));
            steps.Then([&, grip, p] {
                POINT q;
                ::GetCursorPos(&q);
                ::SetCursorPos(q.x + dx, q.y + dy);
                ::PostMessageW(grip, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(p.x + dx, p.y + dy));
                ::PostMessageW(grip, WM_LBUTTONUP, 0, MAKELPARAM(p.x + dx, p.y + dy));
                steps.Then([&] {
                    ::GetWindowRect(dd.Handle(), &after);
                    PostKey(VK_ESCAPE);
                });
            });
        });
        dd.RollDown(&anchor, &anchor);
        EXPECT_FALSE(steps.WatchdogFired());
        return SIZE{(after.right - after.left) - (before.right - before.left),
                    (after.bottom - after.top) - (before.bottom - before.top)};
    };
    SIZE fixed = dragGrip(30, 40);
    EXPECT_EQ(0, fixed.cx);
    EXPECT_EQ(0, fixed.cy);
    EXPECT_EQ(0, dd.GripHeight());

    dd.SetOptions(DefaultPopupOptions + TPopupOptions{poSizeable, poPersistentSizing});
    SIZE grown = dragGrip(30, 40);
    EXPECT_EQ(30, grown.cx);
    EXPECT_EQ(40, grown.cy);
    int width = dd.Width(), height = dd.Height();

    // The next roll-down keeps what was dragged; without persistent sizing it starts afresh.
    dragGrip(0, 0);
    EXPECT_EQ(width, dd.Width());
    EXPECT_EQ(height, dd.Height());
    dd.SetOptions(DefaultPopupOptions + TPopupOptions{poSizeable});
    dragGrip(0, 0);
    EXPECT_EQ(anchor.Width(), dd.Width());
    EXPECT_EQ(::GetSystemMetrics(SM_CYFRAME) + 17 * 8, dd.Height());
}

TEST_F(DropDown, AnAnimatedRollDownEndsShownInPlace) {
    dd.SetOptions(TPopupOptions{poEnabled, poAnimated});
    dd.AnimationSpeed = 40;
    shelltest::PostedSteps steps([this] { dd.RollUp(false); });
    bool shownBelow = false;
    steps.Then([&] {
        RECT w, a;
        ::GetWindowRect(dd.Handle(), &w);
        ::GetWindowRect(anchor.Handle(), &a);
        shownBelow = ::IsWindowVisible(dd.Handle()) && w.top == a.bottom;
        PostKey(VK_RETURN);
    });
    dd.RollDown(&anchor, &anchor);
    EXPECT_FALSE(steps.WatchdogFired());
    EXPECT_TRUE(shownBelow);
    EXPECT_TRUE(dd.LastSelected());
}

namespace {
struct TPrintLog : TWinControl {
    std::vector<LPARAM> Flags;
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
        if (msg == WM_PRINT) Flags.push_back(lParam);
        return TWinControl::HandleMessage(msg, wParam, lParam, result);
    }
};
template <class Tree> struct TOwnTree : Tree { using Tree::Tree; };
template <class DropDown, class Tree> struct TOwnDropDown : DropDown {
    TOwnTree<Tree>* CreatePopupTree() override { return new TOwnTree<Tree>(this); }
};
} // namespace

// The drop-down prints nothing itself: its children get the flags it was given.
TEST(DropDownPrint, ChildrenGetTheFlagsTheWindowWasGiven) {
    for (LPARAM flags : {PRF_CHILDREN | PRF_CLIENT, PRF_CHILDREN | PRF_CLIENT | PRF_OWNED}) {
        TDropDownWnd dd;
        auto* child = new TPrintLog;
        child->SetParent(&dd);
        ::ShowWindow(dd.HandleNeeded(), SW_SHOWNA);
        ::SendMessageA(dd.Handle(), WM_PRINT, WPARAM(MemoryDC(nullptr).get()), flags);
        EXPECT_EQ(std::vector<LPARAM>{flags}, child->Flags) << flags;
    }
}

// A descendant's own tree is the one the drop-down shows.
TEST(PopupDropDowns, ADescendantMakesTheTree) {
    TOwnDropDown<TPopupExplorerDropDown, TPopupExplorerTree> folders;
    TOwnDropDown<TPopupAutoCompleteDropDown, TPopupAutoCompleteTree> rows;
    EXPECT_TRUE(dynamic_cast<TOwnTree<TPopupExplorerTree>*>(folders.PopupTree()));
    EXPECT_TRUE(dynamic_cast<TOwnTree<TPopupAutoCompleteTree>*>(rows.PopupTree()));
}
