// The tree object itself: construction and destruction, its window, the Do...
// slots that give every event its permissive default, state changes, update
// batching, delayed change notification, focus and the in-place edit states.
#include "tree/core/LazyTreeTimers.h"
#include "tree/core/LazyTrees.h"
#include "tree/transfer/LazyTreeDragImage.h"
#include "tree/paint/LazyTreeDrawing.h"
#include "tree/core/LazyTreeGlobals.h"
#include "tree/core/LazyTreeWorker.h"
#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <unordered_set>

namespace krv {

namespace {
const char* const kTreeClass = "KorvaneLazyTree";
// The class styles differ with toFullRepaintOnResize, so each has its class.
const char* const kTreeClassFullRepaint = "KorvaneLazyTreeFullRepaint";

// Every tree alive in this process: a reference that arrives from outside
// (a data object) names a tree only when it is one of these.
std::mutex& LiveTreesLock() {
    static std::mutex lock;
    return lock;
}
std::unordered_set<const void*>& LiveTrees() {
    static std::unordered_set<const void*> trees;
    return trees;
}
}

// ---- life time ------------------------------------------------------------------

TBaseLazyTree::TBaseLazyTree(TComponent* owner) : TCustomControl(owner) {
    InitializeGlobalStructures();
    width_ = 200;
    height_ = 100;
    TabStop = true;
    color_ = clWindow;
    options_ = GetOptionsClass()(this);
    header_ = GetHeaderClass()(this);
    MakeRootNode();
    AddThreadReference();
    std::lock_guard<std::mutex> guard(LiveTreesLock());
    LiveTrees().insert(this);
}

bool TBaseLazyTree::IsLiveTree(const void* tree) {
    std::lock_guard<std::mutex> guard(LiveTreesLock());
    return LiveTrees().count(tree) != 0;
}

// While the tree is being destroyed it tells its owner only about freed
// nodes (their data may need freeing), no state or change notifications.
TBaseLazyTree::~TBaseLazyTree() {
    {
        std::lock_guard<std::mutex> guard(LiveTreesLock());
        LiveTrees().erase(this);
    }
    destroying_ = true;
    // A hint shown or pending for this tree would reach it after it is gone.
    if (HintManager().HintControl() == this) HintManager().CancelHint();
    DetachOleObjects();
    options_->SetMiscOptions(options_->MiscOptions() - toReadOnly);
    InterruptValidation();
    DoCancelEdit();
    Clear();
    DestroyHandle();
    ReleaseThreadReference(this);
    std::free(root_);
    root_ = nullptr;
}

void TBaseLazyTree::ShowError(const std::string& msg, int code) { throw ELazyTreeError(code, msg); }

// ---- window ------------------------------------------------------------------------

void TBaseLazyTree::CreateParams(TCreateParams& params) {
    TCustomControl::CreateParams(params);
    bool fullRepaint = MiscOption(toFullRepaintOnResize);
    params.WinClassName = fullRepaint ? kTreeClassFullRepaint : kTreeClass;
    if (fullRepaint) params.ClassStyle |= CS_HREDRAW | CS_VREDRAW;
    params.Style |= WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
    switch (scrollBarOptions_.ScrollBars()) {
    case ssHorizontal: params.Style |= WS_HSCROLL; break;
    case ssVertical: params.Style |= WS_VSCROLL; break;
    case ssBoth: params.Style |= WS_HSCROLL | WS_VSCROLL; break;
    default: break;
    }
    params.Style &= ~DWORD(WS_BORDER);
    params.ExStyle &= ~DWORD(WS_EX_CLIENTEDGE);
    if (borderStyle_ == TBorderStyle::bsSingle) {
        if (ctl3D_) params.ExStyle |= WS_EX_CLIENTEDGE;
        else params.Style |= WS_BORDER;
    }
    if (bidiMode_ != bdLeftToRight) params.ExStyle |= WS_EX_LEFTSCROLLBAR;
}

void TBaseLazyTree::CreateWnd() {
    DoStateChange(tsWindowCreating);
    try {
        TCustomControl::CreateWnd();
    } catch (...) {
        DoStateChange({}, tsWindowCreating);
        throw;
    }
    DoStateChange({}, tsWindowCreating);
}

void TBaseLazyTree::CreateHandleDone() {
    TCustomControl::CreateHandleDone();
    if (options_->PaintOptions().Contains(toThemeAware) && ThemesActive()) DoStateChange(tsUseThemes);
    else DoStateChange({}, tsUseThemes);
    if (header_->Options().Contains(hoAutoResize)) header_->AdjustAutoSize(ColumnInvalid);
    PrepareBitmaps(true, true);
    if (MiscOption(toAcceptOLEDrop) && !(ComponentState() & csDesigning)) RegisterDropTarget(true);
    UpdateScrollBars(true);
    // Validation asked for while there was no window can run now.
    if (states_.Contains(tsValidationNeeded)) ValidateCache();
}

// Turning redraw off takes WS_VISIBLE away, so whether to turn it on again
// is remembered rather than asked of the window.
void TBaseLazyTree::SetUpdateState(bool updating) {
    if (!HandleAllocated()) return;
    if (updating) {
        if (!redrawOff_ && ::IsWindowVisible(handle_)) {
            ::SendMessageA(handle_, WM_SETREDRAW, FALSE, 0);
            redrawOff_ = true;
        }
    } else if (redrawOff_) {
        ::SendMessageA(handle_, WM_SETREDRAW, TRUE, 0);
        redrawOff_ = false;
    }
}

bool TBaseLazyTree::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    CancelHintOnPress(msg);
    if (header_->HandleMessage(msg, wParam, lParam, result)) return true;
    if (HandleInputMessage(msg, wParam, lParam, result)) return true;
    switch (msg) {
    case WM_NCCALCSIZE:
        result = DefaultHandler(msg, wParam, lParam);
        // Without wParam lParam is a lone RECT: the same place as rgrc[0].
        AdjustNonClientForHeader(reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam));
        return true;
    case WM_NCPAINT:
        result = DefaultHandler(msg, wParam, lParam);
        PaintNonClientHeader();
        return true;
    case CM_DRAG:
        result = CMDrag(TDragMessage(wParam), *reinterpret_cast<const TDragRec*>(lParam));
        return true;
    case WM_CHANGESTATE:
        HandleChangeState(unsigned(wParam), unsigned(lParam));
        result = 0;
        return true;
    case WM_TIMER:
        if (wParam == kChangeTimer) DoChange(pendingChangeNode_);
        else if (wParam == kStructureChangeTimer) DoStructureChange(pendingStructureNode_, pendingStructureReason_);
        else if (wParam == kEditTimer) DoEdit();
        else break;
        result = 0;
        return true;
    case WM_DESTROY:
        // The worker addresses this window; it must be done with it first.
        InterruptValidation();
        RegisterDropTarget(false);
        break;
    case WM_SIZE:
        TCustomControl::HandleMessage(msg, wParam, lParam, result);
        UpdateScrollBars(true);
        return true;
    case WM_ERASEBKGND:
        // Every pixel is painted by PaintTree.
        result = 1;
        return true;
    case WM_PRINTCLIENT: {
        TCanvas canvas(reinterpret_cast<HDC>(wParam));
        RECT window = ClientRect();
        ::OffsetRect(&window, -offsetX_, -offsetY_);
        PaintTree(canvas, window, POINT{0, 0}, poAll);
        result = 0;
        return true;
    }
    default:
        break;
    }
    return TCustomControl::HandleMessage(msg, wParam, lParam, result);
}

