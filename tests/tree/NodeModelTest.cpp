// The node model: counts and heights, lazy initialisation, deleting, expanding
// and collapsing, and that freeing a node leaves no reference behind.
#include "TreeTestSupport.h"
#include "tree/string/LazyStringTree.h"
#include <algorithm>
#include <cstring>
#include <map>
#include <stdexcept>

using namespace krv;
using namespace krv::test;

TEST(NodeModel, NewTreeIsEmptyWithOnlyTheHiddenRoot) {
    TTestTree tree;
    EXPECT_EQ(tree.RootNodeCount(), 0u);
    EXPECT_EQ(tree.VisibleCount(), 0u);
    EXPECT_EQ(tree.RootNode()->TotalCount, 1u);
    EXPECT_EQ(tree.RootNode()->TotalHeight, 18u);
    EXPECT_EQ(tree.RootNode()->States, 225);
    EXPECT_EQ(TBaseLazyTree::TreeFromNode(tree.RootNode()), &tree);
    EXPECT_EQ(tree.GetNodeData(tree.RootNode()), nullptr);
    EXPECT_EQ(tree.DragWidth, 200);   // the drag picture is taller than wide
    EXPECT_EQ(tree.DragHeight, 350);
}

TEST(NodeModel, RootCountMakesUninitialisedNodesAndInitIsLazy) {
    TTestTree tree;
    std::vector<PLazyNode> inited;
    tree.OnInitNode = [&](TBaseLazyTree*, PLazyNode parent, PLazyNode node, TLazyNodeInitStates&) {
        EXPECT_EQ(parent, nullptr);
        inited.push_back(node);
    };
    tree.SetRootNodeCount(5);
    EXPECT_EQ(tree.RootNode()->TotalCount, 6u);
    EXPECT_EQ(tree.VisibleCount(), 5u);
    unsigned i = 0;
    for (PLazyNode n = tree.GetFirstNoInit(); n; n = n->NextSibling, ++i) {
        EXPECT_EQ(n->Index, i);
        EXPECT_EQ(n->NodeHeight, 18);
        EXPECT_EQ(n->Align, 50);
        EXPECT_FALSE(n->States & vsInitialized);
    }
    EXPECT_TRUE(inited.empty());
    PLazyNode first = tree.GetFirst();
    ASSERT_EQ(inited.size(), 1u);
    EXPECT_EQ(inited[0], first);
    EXPECT_TREE_CONSISTENT(tree);
    tree.SetRootNodeCount(2);   // shrinking deletes the last ones
    EXPECT_EQ(tree.RootNodeCount(), 2u);
    EXPECT_TREE_CONSISTENT(tree);
}

TEST(NodeModel, ChildrenComeOnlyWhenNeededAndZeroClearsHasChildren) {
    TTestTree tree;
    tree.OnInitNode = [](TBaseLazyTree* t, PLazyNode, PLazyNode node, TLazyNodeInitStates& s) {
        if (node->Index == 0 && t->GetNodeLevel(node) == 0) s += ivsHasChildren;
        if (node->Index == 1 && t->GetNodeLevel(node) == 0) s += ivsHasChildren;
    };
    tree.OnInitChildren = [](TBaseLazyTree*, PLazyNode node, unsigned& count) { count = node->Index == 0 ? 3 : 0; };
    tree.SetRootNodeCount(2);
    PLazyNode a = tree.GetFirst();
    EXPECT_TRUE(a->States & vsHasChildren);
    EXPECT_EQ(a->ChildCount, 0u);
    tree.SetExpanded(a, true);
    EXPECT_EQ(a->ChildCount, 3u);
    EXPECT_EQ(tree.VisibleCount(), 5u);
    PLazyNode b = tree.GetNextSibling(a);
    tree.ToggleNode(b);
    EXPECT_FALSE(b->States & vsHasChildren);
    EXPECT_FALSE(b->States & vsExpanded);
    EXPECT_TREE_CONSISTENT(tree);
}

