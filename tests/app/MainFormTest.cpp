#include "TempFolder.h"
#include "app/Log.h"
#include "app/Main.h"
#include "app/Messages.h"
#include "app/ViewLog.h"
#include "framework/Dialogs.h"
#include "framework/FileDialogs.h"
#include "framework/IniFiles.h"
#include "framework/SysUtils.h"
#include <gtest/gtest.h>
#include <fstream>

using namespace krv;

namespace {

// A program folder of its own per test, removed afterwards.
class ProgramFolderFixture : public ::testing::Test {
protected:
    void SetUp() override {
        Application().Initialize();
        appDir = krvtest::NewTempFolder("krv_main");
    }
    void TearDown() override {
        SetMessageBoxHook(nullptr);
        krvtest::RemoveFolderTree(appDir);
    }
    void Touch(const std::string& name) { std::ofstream(appDir + name) << "x"; }
    // The log panel's lines, each with its colour.
    static std::vector<std::pair<std::string, TColor>> PanelLines(TMainForm& f) {
        std::vector<std::pair<std::string, TColor>> out;
        for (int i = 0; i < f.LogEdit->LineCount(); ++i) out.emplace_back(f.LogEdit->Line(i), f.LogEdit->LineColor(i));
        return out;
    }
    std::string appDir;
};

} // namespace

TEST_F(ProgramFolderFixture, FirstStartMakesTheFoldersAndTheSettingsFileAndLogsMissingTools) {
    TMainForm form(appDir, {});
    EXPECT_TRUE(DirectoryExists(appDir + "temp"));
    EXPECT_TRUE(::GetFileAttributesA((appDir + "temp").c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(DirectoryExists(appDir + "tools"));
    EXPECT_TRUE(DirectoryExists(appDir + "lang"));

    form.FormShow();
    EXPECT_EQ(form.Caption(), "Korvane 0.9.1");
    EXPECT_TRUE(form.NoBurner);
    EXPECT_EQ(form.Mode, bmHardDisk);
    EXPECT_FALSE(form.BtnDiscBackup->Enabled());
    EXPECT_TRUE(form.BtnHDBackup->Down());
    EXPECT_TRUE(form.PanelHD->Visible());
    EXPECT_FALSE(form.PanelCD->Visible());

    auto lines = PanelLines(form);
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[0], std::make_pair(std::string("File \"mkisofs.exe\" not found."), clRed));
    EXPECT_EQ(lines[1], std::make_pair(std::string("File \"cdrecord.exe\" not found."), clRed));
    EXPECT_EQ(lines[2], std::make_pair(std::string("File \"cygwin1.dll\" not found."), clRed));
    EXPECT_EQ(lines[3], std::make_pair(std::string("Korvane 0.9.1 starting..."), clBlack));
    EXPECT_EQ(lines[4], std::make_pair(std::string("Folders tree generated"), clBlue));
    EXPECT_EQ(lines[5], std::make_pair(KV_NoCDBackup, clRed));
    // "Scanning drives..." is a black detail line: report only (level 3 > report level 1).
    for (auto& l : lines) EXPECT_NE(l.first, "Scanning drives...");

    // The temp folder setting was empty: reset to the default and written.
    TIniFile ini(form.SettingsFile());
    EXPECT_EQ(ini.ReadString("KRV", "TempDir", ""), appDir + "temp");
    EXPECT_EQ(ini.ReadInteger("KRV", "LogLevel", -1), 1);
    EXPECT_EQ(form.TempDir, appDir + "temp");

    ASSERT_EQ(form.ComboLog->ItemCount(), 4);
    EXPECT_EQ(form.ComboLog->Item(0), "No report");
    EXPECT_EQ(form.ComboLog->Item(3), "Full");
    EXPECT_EQ(form.ComboLog->ItemIndex(), 1);
    EXPECT_EQ(form.StatusBar->PanelText(0), "Session never saved");
    EXPECT_FALSE(form.Session.Modified);
    EXPECT_EQ(form.EditArchiveName->Text().rfind("Backup_", 0), 0u);
    EXPECT_EQ(form.EditArchiveName->Text().find('/'), std::string::npos);
    EXPECT_EQ(ExtractFileExt(form.EditArchiveName->Text()), ".zip");
    // Controls are found by name.
    EXPECT_EQ(form.Find<TRichLog>("LogEdit"), form.LogEdit);
    EXPECT_EQ(form.Find<TSplitter>("splittertree"), form.SplitterTree);
    EXPECT_EQ(form.Find<TMenuItem>("ViewSavedLog"), form.ViewSavedLog);
}

TEST_F(ProgramFolderFixture, AnExistingTempFolderKeepsItsAttributesAndAllToolsEnableDiscs) {
    ::CreateDirectoryA((appDir + "temp").c_str(), nullptr);
    ::CreateDirectoryA((appDir + "tools").c_str(), nullptr);
    for (const char* f : {"tools\\mkisofs.exe", "tools\\cdrecord.exe", "tools\\cygwin1.dll"}) Touch(f);
    TMainForm form(appDir, {});
    EXPECT_FALSE(::GetFileAttributesA((appDir + "temp").c_str()) & FILE_ATTRIBUTE_HIDDEN);
    bool discovered = false;
    form.DiscoverRecorders = [&] { discovered = true; form.DevicesFound = true; };
    form.FormShow();
    EXPECT_FALSE(form.NoBurner);
    EXPECT_TRUE(discovered);
    EXPECT_EQ(form.Mode, bmDisc);
    EXPECT_TRUE(form.BtnDiscBackup->Down());
    EXPECT_EQ(form.BtnDiscBackup->ImageIndex(), 0);
    EXPECT_EQ(form.BtnHDBackup->ImageIndex(), 1);
    auto lines = PanelLines(form);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].first, "Korvane 0.9.1 starting...");
    EXPECT_EQ(lines.back(), std::make_pair(std::string("Korvane 0.9.1 ready"), clBlue));

    form.BtnHDBackup->Click();
    EXPECT_EQ(form.Mode, bmHardDisk);
    EXPECT_EQ(form.BtnDiscBackup->ImageIndex(), 1);
    EXPECT_EQ(form.BtnHDBackup->ImageIndex(), 0);
    EXPECT_TRUE(form.Session.Modified);
}

