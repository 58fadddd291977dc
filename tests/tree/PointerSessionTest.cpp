// Sessions of mouse moves: the selection frame in both directions and in
// switch mode, hot tracking, auto scrolling on an injected clock, wheel
// panning, and handlers that delete the node a click or key is working on.
#include "SessionSupport.h"

using namespace krv;
using namespace krv::test;

namespace {

struct Rows : Session {
    explicit Rows(int count = 9, int height = 200) : Session(240, height) {
        const wchar_t* names[] = {L"Alpha", L"Beta", L"Cherry", L"Date", L"Elder", L"Fig", L"Grape", L"Hazel", L"Iris"};
        for (int i = 0; i < count; ++i) Add(nullptr, i < 9 ? std::wstring(names[i]) : L"Row " + std::to_wstring(i));
        auto& o = tree.TreeOptions();
        o.SetSelectionOptions(o.SelectionOptions() + toMultiSelect);
        Take();
    }
    POINT RowAt(const std::string& name, int x) {
        RECT r = tree.GetDisplayRect(Node(name), ColumnNone, false);
        return POINT{x, (r.top + r.bottom) / 2};
    }
};

TEST(FrameSession, FirstFrameSelectsAndFollowsTheMouse) {
    Rows s;
    s.Click("Iris");
    s.Take();
    s.Down(s.RowAt("Beta", 200));   // right of the label: a frame is pending
    EXPECT_TRUE(s.tree.TreeStates().Contains(tsDrawSelPending));
    EXPECT_LOG(s);
    s.Move(s.RowAt("Elder", 30));   // first frame: the nodes in it are selected at once
    EXPECT_TRUE(s.tree.TreeStates().Contains(tsDrawSelecting));
    EXPECT_EQ(s.Selection(), "Beta,Cherry,Date,Elder");
    EXPECT_LOG(s, "change");
    s.Move(s.RowAt("Cherry", 30));   // back up: Date and Elder leave
    EXPECT_EQ(s.Selection(), "Beta,Cherry");
    EXPECT_LOG(s, "change");
    s.Move(s.RowAt("Cherry", 35));   // same rows: no change
    EXPECT_LOG(s);
    s.Up(s.RowAt("Cherry", 35));
    EXPECT_FALSE(s.tree.TreeStates().Contains(tsDrawSelecting));
    EXPECT_EQ(s.Selection(), "Beta,Cherry");
    // Upward from below the last row; the old selection is cleared first.
    s.Down(POINT{200, 195});
    s.Move(s.RowAt("Fig", 30));
    EXPECT_EQ(s.Selection(), "Fig,Grape,Hazel,Iris");
    EXPECT_LOG(s, "change");
    s.Up(s.RowAt("Fig", 30));
    // Ctrl: the frame switches what it covers and keeps the rest.
    s.Down(s.RowAt("Alpha", 200), MK_CONTROL);
    s.Move(s.RowAt("Fig", 30), MK_LBUTTON | MK_CONTROL);
    EXPECT_EQ(s.Selection(), "Alpha,Beta,Cherry,Date,Elder,Grape,Hazel,Iris");
    s.Up(s.RowAt("Fig", 30), MK_CONTROL);
    EXPECT_TREE_CONSISTENT(s.tree);
}

TEST(FrameSession, FrameMissingTheLabelsSelectsNothingAndEscapeEndsIt) {
    Rows s;
    s.Down(s.RowAt("Beta", 200));
    s.Move(s.RowAt("Elder", 190));   // the frame stays right of every label
    EXPECT_EQ(s.Selection(), "");
    s.Move(s.RowAt("Elder", 30));
    EXPECT_EQ(s.Selection(), "Beta,Cherry,Date,Elder");
    s.Key(VK_ESCAPE);
    EXPECT_FALSE(s.tree.IsMouseSelecting());
    s.Move(s.RowAt("Iris", 30));   // no longer selecting
    EXPECT_EQ(s.Selection(), "Beta,Cherry,Date,Elder");
    s.Up(s.RowAt("Iris", 30));
    // A move within the drag threshold starts no frame.
    s.Down(s.RowAt("Alpha", 200));
    s.Move(s.RowAt("Alpha", 197));
    EXPECT_TRUE(s.tree.TreeStates().Contains(tsDrawSelPending));
    s.Up(s.RowAt("Alpha", 197));
    EXPECT_EQ(s.Selection(), "");   // a click beside the items clears the selection
}

TEST(FrameSession, RightToLeftFrameMeasuresFromTheRightEdge) {
    Rows s;
    s.tree.SetBiDiMode(bdRightToLeft);
    // Labels sit at the right edge now; a frame at the left misses them.
    s.Down(s.RowAt("Beta", 10));
    s.Move(s.RowAt("Date", 60));
    EXPECT_EQ(s.Selection(), "");
    s.Move(s.RowAt("Date", 225));
    EXPECT_EQ(s.Selection(), "Beta,Cherry,Date");
    s.Up(s.RowAt("Date", 225));
}

TEST(PointerSession, HotTrackingFollowsTheItems) {
    Rows s;
    s.Move(s.RowAt("Cherry", 30), 0);
    EXPECT_LOG(s, "hot Cherry");
    s.Move(s.RowAt("Cherry", 32), 0);
    EXPECT_LOG(s);
    s.Move(s.RowAt("Date", 200), 0);   // beside the label: nothing is hot
    EXPECT_LOG(s, "hot nil");
    s.Send(WM_MOUSELEAVE);
    EXPECT_LOG(s);
    s.Move(s.RowAt("Date", 30), 0);
    s.Send(WM_MOUSELEAVE);
    EXPECT_LOG(s, "hot Date", "hot nil");
}

TEST(PointerSession, AutoScrollWaitsForTheDelayOnTheInjectedClock) {
    Rows s(40);
    DWORD now = 5000;
    s.tree.TickSource = [&] { return now; };
    // The window timers are driven by hand here; the real ones must not fire.
    s.tree.AutoScrollInterval = 600000;
    auto& o = s.tree.TreeOptions();
    o.SetAutoOptions(o.AutoOptions() + toAutoScroll);
    s.Down(s.RowAt("Beta", 200));
    POINT edge{30, 195};   // inside the bottom zone (DefaultNodeHeight wide)
    s.Move(edge);
    EXPECT_TRUE(s.tree.TreeStates().Contains(tsDrawSelecting));
    EXPECT_FALSE(s.tree.TreeStates().Contains(tsScrollPending));
    now += 999;
    s.Move(POINT{31, 195});
    EXPECT_FALSE(s.tree.TreeStates().Contains(tsScrollPending));
    now += 1;
    s.Move(POINT{32, 195});
    EXPECT_TRUE(s.tree.TreeStates().Contains(tsScrollPending));
    EXPECT_EQ(s.tree.AutoScrollDirections(), sdDownDir);
    EXPECT_EQ(s.tree.OffsetY(), 0);
    s.Timer(4);
    EXPECT_TRUE(s.tree.TreeStates().Contains(tsScrolling));
    EXPECT_EQ(s.tree.OffsetY(), -s.tree.ScrollBarOptions().VerticalIncrement);
    s.Timer(4);
    EXPECT_EQ(s.tree.OffsetY(), -2 * s.tree.ScrollBarOptions().VerticalIncrement);
    // The frame grew with the view: the rows scrolled in are selected too.
    int bottomRow = (195 - s.tree.OffsetY()) / 18;
    EXPECT_EQ(s.tree.SelectedCount(), unsigned(bottomRow));
    // Leaving the zone stops it.
    s.Move(POINT{32, 100});
    EXPECT_FALSE(s.tree.TreeStates().Contains(tsScrolling));
    s.Up(POINT{32, 100});
    // A release already queued when the first step is due ends it without a step.
    s.Down(s.RowAt("Row 20", 200));
    s.Move(edge);
    now += 1000;
    s.Move(POINT{31, 195});
    int offset = s.tree.OffsetY();
    ::PostMessageW(s.tree.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(31, 195));
    s.Timer(4);
    EXPECT_EQ(s.tree.OffsetY(), offset);
    EXPECT_FALSE(s.tree.TreeStates().Contains(tsScrolling));
    // Without toAutoScroll nothing scrolls.
    o.SetAutoOptions(o.AutoOptions() - toAutoScroll);
    s.Down(s.RowAt("Row 20", 200));
    now += 5000;
    s.Move(edge);
    now += 5000;
    s.Move(POINT{31, 195});
    EXPECT_FALSE(s.tree.TreeStates().Contains(tsScrollPending));
    s.Up(edge);
}

// Only the tree and its own child windows make the delay apply; over any
// other window the directions count at once.
TEST(PointerSession, ScrollDirectionsOverAnotherWindowSkipTheDelay) {
    Rows s(40);
    DWORD now = 5000;
    s.tree.TickSource = [&] { return now; };
    auto& o = s.tree.TreeOptions();
    o.SetAutoOptions(o.AutoOptions() + toAutoScroll);
    s.Down(s.RowAt("Beta", 200));
    s.Move(POINT{150, 150});
    ASSERT_TRUE(s.tree.TreeStates().Contains(tsDrawSelecting));
    // A child of the tree over its bottom edge still counts as the tree.
    WindowHandle child(::CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE, 0, 185, 60, 15, s.tree.Handle(),
                                         nullptr, nullptr, nullptr));
    EXPECT_EQ(s.tree.ScrollDirectionsAt(10, 190), 0);
    now += 1000;
    EXPECT_EQ(s.tree.ScrollDirectionsAt(10, 190), sdDownDir);
    child.reset();
    now += 10;
    // Another top-level window over the edge: at once, no delay.
    POINT screen{100, 185};
    ::ClientToScreen(s.tree.Handle(), &screen);
    WindowHandle other(::CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, "EDIT", "", WS_POPUP | WS_VISIBLE,
                                         screen.x, screen.y, 80, 15, nullptr, nullptr, nullptr, nullptr));
    s.tree.ScrollDirectionsAt(150, 150);   // out of the zone: the delay starts over
    EXPECT_EQ(s.tree.ScrollDirectionsAt(120, 190), sdDownDir);
    EXPECT_EQ(s.tree.ScrollDirectionsAt(10, 190), 0);   // beside it, over the tree: delayed again
    s.Up(POINT{150, 150});
}

