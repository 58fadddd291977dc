// Re-initialising and re-reading the explorer tree's nodes, and what the
// list view hands to the shell when it browses nowhere: each row a fault
// that once slipped through.
#include "FreedMemoryTrap.h"
#include "ShellTestUtil.h"
#include "shell/explorer/LazyExplorerListview.h"
#include "shell/explorer/LazyExplorerTree.h"
#include "shell/explorer/LazyExplorerViews.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/WideStrUtils.h"
#include "framework/SysUtils.h"
#include "framework/Forms.h"
#include <gtest/gtest.h>
#include <functional>
#include <string>

using namespace krv;

namespace {

void Show(TCustomLazyExplorerTree& t) {
    t.SetParent(&shelltest::ShownForm());
    t.SetBounds(0, 0, 300, 200);
    t.HandleNeeded();
}

std::wstring LastName(const std::wstring& path) { return path.substr(path.find_last_of(L'\\') + 1); }

TNamespace* Ns(TCustomLazyExplorerTree& t, PLazyNode node) {
    TNamespace* ns = nullptr;
    return t.ValidateNamespace(node, ns) ? ns : nullptr;
}

// A list view that records what it asks the shell to open instead of opening it.
class TOpeningList : public TLazyExplorerListview {
public:
    std::wstring Opened;
    bool FolderAllowed = false, FolderShortcutAllowed = false;
protected:
    bool ShellExecuteItem(TNamespace* ns, const std::wstring&, const std::wstring&, bool execFolder,
                          bool execFolderShortcut) override {
        Opened = LastName(ns->NameForParsing());
        FolderAllowed = execFolder;
        FolderShortcutAllowed = execFolderShortcut;
        return true;
    }
};

// What the list view opens of name with the given options: "" when it browsed.
std::wstring ListOpens(const shelltest::TempFolder& folder, const std::wstring& name, TLETMiscOptions options,
                       bool& folderAllowed, bool& shortcutAllowed) {
    TOpeningList list;
    list.TreeOptions().SetLETImageOptions({});
    list.TreeOptions().SetLETMiscOptions(options);
    Show(list);
    list.SetRootFolderCustomPath(folder.Path());
    list.SetActive(true);
    for (PLazyNode run = list.GetFirstChild(nullptr); run; run = list.GetNextSibling(run)) {
        if (StrICompW(LastName(Ns(list, run)->NameForParsing()).c_str(), name.c_str()) != 0) continue;
        list.ExecuteNode(run);
        folderAllowed = list.FolderAllowed;
        shortcutAllowed = list.FolderShortcutAllowed;
        return list.Opened;
    }
    return L"(no row " + name + L")";
}

} // namespace

TEST(ExplorerReinit, NodesReinitialisedOrReReadAndItemsOpenedAsTheOptionsSay) {
    TShellUtilitiesScope shell;
    shelltest::TempFolder folder{L"krv_reinit"};
    for (const wchar_t* dir : {L"a", L"a\\a1", L"b", L"arch.zip"}) shelltest::MakeDir(folder / dir);
    shelltest::LinkFields link;
    link.target = folder / L"b";
    shelltest::WriteLink(folder / L"to b.lnk", link);
    auto allBut = [](TLETMiscOption o) {
        return TLETMiscOptions{toBrowseExecuteFolder, toBrowseExecuteFolderShortcut, toBrowseExecuteZipFolder} -
               TLETMiscOptions{o};
    };

    struct Row {
        const char* name;
        std::function<std::string()> fault;   // empty when sound
    } rows[] = {
        {"a shown global view leaves no child of the top node at its freed item",
         [&]() -> std::string {
             TLazyExplorerTreeview tree;
             tree.TreeOptions().SetMiscOptions(tree.TreeOptions().MiscOptions() + toCheckSupport);
             Show(tree);
             tree.SetRootFolderCustomPath(folder.Path());
             tree.SetActive(true);
             PLazyNode top = tree.GetFirst();
             if (!top || !top->FirstChild) return "the top node has no children";
             TGlobalViewManager views;
             views.Snapshot(L"saved", tree);
             shelltest::TFreedMemoryTrap trap;
             views.ShowView(L"saved", tree);
             TNamespace* item = Ns(tree, tree.GetFirst());
             for (PLazyNode run = tree.GetFirst()->FirstChild; run; run = run->NextSibling)
                 if (Ns(tree, run)->Parent() != item) return "a child's parent is not the top node's item";
             return "";
         }},
        {"a re-read of the desktop keeps the Recycle Bin hidden",
         [&]() -> std::string {
             if (!RecycleBinFolder) return "the system has no Recycle Bin";
             TLazyExplorerTreeview tree;
             tree.TreeOptions().SetLETFolderOptions({toFoldersExpandable, toForceHideRecycleBin});
             Show(tree);
             tree.SetRootFolder(rfDesktop);
             tree.SetActive(true);
             PLazyNode top = tree.GetFirst();
             tree.ReReadAndRefreshNode(top);
             for (PLazyNode run = top->FirstChild; run; run = run->NextSibling)
                 if (Ns(tree, run)->IsRecycleBin()) return "the Recycle Bin has a node";
             return "";
         }},
        {"a folder not browsed into goes to the shell as a folder",
         [&]() -> std::string {
             bool f = false, s = false;
             std::wstring opened = ListOpens(folder, L"a", allBut(toBrowseExecuteFolder), f, s);
             return opened == L"a" && f ? "" : "opened " + WideToAnsi(opened) + " folders " + std::to_string(f);
         }},
        {"a zip folder not browsed into goes to the shell as a folder",
         [&]() -> std::string {
             bool f = false, s = false;
             std::wstring opened = ListOpens(folder, L"arch.zip", allBut(toBrowseExecuteZipFolder), f, s);
             return opened == L"arch.zip" && f ? "" : "opened " + WideToAnsi(opened) + " folders " + std::to_string(f);
         }},
        {"a folder shortcut not followed goes to the shell as a folder shortcut",
         [&]() -> std::string {
             bool f = false, s = false;
             std::wstring opened = ListOpens(folder, L"to b.lnk", allBut(toBrowseExecuteFolderShortcut), f, s);
             return opened == L"to b.lnk" && s ? "" : "opened " + WideToAnsi(opened) + " links " + std::to_string(s);
         }},
    };
    for (auto& row : rows) EXPECT_EQ("", row.fault()) << row.name;
}