// Timers are killed only when they run: a bulk change notifies a million times.
void TBaseLazyTree::StopChangeTimer(UINT id) {
    unsigned bit = 1u << id;
    if (!(runningTimers_ & bit)) return;
    runningTimers_ &= ~bit;
    if (HandleAllocated()) ::KillTimer(handle_, id);
}

bool TBaseLazyTree::StartTimer(UINT id, unsigned delay) {
    if (!HandleAllocated() || !::SetTimer(handle_, id, delay, nullptr)) return false;
    runningTimers_ |= 1u << id;
    return true;
}

// ---- state changes ------------------------------------------------------------------

void TBaseLazyTree::DoStateChange(TLazyTreeStates enter, TLazyTreeStates leave) {
    TLazyTreeStates changing = (enter - states_) + (states_ * leave);
    if (OnStateChange && !changing.Empty() && !destroying_) OnStateChange(this, enter, leave);
    states_ = (states_ + enter) - leave;
    stopValidation_.store(states_.Contains(tsStopValidation));
}

// The worker's report, on this thread. A report that a build is complete
// arriving after this thread asked it to stop must not switch the cache on:
// the tree may already have changed under it.
void TBaseLazyTree::HandleChangeState(unsigned enter, unsigned leave) {
    auto translate = [](unsigned bits) {
        TLazyTreeStates s;
        if (bits & csStopValidation) s += tsStopValidation;
        if (bits & csUseCache) s += tsUseCache;
        if (bits & csValidating) s += tsValidating;
        if (bits & csValidationNeeded) s += tsValidationNeeded;
        return s;
    };
    TLazyTreeStates e = translate(enter), l = translate(leave);
    ++inChangeState_;
    if (e.Contains(tsUseCache) && states_.Contains(tsStopValidation)) {
        e -= tsUseCache;
        l -= tsValidationNeeded;
    }
    try {
        DoStateChange(e, l);
    } catch (...) {
        --inChangeState_;
        throw;
    }
    --inChangeState_;
}

