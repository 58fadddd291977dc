// The tree stream: exact bytes of small trees, older versions, broken and
// hostile input (a fuzz run), and round trips.
#include "common/TempPath.h"
#include "TreeTestSupport.h"
#include <cstring>
#include <random>

using namespace krv;
using namespace krv::test;

namespace {
std::vector<uint8_t> Save(TBaseLazyTree& tree, PLazyNode node = nullptr) {
    TMemoryStream s;
    tree.SaveToStream(s, node);
    return s.Data();
}

// Loads bytes; answers the error code (0 for a good load).
int Load(TBaseLazyTree& tree, const std::vector<uint8_t>& bytes) {
    TMemoryStream s;
    s.Data() = bytes;
    try {
        tree.LoadFromStream(s);
    } catch (const ELazyTreeError& e) {
        return e.Code;
    }
    return 0;
}

void Put16(std::vector<uint8_t>& v, uint16_t x) { v.insert(v.end(), {uint8_t(x), uint8_t(x >> 8)}); }
void Put32(std::vector<uint8_t>& v, uint32_t x) {
    v.insert(v.end(), {uint8_t(x), uint8_t(x >> 8), uint8_t(x >> 16), uint8_t(x >> 24)});
}
std::vector<uint8_t> Header(uint16_t version) {
    std::vector<uint8_t> v;
    for (uint16_t u : {0x2045, 0x0056, 0x0054, int(version), 0x0020, 0x2046}) Put16(v, uint16_t(u));
    return v;
}
// One node chunk of version 2 holding a base chunk and the given child chunks.
std::vector<uint8_t> NodeChunk(uint32_t childCount, uint16_t states, const std::vector<uint8_t>& children = {},
                               uint32_t height = 18) {
    std::vector<uint8_t> base;
    Put32(base, childCount);
    Put32(base, height);
    Put16(base, states);
    base.insert(base.end(), {50, 0, 0});
    Put32(base, 0);
    base.insert(base.end(), children.begin(), children.end());
    std::vector<uint8_t> node;
    Put32(node, 1);
    Put32(node, uint32_t(8 + base.size()));
    Put32(node, 2);
    Put32(node, uint32_t(base.size()));
    node.insert(node.end(), base.begin(), base.end());
    return node;
}

void UseIntData(TTestTree& tree) {
    tree.SetNodeDataSize(4);
    tree.OnSaveNode = [](TBaseLazyTree* t, PLazyNode n, TStream& s) { s.WriteBuffer(t->GetNodeData(n), 4); };
    tree.OnLoadNode = [](TBaseLazyTree* t, PLazyNode n, TStream& s) { s.ReadBuffer(t->GetNodeData(n), 4); };
}
}

TEST(TreeStream, EmptyTreeIsSixteenBytes) {
    TTestTree tree;
    auto bytes = Save(tree);
    std::vector<uint8_t> expected = {0x45, 0x20, 0x56, 0, 0x54, 0, 2, 0, 0x20, 0, 0x46, 0x20, 0, 0, 0, 0};
    EXPECT_EQ(bytes, expected);
    tree.AddChild(nullptr);
    EXPECT_EQ(Load(tree, bytes), 0);
    EXPECT_EQ(tree.RootNodeCount(), 0u);
}

TEST(TreeStream, SmallTreesSaveToExactBytes) {
    TTestTree tree;
    UseIntData(tree);
    PLazyNode a = tree.AddChild(nullptr);
    PLazyNode b = tree.AddChild(a);
    *static_cast<uint32_t*>(tree.GetNodeData(b)) = 0x11223344;
    tree.OnSaveNode = [](TBaseLazyTree* t, PLazyNode n, TStream& s) {
        if (t->GetNodeLevel(n) == 1) s.WriteBuffer(t->GetNodeData(n), 4);
    };
    tree.SetExpanded(a, true);
    tree.SetNodeHeight(b, 20);
    b->CheckType = ctCheckBox;
    b->CheckState = csCheckedNormal;
    std::vector<uint8_t> expected = {
        0x45, 0x20, 0x56, 0, 0x54, 0, 2, 0, 0x20, 0, 0x46, 0x20,   // header
        1, 0, 0, 0,                                                 // one top-level node
        1, 0, 0, 0, 70, 0, 0, 0,                                    // node a: 8 + 17 + 45
        2, 0, 0, 0, 62, 0, 0, 0,                                    // base chunk: 17 + 45
        1, 0, 0, 0, 18, 0, 0, 0, 0xE1, 0, 50, 0, 0, 0, 0, 0, 0,     // 1 child, 18 px, init|expanded|children|visible
        1, 0, 0, 0, 37, 0, 0, 0,                                    // node b: 8 + 17 + 12
        2, 0, 0, 0, 17, 0, 0, 0,                                    //
        0, 0, 0, 0, 20, 0, 0, 0, 0x81, 0, 50, 2, 2, 0, 0, 0, 0,     // checked box, 20 px
        4, 0, 0, 0, 4, 0, 0, 0, 0x44, 0x33, 0x22, 0x11,             // user data
    };
    EXPECT_EQ(Save(tree), expected);
    // A node saved alone has a count of 1 and only its own subtree.
    auto alone = Save(tree, b);
    EXPECT_EQ(alone.size(), 12u + 4 + 45);
}

