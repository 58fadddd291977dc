// The folder-browse dialog driven for real: the test presses OK or Cancel
// from the dialog's own start-up callback, and a watchdog closes any dialog
// left open so a failure can never hang the run.
#include "shell/base/FolderBrowser.h"
#include "framework/Forms.h"
#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <thread>

using namespace krv;

namespace {

// Closes every dialog of this process that is still open after a while.
class Watchdog {
public:
    explicit Watchdog(int seconds = 15) : thread_([this, seconds] { Run(seconds); }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(m_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    bool Fired() const { return fired_; }

private:
    static BOOL CALLBACK CloseDialogs(HWND wnd, LPARAM data) {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(wnd, &pid);
        char cls[32] = {};
        ::GetClassNameA(wnd, cls, sizeof cls);
        if (pid == ::GetCurrentProcessId() && std::string(cls) == "#32770") {
            ::PostMessageA(wnd, WM_COMMAND, IDCANCEL, 0);
            reinterpret_cast<Watchdog*>(data)->fired_ = true;
        }
        return TRUE;
    }
    void Run(int seconds) {
        std::unique_lock<std::mutex> lock(m_);
        while (!cv_.wait_for(lock, std::chrono::seconds(seconds), [this] { return done_; }))
            ::EnumWindows(&CloseDialogs, reinterpret_cast<LPARAM>(this));
    }
    std::mutex m_;
    std::condition_variable cv_;
    bool done_ = false;
    std::atomic<bool> fired_{false};
    std::thread thread_;
};

// Records what the dialog looked like when it came up, then presses a button.
struct DialogProbe {
    RECT rect{};
    std::string caption;
    bool statusShown = false;
    int shows = 0;
};

struct ChildText {
    const std::string* want;
    bool found;
};
BOOL CALLBACK FindChildText(HWND child, LPARAM p) {
    auto* f = reinterpret_cast<ChildText*>(p);
    char t[256] = {};
    ::GetWindowTextA(child, t, sizeof t);
    if (*f->want == t) f->found = true;
    return TRUE;
}

void PressOnShow(TFolderBrowser& browser, DialogProbe& probe, int button, const std::string& status = "") {
    browser.OnShow = [&browser, &probe, button, status](TObject*) {
        HWND dlg = browser.DialogHandle();
        ++probe.shows;
        ::GetWindowRect(dlg, &probe.rect);
        char text[256] = {};
        ::GetWindowTextA(dlg, text, sizeof text);
        probe.caption = text;
        if (!status.empty()) {
            ChildText find{&status, false};
            ::EnumChildWindows(dlg, &FindChildText, reinterpret_cast<LPARAM>(&find));
            probe.statusShown = find.found;
        }
        ::PostMessageA(dlg, WM_COMMAND, button, 0);
    };
}

std::string SystemFolder() {
    char dir[MAX_PATH] = {};
    ::GetSystemDirectoryA(dir, MAX_PATH);
    return dir;
}

} // namespace

TEST(FolderBrowser, SelectedFolderDropsOneTrailingBackslashButKeepsDriveRoots) {
    TFolderBrowser b;
    b.SetSelectedFolder("C:\\");
    EXPECT_EQ(b.SelectedFolder(), "C:\\");
    b.SetSelectedFolder("C:");
    EXPECT_EQ(b.SelectedFolder(), "C:\\");
    b.SetSelectedFolder("C:\\x\\");
    EXPECT_EQ(b.SelectedFolder(), "C:\\x");
    b.SetSelectedFolder("C:\\x\\\\");   // only one is removed
    EXPECT_EQ(b.SelectedFolder(), "C:\\x\\");
    b.SetSelectedFolder("");
    EXPECT_EQ(b.SelectedFolder(), "");
    b.SetSelectedFolder("\\");
    EXPECT_EQ(b.SelectedFolder(), "");
}

TEST(FolderBrowser, DefaultsAndFlags) {
    TFolderBrowser b;
    EXPECT_EQ(b.Options, static_cast<TFolderBrowseOptions>(boReturnOnlyDirs));
    EXPECT_EQ(b.Position, bpScreenCenter);
    EXPECT_EQ(b.SpecialRootFolder(), sfNone);
    EXPECT_EQ(b.Version(), "1.02");
    b.SetVersion("9.9");
    EXPECT_EQ(b.Version(), "1.02");
    EXPECT_EQ(BrowseFlags(boReturnOnlyDirs), 0x1u);
    EXPECT_EQ(BrowseFlags(boBrowseForComputer | boBrowseForPrinter | boDontGoBelowDomain | boReturnOnlyAncestors |
                          boReturnOnlyDirs | boShowFiles | boEditBox),
              0x1000u | 0x2000u | 0x2u | 0x8u | 0x1u | 0x4000u | 0x10u);
    EXPECT_EQ(SpecialFolderId(sfDrives), 0x11);
    EXPECT_EQ(SpecialFolderId(sfHistory), 34);
    EXPECT_EQ(SpecialFolderId(sfTemplates), 0x15);
    EXPECT_GT(b.ShellVersion(), 4.7);   // the real shell32 of the prefix
}

TEST(FolderBrowser, OkReturnsThePresetFolderFromACentredDialog) {
    Watchdog dog;
    TFolderBrowser b;
    b.Caption = "Pick the temp folder";
    b.SetStatusText("status line here");
    const std::string folder = SystemFolder();
    b.SetSelectedFolder(folder + "\\");
    DialogProbe probe;
    PressOnShow(b, probe, IDOK, "status line here");
    ASSERT_TRUE(b.Execute());
    EXPECT_FALSE(dog.Fired());
    EXPECT_TRUE(SameText(b.FolderPath(), folder)) << b.FolderPath();
    EXPECT_FALSE(b.DisplayName().empty());
    EXPECT_EQ(b.DialogHandle(), nullptr);
    EXPECT_EQ(probe.shows, 1);
    EXPECT_EQ(probe.caption, "Pick the temp folder");
    EXPECT_TRUE(probe.statusShown);
    const int w = probe.rect.right - probe.rect.left, h = probe.rect.bottom - probe.rect.top;
    EXPECT_EQ(probe.rect.left, ::GetSystemMetrics(SM_CXSCREEN) / 2 - w / 2);
    EXPECT_EQ(probe.rect.top, ::GetSystemMetrics(SM_CYSCREEN) / 2 - h / 2);
}

TEST(FolderBrowser, DriveRootKeepsItsBackslashThroughTheDialog) {
    Watchdog dog;
    TFolderBrowser b;
    b.SetSelectedFolder("C:\\");
    DialogProbe probe;
    PressOnShow(b, probe, IDOK);
    ASSERT_TRUE(b.Execute());
    EXPECT_TRUE(SameText(b.FolderPath(), "C:\\")) << b.FolderPath();
}

TEST(FolderBrowser, CancelReturnsFalseAndKeepsThePreviousPath) {
    Watchdog dog;
    TFolderBrowser b;
    b.SetSelectedFolder("C:\\");
    DialogProbe probe;
    PressOnShow(b, probe, IDOK);
    ASSERT_TRUE(b.Execute());
    const std::string before = b.FolderPath();

    b.SetSelectedFolder(SystemFolder());
    PressOnShow(b, probe, IDCANCEL);
    EXPECT_FALSE(b.Execute());
    EXPECT_EQ(b.FolderPath(), before);
    EXPECT_EQ(b.ImageIndex(), 0);
    EXPECT_EQ(probe.shows, 2);
}

TEST(FolderBrowser, HandlerFailureEndsTheDialogAndReachesTheCaller) {
    Watchdog dog;
    TFolderBrowser b;
    b.OnShow = [](TObject*) { throw Exception("handler failed"); };
    EXPECT_THROW(b.Execute(), Exception);
    EXPECT_FALSE(dog.Fired());
}

TEST(FolderBrowser, TooOldShellRefusesNewOptionsAndRootsWithError110) {
    TShShellComponent::SetShellVersionSource([] { return 4.0; });
    TFolderBrowser old;
    TShShellComponent::SetShellVersionSource(nullptr);
    EXPECT_DOUBLE_EQ(old.ShellVersion(), 4.0);

    old.Options = boReturnOnlyDirs | boEditBox;
    try {
        old.Execute();
        ADD_FAILURE() << "no error";
    } catch (const EShShellError& e) {
        EXPECT_EQ(e.ErrorCode, 110);
        EXPECT_EQ(e.Message(), "Operation not supported in this version of the shell");
    }
    old.Options = boShowFiles;
    EXPECT_THROW(old.Execute(), EShShellError);

    for (auto root : {sfInternet, sfAltStartup, sfCommonAltStartup, sfCommonFavorites, sfInternetCache, sfCookies,
                      sfHistory}) {
        try {
            old.SetSpecialRootFolder(root);
            ADD_FAILURE() << "root " << root << " accepted";
        } catch (const EShShellError& e) {
            EXPECT_EQ(e.ErrorCode, 110);
        }
        EXPECT_EQ(old.SpecialRootFolder(), sfNone);   // refused roots are not kept
    }
    old.SetSpecialRootFolder(sfDrives);   // older roots are fine
    EXPECT_EQ(old.SpecialRootFolderID(), 0x11);

    TFolderBrowser current;   // the real version again
    current.SetSpecialRootFolder(sfHistory);
    EXPECT_EQ(current.SpecialRootFolderID(), 34);
}

TEST(ShVersionInfo, ReadsTheShellAndReportsMissingFilesAndKeys) {
    char dir[MAX_PATH] = {};
    ::GetSystemDirectoryA(dir, MAX_PATH);
    TShVersionInfo shell(std::string(dir) + "\\shell32.dll");
    EXPECT_FALSE(shell.FileVersion().empty());
    EXPECT_GE(shell.FileVersionNumber(), 4.0);
    try {
        shell.GetString("NoSuchKeyAnywhere");
        ADD_FAILURE();
    } catch (const EShVersionInfoError& e) {
        EXPECT_EQ(e.ErrorCode, 134);
        EXPECT_EQ(e.Message(), "The specified key cannnot be found in version info");
    }
    try {
        TShVersionInfo missing("C:\\no\\such\\file.dll");
        ADD_FAILURE();
    } catch (const EShVersionInfoError& e) {
        EXPECT_EQ(e.ErrorCode, 73);
        EXPECT_EQ(e.Message(), "Error opening file");
    }
    try {
        TShVersionInfo self("");   // the test program carries no version resource
        ADD_FAILURE();
    } catch (const EShVersionInfoError& e) {
        EXPECT_TRUE(e.ErrorCode == 100 || e.ErrorCode == 101) << e.ErrorCode;
    }
}

TEST(ShVersionInfo, VersionTextsBecomeMajorMinor) {
    EXPECT_DOUBLE_EQ(VersionTextToNumber("4.72.3110.0"), 4.72);
    EXPECT_DOUBLE_EQ(VersionTextToNumber("6.00.2900.5512 (xpsp.080413-2105)"), 6.0);
    EXPECT_DOUBLE_EQ(VersionTextToNumber("5.5"), 5.5);
    EXPECT_DOUBLE_EQ(VersionTextToNumber("6"), 6.0);
    EXPECT_DOUBLE_EQ(VersionTextToNumber(""), 0.0);
    EXPECT_DOUBLE_EQ(VersionTextToNumber("abc"), 0.0);
}

TEST(IsDirectory, FoldersFilesAndNothing) {
    char dir[MAX_PATH] = {};
    ::GetSystemDirectoryA(dir, MAX_PATH);
    EXPECT_TRUE(IsDirectory(dir));
    EXPECT_TRUE(IsDirectory("C:\\"));
    EXPECT_FALSE(IsDirectory(std::string(dir) + "\\shell32.dll"));
    EXPECT_FALSE(IsDirectory("C:\\no\\such\\folder"));
    EXPECT_FALSE(IsDirectory(""));
}

TEST(FolderBrowser, SelectionChangesReachSelectedFolderAndTheEvent) {
    Watchdog dog;
    TFolderBrowser b;
    b.SetSelectedFolder("C:\\");
    const std::string windows = ExcludeTrailingBackslash(ExtractFilePath(SystemFolder()));
    std::vector<std::string> seen;
    b.OnSelChanged = [&](TObject*) { seen.push_back(b.SelectedFolder()); };
    b.OnShow = [&](TObject*) {
        ::SendMessageA(b.DialogHandle(), BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(windows.c_str()));
        ::PostMessageA(b.DialogHandle(), WM_COMMAND, IDOK, 0);
    };
    ASSERT_TRUE(b.Execute());
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(SameText(seen.back(), windows)) << seen.back();
    EXPECT_TRUE(SameText(b.SelectedFolder(), windows));
    EXPECT_TRUE(SameText(b.FolderPath(), windows)) << b.FolderPath();
}

// Owned by the application, the dialog's owner is the main form's window.
TEST(FolderBrowser, TheApplicationsDialogIsOwnedByTheMainForm) {
    struct TProbe : TFolderBrowser {
        using TFolderBrowser::TFolderBrowser;
        using TFolderBrowser::ParentWindow;
    } b(&Application());
    TForm main;
    const HWND mainWindow = main.HandleNeeded();
    TForm* const previousMain = std::exchange(Application().MainForm, &main);
    EXPECT_EQ(mainWindow, b.ParentWindow());
    Application().MainForm = previousMain;
}
