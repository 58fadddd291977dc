#include "CloseWays.h"
#include "SessionFixture.h"
#include "app/LoadWait.h"
#include "app/Main.h"
#include "app/Messages.h"
#include "app/SessionLinkForm.h"
#include "framework/Dialogs.h"
#include "framework/FileDialogs.h"
#include "shell/item/ShellLink.h"
#include "shell/base/WideStrUtils.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <deque>
#include <fstream>

using namespace krv;

namespace {

struct Box {
    std::string text, caption;
    UINT flags;
};

// A program folder, a main window shown once, and scripted answers to the
// message boxes and file dialogs it raises.
class SessionFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        Application().Initialize();
        SetMessageBoxHook([this](const std::string& text, const std::string& caption, UINT flags) {
            boxes.push_back({text, caption, flags});
            if (boxAnswers.empty()) {
                ADD_FAILURE() << "unexpected box: " << text;
                return IDCANCEL;
            }
            int a = boxAnswers.front();
            boxAnswers.pop_front();
            return a;
        });
        SetFileDialogHook([this](TFileDialog& d) {
            dialogs.push_back(std::string(d.IsSaveDialog() ? "save:" : "open:") + d.Title);
            if (dialogAnswers.empty()) return false;   // Cancel
            d.FileName = dialogAnswers.front();
            dialogAnswers.pop_front();
            return true;
        });
    }
    void TearDown() override {
        form.reset();
        SetMessageBoxHook(nullptr);
        SetFileDialogHook(nullptr);
        KorvaneState().Batch = false;
    }
    TMainForm& Make(std::vector<std::string> params = {}) {
        form = std::make_unique<TMainForm>(app.Dir(), std::move(params));
        form->FormShow();
        return *form;
    }
    // Activation schedules the unattended run; it starts from the message loop.
    void Activate(TMainForm& f) {
        f.FormActivate();
        while (f.BatchPending()) Application().HandleOneMessage(true);
    }
    std::vector<std::string> ReportFile(const std::string& sessionName) const {
        std::vector<std::string> lines;
        std::ifstream in(form->TempDir + "/" + sessionName + ".log");
        for (std::string l; std::getline(in, l);) lines.push_back(l.substr(0, l.find('\r')));
        return lines;
    }
    bool Logged(const std::string& line, TColor colour) const {
        for (int i = 0; i < form->LogEdit->LineCount(); ++i)
            if (form->LogEdit->Line(i) == line && form->LogEdit->LineColor(i) == colour) return true;
        return false;
    }
    // A saved session file with mail, login and two folders.
    std::string WriteWeekly(bool mail = true, const std::string& exclusionMask = "") {
        TSessionData s;
        s.Reset();
        s.SessionName = "Weekly";
        s.ArchiveName = "Weekly.zip";
        s.MailActive = mail;
        s.DoLogin = true;
        s.Address = "ops@example.org";
        s.SMTP = "127.0.0.1";
        s.UserName = "user";
        s.Password = "secret";
        s.Type = bmHardDisk;
        s.DirHD = files.Dir();
        s.FiltersActive = true;
        s.InclusionMask = "*.doc";
        s.ExclusionMask = exclusionMask;
        s.SelectedFolders.Add("C:\\Data");
        s.UnselectedFolders.Add("C:\\Data\\Cache");
        const std::string path = files.Path("Weekly.xml");
        s.SaveToFile(path);
        return path;
    }

    SessionFolder app;
    SessionFolder files;
    std::unique_ptr<TMainForm> form;
    std::vector<Box> boxes;
    std::deque<int> boxAnswers;
    std::vector<std::string> dialogs;
    std::deque<std::string> dialogAnswers;
};

} // namespace

