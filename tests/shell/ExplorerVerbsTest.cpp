// The explorer tree's commands over a scratch folder: the clipboard with the
// shell's data object and the cut/copy marks, the paste rule, the read-only
// guard, renaming through the shell (and a refused rename), New Folder, the
// context menu's shortcut removal, the keyboard table, opening on a double
// click and the text colours. Verbs that would open the shell's modal
// windows or act on real folders are recorded instead of run.
#include "CountingFolder.h"
#include "common/FreedMemoryTrap.h"
#include "ShellTestUtil.h"
#include "shell/explorer/LazyExplorerListview.h"
#include "shell/explorer/LazyExplorerContextMenu.h"
#include "shell/explorer/LazyExplorerTree.h"
#include "shell/item/LazyIconThread.h"
#include "shell/base/ShellClipFormats.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/WideFileUtils.h"
#include "framework/Forms.h"
#include "framework/Menus.h"
#include "tree/paint/LazyTreeHint.h"
#include <gtest/gtest.h>
#include <atomic>
#include <functional>
#include <thread>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace krv;
using shelltest::PumpUntil;

namespace {

class TVerbTree : public TLazyExplorerTreeview {
public:
    using TLazyExplorerTreeview::TLazyExplorerTreeview;
    using TLazyExplorerTreeview::ContextMenuCommand;
    using TLazyExplorerTreeview::DoContextMenuAfterCmd;
    using TLazyExplorerTreeview::DoDragAllowed;
    using TLazyExplorerTreeview::DoPaintText;
    using TLazyExplorerTreeview::HandleKeyDown;
    // When set, the shell verbs are recorded instead of run.
    bool Record = false;
    std::vector<TShellVerb> Verbs;
    std::vector<std::wstring> Executed;
    bool RecordExecute = false;
    bool ShellExecuteNamespace(TNamespace* ns, const std::wstring& workingDir, const std::wstring& parameters) override {
        if (!RecordExecute) return TLazyExplorerTreeview::ShellExecuteNamespace(ns, workingDir, parameters);
        Executed.push_back(ns->NameInFolder());
        return true;
    }
protected:
    bool InvokeShellVerb(TShellVerb verb, TNamespace* target, const TNamespaceArray& items) override {
        if (!Record) return TLazyExplorerTreeview::InvokeShellVerb(verb, target, items);
        Verbs.push_back(verb);
        return true;
    }
};

// The clipboard's rendering of a format, or empty when it has none.
std::vector<uint8_t> ClipboardData(UINT format) {
    ComPtr<IDataObject> clip;
    if (FAILED(::OleGetClipboard(clip.put())) || !clip) return {};
    FORMATETC fe{CLIPFORMAT(format), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    if (clip->GetData(&fe, &medium) != S_OK) return {};
    std::vector<uint8_t> bytes;
    if (medium.tymed == TYMED_HGLOBAL && medium.hGlobal) {
        GlobalLockScope lock(medium.hGlobal);
        auto* p = lock.as<const uint8_t>();
        if (p) bytes.assign(p, p + ::GlobalSize(medium.hGlobal));
    }
    ::ReleaseStgMedium(&medium);
    return bytes;
}

// Closes every window of this process that was not there when it started
// (the shell's confirmations and property sheets are modal): "No" first, so
// that a confirmation is refused, then Cancel and Close.
class TWindowWatchdog {
public:
    TWindowWatchdog() {
        ::EnumWindows(Collect, reinterpret_cast<LPARAM>(&before_));
        thread_ = std::thread([this] {
            // Bounded only against a hang: a busy machine shows the shell's windows late.
            for (int round = 0; round < 10000 && !stop_; ++round) {
                std::vector<HWND> now;
                ::EnumWindows(Collect, reinterpret_cast<LPARAM>(&now));
                for (HWND w : now) {
                    if (std::find(before_.begin(), before_.end(), w) != before_.end() || !::IsWindowVisible(w)) continue;
                    ++closed_;
                    ::PostMessageW(w, WM_COMMAND, IDNO, 0);
                    ::PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
                    ::PostMessageW(w, WM_CLOSE, 0, 0);
                }
                ::Sleep(30);
            }
        });
    }
    ~TWindowWatchdog() {
        stop_ = true;
        thread_.join();
    }
    int Closed() const { return closed_; }
private:
    static BOOL CALLBACK Collect(HWND w, LPARAM list) {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(w, &pid);
        if (pid == ::GetCurrentProcessId()) reinterpret_cast<std::vector<HWND>*>(list)->push_back(w);
        return TRUE;
    }
    std::vector<HWND> before_;
    std::atomic<bool> stop_{false};
    std::atomic<int> closed_{0};
    std::thread thread_;
};

class ExplorerVerbs : public ::testing::Test {
protected:
    TShellUtilitiesScope shell;
    shelltest::TempFolder folder{L"krv_verbs"};
    // On the heap, so that a handler can close it (held.reset()).
    std::unique_ptr<TVerbTree> held = std::make_unique<TVerbTree>();
    TVerbTree& tree = *held;

    void SetUp() override {
        ::OleInitialize(nullptr);
        for (const wchar_t* dir : {L"alpha", L"alpha\\inner", L"beta", L"New Folder"}) shelltest::MakeDir(folder / dir);
        shelltest::WriteFileBytes(folder / L"note.txt", "note");
        tree.SetParent(&shelltest::ShownForm());
        tree.SetBounds(0, 0, 300, 300);
        tree.HandleNeeded();
        tree.SetFileObjects({foFolders, foNonFolders, foHidden});
        // The fixture's own changes would re-read folders at unforeseeable moments.
        SetMisc(toChangeNotifierThread, false);
        tree.SetRootFolderCustomPath(folder.Path());
        tree.SetActive(true);
    }
    void TearDown() override {
        if (held) tree.CancelEditNode();
        ::OleSetClipboard(nullptr);
    }

    PLazyNode Child(const std::wstring& name) {
        for (PLazyNode run = tree.GetFirstChild(tree.GetFirst()); run; run = tree.GetNextSibling(run))
            if (Name(run) == name) return run;
        return nullptr;
    }
    std::wstring Name(PLazyNode node) {
        TNamespace* ns;
        return tree.ValidateNamespace(node, ns) ? ns->NameInFolder() : L"(none)";
    }
    void Select(std::initializer_list<const wchar_t*> names) {
        tree.ClearSelection();
        for (const wchar_t* name : names) {
            PLazyNode node = Child(name);
            ASSERT_NE(nullptr, node) << name;
            tree.SetSelected(node, true);
            tree.SetFocusedNode(node);
        }
    }
    void SetMisc(TLETMiscOption option, bool on) {
        TLETMiscOptions misc = tree.TreeOptions().LETMiscOptions();
        tree.TreeOptions().SetLETMiscOptions(on ? misc + option : misc - option);
    }
    bool Marked(const wchar_t* name) { return (Child(name)->States & vsCutOrCopy) != 0; }
};

TEST_F(ExplorerVerbs, CopyAndCutPutTheShellsIDListArrayOnTheClipboardAndMarkTheNodes) {
    const TShellClipFormats& formats = RegisterShellClipFormats();
    Select({L"note.txt"});
    ASSERT_TRUE(tree.CopyToClipboard());
    std::vector<uint8_t> ida = ClipboardData(formats.ShellIDList);
    ASSERT_GE(ida.size(), 8u);
    EXPECT_EQ(1u, reinterpret_cast<const CIDA*>(ida.data())->cidl);
    EXPECT_TRUE(Marked(L"note.txt"));
    EXPECT_TRUE(tree.TreeStates().Contains(tsCopyPending));
    bool ghosted = false;
    tree.GetImageIndexOf(Child(L"note.txt"), ikNormal, tree.Header().MainColumn(), ghosted);
    EXPECT_FALSE(ghosted) << "a copied item is not ghosted";

    Select({L"alpha", L"beta"});
    ASSERT_TRUE(tree.CutToClipboard());
    ida = ClipboardData(formats.ShellIDList);
    ASSERT_GE(ida.size(), 8u);
    EXPECT_EQ(2u, reinterpret_cast<const CIDA*>(ida.data())->cidl);
    std::vector<uint8_t> effect = ClipboardData(formats.PreferredDropEffect);
    ASSERT_GE(effect.size(), 4u) << "a cut says so to the pasting side";
    EXPECT_EQ(DWORD(DROPEFFECT_MOVE), *reinterpret_cast<const DWORD*>(effect.data()));
    EXPECT_FALSE(Marked(L"note.txt")) << "earlier marks are cleared";
    EXPECT_TRUE(Marked(L"alpha") && Marked(L"beta"));
    EXPECT_TRUE(tree.TreeStates().Contains(tsCutPending));
    EXPECT_FALSE(tree.TreeStates().Contains(tsCopyPending));
    tree.GetImageIndexOf(Child(L"alpha"), ikNormal, tree.Header().MainColumn(), ghosted);
    EXPECT_TRUE(ghosted);

    // A handler that handles the cut decides whether the nodes are marked.
    tree.OnClipboardCut = [](TCustomLazyExplorerTree*, bool& markSelectedCut, bool& handled) {
        handled = true;
        markSelectedCut = false;
    };
    tree.ClearCutCopyMarks();
    Select({L"note.txt"});
    EXPECT_TRUE(tree.CutToClipboard());
    EXPECT_FALSE(Marked(L"note.txt"));
    EXPECT_EQ(2u, reinterpret_cast<const CIDA*>(ClipboardData(formats.ShellIDList).data())->cidl)
        << "the handled cut left the clipboard alone";
}

TEST_F(ExplorerVerbs, PasteGoesOnlyIntoTheOneSelectedFolder) {
    tree.Record = true;
    Select({L"alpha", L"beta"});
    EXPECT_FALSE(tree.PasteFromClipboard());
    WORD key = VK_INSERT;
    tree.HandleKeyDown(key, ssShift);
    key = 'V';
    tree.HandleKeyDown(key, ssCtrl);
    EXPECT_TRUE(tree.Verbs.empty());
    Select({L"beta"});
    EXPECT_TRUE(tree.PasteFromClipboard());
    EXPECT_EQ(std::vector<TVerbTree::TShellVerb>{TVerbTree::svPaste}, tree.Verbs);
    tree.OnClipboardPaste = [](TCustomLazyExplorerTree*, bool& handled) { handled = true; };
    tree.Verbs.clear();
    Select({L"alpha", L"beta"});
    EXPECT_TRUE(tree.PasteFromClipboard()) << "handled by the event";
    EXPECT_TRUE(tree.Verbs.empty());
}

TEST_F(ExplorerVerbs, DeleteAndPropertiesReachTheShellsWindows) {
    shelltest::WriteFileBytes(folder / L"victim.txt", "v");
    tree.RebuildTree();
    Select({L"victim.txt"});
    {
        TWindowWatchdog watchdog;
        EXPECT_TRUE(tree.SelectedFilesDelete());
        PumpUntil([&] { return watchdog.Closed() > 0; });
        EXPECT_GT(watchdog.Closed(), 0) << "the shell asked before deleting";
    }
    EXPECT_TRUE(FileExistsW(folder / L"victim.txt")) << "the question was answered No";
    {
        TWindowWatchdog watchdog;
        // Alt+Enter as the window receives it.
        ::SendMessageW(tree.Handle(), WM_SYSKEYDOWN, VK_MENU, LPARAM(1) << 29);
        ::SendMessageW(tree.Handle(), WM_SYSCHAR, VK_RETURN, LPARAM(1) << 29);
        ::SendMessageW(tree.Handle(), WM_SYSKEYUP, VK_MENU, 0);
        PumpUntil([&] { return watchdog.Closed() > 0; });
        EXPECT_GT(watchdog.Closed(), 0) << "the shell's properties were shown";
    }
}

TEST_F(ExplorerVerbs, ARightClickSelectsForTheMenuAndGivesTheSelectionBackUnlessToldToKeepIt) {
    std::vector<std::wstring> menus;
    tree.OnContextMenuShow = [&](TCustomLazyExplorerTree*, TNamespace* ns, HMENU, bool& allow) {
        menus.push_back(ns->NameInFolder());
        allow = false;
    };
    auto shell = tree.TreeOptions().LETShellOptions();
    tree.TreeOptions().SetLETShellOptions(shell + toContextMenus);
    auto rightClick = [&](const wchar_t* name) {
        RECT r = tree.GetDisplayRect(Child(name), ColumnNone, true);
        POINT p{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
        ::SendMessageW(tree.Handle(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(p.x, p.y));
        // The default handling of the release raises WM_CONTEXTMENU.
        ::SendMessageW(tree.Handle(), WM_RBUTTONUP, 0, MAKELPARAM(p.x, p.y));
    };
    Select({L"alpha"});
    rightClick(L"beta");
    EXPECT_EQ(std::vector<std::wstring>{L"beta"}, menus);
    EXPECT_TRUE(tree.Selected(Child(L"alpha")));
    EXPECT_FALSE(tree.Selected(Child(L"beta")));
    EXPECT_EQ(Child(L"alpha"), tree.FocusedNode());

    SetMisc(toRightButtonSelect, true);
    rightClick(L"beta");
    EXPECT_EQ(2u, menus.size());
    EXPECT_FALSE(tree.Selected(Child(L"alpha")));
    EXPECT_TRUE(tree.Selected(Child(L"beta")));
    EXPECT_EQ(Child(L"beta"), tree.FocusedNode());
    EXPECT_FALSE(tree.ContextMenuManager().MenuShown());

    // A handler that closes the tree: nothing touches it after (under the freed-memory trap).
    krv::test::TFreedMemoryTrap trap;
    tree.OnContextMenuShow = [&](TCustomLazyExplorerTree*, TNamespace* ns, HMENU, bool& allow) {
        menus.push_back(ns->NameInFolder());
        allow = false;
        held.reset();
    };
    rightClick(L"alpha");
    EXPECT_EQ(3u, menus.size());
    EXPECT_FALSE(held);
}

TEST_F(ExplorerVerbs, TheShownMenuReportsEachHighlightedItemAndClosesWithoutACommand) {
    std::vector<std::pair<int, bool>> changes;
    tree.OnContextMenuItemChange = [&](TCustomLazyExplorerTree*, TNamespace* ns, int id, HMENU, bool mouse) {
        if (ns && ns->NameInFolder() == L"beta") changes.push_back({id, mouse});
    };
    std::atomic<bool> done{false};
    // Moves down the shown menu from the keyboard, then leaves it.
    std::thread keys([&] {
        for (int round = 0; round < 10000 && !done; ++round) {
            HWND menu = ::FindWindowW(L"#32768", nullptr);
            if (menu && ::IsWindowVisible(menu)) {
                ::PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
                ::Sleep(100);
                for (int i = 0; i < 3; ++i) ::PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
            }
            ::Sleep(30);
        }
    });
    RECT r = tree.GetDisplayRect(Child(L"beta"), ColumnNone, true);
    POINT at{r.left, r.bottom};
    ::ClientToScreen(tree.Handle(), &at);
    bool chosen = tree.ShowShellContextMenu(Child(L"beta"), at);
    done = true;
    keys.join();
    EXPECT_FALSE(chosen);
    ASSERT_FALSE(changes.empty());
    EXPECT_FALSE(changes.front().second) << "chosen with the keyboard";
    EXPECT_FALSE(tree.ContextMenuManager().MenuShown());
}

TEST_F(ExplorerVerbs, MenuCommandsRenameInPlaceAndMarkWhatWasCutOrCopied) {
    TNamespace* alpha;
    ASSERT_TRUE(tree.ValidateNamespace(Child(L"alpha"), alpha));
    std::vector<std::wstring> asked;
    std::vector<std::pair<std::wstring, bool>> after;
    tree.OnContextMenuCmd = [&](TCustomLazyExplorerTree*, TNamespace*, const std::wstring& verb, int, bool& handled) {
        asked.push_back(verb);
        handled = verb == L"open";
    };
    tree.OnContextMenuAfterCmd = [&](TCustomLazyExplorerTree*, TNamespace*, const std::wstring& verb, int, bool ok) {
        after.push_back({verb, ok});
    };
    Select({L"alpha"});
    EXPECT_TRUE(tree.ContextMenuCommand(alpha, L"open", 1)) << "handled by the event";
    EXPECT_FALSE(tree.ContextMenuCommand(alpha, L"delete", 2)) << "left to the shell";
    EXPECT_FALSE(tree.IsEditing());
    EXPECT_TRUE(tree.ContextMenuCommand(alpha, L"rename", 3)) << "never the shell's own rename";
    EXPECT_TRUE(tree.IsEditing());
    tree.CancelEditNode();
    Select({L"alpha", L"beta"});
    EXPECT_TRUE(tree.ContextMenuCommand(alpha, L"rename", 3));
    EXPECT_FALSE(tree.IsEditing()) << "which of two names would be edited?";
    EXPECT_EQ((std::vector<std::wstring>{L"open", L"delete", L"rename", L"rename"}), asked);

    tree.DoContextMenuAfterCmd(alpha, L"copy", 4, true);
    EXPECT_TRUE(Marked(L"alpha") && Marked(L"beta"));
    EXPECT_TRUE(tree.TreeStates().Contains(tsCopyPending));
    Select({L"beta"});
    tree.DoContextMenuAfterCmd(alpha, L"cut", 5, false);
    EXPECT_TRUE(Marked(L"alpha")) << "a failed cut marks nothing";
    tree.DoContextMenuAfterCmd(alpha, L"cut", 5, true);
    EXPECT_FALSE(Marked(L"alpha"));
    EXPECT_TRUE(Marked(L"beta"));
    EXPECT_TRUE(tree.TreeStates().Contains(tsCutPending));
    EXPECT_EQ(3u, after.size());
}

TEST_F(ExplorerVerbs, KeyboardTable) {
    tree.Record = true;
    using V = std::vector<TVerbTree::TShellVerb>;
    struct Row {
        WORD key;
        TShiftState shift;
        V verbs;
    };
    const Row rows[] = {
        {'C', ssCtrl, {TVerbTree::svCopy}},      {VK_INSERT, ssCtrl, {TVerbTree::svCopy}},
        {'X', ssCtrl, {TVerbTree::svCut}},       {'V', ssCtrl, {TVerbTree::svPaste}},
        {VK_INSERT, ssShift, {TVerbTree::svPaste}}, {VK_DELETE, 0, {TVerbTree::svDelete}},
        {VK_DELETE, ssShift, {}},                 {'C', 0, {}},
    };
    for (const Row& row : rows) {
        Select({L"alpha"});
        tree.Verbs.clear();
        WORD key = row.key;
        tree.HandleKeyDown(key, row.shift);
        EXPECT_EQ(row.verbs, tree.Verbs) << row.key << "/" << row.shift;
        if (!row.verbs.empty()) {
            EXPECT_EQ(0, key) << "the key is consumed";
        }
    }
    Select({L"alpha"});
    WORD key = 'A';
    tree.HandleKeyDown(key, ssCtrl | ssShift);
    EXPECT_EQ(tree.ChildCount(tree.GetFirst()), tree.SelectedCount()) << "every node of the focused one's level";

    PLazyNode alpha = Child(L"alpha");
    tree.SetExpanded(alpha, true);
    PLazyNode inner = tree.GetFirstChild(alpha);
    ASSERT_NE(nullptr, inner);
    tree.SetExpanded(inner, true);
    tree.ClearSelection();
    tree.SetFocusedNode(tree.GetFirst());
    key = VK_DIVIDE;
    tree.HandleKeyDown(key, 0);
    EXPECT_EQ(0, key);
    EXPECT_FALSE(tree.Expanded(alpha)) << "everything below the focused node collapses";

    key = VK_APPS;
    tree.HandleKeyDown(key, 0);
    EXPECT_EQ(VK_APPS, key) << "left to the default handling, which raises the context menu";
}

TEST_F(ExplorerVerbs, AReadOnlyTreeRefusesRenameDragAndTheContextMenu) {
    int menus = 0;
    tree.OnContextMenuShow = [&](TCustomLazyExplorerTree*, TNamespace*, HMENU, bool& allow) {
        ++menus;
        allow = false;
    };
    auto options = tree.TreeOptions().LETShellOptions();
    tree.TreeOptions().SetLETShellOptions(options + toDragDrop + toContextMenus);
    Select({L"alpha"});
    EXPECT_TRUE(tree.DoDragAllowed(Child(L"alpha"), ColumnNone));
    ::SendMessageW(tree.Handle(), WM_CONTEXTMENU, WPARAM(tree.Handle()), MAKELPARAM(-1, -1));
    EXPECT_EQ(1, menus);

    SetMisc(toLETReadOnly, true);
    EXPECT_FALSE(tree.DoDragAllowed(Child(L"alpha"), ColumnNone));
    ::SendMessageW(tree.Handle(), WM_CONTEXTMENU, WPARAM(tree.Handle()), MAKELPARAM(-1, -1));
    EXPECT_EQ(1, menus);
    EXPECT_FALSE(tree.EditNode(Child(L"alpha"), ColumnNone));
    tree.SetText(Child(L"alpha"), ColumnNone, L"gamma");
    PumpUntil([] { return false; }, 5);
    EXPECT_TRUE(DirExistsW(folder / L"alpha"));
    EXPECT_FALSE(DirExistsW(folder / L"gamma"));
    EXPECT_FALSE(tree.IsEditing());

    SetMisc(toLETReadOnly, false);
    tree.OnDragAllowed = [](TBaseLazyTree*, PLazyNode, TColumnIndex, bool& allowed) { allowed = false; };
    EXPECT_FALSE(tree.DoDragAllowed(Child(L"alpha"), ColumnNone)) << "the event vetoes";
    tree.TreeOptions().SetLETShellOptions(options - toDragDrop);
    tree.OnDragAllowed = nullptr;
    EXPECT_FALSE(tree.DoDragAllowed(Child(L"alpha"), ColumnNone));
}

TEST_F(ExplorerVerbs, ARenameGoesThroughTheShellAndARefusedOneEditsTheNodeAgain) {
    tree.SetText(Child(L"alpha"), ColumnNone, L"gamma");
    EXPECT_TRUE(DirExistsW(folder / L"gamma"));
    EXPECT_FALSE(DirExistsW(folder / L"alpha"));
    ASSERT_NE(nullptr, Child(L"gamma")) << "the node shows the new name";

    // beta exists: the shell refuses, and editing starts again once the message comes
    // (the editor may close again at once: the test's window is not the active one).
    std::vector<PLazyNode> edits;
    tree.OnEditing = [&](TBaseLazyTree*, PLazyNode node, TColumnIndex, bool&) { edits.push_back(node); };
    PLazyNode gamma = Child(L"gamma");
    tree.SetText(gamma, ColumnNone, L"beta");
    EXPECT_TRUE(edits.empty()) << "not while the editor is closing";
    ASSERT_TRUE(PumpUntil([&] { return !edits.empty(); }));
    EXPECT_EQ(std::vector<PLazyNode>{gamma}, edits);
    EXPECT_EQ(gamma, tree.FocusedNode());
    EXPECT_TRUE(DirExistsW(folder / L"gamma"));
    tree.CancelEditNode();

    // The nodes rebuilt before the message arrives: the item's new node is edited.
    edits.clear();
    tree.SetText(gamma, ColumnNone, L"beta");
    tree.RebuildTree();
    ASSERT_TRUE(PumpUntil([&] { return !edits.empty(); }));
    EXPECT_EQ(L"gamma", Name(edits.front()));
    tree.CancelEditNode();

    // A message that is not one of ours is dropped.
    edits.clear();
    static char notAList[] = "xxxx";
    ::PostMessageW(tree.Handle(), WM_LETRENAMEFAILED, reinterpret_cast<WPARAM>(notAList), 0);
    PumpUntil([] { return false; }, 5);
    EXPECT_TRUE(edits.empty());
}

TEST_F(ExplorerVerbs, NewFolderTakesTheNextFreeNumberAndStartsEditingIt) {
    PIDLPtr parent(PathToPIDL(folder.Path()));
    std::wstring name;
    ASSERT_TRUE(tree.CreateNewFolder(parent.get(), L"", name));
    EXPECT_EQ(L"New Folder (1)", name);
    EXPECT_TRUE(DirExistsW(folder / L"New Folder (1)"));
    EXPECT_TRUE(tree.IsEditing());
    EXPECT_EQ(L"New Folder (1)", Name(tree.FocusedNode()));
    EXPECT_EQ(1u, tree.SelectedCount());
    tree.CancelEditNode();
    ASSERT_TRUE(tree.CreateNewFolder(parent.get(), L"New Folder", name));
    EXPECT_EQ(L"New Folder (2)", name);
    tree.CancelEditNode();
    int folders = 0;
    for (PLazyNode run = tree.GetFirstChild(tree.GetFirst()); run; run = tree.GetNextSibling(run))
        folders += Name(run).rfind(L"New Folder", 0) == 0;
    EXPECT_EQ(3, folders) << "each folder has one node";

    PIDLPtr file(PathToPIDL(folder / L"note.txt"));
    EXPECT_FALSE(tree.CreateNewFolder(file.get(), L"", name));
    EXPECT_TRUE(name.empty());
    tree.TreeOptions().SetMiscOptions(tree.TreeOptions().MiscOptions() - toEditable);
    EXPECT_THROW(tree.CreateNewFolder(parent.get(), L"", name), EAssertionFailed);
    EXPECT_FALSE(DirExistsW(folder / L"New Folder (3)"));
}

TEST(ExplorerContextMenu, TheShortcutItemGoesWithTheSeparatorItWouldLeaveLastOrDoubled) {
    // '-' is a separator; other letters are items with that verb.
    struct Case {
        std::vector<std::wstring> before, after;
    };
    const Case cases[] = {
        {{L"open", L"-", L"link", L"-", L"properties"}, {L"open", L"-", L"properties"}},
        {{L"open", L"-", L"link"}, {L"open"}},
        {{L"open", L"-", L"link", L"delete"}, {L"open", L"-", L"delete"}},
        {{L"link", L"-", L"open"}, {L"-", L"open"}},
        {{L"open", L"LINK", L"link"}, {L"open", L"link"}},
        {{L"open", L"-", L"delete"}, {L"open", L"-", L"delete"}},
    };
    for (const Case& c : cases) {
        MenuHandle menu(::CreatePopupMenu());
        std::map<UINT, std::wstring> verbs;
        UINT id = 1;
        for (const std::wstring& item : c.before) {
            if (item == L"-") {
                ::AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
            } else {
                verbs[id] = item;
                ::AppendMenuW(menu.get(), MF_STRING, id++, item.c_str());
            }
        }
        bool removed = RemoveContextMenuShortCut(menu.get(), [&](UINT i) { return verbs[i]; });
        std::vector<std::wstring> after;
        for (int i = 0; i < ::GetMenuItemCount(menu.get()); ++i) {
            UINT itemId = ::GetMenuItemID(menu.get(), i);
            after.push_back(itemId == 0 ? L"-" : verbs[itemId]);
        }
        EXPECT_EQ(c.after, after) << c.before.size();
        EXPECT_EQ(c.before.size() != c.after.size(), removed);
    }
}

TEST_F(ExplorerVerbs, TheContextMenuShowsNoShortcutItemWhenAskedToRemoveIt) {
    // The shell's own menu of the item has a shortcut item to remove.
    auto item = TNamespace::CreateFromFileName(folder / L"beta");
    auto parentItem = TNamespace::CreateFromFileName(folder.Path());
    std::vector<std::wstring> verbs;
    TNamespace::TContextMenuHooks hooks;
    hooks.OnShow = [&](HMENU menu, const std::function<std::wstring(UINT)>& verbOf) {
        for (int i = 0; i < ::GetMenuItemCount(menu); ++i) verbs.push_back(verbOf(::GetMenuItemID(menu, i)));
        return false;
    };
    TNamespace child(PIDLManager()->CopyPIDL(TPIDLManager::GetPointerToLastID(item->AbsolutePIDL())),
                     parentItem.get());
    child.ShowContextMenu(tree.Handle(), POINT{0, 0}, TNamespaceArray{&child}, nullptr, hooks);
    ASSERT_NE(verbs.end(), std::find(verbs.begin(), verbs.end(), L"link")) << "the shell offers a shortcut";

    std::vector<std::vector<std::wstring>> shown;
    tree.OnContextMenuShow = [&](TCustomLazyExplorerTree*, TNamespace*, HMENU menu, bool& allow) {
        std::vector<std::wstring> texts;
        for (int i = 0; i < ::GetMenuItemCount(menu); ++i) {
            wchar_t text[128] = {};
            ::GetMenuStringW(menu, UINT(i), text, 128, MF_BYPOSITION);
            texts.push_back(text);
        }
        shown.push_back(texts);
        allow = false;
    };
    SetMisc(toRemoveContextMenuShortCut, false);
    EXPECT_FALSE(tree.ShowShellContextMenu(Child(L"beta"), POINT{10, 10}));
    SetMisc(toRemoveContextMenuShortCut, true);
    EXPECT_FALSE(tree.ShowShellContextMenu(Child(L"beta"), POINT{10, 10}));
    ASSERT_EQ(2u, shown.size());
    size_t linkAt = size_t(std::find(verbs.begin(), verbs.end(), L"link") - verbs.begin());
    ASSERT_LT(linkAt, shown[0].size());
    std::wstring linkText = shown[0][linkAt];
    EXPECT_FALSE(linkText.empty());
    EXPECT_EQ(shown[1].end(), std::find(shown[1].begin(), shown[1].end(), linkText));
    EXPECT_GE(shown[0].size() - shown[1].size(), 1u);
    EXPECT_LE(shown[0].size() - shown[1].size(), 2u);
    // The tree's own items join as one submenu under their caption.
    TMenuItem own, first, second;
    first.SetCaption("First");
    second.SetCaption("Second");
    own.Add(&first);
    own.Add(&second);
    own.SetCaption("kept");
    tree.ShellContextSubMenu = &own;
    tree.ShellContextSubMenuCaption = L"Korvane";
    HMENU sub = nullptr;
    int subCount = 0;
    tree.OnContextMenuShow = [&](TCustomLazyExplorerTree*, TNamespace*, HMENU menu, bool& allow) {
        int last = ::GetMenuItemCount(menu) - 1;
        wchar_t text[64] = {};
        ::GetMenuStringW(menu, UINT(last), text, 64, MF_BYPOSITION);
        shown.push_back({text});
        sub = ::GetSubMenu(menu, last);
        subCount = sub ? ::GetMenuItemCount(sub) : 0;
        allow = false;
    };
    tree.ShowShellContextMenu(Child(L"beta"), POINT{10, 10});
    EXPECT_EQ(std::vector<std::wstring>{L"Korvane"}, shown.back());
    EXPECT_EQ(2, subCount);
    EXPECT_EQ("kept", own.Caption());
    EXPECT_EQ(nullptr, own.ParentItem());
    tree.ShellContextSubMenu = nullptr;
}

TEST_F(ExplorerVerbs, ADoubleClickOpensTheItemUnlessTheEventRefuses) {
    tree.RecordExecute = true;
    SetMisc(toExecuteOnDblClk, true);
    std::vector<std::pair<std::wstring, TMouseButton>> clicks;
    tree.OnTreeDblClick = [&](TCustomLazyExplorerTree*, PLazyNode node, TMouseButton button, POINT) {
        clicks.push_back({Name(node), button});
    };
    Select({L"note.txt"});
    RECT r = tree.GetDisplayRect(Child(L"note.txt"), ColumnNone, true);
    LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    auto doubleClick = [&] {
        ::SendMessageW(tree.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, at);
        ::SendMessageW(tree.Handle(), WM_LBUTTONUP, 0, at);
        ::SendMessageW(tree.Handle(), WM_LBUTTONDBLCLK, MK_LBUTTON, at);
        ::SendMessageW(tree.Handle(), WM_LBUTTONUP, 0, at);
    };
    doubleClick();
    EXPECT_EQ(std::vector<std::wstring>{L"note.txt"}, tree.Executed);
    ASSERT_EQ(1u, clicks.size());
    EXPECT_EQ(L"note.txt", clicks[0].first);
    EXPECT_EQ(mbLeft, clicks[0].second);

    tree.OnShellExecute = [](TCustomLazyExplorerTree*, TNamespace*, std::wstring&, std::wstring&, bool& allow) {
        allow = false;
    };
    doubleClick();
    EXPECT_EQ(1u, tree.Executed.size());
    EXPECT_EQ(2u, clicks.size());

    // A folder is browsed, not handed to the shell, while the tree browses folders.
    tree.RecordExecute = false;
    TNamespace* alpha;
    ASSERT_TRUE(tree.ValidateNamespace(Child(L"alpha"), alpha));
    SetMisc(toBrowseExecuteFolder, true);
    EXPECT_FALSE(tree.ShellExecuteNamespace(alpha, L"", L""));
}

TEST_F(ExplorerVerbs, FoldersAndFilesTakeTheirColoursExceptWhenSelectedOrSwitchedOff) {
    EXPECT_EQ(TColor(0xFF0000), tree.LETColors().CompressedTextColor());
    EXPECT_EQ(clBlack, tree.LETColors().FolderTextColor());
    tree.LETColors().SetFolderTextColor(clGreen);
    tree.LETColors().SetFileTextColor(clMaroon);
    tree.ClearSelection();
    auto colour = [&](const wchar_t* name) {
        TCanvas canvas;
        canvas.Font.SetColor(clGray);
        tree.DoPaintText(canvas, Child(name), ColumnNone, ttNormal);
        return canvas.Font.Color();
    };
    EXPECT_EQ(clGreen, colour(L"alpha"));
    EXPECT_EQ(clMaroon, colour(L"note.txt"));
    Select({L"alpha"});
    EXPECT_EQ(clGray, colour(L"alpha"));
    tree.ClearSelection();
    auto folderOptions = tree.TreeOptions().LETFolderOptions();
    tree.TreeOptions().SetLETFolderOptions(folderOptions + toNoUseLETColorsProp);
    EXPECT_EQ(clGray, colour(L"note.txt"));
}

TEST_F(ExplorerVerbs, F3ReadsANodeAgainAndKeepsTheFoldersExpandedDeepBelowIt) {
    shelltest::MakeDir(folder / L"alpha\\inner\\deep");
    tree.RefreshTree(false);
    PLazyNode alpha = Child(L"alpha");
    tree.SetExpanded(alpha, true);
    PLazyNode inner = tree.GetFirstChild(alpha);
    ASSERT_EQ(L"inner", Name(inner));
    tree.SetExpanded(inner, true);
    ASSERT_EQ(1u, tree.ChildCount(inner));
    shelltest::MakeDir(folder / L"gamma");   // what the refresh must show
    tree.ClearSelection();
    tree.SetSelected(tree.GetFirst(), true);
    tree.SetFocusedNode(tree.GetFirst());
    WORD key = VK_F3;
    tree.HandleKeyDown(key, 0);
    EXPECT_EQ(0, key);
    ASSERT_NE(nullptr, Child(L"gamma")) << "the node was read again";
    alpha = Child(L"alpha");
    ASSERT_NE(nullptr, alpha);
    EXPECT_TRUE(tree.Expanded(alpha));
    inner = tree.GetFirstChild(alpha);
    ASSERT_EQ(L"inner", Name(inner));
    EXPECT_TRUE(tree.Expanded(inner)) << "a folder expanded two levels down stays expanded";
    EXPECT_EQ(L"deep", Name(tree.GetFirstChild(inner)));
    EXPECT_TRUE(tree.Selected(tree.GetFirst()));
    EXPECT_EQ(tree.GetFirst(), tree.FocusedNode());
}

// The shell of these machines gives no info tips: the item's folder is a seam that does.
TEST_F(ExplorerVerbs, AMouseRestingOnANodeShowsTheShellsInfoTip) {
    auto options = std::make_shared<shelltest::TFolderOptions>();
    options->QueryInfo = true;
    options->InfoTip = L"a tip of the shell";
    PLazyNode node = tree.AddCustomNode(tree.GetFirst(), new shelltest::TSeamFolder(folder / L"note.txt", options), false);
    tree.TreeOptions().SetLETShellOptions(tree.TreeOptions().LETShellOptions() + toShellHints);
    tree.ShowHint = true;
    tree.HintAnimation = hatNone;
    tree.ScrollIntoView(node, false, false);
    ::UpdateWindow(tree.Handle());
    RECT r = tree.GetDisplayRect(node, ColumnNone, true);
    POINT p{r.left + 2, (r.top + r.bottom) / 2}, screen = p, before{};
    ::ClientToScreen(tree.Handle(), &screen);
    ::GetCursorPos(&before);
    // Windows of other tests may lie above: the tree must be what the mouse is on.
    for (HWND w : {shelltest::ShownForm().Handle(), tree.Handle()})
        ::SetWindowPos(w, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ::SetForegroundWindow(shelltest::ShownForm().Handle());
    ASSERT_EQ(tree.Handle(), ::WindowFromPoint(screen));
    ::SetCursorPos(screen.x, screen.y);
    HintManager().HintPause = 10;
    ::SendMessageW(tree.Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(p.x, p.y));
    PumpUntil([] { return HintManager().HintWindow() != nullptr; });
    auto* window = dynamic_cast<TLazyTreeHintWindow*>(HintManager().HintWindow());
    PLazyNode hinted = window ? window->HintData().Node : nullptr;
    std::wstring text = window ? window->HintData().HintText : L"(no hint came)";
    HintManager().CancelHint();
    HintManager().HintPause = 500;
    ::SetCursorPos(before.x, before.y);
    EXPECT_EQ(node, hinted);
    EXPECT_EQ(L"a tip of the shell", text);
}

TEST_F(ExplorerVerbs, ARightClickLeavesALinkedListViewWhereItWasUnderTheMenu) {
    TLazyExplorerListview list;
    list.SetParent(&shelltest::ShownForm());
    list.SetBounds(0, 300, 300, 200);
    list.HandleNeeded();
    list.TreeOptions().SetLETMiscOptions(list.TreeOptions().LETMiscOptions() - toChangeNotifierThread);
    tree.SetLazyExplorerListview(&list);
    auto listRoot = [&] {
        return list.RootFolderNamespace() ? list.RootFolderNamespace()->NameInFolder() : std::wstring(L"(none)");
    };
    Select({L"alpha"});
    ASSERT_EQ(L"alpha", listRoot());
    std::vector<std::wstring> rootsUnderMenu;
    tree.OnContextMenuShow = [&](TCustomLazyExplorerTree*, TNamespace*, HMENU, bool& allow) {
        rootsUnderMenu.push_back(listRoot());
        allow = false;
    };
    auto rightClick = [&](const wchar_t* name) {
        RECT r = tree.GetDisplayRect(Child(name), ColumnNone, true);
        POINT p{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
        ::SendMessageW(tree.Handle(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(p.x, p.y));
        ::SendMessageW(tree.Handle(), WM_RBUTTONUP, 0, MAKELPARAM(p.x, p.y));
    };
    rightClick(L"beta");
    EXPECT_EQ(std::vector<std::wstring>{L"alpha"}, rootsUnderMenu);
    EXPECT_EQ(L"alpha", listRoot()) << "the selection came back";
    // Kept by toRightButtonSelect, the new selection is followed once the menu is gone.
    SetMisc(toRightButtonSelect, true);
    rightClick(L"beta");
    EXPECT_EQ((std::vector<std::wstring>{L"alpha", L"alpha"}), rootsUnderMenu);
    EXPECT_EQ(L"beta", listRoot());
    tree.SetLazyExplorerListview(nullptr);
}

} // namespace
