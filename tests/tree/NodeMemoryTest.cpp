// The tree's node memory: the pool against a model of what is live, and the
// tree-view queries given handles that name no live node of the tree.
#include "SessionSupport.h"
#include "tree/core/LazyTreeNodePool.h"
#include <commctrl.h>
#include <cstring>
#include <map>
#include <random>

using namespace krv;
using namespace krv::test;

namespace {

// Random allocations and frees of two slot sizes, checked after every step
// against the set of blocks handed out: live ones answer, freed ones, inner
// addresses and addresses outside do not; new blocks come zeroed; and when
// everything is freed at most one empty block is kept.
TEST(NodePool, LiveBlocksMatchAModelThroughRandomUse) {
    TLazyNodePool pool;
    std::map<uint8_t*, size_t> live;   // block -> size
    std::vector<uint8_t*> freed;
    std::mt19937 rng(3);
    const size_t sizes[] = {44, 44 + 4 + 9};   // the bare record; record, internal area and odd user data
    for (int step = 0; step < 60000; ++step) {
        bool add = live.empty() || rng() % 100 < (step < 40000 ? 70 : 20);
        if (add) {
            size_t size = sizes[(step / 15000) % 2];
            auto* p = static_cast<uint8_t*>(pool.Allocate(size));
            ASSERT_EQ(reinterpret_cast<uintptr_t>(p) % 4, 0u);
            for (size_t i = 0; i < size; ++i) ASSERT_EQ(p[i], 0) << "step " << step;
            std::memset(p, 0xA5, size);   // a node's fields and data, dirtied
            ASSERT_TRUE(live.emplace(p, size).second);
            std::erase(freed, p);
        } else {
            auto it = std::next(live.begin(), rng() % live.size());
            pool.Free(it->first);
            freed.push_back(it->first);
            live.erase(it);
        }
        ASSERT_EQ(pool.LiveCount(), live.size());
        if (step % 997 == 0) {
            for (auto [p, size] : live) {
                ASSERT_TRUE(pool.IsLive(p));
                ASSERT_FALSE(pool.IsLive(p + 4));
                ASSERT_FALSE(pool.IsLive(p + size - 1));
            }
            for (uint8_t* p : freed) ASSERT_FALSE(pool.IsLive(p));
        }
    }
    size_t most = pool.ReservedBytes();
    EXPECT_LT(most, live.size() * 57 * 2 + (8u << 20));
    for (auto [p, size] : live) pool.Free(p);
    EXPECT_EQ(pool.LiveCount(), 0u);
    EXPECT_LE(pool.ReservedBytes(), 4u << 20);   // one block kept, the rest given back
    EXPECT_FALSE(pool.IsLive(nullptr));
    int onStack = 0;
    EXPECT_FALSE(pool.IsLive(&onStack));
}

// Every handle below names no live node of the tree: the queries that take
// an item answer as for an unknown item (nothing) and read nothing behind it.
TEST(TreeViewQueries, HandlesThatNameNoLiveNodeAreUnknownItems) {
    Session s;
    PLazyNode a = s.Add(nullptr, L"Alpha");
    PLazyNode a1 = s.Add(a, L"Apple");
    PLazyNode a2 = s.Add(a, L"Apricot");
    PLazyNode b = s.Add(nullptr, L"Beta");
    s.tree.SetExpanded(a, true);
    s.tree.SetFocusedNode(b);
    // A record made up by the caller whose links lead to real nodes.
    alignas(8) uint8_t forged[sizeof(TLazyNode) + 16] = {};
    auto* fake = reinterpret_cast<PLazyNode>(forged);
    fake->States = vsVisible | vsExpanded | vsHasChildren | vsSelected;
    fake->NodeHeight = fake->TotalHeight = 18;
    fake->Parent = a;
    fake->PrevSibling = a1;
    fake->NextSibling = b;
    fake->FirstChild = fake->LastChild = a1;
    // A node of another tree, and a deleted one (its memory still holds its links).
    Session other;
    PLazyNode foreign = other.Add(nullptr, L"Elsewhere");
    other.Add(nullptr, L"Next door");
    PLazyNode stale = s.Add(a, L"Avocado");
    s.tree.DeleteNode(stale);
    // Address space with no memory behind it.
    VirtualMemory reserved(::VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_NOACCESS));
    ASSERT_TRUE(reserved);
    const std::pair<const char*, void*> handles[] = {
        {"forged record", fake},
        {"inside a node", reinterpret_cast<uint8_t*>(a) + 4},
        {"another tree's node", foreign},
        {"deleted node", stale},
        {"the hidden root", s.tree.RootNode()},
        {"unmapped memory", static_cast<uint8_t*>(reserved.get()) + 64},
    };
    const WPARAM codes[] = {TVGN_NEXT, TVGN_PREVIOUS, TVGN_PARENT, TVGN_CHILD, TVGN_NEXTVISIBLE, TVGN_PREVIOUSVISIBLE};
    for (auto [name, handle] : handles) {
        for (WPARAM code : codes)
            EXPECT_EQ(s.Send(TVM_GETNEXTITEM, code, reinterpret_cast<LPARAM>(handle)), 0) << name << ", code " << code;
        RECT r{};
        std::memcpy(&r, &handle, sizeof handle);
        EXPECT_FALSE(s.Send(TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r))) << name;
        TVITEMA item{};
        item.mask = TVIF_STATE | TVIF_CHILDREN;
        item.hItem = static_cast<HTREEITEM>(handle);
        EXPECT_FALSE(s.Send(TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) << name;
        EXPECT_EQ(item.state, 0u) << name;
        // Queries that take no item still answer.
        EXPECT_EQ(s.Send(TVM_GETNEXTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(handle)), reinterpret_cast<LRESULT>(b));
    }
    // The live nodes keep answering, the top level through null and TVI_ROOT alike.
    EXPECT_EQ(s.Send(TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(a1)), reinterpret_cast<LRESULT>(a2));
    EXPECT_EQ(s.Send(TVM_GETNEXTITEM, TVGN_CHILD, 0), reinterpret_cast<LRESULT>(a));
    EXPECT_EQ(s.Send(TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(TVI_ROOT)), reinterpret_cast<LRESULT>(a));
    EXPECT_EQ(other.Send(TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(foreign)),
              reinterpret_cast<LRESULT>(other.Node("Next door")));
}