TEST_F(SessionFormTest, SaveAsNamesTheSessionAndALaterSaveNeedsNoDialog) {
    TMainForm& f = Make();
    f.EditArchiveName->SetText("Data.zip");
    f.AddressEdit->SetText("me@example.org");
    f.Session.Modified = true;

    // Cancelled Save As: nothing written, still modified.
    EXPECT_FALSE(f.SaveSessionClick());
    EXPECT_EQ(dialogs, std::vector<std::string>{"save:Save session..."});
    EXPECT_TRUE(f.Session.Modified);
    EXPECT_TRUE(f.Session.NeverSaved);

    const std::string daily = files.Path("Daily.xml");
    dialogAnswers = {daily};
    ASSERT_TRUE(f.SaveSessionClick());
    EXPECT_EQ(f.Session.SessionName, "Daily");
    EXPECT_EQ(f.SessionFileArg, daily);
    EXPECT_FALSE(f.Session.Modified);
    EXPECT_FALSE(f.Session.NeverSaved);
    EXPECT_TRUE(Logged("Session saved (" + daily + ")", clBlue));
    EXPECT_EQ(f.StatusBar->PanelText(0).rfind("Loaded session name: Daily  -  Last save: ", 0), 0u);

    TSessionData back;
    back.Reset();
    ASSERT_TRUE(back.LoadFromFile(daily));
    EXPECT_EQ(back.ArchiveName, "Data.zip");
    EXPECT_EQ(back.Address, "me@example.org");
    EXPECT_EQ(back.SessionName, "Daily");

    // Save again: the same file, no dialog.
    f.EditArchiveName->SetText("Other.zip");
    ASSERT_TRUE(f.SaveSessionClick());
    EXPECT_EQ(dialogs.size(), 2u);
    ASSERT_TRUE(back.LoadFromFile(daily));
    EXPECT_EQ(back.ArchiveName, "Other.zip");

    // The fields take no more than a load takes, and what Save writes loads again.
    f.EditArchiveName->SetText("");
    const std::string pasted(300, 'a');
    ::SendMessageA(f.EditArchiveName->HandleNeeded(), EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(pasted.c_str()));
    EXPECT_EQ(f.EditArchiveName->Text(), std::string(255, 'a'));
    ASSERT_TRUE(f.SaveSessionClick());
    ASSERT_TRUE(back.LoadFromFile(daily)) << back.LoadProblem;
    EXPECT_EQ(back.ArchiveName, std::string(255, 'a'));
    // A value put in past the field's limit: Save refuses, says why, writes nothing.
    f.MailPassEdit->SetText(std::string(256, 'p'));
    boxAnswers = {IDOK};
    EXPECT_FALSE(f.SaveSessionClick());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "The session is not saved, as it could not be loaded again: A value given is too long to "
                             "be used: Password holds 256 characters, the limit is 255.");
    ASSERT_TRUE(back.LoadFromFile(daily));
    EXPECT_EQ(back.Password, "");

    // The shortcut command is offered once the session has a file.
    f.ToolsMenuClick();
    EXPECT_TRUE(f.GenerateSessionLink->Enabled());
}

TEST_F(SessionFormTest, NewSessionAsksAboutChangesAndCancelKeepsEverything) {
    TMainForm& f = Make();
    const std::string daily = files.Path("Daily.xml");
    dialogAnswers = {daily};
    ASSERT_TRUE(f.SaveSessionAsClick());
    f.EditArchiveName->SetText("Kept.zip");
    f.Session.Modified = true;

    boxAnswers = {IDCANCEL};
    f.NewSessionClick();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "The Session has been modified, do you want to save it?");
    EXPECT_EQ(boxes[0].caption, "Session modified");
    EXPECT_EQ(boxes[0].flags, 51u);
    EXPECT_EQ(f.EditArchiveName->Text(), "Kept.zip");
    EXPECT_EQ(f.SessionFileArg, daily);
    EXPECT_TRUE(f.Session.Modified);

    // Yes, then the save writes the known file; then the new session.
    boxAnswers = {IDYES};
    f.NewSessionClick();
    TSessionData back;
    back.Reset();
    ASSERT_TRUE(back.LoadFromFile(daily));
    EXPECT_EQ(back.ArchiveName, "Kept.zip");
    EXPECT_TRUE(f.SessionFileArg.empty());
    EXPECT_TRUE(f.Session.NeverSaved);
    EXPECT_FALSE(f.Session.Modified);
    EXPECT_EQ(f.Session.SessionName, "Unsaved");
    EXPECT_EQ(f.EditArchiveName->Text().rfind("Backup_", 0), 0u);
    EXPECT_EQ(f.StatusBar->PanelText(0), "Session never saved");
    EXPECT_TRUE(f.SubFoldersCheck->Checked());
    EXPECT_TRUE(f.CheckRW->Checked());
    EXPECT_FALSE(f.ButtonStart->Enabled());

    // Yes whose Save As is cancelled: no new session, nothing lost.
    f.EditArchiveName->SetText("Unsaved work.zip");
    f.Session.Modified = true;
    boxAnswers = {IDYES};
    f.NewSessionClick();
    EXPECT_EQ(f.EditArchiveName->Text(), "Unsaved work.zip");
    EXPECT_TRUE(f.Session.Modified);

    // No: thrown away.
    boxAnswers = {IDNO};
    f.NewSessionClick();
    EXPECT_NE(f.EditArchiveName->Text(), "Unsaved work.zip");
    EXPECT_FALSE(f.Session.Modified);
}

