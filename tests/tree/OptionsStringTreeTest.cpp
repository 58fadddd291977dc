// Option setters and published properties with their side effects, and the
// string tree: texts through events, the width cache, the caption chunk and
// incremental-search matching.
#include "TreeTestSupport.h"
#include "tree/string/LazyStringTree.h"
#include "tree/paint/LazyTreeDrawing.h"
#include "tree/core/LazyTreeGlobals.h"
#include "framework/Forms.h"
#include <ole2.h>
#include <functional>

using namespace krv;
using namespace krv::test;

namespace {

// Whether the window is an OLE drop target now: registering again is refused.
bool IsDropTarget(HWND wnd) {
    struct Probe : IDropTarget {
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
        ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
        ULONG STDMETHODCALLTYPE Release() override { return 1; }
        HRESULT STDMETHODCALLTYPE DragEnter(IDataObject*, DWORD, POINTL, DWORD*) override { return S_OK; }
        HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL, DWORD*) override { return S_OK; }
        HRESULT STDMETHODCALLTYPE DragLeave() override { return S_OK; }
        HRESULT STDMETHODCALLTYPE Drop(IDataObject*, DWORD, POINTL, DWORD*) override { return S_OK; }
    };
    static Probe probe;
    HRESULT hr = ::RegisterDragDrop(wnd, &probe);
    if (SUCCEEDED(hr)) ::RevokeDragDrop(wnd);
    return hr == DRAGDROP_E_ALREADYREGISTERED;
}

bool HasUpdateRegion(HWND wnd) { return ::GetUpdateRect(wnd, nullptr, FALSE) != 0; }

// Only a shown window collects what is to be repainted.
void ShowInForm(TForm& form, TBaseLazyTree& tree, int width, int height) {
    form.SetBounds(0, 0, 300, 200);
    tree.SetBounds(0, 0, width, height);
    tree.SetParent(&form);
    tree.HandleNeeded();
    ::ShowWindow(form.Handle(), SW_SHOWNA);
    ::ShowWindow(tree.Handle(), SW_SHOWNA);
}

TEST(TreeOptions, SettersApplyTheirSideEffects) {
    TTestTree tree;
    tree.HandleNeeded();
    HWND first = tree.Handle();
    EXPECT_TRUE(IsDropTarget(first));   // toAcceptOLEDrop is on by default

    TCustomLazyTreeOptions& o = tree.TreeOptions();
    o.SetMiscOptions(o.MiscOptions() - toAcceptOLEDrop);
    EXPECT_FALSE(IsDropTarget(tree.Handle()));
    o.SetMiscOptions(o.MiscOptions() + toAcceptOLEDrop);
    EXPECT_TRUE(IsDropTarget(tree.Handle()));

    // The class style differs: a new window, still a drop target.
    o.SetMiscOptions(o.MiscOptions() - toFullRepaintOnResize);
    EXPECT_NE(tree.Handle(), first);
    EXPECT_TRUE(::IsWindow(tree.Handle()));
    EXPECT_FALSE(::IsWindow(first));
    EXPECT_EQ(::GetClassLongA(tree.Handle(), GCL_STYLE) & (CS_HREDRAW | CS_VREDRAW), 0u);
    EXPECT_TRUE(IsDropTarget(tree.Handle()));

    HWND second = tree.Handle();
    tree.ScrollBarOptions().SetScrollBars(ssNone);
    EXPECT_NE(tree.Handle(), second);
    EXPECT_EQ(::GetWindowLongA(tree.Handle(), GWL_STYLE) & (WS_HSCROLL | WS_VSCROLL), 0);
    HWND third = tree.Handle();
    tree.SetBorderStyle(TBorderStyle::bsNone);
    EXPECT_NE(tree.Handle(), third);
    EXPECT_EQ(::GetWindowLongA(tree.Handle(), GWL_EXSTYLE) & WS_EX_CLIENTEDGE, 0);
    HWND fourth = tree.Handle();
    tree.SetBorderStyle(TBorderStyle::bsNone);   // unchanged: nothing happens
    EXPECT_EQ(tree.Handle(), fourth);

    // Multi-select off clears the selection; on again does too.
    o.SetSelectionOptions(o.SelectionOptions() + toMultiSelect);
    tree.SetRootNodeCount(5);
    tree.SetSelected(tree.GetFirst(), true);
    tree.SetSelected(tree.GetLast(), true);
    EXPECT_EQ(tree.SelectedCount(), 2u);
    o.SetSelectionOptions(o.SelectionOptions() + toCenterScrollIntoView);   // no selection change
    EXPECT_EQ(tree.SelectedCount(), 2u);
    o.SetSelectionOptions(o.SelectionOptions() - toMultiSelect);
    EXPECT_EQ(tree.SelectedCount(), 0u);

    tree.SetAnimationDuration(0);
    EXPECT_FALSE(o.AnimationOptions().Contains(toAnimatedToggle));
    tree.SetAnimationDuration(200);
    EXPECT_TRUE(o.AnimationOptions().Contains(toAnimatedToggle));
}

