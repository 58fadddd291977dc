// The explorer tree over the real shell: the main window's folder tree,
// filtering, drives without a medium, icons from the icon thread, stored
// check states, option setters and their rebuilds, root folders, and the
// guards of a read-only tree and of stale icon answers.
#include "CountingFolder.h"
#include "ShellTestUtil.h"
#include "shell/explorer/LazyExplorerTree.h"
#include "shell/item/LazyIconThread.h"
#include "shell/explorer/LazyOrderCheck.h"
#include "shell/item/LazySysImages.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/WideStrUtils.h"
#include "framework/Forms.h"
#include "framework/Stream.h"
#include "tree/string/LazyStringTree.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <algorithm>
#include <cstring>
#include <cwchar>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

using namespace krv;
using shelltest::PumpUntil;

namespace {

std::string Key(LPCITEMIDLIST pidl) {
    return std::string(reinterpret_cast<const char*>(pidl), TPIDLManager::PIDLSize(pidl));
}

// A check storage in a map, logging what the tree asks of it.
class TMapStorage : public ILETCheckStorage {
public:
    struct Record {
        TCheckState State;
        TCheckType Type;
    };
    std::map<std::string, Record> Records;
    std::vector<std::string> Log;
    bool FindCheck(LPCITEMIDLIST pidl, TCheckState& state, TCheckType& type) override {
        auto it = Records.find(Key(pidl));
        if (it == Records.end()) return false;
        state = it->second.State;
        type = it->second.Type;
        return true;
    }
    void StoreCheck(LPCITEMIDLIST pidl, TCheckState state, TCheckType type) override {
        Records[Key(pidl)] = {state, type};
        Log.push_back("store " + std::to_string(state));
    }
    void RemoveCheck(LPCITEMIDLIST pidl, bool force) override {
        Records.erase(Key(pidl));
        Log.push_back(force ? "remove force" : "remove");
    }
};

// The tree with its shell verbs recorded instead of run: the shell's
// delete would open a confirmation window and act on real folders.
class TProbeTree : public TLazyExplorerTreeview {
public:
    using TLazyExplorerTreeview::TLazyExplorerTreeview;
    std::vector<TShellVerb> Verbs;
    std::set<wchar_t> NoMedium;
    using TLazyExplorerTreeview::HandleKeyDown;
    using TLazyExplorerTreeview::CanEdit;
    using TLazyExplorerTreeview::DoGetImageIndex;
protected:
    bool InvokeShellVerb(TShellVerb verb, TNamespace*, const TNamespaceArray&) override {
        Verbs.push_back(verb);
        return true;
    }
};

// One shown form for all trees: closing forms costs seconds under Wine.
TForm& TreeForm() {
    static TForm* form = [] {
        auto* f = new TForm;
        f->SetCaption("Explorer tree");
        f->SetBounds(10, 10, 420, 560);
        f->Show();
        return f;
    }();
    return *form;
}

// The main window's folder tree: its stored options and its two handlers
// that decide what is shown and that every node has a tri-state box.
void ConfigureAsFolderTree(TCustomLazyExplorerTree& tree) {
    auto& o = tree.TreeOptions();
    o.SetAutoOptions({toAutoScroll});
    o.SetMiscOptions({toToggleOnDblClick, toCheckSupport});
    o.SetPaintOptions({toUseBlendedImages, toGhostedIfUnfocused, toShowButtons, toShowTreeLines});
    o.SetSelectionOptions({toRightClickSelect, toSiblingSelectConstraint});
    o.SetStringOptions({toSaveCaptions});
    o.SetLETFolderOptions({toFoldersExpandable, toForceHideRecycleBin});
    o.SetLETShellOptions({});
    o.SetLETSyncOptions({toCollapseTargetFirst, toSelectTarget, toExpandTarget});
    o.SetLETMiscOptions({toRemoveContextMenuShortCut, toBrowseExecuteFolderShortcut, toBrowseExecuteFolder});
    o.SetLETImageOptions({toImages, toThreadedImages});
    tree.SetRootFolder(rfDrives);
    tree.SetFileSort(fsFileType);
    tree.SetCheckImageKind(ckDarkTick);
    tree.OnInitNode = [](TBaseLazyTree* t, PLazyNode, PLazyNode node, TLazyNodeInitStates&) {
        t->SetCheckType(node, ctTriStateCheckBox);
    };
    tree.OnEnumFolder = [](TCustomLazyExplorerTree*, TNamespace* ns, bool& allow) {
        allow = ns->FileSystem() || ns->IsMyComputer();
    };
}

class ExplorerTree : public ::testing::Test {
protected:
    TShellUtilitiesScope shell;
    TProbeTree tree;
    TMapStorage* storage = nullptr;

    void SetUp() override {
        auto s = std::make_unique<TMapStorage>();
        storage = s.get();
        tree.SetCheckStorage(std::move(s));
        tree.SetParent(&TreeForm());
        tree.SetBounds(0, 0, 400, 520);
        tree.HandleNeeded();
    }

