// The path combo box: each step of resolving typed text, the unresolved
// tail, the change link, and both drop-downs driven by posted keys (a
// watchdog closes a drop-down that would otherwise wait for a person).
#include "PostedSteps.h"
#include "ShellTestUtil.h"
#include "shell/combo/LazyExplorerCombobox.h"
#include "shell/base/ShellEntryPoints.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/WideFileUtils.h"
#include "shell/base/WideStrUtils.h"
#include "framework/Forms.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using namespace krv;
using shelltest::TempFolder;

TEST(ComboText, DriveFormAndUnresolvedTail) {
    EXPECT_EQ(L"c:\\", CompleteDriveForm(L"c"));
    EXPECT_EQ(L"D:\\", CompleteDriveForm(L"D:"));
    EXPECT_EQ(L"C:\\x", CompleteDriveForm(L"C:\\x"));
    EXPECT_EQ(L"", CompleteDriveForm(L""));

    // Folders that "exist" for the table.
    auto isFolder = [](const std::wstring& p) { return p == L"C:\\" || p == L"C:\\a\\" || p == L"C:\\a\\b\\"; };
    struct Case {
        const wchar_t* text;
        int start;
    } cases[] = {
        {L"C:\\a\\b\\x\\y", 7},   // an existing path and two names that are not there
        {L"C:\\a\\zz\\b\\", 5},   // stops at the first missing part, even if a later one would match
        {L"C:\\nope", 3},
        {L"Q:\\nope", 0},        // no part exists: everything
        {L"nothing", 0},
        {L"C:\\a\\b\\", 7},
    };
    for (const Case& c : cases) EXPECT_EQ(c.start, UnresolvedTailStart(c.text, isFolder)) << c.text;

    // The folder the autocomplete list reads for typed text.
    EXPECT_EQ(L"c:\\", AutoCompleteFolderOf(L"c"));
    EXPECT_EQ(L"", AutoCompleteFolderOf(L"ab"));
    EXPECT_EQ(L"", AutoCompleteFolderOf(L""));
    EXPECT_EQ(L"C:\\", AutoCompleteFolderOf(L"C:\\win"));
    EXPECT_EQ(L"C:\\windows\\", AutoCompleteFolderOf(L"C:\\windows\\"));
    EXPECT_EQ(L"\\\\host\\", AutoCompleteFolderOf(L"\\\\host\\sh"));
}

TEST(ComboLayout, ButtonImageAndEditRectangles) {
    RECT client{0, 0, 300, 23};
    RECT inner{2, 2, 298, 21};
    TComboLayout l = LayoutCombo(client, inner, SIZE{16, 16}, 17, 13);
    EXPECT_EQ(281, l.Button.left);
    EXPECT_EQ(298, l.Button.right);
    EXPECT_EQ(4, l.Image.left);
    EXPECT_EQ(3, l.Image.top);   // centred in the control
    EXPECT_EQ(22, l.Edit.left);
    EXPECT_EQ(280, l.Edit.right);
    EXPECT_EQ(5, l.Edit.top);
    EXPECT_EQ(18, l.Edit.bottom);
}

namespace {

// Records what would be opened instead of starting a program.
class TProbeCombo : public TLazyExplorerCombobox {
public:
    using TLazyExplorerCombobox::TLazyExplorerCombobox;
    std::vector<std::wstring> Opened;
protected:
    void OpenItem(TNamespace* ns) override { Opened.push_back(ns->NameParseAddress()); }
};

class Combo : public ::testing::Test {
protected:
    TShellUtilitiesScope shell;
    TempFolder dir{L"combo"};
    TProbeCombo combo;
    std::vector<std::wstring> invalid;
    std::vector<std::wstring> dispatched;
    TObject follower;   // a client of the combo box's links that records what reaches it

    void SetUp() override {
        combo.SetParent(&shelltest::ShownForm());
        combo.SetBounds(10, 10, 380, 23);
        combo.HandleNeeded();
        combo.OnInvalidPath = [this](TObject*, const std::wstring& p) { invalid.push_back(p); };
        EnsureChangeDispatch().AddLink(&combo, &follower,
                                       [this](TObject*, LPCITEMIDLIST pidl) { dispatched.push_back(PIDLToPath(pidl)); });
        shelltest::MakeDir(dir / L"folder");
        shelltest::WriteFileBytes(dir / L"file.txt", "x");
    }
    void TearDown() override {
        ChangeDispatch()->RemoveLinks(&follower, lkServerAndClient);
        combo.SetParent(nullptr);
    }