TEST(TreeOptions, ColoursRepaintAndTheLineColourRedrawsTheLines) {
    TForm form;
    TTestTree tree;
    ShowInForm(form, tree, 100, 60);
    ASSERT_TRUE(::IsWindowVisible(tree.Handle()));
    tree.SetRootNodeCount(3);
    // An update bracket turned redraw off and on again: the window stays shown.
    EXPECT_TRUE(::IsWindowVisible(tree.Handle()));
    ::ValidateRect(tree.Handle(), nullptr);
    tree.Colors().Set(TLTColors::HotColor, clRed);
    EXPECT_TRUE(HasUpdateRegion(tree.Handle()));
    ::ValidateRect(tree.Handle(), nullptr);
    tree.Colors().Set(TLTColors::HotColor, clRed);   // same value: no repaint
    EXPECT_FALSE(HasUpdateRegion(tree.Handle()));
    auto count = [](const TImage& image, COLORREF rgb) {
        uint32_t want = (GetRValue(rgb) << 16) | (GetGValue(rgb) << 8) | GetBValue(rgb);
        return std::count(image.Pixels.begin(), image.Pixels.end(), want);
    };
    EXPECT_EQ(count(RenderTree(tree, 100, 60), RGB(0, 0, 255)), 0);
    tree.Colors().Set(TLTColors::TreeLineColor, clBlue);
    EXPECT_TRUE(HasUpdateRegion(tree.Handle()));
    // Dotted lines and the button frames now use the new colour.
    EXPECT_GT(count(RenderTree(tree, 100, 60), RGB(0, 0, 255)), 20);
}

TEST(TreeOptions, AssigningOptionsCopiesAllSetsAndRunsTheirEffects) {
    TLazyStringTree source, target;
    target.HandleNeeded();
    target.TreeOptions().SetSelectionOptions({toMultiSelect});
    target.SetRootNodeCount(3);
    target.SetSelected(target.GetFirst(), true);
    target.SetSelected(target.GetLast(), true);
    auto& s = source.TreeOptions();
    s.SetPaintOptions({toShowHorzGridLines, toHotTrack});
    s.SetAnimationOptions({toAnimatedToggle});
    s.SetAutoOptions({toAutoSort});
    s.SetSelectionOptions({toFullRowSelect});
    s.SetMiscOptions({toCheckSupport, toEditable});
    s.SetStringOptions({toShowStaticText});
    target.SetTreeOptions(s);
    auto& t = target.TreeOptions();
    EXPECT_EQ(t.PaintOptions(), s.PaintOptions());
    EXPECT_EQ(t.AnimationOptions(), s.AnimationOptions());
    EXPECT_EQ(t.AutoOptions(), s.AutoOptions());
    EXPECT_EQ(t.SelectionOptions(), s.SelectionOptions());
    EXPECT_EQ(t.MiscOptions(), s.MiscOptions());
    EXPECT_EQ(t.StringOptions(), s.StringOptions());
    EXPECT_EQ(target.SelectedCount(), 0u);            // multi-select went away
    EXPECT_FALSE(IsDropTarget(target.Handle()));       // toAcceptOLEDrop went away
}

