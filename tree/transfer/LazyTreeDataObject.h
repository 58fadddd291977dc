// The tree's data object for the clipboard and for drags: it renders the
// tree's formats on demand through the tree and stores what clients set.
// The link to the tree is cleared when the tree goes, so an object left on
// the clipboard or held by a drop target answers errors instead of reading a
// freed tree.
#pragma once
#include "framework/Handle.h"
#include "framework/OleData.h"
#include <ole2.h>
#include <vector>

namespace krv {

class TBaseLazyTree;

using TFormatEtcArray = std::vector<FORMATETC>;

// Two descriptions of data are equal when format, device, aspect and index
// match and the media they allow overlap.
bool SameFormatEtc(const FORMATETC& a, const FORMATETC& b);
// A copy of a target device in task memory (null for null), which the receiver frees.
DVTARGETDEVICE* CopyTargetDevice(const DVTARGETDEVICE* device);

// The enumerator over a data object's formats; it keeps its own copy.
class TEnumFormatEtc final : public IEnumFORMATETC {
public:
    TEnumFormatEtc(TFormatEtcArray formats, size_t index = 0);
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.Add(); }
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE Next(ULONG celt, FORMATETC* elements, ULONG* fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumFORMATETC** out) override;
private:
    ~TEnumFormatEtc() = default;
    TComRefCount refs_;
    TFormatEtcArray formats_;
    // Its own copies of the target devices the formats point to.
    std::vector<CoTaskMem<DVTARGETDEVICE>> devices_;
    size_t index_;
};

class TLTDataObject : public IDataObject {
public:
    TLTDataObject(TBaseLazyTree* owner, bool forClipboard);
    TLTDataObject(const TLTDataObject&) = delete;
    TLTDataObject& operator=(const TLTDataObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.Add(); }
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* formatEtcIn, STGMEDIUM* medium) override;
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* formatEtc) override;
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override;
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC* formatEtc, STGMEDIUM* medium, BOOL release) override;
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override;
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC* formatEtc, DWORD advf, IAdviseSink* sink, DWORD* connection) override;
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD connection) override;
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA** out) override;

    TBaseLazyTree* Owner() const { return owner_; }
    bool ForClipboard() const { return forClipboard_; }
    const TFormatEtcArray& Formats() const { return formats_; }
    // The tree is going: nothing is rendered from now on.
    void OwnerGone() { owner_ = nullptr; }

protected:
    virtual ~TLTDataObject();
    // The index of the stored medium for a format, -1 when none was set.
    int FindStoredMedium(CLIPFORMAT format) const;
    HRESULT RenderReference(STGMEDIUM& medium);

private:
    struct TStoredMedium {
        CLIPFORMAT Format;
        StgMediumOwner Medium;
    };
    TComRefCount refs_;
    TBaseLazyTree* owner_;
    bool forClipboard_;
    TFormatEtcArray formats_;
    std::vector<TStoredMedium> storedMedia_;
    // A format set by a client keeps its own copy of the target device.
    std::vector<CoTaskMem<DVTARGETDEVICE>> devices_;
    ComPtr<IDataAdviseHolder> adviseHolder_;
};

} // namespace krv
