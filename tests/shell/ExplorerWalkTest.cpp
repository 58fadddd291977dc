// Finding, walking and browsing to nodes of the explorer tree by path and by
// list, over a scratch folder as the tree's root, with the default check
// storage behind the tree.
#include "ShellTestUtil.h"
#include "shell/explorer/LazyCheckStorage.h"
#include "shell/explorer/LazyExplorerTree.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/WideStrUtils.h"
#include "framework/Forms.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

using namespace krv;
using shelltest::MakeDir;
using shelltest::TempFolder;

namespace {
class ExplorerWalk : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartShellUtilities(); }
    static void TearDownTestSuite() { StopShellUtilities(); }
    // A folder of its own per test: the shell keeps what it learnt of a path.
    TempFolder tmp{L"walk-" + krv::AnsiToWide(::testing::UnitTest::GetInstance()->current_test_info()->name())};
    std::unique_ptr<TLazyExplorerTreeview> tree;

    void SetUp() override {
        for (auto name : {L"a", L"a\\b", L"a\\b\\c", L"e"}) MakeDir(tmp / name);
        // Enough siblings that the last one lies below the window.
        for (int i = 10; i < 50; ++i) MakeDir(tmp / (L"f" + std::to_wstring(i)));
        MakeDir(tmp / L"f49\\x");
        MakeDir(tmp / L"f49\\x\\y");
        tree = MakeTree({});
    }

    std::unique_ptr<TLazyExplorerTreeview> MakeTree(TLETFolderOptions extra) {
        auto t = std::make_unique<TLazyExplorerTreeview>();
        auto& o = t->TreeOptions();
        o.SetMiscOptions({toCheckSupport});
        o.SetLETImageOptions({});
        o.SetLETFolderOptions(TLETFolderOptions{toFoldersExpandable} + extra);
        o.SetLETSyncOptions({toSelectTarget, toExpandTarget});
        t->OnInitNode = [](TBaseLazyTree* tr, PLazyNode, PLazyNode node, TLazyNodeInitStates&) {
            tr->SetCheckType(node, ctTriStateCheckBox);
        };
        t->SetParent(&shelltest::ShownForm());
        t->SetBounds(0, 0, 340, 260);
        t->HandleNeeded();
        t->SetRootFolderCustomPath(tmp.Path());
        t->SetRootFolder(rfCustom);
        t->SetActive(true);
        return t;
    }

    std::wstring Name(PLazyNode node) {
        TNamespace* ns = nullptr;
        return tree->ValidateNamespace(node, ns) ? ns->NameForParsing() : L"(none)";
    }
    bool Is(PLazyNode node, const std::wstring& path) { return node && StrICompW(Name(node).c_str(), path.c_str()) == 0; }
};
} // namespace

TEST_F(ExplorerWalk, FindFollowsMadeNodesOnlyAndWalkMakesTheLevelsWithoutExpanding) {
    PLazyNode top = tree->GetFirst();
    ASSERT_TRUE(Is(top, tmp.Path()));
    EXPECT_EQ(tree->FindNodeByPath(tmp / L"a\\b\\c"), nullptr);

    PLazyNode c = tree->WalkToPath(tmp / L"a\\b\\c", false);
    ASSERT_TRUE(Is(c, tmp / L"a\\b\\c"));
    PLazyNode b = c->Parent, a = b->Parent;
    EXPECT_TRUE(Is(b, tmp / L"a\\b"));
    EXPECT_FALSE(tree->Expanded(a));
    EXPECT_FALSE(tree->Expanded(b));
    EXPECT_EQ(tree->GetFirstSelected(), nullptr);
    EXPECT_EQ(tree->FindNodeByPath(tmp / L"a\\b\\c"), c);
    EXPECT_EQ(tree->FindNodeByPIDL(PIDLPtr(PathToPIDL(tmp / L"a\\b")).get()), b);

    // The root folder itself is the top node, and walking there selects nothing.
    EXPECT_EQ(tree->WalkToPath(tmp.Path(), true), top);
    EXPECT_EQ(tree->GetFirstSelected(), nullptr);
}

