// The header driven by non-client mouse messages, as a user would: every
// header event the tree fires is logged and compared with the expected
// sequence, order included.
#include "SessionSupport.h"
#include "tree/transfer/LazyTreeDragImage.h"

namespace krv::test {
namespace {

std::string Button(TMouseButton b) { return b == mbLeft ? "L" : b == mbRight ? "R" : "M"; }

// A shown tree with three columns (100, 60, 80 pixels) and a visible header.
struct HeaderSession : Session {
    HeaderSession() : Session(300, 160) {
        TLTHeader& h = tree.Header();
        for (int w : {100, 60, 80}) h.Columns().Add()->SetWidth(w);
        h.SetOptions(h.Options() + hoVisible + hoDblClickResize);
        tree.OnHeaderMouseDown = [this](TLTHeader*, TMouseButton b, TShiftState, int x, int y) {
            Log("down " + Button(b) + " " + Xy(x, y));
        };
        tree.OnHeaderMouseMove = [this](TLTHeader*, TShiftState, int x, int y) { Log("move " + Xy(x, y)); };
        tree.OnHeaderMouseUp = [this](TLTHeader*, TMouseButton b, TShiftState, int x, int y) {
            Log("up " + Button(b) + " " + Xy(x, y));
        };
        tree.OnHeaderClick = [this](TLTHeader*, TColumnIndex c, TMouseButton b, TShiftState, int, int) {
            Log("click " + std::to_string(c) + " " + Button(b));
        };
        tree.OnHeaderDblClick = [this](TLTHeader*, TColumnIndex c, TMouseButton b, TShiftState s, int, int) {
            Log("dblclick " + std::to_string(c) + " " + Button(b) + ((s & ssDouble) ? " double" : ""));
        };
        tree.OnColumnClick = [this](TBaseLazyTree*, TColumnIndex c, unsigned) { Log("column click " + std::to_string(c)); };
        tree.OnColumnResize = [this](TLTHeader*, TColumnIndex c) {
            Log("resize " + std::to_string(c) + "=" + std::to_string(tree.Header().Columns()[c].Width()));
        };
        tree.OnHeaderDragging = [this](TLTHeader*, TColumnIndex c, bool& allowed) {
            Log("dragging " + std::to_string(c));
            allowed = allowDrag;
        };
        tree.OnHeaderDragged = [this](TLTHeader*, TColumnIndex c, TColumnPosition old) {
            Log("dragged " + std::to_string(c) + " from " + std::to_string(old));
        };
        tree.OnHeaderDraggedOut = [this](TLTHeader*, TColumnIndex c, POINT) { Log("dragged out " + std::to_string(c)); };
        Take();
    }
    static std::string Xy(int x, int y) { return std::to_string(x) + "," + std::to_string(y); }
    // Header points are client points above the client area (y < 0).
    LPARAM Screen(POINT p) {
        ::ClientToScreen(tree.Handle(), &p);
        return MAKELPARAM(p.x, p.y);
    }
    void NcDown(POINT p) { Send(WM_NCLBUTTONDOWN, HTBORDER, Screen(p)); }
    void NcUp(POINT p) { Send(WM_NCLBUTTONUP, HTBORDER, Screen(p)); }
    void NcDblClick(POINT p) { Send(WM_NCLBUTTONDBLCLK, HTBORDER, Screen(p)); }
    std::vector<TColumnIndex> Order() { return tree.Header().VisibleColumnsInOrder(); }
    TLazyTreeColumn& Col(int i) { return tree.Header().Columns()[i]; }
    bool allowDrag = true;
};

TEST(HeaderMouse, ResizeAtTheSplitterFollowsTheMouseThenEnds) {
    HeaderSession s;
    // The width follows the mouse from the column's left edge, so a press
    // 1 pixel right of the edge widens the column by that pixel at once.
    s.NcDown({101, -8});
    EXPECT_EQ(s.tree.Header().States() & hsTrackPending, hsTrackPending);
    EXPECT_EQ(::GetCapture(), s.tree.Handle());
    s.Move({121, -8});
    s.Move({131, -8});
    s.Up({131, -8});
    EXPECT_LOG(s, "down L 101,9", "move 121,9", "resize 0=121", "move 131,9", "resize 0=131", "up L 131,9");
    EXPECT_EQ(s.Col(0).Width(), 131);
    EXPECT_EQ(s.Col(1).Left(), 131);
    EXPECT_EQ(s.tree.Header().States(), 0);
    EXPECT_NE(::GetCapture(), s.tree.Handle());

    // Below MinWidth the column stops; Escape ends the resize and the capture.
    s.NcDown({131, -8});
    s.Move({4, -8});
    EXPECT_EQ(s.Col(0).Width(), 10);
    s.Key(VK_ESCAPE);
    EXPECT_EQ(s.tree.Header().States(), 0);
    EXPECT_NE(::GetCapture(), s.tree.Handle());
    s.NcUp({4, -8});
    EXPECT_LOG(s, "down L 131,9", "move 4,9", "resize 0=10", "up L 4,9");

    // A column that is not resizable has no splitter: the press starts a drag instead.
    s.Col(0).SetOptions(s.Col(0).Options() - coResizable);
    s.NcDown({9, -8});
    EXPECT_EQ(s.tree.Header().States(), hsDragPending);
    s.Up({9, -8});
}

TEST(HeaderMouse, DragMovesTheColumnToTheDropSide) {
    HeaderSession s;
    s.NcDown({30, -8});
    s.Move({33, -8});              // within the drag threshold: nothing starts
    EXPECT_EQ(s.tree.Header().States(), hsDragPending);
    s.Move({140, -8});             // right half of column 1
    EXPECT_EQ(s.tree.Header().States(), hsDragging);
    EXPECT_EQ(s.tree.Header().Columns().DropTarget(), 1);
    EXPECT_EQ(s.tree.Header().Columns().DropMark(), dmmRight);
    s.Move({170, -8});             // left half of column 2
    EXPECT_EQ(s.tree.Header().Columns().DropMark(), dmmLeft);
    s.Up({170, -8});
    EXPECT_LOG(s, "down L 30,9", "move 33,9", "move 140,9", "dragging 0", "move 170,9", "dragged 0 from 0",
               "up L 170,9");
    EXPECT_EQ(s.Order(), (std::vector<TColumnIndex>{1, 0, 2}));
    EXPECT_EQ(s.Col(0).Left(), 60);

    // Dropped on the left half of the first column: to the front.
    s.NcDown({170, -8});           // column 2
    s.Move({175, -8});
    s.Move({10, -8});
    s.Up({10, -8});
    EXPECT_LOG(s, "down L 170,9", "move 175,9", "dragging 2", "move 10,9", "dragged 2 from 2", "up L 10,9");
    EXPECT_EQ(s.Order(), (std::vector<TColumnIndex>{2, 1, 0}));
}

TEST(HeaderMouse, RefusedOrOutsideDragsMoveNothing) {
    HeaderSession s;
    s.allowDrag = false;
    s.NcDown({30, -8});
    s.Move({140, -8});
    EXPECT_EQ(s.tree.Header().States(), 0);
    EXPECT_NE(::GetCapture(), s.tree.Handle());
    s.NcUp({140, -8});             // released over another column: no click either
    EXPECT_LOG(s, "down L 30,9", "move 140,9", "dragging 0", "up L 140,9");
    EXPECT_EQ(s.Order(), (std::vector<TColumnIndex>{0, 1, 2}));

    s.allowDrag = true;
    s.NcDown({30, -8});
    s.Move({140, -8});
    s.Move({30, -400});            // far outside the window
    s.Up({30, -400});
    EXPECT_LOG(s, "down L 30,9", "move 140,9", "dragging 0", "move 30,-383", "dragged out 0", "up L 30,-383");
    EXPECT_EQ(s.Order(), (std::vector<TColumnIndex>{0, 1, 2}));

    // Without coDraggable the press is a click only.
    s.Col(1).SetOptions(s.Col(1).Options() - coDraggable);
    s.NcDown({130, -8});
    EXPECT_EQ(s.tree.Header().States(), 0);
    s.NcUp({130, -8});
    EXPECT_LOG(s, "down L 130,9", "click 1 L", "column click 1", "up L 130,9");
}

TEST(HeaderMouse, ClickOnAColumnResortsTheTree) {
    HeaderSession s;
    PLazyNode a = s.Add(nullptr, L"a"), b = s.Add(nullptr, L"b"), c = s.Add(nullptr, L"c");
    // Column 1 sorts by a size kept apart from the name.
    std::map<PLazyNode, int> size{{a, 30}, {b, 10}, {c, 20}};
    s.tree.OnCompareNodes = [&](TBaseLazyTree*, PLazyNode n1, PLazyNode n2, TColumnIndex column, int& result) {
        result = column == 1 ? size[n1] - size[n2] : s.texts[n1].compare(s.texts[n2]);
    };
    auto& o = s.tree.TreeOptions();
    o.SetAutoOptions(o.AutoOptions() + toAutoSort);
    s.tree.OnHeaderClick = [&](TLTHeader* h, TColumnIndex column, TMouseButton, TShiftState, int, int) {
        s.Log("click " + std::to_string(column));
        if (h->SortColumn() == column)
            h->SetSortDirection(h->SortDirection() == sdAscending ? sdDescending : sdAscending);
        else
            h->SetSortColumn(column);
    };
    auto order = [&] {
        std::string names;
        for (PLazyNode n = s.tree.GetFirst(); n; n = s.tree.GetNextSibling(n)) names += s.Name(n);
        return names;
    };
    s.NcDown({130, -8});
    s.Up({130, -8});               // the press took the capture: the release comes as a client message
    EXPECT_EQ(order(), "bca");
    s.NcDown({130, -8});
    s.Up({130, -8});
    EXPECT_EQ(order(), "acb");
    s.NcDown({30, -8});            // another column keeps the direction
    s.Up({30, -8});
    EXPECT_EQ(order(), "cba");
    EXPECT_LOG(s, "down L 130,9", "click 1", "column click 1", "up L 130,9", "down L 130,9", "click 1",
               "column click 1", "up L 130,9", "down L 30,9", "click 0", "column click 0", "up L 30,9");
}

TEST(HeaderMouse, DoubleClickFitsAtTheSplitterAndReportsElsewhere) {
    HeaderSession s;
    s.Add(nullptr, L"A name needing more room");
    int content = s.tree.GetMaxColumnWidth(0);
    ASSERT_GT(content, 100);
    s.NcDblClick({100, -8});
    EXPECT_EQ(s.Col(0).Width(), content);
    EXPECT_LOG(s, "resize 0=" + std::to_string(content));
    s.NcDblClick({content + 30, -8});
    EXPECT_LOG(s, "dblclick 1 L double");
    // Ctrl and "-" give every column back its previous width, Ctrl and "+" fits them again.
    s.Key(VK_SUBTRACT, ssCtrl);
    EXPECT_EQ(s.Col(0).Width(), 100);
    s.Key(VK_ADD, ssCtrl);
    EXPECT_EQ(s.Col(0).Width(), content);
    s.Take();
}

TEST(HeaderMouse, HotTrackingFollowsTheMouseUntilTheTimerSeesItLeave) {
    HeaderSession s;
    TLTHeader& h = s.tree.Header();
    h.SetOptions(h.Options() + hoHotTrack);
    POINT over{130, -8};
    ::ClientToScreen(s.tree.Handle(), &over);
    ::SetCursorPos(over.x, over.y);
    s.Send(WM_NCMOUSEMOVE, HTBORDER, MAKELPARAM(over.x, over.y));
    EXPECT_EQ(h.Columns().HoverIndex(), 1);
    s.Timer(3);                     // still over the header: the hover stays
    EXPECT_EQ(h.Columns().HoverIndex(), 1);
    POINT away{130, 60};
    ::ClientToScreen(s.tree.Handle(), &away);
    ::SetCursorPos(away.x, away.y);
    s.Timer(3);
    EXPECT_EQ(h.Columns().HoverIndex(), ColumnNone);
    EXPECT_LOG(s, "move 130,9");
}

TEST(HeaderMouse, RightAndMiddleButtonsReportButDoNotClick) {
    HeaderSession s;
    POINT p{50, -8};
    ::ClientToScreen(s.tree.Handle(), &p);
    for (UINT down : {UINT(WM_NCRBUTTONDOWN), UINT(WM_NCMBUTTONDOWN)}) {
        s.Send(down, HTBORDER, MAKELPARAM(p.x, p.y));
        s.Send(down + 1, HTBORDER, MAKELPARAM(p.x, p.y));
    }
    s.Send(WM_NCRBUTTONDBLCLK, HTBORDER, MAKELPARAM(p.x, p.y));
    EXPECT_LOG(s, "down R 50,9", "up R 50,9", "down M 50,9", "up M 50,9", "dblclick 0 R double");
    EXPECT_EQ(s.tree.Header().States(), 0);
}

// The emulated system style in its states: hot, pressed, and the drop mark of a drag.
TEST(HeaderMouse, EmulatedSystemStyleShowsHotPressedAndDropMark) {
    HeaderSession s;
    auto& o = s.tree.TreeOptions();
    o.SetPaintOptions(o.PaintOptions() - toThemeAware);
    TLTHeader& h = s.tree.Header();
    h.SetStyle(hsXPStyle);
    h.SetOptions(h.Options() + hoHotTrack);
    const wchar_t* captions[] = {L"Hot", L"Pressed", L"Plain"};
    for (int i = 0; i < 3; ++i) s.Col(i).SetText(captions[i]);
    auto shot = [&] {
        return Capture(260, h.Height(), [&](HDC dc) { h.Columns().PaintHeader(dc, RECT{0, 0, 260, h.Height()}, 0); });
    };
    POINT hot{50, -8};
    ::ClientToScreen(s.tree.Handle(), &hot);
    s.Send(WM_NCMOUSEMOVE, HTBORDER, MAKELPARAM(hot.x, hot.y));
    s.NcDown({130, -8});
    TImage states = shot();
    s.Move({200, -8});              // dragging "Pressed" over the right half of "Plain"
    TImage drop = shot();
    s.Key(VK_ESCAPE);
    s.Take();
    TImage both{260, 2 * h.Height(), states.Pixels};
    both.Pixels.insert(both.Pixels.end(), drop.Pixels.begin(), drop.Pixels.end());
    ExpectMatchesGolden("header_xp_states", both);
}

TEST(HeaderMouse, CursorOverASplitterIsTheTreesSplitCursor) {
    HeaderSession s;
    std::vector<HCURSOR> asked;
    s.tree.OnGetHeaderCursor = [&](TLTHeader*, HCURSOR& cursor) { asked.push_back(cursor); };
    POINT splitter{101, -8}, caption{50, -8};
    ::ClientToScreen(s.tree.Handle(), &splitter);
    ::ClientToScreen(s.tree.Handle(), &caption);
    ASSERT_TRUE(::SetCursorPos(splitter.x, splitter.y));
    s.Send(WM_SETCURSOR, WPARAM(s.tree.Handle()), MAKELPARAM(HTBORDER, WM_MOUSEMOVE));
    ASSERT_TRUE(::SetCursorPos(caption.x, caption.y));
    s.Send(WM_SETCURSOR, WPARAM(s.tree.Handle()), MAKELPARAM(HTBORDER, WM_MOUSEMOVE));
    HCURSOR split = ::LoadCursorA(::GetModuleHandleA(nullptr), "LT_HEADERSPLIT");
    ASSERT_NE(split, nullptr);   // drawn by the generator, linked into the program
    EXPECT_EQ(asked, (std::vector<HCURSOR>{split, ::LoadCursorA(nullptr, IDC_ARROW)}));
}

// A column drag shows the column's picture, which follows the mouse from
// where the column was grabbed; Escape takes it away and the screen is as it was.
TEST(HeaderMouse, ADraggedColumnShowsItsPictureUnderTheMouse) {
    HeaderSession s;
    TLTHeader& h = s.tree.Header();
    RECT header = h.HeaderRect();
    ::MapWindowPoints(s.tree.Handle(), nullptr, reinterpret_cast<POINT*>(&header), 2);
    auto grab = [&] {
        int w = header.right - header.left, hh = header.bottom - header.top;
        return Capture(w, hh, [&](HDC dc) {
            WindowDC screen(nullptr);
            ::BitBlt(dc, 0, 0, w, hh, screen.get(), header.left, header.top, SRCCOPY);
        });
    };
    TImage before = grab();
    s.NcDown({30, -8});
    s.Move({140, -8});
    ASSERT_EQ(h.States(), hsDragging);
    ASSERT_NE(h.DragImage(), nullptr);
    TLTDragImage& image = *h.DragImage();
    EXPECT_TRUE(image.Visible());
    RECT r = image.ImageScreenRect();
    EXPECT_EQ(r.right - r.left, 100);   // the first column, whole
    EXPECT_EQ(r.bottom - r.top, h.Height());
    EXPECT_EQ(r.left, header.left + 110);   // moved as far as the mouse
    EXPECT_EQ(r.top, header.top);
    EXPECT_FALSE(grab() == before);
    s.Move({170, -2});
    RECT moved = image.ImageScreenRect();
    EXPECT_EQ(moved.left - r.left, 30);
    EXPECT_EQ(moved.top - r.top, 6);
    s.Key(VK_ESCAPE);
    EXPECT_EQ(h.States(), 0);
    EXPECT_EQ(image.States(), 0u);
    EXPECT_TRUE(grab() == before);
    // A drop ends the picture too.
    s.NcDown({30, -8});
    s.Move({140, -8});
    EXPECT_TRUE(image.Visible());
    s.Up({140, -8});
    EXPECT_EQ(image.States(), 0u);
    EXPECT_EQ(s.Order(), (std::vector<TColumnIndex>{1, 0, 2}));
}

} // namespace
} // namespace krv::test
