// The shared worker and the position cache: when the cache is built and
// used, changes made while the worker builds, the worker's life time, and a
// long random run of changes with the worker busy, checked against a
// recomputation from scratch.
#include "TreeTestSupport.h"
#include <functional>
#include <memory>
#include <random>

using namespace krv;
using namespace krv::test;

namespace {
void ExpectCacheMatchesRows(TBaseLazyTree& tree) {
    auto rows = BruteForceRows(tree);
    const auto& cache = tree.PositionCache();
    ASSERT_EQ(cache.size(), (rows.size() + 1999) / 2000);
    for (size_t i = 0; i < cache.size(); ++i) {
        EXPECT_EQ(cache[i].Node, rows[i * 2000].first) << i;
        EXPECT_EQ(cache[i].AbsoluteTop, rows[i * 2000].second) << i;
    }
}

void ExpectLookupsMatchRows(TBaseLazyTree& tree, std::mt19937& rng, int samples) {
    auto rows = BruteForceRows(tree);
    if (rows.empty()) return;
    uint32_t bottom = rows.back().second + rows.back().first->NodeHeight;
    for (int i = 0; i < samples; ++i) {
        uint32_t y = rng() % bottom;
        auto it = std::upper_bound(rows.begin(), rows.end(), y,
                                   [](uint32_t v, const std::pair<PLazyNode, uint32_t>& r) { return v < r.second; });
        --it;
        int top = -1;
        PLazyNode hit = tree.GetNodeAt(0, int(y), false, top);
        ASSERT_EQ(hit, it->first) << "y=" << y;
        EXPECT_EQ(uint32_t(top), it->second);
        EXPECT_EQ(tree.GetNodeTop(hit), int(it->second));
    }
    int top;
    EXPECT_EQ(tree.GetNodeAt(0, int(bottom) + 5, false, top), nullptr);
}

// Answers only the messages sent to this thread (the worker's) until flag is
// set or 20 s have passed; posted messages stay queued.
void AnswerWorkerUntil(const bool& flag) {
    DWORD start = ::GetTickCount();
    while (!flag && ::GetTickCount() - start < 20000) {
        MSG msg;
        ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_SENDMESSAGE);
    }
}

// A tree with more rows than one cache step has its cache on, or the worker
// has it queued or in hand: never neither, or it would walk from the top for
// good.
bool CacheOnOrComing(TBaseLazyTree& tree) {
    return tree.VisibleCount() <= 2000 || tree.TreeStates().Contains(tsUseCache) || Worker()->QueuedCount() > 0 ||
           Worker()->IsCurrent(&tree);
}
}

TEST(PositionCache, UsedAbove2000VisibleRowsOnly) {
    TTestTree tree;
    tree.HandleNeeded();
    tree.SetRootNodeCount(2000);
    ASSERT_TRUE(WaitForValidation(tree));
    EXPECT_FALSE(tree.TreeStates().Contains(tsUseCache));
    EXPECT_TRUE(tree.TreeStates().Contains(tsValidationNeeded));
    EXPECT_TRUE(tree.PositionCache().empty());

    tree.SetRootNodeCount(2001);
    ASSERT_TRUE(PumpUntil([&] { return tree.TreeStates().Contains(tsUseCache); }));
    ASSERT_EQ(tree.PositionCache().size(), 2u);
    EXPECT_EQ(tree.PositionCache()[0].Node, tree.GetFirstNoInit());
    EXPECT_EQ(tree.PositionCache()[0].AbsoluteTop, 0u);
    EXPECT_EQ(tree.PositionCache()[1].Node->Index, 2000u);
    EXPECT_EQ(tree.PositionCache()[1].AbsoluteTop, 2000u * 18);
    EXPECT_FALSE(tree.TreeStates().Contains(tsValidationNeeded));
}

// Loaded and pasted rows are new rows like any other: the worker builds the cache for them.
TEST(PositionCache, BuiltForLoadedAndPastedRows) {
    TTestTree source;
    source.SetRootNodeCount(2500);
    TMemoryStream saved;
    source.SaveToStream(saved);
    source.ClipboardFormats().Add("Lazy Tree Data");
    source.TreeOptions().SetSelectionOptions(source.TreeOptions().SelectionOptions() + toMultiSelect);
    source.SelectAll(false);
    const std::function<void(TTestTree&)> fills[] = {
        [&](TTestTree& t) {
            saved.SetPosition(0);
            t.LoadFromStream(saved);
        },
        [&](TTestTree& t) { ASSERT_TRUE(source.CopyToClipboard() && t.PasteFromClipboard()); }};
    for (const auto& fill : fills) {
        TTestTree tree;
        tree.HandleNeeded();
        fill(tree);
        ASSERT_EQ(tree.VisibleCount(), 2500u);
        ASSERT_TRUE(WaitForValidation(tree));
        ExpectCacheMatchesRows(tree);
    }
}

