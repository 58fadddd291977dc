#include "FreedMemoryTrap.h"
#include <malloc.h>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {
constexpr size_t kKept = 1 << 16;
void* g_kept[kKept];
std::atomic<size_t> g_count{0};
std::atomic<bool> g_open{false};

void* Allocate(size_t size) {
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}

void Release(void* p) noexcept {
    if (!p) return;
    if (g_open) {
        size_t i = g_count++;
        if (i < kKept) {
            std::memset(p, 0xDD, _msize(p));
            g_kept[i] = p;
            return;
        }
    }
    std::free(p);
}
} // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }

namespace shelltest {

TFreedMemoryTrap::TFreedMemoryTrap() { g_open = true; }

TFreedMemoryTrap::~TFreedMemoryTrap() {
    g_open = false;
    size_t n = g_count.exchange(0);
    for (size_t i = 0; i < n && i < kKept; ++i) std::free(g_kept[i]);
}

bool LooksFreed(const void* p, size_t size) {
    auto* b = static_cast<const unsigned char*>(p);
    for (size_t i = 0; i < size; ++i)
        if (b[i] != 0xDD) return false;
    return true;
}

} // namespace shelltest
