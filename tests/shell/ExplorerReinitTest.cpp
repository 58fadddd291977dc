// Re-initialised and re-read explorer tree nodes, and what the list view
// hands to the shell when it browses nowhere.
#include "CountingFolder.h"
#include "common/FreedMemoryTrap.h"
#include "ShellTestUtil.h"
#include "shell/explorer/LazyExplorerListview.h"
#include "shell/explorer/LazyExplorerViews.h"
#include "shell/explorer/LazyCheckStorage.h"
#include "shell/item/LazyIconThread.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/WideStrUtils.h"
#include "framework/Forms.h"
#include <gtest/gtest.h>
#include <functional>
#include <stdexcept>

using namespace krv;

namespace {
TNamespace* Ns(TCustomLazyExplorerTree& t, PLazyNode node) {
    TNamespace* ns = nullptr;
    return t.ValidateNamespace(node, ns) ? ns : nullptr;
}

// A list view that records what it would ask the shell to open.
class TOpeningList : public TLazyExplorerListview {
public:
    std::wstring Opened;
    bool Folders = false, FolderLinks = false;
protected:
    bool ShellExecuteItem(TNamespace* ns, const std::wstring&, const std::wstring&, bool f, bool l) override {
        Opened = ns->NameForParsing();
        Folders = f, FolderLinks = l;
        return true;
    }
};

template <class Tree> void Start(Tree& t, const std::function<void()>& root, bool checks = false) {
    t.TreeOptions().SetLETImageOptions({});
    if (checks) t.TreeOptions().SetMiscOptions(t.TreeOptions().MiscOptions() + toCheckSupport);
    t.SetParent(&shelltest::ShownForm());
    t.SetBounds(0, 0, 300, 200);
    t.HandleNeeded();
    root();
    t.SetActive(true);
}
} // namespace

