// The tree window's messages as a user or another program sends them: the
// context menu's point, clicks on columns in the body, header hints brought
// by non-client mouse moves, hints that die with their node or tree, forged
// tree references, the clipboard and print messages, the wheel, F1, colour
// changes, and the selection frame over spanned columns.
#include "SessionSupport.h"
#include "common/FreedMemoryTrap.h"
#include "framework/Menus.h"
#include "tree/paint/LazyTreeDrawing.h"
#include "tree/core/LazyTreeGlobals.h"
#include "tree/paint/LazyTreeHint.h"
#include <algorithm>

namespace krv::test {
namespace {

// A tree with three rows and, when asked, three columns (100, 60, 80) under a visible header.
struct Columns : Session {
    explicit Columns(bool columns = true) : Session(300, 160) {
        if (columns) {
            TLTHeader& h = tree.Header();
            for (int w : {100, 60, 80}) h.Columns().Add()->SetWidth(w);
            h.SetOptions(h.Options() + hoVisible);
        }
        for (const wchar_t* name : {L"Alpha", L"Beta", L"Gamma"}) Add(nullptr, name);
        ::SetActiveWindow(form.Handle());
        Take();
    }
    POINT RowAt(const std::string& name, int x) {
        RECT r = tree.GetDisplayRect(Node(name), ColumnNone, false);
        return POINT{x, (r.top + r.bottom) / 2};
    }
    LPARAM ScreenAt(POINT p) {
        ::ClientToScreen(tree.Handle(), &p);
        return MAKELPARAM(p.x, p.y);
    }
};

// Dispatches messages until pred holds or about two seconds passed.
template <class Pred> bool PumpFor(Pred pred) {
    for (int i = 0; i < 200 && !pred(); ++i) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        ProcessMessages();
    }
    return pred();
}

// ---- context menu ----------------------------------------------------------------------------------

TEST(TreeContextMenu, TheNodeMenuGetsClientPointsAndTheTreesOwnMenuComesOtherwise) {
    Columns s(false);
    PLazyNode beta = s.Node("Beta");
    s.tree.SetFocusedNode(beta);
    std::vector<POINT> asked;
    TPopupMenu nodeMenu, ownMenu;
    int nodeShown = 0, ownShown = 0;
    nodeMenu.Items().OnClick = [&](TObject*) { ++nodeShown; };
    ownMenu.Items().OnClick = [&](TObject*) { ++ownShown; };
    bool give = true;
    s.tree.OnGetPopupMenu = [&](TBaseLazyTree*, PLazyNode node, TColumnIndex, POINT p, bool&, TPopupMenu*& menu) {
        if (node == beta) asked.push_back(p);
        if (give) menu = &nodeMenu;
    };
    // A right click sends the point in screen coordinates: the handler gets it in the tree's.
    POINT click{30, 25};
    s.Send(WM_CONTEXTMENU, WPARAM(s.tree.Handle()), s.ScreenAt(click));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].x, click.x);
    EXPECT_EQ(asked[0].y, click.y);
    EXPECT_EQ(nodeShown, 1);

    // From the keyboard: below the focused node's text; the Apps key: inside it.
    RECT text = s.tree.GetDisplayRect(beta, ColumnNone, true);
    asked.clear();
    s.Send(WM_CONTEXTMENU, WPARAM(s.tree.Handle()), MAKELPARAM(-1, -1));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].x, text.left);
    EXPECT_EQ(asked[0].y, text.bottom);
    asked.clear();
    s.Key(VK_APPS);
    ASSERT_EQ(asked.size(), 1u);   // once, though the key's release asks for a context menu too
    EXPECT_TRUE(::PtInRect(&text, asked[0])) << asked[0].x << "," << asked[0].y;

    // No menu for the node: the tree's own shows.
    give = false;
    s.tree.SetPopupMenu(&ownMenu);
    int before = nodeShown;
    s.Send(WM_CONTEXTMENU, WPARAM(s.tree.Handle()), s.ScreenAt(click));
    EXPECT_EQ(ownShown, 1);
    EXPECT_EQ(nodeShown, before);
    s.tree.SetPopupMenu(nullptr);
}

