// The main window as a user meets it: the hard-disk folder (browsed for or
// typed) and the Start button, the first showing's fresh controls, the
// no-recorder state, menu hints in the status bar, the session line sized
// to its text, the recorder-scan splash window and the help file.
#include "SoonCall.h"
#include "TempFolder.h"
#include "app/Main.h"
#include "app/Messages.h"
#include "app/LoadWait.h"
#include "app/Recorders.h"
#include "shell/explorer/LazyCheckStorage.h"
#include "framework/Dialogs.h"
#include "framework/SysUtils.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <fstream>

using namespace krv;

namespace {

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        Application().Initialize();
        LoadLanguageStrings(TLang());
        appDir = krvtest::NewTempFolder("krv_window");
        SetMessageBoxHook([](const std::string&, const std::string&, UINT) { return IDOK; });
    }
    void TearDown() override {
        SetMessageBoxHook(nullptr);
        krvtest::RemoveFolderTree(appDir);
    }
    // A window with the disc tools and one recorder, shown, one folder ticked.
    std::unique_ptr<TMainForm> ShownWithRecorder(bool checked = true) {
        ::CreateDirectoryA((appDir + "tools").c_str(), nullptr);
        for (const char* f : {"tools\\mkisofs.exe", "tools\\cdrecord.exe", "tools\\cygwin1.dll"})
            std::ofstream(appDir + f) << "x";
        auto form = std::make_unique<TMainForm>(appDir, std::vector<std::string>{});
        TMainForm* f = form.get();
        f->DiscoverRecorders = [f] {
            f->DeviceCombo->AddItem("0,0,0 'WRITER' 'DVD-RW'");
            f->DevicesFound = true;
        };
        f->FormShow();
        if (checked) {
            // Ticked as a loaded session ticks it: through the tree's storage.
            TStringList ticked;
            ticked.Add(appDir);
            f->DirTree->GetStorage()->SetCheckedPaths(ticked);
            f->UpdateStartButton();
        }
        return form;
    }
    static std::string SystemDir() {
        char system[MAX_PATH] = {};
        ::GetSystemDirectoryA(system, MAX_PATH);
        return system;
    }
    std::string appDir;
};

} // namespace

TEST_F(MainWindow, FirstShowingShowsAFreshRecordAndLetsStartFollowTheTicks) {
    auto form = ShownWithRecorder();
    // A fresh record says rewritable: the first disc run blanks.
    EXPECT_TRUE(form->CheckRW->Checked());
    form->FormToSession();
    EXPECT_TRUE(form->Session.RWDisk);
    EXPECT_TRUE(form->SubFoldersCheck->Checked());
    EXPECT_EQ(form->HDFolderEdit->Text(), "");
    EXPECT_EQ(form->LabelSize->Caption(), "0 bytes");
    // A disc backup with a ticked folder can start at once.
    EXPECT_EQ(form->Mode, 0);
    EXPECT_TRUE(form->ButtonStart->Enabled());
    EXPECT_FALSE(form->Session.Modified);

    auto none = std::make_unique<TMainForm>(appDir, std::vector<std::string>{});
    none->FormShow();
    EXPECT_FALSE(none->ButtonStart->Enabled());
}

