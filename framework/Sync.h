// A lock and a condition for threads of this process. Where the system has
// them they are its slim reader/writer lock and condition variable: an
// uncontended lock never leaves the process, and a wait parks the thread
// without a kernel object. Older systems get a critical section and an event
// that a waiter also re-checks every few milliseconds.
#pragma once
#include "framework/Handle.h"
#include <windows.h>

namespace krv {

// Tests build the older systems' kind of lock and condition with this off.
void SyncUseSlimLocks(bool use);

class TLock {
public:
    TLock();
    ~TLock();
    TLock(const TLock&) = delete;
    TLock& operator=(const TLock&) = delete;
    void Acquire();
    void Release();

private:
    friend class TCondition;
    bool useSlim_;
    void* slim_ = nullptr;       // the slim lock's one word
    CRITICAL_SECTION section_;   // used only without slim locks
};

class TLockGuard {
public:
    explicit TLockGuard(TLock& lock) : lock_(lock) { lock_.Acquire(); }
    ~TLockGuard() { lock_.Release(); }
    TLockGuard(const TLockGuard&) = delete;
    TLockGuard& operator=(const TLockGuard&) = delete;

private:
    TLock& lock_;
};

class TCondition {
public:
    TCondition();
    ~TCondition();
    TCondition(const TCondition&) = delete;
    TCondition& operator=(const TCondition&) = delete;
    // Waits, with the lock held on entry and on return, until ready() holds.
    template <class Ready> void Wait(TLock& lock, Ready&& ready) {
        while (!ready()) Sleep(lock);
    }
    void NotifyOne();
    void NotifyAll();

private:
    void Sleep(TLock& lock);
    bool useSlim_;
    void* slim_ = nullptr;   // the condition variable's one word
    KernelHandle event_;     // used only without slim locks
};

} // namespace krv
