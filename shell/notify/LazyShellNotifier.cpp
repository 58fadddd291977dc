#include "shell/notify/LazyShellNotifier.h"
#include "framework/SysUtils.h"
#include "shell/base/ShellEntryPoints.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/SystemVersion.h"
#include "shell/base/WideStrUtils.h"
#include <algorithm>
#include <utility>

namespace krv {

namespace {
const char* const kNotifyWindowClass = "lstLazyNotifyWndClass";
const char* const kSource = " (LazyShellNotifier)";

[[noreturn]] void Assertion(const char* text) { throw Exception(std::string(text) + kSource); }

// shell32 by ordinal: the notification registration and the lock of one
// notification's data.
struct TNotifyEntry {
    LPCITEMIDLIST pidl;
    BOOL fRecursive;
};
using TRegisterFn = ULONG(WINAPI*)(HWND, int, LONG, UINT, int, const TNotifyEntry*);
using TDeregisterFn = BOOL(WINAPI*)(ULONG);
using TLockFn = HANDLE(WINAPI*)(HANDLE, DWORD, LPITEMIDLIST**, LONG*);
using TUnlockFn = BOOL(WINAPI*)(HANDLE);
template <class Fn> Fn ShellOrdinal(int ordinal) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(ResolveProc("shell32.dll", MAKEINTRESOURCEA(ordinal))));
}

constexpr DWORD kStopStep = 200;
constexpr int kQuitPostTries = 20;

// What ended a thread's body before its time is told, not dropped with the thread.
void ReportFatal(TLazyThread& thread) {
    if (!thread.FatalException) return;
    try {
        std::rethrow_exception(std::exchange(thread.FatalException, nullptr));
    } catch (const std::exception& e) {
        ::OutputDebugStringA((std::string("A notifier thread ended: ") + e.what() + kSource).c_str());
    } catch (...) {
        ::OutputDebugStringA((std::string("A notifier thread ended") + kSource).c_str());
    }
}

// Ends a thread: normal priority, Terminate, wake, wait until it has finished.
template <class T> void StopThread(std::unique_ptr<T>& thread) {
    if (!thread) return;
    thread->SetPriority(tpNormal);
    thread->Terminate();
    thread->SetSuspended(false);
    thread->Wake();
    while (!thread->Finished()) ::WaitForSingleObject(thread->Handle(), kStopStep);
    ::WaitForSingleObject(thread->Handle(), INFINITE);   // past the body's last line
    ReportFatal(*thread);
    thread.reset();
}

HANDLE OpenFolderWatch(const std::wstring& folder, DWORD filter) {
    if (auto fn = WideFunctions().FindFirstChangeNotificationW) return fn(folder.c_str(), FALSE, filter);
    return ::FindFirstChangeNotificationA(WideToAnsi(folder).c_str(), FALSE, filter);
}
} // namespace

DWORD KernelNotifyFilter(TLazyKernelNotifyOptions options, bool winNT) {
    DWORD filter = options & 0x1F;
    if (winNT) {
        if (options & knoLastAccess) filter |= FILE_NOTIFY_CHANGE_LAST_ACCESS;
        if (options & knoCreation) filter |= FILE_NOTIFY_CHANGE_CREATION;
        if (options & knoSecurity) filter |= FILE_NOTIFY_CHANGE_SECURITY;
    }
    return filter;
}

std::vector<std::wstring> RecycleBinFolders() {
    std::vector<std::wstring> folders;
    if (PIDLPtr bin{SpecialFolderPIDL(CSIDL_BITBUCKET)}) {
        wchar_t path[MAX_PATH];
        if (::SHGetPathFromIDListW(bin.get(), path) && path[0]) folders.push_back(path);
    }
    DWORD drives = ::GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if (!(drives & (1u << i))) continue;
        std::wstring root{wchar_t(L'A' + i), L':', L'\\'};
        if (::GetDriveTypeW(root.c_str()) != DRIVE_FIXED) continue;
        for (const wchar_t* name : {L"Recycled", L"Recycler"}) {
            DWORD attr = ::GetFileAttributesW((root + name).c_str());
            if (attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY)) folders.push_back(root + name);
        }
    }
    return folders;
}

// ------------------------------------------------------------ dispatch thread