TEST(PositionCache, LookupsByPositionAndByNodeAgreeWithAWalk) {
    TTestTree tree;
    tree.HandleNeeded();
    std::mt19937 rng(7);
    tree.BeginUpdate();
    for (int i = 0; i < 300; ++i) {
        PLazyNode top = tree.AddChild(nullptr);
        for (int j = 0; j < 30; ++j) {
            PLazyNode c = tree.AddChild(top);
            tree.SetNodeHeight(c, 10 + rng() % 30);
            if (rng() % 7 == 0) tree.SetIsVisible(c, false);
        }
        if (rng() % 4) tree.SetExpanded(top, true);
    }
    tree.EndUpdate();
    ASSERT_TRUE(PumpUntil([&] { return tree.TreeStates().Contains(tsUseCache); }));
    ExpectCacheMatchesRows(tree);
    ExpectLookupsMatchRows(tree, rng, 400);
    EXPECT_TREE_CONSISTENT(tree);
}

TEST(PositionCache, CollapseDuringABuildWaitsForTheWorker) {
    TTestTree tree;
    tree.HandleNeeded();
    bool sawValidating = false;
    tree.OnStateChange = [&](TBaseLazyTree*, TLazyTreeStates enter, TLazyTreeStates) {
        if (enter.Contains(tsValidating)) sawValidating = true;
    };
    bool collapsedWhileValidating = true;
    tree.OnCollapsed = [&](TBaseLazyTree* t, PLazyNode) {
        collapsedWhileValidating = t->TreeStates().Contains(tsValidating) || Worker()->IsCurrent(t);
    };
    tree.BeginUpdate();
    PLazyNode big = tree.AddChild(nullptr);
    tree.SetChildCount(big, 300000);
    tree.SetExpanded(big, true);
    tree.AddChild(nullptr);
    tree.EndUpdate();
    // Waits only for the build to start (answering just the worker's messages),
    // then collapses while it runs.
    AnswerWorkerUntil(sawValidating);
    ASSERT_TRUE(sawValidating);
    tree.ToggleNode(big);
    EXPECT_FALSE(collapsedWhileValidating);
    EXPECT_FALSE(tree.TreeStates().Contains(tsUseCache));
    EXPECT_EQ(tree.VisibleCount(), 2u);
    EXPECT_TREE_CONSISTENT(tree);
    // Two rows now: the next validation completes without a cache.
    ASSERT_TRUE(WaitForValidation(tree));
    EXPECT_FALSE(tree.TreeStates().Contains(tsUseCache));
    tree.ToggleNode(big);
    ASSERT_TRUE(PumpUntil([&] { return tree.TreeStates().Contains(tsUseCache); }));
    ExpectCacheMatchesRows(tree);
}

TEST(PositionCache, StopRequestedDuringTheBuildLeavesTheCacheOff) {
    TTestTree tree;
    tree.HandleNeeded();
    tree.SetRootNodeCount(200000);
    ASSERT_TRUE(PumpUntil([&] { return tree.TreeStates().Contains(tsUseCache); }));
    // A report of a finished build that arrives after a stop request must not
    // switch the cache back on.
    bool interrupted = false;
    tree.OnStateChange = [&](TBaseLazyTree* t, TLazyTreeStates enter, TLazyTreeStates) {
        if (enter.Contains(tsValidating) && !interrupted) {
            interrupted = true;
            t->InterruptValidation();
        }
    };
    tree.InvalidateCache();
    tree.ValidateCache();
    ASSERT_TRUE(PumpUntil([&] { return interrupted && !tree.TreeStates().Contains(tsValidating); }));
    EXPECT_FALSE(tree.TreeStates().Contains(tsUseCache));
    EXPECT_TRUE(tree.TreeStates().Contains(tsValidationNeeded));
    tree.OnStateChange = nullptr;
    tree.ValidateCache();
    ASSERT_TRUE(PumpUntil([&] { return tree.TreeStates().Contains(tsUseCache); }));
    ExpectCacheMatchesRows(tree);
}

