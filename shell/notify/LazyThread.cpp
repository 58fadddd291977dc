#include "shell/notify/LazyThread.h"
#include "framework/SysUtils.h"
#include <process.h>

namespace krv {

int SystemThreadPriority(TLazyThreadPriority priority) {
    static const int map[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,  THREAD_PRIORITY_BELOW_NORMAL,
                              THREAD_PRIORITY_NORMAL,       THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                              THREAD_PRIORITY_TIME_CRITICAL};
    int i = static_cast<int>(priority);
    return i >= 0 && i <= tpTimeCritical ? map[i] : THREAD_PRIORITY_NORMAL;
}

TLazyThread::TLazyThread(bool createSuspended)
    : thunk_(this, reinterpret_cast<void*>(&TLazyThread::ThreadProc)) {
    if (!thunk_.get()) throw Exception("Thread creation error: no memory for the thread's entry");
    unsigned id = 0;
    // The thunk is the entry: the system's one parameter follows the object.
    auto entry = thunk_.as<unsigned(__stdcall*)(void*)>();
    handle_.reset(reinterpret_cast<HANDLE>(
        ::_beginthreadex(nullptr, 0, entry, nullptr, createSuspended ? CREATE_SUSPENDED : 0, &id)));
    if (!handle_) throw Exception("Thread creation error: " + SysErrorMessage(::GetLastError()));
    threadId_ = id;
    suspended_ = createSuspended;
}

TLazyThread::~TLazyThread() {
    // The thunk the thread runs through goes with this object: never free it
    // under a running thread. Owners stop their threads first; this is the net.
    if (handle_ && !finished_) {
        Terminate();
        SetSuspended(false);
        TLazyThread::Wake();
        ::WaitForSingleObject(handle_.get(), INFINITE);
    }
}

unsigned __stdcall TLazyThread::ThreadProc(TLazyThread* self, void*) {
    try {
        self->Execute();
    } catch (...) {
        self->FatalException = std::current_exception();
    }
    self->finished_ = true;
    return 0;
}

void TLazyThread::CreateEvent(bool manualReset) {
    event_.reset(::CreateEventA(nullptr, manualReset, FALSE, nullptr));
    if (!event_) throw Exception("Cannot create an event: " + SysErrorMessage(::GetLastError()));
}

void TLazyThread::Wake() {
    if (event_) ::SetEvent(event_.get());
}

void TLazyThread::SetPriority(TLazyThreadPriority priority) {
    if (handle_) ::SetThreadPriority(handle_.get(), SystemThreadPriority(priority));
}

void TLazyThread::SetSuspended(bool suspend) {
    if (!handle_ || suspend == suspended_) return;
    if (suspend) ::SuspendThread(handle_.get()); else ::ResumeThread(handle_.get());
    suspended_ = suspend;
}

} // namespace krv