TLazyChangeDispatchThread::TLazyChangeDispatchThread(HWND target, DWORD batchInterval)
    : TLazyThread(true), target_(target), batchInterval_(batchInterval),
      stop_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    CreateEvent(true);
    if (!stop_) throw Exception("Cannot create an event: " + SysErrorMessage(::GetLastError()));
}

void TLazyChangeDispatchThread::QueueShellNotification(LONG eventBits, LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2) {
    std::lock_guard<std::mutex> guard(Lock());
    queue_.QueueShellNotification(eventBits, pidl1, pidl2);
    if (!queue_.Empty()) ::SetEvent(Event());
}

void TLazyChangeDispatchThread::QueueFolderChange(LPCITEMIDLIST folder) {
    std::lock_guard<std::mutex> guard(Lock());
    queue_.QueueFolderChange(folder);
    ::SetEvent(Event());
}

void TLazyChangeDispatchThread::Wake() {
    ::SetEvent(stop_.get());
    ::SetEvent(Event());
}

void TLazyChangeDispatchThread::Execute() {
    ComInit com;
    while (!Terminated()) {
        ::WaitForSingleObject(Event(), INFINITE);
        if (Terminated()) break;
        // A burst of changes arrives meanwhile and goes out as one batch.
        ::WaitForSingleObject(stop_.get(), batchInterval_);
        if (Terminated()) break;
        TLazyShellEventListPtr list;
        {
            std::lock_guard<std::mutex> guard(Lock());
            list = TLazyShellEventListPtr(queue_.TakeBatch());
            ::ResetEvent(Event());
        }
        // A posted batch carries its reference to the window.
        if (list && ::PostMessageA(target_, WM_SHELLNOTIFY, reinterpret_cast<WPARAM>(list.get()), 0)) list.detach();
    }
}

// -------------------------------------------------------------- kernel thread

TLazyKernelChangeThread::TLazyKernelChangeThread(TLazyChangeNotifier* notifier, TLazyChangeDispatchThread* dispatch)
    : TLazyThread(true), notifier_(notifier), dispatch_(dispatch),
      rebuilt_(::CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
    CreateEvent(true);
    if (!rebuilt_) throw Exception("Cannot create an event: " + SysErrorMessage(::GetLastError()));
}

void TLazyKernelChangeThread::RebuildWatches(std::vector<TWatch>& watches) {
    // A folder still watched with the same filter keeps its handle, so a
    // change that came while the list was re-read is not lost.
    std::vector<TWatch> old;
    old.swap(watches);
    bool nt = IsWinNT();
    for (auto& [folder, filter] : notifier_->WatchList()) {
        if (watches.size() >= MAXIMUM_WAIT_OBJECTS - 1) break;   // the wait takes no more
        DWORD f = nt ? filter : filter & 0x1F;
        auto kept = std::find_if(old.begin(), old.end(), [&](const TWatch& w) {
            return w.Handle && w.Filter == f && ::lstrcmpiW(w.Folder.c_str(), folder.c_str()) == 0;
        });
        if (kept != old.end()) {
            watches.push_back(std::move(*kept));
            continue;
        }
        TWatch w;
        w.Folder = folder;
        w.Filter = f;
        // A folder that is gone has nothing to report; one the shell cannot
        // name could only report a change of nothing.
        w.PIDL.reset(PathToPIDL(folder));
        if (!w.PIDL) continue;
        w.Handle.reset(OpenFolderWatch(folder, f));
        if (!w.Handle) continue;
        watches.push_back(std::move(w));
    }
    watching_ = static_cast<int>(watches.size());
    ::SetEvent(rebuilt_.get());
}

