#include "tree/transfer/LazyTreeDataObject.h"
#include "tree/core/LazyTreeGlobals.h"
#include "tree/core/LazyTrees.h"
#include <algorithm>
#include <cstring>

namespace krv {

DVTARGETDEVICE* CopyTargetDevice(const DVTARGETDEVICE* device) {
    if (!device) return nullptr;
    auto* copy = static_cast<DVTARGETDEVICE*>(::CoTaskMemAlloc(device->tdSize));
    if (copy) std::memcpy(copy, device, device->tdSize);
    return copy;
}

static bool SameDevice(const DVTARGETDEVICE* a, const DVTARGETDEVICE* b) {
    if (a == b) return true;
    if (!a || !b) return false;
    return a->tdSize == b->tdSize && std::memcmp(a, b, a->tdSize) == 0;
}

bool SameFormatEtc(const FORMATETC& a, const FORMATETC& b) {
    return a.cfFormat == b.cfFormat && SameDevice(a.ptd, b.ptd) && a.dwAspect == b.dwAspect &&
           a.lindex == b.lindex && (a.tymed & b.tymed) != 0;
}

// ---- the format enumerator ------------------------------------------------------------

TEnumFormatEtc::TEnumFormatEtc(TFormatEtcArray formats, size_t index)
    : formats_(std::move(formats)), index_(std::min(index, formats_.size())) {
    for (FORMATETC& f : formats_) {
        devices_.emplace_back(CopyTargetDevice(f.ptd));
        f.ptd = devices_.back().get();
    }
}

HRESULT TEnumFormatEtc::QueryInterface(REFIID iid, void** out) {
    return QuerySingleInterface(static_cast<IEnumFORMATETC*>(this), IID_IEnumFORMATETC, iid, out);
}

ULONG TEnumFormatEtc::Release() {
    ULONG n = refs_.Drop();
    if (n == 0) delete this;
    return n;
}

// Each element handed out carries its own target device, which the caller frees.
HRESULT TEnumFormatEtc::Next(ULONG celt, FORMATETC* elements, ULONG* fetched) {
    if (!elements || (celt > 1 && !fetched)) return E_POINTER;
    ULONG n = 0;
    while (n < celt && index_ < formats_.size()) {
        elements[n] = formats_[index_];
        elements[n].ptd = CopyTargetDevice(formats_[index_].ptd);
        ++n;
        ++index_;
    }
    if (fetched) *fetched = n;
    // S_OK only when every element asked for came: callers asking for several
    // stop at S_FALSE, and would take a short batch as "there is more".
    return n == celt ? S_OK : S_FALSE;
}

// Skipping exactly to the end is allowed; beyond it nothing moves.
HRESULT TEnumFormatEtc::Skip(ULONG celt) {
    // Skipping up to the very end is a full skip (S_OK); only past it fails, without moving.
    if (celt > formats_.size() - index_) return S_FALSE;
    index_ += celt;
    return S_OK;
}

HRESULT TEnumFormatEtc::Reset() {
    index_ = 0;
    return S_OK;
}

HRESULT TEnumFormatEtc::Clone(IEnumFORMATETC** out) {
    if (!out) return E_POINTER;
    *out = new TEnumFormatEtc(formats_, index_);
    return S_OK;
}

// ---- the data object -----------------------------------------------------------------------

TLTDataObject::TLTDataObject(TBaseLazyTree* owner, bool forClipboard) : owner_(owner), forClipboard_(forClipboard) {
    if (owner_) {
        owner_->dataObjects_.push_back(this);
        owner_->GetNativeClipboardFormats(formats_);
    }
}

TLTDataObject::~TLTDataObject() {
    if (!owner_) return;
    auto& list = owner_->dataObjects_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    if (forClipboard_ && !owner_->TreeStates().Contains(tsClipboardFlushing)) owner_->CancelCutOrCopy();
}

HRESULT TLTDataObject::QueryInterface(REFIID iid, void** out) {
    return QuerySingleInterface(static_cast<IDataObject*>(this), IID_IDataObject, iid, out);
}

ULONG TLTDataObject::Release() {
    ULONG n = refs_.Drop();
    if (n == 0) delete this;
    return n;
}

int TLTDataObject::FindStoredMedium(CLIPFORMAT format) const {
    for (size_t i = 0; i < storedMedia_.size(); ++i)
        if (storedMedia_[i].Format == format) return int(i);
    return -1;
}

// The process and the tree object: meaningful only inside this process, so
// never rendered while the clipboard is flushed for other processes.
HRESULT TLTDataObject::RenderReference(STGMEDIUM& medium) {
    if (!owner_ || owner_->TreeStates().Contains(tsClipboardFlushing)) return E_FAIL;
    uint32_t payload[2] = {::GetCurrentProcessId(), uint32_t(reinterpret_cast<uintptr_t>(owner_))};
    HGLOBAL memory = GlobalFromBytes(payload, sizeof payload);
    if (!memory) return E_OUTOFMEMORY;
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = memory;
    medium.pUnkForRelease = nullptr;
    return S_OK;
}

HRESULT TLTDataObject::GetData(FORMATETC* formatEtcIn, STGMEDIUM* medium) {
    if (!formatEtcIn || !medium) return E_INVALIDARG;
    *medium = STGMEDIUM{};
    if (formatEtcIn->cfFormat == InitializeGlobalStructures().ReferenceFormat) return RenderReference(*medium);
    HRESULT hr = QueryGetData(formatEtcIn);
    if (FAILED(hr)) return hr;
    int stored = FindStoredMedium(formatEtcIn->cfFormat);
    if (stored >= 0 && !storedMedia_[size_t(stored)].Medium.empty())
        return CopyStgMedium(storedMedia_[size_t(stored)].Medium.get(), *medium);
    if (!owner_) return E_UNEXPECTED;
    return owner_->RenderOLEData(*formatEtcIn, *medium, forClipboard_);
}

HRESULT TLTDataObject::QueryGetData(FORMATETC* formatEtc) {
    if (!formatEtc) return E_INVALIDARG;
    HRESULT first = DV_E_FORMATETC;
    for (const FORMATETC& f : formats_) {
        if (f.cfFormat != formatEtc->cfFormat) continue;
        HRESULT hr = !(f.tymed & formatEtc->tymed)        ? DV_E_TYMED
                     : f.dwAspect != formatEtc->dwAspect ? DV_E_DVASPECT
                     : f.lindex != formatEtc->lindex     ? DV_E_LINDEX
                                                          : S_OK;
        if (hr == S_OK) return S_OK;
        if (first == DV_E_FORMATETC) first = hr;
    }
    return first;
}

HRESULT TLTDataObject::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) {
    if (out) out->ptd = nullptr;
    return DATA_S_SAMEFORMATETC;
}

