// A live explorer tree with the main window's folder-tree options, a few
// folders expanded and a tick set, for a person or a screenshot. Closes by
// itself after the seconds given on the command line (default 20).
#include "BenchUtil.h"
#include "shell/explorer/LazyExplorerTree.h"
#include "shell/base/ShellUtils.h"
#include "framework/Forms.h"
#include <cstdlib>
#include <string>

using namespace krv;

namespace {
PLazyNode ChildNamed(TLazyExplorerTreeview& tree, PLazyNode node, const std::wstring& parseName) {
    for (PLazyNode run = tree.GetFirstChild(node); run; run = tree.GetNextSibling(run)) {
        TNamespace* ns = nullptr;
        if (tree.ValidateNamespace(run, ns) && _wcsicmp(ns->NameForParsing().c_str(), parseName.c_str()) == 0)
            return run;
    }
    return nullptr;
}
} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR cmdLine, int) {
    ::CoInitialize(nullptr);
    TShellUtilitiesScope shell;
    int seconds = cmdLine && *cmdLine ? std::atoi(cmdLine) : 20;
    TForm form;
    form.SetCaption("Explorer tree");
    form.SetBounds(40, 40, 360, 520);
    TLazyExplorerTreeview tree;
    tree.SetParent(&form);
    tree.SetAlign(alClient);
    auto& o = tree.TreeOptions();
    o.SetAutoOptions({toAutoScroll});
    o.SetMiscOptions({toToggleOnDblClick, toCheckSupport});
    o.SetSelectionOptions({toRightClickSelect, toSiblingSelectConstraint});
    o.SetLETFolderOptions({toFoldersExpandable, toForceHideRecycleBin});
    o.SetLETShellOptions({});
    o.SetLETMiscOptions({toRemoveContextMenuShortCut, toBrowseExecuteFolderShortcut, toBrowseExecuteFolder});
    o.SetLETImageOptions({toImages, toThreadedImages});
    tree.SetCheckImageKind(ckDarkTick);
    tree.SetRootFolder(rfDrives);
    tree.OnInitNode = [](TBaseLazyTree* t, PLazyNode, PLazyNode node, TLazyNodeInitStates&) {
        t->SetCheckType(node, ctTriStateCheckBox);
    };
    tree.OnEnumFolder = [](TCustomLazyExplorerTree*, TNamespace* ns, bool& allow) {
        allow = ns->FileSystem() || ns->IsMyComputer();
    };
    form.Show();
    tree.SetActive(true);
    PLazyNode top = tree.GetFirst();
    if (PLazyNode c = ChildNamed(tree, top, L"C:\\")) {
        tree.SetExpanded(c, true);
        if (PLazyNode windows = ChildNamed(tree, c, L"C:\\windows")) {
            tree.SetExpanded(windows, true);
            if (PLazyNode fonts = ChildNamed(tree, windows, L"C:\\windows\\Fonts")) tree.SetCheckState(fonts, csCheckedNormal);
            tree.SetSelected(windows, true);
            tree.SetFocusedNode(windows);
        }
    }
    if (PLazyNode k = ChildNamed(tree, top, L"K:\\")) tree.SetExpanded(k, true);
    bench::RunMessagesFor(seconds);
    return 0;
}