TEST_F(SessionFormTest, NewSessionKeepsTheRecordsMailServerButEmptiesTheFields) {
    TMainForm& f = Make();
    dialogAnswers = {WriteWeekly()};
    f.LoadSessionClick();
    ASSERT_EQ(f.SMTPEdit->Text(), "127.0.0.1");
    f.NewSessionClick();
    EXPECT_EQ(f.SMTPEdit->Text(), "");
    EXPECT_FALSE(f.MailCheck->Checked());
    EXPECT_EQ(f.Session.SMTP, "127.0.0.1");
    // Reset makes a new record: nothing of the old one, but the file name stays.
    f.ButtonResetClick();
    EXPECT_EQ(f.Session.SMTP, "");
    EXPECT_EQ(f.SessionFileArg, "");
    EXPECT_TRUE(Logged("Interface cleared", clBlack));
}

TEST_F(SessionFormTest, LoadFillsTheControlsAndRefusesABadFileWithoutChanges) {
    TMainForm& f = Make();
    const std::string weekly = WriteWeekly();
    f.Session.Modified = true;

    // Cancel at the question: no dialog at all.
    boxAnswers = {IDCANCEL};
    f.LoadSessionClick();
    EXPECT_TRUE(dialogs.empty());

    // No, then Cancel in the dialog: nothing changes.
    boxAnswers = {IDNO};
    const std::string before = f.EditArchiveName->Text();
    f.LoadSessionClick();
    EXPECT_EQ(dialogs, std::vector<std::string>{"open:Open session..."});
    EXPECT_EQ(f.EditArchiveName->Text(), before);

    boxAnswers = {IDNO};
    dialogAnswers = {weekly};
    f.LoadSessionClick();
    EXPECT_EQ(f.EditArchiveName->Text(), "Weekly.zip");
    EXPECT_TRUE(f.MailCheck->Checked());
    EXPECT_TRUE(f.LoginCheck->Checked());
    EXPECT_TRUE(f.LoginCheck->Enabled());
    EXPECT_TRUE(f.MailUserEdit->Enabled()) << "login fields follow Server Login";
    EXPECT_EQ(f.MailPassEdit->Text(), "secret");
    EXPECT_TRUE(f.CheckFilters->Checked());
    EXPECT_TRUE(f.EditInclusionMask->Enabled());
    EXPECT_EQ(f.Mode, bmHardDisk);
    EXPECT_EQ(f.HDFolderEdit->Text(), files.Dir());
    EXPECT_TRUE(f.ButtonStart->Enabled());
    EXPECT_FALSE(f.Session.Modified);
    EXPECT_EQ(f.SessionFileArg, weekly);
    EXPECT_TRUE(Logged("Session loaded (Weekly)", clBlue));
    EXPECT_EQ(f.StatusBar->PanelText(0).rfind("Loaded session name: Weekly", 0), 0u);
    // Without a folder tree the loaded folders stay in the record and are saved again.
    dialogAnswers = {files.Path("Copy.xml")};
    ASSERT_TRUE(f.SaveSessionAsClick());
    TSessionData copy;
    copy.Reset();
    ASSERT_TRUE(copy.LoadFromFile(files.Path("Copy.xml")));
    EXPECT_EQ(copy.SelectedFolders.ToVector(), std::vector<std::string>{"C:\\Data"});
    EXPECT_EQ(copy.UnselectedFolders.ToVector(), std::vector<std::string>{"C:\\Data\\Cache"});
    EXPECT_EQ(copy.Password, "secret");

    // A broken file: box, red line, the previous session stays.
    const std::string bad = files.Write("Broken.xml", "<Korvane><SessionName value=\"x\"/></Korvane>");
    dialogAnswers = {bad};
    boxes.clear();
    boxAnswers = {IDOK};
    f.LoadSessionClick();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, bad + " is not a valid Korvane Session file.");
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].flags, 16u);
    EXPECT_TRUE(Logged(bad + " is not a valid Korvane Session file.", clRed));
    EXPECT_EQ(f.EditArchiveName->Text(), "Weekly.zip");
    EXPECT_EQ(f.Session.SessionName, "Copy");
    EXPECT_EQ(f.SessionFileArg, files.Path("Copy.xml"));
}

