#include "framework/Sync.h"
#include <atomic>

namespace krv {

namespace {

// The slim lock and condition functions, bound at run time (they are not on
// every system this program runs on).
struct TSlimApi {
    using LockFn = VOID(WINAPI*)(void**);
    using SleepFn = BOOL(WINAPI*)(void**, void**, DWORD, ULONG);
    LockFn acquire = nullptr, release = nullptr, wakeOne = nullptr, wakeAll = nullptr;
    SleepFn sleep = nullptr;
    bool ok = false;

    TSlimApi() {
        HMODULE k = ::GetModuleHandleA("kernel32.dll");
        if (!k) return;
        acquire = reinterpret_cast<LockFn>(reinterpret_cast<void*>(::GetProcAddress(k, "AcquireSRWLockExclusive")));
        release = reinterpret_cast<LockFn>(reinterpret_cast<void*>(::GetProcAddress(k, "ReleaseSRWLockExclusive")));
        wakeOne = reinterpret_cast<LockFn>(reinterpret_cast<void*>(::GetProcAddress(k, "WakeConditionVariable")));
        wakeAll = reinterpret_cast<LockFn>(reinterpret_cast<void*>(::GetProcAddress(k, "WakeAllConditionVariable")));
        sleep = reinterpret_cast<SleepFn>(reinterpret_cast<void*>(::GetProcAddress(k, "SleepConditionVariableSRW")));
        ok = acquire && release && wakeOne && wakeAll && sleep;
    }
};

const TSlimApi& Slim() {
    static const TSlimApi api;
    return api;
}

std::atomic<bool> slimWanted{true};

bool SlimUsable() { return slimWanted && Slim().ok; }

} // namespace

void SyncUseSlimLocks(bool use) { slimWanted = use; }

TLock::TLock() : useSlim_(SlimUsable()) {
    if (!useSlim_) ::InitializeCriticalSection(&section_);
}

TLock::~TLock() {
    if (!useSlim_) ::DeleteCriticalSection(&section_);
}

void TLock::Acquire() {
    if (useSlim_) Slim().acquire(&slim_);
    else ::EnterCriticalSection(&section_);
}

void TLock::Release() {
    if (useSlim_) Slim().release(&slim_);
    else ::LeaveCriticalSection(&section_);
}

TCondition::TCondition() : useSlim_(SlimUsable()) {
    if (!useSlim_) event_.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
}

TCondition::~TCondition() = default;

void TCondition::Sleep(TLock& lock) {
    if (useSlim_ && lock.useSlim_) {
        Slim().sleep(&slim_, &lock.slim_, INFINITE, 0);
        return;
    }
    // A wake between the release and the wait is not lost for long: the
    // waiter looks at its condition again after a few milliseconds anyway.
    if (event_) ::ResetEvent(event_.get());
    lock.Release();
    if (event_) ::WaitForSingleObject(event_.get(), 5);
    else ::Sleep(1);   // a slim condition with an older lock: poll
    lock.Acquire();
}

void TCondition::NotifyOne() {
    if (useSlim_) Slim().wakeOne(&slim_);
    else ::SetEvent(event_.get());
}

void TCondition::NotifyAll() {
    if (useSlim_) Slim().wakeAll(&slim_);
    else ::SetEvent(event_.get());
}

} // namespace krv