TEST(NodeModel, CollapseAndExpandMoveExactlyTheVisibleDescendantHeights) {
    TTestTree tree;
    PLazyNode a = tree.AddChild(nullptr);
    PLazyNode b = tree.AddChild(a);
    PLazyNode c = tree.AddChild(b);
    tree.AddChild(c);
    tree.SetNodeHeight(c, 40);
    tree.FullExpand();
    EXPECT_EQ(tree.VisibleCount(), 4u);
    EXPECT_EQ(a->TotalHeight, 18u + 18 + 40 + 18);
    tree.SetIsVisible(c, false);   // a hidden row leaves the totals above it
    EXPECT_EQ(a->TotalHeight, 36u);
    EXPECT_EQ(tree.VisibleCount(), 2u);
    EXPECT_TREE_CONSISTENT(tree);
    tree.SetIsVisible(c, true);
    tree.ToggleNode(b);
    EXPECT_EQ(a->TotalHeight, 36u);
    EXPECT_EQ(tree.RootNode()->TotalHeight, 18u + 36);
    EXPECT_EQ(tree.VisibleCount(), 2u);
    tree.ToggleNode(b);
    EXPECT_EQ(a->TotalHeight, 94u);
    EXPECT_EQ(tree.VisibleCount(), 4u);
    tree.FullCollapse();
    EXPECT_EQ(tree.VisibleCount(), 1u);
    EXPECT_TREE_CONSISTENT(tree);
}