TEST_F(ExplorerWalk, WalkWithSelectExpandsSelectsFocusesAndScrolls) {
    PLazyNode y = tree->WalkToPath(tmp / L"f49\\x\\y", true);
    ASSERT_TRUE(Is(y, tmp / L"f49\\x\\y"));
    EXPECT_TRUE(tree->Expanded(y->Parent));
    EXPECT_TRUE(tree->Expanded(y->Parent->Parent));
    EXPECT_TRUE(tree->Selected(y));
    EXPECT_EQ(tree->FocusedNode(), y);
    EXPECT_GT(-tree->OffsetY(), 0);
    EXPECT_TRUE(tree->FullyVisible(y));
    EXPECT_EQ(tree->SelectedPath(), tmp / L"f49\\x\\y");
}

// The root folder holds 42 folders, enough for walks to look its children up
// by index. Every walk, before and after the nodes were made anew (the old
// ones freed), must end on a live node of the very folder, in both orders.
TEST_F(ExplorerWalk, WalksIntoABigFolderFindEachChildAgainOnceItsNodesAreMadeAnew) {
    std::vector<std::wstring> names{L"e", L"a"};
    for (int i = 49; i >= 10; --i) names.push_back(L"f" + std::to_wstring(i));
    for (int round = 0; round < 3; ++round) {
        TPathParser parser;
        std::set<PLazyNode> found;
        for (const std::wstring& name : names) {
            PLazyNode node = tree->WalkToPIDL(PIDLPtr(parser.Parse(tmp / name)).get(), true, true);
            ASSERT_TRUE(Is(node, tmp / name)) << round << " " << WideToAnsi(name);
            found.insert(node);
        }
        EXPECT_EQ(found.size(), tree->ChildCount(tree->GetFirst()));
        std::reverse(names.begin(), names.end());
        tree->ResetNode(tree->GetFirst());
    }
}

TEST_F(ExplorerWalk, PathsThatDoNotParseOrLieOutsideTheRootGiveNothingAndChangeNothing) {
    PLazyNode e = tree->WalkToPath(tmp / L"e", true);
    ASSERT_NE(e, nullptr);
    for (const std::wstring& path : {std::wstring(L"C:\\no such folder\\at all"), std::wstring(),
                                     std::wstring(L"C:\\no such folder\\..\\**"),
                                     std::wstring(L"C:\\windows")}) {
        EXPECT_FALSE(tree->BrowseToPath(path, true, true, false, false)) << WideToAnsi(path);
        EXPECT_EQ(tree->WalkToPath(path, true), nullptr);
        EXPECT_EQ(tree->FindNodeByPath(path), nullptr);
        EXPECT_EQ(tree->FocusedNode(), e);
        EXPECT_TRUE(tree->Selected(e));
    }
    // A folder that vanished before the tree listed its parent: no level to walk to.
    PIDLPtr gone(PathToPIDL(tmp / L"a\\b\\c"));
    ASSERT_TRUE(::RemoveDirectoryW((tmp / L"a\\b\\c").c_str()));
    EXPECT_EQ(tree->WalkToPIDL(gone.get(), false, true), nullptr);
    EXPECT_NE(tree->FindNodeByPath(tmp / L"a\\b"), nullptr);
    EXPECT_EQ(tree->FindNodeByPIDL(nullptr), nullptr);
    EXPECT_EQ(tree->SelectedPath(), tmp / L"e");
}