TEST_F(ProgramFolderFixture, ReportLevelAndDebugSettingFilterTheTwoSinks) {
    TMainForm form(appDir, {});
    form.ReportLines.Clear();
    form.LogEdit->Clear();
    form.Session.Log = 0;
    form.AddLog("level0 red", 1, 0, 0);
    form.AddLog("level2 black", 0, 2, 0);
    form.AddLog("detail black", 0, 0, 1);
    form.AddLog("detail blue", 2, 0, 1);
    form.AddLog("debug red", 1, 0, 2);
    EXPECT_EQ(form.ReportLines.Count(), 4);      // all but the level-2 line
    auto lines = PanelLines(form);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].first, "level0 red");
    EXPECT_EQ(lines[1].first, "level2 black");
    EXPECT_EQ(lines[2], std::make_pair(std::string("detail blue"), clBlue));

    form.Settings.Log = true;                      // "High level debug"
    form.ComboLog->SetItems({"a", "b", "c", "d"});
    form.ComboLog->SetItemIndex(3);
    form.ComboLogChange();
    EXPECT_EQ(form.Session.Log, 3);
    form.AddLog("debug shown", 1, 3, 2);
    form.AddLog("detail shown", 0, 3, 1);
    EXPECT_EQ(PanelLines(form).size(), 5u);
    EXPECT_EQ(form.ReportLines[form.ReportLines.Count() - 1], "detail shown");

    form.ButtonClearClick();                        // the panel only
    EXPECT_EQ(form.LogEdit->LineCount(), 0);
    EXPECT_EQ(form.ReportLines.Count(), 6);

    // The panel keeps its last lines, the report all; a minimized window
    // lays out none until it is back, then all it kept, in order.
    std::vector<std::string> many;
    for (int i = 0; i < kLogPanelLines + 200; ++i) many.push_back(Format("left out %d", i));
    form.AddLogLines(many, 1, 0, 0);
    EXPECT_EQ(form.LogEdit->LineCount(), kLogPanelLines);
    EXPECT_EQ(form.ReportLines.Count(), 6 + kLogPanelLines + 200);
    form.Show();   // its first showing logs lines of its own
    ::ShowWindow(form.Handle(), SW_MINIMIZE);
    TRichLog& panel = *form.LogEdit;
    const std::string lastShown = panel.Line(panel.LineCount() - 1);
    form.AddLog("while minimized", 2, 0, 0);
    form.AddLogLines({"red one", "red two"}, 1, 0, 0);
    EXPECT_EQ(panel.Line(panel.LineCount() - 1), lastShown) << "laid out while nobody can see it";
    ::ShowWindow(form.Handle(), SW_RESTORE);
    const int shown = panel.LineCount();
    EXPECT_EQ(shown, kLogPanelLines);
    EXPECT_EQ(panel.Line(shown - 3), "while minimized");
    EXPECT_EQ(panel.LineColor(shown - 3), clBlue);
    EXPECT_EQ(panel.Line(shown - 1), "red two");
    EXPECT_EQ(panel.LineColor(shown - 1), clRed);
}

