// Walking the tree: the navigation family (initialising and not), the
// subtree iterator, positions of rows (with the cache when it is valid),
// scrolling a node into view and the repaint helpers. No walk recurses, so a
// deep tree cannot overflow the stack.
#include "tree/core/LazyTrees.h"
#include <algorithm>

namespace krv {

// ---- whole-tree order ----------------------------------------------------------

PLazyNode TBaseLazyTree::GetFirstNoInit() const { return root_->FirstChild; }

template <class Step> PLazyNode TBaseLazyTree::InitStep(PLazyNode from, Step step) {
    if (!from) from = root_;
    TNodeWatch watchFrom(this, &from);
    for (;;) {
        PLazyNode result = step(from == root_ ? nullptr : from);
        if (!result || result == root_ || (result->States & vsInitialized)) return result;
        TNodeWatch watch(this, &result);
        InitNode(result);
        if (result || !from) return result;
    }
}

PLazyNode TBaseLazyTree::GetFirst() {
    return InitStep(nullptr, [this](PLazyNode) { return root_->FirstChild; });
}

// Initialises a node before the walk steps into it.
PLazyNode TBaseLazyTree::InitAndStepInto(PLazyNode node) {
    TNodeWatch watch(this, &node);
    InitIfNeeded(node);
    if (node && node != root_ && (node->States & vsHasChildren) && !node->FirstChild) InitChildren(node);
    return node ? node->FirstChild : nullptr;
}

PLazyNode TBaseLazyTree::GetFirstChild(PLazyNode node) {
    return InitStep(node, [this](PLazyNode from) { return StepInto(from ? from : root_); });
}

PLazyNode TBaseLazyTree::GetNextNoInit(PLazyNode node) const {
    if (!node || node == root_) return nullptr;
    if (node->FirstChild) return node->FirstChild;
    while (node != root_ && !node->NextSibling) node = node->Parent;
    return node == root_ ? nullptr : node->NextSibling;
}

PLazyNode TBaseLazyTree::GetNext(PLazyNode node) {
    if (!node || node == root_) return nullptr;
    return InitStep(node, [this](PLazyNode from) {
        PLazyNode child = StepInto(from);
        return child ? child : NodeAfterSubtree(from);
    });
}

PLazyNode TBaseLazyTree::GetPreviousNoInit(PLazyNode node) const {
    if (!node || node == root_) return nullptr;
    if (PLazyNode run = node->PrevSibling) {
        while (run->LastChild) run = run->LastChild;
        return run;
    }
    return node->Parent == root_ ? nullptr : node->Parent;
}

PLazyNode TBaseLazyTree::GetPrevious(PLazyNode node) {
    if (!node || node == root_) return nullptr;
    PLazyNode result;
    if (PLazyNode run = node->PrevSibling) {
        InitIfNeeded(run);
        for (PLazyNode child; (child = GetLastChild(run));) run = child;
        result = run;
    } else {
        result = node->Parent == root_ ? nullptr : node->Parent;
    }
    InitIfNeeded(result);
    return result;
}

PLazyNode TBaseLazyTree::GetFirstInitialized() {
    PLazyNode first = root_->FirstChild;
    if (!first || (first->States & vsInitialized)) return first;
    return GetNextInitialized(first);
}

PLazyNode TBaseLazyTree::GetNextInitialized(PLazyNode node) {
    do node = GetNextNoInit(node);
    while (node && !(node->States & vsInitialized));
    return node;
}

PLazyNode TBaseLazyTree::GetFirstCutCopy() {
    if (!states_.Contains(tsCutPending) && !states_.Contains(tsCopyPending)) return nullptr;
    PLazyNode first = root_->FirstChild;
    if (!first || (first->States & vsCutOrCopy)) return first;
    return GetNextCutCopy(first);
}

PLazyNode TBaseLazyTree::GetNextCutCopy(PLazyNode node) {
    if (!states_.Contains(tsCutPending) && !states_.Contains(tsCopyPending)) return nullptr;
    do node = GetNextNoInit(node);
    while (node && !(node->States & vsCutOrCopy));
    return node;
}

PLazyNode TBaseLazyTree::GetFirstSelected() { return GetNextSelected(nullptr); }

PLazyNode TBaseLazyTree::GetNextSelected(PLazyNode node) {
    if (selectionCount_ == 0) return nullptr;
    node = node ? GetNextNoInit(node) : root_->FirstChild;
    while (node && !(node->States & vsSelected)) node = GetNextNoInit(node);
    return node;
}

// ---- siblings and children ------------------------------------------------------------

PLazyNode TBaseLazyTree::GetNextSibling(PLazyNode node) {
    if (!node || node == root_) return nullptr;
    return InitStep(node, [](PLazyNode from) { return from->NextSibling; });
}

PLazyNode TBaseLazyTree::GetPreviousSibling(PLazyNode node) {
    if (!node || node == root_) return nullptr;
    return InitStep(node, [](PLazyNode from) { return from->PrevSibling; });
}

PLazyNode TBaseLazyTree::GetNextVisibleSibling(PLazyNode node) {
    if (!node || node == root_) return nullptr;
    return InitStep(node, [](PLazyNode from) {
        do from = from->NextSibling;
        while (from && !(from->States & vsVisible));
        return from;
    });
}

PLazyNode TBaseLazyTree::GetPreviousVisibleSiblingNoInit(PLazyNode node) const {
    if (!node || node == root_) return nullptr;
    do node = node->PrevSibling;
    while (node && !(node->States & vsVisible));
    return node;
}

PLazyNode TBaseLazyTree::GetPreviousVisibleSibling(PLazyNode node) {
    if (!node || node == root_) return nullptr;
    return InitStep(node, [this](PLazyNode from) { return GetPreviousVisibleSiblingNoInit(from); });
}

PLazyNode TBaseLazyTree::GetLastChildNoInit(PLazyNode node) const {
    if (!node) node = root_;
    return (node->States & vsHasChildren) ? node->LastChild : nullptr;
}

PLazyNode TBaseLazyTree::GetLastChild(PLazyNode node) {
    return InitStep(node, [this](PLazyNode from) {
        if (!from) from = root_;
        StepInto(from);
        return from->LastChild;
    });
}

PLazyNode TBaseLazyTree::GetLastNoInit(PLazyNode node) const {
    if (!node) node = root_;
    PLazyNode result = nullptr;
    for (PLazyNode run = GetLastChildNoInit(node); run; run = GetLastChildNoInit(run)) result = run;
    return result;
}

PLazyNode TBaseLazyTree::GetLast(PLazyNode node) {
    if (!node) node = root_;
    PLazyNode result = nullptr;
    for (PLazyNode run = GetLastChild(node); run; run = GetLastChild(run)) result = run;
    return result;
}

// ---- visible rows ------------------------------------------------------------------------

PLazyNode TBaseLazyTree::GetFirstVisibleNoInit() const {
    PLazyNode run = root_->FirstChild;
    while (run && !(run->States & vsVisible)) run = run->NextSibling;
    return run;
}

PLazyNode TBaseLazyTree::GetFirstVisible() {
    return InitStep(nullptr, [this](PLazyNode) { return GetFirstVisibleNoInit(); });
}

PLazyNode TBaseLazyTree::GetFirstVisibleChild(PLazyNode node) {
    return InitStep(node, [this](PLazyNode from) {
        PLazyNode run = GetFirstChild(from);
        while (run && !(run->States & vsVisible)) run = run->NextSibling;
        return run;
    });
}

// The outermost node on the way up from node whose row is not shown; its
// parent chain is shown. Null when node is shown.
static PLazyNode OutermostHidden(PLazyNode node, PLazyNode root) {
    PLazyNode hidden = nullptr;
    for (PLazyNode run = node; run && run != root; run = run->Parent) {
        bool parentShowsChildren = run->Parent == root || (run->Parent->States & vsExpanded);
        if (!(run->States & vsVisible) || !parentShowsChildren) hidden = run;
    }
    return hidden;
}

PLazyNode TBaseLazyTree::GetNextVisibleNoInit(PLazyNode node) const {
    if (!node || node == root_) return nullptr;
    PLazyNode run = node;
    if (PLazyNode hidden = OutermostHidden(node, root_)) {
        // Continue after the hidden part: after a collapsed parent's whole subtree.
        run = (hidden->Parent != root_ && !(hidden->Parent->States & vsExpanded)) ? hidden->Parent : hidden;
    } else if (node->States & vsExpanded) {
        for (PLazyNode child = node->FirstChild; child; child = child->NextSibling)
            if (child->States & vsVisible) return child;
    }
    for (;;) {
        while (run != root_ && !run->NextSibling) run = run->Parent;
        if (run == root_) return nullptr;
        run = run->NextSibling;
        if (run->States & vsVisible) return run;
    }
}

PLazyNode TBaseLazyTree::GetNextVisible(PLazyNode node) {
    if (node && node != root_ && (node->States & vsExpanded) && (node->States & vsHasChildren) &&
        !node->FirstChild && IsEffectivelyVisible(node))
        InitChildren(node);
    if (!node || node == root_) return nullptr;
    return InitStep(node, [this](PLazyNode from) { return GetNextVisibleNoInit(from); });
}

PLazyNode TBaseLazyTree::GetLastVisibleChildNoInit(PLazyNode node) const {
    if (!node) node = root_;
    if (!(node->States & vsExpanded) || !IsEffectivelyVisible(node)) return nullptr;
    PLazyNode run = node->LastChild;
    while (run && !(run->States & vsVisible)) run = run->PrevSibling;
    return run;
}

PLazyNode TBaseLazyTree::GetLastVisibleChild(PLazyNode node) {
    return InitStep(node, [this](PLazyNode from) { return GetLastVisibleChildNoInit(from); });
}

PLazyNode TBaseLazyTree::GetLastVisibleNoInit(PLazyNode node) const {
    PLazyNode result = nullptr;
    for (PLazyNode run = GetLastVisibleChildNoInit(node); run;) {
        result = run;
        // Below a shown node only the expanded flag and visibility matter.
        if (!(run->States & vsExpanded)) break;
        PLazyNode child = run->LastChild;
        while (child && !(child->States & vsVisible)) child = child->PrevSibling;
        run = child;
    }
    return result;
}

PLazyNode TBaseLazyTree::GetLastVisible(PLazyNode node) {
    return InitStep(node, [this](PLazyNode from) { return GetLastVisibleNoInit(from); });
}

PLazyNode TBaseLazyTree::GetPreviousVisibleNoInit(PLazyNode node) const {
    if (!node || node == root_) return nullptr;
    PLazyNode run = node;
    if (PLazyNode hidden = OutermostHidden(node, root_)) {
        if (hidden->Parent != root_ && !(hidden->Parent->States & vsExpanded)) return hidden->Parent;
        run = hidden;
    }
    PLazyNode prev = GetPreviousVisibleSiblingNoInit(run);
    if (!prev) return run->Parent == root_ ? nullptr : run->Parent;
    while (prev->States & vsExpanded) {
        PLazyNode child = prev->LastChild;
        while (child && !(child->States & vsVisible)) child = child->PrevSibling;
        if (!child) break;
        prev = child;
    }
    return prev;
}

PLazyNode TBaseLazyTree::GetPreviousVisible(PLazyNode node) {
    if (!node || node == root_) return nullptr;
    return InitStep(node, [this](PLazyNode from) { return GetPreviousVisibleNoInit(from); });
}

PLazyNode TBaseLazyTree::GetVisibleParent(PLazyNode node) const {
    if (!node || node == root_) return nullptr;
    PLazyNode run = node->Parent;
    while (run != root_ && !IsEffectivelyVisible(run)) run = run->Parent;
    return run == root_ ? nullptr : run;
}

PLazyNode TBaseLazyTree::NodeAfterSubtree(PLazyNode node) const {
    for (PLazyNode run = node; run && run != root_; run = run->Parent)
        if (run->NextSibling) return run->NextSibling;
    return nullptr;
}

// The node in hand went, or moved: on from its place, which the tree moved on
// past what went, inside top's subtree. Else from the node in hand, with the
// passed nodes passed over.
void TBaseLazyTree::TTreeWalk::AdvanceSlowly(bool descend) {
    PLazyNode n = nullptr;
    if (run_) n = descend && run_->FirstChild ? run_->FirstChild : After(run_);
    else if (top_) n = place_;
    if (n && !passed_.empty()) n = Pass(n);
    run_ = n;
    fast_ = passed_.empty() ? n : nullptr;
}

PLazyNode TBaseLazyTree::TTreeWalk::Pass(PLazyNode n) {
    for (;;) {
        auto at = std::lower_bound(passed_.begin(), passed_.end(), n);
        if (at == passed_.end() || *at != n) return n;
        // Reached once: should it move ahead again it is noted again.
        passed_.erase(at);
        if (!(n = After(n))) return n;
    }
}

void TBaseLazyTree::TTreeWalk::Passed(PLazyNode node) {
    auto at = std::lower_bound(passed_.begin(), passed_.end(), node);
    if (at == passed_.end() || *at != node) passed_.insert(at, node);
    fast_ = nullptr;
}

void TBaseLazyTree::TTreeWalk::Deleting(PLazyNode node, bool childrenOnly) {
    auto goes = [&](PLazyNode held) { return tree_->Goes(held, node, childrenOnly); };
    if (goes(top_)) {
        top_ = run_ = place_ = fast_ = nullptr;
        passed_.clear();
        return;
    }
    // What goes lies inside top's subtree, or is top's children.
    if (goes(Place())) {
        place_ = node == top_ ? nullptr : After(node);
        run_ = fast_ = nullptr;
    }
    if (!passed_.empty()) std::erase_if(passed_, goes);
}

// Only the walk's own view of the node changes: the node lives on, and an
// init running on it finishes.
void TBaseLazyTree::TTreeWalk::Moving(PLazyNode node) {
    // Top's whole subtree moving along changes nothing for the walk.
    PLazyNode place = Place();
    if (!place || node == top_ || tree_->HasAsParent(top_, node)) return;
    bool passed;
    if (place == node || tree_->HasAsParent(place, node)) {
        // Reached already, unless it is the place a deletion left.
        passed = run_ || place != node;
        place_ = After(node);
        // An init running on it goes on: the node lives.
        if (run_) tree_->movedFromHand_ = run_;
        run_ = fast_ = nullptr;
    } else {
        // A node from outside has not been reached: where it lands ahead the walk goes.
        passed = place != tree_->root_ && (top_ == tree_->root_ || tree_->HasAsParent(node, top_)) &&
                 tree_->Precedes(node, place);
    }
    if (passed) Passed(node);
}

// The children of node that came before the one holding the place were
// passed; those the sort put after it are passed over when reached.
void TBaseLazyTree::TTreeWalk::Sorted(PLazyNode node, const TNodeArray& old) {
    PLazyNode held = Place();
    if (!held || held == node) return;
    while (held != top_ && held != tree_->root_ && held->Parent != node) held = held->Parent;
    if (held == top_ || held == tree_->root_) return;
    for (PLazyNode child : old) {
        if (child == held) break;
        if (child->Index > held->Index) Passed(child);
    }
}

bool TBaseLazyTree::Goes(PLazyNode held, PLazyNode node, bool childrenOnly) const {
    return held && held != root_ && !(childrenOnly && held == node) &&
           (held == node || node == root_ || HasAsParent(held, node));
}

bool TBaseLazyTree::Precedes(PLazyNode a, PLazyNode b) const {
    unsigned levelA = GetNodeLevel(a), levelB = GetNodeLevel(b);
    for (; levelA > levelB; --levelA) a = a->Parent;
    if (a == b) return false;   // b holds a
    for (; levelB > levelA; --levelB) b = b->Parent;
    if (a == b) return true;    // a holds b
    while (a->Parent != b->Parent) {
        a = a->Parent;
        b = b->Parent;
    }
    return a->Index < b->Index;
}

bool TBaseLazyTree::HasAsParent(PLazyNode node, PLazyNode potentialParent) const {
    // The root has no parents: its Parent field points back at the tree.
    if (!node || !potentialParent || node == potentialParent || node == root_) return false;
    for (PLazyNode run = node->Parent; run && run != root_; run = run->Parent)
        if (run == potentialParent) return true;
    return false;
}

unsigned TBaseLazyTree::GetNodeLevel(PLazyNode node) const {
    unsigned level = 0;
    if (!node || node == root_) return 0;
    for (PLazyNode run = node->Parent; run && run != root_; run = run->Parent) ++level;
    return level;
}

// ---- iteration ---------------------------------------------------------------------------

// The iteration that initialises nothing, in a loop of its own: it keeps
// what it needs in registers and the step between callbacks short.
PLazyNode TBaseLazyTree::IteratePlain(TTreeWalk& walk, const TLTGetNodeProc& callback, void* data,
                                      TLazyNodeStates filter) {
    for (PLazyNode run = walk.Node(); run; run = walk.Next(run, true)) {
        if (filter != 0 && (run->States & filter) != filter) continue;
        bool abort = false;
        callback(this, run, data, abort);
        if (abort) return walk.Node();
    }
    return nullptr;
}

// The callback may delete the node in hand, its siblings or its subtree: the
// walk goes on from what is left of node's subtree.
PLazyNode TBaseLazyTree::IterateSubtree(PLazyNode node, const TLTGetNodeProc& callback, void* data,
                                        TLazyNodeStates filter, bool doInit, bool childNodesOnly) {
    bool wasIterating = states_.Contains(tsIterating);
    DoStateChange(tsIterating);
    if (node == root_) node = nullptr;
    TTreeWalk walk(this, node ? node : root_, node ? node : GetFirstNoInit());
    // Every node reached is initialised when asked; an init handler that
    // deletes it leaves the walk at the node after it.
    auto arrive = [&] {
        while (doInit && walk.Node()) {
            walk.InitNode();
            if (walk.Node()) return;
            walk.Advance(false);
        }
    };
    auto step = [&] {
        if (doInit && walk.Node()) StepInto(walk.Node());
        walk.Advance(true);
        arrive();
    };
    PLazyNode result = nullptr;
    try {
        arrive();
        if (childNodesOnly && walk.Node()) {
            if (doInit) StepInto(walk.Node());
            if (walk.Node() && walk.Node()->FirstChild) step();
            else walk.Stop();
        }
        if (!doInit) {
            result = IteratePlain(walk, callback, data, filter);
        } else {
            for (PLazyNode run = walk.Node(); run;) {
                if (filter == 0 || (run->States & filter) == filter) {
                    bool abort = false;
                    callback(this, run, data, abort);
                    if (abort) {
                        result = walk.Node();
                        break;
                    }
                }
                step();
                run = walk.Node();
            }
        }
    } catch (...) {
        if (!wasIterating) DoStateChange({}, tsIterating);
        throw;
    }
    if (!wasIterating) DoStateChange({}, tsIterating);
    return result;
}

// ---- positions ------------------------------------------------------------------------------

PLazyNode TBaseLazyTree::GetNodeAt(int x, int y, bool relative, int& nodeTop) {
    (void)x;
    if (y < 0) y = 0;
    int64_t position = relative ? int64_t(y) - offsetY_ : y;
    uint32_t cacheTop;
    PLazyNode run = position <= 0xFFFFFFFF ? FindInPositionCache(uint32_t(position), cacheTop) : nullptr;
    int64_t top = cacheTop;
    if (!run) {
        run = GetFirstVisibleNoInit();
        top = 0;
    }
    while (run) {
        if ((run->States & vsVisible) && top + run->TotalHeight > position) {
            if (top + run->NodeHeight > position || !run->FirstChild || !(run->States & vsExpanded)) {
                nodeTop = int(relative ? top + offsetY_ : top);
                return run;
            }
            top += run->NodeHeight;
            run = run->FirstChild;
            continue;
        }
        if (run->States & vsVisible) top += run->TotalHeight;
        while (run != root_ && !run->NextSibling) run = run->Parent;
        run = run == root_ ? nullptr : run->NextSibling;
    }
    nodeTop = 0;
    return nullptr;
}

PLazyNode TBaseLazyTree::GetNodeAtXY(int x, int y) {
    int top;
    return GetNodeAt(x, y, true, top);
}

PLazyNode TBaseLazyTree::GetTopNode() {
    int top;
    return GetNodeAt(0, 0, true, top);
}

int TBaseLazyTree::GetNodeTop(PLazyNode node) {
    if (!IsEffectivelyVisible(node) || node == root_) return -1;
    uint32_t cacheTop;
    PLazyNode run = FindInPositionCache(node, cacheTop);
    int64_t top = cacheTop;
    if (!run) {
        run = GetFirstVisibleNoInit();
        top = 0;
    }
    // From the entry, whole subtrees that end before the node are skipped.
    while (run && run != node) {
        if (HasAsParent(node, run)) {
            top += run->NodeHeight;
            run = run->FirstChild;
            while (run && !(run->States & vsVisible)) run = run->NextSibling;
            continue;
        }
        top += run->TotalHeight;
        while (run != root_ && !run->NextSibling) run = run->Parent;
        if (run == root_) return -1;
        run = run->NextSibling;
        while (run && !(run->States & vsVisible)) {
            while (run != root_ && !run->NextSibling) run = run->Parent;
            run = run == root_ ? nullptr : run->NextSibling;
        }
    }
    return run ? int(top) : -1;
}

// Expands the node's ancestors; an expand handler may delete the node (and
// with it the ancestors above it): false then.
bool TBaseLazyTree::ExpandParents(PLazyNode node) {
    TNodeWatch watch(this, &node);
    for (PLazyNode run = node->Parent; node && run && run != root_; run = node ? run->Parent : nullptr)
        if (!(run->States & vsExpanded)) ToggleNode(run);
    return node != nullptr;
}

bool TBaseLazyTree::ScrollIntoView(PLazyNode node, bool center, bool horizontally) {
    if (!node || node == root_ || !ExpandParents(node)) return false;
    int top = GetNodeTop(node);
    if (top < 0) return false;
    int oldY = offsetY_, oldX = offsetX_;
    // Horizontally first: a horizontal bar that appears takes client height.
    if (horizontally) {
        TColumnIndex column = header_->ColumnCount() > 0 ? focusedColumn_ : ColumnNone;
        // Unclipped: a text wider than the known range still comes into view.
        RECT r = GetDisplayRect(node, column, !MiscOption(toGridExtensions), true);
        int clientWidth = ClientWidth();
        if (r.right > r.left && (r.left < 0 || r.right > clientWidth)) {
            // The text may reach past the known range: the range grows to hold it.
            int rightInTree = r.right - offsetX_;
            if (rightInTree > rangeX_) rangeX_ = rightInTree;
            SetOffsetX(offsetX_ + clientWidth / 2 - (r.left + r.right) / 2);
        }
    }
    int clientHeight = ClientHeight();
    int rowTop = top + offsetY_;
    int rowBottom = rowTop + node->NodeHeight;
    int newOffset = offsetY_;
    if (center) {
        newOffset = clientHeight / 2 - (top + node->NodeHeight / 2);
    } else if (rowBottom > clientHeight) {
        newOffset = clientHeight - (top + node->NodeHeight);
        // Content wider than the window without a bar of its own: leave a bar's height free below the row.
        TScrollStyle bars = scrollBarOptions_.ScrollBars();
        if (header_->ColumnCount() == 0 && bars != ssHorizontal && bars != ssBoth && rangeX_ > ClientWidth())
            newOffset -= ::GetSystemMetrics(SM_CYHSCROLL);
    } else if (rowTop < 0) {
        newOffset = -top;
    }
    if (newOffset != offsetY_) SetOffsetY(newOffset);
    return offsetY_ != oldY || offsetX_ != oldX;
}

void TBaseLazyTree::InvalidateNode(PLazyNode node) {
    if (updateCount_ != 0 || !HandleAllocated() || !node || node == root_) return;
    int top = GetNodeTop(node);
    if (top < 0) return;
    RECT r{0, top + offsetY_, ClientWidth(), top + offsetY_ + node->NodeHeight};
    ::InvalidateRect(handle_, &r, FALSE);
}

void TBaseLazyTree::InvalidateToBottom(PLazyNode node) {
    if (updateCount_ != 0 || !HandleAllocated()) return;
    if (!node || node == root_) {
        Invalidate();
        return;
    }
    int top = GetNodeTop(node);
    if (top < 0 || top + offsetY_ >= ClientHeight()) return;
    RECT r{0, top + offsetY_, ClientWidth(), ClientHeight()};
    ::InvalidateRect(handle_, &r, FALSE);
}

// ---- Clear -------------------------------------------------------------------------------------

void TBaseLazyTree::Clear() {
    if (MiscOption(toReadOnly) && !destroying_) return;
    InUpdate(*this, [&] {
        InterruptValidation();
        if (states_.Contains(tsEditing) || states_.Contains(tsEditPending)) DoCancelEdit();
        if (states_.Contains(tsCutPending) || states_.Contains(tsCopyPending)) {
            ::OleSetClipboard(nullptr);
            DoStateChange({}, {tsCutPending, tsCopyPending});
        }
        ClearSelection();
        focusedNode_ = nullptr;
        dropTargetNode_ = lastFrameworkDragTarget_ = nullptr;
        lastClickedNode_ = nullptr;
        lastSearchNode_ = nullptr;
        hotNode_ = nullptr;
        DeleteChildren(root_, true);
        visibleCount_ = 0;
        offsetX_ = 0;
        offsetY_ = 0;
    });
}

} // namespace krv
