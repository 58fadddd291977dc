// The node memory of one tree. Nodes are fixed-size slots cut from blocks of
// whole allocation units (64 KB, the system's granularity), so a node costs
// its record and data areas and no heap header, and a handle from outside
// the tree can be checked against the live nodes without reading the memory
// it points at: the unit of an address names its block, the block's own
// table (kept apart from the slots) says whether a slot is live.
#pragma once
#include "framework/Handle.h"
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace krv {

class TLazyNodePool {
public:
    TLazyNodePool();
    ~TLazyNodePool();
    TLazyNodePool(const TLazyNodePool&) = delete;
    TLazyNodePool& operator=(const TLazyNodePool&) = delete;

    // A zeroed block of at least size bytes, 4-byte aligned; throws
    // std::bad_alloc when the address space is exhausted.
    void* Allocate(size_t size);
    // Gives back a block from Allocate.
    void Free(void* p);
    // Whether p is the start of a block this pool handed out and has not
    // taken back. Never reads *p.
    bool IsLive(const void* p) const;

    size_t LiveCount() const { return live_; }
    // Bytes taken from the system for nodes (slots in use, free and not yet cut).
    size_t ReservedBytes() const { return reserved_; }

private:
    struct TBlock;
    TBlock* BlockOf(const void* p) const;
    TBlock* NewBlock(uint32_t slotSize);
    void ReleaseBlock(TBlock* block);
    void LinkOpen(TBlock* block);
    void UnlinkOpen(TBlock* block);

    std::vector<std::unique_ptr<TBlock>> blocks_;
    std::unordered_map<uintptr_t, TBlock*> units_;   // allocation unit -> its block
    TBlock* open_ = nullptr;                         // blocks of slotSize_ with room
    TBlock* spare_ = nullptr;                        // the one empty block kept
    uint32_t slotSize_ = 0;
    size_t live_ = 0;
    size_t reserved_ = 0;
};

} // namespace krv