    void Type(const std::wstring& text) {
        combo.Edit().SetEditText(text);
        combo.ResolveTypedText();
    }
    std::wstring Current() { return combo.CurrentItem() ? combo.CurrentItem()->NameForParsing() : L"(none)"; }
    std::pair<int, int> Selection() {
        DWORD s = 0, e = 0;
        ::SendMessageW(combo.Edit().Handle(), EM_GETSEL, WPARAM(&s), LPARAM(&e));
        return {int(s), int(e)};
    }
};

} // namespace

TEST_F(Combo, StartsOnTheDesktopAndAnEmptyTextChangesNothing) {
    ASSERT_NE(nullptr, combo.CurrentItem());
    EXPECT_TRUE(combo.CurrentItem()->IsDesktop());
    EXPECT_EQ(DesktopFolder->NameNormal(), combo.Edit().Text());
    Type(L"");
    EXPECT_TRUE(combo.CurrentItem()->IsDesktop());
    EXPECT_TRUE(invalid.empty() && dispatched.empty() && combo.Opened.empty());
}

TEST_F(Combo, ADriveLetterThenEnterGivesTheDrivesRoot) {
    Type(L"c");
    EXPECT_EQ(L"C:\\", Current());
    EXPECT_EQ(L"C:\\", combo.Edit().Text());
    EXPECT_EQ(std::vector<std::wstring>{L"C:\\"}, dispatched);
    EXPECT_EQ(std::make_pair(0, 3), Selection());
    Type(L"C:");
    EXPECT_EQ(L"C:\\", Current());
}

TEST_F(Combo, AnExistingFolderBecomesCurrentWithItsTextSelected) {
    std::wstring path = dir / L"folder";
    Type(path);
    EXPECT_EQ(0, _wcsicmp(path.c_str(), Current().c_str())) << Current().c_str();
    EXPECT_EQ(std::make_pair(0, int(combo.Edit().Text().size())), Selection());
    EXPECT_FALSE(combo.Edit().Modified());
}

TEST_F(Combo, NamesOfTheDesktopAndOfMyComputerInAnyCase) {
    std::wstring desktop = DesktopFolder->NameNormal();
    for (const std::wstring& name : std::vector<std::wstring>{WideLowerCase(desktop), desktop}) {
        Type(L"c");
        Type(name);
        EXPECT_TRUE(combo.CurrentItem() && combo.CurrentItem()->IsDesktop()) << name.c_str();
    }
    std::wstring upper = DrivesFolder->NameNormal();
    ::CharUpperBuffW(upper.data(), DWORD(upper.size()));
    Type(upper);   // a folder among the desktop's children
    ASSERT_NE(nullptr, combo.CurrentItem());
    EXPECT_TRUE(combo.CurrentItem()->IsMyComputer());
    EXPECT_EQ(std::make_pair(0, int(combo.Edit().Text().size())), Selection());
    EXPECT_TRUE(invalid.empty());
}

TEST_F(Combo, AnExistingFileIsOpenedAndClearsTheCurrentItem) {
    std::wstring file = dir / L"file.txt";
    Type(file);
    ASSERT_EQ(1u, combo.Opened.size());
    EXPECT_EQ(0, _wcsicmp(file.c_str(), combo.Opened[0].c_str()));
    EXPECT_EQ(nullptr, combo.CurrentItem());
    EXPECT_EQ(SystemIconIndex(4), combo.ImageIndex());
    EXPECT_EQ(file, combo.Edit().Text());
    EXPECT_TRUE(dispatched.empty());
}

TEST_F(Combo, AFileOnTheDesktopByItsName) {
    ASSERT_NE(nullptr, DesktopDirectoryFolder);
    std::wstring desk = DesktopDirectoryFolder->NameForParsing();
    std::wstring file = desk + L"\\krv combo probe.txt";
    shelltest::WriteFileBytes(file, "x");
    std::wstring shown;
    DesktopFolder->EnumerateFolder(false, true, false, [&](LPITEMIDLIST child, TNamespace* parent, void*, bool&) {
        TNamespace ns(child, parent);
        if (ns.NameForParsing().find(L"krv combo probe") != std::wstring::npos) shown = ns.NameNormal();
        return false;
    }, nullptr);
    ASSERT_FALSE(shown.empty());
    Type(WideLowerCase(shown));
    ::DeleteFileW(file.c_str());
    ASSERT_EQ(1u, combo.Opened.size());
    EXPECT_EQ(0, _wcsicmp(file.c_str(), combo.Opened[0].c_str()));
    EXPECT_TRUE(invalid.empty());
}