TEST_F(MainWindow, TypingAFolderMarksTheSessionHidesTheWarningsAndReEvaluatesStart) {
    auto form = ShownWithRecorder();
    const std::string missing = appDir + "no_such_folder";
    form->HDFolderEdit->SetText(missing);
    form->BtnHDBackupClick();
    EXPECT_EQ(form->Mode, 1);
    EXPECT_FALSE(form->ButtonStart->Enabled());     // a folder that is not there
    EXPECT_EQ(form->LabelDestFreeSpace->Caption(), "");

    form->LabelSizeWarning->Show();
    form->LabelNetSpaceWarning->Show();
    form->Session.Modified = false;
    form->HDFolderEdit->SetText(appDir);              // corrected
    EXPECT_TRUE(form->Session.Modified);
    EXPECT_FALSE(form->LabelSizeWarning->Visible());
    EXPECT_FALSE(form->LabelNetSpaceWarning->Visible());
    EXPECT_TRUE(form->ButtonStart->Enabled());

    form->HDFolderEdit->SetText(ExcludeTrailingBackslash(appDir) + ".");   // read as Windows reads it
    EXPECT_TRUE(form->ButtonStart->Enabled());
    form->HDFolderEdit->SetText(missing);
    EXPECT_FALSE(form->ButtonStart->Enabled());
    // Back to disc: the hard-disk folder no longer matters.
    form->BtnDiscBackupClick();
    EXPECT_TRUE(form->ButtonStart->Enabled());
}

TEST_F(MainWindow, HardDiskButtonChecksTheFolderAgain) {
    auto form = ShownWithRecorder();
    form->HDFolderEdit->SetText(appDir);
    EXPECT_EQ(form->LabelDestFreeSpace->Caption(), "");   // not checked while on disc
    form->BtnHDBackupClick();
    EXPECT_EQ(form->LabelDestFreeSpace->Caption().rfind("Free space: ", 0), 0u) << form->LabelDestFreeSpace->Caption();
    EXPECT_TRUE(form->ButtonStart->Enabled());

    // The folder went away while disc mode was on.
    const std::string gone = appDir + "gone";
    ::CreateDirectoryA(gone.c_str(), nullptr);
    form->HDFolderEdit->SetText(gone);
    form->BtnDiscBackupClick();
    ::RemoveDirectoryA(gone.c_str());
    form->BtnHDBackupClick();
    EXPECT_EQ(form->LabelDestFreeSpace->Caption(), "");
    EXPECT_FALSE(form->ButtonStart->Enabled());
}

TEST_F(MainWindow, FolderButtonBrowsesFromTheEditAndTakesTheChoice) {
    auto form = ShownWithRecorder();
    form->BtnHDBackupClick();
    EXPECT_EQ(form->Find<TButton>("HDFolderButton"), form->HDFolderButton);
    int button = IDOK;
    std::string preset;
    form->DirHD->OnShow = [&](TObject*) {
        preset = form->DirHD->SelectedFolder();
        ::PostMessageA(form->DirHD->DialogHandle(), WM_COMMAND, button, 0);
    };
    auto guard = [&] {
        return std::make_unique<SoonCall>([&] {
            if (HWND d = form->DirHD->DialogHandle()) ::PostMessageA(d, WM_COMMAND, IDCANCEL, 0);
        }, 15000);
    };
    auto first = guard();
    form->HDFolderEdit->SetText(SystemDir() + "\\");
    form->HDFolderButtonClick();
    EXPECT_EQ(preset, SystemDir());
    EXPECT_TRUE(SameText(form->HDFolderEdit->Text(), SystemDir())) << form->HDFolderEdit->Text();
    EXPECT_EQ(form->LabelDestFreeSpace->Caption().rfind("Free space: ", 0), 0u);
    EXPECT_TRUE(form->ButtonStart->Enabled());

    button = IDCANCEL;
    auto second = guard();
    form->HDFolderEdit->SetText(appDir + "typed");
    form->HDFolderButtonClick();
    EXPECT_EQ(form->HDFolderEdit->Text(), appDir + "typed");   // Cancel keeps what was typed
}

TEST_F(MainWindow, NoRecorderDisablesTheDiscControlsByTheirNames) {
    auto form = ShownWithRecorder();
    ASSERT_TRUE(form->DeviceLabel->Enabled());
    DisableDiscBackup(*form);
    EXPECT_EQ(form->Find<TLabel>("DeviceLabel"), form->DeviceLabel);
    EXPECT_EQ(form->Find<TLabel>("LabelWarnDelCDR"), form->LabelWarnDelCDR);
    for (TControl* c : {static_cast<TControl*>(form->DeviceLabel), static_cast<TControl*>(form->DeviceCombo),
                        static_cast<TControl*>(form->CheckRW), static_cast<TControl*>(form->BtnDiscBackup),
                        static_cast<TControl*>(form->LabelWarnDelCDR)})
        EXPECT_FALSE(c->Enabled()) << c->Name();
    EXPECT_TRUE(form->NoBurner);
    EXPECT_EQ(form->Mode, 1);
}

