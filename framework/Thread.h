// A worker thread object. Execute runs on the worker after Start; Synchronize runs a call
// on the user-interface thread while the worker waits for it to finish.
#pragma once
#include "framework/Handle.h"
#include <atomic>
#include <exception>
#include <functional>

namespace krv {

// Must be called once on the user-interface thread before any worker calls
// Synchronize (the application object does it at start).
void InitSynchronize();
bool IsMainThread();
// Runs fn on the user-interface thread and waits; exceptions come back to the caller.
void SynchronizeCall(const std::function<void()>& fn);

class TThread {
public:
    // Made idle: Start runs Execute once the subclass is whole.
    TThread() = default;
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    void Start();
    // Asks the worker to stop; Execute checks Terminated().
    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_; }
    // Waits for the end of Execute; on the user-interface thread it keeps
    // answering Synchronize calls meanwhile. Answers ReturnValue.
    int WaitFor();
    bool Finished() const { return finished_; }
    HANDLE Handle() const { return handle_.get(); }
    DWORD ThreadId() const { return threadId_; }

    int ReturnValue = 0;
    // The exception that ended Execute, if any.
    std::exception_ptr FatalException;
    // Fired on the user-interface thread after Execute ends.
    std::function<void(TThread* sender)> OnTerminate;

protected:
    virtual void Execute() = 0;
    virtual void DoTerminate();
    void Synchronize(const std::function<void()>& fn) { SynchronizeCall(fn); }

private:
    static unsigned __stdcall ThreadProc(void* self);
    KernelHandle handle_;
    DWORD threadId_ = 0;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    bool started_ = false;
};

} // namespace krv