// Walks that call out go on over what is left when a handler deletes the node
// in hand, the one the walk goes to next or the subtree it walks, then adds a
// node (in the freed memory) or moves one. Row: walk, the node whose event
// deletes, what goes (nothing: the node is added at the top level's end), the
// events seen (node names; "+" an OnChecked), and what then moves instead of
// the add (to the top level's end, or into the node named last; "*" sorts
// the top level in reverse; these rows' a1 has children a10 and a11). A walk
// leaves nothing of its subtree for what moved there and reaches no node twice.
TEST(NodeModel, WalksGoOnWhenAHandlerDeletesNodes) {
    enum Walk { Iterate, IterateA, CheckDown, CheckUp, Expand, Collapse, Reinit, Reveal, MoveChildren, DeleteSelected,
                NextInit, SortB, Export, ExpandC, SortInit, SortTreeInit, ReinitA, ExpandA, SortA };
    struct Row { Walk walk; const char* at; const char* victim; const char* log; const char* moved = ""; const char* into = ""; };
    const Row rows[] = {
        {Iterate, "a1", "a1", "a a0 a1 a2 b b0 b1 b2 c c0 c1 c2 n "},
        {Iterate, "b", "b", "a a0 a1 a2 b c c0 c1 c2 n "},
        {IterateA, "a1", "b", "a a0 a1 a2 "},                      // its stop node
        {CheckDown, "b0", "b1", "b b0 +b0 b2 +b2 +b "},            // the sibling visited next
        {CheckDown, "b1", "b1", "b b0 +b0 b1 b2 +b2 +b "},
        {CheckUp, "b", "b", "b1 b "},                              // the parent, and the node with it
        {Expand, "b", "b", "a b c "},
        {Collapse, "b", "a2", "c b a "},
        {Reinit, "a1", "a1", "a a0 a1 a2 b b0 b1 b2 c c0 c1 c2 n "},
        {Reveal, "a", "a", "a "},                                  // the node to show goes with it
        {MoveChildren, "b2", "b1", "b2 b0 "},                      // the child to move next
        {DeleteSelected, "b", "a", "c b ? n "},                   // a selected node still to go
        {NextInit, "b1", "b1", "a0 a1 a2 b0 b1 b2 c0 c1 c2 n "},   // the node it would answer
        {SortB, "b1", "b1", "b1 "},                                // refused: the list is half relinked
        {Export, "a1", "b", "a a0 a1 a2 c c0 c1 c2 "},             // rows still to write
        {ExpandC, "c", "", "c c0 c1 c2 "},                         // only its subtree
        {SortInit, "b1", "b1", "b0 b1 b2 b0 "},                    // the child initialised next
        {SortTreeInit, "a1", "b", "b a a0 a1 a2 a1 a0 c0 c1 c2 n c0 c2 c0 c1 "},  // a level still to sort
        {IterateA, "a1", "", "a a0 a1 a2 ", "a1"},                 // the node in hand, with what it holds
        {IterateA, "a10", "", "a a0 a1 a10 a2 ", "a1"},            // its parent
        {IterateA, "a0", "a0", "a a0 a2 ", "a1"},                  // the node after a deleted one
        {IterateA, "a0", "", "a a0 a2 ", "a1"},                    // its next sibling
        {IterateA, "a0", "", "a a0 a1 a10 a11 a2 ", "a0", "a2"},   // on ahead: not met again
        {ReinitA, "a1", "", "a a0 a1 a2 ", "a1"},
        {ReinitA, "a10", "", "a a0 a1 a10 a2 ", "a1"},
        {ReinitA, "a0", "a0", "a a0 a2 ", "a1"},
        {ReinitA, "a0", "", "a a0 a1 a10 a11 a2 ", "a0", "a2"},
        {ExpandA, "a1", "", "a a0 a1 a2 ", "a1"},
        {ExpandA, "a10", "", "a a0 a1 a10 a2 ", "a1"},
        {ExpandA, "a0", "a0", "a a0 a2 ", "a1"},
        {ExpandA, "a0", "", "a a0 a1 a10 a11 a2 a2 ", "a0", "a2"},
        {SortA, "a0", "", "a0 a2 a1 ", "a0"},
        {SortA, "a0", "a0", "a0 a2 ", "a1"},
        {SortA, "a0", "", "a0 a2 a1 ", "a0", "a2"},
        {SortTreeInit, "b0", "", "b a a0 a2 a1 a0 a10 a11 a10 b0 b1 b2 b1 c0 c1 c2 c1 c0 ", "b0"},
        {SortTreeInit, "a0", "", "b a a0 a2 a1 a0 b0 b1 b2 b1 b0 c0 c1 c2 c1 c0 ", "a"},
        {SortTreeInit, "a0", "", "b a a0 a2 a1 a10 a11 a10 b0 b1 b2 b1 b0 c0 c1 c2 c1 c0 ", "a0", "a2"},
        {SortB, "b1", "", "b1 ", "b1"},                            // refused too
        {MoveChildren, "b2", "", "b2 b1 b0 ", "b1"},               // the child to move next
        {Iterate, "b0", "", "a a0 a1 a10 a11 a2 b b0 b a a b1 b2 ", "*"},  // passed nodes sorted ahead
    };
    for (const Row& row : rows) {
        TReturnBound bound("walk row " + std::to_string(&row - rows));
        TLazyStringTree tree;
        std::map<PLazyNode, std::string> name;
        std::string log;
        for (std::string r : {"a", "b", "c"})
            for (std::string i : {"", "0", "1", "2"})
                name[tree.AddChild(i.empty() ? nullptr : tree.GetLastChild(nullptr))] = r + i;
        auto byName = [&](const char* text) { return std::find_if(name.begin(), name.end(), [&](auto& e) { return e.second == text; })->first; };
        if (*row.moved)
            for (const char* grandchild : {"a10", "a11"}) name[tree.AddChild(byName("a1"))] = grandchild;
        if (row.walk == Collapse) tree.FullExpand();
        for (auto& e : name) e.first->CheckType = ctTriStateCheckBox;
        bool deleted = false;
        unsigned events = 0;
        auto seen = [&](PLazyNode n) {
            // A walk that came round again would not end.
            if (++events > 100) throw std::runtime_error("the walk runs on: " + log);
            log += (name.count(n) ? name[n] : "?") + " ";
            if (name[n] != row.at || std::exchange(deleted, true)) return;
            PLazyNode parent = nullptr;
            if (*row.victim) {
                PLazyNode victim = byName(row.victim);
                std::erase_if(name, [&](auto& e) { return e.first == victim || tree.HasAsParent(e.first, victim); });
                tree.DeleteNode(victim);
                parent = tree.GetLastChild(nullptr);
            }
            if (!std::strcmp(row.moved, "*")) tree.Sort(nullptr, ColumnNone, sdDescending, false);
            else if (*row.moved) tree.MoveTo(byName(row.moved), *row.into ? byName(row.into) : nullptr, amAddChildLast, false);
            else name[tree.AddChild(parent)] = "n";
        };
        tree.OnChecking = [&](TBaseLazyTree*, PLazyNode n, TCheckState&, bool&) { seen(n); };
        tree.OnChecked = [&](TBaseLazyTree*, PLazyNode n) { log += "+" + name[n] + " "; };
        tree.OnExpanded = tree.OnCollapsed = [&](TBaseLazyTree*, PLazyNode n) { seen(n); };
        if (row.walk == MoveChildren) tree.OnNodeMoved = tree.OnExpanded;
        tree.OnCompareNodes = [&](TBaseLazyTree*, PLazyNode n, PLazyNode m, TColumnIndex, int& result) {
            seen(n);
            result = name[n].compare(name[m]);
        };
        tree.OnGetText = [&](TBaseLazyTree*, PLazyNode n, TColumnIndex, TLSTTextType, std::wstring&) { seen(n); };
        if (row.walk == DeleteSelected) tree.OnFreeNode = [&](TBaseLazyTree*, PLazyNode n) { seen(n); };
        if (row.walk == Reinit || row.walk == NextInit || row.walk >= ExpandC)
            tree.OnInitNode = [&](TBaseLazyTree*, PLazyNode, PLazyNode n, TLazyNodeInitStates&) { seen(n); };
        auto visit = [&](TBaseLazyTree*, PLazyNode n, void*, bool&) { seen(n); };
        switch (row.walk) {
        case Iterate: tree.IterateSubtree(nullptr, visit, nullptr); break;
        case IterateA: tree.IterateSubtree(byName("a"), visit, nullptr); break;
        case CheckDown: tree.SetCheckState(byName("b"), csCheckedNormal); break;
        case CheckUp: tree.SetCheckState(byName("b1"), csCheckedNormal); break;
        case Expand: tree.FullExpand(); break;
        case Collapse: tree.FullCollapse(); break;
        case Reinit: tree.ReinitNode(nullptr, true); break;
        case Reveal: EXPECT_FALSE(tree.ScrollIntoView(byName("a1"), false)); break;
        case MoveChildren: tree.MoveTo(byName("b"), byName("c"), amAddChildLast, true); break;
        case DeleteSelected:
            tree.TreeOptions().SetSelectionOptions(tree.TreeOptions().SelectionOptions() + toMultiSelect);
            for (const char* n : {"a", "b", "c"}) tree.SetSelected(byName(n), true);
            tree.DeleteSelectedNodes();
            for (PLazyNode n = tree.GetFirstNoInit(); n; n = tree.GetNextNoInit(n)) log += name[n] + " ";
            break;
        case NextInit: for (PLazyNode n = tree.GetFirst(); n; n = tree.GetNext(n)) {} break;
        case SortB: EXPECT_THROW(tree.Sort(byName("b"), ColumnNone, sdAscending, false), ELazyTreeError); break;
        case Export: tree.ExportUnicode(esAll, L","); break;
        case ExpandC: tree.FullExpand(byName("c")); break;
        case SortInit: tree.Sort(byName("b"), ColumnNone, sdAscending, true); break;
        case SortTreeInit: tree.SortTree(ColumnNone, sdAscending, true); break;
        case ReinitA: tree.ReinitNode(byName("a"), true); break;
        case ExpandA: tree.FullExpand(byName("a")); break;
        case SortA: tree.Sort(byName("a"), ColumnNone, sdAscending, true); break;
        }
        EXPECT_EQ(log, row.log) << row.walk << " " << row.at;
        EXPECT_TREE_CONSISTENT(tree);
    }
}