TEST(PointerSession, WheelPanningDeadZoneCursorAndStop) {
    Rows s(40);
    POINT anchor{100, 100};
    s.Send(WM_MBUTTONDOWN, MK_MBUTTON, Session::At(anchor));
    ASSERT_TRUE(s.tree.TreeStates().Contains(tsWheelPanning));
    ASSERT_NE(s.tree.PanningWindow(), nullptr);
    EXPECT_TRUE(::IsWindowVisible(s.tree.PanningWindow()));
    EXPECT_STREQ(s.tree.PanCursorName(), "LT_MOVENS");   // the tree fits horizontally
    s.Move(POINT{100, 108}, MK_MBUTTON);
    EXPECT_EQ(s.tree.AutoScrollDirections(), 0);
    s.Move(POINT{100, 109}, MK_MBUTTON);
    EXPECT_EQ(s.tree.AutoScrollDirections(), sdDownDir);
    EXPECT_TRUE(s.tree.TreeStates().Contains(tsWheelScrolling));
    EXPECT_STREQ(s.tree.PanCursorName(), "LT_MOVES");
    EXPECT_EQ(::GetCursor(), ::LoadCursorA(::GetModuleHandleA(nullptr), "LT_MOVES"));   // the tree's own picture
    s.Timer(4);
    EXPECT_LT(s.tree.OffsetY(), 0);
    s.Move(POINT{100, 91}, MK_MBUTTON);
    EXPECT_EQ(s.tree.AutoScrollDirections(), sdUpDir);
    EXPECT_STREQ(s.tree.PanCursorName(), "LT_MOVEN");
    EXPECT_EQ(::GetCursor(), ::LoadCursorA(::GetModuleHandleA(nullptr), "LT_MOVEN"));
    // Any key ends panning.
    s.Key(VK_SHIFT);
    EXPECT_FALSE(s.tree.TreeStates().Contains(tsWheelPanning));
    EXPECT_FALSE(s.tree.TreeStates().Contains(tsWheelScrolling));
    EXPECT_EQ(s.tree.PanningWindow(), nullptr);
    // Without toWheelPanning the middle button does not pan.
    auto& o = s.tree.TreeOptions();
    o.SetMiscOptions(o.MiscOptions() - toWheelPanning);
    s.Send(WM_MBUTTONDOWN, MK_MBUTTON, Session::At(anchor));
    EXPECT_FALSE(s.tree.TreeStates().Contains(tsWheelPanning));
    s.Send(WM_MBUTTONUP, 0, Session::At(anchor));
}