TEST(TreeStream, RoundTripKeepsStructureStatesAndData) {
    TTestTree tree;
    UseIntData(tree);
    tree.TreeOptions().SetSelectionOptions(tree.TreeOptions().SelectionOptions() + toMultiSelect);
    std::mt19937 rng(11);
    tree.BeginUpdate();
    for (int i = 0; i < 400; ++i) {
        unsigned total = tree.TotalCount();
        PLazyNode parent = total && rng() % 3 ? NodeByOrder(tree, rng() % total) : nullptr;
        PLazyNode n = tree.AddChild(parent);
        *static_cast<uint32_t*>(tree.GetNodeData(n)) = rng();
        tree.SetNodeHeight(n, 10 + rng() % 30);
        if (rng() % 5 == 0) tree.SetIsVisible(n, false);
        if (parent && rng() % 2) tree.SetExpanded(parent, true);
        if (rng() % 7 == 0) tree.SetSelected(n, true);
    }
    tree.EndUpdate();
    auto bytes = Save(tree);
    TTestTree copy;
    UseIntData(copy);
    copy.TreeOptions().SetSelectionOptions(copy.TreeOptions().SelectionOptions() + toMultiSelect);
    ASSERT_EQ(Load(copy, bytes), 0);
    EXPECT_TREE_CONSISTENT(copy);
    EXPECT_EQ(copy.TotalCount(), tree.TotalCount());
    EXPECT_EQ(copy.VisibleCount(), tree.VisibleCount());
    EXPECT_EQ(copy.SelectedCount(), tree.SelectedCount());
    EXPECT_EQ(copy.RootNode()->TotalHeight, tree.RootNode()->TotalHeight);
    EXPECT_EQ(Save(copy), bytes);
}

TEST(TreeStream, HiddenNodesLoadWithAnExactVisibleCount) {
    std::vector<uint8_t> bytes = Header(2);
    Put32(bytes, 2);
    auto hiddenWithChild = NodeChunk(1, vsInitialized | vsExpanded | vsHasChildren, NodeChunk(0, vsVisible));
    auto shown = NodeChunk(0, vsVisible);
    bytes.insert(bytes.end(), hiddenWithChild.begin(), hiddenWithChild.end());
    bytes.insert(bytes.end(), shown.begin(), shown.end());
    TTestTree tree;
    ASSERT_EQ(Load(tree, bytes), 0);
    EXPECT_EQ(tree.VisibleCount(), 1u);
    EXPECT_EQ(tree.RootNode()->TotalHeight, 36u);
    EXPECT_TREE_CONSISTENT(tree);
}

TEST(TreeStream, InternalStatesCannotBeLoaded) {
    std::vector<uint8_t> bytes = Header(2);
    Put32(bytes, 1);
    auto node = NodeChunk(0, 0xFFFF & ~vsSelected);
    bytes.insert(bytes.end(), node.begin(), node.end());
    TTestTree tree;
    ASSERT_EQ(Load(tree, bytes), 0);
    PLazyNode n = tree.GetFirstNoInit();
    for (uint16_t bit : {vsChecking, vsCutOrCopy, vsDeleting, vsInitialUserData, vsClearing, vsHeightMeasured})
        EXPECT_FALSE(n->States & bit) << bit;
    tree.Clear();   // a node that claimed to be deleting still goes
    EXPECT_TREE_CONSISTENT(tree);
}