TEST(NodeModel, DeletingReindexesAndResetsTotals) {
    TTestTree tree;
    PLazyNode p = tree.AddChild(nullptr);
    PLazyNode x = tree.AddChild(p), y = tree.AddChild(p), z = tree.AddChild(p);
    tree.AddChild(y);
    tree.DeleteNode(y);
    EXPECT_EQ(x->Index, 0u);
    EXPECT_EQ(z->Index, 1u);
    EXPECT_EQ(x->NextSibling, z);
    EXPECT_TREE_CONSISTENT(tree);
    tree.DeleteChildren(p);
    EXPECT_EQ(p->ChildCount, 0u);
    EXPECT_EQ(p->TotalCount, 1u);
    EXPECT_EQ(p->TotalHeight, 18u);
    EXPECT_TREE_CONSISTENT(tree);
}

TEST(NodeModel, InitialUserDataNeedsFourBytesAndFiresFreeWithoutInit) {
    TTestTree tree;
    int value = 7;
    EXPECT_THROW(
        {
            try {
                tree.AddChild(nullptr, &value);
            } catch (const ELazyTreeError& e) {
                EXPECT_EQ(e.Code, 2008);
                throw;
            }
        },
        ELazyTreeError);
    EXPECT_EQ(tree.RootNodeCount(), 1u);   // the node was added before the fault
    tree.Clear();
    tree.SetNodeDataSize(4);
    std::vector<void*> freed;
    tree.OnFreeNode = [&](TBaseLazyTree* t, PLazyNode node) {
        void* stored;
        std::memcpy(&stored, t->GetNodeData(node), sizeof stored);
        freed.push_back(stored);
    };
    PLazyNode n = tree.AddChild(nullptr, &value);
    EXPECT_TRUE(n->States & vsInitialUserData);
    EXPECT_FALSE(n->States & vsInitialized);
    tree.AddChild(nullptr);   // neither initialised nor with data: no OnFreeNode
    tree.Clear();
    ASSERT_EQ(freed.size(), 1u);
    EXPECT_EQ(freed[0], &value);
}

