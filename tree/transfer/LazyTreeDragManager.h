// The tree's side of OLE drag and drop: the drop source of a drag started in
// the tree and the drop target registered for its window. It forwards the
// target calls to the tree and drives the system's drag-image helper when
// the system has one.
#pragma once
#include "framework/Handle.h"
#include "framework/OleData.h"
#include <ole2.h>
#include <shlobj.h>

namespace krv {

class TBaseLazyTree;

// {6A1E4F52-9C3B-4D7A-8E21-5B0C7D3F9A14}
inline constexpr GUID IID_ILTDragManager = {0x6a1e4f52, 0x9c3b, 0x4d7a, {0x8e, 0x21, 0x5b, 0x0c, 0x7d, 0x3f, 0x9a, 0x14}};

class ILTDragManager : public IUnknown {
public:
    // Tells the system helper that the drag left (the tree hides its feedback).
    virtual void ForceLeave() = 0;
    // The data object of the drag now entered, else a new one from the tree.
    virtual ComPtr<IDataObject> DataObjectForDrag() = 0;
    // The tree of this process the current drag came from, if any.
    virtual TBaseLazyTree* SourceTree() = 0;
    virtual bool HelperAvailable() = 0;
    virtual bool TreeIsDropTarget() = 0;
    virtual IDropSource* DropSource() = 0;
    virtual IDropTarget* DropTarget() = 0;
};

class TLTDragManager final : public ILTDragManager, public IDropSource, public IDropTarget {
public:
    explicit TLTDragManager(TBaseLazyTree* owner);
    TLTDragManager(const TLTDragManager&) = delete;
    TLTDragManager& operator=(const TLTDragManager&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.Add(); }
    ULONG STDMETHODCALLTYPE Release() override;

    void ForceLeave() override;
    ComPtr<IDataObject> DataObjectForDrag() override;
    TBaseLazyTree* SourceTree() override { return sourceTree_; }
    bool HelperAvailable() override { return bool(helper_); }
    bool TreeIsDropTarget() override { return dropTargetFlag_; }
    IDropSource* DropSource() override { return this; }
    IDropTarget* DropTarget() override { return this; }

    // IDropSource
    HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL escapePressed, DWORD keyState) override;
    HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD) override { return DRAGDROP_S_USEDEFAULTCURSORS; }
    // IDropTarget
    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* dataObject, DWORD keyState, POINTL pt, DWORD* effect) override;
    HRESULT STDMETHODCALLTYPE DragOver(DWORD keyState, POINTL pt, DWORD* effect) override;
    HRESULT STDMETHODCALLTYPE DragLeave() override;
    HRESULT STDMETHODCALLTYPE Drop(IDataObject* dataObject, DWORD keyState, POINTL pt, DWORD* effect) override;

    // The tree is going: calls from OLE answer without effect from now on.
    void OwnerGone() { owner_ = nullptr; }
    // Tests run without the system helper to see the tree's own drag image.
    void DropHelper() { helper_.reset(); }
    bool FullWindowDrag() const { return fullWindowDrag_; }

private:
    ~TLTDragManager() = default;
    bool HelperInUse() const { return helper_ && fullWindowDrag_; }
    TComRefCount refs_;
    TBaseLazyTree* owner_;
    TBaseLazyTree* sourceTree_ = nullptr;
    bool dropTargetFlag_ = false;
    bool fullWindowDrag_ = false;
    ComPtr<IDataObject> dataObject_;
    ComPtr<IDropTargetHelper> helper_;
};

} // namespace krv
