// The selection: an array sorted by node address, so membership is a binary
// search. Entries of nodes deleted during an update are only marked (lowest
// address bit set) and dropped when the update ends.
#include "tree/core/LazyTrees.h"
#include <algorithm>

namespace krv {

namespace {
inline uintptr_t Address(PLazyNode n) { return reinterpret_cast<uintptr_t>(n) & ~uintptr_t(1); }
inline bool Marked(PLazyNode n) { return (reinterpret_cast<uintptr_t>(n) & 1) != 0; }
}

bool TBaseLazyTree::FindSelected(PLazyNode node, size_t& index) const {
    auto it = std::lower_bound(selection_.begin(), selection_.end(), node,
                               [](PLazyNode entry, PLazyNode key) { return Address(entry) < Address(key); });
    index = size_t(it - selection_.begin());
    return it != selection_.end() && Address(*it) == Address(node);
}

void TBaseLazyTree::PackSelection() {
    selection_.erase(std::remove_if(selection_.begin(), selection_.end(), Marked), selection_.end());
    selectionCount_ = unsigned(selection_.size());
    if (selectionCount_ == 0) rangeAnchor_ = nullptr;
}

void TBaseLazyTree::InternalAddToSelection(TNodeArray nodes, bool force) {
    std::sort(nodes.begin(), nodes.end(), [](PLazyNode a, PLazyNode b) { return Address(a) < Address(b); });
    nodes.erase(std::unique(nodes.begin(), nodes.end()), nodes.end());
    TNodeArray accepted;
    accepted.reserve(nodes.size());
    for (PLazyNode node : nodes) {
        if (!node || node == root_) continue;
        size_t index;
        if (FindSelected(node, index) && !Marked(selection_[index])) continue;
        if (!force) {
            if (node->States & (vsSelected | vsDisabled)) continue;
            if (SelectionOption(toLevelSelectConstraint)) {
                int level = int(GetNodeLevel(node));
                if (selectionLevel_ < 0) selectionLevel_ = level;
                if (level != selectionLevel_) continue;
            }
            if (SelectionOption(toSiblingSelectConstraint)) {
                if (!rangeAnchor_) rangeAnchor_ = node;
                if (node->Parent != rangeAnchor_->Parent) continue;
            }
        }
        node->States |= vsSelected;
        accepted.push_back(node);
    }
    if (accepted.empty()) return;
    // A marked entry of a freed node may share nothing with a new node's address,
    // but a reused address must replace its marked twin.
    for (PLazyNode node : accepted) {
        size_t index;
        if (FindSelected(node, index) && Marked(selection_[index])) selection_.erase(selection_.begin() + index);
    }
    TNodeArray merged;
    merged.reserve(selection_.size() + accepted.size());
    std::merge(selection_.begin(), selection_.end(), accepted.begin(), accepted.end(), std::back_inserter(merged),
               [](PLazyNode a, PLazyNode b) { return Address(a) < Address(b); });
    selection_.swap(merged);
    selectionCount_ = unsigned(selection_.size());
    NotifyChange(accepted.size() == 1 ? accepted.front() : nullptr);
}

void TBaseLazyTree::AddToSelection(PLazyNode node) { InternalAddToSelection(TNodeArray{node}, false); }

void TBaseLazyTree::AddToSelection(const TNodeArray& nodes, bool forceInsert) {
    InternalAddToSelection(nodes, forceInsert);
}

void TBaseLazyTree::RemoveFromSelection(PLazyNode node) {
    if (!node || !(node->States & vsSelected)) return;
    node->States &= ~vsSelected;
    size_t index;
    if (FindSelected(node, index)) selection_.erase(selection_.begin() + index);
    selectionCount_ = unsigned(selection_.size());
    if (selectionCount_ == 0) {
        rangeAnchor_ = nullptr;
        selectionLevel_ = -1;
    }
    NotifyChange(node);
}

void TBaseLazyTree::SetSelected(PLazyNode node, bool value) {
    if (!node || node == root_ || bool(node->States & vsSelected) == value) return;
    if (value) {
        if (selectionCount_ == 0) rangeAnchor_ = node;
        else if (!SelectionOption(toMultiSelect)) ClearSelection();
        AddToSelection(node);
        FocusMainColumnIfNone();
        if (!rangeAnchor_) rangeAnchor_ = node;
    } else {
        RemoveFromSelection(node);
        if (selectionCount_ == 0) rangeAnchor_ = nullptr;
    }
    if (IsEffectivelyVisible(node)) InvalidateNode(node);
}

// A selected node with no usable focused column: the main column takes the
// focus, or the first shown column while the main one is hidden.
void TBaseLazyTree::FocusMainColumnIfNone() {
    TLazyTreeColumns& columns = header_->Columns();
    if (columns.IsColumnIndexValid(focusedColumn_) && columns[focusedColumn_].Visible()) return;
    TColumnIndex main = header_->MainColumn();
    if (!columns.IsColumnIndexValid(main)) return;
    focusedColumn_ = columns[main].Visible() ? main : columns.GetFirstVisibleColumn();
}

void TBaseLazyTree::ClearSelection() {
    if (selectionCount_ == 0 || destroying_) return;
    if (updateCount_ == 0 && HandleAllocated()) Invalidate();
    for (PLazyNode entry : selection_)
        if (!Marked(entry)) entry->States &= ~vsSelected;
    rangeAnchor_ = nullptr;
    selectionLevel_ = -1;
    selection_.clear();
    selectionCount_ = 0;
    DoStateChange({}, tsClearPending);
    NotifyChange(nullptr);
}

TNodeArray TBaseLazyTree::GetSortedSelection(bool resolve) {
    TNodeArray nodes;
    nodes.reserve(selection_.size());
    for (PLazyNode entry : selection_)
        if (!Marked(entry)) nodes.push_back(entry);
    std::sort(nodes.begin(), nodes.end(), [](PLazyNode a, PLazyNode b) { return CompareNodePositions(a, b) < 0; });
    if (!resolve) return nodes;
    // In tree order the descendants of a taken node follow it directly.
    TNodeArray result;
    for (PLazyNode node : nodes)
        if (result.empty() || !HasAsParent(node, result.back())) result.push_back(node);
    return result;
}

TNodeArray TBaseLazyTree::GetSortedCutCopySet(bool resolve) {
    TNodeArray result;
    PLazyNode run = root_->FirstChild;
    while (run) {
        if (run->States & vsCutOrCopy) {
            result.push_back(run);
            if (resolve) {
                while (run != root_ && !run->NextSibling) run = run->Parent;
                run = run == root_ ? nullptr : run->NextSibling;
                continue;
            }
        }
        run = GetNextNoInit(run);
    }
    return result;
}

void TBaseLazyTree::InvertSelection(bool visibleOnly) {
    if (!SelectionOption(toMultiSelect)) return;
    TNodeArray add;
    bool changed = false;
    for (PLazyNode run = visibleOnly ? GetFirstVisibleNoInit() : GetFirstNoInit(); run;
         run = visibleOnly ? GetNextVisibleNoInit(run) : GetNextNoInit(run)) {
        if (run->States & vsSelected) {
            size_t index;
            run->States &= ~vsSelected;
            if (FindSelected(run, index))
                selection_[index] = reinterpret_cast<PLazyNode>(reinterpret_cast<uintptr_t>(selection_[index]) | 1);
            changed = true;
        } else {
            add.push_back(run);
        }
    }
    PackSelection();
    size_t before = selection_.size();
    InternalAddToSelection(add, false);
    if (changed || selection_.size() != before) {
        Invalidate();
        if (selection_.size() == before) NotifyChange(nullptr);
    }
}

void TBaseLazyTree::SelectAll(bool visibleOnly) {
    if (!SelectionOption(toMultiSelect)) return;
    TNodeArray add;
    for (PLazyNode run = visibleOnly ? GetFirstVisible() : GetFirst(); run;
         run = visibleOnly ? GetNextVisible(run) : GetNext(run))
        if (!(run->States & vsSelected)) add.push_back(run);
    InternalAddToSelection(add, false);
    Invalidate();
}

} // namespace krv
