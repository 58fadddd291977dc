#include "tree/transfer/LazyTreeDragManager.h"
#include "tree/core/LazyTrees.h"

namespace krv {

TLTDragManager::TLTDragManager(TBaseLazyTree* owner) : owner_(owner) {
    if (FAILED(::CoCreateInstance(CLSID_DragDropHelper, nullptr, CLSCTX_INPROC_SERVER, IID_IDropTargetHelper,
                                  helper_.put_void())))
        helper_.reset();
}

HRESULT TLTDragManager::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_ILTDragManager) *out = static_cast<ILTDragManager*>(this);
    else if (iid == IID_IDropSource) *out = static_cast<IDropSource*>(this);
    else if (iid == IID_IDropTarget) *out = static_cast<IDropTarget*>(this);
    else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG TLTDragManager::Release() {
    ULONG n = refs_.Drop();
    if (n == 0) delete this;
    return n;
}

void TLTDragManager::ForceLeave() {
    if (HelperInUse()) helper_->DragLeave();
}

ComPtr<IDataObject> TLTDragManager::DataObjectForDrag() {
    if (dataObject_) return dataObject_;
    if (!owner_) return {};
    ComPtr<IDataObject> data = owner_->DoCreateDataObject();
    if (!data) data = ComPtr<IDataObject>::Attach(new TLTDataObject(owner_, false));
    return data;
}

// Escape or both buttons cancel; letting go of every button drops.
HRESULT TLTDragManager::QueryContinueDrag(BOOL escapePressed, DWORD keyState) {
    if (escapePressed || (keyState & (MK_LBUTTON | MK_RBUTTON)) == (MK_LBUTTON | MK_RBUTTON)) return DRAGDROP_S_CANCEL;
    if (!(keyState & (MK_LBUTTON | MK_RBUTTON))) return DRAGDROP_S_DROP;
    return S_OK;
}

HRESULT TLTDragManager::DragEnter(IDataObject* dataObject, DWORD keyState, POINTL pt, DWORD* effect) {
    if (!effect) return E_INVALIDARG;
    dataObject_ = ComPtr<IDataObject>::Share(dataObject);
    dropTargetFlag_ = true;
    BOOL full = FALSE;
    ::SystemParametersInfoA(SPI_GETDRAGFULLWINDOWS, 0, &full, 0);
    fullWindowDrag_ = full != FALSE;
    if (!fullWindowDrag_) ::LockWindowUpdate(nullptr);
    POINT p{pt.x, pt.y};
    if (HelperInUse() && owner_) helper_->DragEnter(owner_->Handle(), dataObject, &p, *effect);
    sourceTree_ = TBaseLazyTree::GetTreeFromDataObject(dataObject);
    if (!owner_) {
        *effect = DROPEFFECT_NONE;
        return S_OK;
    }
    return owner_->DragEnter(keyState, p, *effect);
}

HRESULT TLTDragManager::DragOver(DWORD keyState, POINTL pt, DWORD* effect) {
    if (!effect) return E_INVALIDARG;
    POINT p{pt.x, pt.y};
    if (HelperInUse()) helper_->DragOver(&p, *effect);
    if (!owner_) {
        *effect = DROPEFFECT_NONE;
        return S_OK;
    }
    owner_->DragOver(sourceTree_, keyState, dsDragMove, p, *effect);
    return S_OK;
}

HRESULT TLTDragManager::DragLeave() {
    if (HelperInUse()) helper_->DragLeave();
    if (owner_) owner_->DragLeave();
    sourceTree_ = nullptr;
    dropTargetFlag_ = false;
    fullWindowDrag_ = false;
    dataObject_.reset();
    return S_OK;
}

HRESULT TLTDragManager::Drop(IDataObject* dataObject, DWORD keyState, POINTL pt, DWORD* effect) {
    if (!effect) return E_INVALIDARG;
    POINT p{pt.x, pt.y};
    if (HelperInUse()) helper_->Drop(dataObject, &p, *effect);
    HRESULT hr = S_OK;
    if (owner_) hr = owner_->DragDrop(dataObject, keyState, p, *effect);
    else *effect = DROPEFFECT_NONE;
    dropTargetFlag_ = false;
    dataObject_.reset();
    return hr;
}

} // namespace krv
