// Item identifier lists: a chain of identifiers, each a 16-bit byte count
// (counting itself) and the shell's data, ended by a 16-bit zero. The empty
// list is the desktop. TPIDLManager copies, joins, measures, cuts, compares,
// frees and streams them through the shell task allocator; TPIDLList holds
// several and streams them as one block.
#pragma once
#include "framework/Handle.h"
#include "framework/Stream.h"
#include "shell/base/ShellEntryPoints.h"
#include <shlobj.h>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace krv {

// An owned list, freed with the task allocator (the shell's allocator).
using PIDLPtr = CoTaskMem<ITEMIDLIST>;

class TPIDLManager {
public:
    using TMallocSource = HRESULT(WINAPI*)(IMalloc**);
    // Nil when the shell gives no allocator.
    static std::unique_ptr<TPIDLManager> Create(TMallocSource source = ::SHGetMalloc);

    IMalloc* Malloc() const { return malloc_.get(); }

    LPITEMIDLIST CopyPIDL(LPCITEMIDLIST pidl) const;
    LPITEMIDLIST AppendPIDL(LPCITEMIDLIST dest, LPCITEMIDLIST src) const;
    static uint32_t PIDLSize(LPCITEMIDLIST pidl);
    static int IDCount(LPCITEMIDLIST pidl);
    static LPITEMIDLIST NextID(LPCITEMIDLIST pidl);
    static LPITEMIDLIST GetPointerToLastID(LPCITEMIDLIST pidl);
    static bool IsDesktopFolder(LPCITEMIDLIST pidl);
    static LPITEMIDLIST StripLastID(LPITEMIDLIST pidl);
    static LPITEMIDLIST StripLastID(LPITEMIDLIST pidl, uint16_t& lastCB, LPITEMIDLIST& lastID);
    static bool IsSubPIDL(LPITEMIDLIST pidl, LPCITEMIDLIST parent);
    void FreePIDL(LPITEMIDLIST pidl) const;
    void FreeAndNilPIDL(LPITEMIDLIST& pidl) const;
    void FreeOLEStr(void* p) const;

    // A 32-bit byte count, then that many bytes. Raises EReadError when the
    // stream ends early or the bytes are not one terminated list.
    LPITEMIDLIST LoadFromStream(TStream& stream) const;
    static void SaveToStream(TStream& stream, LPCITEMIDLIST pidl);

private:
    explicit TPIDLManager(ComPtr<IMalloc> m) : malloc_(std::move(m)) {}
    ComPtr<IMalloc> malloc_;
};

// True when the first size bytes at data form exactly one terminated list.
bool IsWellFormedPIDL(const uint8_t* data, uint32_t size);

// The process-wide manager of the shell components (made on first use).
TPIDLManager* PIDLManager();

// Frees a list with the task allocator (nothing for nil).
void FreePIDL(LPITEMIDLIST pidl);

// A list of lists that owns them unless SharePIDLs is set.
class TPIDLList {
public:
    TPIDLList() = default;
    TPIDLList(const TPIDLList&) = delete;
    TPIDLList& operator=(const TPIDLList&) = delete;
    virtual ~TPIDLList();

    bool SharePIDLs = false;

    int Count() const { return static_cast<int>(items_.size()); }
    LPITEMIDLIST operator[](int i) const { return items_.at(static_cast<size_t>(i)); }
    int Add(LPITEMIDLIST pidl) { items_.push_back(pidl); return Count() - 1; }
    int CopyAdd(LPCITEMIDLIST pidl) { return Add(Manager()->CopyPIDL(pidl)); }
    void Delete(int i);
    void Exchange(int i, int j) { std::swap(items_.at(size_t(i)), items_.at(size_t(j))); }
    void Swap(TPIDLList& other) { items_.swap(other.items_); }
    virtual void Clear();
    // Count (32 bits, signed), then per list its size and bytes; a size of 0 is a nil item.
    // Counts and sizes beyond what the stream holds are refused with EReadError.
    virtual void LoadFromStream(TStream& stream);
    virtual void SaveToStream(TStream& stream) const;

    TPIDLManager* Manager() const;

private:
    std::vector<LPITEMIDLIST> items_;
    mutable std::unique_ptr<TPIDLManager> manager_;
};

// The desktop's item that stands for the user's documents folder, as a list
// relative to the desktop; nil when the desktop shows none.
LPITEMIDLIST FindMyDocumentsOnDesktop();

} // namespace krv