TEST(ExplorerReinit, NodesReinitialisedOrReReadAndItemsOpenedAsTheOptionsSay) {
    TShellUtilitiesScope shell;
    shelltest::TempFolder dir{L"krv_reinit"};
    for (const wchar_t* d : {L"a", L"a\\a1", L"b", L"arch.zip", L"deep", L"deep\\d2", L"deep\\d2\\d3", L"x", L"x\\c",
                             L"x\\c2"})
        shelltest::MakeDir(dir / d);
    shelltest::LinkFields link;
    link.target = dir / L"b";
    shelltest::WriteLink(dir / L"to b.lnk", link);
    // Whether the list view lets the shell open name as a folder (or folder link) without option o.
    auto opens = [&](const wchar_t* name, TLETMiscOption o, bool TOpeningList::*allowed) {
        TOpeningList list;
        list.TreeOptions().SetLETMiscOptions(
            TLETMiscOptions{toBrowseExecuteFolder, toBrowseExecuteFolderShortcut, toBrowseExecuteZipFolder} -
            TLETMiscOptions{o});
        Start(list, [&] { list.SetRootFolderCustomPath(dir.Path()); });
        for (PLazyNode run = list.GetFirstChild(nullptr); run; run = list.GetNextSibling(run))
            if (StrICompW(Ns(list, run)->NameForParsing().c_str(), (dir / name).c_str()) == 0) list.ExecuteNode(run);
        return StrICompW(list.Opened.c_str(), (dir / name).c_str()) == 0 && list.*allowed;
    };
    // A row on a fresh tree over dir with check boxes, listing objects, made as far as the top node's children.
    auto checked = [&](TFileObjects objects, std::function<bool(TLazyExplorerTreeview&, PLazyNode top)> row) {
        return [&dir, objects, row] {
            TLazyExplorerTreeview tree;
            tree.SetFileObjects(objects);
            Start(tree, [&] { tree.SetRootFolderCustomPath(dir.Path()); }, true);
            return row(tree, tree.GetFirst());
        };
    };
    shelltest::TFaultRow rows[] = {
        {"a shown global view leaves no child of the top node at its freed item",
         [&] {
             TLazyExplorerTreeview tree;
             tree.TreeOptions().SetMiscOptions(tree.TreeOptions().MiscOptions() + toCheckSupport);
             Start(tree, [&] { tree.SetRootFolderCustomPath(dir.Path()); });
             TGlobalViewManager views;
             views.Snapshot(L"saved", tree);
             krv::test::TFreedMemoryTrap trap;
             views.ShowView(L"saved", tree);
             PLazyNode top = tree.GetFirst();
             bool sound = top->FirstChild != nullptr;
             for (PLazyNode run = top->FirstChild; run; run = run->NextSibling)
                 sound = sound && Ns(tree, run)->Parent() == Ns(tree, top);
             return sound;
         }},
        {"a shown global view reads no folder it did not expand",
         checked({foFolders, foHidden}, [&](TLazyExplorerTreeview& tree, PLazyNode top) {
             auto* deep = new shelltest::TSeamFolder(dir / L"deep");
             PLazyNode node = tree.AddCustomNode(top, deep, false);
             TGlobalViewManager views;
             views.Snapshot(L"saved", tree);
             int read = deep->Calls("EnumObjects");
             views.ShowView(L"saved", tree);
             return deep->Calls("EnumObjects") == read && node->ChildCount == 0;
         })},
        {"a shown global view unticks a made node its storage holds no tick for",
         checked({foFolders, foHidden}, [&](TLazyExplorerTreeview& tree, PLazyNode) {
             TGlobalViewManager views;
             views.Snapshot(L"saved", tree);
             PLazyNode a = tree.WalkToPath(dir / L"a", false);
             tree.SetCheckState(a, csCheckedNormal);
             views.ShowView(L"saved", tree);
             return tree.CheckState(a) == csUncheckedNormal && tree.GetStorage()->GetCheckedPaths().Count() == 0;
         })},
        {"a re-read keeps a node added for an item of another folder, and its tick",
         checked({foFolders, foHidden}, [&](TLazyExplorerTreeview& tree, PLazyNode top) {
             PLazyNode custom = tree.AddCustomNode(top, TNamespace::CreateFromFileName(dir / L"a\\a1").release(), true,
                                                   ctTriStateCheckBox);
             tree.SetCheckState(custom, csCheckedNormal);
             tree.ReReadAndRefreshNode(top);
             bool kept = false;
             for (PLazyNode run = top->FirstChild; run; run = run->NextSibling)
                 kept = kept || StrICompW(Ns(tree, run)->NameForParsing().c_str(), (dir / L"a\\a1").c_str()) == 0;
             return kept && tree.GetStorage()->GetCheckedPaths().Count() > 0;
         })},
        {"a re-read keeps the tick of an item the listing no longer shows but that exists",
         checked({foFolders}, [&](TLazyExplorerTreeview& tree, PLazyNode top) {
             tree.SetCheckState(tree.WalkToPath(dir / L"b", false), csCheckedNormal);
             ::SetFileAttributesW((dir / L"b").c_str(), FILE_ATTRIBUTE_HIDDEN);
             tree.ReReadAndRefreshNode(top);
             ::SetFileAttributesW((dir / L"b").c_str(), FILE_ATTRIBUTE_NORMAL);
             return !tree.FindNodeByPath(dir / L"b") && tree.GetStorage()->GetCheckedPaths().Count() > 0;
         })},
        {"the children of a folder renamed in the tree are ticked and listed under its new name",
         checked({foFolders, foHidden}, [&](TLazyExplorerTreeview& tree, PLazyNode) {
             PLazyNode c = tree.WalkToPath(dir / L"x\\c", false), c2 = tree.WalkToPath(dir / L"x\\c2", false);
             tree.SetCheckState(c2, csCheckedNormal);
             tree.SetText(c->Parent, ColumnNone, L"y");
             tree.SetCheckState(c, csCheckedNormal);
             const std::string paths = tree.GetStorage()->GetCheckedPaths().Text(), y = WideToAnsi(dir / L"y");
             tree.SetText(c->Parent, ColumnNone, L"x");
             return paths == y + "\\c\r\n" + y + "\\c2\r\n";
         })},
        {"a folder renamed only in letter case gives its ticked children the new spelling",
         checked({foFolders, foHidden}, [&](TLazyExplorerTreeview& tree, PLazyNode top) {
             auto options = std::make_shared<shelltest::TFolderOptions>();
             options->TwoStepRenames = true;
             PLazyNode x = tree.AddCustomNode(top, new shelltest::TSeamFolder(dir / L"x", options), false);
             tree.ReinitNode(x, false);
             PLazyNode c = tree.GetFirstChild(x);
             if (!c) return false;
             tree.SetCheckState(c, csCheckedNormal);
             tree.SetText(x, ColumnNone, L"X");
             const std::string paths = tree.GetStorage()->GetCheckedPaths().Text();
             const std::wstring item = Ns(tree, c)->NameForParsing();
             tree.SetText(x, ColumnNone, L"x");
             return paths == WideToAnsi(dir / L"X\\c") + "\r\n" && item == dir / L"X\\c";
         })},
        {"a folder renamed while its children's icons are asked for leaves no request at their freed items",
         checked({foFolders, foHidden}, [&](TLazyExplorerTreeview& tree, PLazyNode) {
             tree.TreeOptions().SetLETImageOptions({toImages, toThreadedImages});
             PLazyNode x = tree.WalkToPath(dir / L"x\\c", false)->Parent;
             tree.SetExpanded(x, true);
             ImageThreadManager().LockThread();   // the thread answers nothing meanwhile
             for (PLazyNode run = x->FirstChild; run; run = run->NextSibling) Ns(tree, run)->Invalidate(true);
             tree.Repaint();   // asks for the children's icons again
             const bool asked = Ns(tree, x->FirstChild)->ThreadIconLoading();
             auto trap = std::make_unique<krv::test::TFreedMemoryTrap>();
             tree.SetText(x, ColumnNone, L"y");
             tree.SetExpanded(x, false);   // drops the requests the tree still has queued
             const bool untouched = trap->Untouched();
             trap.reset();
             ImageThreadManager().UnlockThread();
             tree.SetText(x, ColumnNone, L"x");
             return asked && untouched;
         })},
        {"an icon answered while the re-initialised top node drops its request gets its row repainted",
         checked({foFolders, foHidden}, [&](TLazyExplorerTreeview& tree, PLazyNode top) {
             tree.TreeOptions().SetLETImageOptions({toImages, toThreadedImages});
             PLazyNode a = tree.GetFirstChild(top);
             for (PLazyNode n : {top, a}) Ns(tree, n)->Invalidate(true);
             tree.Repaint();   // asks for both icons; their answers are posted, and not read, below
             auto posted = [] {
                 bool empty = ImageThreadManager().LockThread()->empty();
                 ImageThreadManager().UnlockThread();
                 return empty;
             };
             for (int i = 0; i < 600 && !posted(); ++i) ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_POSTMESSAGE);
             ::ValidateRect(tree.Handle(), nullptr);
             tree.ReinitNode(top, false);   // reads the answers waiting, then drops the top node's request
             RECT row = tree.GetDisplayRect(a, ColumnNone, false);
             RegionHandle due(::CreateRectRgn(0, 0, 0, 0));
             ::GetUpdateRgn(tree.Handle(), due.get(), FALSE);
             return Ns(tree, a)->ThreadedIconLoaded() && ::RectInRegion(due.get(), &row);
         })},
        {"a re-read of the desktop keeps the Recycle Bin hidden",
         [&] {
             TLazyExplorerTreeview tree;
             tree.TreeOptions().SetLETFolderOptions({toFoldersExpandable, toForceHideRecycleBin});
             Start(tree, [&] { tree.SetRootFolder(rfDesktop); });
             tree.ReReadAndRefreshNode(tree.GetFirst());
             bool sound = RecycleBinFolder != nullptr;
             for (PLazyNode run = tree.GetFirst()->FirstChild; run; run = run->NextSibling)
                 sound = sound && !Ns(tree, run)->IsRecycleBin();
             return sound;
         }},
        {"a folder not browsed into goes to the shell as a folder",
         [&] { return opens(L"a", toBrowseExecuteFolder, &TOpeningList::Folders); }},
        {"a zip folder not browsed into goes to the shell as a folder",
         [&] { return opens(L"arch.zip", toBrowseExecuteZipFolder, &TOpeningList::Folders); }},
        {"a folder shortcut not followed goes to the shell as a folder shortcut",
         [&] { return opens(L"to b.lnk", toBrowseExecuteFolderShortcut, &TOpeningList::FolderLinks); }},
        {"a handler that throws in a re-read or a browse leaves no update open",
         checked({foFolders, foHidden}, [&](TLazyExplorerTreeview& tree, PLazyNode top) {
             tree.OnEnumFolder = [](TCustomLazyExplorerTree*, TNamespace*, bool&) { throw std::runtime_error("stop"); };
             shelltest::MakeDir(dir / L"new");
             auto throwsAndCloses = [&](const std::function<void()>& step) {
                 try {
                     step();
                 } catch (const std::runtime_error&) {
                     return tree.UpdateCount() == 0;
                 }
                 return false;
             };
             const bool sound = throwsAndCloses([&] { tree.ReReadAndRefreshNode(top); }) &&
                                throwsAndCloses([&] { tree.BrowseToPath(dir / L"a\\a1", true, true, false, false); });
             ::RemoveDirectoryW((dir / L"new").c_str());
             return sound;
         })},
    };
    for (auto& row : rows) EXPECT_TRUE(row.sound()) << row.name;
}
