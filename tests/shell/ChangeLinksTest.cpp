// Change links between controls (no echo to the sender, duplicates
// collapsed) and the list view following a linked folder tree over a
// scratch folder.
#include "ShellTestUtil.h"
#include "shell/explorer/LazyChangeLinks.h"
#include "shell/explorer/LazyExplorerListview.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/WideStrUtils.h"
#include "framework/Forms.h"
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using namespace krv;
using shelltest::MakeDir;
using shelltest::TempFolder;
using shelltest::WriteFileBytes;

namespace {

struct TNamed : TObject {
    explicit TNamed(std::string n) : Name(std::move(n)) {}
    std::string Name;
};

class ChangeLinks : public ::testing::Test {
protected:
    TLETChangeDispatch dispatch;
    TNamed a{"a"}, b{"b"}, c{"c"};
    std::vector<std::string> calls;
    // A client that logs "server>client" and may pass the change on.
    TLETChangeLinkEvent Client(TNamed& client, bool rebroadcast) {
        return [this, &client, rebroadcast](TObject* server, LPCITEMIDLIST pidl) {
            calls.push_back(static_cast<TNamed*>(server)->Name + ">" + client.Name);
            if (rebroadcast) dispatch.DispatchChange(&client, pidl);
        };
    }
};

TEST_F(ChangeLinks, TheSenderIsNeverCalledBackEvenWhenClientsPassTheChangeOn) {
    dispatch.AddLink(&a, &b, Client(b, true));
    dispatch.AddLink(&b, &a, Client(a, true));
    dispatch.AddLink(&b, &c, Client(c, true));
    dispatch.AddLink(&c, &a, Client(a, true));
    dispatch.AddLink(&c, &b, Client(b, true));
    dispatch.DispatchChange(&a, nullptr);
    // b passes it to c and c back to a and b: a started it, b is still following.
    EXPECT_EQ(calls, (std::vector<std::string>{"a>b", "b>c"}));
    EXPECT_EQ(dispatch.DispatchingServer(), nullptr);
}

TEST_F(ChangeLinks, TwoLinksToOneClientGiveOneCallAndSelfLinksNone) {
    dispatch.AddLink(&a, &b, Client(b, false));
    dispatch.AddLink(&a, &b, Client(b, false));
    dispatch.AddLink(&a, &a, Client(a, false));
    dispatch.AddLink(&a, &c, nullptr);   // no event: nothing to call
    dispatch.AddLink(&b, &c, Client(c, false));
    dispatch.DispatchChange(&a, nullptr);
    EXPECT_EQ(calls, std::vector<std::string>{"a>b"});
    calls.clear();
    dispatch.DispatchChange(&b, nullptr);
    EXPECT_EQ(calls, std::vector<std::string>{"b>c"});
}

TEST_F(ChangeLinks, RemovedLinksAreNotCalledEvenInTheMiddleOfADispatch) {
    dispatch.AddLink(&a, &b, [this](TObject*, LPCITEMIDLIST) {
        calls.push_back("a>b");
        dispatch.RemoveLinks(&c, lkClient);   // c goes away while b follows
    });
    dispatch.AddLink(&a, &c, Client(c, false));
    dispatch.AddLink(&c, &a, Client(a, false));
    dispatch.DispatchChange(&a, nullptr);
    EXPECT_EQ(calls, std::vector<std::string>{"a>b"});
    EXPECT_EQ(dispatch.LinkCount(), 2);
    dispatch.RemoveLinks(&a, lkServerAndClient);
    EXPECT_EQ(dispatch.LinkCount(), 0);
}

// A list view whose shell execution is recorded instead of run.
class TProbeList : public TLazyExplorerListview {
public:
    using TLazyExplorerListview::TLazyExplorerListview;
    using TLazyExplorerListview::HandleKeyDown;
    std::vector<std::wstring> Executed;
protected:
    bool ShellExecuteItem(TNamespace* ns, const std::wstring&, const std::wstring&, bool, bool) override {
        Executed.push_back(ns->NameForParsing());
        return true;
    }
};

class LinkedViews : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartShellUtilities(); }
    static void TearDownTestSuite() { StopShellUtilities(); }
    TempFolder tmp{L"views-" + AnsiToWide(::testing::UnitTest::GetInstance()->current_test_info()->name())};
    std::unique_ptr<TLazyExplorerTreeview> tree;
    std::unique_ptr<TProbeList> list;

    void SetUp() override {
        for (auto name : {L"sub", L"sub\\inner", L"other"}) MakeDir(tmp / name);
        WriteFileBytes(tmp / L"sub\\file.txt", "text");
        WriteFileBytes(tmp / L"top.txt", "top");
        tree = std::make_unique<TLazyExplorerTreeview>();
        tree->TreeOptions().SetLETImageOptions({});
        tree->SetParent(&shelltest::ShownForm());
        tree->SetBounds(0, 0, 200, 300);
        tree->HandleNeeded();
        tree->SetRootFolderCustomPath(tmp.Path());
        tree->SetActive(true);
        list = std::make_unique<TProbeList>();
        list->TreeOptions().SetLETImageOptions({});
        list->TreeOptions().SetLETMiscOptions(list->TreeOptions().LETMiscOptions() - toChangeNotifierThread);
        list->SetParent(&shelltest::ShownForm());
        list->SetBounds(200, 0, 400, 300);
        list->HandleNeeded();
        list->SetRootFolderCustomPath(tmp.Path());
        list->SetActive(true);
        tree->SetLazyExplorerListview(list.get());
    }
    void TearDown() override {
        list.reset();
        tree.reset();
    }

    static std::wstring PathOf(TCustomLazyExplorerTree& t, PLazyNode node) {
        TNamespace* ns = nullptr;
        return t.ValidateNamespace(node, ns) ? ns->NameForParsing() : L"(none)";
    }
    std::wstring ListRoot() { return list->RootFolderNamespace()->NameForParsing(); }
    PLazyNode ListNode(const std::wstring& name) {
        for (PLazyNode run = list->GetFirstChild(nullptr); run; run = list->GetNextSibling(run))
            if (StrICompW(PathOf(*list, run).c_str(), (name).c_str()) == 0) return run;
        return nullptr;
    }
    void SelectInTree(const std::wstring& path) {
        PLazyNode node = tree->WalkToPath(path, false);
        ASSERT_NE(node, nullptr);
        tree->ClearSelection();
        tree->SetSelected(node, true);
        tree->SetFocusedNode(node);
    }
    bool Same(const std::wstring& x, const std::wstring& y) { return StrICompW(x.c_str(), y.c_str()) == 0; }
};