TEST(PositionCache, InterruptKeepsAQuitMessageForTheMainLoop) {
    TTestTree tree;
    tree.HandleNeeded();
    tree.SetRootNodeCount(400000);
    bool validating = false;
    tree.OnStateChange = [&](TBaseLazyTree*, TLazyTreeStates enter, TLazyTreeStates) {
        if (enter.Contains(tsValidating)) validating = true;
    };
    tree.InvalidateCache();
    tree.ValidateCache();
    AnswerWorkerUntil(validating);
    ASSERT_TRUE(validating);
    ::PostQuitMessage(42);
    tree.InterruptValidation();
    MSG msg;
    ASSERT_TRUE(::PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 42u);
}

// Whether the worker finishes a cache just before the next operation stops it
// is a matter of thread timing; here it always has, and has left the tree.
// Every operation that stops the worker, even one that moves no row, must
// bring the cache back.
TEST(PositionCache, ComesBackWhenStoppedAfterTheWorkerFinished) {
    struct Case {
        const char* name;
        std::function<void(TTestTree&, PLazyNode)> stop;
    };
    const Case cases[] = {
        {"validate again", [](TTestTree& t, PLazyNode) { t.ValidateCache(); }},
        {"empty update", [](TTestTree& t, PLazyNode) { t.BeginUpdate(); t.EndUpdate(); }},
        {"collapse a leaf", [](TTestTree& t, PLazyNode) { t.FullCollapse(t.GetLastNoInit()); }},
        {"height of a hidden row", [](TTestTree& t, PLazyNode closed) { t.SetNodeHeight(closed->FirstChild, 40); }},
        {"sort a leaf", [](TTestTree& t, PLazyNode) { t.Sort(t.GetLastNoInit(), ColumnNone, sdAscending, false); }},
        {"reset a leaf", [](TTestTree& t, PLazyNode) { t.ResetNode(t.GetLastNoInit()); }},
        {"window made again", [](TTestTree& t, PLazyNode) { t.DestroyHandle(); t.HandleNeeded(); }},
    };
    for (const Case& c : cases) {
        TTestTree tree;
        tree.HandleNeeded();
        tree.BeginUpdate();
        tree.SetRootNodeCount(3000);
        PLazyNode closed = tree.GetFirstNoInit();
        tree.SetChildCount(closed, 10);
        tree.EndUpdate();
        ASSERT_TRUE(PumpUntil([&] { return tree.TreeStates().Contains(tsUseCache) && !Worker()->IsCurrent(&tree); }))
            << c.name;
        c.stop(tree, closed);
        if (!CacheOnOrComing(tree)) {
            ADD_FAILURE() << c.name << ": the cache is off and nothing will build it";
            continue;
        }
        ASSERT_TRUE(PumpUntil([&] { return tree.TreeStates().Contains(tsUseCache); })) << c.name;
        ExpectCacheMatchesRows(tree);
    }
}

TEST(Worker, TwoTreesAreValidatedInTurnAndTheWorkerEndsWithTheLastTree) {
    {
        auto a = std::make_unique<TTestTree>();
        auto b = std::make_unique<TTestTree>();
        a->HandleNeeded();
        b->HandleNeeded();
        ASSERT_NE(Worker(), nullptr);
        a->BeginUpdate();
        b->BeginUpdate();
        a->SetRootNodeCount(50000);
        b->SetRootNodeCount(3000);
        a->EndUpdate();
        b->EndUpdate();
        a->ValidateCache();   // queued twice: still once in the queue
        EXPECT_LE(Worker()->QueuedCount(), 2u);
        ASSERT_TRUE(PumpUntil([&] {
            return a->TreeStates().Contains(tsUseCache) && b->TreeStates().Contains(tsUseCache);
        }));
        ExpectCacheMatchesRows(*a);
        ExpectCacheMatchesRows(*b);
        a.reset();
        EXPECT_NE(Worker(), nullptr);
    }
    EXPECT_EQ(Worker(), nullptr);
    TTestTree again;
    EXPECT_NE(Worker(), nullptr);
}