TEST(TreeOptions, ClipboardFormatsTakeOnlyWhatTheTreeClassRenders) {
    TTestTree base;
    EXPECT_EQ(base.ClipboardFormats().Add("CSV"), -1);            // a string-tree format
    EXPECT_EQ(base.ClipboardFormats().Add("No such format"), -1);
    EXPECT_GE(base.ClipboardFormats().Add("Lazy Tree Data"), 0);
    EXPECT_EQ(base.ClipboardFormats().Count(), 1);
    // Every way into the list passes the same filter; names compare without case.
    const std::pair<std::function<void(TClipboardFormats&)>, std::string> cases[] = {
        {[](TClipboardFormats& f) { f.Add("csv"), f.Add("Made up"); }, "csv"},
        {[](TClipboardFormats& f) { f.Insert(0, "Made up"), f.Insert(0, "HTML Format"); }, "\"HTML Format\""},
        {[](TClipboardFormats& f) { f.AddObject("Made up", nullptr); }, ""},
        {[](TClipboardFormats& f) { f.SetCommaText("\"Made up\",CSV"); }, "CSV"},
        {[](TClipboardFormats& f) { TStringList more; more.Add("Made up"); f.AddStrings(more); }, ""}};
    for (const auto& [edit, listed] : cases) {
        TLazyStringTree strings;
        edit(strings.ClipboardFormats());
        EXPECT_EQ(strings.ClipboardFormats().CommaText(), listed);
    }
}

TEST(TreeOptions, IncrementalSearchNoneEndsASearch) {
    TTestTree tree;
    tree.SetIncrementalSearch(isAll);
    tree.SetIncrementalSearch(isNone);
    EXPECT_TRUE(tree.SearchBuffer().empty());
    EXPECT_FALSE(tree.TreeStates().Contains(tsIncrementalSearching));
}

// ---- string tree ---------------------------------------------------------------

class OpenStringTree : public TLazyStringTree {
public:
    using TLazyStringTree::DoGetNodeWidth;
    using TLazyStringTree::DoIncrementalSearch;
};

TEST(StringTree, TextsComeFromTheEventStartingFromNode) {
    OpenStringTree tree;
    tree.SetRootNodeCount(2);
    EXPECT_EQ(tree.Text(tree.GetFirst(), ColumnNone), L"Node");
    tree.OnGetText = [](TBaseLazyTree*, PLazyNode node, TColumnIndex, TLSTTextType, std::wstring& text) {
        if (node->Index == 1) text = L"\u5907\u4efd \u0436";   // no ANSI code page holds it
    };
    EXPECT_EQ(tree.Text(tree.GetFirst(), ColumnNone), L"Node");
    EXPECT_EQ(tree.Text(tree.GetLast(), ColumnNone), L"\u5907\u4efd \u0436");
    std::vector<std::wstring> told;
    tree.OnNewText = [&](TBaseLazyTree*, PLazyNode, TColumnIndex, const std::wstring& text) { told.push_back(text); };
    tree.SetText(tree.GetFirst(), ColumnNone, L"\u0416\u0416");
    EXPECT_EQ(told, std::vector<std::wstring>{L"\u0416\u0416"});
}