TEST_F(Combo, UnresolvedTextFiresTheEventAndSelectsTheMissingTail) {
    Type(L"c");
    dispatched.clear();
    std::wstring text = dir / L"folder\\nope1\\nope2";
    Type(text);
    EXPECT_EQ(std::vector<std::wstring>{text}, invalid);
    EXPECT_EQ(L"C:\\", Current());   // unchanged
    EXPECT_TRUE(dispatched.empty());
    EXPECT_EQ(std::make_pair(int((dir / L"folder\\").size()), int(text.size())), Selection());

    // A network path the shell cannot parse: reported, nothing else tried.
    invalid.clear();
    Type(L"\\\\krv-no-such-host\\share");
    EXPECT_EQ(std::vector<std::wstring>{L"\\\\krv-no-such-host\\share"}, invalid);
    EXPECT_TRUE(combo.Opened.empty());
}

TEST_F(Combo, TheChangeLinkCarriesAChosenItemToTheLinkedControlOnly) {
    TProbeCombo other;
    other.SetParent(&shelltest::ShownForm());
    other.SetBounds(10, 40, 380, 23);
    other.HandleNeeded();
    int backToServer = 0;
    TLETChangeDispatch& links = EnsureChangeDispatch();
    links.AddLink(&combo, &other, [&](TObject* server, LPCITEMIDLIST pidl) { other.ChangeLinkChanged(server, pidl); });
    links.AddLink(&other, &combo, [&](TObject*, LPCITEMIDLIST) { ++backToServer; });
    Type(dir / L"folder");
    ASSERT_NE(nullptr, other.CurrentItem());
    EXPECT_TRUE(krv::ILIsEqual(combo.CurrentItem()->AbsolutePIDL(), other.CurrentItem()->AbsolutePIDL()));
    EXPECT_EQ(combo.Edit().Text(), other.Edit().Text());
    EXPECT_EQ(0, backToServer);
    // Its own change coming back is ignored.
    other.ChangeLinkChanged(&other, DrivesFolder->AbsolutePIDL());
    EXPECT_TRUE(krv::ILIsEqual(combo.CurrentItem()->AbsolutePIDL(), other.CurrentItem()->AbsolutePIDL()));
    other.SetParent(nullptr);
}

TEST_F(Combo, LinkedWithAFolderTreeEachFollowsTheOther) {
    TLazyExplorerTreeview tree;
    tree.SetParent(&shelltest::ShownForm());
    tree.SetBounds(10, 70, 380, 300);
    tree.HandleNeeded();
    tree.SetActive(true);
    combo.LinkWith(&tree);
    Type(dir / L"folder");
    EXPECT_EQ(std::wstring(dir / L"folder"), tree.SelectedPath());
    ASSERT_TRUE(tree.BrowseToPath(dir.Path(), false, true, true, false));
    EXPECT_EQ(dir.Path(), Current());
    {
        TLazyExplorerTreeview gone;
        combo.LinkWith(&gone);
    }
    // A destroyed view leaves no link behind: the next choice reaches only the live tree.
    Type(dir.Path());
    Type(dir / L"folder");
    EXPECT_EQ(std::wstring(dir / L"folder"), tree.SelectedPath());
    tree.SetParent(nullptr);
}

TEST_F(Combo, TheEditsModifiedFlag) {
    EXPECT_FALSE(combo.Edit().Modified());
    ::SendMessageW(combo.Edit().Handle(), WM_CHAR, L'q', 1);   // typed: the autocomplete finds nothing for "q"
    EXPECT_TRUE(combo.Edit().Modified());
    combo.Edit().SetEditText(L"C:\\");
    EXPECT_FALSE(combo.Edit().Modified());
}

namespace {

void PostKey(HWND wnd, WPARAM key) { ::PostMessageW(wnd, WM_KEYDOWN, key, 1); }

} // namespace