// ---- update batching -------------------------------------------------------------------

void TBaseLazyTree::BeginUpdate() {
    if (!destroying_) {
        if (updateCount_ == 0) {
            DoUpdating(usBegin);
            SetUpdateState(true);
        } else {
            DoUpdating(usUpdate);
        }
    }
    ++updateCount_;
    DoStateChange(tsUpdating);
}

void TBaseLazyTree::EndUpdate() {
    if (updateCount_ > 0) --updateCount_;
    if (destroying_) return;
    if (updateCount_ == 0 && states_.Contains(tsUpdating)) {
        if (states_.Contains(tsUpdateHiddenChildrenNeeded)) {
            DetermineHiddenChildrenFlagAllNodes();
            DoStateChange({}, tsUpdateHiddenChildrenNeeded);
        }
        DoStateChange({}, tsUpdating);
        PackSelection();
        ValidateCache();
        if (HandleAllocated()) UpdateScrollBars(true);
        if (states_.Contains(tsStructureChangePending)) DoStructureChange(pendingStructureNode_, pendingStructureReason_);
        if (states_.Contains(tsChangePending)) DoChange(pendingChangeNode_);
        if (AutoOption(toAutoSort)) SortTree(header_->SortColumn(), header_->SortDirection(), true);
        SetUpdateState(false);
        if (HandleAllocated()) Invalidate();
    }
    DoUpdating(updateCount_ == 0 ? usEnd : usUpdate);
}

// ---- delayed change notification ----------------------------------------------------------

void TBaseLazyTree::NotifyChange(PLazyNode node) {
    if (states_.Contains(tsChangePending)) StopChangeTimer(kChangeTimer);
    else DoStateChange(tsChangePending);
    pendingChangeNode_ = node;
    if (updateCount_ != 0) return;
    if (ChangeDelay > 0 && !states_.Contains(tsSynchMode) && StartTimer(kChangeTimer, ChangeDelay)) return;
    DoChange(node);
}

void TBaseLazyTree::NotifyStructureChange(PLazyNode node, TChangeReason reason) {
    if (states_.Contains(tsStructureChangePending)) StopChangeTimer(kStructureChangeTimer);
    else DoStateChange(tsStructureChangePending);
    pendingStructureNode_ = node;
    if (pendingStructureReason_ == crIgnore) pendingStructureReason_ = reason;
    else if (reason != crIgnore) pendingStructureReason_ = crAccumulated;
    if (updateCount_ != 0) return;
    if (ChangeDelay > 0 && !states_.Contains(tsSynchMode) && StartTimer(kStructureChangeTimer, ChangeDelay)) return;
    DoStructureChange(node, pendingStructureReason_);
}

// ---- Do... slots --------------------------------------------------------------------------

void TBaseLazyTree::DoInitNode(PLazyNode parent, PLazyNode node, TLazyNodeInitStates& initialStates) {
    if (OnInitNode) OnInitNode(this, parent, node, initialStates);
}

void TBaseLazyTree::DoInitChildren(PLazyNode node, unsigned& childCount) {
    if (OnInitChildren) OnInitChildren(this, node, childCount);
}

void TBaseLazyTree::DoGetNodeDataSize(int& size) {
    if (OnGetNodeDataSize) OnGetNodeDataSize(this, size);
}

void TBaseLazyTree::DoFreeNode(PLazyNode node) {
    if (node == pendingChangeNode_) pendingChangeNode_ = nullptr;
    if (OnFreeNode && (node->States & (vsInitialized | vsInitialUserData))) OnFreeNode(this, node);
    FreeNodeMemory(node);
}