TEST(StringTree, WidthIsMeasuredOnceUntilTheNodeOrFontChanges) {
    OpenStringTree tree;
    tree.HandleNeeded();
    tree.SetRootNodeCount(3);
    int asked = 0;
    tree.OnGetText = [&](TBaseLazyTree*, PLazyNode, TColumnIndex, TLSTTextType, std::wstring& text) {
        ++asked;
        text = L"Measured text";
    };
    PLazyNode node = tree.GetFirst();
    EXPECT_EQ(tree.CachedWidth(node), 0u);
    int width = tree.DoGetNodeWidth(node, ColumnNone, nullptr);
    EXPECT_GT(width, 2 * tree.TextMargin());
    EXPECT_EQ(tree.CachedWidth(node), uint32_t(width));
    int before = asked;
    EXPECT_EQ(tree.DoGetNodeWidth(node, ColumnNone, nullptr), width);
    EXPECT_EQ(asked, before);   // from the cache
    tree.InvalidateNode(node);
    EXPECT_EQ(tree.CachedWidth(node), 0u);
    tree.DoGetNodeWidth(node, ColumnNone, nullptr);
    tree.DoGetNodeWidth(tree.GetLast(), ColumnNone, nullptr);
    tree.Font().SetSize(tree.Font().Size() * 2);
    EXPECT_EQ(tree.CachedWidth(node), 0u);
    EXPECT_EQ(tree.CachedWidth(tree.GetLast()), 0u);
    EXPECT_GT(tree.DoGetNodeWidth(node, ColumnNone, nullptr), width);
    // A text that measures nothing is measured every time (0 means unmeasured).
    tree.SetTextMargin(0);
    tree.OnGetText = [&](TBaseLazyTree*, PLazyNode, TColumnIndex, TLSTTextType, std::wstring& text) {
        ++asked;
        text.clear();
    };
    tree.InvalidateNode(node);
    before = asked;
    tree.DoGetNodeWidth(node, ColumnNone, nullptr);
    tree.DoGetNodeWidth(node, ColumnNone, nullptr);
    EXPECT_EQ(asked, before + 2);
}

TEST(StringTree, CaptionsGoIntoTheStreamAndComeBackThroughOnNewText) {
    TLazyStringTree source;
    source.SetRootNodeCount(3);
    const std::wstring texts[] = {L"first", L"", L"\u5907\u4efd\u0416"};
    source.OnGetText = [&](TBaseLazyTree*, PLazyNode node, TColumnIndex, TLSTTextType, std::wstring& text) {
        text = texts[node->Index];
    };
    for (PLazyNode n = source.GetFirst(); n; n = source.GetNext(n)) {
    }
    TMemoryStream stream;
    source.SaveToStream(stream);
    TLazyStringTree target;
    std::map<unsigned, std::wstring> got;
    target.OnNewText = [&](TBaseLazyTree*, PLazyNode node, TColumnIndex, const std::wstring& text) {
        got[node->Index] = text;
    };
    stream.SetPosition(0);
    target.LoadFromStream(stream);
    EXPECT_EQ(target.RootNodeCount(), 3u);
    // The empty text wrote no chunk.
    EXPECT_EQ(got, (std::map<unsigned, std::wstring>{{0, L"first"}, {2, texts[2]}}));

    // Without toSaveCaptions the texts stay out.
    source.TreeOptions().SetStringOptions({});
    TMemoryStream plain;
    source.SaveToStream(plain);
    EXPECT_LT(plain.Size(), stream.Size());
}

TEST(StringTree, IncrementalSearchMatchesTheBeginningInTheSameCase) {
    OpenStringTree tree;
    tree.SetRootNodeCount(1);
    tree.OnGetText = [](TBaseLazyTree*, PLazyNode, TColumnIndex, TLSTTextType, std::wstring& text) {
        text = L"\u0416urnal 2026";
    };
    PLazyNode n = tree.GetFirst();
    EXPECT_EQ(tree.DoIncrementalSearch(n, L"\u0416ur"), 0);
    EXPECT_EQ(tree.DoIncrementalSearch(n, L"\u0436ur"), 1);   // lower-case Zhe
    EXPECT_EQ(tree.DoIncrementalSearch(n, L"\u0416URNAL"), 1);
    EXPECT_EQ(tree.DoIncrementalSearch(n, L"\u0416urnal 2026 and more"), 1);
    EXPECT_EQ(tree.DoIncrementalSearch(n, L""), 0);
    tree.OnIncrementalSearch = [](TBaseLazyTree*, PLazyNode, const std::wstring&, int& result) { result = 7; };
    EXPECT_EQ(tree.DoIncrementalSearch(n, L"\u0416ur"), 7);
}