TEST_F(MainWindow, MenuHintsShowInTheStatusBarWhileMenusAreBrowsed) {
    auto form = ShownWithRecorder();
    const HWND wnd = form->Handle();
    const std::string session = form->StatusBar->PanelText(0);
    // A command item, then a submenu's entry on the bar (by position).
    ::SendMessageA(wnd, WM_MENUSELECT, MAKEWPARAM(form->HelpTopics->Command(), MF_STRING),
                   reinterpret_cast<LPARAM>(form->HelpMenu->SubMenu()));
    EXPECT_TRUE(form->StatusBar->SimplePanel());
    EXPECT_EQ(form->StatusBar->SimpleText(), "Open the help file");
    ::SendMessageA(wnd, WM_MENUSELECT, MAKEWPARAM(1, MF_POPUP), reinterpret_cast<LPARAM>(form->MainMenu->Handle()));
    EXPECT_EQ(form->StatusBar->SimpleText(), "Options, report and shortcut");
    // A separator has no hint; the closed menu gives the panels back.
    ::SendMessageA(wnd, WM_MENUSELECT, MAKEWPARAM(0, MF_SEPARATOR), reinterpret_cast<LPARAM>(form->FileMenu->SubMenu()));
    EXPECT_FALSE(form->StatusBar->SimplePanel());
    ::SendMessageA(wnd, WM_MENUSELECT, MAKEWPARAM(form->ExitMenu->Command(), MF_STRING),
                   reinterpret_cast<LPARAM>(form->FileMenu->SubMenu()));
    EXPECT_EQ(form->StatusBar->SimpleText(), "Close the program");
    ::SendMessageA(wnd, WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);
    EXPECT_FALSE(form->StatusBar->SimplePanel());
    EXPECT_EQ(form->StatusBar->PanelText(0), session);
    EXPECT_EQ(::SendMessageA(form->StatusBar->Handle(), SB_ISSIMPLE, 0, 0), FALSE);
}

TEST_F(MainWindow, SessionLineKeepsItsLastBackupTimeWhole) {
    auto form = ShownWithRecorder();
    form->SessionFileArg = appDir + "s.xml";
    form->Session.SessionName = "Weekly backup of the accounting office";
    form->Session.LastSave = Now();
    form->Session.LastBackup = Now();
    form->ShowSessionStatus();
    const std::string text = form->StatusBar->PanelText(0);
    ASSERT_NE(text.find("Last backup: " + DateTimeToStr(form->Session.LastBackup)), std::string::npos) << text;

    const HWND bar = form->StatusBar->Handle();
    SIZE size{};
    {
        WindowDC dc(bar);
        SelectObjectScope font(dc.get(), reinterpret_cast<HFONT>(::SendMessageA(bar, WM_GETFONT, 0, 0)));
        ::GetTextExtentPoint32A(dc.get(), text.c_str(), static_cast<int>(text.size()), &size);
    }
    RECT part{};
    ASSERT_TRUE(::SendMessageA(bar, SB_GETRECT, 0, reinterpret_cast<LPARAM>(&part)));
    EXPECT_GE(part.right - part.left, size.cx + 4) << text;
    // A short line gives the room back, down to the panel's least width.
    form->SessionFileArg.clear();
    form->ShowSessionStatus();
    ASSERT_TRUE(::SendMessageA(bar, SB_GETRECT, 0, reinterpret_cast<LPARAM>(&part)));
    EXPECT_LT(part.right - part.left, size.cx);
}