void TBaseLazyTree::DoResetNode(PLazyNode node) {
    if (OnResetNode) OnResetNode(this, node);
}

bool TBaseLazyTree::DoExpanding(PLazyNode node) {
    bool allowed = true;
    if (OnExpanding) OnExpanding(this, node, allowed);
    return allowed;
}

bool TBaseLazyTree::DoCollapsing(PLazyNode node) {
    bool allowed = true;
    if (OnCollapsing) OnCollapsing(this, node, allowed);
    return allowed;
}

void TBaseLazyTree::DoExpanded(PLazyNode node) {
    if (OnExpanded) OnExpanded(this, node);
}

void TBaseLazyTree::DoCollapsed(PLazyNode node) {
    if (OnCollapsed) OnCollapsed(this, node);
}

void TBaseLazyTree::DoStructureChange(PLazyNode node, TChangeReason reason) {
    StopChangeTimer(kStructureChangeTimer);
    if (OnStructureChange && !destroying_) OnStructureChange(this, node, reason);
    DoStateChange({}, tsStructureChangePending);
    pendingStructureNode_ = nullptr;
    pendingStructureReason_ = crIgnore;
}

void TBaseLazyTree::DoChange(PLazyNode node) {
    StopChangeTimer(kChangeTimer);
    if (OnChange && !destroying_) OnChange(this, node);
    DoStateChange({}, tsChangePending);
    pendingChangeNode_ = nullptr;
}

void TBaseLazyTree::DoUpdating(TLTUpdateState state) {
    if (OnUpdating && !destroying_) OnUpdating(this, state);
}

bool TBaseLazyTree::DoChecking(PLazyNode node, TCheckState& newState) {
    if (MiscOption(toReadOnly)) return false;
    bool allowed = true;
    if (OnChecking) OnChecking(this, node, newState, allowed);
    return allowed;
}

void TBaseLazyTree::DoChecked(PLazyNode node) {
    if (OnChecked) OnChecked(this, node);
}

void TBaseLazyTree::DoSetCheckState(PLazyNode node, TCheckState newState) {
    if (ChangeCheckState(node, newState)) DoChecked(node);
}

int TBaseLazyTree::DoCompareNodes(PLazyNode node1, PLazyNode node2, TColumnIndex column) {
    int result = 0;
    if (OnCompareNodes) OnCompareNodes(this, node1, node2, column, result);
    return result;
}

void TBaseLazyTree::DoSaveNode(PLazyNode node, TStream& stream) {
    if (OnSaveNode) OnSaveNode(this, node == root_ ? nullptr : node, stream);
}

void TBaseLazyTree::DoLoadNode(PLazyNode node, TStream& stream) {
    if (OnLoadNode) OnLoadNode(this, node == root_ ? nullptr : node, stream);
}

bool TBaseLazyTree::DoFocusChanging(PLazyNode oldNode, PLazyNode newNode, TColumnIndex oldColumn,
                                    TColumnIndex newColumn) {
    bool allowed = true;
    if (OnFocusChanging) OnFocusChanging(this, oldNode, newNode, oldColumn, newColumn, allowed);
    return allowed;
}

void TBaseLazyTree::DoFocusChanged(PLazyNode node, TColumnIndex column) {
    if (OnFocusChanged && !destroying_) OnFocusChanged(this, node, column);
}

void TBaseLazyTree::DoFocusNode(PLazyNode node, bool ask) {
    if (states_.Contains(tsEditing) && !EndEditNode()) return;
    if (node == root_) node = nullptr;
    if (node == focusedNode_) return;
    if (ask && !DoFocusChanging(focusedNode_, node, focusedColumn_, focusedColumn_)) return;
    PLazyNode old = focusedNode_;
    if (old) {
        if (AutoOption(toAutoExpand) && node && node->Parent == old->Parent && (old->States & vsExpanded))
            ToggleNode(old);
        else
            InvalidateNode(old);
    }
    focusedNode_ = node;
    if (!node) return;
    if (header_->ColumnCount() > 0 && focusedColumn_ < 0) focusedColumn_ = 0;
    if (AutoOption(toAutoExpand) && !(node->States & vsExpanded)) ToggleNode(node);
    InvalidateNode(node);
    if (updateCount_ == 0) {
        bool buttonDown = states_.Contains(tsLeftButtonDown) || states_.Contains(tsMiddleButtonDown) ||
                          states_.Contains(tsRightButtonDown);
        ScrollIntoView(node, SelectionOption(toCenterScrollIntoView) && !buttonDown,
                       !AutoOption(toDisableAutoscrollOnFocus));
    }
}

