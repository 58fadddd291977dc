// Sorting children in place: a stable merge sort of the sibling list by the
// comparison slot, then one pass that renumbers and relinks the list.
#include "tree/core/LazyTreeTimers.h"
#include "tree/core/LazyTrees.h"
#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

namespace krv {

// Sorts the n nodes linked by NextSibling from head; answers the new head.
// Recursion depth is log2(n).
static PLazyNode MergeSortList(PLazyNode head, unsigned n, const std::function<bool(PLazyNode, PLazyNode)>& takeSecond) {
    if (n <= 1) {
        if (head) head->NextSibling = nullptr;
        return head;
    }
    unsigned firstCount = n / 2;
    PLazyNode second = head;
    for (unsigned i = 0; i < firstCount; ++i) second = second->NextSibling;
    PLazyNode a = MergeSortList(head, firstCount, takeSecond);
    PLazyNode b = MergeSortList(second, n - firstCount, takeSecond);
    PLazyNode result = nullptr;
    PLazyNode* tail = &result;
    while (a && b) {
        if (takeSecond(a, b)) {
            *tail = b;
            b = b->NextSibling;
        } else {
            *tail = a;
            a = a->NextSibling;
        }
        tail = &(*tail)->NextSibling;
    }
    *tail = a ? a : b;
    return result;
}

// Links node's children in the order of the NextSibling chain from head.
static void RelinkChildren(PLazyNode node, PLazyNode head) {
    node->FirstChild = head;
    PLazyNode prev = nullptr;
    uint32_t index = 0;
    for (PLazyNode run = head; run; run = run->NextSibling) {
        run->Index = index++;
        run->PrevSibling = prev;
        prev = run;
    }
    node->LastChild = prev;
}

// While the merge runs the sibling list is half relinked, so there is no
// consistent list to take a node out of: a comparison handler that deletes is
// refused (DeleteNode throws), and on any throw the old order is put back.
void TBaseLazyTree::SortChildren(PLazyNode node, TColumnIndex column, TSortDirection direction) {
    auto takeSecond = [this, column, direction](PLazyNode a, PLazyNode b) {
        int result = DoCompareNodes(a, b, column);
        return direction == sdAscending ? result > 0 : result < 0;
    };
    TNodeArray old;
    for (PLazyNode run = node->FirstChild; run; run = run->NextSibling) old.push_back(run);
    PLazyNode head;
    bool outer = std::exchange(sorting_, true);
    try {
        head = MergeSortList(node->FirstChild, node->ChildCount, takeSecond);
    } catch (...) {
        sorting_ = outer;
        for (size_t i = 0; i < old.size(); ++i) old[i]->NextSibling = i + 1 < old.size() ? old[i + 1] : nullptr;
        RelinkChildren(node, node->FirstChild);
        throw;
    }
    sorting_ = outer;
    RelinkChildren(node, head);
    for (TTreeWalk* w = walks_; w; w = w->outer_) w->Sorted(node, old);
}

void TBaseLazyTree::Sort(PLazyNode node, TColumnIndex column, TSortDirection direction, bool doInit) {
    InterruptValidation();
    if (states_.Contains(tsEditPending)) {
        StopChangeTimer(kEditTimer);
        DoStateChange({}, tsEditPending);
    }
    if (!node) node = root_;
    // Nothing sorted still resumes the validation the interrupt stopped.
    bool refused = states_.Contains(tsEditing) && !DoEndEdit();
    // The init handlers may delete the node or any of its children.
    TNodeWatch watchNode(this, &node);
    if (!refused && (node->States & vsHasChildren)) {
        if (doInit) {
            if (!node->FirstChild && node != root_) InitChildren(node);
            for (TTreeWalk walk(this, node, node ? node->FirstChild : nullptr); walk.Node(); walk.Advance(false))
                walk.InitNode();
        }
        if (node && node->ChildCount > 1) {
            SortChildren(node, column, direction);
            InvalidateCache();
        }
    }
    if (updateCount_ == 0) {
        ValidateCache();
        Invalidate();
    }
}

// Every level, parents before their children, without recursion.
void TBaseLazyTree::SortTree(TColumnIndex column, TSortDirection direction, bool doInit) {
    ++updateCount_;
    try {
        if (column > ColumnInvalid) {
            // An init handler may delete any node: the walk goes on from what is left.
            TTreeWalk walk(this, root_, root_);
            while (PLazyNode node = walk.Node()) {
                if (node != root_) {
                    if (doInit) walk.InitNode();
                    if (!walk.Node() || !(node->States & vsInitialized)) {
                        walk.Advance(false);
                        continue;
                    }
                }
                Sort(node, column, direction, doInit);
                walk.Advance(true);
            }
        }
        InvalidateCache();
    } catch (...) {
        if (updateCount_ > 0) --updateCount_;
        throw;
    }
    if (updateCount_ > 0) --updateCount_;
    if (updateCount_ == 0) {
        ValidateCache();
        Invalidate();
    }
}

} // namespace krv