TEST(NodeModel, FreeingANodeClearsEveryReferenceToIt) {
    TTestTree tree;
    tree.HandleNeeded();
    tree.TreeOptions().SetMiscOptions(tree.TreeOptions().MiscOptions() + toCheckSupport);
    PLazyNode parent = tree.AddChild(nullptr);
    PLazyNode node = tree.AddChild(parent);
    tree.AddChild(node);
    node->CheckType = ctCheckBox;
    tree.FullExpand();
    tree.SetFocusedNode(node);
    tree.SetSelected(node, true);
    ASSERT_TRUE(tree.BeginPendingCheck(node, false));
    std::vector<PLazyNode> changedAfterFree, structure;
    bool freed = false;
    tree.OnFreeNode = [&](TBaseLazyTree*, PLazyNode n) { freed = freed || n == node; };
    tree.OnChange = [&](TBaseLazyTree*, PLazyNode n) {
        if (freed) changedAfterFree.push_back(n);
    };
    tree.OnStructureChange = [&](TBaseLazyTree*, PLazyNode n, TChangeReason) { structure.push_back(n); };
    tree.ChangeDelay = 50;
    tree.NotifyChange(node);   // timer pending with the node
    tree.BeginUpdate();
    tree.DeleteNode(node);
    tree.EndUpdate();
    EXPECT_EQ(tree.FocusedNode(), nullptr);
    EXPECT_EQ(tree.PendingCheckNode(), nullptr);
    EXPECT_EQ(tree.RangeAnchor(), nullptr);
    EXPECT_FALSE(tree.TreeStates().Contains(tsKeyCheckPending));
    EXPECT_EQ(tree.SelectedCount(), 0u);
    EXPECT_TRUE(freed);
    for (PLazyNode n : changedAfterFree) EXPECT_NE(n, node);
    ASSERT_FALSE(structure.empty());
    EXPECT_EQ(structure.back(), parent);   // the pending structure change moved to the parent
    // The pending change comes out (without the node) before the look.
    ASSERT_TRUE(PumpUntil([&] { return !tree.TreeStates().Contains(tsChangePending); }));
    for (PLazyNode n : changedAfterFree) EXPECT_NE(n, node);
    EXPECT_TREE_CONSISTENT(tree);
    tree.OnFreeNode = nullptr;   // the flags it sets die before the tree
}

// A paste into another tree's empty focus asks whether its root lies below a
// moved node: the root's Parent field is the tree, never a node to follow.
TEST(NodeModel, TheRootHasNoParentsAndNoLevel) {
    TTestTree tree;
    PLazyNode top = tree.AddChild(nullptr);
    PLazyNode child = tree.AddChild(top);
    for (PLazyNode n : {top, child}) EXPECT_FALSE(tree.HasAsParent(tree.RootNode(), n));
    EXPECT_TRUE(tree.HasAsParent(child, top));
    EXPECT_EQ(tree.GetNodeLevel(tree.RootNode()), 0u);
}