// Keys queued before a menu opens are read by its loop; the chosen item fires
// once the menu has closed, whoever showed it; a submenu's item fires as it
// opens, and the tree hears of each opening menu after that. An item that
// frees the tree (under the freed-memory trap) is followed by nothing on it.
TEST(TreeContextMenu, TheChosenItemOfTheTreeOrHeaderMenuFires) {
    enum TShow { byClick, byAppsKey, byHeader };
    const std::tuple<TShow, std::vector<WPARAM>, std::vector<std::string>, bool> rows[] = {
        {byClick, {VK_DOWN, VK_DOWN, VK_RETURN}, {"shown", "menu opens", "Save"}, false},
        {byAppsKey, {VK_DOWN, VK_RETURN}, {"shown", "menu opens", "Open"}, false},
        {byHeader, {VK_DOWN, VK_DOWN, VK_RETURN}, {"shown", "menu opens", "Save"}, false},
        {byClick, {VK_UP, VK_RIGHT, VK_RETURN}, {"shown", "menu opens", "More", "More opens", "Deep"}, false},
        {byAppsKey, {VK_DOWN, VK_DOWN, VK_RETURN}, {"shown", "menu opens", "Save"}, true},
        {byHeader, {VK_DOWN, VK_RETURN}, {"shown", "menu opens", "Open"}, true},
        {byHeader, {VK_UP, VK_RIGHT, VK_RETURN}, {"shown", "menu opens", "More", "Deep"}, true},
    };
    for (const auto& [show, keys, want, frees] : rows) {
        TFreedMemoryTrap trap;
        Columns s;
        TPopupMenu menu;
        std::vector<std::string> fired;
        TMenuItem* parent = &menu.Items();
        for (const char* name : {"Open", "Save", "More", "Deep"}) {
            auto* item = new TMenuItem(&menu);
            item->SetCaption(name);
            item->OnClick = [&, name](TObject*) {
                fired.push_back(name);
                if (frees) s.held.reset();
            };
            parent->Add(item);
            if (item->Caption() == "More") parent = item;
        }
        s.tree.SetPopupMenu(&menu);
        s.tree.Header().SetPopupMenu(&menu);
        s.tree.SetFocusedNode(s.Node("Beta"));
        menu.Items().OnClick = [&](TObject*) { fired.push_back("shown"); };
        menu.Items().SetCaption("menu");
        s.tree.menuOpens = [&](HMENU m) { fired.push_back(menu.Items().FindPopup(m)->Caption() + " opens"); };
        for (WPARAM key : keys) ::PostThreadMessageA(::GetCurrentThreadId(), WM_KEYDOWN, key, 0);
        if (show == byClick) s.Send(WM_CONTEXTMENU, WPARAM(s.tree.Handle()), s.ScreenAt({30, 25}));
        if (show == byAppsKey) s.Key(VK_APPS);
        if (show == byHeader) s.Send(WM_NCRBUTTONUP, HTBORDER, s.ScreenAt({50, -8}));
        EXPECT_EQ(fired, want) << keys.size();
        if (frees) EXPECT_FALSE(s.held);
        else EXPECT_EQ(menu.PopupComponent, &s.tree);
    }
}

// ---- columns clicked in the body -----------------------------------------------------------------------

TEST(TreeColumnClick, ABodyClickIsAClickOnItsColumnAndADoubleClickFiresOnce) {
    Columns s;
    std::vector<std::string> log;
    s.tree.OnColumnClick = [&](TBaseLazyTree*, TColumnIndex c, unsigned) { log.push_back("click " + std::to_string(c)); };
    s.tree.OnColumnDblClick = [&](TBaseLazyTree*, TColumnIndex c, unsigned) {
        log.push_back("dblclick " + std::to_string(c));
    };
    auto take = [&] { return std::exchange(log, {}); };
    using Log = std::vector<std::string>;
    POINT inSecond = s.RowAt("Alpha", 130), inThird = s.RowAt("Beta", 200);
    s.Click(inSecond);
    EXPECT_EQ(take(), (Log{"click 1"}));
    // Pressed in one column, released in another: no click.
    s.Down(inSecond);
    s.Up(inThird);
    EXPECT_EQ(take(), Log{});
    s.DoubleClick(inThird);
    EXPECT_EQ(take(), (Log{"click 2", "dblclick 2"}));
    // Right button too.
    s.Send(WM_RBUTTONDOWN, MK_RBUTTON, Session::At(inSecond));
    s.Send(WM_RBUTTONUP, 0, Session::At(inSecond));
    EXPECT_EQ(take(), (Log{"click 1"}));
}

