// Saved views of the explorer tree over a scratch folder: what a restore
// brings back after the nodes were rebuilt, names in any case, another root,
// saving while restoring, the order of the PIDL sort, and the stream form
// (byte-for-byte round trip, hostile counts and sizes, mutated streams).
#include "ShellTestUtil.h"
#include "shell/explorer/LazyCheckStorage.h"
#include "shell/explorer/LazyExplorerTree.h"
#include "shell/explorer/LazyExplorerViews.h"
#include "shell/base/ShellUtils.h"
#include "framework/Forms.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

using namespace krv;

namespace {

std::vector<uint8_t> Bytes(TMemoryStream& s) {
    std::vector<uint8_t> bytes(size_t(s.Size()));
    s.SetPosition(0);
    if (!bytes.empty()) s.ReadBuffer(bytes.data(), bytes.size());
    return bytes;
}

std::vector<uint8_t> Saved(TViewManager& m, int version = ViewStreamVersion) {
    TMemoryStream s;
    m.SaveToStream(s, version, true);
    return Bytes(s);
}

void Load(TViewManager& m, const std::vector<uint8_t>& bytes, int version = ViewStreamVersion) {
    TMemoryStream s;
    if (!bytes.empty()) s.WriteBuffer(bytes.data(), bytes.size());
    s.SetPosition(0);
    m.LoadFromStream(s, version, true);
}

class ExplorerViews : public ::testing::Test {
protected:
    TShellUtilitiesScope shell;
    shelltest::TempFolder folder{L"krv_views"};
    TLazyExplorerTreeview tree;

    void SetUp() override {
        for (const wchar_t* dir : {L"a", L"a\\a1", L"a\\a1\\deep", L"a\\a2", L"a\\a3", L"b", L"b\\b1", L"c", L"c\\c1"})
            shelltest::MakeDir(folder / dir);
        Show(tree);
    }
    // Few rows fit: the top node is a real choice.
    void Show(TLazyExplorerTreeview& t) {
        t.SetParent(&shelltest::ShownForm());
        t.SetBounds(0, 0, 300, 70);
        t.HandleNeeded();
        t.TreeOptions().SetMiscOptions(t.TreeOptions().MiscOptions() + toCheckSupport);
        t.SetRootFolderCustomPath(folder.Path());
        t.SetActive(true);
    }