void TBaseLazyTree::SetFocusedNode(PLazyNode node) {
    PLazyNode old = focusedNode_;
    DoFocusNode(node, true);
    if (old != focusedNode_ && focusedNode_ == (node == root_ ? nullptr : node))
        DoFocusChanged(focusedNode_, focusedColumn_);
}

bool TBaseLazyTree::DoEditing(PLazyNode node, TColumnIndex column, bool allowed) {
    if (OnEditing) OnEditing(this, node, column, allowed);
    return allowed;
}

PLTEditLink TBaseLazyTree::DoCreateEditor(PLazyNode node, TColumnIndex column) {
    PLTEditLink link;
    if (OnCreateEditor) {
        OnCreateEditor(this, node, column, link);
        if (!link) ShowError("Edit link must not be nil.", 2000);
    }
    return link;
}

bool TBaseLazyTree::CanEdit(PLazyNode node, TColumnIndex column) {
    bool allowed = MiscOption(toEditable) && !(node->States & vsDisabled) && !MiscOption(toReadOnly);
    return DoEditing(node, column, allowed);
}

bool TBaseLazyTree::EditNode(PLazyNode node, TColumnIndex column) {
    if (!node || node == root_ || states_.Contains(tsEditing) || MiscOption(toReadOnly)) return false;
    SetFocusedNode(node);
    if (focusedNode_ != node || !CanEdit(node, column)) return false;
    focusedColumn_ = column;
    editColumn_ = column;
    InitIfNeeded(node);
    DoEdit();
    return states_.Contains(tsEditing);
}

void TBaseLazyTree::DoEdit() {
    StopChangeTimer(kEditTimer);
    DoStateChange({}, tsEditPending);
    if (!focusedNode_ || (focusedNode_->States & vsDisabled) || MiscOption(toReadOnly) || editLink_) return;
    editLink_ = DoCreateEditor(focusedNode_, focusedColumn_);
    if (!editLink_) return;
    editColumn_ = focusedColumn_;
    DoStateChange(tsEditing, {tsToggleFocusedSelection, tsClearPending, tsDrawSelPending, tsDrawSelecting,
                              tsMouseCheckPending, tsOLEDragging, tsOLEDragPending, tsScrolling, tsScrollPending});
    ScrollIntoView(focusedNode_, SelectionOption(toCenterScrollIntoView), false);
    PLTEditLink link = editLink_;
    bool ok = link->PrepareEditing(this, focusedNode_, focusedColumn_);
    if (ok) {
        UpdateEditBounds();
        InvalidateNode(focusedNode_);
        ok = link->StartEditing();
    }
    if (!ok) DoStateChange({}, tsEditing);
    if (!states_.Contains(tsEditing)) editLink_.reset();
}

bool TBaseLazyTree::DoEndEdit() {
    bool result = false;
    if (states_.Contains(tsEditing) && editLink_) {
        PLTEditLink link = editLink_;
        result = link->FinishEditing();
        if (result) {
            DoStateChange({}, tsEditing);
            editLink_.reset();
            if (OnEdited) OnEdited(this, focusedNode_, focusedColumn_);
        }
    }
    DoStateChange({}, tsEditPending);
    return result;
}

bool TBaseLazyTree::DoCancelEdit() {
    StopChangeTimer(kEditTimer);
    DoStateChange({}, tsEditPending);
    bool result = false;
    if (states_.Contains(tsEditing) && editLink_) {
        PLTEditLink link = editLink_;
        result = link->CancelEditing();
        if (result) {
            DoStateChange({}, tsEditing);
            if (OnEditCancelled) OnEditCancelled(this, focusedColumn_);
            if (!destroying_) editLink_.reset();
        }
    }
    return result;
}

bool TBaseLazyTree::EndEditNode() {
    if (states_.Contains(tsEditing) || states_.Contains(tsEditPending)) return DoEndEdit();
    return true;
}

bool TBaseLazyTree::CancelEditNode() {
    if (states_.Contains(tsEditing) || states_.Contains(tsEditPending)) return DoCancelEdit();
    return true;
}

