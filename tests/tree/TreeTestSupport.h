// Test-only helpers for the tree: an invariant checker that recomputes every
// count, total and link from scratch, a message pump that waits for the
// worker, a tree subclass that opens the protected operations, and what
// PaintTree draws as an image for the golden comparisons.
#pragma once
#include "common/GoldenImage.h"
#include "tree/core/LazyTrees.h"
#include "tree/core/LazyTreeWorker.h"
#include <gtest/gtest.h>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace krv::test {

// What PaintTree draws for the tree's top-left width x height pixels.
inline TImage RenderTree(TBaseLazyTree& tree, int width, int height, unsigned options = TBaseLazyTree::poAll) {
    return Capture(width, height, [&](HDC dc) {
        TCanvas canvas(dc);
        tree.PaintTree(canvas, RECT{0, 0, width, height}, POINT{0, 0}, options);
    });
}

// Ends the run with a failure naming what ran when it has not returned within
// a generous bound: a loop that never calls out cannot be stopped from inside.
class TReturnBound {
public:
    explicit TReturnBound(std::string what) : watcher_([this, what] {
        std::unique_lock lock(mutex_);
        if (returned_.wait_for(lock, std::chrono::minutes(2), [this] { return done_; })) return;
        std::fprintf(stderr, "%s never returned\n", what.c_str());
        std::fflush(stderr);
        std::_Exit(3);
    }) {}
    ~TReturnBound() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        returned_.notify_one();
        watcher_.join();
    }
private:
    std::mutex mutex_;
    std::condition_variable returned_;
    bool done_ = false;
    std::thread watcher_;
};

class TTestTree : public TBaseLazyTree {
public:
    using TBaseLazyTree::TBaseLazyTree;
    using TBaseLazyTree::NotifyChange;
    using TBaseLazyTree::NotifyStructureChange;
    using TBaseLazyTree::ChangeCheckState;
    using TBaseLazyTree::SkipNode;
    using TBaseLazyTree::InitNode;
    using TBaseLazyTree::DoGetPopupMenu;
    using TBaseLazyTree::DoStateChange;
    using TBaseLazyTree::HandleDrawSelection;
};

// Recomputes everything the tree keeps incrementally. Empty when consistent.
inline std::string TreeInvariantErrors(TBaseLazyTree& tree) {
    std::ostringstream err;
    PLazyNode root = tree.RootNode();
    std::unordered_map<PLazyNode, bool> shown;
    shown[root] = true;
    unsigned visible = 0, selected = 0, nodes = 0;
    std::vector<PLazyNode> order{root};
    for (PLazyNode n = tree.GetFirstNoInit(); n; n = tree.GetNextNoInit(n)) order.push_back(n);
    for (PLazyNode n : order) {
        if (n != root) {
            ++nodes;
            PLazyNode p = n->Parent;
            bool s = (n->States & vsVisible) && shown[p] && (p == root || (p->States & vsExpanded));
            shown[n] = s;
            if (s) ++visible;
            if (n->States & vsSelected) ++selected;
            if (n->States & (vsDeleting | vsClearing | vsChecking)) err << "transient state left on node " << n << "\n";
        }
        uint64_t count = 1, height = n->NodeHeight;
        uint32_t index = 0, children = 0;
        PLazyNode prev = nullptr;
        for (PLazyNode c = n->FirstChild; c; c = c->NextSibling) {
            if (c->Parent != n) err << "child with wrong parent\n";
            if (c->PrevSibling != prev) err << "broken PrevSibling link\n";
            if (c->Index != index) err << "index " << c->Index << " should be " << index << "\n";
            ++index;
            ++children;
            count += c->TotalCount;
            if ((n->States & vsExpanded) && (c->States & vsVisible)) height += c->TotalHeight;
            prev = c;
            if (children > 100000000) break;
        }
        if (n->LastChild != prev) err << "LastChild wrong\n";
        if (children != n->ChildCount) err << "ChildCount " << n->ChildCount << " but " << children << " children\n";
        if (count != n->TotalCount) err << "TotalCount " << n->TotalCount << " should be " << count << "\n";
        if (height != n->TotalHeight) err << "TotalHeight " << n->TotalHeight << " should be " << height << "\n";
        if (children > 0 && !(n->States & vsHasChildren)) err << "children without vsHasChildren\n";
    }
    if (root->TotalCount != nodes + 1) err << "root count\n";
    if (visible != tree.VisibleCount()) err << "VisibleCount " << tree.VisibleCount() << " should be " << visible << "\n";
    if (tree.UpdateCount() == 0 && selected != tree.SelectedCount())
        err << "SelectedCount " << tree.SelectedCount() << " but " << selected << " selected nodes\n";
    return err.str();
}

#define EXPECT_TREE_CONSISTENT(tree) EXPECT_EQ(::krv::test::TreeInvariantErrors(tree), "")
#define ASSERT_TREE_CONSISTENT(tree) ASSERT_EQ(::krv::test::TreeInvariantErrors(tree), "")

// Dispatches this thread's messages until pred holds; false after timeoutMs.
template <class Pred> bool PumpUntil(Pred pred, DWORD timeoutMs = 20000) {
    DWORD start = ::GetTickCount();
    for (;;) {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
        if (pred()) return true;
        if (::GetTickCount() - start > timeoutMs) return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

// Waits until the worker has finished with the tree (cache complete or not needed).
inline bool WaitForValidation(TBaseLazyTree& tree) {
    return PumpUntil([&] {
        TLazyTreeStates s = tree.TreeStates();
        return !s.Contains(tsValidating) && (s.Contains(tsUseCache) || Worker()->QueuedCount() == 0) &&
               !Worker()->IsCurrent(&tree);
    });
}

// The pixel top of every shown row, by walking from the top.
inline std::vector<std::pair<PLazyNode, uint32_t>> BruteForceRows(TBaseLazyTree& tree) {
    std::vector<std::pair<PLazyNode, uint32_t>> rows;
    uint32_t top = 0;
    for (PLazyNode n = tree.GetFirstVisibleNoInit(); n; n = tree.GetNextVisibleNoInit(n)) {
        rows.emplace_back(n, top);
        top += n->NodeHeight;
    }
    return rows;
}

// The n-th node in tree order (0-based), found through the subtree counts.
inline PLazyNode NodeByOrder(TBaseLazyTree& tree, uint32_t n) {
    PLazyNode run = tree.RootNode();
    for (;;) {
        PLazyNode c = run->FirstChild;
        while (c && n >= c->TotalCount) {
            n -= c->TotalCount;
            c = c->NextSibling;
        }
        if (!c) return nullptr;
        if (n == 0) return c;
        --n;
        run = c;
    }
}

} // namespace krv::test