TEST_F(LinkedViews, SelectingAFolderInTheTreeMovesTheListsRootAndTheTreeKeepsItsSelection) {
    ASSERT_EQ(tree->LazyExplorerListview(), list.get());
    ASSERT_EQ(list->LazyExplorerTreeview(), tree.get());
    SelectInTree(tmp / L"sub");
    EXPECT_TRUE(Same(ListRoot(), tmp / L"sub"));
    EXPECT_NE(ListNode(tmp / L"sub\\file.txt"), nullptr);
    EXPECT_NE(ListNode(tmp / L"sub\\inner"), nullptr);
    // The list's new rows were not sent back: the tree still shows the folder.
    EXPECT_TRUE(Same(PathOf(*tree, tree->GetFirstSelected()), tmp / L"sub"));
    // The list shows the folder's shell columns.
    EXPECT_GT(list->Header().Columns().Count(), 1);
    EXPECT_EQ(list->ColumnDetails(), cdShellColumns);
}

TEST_F(LinkedViews, ATreesBrowseOrChangesInsideAnUpdateReachTheListWhenTheyEnd) {
    ASSERT_TRUE(tree->BrowseToPath(tmp / L"sub\\inner", true, true, false, false));
    EXPECT_TRUE(Same(ListRoot(), tmp / L"sub\\inner"));
    tree->BeginUpdate();
    SelectInTree(tmp / L"other");
    EXPECT_TRUE(Same(ListRoot(), tmp / L"sub\\inner"));   // not while the update runs
    tree->EndUpdate();
    EXPECT_TRUE(Same(ListRoot(), tmp / L"other"));
}

TEST_F(LinkedViews, BackspaceGoesUpAndTheTreeFollows) {
    SelectInTree(tmp / L"sub\\inner");
    ASSERT_TRUE(Same(ListRoot(), tmp / L"sub\\inner"));
    WORD key = VK_BACK;
    list->HandleKeyDown(key, 0);
    EXPECT_TRUE(Same(ListRoot(), tmp / L"sub"));
    EXPECT_TRUE(Same(PathOf(*tree, tree->GetFirstSelected()), tmp / L"sub"));
}

TEST_F(LinkedViews, ExecutingBrowsesIntoFoldersAndHandsFilesToTheShell) {
    PLazyNode sub = ListNode(tmp / L"sub");
    ASSERT_NE(sub, nullptr);
    EXPECT_TRUE(list->ExecuteNode(sub));
    EXPECT_TRUE(Same(ListRoot(), tmp / L"sub"));
    EXPECT_TRUE(Same(PathOf(*tree, tree->GetFirstSelected()), tmp / L"sub"));
    EXPECT_TRUE(list->Executed.empty());
    PLazyNode file = ListNode(tmp / L"sub\\file.txt");
    ASSERT_NE(file, nullptr);
    list->ClearSelection();
    list->SetSelected(file, true);
    WORD key = VK_RETURN;
    list->HandleKeyDown(key, 0);
    ASSERT_EQ(list->Executed.size(), 1u);
    EXPECT_TRUE(Same(list->Executed[0], tmp / L"sub\\file.txt"));
    EXPECT_TRUE(Same(ListRoot(), tmp / L"sub"));
}

