// Lifetimes around the change notifier and the folder-browse dialog: texts
// and batches posted to a window, and a folder watch whose wait fails or
// whose folder the shell cannot name. Each row a fault that once slipped through.
#include "FreedMemoryTrap.h"
#include "ShellTestUtil.h"
#include "framework/Controls.h"
#include "framework/Forms.h"
#include "framework/Thread.h"
#include "shell/base/FolderBrowser.h"
#include "shell/base/ShellUtils.h"
#include "shell/combo/LazyExplorerCombobox.h"
#include "shell/notify/LazyShellNotifier.h"
#include <gtest/gtest.h>
#include <functional>
#include <string>

using namespace krv;

namespace {

// A dialog of this thread still open when a broken run would hang is cancelled.
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
        if (++waits_ == 1) {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        ::SetEvent(WaitsAgain.get());
        return TLazyKernelChangeThread::WaitForChanges(count, handles);
    }
private:
    int waits_ = 0;
};

// Waits for one of two handles while answering messages; -1 when the bound (for a broken run) passes.
int WaitEither(HANDLE a, HANDLE b) {
    HANDLE both[] = {a, b};
    for (DWORD start = ::GetTickCount(); ::GetTickCount() - start < 20000;) {
        DWORD r = ::MsgWaitForMultipleObjects(2, both, FALSE, 20000, QS_ALLINPUT);
        if (r < WAIT_OBJECT_0 + 2) return int(r - WAIT_OBJECT_0);
        ProcessMessages();
    }
    return -1;
}

} // namespace

TEST(NotifierLifetime, PostedTextsAndBatchesAndFolderWatchesOutliveWhatCouldEndThem) {
    TShellUtilitiesScope shell;
    InitSynchronize();
    shelltest::TempFolder tmp(L"krv_lifetime");

    struct Row {
        const char* name;
        std::function<std::string()> fault;   // empty when sound
    } rows[] = {
        {"a status text set twice before the dialog reads the first leaves the first readable",
         [&]() -> std::string {
             TFolderBrowser browser;
             std::string first(300, 'a'), seen;
             shelltest::TFreedMemoryTrap trap;
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
             return seen == first ? "" : "the first posted text reads otherwise";
         }},
        {"a folder watch whose wait fails watches on",
         [&]() -> std::string {
             TLazyChangeNotifier notifier;
             TCustomControl control;
             control.HandleNeeded();
             notifier.RegisterKernelChangeNotify(&control, knoFileName);
             notifier.ChangeWatchFolder(&control, tmp.Path());
             TFailingWatch watch(&notifier, notifier.ChangeDispatchThread());
             watch.SetSuspended(false);
             int woke = WaitEither(watch.WaitsAgain.get(), watch.Handle());
             watch.Terminate();
             watch.Wake();
             ::WaitForSingleObject(watch.Handle(), 20000);
             notifier.UnRegisterKernelChangeNotify(&control);
             return woke == 0 ? "" : "the watch ended at the failed wait";
         }},
        {"a folder the shell cannot name is not watched",
         [&]() -> std::string {
             shelltest::MakeDir(tmp / L"named");
             const std::wstring unnamed = L"\\\\?\\" + tmp.Path();
             if (PIDLPtr(PathToPIDL(unnamed))) return "the shell names the folder";
             TLazyChangeNotifier notifier;
             TCustomControl odd, plain;
             odd.HandleNeeded();
             plain.HandleNeeded();
             notifier.RegisterKernelChangeNotify(&odd, knoFileName);
             notifier.RegisterKernelChangeNotify(&plain, knoFileName);
             notifier.ChangeWatchFolder(&odd, unnamed);
             notifier.ChangeWatchFolder(&plain, tmp / L"named");
             // The later folder armed means the list holding both was read.
             auto* kernel = notifier.KernelChangeThread();
             std::string fault;
             while (fault.empty() && kernel->WatchingCount() < 1)
                 if (WaitEither(kernel->RebuiltEvent(), kernel->Handle()) != 0) fault = "no watch was armed";
             if (fault.empty() && kernel->WatchingCount() != 1) fault = "the unnamed folder is watched";
             notifier.UnRegisterKernelChangeNotify(&odd);
             notifier.UnRegisterKernelChangeNotify(&plain);
             return fault;
         }},
        {"a path combo box destroyed with a batch in its queue gives the batch back",
         [&]() -> std::string {
             TLazyShellEventListPtr list(new TLazyShellEventList);
             {
                 TLazyExplorerCombobox combo(nullptr);
                 combo.SetParent(&shelltest::ShownForm());
                 combo.HandleNeeded();
                 TLazyShellEventListPtr posted = list;
                 if (::PostMessageA(combo.Handle(), WM_SHELLNOTIFY, reinterpret_cast<WPARAM>(posted.get()), 0))
                     posted.detach();
             }
             return list->RefCount() == 1 ? "" : "the batch keeps " + std::to_string(list->RefCount()) + " references";
         }},
    };
    for (auto& row : rows) EXPECT_EQ("", row.fault()) << row.name;
}
