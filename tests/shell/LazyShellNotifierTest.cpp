// The change notifier: the queue's rules on real folder lists, batches that
// reach a registered control through the real shell and folder watches, and
// the threads' lifetime.
#include "ShellTestUtil.h"
#include "framework/Controls.h"
#include "framework/Thread.h"
#include "shell/notify/LazyShellNotifier.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/SystemVersion.h"
#include <gtest/gtest.h>
#include <functional>
#include <memory>
#include <vector>

using namespace krv;
using shelltest::MakeDir;
using shelltest::TempFolder;

namespace {

// A control of the test's own that keeps every batch posted to it.
class TRecordingControl : public TCustomControl {
public:
    std::vector<TLazyShellEventListPtr> Batches;
protected:
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
        if (msg == WM_SHELLNOTIFY) {
            Batches.emplace_back(reinterpret_cast<TLazyShellEventList*>(wParam));
            result = 0;
            return true;
        }
        return TCustomControl::HandleMessage(msg, wParam, lParam, result);
    }
};

// Pumps messages until done() holds; the bound only keeps a broken run from hanging.
bool PumpUntil(const std::function<bool()>& done, DWORD boundMs = 20000) {
    DWORD start = ::GetTickCount();
    while (!done()) {
        DWORD spent = ::GetTickCount() - start;
        if (spent >= boundMs) return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, boundMs - spent, QS_ALLINPUT);
        ProcessMessages();
    }
    return true;
}

// Waits for a handle while answering messages.
bool WaitPumping(HANDLE h, DWORD boundMs = 20000) {
    DWORD start = ::GetTickCount();
    for (;;) {
        DWORD spent = ::GetTickCount() - start;
        if (spent >= boundMs) return false;
        if (::MsgWaitForMultipleObjects(1, &h, FALSE, boundMs - spent, QS_ALLINPUT) == WAIT_OBJECT_0) return true;
        ProcessMessages();
    }
}

std::wstring Lower(std::wstring s) {
    for (auto& c : s) c = static_cast<wchar_t>(towlower(c));
    return s;
}
std::wstring PathOf(LPCITEMIDLIST pidl) { return pidl ? Lower(PIDLToPath(pidl)) : L"<nil>"; }

// The first-list paths of a batch, in order.
std::vector<std::wstring> Paths(TLazyShellEventList* list) {
    std::vector<std::wstring> r;
    for (int i = 0; i < list->Count(); ++i) r.push_back(PathOf(list->Items(i).PIDL1.get()));
    return r;
}


// Handles of the notifier's running threads that stay valid after it frees them.
std::vector<KernelHandle> DuplicateThreadHandles(TLazyChangeNotifier& notifier) {
    std::vector<KernelHandle> handles;
    for (TLazyThread* t : std::initializer_list<TLazyThread*>{notifier.KernelChangeThread(),
                                                             notifier.ShellChangeThread(),
                                                             notifier.ChangeDispatchThread()}) {
        HANDLE h = nullptr;
        if (t && ::DuplicateHandle(::GetCurrentProcess(), t->Handle(), ::GetCurrentProcess(), &h, SYNCHRONIZE,
                                   FALSE, 0))
            handles.emplace_back(h);
    }
    return handles;
}

struct TNotifierFixture : ::testing::Test {
    void SetUp() override {
        InitSynchronize();
        notifier = std::make_unique<TLazyChangeNotifier>();
        control.HandleNeeded();
    }
    void TearDown() override { notifier.reset(); }
    std::unique_ptr<TLazyChangeNotifier> notifier;
    TRecordingControl control;
};

} // namespace

