#include "framework/Thread.h"
#include "framework/SysUtils.h"
#include "framework/Window.h"
#include <process.h>
#include <memory>

namespace krv {

namespace {
constexpr UINT WM_KRV_SYNCHRONIZE = WM_APP + 0x3F0;
DWORD mainThreadId = 0;
std::unique_ptr<TMessageWindow> syncWindow;

struct SyncRequest {
    const std::function<void()>* fn;
    std::exception_ptr error;
};
}

void InitSynchronize() {
    if (syncWindow) return;
    mainThreadId = ::GetCurrentThreadId();
    syncWindow = std::make_unique<TMessageWindow>([](UINT msg, WPARAM, LPARAM lParam, LRESULT& result) {
        if (msg != WM_KRV_SYNCHRONIZE) return false;
        auto* req = reinterpret_cast<SyncRequest*>(lParam);
        try {
            (*req->fn)();
        } catch (...) {
            req->error = std::current_exception();
        }
        result = 0;
        return true;
    });
}

bool IsMainThread() { return mainThreadId == 0 || ::GetCurrentThreadId() == mainThreadId; }

void SynchronizeCall(const std::function<void()>& fn) {
    if (IsMainThread() || !syncWindow) {
        fn();
        return;
    }
    SyncRequest req{&fn, nullptr};
    ::SendMessageA(syncWindow->Handle(), WM_KRV_SYNCHRONIZE, 0, reinterpret_cast<LPARAM>(&req));
    if (req.error) std::rethrow_exception(req.error);
}

TThread::~TThread() {
    if (started_ && !finished_) {
        Terminate();
        WaitFor();
    }
}

void TThread::Start() {
    if (started_) return;
    started_ = true;
    unsigned id = 0;
    handle_.reset(reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, &TThread::ThreadProc, this, 0, &id)));
    if (!handle_) {
        started_ = false;
        throw Exception("Thread creation error: " + SysErrorMessage(::GetLastError()));
    }
    threadId_ = id;
}

unsigned __stdcall TThread::ThreadProc(void* param) {
    auto* self = static_cast<TThread*>(param);
    try {
        self->Execute();
    } catch (...) {
        self->FatalException = std::current_exception();
    }
    try {
        self->DoTerminate();
    } catch (...) {
        if (!self->FatalException) self->FatalException = std::current_exception();
    }
    int rv = self->ReturnValue;
    self->finished_ = true;
    return static_cast<unsigned>(rv);
}

void TThread::DoTerminate() {
    if (OnTerminate) Synchronize([this] { OnTerminate(this); });
}

int TThread::WaitFor() {
    if (!started_) return ReturnValue;
    HANDLE h = handle_.get();
    if (IsMainThread()) {
        // Keep answering the worker's synchronous calls while waiting.
        for (;;) {
            DWORD r = ::MsgWaitForMultipleObjects(1, &h, FALSE, INFINITE, QS_SENDMESSAGE);
            if (r == WAIT_OBJECT_0) break;
            MSG msg;
            ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    } else {
        ::WaitForSingleObject(h, INFINITE);
    }
    return ReturnValue;
}

} // namespace krv