TEST(NodeModel, DeepChainNeedsNoRecursion) {
    TTestTree tree;
    constexpr int depth = 20000;
    tree.BeginUpdate();
    PLazyNode run = nullptr;
    for (int i = 0; i < depth; ++i) run = tree.AddChild(run);
    tree.EndUpdate();
    EXPECT_EQ(tree.GetNodeLevel(run), unsigned(depth - 1));
    unsigned count = 0;
    tree.IterateSubtree(nullptr, [&](TBaseLazyTree*, PLazyNode, void*, bool&) { ++count; }, nullptr);
    EXPECT_EQ(count, unsigned(depth));
    tree.FullExpand();
    tree.FullCollapse();
    tree.ReinitNode(nullptr, true);
    tree.SortTree(ColumnNone, sdAscending);
    PLazyNode top = tree.GetFirstNoInit();
    EXPECT_EQ(tree.GetLastNoInit(top), run);
    tree.Clear();
    EXPECT_EQ(tree.RootNode()->TotalCount, 1u);
}

TEST(NodeModel, MoveWithinTheTreeKeepsCountsAndRefusesMovesBelowItself) {
    TTestTree tree;
    PLazyNode a = tree.AddChild(nullptr), b = tree.AddChild(nullptr);
    PLazyNode a1 = tree.AddChild(a);
    tree.AddChild(a1);
    tree.FullExpand();
    tree.MoveTo(a, b, amAddChildLast, false);
    EXPECT_EQ(a->Parent, b);
    EXPECT_EQ(b->Index, 0u);
    EXPECT_TREE_CONSISTENT(tree);
    EXPECT_THROW(tree.MoveTo(b, a1, amAddChildFirst, false), ELazyTreeError);
    EXPECT_TREE_CONSISTENT(tree);
    tree.MoveTo(a1, b, amInsertBefore, false);
    EXPECT_EQ(tree.GetFirstNoInit(), a1);
    EXPECT_TREE_CONSISTENT(tree);
}

TEST(NodeModel, MoveToAnotherTreeTravelsAsAStream) {
    TTestTree source, target;
    PLazyNode a = source.AddChild(nullptr);
    source.AddChild(a);
    source.AddChild(a);
    PLazyNode t = target.AddChild(nullptr);
    source.MoveTo(a, t, amAddChildLast, false);
    EXPECT_EQ(source.RootNodeCount(), 0u);
    EXPECT_EQ(t->ChildCount, 1u);
    EXPECT_EQ(t->FirstChild->ChildCount, 2u);
    EXPECT_TREE_CONSISTENT(source);
    EXPECT_TREE_CONSISTENT(target);
}

TEST(NodeModel, ReadOnlyRefusesStructureChanges) {
    TTestTree tree;
    PLazyNode a = tree.AddChild(nullptr);
    tree.TreeOptions().SetMiscOptions(tree.TreeOptions().MiscOptions() + toReadOnly);
    EXPECT_EQ(tree.AddChild(nullptr), nullptr);
    tree.DeleteNode(a);
    tree.SetNodeHeight(a, 30);
    tree.Clear();
    EXPECT_EQ(tree.RootNodeCount(), 1u);
    EXPECT_EQ(a->NodeHeight, 18);
}

TEST(NodeModel, RootCountReadFromTheFormAppliesWhenLoaded) {
    struct FormTree : TTestTree {
        void StartLoading() { SetLoading(); }
    } tree;
    tree.StartLoading();
    tree.SetRootNodeCount(4);
    EXPECT_EQ(tree.TotalCount(), 0u);
    EXPECT_TRUE(tree.TreeStates().Contains(tsNeedRootCountUpdate));
    tree.Loaded();
    EXPECT_EQ(tree.RootNodeCount(), 4u);
    EXPECT_FALSE(tree.TreeStates().Contains(tsNeedRootCountUpdate));
    EXPECT_TREE_CONSISTENT(tree);
}
