#include "tree/core/LazyTreeNodePool.h"
#include <algorithm>
#include <cstring>
#include <new>

namespace krv {

namespace {
constexpr unsigned kUnitShift = 16;                 // 64 KB, VirtualAlloc's granularity
constexpr size_t kUnit = size_t(1) << kUnitShift;
constexpr size_t kLargestBlock = 64 * kUnit;        // 4 MB
uintptr_t Address(const void* p) { return reinterpret_cast<uintptr_t>(p); }
}

struct TLazyNodePool::TBlock {
    VirtualMemory memory;
    uint8_t* base = nullptr;
    size_t bytes = 0;
    uint32_t slotSize = 0;
    uint32_t capacity = 0;          // slots the block holds
    uint32_t cut = 0;               // slots handed out at least once; the rest is untouched zero memory
    uint32_t live = 0;
    void* freeList = nullptr;       // slots given back, linked through their first bytes
    std::vector<uint32_t> liveBits;
    size_t index = 0;               // position in blocks_
    TBlock* prevOpen = nullptr;
    TBlock* nextOpen = nullptr;
    bool open = false;
    bool HasRoom() const { return freeList || cut < capacity; }
    uint32_t SlotOf(const void* p) const { return uint32_t((Address(p) - Address(base)) / slotSize); }
};

TLazyNodePool::TLazyNodePool() = default;
TLazyNodePool::~TLazyNodePool() = default;

void TLazyNodePool::LinkOpen(TBlock* block) {
    if (block->open) return;
    block->open = true;
    block->prevOpen = nullptr;
    block->nextOpen = open_;
    if (open_) open_->prevOpen = block;
    open_ = block;
}

void TLazyNodePool::UnlinkOpen(TBlock* block) {
    if (!block->open) return;
    block->open = false;
    if (block->prevOpen) block->prevOpen->nextOpen = block->nextOpen;
    else open_ = block->nextOpen;
    if (block->nextOpen) block->nextOpen->prevOpen = block->prevOpen;
    block->prevOpen = block->nextOpen = nullptr;
}

TLazyNodePool::TBlock* TLazyNodePool::NewBlock(uint32_t slotSize) {
    // Blocks grow with the tree, so a small tree takes one unit and a big one
    // few calls to the system.
    size_t bytes = std::clamp((reserved_ / 2 + kUnit - 1) & ~(kUnit - 1), kUnit, kLargestBlock);
    bytes = std::max(bytes, (size_t(slotSize) + kUnit - 1) & ~(kUnit - 1));
    auto block = std::make_unique<TBlock>();
    block->memory.reset(::VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (!block->memory) throw std::bad_alloc();
    block->base = static_cast<uint8_t*>(block->memory.get());
    block->bytes = bytes;
    block->slotSize = slotSize;
    block->capacity = uint32_t(bytes / slotSize);
    block->liveBits.assign((block->capacity + 31) / 32, 0);
    block->index = blocks_.size();
    TBlock* raw = block.get();
    blocks_.push_back(std::move(block));
    for (uintptr_t unit = Address(raw->base) >> kUnitShift; unit <= (Address(raw->base) + bytes - 1) >> kUnitShift; ++unit)
        units_[unit] = raw;
    reserved_ += bytes;
    LinkOpen(raw);
    return raw;
}

void TLazyNodePool::ReleaseBlock(TBlock* block) {
    UnlinkOpen(block);
    if (block == spare_) spare_ = nullptr;
    for (uintptr_t unit = Address(block->base) >> kUnitShift; unit <= (Address(block->base) + block->bytes - 1) >> kUnitShift;
         ++unit)
        units_.erase(unit);
    reserved_ -= block->bytes;
    size_t index = block->index;
    if (index + 1 != blocks_.size()) {
        std::swap(blocks_[index], blocks_.back());
        blocks_[index]->index = index;
    }
    blocks_.pop_back();   // frees the block and gives its memory back
}

void* TLazyNodePool::Allocate(size_t size) {
    uint32_t slotSize = uint32_t(std::max<size_t>(sizeof(void*), (size + 3) & ~size_t(3)));
    if (slotSize != slotSize_) {
        // Blocks of the old size keep their nodes; new nodes go to new blocks.
        while (open_) UnlinkOpen(open_);
        if (spare_) ReleaseBlock(spare_);
        slotSize_ = slotSize;
    }
    TBlock* block = open_ ? open_ : NewBlock(slotSize);
    if (block == spare_) spare_ = nullptr;
    void* p;
    if (block->freeList) {
        p = block->freeList;
        block->freeList = *static_cast<void**>(p);
        std::memset(p, 0, slotSize);
    } else {
        p = block->base + size_t(block->cut++) * slotSize;   // never used: still the system's zeroes
    }
    uint32_t slot = block->SlotOf(p);
    block->liveBits[slot / 32] |= 1u << (slot % 32);
    ++block->live;
    ++live_;
    if (!block->HasRoom()) UnlinkOpen(block);
    return p;
}

void TLazyNodePool::Free(void* p) {
    TBlock* block = BlockOf(p);
    if (!block) return;
    uint32_t slot = block->SlotOf(p);
    block->liveBits[slot / 32] &= ~(1u << (slot % 32));
    --block->live;
    --live_;
    *static_cast<void**>(p) = block->freeList;
    block->freeList = p;
    if (block->live == 0) {
        // One empty block stays for the next nodes; more go back to the system.
        if (spare_ && spare_ != block) {
            ReleaseBlock(block);
            return;
        }
        spare_ = block;
    }
    if (block->slotSize == slotSize_) LinkOpen(block);
}

TLazyNodePool::TBlock* TLazyNodePool::BlockOf(const void* p) const {
    auto it = units_.find(Address(p) >> kUnitShift);
    return it == units_.end() ? nullptr : it->second;
}

bool TLazyNodePool::IsLive(const void* p) const {
    const TBlock* block = BlockOf(p);
    if (!block) return false;
    uintptr_t offset = Address(p) - Address(block->base);
    if (offset % block->slotSize) return false;
    uint32_t slot = uint32_t(offset / block->slotSize);
    return slot < block->cut && (block->liveBits[slot / 32] >> (slot % 32) & 1);
}

} // namespace krv
