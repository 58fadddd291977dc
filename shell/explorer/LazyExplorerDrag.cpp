// Drag and drop of the explorer tree through the shell: a drag offers the
// shell's data object of the dragged items behind the tree's own formats,
// and a drag over the tree is handed to the drop target of the item under
// the mouse, which does the copying, moving or linking itself.
#include "shell/explorer/LazyExplorerDrag.h"
#include "shell/explorer/LazyExplorerTree.h"
#include <algorithm>
#include <utility>

namespace krv {

namespace {

// An enumerator that never ends must not hang the drag's start.
constexpr int kMaxShellFormats = 256;

} // namespace

// ---- the data object ---------------------------------------------------------------------------

TLETDataObject::TLETDataObject(TCustomLazyExplorerTree* owner, bool forClipboard)
    : TLTDataObject(owner, forClipboard), shell_(owner ? owner->shellDataObject_ : ComPtr<IDataObject>()) {}

TLETDataObject::~TLETDataObject() {
    // The tree holds the shell's object only while a data object of its own uses it.
    auto* tree = dynamic_cast<TCustomLazyExplorerTree*>(Owner());
    if (tree && shell_ && tree->shellDataObject_.get() == shell_.get()) tree->shellDataObject_.reset();
}

HRESULT TLETDataObject::GetData(FORMATETC* formatEtcIn, STGMEDIUM* medium) {
    HRESULT hr = TLTDataObject::GetData(formatEtcIn, medium);
    if (SUCCEEDED(hr) || !shell_ || !formatEtcIn || !medium) return hr;
    return shell_->GetData(formatEtcIn, medium);
}

HRESULT TLETDataObject::GetDataHere(FORMATETC* formatEtc, STGMEDIUM* medium) {
    HRESULT hr = TLTDataObject::GetDataHere(formatEtc, medium);
    if (SUCCEEDED(hr) || !shell_) return hr;
    return shell_->GetDataHere(formatEtc, medium);
}

HRESULT TLETDataObject::QueryGetData(FORMATETC* formatEtc) {
    HRESULT hr = TLTDataObject::QueryGetData(formatEtc);
    if (SUCCEEDED(hr) || !shell_ || !formatEtc) return hr;
    return shell_->QueryGetData(formatEtc);
}

// ---- the drag source -------------------------------------------------------------------------------

ComPtr<IDataObject> TCustomLazyExplorerTree::DoCreateDataObject() {
    ComPtr<IDataObject> result = TCustomLazyStringTree::DoCreateDataObject();
    if (result) return result;
    TNamespaceArray items = SelectedNamespaces();
    if (items.empty()) return result;
    shellDataObject_ = items.front()->DataObject(items);
    return ComPtr<IDataObject>::Attach(new TLETDataObject(this, false));
}

void TCustomLazyExplorerTree::GetNativeClipboardFormats(TFormatEtcArray& formats) {
    TCustomLazyStringTree::GetNativeClipboardFormats(formats);
    ComPtr<IEnumFORMATETC> list;
    if (!shellDataObject_ || FAILED(shellDataObject_->EnumFormatEtc(DATADIR_GET, list.put())) || !list) return;
    FORMATETC format;
    for (int n = 0; n < kMaxShellFormats && list->Next(1, &format, nullptr) == S_OK; ++n) {
        CoTaskMem<DVTARGETDEVICE> device(format.ptd);
        // The kept formats carry no target device; the shell renders for the screen.
        if (device) continue;
        bool known = std::any_of(formats.begin(), formats.end(),
                                 [&](const FORMATETC& f) { return f.cfFormat == format.cfFormat; });
        if (!known) formats.push_back(format);
    }
}

// ---- the drop target ---------------------------------------------------------------------------------

DWORD TCustomLazyExplorerTree::SuggestDropEffect(TBaseLazyTree*, TShiftState, POINT, DWORD allowedEffects) {
    // Asked once as a drop begins: a drop target refusing it then must still be left.
    dropPending_ = true;
    // Never more than the source allows: a move it did not offer would lose its data.
    return allowedEffects & (DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK);
}

ComPtr<IDropTarget> TCustomLazyExplorerTree::ItemDropTarget(TNamespace* ns) {
    IDropTarget* target = ns && ns->DropTarget() ? ns->DropTargetInterface() : nullptr;
    return ComPtr<IDropTarget>::Share(target);
}

bool TCustomLazyExplorerTree::DropOntoDraggedItem(TObject* source, PLazyNode node) {
    auto* sourceTree = dynamic_cast<TCustomLazyExplorerTree*>(source);
    TNamespace* target;
    if (!sourceTree || !ValidateNamespace(node, target)) return false;
    for (PLazyNode dragged : sourceTree->DragSelection()) {
        TNamespace* ns;
        if (sourceTree->ValidateNamespace(dragged, ns) &&
            TPIDLManager::IsSubPIDL(target->AbsolutePIDL(), ns->AbsolutePIDL()))
            return true;
    }
    return false;
}

void TCustomLazyExplorerTree::LeaveItemDropTarget() {
    ComPtr<IDropTarget> target = std::move(itemDropTarget_);
    itemDropNode_ = nullptr;
    if (target) target->DragLeave();
}

bool TCustomLazyExplorerTree::DragOverItem(TObject* source, PLazyNode node, DWORD keys, POINTL pt, DWORD& effect) {
    if (node != itemDropNode_ || !node) {
        LeaveItemDropTarget();
        itemDropNode_ = node;
        TNamespace* ns;
        // The data object is the one of the drag now over the tree, never a new one.
        if (!DragManager()->TreeIsDropTarget() || LETMiscOption(toLETReadOnly) || !ValidateNamespace(node, ns) ||
            DropOntoDraggedItem(source, node))
            return false;
        ComPtr<IDropTarget> target = ItemDropTarget(ns);
        ComPtr<IDataObject> data = DragManager()->DataObjectForDrag();
        if (!target || !data || FAILED(target->DragEnter(data.get(), keys, pt, &effect))) return false;
        itemDropTarget_ = std::move(target);
    } else if (!itemDropTarget_ || FAILED(itemDropTarget_->DragOver(keys, pt, &effect))) {
        return false;
    }
    return effect != DROPEFFECT_NONE;
}

bool TCustomLazyExplorerTree::DoDragOver(TObject* source, TShiftState shift, TDragState state, POINT pt,
                                         TDropMode mode, DWORD& effect) {
    bool accept = false;
    if (state == dsDragLeave) {
        LeaveItemDropTarget();
    } else {
        if (state == dsDragEnter) LeaveItemDropTarget();
        POINT screen = pt;
        if (HandleAllocated()) ::ClientToScreen(Handle(), &screen);
        accept = DragOverItem(source, mode == dmNowhere ? nullptr : DropTargetNode(), ShiftStateKeys(shift),
                              POINTL{screen.x, screen.y}, effect);
        if (!accept) effect = DROPEFFECT_NONE;
    }
    if (OnDragOver) OnDragOver(this, source, shift, state, pt, mode, effect, accept);
    // A refused drop gets no DoDragDrop: the entered target is left here.
    if (std::exchange(dropPending_, false) && !accept) LeaveItemDropTarget();
    return accept;
}

void TCustomLazyExplorerTree::DoDragDrop(TObject* source, IDataObject* dataObject, const TFormatArray& formats,
                                         TShiftState shift, POINT pt, DWORD& effect, TDropMode mode) {
    dropPending_ = false;
    POINT screen = pt;
    if (HandleAllocated()) ::ClientToScreen(Handle(), &screen);
    POINTL at{screen.x, screen.y};
    DWORD keys = ShiftStateKeys(shift);
    // The drop may land beside the node the drag was last over.
    PLazyNode node = mode == dmNowhere ? nullptr : DropTargetNode();
    bool accept = node == itemDropNode_ ? effect != DROPEFFECT_NONE : DragOverItem(source, node, keys, at, effect);
    ComPtr<IDropTarget> target = std::move(itemDropTarget_);
    itemDropNode_ = nullptr;
    if (target && node && accept) {
        if (FAILED(target->Drop(dataObject, keys, at, &effect))) effect = DROPEFFECT_NONE;
    } else {
        if (target) target->DragLeave();
        effect = DROPEFFECT_NONE;
    }
    TCustomLazyStringTree::DoDragDrop(source, dataObject, formats, shift, pt, effect, mode);
}

} // namespace krv