// ---- hints ---------------------------------------------------------------------------------------------

// A string tree of its own (so it can be destroyed) with node hints switched on.
std::unique_ptr<TLazyStringTree> HintedTree() {
    auto t = std::make_unique<TLazyStringTree>();
    t->SetParent(&SessionForm());
    t->SetBounds(0, 0, 200, 150);
    t->ShowHint = true;
    t->HintMode = hmHint;
    t->HintAnimation = hatNone;
    t->OnGetText = [](TBaseLazyTree*, PLazyNode n, TColumnIndex, TLSTTextType, std::wstring& text) {
        text = L"node " + std::to_wstring(n->Index);
    };
    t->OnGetHint = [](TBaseLazyTree*, PLazyNode n, TColumnIndex, TLSTTextType, std::wstring& hint) {
        hint = L"hint " + std::to_wstring(n->Index);
    };
    t->SetRootNodeCount(3);
    SessionForm().Show();
    t->HandleNeeded();
    ::ShowWindow(t->Handle(), SW_SHOWNA);
    ::SetActiveWindow(SessionForm().Handle());
    return t;
}

bool ShowHintOver(TLazyStringTree& t, PLazyNode node) {
    RECT r = t.GetDisplayRect(node, ColumnNone, true);
    POINT p{r.left + 2, (r.top + r.bottom) / 2};
    return HintManager().ShowHintAt(&t, t.Handle(), p, [&t](THintInfo& info) { return t.CMHintShow(info); });
}

TEST(TreeHintLife, AShownHintGoesWithItsNodeAndAnyHintWithItsTree) {
    auto tree = HintedTree();
    PLazyNode second = tree->GetNext(tree->GetFirst());
    ASSERT_TRUE(ShowHintOver(*tree, second));
    auto* window = dynamic_cast<TLazyTreeHintWindow*>(HintManager().HintWindow());
    ASSERT_TRUE(window);
    EXPECT_EQ(window->HintData().HintText, L"hint 1");
    // Another node going leaves the hint up; its own node going takes it away.
    tree->DeleteNode(tree->GetLast());
    EXPECT_NE(HintManager().HintWindow(), nullptr);
    tree->DeleteNode(second);
    EXPECT_EQ(HintManager().HintWindow(), nullptr);

    // Shown, then the tree goes: nothing is left that points at it.
    ASSERT_TRUE(ShowHintOver(*tree, tree->GetFirst()));
    tree.reset();
    EXPECT_EQ(HintManager().HintWindow(), nullptr);
    EXPECT_EQ(HintManager().HintControl(), nullptr);

    // Pending (the pause still running), then the tree goes: the timer asks no dead tree.
    tree = HintedTree();
    ::SendMessageW(tree->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(10, 5));
    EXPECT_EQ(HintManager().HintControl(), tree.get());
    tree.reset();
    EXPECT_EQ(HintManager().HintControl(), nullptr);
}

TEST(TreeHintLife, HeaderHintsComeFromNonClientMovesWithoutAPause) {
    Columns s;
    TLTHeader& h = s.tree.Header();
    h.Columns()[1].SetHint(L"second column");
    h.SetOptions(h.Options() + hoShowHint);
    s.tree.ShowHint = true;
    s.tree.HintAnimation = hatNone;
    // A pause longer than the test: only the header's own (none) lets the hint come.
    unsigned pause = HintManager().HintPause;
    HintManager().HintPause = 600000;
    POINT over{130, -5}, screen = over, before{};
    ::ClientToScreen(s.tree.Handle(), &screen);
    ::GetCursorPos(&before);
    ::SetCursorPos(screen.x, screen.y);
    s.Send(WM_NCMOUSEMOVE, HTBORDER, MAKELPARAM(screen.x, screen.y));
    EXPECT_TRUE(PumpFor([] { return HintManager().HintWindow() != nullptr; }));
    auto* window = dynamic_cast<TLazyTreeHintWindow*>(HintManager().HintWindow());
    ASSERT_TRUE(window);
    EXPECT_EQ(window->HintData().HintText, L"second column");
    EXPECT_EQ(s.tree.HintShowPause(over), 0);
    EXPECT_EQ(s.tree.HintShowPause(s.RowAt("Alpha", 20)), -1);   // the body keeps the usual pause
    s.tree.HintMode = hmTooltip;
    EXPECT_EQ(s.tree.HintShowPause(s.RowAt("Alpha", 20)), 0);   // but not for tooltips
    HintManager().CancelHint();
    HintManager().HintPause = pause;
    ::SetCursorPos(before.x, before.y);
}

