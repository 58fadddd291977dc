// The explorer tree with the change notifier on: a real folder on C:
// changed through the shell while the tree shows it, the registration that
// follows the option and the window, and batches still in flight when the
// tree or its window goes.
#include "ShellTestUtil.h"
#include "shell/explorer/LazyExplorerTree.h"
#include "shell/notify/LazyShellNotifier.h"
#include "shell/base/ShellUtils.h"
#include "framework/Forms.h"
#include <gtest/gtest.h>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace krv;
using shelltest::TempFolder;

namespace {

// Records which folders the tree re-reads.
class TReReadTree : public TLazyExplorerTree {
public:
    using TLazyExplorerTree::TLazyExplorerTree;
    std::vector<std::wstring> ReRead;
    void ReReadAndRefreshNode(PLazyNode node) override {
        TNamespace* ns;
        ReRead.push_back(ValidateNamespace(node, ns) ? ns->NameForParsing() : L"<none>");
        TLazyExplorerTree::ReReadAndRefreshNode(node);
    }
    // The shell's icon size as each re-initialisation of the icon cache saw it
    // (none broadcast: the other windows of the machine are left alone).
    std::vector<std::wstring> IconSizes;
    std::vector<bool> ImagesShown;
    void ReinitShellIconCache() override {
        IconSizes.push_back(ShellIconSize());
        ImagesShown.push_back(TreeOptions().LETImageOptions().Contains(toImages));
    }
    static std::wstring ShellIconSize() {
        HKEY raw = nullptr;
        if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop\\WindowMetrics", 0, KEY_QUERY_VALUE, &raw) !=
            ERROR_SUCCESS)
            return L"<none>";
        RegKeyHandle key(raw);
        wchar_t text[32] = {};
        DWORD type = 0, bytes = sizeof text - sizeof(wchar_t);
        if (::RegQueryValueExW(key.get(), L"Shell Icon Size", nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes) !=
                ERROR_SUCCESS ||
            type != REG_SZ)
            return L"<none>";
        return text;
    }
};

