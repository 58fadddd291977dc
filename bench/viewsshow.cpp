// Live explorer views for a person or a screenshot: "columns" shows an
// explorer tree with our detail columns over the Windows folder, sorted by
// size; "list" shows a folder tree linked with a list view, the Windows
// folder selected in the tree and so shown in the list. Closes by itself
// after the seconds given after the mode (default 20).
#include "BenchUtil.h"
#include "shell/explorer/LazyExplorerListview.h"
#include "shell/base/ShellUtils.h"
#include "framework/Forms.h"
#include <cstdlib>
#include <cstring>
#include <string>

using namespace krv;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR cmdLine, int) {
    ::CoInitialize(nullptr);
    TShellUtilitiesScope shell;
    std::string args = cmdLine ? cmdLine : "";
    bool list = args.rfind("list", 0) == 0;
    size_t blank = args.find(' ');
    int seconds = blank != std::string::npos ? std::atoi(args.c_str() + blank + 1) : 20;
    std::wstring windows = L"C:\\windows";

    TForm form;
    form.SetCaption(list ? "Explorer views" : "Explorer tree with columns");
    form.SetBounds(40, 40, 760, 480);
    TLazyExplorerTreeview tree;
    TLazyExplorerListview view;
    tree.SetParent(&form);
    if (list) {
        tree.SetBounds(0, 0, 230, 440);
        tree.SetRootFolder(rfDrives);
        view.SetParent(&form);
        view.SetBounds(234, 0, 510, 440);
        view.TreeOptions().SetLETMiscOptions(view.TreeOptions().LETMiscOptions() - toChangeNotifierThread);
    } else {
        tree.SetAlign(alClient);
        tree.SetFileObjects({foFolders, foNonFolders});
        tree.TreeOptions().SetLETShellOptions({toRightAlignSizeColumn});
        tree.SetRootFolderCustomPath(windows);
    }
    tree.TreeOptions().SetLETMiscOptions(tree.TreeOptions().LETMiscOptions() - toChangeNotifierThread);
    form.Show();
    tree.SetActive(true);
    if (list) {
        view.SetRootFolderCustomPath(L"C:\\");
        view.SetActive(true);
        tree.SetLazyExplorerListview(&view);
        tree.BrowseToPath(windows, true, true, false, true);
    } else {
        tree.SetColumnDetails(cdLETColumns);
        tree.Header().SetSortColumn(1);
        tree.SortTree(1, sdAscending, false);
        if (PLazyNode top = tree.GetFirst()) tree.SetExpanded(top, true);
    }
    bench::RunMessagesFor(seconds);
    tree.SetLazyExplorerListview(nullptr);
    return 0;
}