TEST(LazyShellEventQueue, ItemChangesBecomeUpdatesOfTheirFoldersAndRepeatsFold) {
    TempFolder root(L"queue");
    for (auto* n : {L"a", L"b", L"a\\x", L"a\\y", L"b\\z"}) MakeDir(root / n);
    auto pidl = [&](const wchar_t* n) { return PIDLPtr(PathToPIDL(root / n)); };
    PIDLPtr a = pidl(L"a"), b = pidl(L"b"), ax = pidl(L"a\\x"), ay = pidl(L"a\\y"), bz = pidl(L"b\\z");
    std::wstring pa = Lower(root / L"a"), pb = Lower(root / L"b");

    struct Case {
        const char* name;
        std::function<void(TLazyShellEventQueue&)> feed;
        std::vector<std::wstring> paths;
        std::vector<LONG> flags;
    } cases[] = {
        {"two creations in one folder and one in another",
         [&](auto& q) {
             q.QueueShellNotification(SHCNE_MKDIR, ax.get(), nullptr);
             q.QueueShellNotification(SHCNE_MKDIR, ay.get(), nullptr);
             q.QueueShellNotification(SHCNE_CREATE, bz.get(), nullptr);
         },
         {pa, pb}, {SHCNE_MKDIR, SHCNE_CREATE}},
        {"a rename across folders updates both parents",
         [&](auto& q) { q.QueueShellNotification(SHCNE_RENAMEFOLDER, ax.get(), bz.get()); },
         {pa, pb}, {SHCNE_RENAMEFOLDER, SHCNE_RENAMEFOLDER}},
        {"a rename inside one folder updates it once",
         [&](auto& q) { q.QueueShellNotification(SHCNE_RENAMEITEM, ax.get(), ay.get()); },
         {pa}, {SHCNE_RENAMEITEM}},
        {"a folder update and a change inside it fold into one",
         [&](auto& q) {
             q.QueueShellNotification(SHCNE_UPDATEDIR, a.get(), nullptr);
             q.QueueShellNotification(SHCNE_DELETE, ay.get(), nullptr);
             q.QueueFolderChange(a.get());
         },
         {pa}, {SHCNE_UPDATEDIR | SHCNE_DELETE}},
        {"different kinds on one list merge when the batch is taken",
         [&](auto& q) {
             q.QueueShellNotification(SHCNE_MEDIAINSERTED, b.get(), nullptr);
             q.QueueShellNotification(SHCNE_UPDATEDIR, b.get(), nullptr);
             q.QueueShellNotification(SHCNE_UPDATEDIR, a.get(), nullptr);
         },
         {pb, pa}, {SHCNE_MEDIAINSERTED | SHCNE_UPDATEDIR, SHCNE_UPDATEDIR}},
        {"events without lists are never taken for repeats",
         [&](auto& q) {
             q.QueueShellNotification(SHCNE_ASSOCCHANGED, nullptr, nullptr);
             q.QueueShellNotification(SHCNE_ASSOCCHANGED, nullptr, nullptr);
         },
         {L"<nil>", L"<nil>"}, {SHCNE_ASSOCCHANGED, SHCNE_ASSOCCHANGED}},
    };
    for (auto& c : cases) {
        TLazyShellEventQueue q;
        c.feed(q);
        TLazyShellEventListPtr list(q.TakeBatch());
        ASSERT_TRUE(list) << c.name;
        EXPECT_EQ(Paths(list.get()), c.paths) << c.name;
        std::vector<LONG> flags;
        for (int i = 0; i < list->Count(); ++i) flags.push_back(list->Items(i).Flags);
        EXPECT_EQ(flags, c.flags) << c.name;
        EXPECT_TRUE(q.Empty()) << c.name;
        EXPECT_EQ(q.TakeBatch(), nullptr) << c.name;
    }

    // The event keeps the changed folder's parent too.
    TLazyShellEventQueue q;
    q.QueueShellNotification(SHCNE_MKDIR, ax.get(), nullptr);
    TLazyShellEventListPtr list(q.TakeBatch());
    EXPECT_EQ(list->Items(0).Kind, sekUpdateDir);
    EXPECT_EQ(PathOf(list->Items(0).ParentPIDL1.get()), Lower(root.Path()));
}

TEST(LazyShellNotifier, KernelFilterFollowsTheOptionsBitForBit) {
    struct { TLazyKernelNotifyOptions options; bool nt; DWORD filter; } table[] = {
        {knoFileName, true, FILE_NOTIFY_CHANGE_FILE_NAME},
        {knoFolderName | knoLastWrite, true, FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE},
        {knoAttributes | knoSize, false, FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SIZE},
        {knoLastAccess | knoCreation | knoSecurity, true,
         FILE_NOTIFY_CHANGE_LAST_ACCESS | FILE_NOTIFY_CHANGE_CREATION | FILE_NOTIFY_CHANGE_SECURITY},
        {knoLastAccess | knoCreation | knoSecurity | knoFileName, false, FILE_NOTIFY_CHANGE_FILE_NAME},
        {0xFF, true, 0x17F},
    };
    for (auto& row : table) EXPECT_EQ(KernelNotifyFilter(row.options, row.nt), row.filter) << row.options;
}