// The load window has no close box; a close that still reaches it before
// the load starts means no load: the session in the window stays whole.
TEST_F(SessionFormTest, ClosingTheLoadWindowBeforeTheLoadKeepsTheSession) {
    TMainForm& f = Make();
    const std::string weekly = WriteWeekly();
    const std::string before = f.EditArchiveName->Text();
    for (const krvtest::CloseWay& way : krvtest::CloseWays()) {
        SCOPED_TRACE(way.name);
        TFormLoadWait wait(f);
        wait.FileName = weekly;
        EXPECT_FALSE(krvtest::HasBorderIcons(wait.HandleNeeded()));
        krvtest::PostClose(wait.HandleNeeded(), way);
        EXPECT_EQ(wait.ShowModal(), mrCancel);
        EXPECT_FALSE(wait.Loaded);
        EXPECT_EQ(f.EditArchiveName->Text(), before);
        EXPECT_TRUE(f.SessionFileArg.empty());
    }
    TFormLoadWait wait(f);
    wait.FileName = weekly;
    EXPECT_EQ(wait.ShowModal(), mrOk);
    EXPECT_TRUE(wait.Loaded);
    EXPECT_EQ(f.EditArchiveName->Text(), "Weekly.zip");
}

TEST_F(SessionFormTest, ArchiveNameGetsZipAndForbiddenCharactersBlockStart) {
    TMainForm& f = Make();
    f.Mode = bmDisc;
    f.Session.SelectedFolders.Add(files.Dir());
    f.RestoreTreeChecks();
    struct Case {
        const char* typed;
        const char* shown;
        const char* refusal;   // the box's text begins so; none: valid
    };
    const char* const device = "The backup's file name is a device name";
    const char* const character = "There is a wrong character in the backup's file name.\r\n";
    for (const Case& c : {Case{"Data", "Data.zip", nullptr}, Case{"Data.zip", "Data.zip", nullptr},
                          Case{"Data.ZIP", "Data.ZIP.zip", nullptr}, Case{"a.zip.zip", "a.zip.zip.zip", nullptr},
                          Case{"back:up", "back:up.zip", character}, Case{"..\\up", "..\\up.zip", character},
                          Case{"NUL", "NUL.zip", device}, Case{"com0", "com0.zip", device},
                          Case{"Lpt9.x", "Lpt9.x.zip", device}}) {
        boxes.clear();
        if (c.refusal) boxAnswers = {IDOK};
        f.EditArchiveName->SetText(c.typed);
        f.EditArchiveNameExit();
        EXPECT_EQ(f.EditArchiveName->Text(), c.shown);
        EXPECT_EQ(f.ArchiveNameValid, !c.refusal) << c.typed;
        EXPECT_EQ(f.ButtonStart->Enabled(), !c.refusal) << c.typed;
        if (c.refusal) {
            ASSERT_EQ(boxes.size(), 1u) << c.typed;
            EXPECT_EQ(boxes[0].caption, "Warning!");
            EXPECT_EQ(boxes[0].text.find(c.refusal), 0u) << boxes[0].text;
        }
    }
}