TEST_F(ProgramFolderFixture, LogPanelToggleTwiceReturnsTheWindowToItsHeight) {
    TMainForm form(appDir, {});
    form.FormShow();
    int height = form.Height(), minHeight = form.Constraints.MinHeight, panel = form.PanelLog->Height();
    int pageHeight = form.PageControl->Height();
    form.ButtonViewLogClick();
    EXPECT_FALSE(form.LogPanelShown());
    EXPECT_FALSE(form.PanelLog->Visible());
    EXPECT_FALSE(form.ButtonClear->Visible());
    EXPECT_EQ(form.ButtonViewLog->Caption(), "Show Log");
    EXPECT_EQ(form.ButtonViewLog->ImageIndex(), 1);
    EXPECT_EQ(form.Height(), height - panel);
    EXPECT_EQ(form.Constraints.MinHeight, minHeight - panel);
    EXPECT_EQ(form.PageControl->Height(), pageHeight);   // the pages keep their room
    form.ButtonViewLogClick();
    EXPECT_TRUE(form.LogPanelShown());
    EXPECT_EQ(form.ButtonViewLog->Caption(), "Hide Log");
    EXPECT_EQ(form.Height(), height);
    EXPECT_EQ(form.Constraints.MinHeight, minHeight);
    EXPECT_EQ(form.PanelLog->Height(), panel);
    EXPECT_EQ(form.PageControl->Height(), pageHeight);
}

TEST_F(ProgramFolderFixture, StartsWithTheLogPanelHiddenWhenTheSettingSaysSo) {
    {
        TSettings s;
        s.ViewLogPanel = false;
        s.LogLevel = 3;
        s.Lang = appDir + "lang\\missing.lang";
        WriteSettings(SettingsFileName(appDir), s);
    }
    TMainForm form(appDir, {});
    // The language file could not be read: English, the setting cleared and saved.
    EXPECT_TRUE(form.Settings.Lang.empty());
    EXPECT_EQ(TIniFile(form.SettingsFile()).ReadString("KRV", "Lang", "?"), "");
    EXPECT_EQ(form.ReportLines[0], KV_LangFileError);
    form.FormShow();
    EXPECT_FALSE(form.LogPanelShown());
    EXPECT_FALSE(form.PanelLog->Visible());
    EXPECT_EQ(form.ComboLog->ItemIndex(), 3);
}

TEST_F(ProgramFolderFixture, CheckBoxHandlersMarkTheSessionAndLog) {
    TMainForm form(appDir, {});
    form.FormShow();
    form.Session.Log = 3;                          // "Full": level-3 lines reach the report
    form.Session.Modified = false;
    form.SubFoldersCheck->Click();
    EXPECT_TRUE(form.Session.Modified);
    EXPECT_EQ(form.ReportLines[form.ReportLines.Count() - 1], "Include SubFolders OFF");
    form.CheckFilters->Click();
    EXPECT_TRUE(form.EditInclusionMask->Enabled());
    EXPECT_TRUE(form.LabelExclusionMask->Enabled());
    form.CheckFilters->Click();
    EXPECT_FALSE(form.EditExclusionMask->Enabled());
    int before = form.ReportLines.Count();
    form.CloseKVCheck->Click();                     // no recorder found: nothing logged
    EXPECT_EQ(form.ReportLines.Count(), before);
    form.DevicesFound = true;
    form.CloseKVCheck->Click();
    EXPECT_EQ(form.ReportLines[form.ReportLines.Count() - 1], " will not close after the backup");
}

TEST_F(ProgramFolderFixture, ToolsMenuAndStatusLineFollowTheSession) {
    TMainForm form(appDir, {});
    form.ReportLines.Clear();
    form.ToolsMenuClick();
    EXPECT_FALSE(form.ViewSavedLog->Enabled());
    EXPECT_FALSE(form.GenerateSessionLink->Enabled());
    form.AddLog("something", 0, 0, 0);
    form.Session.NeverSaved = false;
    form.ToolsMenuClick();
    EXPECT_TRUE(form.ViewSavedLog->Enabled());
    EXPECT_TRUE(form.GenerateSessionLink->Enabled());

    form.ShowSessionStatus();
    EXPECT_EQ(form.StatusBar->PanelText(0), "Session never saved");
    form.SessionFileArg = "C:\\jobs\\daily.xml";
    form.Session.SessionName = "Daily";
    form.Session.LastSave = SystemTimeToDateTime(SYSTEMTIME{2026, 12, 1, 7, 10, 30, 0, 0});
    form.ShowSessionStatus();
    std::string text = form.StatusBar->PanelText(0);
    EXPECT_EQ(text.rfind("Loaded session name: Daily  -  Last save: " + DateTimeToStr(form.Session.LastSave), 0), 0u) << text;
    EXPECT_NE(text.find("  -  Last backup: Never"), std::string::npos) << text;
}