TEST_F(LinkedViews, ADoubleClickOnAFolderRowBrowsesIntoIt) {
    PLazyNode sub = ListNode(tmp / L"sub");
    ASSERT_NE(sub, nullptr);
    RECT r = list->GetDisplayRect(sub, 0, true);
    LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    ::SendMessageW(list->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::SendMessageW(list->Handle(), WM_LBUTTONUP, 0, at);
    ::SendMessageW(list->Handle(), WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    ::SendMessageW(list->Handle(), WM_LBUTTONUP, 0, at);
    EXPECT_TRUE(Same(ListRoot(), tmp / L"sub"));
    EXPECT_TRUE(Same(PathOf(*tree, tree->GetFirstSelected()), tmp / L"sub"));
    EXPECT_TRUE(list->Executed.empty());
}

TEST_F(LinkedViews, EachFolderKeepsItsOwnColumnWidthsInTheList) {
    list->TreeOptions().SetLETMiscOptions(list->TreeOptions().LETMiscOptions() + toPersistentColumns);
    TLazyTreeColumns& columns = list->Header().Columns();
    ASSERT_GT(columns.Count(), 2);
    int standard = columns[1].Width();
    columns[1].SetWidth(standard + 40);   // in the scratch folder
    SelectInTree(tmp / L"sub");
    ASSERT_TRUE(Same(ListRoot(), tmp / L"sub"));
    EXPECT_EQ(columns[1].Width(), standard);
    WORD key = VK_BACK;
    list->HandleKeyDown(key, 0);
    ASSERT_TRUE(Same(ListRoot(), tmp.Path()));
    EXPECT_EQ(columns[1].Width(), standard + 40);
}

TEST_F(LinkedViews, BrowsingToAFileShowsItsFolderWithTheFileSelected) {
    PIDLPtr pidl(PathToPIDL(tmp / L"sub\\file.txt"));
    EXPECT_TRUE(list->BrowseToPIDL(pidl.get(), false, true, false, false, true));
    EXPECT_TRUE(Same(ListRoot(), tmp / L"sub"));
    EXPECT_TRUE(Same(PathOf(*list, list->GetFirstSelected()), tmp / L"sub\\file.txt"));
}

TEST_F(LinkedViews, AListAlreadyShowingTheFolderIsNotAskedToChangeItsRoot) {
    SelectInTree(tmp / L"sub");
    ASSERT_TRUE(Same(ListRoot(), tmp / L"sub"));
    PLazyNode file = ListNode(tmp / L"sub\\file.txt");
    ASSERT_NE(file, nullptr);
    list->SetSelected(file, true);   // a row of its own selected: the list still shows "sub"
    std::vector<std::wstring> asked;
    list->OnRootChanging = [&](TCustomLazyExplorerTree*, TRootFolder, TNamespace*, TNamespace* ns, bool&) {
        asked.push_back(ns ? ns->NameForParsing() : L"(none)");
    };
    PIDLPtr sub(PathToPIDL(tmp / L"sub")), other(PathToPIDL(tmp / L"other"));
    list->SyncToPIDL(sub.get());
    EXPECT_TRUE(asked.empty()) << "asked for the folder it shows";
    EXPECT_TRUE(list->Selected(file)) << "its rows stay";
    list->SyncToPIDL(other.get());
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_TRUE(Same(asked[0], tmp / L"other"));
    EXPECT_TRUE(Same(ListRoot(), tmp / L"other"));
}

TEST_F(LinkedViews, LimitedToTheTreesRootTheListRefusesFoldersOutsideIt) {
    tree->SetRootFolderCustomPath(tmp / L"sub");
    list->TreeOptions().SetLETMiscOptions(list->TreeOptions().LETMiscOptions() + toListviewLimitBrowseToRoot);
    PIDLPtr outside(PathToPIDL(tmp / L"other"));
    PIDLPtr inside(PathToPIDL(tmp / L"sub\\inner"));
    EXPECT_FALSE(list->CanBrowseTo(outside.get()));
    EXPECT_TRUE(list->CanBrowseTo(inside.get()));
    EXPECT_FALSE(list->BrowseToPIDL(outside.get(), false, false, false, false, false));
    EXPECT_TRUE(list->BrowseToPIDL(inside.get(), false, false, false, false, false));
    EXPECT_TRUE(Same(ListRoot(), tmp / L"sub\\inner"));
}

TEST_F(LinkedViews, UnlinkingOrDestroyingAViewLeavesNoLinkBehind) {
    TLETChangeDispatch* dispatch = ChangeDispatch();
    ASSERT_NE(dispatch, nullptr);
    int before = dispatch->LinkCount();
    auto second = std::make_unique<TLazyExplorerTreeview>();
    second->SetLazyExplorerListview(list.get());   // takes the list from the first tree
    EXPECT_EQ(tree->LazyExplorerListview(), nullptr);
    EXPECT_EQ(list->LazyExplorerTreeview(), second.get());
    EXPECT_EQ(dispatch->LinkCount(), before);
    second.reset();
    EXPECT_EQ(list->LazyExplorerTreeview(), nullptr);
    EXPECT_EQ(dispatch->LinkCount(), before - 2);
}

} // namespace