void TBaseLazyTree::DoNodeCopied(PLazyNode node) {
    if (OnNodeCopied) OnNodeCopied(this, node);
}

bool TBaseLazyTree::DoNodeCopying(PLazyNode node, PLazyNode target) {
    bool allowed = true;
    if (OnNodeCopying) OnNodeCopying(this, node, target, allowed);
    return allowed;
}

void TBaseLazyTree::DoNodeMoved(PLazyNode node) {
    if (OnNodeMoved) OnNodeMoved(this, node);
}

bool TBaseLazyTree::DoNodeMoving(PLazyNode node, PLazyNode target) {
    bool allowed = true;
    if (OnNodeMoving) OnNodeMoving(this, node, target, allowed);
    return allowed;
}

void TBaseLazyTree::DoHotChange(PLazyNode oldNode, PLazyNode newNode) {
    if (OnHotChange) OnHotChange(this, oldNode, newNode);
}

bool TBaseLazyTree::DoGetCellIsEmpty(PLazyNode node, TColumnIndex column) {
    bool isEmpty = true;
    if (OnGetCellIsEmpty) OnGetCellIsEmpty(this, node, column, isEmpty);
    return isEmpty;
}

void TBaseLazyTree::DoEndDrag(int x, int y) {
    if (OnEndDrag) OnEndDrag(this, x, y);
}

bool TBaseLazyTree::DoDragAllowed(PLazyNode node, TColumnIndex column) {
    bool allowed = false;
    if (OnDragAllowed) OnDragAllowed(this, node, column, allowed);
    return allowed;
}

void TBaseLazyTree::DoScroll(int deltaX, int deltaY) {
    if (OnScroll) OnScroll(this, deltaX, deltaY);
}

bool TBaseLazyTree::DoKeyAction(WORD& charCode, unsigned& shift) {
    bool doDefault = true;
    if (OnKeyAction) OnKeyAction(this, charCode, shift, doDefault);
    return doDefault;
}

int TBaseLazyTree::DoIncrementalSearch(PLazyNode node, const std::wstring& text) {
    int result = 0;
    if (OnIncrementalSearch) OnIncrementalSearch(this, node, text, result);
    return result;
}

void TBaseLazyTree::DoColumnClick(TColumnIndex column, unsigned shift) {
    if (OnColumnClick) OnColumnClick(this, column, shift);
}

void TBaseLazyTree::DoColumnDblClick(TColumnIndex column, unsigned shift) {
    if (OnColumnDblClick) OnColumnDblClick(this, column, shift);
}

void TBaseLazyTree::DoGetImageIndex(PLazyNode node, TLTImageKind kind, TColumnIndex column, bool& ghosted, int& index) {
    if (OnGetImageIndex) OnGetImageIndex(this, node, kind, column, ghosted, index);
}

void TBaseLazyTree::DoGetCursor(HCURSOR& cursor) {
    if (OnGetCursor) OnGetCursor(this, cursor);
}

std::wstring TBaseLazyTree::DoGetNodeHint(PLazyNode, TColumnIndex) { return AnsiToWide(Hint); }

std::wstring TBaseLazyTree::DoGetNodeTooltip(PLazyNode, TColumnIndex) { return AnsiToWide(Hint); }

int TBaseLazyTree::DoGetNodeWidth(PLazyNode, TColumnIndex, TCanvas*) { return 0; }

// Asks for the node, then each parent in turn while the handler lets it.
TPopupMenu* TBaseLazyTree::DoGetPopupMenu(PLazyNode node, TColumnIndex column, POINT p) {
    TPopupMenu* menu = nullptr;
    if (!OnGetPopupMenu) return nullptr;
    if (!node || node == root_) {
        bool askParent = true;
        OnGetPopupMenu(this, nullptr, ColumnNone, p, askParent, menu);
        return menu;
    }
    bool askParent = true;
    for (PLazyNode run = node; run && run != root_ && askParent && !menu; run = run->Parent)
        OnGetPopupMenu(this, run, column, p, askParent, menu);
    return menu;
}

void TBaseLazyTree::DoMeasureItem(TCanvas& canvas, PLazyNode node, int& nodeHeight) {
    if (OnMeasureItem) OnMeasureItem(this, canvas, node, nodeHeight);
}

void TBaseLazyTree::DoBeforePaint(TCanvas& canvas) {
    if (OnBeforePaint) OnBeforePaint(this, canvas);
}