TEST_F(MainWindow, RecorderScanWindowIsBorderlessAndShowsItsPicture) {
    auto form = ShownWithRecorder();
    TFormSplashScreen splash(form.get(), appDir);
    const LONG style = ::GetWindowLongA(splash.HandleNeeded(), GWL_STYLE);
    EXPECT_FALSE(style & WS_CAPTION);
    EXPECT_FALSE(style & WS_THICKFRAME);
    ASSERT_NE(splash.ImageSplash, nullptr);
    EXPECT_GT(splash.ImageSplash->Picture().Width(), 0);
    // The texts sit below the picture, not on it.
    const RECT picture = splash.ImageSplash->BoundsRect();
    for (TLabel* label : {splash.LabelWaitTask, splash.LabelWait2, splash.LabelWaitProgress, splash.LabelVersion})
        EXPECT_GE(label->Top(), picture.bottom) << label->Name();
    EXPECT_LE(splash.LabelVersion->BoundsRect().bottom, splash.ClientHeight());
}

TEST_F(MainWindow, HelpTopicsOpensTheHelpFileBesideTheProgramInTheViewer) {
    const std::string built = ProgramFolder() + "..\\dist\\krv.chm";
    ASSERT_TRUE(FileExists(built)) << built;
    ASSERT_TRUE(::CopyFileA(built.c_str(), (appDir + "krv.chm").c_str(), FALSE));
    auto form = ShownWithRecorder();
    form->LogEdit->Clear();
    form->HelpTopicsClick();
    // The viewer is another program: wait (bounded) for its window.
    HWND viewer = nullptr;
    const DWORD start = ::GetTickCount();
    while (!viewer && ::GetTickCount() - start < 120000) {   // bounded against a hang only
        viewer = ::FindWindowA("HH Parent", nullptr);
        if (!viewer) Application().HandleOneMessage(false), ::Sleep(50);
    }
    ASSERT_NE(viewer, nullptr);
    char title[256] = {};
    ::GetWindowTextA(viewer, title, sizeof title);
    EXPECT_EQ(std::string(title), "Korvane Help");
    EXPECT_EQ(form->LogEdit->LineCount(), 0);   // no "Cannot open the help file"
    ::PostMessageA(viewer, WM_CLOSE, 0, 0);
}

// How the window is built and what the user's actions leave; language files
// and handlers reach the mail labels by these names.
TEST_F(MainWindow, WindowStateAfterTheUsersActions) {
    const std::pair<const char*, std::function<bool(TMainForm&)>> cases[] = {
        {"unticking the last folder leaves Start enabled", [](TMainForm& f) {
             f.DirTree->GetStorage()->SetCheckedPaths(TStringList());
             f.UpdateStartButton();
             return f.ButtonStart->Enabled(); }},
        {"Reset leaves the login box", [](TMainForm& f) {
             f.LoginCheck->SetChecked(true);
             f.ButtonReset->Click();
             return f.LoginCheck->Checked(); }},
        {"the tree sizes column 0, no sort glyphs", [](TMainForm& f) {
             return f.DirTree->Header().AutoSizeIndex() == 0 && !f.DirTree->Header().Options().Contains(hoShowSortGlyphs); }},
        {"the load window's text is centred", [](TMainForm& f) {
             return (::GetWindowLongA(TFormLoadWait(f).LabelWait->HandleNeeded(), GWL_STYLE) & SS_TYPEMASK) == SS_CENTER; }},
        {"the mail labels follow their boxes", [](TMainForm& f) {
             f.LoginCheck->SetChecked(false);
             f.MailCheck->SetChecked(true);
             auto on = [&f](const char* name) { return f.Find<TLabel>(name) && f.Find<TLabel>(name)->Enabled(); };
             return on("AddressLabel") && on("SMTPLabel") && !on("MailUserLabel") && !on("MailPassLabel"); }},
    };
    for (const auto& [what, holds] : cases) EXPECT_TRUE(holds(*ShownWithRecorder())) << what;
}
