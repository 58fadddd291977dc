// The tree as OLE drop target and drag source: drop modes by point, the
// suggested effect by keys, the drag start with the tree's own image, and
// the links to data objects and the drag manager that the tree cuts when it
// goes.
#include "tree/transfer/LazyTreeDragImage.h"
#include "tree/paint/LazyTreeDrawing.h"
#include "tree/core/LazyTreeTimers.h"
#include "tree/core/LazyTrees.h"

namespace krv {

namespace {

TShiftState KeysToShift(DWORD keyState) {
    TShiftState shift = MouseShiftState(keyState) & ~TShiftState(ssAlt);
    if (keyState & MK_ALT) shift |= ssAlt;
    return shift;
}
}

// ---- the objects the tree hands out --------------------------------------------------

ILTDragManager* TBaseLazyTree::DragManager() {
    if (!dragManager_) {
        dragManager_ = DoCreateDragManager();
        if (!dragManager_) dragManager_ = ComPtr<ILTDragManager>::Attach(new TLTDragManager(this));
    }
    return dragManager_.get();
}

TLTDragImage& TBaseLazyTree::DragImage() {
    if (!dragImage_) dragImage_ = std::make_unique<TLTDragImage>(this);
    return *dragImage_;
}

// Whether the system helper is there says nothing about a drag's picture:
// the source falls back to its own when the helper refuses it, and then
// the target moves and hides that one.
TLTDragImage* TBaseLazyTree::OwnDragImageOf(TBaseLazyTree* source) {
    if (!source || !source->dragImage_) return nullptr;
    unsigned states = source->dragImage_->States();
    return (states & disInDrag) && !(states & disSystemSupport) ? source->dragImage_.get() : nullptr;
}

ComPtr<ILTDragManager> TBaseLazyTree::DoCreateDragManager() {
    ComPtr<ILTDragManager> result;
    if (OnCreateDragManager) OnCreateDragManager(this, result);
    return result;
}

IDropTarget* TBaseLazyTree::DropTarget() { return DragManager()->DropTarget(); }

void TBaseLazyTree::RegisterDropTarget(bool doRegister) {
    if (!HandleAllocated() || doRegister == dropTargetRegistered_) return;
    if (doRegister) {
        dropTargetRegistered_ = SUCCEEDED(::RegisterDragDrop(handle_, DropTarget()));
    } else {
        ::RevokeDragDrop(handle_);
        dropTargetRegistered_ = false;
    }
}

// Renders what the clipboard holds of this tree into the clipboard itself,
// so a copy outlives the tree. Called by the destructor of the most derived
// tree class that renders formats of its own, while those still work.
void TBaseLazyTree::FlushClipboard() {
    for (TLTDataObject* data : dataObjects_) {
        if (!data->ForClipboard() || ::OleIsCurrentClipboard(data) != S_OK) continue;
        DoStateChange(tsClipboardFlushing);
        ::OleFlushClipboard();
        // The clipboard no longer refers to this tree: nothing is pending
        // (and emptying the clipboard later would lose the data).
        CancelCutOrCopy();
        DoStateChange({}, tsClipboardFlushing);
        break;
    }
}

void TBaseLazyTree::DetachOleObjects() {
    FlushClipboard();
    std::vector<TLTDataObject*> alive;
    alive.swap(dataObjects_);
    for (TLTDataObject* data : alive) data->OwnerGone();
    dragImage_.reset();
    if (auto* manager = dynamic_cast<TLTDragManager*>(dragManager_.get())) manager->OwnerGone();
    dragManager_.reset();
}

// ---- the drop target's work ------------------------------------------------------------

// No node: nowhere. On the label (or while dragging over, its images): on
// the node. Elsewhere in the row: above or below its middle line, during a
// drag-over only while the drop mark is shown.
PLazyNode TBaseLazyTree::DetermineDropMode(POINT p, bool dragOver, TDropMode& mode) {
    THitTestResult hit;
    GetHitTestInfoAt(p.x, p.y, true, hit);
    const uint16_t images = hpOnNormalIcon | hpOnStateIcon;
    if (hit.Node && dragOver && MiscOption(toReportMode)) {
        bool mainColumn = hit.Column == header_->MainColumn() || header_->ColumnCount() == 0;
        if (!mainColumn || !(hit.Positions & (hpOnItemLabel | images))) hit.Node = nullptr;
    }
    if (!hit.Node) {
        mode = dmNowhere;
        return nullptr;
    }
    if ((hit.Positions & hpOnItemLabel) || (dragOver && (hit.Positions & images))) {
        mode = dmOnNode;
    } else if (!dragOver || options_->PaintOptions().Contains(toShowDropmark)) {
        RECT row = GetDisplayRect(hit.Node, ColumnNone, false);
        mode = p.y < (row.top + row.bottom) / 2 ? dmAbove : dmBelow;
    } else {
        mode = dmOnNode;
    }
    return hit.Node;
}

HRESULT TBaseLazyTree::DragEnter(DWORD keyState, POINT pt, DWORD& effect) {
    StopChangeTimer(kExpandTimer);
    StopChangeTimer(kScrollTimer);
    DoStateChange(tsOLEDragging);
    ILTDragManager* manager = DragManager();
    TBaseLazyTree* source = manager->SourceTree();
    if (TLTDragImage* image = OwnDragImageOf(source)) {
        image->ShowImage();
        image->MoveImageTo(pt);
    }
    DragOver(source, keyState, dsDragEnter, pt, effect);
    dropFormats_.clear();
    if (effect == DROPEFFECT_NONE) return S_OK;
    ComPtr<IDataObject> data = manager->DataObjectForDrag();
    ComPtr<IEnumFORMATETC> formats;
    if (data && SUCCEEDED(data->EnumFormatEtc(DATADIR_GET, formats.put())) && formats) {
        formats->Reset();
        FORMATETC f;
        while (formats->Next(1, &f, nullptr) == S_OK) {
            CoTaskMem<DVTARGETDEVICE> device(f.ptd);   // the enumerator's copy is ours
            dropFormats_.push_back(f.cfFormat);
        }
    }
    return S_OK;
}

void TBaseLazyTree::DragOver(TObject* source, DWORD keyState, TDragState state, POINT pt, DWORD& effect) {
    POINT p = pt;
    if (HandleAllocated()) ::ScreenToClient(handle_, &p);
    TShiftState shift = KeysToShift(keyState);
    auto* sourceTree = dynamic_cast<TBaseLazyTree*>(source);
    TLTDragImage* image = OwnDragImageOf(sourceTree);
    bool ownImage = image != nullptr;
    // Scrolling near the edges moves the view by the scroll bars' steps.
    uint8_t directions = ScrollDirectionsAt(p.x, p.y);
    int dx = 0, dy = 0;
    if (directions & sdUpDir) dy = std::min<int>(int(scrollBarOptions_.VerticalIncrement), -offsetY_);
    if (directions & sdDownDir) dy = -int(scrollBarOptions_.VerticalIncrement);
    if (directions & sdLeftDir) dx = std::min<int>(int(scrollBarOptions_.HorizontalIncrement), -offsetX_);
    if (directions & sdRightDir) dx = -int(scrollBarOptions_.HorizontalIncrement);
    if (dx || dy) {
        if (ownImage) image->HideImage();
        DoSetOffsetXY(POINT{offsetX_ + dx, offsetY_ + dy});
        if (HandleAllocated()) Update();
        if (ownImage) image->ShowImage();
    }
    TDropMode mode;
    PLazyNode node = DetermineDropMode(p, true, mode);
    if (node != dropTargetNode_ || mode != lastDropMode_) {
        StopChangeTimer(kExpandTimer);
        if (AutoOption(toAutoDropExpand)) StartTimer(kExpandTimer, AutoExpandDelay);
        auto repaint = [&](PLazyNode n) {
            if (!n || !HandleAllocated()) return;
            if (ownImage) UpdateWindowAndDragImage(sourceTree, GetDisplayRect(n, ColumnNone, false), false, true);
            else InvalidateNode(n);
        };
        PLazyNode old = dropTargetNode_;
        dropTargetNode_ = node;
        lastDropMode_ = mode;
        repaint(old);
        repaint(node);
    }
    if (ownImage) image->MoveImageTo(pt);
    if (!DoDragOver(source, shift, state, p, mode, effect)) effect = DROPEFFECT_NONE;
}

void TBaseLazyTree::DragLeave() {
    StopChangeTimer(kExpandTimer);
    ILTDragManager* manager = DragManager();
    TBaseLazyTree* source = manager->SourceTree();
    if (TLTDragImage* image = OwnDragImageOf(source)) image->HideImage();
    if (dropTargetNode_) {
        InvalidateNode(dropTargetNode_);
        dropTargetNode_ = nullptr;
    }
    if (HandleAllocated()) Update();
    DWORD effect = DROPEFFECT_NONE;
    DoDragOver(source, 0, dsDragLeave, POINT{0, 0}, lastDropMode_, effect);
    if (source != this) DoStateChange({}, tsOLEDragging);
}

HRESULT TBaseLazyTree::DragDrop(IDataObject* dataObject, DWORD keyState, POINT pt, DWORD& effect) {
    scrollStartTime_ = 0;
    StopChangeTimer(kExpandTimer);
    StopChangeTimer(kScrollTimer);
    POINT p = pt;
    if (HandleAllocated()) ::ScreenToClient(handle_, &p);
    ILTDragManager* manager = DragManager();
    TBaseLazyTree* source = manager->SourceTree();
    TShiftState shift = KeysToShift(keyState);
    effect = SuggestDropEffect(source, shift, p, effect);
    if (!DoDragOver(source, shift, dsDragMove, p, lastDropMode_, effect)) {
        effect = DROPEFFECT_NONE;
    } else {
        TDropMode mode;
        dropTargetNode_ = DetermineDropMode(p, false, mode);
        lastDropMode_ = mode;
        DoDragDrop(source, dataObject, dropFormats_, shift, p, effect, mode);
    }
    if (dropTargetNode_) {
        InvalidateNode(dropTargetNode_);
        dropTargetNode_ = nullptr;
    }
    if (source != this) DoStateChange({}, tsOLEDragging);
    if (TLTDragImage* image = OwnDragImageOf(source)) image->ShowImage();
    return S_OK;
}

// Move within the tree, copy from anywhere else; the keys choose when the
// effect they ask for is allowed.
DWORD TBaseLazyTree::SuggestDropEffect(TBaseLazyTree* source, TShiftState shift, POINT pt, DWORD allowedEffects) {
    (void)pt;
    DWORD preferred = source == this ? DROPEFFECT_MOVE : DROPEFFECT_COPY;
    DWORD result = (allowedEffects & preferred) ? preferred : allowedEffects;
    bool ctrl = shift & ssCtrl, shiftKey = shift & ssShift, alt = shift & ssAlt;
    DWORD choice = ctrl && shiftKey ? DROPEFFECT_LINK
                   : ctrl           ? DROPEFFECT_COPY
                   : shiftKey       ? DROPEFFECT_MOVE
                   : alt            ? DROPEFFECT_LINK
                                    : DROPEFFECT_NONE;
    if (choice && (allowedEffects & choice)) result = choice;
    return result;
}

bool TBaseLazyTree::DoDragOver(TObject* source, TShiftState shift, TDragState state, POINT pt, TDropMode mode,
                               DWORD& effect) {
    bool accept = false;
    if (OnDragOver) OnDragOver(this, source, shift, state, pt, mode, effect, accept);
    return accept;
}

void TBaseLazyTree::DoDragDrop(TObject* source, IDataObject* dataObject, const TFormatArray& formats,
                               TShiftState shift, POINT pt, DWORD& effect, TDropMode mode) {
    if (OnDragDrop) OnDragDrop(this, source, dataObject, formats, shift, pt, effect, mode);
}

// ---- the framework's own drag -------------------------------------------------------------

namespace {
// The keys of a framework drag, as an OLE drag would report them.
DWORD HeldKeys() {
    TShiftState shift = KeyboardShiftState();
    return ((shift & ssShift) ? MK_SHIFT : 0u) | ((shift & ssCtrl) ? MK_CONTROL : 0u) | ((shift & ssAlt) ? MK_ALT : 0u);
}
}

void TBaseLazyTree::DoStartDrag(TDragObject*& dragObject) {
    TCustomControl::DoStartDrag(dragObject);
    if (dragObject) DoStateChange(tsUserDragObject);
}

void TBaseLazyTree::DragEnded(TObject* target, POINT screen) {
    TCustomControl::DragEnded(target, screen);
    POINT p = screen;
    if (HandleAllocated()) ::ScreenToClient(handle_, &p);
    TLifeWatch self(this);
    DoEndDrag(p.x, p.y);
    if (self.Gone()) return;   // the handler closed the tree
    // Released before the drag began: the release is the click it was.
    DoStateChange({}, tsFrameworkDragPending);
    SimulateMouseUp();
}

LRESULT TBaseLazyTree::CMDrag(TDragMessage kind, const TDragRec& rec) {
    TObject* source = rec.Source;
    if (auto* control = dynamic_cast<TDragControlObject*>(rec.Source); control && !states_.Contains(tsUserDragObject))
        source = control->Control();
    POINT client = rec.Pos;
    if (HandleAllocated()) ::ScreenToClient(handle_, &client);
    DWORD keys = HeldKeys();
    // The handlers may free the tree: then nothing of it is touched.
    TLifeWatch self(this);
    switch (kind) {
    case dmDragEnter:
    case dmDragLeave:
    case dmDragMove: {
        if (kind == dmDragEnter) DoStateChange(tsFrameworkDragging);
        else if (kind == dmDragLeave) DoStateChange({}, tsFrameworkDragging);
        else DoAutoScroll(client.x, client.y);
        DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
        TDragState state = kind == dmDragEnter ? dsDragEnter : kind == dmDragLeave ? dsDragLeave : dsDragMove;
        DragOver(source, keys & ~DWORD(MK_ALT), state, rec.Pos, effect);
        if (self.Gone()) return 0;
        lastFrameworkDragTarget_ = dropTargetNode_;
        frameworkDragEffect_ = effect;
        if (kind == dmDragLeave && dropTargetNode_) {
            InvalidateNode(dropTargetNode_);
            dropTargetNode_ = nullptr;
        }
        return LRESULT(effect);
    }
    case dmDragDrop:
        if (dropTargetNode_) InvalidateNode(dropTargetNode_);
        dropTargetNode_ = lastFrameworkDragTarget_;
        DoDragDrop(source, nullptr, {}, KeysToShift(keys), client, frameworkDragEffect_, lastDropMode_);
        if (self.Gone()) return 0;
        if (dropTargetNode_) {
            InvalidateNode(dropTargetNode_);
            dropTargetNode_ = nullptr;
        }
        // No leave follows a drop: the drag is over here too.
        DoStateChange({}, tsFrameworkDragging);
        return 0;
    case dmFindTarget:
        // Now the drag has really begun; every child of ours has a window of
        // its own and answers for itself, so the tree is the target.
        if (states_.Contains(tsFrameworkDragPending))
            DoStateChange(tsFrameworkDragging, {tsFrameworkDragPending, tsEditPending, tsClearPending});
        return reinterpret_cast<LRESULT>(static_cast<TControl*>(this));
    }
    return 0;
}

// ---- the drag source ---------------------------------------------------------------------

void TBaseLazyTree::StartOleDrag(POINT p) {
    EndEditNode();
    UpdateHotNode(nullptr);
    if (HandleAllocated()) {
        Invalidate();
        Update();
    }
    dragSelection_ = GetSortedSelection(false);
    DWORD allowed = DragOperations & (doCopy | doMove | doLink);
    if (allowed == 0) allowed = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
    // The press turned into a drag: it no longer narrows the selection on release.
    DoStateChange(tsOLEDragging, {tsOLEDragPending, tsClearPending, tsToggleFocusedSelection});
    ILTDragManager* manager = DragManager();
    ComPtr<IDataObject> data = manager->DataObjectForDrag();
    if (CanShowDragImage()) PrepareDragImage(p, data.get());
    lastDropMode_ = dmOnNode;
    DWORD effect = DROPEFFECT_NONE;
    HRESULT hr = RunDragLoop(data.get(), manager->DropSource(), allowed, effect);
    POINT end{};
    ::GetCursorPos(&end);
    if (HandleAllocated()) ::ScreenToClient(handle_, &end);
    DoEndDrag(end.x, end.y);
    if (dragImage_) dragImage_->EndImageDrag();
    if (hr == DRAGDROP_S_DROP && effect == DROPEFFECT_MOVE && AutoOption(toAutoDeleteMovedNodes) &&
        !dragSelection_.empty()) {
        BeginUpdate();
        // Deleting a node takes it (and its descendants) out of the drag selection.
        while (!dragSelection_.empty()) DeleteNode(dragSelection_.back());
        EndUpdate();
    }
    dragSelection_.clear();
    DoStateChange({}, {tsOLEDragging, tsLeftButtonDown, tsRightButtonDown});
}

HRESULT TBaseLazyTree::RunDragLoop(IDataObject* dataObject, IDropSource* dropSource, DWORD allowedEffects,
                                   DWORD& effect) {
    return ::DoDragDrop(dataObject, dropSource, allowedEffects, &effect);
}

// The selected rows around the start point as a picture whose background is
// the key colour, so only the nodes show over the screen.
void TBaseLazyTree::PrepareDragImage(POINT hotSpot, IDataObject* dataObject) {
    POINT p{hotSpot.x - offsetX_, hotSpot.y - offsetY_};
    RECT treeRect{p.x - DragWidth / 2, p.y - DragHeight / 2, p.x + DragWidth / 2, p.y + DragHeight / 2};
    RECT paintRect = treeRect;
    POINT paintTarget{0, 0};
    if (treeRect.left < 0) {
        paintTarget.x = -treeRect.left;
        paintRect.left = 0;
    }
    if (treeRect.top < 0) {
        paintTarget.y = -treeRect.top;
        paintRect.top = 0;
    }
    int w = treeRect.right - treeRect.left, h = treeRect.bottom - treeRect.top;
    if (w <= 0 || h <= 0) return;
    BitmapHandle bitmap = CreateDib32(w, h);
    MemoryDC dc(WindowDC(nullptr).get());
    {
        SelectObjectScope select(dc.get(), bitmap.get());
        TCanvas canvas(dc.get());
        canvas.Brush.SetColor(Color());
        canvas.FillRect(RECT{0, 0, w, h});
        unsigned flags = poDrawSelection | poSelectedOnly | (DragImageKind == diMainColumnOnly ? unsigned(poMainOnly) : 0u);
        PaintTree(canvas, paintRect, paintTarget, flags, pfDevice);
        canvas.SetHandle(nullptr);
    }
    ::OffsetRect(&treeRect, offsetX_, offsetY_);
    POINT imagePos{treeRect.left, treeRect.top}, start = hotSpot;
    if (HandleAllocated()) {
        ::ClientToScreen(handle_, &imagePos);
        ::ClientToScreen(handle_, &start);
    }
    DragImage().KeyColor = Color();
    DragImage().BeginImageDrag(bitmap.get(), imagePos, start, dataObject);
}

void TBaseLazyTree::UpdateWindowAndDragImage(TBaseLazyTree* tree, RECT treeRect, bool updateNCArea,
                                             bool reshowDragImage) {
    if (!HandleAllocated() || !tree) return;
    RECT client = ClientRect(), r;
    if (!::IntersectRect(&r, &treeRect, &client)) return;
    RegionHandle visible(::CreateRectRgn(0, 0, 0, 0));
    WindowDC dc(handle_, ::GetDCEx(handle_, nullptr, DCX_WINDOW | DCX_CACHE | DCX_CLIPCHILDREN | DCX_CLIPSIBLINGS));
    if (dc.get()) ::GetRandomRgn(dc.get(), visible.get(), SYSRGN);
    tree->DragImage().RefreshSavedBackground(this, r, visible.get(), updateNCArea, reshowDragImage);
    RECT drag = tree->DragImage().ImageScreenRect();
    ::MapWindowPoints(nullptr, handle_, reinterpret_cast<POINT*>(&drag), 2);
    RegionHandle dragRegion(::CreateRectRgnIndirect(&drag));
    if (updateNCArea) {
        RECT window;
        ::GetWindowRect(handle_, &window);
        ::MapWindowPoints(nullptr, handle_, reinterpret_cast<POINT*>(&window), 2);
        RegionHandle frame(::CreateRectRgnIndirect(&window));
        RegionHandle inner(::CreateRectRgnIndirect(&client));
        ::CombineRgn(frame.get(), frame.get(), inner.get(), RGN_DIFF);
        ::CombineRgn(frame.get(), frame.get(), dragRegion.get(), RGN_DIFF);
        ::RedrawWindow(handle_, nullptr, frame.get(), 0x569);
    }
    RegionHandle rest(::CreateRectRgnIndirect(&r));
    ::CombineRgn(rest.get(), rest.get(), dragRegion.get(), RGN_DIFF);
    ::RedrawWindow(handle_, nullptr, rest.get(), 0x169);
}

} // namespace krv