void TLazyKernelChangeThread::Execute() {
    ComInit com;
    std::vector<TWatch> watches;
    RebuildWatches(watches);
    std::vector<HANDLE> handles;
    bool failedBefore = false;
    while (!Terminated()) {
        handles.assign(1, Event());
        for (auto& w : watches) handles.push_back(w.Handle.get());
        DWORD r = WaitForChanges(static_cast<DWORD>(handles.size()), handles.data());
        if (Terminated()) break;
        if (r == WAIT_FAILED) {
            // Watching must not end unseen: told, every watch opened afresh;
            // failing again at once, nothing is watched until the list changes.
            ::OutputDebugStringA(("Folder watch failed: " + SysErrorMessage(::GetLastError()) + kSource).c_str());
            watches.clear();
            if (!failedBefore) RebuildWatches(watches);
            watching_ = static_cast<int>(watches.size());
            failedBefore = true;
            continue;
        }
        failedBefore = false;
        if (r == WAIT_OBJECT_0) {
            ::ResetEvent(Event());
            RebuildWatches(watches);
        } else if (r > WAIT_OBJECT_0 && r < WAIT_OBJECT_0 + handles.size()) {
            size_t i = r - WAIT_OBJECT_0 - 1;
            dispatch_->QueueFolderChange(watches[i].PIDL.get());
            // A watch that cannot be re-armed (its folder was removed) would
            // stay signalled: drop it until the watch list names it again.
            if (!::FindNextChangeNotification(watches[i].Handle.get())) {
                watches.erase(watches.begin() + static_cast<ptrdiff_t>(i));
                watching_ = static_cast<int>(watches.size());
            }
        }
    }
}

DWORD TLazyKernelChangeThread::WaitForChanges(DWORD count, const HANDLE* handles) {
    return ::WaitForMultipleObjects(count, handles, FALSE, INFINITE);
}

// --------------------------------------------------------------- shell thread

class TLazyShellChangeThread::TNotifyWindow : public TWindow {
public:
    explicit TNotifyWindow(TLazyChangeDispatchThread* dispatch) : dispatch_(dispatch) {
        RegisterWindowClass(kNotifyWindowClass, 0);
        CreateWindowHandle(kNotifyWindowClass, "", 0, 0, 0, 0, 0, 0, HWND_MESSAGE);
    }
    ~TNotifyWindow() override { DestroyHandle(); }
    TLockFn LockFn = nullptr;
    TUnlockFn UnlockFn = nullptr;

protected:
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
        if (msg == WM_CHANGENOTIFY_NT && LockFn && UnlockFn) {
            LPITEMIDLIST* pidls = nullptr;
            LONG event = 0;
            HANDLE lock = LockFn(reinterpret_cast<HANDLE>(wParam), static_cast<DWORD>(lParam), &pidls, &event);
            if (lock) {
                struct Unlock { TUnlockFn fn; HANDLE h; ~Unlock() { fn(h); } } unlock{UnlockFn, lock};
                if (pidls) dispatch_->QueueShellNotification(event, pidls[0], pidls[1]);
            }
        } else if (msg == WM_CHANGENOTIFY) {
            auto* pidls = reinterpret_cast<LPITEMIDLIST*>(wParam);
            if (pidls) dispatch_->QueueShellNotification(static_cast<LONG>(lParam), pidls[0], pidls[1]);
        } else {
            return false;
        }
        result = 0;
        return true;
    }

private:
    TLazyChangeDispatchThread* dispatch_;
};

TLazyShellChangeThread::TLazyShellChangeThread(TLazyChangeDispatchThread* dispatch)
    : TLazyThread(true), dispatch_(dispatch), ready_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    if (!ready_) throw Exception("Cannot create an event: " + SysErrorMessage(::GetLastError()));
}

void TLazyShellChangeThread::Wake() {
    // The thread may not have its message queue yet: it signals ready_ once it has.
    for (int i = 0; i < kQuitPostTries; ++i) {
        if (::WaitForSingleObject(ready_.get(), 0) == WAIT_OBJECT_0 &&
            ::PostThreadMessageA(ThreadID(), WM_SHELLNOTIFYTHREADQUIT, 0, 0))
            return;
        HANDLE wait[] = {ready_.get(), Handle()};
        if (::WaitForMultipleObjects(2, wait, FALSE, kStopStep) == WAIT_OBJECT_0 + 1) return;   // ended already
    }
}

