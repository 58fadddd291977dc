// The node model: making, linking, unlinking and freeing nodes, the subtree
// counts and heights, lazy initialisation, expanding and collapsing.
// Everything that changes links, heights or the expanded and visible flags
// first stops the worker (InterruptValidation), which reads those fields.
#include "tree/core/LazyTrees.h"
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace krv {

namespace {
constexpr size_t kFixedSize = sizeof(TLazyNode);
}

// ---- making and freeing -----------------------------------------------------

void TBaseLazyTree::MakeRootNode() {
    size_t size = kFixedSize + totalInternalDataSize_;
    auto* block = static_cast<PLazyNode>(std::realloc(root_, size));
    if (!block) throw std::bad_alloc();
    root_ = block;
    std::memset(root_, 0, size);
    root_->States = vsInitialized | vsExpanded | vsHasChildren | vsVisible;
    root_->NodeHeight = static_cast<uint16_t>(defaultNodeHeight_);
    root_->TotalHeight = static_cast<uint32_t>(defaultNodeHeight_);
    root_->TotalCount = 1;
    root_->Align = 50;
    root_->Parent = reinterpret_cast<PLazyNode>(this);
    root_->PrevSibling = root_;
    root_->NextSibling = root_;
}

TBaseLazyTree* TBaseLazyTree::TreeFromNode(PLazyNode node) {
    if (!node) return nullptr;
    while (node->Parent && node->PrevSibling != node) node = node->Parent;
    // The root links to itself; its parent field holds the tree.
    return reinterpret_cast<TBaseLazyTree*>(node->Parent);
}

PLazyNode TBaseLazyTree::MakeNewNode() {
    if (nodeDataSize_ == -1) {
        DoGetNodeDataSize(nodeDataSize_);
        if (nodeDataSize_ < -1) nodeDataSize_ = -1;
    }
    size_t size = kFixedSize + totalInternalDataSize_ + (nodeDataSize_ > 0 ? size_t(nodeDataSize_) : 0);
    auto* node = static_cast<PLazyNode>(nodePool_.Allocate(size));
    node->TotalCount = 1;
    node->TotalHeight = node->NodeHeight = static_cast<uint16_t>(defaultNodeHeight_);
    node->States = vsVisible;
    node->Align = 50;
    return node;
}

void TBaseLazyTree::FreeNodeMemory(PLazyNode node) { nodePool_.Free(node); }

void* TBaseLazyTree::GetNodeData(PLazyNode node) const {
    if (!node || node == root_ || nodeDataSize_ < 1) return nullptr;
    return reinterpret_cast<uint8_t*>(node) + kFixedSize + totalInternalDataSize_;
}

unsigned TBaseLazyTree::AllocateInternalDataArea(unsigned size) {
    unsigned offset = unsigned(kFixedSize) + totalInternalDataSize_;
    totalInternalDataSize_ += (size + 3) & ~3u;
    // Nodes made before this keep their size; only an empty tree's root is remade.
    if (root_ && root_->ChildCount == 0) {
        InterruptValidation();
        MakeRootNode();
    }
    return offset;
}

// Every reference the tree keeps to a node dies with the node.
void TBaseLazyTree::ForgetNode(PLazyNode node, PLazyNode parent) {
    if (parent == root_) parent = nullptr;
    if (pendingChangeNode_ == node) pendingChangeNode_ = nullptr;
    if (pendingStructureNode_ == node) pendingStructureNode_ = parent;
    if (checkNode_ == node) {
        checkNode_ = nullptr;
        DoStateChange({}, {tsKeyCheckPending, tsMouseCheckPending});
    }
    if (hotNode_ == node) hotNode_ = nullptr;
    CancelHintOf(node);
    if (dropTargetNode_ == node) dropTargetNode_ = nullptr;
    if (lastFrameworkDragTarget_ == node) lastFrameworkDragTarget_ = nullptr;
    if (lastSearchNode_ == node) lastSearchNode_ = nullptr;
    if (lastClickedNode_ == node) lastClickedNode_ = nullptr;
    if (movedFromHand_ == node) movedFromHand_ = nullptr;
    if (rangeAnchor_ == node) rangeAnchor_ = nullptr;
    if (focusedNode_ == node) {
        focusedNode_ = nullptr;
        // The editor works on the focused node.
        if (editLink_ && states_.Contains(tsEditing)) DoCancelEdit();
    }
    for (TWatched& w : watched_)
        if (*w.Slot == node) *w.Slot = nullptr;
    for (TWatchedList& w : watchedLists_) {
        auto it = std::lower_bound(w.ByAddress.begin(), w.ByAddress.end(), std::pair(node, size_t(0)));
        if (it != w.ByAddress.end() && it->first == node) (*w.Nodes)[it->second] = nullptr;
    }
    if (!dragSelection_.empty()) std::erase(dragSelection_, node);
}

TBaseLazyTree::TNodeWatch::TNodeWatch(TBaseLazyTree* tree, TNodeArray& nodes) : tree_(tree) {
    TWatchedList w{&nodes, {}};
    w.ByAddress.reserve(nodes.size());
    for (size_t i = 0; i < nodes.size(); ++i) w.ByAddress.emplace_back(nodes[i], i);
    std::sort(w.ByAddress.begin(), w.ByAddress.end());
    tree_->watchedLists_.push_back(std::move(w));
}

void TBaseLazyTree::TNodeWatch::EndListWatch() { tree_->watchedLists_.pop_back(); }

void TBaseLazyTree::RefuseWhileSorting(const char* what) {
    if (sorting_) ShowError(std::string("Cannot ") + what + " nodes while sorting.", 2009);
}

void TBaseLazyTree::MoveWatchedPlaces(PLazyNode node, bool childrenOnly) {
    for (TTreeWalk* w = walks_; w; w = w->outer_) w->Deleting(node, childrenOnly);
    for (TWatched& w : watched_) {
        if (w.Kind == TWatchKind::Clear || !Goes(*w.Slot, node, childrenOnly)) continue;
        // The whole of what goes is node's subtree (or all below it): its bounds survive.
        if (childrenOnly) *w.Slot = w.Kind == TWatchKind::Ahead ? NodeAfterSubtree(node) : (node == root_ ? nullptr : node);
        else *w.Slot = w.Kind == TWatchKind::Ahead ? NodeAfterSubtree(node) : GetPreviousNoInit(node);
    }
}

// ---- subtree bookkeeping ---------------------------------------------------------

void TBaseLazyTree::AdjustTotalCount(PLazyNode node, int64_t value, bool relative) {
    int64_t diff = relative ? value : value - int64_t(node->TotalCount);
    if (diff == 0) return;
    for (PLazyNode run = node;; run = run->Parent) {
        run->TotalCount = uint32_t(int64_t(run->TotalCount) + diff);
        if (run == root_) break;
    }
}

void TBaseLazyTree::AdjustTotalHeight(PLazyNode node, int64_t value, bool relative) {
    int64_t diff = relative ? value : value - int64_t(node->TotalHeight);
    if (diff == 0) return;
    for (PLazyNode run = node;;) {
        run->TotalHeight = uint32_t(int64_t(run->TotalHeight) + diff);
        if (!(run->States & vsVisible) || run == root_) break;
        run = run->Parent;
        if (!(run->States & vsExpanded)) break;
    }
}

// Visible rows below an expanded node; walks the subtree without recursion.
unsigned TBaseLazyTree::CountVisibleChildren(PLazyNode node) const {
    if (!(node->States & vsExpanded)) return 0;
    unsigned count = 0;
    PLazyNode run = node->FirstChild;
    while (run) {
        bool descend = false;
        if (run->States & vsVisible) {
            ++count;
            descend = (run->States & vsExpanded) && run->FirstChild;
        }
        if (descend) {
            run = run->FirstChild;
            continue;
        }
        while (run != node && !run->NextSibling) run = run->Parent;
        if (run == node) break;
        run = run->NextSibling;
    }
    return count;
}

bool TBaseLazyTree::FullyVisible(PLazyNode node) const {
    for (PLazyNode run = node->Parent; run && run != root_; run = run->Parent)
        if ((run->States & (vsExpanded | vsVisible)) != (vsExpanded | vsVisible)) return false;
    return true;
}

bool TBaseLazyTree::IsEffectivelyVisible(PLazyNode node) const {
    if (!node || !(node->States & vsVisible)) return false;
    return node == root_ || FullyVisible(node);
}

void TBaseLazyTree::ChangeVisibleCount(int64_t delta) {
    visibleCount_ = unsigned(int64_t(visibleCount_) + delta);
}

void TBaseLazyTree::DetermineHiddenChildrenFlag(PLazyNode node) {
    if (!node || node == root_) return;
    bool anyVisible = false;
    for (PLazyNode run = node->FirstChild; run && !anyVisible; run = run->NextSibling)
        anyVisible = (run->States & vsVisible) != 0;
    if (anyVisible) node->States &= ~vsAllChildrenHidden;
    else node->States |= vsAllChildrenHidden;
}

void TBaseLazyTree::DetermineHiddenChildrenFlagAllNodes() {
    for (PLazyNode run = GetFirstNoInit(); run; run = GetNextNoInit(run)) DetermineHiddenChildrenFlag(run);
}

// ---- creating nodes -------------------------------------------------------------

void TBaseLazyTree::AppendChildren(PLazyNode parent, unsigned count) {
    PLazyNode last = parent->LastChild;
    uint32_t index = last ? last->Index + 1 : 0;
    if (!last) parent->States |= vsHasChildren;
    int64_t heights = 0;
    for (unsigned i = 0; i < count; ++i) {
        PLazyNode node = MakeNewNode();
        node->Index = index++;
        node->Parent = parent;
        node->PrevSibling = last;
        if (last) last->NextSibling = node;
        else parent->FirstChild = node;
        last = node;
        heights += node->NodeHeight;
    }
    parent->LastChild = last;
    if (parent->States & vsExpanded) {
        AdjustTotalHeight(parent, heights, true);
        if (IsEffectivelyVisible(parent)) ChangeVisibleCount(count);
    }
    AdjustTotalCount(parent, count, true);
    parent->ChildCount += count;
}

void TBaseLazyTree::SetChildCount(PLazyNode node, unsigned newChildCount) {
    if (MiscOption(toReadOnly)) return;
    if (!node) node = root_;
    if (newChildCount == 0) {
        DeleteChildren(node);
    } else {
        int64_t delta = int64_t(newChildCount) - int64_t(node->ChildCount);
        if (delta != 0) InterruptValidation();
        if (delta > 0) {
            AppendChildren(node, unsigned(delta));
            if (updateCount_ == 0 && AutoOption(toAutoSort) && header_->SortColumn() > ColumnInvalid)
                Sort(node, header_->SortColumn(), header_->SortDirection(), true);
            InvalidateCache();
        } else if (delta < 0) {
            while (node->ChildCount > newChildCount && node->LastChild) DeleteNode(node->LastChild, true);
        }
        if (updateCount_ == 0) {
            ValidateCache();
            UpdateScrollBars(true);
            Invalidate();
        }
    }
    NotifyStructureChange(node == root_ ? nullptr : node, crChildAdded);
}

void TBaseLazyTree::SetRootNodeCount(unsigned value) {
    if (ComponentState() & csLoading) {
        root_->ChildCount = value;
        DoStateChange(tsNeedRootCountUpdate);
        return;
    }
    if (root_->ChildCount == value) return;
    BeginUpdate();
    InterruptValidation();
    SetChildCount(root_, value);
    EndUpdate();
}

// A root count read from the form applies once every property is set.
void TBaseLazyTree::Loaded() {
    TCustomControl::Loaded();
    if (states_.Contains(tsNeedRootCountUpdate)) {
        DoStateChange({}, tsNeedRootCountUpdate);
        unsigned count = root_->ChildCount;
        if (count > 0) {
            TLTMiscOptions misc = options_->MiscOptions();
            options_->SetMiscOptions(misc - toReadOnly);
            root_->ChildCount = 0;
            BeginUpdate();
            SetChildCount(root_, count);
            EndUpdate();
            options_->SetMiscOptions(misc);
        }
    }
    header_->Loaded();
}

PLazyNode TBaseLazyTree::AddChild(PLazyNode parent, void* userData) {
    if (MiscOption(toReadOnly)) return nullptr;
    if ((states_.Contains(tsEditing) || states_.Contains(tsEditPending)) && HandleAllocated()) DoCancelEdit();
    if (!parent) parent = root_;
    InitIfNeeded(parent);
    // A count raised by hand (no update events for one node), lowered again
    // however SetChildCount ends.
    ++updateCount_;
    try {
        SetChildCount(parent, parent->ChildCount + 1);
    } catch (...) {
        --updateCount_;
        throw;
    }
    --updateCount_;
    parent->States &= ~vsAllChildrenHidden;
    PLazyNode result = parent->LastChild;
    if (userData) {
        if (nodeDataSize_ < 4)
            ShowError("Cannot set initial user data because there is not enough user data space allocated.", 2008);
        std::memcpy(GetNodeData(result), &userData, sizeof(void*));
        result->States |= vsInitialUserData;
    }
    if (updateCount_ == 0) {
        ValidateCache();
        if (states_.Contains(tsStructureChangePending))
            NotifyStructureChange(parent == root_ ? nullptr : parent, crChildAdded);
        if (AutoOption(toAutoSort) && header_->SortColumn() > ColumnInvalid)
            Sort(parent, header_->SortColumn(), header_->SortDirection(), true);
        InvalidateToBottom(parent);
        UpdateScrollBars(true);
    }
    return result;
}

// ---- linking ----------------------------------------------------------------------

void TBaseLazyTree::InternalConnectNode(PLazyNode node, PLazyNode destination, TBaseLazyTree* target,
                                        TLTNodeAttachMode mode) {
    (void)target;
    if (mode == amNoWhere) return;
    InterruptValidation();
    PLazyNode parent = (mode == amInsertBefore || mode == amInsertAfter) ? destination->Parent : destination;
    switch (mode) {
    case amInsertBefore:
        node->Index = destination->Index;
        node->PrevSibling = destination->PrevSibling;
        node->NextSibling = destination;
        if (destination->PrevSibling) destination->PrevSibling->NextSibling = node;
        else parent->FirstChild = node;
        destination->PrevSibling = node;
        for (PLazyNode run = destination; run; run = run->NextSibling) ++run->Index;
        break;
    case amInsertAfter:
        node->Index = destination->Index;
        node->PrevSibling = destination;
        node->NextSibling = destination->NextSibling;
        if (destination->NextSibling) destination->NextSibling->PrevSibling = node;
        else parent->LastChild = node;
        destination->NextSibling = node;
        for (PLazyNode run = node; run; run = run->NextSibling) ++run->Index;
        break;
    case amAddChildFirst:
        node->Index = 0;
        node->PrevSibling = nullptr;
        node->NextSibling = parent->FirstChild;
        if (parent->FirstChild) parent->FirstChild->PrevSibling = node;
        else parent->LastChild = node;
        parent->FirstChild = node;
        for (PLazyNode run = node->NextSibling; run; run = run->NextSibling) ++run->Index;
        break;
    case amAddChildLast:
        node->Index = parent->LastChild ? parent->LastChild->Index + 1 : 0;
        node->PrevSibling = parent->LastChild;
        node->NextSibling = nullptr;
        if (parent->LastChild) parent->LastChild->NextSibling = node;
        else parent->FirstChild = node;
        parent->LastChild = node;
        break;
    default:
        return;
    }
    node->Parent = parent;
    ++parent->ChildCount;
    parent->States |= vsHasChildren;
    AdjustTotalCount(parent, node->TotalCount, true);
    if ((parent->States & vsExpanded) && (node->States & vsVisible)) AdjustTotalHeight(parent, node->TotalHeight, true);
    if (IsEffectivelyVisible(node)) ChangeVisibleCount(int64_t(CountVisibleChildren(node)) + 1);
    node->States &= ~(vsChecking | vsCutOrCopy | vsDeleting | vsClearing);
    if (parent != root_) {
        if (node->States & vsVisible) parent->States &= ~vsAllChildrenHidden;
        else if (parent->ChildCount == 1) parent->States |= vsAllChildrenHidden;
    }
}

void TBaseLazyTree::InternalDisconnectNode(PLazyNode node, bool keepFocus, bool reindex) {
    PLazyNode parent = node->Parent;
    if (node == focusedNode_ && !keepFocus) {
        DoFocusNode(nullptr, false);
        DoFocusChanged(focusedNode_, focusedColumn_);
    }
    if (node == rangeAnchor_) rangeAnchor_ = nullptr;
    if (node->States & vsDeleting) return;
    InterruptValidation();
    node->States &= ~vsChecking;
    bool parentExpanded = (parent->States & vsExpanded) != 0;
    if (IsEffectivelyVisible(node)) ChangeVisibleCount(-(int64_t(CountVisibleChildren(node)) + 1));
    AdjustTotalCount(parent, -int64_t(node->TotalCount), true);
    if (parentExpanded && (node->States & vsVisible)) AdjustTotalHeight(parent, -int64_t(node->TotalHeight), true);
    if (--parent->ChildCount == 0) {
        parent->States &= ~(vsHasChildren | vsAllChildrenHidden);
        if (parentExpanded && parent != root_) parent->States &= ~vsExpanded;
    }
    if (node->PrevSibling) node->PrevSibling->NextSibling = node->NextSibling;
    else parent->FirstChild = node->NextSibling;
    if (node->NextSibling) {
        node->NextSibling->PrevSibling = node->PrevSibling;
        if (reindex) {
            uint32_t index = node->Index;
            for (PLazyNode run = node->NextSibling; run; run = run->NextSibling) run->Index = index++;
        }
    } else {
        parent->LastChild = node->PrevSibling;
    }
    if (!(parent->States & vsClearing)) DetermineHiddenChildrenFlag(parent);
    node->PrevSibling = node->NextSibling = nullptr;
    node->Parent = nullptr;
}

// ---- deleting ---------------------------------------------------------------------

void TBaseLazyTree::DeleteNode(PLazyNode node, bool reindex) {
    if (!node || node == root_ || MiscOption(toReadOnly)) return;
    RefuseWhileSorting();
    MoveWatchedPlaces(node, false);
    PLazyNode parent = node->Parent;
    bool parentClearing = (parent->States & vsClearing) != 0;
    if (!parentClearing) NotifyStructureChange(parent == root_ ? nullptr : parent, crChildDeleted);
    if (node->States & vsSelected) {
        if (updateCount_ == 0) {
            bool synch = states_.Contains(tsSynchMode);
            DoStateChange(tsSynchMode);
            RemoveFromSelection(node);
            if (!synch) DoStateChange({}, tsSynchMode);
        } else {
            size_t index;
            node->States &= ~vsSelected;
            if (FindSelected(node, index))
                selection_[index] = reinterpret_cast<PLazyNode>(reinterpret_cast<uintptr_t>(selection_[index]) | 1);
        }
    }
    InvalidateToBottom(parent);
    if (states_.Contains(tsHint)) DoStateChange({}, tsHint);
    DeleteChildren(node);
    InternalDisconnectNode(node, false, reindex);
    ForgetNode(node, parent);
    DoFreeNode(node);
    if (!parentClearing) {
        DetermineHiddenChildrenFlag(parent);
        InvalidateCache();
        if (updateCount_ == 0) {
            ValidateCache();
            UpdateScrollBars(true);
        }
    }
}

// Frees every node below parent, last child first and children before their
// parent, without recursion. Counts and links of the freed nodes are not
// kept up, only the links of the surviving parent.
void TBaseLazyTree::TearDownChildren(PLazyNode parent) {
    auto enter = [this](PLazyNode n) {
        n->States |= vsDeleting;
        if (n->States & vsSelected) {
            size_t index;
            n->States &= ~vsSelected;
            if (FindSelected(n, index))
                selection_[index] = reinterpret_cast<PLazyNode>(reinterpret_cast<uintptr_t>(selection_[index]) | 1);
        }
    };
    PLazyNode cur = parent->LastChild;
    if (!cur) return;
    enter(cur);
    for (;;) {
        if (cur->LastChild) {
            cur = cur->LastChild;
            enter(cur);
            continue;
        }
        PLazyNode prev = cur->PrevSibling;
        PLazyNode up = cur->Parent;
        if (prev) prev->NextSibling = nullptr;
        else up->FirstChild = nullptr;
        up->LastChild = prev;
        if (cur == focusedNode_) {
            DoFocusNode(nullptr, false);
            DoFocusChanged(focusedNode_, focusedColumn_);
        }
        ForgetNode(cur, up);
        DoFreeNode(cur);
        if (prev) {
            enter(prev);
            cur = prev;
        } else if (up == parent) {
            break;
        } else {
            cur = up;
        }
    }
}

void TBaseLazyTree::DeleteChildren(PLazyNode node, bool resetHasChildren) {
    if (!node) node = root_;
    if (!node->FirstChild || MiscOption(toReadOnly)) return;
    RefuseWhileSorting();
    MoveWatchedPlaces(node, true);
    ++updateCount_;
    InterruptValidation();
    bool wasShown = node == root_ || ((node->States & vsExpanded) && IsEffectivelyVisible(node));
    if (wasShown) ChangeVisibleCount(-int64_t(CountVisibleChildren(node)));
    if (node == root_) visibleCount_ = 0;
    node->States |= vsClearing;
    TearDownChildren(node);
    node->States &= ~vsClearing;
    if (resetHasChildren) node->States &= ~vsHasChildren;
    node->ChildCount = 0;
    node->FirstChild = node->LastChild = nullptr;
    if (node != root_) {
        if (!(node->States & vsDeleting)) {
            AdjustTotalHeight(node, node->NodeHeight, false);
            AdjustTotalCount(node, 1, false);
        }
        node->States &= ~vsExpanded;
    } else {
        root_->TotalHeight = uint32_t(defaultNodeHeight_);
        root_->TotalCount = 1;
        positionCache_.clear();
        positionCache_.shrink_to_fit();
    }
    InvalidateCache();
    if (--updateCount_ == 0) {
        PackSelection();
        ValidateCache();
        UpdateScrollBars(true);
        InvalidateToBottom(node);
    }
    NotifyStructureChange(node == root_ ? nullptr : node, crChildDeleted);
}

void TBaseLazyTree::DeleteSelectedNodes() {
    if (selectionCount_ == 0 || MiscOption(toReadOnly)) return;
    TNodeArray nodes = GetSortedSelection(true);
    // A free handler may delete nodes still in the list.
    TNodeWatch watch(this, nodes);
    InUpdate(*this, [&] {
        for (size_t i = nodes.size(); i-- > 0;) DeleteNode(nodes[i]);
    });
}

// ---- properties of a node ----------------------------------------------------------

bool TBaseLazyTree::HasChildren(PLazyNode node) const {
    return node ? (node->States & vsHasChildren) != 0 : root_->FirstChild != nullptr;
}

void TBaseLazyTree::SetHasChildren(PLazyNode node, bool value) {
    if (!node || node == root_ || MiscOption(toReadOnly)) return;
    if (value) {
        node->States |= vsHasChildren;
    } else {
        node->States &= ~vsHasChildren;
        DeleteChildren(node);
    }
    InvalidateNode(node);
}

void TBaseLazyTree::SetExpanded(PLazyNode node, bool value) {
    if (!node || node == root_) return;
    if (bool(node->States & vsExpanded) != value) ToggleNode(node);
}

unsigned TBaseLazyTree::NodeHeight(PLazyNode node) {
    if (!node || node == root_) return 0;
    if (MiscOption(toVariableNodeHeight) && !(node->States & vsHeightMeasured)) {
        TCanvas canvas(MeasureDC());
        canvas.Font = font_;
        MeasureItemHeight(canvas, node);
    }
    return node->NodeHeight;
}

void TBaseLazyTree::SetNodeHeight(PLazyNode node, unsigned value) {
    if (!node || node == root_ || MiscOption(toReadOnly)) return;
    if (value > 0xFFFF) value = 0xFFFF;
    if (node->NodeHeight == value) return;
    InterruptValidation();
    int64_t diff = int64_t(value) - node->NodeHeight;
    node->NodeHeight = uint16_t(value);
    AdjustTotalHeight(node, diff, true);
    bool shown = IsEffectivelyVisible(node);
    if (shown) InvalidateCache();
    if (updateCount_ == 0) {
        // A hidden row moves nothing, but the interrupt above stopped the worker.
        ValidateCache();
        if (shown) {
            InvalidateToBottom(node);
            UpdateScrollBars(true);
        }
    }
}

// Showing or hiding a row changes the visible rows and the heights above it.
void TBaseLazyTree::SetIsVisible(PLazyNode node, bool value) {
    if (!node || node == root_ || bool(node->States & vsVisible) == value) return;
    InterruptValidation();
    PLazyNode parent = node->Parent;
    bool parentExpanded = (parent->States & vsExpanded) != 0;
    if (value) {
        node->States |= vsVisible;
        if (parentExpanded) AdjustTotalHeight(parent, node->TotalHeight, true);
        if (IsEffectivelyVisible(node)) ChangeVisibleCount(int64_t(CountVisibleChildren(node)) + 1);
    } else {
        if (IsEffectivelyVisible(node)) ChangeVisibleCount(-(int64_t(CountVisibleChildren(node)) + 1));
        if (parentExpanded) AdjustTotalHeight(parent, -int64_t(node->TotalHeight), true);
        node->States &= ~vsVisible;
    }
    if (updateCount_ == 0) DetermineHiddenChildrenFlag(parent);
    else DoStateChange(tsUpdateHiddenChildrenNeeded);
    InvalidateCache();
    if (updateCount_ == 0) {
        ValidateCache();
        UpdateScrollBars(true);
        Invalidate();
    }
}

void TBaseLazyTree::SetDisabled(PLazyNode node, bool value) {
    if (!node || node == root_) return;
    if (value) node->States |= vsDisabled;
    else node->States &= ~vsDisabled;
    InvalidateNode(node);
}

void TBaseLazyTree::SetDefaultNodeHeight(int value) {
    if (value == 0) value = 18;
    if (value < 0 || value > 0xFFFF || value == defaultNodeHeight_) return;
    InterruptValidation();
    DoStateChange(tsNeedScale);
    int diff = value - defaultNodeHeight_;
    root_->TotalHeight = uint32_t(int64_t(root_->TotalHeight) + diff);
    root_->NodeHeight = uint16_t(root_->NodeHeight + diff);
    defaultNodeHeight_ = value;
    InvalidateCache();
    if (updateCount_ == 0 && HandleAllocated() && !(ComponentState() & csLoading)) {
        ValidateCache();
        UpdateScrollBars(true);
        ScrollIntoView(focusedNode_, SelectionOption(toCenterScrollIntoView), true);
        Invalidate();
    }
}

void TBaseLazyTree::SetNodeDataSize(int value) {
    if (value < -1) value = -1;
    if (value == nodeDataSize_) return;
    nodeDataSize_ = value;
    if (!(ComponentState() & (csLoading | csDesigning))) {
        unsigned count = root_->ChildCount;
        Clear();
        SetRootNodeCount(count);
    }
}

// ---- initialising on demand -----------------------------------------------------------

void TBaseLazyTree::InitNode(PLazyNode node) {
    TNodeWatch watch(this, &node);
    InitHeldNode(node, node);
}

void TBaseLazyTree::InitHeldNode(PLazyNode node, PLazyNode& held) {
    node->States |= vsInitialized;
    TLazyNodeInitStates initStates;
    DoInitNode(node->Parent == root_ ? nullptr : node->Parent, node, initStates);
    if (!held && node != movedFromHand_) return;
    if (initStates.Contains(ivsDisabled)) node->States |= vsDisabled;
    if (initStates.Contains(ivsHasChildren)) node->States |= vsHasChildren;
    if (initStates.Contains(ivsSelected)) {
        TNodeArray one{node};
        InternalAddToSelection(one, false);
        // The change handler may delete the node.
        if (!held && node != movedFromHand_) return;
    }
    if (initStates.Contains(ivsMultiline)) node->States |= vsMultiline;
    bool expanded = (node->States & vsExpanded) != 0;
    if (initStates.Contains(ivsExpanded) == expanded) return;
    if (!expanded) ToggleNode(node);
    else if (node->States & vsHasChildren) InitChildren(node);
}

void TBaseLazyTree::AskForChildren(PLazyNode node) {
    unsigned count = node->ChildCount;
    TNodeWatch watch(this, &node);
    DoInitChildren(node, count);
    if (!node) return;
    if (count == 0) {
        DeleteChildren(node);
        node->States &= ~vsHasChildren;
    } else {
        SetChildCount(node, count);
    }
}

void TBaseLazyTree::ReinitNode(PLazyNode node, bool recursive) {
    if (node && node != root_) {
        TNodeWatch watch(this, &node);
        node->States &= ~(vsChecking | vsCutOrCopy | vsDeleting | vsHeightMeasured);
        InitNode(node);
        if (!node) return;
    }
    if (recursive) ReinitChildren(node, true);
}

// Without recursion: a depth-first walk over the initialised subtree.
void TBaseLazyTree::ReinitChildren(PLazyNode node, bool recursive) {
    if (!node) node = root_;
    // The init handlers may delete what the walk holds.
    TNodeWatch watchNode(this, &node);
    InitChildren(node);
    if (!node) return;
    TTreeWalk walk(this, node, node->FirstChild);
    for (PLazyNode run = walk.Node(); run; run = walk.Next(run, recursive)) {
        run->States &= ~(vsChecking | vsCutOrCopy | vsDeleting | vsHeightMeasured);
        walk.ReinitNode(run);
        if (recursive && walk.Node() == run) InitChildren(run);
    }
}

void TBaseLazyTree::ResetNode(PLazyNode node) {
    DoCancelEdit();
    if (!node || node == root_) {
        Clear();
        return;
    }
    DoResetNode(node);
    DeleteChildren(node);
    InterruptValidation();
    node->States &= ~(vsInitialized | vsChecking | vsCutOrCopy | vsDeleting | vsExpanded | vsHasChildren |
                      vsHeightMeasured);
    if (updateCount_ == 0) ValidateCache();
    InvalidateNode(node);
}

// ---- expanding and collapsing ------------------------------------------------------------

void TBaseLazyTree::ToggleNode(PLazyNode node) {
    if (!node || node == root_ || (node->States & vsDeleting)) return;
    // The expand and collapse handlers may delete the node.
    TNodeWatch watch(this, &node);
    PLazyNode lastTop = updateCount_ == 0 ? GetTopNode() : nullptr;
    bool changed = false;
    if (node->States & vsExpanded) {
        if (!DoCollapsing(node) || !node) return;
        if (updateCount_ == 0 && !states_.Contains(tsCollapsing)) {
            int rowBottom = RowBottom(node);
            AnimateToggle(rowBottom, std::min<int>(int(node->TotalHeight) - node->NodeHeight,
                                                   ClientHeight() - rowBottom + 1), false);
        }
        InterruptValidation();
        unsigned hiddenRows = IsEffectivelyVisible(node) ? CountVisibleChildren(node) : 0;
        AdjustTotalHeight(node, node->NodeHeight, false);
        ChangeVisibleCount(-int64_t(hiddenRows));
        node->States &= ~vsExpanded;
        DoCollapsed(node);
        if (!node) return;
        if (AutoOption(toAutoFreeOnCollapse) && node->FirstChild) {
            DeleteChildren(node);
            node->States |= vsHasChildren;
        }
        changed = true;
    } else {
        if (!DoExpanding(node) || !node) return;
        InitIfNeeded(node);
        if (!node) return;
        if ((node->States & vsHasChildren) && !node->FirstChild) InitChildren(node);
        if (!node->FirstChild || (node->States & vsExpanded)) return;
        InterruptValidation();
        int64_t heightDelta = 0;
        for (PLazyNode run = node->FirstChild; run; run = run->NextSibling)
            if (run->States & vsVisible) heightDelta += run->TotalHeight;
        if (updateCount_ == 0 && !states_.Contains(tsExpanding) && !states_.Contains(tsPainting) &&
            GetNextVisibleNoInit(node)) {
            int rowBottom = RowBottom(node);
            if (rowBottom < ClientHeight())
                AnimateToggle(rowBottom, int(std::min<int64_t>(ClientHeight() - rowBottom + 1, heightDelta)), true);
        }
        node->States |= vsExpanded;
        AdjustTotalHeight(node, heightDelta, true);
        if (IsEffectivelyVisible(node)) ChangeVisibleCount(CountVisibleChildren(node));
        DoExpanded(node);
        if (!node) {
            Invalidate();
            return;
        }
        changed = true;
    }
    if (!changed) return;
    InvalidateCache();
    if (updateCount_ != 0) return;
    ValidateCache();
    if (!node->FirstChild) {
        InvalidateNode(node);
        return;
    }
    UpdateScrollBars(true);
    if (AutoOption(toAutoScrollOnExpand) && (node->States & vsExpanded) && HandleAllocated()) {
        // The opened subtree comes into view as far as it fits.
        if (ClientHeight() < int(node->TotalHeight)) SetTopNode(node);
        else if (PLazyNode last = GetLastVisibleChild(node))
            ScrollIntoView(last, SelectionOption(toCenterScrollIntoView));
    }
    if (GetTopNode() == lastTop) InvalidateToBottom(node);
    else Invalidate();
}

// Both walks call out (init, expand, collapse handlers), and a handler may
// delete any node: each holds the node it stands on and its place.
void TBaseLazyTree::FullExpand(PLazyNode node) {
    if (root_->ChildCount == 0) return;
    if (node == root_) node = nullptr;
    TTreeWalk walk(this, node ? node : root_, node ? node : GetFirstNoInit());
    DoStateChange(tsExpanding);
    try {
        InUpdate(*this, [&] {
            while (PLazyNode run = walk.Node()) {
                walk.InitNode();
                if (walk.Node() && !(run->States & vsExpanded)) ToggleNode(run);
                // Children are made (an expand refused makes them too) and each initialised when reached.
                if (walk.Node()) StepInto(run);
                walk.Advance(true);
            }
        });
    } catch (...) {
        DoStateChange({}, tsExpanding);
        throw;
    }
    DoStateChange({}, tsExpanding);
}

void TBaseLazyTree::FullCollapse(PLazyNode node) {
    if (root_->ChildCount == 0) return;
    if (node == root_) node = nullptr;
    const bool whole = !node;
    PLazyNode run = GetLastNoInit(node), prev = nullptr;
    if (!run) run = node;
    TNodeWatch watchNode(this, &node), watchRun(this, &run), watchPrev(this, &prev, TWatchKind::Behind);
    DoStateChange(tsCollapsing);
    try {
        InUpdate(*this, [&] {
            while (run && (whole || node)) {
                const bool atNode = run == node;
                prev = atNode ? nullptr : GetPreviousNoInit(run);
                if ((run->States & (vsExpanded | vsHasChildren)) == (vsExpanded | vsHasChildren)) ToggleNode(run);
                if (atNode) break;
                run = prev;
            }
        });
    } catch (...) {
        DoStateChange({}, tsCollapsing);
        throw;
    }
    DoStateChange({}, tsCollapsing);
}

// ---- moving -----------------------------------------------------------------------------

void TBaseLazyTree::Relink(PLazyNode node, PLazyNode target, TLTNodeAttachMode mode, bool reindex) {
    for (TTreeWalk* w = walks_; w; w = w->outer_) w->Moving(node);
    InternalDisconnectNode(node, true, reindex);
    InternalConnectNode(node, target, this, mode);
}

void TBaseLazyTree::MoveTo(PLazyNode source, PLazyNode target, TLTNodeAttachMode mode, bool childrenOnly) {
    if (mode == amNoWhere || !source || source == root_ || MiscOption(toReadOnly)) return;
    if (target == source && !(childrenOnly && (mode == amInsertBefore || mode == amInsertAfter))) return;
    TBaseLazyTree* targetTree = this;
    if (!target) {
        target = root_;
        mode = amAddChildLast;
    } else {
        targetTree = TreeFromNode(target);
    }
    if (target == targetTree->root_) {
        if (mode == amInsertBefore) mode = amAddChildFirst;
        else if (mode == amInsertAfter) mode = amAddChildLast;
    }
    // A sibling list half relinked by a sort has no place to take a node out of.
    RefuseWhileSorting("move");
    PLazyNode reportTarget = target == targetTree->root_ ? nullptr : target;
    if (!DoNodeMoving(source, reportTarget)) return;
    PLazyNode moved = source, firstArrived = nullptr;
    if (targetTree != this) {
        TMemoryStream stream;
        if (childrenOnly) {
            for (PLazyNode run = source->FirstChild; run; run = run->NextSibling) WriteNode(stream, run);
        } else {
            WriteNode(stream, source);
        }
        stream.SetPosition(0);
        InUpdate(*targetTree, [&] {
            while (stream.Position() < stream.Size()) {
                PLazyNode node = targetTree->MakeNewNode();
                targetTree->InternalConnectNode(node, target, targetTree, mode);
                targetTree->InternalAddFromStream(stream, 2, node);
                if (!firstArrived) firstArrived = node;
                DoNodeMoved(node);
            }
        });
        BeginUpdate();
        if (childrenOnly) DeleteChildren(source);
        else DeleteNode(source);
        EndUpdate();
        moved = nullptr;
    } else {
        if (target != root_ && HasAsParent(target, source))
            ShowError("Target node cannot be a child node of the node to be moved.", 2001);
        if (childrenOnly) {
            // The moved handler may delete the source, the target or the child to move next.
            PLazyNode prev = nullptr;
            TNodeWatch watchSource(this, &source), watchTarget(this, &target),
                watchPrev(this, &prev, TWatchKind::Behind);
            for (PLazyNode run = source->LastChild; run;) {
                prev = run->PrevSibling;
                Relink(run, target, mode, false);
                DoNodeMoved(run);
                if (!source || !target) break;
                // Past a deleted child the place is the previous node in tree order: its child of source.
                while (prev && prev != source && prev != root_ && prev->Parent != source) prev = prev->Parent;
                // A child to move next that a handler moved away leaves the ones still to move last.
                if (prev == root_) prev = source->LastChild;
                run = prev == source ? nullptr : prev;
            }
            // Siblings left behind keep dense indexes only after a renumbering.
            uint32_t index = 0;
            if (source)
                for (PLazyNode run = source->FirstChild; run; run = run->NextSibling) run->Index = index++;
            moved = source;
        } else {
            Relink(source, target, mode, true);
            DoNodeMoved(source);
        }
    }
    InvalidateCache();
    if (updateCount_ == 0) {
        ValidateCache();
        UpdateScrollBars(true);
        Invalidate();
        if (targetTree != this) targetTree->Invalidate();
    }
    // Across trees the source node is gone: this tree reports the move without it, and the
    // target tree, which gained the nodes, reports it with the first of them.
    NotifyStructureChange(moved, crNodeMoved);
    if (targetTree != this) targetTree->NotifyStructureChange(firstArrived, crNodeMoved);
}

} // namespace krv