bool PumpUntil(const std::function<bool()>& done, DWORD boundMs = 20000) {
    DWORD start = ::GetTickCount();
    while (!done()) {
        DWORD spent = ::GetTickCount() - start;
        if (spent >= boundMs) return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    return true;
}

// Handles of the notifier's running threads that stay valid after it frees them.
std::vector<KernelHandle> NotifierThreads() {
    TLazyChangeNotifier* n = LazyChangeNotifier();
    std::vector<KernelHandle> handles;
    for (TLazyThread* t : {static_cast<TLazyThread*>(n->KernelChangeThread()),
                           static_cast<TLazyThread*>(n->ShellChangeThread()),
                           static_cast<TLazyThread*>(n->ChangeDispatchThread())}) {
        HANDLE h = nullptr;
        if (t && ::DuplicateHandle(::GetCurrentProcess(), t->Handle(), ::GetCurrentProcess(), &h, SYNCHRONIZE,
                                   FALSE, 0))
            handles.emplace_back(h);
    }
    return handles;
}

int Running(const std::vector<KernelHandle>& threads) {
    int n = 0;
    for (auto& h : threads) n += ::WaitForSingleObject(h.get(), 0) == WAIT_TIMEOUT;
    return n;
}

class ExplorerNotify : public ::testing::Test {
protected:
    TShellUtilitiesScope shell;
    TempFolder folder{L"krv_let_notify"};
    std::unique_ptr<TReReadTree> tree;

    void SetUp() override {
        // Wide enough for three announcements in a row on a loaded machine;
        // read when the first registration starts the dispatch thread.
        LazyChangeNotifier()->BatchInterval = 1500;
        for (const wchar_t* name : {L"a", L"b"}) shelltest::MakeDir(folder / name);
        tree = MakeTree();
    }
    std::unique_ptr<TReReadTree> MakeTree() {
        auto t = std::make_unique<TReReadTree>();
        t->SetParent(&shelltest::ShownForm());
        t->SetBounds(0, 0, 300, 400);
        auto& o = t->TreeOptions();
        o.SetLETMiscOptions(o.LETMiscOptions() + toChangeNotifierThread);
        t->SetRootFolderCustomPath(folder.Path());
        t->SetActive(true);
        t->HandleNeeded();
        return t;
    }
    // The shell thread takes the shell's announcements once it has registered its window.
    void WaitUntilListening() {
        ASSERT_TRUE(tree->ChangeNotifierRegistered());
        TLazyShellChangeThread* shellThread = LazyChangeNotifier()->ShellChangeThread();
        ASSERT_NE(nullptr, shellThread);
        ASSERT_TRUE(PumpUntil([&] { return ::WaitForSingleObject(shellThread->ReadyEvent(), 0) == WAIT_OBJECT_0; }));
        ASSERT_TRUE(shellThread->Registered());
    }
    std::vector<std::wstring> ChildNames() {
        std::vector<std::wstring> names;
        PLazyNode top = tree->GetFirst();
        for (PLazyNode run = tree->GetFirstChild(top); run; run = tree->GetNextSibling(run)) {
            TNamespace* ns;
            names.push_back(tree->ValidateNamespace(run, ns) ? ns->NameInFolder() : L"<none>");
        }
        return names;
    }
    void Announce(LONG event, const std::wstring& path) {
        ::SHChangeNotify(event, SHCNF_PATHW | SHCNF_FLUSH, path.c_str(), nullptr);
    }
};

using NameList = std::vector<std::wstring>;

TEST_F(ExplorerNotify, FoldersMadeAndRemovedThroughTheShellComeAndGoAsNodes) {
    WaitUntilListening();
    ASSERT_EQ((NameList{L"a", L"b"}), ChildNames());
    std::vector<KernelHandle> threads = NotifierThreads();
    ASSERT_EQ(2u, threads.size()) << "the shell thread and the dispatch thread, no folder watch";

    // The shell's own folder maker announces each folder: three within one batch.
    for (const wchar_t* name : {L"e", L"c", L"d"})
        ASSERT_EQ(ERROR_SUCCESS, ::SHCreateDirectoryExW(nullptr, (folder / name).c_str(), nullptr));
    ASSERT_TRUE(PumpUntil([&] { return ChildNames() == NameList{L"a", L"b", L"c", L"d", L"e"}; }));
    EXPECT_EQ(std::vector<std::wstring>{folder.Path()}, tree->ReRead) << "one batch, one re-read of the folder";

    // A removed folder's node goes; the focus on it moves to its next sibling.
    PLazyNode c = tree->GetNextSibling(tree->GetNextSibling(tree->GetFirstChild(tree->GetFirst())));
    tree->SetFocusedNode(c);
    ASSERT_TRUE(::RemoveDirectoryW((folder / L"c").c_str()));
    Announce(SHCNE_RMDIR, folder / L"c");
    ASSERT_TRUE(PumpUntil([&] { return ChildNames() == NameList{L"a", L"b", L"d", L"e"}; }));
    TNamespace* focused = nullptr;
    ASSERT_TRUE(tree->ValidateNamespace(tree->FocusedNode(), focused));
    EXPECT_EQ(L"d", focused->NameInFolder());

    // A change inside a folder whose children were never made makes none.
    shelltest::MakeDir(folder / L"a\\inner");
    Announce(SHCNE_MKDIR, folder / L"a\\inner");
    size_t reReads = tree->ReRead.size();
    Announce(SHCNE_MKDIR, folder / L"f");   // made nowhere: only a marker that the batch came
    ASSERT_TRUE(PumpUntil([&] { return tree->ReRead.size() > reReads; }));
    PLazyNode a = tree->GetFirstChild(tree->GetFirst());
    EXPECT_EQ(0u, a->ChildCount);
    EXPECT_TRUE(tree->HasChildren(a));

    // Switching the option off leaves the notifier, and its threads end.
    auto& o = tree->TreeOptions();
    o.SetLETMiscOptions(o.LETMiscOptions() - toChangeNotifierThread);
    EXPECT_FALSE(tree->ChangeNotifierRegistered());
    EXPECT_EQ(0, Running(threads));
    EXPECT_EQ(nullptr, LazyChangeNotifier()->ChangeDispatchThread());
}

TEST_F(ExplorerNotify, AChangeWhileTheTreeIsHiddenWaitsForTheNextMouseMove) {
    WaitUntilListening();
    tree->SetVisible(false);
    ASSERT_EQ(ERROR_SUCCESS, ::SHCreateDirectoryExW(nullptr, (folder / L"c").c_str(), nullptr));
    std::vector<std::wstring> notified;
    tree->OnShellNotify = [&](TCustomLazyExplorerTree*, const TLETShellEvent& e) {
        if (e.PIDL1) notified.push_back(PIDLToPath(e.PIDL1));
    };
    ASSERT_TRUE(PumpUntil([&] { return !notified.empty(); }));
    EXPECT_EQ((NameList{L"a", L"b"}), ChildNames());
    EXPECT_TRUE(tree->ReRead.empty());
    tree->SetVisible(true);
    ::SendMessageW(tree->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    EXPECT_EQ((NameList{L"a", L"b", L"c"}), ChildNames());
    EXPECT_EQ(std::vector<std::wstring>{folder.Path()}, tree->ReRead);
}

// A batch waiting in the tree's queue when the tree or only its window goes:
// released once (not leaked, not freed twice), and the threads end with the
// last registration.
TEST_F(ExplorerNotify, BatchesInFlightAreReleasedWhenTheTreeOrItsWindowGoes) {
    for (bool windowOnly : {false, true}) {
        SCOPED_TRACE(windowOnly ? "window destroyed" : "tree deleted");
        if (!tree) tree = MakeTree();
        WaitUntilListening();
        std::vector<KernelHandle> threads = NotifierThreads();
        TLazyShellEventListPtr list(new TLazyShellEventList);   // the test's own, to see the tree's go
        auto event = std::make_unique<TLazyShellEvent>();
        event->PIDL1.reset(PathToPIDL(folder.Path()));
        list->Add(std::move(event));
        TLazyShellEventListPtr posted = list;   // the reference the window takes over
        ASSERT_TRUE(::PostMessageW(tree->Handle(), WM_SHELLNOTIFY, reinterpret_cast<WPARAM>(posted.get()), 0));
        posted.detach();
        // And one still inside the notifier's threads.
        ASSERT_EQ(ERROR_SUCCESS, ::SHCreateDirectoryExW(nullptr, (folder / L"x").c_str(), nullptr));
        if (windowOnly) {
            ::DestroyWindow(tree->Handle());
            EXPECT_FALSE(tree->ChangeNotifierRegistered());
        } else {
            tree.reset();
        }
        EXPECT_EQ(1, list->RefCount());
        list.reset();
        EXPECT_EQ(0, Running(threads));
        EXPECT_EQ(nullptr, LazyChangeNotifier()->ShellChangeThread());
        ::RemoveDirectoryW((folder / L"x").c_str());
        if (windowOnly) {
            // A new window registers again.
            tree->HandleNeeded();
            EXPECT_TRUE(tree->ChangeNotifierRegistered());
        }
    }
}

TEST_F(ExplorerNotify, AnAssociationChangeHasTheShellBuildItsIconListAgainUnlessSwitchedOff) {
    ASSERT_TRUE(tree->ChangeNotifierRegistered());
    shelltest::MakeDir(folder / L"a\\inner");
    tree->RefreshTree(false);
    PLazyNode a = tree->GetFirstChild(tree->GetFirst());
    tree->SetExpanded(a, true);
    ASSERT_TRUE(tree->Expanded(a));
    auto associationChanged = [&] {
        TLazyShellEventListPtr list(new TLazyShellEventList);
        auto event = std::make_unique<TLazyShellEvent>();
        event->Kind = sekAssociationChanged;
        event->Flags = SHCNE_ASSOCCHANGED;
        list->Add(std::move(event));
        TLazyShellEventListPtr sent = list;   // the reference the window takes over
        ::SendMessageW(tree->Handle(), WM_SHELLNOTIFY, reinterpret_cast<WPARAM>(sent.get()), 0);
        sent.detach();
    };
    HKEY raw = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop\\WindowMetrics", 0, nullptr,
                                               0, KEY_SET_VALUE, nullptr, &raw, nullptr));
    RegKeyHandle key(raw);
    const std::wstring before = TReReadTree::ShellIconSize();
    const wchar_t set[] = L"32";
    ::RegSetValueExW(key.get(), L"Shell Icon Size", 0, REG_SZ, reinterpret_cast<const BYTE*>(set), sizeof set);

    associationChanged();
    EXPECT_EQ((std::vector<std::wstring>{L"33", L"32"}), tree->IconSizes) << "one pixel larger, then back";
    EXPECT_EQ((std::vector<bool>{false, false}), tree->ImagesShown) << "no icon drawn from the list meanwhile";
    EXPECT_TRUE(tree->TreeOptions().LETImageOptions().Contains(toImages));
    EXPECT_EQ(L"32", TReReadTree::ShellIconSize());
    a = tree->GetFirstChild(tree->GetFirst());
    EXPECT_TRUE(tree->Expanded(a)) << "the tree is refreshed with its view kept";

    // Unset, the system's icon width is the size, and it is unset again afterwards.
    ::RegDeleteValueW(key.get(), L"Shell Icon Size");
    tree->IconSizes.clear();
    associationChanged();
    EXPECT_EQ((std::vector<std::wstring>{std::to_wstring(::GetSystemMetrics(SM_CXICON) + 1), L"<none>"}),
              tree->IconSizes);

    // While the tree is busy the rebuild waits for the next mouse move.
    tree->IconSizes.clear();
    tree->SetVisible(false);
    associationChanged();
    EXPECT_TRUE(tree->IconSizes.empty());
    tree->SetVisible(true);
    ::SendMessageW(tree->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(2u, tree->IconSizes.size());

    // A tree shown without images stays so.
    auto& o = tree->TreeOptions();
    o.SetLETImageOptions(o.LETImageOptions() - toImages);
    tree->IconSizes.clear();
    associationChanged();
    EXPECT_EQ(2u, tree->IconSizes.size());
    EXPECT_FALSE(o.LETImageOptions().Contains(toImages));

    o.SetLETMiscOptions(o.LETMiscOptions() + toNoRebuildIconListOnAssocChange);
    tree->IconSizes.clear();
    associationChanged();
    EXPECT_TRUE(tree->IconSizes.empty());
    if (before != L"<none>")
        ::RegSetValueExW(key.get(), L"Shell Icon Size", 0, REG_SZ, reinterpret_cast<const BYTE*>(before.c_str()),
                         DWORD((before.size() + 1) * sizeof(wchar_t)));
}

} // namespace