// ---- references from data objects ----------------------------------------------------------------------

// A data object that answers the tree reference format with whatever it was given.
class TForgedReference : public IDataObject {
public:
    TForgedReference(uint32_t process, uint32_t tree) : process_(process), tree_(tree) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid != IID_IUnknown && iid != IID_IDataObject) return E_NOINTERFACE;
        *out = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
        if (format->cfFormat != InitializeGlobalStructures().ReferenceFormat) return DV_E_FORMATETC;
        uint32_t payload[2] = {process_, tree_};
        *medium = STGMEDIUM{};
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = GlobalFromBytes(payload, sizeof payload);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
private:
    uint32_t process_, tree_;
};

TEST(TreeReference, OnlyALiveTreeOfThisProcessIsNamed) {
    TTestTree live;
    auto gone = std::make_unique<TTestTree>();
    uint32_t goneAddress = uint32_t(reinterpret_cast<uintptr_t>(gone.get()));
    gone.reset();
    uint32_t self = ::GetCurrentProcessId();
    uint32_t liveAddress = uint32_t(reinterpret_cast<uintptr_t>(static_cast<TBaseLazyTree*>(&live)));
    struct Case { uint32_t process, tree; bool named; const char* what; } cases[] = {
        {self, liveAddress, true, "a live tree"},
        {self + 4, liveAddress, false, "another process"},
        {self, 0x12345678, false, "a wild pointer"},
        {self, liveAddress + 4, false, "inside a tree"},
        {self, goneAddress, false, "a destroyed tree"},
        {self, 0, false, "nil"},
    };
    for (const Case& c : cases) {
        TForgedReference data(c.process, c.tree);
        TBaseLazyTree* found = TBaseLazyTree::GetTreeFromDataObject(&data);
        EXPECT_EQ(found, c.named ? static_cast<TBaseLazyTree*>(&live) : nullptr) << c.what;
    }
}

// ---- other messages ------------------------------------------------------------------------------------

TEST(TreeMessages, ClipboardMessagesCopyCutAndPaste) {
    Columns s(false);
    s.tree.AddToSelection(s.Node("Alpha"));
    s.Send(WM_COPY);
    EXPECT_TRUE(s.tree.TreeStates().Contains(tsCopyPending));
    s.Send(WM_CUT);
    EXPECT_TRUE(s.tree.TreeStates().Contains(tsCutPending));
    s.tree.ClearSelection();
    s.tree.SetFocusedNode(s.Node("Gamma"));
    s.Send(WM_PASTE);   // the cut node moves under Gamma
    EXPECT_EQ(s.tree.TotalCount(), 3u);
    EXPECT_EQ(s.Node("Alpha")->Parent, s.Node("Gamma"));
    EXPECT_TREE_CONSISTENT(s.tree);
}

TEST(TreeMessages, TabsOnlyWhenWantedAndTheGeneralWheelHandlingFirst) {
    Columns s(false);
    EXPECT_EQ(s.Send(WM_GETDLGCODE) & DLGC_WANTTAB, 0);
    s.tree.WantTabs = true;
    EXPECT_NE(s.Send(WM_GETDLGCODE) & DLGC_WANTTAB, 0);
    EXPECT_NE(s.Send(WM_GETDLGCODE) & DLGC_WANTARROWS, 0);

    for (int i = 0; i < 30; ++i) s.Add(nullptr, L"Row " + std::to_wstring(i));
    int wheelTurns = 0;
    bool take = true;
    s.tree.OnMouseWheel = [&](TObject*, TShiftState, int delta, POINT, bool& handled) {
        wheelTurns += delta / WHEEL_DELTA;
        handled = take;
    };
    s.Send(WM_MOUSEWHEEL, MAKEWPARAM(0, WORD(-WHEEL_DELTA)), 0);
    EXPECT_EQ(wheelTurns, -1);
    EXPECT_EQ(s.tree.OffsetY(), 0);   // taken by the handler
    take = false;
    s.Send(WM_MOUSEWHEEL, MAKEWPARAM(0, WORD(-WHEEL_DELTA)), 0);
    EXPECT_EQ(wheelTurns, -2);
    EXPECT_LT(s.tree.OffsetY(), 0);   // left to the tree
}