TEST(PointerSession, DragStartsOnceTheMouseLeavesTheThreshold) {
    Rows s;
    s.Click("Beta");
    s.Click("Date", hpOnItemLabel, MK_CONTROL);
    s.tree.OnDragAllowed = [](TBaseLazyTree*, PLazyNode, TColumnIndex, bool& allowed) { allowed = true; };
    POINT p = s.PointOn(s.Node("Date"), hpOnItemLabel);
    s.Down(p);
    EXPECT_TRUE(s.tree.TreeStates().Contains(tsOLEDragPending));
    EXPECT_EQ(s.Selection(), "Beta,Date");   // a drag may follow: the selection stays
    s.Move(POINT{p.x + s.tree.DragThreshold, p.y});
    EXPECT_TRUE(s.tree.drags.empty());
    s.Move(POINT{p.x + s.tree.DragThreshold + 1, p.y});
    ASSERT_EQ(s.tree.drags.size(), 1u);
    EXPECT_EQ(s.tree.drags[0], (std::vector<PLazyNode>{s.Node("Beta"), s.Node("Date")}));
    EXPECT_FALSE(s.tree.Dragging());
    s.Up(POINT{p.x + 20, p.y});
    // Ctrl with a drag possible: the toggle waits for the release on the node.
    POINT alpha = s.PointOn(s.Node("Alpha"), hpOnItemLabel);
    s.Down(alpha, MK_CONTROL);
    EXPECT_EQ(s.Selection(), "Beta,Date");
    s.Up(alpha, MK_CONTROL);
    EXPECT_EQ(s.Selection(), "Alpha,Beta,Date");
    // Without permission no drag is pending.
    s.tree.OnDragAllowed = nullptr;
    s.Down(p);
    EXPECT_FALSE(s.tree.TreeStates().Contains(tsOLEDragPending));
    s.Up(p);
    EXPECT_EQ(s.Selection(), "Date");
}