TEST_F(ExplorerWalk, StoredStatesReachNodesMadeLater) {
    TRootNodeStorage* storage = tree->GetStorage();
    ASSERT_NE(storage, nullptr);
    TStringList paths;
    paths.Add(WideToAnsi(tmp / L"a\\b"));
    paths.Add(WideToAnsi(tmp / L"f49\\x\\y"));
    storage->SetCheckedPaths(paths);

    PLazyNode b = tree->WalkToPath(tmp / L"a\\b", false);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(tree->CheckState(b), csCheckedNormal);
    EXPECT_EQ(tree->CheckState(b->Parent), csUncheckedNormal);   // on the way, no state of its own
    PLazyNode y = tree->WalkToPath(tmp / L"f49\\x\\y", true);
    EXPECT_EQ(tree->CheckState(y), csCheckedNormal);

    // Unticking removes the record, ticking makes it anew; a rebuild keeps what is stored.
    tree->SetCheckState(b, csUncheckedNormal);
    EXPECT_EQ(storage->GetCheckedPaths().Count(), 1);
    tree->SetCheckState(b, csCheckedNormal);
    tree->SetCheckState(y, csUncheckedNormal);
    tree->RebuildTree();
    b = tree->WalkToPath(tmp / L"a\\b", false);
    EXPECT_EQ(tree->CheckState(b), csCheckedNormal);
    y = tree->WalkToPath(tmp / L"f49\\x\\y", false);
    EXPECT_EQ(tree->CheckState(y), csUncheckedNormal);
    const TStringList& checked = storage->GetCheckedPaths();
    ASSERT_EQ(checked.Count(), 1);
    EXPECT_TRUE(SameText(checked[0], WideToAnsi(tmp / L"a\\b")));
}

TEST_F(ExplorerWalk, BrowseSelectsExpandsAndCollapsesTheRestFirst) {
    ASSERT_NE(tree->WalkToPath(tmp / L"f49\\x", true), nullptr);
    ASSERT_TRUE(tree->BrowseToPath(tmp / L"a\\b", true, true, false, true));
    PLazyNode b = tree->FindNodeByPath(tmp / L"a\\b");
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(tree->Expanded(b));
    EXPECT_TRUE(tree->Selected(b));
    EXPECT_EQ(tree->FocusedNode(), b);
    EXPECT_FALSE(tree->Expanded(tree->FindNodeByPath(tmp / L"f49")));
    EXPECT_FALSE(tree->Selected(tree->FindNodeByPath(tmp / L"f49\\x")));
    EXPECT_EQ(tree->SelectedPath(), tmp / L"a\\b");

    // Sync: the selected item already is the target, so nothing moves.
    PIDLPtr bList(PathToPIDL(tmp / L"a\\b")), eList(PathToPIDL(tmp / L"e"));
    tree->SetExpanded(b, false);
    tree->SyncToPIDL(bList.get());
    EXPECT_FALSE(tree->Expanded(b));
    tree->SyncToPIDL(eList.get());
    EXPECT_EQ(tree->SelectedPath(), tmp / L"e");
}

TEST_F(ExplorerWalk, AShortcutBrowsesToItsFolder) {
    shelltest::LinkFields fields;
    fields.target = tmp / L"a\\b\\c";
    shelltest::WriteLink(tmp / L"to c.lnk", fields);
    std::unique_ptr<TNamespace> link(TNamespace::CreateFromFileName(tmp / L"to c.lnk"));
    ASSERT_TRUE(link->Link());
    EXPECT_TRUE(tree->BrowseToShortcutTarget(link.get()));
    EXPECT_EQ(tree->SelectedPath(), tmp / L"a\\b\\c");

    // A shortcut to a file or a plain folder item browses nowhere.
    std::unique_ptr<TNamespace> folder(TNamespace::CreateFromFileName(tmp / L"e"));
    EXPECT_FALSE(tree->BrowseToShortcutTarget(folder.get()));
    EXPECT_EQ(tree->SelectedPath(), tmp / L"a\\b\\c");
}

TEST_F(ExplorerWalk, AHiddenRootFolderIsWhereWalksStart) {
    tree = MakeTree({toHideRootFolder});
    EXPECT_TRUE(Is(tree->GetFirst()->Parent == tree->RootNode() ? tree->GetFirst() : nullptr, tmp / L"a"));
    EXPECT_EQ(tree->FindNodeByPath(tmp.Path()), tree->RootNode());
    PLazyNode c = tree->WalkToPath(tmp / L"a\\b\\c", false);
    ASSERT_TRUE(Is(c, tmp / L"a\\b\\c"));
    EXPECT_EQ(c->Parent->Parent->Parent, tree->RootNode());
}