TEST(TreeMessages, F1ShowsTheNearestHelpContext) {
    Columns s(false);
    PLazyNode child = s.Add(s.Node("Beta"), L"Child");
    s.tree.SetExpanded(s.Node("Beta"), true);
    s.tree.SetFocusedNode(child);
    std::vector<int> shown;
    Application().OnHelp = [&](int context) {
        shown.push_back(context);
        return true;
    };
    std::map<PLazyNode, int> contexts;
    s.Key(VK_F1);   // without the event F1 does nothing
    s.tree.OnGetHelpContext = [&](TBaseLazyTree*, PLazyNode node, TColumnIndex, int& context) {
        context = contexts[node];
    };
    contexts[s.Node("Beta")] = 42;
    s.Key(VK_F1);   // the child has none: its parent's
    contexts[child] = 7;
    s.Key(VK_F1);
    contexts.clear();
    s.tree.HelpContext = 0;
    s.form.HelpContext = 99;
    s.Key(VK_F1);   // no node has one: the form's
    s.form.HelpContext = 0;
    s.Key(VK_F1);   // none anywhere: nothing shown
    Application().OnHelp = nullptr;
    EXPECT_EQ(shown, (std::vector<int>{42, 7, 99}));
}

TEST(TreeMessages, SimulatedReleaseEndsTheButtonHeld) {
    Columns s(false);
    s.Down(s.RowAt("Alpha", 5));
    ASSERT_TRUE(s.tree.TreeStates().Contains(tsLeftButtonDown));
    s.tree.SimulateMouseUp();
    EXPECT_FALSE(s.tree.TreeStates().Contains(tsLeftButtonDown));
    s.Send(WM_RBUTTONDOWN, MK_RBUTTON, Session::At(s.RowAt("Beta", 5)));
    ASSERT_TRUE(s.tree.TreeStates().Contains(tsRightButtonDown));
    s.tree.SimulateMouseUp();
    EXPECT_FALSE(s.tree.TreeStates().Contains(tsRightButtonDown));
}

// The check images carry the system's window colour; a colour scheme change reloads them.
TEST(TreeMessages, SystemColourChangeReloadsTheCheckImages) {
    struct RestoreColour {
        COLORREF old = ::GetSysColor(COLOR_WINDOW);
        ~RestoreColour() {
            INT element = COLOR_WINDOW;
            ::SetSysColors(1, &element, &old);
            RebuildCheckImageLists();
        }
    } restore;
    auto face = [] {
        TImage image = Capture(16, 16, [](HDC dc) { CheckImageList(ckLightCheck)->Draw(dc, 0, 0, 9); });
        return image.Pixels[8 * 16 + 8];
    };
    Columns s(false);
    uint32_t before = face();
    COLORREF scheme = RGB(10, 200, 30);
    INT element = COLOR_WINDOW;
    ASSERT_TRUE(::SetSysColors(1, &element, &scheme));
    // The system tells the form; the form tells the tree on it.
    ::SendMessageA(s.form.Handle(), WM_SYSCOLORCHANGE, 0, 0);
    EXPECT_EQ(face(), 0x0AC81Eu) << std::hex << before;
}

TEST(TreeMessages, ANewTreeColourRedrawsTheNodeButtons) {
    Columns s(false);
    s.Add(s.Node("Alpha"), L"Child");   // Alpha shows a button filled with the tree's colour
    s.tree.SetColor(clRed);
    TImage image = RenderTree(s.tree, 120, 60);
    // Nothing of the old white window colour is left, the inside of the button included.
    EXPECT_EQ(std::count(image.Pixels.begin(), image.Pixels.end(), 0xFFFFFFu), 0);
}

TEST(TreeMessages, PrintDrawsTheHeaderAndTheClient) {
    Columns s;
    const int height = int(s.tree.Header().Height());
    TImage printed = Capture(300, 160, [&](HDC dc) { s.Send(WM_PRINT, WPARAM(dc), PRF_CLIENT | PRF_NONCLIENT); });
    TImage client = RenderTree(s.tree, 300, 160 - height);
    for (int y = 0; y < 160 - height; ++y)
        ASSERT_TRUE(std::equal(client.Pixels.begin() + y * 300, client.Pixels.begin() + (y + 1) * 300,
                               printed.Pixels.begin() + (y + height) * 300))
            << "client row " << y;
    // The header above it is drawn: not the capture's black background.
    EXPECT_NE(printed.Pixels[size_t(height / 2) * 300 + 50], 0u);
}