TEST(StringTree, ScrollIntoViewBringsAWideTextIntoViewHorizontally) {
    TLazyStringTree tree;
    tree.SetBounds(0, 0, 120, 100);
    tree.HandleNeeded();
    tree.SetRootNodeCount(40);
    tree.OnGetText = [](TBaseLazyTree*, PLazyNode node, TColumnIndex, TLSTTextType, std::wstring& text) {
        text = node->Index == 30 ? std::wstring(60, L'W') : L"x";
    };
    PLazyNode wide = tree.GetFirst();
    for (int i = 0; i < 30; ++i) wide = tree.GetNext(wide);
    EXPECT_TRUE(tree.ScrollIntoView(wide, false, true));
    RECT r = tree.GetDisplayRect(wide, ColumnNone, true);
    EXPECT_GE(r.top, 0);
    EXPECT_LE(r.bottom, tree.ClientHeight());
    EXPECT_LT(tree.OffsetX(), 0);
    // The text's middle is in the middle of the client area.
    EXPECT_NEAR((r.left + r.right) / 2, tree.ClientWidth() / 2, 1);
}

// The widest row is the last one, and a horizontal bar would cover exactly
// that row: whether the bar is needed must not depend on the bar itself, or
// the bars swing on and off for as long as the window lives.
TEST(StringTree, AHorizontalBarThatCoversTheWidestRowStaysAndTheBarsSettle) {
    struct TBarTree : TLazyStringTree {
        using TLazyStringTree::UpdateScrollBars;
    };
    TForm form;
    TBarTree tree;
    tree.SetBorderStyle(TBorderStyle::bsNone);
    const int bar = ::GetSystemMetrics(SM_CYHSCROLL);
    const int rowHeight = bar - 1, rows = 5;
    tree.SetDefaultNodeHeight(rowHeight);
    tree.OnGetText = [](TBaseLazyTree*, PLazyNode node, TColumnIndex, TLSTTextType, std::wstring& text) {
        text = node->Index == 4 ? std::wstring(80, L'W') : L"x";
    };
    tree.SetRootNodeCount(rows);
    form.BorderStyle = bsNone;
    ShowInForm(form, tree, 150, rowHeight * rows);   // every row fits without bars
    auto bars = [&] { return ::GetWindowLongA(tree.Handle(), GWL_STYLE) & (WS_HSCROLL | WS_VSCROLL); };
    tree.UpdateScrollBars(true);   // measured now that the tree is shown
    MSG msg;
    for (int i = 0; i < 500 && ::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) ::DispatchMessageA(&msg);
    EXPECT_FALSE(::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) << "messages keep coming";
    ASSERT_TRUE(bars() & WS_HSCROLL) << "the last row is wider than the window";
    const LONG settled = bars();
    for (int i = 0; i < 3; ++i) {
        tree.UpdateScrollBars(true);
        EXPECT_EQ(bars(), settled);
    }
    // Scrolled to the bottom the wide row shows above the bar.
    tree.SetOffsetY(-10000);
    RECT r = tree.GetDisplayRect(tree.GetLast(), ColumnNone, false);
    EXPECT_LE(r.bottom, tree.ClientHeight());
}

} // namespace