TEST_F(Combo, TheFolderTreeDropsDownAtTheCurrentItemAndEnterChoosesTheFocusedFolder) {
    Type(L"c");
    dispatched.clear();
    TPopupExplorerDropDown& dd = combo.PopupExplorerDropDown();
    TPopupExplorerTree& tree = dd.Tree();
    shelltest::PostedSteps steps([&] { dd.RollUp(false); });
    std::wstring focusedAtOpen, next;
    bool openBelow = false;
    steps.Then([&] {
        TNamespace* ns = nullptr;
        if (tree.ValidateNamespace(tree.FocusedNode(), ns)) focusedAtOpen = ns->NameForParsing();
        openBelow = dd.DroppedDown() && dd.OpenedBelow();
        PostKey(combo.Edit().Handle(), VK_TAB);   // acts as Down
        steps.Then([&] {
            TNamespace* n = nullptr;
            if (tree.ValidateNamespace(tree.FocusedNode(), n)) next = n->NameForParsing();
            PostKey(combo.Edit().Handle(), VK_RETURN);
        });
    });
    combo.ButtonClick();
    EXPECT_FALSE(steps.WatchdogFired());
    EXPECT_TRUE(openBelow);
    EXPECT_EQ(L"C:\\", focusedAtOpen);
    ASSERT_FALSE(next.empty());
    EXPECT_NE(L"C:\\", next);
    EXPECT_EQ(next, Current());
    EXPECT_EQ(std::vector<std::wstring>{next}, dispatched);
    EXPECT_EQ(::GetFocus(), combo.Edit().Handle());
}

TEST_F(Combo, EscapeLeavesTheCurrentItemAndTheDropDownKeyClosesAnOpenAutocompleteList) {
    TPopupExplorerDropDown& dd = combo.PopupExplorerDropDown();
    {
        shelltest::PostedSteps steps([&] { dd.RollUp(false); });
        steps.Then([&] { PostKey(combo.Edit().Handle(), VK_ESCAPE); });
        combo.ButtonClick();
        EXPECT_FALSE(steps.WatchdogFired());
        EXPECT_TRUE(combo.CurrentItem()->IsDesktop());
        EXPECT_TRUE(dispatched.empty());
    }
    // F4 while the autocomplete list is open closes it, unselected, and opens nothing else.
    TPopupAutoCompleteDropDown& ac = combo.PopupAutoCompleteDropDown();
    ac.SetContents({accCurrentDir, accFileSysFiles});
    combo.Edit().SetEditText(dir.Path() + L"\\");
    ::SendMessageW(combo.Edit().Handle(), EM_SETSEL, 0x7fff, 0x7fff);
    shelltest::PostedSteps steps([&] { ac.RollUp(false); });
    bool explorerOpened = false;
    dd.OnRollDown = [&](TObject*, bool&) { explorerOpened = true; };
    std::vector<bool> rolledUp;
    ac.OnRollUp = [&](TObject*, bool selected) { rolledUp.push_back(selected); };
    steps.Then([&] { PostKey(combo.Edit().Handle(), VK_F4); });
    ::SendMessageW(combo.Edit().Handle(), WM_CHAR, L'f', 1);
    dd.OnRollDown = nullptr;
    ac.OnRollUp = nullptr;
    EXPECT_FALSE(steps.WatchdogFired());
    EXPECT_EQ(std::vector<bool>{false}, rolledUp);
    EXPECT_FALSE(explorerOpened);
    EXPECT_EQ(dir / L"f", combo.Edit().Text());
}

TEST_F(Combo, TypingDropsTheAutocompleteListAndDownThenEnterTakesARow) {
    TPopupAutoCompleteDropDown& ac = combo.PopupAutoCompleteDropDown();
    ac.SetContents({accCurrentDir, accFileSysDirs, accFileSysFiles});
    combo.Edit().SetFocus();
    combo.Edit().SetEditText(dir.Path() + L"\\");
    ::SendMessageW(combo.Edit().Handle(), EM_SETSEL, 0x7fff, 0x7fff);
    shelltest::PostedSteps steps([&] { ac.RollUp(false); });
    std::vector<std::wstring> rows;
    std::wstring afterDown;
    steps.Then([&] {
        for (int i = 0; i < ac.Tree().Strings().GetCount(); ++i) rows.push_back(ac.Tree().Strings().Get(i));
        PostKey(combo.Edit().Handle(), VK_DOWN);
        steps.Then([&] {
            afterDown = combo.Edit().Text();
            PostKey(combo.Edit().Handle(), VK_RETURN);
        });
    });
    ::SendMessageW(combo.Edit().Handle(), WM_CHAR, L'f', 1);   // "...\f": file.txt and folder
    EXPECT_FALSE(steps.WatchdogFired());
    EXPECT_FALSE(ac.DroppedDown());
    ASSERT_EQ(2u, rows.size());
    std::vector<std::wstring> sorted = rows;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ((std::vector<std::wstring>{dir / L"file.txt", dir / L"folder"}), sorted);
    // Down focused the first row and copied it; Enter kept it.
    EXPECT_EQ(rows[0], afterDown);
    EXPECT_EQ(rows[0], combo.Edit().Text());
    EXPECT_FALSE(combo.Edit().Modified());
}