TEST_F(ProgramFolderFixture, ClosingAModifiedSessionAsksAndNeverLosesIt) {
    TMainForm form(appDir, {});
    int asked = 0;
    int answer = IDCANCEL;
    SetMessageBoxHook([&](const std::string& text, const std::string& title, UINT flags) {
        ++asked;
        EXPECT_EQ(text, "The Session has been modified, do you want to save it?");
        EXPECT_EQ(title, "Session modified");
        EXPECT_EQ(flags, 51u);
        return answer;
    });
    TCloseAction action = caFree;
    form.FormClose(action);                          // not modified: no question
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(action, caFree);

    form.Session.Modified = true;
    form.FormClose(action);
    EXPECT_EQ(action, caNone);                       // Cancel
    answer = IDYES;
    action = caFree;
    SetFileDialogHook([](TFileDialog&) { return false; });
    form.FormClose(action);
    SetFileDialogHook(nullptr);
    EXPECT_EQ(action, caNone);                       // Save As cancelled: stay open
    bool saved = false;
    form.SaveSession = [&] { saved = true; return true; };
    action = caFree;
    form.FormClose(action);
    EXPECT_TRUE(saved);
    EXPECT_EQ(action, caFree);
    answer = IDNO;
    form.FormClose(action);
    EXPECT_EQ(action, caFree);

    KorvaneState().MailBusy = true;
    form.FormClose(action);
    EXPECT_EQ(action, caNone);
    EXPECT_TRUE(KorvaneState().CloseWhenMailDone);
    KorvaneState().MailBusy = KorvaneState().CloseWhenMailDone = false;
}

TEST_F(ProgramFolderFixture, SaveReportMendsAMissingTempFolderAndABadSessionName) {
    TMainForm form(appDir, {});
    form.FormShow();
    form.Session.SessionName = "daily: C/D?";
    form.AddLog("report line", 0, 0, 0);
    ::SetFileAttributesA(form.TempDir.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(::RemoveDirectoryA(form.TempDir.c_str()));
    EXPECT_NO_THROW(form.SaveReport());
    std::string file = form.TempDir + "\\daily_ C_D_.log";
    EXPECT_TRUE(FileExists(file));
    EXPECT_NE(form.ReportLines[form.ReportLines.Count() - 1].find("created again"), std::string::npos);
    form.TempDir = "Q:\\nowhere";
    EXPECT_NO_THROW(form.SaveReport());
    EXPECT_EQ(form.LogEdit->LineColor(form.LogEdit->LineCount() - 1), clRed);
}

TEST_F(ProgramFolderFixture, ReportViewerShowsTheReportAndClosesWithOne) {
    TMainForm form(appDir, {});
    form.ReportLines.Clear();
    form.AddLog("first", 0, 0, 0);
    form.AddLog("second", 0, 0, 0);
    TFormViewLog viewer(&form);
    viewer.MemoLog->SetLines(form.ReportLines);
    TTimer timer(&viewer);
    timer.SetInterval(1);
    std::string caption;
    timer.OnTimer = [&](TObject*) {
        timer.SetEnabled(false);
        caption = viewer.Caption();
        EXPECT_EQ(viewer.MemoLog->LineCount(), 2);
        EXPECT_EQ(viewer.MemoLog->Line(1), "second");
        // Escape answers the close button.
        ::SendMessageA(viewer.Handle(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    };
    EXPECT_EQ(viewer.ShowModal(), 1);
    EXPECT_EQ(caption, "Korvane :: View Report");
}

TEST_F(ProgramFolderFixture, SplitterLeavesThePageControlItsMinimumWidth) {
    TMainForm form(appDir, {});
    form.HandleNeeded();
    int limit = form.ClientWidth() - TMainForm::kPageControlMinWidth - form.SplitterTree->Width();
    int size = limit;
    bool accept = true;
    form.SplitterTreeCanResize(size, accept);
    EXPECT_TRUE(accept);
    size = limit + 1;
    form.SplitterTreeCanResize(size, accept);
    EXPECT_FALSE(accept);
    EXPECT_EQ(form.SplitterTree->ResizeControl(), form.PanelTree);
}