// ---- the frame over spanned columns --------------------------------------------------------------------

TEST(TreeFrame, ASpanningTextIsCaughtBesideItsOwnColumn) {
    for (bool span : {false, true}) {
        Columns s;
        s.tree.OnGetText = [&s](TBaseLazyTree*, PLazyNode node, TColumnIndex column, TLSTTextType, std::wstring& text) {
            text = column == 0 && s.Name(node) == "Alpha" ? L"Alpha with a text far wider than its column" : L"";
            if (column == 0 && s.Name(node) != "Alpha") text = std::wstring(s.texts[node]);
        };
        auto& o = s.tree.TreeOptions();
        o.SetSelectionOptions(o.SelectionOptions() + toMultiSelect);
        o.SetAutoOptions(span ? o.AutoOptions() + toAutoSpanColumns : o.AutoOptions() - toAutoSpanColumns);
        // From below the rows up into Alpha's row, wholly right of the first column.
        POINT below{120, 100}, alpha = s.RowAt("Alpha", 126);
        s.Down(below);
        s.Move(alpha);
        s.Up(alpha);
        EXPECT_EQ(s.tree.Selected(s.Node("Alpha")), span) << (span ? "spanning" : "not spanning");
        EXPECT_FALSE(s.tree.Selected(s.Node("Beta")));   // its short text ends in its column
    }
}

// ---- properties ------------------------------------------------------------------------------------------

TEST(TreeProperties, RemovedMenusAndImagesAreForgotten) {
    TTestTree tree;
    auto* treeMenu = new TPopupMenu;
    auto* headerMenu = new TPopupMenu;
    auto* headerImages = new TImageList;
    tree.SetPopupMenu(treeMenu);
    tree.Header().SetPopupMenu(headerMenu);
    tree.Header().SetImages(headerImages);
    delete treeMenu;
    delete headerMenu;
    delete headerImages;
    EXPECT_EQ(tree.PopupMenu(), nullptr);
    EXPECT_EQ(tree.Header().PopupMenu(), nullptr);
    EXPECT_EQ(tree.Header().Images(), nullptr);
}

TEST(TreeProperties, AssignCopiesThePublishedProperties) {
    TTestTree source, target;
    TPopupMenu menu;
    source.SetIndent(31);
    source.SetMargin(7);
    source.SetDefaultNodeHeight(22);
    source.SetLineStyle(lsSolid);
    source.HintMode = hmTooltip;
    source.AutoExpandDelay = 250;
    source.SetIncrementalSearch(isAll);
    source.SetPopupMenu(&menu);
    auto& o = source.TreeOptions();
    o.SetSelectionOptions(o.SelectionOptions() + toMultiSelect);
    o.SetPaintOptions(o.PaintOptions() - toShowTreeLines);
    source.Header().Columns().Add()->SetWidth(70);
    source.Header().Columns().Add()->SetWidth(90);
    target.Assign(source);
    EXPECT_EQ(target.Indent(), 31u);
    EXPECT_EQ(target.Margin(), 7);
    EXPECT_EQ(target.DefaultNodeHeight(), 22);
    EXPECT_EQ(target.LineStyle(), lsSolid);
    EXPECT_EQ(target.HintMode, hmTooltip);
    EXPECT_EQ(target.AutoExpandDelay, 250u);
    EXPECT_EQ(target.IncrementalSearch(), isAll);
    EXPECT_EQ(target.PopupMenu(), &menu);
    EXPECT_TRUE(target.TreeOptions().SelectionOptions().Contains(toMultiSelect));
    EXPECT_FALSE(target.TreeOptions().PaintOptions().Contains(toShowTreeLines));
    ASSERT_EQ(target.Header().Columns().Count(), 2);
    EXPECT_EQ(target.Header().Columns()[1].Width(), 90);
    target.SetPopupMenu(nullptr);
    source.SetPopupMenu(nullptr);
}

TEST(TreeProperties, HeaderFontPitchRoundTripsInTheStream) {
    for (TFontPitch pitch : {fpDefault, fpVariable, fpFixed}) {
        TTestTree source, target;
        source.Header().Columns().Add();
        TFont font = source.Header().Font();
        font.SetName("Courier New");
        font.SetPitch(pitch);
        source.Header().SetFont(font);
        TMemoryStream stream;
        source.Header().SaveToStream(stream);
        stream.SetPosition(0);
        target.Header().LoadFromStream(stream);
        EXPECT_EQ(target.Header().Font().Pitch(), pitch);
        EXPECT_EQ(target.Header().Font().Name(), "Courier New");
    }
}

