// The lock and condition, both kinds: threads that wait their turn on a
// shared counter see every turn once, in order, and none is lost.
#include "framework/Sync.h"
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace krv;

namespace {

// Threads take turns round-robin; answers the order the turns were taken in.
std::vector<int> TakeTurns(int threads, int rounds) {
    TLock lock;
    TCondition turnChanged;
    int turn = 0;
    std::vector<int> order;
    std::vector<std::thread> pool;
    for (int id = 0; id < threads; ++id) {
        pool.emplace_back([&, id] {
            for (int r = 0; r < rounds; ++r) {
                TLockGuard guard(lock);
                turnChanged.Wait(lock, [&] { return turn % threads == id; });
                order.push_back(id);
                ++turn;
                turnChanged.NotifyAll();
            }
        });
    }
    for (auto& t : pool) t.join();
    return order;
}

// A producer hands items one at a time to a single consumer with NotifyOne.
int HandOver(int items) {
    TLock lock;
    TCondition changed;
    bool full = false;
    int value = 0, sum = 0;
    std::thread consumer([&] {
        for (int i = 0; i < items; ++i) {
            TLockGuard guard(lock);
            changed.Wait(lock, [&] { return full; });
            sum += value;
            full = false;
            changed.NotifyOne();
        }
    });
    for (int i = 1; i <= items; ++i) {
        TLockGuard guard(lock);
        changed.Wait(lock, [&] { return !full; });
        value = i;
        full = true;
        changed.NotifyOne();
    }
    consumer.join();
    return sum;
}

} // namespace

TEST(Sync, TurnsAndHandOversWithBothKinds) {
    for (bool slim : {true, false}) {
        SyncUseSlimLocks(slim);
        const int threads = 4, rounds = slim ? 300 : 40;
        auto order = TakeTurns(threads, rounds);
        ASSERT_EQ(order.size(), static_cast<size_t>(threads * rounds)) << slim;
        for (size_t i = 0; i < order.size(); ++i) ASSERT_EQ(order[i], static_cast<int>(i % threads)) << slim << " at " << i;
        const int items = slim ? 2000 : 100;
        EXPECT_EQ(HandOver(items), items * (items + 1) / 2) << slim;
    }
    SyncUseSlimLocks(true);
}

TEST(Sync, LockKeepsACounterExact) {
    TLock lock;
    long counter = 0;
    std::vector<std::thread> pool;
    for (int t = 0; t < 6; ++t)
        pool.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                TLockGuard guard(lock);
                ++counter;
            }
        });
    for (auto& t : pool) t.join();
    EXPECT_EQ(counter, 6 * 20000);
}
