// The explorer tree over the real shell: the main window's folder tree,
// filtering, drives without a medium, icons from the icon thread, stored
// check states, option setters and their rebuilds, root folders, and the
// guards of a read-only tree and of stale icon answers.
#include "ShellTestUtil.h"
#include "shell/LazyExplorerTree.h"
#include "shell/LazyIconThread.h"
#include "shell/ShellUtils.h"
#include "framework/Forms.h"
#include <gtest/gtest.h>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace krv;

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

// Answers messages until done() holds (bounded: a fault fails instead of hanging).
bool PumpUntil(const std::function<bool()>& done) {
    for (int rounds = 0; rounds < 400; ++rounds) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (done()) return true;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    return done();
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
    for (const std::wstring& name : refused) printf("refused %ls\n", name.c_str());
}

} // namespace
