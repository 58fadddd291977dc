// Tables of what the tree answers and fires: repaint regions and scroll
// positions after an operation, event sequences of messages and drags, the
// window styles it asks for, and a short stream.
#include "SessionSupport.h"
#include "framework/Stream.h"
#include "tree/string/LazyStringEdit.h"
#include <functional>

using namespace krv;
using namespace krv::test;

namespace {

struct Case {
    const char* name;
    std::function<std::string(Session&)> run;
    std::string expected;
};

void RunTable(const std::vector<Case>& table) {
    for (const Case& c : table) {
        Session s;
        for (const wchar_t* name : {L"Alpha", L"Beta", L"Cherry"}) s.Add(nullptr, name);
        s.Take();
        EXPECT_EQ(c.run(s), c.expected) << c.name;
    }
}

// The region left to repaint; R and B stand for the client's right and bottom.
std::string UpdateRegion(Session& s) {
    RECT r{};
    ::GetUpdateRect(s.tree.Handle(), &r, FALSE);
    auto edge = [](LONG v, int client, const char* name) { return v == client ? std::string(name) : std::to_string(v); };
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + edge(r.right, s.tree.ClientWidth(), "R") +
           "," + edge(r.bottom, s.tree.ClientHeight(), "B");
}

// What is left to repaint after the action, from a window with nothing to repaint.
std::string RepaintAfter(Session& s, const std::function<void()>& action) {
    ::UpdateWindow(s.tree.Handle());
    ::ValidateRect(s.tree.Handle(), nullptr);
    action();
    return UpdateRegion(s);
}

void TwoColumns(Session& s) {
    for (int w : {100, 80}) s.tree.Header().Columns().Add()->SetWidth(w);
    s.tree.Header().SetOptions(s.tree.Header().Options() + hoVisible);
}

std::string ListChanged(Session& s, void (TBaseLazyTree::*set)(TImageList*)) {
    static TImageList list(nullptr, 16, 16);
    (s.tree.*set)(&list);
    return RepaintAfter(s, [] { list.AddPainted([](TCanvas& c) { c.FillRect(RECT{0, 0, 16, 16}); }); });
}

// A descendant that draws the header's text itself, without any event assigned.
struct TOwnTextHeaderTree : TTestTree {
    std::string drawn;
    void DoHeaderDrawQueryElements(THeaderPaintInfo&, THeaderPaintElements& elements) override { elements = {hpeText}; }
    void DoAdvancedHeaderDraw(THeaderPaintInfo&, THeaderPaintElements elements) override {
        drawn += elements.Contains(hpeText) ? "text;" : "other;";
    }
};

std::string OwnerDrawnHeader(Session& s) {
    TOwnTextHeaderTree tree;
    tree.SetParent(&s.form);
    tree.SetBounds(0, 0, 100, 80);
    tree.Header().Columns().Add()->SetWidth(60);
    tree.Header().SetOptions(tree.Header().Options() + hoVisible + hoOwnerDraw);
    tree.HandleNeeded();
    ::ShowWindow(tree.Handle(), SW_SHOWNA);
    ::RedrawWindow(tree.Handle(), nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
    return tree.drawn.substr(0, 5);
}

TEST(TreeContract, RepaintsAndScrolls) {
    std::string client = "0,0,R,B";
    RunTable({
        {"images gain a picture", [](Session& s) { return ListChanged(s, &TBaseLazyTree::SetImages); }, client},
        {"state images gain a picture", [](Session& s) { return ListChanged(s, &TBaseLazyTree::SetStateImages); }, client},
        {"custom check images gain a picture",
         [](Session& s) { return ListChanged(s, &TBaseLazyTree::SetCustomCheckImages); }, client},
        {"a column's strip only",
         [](Session& s) {
             TwoColumns(s);
             return RepaintAfter(s, [&] { s.tree.InvalidateColumn(1); });
         },
         "100,0,180,B"},
        {"a row below, content wider than the window, no horizontal bar",
         [](Session& s) {
             for (int i = 0; i < 30; ++i) s.Add(nullptr, std::wstring(60, L'W'));
             ::UpdateWindow(s.tree.Handle());
             s.tree.ScrollBarOptions().SetScrollBars(ssVertical);   // measures the rows shown
             PLazyNode row = NodeByOrder(s.tree, 15);   // room below it to scroll into
             s.tree.ScrollIntoView(row, false);
             RECT r = s.tree.GetDisplayRect(row, ColumnNone, false);
             return std::to_string(s.tree.ClientHeight() - r.bottom);
         },
         std::to_string(::GetSystemMetrics(SM_CYHSCROLL))},
        {"an owner-drawn header asks the descendant's slots", OwnerDrawnHeader, "text;"},
    });
}

} // namespace

namespace {

// A drag from the session's tree: its drag loop ends at once.
std::string DragEnds(Session& s) {
    std::string seen;
    s.tree.OnEndDrag = [&](TBaseLazyTree*, int x, int y) {
        POINT p;
        ::GetCursorPos(&p);
        ::ScreenToClient(s.tree.Handle(), &p);
        seen += "end-drag" + std::string(x == p.x && y == p.y ? " at the cursor" : " elsewhere");
    };
    s.tree.OnDragAllowed = [](TBaseLazyTree*, PLazyNode, TColumnIndex, bool& allowed) { allowed = true; };
    POINT p = s.PointOn(s.Node("Beta"), hpOnItemLabel);
    s.Down(p);
    s.Move(POINT{p.x + s.tree.DragThreshold + 1, p.y});
    s.Up(p);
    return seen;
}

std::string MovedAcross() {
    TTestTree from, to;
    std::string log;
    auto watch = [&](TTestTree& t, const char* name) {
        t.OnStructureChange = [&log, name](TBaseLazyTree*, PLazyNode node, TChangeReason reason) {
            log += std::string(name) + (node ? " node " : " nil ") + std::to_string(int(reason)) + ";";
        };
    };
    PLazyNode source = from.AddChild(nullptr);
    PLazyNode target = to.AddChild(nullptr);
    watch(from, "from");
    watch(to, "to");
    from.MoveTo(source, target, amAddChildLast, false);
    return log + std::to_string(to.RootNode()->TotalCount);
}

std::string HomeEndSeek(Session& s, WORD key) {
    for (int w : {60, 60, 60}) s.tree.Header().Columns().Add()->SetWidth(w);
    auto& o = s.tree.TreeOptions();
    o.SetMiscOptions(o.MiscOptions() + toGridExtensions);
    s.Click("Beta");
    // Neither edge column may take the focus.
    s.tree.OnFocusChanging = [](TBaseLazyTree*, PLazyNode, PLazyNode, TColumnIndex, TColumnIndex c, bool& allowed) {
        allowed = c == 1;
    };
    s.Key(key);
    return std::to_string(s.tree.FocusedColumn());
}

TEST(TreeContract, EventSequences) {
    std::string rc = std::to_string(int(crNodeMoved));
    RunTable({
        {"Home seeks the first column allowed", [](Session& s) { return HomeEndSeek(s, VK_HOME); }, "1"},
        {"End seeks the last column allowed", [](Session& s) { return HomeEndSeek(s, VK_END); }, "1"},
        {"no button held: no release",
         [](Session& s) {
             std::string log;
             s.tree.OnMouseUp = [&](TObject*, TMouseButton b, TShiftState, int, int) { log += "up " + std::to_string(int(b)); };
             s.tree.SimulateMouseUp();
             return log;
         },
         ""},
        {"no steps: still the final call",
         [](Session& s) {
             std::string log;
             s.tree.RunStepAnimation(0, 100, [&](int step, int size, void*) {
                 log += std::to_string(step) + "/" + std::to_string(size);
                 return true;
             }, nullptr);
             return log;
         },
         "0/0"},
        {"a drag fires its end", DragEnds, "end-drag at the cursor"},
        {"a move into another tree", [](Session&) { return MovedAcross(); }, "from nil " + std::to_string(int(crChildDeleted)) + ";from nil " + rc + ";to node " + rc + ";3"},
        {"a tree outside a form takes no focus",
         [](Session& s) {
             TTestTree alone;
             return std::to_string(alone.CanFocus()) + std::to_string(s.tree.CanFocus());
         },
         "01"},
        {"the first auto-scroll step follows the mouse's last move",
         [](Session& s) {
             for (int i = 0; i < 30; ++i) s.Add(nullptr, L"Row");
             DWORD now = 5000;
             s.tree.TickSource = [&] { return now; };
             s.tree.AutoScrollInterval = 600000;
             auto& o = s.tree.TreeOptions();
             o.SetAutoOptions(o.AutoOptions() + toAutoScroll);
             o.SetSelectionOptions(o.SelectionOptions() + toMultiSelect);
             RECT beta = s.tree.GetDisplayRect(s.Node("Beta"), ColumnNone, false);
             s.Down(POINT{200, beta.top + 2});
             s.Move(POINT{30, s.tree.ClientHeight() - 5});
             now += 1000;
             s.Move(POINT{31, s.tree.ClientHeight() - 5});
             // Back in the middle before the timer comes round.
             ::PostMessageA(s.tree.Handle(), WM_MOUSEMOVE, MK_LBUTTON, Session::At(POINT{31, 60}));
             s.Timer(4);
             std::string offset = std::to_string(s.tree.OffsetY());
             s.Up(POINT{31, 60});
             s.tree.TickSource = nullptr;
             return offset;
         },
         "0"},
    });
}

TEST(TreeContract, WindowStylesAndStreams) {
    RunTable({
        {"a single border without 3-D is a plain line",
         [](Session& s) {
             s.tree.SetBorderStyle(TBorderStyle::bsSingle);
             s.tree.SetCtl3D(false);
             LONG style = ::GetWindowLongA(s.tree.Handle(), GWL_STYLE), ex = ::GetWindowLongA(s.tree.Handle(), GWL_EXSTYLE);
             return std::to_string(!!(style & WS_BORDER)) + std::to_string(!!(ex & WS_EX_CLIENTEDGE));
         },
         "10"},
        {"the editor of a right-to-left column reads right to left",
         [](Session& s) {
             TwoColumns(s);
             s.tree.Header().Columns()[0].SetBiDiMode(bdRightToLeft);
             auto& o = s.tree.TreeOptions();
             o.SetMiscOptions(o.MiscOptions() + toEditable);
             s.Click("Beta");
             s.tree.EditNode(s.Node("Beta"), 0);
             HWND edit = ::GetFocus();
             std::string r = std::to_string(!!(::GetWindowLongA(edit, GWL_EXSTYLE) & WS_EX_RTLREADING));
             s.tree.CancelEditNode();
             return r;
         },
         "1"},
        {"a short node count",
         [](Session& s) {
             TMemoryStream bytes;
             s.tree.SaveToStream(bytes);
             bytes.Data().resize(14);
             bytes.SetPosition(0);
             try {
                 s.tree.LoadFromStream(bytes);
             } catch (const EReadError&) {
                 return std::string("read error");
             } catch (const std::exception& e) {
                 return std::string(e.what());
             }
             return std::string("loaded");
         },
         "read error"},
    });
}

} // namespace
