// Scope owners of paired calls: the second call runs however the scope ends.
#include "framework/Handle.h"
#include "framework/OleData.h"
#include "framework/Stream.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>

using namespace krv;

namespace {
// A stream that takes a few bytes, then no more: a full disk.
class TFullStream : public TStream {
public:
    explicit TFullStream(size_t room) : room_(room) {}
    size_t Read(void*, size_t) override { return 0; }
    size_t Write(const void*, size_t count) override {
        size_t n = std::min(count, room_);
        room_ -= n;
        return n;
    }
    int64_t Seek(int64_t, TSeekOrigin) override { return 0; }
private:
    size_t room_;
};

UINT LockCount(HGLOBAL memory) { return ::GlobalFlags(memory) & GMEM_LOCKCOUNT; }
} // namespace

// A block copied out while locked stays movable when the copy fails half way:
// a lock left behind would pin it for the life of the process.
TEST(HandleScopes, GlobalMemoryIsUnlockedWhenAWriteThrows) {
    const char text[] = "node chunks of a pasted tree";
    krv::GlobalHandle memory(GlobalFromBytes(text, sizeof text));
    ASSERT_TRUE(memory);
    ASSERT_EQ(0u, LockCount(memory.get()));
    TFullStream out(4);
    bool raised = false;
    try {
        GlobalLockScope lock(memory.get());
        ASSERT_TRUE(lock);
        EXPECT_EQ(1u, LockCount(memory.get()));
        EXPECT_EQ(0, std::memcmp(lock.get(), text, sizeof text));
        out.WriteBuffer(lock.get(), sizeof text);
    } catch (const EWriteError&) {
        raised = true;
    }
    EXPECT_TRUE(raised);
    EXPECT_EQ(0u, LockCount(memory.get()));
    // Nothing to lock: no pointer, and nothing to undo.
    GlobalLockScope none(nullptr);
    EXPECT_FALSE(none);
}