// Three folders made in two folders and announced to the shell one after the
// other: one batch, one update per parent folder.
void ExpectThreeCreationsInOneBatch(TLazyChangeNotifier* notifier, TRecordingControl& control) {
    notifier->BatchInterval = 1500;   // more than enough for three calls in a row
    TempFolder root(L"announce");
    for (auto* n : {L"a", L"b", L"c"}) MakeDir(root / n);
    notifier->RegisterShellChangeNotify(&control);
    ASSERT_TRUE(WaitPumping(notifier->ShellChangeThread()->ReadyEvent()));
    ASSERT_TRUE(notifier->ShellChangeThread()->Registered());

    std::vector<std::wstring> made = {root / L"a\\new1", root / L"b\\new", root / L"a\\new2"};
    for (auto& path : made) {
        MakeDir(path);
        ::SHChangeNotify(SHCNE_MKDIR, SHCNF_PATHW | SHCNF_FLUSH, path.c_str(), nullptr);
    }
    // Folders of the root only: the shell may announce other things meanwhile.
    auto ours = [&](TLazyShellEventList* list) {
        std::vector<std::wstring> r;
        for (auto& p : Paths(list))
            if (p.rfind(Lower(root.Path()) + L"\\", 0) == 0) r.push_back(p);
        return r;
    };
    auto seen = [&] {
        size_t n = 0;
        for (auto& b : control.Batches) n += ours(b.get()).size();
        return n;
    };
    ASSERT_TRUE(PumpUntil([&] { return seen() >= 2; }));
    std::vector<TLazyShellEventList*> carrying;
    for (auto& b : control.Batches)
        if (!ours(b.get()).empty()) carrying.push_back(b.get());
    ASSERT_EQ(carrying.size(), 1u);
    EXPECT_EQ(ours(carrying[0]), (std::vector<std::wstring>{Lower(root / L"a"), Lower(root / L"b")}));
    for (int i = 0; i < carrying[0]->Count(); ++i) {
        EXPECT_EQ(carrying[0]->Items(i).Kind, sekUpdateDir);
        EXPECT_EQ(carrying[0]->Items(i).Flags, SHCNE_MKDIR);
    }
    notifier->UnRegisterShellChangeNotify(&control);
}

TEST_F(TNotifierFixture, ThreeFolderCreationsAnnouncedTogetherReachTheControlAsOneBatch) {
    ExpectThreeCreationsInOneBatch(notifier.get(), control);
}

TEST_F(TNotifierFixture, TheOlderDeliveryOfWindows9xGivesTheSameBatch) {
    shelltest::TFakeWindows98 windows98;
    ExpectThreeCreationsInOneBatch(notifier.get(), control);
}

TEST_F(TNotifierFixture, DestroyingTheNotifierStopsThreadsLeftRunning) {
    notifier->RegisterShellChangeNotify(&control);
    notifier->RegisterKernelChangeNotify(&control, knoFileName);
    std::vector<KernelHandle> threads = DuplicateThreadHandles(*notifier);
    notifier.reset();
    for (auto& h : threads) EXPECT_EQ(::WaitForSingleObject(h.get(), 0), WAIT_OBJECT_0);
}

TEST_F(TNotifierFixture, TheFolderWatchFiresOnAFileMadeInTheWatchedFolder) {
    TempFolder root(L"watch");
    notifier->RegisterKernelChangeNotify(&control, knoFileName | knoFolderName);
    notifier->ChangeWatchFolder(&control, root.Path());
    // A change made before the kernel thread has armed the new watch is not seen.
    auto* kernel = notifier->KernelChangeThread();
    while (kernel->WatchingCount() != 1) ASSERT_TRUE(WaitPumping(kernel->RebuiltEvent()));
    ASSERT_TRUE(control.Batches.empty());
    shelltest::WriteFileBytes(root / L"made.txt", "x");
    ASSERT_TRUE(PumpUntil([&] { return !control.Batches.empty(); }));
    ASSERT_EQ(control.Batches.size(), 1u);
    EXPECT_EQ(Paths(control.Batches[0].get()), std::vector<std::wstring>{Lower(root.Path())});
    EXPECT_EQ(control.Batches[0]->Items(0).Kind, sekUpdateDir);
    EXPECT_EQ(control.Batches[0]->Items(0).Flags, 0);
    notifier->UnRegisterKernelChangeNotify(&control);
}

