// Texts and batches posted to a window that could be gone or changed when
// they are read, and folder watches whose wait fails or whose folder the
// shell cannot name.
#include "common/FreedMemoryTrap.h"
#include "ShellTestUtil.h"
#include "framework/Forms.h"
#include "framework/Thread.h"
#include "shell/base/FolderBrowser.h"
#include "shell/base/ShellUtils.h"
#include "shell/combo/LazyExplorerCombobox.h"
#include "shell/notify/LazyShellNotifier.h"
#include <gtest/gtest.h>
#include <functional>

using namespace krv;

namespace {
// Cancels a dialog of this thread that a broken run left open.
BOOL CALLBACK CancelDialog(HWND wnd, LPARAM) {
    char cls[16] = {};
    ::GetClassNameA(wnd, cls, sizeof cls);
    if (std::string(cls) == "#32770") ::PostMessageA(wnd, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}
void CALLBACK CancelOwnDialogs(HWND, UINT, UINT_PTR, DWORD) {
    ::EnumThreadWindows(::GetCurrentThreadId(), &CancelDialog, 0);
}

// A folder watch whose first wait fails; it signals when it waits again.
class TFailingWatch : public TLazyKernelChangeThread {
public:
    using TLazyKernelChangeThread::TLazyKernelChangeThread;
    KernelHandle WaitsAgain{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
protected:
    DWORD WaitForChanges(DWORD count, const HANDLE* handles) override {
        if (++waits_ == 1) return WAIT_FAILED;
        ::SetEvent(WaitsAgain.get());
        return TLazyKernelChangeThread::WaitForChanges(count, handles);
    }
private:
    int waits_ = 0;
};

// Whether a is signalled before b, answering messages meanwhile (bounded for a broken run).
bool SignalledFirst(HANDLE a, HANDLE b) {
    HANDLE both[] = {a, b};
    for (DWORD start = ::GetTickCount(); ::GetTickCount() - start < 20000; ProcessMessages()) {
        DWORD r = ::MsgWaitForMultipleObjects(2, both, FALSE, 20000, QS_ALLINPUT);
        if (r != WAIT_OBJECT_0 + 2) return r == WAIT_OBJECT_0;
    }
    return false;
}
} // namespace

TEST(NotifierLifetime, PostedTextsAndBatchesAndFolderWatchesOutliveWhatCouldEndThem) {
    TShellUtilitiesScope shell;
    InitSynchronize();
    shelltest::TempFolder tmp(L"krv_lifetime");
    TLazyChangeNotifier notifier;
    TCustomControl odd, plain;
    odd.HandleNeeded();
    plain.HandleNeeded();
    shelltest::TFaultRow rows[] = {
        {"a status text set twice before the dialog reads the first leaves the first readable",
         [&] {
             TFolderBrowser browser;
             std::string first(300, 'a'), seen;
             krv::test::TFreedMemoryTrap trap;
             browser.OnShow = [&](TObject*) {
                 HWND dlg = browser.DialogHandle();
                 browser.SetStatusText(first);
                 browser.SetStatusText(std::string(600, 'b'));
                 MSG msg;
                 if (::PeekMessageA(&msg, dlg, BFFM_SETSTATUSTEXTA, BFFM_SETSTATUSTEXTA, PM_NOREMOVE))
                     seen.assign(reinterpret_cast<const char*>(msg.lParam), first.size());
                 ::PostMessageA(dlg, WM_COMMAND, IDCANCEL, 0);
             };
             UINT_PTR guard = ::SetTimer(nullptr, 0, 15000, &CancelOwnDialogs);
             browser.Execute();
             ::KillTimer(nullptr, guard);
             return seen == first;
         }},
        {"a folder watch whose wait fails watches on",
         [&] {
             notifier.RegisterKernelChangeNotify(&plain, knoFileName);
             TFailingWatch watch(&notifier, notifier.ChangeDispatchThread());
             watch.SetSuspended(false);
             bool on = SignalledFirst(watch.WaitsAgain.get(), watch.Handle());
             watch.Terminate();
             watch.Wake();
             ::WaitForSingleObject(watch.Handle(), 20000);
             notifier.UnRegisterKernelChangeNotify(&plain);
             return on;
         }},
        {"a folder the shell cannot name is not watched",
         [&] {
             const std::wstring unnamed = L"\\\\?\\" + tmp.Path();
             notifier.RegisterKernelChangeNotify(&odd, knoFileName);
             notifier.RegisterKernelChangeNotify(&plain, knoFileName);
             notifier.ChangeWatchFolder(&odd, unnamed);
             notifier.ChangeWatchFolder(&plain, tmp.Path());
             // The later folder armed means the list holding both was read.
             auto* kernel = notifier.KernelChangeThread();
             while (kernel->WatchingCount() < 1 && SignalledFirst(kernel->RebuiltEvent(), kernel->Handle())) {}
             bool sound = !PIDLPtr(PathToPIDL(unnamed)) && kernel->WatchingCount() == 1;
             notifier.UnRegisterKernelChangeNotify(&odd);
             notifier.UnRegisterKernelChangeNotify(&plain);
             return sound;
         }},
        {"a path combo box destroyed with a batch in its queue gives the batch back",
         [&] {
             TLazyShellEventListPtr list(new TLazyShellEventList);
             {
                 TLazyExplorerCombobox combo(nullptr);
                 combo.SetParent(&shelltest::ShownForm());
                 combo.HandleNeeded();
                 TLazyShellEventListPtr posted = list;
                 if (::PostMessageA(combo.Handle(), WM_SHELLNOTIFY, reinterpret_cast<WPARAM>(posted.get()), 0))
                     posted.detach();
             }
             return list->RefCount() == 1;
         }},
    };
    for (auto& row : rows) EXPECT_TRUE(row.sound()) << row.name;
}
