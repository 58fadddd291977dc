// The program-wide change notifier. Controls register for changes of watched
// folders (kernel notifications) and of the shell namespace (shell
// notifications); three threads run while any control is registered:
//   TLazyKernelChangeThread   waits on one change handle per watched folder,
//   TLazyShellChangeThread    receives the shell's notifications in a window,
//   TLazyChangeDispatchThread collects both, waits BatchInterval so a burst of
//                             changes goes out as one batch, and posts it.
// A batch is a TLazyShellEventList posted with WM_SHELLNOTIFY to the
// notifier's window, which posts it on to every registered control's window
// with one reference each; the control releases it when done. A control
// unregisters itself before it is destroyed.
#pragma once
#include "framework/Controls.h"
#include "framework/OleData.h"
#include "shell/notify/LazyShellEvents.h"
#include "shell/notify/LazyThread.h"
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace krv {

// Ends the shell change thread (posted to it as a thread message).
constexpr UINT WM_SHELLNOTIFYTHREADQUIT = 0x8036;
// The shell's notifications with new delivery (lock handle, process id) and
// the older kind (two lists, event bits).
constexpr UINT WM_CHANGENOTIFY_NT = 0x8037;
constexpr UINT WM_CHANGENOTIFY = 0x8038;

// What a folder watch reports, bit for bit the folder change filter; the
// last three only on the NT family.
enum TLazyKernelNotifyOption : unsigned {
    knoFileName = 1, knoFolderName = 2, knoAttributes = 4, knoSize = 8, knoLastWrite = 16,
    knoLastAccess = 32, knoCreation = 64, knoSecurity = 128,
};
using TLazyKernelNotifyOptions = unsigned;
DWORD KernelNotifyFilter(TLazyKernelNotifyOptions options, bool winNT);

// The folders of the Recycle Bin: the special folder's own path where it has
// one, and "Recycled" and "Recycler" on every fixed drive.
std::vector<std::wstring> RecycleBinFolders();

class TLazyChangeNotifier;

class TLazyChangeControl {
public:
    TWinControl* Control = nullptr;
    bool KernelNotify = false;
    bool ShellNotify = false;
    TLazyKernelNotifyOptions Options = 0;
    std::wstring WatchFolder;
};

class TLazyChangeDispatchThread : public TLazyThread {
public:
    TLazyChangeDispatchThread(HWND target, DWORD batchInterval);
    void QueueShellNotification(LONG eventBits, LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2);
    void QueueFolderChange(LPCITEMIDLIST folder);
    void Wake() override;
protected:
    void Execute() override;
private:
    HWND target_;
    DWORD batchInterval_;
    KernelHandle stop_;
    TLazyShellEventQueue queue_;
};

class TLazyKernelChangeThread : public TLazyThread {
public:
    TLazyKernelChangeThread(TLazyChangeNotifier* notifier, TLazyChangeDispatchThread* dispatch);
    // How many folders are watched now, and an event set each time the
    // thread has re-read the watch list (so a caller knows a watch is armed).
    int WatchingCount() const { return watching_; }
    HANDLE RebuiltEvent() const { return rebuilt_.get(); }
protected:
    void Execute() override;
    // Waits for the wake-up event (first) or a folder's change; a seam for tests.
    virtual DWORD WaitForChanges(DWORD count, const HANDLE* handles);
private:
    struct TWatch {
        std::wstring Folder;
        DWORD Filter = 0;
        PIDLPtr PIDL;
        ChangeNotifyHandle Handle;
    };
    void RebuildWatches(std::vector<TWatch>& watches);
    TLazyChangeNotifier* notifier_;
    TLazyChangeDispatchThread* dispatch_;
    std::atomic<int> watching_{0};
    KernelHandle rebuilt_;
};

class TLazyShellChangeThread : public TLazyThread {
public:
    explicit TLazyShellChangeThread(TLazyChangeDispatchThread* dispatch);
    // Posts the quit message once the thread has its message queue.
    void Wake() override;
    // Set once the thread runs its message loop; Registered then says
    // whether the shell accepted its window.
    HANDLE ReadyEvent() const { return ready_.get(); }
    bool Registered() const { return registered_; }
protected:
    void Execute() override;
private:
    class TNotifyWindow;
    TLazyChangeDispatchThread* dispatch_;
    KernelHandle ready_;
    std::atomic<bool> registered_{false};
};

// The notifier's interface, by which other components may ask for it.
extern const IID IID_ILazyChangeNotifier;
struct ILazyChangeNotifier : public IUnknown {};

// A counted object: the program's reference is released by
// FreeLazyChangeNotifier, and the last reference frees it.
class TLazyChangeNotifier final : public ILazyChangeNotifier {
public:
    TLazyChangeNotifier();
    // Stops whatever still runs (reporting each control left registered).
    ~TLazyChangeNotifier();
    TLazyChangeNotifier(const TLazyChangeNotifier&) = delete;
    TLazyChangeNotifier& operator=(const TLazyChangeNotifier&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    void RegisterKernelChangeNotify(TWinControl* control, TLazyKernelNotifyOptions options);
    void UnRegisterKernelChangeNotify(TWinControl* control);
    void RegisterShellChangeNotify(TWinControl* control);
    void UnRegisterShellChangeNotify(TWinControl* control);
    void ChangeWatchFolder(TWinControl* control, const std::wstring& folder);

    // How long the dispatch thread gathers changes before it posts them.
    DWORD BatchInterval = 750;

    HWND Handle() const { return window_.Handle(); }
    TLazyKernelChangeThread* KernelChangeThread() const { return kernel_.get(); }
    TLazyShellChangeThread* ShellChangeThread() const { return shell_.get(); }
    TLazyChangeDispatchThread* ChangeDispatchThread() const { return dispatch_.get(); }

    // The folders and filters the kernel thread watches, read under the lock.
    std::vector<std::pair<std::wstring, DWORD>> WatchList();

private:
    TLazyChangeControl* Find(TWinControl* control);
    void DropIfUnused(TWinControl* control);
    TLazyChangeDispatchThread* DispatchNeeded();
    void ReleaseDispatch();
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void PostToControls(TLazyShellEventList* list);

    TComRefCount refs_;
    std::mutex lock_;
    std::vector<std::unique_ptr<TLazyChangeControl>> controls_;
    std::unique_ptr<TLazyChangeDispatchThread> dispatch_;
    std::unique_ptr<TLazyKernelChangeThread> kernel_;
    std::unique_ptr<TLazyShellChangeThread> shell_;
    TMessageWindow window_;
};

// The program's notifier, made on first use (on the user-interface thread).
TLazyChangeNotifier* LazyChangeNotifier();
// Releases the program's reference (at the end of the program, after every control unregistered).
void FreeLazyChangeNotifier();

} // namespace krv