    // The node of a path below the fixture, made and expanded on the way.
    PLazyNode Node(const std::wstring& relative) {
        return relative.empty() ? tree.GetFirst() : tree.WalkToPath(folder / relative, false);
    }
    PLazyNode Existing(const std::wstring& relative) { return tree.FindNodeByPath(folder / relative); }
    std::wstring Name(PLazyNode node) {
        TNamespace* ns;
        return tree.ValidateNamespace(node, ns) ? ns->NameInFolder() : L"(none)";
    }
    std::set<std::wstring> SelectedNames() {
        std::set<std::wstring> names;
        for (PLazyNode n : tree.GetSortedSelection(false)) names.insert(Name(n));
        return names;
    }
    std::set<std::wstring> ExpandedNames() {
        std::set<std::wstring> names;
        for (PLazyNode n = tree.GetFirstNoInit(); n; n = tree.GetNextNoInit(n))
            if (tree.Expanded(n) && n != tree.GetFirst()) names.insert(Name(n));
        return names;
    }
    // Back to only the first node shown, with new nodes throughout.
    void Forget() {
        tree.RebuildTree();
        tree.ClearSelection();
        ASSERT_EQ(std::set<std::wstring>{}, ExpandedNames());
    }
    void Arrange() {
        tree.SetExpanded(Node(L"a"), true);
        tree.SetExpanded(Node(L"a\\a1"), true);
        tree.SetExpanded(Node(L"b"), true);
        tree.ClearSelection();
        tree.SetSelected(Node(L"a\\a1"), true);
        tree.SetSelected(Node(L"a\\a3"), true);
        tree.SetFocusedNode(Node(L"a\\a3"));
        tree.SetTopNode(Node(L"a\\a1"));
    }
};

TEST_F(ExplorerViews, ShowingAViewBringsBackExpansionSelectionFocusAndTopNodeWhateverTheCaseOfItsName) {
    Arrange();
    TViewManager views;
    TView* view = views.Snapshot(L"Work", tree);
    ASSERT_NE(nullptr, view);
    // The deepest expanded folders of each branch.
    ASSERT_EQ(2u, view->LeafNodes.size());
    EXPECT_TRUE(krv::ILIsEqual(view->LeafNodes[0].PIDL.get(), PIDLPtr(PathToPIDL(folder / L"a\\a1")).get()));
    EXPECT_TRUE(krv::ILIsEqual(view->LeafNodes[1].PIDL.get(), PIDLPtr(PathToPIDL(folder / L"b")).get()));
    EXPECT_EQ(view, views.Snapshot(L"WORK", tree)) << "a second snapshot of the name reuses the view";
    EXPECT_EQ(1, views.Views.Count());

    Forget();
    EXPECT_FALSE(views.ShowView(L"Play", tree));
    ASSERT_TRUE(views.ShowView(L"wORK", tree));
    EXPECT_EQ((std::set<std::wstring>{L"a", L"a1", L"b"}), ExpandedNames());
    EXPECT_EQ((std::set<std::wstring>{L"a1", L"a3"}), SelectedNames());
    EXPECT_EQ(L"a3", Name(tree.FocusedNode()));
    EXPECT_EQ(L"a1", Name(tree.GetTopNode()));

    // A view kept in a stream has no focus: the first selected node takes it.
    TViewManager read;
    Load(read, Saved(views));
    Forget();
    ASSERT_TRUE(read.ShowView(L"work", tree));
    EXPECT_EQ((std::set<std::wstring>{L"a1", L"a3"}), SelectedNames());
    EXPECT_EQ(L"a1", Name(tree.FocusedNode()));
    EXPECT_EQ(L"a1", Name(tree.GetTopNode()));
}

TEST_F(ExplorerViews, AViewOfAnotherRootExpandsOnlyWhatLiesBelowTheCurrentRootAndGoneFoldersAreSkipped) {
    Arrange();
    TViewManager views;
    views.Snapshot(L"v", tree);
    shelltest::RemoveTree(folder / L"b");
    tree.SetRootFolderCustomPath(folder / L"a");
    ASSERT_TRUE(views.ShowView(L"v", tree));
    EXPECT_EQ(std::set<std::wstring>{L"a1"}, ExpandedNames());
    EXPECT_EQ((std::set<std::wstring>{L"a1", L"a3"}), SelectedNames());
    tree.SetRootFolderCustomPath(folder.Path());
    EXPECT_TRUE(views.ShowView(L"v", tree)) << "the gone folder b is passed over";
    EXPECT_EQ((std::set<std::wstring>{L"a", L"a1"}), ExpandedNames());
}

TEST_F(ExplorerViews, SavingWhileTheSameViewRestoresIsSkipped) {
    Arrange();
    TLETPersistent view;
    view.SaveTree(tree, true, true);
    Forget();
    int calls = 0;
    tree.OnExpanded = [&](TBaseLazyTree*, PLazyNode) {
        ++calls;
        view.SaveTree(tree, true, true);   // would record a half-restored tree
    };
    view.RestoreTree(tree, true, true, true);
    EXPECT_GT(calls, 0);
    EXPECT_EQ(2u, view.LeafNodes.size());
    EXPECT_EQ(2, view.SelectedPIDLs.Count());
    EXPECT_EQ((std::set<std::wstring>{L"a", L"a1", L"b"}), ExpandedNames());
}

TEST_F(ExplorerViews, AGlobalViewCarriesTheCheckStorageAndF5KeepsTheView) {
    TRootNodeStorage* storage = tree.GetStorage();
    ASSERT_NE(nullptr, storage);
    tree.SetCheckState(Node(L"c\\c1"), csCheckedNormal);
    Arrange();
    TGlobalViewManager views;
    views.Snapshot(L"checked", tree);
    storage->Clear(false);
    Forget();
    ASSERT_TRUE(views.ShowView(L"checked", tree));
    EXPECT_EQ(csCheckedNormal, tree.CheckState(Node(L"c\\c1"))) << "the view's storage came back";

    std::set<std::wstring> expanded = ExpandedNames(), selected = SelectedNames();
    ASSERT_FALSE(selected.empty());
    tree.RefreshTree(false);
    EXPECT_EQ(expanded, ExpandedNames());
    EXPECT_EQ(selected, SelectedNames());
    EXPECT_EQ(L"a3", Name(tree.FocusedNode()));
}

// The tree's persistent-state object holds the record tree its check
// storage uses: a view loaded into it brings its checks to the tree.
TEST_F(ExplorerViews, AViewLoadedIntoTheTreesOwnStateBringsItsChecksToTheTree) {
    tree.SetCheckState(Node(L"b\\b1"), csCheckedNormal);
    ASSERT_EQ(tree.GetStorage(), tree.Persistent().Storage.get());
    TMemoryStream saved;
    tree.Persistent().SaveTree(tree, true, true);
    tree.Persistent().SaveToStream(saved, ViewStreamVersion, true);

    TLazyExplorerTreeview other;
    Show(other);
    saved.SetPosition(0);
    other.Persistent().LoadFromStream(saved, ViewStreamVersion, true);
    EXPECT_EQ(other.GetStorage(), other.Persistent().Storage.get()) << "the check storage kept its records' object";
    PIDLPtr b1(PathToPIDL(folder / L"b\\b1"));
    TCheckState state = csUncheckedNormal;
    TCheckType type = ctNone;
    ASSERT_TRUE(other.CheckStorage()->FindCheck(b1.get(), state, type));
    EXPECT_EQ(csCheckedNormal, state);
    EXPECT_EQ(csCheckedNormal, other.CheckState(other.WalkToPath(folder / L"b\\b1", false)));
}

TEST_F(ExplorerViews, PIDLSortGivesTheFolderOrderForAnyStartingOrder) {
    shelltest::TempFolder many(L"krv_views_sort");
    std::vector<std::wstring> names;
    for (int i = 0; i < 37; ++i) {
        names.push_back(L"item" + std::to_wstring(1000 + (i * 7919) % 997));
        shelltest::MakeDir(many / names.back());
    }
    TNamespace parent(PathToPIDL(many.Path()));
    ASSERT_NE(nullptr, parent.ShellFolder());
    std::vector<PIDLPtr> owned;
    for (const std::wstring& name : names) {
        PIDLPtr abs(PathToPIDL(many / name));
        owned.emplace_back(PIDLManager()->CopyPIDL(TPIDLManager::GetPointerToLastID(abs.get())));
    }
    std::mt19937 rng(29);
    for (int round = 0; round < 20; ++round) {
        TPIDLList list;
        list.SharePIDLs = true;
        size_t count = round == 0 ? 1 : round == 1 ? 2 : owned.size();
        for (size_t i = 0; i < count; ++i) list.Add(owned[i].get());
        if (round % 3 == 0) list.Add(owned[0].get());   // the same item twice
        for (int i = list.Count() - 1; i > 0; --i) list.Exchange(i, int(rng() % unsigned(i + 1)));
        PIDLListQuickSort(list, parent.ShellFolder(), 0, list.Count() - 1);
        for (int i = 1; i < list.Count(); ++i)
            ASSERT_LE(CompareStorageIDs(parent.ShellFolder(), list[i - 1], list[i]), 0) << round << " at " << i;
    }
    TPIDLList untouched;
    untouched.SharePIDLs = true;
    untouched.Add(owned[1].get());
    untouched.Add(owned[0].get());
    PIDLListQuickSort(untouched, nullptr, 0, 1);
    EXPECT_EQ(owned[1].get(), untouched[0]);
}

TEST_F(ExplorerViews, StreamsRoundTripByteForByteAndOlderVersionsKeepOneByteCharacters) {
    tree.SetCheckState(Node(L"b\\b1"), csCheckedNormal);
    Arrange();
    TGlobalViewManager views;
    views.Snapshot(L"Erste Ansicht", tree);
    tree.SetRootFolderCustomPath(folder / L"c");
    views.Snapshot(L"second", tree);
    std::vector<uint8_t> first = Saved(views);
    TGlobalViewManager read;
    Load(read, first);
    ASSERT_EQ(2, read.Views.Count());
    EXPECT_EQ(L"second", read.Views.Items(1)->ViewName);
    EXPECT_EQ(folder / L"c", read.Views.Items(1)->RootFolderCustomPath);
    EXPECT_EQ(first, Saved(read));

    // Version 2: the custom path as one byte per character.
    TViewManager plain;
    plain.Snapshot(L"p", tree);
    std::vector<uint8_t> v2 = Saved(plain, 2);
    TViewManager plainRead;
    Load(plainRead, v2, 2);
    EXPECT_EQ(2, plainRead.StreamVersion);
    EXPECT_EQ(folder / L"c", plainRead.Views.Items(0)->RootFolderCustomPath);
    EXPECT_EQ(v2, Saved(plainRead, 2));
    EXPECT_LT(v2.size(), Saved(plain, 3).size());
}

// Hand-made streams of one view whose counts or sizes lie.
TEST(ExplorerViewStreams, CountsAndSizesBeyondTheStreamAndUnterminatedListsAreRefused) {
    TShellUtilitiesScope shell;
    auto stream = [](const std::function<void(TMemoryStream&)>& body) {
        TMemoryStream s;
        s.WriteValue<int32_t>(3);   // version
        s.WriteValue<int32_t>(1);   // one view
        body(s);
        std::vector<uint8_t> bytes = Bytes(s);
        return bytes;
    };
    auto leaf = [](TMemoryStream& s, const std::vector<uint8_t>& pidl) {
        s.WriteValue<int32_t>(1);   // one leaf
        s.WriteValue<uint8_t>(1);
        s.WriteValue<uint32_t>(uint32_t(pidl.size()));
        s.WriteBuffer(pidl.data(), pidl.size());
    };
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases = {
        {"leaf count", stream([](TMemoryStream& s) { s.WriteValue<int32_t>(0x7FFFFFFF); })},
        {"negative leaf count", stream([](TMemoryStream& s) { s.WriteValue<int32_t>(-1); })},
        {"pidl size", stream([](TMemoryStream& s) {
             s.WriteValue<int32_t>(1);
             s.WriteValue<uint8_t>(1);
             s.WriteValue<uint32_t>(0xFFFFFFF0u);
         })},
        {"unterminated pidl", stream([&](TMemoryStream& s) { leaf(s, {4, 0, 'x', 'y', 4, 0}); })},
        {"identifier past the block", stream([&](TMemoryStream& s) { leaf(s, {9, 0, 'x', 'y', 0, 0}); })},
        {"expanded flag", stream([](TMemoryStream& s) {
             s.WriteValue<int32_t>(1);
             s.WriteValue<uint8_t>(7);
         })},
        {"view count", [] {
             TMemoryStream s;
             s.WriteValue<int32_t>(3);
             s.WriteValue<int32_t>(50000000);
             return Bytes(s);
         }()},
        {"version", [] {
             TMemoryStream s;
             s.WriteValue<int32_t>(4);
             s.WriteValue<int32_t>(0);
             return Bytes(s);
         }()},
    };
    for (const Case& c : cases) {
        TGlobalViewManager m;
        m.Views.Add(std::make_unique<TView>());
        m.Views.Items(0)->ViewName = L"kept";
        EXPECT_THROW(Load(m, c.bytes), EReadError) << c.name;
        ASSERT_EQ(1, m.Views.Count()) << c.name << ": a failed load changes nothing";
        EXPECT_EQ(L"kept", m.Views.Items(0)->ViewName) << c.name;
    }
    // The same streams without the lie load (the cases above fail for their fault only).
    TViewManager empty;
    Load(empty, [] {
        TMemoryStream s;
        s.WriteValue<int32_t>(3);
        s.WriteValue<int32_t>(0);
        return Bytes(s);
    }());
    EXPECT_EQ(0, empty.Views.Count());
}

TEST_F(ExplorerViews, MutatedStreamsEndInAnErrorOrALoadThatSavesAgainUnchanged) {
    tree.SetCheckState(Node(L"b\\b1"), csCheckedNormal);
    Arrange();
    TGlobalViewManager views;
    views.Snapshot(L"one", tree);
    views.Snapshot(L"two", tree);
    const std::vector<uint8_t> good = Saved(views);
    std::mt19937 rng(106);
    int refused = 0, loaded = 0;
    for (int round = 0; round < 1000; ++round) {
        std::vector<uint8_t> bytes = good;
        shelltest::MutateBytes(bytes, rng, 3);
        TGlobalViewManager m;
        try {
            Load(m, bytes);
        } catch (const EReadError&) {
            ++refused;
            continue;
        }
        ++loaded;
        std::vector<uint8_t> again = Saved(m);
        TGlobalViewManager second;
        Load(second, again);
        ASSERT_EQ(again, Saved(second)) << "round " << round;
    }
    EXPECT_GT(refused, 0);
    EXPECT_GT(loaded, 0);
}

} // namespace