TEST(TreeStream, VersionOneReadsToTheEndAndShowsEveryNode) {
    std::vector<uint8_t> bytes = Header(1);
    for (uint8_t states : {uint8_t(0x01), uint8_t(0x81)}) {
        std::vector<uint8_t> node;
        Put32(node, 1);
        Put32(node, 8 + 12);
        Put32(node, 2);
        Put32(node, 12);
        Put32(node, 0);
        Put32(node, 18);
        node.insert(node.end(), {states, 50, 0, 0});
        bytes.insert(bytes.end(), node.begin(), node.end());
    }
    TTestTree tree;
    tree.TreeOptions().SetSelectionOptions(tree.TreeOptions().SelectionOptions() + toMultiSelect);
    ASSERT_EQ(Load(tree, bytes), 0);
    EXPECT_EQ(tree.RootNodeCount(), 2u);
    EXPECT_EQ(tree.VisibleCount(), 2u);
    EXPECT_EQ(tree.SelectedCount(), 1u);   // the old format's bit 7 meant selected
    EXPECT_TREE_CONSISTENT(tree);
}

TEST(TreeStream, HeaderAndChunkErrors) {
    TTestTree tree;
    auto good = Save(tree);
    auto unit4 = good;
    unit4[8] = 0x99;
    EXPECT_EQ(Load(tree, unit4), 0);
    auto wrong = good;
    wrong[2] = 0x57;
    EXPECT_EQ(Load(tree, wrong), 2002);
    auto future = good;
    future[6] = 3;
    EXPECT_EQ(Load(tree, future), 2003);
    EXPECT_EQ(Load(tree, std::vector<uint8_t>(good.begin(), good.begin() + 11)), 2004);

    auto withNode = [](std::vector<uint8_t> node) {
        std::vector<uint8_t> b = Header(2);
        Put32(b, 1);
        b.insert(b.end(), node.begin(), node.end());
        return b;
    };
    auto node = NodeChunk(0, vsVisible);
    auto anchorMissing = node;
    anchorMissing[0] = 7;
    EXPECT_EQ(Load(tree, withNode(anchorMissing)), 2005);
    // Inner chunks ending before the node's stated end.
    auto tooLong = node;
    tooLong.push_back(0);
    tooLong[4] += 1;
    EXPECT_EQ(Load(tree, withNode(tooLong)), 2006);
    // An unknown chunk inside a node is skipped.
    auto extra = node;
    extra.insert(extra.end(), {9, 0, 0, 0, 2, 0, 0, 0, 0xAA, 0xBB});
    extra[4] += 10;
    EXPECT_EQ(Load(tree, withNode(extra)), 0);
    EXPECT_EQ(tree.RootNodeCount(), 1u);
    // A child count larger than the base chunk can hold.
    auto lying = NodeChunk(1000000, vsVisible);
    EXPECT_EQ(Load(tree, withNode(lying)), 2006);
    EXPECT_FALSE(tree.TreeStates().Contains(tsUpdating));
    EXPECT_EQ(tree.UpdateCount(), 0u);
    EXPECT_TREE_CONSISTENT(tree);
}

TEST(TreeStream, SavedChildCountIsWhatWasWritten) {
    TTestTree tree;
    tree.TreeOptions().SetMiscOptions(tree.TreeOptions().MiscOptions() - toInitOnSave);
    PLazyNode a = tree.AddChild(nullptr);
    tree.SetChildCount(a, 3);   // a is not initialised: its children are not saved
    auto bytes = Save(tree);
    TTestTree copy;
    ASSERT_EQ(Load(copy, bytes), 0);
    EXPECT_EQ(copy.GetFirstNoInit()->ChildCount, 0u);
    EXPECT_TREE_CONSISTENT(copy);
}

TEST(TreeStream, NestingIsLimitedAndDeepTreesNeedNoRecursion) {
    // Written top down with the sizes worked out, as nesting by copying would be quadratic.
    auto chain = [](int depth) {
        std::vector<uint8_t> b = Header(2);
        Put32(b, 1);
        for (int level = depth - 1; level >= 0; --level) {
            uint32_t nodeSize = 25 + 33 * uint32_t(level);
            Put32(b, 1);
            Put32(b, nodeSize);
            Put32(b, 2);
            Put32(b, nodeSize - 8);
            Put32(b, level > 0 ? 1 : 0);
            Put32(b, 18);
            Put16(b, uint16_t(vsInitialized | vsVisible | vsExpanded | (level > 0 ? vsHasChildren : 0)));
            b.insert(b.end(), {50, 0, 0, 0, 0, 0, 0});
        }
        return b;
    };
    TTestTree tree;
    auto deep = chain(TBaseLazyTree::MaxStreamDepth);
    ASSERT_EQ(Load(tree, deep), 0);
    EXPECT_EQ(tree.TotalCount(), unsigned(TBaseLazyTree::MaxStreamDepth));
    EXPECT_EQ(tree.VisibleCount(), unsigned(TBaseLazyTree::MaxStreamDepth));
    EXPECT_EQ(Save(tree), deep);
    EXPECT_EQ(Load(tree, chain(TBaseLazyTree::MaxStreamDepth + 1)), 2006);
    EXPECT_TREE_CONSISTENT(tree);
    // What could not load is not saved: one level more is refused before a byte is written.
    ASSERT_EQ(Load(tree, deep), 0);
    tree.AddChild(tree.GetLastNoInit());
    TMemoryStream out;
    EXPECT_THROW(tree.SaveToStream(out), ELazyTreeError);
    EXPECT_EQ(out.Size(), 0);
}