// Nodes of every layout live in the pool: the bare record, the string tree's
// internal area with user data behind it, and a tree whose data size changes
// (which remakes its nodes at the new size).
TEST(NodePool, TreesKeepTheirDataAreasInPooledNodes) {
    TLazyStringTree strings;
    strings.SetNodeDataSize(12);
    strings.SetRootNodeCount(5000);
    std::vector<PLazyNode> nodes;
    for (PLazyNode n = strings.GetFirstNoInit(); n; n = n->NextSibling) nodes.push_back(n);
    ASSERT_EQ(nodes.size(), 5000u);
    for (PLazyNode n : nodes) {
        ASSERT_TRUE(strings.IsLiveNode(n));
        auto* data = static_cast<uint32_t*>(strings.GetNodeData(n));
        ASSERT_GE(reinterpret_cast<uint8_t*>(data), reinterpret_cast<uint8_t*>(n) + sizeof(TLazyNode));
        data[0] = n->Index, data[2] = ~n->Index;
    }
    for (PLazyNode n : nodes) {
        auto* data = static_cast<uint32_t*>(strings.GetNodeData(n));
        ASSERT_EQ(data[0], n->Index);
        ASSERT_EQ(data[2], ~n->Index);
        ASSERT_EQ(n->TotalCount, 1u);   // nothing written past a node reached its neighbour
    }
    EXPECT_EQ(strings.NodeMemory().LiveCount(), 5000u);
    strings.SetNodeDataSize(40);
    EXPECT_EQ(strings.RootNodeCount(), 5000u);
    EXPECT_EQ(strings.NodeMemory().LiveCount(), 5000u);
    for (PLazyNode n = strings.GetFirstNoInit(); n; n = n->NextSibling) ASSERT_TRUE(strings.IsLiveNode(n));
    strings.Clear();
    EXPECT_EQ(strings.NodeMemory().LiveCount(), 0u);
}

} // namespace