void TLazyShellChangeThread::Execute() {
    ComInit com;
    MSG msg;
    ::PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);   // makes the queue
    TNotifyWindow window(dispatch_);
    auto registerFn = ShellOrdinal<TRegisterFn>(2);
    auto deregisterFn = ShellOrdinal<TDeregisterFn>(4);
    window.LockFn = ShellOrdinal<TLockFn>(644);
    window.UnlockFn = ShellOrdinal<TUnlockFn>(645);
    bool newDelivery = IsWinNT() && window.LockFn && window.UnlockFn;
    ULONG id = 0;
    if (registerFn && window.Handle()) {
        // The whole namespace, every event.
        TNotifyEntry entry{nullptr, TRUE};
        id = registerFn(window.Handle(), newDelivery ? 0x8003 : 0x0003, 0x7FFFFFFF,
                        newDelivery ? WM_CHANGENOTIFY_NT : WM_CHANGENOTIFY, 1, &entry);
    }
    registered_ = id != 0;
    ::SetEvent(ready_.get());
    while (!Terminated() && ::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_SHELLNOTIFYTHREADQUIT && !msg.hwnd) break;
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    if (id && deregisterFn) deregisterFn(id);
}

// ------------------------------------------------------------------ notifier

TLazyChangeNotifier::TLazyChangeNotifier()
    : window_([this](UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
          return HandleMessage(msg, wParam, lParam, result);
      }) {}

TLazyChangeNotifier::~TLazyChangeNotifier() {
    // Controls should have gone first; stop the threads all the same.
    if (kernel_) ::OutputDebugStringA("A KernelChangeNotifier is still registered with a Control");
    if (shell_) ::OutputDebugStringA("A ShellChangeThread is still registered with a Control");
    StopThread(kernel_);
    StopThread(shell_);
    if (dispatch_) ::OutputDebugStringA("ChangeDispatchThread is still registered");
    StopThread(dispatch_);
    // Batches still on their way to this window are freed with its queue's end.
    ReleasePostedBatches(Handle());
}

TLazyChangeControl* TLazyChangeNotifier::Find(TWinControl* control) {
    for (auto& c : controls_)
        if (c->Control == control) return c.get();
    return nullptr;
}

void TLazyChangeNotifier::DropIfUnused(TWinControl* control) {
    std::lock_guard<std::mutex> guard(lock_);
    controls_.erase(std::remove_if(controls_.begin(), controls_.end(),
                                   [control](const std::unique_ptr<TLazyChangeControl>& c) {
                                       return c->Control == control && !c->KernelNotify && !c->ShellNotify;
                                   }),
                    controls_.end());
}

TLazyChangeDispatchThread* TLazyChangeNotifier::DispatchNeeded() {
    if (!dispatch_) {
        dispatch_ = std::make_unique<TLazyChangeDispatchThread>(Handle(), BatchInterval);
        dispatch_->SetSuspended(false);
    }
    dispatch_->AddRef();
    return dispatch_.get();
}

void TLazyChangeNotifier::ReleaseDispatch() {
    if (dispatch_ && dispatch_->Release() <= 0) StopThread(dispatch_);
}

std::vector<std::pair<std::wstring, DWORD>> TLazyChangeNotifier::WatchList() {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::pair<std::wstring, DWORD>> list;
    for (auto& c : controls_) {
        if (!c->KernelNotify || c->WatchFolder.empty()) continue;
        DWORD filter = KernelNotifyFilter(c->Options, true);
        auto same = std::find_if(list.begin(), list.end(), [&](const auto& e) {
            return ::lstrcmpiW(e.first.c_str(), c->WatchFolder.c_str()) == 0;
        });
        if (same != list.end()) same->second |= filter; else list.emplace_back(c->WatchFolder, filter);
    }
    return list;
}

void TLazyChangeNotifier::RegisterKernelChangeNotify(TWinControl* control, TLazyKernelNotifyOptions options) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        TLazyChangeControl* c = Find(control);
        if (c && c->KernelNotify && c->Options == options) return;
        if (!c) {
            controls_.push_back(std::make_unique<TLazyChangeControl>());
            c = controls_.back().get();
            c->Control = control;
        }
        c->Options = options;
        if (c->KernelNotify) {
            if (kernel_) kernel_->Wake();   // the same watcher, another filter
            return;
        }
        c->KernelNotify = true;
    }
    if (!kernel_) {
        TLazyChangeDispatchThread* dispatch = DispatchNeeded();
        kernel_ = std::make_unique<TLazyKernelChangeThread>(this, dispatch);
        kernel_->SetSuspended(false);
    }
    kernel_->AddRef();
    kernel_->Wake();
}