TEST_F(SessionFormTest, EditsAndBoxesMarkTheSessionModified) {
    TMainForm& f = Make();
    auto modifiedBy = [&](const char* what, auto change) {
        f.Session.Modified = false;
        change();
        EXPECT_TRUE(f.Session.Modified) << what;
    };
    modifiedBy("archive", [&] { f.EditArchiveName->SetText("x.zip"); });
    modifiedBy("smtp", [&] { f.SMTPEdit->SetText("mail"); });
    modifiedBy("mask", [&] { f.EditExclusionMask->SetText("*.tmp"); });
    modifiedBy("mail", [&] { f.MailCheck->Click(); });
    modifiedBy("rw", [&] { f.CheckRW->Click(); });
    modifiedBy("login", [&] { f.LoginCheck->Click(); });
    // Mail off disables the mail fields; login fields need both boxes.
    f.MailCheck->SetChecked(false);
    EXPECT_FALSE(f.AddressEdit->Enabled());
    EXPECT_FALSE(f.LoginCheck->Enabled());
    EXPECT_FALSE(f.MailPassEdit->Enabled());
    f.MailCheck->SetChecked(true);
    f.LoginCheck->SetChecked(false);
    EXPECT_TRUE(f.SMTPEdit->Enabled());
    EXPECT_FALSE(f.MailUserEdit->Enabled());

    // A run drops mail options that cannot work.
    f.AddressEdit->SetText("");
    f.SMTPEdit->SetText("");
    f.ClearIncompleteMailOptions();
    EXPECT_FALSE(f.MailCheck->Checked());
}