TEST_F(TNotifierFixture, UnregisteringTheLastControlStopsEveryThread) {
    TRecordingControl second;
    second.HandleNeeded();
    notifier->RegisterKernelChangeNotify(&control, knoFileName);
    notifier->RegisterKernelChangeNotify(&control, knoFileName);   // again: no second reference
    notifier->RegisterShellChangeNotify(&control);
    notifier->RegisterShellChangeNotify(&second);
    ASSERT_NE(notifier->KernelChangeThread(), nullptr);
    ASSERT_NE(notifier->ShellChangeThread(), nullptr);
    ASSERT_NE(notifier->ChangeDispatchThread(), nullptr);
    EXPECT_EQ(notifier->KernelChangeThread()->RefCount(), 1);
    EXPECT_EQ(notifier->ShellChangeThread()->RefCount(), 2);
    EXPECT_EQ(notifier->ChangeDispatchThread()->RefCount(), 2);

    std::vector<KernelHandle> threads = DuplicateThreadHandles(*notifier);
    ASSERT_EQ(threads.size(), 3u);
    auto running = [&] {
        int n = 0;
        for (auto& h : threads) n += ::WaitForSingleObject(h.get(), 0) == WAIT_TIMEOUT;
        return n;
    };
    EXPECT_EQ(running(), 3);

    notifier->UnRegisterKernelChangeNotify(&control);
    EXPECT_EQ(notifier->KernelChangeThread(), nullptr);
    EXPECT_EQ(running(), 2);
    notifier->UnRegisterShellChangeNotify(&control);
    EXPECT_EQ(running(), 2);   // the second control still listens
    notifier->UnRegisterShellChangeNotify(&second);
    EXPECT_EQ(running(), 0);
    EXPECT_EQ(notifier->ShellChangeThread(), nullptr);
    EXPECT_EQ(notifier->ChangeDispatchThread(), nullptr);

    // Registering again after a full stop starts fresh threads.
    notifier->RegisterShellChangeNotify(&control);
    EXPECT_NE(notifier->ShellChangeThread(), nullptr);
    notifier->UnRegisterShellChangeNotify(&control);
    EXPECT_EQ(notifier->ChangeDispatchThread(), nullptr);
}

TEST_F(TNotifierFixture, MisuseIsReportedNotIgnored) {
    EXPECT_THROW(notifier->ChangeWatchFolder(&control, L"C:\\"), Exception);
    EXPECT_THROW(notifier->UnRegisterShellChangeNotify(&control), Exception);
    notifier->UnRegisterKernelChangeNotify(&control);   // never registered: nothing to undo
    EXPECT_EQ(notifier->ChangeDispatchThread(), nullptr);
}

TEST(LazyShellNotifier, TheProgramWideNotifierIsMadeOnceOnFirstUse) {
    InitSynchronize();
    TLazyChangeNotifier* first = LazyChangeNotifier();
    EXPECT_EQ(LazyChangeNotifier(), first);
    EXPECT_NE(first->Handle(), nullptr);
    FreeLazyChangeNotifier();
}

TEST(LazyThread, PrioritiesRiseWithTheirValue) {
    struct TIdle : TLazyThread {
        TIdle() : TLazyThread(true) { CreateEvent(true); }
        void Execute() override { ::WaitForSingleObject(Event(), INFINITE); }
    } thread;
    int last = -100;
    for (int p = tpIdle; p <= tpTimeCritical; ++p) {
        thread.SetPriority(static_cast<TLazyThreadPriority>(p));
        int now = ::GetThreadPriority(thread.Handle());
        EXPECT_EQ(now, SystemThreadPriority(static_cast<TLazyThreadPriority>(p)));
        EXPECT_GT(now, last) << p;
        last = now;
    }
    EXPECT_TRUE(thread.Suspended());
    thread.SetSuspended(false);
    thread.Terminate();
    thread.Wake();
    EXPECT_EQ(::WaitForSingleObject(thread.Handle(), 20000), WAIT_OBJECT_0);
    EXPECT_TRUE(thread.Finished());
}

TEST(LazyShellNotifier, RecycleFoldersAreFoundOnFixedDrivesOnlyWhenTheyExist) {
    const std::wstring folder = L"C:\\Recycled";
    auto listed = [&] {
        for (auto& f : RecycleBinFolders())
            if (::lstrcmpiW(f.c_str(), folder.c_str()) == 0) return true;
        return false;
    };
    ASSERT_EQ(::GetFileAttributesW(folder.c_str()), INVALID_FILE_ATTRIBUTES) << "left over from an earlier run";
    EXPECT_FALSE(listed());
    MakeDir(folder);
    EXPECT_TRUE(listed());
    ::RemoveDirectoryW(folder.c_str());
}

// The notifier is found by its interface and by nothing else.
TEST(LazyChangeNotifierInterface, AnswersForItsOwnInterface) {
    for (auto [iid, found] : {std::pair{IID_ILazyChangeNotifier, true}, {IID_IUnknown, true}, {IID_IDispatch, false}}) {
        ComPtr<IUnknown> out;
        EXPECT_EQ(found, LazyChangeNotifier()->QueryInterface(iid, out.put_void()) == S_OK && out.get() == LazyChangeNotifier());
    }
}
