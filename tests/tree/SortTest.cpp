// Sorting: stable in both directions, links and indexes rebuilt, the whole
// tree sorted level by level.
#include "TreeTestSupport.h"
#include <algorithm>
#include <cstring>
#include <random>

using namespace krv;
using namespace krv::test;

namespace {
struct Item {
    int key;
    int serial;
};

Item& ItemOf(TBaseLazyTree& t, PLazyNode n) { return *static_cast<Item*>(t.GetNodeData(n)); }

void UseKeys(TTestTree& tree, int* compares) {
    tree.SetNodeDataSize(sizeof(Item));
    tree.OnCompareNodes = [compares](TBaseLazyTree* t, PLazyNode a, PLazyNode b, TColumnIndex, int& r) {
        if (compares) ++*compares;
        r = ItemOf(*t, a).key - ItemOf(*t, b).key;
    };
}

std::vector<Item> Children(TBaseLazyTree& t, PLazyNode parent) {
    std::vector<Item> v;
    for (PLazyNode n = parent ? parent->FirstChild : t.GetFirstNoInit(); n; n = n->NextSibling) v.push_back(ItemOf(t, n));
    return v;
}
}

TEST(Sort, StableInBothDirections) {
    TTestTree tree;
    UseKeys(tree, nullptr);
    std::mt19937 rng(3);
    std::vector<Item> expected;
    for (int i = 0; i < 500; ++i) {
        PLazyNode n = tree.AddChild(nullptr);
        ItemOf(tree, n) = Item{int(rng() % 20), i};
        expected.push_back(ItemOf(tree, n));
    }
    tree.Sort(nullptr, 0, sdAscending);
    std::stable_sort(expected.begin(), expected.end(), [](const Item& a, const Item& b) { return a.key < b.key; });
    auto got = Children(tree, nullptr);
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].key, expected[i].key);
        EXPECT_EQ(got[i].serial, expected[i].serial) << i;
    }
    EXPECT_TREE_CONSISTENT(tree);
    // Descending keeps equal keys in their present order too.
    tree.Sort(nullptr, 0, sdDescending);
    std::stable_sort(expected.begin(), expected.end(), [](const Item& a, const Item& b) { return a.key > b.key; });
    got = Children(tree, nullptr);
    for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i].serial, expected[i].serial) << i;
    EXPECT_EQ(tree.GetFirstNoInit()->PrevSibling, nullptr);
    EXPECT_EQ(tree.RootNode()->LastChild->NextSibling, nullptr);
    EXPECT_TREE_CONSISTENT(tree);
}

TEST(Sort, NoComparisonForZeroOrOneChild) {
    TTestTree tree;
    int compares = 0;
    UseKeys(tree, &compares);
    PLazyNode a = tree.AddChild(nullptr);
    tree.Sort(nullptr, 0, sdAscending);
    tree.Sort(a, 0, sdAscending);
    tree.AddChild(a);
    tree.Sort(a, 0, sdAscending);
    EXPECT_EQ(compares, 0);
}

TEST(Sort, SortTreeSortsEveryLevelAndKeepsCounts) {
    TTestTree tree;
    UseKeys(tree, nullptr);
    std::mt19937 rng(5);
    int serial = 0;
    tree.BeginUpdate();
    for (int i = 0; i < 20; ++i) {
        PLazyNode top = tree.AddChild(nullptr);
        ItemOf(tree, top) = Item{int(rng() % 50), serial++};
        for (int j = 0; j < 30; ++j) {
            PLazyNode c = tree.AddChild(top);
            ItemOf(tree, c) = Item{int(rng() % 50), serial++};
            tree.AddChild(c);
        }
        tree.SetExpanded(top, rng() % 2 == 0);
    }
    tree.EndUpdate();
    tree.SortTree(0, sdDescending);
    auto sortedDescending = [&](PLazyNode parent) {
        auto v = Children(tree, parent);
        return std::is_sorted(v.begin(), v.end(), [](const Item& a, const Item& b) { return a.key > b.key; });
    };
    EXPECT_TRUE(sortedDescending(nullptr));
    for (PLazyNode n = tree.GetFirstNoInit(); n; n = n->NextSibling) EXPECT_TRUE(sortedDescending(n));
    EXPECT_TREE_CONSISTENT(tree);
    // Column -2 sorts nothing.
    auto before = Children(tree, nullptr);
    tree.SortTree(ColumnInvalid, sdAscending);
    auto after = Children(tree, nullptr);
    for (size_t i = 0; i < before.size(); ++i) EXPECT_EQ(before[i].serial, after[i].serial);
}

TEST(Sort, AutoSortPlacesNewChildren) {
    TTestTree tree;
    UseKeys(tree, nullptr);
    tree.TreeOptions().SetAutoOptions(tree.TreeOptions().AutoOptions() + toAutoSort);
    // The initial user data lands in the key before AddChild sorts.
    for (intptr_t key : {5, 1, 3}) tree.AddChild(nullptr, reinterpret_cast<void*>(key));
    auto v = Children(tree, nullptr);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[0].key, 1);
    EXPECT_EQ(v[2].key, 5);
}