TEST_F(Combo, TheButtonsHotPressedAndPressedAwayStates) {
    RECT b = combo.Layout().Button;
    auto move = [&](int x, int y, WPARAM keys) { ::SendMessageW(combo.Handle(), WM_MOUSEMOVE, keys, MAKELPARAM(x, y)); };
    move(b.left + 3, b.top + 3, 0);
    EXPECT_TRUE(combo.ButtonHot());
    EXPECT_FALSE(combo.ButtonPressed());
    move(5, 5, 0);
    EXPECT_FALSE(combo.ButtonHot());

    TPopupExplorerDropDown& dd = combo.PopupExplorerDropDown();
    shelltest::PostedSteps steps([&] { dd.RollUp(false); });
    std::vector<std::string> states;
    auto record = [&] {
        states.push_back(std::string(combo.ButtonHot() ? "hot" : "-") + (combo.ButtonPressed() ? " pressed" : "") +
                         (combo.ButtonPressedAway() ? " away" : ""));
    };
    steps.Then([&] {
        record();
        move(5, 5, MK_LBUTTON);
        record();
        move(b.left + 3, b.top + 3, MK_LBUTTON);
        record();
        ::PostMessageW(combo.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(b.left + 3, b.top + 3));
        steps.Then([&] {
            record();
            PostKey(combo.Edit().Handle(), VK_ESCAPE);
        });
    });
    ::SendMessageW(combo.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(b.left + 3, b.top + 3));
    EXPECT_FALSE(steps.WatchdogFired());
    EXPECT_EQ((std::vector<std::string>{"- pressed", "- away", "hot pressed", "-"}), states);
    EXPECT_FALSE(combo.ButtonPressed() || combo.ButtonPressedAway());
}

TEST_F(Combo, TheTreeStyleAndTheScrollBarFollowingTheTree) {
    TPopupExplorerDropDown& dd = combo.PopupExplorerDropDown();
    auto& paint = dd.Tree().TreeOptions();
    dd.SetComboBoxStyle(TPopupExplorerDropDown::cbsLETEnhanced);
    EXPECT_TRUE(paint.PaintOptions().Contains(toShowButtons) && paint.PaintOptions().Contains(toShowTreeLines));
    dd.SetComboBoxStyle(TPopupExplorerDropDown::cbsClassic);
    EXPECT_FALSE(paint.PaintOptions().Contains(toShowButtons) || paint.PaintOptions().Contains(toShowTreeLines));

    dd.SetDropDownCount(6);   // the rows then fill more than one page but less than two
    Type(L"c");
    shelltest::PostedSteps steps([&] { dd.RollUp(false); });
    bool barShown = false, treeBeside = false;
    int maxBefore = 0, maxAfter = 0;
    // The bar as it stands and what it should be: the page is the window's
    // inside, the range the rows' height, so the thumb is page / range.
    struct TBarState {
        int Page, Max, Thumb;
        int WantedPage, Range, WantedThumb;
    };
    std::vector<TBarState> bars;
    auto record = [&] {
        TOwnerDrawScrollbar& bar = dd.ScrollBar();
        RECT r;
        ::GetWindowRect(dd.Handle(), &r);
        int page = r.bottom - r.top - 2, range = dd.Tree().VerticalRange();
        RECT client = bar.ClientRect();
        int track = client.bottom - client.top - 2 * ::GetSystemMetrics(SM_CYVSCROLL);
        bars.push_back({bar.PageSize(), bar.Max(), bar.Metrics().ThumbLength, page, range,
                        std::max(::MulDiv(track, page, range), ::GetSystemMetrics(SM_CYVTHUMB))});
    };
    steps.Then([&] {
        TOwnerDrawScrollbar& bar = dd.ScrollBar();
        barShown = bar.Visible() && ::IsWindowVisible(bar.Handle());
        treeBeside = dd.Tree().Width() + bar.Width() == dd.ClientWidth();
        maxBefore = bar.Max();
        record();
        // Expanding posts WM_APP+10: the bar takes in the new rows.
        dd.Tree().SetExpanded(dd.Tree().FocusedNode(), true);
        steps.Then([&] {
            maxAfter = dd.ScrollBar().Max();
            record();
            PostKey(combo.Edit().Handle(), VK_ESCAPE);
        });
    });
    combo.ButtonClick();
    dd.SetDropDownCount(8);
    EXPECT_FALSE(steps.WatchdogFired());
    EXPECT_TRUE(barShown);
    EXPECT_TRUE(treeBeside);
    EXPECT_GT(maxAfter, maxBefore);
    ASSERT_EQ(bars.size(), 2u);
    EXPECT_LT(bars[0].Range, 2 * bars[0].WantedPage) << "a list shorter than two pages";
    for (const TBarState& b : bars) {
        EXPECT_EQ(b.Page, b.WantedPage) << b.Range;
        EXPECT_EQ(b.Max, b.Range - b.WantedPage) << b.Range;
        EXPECT_EQ(b.Thumb, b.WantedThumb) << b.Range;
    }
}