namespace {

TEST(ClipboardFormatRegistry, EntriesStayInPriorityOrderAndAreFoundByNameOrNumber) {
    InitializeGlobalStructures();
    CLIPFORMAT mine = RegisterClipboardFormatEntry("Korvane Test Rows", "TLazyStringTree", 92);
    CLIPFORMAT dib = RegisterClipboardFormatEntry(CLIPFORMAT(CF_DIB), "TLazyStringTree", 200);
    EXPECT_EQ(dib, CF_DIB);
    std::vector<std::string> order;
    for (const auto& e : InitializeGlobalStructures().ClipboardFormats) order.push_back(e.Description);
    EXPECT_EQ(order, (std::vector<std::string>{"Lazy Tree Data", "HTML Format", "Rich Text Format Without Objects",
                                               "Rich Text Format", "CSV", "Korvane Test Rows", "Unicode text",
                                               "Plain text", "DIB image"}));
    std::string treeClass, description;
    CLIPFORMAT format = 0;
    ASSERT_TRUE(LookUpFormat("korvane test rows", treeClass, format));
    EXPECT_EQ(format, mine);
    EXPECT_EQ(treeClass, "TLazyStringTree");
    ASSERT_TRUE(LookUpFormat(CLIPFORMAT(CF_UNICODETEXT), description, treeClass));
    EXPECT_EQ(description, "Unicode text");
    EXPECT_EQ(treeClass, "TCustomLazyStringTree");
    EXPECT_FALSE(LookUpFormat("Nothing like it", treeClass, format));

    TTestTree base;
    TCustomLazyStringTree custom;
    TLazyStringTree strings;
    ASSERT_EQ(EnumerateFormats(base).size(), 1u);
    EXPECT_EQ(EnumerateFormats(base)[0].tymed, DWORD(TYMED_HGLOBAL));
    EXPECT_EQ(EnumerateFormats(custom).size(), 7u);   // not the TLazyStringTree entries
    EXPECT_EQ(EnumerateFormats(strings).size(), 9u);
    std::vector<std::string> allowed{"Plain text", "csv"};
    std::vector<FORMATETC> limited = EnumerateFormats(strings, &allowed);
    ASSERT_EQ(limited.size(), 2u);
    EXPECT_EQ(limited[1].cfFormat, CF_TEXT);
    ASSERT_TRUE(LookUpFormat(limited[0].cfFormat, description, treeClass));
    EXPECT_EQ(description, "CSV");
}

} // namespace

namespace {

TEST(TreeOptions, OldSingleSetIsSpreadOverTheNewSets) {
    TTestTree tree;
    tree.ReadOldOptions({"voShowRoot", "voMultiSelect", "voAnimatedToggle", "voAutoSort", "voCheckSupport",
                         "voShowTreeLines", "voUnknownThing", "ShowButtons"});
    auto& o = tree.TreeOptions();
    EXPECT_EQ(o.PaintOptions(), (TLTPaintOptions{toShowRoot, toShowTreeLines}));
    EXPECT_EQ(o.AnimationOptions(), TLTAnimationOptions(toAnimatedToggle));
    EXPECT_EQ(o.AutoOptions(), TLTAutoOptions(toAutoSort));
    EXPECT_EQ(o.SelectionOptions(), TLTSelectionOptions(toMultiSelect));
    EXPECT_EQ(o.MiscOptions(), TLTMiscOptions(toCheckSupport));
}

TEST(TreeOptions, AFreedImageListIsForgotten) {
    TTestTree tree;
    auto images = std::make_unique<TImageList>();
    auto checks = std::make_unique<TImageList>();
    tree.SetImages(images.get());
    tree.SetCustomCheckImages(checks.get());
    tree.SetCheckImageKind(ckCustom);
    EXPECT_EQ(tree.CheckImages(), checks.get());
    images.reset();
    EXPECT_EQ(tree.Images(), nullptr);
    checks.reset();
    EXPECT_EQ(tree.CustomCheckImages(), nullptr);
    EXPECT_EQ(tree.CheckImageKind(), ckLightCheck);
    EXPECT_EQ(tree.CheckImages(), CheckImageList(ckLightCheck));
}

} // namespace