TEST(Worker, NeverRunsApplicationCode) {
    TTestTree tree;
    tree.HandleNeeded();
    tree.TreeOptions().SetMiscOptions(tree.TreeOptions().MiscOptions() + toVariableNodeHeight);
    DWORD uiThread = ::GetCurrentThreadId();
    bool foreign = false;
    auto note = [&] { foreign = foreign || ::GetCurrentThreadId() != uiThread; };
    tree.OnInitNode = [&](TBaseLazyTree*, PLazyNode, PLazyNode, TLazyNodeInitStates&) { note(); };
    tree.OnStateChange = [&](TBaseLazyTree*, TLazyTreeStates, TLazyTreeStates) { note(); };
    tree.OnFreeNode = [&](TBaseLazyTree*, PLazyNode) { note(); };
    tree.OnChange = [&](TBaseLazyTree*, PLazyNode) { note(); };
    tree.OnStructureChange = [&](TBaseLazyTree*, PLazyNode, TChangeReason) { note(); };
    tree.SetRootNodeCount(10000);
    ASSERT_TRUE(PumpUntil([&] { return tree.TreeStates().Contains(tsUseCache); }));
    tree.Clear();
    EXPECT_FALSE(foreign);
}

// The acceptance run: every kind of change, 10,000 times, while the worker
// keeps rebuilding the cache; everything recomputed and compared as it goes.
TEST(Worker, RandomChangesKeepEveryCountExact) {
    TTestTree tree;
    tree.HandleNeeded();
    std::mt19937 rng(20261207);
    tree.SetRootNodeCount(50);
    tree.SetChildCount(tree.GetFirstNoInit(), 2500);   // enough rows for a cache when expanded
    tree.SetExpanded(tree.GetFirstNoInit(), true);
    auto randomNode = [&]() -> PLazyNode {
        unsigned total = tree.TotalCount();
        return total ? NodeByOrder(tree, rng() % total) : nullptr;
    };
    int checks = 0, cacheChecks = 0;
    for (int op = 0; op < 10000; ++op) {
        PLazyNode n = randomNode();
        switch (rng() % 9) {
        case 0:
        case 1:
            tree.AddChild(rng() % 4 ? n : nullptr);
            break;
        case 2:
            if (n && tree.TotalCount() > 30 && n->TotalCount < 200) tree.DeleteNode(n);
            break;
        case 3:
            if (n) tree.SetExpanded(n, true);
            break;
        case 4:
            if (n) tree.SetExpanded(n, false);
            break;
        case 5: {
            PLazyNode target = randomNode();
            if (n && target && target != n && !tree.HasAsParent(target, n)) {
                static const TLTNodeAttachMode modes[] = {amInsertBefore, amInsertAfter, amAddChildFirst, amAddChildLast};
                tree.MoveTo(n, target, modes[rng() % 4], false);
            }
            break;
        }
        case 6:
            if (n) tree.SetNodeHeight(n, 5 + rng() % 40);
            break;
        case 7:
            if (n) tree.SetIsVisible(n, rng() % 3 != 0);
            break;
        case 8:
            if (n && rng() % 20 == 0) {
                tree.BeginUpdate();
                tree.SetChildCount(n, n->ChildCount + 500);
                tree.FullExpand(n);
                tree.EndUpdate();
            } else if (n && rng() % 10 == 0) {
                tree.FullCollapse(n);
            }
            break;
        }
        ASSERT_TRUE(CacheOnOrComing(tree)) << "after op " << op;
        if (op % 16 == 0) {
            MSG msg;
            while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
        }
        if (op % 250 == 0) {
            ASSERT_TREE_CONSISTENT(tree) << "after op " << op;
            ++checks;
            // Let the worker finish, then its cache must match a walk of the rows.
            tree.ValidateCache();
            ASSERT_TRUE(WaitForValidation(tree));
            if (tree.VisibleCount() > 2000) {
                ASSERT_TRUE(PumpUntil([&] { return tree.TreeStates().Contains(tsUseCache); }));
                ExpectCacheMatchesRows(tree);
                ++cacheChecks;
            }
        }
    }
    ASSERT_TREE_CONSISTENT(tree);
    ASSERT_TRUE(WaitForValidation(tree));
    if (tree.VisibleCount() > 2000) {
        ASSERT_TRUE(PumpUntil([&] { return tree.TreeStates().Contains(tsUseCache); }));
        ExpectCacheMatchesRows(tree);
        ExpectLookupsMatchRows(tree, rng, 200);
    }
    EXPECT_GT(checks, 30);
    EXPECT_GT(cacheChecks, 5);
}
