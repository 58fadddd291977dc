// Re-initialised and re-read explorer tree nodes, and what the list view
// hands to the shell when it browses nowhere.
#include "FreedMemoryTrap.h"
#include "ShellTestUtil.h"
#include "shell/explorer/LazyExplorerListview.h"
#include "shell/explorer/LazyExplorerViews.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/WideStrUtils.h"
#include "framework/Forms.h"
#include <gtest/gtest.h>
#include <functional>

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

template <class Tree> void Start(Tree& t, const std::function<void()>& root) {
    t.TreeOptions().SetLETImageOptions({});
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
    for (const wchar_t* d : {L"a", L"a\\a1", L"b", L"arch.zip"}) shelltest::MakeDir(dir / d);
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
    shelltest::TFaultRow rows[] = {
        {"a shown global view leaves no child of the top node at its freed item",
         [&] {
             TLazyExplorerTreeview tree;
             tree.TreeOptions().SetMiscOptions(tree.TreeOptions().MiscOptions() + toCheckSupport);
             Start(tree, [&] { tree.SetRootFolderCustomPath(dir.Path()); });
             TGlobalViewManager views;
             views.Snapshot(L"saved", tree);
             shelltest::TFreedMemoryTrap trap;
             views.ShowView(L"saved", tree);
             PLazyNode top = tree.GetFirst();
             bool sound = top->FirstChild != nullptr;
             for (PLazyNode run = top->FirstChild; run; run = run->NextSibling)
                 sound = sound && Ns(tree, run)->Parent() == Ns(tree, top);
             return sound;
         }},
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
    };
    for (auto& row : rows) EXPECT_TRUE(row.sound()) << row.name;
}
