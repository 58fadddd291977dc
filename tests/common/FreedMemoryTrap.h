// While a trap is open, blocks given back to operator delete are kept and
// filled with 0xDD: a pointer left at a freed object never meets a new one
// at its address, and what it reads shows it was freed.
#pragma once

namespace krv::test {
struct TFreedMemoryTrap {
    TFreedMemoryTrap();
    ~TFreedMemoryTrap();   // frees what was kept
    // False once anything wrote into a block kept since the trap opened.
    bool Untouched() const;
};
} // namespace krv::test