TEST_F(SessionFormTest, BatchModeRunsOnceWithTheArchiveNameFromTheCommandLine) {
    const std::string weekly = WriteWeekly();
    TMainForm& f = Make({weekly, "Data"});
    int runs = 0;
    f.StartBackup = [&] {
        ++runs;
        EXPECT_TRUE(f.Session.CloseKRV);
        EXPECT_EQ(f.Session.ArchiveName, "Data.zip");
    };
    f.FormActivate();
    EXPECT_EQ(runs, 0);   // not from inside the activation
    f.FormActivate();
    while (f.BatchPending()) Application().HandleOneMessage(true);
    Activate(f);
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(KorvaneState().Batch);
    EXPECT_TRUE(Logged("The archive name has been changed to Data.zip", clRed));
    EXPECT_EQ(f.SessionFileArg, weekly);
    EXPECT_FALSE(f.Session.Modified);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(SessionFormTest, BatchModeAppendsZipByTheCaseSensitiveRule) {
    TMainForm& f = Make({WriteWeekly(), "Data.ZIP"});
    int runs = 0;
    f.StartBackup = [&] { ++runs; };
    Activate(f);
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(Logged("The archive name has been changed to Data.ZIP.zip", clRed));
}

// A session or command line that cannot be used never waits on a box: the
// reason is a red line, the report is saved, the window closes, and the exit
// code says the session could not be used.
TEST_F(SessionFormTest, BatchModeRefusesNamesThatLeaveTheDestination) {
    for (const char* arg : {"..\\..\\Windows\\evil", "C:\\elsewhere", "\\\\server\\share\\x", "a/b", "CON"}) {
        const std::string reason = std::string(arg) == "CON" ? "The backup's file name is a device name"
                                                             : "There is a wrong character in the backup's file name.";
        TMainForm& f = Make({WriteWeekly(false), arg});
        int runs = 0;
        f.StartBackup = [&] { ++runs; };
        Activate(f);
        EXPECT_EQ(runs, 0) << arg;
        EXPECT_FALSE(f.ButtonStart->Enabled()) << arg;
        bool red = false;
        for (int i = 0; i < f.LogEdit->LineCount(); ++i)
            red |= f.LogEdit->LineColor(i) == clRed && f.LogEdit->Line(i).find(reason) == 0;
        EXPECT_TRUE(red) << arg;
        EXPECT_EQ(f.ExitCode, ecUnusable) << arg;
        const auto report = ReportFile("Weekly");
        ASSERT_FALSE(report.empty()) << arg;
        EXPECT_EQ(report.back(), "Operation aborted") << arg;
    }
    // The same for a name that comes from the session file itself.
    TSessionData s;
    s.Reset();
    s.Type = bmHardDisk;
    s.ArchiveName = "..\\escape.zip";
    s.SelectedFolders.Add("C:\\Data");
    s.SaveToFile(files.Path("Escape.xml"));
    TMainForm& f = Make({files.Path("Escape.xml")});
    int runs = 0;
    f.StartBackup = [&] { ++runs; };
    Activate(f);
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(f.ExitCode, ecUnusable);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(SessionFormTest, BatchModeWithABadOrMissingFileSaysWhichAndExits) {
    struct Case {
        std::string file, text;
    } cases[] = {
        {files.Write("Bad.xml", "not xml at all"), " is not a valid Korvane Session file."},
        {files.Write("Cut.xml", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<Korvane ver=\"0.9.1\">\n<SessionN"),
         " is not a valid Korvane Session file."},
        {files.Path("Nowhere.xml"), " does not exist."},
    };
    for (const Case& c : cases) {
        TMainForm& f = Make({c.file});
        int runs = 0;
        f.StartBackup = [&] { ++runs; };
        Activate(f);
        f.FormActivate();   // activated again: nothing repeats
        EXPECT_FALSE(f.BatchPending());
        EXPECT_EQ(runs, 0);
        EXPECT_TRUE(Logged(c.file + c.text, clRed)) << c.file;
        EXPECT_EQ(f.ExitCode, ecUnusable);
        // The report carries the reason, under the name of the file given.
        const std::string name = ExtractFileName(c.file).substr(0, ExtractFileName(c.file).size() - 4);
        const auto report = ReportFile(name);
        EXPECT_NE(std::find(report.begin(), report.end(), c.file + c.text), report.end()) << c.file;
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(SessionFormTest, BatchModeDiscSessionWithoutRecorderIsRefusedWithoutABox) {
    TSessionData s;
    s.Reset();   // type 0: disc
    s.SessionName = "Disc";
    s.SelectedFolders.Add("C:\\Data");
    s.SaveToFile(files.Path("Disc.xml"));
    TMainForm& f = Make({files.Path("Disc.xml")});
    ASSERT_TRUE(f.NoBurner);
    int runs = 0;
    f.StartBackup = [&] { ++runs; };
    Activate(f);
    EXPECT_EQ(runs, 0);
    EXPECT_TRUE(boxes.empty());
    bool red = false;
    for (int i = 0; i < f.LogEdit->LineCount(); ++i)
        red |= f.LogEdit->LineColor(i) == clRed && f.LogEdit->Line(i).find("This Session requires a burning device") == 0;
    EXPECT_TRUE(red);
    EXPECT_EQ(f.ExitCode, ecUnusable);
    EXPECT_EQ(ReportFile("Disc").back(), "Operation aborted");
}

// The run starts after the window has been shown and painted, not from
// inside its activation.
TEST_F(SessionFormTest, BatchRunStartsFromTheMessageLoopOnAPaintedWindow) {
    TMainForm& f = Make({WriteWeekly(false)});
    bool visible = false, paintPending = true;
    int runs = 0;
    f.StartBatch = [&](const std::string&, const std::string&) {
        ++runs;
        visible = ::IsWindowVisible(f.Handle()) != 0;
        RECT r;
        paintPending = ::GetUpdateRect(f.Handle(), &r, FALSE) != 0;
    };
    f.Show();   // activation schedules the run
    EXPECT_EQ(runs, 0);
    while (f.BatchPending()) Application().HandleOneMessage(true);
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(visible);
    EXPECT_FALSE(paintPending);
}

TEST_F(SessionFormTest, ShortcutNeedsASavedSessionAndIsWrittenFromTheDialog) {
    TMainForm& f = Make();
    boxAnswers = {IDOK};
    f.GenerateSessionLinkClick();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Before generating a link to this session, you need to save it!");

    app.Write("korvane.exe", "MZ");
    dialogAnswers = {files.Path("Nightly.xml")};
    ASSERT_TRUE(f.SaveSessionAsClick());
    f.RunLinkDialog = [&](TFormSessionLink& d) {
        EXPECT_EQ(d.LinkNameEdit->Text(), "Nightly");
        EXPECT_FALSE(d.ButtonGenerate->Enabled());
        d.DestFolderEdit->SetText(files.Dir());
        d.DestFolderEditChange();
        EXPECT_TRUE(d.ButtonGenerate->Enabled());
        d.ArchiveNameEdit->SetText("Night");
        return static_cast<int>(mrOk);
    };
    f.GenerateSessionLinkClick();
    ComInit com;
    TLazyShellLink link;
    link.ReadFromFile(AnsiToWide(files.Path("Nightly.lnk")));
    EXPECT_EQ(WideToAnsi(link.Arguments), Format("\"%s\" \"Night\"", files.Path("Nightly.xml").c_str()));
    EXPECT_EQ(WideToAnsi(link.WorkingDirectory), app.Dir());

    // Cancel writes nothing.
    f.RunLinkDialog = [&](TFormSessionLink& d) {
        d.LinkNameEdit->SetText("Cancelled");
        return static_cast<int>(mrCancel);
    };
    f.GenerateSessionLinkClick();
    EXPECT_FALSE(FileExists(files.Path("Cancelled.lnk")));
}

TEST_F(SessionFormTest, PagesNotYetOpenedShowTheLoadedSessionWhenOpened) {
    TMainForm& f = Make();
    // Not opened yet: no windows (the hard-disk mode's disc panel neither).
    for (TWinControl* c : {static_cast<TWinControl*>(f.TabSession), static_cast<TWinControl*>(f.TabMail),
                           static_cast<TWinControl*>(f.AddressEdit), static_cast<TWinControl*>(f.PanelCD)})
        EXPECT_FALSE(c->HandleAllocated()) << c->Name();
    const std::string longMask(32767, 'm');   // as long as a session may hold
    ASSERT_TRUE(f.Session.LoadFromFile(WriteWeekly(true, longMask)));
    f.SessionToForm();
    f.Session.Modified = false;

    f.PageControl->SetActivePage(f.TabMail);
    ASSERT_TRUE(f.AddressEdit->HandleAllocated());
    auto windowText = [](TWinControl* c) {
        char text[256] = {};
        ::GetWindowTextA(c->Handle(), text, sizeof text);
        return std::string(text);
    };
    EXPECT_EQ(windowText(f.AddressEdit), "ops@example.org");
    EXPECT_EQ(windowText(f.MailPassEdit), "secret");
    EXPECT_EQ(::SendMessageA(f.MailPassEdit->Handle(), EM_GETPASSWORDCHAR, 0, 0), '*');
    EXPECT_EQ(::SendMessageA(f.LoginCheck->Handle(), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_TRUE(::IsWindowEnabled(f.MailUserEdit->Handle()));
    f.PageControl->SetActivePage(f.TabSession);
    EXPECT_EQ(windowText(f.EditInclusionMask), "*.doc");
    EXPECT_TRUE(::IsWindowEnabled(f.EditInclusionMask->Handle()));
    EXPECT_EQ(windowText(f.EditArchiveName), "Weekly.zip");
    EXPECT_EQ(f.EditExclusionMask->Text(), longMask);
    // Making the windows is no change of the session.
    EXPECT_FALSE(f.Session.Modified);
    // Typed at the end: a character taken away, another in its place, none past the limit.
    ::SendMessageA(f.EditExclusionMask->Handle(), EM_SETSEL, 32767, 32767);
    for (char key : {'\b', 'y', 'z'}) ::SendMessageA(f.EditExclusionMask->Handle(), WM_CHAR, key, 0);
    EXPECT_EQ(f.EditExclusionMask->Text(), longMask.substr(0, 32766) + "y");
    f.Session.Modified = false;
    f.SMTPEdit->SetText("mail.example.org");
    EXPECT_TRUE(f.Session.Modified);

    f.FormToSession();
    EXPECT_EQ(f.Session.Address, "ops@example.org");
    EXPECT_EQ(f.Session.SMTP, "mail.example.org");
    EXPECT_EQ(f.Session.InclusionMask, "*.doc");
}