// Every reference the tree keeps: none may point at a deleted node.
void ExpectNoReferenceTo(TSessionTree& tree, PLazyNode gone) {
    EXPECT_NE(tree.FocusedNode(), gone);
    EXPECT_NE(tree.RangeAnchor(), gone);
    EXPECT_NE(tree.HotNode(), gone);
    EXPECT_NE(tree.PendingCheckNode(), gone);
    EXPECT_NE(tree.DropTargetNode(), gone);
    EXPECT_NE(tree.lastSearchNode_, gone);
    EXPECT_NE(tree.lastClickedNode_, gone);
    for (PLazyNode n : tree.GetSortedSelection(false)) EXPECT_NE(n, gone);
    for (PLazyNode n = tree.GetFirstNoInit(); n; n = tree.GetNextNoInit(n)) EXPECT_NE(n, gone);
    EXPECT_TREE_CONSISTENT(tree);
}

TEST(DeleteDuringAction, HandlersDeletingTheNodeLeaveNoReference) {
    Rows s;
    auto& o = s.tree.TreeOptions();
    o.SetMiscOptions(o.MiscOptions() + toCheckSupport);
    for (PLazyNode n = s.tree.GetFirst(); n; n = s.tree.GetNext(n)) s.tree.SetCheckType(n, ctCheckBox);
    s.tree.SetIncrementalSearch(isAll);
    auto deleteOnFocus = [&](const std::string& name) {
        s.tree.OnFocusChanged = [&s, name](TBaseLazyTree* t, PLazyNode n, TColumnIndex) {
            if (s.Name(n) == name) t->DeleteNode(n);
        };
    };
    // A click: the newly focused node goes during its own focus event.
    PLazyNode cherry = s.Node("Cherry");
    s.Move(s.RowAt("Cherry", 30), 0);   // hot first
    deleteOnFocus("Cherry");
    s.Click("Cherry");
    ExpectNoReferenceTo(s.tree, cherry);
    // A key: Down focuses Date, whose handler deletes it.
    s.Click("Beta");
    PLazyNode date = s.Node("Date");
    deleteOnFocus("Date");
    s.Key(VK_DOWN);
    ExpectNoReferenceTo(s.tree, date);
    s.tree.OnFocusChanged = nullptr;
    // A mouse check: the node goes while its check is asked for.
    PLazyNode elder = s.Node("Elder");
    s.tree.OnChecking = [&](TBaseLazyTree* t, PLazyNode n, TCheckState&, bool&) {
        if (n == elder) t->DeleteNode(n);
    };
    s.Click("Elder", hpOnItemCheckbox);
    ExpectNoReferenceTo(s.tree, elder);
    // The space key: the node goes in its checked event, on release.
    s.tree.OnChecking = nullptr;
    PLazyNode fig = s.Node("Fig");
    s.tree.OnChecked = [&](TBaseLazyTree* t, PLazyNode n) {
        if (n == fig) t->DeleteNode(n);
    };
    s.Click("Fig");
    s.Key(VK_SPACE);
    ExpectNoReferenceTo(s.tree, fig);
    // Found by the search, then deleted by its own selection change.
    PLazyNode grape = s.Node("Grape");
    bool deleted = false;
    s.tree.OnChange = [&](TBaseLazyTree* t, PLazyNode) {
        if (!deleted && t->Selected(grape)) {
            deleted = true;
            t->DeleteNode(grape);
        }
    };
    s.Type("G");
    EXPECT_TRUE(deleted);
    ExpectNoReferenceTo(s.tree, grape);
    s.tree.OnChange = nullptr;
    // Expanding by key: the handler deletes the node it expanded.
    PLazyNode hazel = s.Node("Hazel");
    s.Add(hazel, L"Leaf");
    s.tree.OnExpanded = [&](TBaseLazyTree* t, PLazyNode n) { t->DeleteNode(n); };
    s.Click("Hazel");
    s.Key(VK_RIGHT);
    ExpectNoReferenceTo(s.tree, hazel);
}

} // namespace

