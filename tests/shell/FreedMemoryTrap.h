// While a trap is open, blocks given back to operator delete are kept and
// filled with 0xDD: a pointer left at a freed object never meets a new one
// at the same address, and what it reads shows it was freed.
#pragma once
#include <cstddef>

namespace shelltest {

class TFreedMemoryTrap {
public:
    TFreedMemoryTrap();
    ~TFreedMemoryTrap();   // frees what was kept
    TFreedMemoryTrap(const TFreedMemoryTrap&) = delete;
    TFreedMemoryTrap& operator=(const TFreedMemoryTrap&) = delete;
};

// Whether the first size bytes at p carry the trap's fill.
bool LooksFreed(const void* p, size_t size);

} // namespace shelltest
