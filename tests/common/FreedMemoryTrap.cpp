#include "common/FreedMemoryTrap.h"
#include <malloc.h>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace {
void* g_kept[1 << 16];
std::atomic<size_t> g_count{0};
std::atomic<bool> g_open{false};
} // namespace

// The runtime's other forms (arrays, nothrow) call these.
void* operator new(size_t size) {
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p, size_t) noexcept { ::operator delete(p); }
void operator delete(void* p) noexcept {
    if (p && g_open) {
        if (size_t i = g_count++; i < std::size(g_kept)) {
            std::memset(p, 0xDD, _msize(p));
            g_kept[i] = p;
            return;
        }
    }
    std::free(p);
}

krv::test::TFreedMemoryTrap::TFreedMemoryTrap() { g_open = true; }
bool krv::test::TFreedMemoryTrap::Untouched() const {
    for (size_t i = 0, n = g_count; i < n && i < std::size(g_kept); ++i) {
        auto* p = static_cast<const unsigned char*>(g_kept[i]);   // nil: another thread's, not filed yet
        if (p && std::any_of(p, p + _msize(g_kept[i]), [](unsigned char b) { return b != 0xDD; })) return false;
    }
    return true;
}
krv::test::TFreedMemoryTrap::~TFreedMemoryTrap() {
    g_open = false;
    for (size_t i = 0, n = g_count.exchange(0); i < n && i < std::size(g_kept); ++i)
        std::free(std::exchange(g_kept[i], nullptr));
}