TEST_F(Combo, AnUpdateListHandlerGivesTheRows) {
    TPopupAutoCompleteDropDown& ac = combo.PopupAutoCompleteDropDown();
    ac.SetContents({accCurrentDir, accFileSysFiles});
    bool handle = true;
    std::wstring seen;
    ac.OnAutoCompleteUpdateList = [&](TObject*, const std::wstring& text, TWideStringList& list, bool& handled) {
        seen = text;
        EXPECT_EQ(0, list.GetCount());
        list.Add(L"one");
        list.Add(L"two");
        handled = handle;
    };
    std::wstring typed = dir.Path() + L"\\";
    EXPECT_EQ(2, ac.UpdateList(typed));
    EXPECT_EQ(typed, seen);
    EXPECT_EQ(L"two", ac.Tree().RowText(ac.Tree().GetLast()));
    handle = false;   // its rows are dropped; the folder's files come instead
    EXPECT_EQ(1, ac.UpdateList(typed));
    EXPECT_EQ(dir / L"file.txt", ac.Tree().RowText(ac.Tree().GetFirst()));
    EXPECT_EQ(0, ac.UpdateList(dir / L"zz"));
}

TEST_F(Combo, TheDropDownsPublishedDefaultsAndTheirForwarding) {
    TPopupExplorerOptions& e = combo.PopupExplorerOptions();
    TPopupAutoCompleteOptions& a = combo.PopupAutoCompleteOptions();
    for (TPopupOptionsBase* o : {static_cast<TPopupOptionsBase*>(&e), static_cast<TPopupOptionsBase*>(&a)}) {
        EXPECT_EQ(200, o->AnimationSpeed());
        EXPECT_EQ(10u, o->AutoScrollTimeFast());
        EXPECT_EQ(200u, o->AutoScrollTimeSlow());
        EXPECT_EQ(nullptr, o->Background());
        EXPECT_EQ(0, o->BackgroundOffsetX());
        EXPECT_EQ(clWindow, o->Color());
        EXPECT_EQ(17, o->DefaultNodeHeight());
        EXPECT_EQ(8, o->DropDownCount());
        EXPECT_EQ(DefaultPopupOptions, o->Options());
    }
    EXPECT_EQ(10u, e.Indent());
    EXPECT_EQ(0u, a.Indent());
    EXPECT_EQ(TPopupExplorerDropDown::cbsClassic, e.ComboBoxStyle());
    EXPECT_EQ(DefaultAutoCompleteContents, a.Contents());

    // The rows are as high as the tree's nodes: the window's height follows.
    e.SetDefaultNodeHeight(20);
    EXPECT_EQ(20, combo.PopupExplorerDropDown().Tree().DefaultNodeHeight());
    e.SetDropDownCount(5);
    TPopupExplorerDropDown& dd = combo.PopupExplorerDropDown();
    shelltest::PostedSteps steps([&] { dd.RollUp(false); });
    int height = 0;
    steps.Then([&] {
        height = dd.Height();
        PostKey(combo.Edit().Handle(), VK_ESCAPE);
    });
    combo.ButtonClick();
    EXPECT_EQ(::GetSystemMetrics(SM_CYFRAME) + 20 * 5, height);
}