namespace {

TEST(StringTree, MaxColumnWidthCoversIndentMarginsAndTheWidestText) {
    TLazyStringTree tree;
    tree.HandleNeeded();
    tree.SetRootNodeCount(2);
    PLazyNode first = tree.GetFirst();
    tree.SetChildCount(first, 1);
    tree.OnGetText = [](TBaseLazyTree*, PLazyNode node, TColumnIndex, TLSTTextType, std::wstring& text) {
        text = node->Parent->Parent ? L"a much longer child text" : L"top";
    };
    int collapsed = tree.GetMaxColumnWidth(ColumnNone);
    tree.SetExpanded(first, true);
    PLazyNode child = tree.GetFirstChild(first);
    int expanded = tree.GetMaxColumnWidth(ColumnNone);
    EXPECT_GT(expanded, collapsed);   // hidden rows do not count
    EXPECT_EQ(expanded, 2 * tree.Margin() + 2 * int(tree.Indent()) + int(tree.CachedWidth(child)));
    tree.TreeOptions().SetPaintOptions(tree.TreeOptions().PaintOptions() + toShowVertGridLines);
    EXPECT_EQ(tree.GetMaxColumnWidth(ColumnNone), expanded + 1);
}

} // namespace

namespace {

class OpenTree : public TTestTree {
public:
    using TTestTree::DoPopupMenu;
};

// Shortening the bottom of a tree scrolled to its end pulls every row down: the whole window is stale.
TEST(TreeRepaint, ShorteningTheBottomOfAScrolledTreeRepaintsTheWholeWindow) {
    const std::function<void(TTestTree&, PLazyNode)> shorten[] = {
        [](TTestTree& t, PLazyNode last) { t.DeleteNode(t.GetLastNoInit(last)); },
        [](TTestTree& t, PLazyNode last) { t.DeleteChildren(last); },
        [](TTestTree& t, PLazyNode last) { t.SetNodeHeight(t.GetLastNoInit(last), 4); }};
    for (const auto& change : shorten) {
        TForm form;
        form.BorderStyle = bsNone;   // no caption: no wait for a window manager
        TTestTree tree;
        ShowInForm(form, tree, 200, 100);
        tree.SetRootNodeCount(20);
        PLazyNode last = tree.GetLastNoInit();
        tree.SetChildCount(last, 3);
        tree.SetExpanded(last, true);
        tree.SetOffsetY(-1000);
        ::ValidateRect(tree.Handle(), nullptr);
        change(tree, last);
        RECT stale{}, client = tree.ClientRect();
        ::GetUpdateRect(tree.Handle(), &stale, FALSE);
        EXPECT_TRUE(::EqualRect(&stale, &client)) << "repainted from y " << stale.top;
    }
}

TEST(TreeRepaint, RepaintNodeDrawsThatRowAtOnce) {
    TForm form;
    OpenTree tree;
    ShowInForm(form, tree, 200, 120);
    tree.SetRootNodeCount(5);
    ::UpdateWindow(tree.Handle());
    std::vector<unsigned> painted;
    tree.OnBeforeItemPaint = [&](TBaseLazyTree*, TCanvas&, PLazyNode node, RECT, bool&) { painted.push_back(node->Index); };
    PLazyNode third = tree.GetNext(tree.GetNext(tree.GetFirst()));
    tree.RepaintNode(third);
    EXPECT_EQ(painted, std::vector<unsigned>{2});
    EXPECT_FALSE(HasUpdateRegion(tree.Handle()));
    // Without columns there is no column to invalidate.
    tree.InvalidateColumn(0);
    EXPECT_FALSE(HasUpdateRegion(tree.Handle()));
    RECT r = tree.GetTreeRect();
    EXPECT_EQ(r.bottom, std::max(tree.ClientHeight(), 5 * 18));
    EXPECT_EQ(r.right, tree.ClientWidth());

    // A popup menu: asked for the node, its click fired, a pending edit ended.
    TPopupMenu menu;
    int clicks = 0;
    menu.Items().OnClick = [&](TObject*) { ++clicks; };
    tree.OnGetPopupMenu = [&](TBaseLazyTree*, PLazyNode node, TColumnIndex, POINT, bool&, TPopupMenu*& popup) {
        if (node == third) popup = &menu;
    };
    tree.DoPopupMenu(third, ColumnNone, POINT{5, 40});
    EXPECT_EQ(clicks, 1);
    tree.DoPopupMenu(tree.GetFirst(), ColumnNone, POINT{5, 5});
    EXPECT_EQ(clicks, 1);
}

} // namespace