// A handler that asks for more than its chunk loses that read only: the load goes on from the chunk's end.
TEST(TreeStream, ContentHandlerReadingPastItsChunkEndsNoLoad) {
    TTestTree tree;
    UseIntData(tree);
    for (uint32_t v : {11u, 22u}) *static_cast<uint32_t*>(tree.GetNodeData(tree.AddChild(nullptr))) = v;
    auto bytes = Save(tree);
    tree.OnLoadNode = [](TBaseLazyTree* t, PLazyNode n, TStream& s) {
        uint8_t more[64];
        s.ReadBuffer(t->GetNodeData(n), 4);
        s.ReadBuffer(more, sizeof more);
    };
    ASSERT_EQ(Load(tree, bytes), 0);
    EXPECT_EQ(Save(tree), bytes);
}

// Mutated and truncated streams: each load ends in a tree error or a good
// load, the tree stays consistent, and nothing hangs.
TEST(TreeStream, FuzzedStreamsFailCleanly) {
    TTestTree source;
    UseIntData(source);
    std::mt19937 rng(99);
    for (int i = 0; i < 60; ++i) {
        unsigned total = source.TotalCount();
        PLazyNode parent = total && rng() % 2 ? NodeByOrder(source, rng() % total) : nullptr;
        PLazyNode n = source.AddChild(parent);
        *static_cast<uint32_t*>(source.GetNodeData(n)) = rng();
        if (parent && rng() % 2) source.SetExpanded(parent, true);
        if (rng() % 6 == 0) source.SetIsVisible(n, false);
    }
    const auto original = Save(source);
    TTestTree tree;
    tree.SetNodeDataSize(4);
    tree.OnLoadNode = [](TBaseLazyTree* t, PLazyNode n, TStream& s) {
        if (s.Size() >= 4) s.ReadBuffer(t->GetNodeData(n), 4);
    };
    int errors = 0, loads = 0;
    for (int round = 0; round < 600; ++round) {
        auto bytes = original;
        switch (round % 4) {
        case 0:   // truncation
            bytes.resize(rng() % bytes.size());
            break;
        case 1:   // random bytes
            for (int k = 0, n = 1 + rng() % 8; k < n; ++k) bytes[rng() % bytes.size()] = uint8_t(rng());
            break;
        case 2: {   // a size or count field replaced by an extreme value
            size_t at = 12 + (rng() % ((bytes.size() - 12) / 4)) * 4;
            static const uint32_t extremes[] = {0u, 1u, 0x7FFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFF8u, 17u};
            uint32_t v = extremes[rng() % 6];
            std::memcpy(&bytes[at], &v, 4);
            break;
        }
        case 3: {   // a slice cut out of the middle
            size_t from = rng() % bytes.size(), len = rng() % 40;
            bytes.erase(bytes.begin() + from, bytes.begin() + std::min(bytes.size(), from + len));
            break;
        }
        }
        int code = Load(tree, bytes);
        // Every node needs a chunk header of its own in the stream, so an
        // extreme count field can never make the loader build more nodes.
        EXPECT_LE(tree.TotalCount(), bytes.size() / 8 + 1) << "round " << round;
        if (code == 0) ++loads;
        else {
            ++errors;
            EXPECT_GE(code, 2002);
            EXPECT_LE(code, 2006);
        }
        ASSERT_EQ(TreeInvariantErrors(tree), "") << "round " << round;
        EXPECT_EQ(tree.UpdateCount(), 0u);
    }
    EXPECT_GT(errors, 100);
    EXPECT_GT(loads, 10);
}

TEST(TreeStream, LoadFromFileReadsWhatWasSaved) {
    TTestTree tree;
    tree.SetRootNodeCount(3);
    auto bytes = Save(tree);
    std::string path = TempPath("krv-tree-stream.bin");
    {
        TFileStream f(path, fmCreate);
        f.WriteBuffer(bytes.data(), bytes.size());
    }
    TTestTree copy;
    copy.LoadFromFile(path);
    EXPECT_EQ(copy.RootNodeCount(), 3u);
    ::DeleteFileA(path.c_str());
}