namespace {

// The frame a mouse drag draws over the rows it crosses and over the room
// below the last row: dotted, and blended in the frame colours.
TEST(FrameSession, TheFrameIsDrawnInTheRowsAndBelowThem) {
    Rows s(4, 120);
    auto& o = s.tree.TreeOptions();
    o.SetPaintOptions(o.PaintOptions() - toThemeAware + toPopupMode);
    s.tree.Colors().Set(TLTColors::SelectionRectangleBlendColor, clGreen);
    s.tree.Colors().Set(TLTColors::SelectionRectangleBorderColor, clNavy);
    TImage both{440, 120, {}};
    std::vector<TImage> pictures;
    for (bool blended : {false, true}) {
        o.SetPaintOptions(blended ? o.PaintOptions() + toUseBlendedSelection : o.PaintOptions() - toUseBlendedSelection);
        s.Down(s.RowAt("Alpha", 200));   // beside the label
        s.Move(POINT{40, 100});          // below the last row
        ASSERT_TRUE(s.tree.TreeStates().Contains(tsDrawSelecting));
        pictures.push_back(RenderTree(s.tree, 220, 120));
        s.Up(POINT{40, 100});
        // Once the button is up the frame is gone.
        EXPECT_FALSE(RenderTree(s.tree, 220, 120) == pictures.back());
    }
    for (int y = 0; y < 120; ++y)
        for (const TImage& p : pictures)
            both.Pixels.insert(both.Pixels.end(), p.Pixels.begin() + y * 220, p.Pixels.begin() + (y + 1) * 220);
    ExpectMatchesGolden("selection_frame", both);
}

} // namespace
