#include "shell/base/PIDLTools.h"
#include "shell/base/WideStrUtils.h"
#include <cstring>
#include <mutex>

namespace krv {

namespace {
uint16_t CB(LPCITEMIDLIST p) {
    uint16_t cb;
    std::memcpy(&cb, p, 2);   // identifiers are not aligned
    return cb;
}
void SetCB(LPITEMIDLIST p, uint16_t cb) { std::memcpy(p, &cb, 2); }

// Puts a cut identifier's count back when the scope ends, also on an exception.
class TRestoreCB {
public:
    TRestoreCB(LPITEMIDLIST at, uint16_t cb) : at_(at), cb_(cb) {}
    ~TRestoreCB() { if (at_) SetCB(at_, cb_); }
    TRestoreCB(const TRestoreCB&) = delete;
    TRestoreCB& operator=(const TRestoreCB&) = delete;
private:
    LPITEMIDLIST at_;
    uint16_t cb_;
};
} // namespace

std::unique_ptr<TPIDLManager> TPIDLManager::Create(TMallocSource source) {
    ComPtr<IMalloc> m;
    if (FAILED(source(m.put())) || !m) return nullptr;
    return std::unique_ptr<TPIDLManager>(new TPIDLManager(std::move(m)));
}

uint32_t TPIDLManager::PIDLSize(LPCITEMIDLIST pidl) {
    if (!pidl) return 0;
    uint32_t size = 0;
    auto* p = reinterpret_cast<const uint8_t*>(pidl);
    for (uint16_t cb; (cb = CB(reinterpret_cast<LPCITEMIDLIST>(p + size))) != 0;) size += cb;
    return size + 2;
}

int TPIDLManager::IDCount(LPCITEMIDLIST pidl) {
    if (!pidl) return 0;
    int n = 0;
    for (LPCITEMIDLIST p = pidl; CB(p) != 0; p = NextID(p)) ++n;
    return n;
}

LPITEMIDLIST TPIDLManager::NextID(LPCITEMIDLIST pidl) {
    auto* p = reinterpret_cast<const uint8_t*>(pidl);
    return reinterpret_cast<LPITEMIDLIST>(const_cast<uint8_t*>(p + CB(pidl)));
}

LPITEMIDLIST TPIDLManager::GetPointerToLastID(LPCITEMIDLIST pidl) {
    if (!pidl) return nullptr;
    LPCITEMIDLIST last = pidl;
    if (CB(pidl) != 0) {
        for (LPCITEMIDLIST next = NextID(pidl); CB(next) != 0; next = NextID(next)) last = next;
    }
    return const_cast<LPITEMIDLIST>(last);
}

bool TPIDLManager::IsDesktopFolder(LPCITEMIDLIST pidl) { return pidl && CB(pidl) == 0; }

LPITEMIDLIST TPIDLManager::StripLastID(LPITEMIDLIST pidl) {
    uint16_t cb;
    LPITEMIDLIST id;
    return StripLastID(pidl, cb, id);
}

LPITEMIDLIST TPIDLManager::StripLastID(LPITEMIDLIST pidl, uint16_t& lastCB, LPITEMIDLIST& lastID) {
    lastCB = 0;
    lastID = nullptr;
    if (!pidl || CB(pidl) == 0) return pidl;
    lastID = GetPointerToLastID(pidl);
    lastCB = CB(lastID);
    SetCB(lastID, 0);
    return pidl;
}

bool TPIDLManager::IsSubPIDL(LPITEMIDLIST pidl, LPCITEMIDLIST parent) {
    if (!pidl || !parent) return false;
    int n = IDCount(parent);
    if (IDCount(pidl) < n) return false;
    LPITEMIDLIST cut = pidl;
    for (int i = 0; i < n; ++i) cut = NextID(cut);
    TRestoreCB restore(cut, CB(cut));
    SetCB(cut, 0);
    return krv::ILIsEqual(pidl, parent);
}

LPITEMIDLIST TPIDLManager::CopyPIDL(LPCITEMIDLIST pidl) const {
    if (!pidl) return nullptr;
    uint32_t size = PIDLSize(pidl);
    auto* copy = static_cast<LPITEMIDLIST>(malloc_->Alloc(size));
    if (copy) std::memcpy(copy, pidl, size);
    return copy;
}

LPITEMIDLIST TPIDLManager::AppendPIDL(LPCITEMIDLIST dest, LPCITEMIDLIST src) const {
    static const uint16_t empty = 0;
    if (!src) src = reinterpret_cast<LPCITEMIDLIST>(&empty);   // the result is still terminated
    uint32_t size1 = (dest && !IsDesktopFolder(dest)) ? PIDLSize(dest) - 2 : 0;
    uint32_t size2 = PIDLSize(src);
    auto* result = static_cast<uint8_t*>(malloc_->Alloc(size1 + size2));
    if (!result) return nullptr;
    if (size1) std::memcpy(result, dest, size1);
    std::memcpy(result + size1, src, size2);
    return reinterpret_cast<LPITEMIDLIST>(result);
}

void TPIDLManager::FreePIDL(LPITEMIDLIST pidl) const {
    if (pidl) malloc_->Free(pidl);
}

void TPIDLManager::FreeAndNilPIDL(LPITEMIDLIST& pidl) const {
    LPITEMIDLIST old = pidl;
    pidl = nullptr;
    FreePIDL(old);
}

void TPIDLManager::FreeOLEStr(void* p) const {
    if (p) malloc_->Free(p);
}

bool IsWellFormedPIDL(const uint8_t* data, uint32_t size) {
    uint32_t at = 0;
    while (size - at >= 2) {
        uint16_t cb;
        std::memcpy(&cb, data + at, 2);
        if (cb == 0) return at + 2 == size;
        if (cb < 2 || cb > size - at) return false;
        at += cb;
    }
    return false;
}

LPITEMIDLIST TPIDLManager::LoadFromStream(TStream& stream) const {
    uint32_t size = stream.ReadValue<uint32_t>();
    if (size == 0) return nullptr;
    if (static_cast<int64_t>(size) > stream.Remaining())
        throw EReadError(Format("Item identifier list of %u bytes runs past the end of the stream", size));
    PIDLPtr pidl(static_cast<LPITEMIDLIST>(malloc_->Alloc(size)));
    if (!pidl) throw EReadError("Out of memory reading an item identifier list");
    stream.ReadBuffer(pidl.get(), size);
    if (!IsWellFormedPIDL(reinterpret_cast<const uint8_t*>(pidl.get()), size))
        throw EReadError("Damaged item identifier list in stream");
    return pidl.release();
}

void TPIDLManager::SaveToStream(TStream& stream, LPCITEMIDLIST pidl) {
    uint32_t size = PIDLSize(pidl);
    stream.WriteValue(size);
    if (size) stream.WriteBuffer(pidl, size);
}

TPIDLManager* PIDLManager() {
    static std::once_flag once;
    static std::unique_ptr<TPIDLManager> manager;
    std::call_once(once, [] { manager = TPIDLManager::Create(); });
    return manager.get();
}

void FreePIDL(LPITEMIDLIST pidl) { CoTaskMem<ITEMIDLIST>{pidl}; }

TPIDLManager* TPIDLList::Manager() const {
    if (!manager_) manager_ = TPIDLManager::Create();
    if (!manager_) throw Exception("The shell allocator is not available");
    return manager_.get();
}

TPIDLList::~TPIDLList() {
    // Owned lists still held are freed: nothing else can reach them any more.
    if (!SharePIDLs && !items_.empty()) {
        for (LPITEMIDLIST p : items_) krv::FreePIDL(p);
    }
}

void TPIDLList::Delete(int i) {
    LPITEMIDLIST p = items_.at(static_cast<size_t>(i));
    items_.erase(items_.begin() + i);
    if (!SharePIDLs) Manager()->FreePIDL(p);
}

void TPIDLList::Clear() {
    if (!SharePIDLs) {
        for (LPITEMIDLIST p : items_) Manager()->FreePIDL(p);
    }
    items_.clear();
}

void TPIDLList::LoadFromStream(TStream& stream) {
    int32_t count = stream.ReadValue<int32_t>();
    // Every entry takes at least its 4-byte size.
    if (count < 0 || static_cast<int64_t>(count) * 4 > stream.Remaining())
        throw EReadError(Format("Item identifier list count %d does not fit the stream", count));
    TPIDLManager* m = Manager();
    std::vector<LPITEMIDLIST> loaded;
    loaded.reserve(static_cast<size_t>(count));
    try {
        for (int32_t i = 0; i < count; ++i) loaded.push_back(m->LoadFromStream(stream));
    } catch (...) {
        for (LPITEMIDLIST p : loaded) m->FreePIDL(p);
        throw;
    }
    items_.insert(items_.end(), loaded.begin(), loaded.end());
}

void TPIDLList::SaveToStream(TStream& stream) const {
    stream.WriteValue(static_cast<int32_t>(items_.size()));
    for (LPITEMIDLIST p : items_) TPIDLManager::SaveToStream(stream, p);
}

LPITEMIDLIST FindMyDocumentsOnDesktop() {
    ComPtr<IShellFolder> desktop;
    if (FAILED(::SHGetDesktopFolder(desktop.put())) || !desktop) return nullptr;
    PIDLPtr documents;
    if (FAILED(::SHGetSpecialFolderLocation(nullptr, CSIDL_PERSONAL, documents.put())) || !documents)
        return nullptr;

    // The name the documents folder shows inside its own parent: the last
    // identifier is asked of the folder that holds it (the documents folder
    // itself does not know it).
    std::wstring documentsName;
    {
        ComPtr<IShellFolder> parent;
        LPCITEMIDLIST last = nullptr;
        if (FAILED(::SHBindToParent(documents.get(), IID_IShellFolder, parent.put_void(), &last)) || !parent)
            return nullptr;
        STRRET name{};
        if (FAILED(parent->GetDisplayNameOf(last, SHGDN_INFOLDER, &name))) return nullptr;
        documentsName = StrRetToStr(name, last);
    }
    if (documentsName.empty()) return nullptr;

    ComPtr<IEnumIDList> items;
    if (desktop->EnumObjects(nullptr, SHCONTF_FOLDERS, items.put()) != S_OK || !items) return nullptr;
    for (;;) {
        PIDLPtr child;
        ULONG fetched = 0;
        if (items->Next(1, child.put(), &fetched) != S_OK || fetched != 1) break;
        STRRET name{};
        if (FAILED(desktop->GetDisplayNameOf(child.get(), SHGDN_NORMAL, &name))) continue;
        // Compared as UTF-16: as ANSI text, names outside the code page turn
        // into "?" and two different ones could match.
        if (StrICompW(StrRetToStr(name, child.get()).c_str(), documentsName.c_str()) == 0) return child.release();
    }
    return nullptr;
}

} // namespace krv