void TLazyChangeNotifier::UnRegisterKernelChangeNotify(TWinControl* control) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        TLazyChangeControl* c = Find(control);
        if (!c || !c->KernelNotify) return;
        c->KernelNotify = false;
        c->WatchFolder.clear();
    }
    DropIfUnused(control);
    if (kernel_ && kernel_->Release() <= 0) {
        StopThread(kernel_);
        ReleaseDispatch();
    } else if (kernel_) {
        kernel_->Wake();
    }
}

void TLazyChangeNotifier::RegisterShellChangeNotify(TWinControl* control) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        TLazyChangeControl* c = Find(control);
        if (c && c->ShellNotify) return;
        if (!c) {
            controls_.push_back(std::make_unique<TLazyChangeControl>());
            c = controls_.back().get();
            c->Control = control;
        }
        c->ShellNotify = true;
    }
    if (!shell_) {
        TLazyChangeDispatchThread* dispatch = DispatchNeeded();
        shell_ = std::make_unique<TLazyShellChangeThread>(dispatch);
        shell_->SetSuspended(false);
    }
    shell_->AddRef();
}

void TLazyChangeNotifier::UnRegisterShellChangeNotify(TWinControl* control) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        TLazyChangeControl* c = Find(control);
        if (!c || !c->ShellNotify)
            Assertion("A control must be registered with the LazyChangeNotifier using RegisterShellChangeNotify "
                      "before this method may be used.");
        c->ShellNotify = false;
    }
    DropIfUnused(control);
    if (shell_ && shell_->Release() <= 0) {
        StopThread(shell_);
        ReleaseDispatch();
    }
}

void TLazyChangeNotifier::ChangeWatchFolder(TWinControl* control, const std::wstring& folder) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        TLazyChangeControl* c = Find(control);
        if (!c || !c->KernelNotify)
            Assertion("Attempting to change WatchFolder with out registering a Kernel notifier in "
                      "TLazyChangeNotifier class");
        if (c->WatchFolder == folder) return;
        c->WatchFolder = folder;
    }
    if (kernel_) kernel_->Wake();
}

bool TLazyChangeNotifier::HandleMessage(UINT msg, WPARAM wParam, LPARAM, LRESULT& result) {
    if (msg != WM_SHELLNOTIFY) return false;
    PostToControls(reinterpret_cast<TLazyShellEventList*>(wParam));
    result = 0;
    return true;
}

void TLazyChangeNotifier::PostToControls(TLazyShellEventList* list) {
    std::vector<TWinControl*> targets;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (auto& c : controls_) targets.push_back(c->Control);
    }
    const TLazyShellEventListPtr own(list);   // the window's own reference
    for (TWinControl* control : targets) {
        TLazyShellEventListPtr ref = own;   // each control gets one with its message
        if (control->HandleAllocated() &&
            ::PostMessageA(control->Handle(), WM_SHELLNOTIFY, reinterpret_cast<WPARAM>(ref.get()), 0))
            ref.detach();
    }
}

// {7F1E9F93-87C2-49E1-8AD5-F5A2E057122C}
const IID IID_ILazyChangeNotifier = {0x7F1E9F93, 0x87C2, 0x49E1, {0x8A, 0xD5, 0xF5, 0xA2, 0xE0, 0x57, 0x12, 0x2C}};

HRESULT STDMETHODCALLTYPE TLazyChangeNotifier::QueryInterface(REFIID iid, void** out) {
    return QuerySingleInterface<ILazyChangeNotifier>(this, IID_ILazyChangeNotifier, iid, out);
}

ULONG STDMETHODCALLTYPE TLazyChangeNotifier::AddRef() { return refs_.Add(); }

ULONG STDMETHODCALLTYPE TLazyChangeNotifier::Release() {
    const ULONG left = refs_.Drop();
    if (left == 0) delete this;
    return left;
}

namespace {
// Holds the program's reference.
ComPtr<TLazyChangeNotifier>& NotifierSlot() {
    static ComPtr<TLazyChangeNotifier> notifier;
    return notifier;
}
} // namespace

TLazyChangeNotifier* LazyChangeNotifier() {
    auto& slot = NotifierSlot();
    if (!slot) slot = ComPtr<TLazyChangeNotifier>::Attach(new TLazyChangeNotifier);
    return slot.get();
}

void FreeLazyChangeNotifier() { NotifierSlot().reset(); }

} // namespace krv
