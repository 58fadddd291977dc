#include "framework/OleData.h"
#include "framework/Handle.h"
#include <cstring>

namespace krv {

HGLOBAL GlobalFromBytes(const void* data, size_t size) {
    GlobalHandle memory(::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_SHARE, size ? size : 1));
    if (!memory) return nullptr;
    if (size) {
        GlobalLockScope lock(memory.get());
        if (!lock) return nullptr;
        std::memcpy(lock.get(), data, size);
    }
    return memory.release();
}

HRESULT CopyStgMedium(const STGMEDIUM& source, STGMEDIUM& dest) {
    dest = STGMEDIUM{};
    switch (source.tymed) {
    case TYMED_HGLOBAL: {
        SIZE_T size = ::GlobalSize(source.hGlobal);
        HGLOBAL copy;
        {
            GlobalLockScope lock(source.hGlobal);
            if (!lock && size) return E_OUTOFMEMORY;
            copy = GlobalFromBytes(lock.get(), size);
        }
        if (!copy) return E_OUTOFMEMORY;
        dest.tymed = TYMED_HGLOBAL;
        dest.hGlobal = copy;
        return S_OK;
    }
    case TYMED_ISTREAM:
    case TYMED_ISTORAGE:
        dest = source;
        if (source.pstm) source.pstm->AddRef();   // pstm and pstg share the slot
        if (dest.pUnkForRelease) dest.pUnkForRelease->AddRef();
        return S_OK;
    case TYMED_NULL:
        return S_OK;
    default:
        // Handles other than global memory cannot be duplicated here: share
        // them only when a release object keeps them alive.
        if (!source.pUnkForRelease) return DV_E_TYMED;
        dest = source;
        dest.pUnkForRelease->AddRef();
        return S_OK;
    }
}

} // namespace krv
