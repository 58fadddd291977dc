// OLE data transfer: an owner for a storage medium, the copy of a medium a
// data object hands out, and the reference count our COM objects share.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <cstddef>
#include <utility>

namespace krv {

// A medium released (ReleaseStgMedium) when the owner goes.
class StgMediumOwner {
public:
    StgMediumOwner() = default;
    StgMediumOwner(const StgMediumOwner&) = delete;
    StgMediumOwner& operator=(const StgMediumOwner&) = delete;
    StgMediumOwner(StgMediumOwner&& o) noexcept : m_(std::exchange(o.m_, STGMEDIUM{})) {}
    StgMediumOwner& operator=(StgMediumOwner&& o) noexcept {
        reset();
        m_ = std::exchange(o.m_, STGMEDIUM{});
        return *this;
    }
    ~StgMediumOwner() { reset(); }
    const STGMEDIUM& get() const { return m_; }
    // For a call that fills the medium: the old one is released first.
    STGMEDIUM* put() { reset(); return &m_; }
    // Takes over a medium given with its ownership.
    void adopt(const STGMEDIUM& m) { reset(); m_ = m; }
    // Hands the medium on; the owner is empty afterwards.
    STGMEDIUM release() { return std::exchange(m_, STGMEDIUM{}); }
    void reset() {
        if (m_.tymed != TYMED_NULL || m_.pUnkForRelease) ::ReleaseStgMedium(&m_);
        m_ = STGMEDIUM{};
    }
    bool empty() const { return m_.tymed == TYMED_NULL; }
private:
    STGMEDIUM m_{};
};

// A copy the receiver owns: global memory duplicated byte for byte, streams,
// storages and other objects shared with an added reference.
HRESULT CopyStgMedium(const STGMEDIUM& source, STGMEDIUM& dest);

// Movable, zero-filled, shareable global memory holding the bytes (null on failure).
HGLOBAL GlobalFromBytes(const void* data, size_t size);

// The reference count of a COM object of ours; the object deletes itself at zero.
class TComRefCount {
public:
    ULONG Add() { return ULONG(::InterlockedIncrement(&refs_)); }
    // Answers the new count; 0 means the caller deletes the object.
    ULONG Drop() { return ULONG(::InterlockedDecrement(&refs_)); }
private:
    LONG refs_ = 1;
};

// QueryInterface of an object of ours that offers one interface besides IUnknown.
template <class I> HRESULT QuerySingleInterface(I* self, REFIID own, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == own) {
        *out = self;
        self->AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

} // namespace krv