TEST_F(Combo, AutoScrollBeyondTheTreeAndTheMouseNearTheListsEdge) {
    TPopupExplorerDropDown& dd = combo.PopupExplorerDropDown();
    dd.SetDropDownCount(3);
    // Ticks come only from the test: the intervals are far beyond its run.
    dd.AutoScrollTimeFast = dd.AutoScrollTimeSlow = 100000;
    Type(L"c");
    std::vector<std::string> flags;
    int before = 0, after = 0, barPosition = -1;
    auto record = [&] {
        flags.push_back(std::string(dd.ScrollingUp() ? "up" : dd.ScrollingDown() ? "down" : "-") +
                        (dd.FastTimer() ? " fast" : dd.SlowTimer() ? " slow" : ""));
    };
    {
        shelltest::PostedSteps steps([&] { dd.RollUp(false); });
        steps.Then([&] {
            TPopupExplorerTree& tree = dd.Tree();
            int h = tree.ClientHeight();
            dd.AutoScrollAt(-30, h);
            record();
            dd.AutoScrollAt(h + 5, h);
            record();
            before = tree.OffsetY();
            ::SendMessageW(dd.Handle(), WM_TIMER, 100, 0);   // one tick: a line down
            after = tree.OffsetY();
            barPosition = dd.ScrollBar().Position();
            dd.AutoScrollAt(h / 2, h);
            record();
            PostKey(combo.Edit().Handle(), VK_ESCAPE);
        });
        combo.ButtonClick();
        EXPECT_FALSE(steps.WatchdogFired());
    }
    dd.SetDropDownCount(8);
    EXPECT_EQ((std::vector<std::string>{"up fast", "down slow", "-"}), flags);
    EXPECT_EQ(before - 17, after);
    EXPECT_EQ(-after, barPosition);

    // The autocomplete list: the mouse within 20 pixels of its foot scrolls a
    // line, unless it moved less than 5 pixels since; the row under it is focused.
    for (int i = 0; i < 12; ++i) shelltest::WriteFileBytes(dir / (L"many" + std::to_wstring(i) + L".txt"), "x");
    TPopupAutoCompleteDropDown& ac = combo.PopupAutoCompleteDropDown();
    ac.SetContents({accCurrentDir, accFileSysFiles});
    combo.Edit().SetEditText(dir.Path() + L"\\");
    ::SendMessageW(combo.Edit().Handle(), EM_SETSEL, 0x7fff, 0x7fff);
    std::vector<int> offsets;
    bool focusedUnderMouse = false;
    shelltest::PostedSteps steps([&] { ac.RollUp(false); });
    steps.Then([&] {
        TPopupAutoCompleteTree& tree = ac.Tree();
        HWND wnd = tree.Handle();
        int y = tree.ClientHeight() - 3;
        offsets.push_back(tree.OffsetY());
        ::SendMessageW(wnd, WM_MOUSEMOVE, 0, MAKELPARAM(10, y));
        offsets.push_back(tree.OffsetY());
        ::SendMessageW(wnd, WM_MOUSEMOVE, 0, MAKELPARAM(12, y));   // 2 pixels: no step
        offsets.push_back(tree.OffsetY());
        ::SendMessageW(wnd, WM_MOUSEMOVE, 0, MAKELPARAM(20, y));
        offsets.push_back(tree.OffsetY());
        int top = 0;
        focusedUnderMouse = tree.FocusedNode() && tree.FocusedNode() == tree.GetNodeAt(20, y, true, top);
        PostKey(combo.Edit().Handle(), VK_ESCAPE);
    });
    ::SendMessageW(combo.Edit().Handle(), WM_CHAR, L'm', 1);
    EXPECT_FALSE(steps.WatchdogFired());
    EXPECT_EQ((std::vector<int>{0, -17, -17, -34}), offsets);
    EXPECT_TRUE(focusedUnderMouse);
}