// ---- pan cursors ---------------------------------------------------------------------------------------

// The mask and colour bits of a cursor, to tell two pictures apart.
std::vector<uint8_t> CursorBits(HCURSOR cursor) {
    ICONINFO info{};
    if (!::GetIconInfo(cursor, &info)) return {};
    BitmapHandle mask(info.hbmMask), colour(info.hbmColor);
    std::vector<uint8_t> bits(32 * 64 / 8 * 4);
    bits.resize(size_t(::GetBitmapBits(mask.get(), LONG(bits.size()), bits.data())));
    return bits;
}

TEST(TreePanCursors, EveryDirectionHasItsOwnPicture) {
    const char* names[] = {"LT_MOVEALL", "LT_MOVENS", "LT_MOVEEW", "LT_MOVEN", "LT_MOVES", "LT_MOVEW",
                           "LT_MOVEE", "LT_MOVENW", "LT_MOVENE", "LT_MOVESW", "LT_MOVESE", "LT_HEADERSPLIT"};
    std::vector<std::vector<uint8_t>> pictures;
    for (const char* name : names) {
        HCURSOR cursor = ::LoadCursorA(::GetModuleHandleA(nullptr), name);
        ASSERT_NE(cursor, nullptr) << name;
        pictures.push_back(CursorBits(cursor));
        ASSERT_FALSE(pictures.back().empty()) << name;
    }
    for (size_t i = 0; i < pictures.size(); ++i)
        for (size_t j = i + 1; j < pictures.size(); ++j) EXPECT_NE(pictures[i], pictures[j]) << names[i] << " " << names[j];
    EXPECT_EQ(LoadTreeCursor("LT_MOVEN"), ::LoadCursorA(::GetModuleHandleA(nullptr), "LT_MOVEN"));
}

} // namespace
} // namespace krv::test

namespace krv::test {
namespace {

// ---- the step animation and the end of the program ----------------------------------------------------------

// Ends the application for good: run only in a child process by the test below.
TEST(TreeAnimation, DISABLED_EndingApplicationChild) {
    TTestTree tree;
    tree.TickSource = [] { return DWORD(5000); };   // no time passes: every step would be taken
    int calls = 0;
    auto count = [&](int, int, void*) {
        ++calls;
        return true;
    };
    tree.RunStepAnimation(10, 100, count, nullptr);
    EXPECT_EQ(calls, 11);   // ten steps and the final picture
    // A step that throws leaves no animation running.
    EXPECT_THROW(tree.RunStepAnimation(10, 100, [](int, int, void*) -> bool { throw 1; }, nullptr), int);
    EXPECT_FALSE(tree.TreeStates().Contains(tsInAnimation));
    // So does a state handler that throws as the animation ends: its exception reaches the caller.
    tree.OnStateChange = [](TBaseLazyTree*, TLazyTreeStates, TLazyTreeStates leave) {
        if (leave.Contains(tsInAnimation)) throw 2;
    };
    EXPECT_THROW(tree.RunStepAnimation(10, 100, count, nullptr), int);
    EXPECT_FALSE(tree.TreeStates().Contains(tsInAnimation));
    tree.OnStateChange = nullptr;
    calls = 0;
    Application().Terminate();
    tree.RunStepAnimation(10, 100, count, nullptr);
    EXPECT_EQ(calls, 0);   // an ending program draws nothing more
    EXPECT_FALSE(tree.TreeStates().Contains(tsInAnimation));
}

TEST(TreeAnimation, StopsWhenTheApplicationEnds) {
    char path[MAX_PATH];
    DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string command = "\"" + std::string(path, n) +
                          "\" --gtest_also_run_disabled_tests --gtest_filter=TreeAnimation.DISABLED_EndingApplicationChild";
    // The child's report goes nowhere: its exit code says it all.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    FileHandle nul(::CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr));
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = nul.get();
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(::CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi));
    KernelHandle process(pi.hProcess), thread(pi.hThread);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(process.get(), 60000));
    DWORD code = 1;
    ::GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(code, 0u);
}

} // namespace
} // namespace krv::test