void TBaseLazyTree::DoAfterPaint(TCanvas& canvas) {
    if (OnAfterPaint) OnAfterPaint(this, canvas);
}

bool TBaseLazyTree::DoPaintBackground(TCanvas& canvas, RECT r) {
    bool handled = false;
    if (OnPaintBackground) OnPaintBackground(this, canvas, r, handled);
    return handled;
}

void TBaseLazyTree::DoBeforeItemErase(TCanvas& canvas, PLazyNode node, RECT itemRect, TColor& itemColor,
                                      TItemEraseAction& eraseAction) {
    if (OnBeforeItemErase) OnBeforeItemErase(this, canvas, node, itemRect, itemColor, eraseAction);
}

void TBaseLazyTree::DoAfterItemErase(TCanvas& canvas, PLazyNode node, RECT itemRect) {
    if (OnAfterItemErase) OnAfterItemErase(this, canvas, node, itemRect);
}

bool TBaseLazyTree::DoBeforeItemPaint(TCanvas& canvas, PLazyNode node, RECT itemRect) {
    bool customDraw = false;
    if (OnBeforeItemPaint) OnBeforeItemPaint(this, canvas, node, itemRect, customDraw);
    return customDraw;
}

void TBaseLazyTree::DoAfterItemPaint(TCanvas& canvas, PLazyNode node, RECT itemRect) {
    if (OnAfterItemPaint) OnAfterItemPaint(this, canvas, node, itemRect);
}

void TBaseLazyTree::DoBeforeCellPaint(TCanvas& canvas, PLazyNode node, TColumnIndex column, RECT cellRect) {
    if (OnBeforeCellPaint) OnBeforeCellPaint(this, canvas, node, column, cellRect);
}

void TBaseLazyTree::DoAfterCellPaint(TCanvas& canvas, PLazyNode node, TColumnIndex column, RECT cellRect) {
    if (OnAfterCellPaint) OnAfterCellPaint(this, canvas, node, column, cellRect);
}

void TBaseLazyTree::DoGetLineStyle(const void*& bits) {
    if (OnGetLineStyle) OnGetLineStyle(this, bits);
}

void TBaseLazyTree::GetTextInfo(PLazyNode, TColumnIndex, TFont& font, RECT& r, std::wstring& text) {
    r = RECT{};
    text.clear();
    font = font_;
}

THintAnimationType TBaseLazyTree::GetHintAnimationType() const {
    THintAnimationType result = HintAnimation;
    if (result == hatSystemDefault) {
        BOOL animation = FALSE, fade = FALSE;
        if (!::SystemParametersInfoA(SPI_GETTOOLTIPANIMATION, 0, &animation, 0)) {
            result = hatSlide;
        } else if (!animation) {
            result = hatNone;
        } else {
            ::SystemParametersInfoA(SPI_GETTOOLTIPFADE, 0, &fade, 0);
            result = fade ? hatFade : hatSlide;
        }
    }
    // Fading needs layered windows.
    if (result == hatFade && !::GetProcAddress(::GetModuleHandleA("user32.dll"), "UpdateLayeredWindow"))
        result = hatSlide;
    return result;
}

POINT TBaseLazyTree::BorderSize() const {
    POINT p{0, 0};
    if (!HandleAllocated()) return p;
    LONG style = ::GetWindowLongA(handle_, GWL_STYLE), exStyle = ::GetWindowLongA(handle_, GWL_EXSTYLE);
    if (style & WS_BORDER) p = POINT{-1, -1};
    if (style & WS_THICKFRAME) {
        p.x -= ::GetSystemMetrics(SM_CXFRAME);
        p.y -= ::GetSystemMetrics(SM_CYFRAME);
    }
    if (exStyle & WS_EX_CLIENTEDGE) {
        p.x -= ::GetSystemMetrics(SM_CXEDGE);
        p.y -= ::GetSystemMetrics(SM_CYEDGE);
    }
    return p;
}

void TBaseLazyTree::ChangeScale(int m, int d) {
    if (m == d || d == 0 || !AutoOption(toAutoChangeScale)) return;
    if ((ComponentState() & csLoading) && !states_.Contains(tsNeedScale)) return;
    SetDefaultNodeHeight(::MulDiv(defaultNodeHeight_, m, d));
    header_->ChangeScale(m, d);
}

} // namespace krv