TEST_F(Combo, ARightToLeftTreeHasItsScrollBarAndGripOnTheLeft) {
    TPopupExplorerDropDown& dd = combo.PopupExplorerDropDown();
    dd.Tree().SetBiDiMode(bdRightToLeft);   // before the window is first made
    dd.SetDropDownCount(3);
    dd.SetOptions(DefaultPopupOptions + TPopupOptions{poSizeable});
    shelltest::PostedSteps steps([&] { dd.RollUp(false); });
    int barLeft = -1, gripLeft = -1, treeLeft = -1;
    POINT gripCorner{};
    bool cornerInside = false;
    steps.Then([&] {
        barLeft = dd.ScrollBar().Left();
        gripLeft = dd.Grabber().Left();
        treeLeft = dd.Tree().Left();
        RegionHandle rgn(::CreateRectRgn(0, 0, 0, 0));
        ::GetWindowRgn(dd.Grabber().Handle(), rgn.get());
        gripCorner = POINT{1, dd.Grabber().Height() - 2};   // bottom left: opened below
        cornerInside = ::PtInRegion(rgn.get(), gripCorner.x, gripCorner.y) &&
                       !::PtInRegion(rgn.get(), dd.Grabber().Width() - 2, 1);
        PostKey(combo.Edit().Handle(), VK_ESCAPE);
    });
    combo.ButtonClick();
    EXPECT_FALSE(steps.WatchdogFired());
    EXPECT_TRUE(dd.RightToLeftScrollbar());
    EXPECT_EQ(0, barLeft);
    EXPECT_EQ(0, gripLeft);
    EXPECT_EQ(dd.ScrollBar().Width(), treeLeft);
    EXPECT_TRUE(cornerInside);
}

TEST_F(Combo, ABiggerFontGrowsTheBoxASmallerOneNeverShrinksIt) {
    EXPECT_EQ(23, combo.Height());
    combo.Font().SetSize(20);
    int grown = combo.Height();
    EXPECT_GT(grown, 23);
    RECT e = combo.Layout().Edit;
    EXPECT_GE(e.top, 0);
    EXPECT_LE(e.bottom, grown);
    EXPECT_EQ(e.bottom - e.top, combo.Edit().Height());
    combo.Font().SetSize(8);
    EXPECT_EQ(grown, combo.Height());
}

// A handler run by the drop-down's loop may free the box (its form closing):
// the loop and the button's code after it then touch nothing.
TEST_F(Combo, TheBoxFreedWhileItsFolderTreeIsOpen) {
    auto* doomed = new TProbeCombo;
    doomed->SetParent(&shelltest::ShownForm());
    doomed->SetBounds(10, 80, 300, 23);
    doomed->HandleNeeded();
    TLifeWatch dropDown(&doomed->PopupExplorerDropDown());
    shelltest::PostedSteps steps([&] {
        if (!dropDown.Gone()) doomed->PopupExplorerDropDown().RollUp(false);
    });
    steps.Then([&] { delete doomed; });
    doomed->ButtonClick();
    EXPECT_FALSE(steps.WatchdogFired());
    EXPECT_TRUE(dropDown.Gone());
    // The loop of this thread still works.
    bool ran = false;
    shelltest::PostedSteps after([] {});
    after.Then([&] { ran = true; });
    Application().ProcessMessages();
    EXPECT_TRUE(ran);
}

// What the animation without the system's slide paints from: the window
// prints its children, each moved by its place inside the border.
TEST_F(Combo, TheDropDownPrintsItsChildrenAtTheirPlaces) {
    TPopupExplorerDropDown& dd = combo.PopupExplorerDropDown();
    shelltest::PostedSteps steps([&] { dd.RollUp(false); });
    int inkInTree = 0, inkLeftOfTree = 0;
    steps.Then([&] {
        int w = dd.Width(), h = dd.Height();
        WindowDC screen(nullptr);
        MemoryDC mem(screen.get());
        BITMAPINFO bi{};
        bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        BitmapHandle dib(::CreateDIBSection(screen.get(), &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
        SelectObjectScope select(mem.get(), dib.get());
        ::PatBlt(mem.get(), 0, 0, w, h, BLACKNESS);
        ::SendMessageW(dd.Handle(), WM_PRINT, WPARAM(mem.get()), PRF_CLIENT | PRF_CHILDREN);
        auto* px = static_cast<const uint32_t*>(bits);
        for (int y = 1; y < h - 1; ++y) {
            if (px[y * w + 0] != 0) ++inkLeftOfTree;   // the border column: nothing prints there
            for (int x = 1; x < w / 2; ++x) inkInTree += (px[y * w + x] & 0xFFFFFF) != 0;
        }
        PostKey(combo.Edit().Handle(), VK_ESCAPE);
    });
    combo.ButtonClick();
    EXPECT_FALSE(steps.WatchdogFired());
    EXPECT_GT(inkInTree, 1000);   // the tree's rows
    EXPECT_EQ(0, inkLeftOfTree);
}