HRESULT TLTDataObject::SetData(FORMATETC* formatEtc, STGMEDIUM* medium, BOOL release) {
    if (!formatEtc || !medium) return E_INVALIDARG;
    StgMediumOwner taken;
    if (release) {
        taken.adopt(*medium);
    } else {
        HRESULT hr = CopyStgMedium(*medium, *taken.put());
        if (FAILED(hr)) return hr;
    }
    auto known = std::find_if(formats_.begin(), formats_.end(),
                              [&](const FORMATETC& f) { return SameFormatEtc(f, *formatEtc); });
    if (known == formats_.end()) {
        FORMATETC copy = *formatEtc;
        devices_.emplace_back(CopyTargetDevice(formatEtc->ptd));
        copy.ptd = devices_.back().get();
        formats_.push_back(copy);
    }
    int stored = FindStoredMedium(formatEtc->cfFormat);
    if (stored < 0) {
        storedMedia_.push_back(TStoredMedium{formatEtc->cfFormat, {}});
        stored = int(storedMedia_.size() - 1);
    }
    storedMedia_[size_t(stored)].Medium = std::move(taken);
    return S_OK;
}

HRESULT TLTDataObject::EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (direction != DATADIR_GET) return OLE_S_USEREG;
    *out = new TEnumFormatEtc(formats_);
    return S_OK;
}

HRESULT TLTDataObject::DAdvise(FORMATETC* formatEtc, DWORD advf, IAdviseSink* sink, DWORD* connection) {
    if (!adviseHolder_) {
        HRESULT hr = ::CreateDataAdviseHolder(adviseHolder_.put());
        if (FAILED(hr)) return hr;
    }
    return adviseHolder_->Advise(this, formatEtc, advf, sink, connection);
}

HRESULT TLTDataObject::DUnadvise(DWORD connection) {
    return adviseHolder_ ? adviseHolder_->Unadvise(connection) : E_NOTIMPL;
}

HRESULT TLTDataObject::EnumDAdvise(IEnumSTATDATA** out) {
    if (!adviseHolder_) return OLE_E_ADVISENOTSUPPORTED;
    return adviseHolder_->EnumAdvise(out);
}

} // namespace krv
