// The thread base of the shell components: a body run on its own thread, a
// reference count its users share, an optional wake-up event and a lock.
// The owner decides when the thread ends: Terminate, wake it, wait for
// Finished, then free it.
#pragma once
#include "framework/Handle.h"
#include "shell/base/CallbackThunk.h"
#include <atomic>
#include <exception>
#include <memory>
#include <mutex>

namespace krv {

// tpIdle .. tpTimeCritical.
enum TLazyThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };
// The system priority of each value, lowest first.
int SystemThreadPriority(TLazyThreadPriority priority);

// A class that adds members of its own is created suspended and resumed by
// its owner once made, so that Execute never meets a half-built object.
class TLazyThread {
public:
    explicit TLazyThread(bool createSuspended);
    virtual ~TLazyThread();
    TLazyThread(const TLazyThread&) = delete;
    TLazyThread& operator=(const TLazyThread&) = delete;

    HANDLE Handle() const { return handle_.get(); }
    DWORD ThreadID() const { return threadId_; }
    bool Terminated() const { return terminated_; }
    bool Finished() const { return finished_; }
    bool Suspended() const { return suspended_; }
    // Null unless the thread made one (CreateEvent).
    HANDLE Event() const { return event_.get(); }

    void Terminate() { terminated_ = true; }
    // Wakes a body that waits so it sees Terminated (sets the event by default).
    virtual void Wake();
    void SetPriority(TLazyThreadPriority priority);
    void SetSuspended(bool suspend);

    // Counts the users of the thread; answers the new count.
    long AddRef() { return ++refCount_; }
    long Release() { return --refCount_; }
    long RefCount() const { return refCount_; }

    std::mutex& Lock() { return lock_; }
    // The exception that ended Execute, if any (read once Finished).
    std::exception_ptr FatalException;

protected:
    // The thread body; it returns once Terminated is set and it is woken.
    virtual void Execute() = 0;
    // Gives the thread its wake-up event.
    void CreateEvent(bool manualReset);

private:
    static unsigned __stdcall ThreadProc(TLazyThread* self, void* unused);
    TCallbackThunk thunk_;
    KernelHandle handle_;
    KernelHandle event_;
    DWORD threadId_ = 0;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> suspended_{false};
    std::atomic<long> refCount_{0};
    std::mutex lock_;
};

} // namespace krv
