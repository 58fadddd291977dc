// Tables of what the tree answers and fires: repaints and scrolling, event
// sequences, window styles and streams, and the draw tree.
#include "SessionSupport.h"
#include "framework/Stream.h"
#include "tree/paint/LazyTreeDrawing.h"
#include "tree/paint/LazyTreeHint.h"
#include "tree/string/LazyDrawTree.h"
#include "tree/transfer/LazyTreeDragImage.h"

using namespace krv;
using namespace krv::test;

namespace {

using S = std::string;
S Str(long v) { return std::to_string(v); }
struct Case { const char* name; std::function<S(Session&)> run; S expected; };
void RunTable(const std::vector<Case>& table) {
    for (const Case& c : table) {
        Session s;
        for (const wchar_t* name : {L"Alpha", L"Beta", L"Cherry"}) s.Add(nullptr, name);
        EXPECT_EQ(c.run(s), c.expected) << c.name;
    }
}
void Columns(TBaseLazyTree& t, std::initializer_list<int> widths) {
    for (int w : widths) t.Header().Columns().Add()->SetWidth(w);
    t.Header().SetOptions(t.Header().Options() + hoVisible);
}
void Redraw(TBaseLazyTree& t) { ::RedrawWindow(t.Handle(), nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW); }

// What is left to repaint after the action; R and B: the client's right and bottom.
S RepaintAfter(Session& s, const std::function<void()>& action) {
    ::UpdateWindow(s.tree.Handle());
    ::ValidateRect(s.tree.Handle(), nullptr);
    action();
    RECT r{};
    ::GetUpdateRect(s.tree.Handle(), &r, FALSE);
    return Str(r.left) + (r.right == s.tree.ClientWidth() ? ",R" : "," + Str(r.right)) + (r.bottom == s.tree.ClientHeight() ? ",B;" : ";");
}
struct TOwnTextHeaderTree : TTestTree {   // draws the header's text itself, no event assigned
    S drawn;
    void DoHeaderDrawQueryElements(THeaderPaintInfo&, THeaderPaintElements& e) override { e = {hpeText}; }
    void DoAdvancedHeaderDraw(THeaderPaintInfo&, THeaderPaintElements e) override { drawn += e.Contains(hpeText) ? "t" : "?"; }
};
void Show(TBaseLazyTree& t, Session& s) {
    t.SetParent(&s.form);
    t.SetBounds(0, 0, 200, 150);
    ::ShowWindow(t.Handle(), SW_SHOWNA);
}

TEST(TreeContract, RepaintsAndScrolls) {
    RunTable({
        {"image lists gain a picture", [](Session& s) {
             S r;
             for (auto set : {&TBaseLazyTree::SetImages, &TBaseLazyTree::SetStateImages, &TBaseLazyTree::SetCustomCheckImages}) {
                 TImageList list(nullptr, 16, 16);
                 (s.tree.*set)(&list);
                 r += RepaintAfter(s, [&] { list.AddPainted([](TCanvas&) {}); });
             }
             return r;
         }, "0,R,B;0,R,B;0,R,B;"},
        {"a column's strip", [](Session& s) { Columns(s.tree, {100, 80}); return RepaintAfter(s, [&] { s.tree.InvalidateColumn(1); }); }, "100,180,B;"},
        {"a row below, wide content, no horizontal bar", [](Session& s) {
             for (int i = 0; i < 30; ++i) s.Add(nullptr, std::wstring(60, L'W'));
             ::UpdateWindow(s.tree.Handle());
             s.tree.ScrollBarOptions().SetScrollBars(ssVertical);   // measures the rows shown
             s.tree.ScrollIntoView(NodeByOrder(s.tree, 15), false);
             return Str(s.tree.ClientHeight() - s.tree.GetDisplayRect(NodeByOrder(s.tree, 15), ColumnNone, false).bottom);
         }, Str(::GetSystemMetrics(SM_CYHSCROLL))},
        {"owner draw asks the slots", [](Session& s) {
             TOwnTextHeaderTree t;
             Columns(t, {60});
             t.Header().SetOptions(t.Header().Options() + hoOwnerDraw);
             Show(t, s);
             Redraw(t);
             return t.drawn.substr(0, 1);
         }, "t"},
        {"a drag picture over a repainted header puts back the new paint", [](Session& s) {
             Columns(s.tree, {100, 80});
             POINT at{200, 2 - int(s.tree.Header().Height())};
             ::ClientToScreen(s.tree.Handle(), &at);
             BitmapHandle picture = CreateDib32(20, 8);
             TLTDragImage& drag = s.tree.DragImage();
             drag.BeginImageDrag(picture.get(), at, at, nullptr);
             drag.ShowImage();
             s.tree.Header().SetBackground(TColor(0xFF0000));
             Redraw(s.tree);
             drag.RefreshSavedBackground(&s.tree, RECT{}, nullptr, true, false);
             drag.EndImageDrag();
             return Str(long(::GetPixel(WindowDC(nullptr).get(), at.x + 3, at.y + 3)));
         }, Str(0xFF0000)},
    });
}

struct TDragTree : TTestTree {   // its drag loop ends at once
    using TBaseLazyTree::StartOleDrag;
    HRESULT RunDragLoop(IDataObject*, IDropSource*, DWORD, DWORD& effect) override { effect = 0; return DRAGDROP_S_CANCEL; }
};

TEST(TreeContract, EventSequences) {
    RunTable({
        {"Home and End seek the allowed column", [](Session& s) {
             Columns(s.tree, {60, 60, 60});
             s.tree.TreeOptions().SetMiscOptions(s.tree.TreeOptions().MiscOptions() + toGridExtensions);
             s.Click("Beta");
             s.tree.OnFocusChanging = [](TBaseLazyTree*, PLazyNode, PLazyNode, TColumnIndex, TColumnIndex c, bool& ok) { ok = c == 1; };
             s.Key(VK_HOME);
             S r = Str(s.tree.FocusedColumn());
             s.tree.SetFocusedColumn(0);
             s.Key(VK_END);
             return r + Str(s.tree.FocusedColumn());
         }, "11"},
        {"no button held, no release; no steps, still the final call", [](Session& s) {
             S log;
             s.tree.OnMouseUp = [&](TObject*, TMouseButton, TShiftState, int, int) { log += "up;"; };
             s.tree.SimulateMouseUp();
             s.tree.RunStepAnimation(0, 100, [&](int step, int size, void*) { log += Str(step) + "/" + Str(size); return true; }, nullptr);
             return log;
         }, "0/0"},
        {"a drag fires its end", [](Session&) {
             TDragTree t;
             S log;
             t.OnEndDrag = [&](TBaseLazyTree*, int, int) { log += "end"; };
             t.StartOleDrag(POINT{});
             return log;
         }, "end"},
        {"a move into another tree", [](Session&) {
             TTestTree from, to;
             PLazyNode source = from.AddChild(nullptr), target = to.AddChild(nullptr);
             S log;
             for (auto [t, name] : {std::pair{&from, "from"}, std::pair{&to, "to"}})
                 t->OnStructureChange = [&log, name](TBaseLazyTree*, PLazyNode n, TChangeReason r) { log += S(name) + (n ? "+" : "-") + Str(r) + ";"; };
             from.MoveTo(source, target, amAddChildLast, false);
             return log;
         }, "from-" + Str(crChildDeleted) + ";from-" + Str(crNodeMoved) + ";to+" + Str(crNodeMoved) + ";"},
        {"no form, no focus", [](Session& s) { TTestTree alone; return Str(alone.CanFocus()) + Str(s.tree.CanFocus()); }, "01"},
        {"the first auto-scroll step sees the queued move", [](Session& s) {
             for (int i = 0; i < 30; ++i) s.Add(nullptr, L"Row");
             DWORD now = 5000;
             s.tree.TickSource = [&] { return now; };
             s.tree.AutoScrollInterval = 600000;   // the timer is driven by hand
             s.tree.TreeOptions().SetAutoOptions(s.tree.TreeOptions().AutoOptions() + toAutoScroll);
             s.tree.TreeOptions().SetSelectionOptions(s.tree.TreeOptions().SelectionOptions() + toMultiSelect);
             s.Down(POINT{200, 20});   // a selection frame starts
             s.Move(POINT{30, s.tree.ClientHeight() - 5});
             now += 1000;
             s.Move(POINT{31, s.tree.ClientHeight() - 5});   // scroll pending
             ::PostMessageA(s.tree.Handle(), WM_MOUSEMOVE, MK_LBUTTON, Session::At(POINT{31, 60}));
             s.Timer(4);
             s.Up(POINT{31, 60});
             s.tree.TickSource = nullptr;
             return Str(s.tree.OffsetY()) + Str(s.tree.TreeStates().Contains(tsScrolling));
         }, "00"},
        {"a single border without 3-D", [](Session& s) {
             s.tree.SetBorderStyle(TBorderStyle::bsSingle);
             s.tree.SetCtl3D(false);
             return Str(!!(::GetWindowLongA(s.tree.Handle(), GWL_STYLE) & WS_BORDER)) + Str(!!(::GetWindowLongA(s.tree.Handle(), GWL_EXSTYLE) & WS_EX_CLIENTEDGE));
         }, "10"},
        {"the editor of a right-to-left column", [](Session& s) {
             Columns(s.tree, {100, 80});
             s.tree.Header().Columns()[0].SetBiDiMode(bdRightToLeft);
             s.tree.TreeOptions().SetMiscOptions(s.tree.TreeOptions().MiscOptions() + toEditable);
             s.Click("Beta");
             s.tree.EditNode(s.Node("Beta"), 0);
             S r = Str(!!(::GetWindowLongA(::GetFocus(), GWL_EXSTYLE) & WS_EX_RTLREADING));
             s.tree.CancelEditNode();
             return r;
         }, "1"},
        {"a short node count", [](Session& s) {
             TMemoryStream bytes;
             s.tree.SaveToStream(bytes);
             bytes.Data().resize(14);
             bytes.SetPosition(0);
             try { s.tree.LoadFromStream(bytes); } catch (const EReadError&) { return S("read error"); } catch (const std::exception& e) { return S(e.what()); }
             return S("loaded");
         }, "read error"},
    });
}

// A draw tree of three rows whose owner sizes the hint of row 1 only: the hint
// over row 0 and row 1 (the window's size), the rows drawn and the widths.
TEST(TreeContract, DrawTree) {
    RunTable({{"the owner draws, measures and hints", [](Session& s) {
        struct TOpenDrawTree : TLazyDrawTree { using TLazyDrawTree::DoGetNodeWidth; } t;
        S log;
        t.SetRootNodeCount(3);
        t.ShowHint = true;
        t.HintMode = hmHint;
        t.HintAnimation = hatNone;
        t.OnGetHintSize = [](TBaseLazyTree*, PLazyNode n, TColumnIndex, RECT& r) { if (n->Index == 1) r = RECT{0, 0, 50, 20}; };
        t.OnDrawHint = [&](TBaseLazyTree*, TCanvas&, PLazyNode n, RECT r, TColumnIndex) { log += "hint" + Str(n->Index) + "=" + Str(r.right) + ";"; };
        Show(t, s);
        for (unsigned row : {0u, 1u}) {
            THintInfo info;
            info.CursorPos = POINT{5, int(row) * t.DefaultNodeHeight() + 2};
            if (t.CMHintShow(info) != 0) continue;
            TLazyTreeHintWindow window;
            RECT r = window.CalcHintRect(1000, info.HintStr, info.HintData);
            window.ActivateHintData(RECT{10, 10, 10 + r.right, 10 + r.bottom}, info.HintStr, info.HintData);
            ::UpdateWindow(window.Handle());
            log += Str(r.right) + "x" + Str(r.bottom) + ";";
        }
        t.OnDrawNode = [&](TBaseLazyTree*, const TLTPaintInfo& info) { log += "draw" + Str(info.Node->Index) + ";"; };
        RenderTree(t, 200, 60);
        log += Str(t.DoGetNodeWidth(t.GetFirst(), -1, nullptr));
        t.OnGetNodeWidth = [](TBaseLazyTree*, TCanvas&, PLazyNode, TColumnIndex, int& w) { w += 30; };
        return log + "," + Str(t.DoGetNodeWidth(t.GetFirst(), -1, nullptr));
    }, "hint1=50;50x20;draw0;draw1;draw2;8,38"}});
}

} // namespace
