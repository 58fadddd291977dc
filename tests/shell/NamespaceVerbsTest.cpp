// The shell item's verbs, data object, context menu and opening, through the
// system's shell. Modal windows the shell opens are caught and answered by a
// hook on the test thread.
#include "ShellTestUtil.h"
#include "shell/item/LazyShellUtilities.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/WideStrUtils.h"
#include "framework/Menus.h"
#include <gtest/gtest.h>
#include <functional>
#include <set>

using namespace krv;

namespace {
// Sees every window the test thread activates and answers it.
class TDialogCatcher {
public:
    struct Seen {
        HWND Window;
        std::wstring Caption;
        std::wstring Texts;   // the static texts inside, joined by "|"
    };
    explicit TDialogCatcher(std::function<void(HWND)> answer) : answer_(std::move(answer)) {
        current_ = this;
        hook_ = ::SetWindowsHookExW(WH_CBT, Proc, nullptr, ::GetCurrentThreadId());
    }
    ~TDialogCatcher() {
        ::UnhookWindowsHookEx(hook_);
        current_ = nullptr;
    }
    std::vector<Seen> Windows;
    std::vector<Seen> Titled(const std::wstring& caption) const {
        std::vector<Seen> r;
        for (const Seen& s : Windows)
            if (s.Caption == caption) r.push_back(s);
        return r;
    }

private:
    static BOOL CALLBACK AddStaticText(HWND child, LPARAM all) {
        wchar_t cls[32], t[512];
        ::GetClassNameW(child, cls, 32);
        if (lstrcmpiW(cls, L"Static") == 0 && ::GetWindowTextW(child, t, 512) > 0)
            *reinterpret_cast<std::wstring*>(all) += std::wstring(t) + L"|";
        return TRUE;
    }
    static LRESULT CALLBACK Proc(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HCBT_ACTIVATE && current_) {
            HWND wnd = reinterpret_cast<HWND>(wParam);
            for (const Seen& s : current_->Windows)
                if (s.Window == wnd) return ::CallNextHookEx(nullptr, code, wParam, lParam);   // activated again
            Seen seen;
            seen.Window = wnd;
            wchar_t text[512];
            ::GetWindowTextW(wnd, text, 512);
            seen.Caption = text;
            ::EnumChildWindows(wnd, AddStaticText, reinterpret_cast<LPARAM>(&seen.Texts));
            current_->Windows.push_back(seen);
            current_->answer_(wnd);
        }
        return ::CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static inline TDialogCatcher* current_ = nullptr;
    HHOOK hook_;
    std::function<void(HWND)> answer_;
};

std::vector<std::wstring> g_menuCaptions;
UINT g_mineId = 0;
std::vector<WORD> g_menuKeys;   // keys to press in the shown menu; none: just close it

// A timer that runs inside the menu's own loop: reads the shown menu, closes it.
void CALLBACK ReadAndCloseMenu(HWND, UINT, UINT_PTR, DWORD) {
    HWND menuWnd = ::FindWindowW(L"#32768", nullptr);
    if (!menuWnd || !g_menuCaptions.empty()) return;
    HMENU menu = reinterpret_cast<HMENU>(::SendMessageW(menuWnd, MN_GETHMENU, 0, 0));
    if (!menu) return;
    for (int i = 0; i < ::GetMenuItemCount(menu); ++i) {
        wchar_t text[128] = {};
        ::GetMenuStringW(menu, static_cast<UINT>(i), text, 128, MF_BYPOSITION);
        g_menuCaptions.push_back(text);
        if (std::wstring(text) == L"Mine") g_mineId = ::GetMenuItemID(menu, i);
    }
    if (g_menuKeys.empty()) ::EndMenu();
    for (WORD key : g_menuKeys) ::PostMessageW(menuWnd, WM_KEYDOWN, key, 0);
}

void Press(HWND wnd, int id) { ::PostMessageW(wnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

class VerbsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ::OleInitialize(nullptr);   // the clipboard verbs need OLE
        StartShellUtilities();
    }
    static void TearDownTestSuite() {
        StopShellUtilities();
        ::OleUninitialize();
    }
    // Children of a folder, each over its parent, by in-folder parse name.
    std::vector<std::unique_ptr<TNamespace>> Children(TNamespace& folder) {
        std::vector<std::unique_ptr<TNamespace>> r;
        folder.EnumerateFolder(true, true, true,
                               [&](LPITEMIDLIST child, TNamespace* parent, void*, bool&) {
                                   r.push_back(std::make_unique<TNamespace>(child, parent));
                                   return true;
                               },
                               nullptr);
        std::sort(r.begin(), r.end(),
                  [](auto& a, auto& b) { return a->NameForParsingInFolder() < b->NameForParsingInFolder(); });
        return r;
    }
    std::set<std::wstring> DropFiles(IDataObject* data) {
        std::set<std::wstring> files;
        FORMATETC format{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        STGMEDIUM medium{};
        if (FAILED(data->GetData(&format, &medium))) return files;
        {
            GlobalLockScope lock(medium.hGlobal);
            auto drop = static_cast<HDROP>(lock.get());
            UINT n = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
            for (UINT i = 0; i < n; ++i) {
                wchar_t path[MAX_PATH];
                ::DragQueryFileW(drop, i, path, MAX_PATH);
                files.insert(path);
            }
        }
        ::ReleaseStgMedium(&medium);
        return files;
    }
    shelltest::TempFolder tmp{L"verbs"};
};
} // namespace

TEST_F(VerbsTest, DataObjectOfSiblingsCarriesTheirFiles) {
    shelltest::WriteFileBytes(tmp / L"one.txt", "1");
    shelltest::WriteFileBytes(tmp / L"два.txt", "2");
    auto folder = TNamespace::CreateFromFileName(tmp.Path());
    auto kids = Children(*folder);
    ASSERT_EQ(kids.size(), 2u);
    TNamespaceArray both{kids[0].get(), kids[1].get()};
    ComPtr<IDataObject> data = kids[0]->DataObject(both);
    ASSERT_TRUE(data);
    EXPECT_EQ(DropFiles(data.get()), (std::set<std::wstring>{tmp / L"one.txt", tmp / L"два.txt"}));
    FORMATETC idList{static_cast<CLIPFORMAT>(::RegisterClipboardFormatA(CFSTR_SHELLIDLIST)), nullptr, DVASPECT_CONTENT,
                     -1, TYMED_HGLOBAL};
    EXPECT_EQ(data->QueryGetData(&idList), S_OK);
}

TEST_F(VerbsTest, ItemsFromAnotherFolderAreRefusedWithAMessage) {
    shelltest::MakeDir(tmp / L"a");
    shelltest::MakeDir(tmp / L"b");
    shelltest::WriteFileBytes(tmp / L"a\\x.txt", "x");
    shelltest::WriteFileBytes(tmp / L"b\\y.txt", "y");
    auto a = TNamespace::CreateFromFileName(tmp / L"a");
    auto b = TNamespace::CreateFromFileName(tmp / L"b");
    auto inA = Children(*a), inB = Children(*b);
    ASSERT_EQ(inA.size(), 1u);
    ASSERT_EQ(inB.size(), 1u);
    TDialogCatcher catcher([](HWND wnd) { Press(wnd, IDOK); });
    EXPECT_FALSE(inA[0]->Copy(TNamespaceArray{inA[0].get(), inB[0].get()}));
    EXPECT_FALSE(inA[0]->DataObject(TNamespaceArray{inB[0].get()}));
    auto boxes = catcher.Titled(L"Error");
    ASSERT_EQ(boxes.size(), 2u);
    for (const auto& box : boxes)
        EXPECT_EQ(box.Texts, L"PIDLs to operate on are not siblings of the Namespace doing the operation.|");
    // The desktop accepts itself alone, silently refusing anything else.
    TNamespace desktop(nullptr, nullptr);
    EXPECT_FALSE(desktop.DataObject(TNamespaceArray{inA[0].get()}));
    EXPECT_EQ(catcher.Titled(L"Error").size(), 2u);
}

TEST_F(VerbsTest, CopyAndCutPutTheFilesOnTheClipboard) {
    shelltest::WriteFileBytes(tmp / L"c.txt", "c");
    auto folder = TNamespace::CreateFromFileName(tmp.Path());
    auto kids = Children(*folder);
    ASSERT_EQ(kids.size(), 1u);
    for (bool cut : {false, true}) {
        ::OleSetClipboard(nullptr);
        ASSERT_TRUE(cut ? kids[0]->Cut(TNamespaceArray{kids[0].get()}) : kids[0]->Copy(TNamespaceArray{kids[0].get()}));
        ComPtr<IDataObject> clip;
        ASSERT_HRESULT_SUCCEEDED(::OleGetClipboard(clip.put()));
        EXPECT_EQ(DropFiles(clip.get()), std::set<std::wstring>{tmp / L"c.txt"}) << cut;
    }
    ::OleSetClipboard(nullptr);
    EXPECT_TRUE(shelltest::ReadFileBytes(tmp / L"c.txt") == "c");   // cutting alone moves nothing
    EXPECT_FALSE(folder->Paste(TNamespaceArray{}));   // nothing to paste into
}

TEST_F(VerbsTest, DeleteAsksTheShellAndAnswerNoKeepsTheFile) {
    shelltest::WriteFileBytes(tmp / L"keep.txt", "k");
    auto folder = TNamespace::CreateFromFileName(tmp.Path());
    auto kids = Children(*folder);
    ASSERT_EQ(kids.size(), 1u);
    TDialogCatcher catcher([](HWND wnd) { Press(wnd, IDNO); });
    kids[0]->Delete(TNamespaceArray{kids[0].get()});
    EXPECT_GE(catcher.Windows.size(), 1u);   // the shell's confirmation came up
    EXPECT_EQ(shelltest::ReadFileBytes(tmp / L"keep.txt"), "k");
}

TEST_F(VerbsTest, ContextMenuMergesOurItemsAndRunsTheChosenOne) {
    shelltest::WriteFileBytes(tmp / L"m.txt", "m");
    auto folder = TNamespace::CreateFromFileName(tmp.Path());
    auto kids = Children(*folder);
    ASSERT_EQ(kids.size(), 1u);
    TMenuItem root, separator(&root), mine(&root), group(&root), inner(&root);
    separator.SetCaption("-");
    mine.SetCaption("Mine");
    group.SetCaption("Group");
    inner.SetCaption("Inner");
    root.Add(&separator);
    root.Add(&mine);
    root.Add(&group);
    group.Add(&inner);
    int clicked = 0;
    mine.OnClick = [&](TObject*) { ++clicked; };

    TWinControl owner;
    owner.HandleNeeded();
    // While the menu is open: read it, then close it.
    g_menuCaptions.clear();
    g_mineId = 0;
    UINT_PTR timer = ::SetTimer(nullptr, 0, 100, ReadAndCloseMenu);
    bool chosen = kids[0]->ShowContextMenu(owner.Handle(), POINT{10, 10}, TNamespaceArray{kids[0].get()}, &root);
    ::KillTimer(nullptr, timer);
    EXPECT_FALSE(chosen);   // closed without a choice
    ASSERT_GE(g_menuCaptions.size(), 3u);
    EXPECT_EQ(g_menuCaptions[g_menuCaptions.size() - 2], L"Mine");
    EXPECT_EQ(g_menuCaptions.back(), L"Group");
    EXPECT_EQ(g_menuCaptions[g_menuCaptions.size() - 3], L"");   // the separator
    EXPECT_GE(g_menuCaptions.size(), 4u);   // the shell's own commands come first
    EXPECT_NE(g_mineId, 0u);
    EXPECT_EQ(clicked, 0);

    // Up twice from nothing selected is our item: it is clicked, not the shell's.
    g_menuCaptions.clear();
    g_menuKeys = {VK_UP, VK_UP, VK_RETURN};
    timer = ::SetTimer(nullptr, 0, 100, ReadAndCloseMenu);
    bool handedOn = false;
    auto handler = [&](TNamespace*, const std::wstring&, int, bool& handled) {
        handedOn = true;
        handled = true;
    };
    EXPECT_TRUE(kids[0]->ShowContextMenu(owner.Handle(), POINT{10, 10}, TNamespaceArray{kids[0].get()}, &root, handler));
    ::KillTimer(nullptr, timer);
    EXPECT_EQ(clicked, 1);
    EXPECT_FALSE(handedOn);

    // The shell's first command goes to the handler with its verb; handled, it is not run.
    g_menuCaptions.clear();
    g_menuKeys = {VK_DOWN, VK_RETURN};
    timer = ::SetTimer(nullptr, 0, 100, ReadAndCloseMenu);
    std::wstring verb;
    auto named = [&](TNamespace* ns, const std::wstring& v, int id, bool& handled) {
        EXPECT_EQ(ns, kids[0].get());
        EXPECT_GE(id, 1);
        verb = v;
        handled = true;
    };
    EXPECT_TRUE(kids[0]->ShowContextMenu(owner.Handle(), POINT{10, 10}, TNamespaceArray{kids[0].get()}, &root, named));
    ::KillTimer(nullptr, timer);
    g_menuKeys.clear();
    EXPECT_FALSE(verb.empty());
    EXPECT_EQ(clicked, 1);
}

TEST_F(VerbsTest, OpeningRunsTheItemInTheRightFolderAndRefusesFolders) {
    shelltest::MakeDir(tmp / L"work");
    shelltest::WriteFileBytes(tmp / L"run.bat", "@cd > out.txt\r\n@echo %1>> out.txt\r\n@echo done>> out.txt\r\n");
    auto bat = TNamespace::CreateFromFileName(tmp / L"run.bat");
    auto waitFor = [](const std::wstring& file) {
        for (int i = 0; i < 3000; ++i) {   // bounded against a hang only
            std::string text = shelltest::ReadFileBytes(file);
            if (text.find("done") != std::string::npos) return text;
            ::Sleep(100);
        }
        return std::string();
    };
    ASSERT_TRUE(bat->ShellExecuteNamespace(tmp / L"work", L"first", false, false));
    std::string inWork = waitFor(tmp / L"work\\out.txt");
    EXPECT_NE(inWork.find("work"), std::string::npos) << inWork;
    EXPECT_NE(inWork.find("first"), std::string::npos) << inWork;
    // A working folder that does not exist: the item's own folder.
    ASSERT_TRUE(bat->ShellExecuteNamespace(tmp / L"missing", L"second", false, false));
    EXPECT_NE(waitFor(tmp / L"out.txt").find("second"), std::string::npos);

    auto work = TNamespace::CreateFromFileName(tmp / L"work");
    EXPECT_FALSE(work->ShellExecuteNamespace(L"", L"", false, false));   // a folder only when asked
    shelltest::LinkFields fields;
    fields.target = tmp / L"work";
    shelltest::WriteLink(tmp / L"to work.lnk", fields);
    auto link = TNamespace::CreateFromFileName(tmp / L"to work.lnk");
    ASSERT_TRUE(link->Link());
    EXPECT_FALSE(link->ShellExecuteNamespace(L"", L"", true, false));   // a shortcut to a folder too
}