    TNamespace* Ns(PLazyNode node) {
        TNamespace* ns = nullptr;
        tree.ValidateNamespace(node, ns);
        return ns;
    }
    std::vector<PLazyNode> Children(PLazyNode node) {
        std::vector<PLazyNode> r;
        for (PLazyNode run = tree.GetFirstChild(node); run; run = tree.GetNextSibling(run)) r.push_back(run);
        return r;
    }
    PLazyNode ChildByParseName(PLazyNode node, const std::wstring& name) {
        for (PLazyNode child : Children(node))
            if (_wcsicmp(Ns(child)->NameForParsing().c_str(), name.c_str()) == 0) return child;
        return nullptr;
    }
};

TEST_F(ExplorerTree, MainWindowOptionsShowOneMyComputerNodeWithTheDrivesAndNothingElse) {
    ConfigureAsFolderTree(tree);
    std::vector<std::wstring> refused;
    auto filter = tree.OnEnumFolder;
    tree.OnEnumFolder = [&](TCustomLazyExplorerTree* t, TNamespace* ns, bool& allow) {
        filter(t, ns, allow);
        if (!allow) refused.push_back(ns->NameForParsing());
    };
    tree.SetActive(true);
    ASSERT_EQ(1u, tree.RootNodeCount());
    PLazyNode top = tree.GetFirst();
    EXPECT_EQ(L"My Computer", tree.Text(top, ColumnNone));
    EXPECT_TRUE(Ns(top)->IsMyComputer());
    EXPECT_TRUE(tree.Expanded(top));
    std::vector<PLazyNode> drives = Children(top);
    ASSERT_FALSE(drives.empty());
    ASSERT_NE(nullptr, ChildByParseName(top, L"C:\\"));
    for (PLazyNode d : drives) {
        TNamespace* ns = Ns(d);
        EXPECT_TRUE(ns->FileSystem()) << ns->NameForParsing().c_str();
        EXPECT_FALSE(ns->IsControlPanel());
        EXPECT_EQ(ctTriStateCheckBox, tree.CheckType(d));
    }
    // The main window's handler refused the control panel, and nothing of it became a node.
    EXPECT_FALSE(refused.empty());
    for (PLazyNode d : drives) EXPECT_FALSE(PrintersFolder && Ns(d)->NameForParsing() == PrintersFolder->NameForParsing());
}
// The prefix's drive K: is a link that leads nowhere (scripts/wine-env).
TEST_F(ExplorerTree, DriveWithoutMediumLosesItsButtonOnExpansionAndGetsNoChildren) {
    ConfigureAsFolderTree(tree);
    tree.SetActive(true);
    PLazyNode top = tree.GetFirst();
    PLazyNode noMedium = ChildByParseName(top, L"K:\\");
    ASSERT_NE(nullptr, noMedium) << "the prefix has no dangling drive link K: (made by scripts/wine-env)";
    EXPECT_TRUE(tree.HasChildren(noMedium));   // the shell says it is a folder with subfolders
    tree.ToggleNode(noMedium);
    EXPECT_FALSE(tree.HasChildren(noMedium));
    EXPECT_FALSE(tree.Expanded(noMedium));
    EXPECT_EQ(0u, tree.ChildCount(noMedium));
    // A drive with a medium expands as before.
    PLazyNode c = ChildByParseName(top, L"C:\\");
    tree.ToggleNode(c);
    EXPECT_TRUE(tree.Expanded(c));
    EXPECT_GT(tree.ChildCount(c), 0u);
    EXPECT_NE(nullptr, ChildByParseName(c, L"C:\\windows"));
}

TEST_F(ExplorerTree, IconsFromTheThreadReplaceThePlaceholders) {
    ConfigureAsFolderTree(tree);
    int baseline = LiveImageRequests();
    std::map<PLazyNode, std::vector<int>> shown;
    tree.OnGetImageIndex = [&](TBaseLazyTree*, PLazyNode node, TLTImageKind kind, TColumnIndex, bool&, int& index) {
        if (kind == ikNormal) shown[node].push_back(index);
    };
    tree.SetActive(true);
    ASSERT_TRUE(tree.ThreadedImagesRegistered());
    ASSERT_NE(nullptr, tree.Images());
    PLazyNode c = ChildByParseName(tree.GetFirst(), L"C:\\");
    tree.Repaint();
    ASSERT_FALSE(shown[c].empty());
    EXPECT_EQ(tree.UnknownFolderIconIndex(), shown[c].front());   // placeholder first
    ASSERT_TRUE(PumpUntil([&] { return Ns(c)->ThreadedIconLoaded() && LiveImageRequests() == baseline; }));
    SHFILEINFOW info{};
    ::SHGetFileInfoW(reinterpret_cast<LPCWSTR>(Ns(c)->AbsolutePIDL()), 0, &info, sizeof info,
                     SHGFI_PIDL | SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
    tree.Repaint();
    EXPECT_EQ(int(info.iIcon), shown[c].back());
    EXPECT_EQ(ImageList_GetImageCount(tree.Images()->Handle()), ImageList_GetImageCount(SmallSysImages().Handle()));
}

// The rows' names and the icon thread's shell calls must not compete: what a
// paint asks for, and what laying the rows out asked for while the paint was
// due, goes to the thread when the paint is done, one request per item, and
// none is lost on the way.
TEST_F(ExplorerTree, IconRequestsOfAPaintGoOutWhenItEnds) {
    ConfigureAsFolderTree(tree);
    tree.SetActive(true);
    ASSERT_TRUE(PumpUntil([&] { return LiveImageRequests() == 0; }));
    tree.RebuildTree();   // every icon unknown again, and the rows to be painted
    std::set<PLazyNode> painted;
    tree.OnGetImageIndex = [&](TBaseLazyTree*, PLazyNode node, TLTImageKind kind, TColumnIndex, bool&, int&) {
        if (kind == ikNormal) painted.insert(node);
    };
    // Laying the tree out (the focused row brought into view) asked for an image already.
    std::set<PLazyNode> askedBefore;
    for (PLazyNode run = tree.GetFirstNoInit(); run; run = tree.GetNextNoInit(run))
        if (Ns(run) && Ns(run)->ThreadIconLoading()) askedBefore.insert(run);
    EXPECT_FALSE(askedBefore.empty());
    EXPECT_EQ(0, LiveImageRequests());
    int duringPaint = -1;
    tree.OnAfterPaint = [&](TBaseLazyTree*, TCanvas&) { duringPaint = LiveImageRequests(); };
    tree.Repaint();
    ASSERT_FALSE(painted.empty());
    EXPECT_EQ(0, duringPaint);
    // Answers are released when this thread reads them: all are still counted.
    std::set<PLazyNode> asked = askedBefore;
    asked.insert(painted.begin(), painted.end());
    EXPECT_EQ(int(asked.size()), LiveImageRequests());
    for (PLazyNode node : asked) EXPECT_TRUE(Ns(node)->ThreadIconLoading());
    ASSERT_TRUE(PumpUntil([&] {
        return LiveImageRequests() == 0 &&
               std::all_of(asked.begin(), asked.end(), [&](PLazyNode n) { return Ns(n)->ThreadedIconLoaded(); });
    }));
}

// Outside a paint a request waits only for a paint that is sure to come: a
// hidden tree is not painted, and a request kept for it would never be answered.
TEST_F(ExplorerTree, IconRequestsOutsideAPaintWaitOnlyForADuePaint) {
    ConfigureAsFolderTree(tree);
    tree.SetActive(true);
    PLazyNode first = tree.GetFirst();
    ASSERT_TRUE(PumpUntil([&] { return LiveImageRequests() == 0 && Ns(first)->ThreadedIconLoaded(); }));
    struct Case {
        const char* name;
        bool invalid, shown;
        int queuedAtOnce;
    } cases[] = {
        {"painted, nothing due", false, true, 1},
        {"paint due", true, true, 0},
        {"hidden with an invalid part", true, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tree.SetVisible(c.shown);
        ::ValidateRect(tree.Handle(), nullptr);
        if (c.invalid) ::InvalidateRect(tree.Handle(), nullptr, FALSE);
        Ns(first)->Invalidate(true);   // its icon unknown, not asked for
        bool ghosted = false;
        int index = -1;
        tree.DoGetImageIndex(first, ikNormal, tree.Header().MainColumn(), ghosted, index);
        EXPECT_TRUE(Ns(first)->ThreadIconLoading());
        EXPECT_EQ(c.queuedAtOnce, LiveImageRequests());
        tree.SetVisible(true);
        ASSERT_TRUE(PumpUntil([&] { return LiveImageRequests() == 0 && Ns(first)->ThreadedIconLoaded(); }));
    }
}

TEST_F(ExplorerTree, StoredCheckStatesAndTypesOverrideTheInitHandlerAndFollowChanges) {
    ConfigureAsFolderTree(tree);
    LPITEMIDLIST cPIDL = PathToPIDL(L"C:\\");
    ASSERT_NE(nullptr, cPIDL);
    storage->Records[Key(cPIDL)] = {csCheckedNormal, ctCheckBox};
    tree.SetActive(true);
    PLazyNode top = tree.GetFirst();
    PLazyNode c = ChildByParseName(top, L"C:\\");
    EXPECT_EQ(csCheckedNormal, tree.CheckState(c));
    EXPECT_EQ(ctCheckBox, tree.CheckType(c));   // not the handler's tri-state box
    PLazyNode z = ChildByParseName(top, L"Z:\\");
    EXPECT_EQ(csUncheckedNormal, tree.CheckState(z));
    EXPECT_EQ(ctTriStateCheckBox, tree.CheckType(z));
    EXPECT_TRUE(storage->Log.empty());

    tree.SetCheckState(c, csUncheckedNormal);
    EXPECT_EQ(0u, storage->Records.count(Key(cPIDL)));
    tree.SetCheckState(c, csCheckedNormal);
    ASSERT_EQ(1u, storage->Records.count(Key(cPIDL)));
    EXPECT_EQ(ctCheckBox, storage->Records[Key(cPIDL)].Type);
    // A rebuilt tree finds the state again.
    tree.RebuildTree();
    c = ChildByParseName(tree.GetFirst(), L"C:\\");
    EXPECT_EQ(csCheckedNormal, tree.CheckState(c));
    FreePIDL(cPIDL);
}

TEST_F(ExplorerTree, WithAutoTristateTrackingChildrenOfACheckedNodeAreStoredChecked) {
    ConfigureAsFolderTree(tree);
    tree.TreeOptions().SetAutoOptions({toAutoScroll, toAutoTristateTracking});
    LPITEMIDLIST cPIDL = PathToPIDL(L"C:\\windows");
    storage->Records[Key(cPIDL)] = {csCheckedNormal, ctTriStateCheckBox};
    tree.SetActive(true);
    PLazyNode top = tree.GetFirst();
    PLazyNode c = ChildByParseName(top, L"C:\\");
    tree.ToggleNode(c);
    PLazyNode windows = ChildByParseName(c, L"C:\\windows");
    ASSERT_NE(nullptr, windows);
    EXPECT_EQ(csCheckedNormal, tree.CheckState(windows));
    // The ancestors of a stored node under an unchecked parent show it as mixed.
    EXPECT_EQ(csMixedNormal, tree.CheckState(c));
    EXPECT_EQ(csMixedNormal, tree.CheckState(top));
    tree.ToggleNode(windows);
    PLazyNode system32 = ChildByParseName(windows, L"C:\\windows\\system32");
    ASSERT_NE(nullptr, system32);
    EXPECT_EQ(csCheckedNormal, tree.CheckState(system32));
    LPITEMIDLIST sysPIDL = PathToPIDL(L"C:\\windows\\system32");
    EXPECT_EQ(1u, storage->Records.count(Key(sysPIDL)));
    FreePIDL(sysPIDL);
    FreePIDL(cPIDL);
}

TEST_F(ExplorerTree, EachSetterRebuildsOnlyWhenItsValueCallsForIt) {
    ConfigureAsFolderTree(tree);
    int rebuilds = 0;
    tree.OnRootRebuild = [&](TCustomLazyExplorerTree*) { ++rebuilds; };
    tree.SetActive(true);
    tree.SetActive(true);
    EXPECT_EQ(1, rebuilds) << "Active set twice";
    auto& o = tree.TreeOptions();
    struct Step {
        const char* what;
        std::function<void()> act;
        int rebuilds;
    } steps[] = {
        {"same folder options", [&] { o.SetLETFolderOptions(o.LETFolderOptions()); }, 0},
        {"recycle bin hidden off", [&] { o.SetLETFolderOptions({toFoldersExpandable}); }, 1},
        {"open icon on select", [&] { o.SetLETFolderOptions({toFoldersExpandable, toShowOpenIconOnSelect}); }, 0},
        {"ghosted folders off", [&] { o.SetLETFolderOptions(o.LETFolderOptions() + toDisableGhostedFolders); }, 0},
        {"my documents shown", [&] { o.SetLETFolderOptions(o.LETFolderOptions() + toForceShowMyDocuments); }, 1},
        {"same image options", [&] { o.SetLETImageOptions(o.LETImageOptions()); }, 1},
        {"overlays hidden", [&] { o.SetLETImageOptions(o.LETImageOptions() + toHideOverlay); }, 1},
        {"size column right", [&] { o.SetLETShellOptions({toRightAlignSizeColumn}); }, 1},
        {"context menus", [&] { o.SetLETShellOptions({toRightAlignSizeColumn, toContextMenus}); }, 0},
        {"misc options", [&] { o.SetLETMiscOptions(o.LETMiscOptions() + toUserSort); }, 0},
        {"sync options", [&] { o.SetLETSyncOptions({}); }, 0},
        {"same file objects", [&] { tree.SetFileObjects(tree.FileObjects()); }, 0},
        {"files shown", [&] { tree.SetFileObjects(tree.FileObjects() + foNonFolders); }, 1},
        {"file size format", [&] { tree.SetFileSizeFormat(fsfActual); }, 0},
        {"root folder", [&] { tree.SetRootFolder(rfDesktop); }, 1},
        {"inactive", [&] { tree.SetActive(false); }, 0},
        {"inactive root folder", [&] { tree.SetRootFolder(rfDrives); }, 0},
        {"active again", [&] { tree.SetActive(true); }, 1},
    };
    for (const Step& step : steps) {
        rebuilds = 0;
        step.act();
        EXPECT_EQ(step.rebuilds, rebuilds) << step.what;
    }
    EXPECT_EQ(0u, tree.RootNodeCount() - 1) << "one top node after all";
}

TEST_F(ExplorerTree, EveryRootFolderValueGivesTheSpecialFolderOfItsNumber) {
    int changes = 0;
    tree.OnRootChange = [&](TCustomLazyExplorerTree*) { ++changes; };
    for (int v = rfAdminTools; v <= rfWindows; ++v) {
        auto value = TRootFolder(v);
        tree.SetRootFolder(value);
        EXPECT_EQ(value, tree.RootFolder());
        LPITEMIDLIST pidl = SpecialFolderPIDL(RootFolderToCSIDL(value));
        if (!pidl) {
            EXPECT_EQ(nullptr, tree.RootFolderNamespace()) << v;
            continue;
        }
        ASSERT_NE(nullptr, tree.RootFolderNamespace()) << v;
        EXPECT_EQ(DisplayNameOfPIDL(pidl, SHGDN_FORPARSING), tree.RootFolderNamespace()->NameForParsing()) << v;
        FreePIDL(pidl);
    }
    EXPECT_EQ(rfWindows - rfAdminTools + 1, changes);
}

TEST_F(ExplorerTree, CustomRootsPathAndPIDLAndTheVeto) {
    shelltest::TempFolder folder(L"krv_let_root");
    shelltest::MakeDir(folder / L"a");
    shelltest::MakeDir(folder / L"b");
    tree.SetActive(true);
    tree.SetRootFolderCustomPath(folder.Path() + L"\\");
    EXPECT_EQ(rfCustom, tree.RootFolder());
    EXPECT_EQ(folder.Path(), tree.RootFolderCustomPath());
    ASSERT_EQ(1u, tree.RootNodeCount());
    EXPECT_EQ(2u, tree.ChildCount(tree.GetFirst()));

    tree.SetRootFolderCustomPath(folder / L"missing");
    EXPECT_EQ(folder.Path(), tree.RootFolderCustomPath()) << "a missing folder leaves the root";

    bool allow = false;
    std::vector<TRootFolder> asked;
    tree.OnRootChanging = [&](TCustomLazyExplorerTree*, TRootFolder v, TNamespace*, TNamespace*, bool& a) {
        asked.push_back(v);
        a = allow;
    };
    TNamespace* before = tree.RootFolderNamespace();
    tree.SetRootFolder(rfDrives);
    tree.SetRootFolderCustomPath(folder / L"a");
    EXPECT_EQ(before, tree.RootFolderNamespace());
    EXPECT_EQ(rfCustom, tree.RootFolder());
    EXPECT_EQ((std::vector<TRootFolder>{rfDrives, rfCustom}), asked);

    allow = true;
    LPITEMIDLIST pidl = PathToPIDL(folder / L"b");
    tree.SetRootFolderCustomPIDL(pidl);
    EXPECT_EQ(rfCustomPIDL, tree.RootFolder());
    EXPECT_TRUE(tree.RootFolderCustomPath().empty());
    EXPECT_EQ(folder / L"b", tree.RootFolderNamespace()->NameForParsing());
    // The root it already has is offered again, and kept.
    before = tree.RootFolderNamespace();
    asked.clear();
    tree.SetRootFolderCustomPIDL(pidl);
    EXPECT_EQ((std::vector<TRootFolder>{rfCustomPIDL}), asked);
    EXPECT_EQ(before, tree.RootFolderNamespace());
    FreePIDL(pidl);

    // With the root folder hidden its children are the top nodes.
    tree.SetRootFolderCustomPath(folder.Path());
    tree.TreeOptions().SetLETFolderOptions({toFoldersExpandable, toHideRootFolder});
    EXPECT_EQ(2u, tree.RootNodeCount());
    EXPECT_EQ(folder / L"a", Ns(tree.GetFirst())->NameForParsing());
}

TEST_F(ExplorerTree, RecycleBinIsDroppedBeforeTheEnumerationEventSeesIt) {
    ASSERT_NE(nullptr, RecycleBinFolder);
    for (bool hide : {false, true}) {
        int seen = 0;
        tree.OnEnumFolder = [&](TCustomLazyExplorerTree*, TNamespace* ns, bool&) { seen += ns->IsRecycleBin(); };
        tree.SetActive(false);
        tree.SetRootFolder(rfDesktop);
        tree.TreeOptions().SetLETFolderOptions(hide ? TLETFolderOptions{toFoldersExpandable, toForceHideRecycleBin}
                                                    : TLETFolderOptions{toFoldersExpandable});
        tree.SetActive(true);
        tree.GetFirst();
        EXPECT_EQ(hide ? 0 : 1, seen) << hide;
        int nodes = 0;
        for (PLazyNode n : Children(tree.GetFirst())) nodes += Ns(n)->IsRecycleBin();
        EXPECT_EQ(hide ? 0 : 1, nodes) << hide;
    }
}

TEST_F(ExplorerTree, OptionSetsAreNormalised) {
    auto& o = tree.TreeOptions();
    // The folder tree's own defaults.
    EXPECT_EQ((TLTSelectionOptions{toMultiSelect, toSiblingSelectConstraint}), o.SelectionOptions());
    EXPECT_EQ((TFileObjects{foFolders, foHidden}), tree.FileObjects());
    EXPECT_TRUE(o.LETImageOptions().Contains(toThreadedImages));
    o.SetAutoOptions({toAutoSort, toAutoScroll});
    EXPECT_EQ(TLTAutoOptions{toAutoScroll}, o.AutoOptions());
    o.SetSelectionOptions({toLevelSelectConstraint});
    EXPECT_EQ(TLTSelectionOptions{toLevelSelectConstraint}, o.SelectionOptions()) << "single selection keeps it";
    o.SetLETMiscOptions({});
    EXPECT_FALSE(tree.ChangeNotifierRegistered());
    o.SetLETMiscOptions({toTrackChangesInMappedDrives});
    EXPECT_EQ((TLETMiscOptions{toTrackChangesInMappedDrives, toChangeNotifierThread}), o.LETMiscOptions());
    EXPECT_TRUE(tree.ChangeNotifierRegistered());
    o.SetLETMiscOptions({toTrackChangesInMappedDrives});
    EXPECT_EQ(TLETMiscOptions{}, o.LETMiscOptions()) << "no notifier, no tracking";
    EXPECT_FALSE(tree.ChangeNotifierRegistered());

    TLazyExplorerTreeOptions source(nullptr);
    source.SetMiscOptions({toReadOnly});
    try {
        tree.SetTreeOptions(source);
        ADD_FAILURE() << "no error";
    } catch (const EAssertionFailed& e) {
        EXPECT_STREQ("Please use the TreeOptions.LETMiscOptions ReadOnly property and not the "
                     "TreeOptions.MiscOptions ReadOnly property", e.what());
    }
    source.SetMiscOptions({toCheckSupport});
    source.SetSelectionOptions({toMultiSelect, toLevelSelectConstraint});
    source.SetLETFolderOptions({toHideRootFolder});
    tree.SetTreeOptions(source);
    EXPECT_EQ(TLTMiscOptions{toCheckSupport}, o.MiscOptions());
    EXPECT_EQ((TLTSelectionOptions{toMultiSelect, toSiblingSelectConstraint}), o.SelectionOptions());
    EXPECT_EQ(TLETFolderOptions{toHideRootFolder}, o.LETFolderOptions());
}

// The main window's tree must never delete a user's folder on a key press.
TEST_F(ExplorerTree, ReadOnlyTreeNeverReachesDeleteCutOrPaste) {
    ConfigureAsFolderTree(tree);
    tree.SetActive(true);
    PLazyNode c = ChildByParseName(tree.GetFirst(), L"C:\\");
    tree.ClearSelection();
    tree.SetSelected(c, true);
    tree.SetFocusedNode(c);
    auto pressAll = [&] {
        tree.Verbs.clear();
        ::SendMessageW(tree.Handle(), WM_KEYDOWN, VK_DELETE, 0);
        for (auto [key, shift] : std::vector<std::pair<WORD, TShiftState>>{
                 {VK_DELETE, 0}, {'X', ssCtrl}, {'V', ssCtrl}, {VK_DELETE, ssShift}, {VK_INSERT, ssShift}}) {
            WORD k = key;
            tree.HandleKeyDown(k, shift);
        }
        tree.SelectedFilesDelete();
        tree.SelectedFilesPaste();
        tree.CutToClipboard();
        tree.PasteFromClipboard();
        tree.CopyToClipboard();
        return tree.Verbs;
    };
    using V = std::vector<TProbeTree::TShellVerb>;
    // The main window's tree offers no shell features: its keys reach no verb.
    V direct = pressAll();
    EXPECT_EQ(1, std::count(direct.begin(), direct.end(), TProbeTree::svDelete)) << "only the direct call";
    tree.TreeOptions().SetLETShellOptions({toContextMenus});
    TLETMiscOptions misc = tree.TreeOptions().LETMiscOptions();
    tree.TreeOptions().SetLETMiscOptions(misc + toLETReadOnly);
    EXPECT_EQ(V{TProbeTree::svCopy}, pressAll());
    EXPECT_FALSE(tree.CanEdit(c, ColumnNone));
    tree.TreeOptions().SetLETMiscOptions(misc);
    V all = pressAll();
    EXPECT_EQ(3, std::count(all.begin(), all.end(), TProbeTree::svDelete));
    EXPECT_EQ(4, std::count(all.begin(), all.end(), TProbeTree::svPaste));
    EXPECT_EQ(2, std::count(all.begin(), all.end(), TProbeTree::svCut));
}

// An answer whose node is gone, or is not waiting for that item, is dropped.
TEST_F(ExplorerTree, StaleIconAnswersNeverReachANode) {
    ConfigureAsFolderTree(tree);
    tree.SetActive(true);
    tree.Repaint();
    PLazyNode top = tree.GetFirst();
    PLazyNode c = ChildByParseName(top, L"C:\\");
    PLazyNode z = ChildByParseName(top, L"Z:\\");
    ASSERT_TRUE(PumpUntil([&] { return LiveImageRequests() == 0; }));
    int cIcon = Ns(c)->GetIconIndex(false, 0);
    // A freed node's address, and a live node asked for another item.
    PLazyNode gone = z;
    tree.DeleteNode(z);
    LPITEMIDLIST windows = PathToPIDL(L"C:\\windows");
    ImageThreadManager().AddNewItem(&tree, WM_LETICONTHREAD, 0, gone, false, windows);
    ImageThreadManager().AddNewItem(&tree, WM_LETICONTHREAD, 0, c, false, windows);
    EXPECT_TRUE(PumpUntil([&] { return LiveImageRequests() == 0; }));
    EXPECT_EQ(cIcon, Ns(c)->GetIconIndex(false, 0));
    FreePIDL(windows);
}

TEST_F(ExplorerTree, ReReadingAFolderDeletesGoneItemsAndAddsNewOnes) {
    shelltest::TempFolder folder(L"krv_let_reread");
    for (const wchar_t* name : {L"a", L"b", L"d"}) shelltest::MakeDir(folder / name);
    tree.TreeOptions().SetMiscOptions({toCheckSupport});
    std::vector<std::wstring> added;
    tree.OnNamespaceStructureChange = [&](TCustomLazyExplorerTree*, PLazyNode, TNamespace* ns,
                                          TNamespaceStructureChange change) {
        if (change == nscAdd) added.push_back(ns->NameInFolder());
    };
    tree.OnEnumFolder = [](TCustomLazyExplorerTree*, TNamespace* ns, bool& allow) { allow = ns->NameInFolder() != L"e"; };
    tree.SetRootFolderCustomPath(folder.Path());
    tree.SetActive(true);
    PLazyNode top = tree.GetFirst();
    PLazyNode b = ChildByParseName(top, folder / L"b");
    ASSERT_NE(nullptr, b);
    tree.SetCheckState(b, csCheckedNormal);
    ASSERT_EQ(1u, storage->Records.size());
    tree.SetFocusedNode(b);

    ASSERT_FALSE(Ns(top)->SystemFile());
    ::SetFileAttributesW(folder.Path().c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_SYSTEM);
    ::RemoveDirectoryW((folder / L"b").c_str());
    for (const wchar_t* name : {L"c", L"e"}) shelltest::MakeDir(folder / name);
    tree.ReReadAndRefreshNode(top);
    EXPECT_TRUE(Ns(top)->SystemFile()) << "the folder's own item is asked afresh";
    std::vector<std::wstring> names;
    for (PLazyNode n : Children(top)) names.push_back(Ns(n)->NameInFolder());
    EXPECT_EQ((std::vector<std::wstring>{L"a", L"c", L"d"}), names);
    EXPECT_EQ(std::vector<std::wstring>{L"c"}, added) << "the refused item is not added";
    EXPECT_TRUE(storage->Records.empty()) << "the gone item's check went with it";
    ASSERT_NE(nullptr, tree.FocusedNode());
    EXPECT_EQ(folder / L"d", Ns(tree.FocusedNode())->NameForParsing()) << "the focus moves to the next sibling";
}

// A tree stream would make nodes without shell items: both ways are refused,
// and the nodes shown stay as they were.
TEST_F(ExplorerTree, TreeStreamsAreRefusedAndTheNodesStay) {
    shelltest::TempFolder folder(L"krv_let_stream");
    for (const wchar_t* name : {L"a", L"b"}) shelltest::MakeDir(folder / name);
    tree.SetRootFolderCustomPath(folder.Path());
    tree.SetActive(true);
    const size_t before = Children(tree.GetFirst()).size();
    ASSERT_EQ(2u, before);
    TLazyStringTree plain;
    plain.SetRootNodeCount(3);
    TMemoryStream stream;
    plain.SaveToStream(stream);
    stream.SetPosition(0);
    TBaseLazyTree& asBase = tree;
    EXPECT_THROW(asBase.LoadFromStream(stream), EStreamError);
    EXPECT_EQ(1u, tree.RootNodeCount());
    EXPECT_EQ(before, Children(tree.GetFirst()).size());
    for (PLazyNode node = tree.GetFirst(); node; node = tree.GetNext(node)) EXPECT_NE(nullptr, Ns(node));
    TMemoryStream saved;
    EXPECT_THROW(asBase.SaveToStream(saved), EStreamError);
    EXPECT_EQ(0, saved.Size());
}

// A folder whose shell refuses every comparison: a refusal is no match, or
// a gone item would stay and a new one never come.
TEST_F(ExplorerTree, ReReadingAFolderWhoseShellCannotCompareStillSeesGoneAndNewItems) {
    shelltest::TempFolder outer(L"krv_let_reread_nocompare");
    const std::wstring path = outer / L"f";
    shelltest::MakeDir(path);
    for (const wchar_t* name : {L"a", L"b", L"d"}) shelltest::MakeDir(path + L"\\" + name);
    auto options = std::make_shared<shelltest::TFolderOptions>();
    options->ScriptedCompare = true;
    options->CompareResult = E_FAIL;
    tree.TreeOptions().SetLETMiscOptions({toBrowseExecuteFolder});
    tree.SetRootFolderCustomPath(outer.Path());
    tree.SetActive(true);
    PLazyNode node = tree.AddCustomNode(tree.GetFirst(), new shelltest::TSeamFolder(path, options), false);
    ASSERT_NE(nullptr, node);
    tree.SetHasChildren(node, true);
    tree.SetExpanded(node, true);
    auto names = [&] {
        std::vector<std::wstring> r;
        for (PLazyNode n : Children(node)) r.push_back(Ns(n)->NameInFolder());
        std::sort(r.begin(), r.end());
        return r;
    };
    ASSERT_EQ((std::vector<std::wstring>{L"a", L"b", L"d"}), names());

    ::RemoveDirectoryW((path + L"\\b").c_str());
    shelltest::MakeDir(path + L"\\c");
    tree.ReReadAndRefreshNode(node);
    EXPECT_EQ((std::vector<std::wstring>{L"a", L"c", L"d"}), names());
}

// ---- the order check beside the enumeration -----------------------------------------------

// Its worker binds a counting folder with the test's options, or nothing:
// then the tree checks on its own thread as it always did, the order to match.
class TOrderTree : public TLazyExplorerTreeview {
public:
    using TLazyExplorerTreeview::TLazyExplorerTreeview;
    bool WorkerBinds = true;
    std::shared_ptr<shelltest::TFolderOptions> Options;
    std::shared_ptr<shelltest::TCallCounts> WorkerCounts = std::make_shared<shelltest::TCallCounts>();
protected:
    ComPtr<IShellFolder> BindChildOrderFolder(LPCITEMIDLIST folderPIDL) override {
        return WorkerBinds ? shelltest::MakeCountingFolder(BindFolderOfPIDL(folderPIDL), WorkerCounts, Options)
                           : nullptr;
    }
};

std::wstring InFolderName(IShellFolder* folder, LPCITEMIDLIST pidl) {
    STRRET name{};
    return SUCCEEDED(folder->GetDisplayNameOf(pidl, SHGDN_INFOLDER | SHGDN_FORPARSING, &name))
               ? StrRetToStr(name, pidl)
               : L"";
}

// Folders big enough for the worker, each case expanded without and with it.
TEST(ExplorerTreeOrder, CheckBesideTheEnumerationEndsInTheOrderOfTheCheckOnTheTreesThread) {
    TShellUtilitiesScope shell;
    const int count = 2 * int(TChildOrderFeed::BatchSize) + 90;
    shelltest::TempFolder outer(L"krv_let_order");
    const std::wstring path = outer / L"f";
    shelltest::MakeDir(path);
    for (int i = 0; i < count; ++i) shelltest::WriteFileBytes(path + L"\\i" + std::to_wstring(i * 7919 % count), "");
    // The script ranks the items in the order the folder lists them.
    std::vector<std::wstring> listed;
    ComPtr<IShellFolder> real = shelltest::BindFolder(path);
    ComPtr<IEnumIDList> list;
    ASSERT_EQ(S_OK, real->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, list.put()));
    for (PIDLPtr child; list->Next(1, child.put(), nullptr) == S_OK;) listed.push_back(InFolderName(real.get(), child.get()));
    ASSERT_EQ(size_t(count), listed.size());

    const struct {
        const char* Name;
        int Moved, MovedRank;   // the listed item given another rank
        int Fails;              // comparisons with this listed item fail
        int RejectEvery;        // OnEnumFolder refuses every n-th listed item (and they rank first)
        bool Custom;            // the first item refused, then added by OnCustomNamespace
        int ThrowAt;            // OnEnumFolder throws at this listed item
        bool InOrder;           // the listed order stands
    } cases[] = {
        {"in order", -1, 0, -1, 0, false, -1, true},
        {"out of order at the start", 0, count, -1, 0, false, -1, false},
        {"out of order at the end", count - 1, -1, -1, 0, false, -1, false},
        {"a pair the folder cannot compare", -1, 0, count / 2, 0, false, -1, false},
        {"refused items", -1, 0, -1, 5, false, -1, true},
        {"a custom node", -1, 0, -1, 0, true, -1, false},
        {"terminated in the middle", -1, 0, -1, 0, false, count - 20, false},
    };
    TOrderTree tree;
    tree.SetParent(&TreeForm());
    tree.HandleNeeded();
    tree.SetFileObjects({foFolders, foNonFolders});
    tree.TreeOptions().SetLETMiscOptions({toBrowseExecuteFolder});
    tree.SetRootFolderCustomPath(outer.Path());
    tree.SetActive(true);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        std::map<std::wstring, int> rank;
        std::set<std::wstring> refused;
        for (int i = 0; i < count; ++i) {
            rank[listed[i]] = c.RejectEvery && i % c.RejectEvery == 0 ? -1 : i == c.Moved ? c.MovedRank : i;
            if (rank[listed[i]] < 0 && c.RejectEvery) refused.insert(listed[i]);
        }
        if (c.Custom) refused.insert(listed[0]);
        const std::wstring failing = c.Fails >= 0 ? listed[c.Fails] : L"";
        auto options = tree.Options = std::make_shared<shelltest::TFolderOptions>();
        options->Compare = [&rank, failing](IShellFolder* inner, LPARAM, LPCITEMIDLIST a, LPCITEMIDLIST b) {
            std::wstring na = InFolderName(inner, a), nb = InFolderName(inner, b);
            if (na == failing || nb == failing) return E_FAIL;
            int ra = rank.at(na), rb = rank.at(nb);
            return MAKE_HRESULT(SEVERITY_SUCCESS, 0, uint16_t(int16_t((ra > rb) - (ra < rb))));
        };
        tree.OnEnumFolder = [&](TCustomLazyExplorerTree*, TNamespace* ns, bool& allow) {
            if (c.ThrowAt >= 0 && ns->NameForParsingInFolder() == listed[c.ThrowAt]) throw std::runtime_error("stop");
            allow = !refused.count(ns->NameForParsingInFolder());
        };
        tree.OnCustomNamespace = [&](TCustomLazyExplorerTree* t, PLazyNode parent) {
            if (c.Custom) t->AddCustomNode(parent, new shelltest::TSeamFolder(path + L"\\" + listed[0], options), false);
        };
        auto expand = [&](bool workerBinds, int& compares) {
            tree.WorkerBinds = workerBinds;
            tree.WorkerCounts->clear();
            auto* folder = new shelltest::TSeamFolder(path, options);
            PLazyNode node = tree.AddCustomNode(tree.GetFirst(), folder, false);
            bool thrown = false;
            try {
                tree.ExpandNamespaceFolder(node);
            } catch (const std::runtime_error&) {
                thrown = true;
            }
            EXPECT_EQ(c.ThrowAt >= 0, thrown);
            compares = folder->Calls("CompareIDs") + (*tree.WorkerCounts)["CompareIDs"];
            std::vector<std::wstring> names;
            for (PLazyNode n = tree.GetFirstChild(node); n; n = tree.GetNextSibling(n)) {
                TNamespace* ns = nullptr;
                names.push_back(tree.ValidateNamespace(n, ns) ? ns->NameForParsingInFolder() : L"?");
            }
            tree.DeleteNode(node);
            return names;
        };
        // The comparisons counted are the second expansion's, the one with the worker.
        int compares = 0;
        std::vector<std::wstring> old = expand(false, compares);
        std::vector<std::wstring> now = expand(true, compares);
        EXPECT_EQ(old, now);
        std::vector<std::wstring> enumerated;
        for (const std::wstring& name : listed)
            if (!refused.count(name) && c.ThrowAt < 0) enumerated.push_back(name);
        if (c.Custom) enumerated.push_back(listed[0]);
        if (c.InOrder) {
            EXPECT_EQ(enumerated, now);
            // Each pair compared once, by the worker or by the tree for its share; nothing sorted.
            EXPECT_EQ(int(enumerated.size()) - 1, compares);
        } else if (c.ThrowAt < 0 && c.Fails < 0) {
            EXPECT_NE(enumerated, now) << "never sorted";
            std::stable_sort(enumerated.begin(), enumerated.end(), [&](auto& a, auto& b) { return rank[a] < rank[b]; });
            EXPECT_EQ(enumerated, now);
        }
    }
    tree.OnEnumFolder = nullptr;
    tree.OnCustomNamespace = nullptr;
}

} // namespace
