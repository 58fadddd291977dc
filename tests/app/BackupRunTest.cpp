// The endings of a backup run, against the run itself with a stand-in for
// the main window: each ending's outcome, exit code, last report lines, mail
// and report, and what is left in the destination folder.
#include "RunFixture.h"
#include "app/BackupRun.h"
#include "app/Lang.h"
#include "app/Messages.h"
#include "app/ZipWait.h"
#include "app/ZipWaitThread.h"
#include <algorithm>
#include <cmath>
#include <functional>

using namespace krvtest;

namespace {

// What a run asks of its window is answered here; what it tells is kept.
class FakeHost : public IRunHost {
public:
    std::vector<std::string> lines;
    std::vector<std::string> titles;
    TScanFindings found;
    int64_t selected = 0;
    int mails = 0, reports = 0, done = 0;

    void AddLog(const std::string& msg, int, int, int) override { lines.push_back(msg); }
    void ShowRunStep(const std::string& title) override { titles.push_back(title); }
    void ScanFolders(bool, TScanFindings& result) override { result = found; }
    int64_t SelectedBytes() override { return selected; }
    void ShowArchiveSize(int64_t) override {}
    TComponent* WindowOwner() override { return nullptr; }
    void MailReport() override { ++mails; }
    void SaveReport() override { ++reports; }
    void RunDone() override { ++done; }
};

enum Left { kNothing, kNewArchive, kEarlierArchive };

struct Ending {
    const char* name;
    std::function<void(TRunJob&, FakeHost&)> prepare;
    std::function<void(TBackupRun&, std::vector<std::string>& calls)> adjust;
    bool unattended;
    int boxAnswer;
    TRunOutcome outcome;
    int exitCode;
    std::vector<std::string> lastLines;   // each the start of a line
    Left left;
    int mails;
    std::vector<std::string> calls;       // the disc steps that ran
};

class BackupRunEndings : public RunFixture {
protected:
    void SetUp() override {
        RunFixture::SetUp();
        // The message table's English texts, as a main window loads them.
        TLang english;
        english.Init();
        LoadLanguageStrings(english);
    }
    void TearDown() override {
        KorvaneState().Batch = false;
        KorvaneState().SessionEnding = false;
        TFormZipWait::OnHandOff = nullptr;
        RunFixture::TearDown();
    }
    // Disc steps that only say they ran (the image's step only once the archive
    // lies whole in the temp folder).
    static std::function<void(TBackupRun&, std::vector<std::string>&)> DiscSteps(const char* failing = "") {
        return [failing](TBackupRun& run, std::vector<std::string>& calls) {
            for (const char* name : {"iso", "blank", "burn"})
                run.FindStep(name)->Action = [&run, &calls, name, failing] {
                    const std::string archive = run.Job().TempDir + "\\" + run.Job().ArchiveName;
                    const bool ready = std::string(name) != "iso" || !Entries(archive).empty();
                    calls.push_back(ready ? name : "iso before the archive");
                    if (std::string(name) == failing) run.Fail();
                };
        };
    }
};

} // namespace

TEST_F(BackupRunEndings, EachEndingHasItsOutcomeExitCodeReportAndArchive) {
    const std::string earlier = "the earlier backup";
    const int64_t tooBig = int64_t(1) << 60;
    const std::string diskFull = "Warning: the disk free space may not be enough to backup all the selected folders";
    auto overwrite = [](TRunJob& job, FakeHost&) { job.Overwrite = true; };
    auto pressCancel = [](TBackupRun&, std::vector<std::string>&) {
        TFormZipWait::OnHandOff = [](TFormZipWait& w) {
            if (w.ButtonCancel->Enabled()) w.ButtonCancel->Click();
        };
    };
    const Ending endings[] = {
        {"done", {}, {}, true, IDOK, roDone, ecDone, {"Files archived: 2 (5005 bytes)", "Left out: 0", "Backup done"},
         kNewArchive, 1, {}},
        {"a ticked folder is gone", [this](TRunJob&, FakeHost& h) { h.found.Missing = {src + "\\gone"}; }, {}, true, IDOK,
         roLeftOut, ecLeftOut, {"Left out: 1", "Backup done"}, kNewArchive, 1, {}},
        {"the scan is stopped", [](TRunJob&, FakeHost& h) { h.found.Stopped = true; }, {}, false, IDOK, roCancelled,
         ecFailed, {"Operation aborted"}, kNothing, 1, {}},
        {"nothing is ticked", [](TRunJob&, FakeHost& h) { h.found.RecursiveDirs.Clear(); }, {}, true, IDOK, roFailed,
         ecFailed, {"Error: no folder is selected for the backup", "Operation aborted"}, kNothing, 1, {}},
        {"disk full, unattended", [&](TRunJob&, FakeHost& h) { h.selected = tooBig; }, {}, true, IDOK, roFailed, ecFailed,
         {diskFull, "Free space: ", "Operation aborted"}, kNothing, 1, {}},
        {"disk full, the person stops", [&](TRunJob&, FakeHost& h) { h.selected = tooBig; }, {}, false, IDCANCEL,
         roCancelled, ecFailed, {diskFull, "Free space: ", "Operation aborted"}, kNothing, 1, {}},
        {"disk full, the person goes on", [&](TRunJob&, FakeHost& h) { h.selected = tooBig; }, {}, false, IDOK, roDone,
         ecDone, {"Left out: 0", "Backup done"}, kNewArchive, 1, {}},
        {"disk full, ignored by the settings",
         [&](TRunJob& job, FakeHost& h) {
             h.selected = tooBig;
             job.IgnoreDiskSpace = true;
         },
         {}, true, IDOK, roDone, ecDone, {"Left out: 0", "Backup done"}, kNewArchive, 1, {}},
        {"the destination is gone", [this](TRunJob& job, FakeHost&) { job.Destination = root + "nowhere"; }, {}, true,
         IDOK, roFailed, ecFailed, {"Invalid destination folder.", "Operation aborted"}, kNothing, 1, {}},
        {"cancelled while compressing, the earlier archive stays", overwrite, pressCancel, true, IDOK, roCancelled,
         ecFailed, {"Operation aborted"}, kEarlierArchive, 1, {}},
        {"the archiver fails, the earlier archive stays", overwrite,
         [](TBackupRun& run, std::vector<std::string>&) {
             run.Archiver().OnConfirmProcessFile = [](TObject*, const std::string&, TZipProcessOperation, bool&) {
                 throw Exception("search failed on purpose");
             };
         },
         true, IDOK, roFailed, ecFailed, {"Operation aborted"}, kEarlierArchive, 1, {}},
        {"Overwrite replaces the earlier archive", overwrite, {}, true, IDOK, roDone, ecDone, {"Backup done"},
         kNewArchive, 1, {}},
        {"the Windows session ends", [](TRunJob&, FakeHost& h) {
             h.found.Stopped = true;
             KorvaneState().SessionEnding = true;
         },
         {}, true, IDOK, roCancelled, ecFailed, {"Operation aborted"}, kNothing, 0, {}},
        {"a disc's steps in order", [](TRunJob& job, FakeHost&) { job.Mode = bmDisc; }, DiscSteps(), true, IDOK,
         roDone, ecDone, {"Disc blanked in ", "Disc burned in ", "Archive: ", "Files archived: 2", "Left out: 0",
                          "Backup done"},
         kNothing, 1, {"iso", "blank", "burn"}},
        {"a disc that cannot be blanked", [](TRunJob& job, FakeHost&) { job.Mode = bmDisc; }, DiscSteps("blank"),
         true, IDOK, roFailed, ecFailed, {"Operation aborted"}, kNothing, 1, {"iso", "blank"}},
    };
    Write("src\\docs\\a.txt", "alpha");
    Write("src\\docs\\b.txt", std::string(5000, 'b'));
    for (const Ending& e : endings) {
        SCOPED_TRACE(e.name);
        RemoveFolderTree(dest);
        Folder("dest");
        Folder("tmp");
        Write("dest\\X.zip", earlier);
        TRunJob job;
        job.Mode = bmHardDisk;
        job.Destination = dest;
        job.ArchiveName = "X.zip";
        job.TempDir = root + "tmp";
        job.AppDir = appDir;
        FakeHost host;
        host.found.RecursiveDirs.Add(src + "\\docs");
        if (e.prepare) e.prepare(job, host);
        // Without Overwrite a run never touches the earlier archive: it takes the next free name.
        const std::string written = dest + (job.Overwrite ? "\\X.zip" : "\\X_1.zip");
        KorvaneState().Batch = e.unattended;
        boxAnswer = e.boxAnswer;
        boxes.clear();
        TZipArchiver archiver;
        ConfigureRunArchiver(archiver);
        std::vector<std::string> calls;
        TBackupRun run(host, job, archiver);
        if (e.adjust) e.adjust(run, calls);
        run.Execute();
        TFormZipWait::OnHandOff = nullptr;
        KorvaneState().SessionEnding = false;

        EXPECT_EQ(run.Outcome(), e.outcome);
        EXPECT_EQ(run.ExitCode(), e.exitCode);
        ASSERT_GE(host.lines.size(), e.lastLines.size()) << ::testing::PrintToString(host.lines);
        const size_t first = host.lines.size() - e.lastLines.size();
        for (size_t i = 0; i < e.lastLines.size(); ++i)
            EXPECT_EQ(host.lines[first + i].rfind(e.lastLines[i], 0), 0u)
                << host.lines[first + i] << " / " << e.lastLines[i];
        EXPECT_EQ(host.mails, e.mails);
        EXPECT_EQ(host.reports, run.Outcome() == roDone || run.Outcome() == roLeftOut ? 0 : 1);
        EXPECT_EQ(host.done, run.Outcome() == roDone || run.Outcome() == roLeftOut ? 1 : 0);
        EXPECT_EQ(calls, e.calls);
        // No disc here is rewritable: the image's time is not said.
        EXPECT_EQ(std::count_if(host.lines.begin(), host.lines.end(),
                                [](const std::string& l) { return l.rfind("ISO created in ", 0) == 0; }),
                  0);
        EXPECT_EQ(host.titles.back(), "") << "the title goes back to the product's name";
        // Unattended, nothing waits for a person.
        if (e.unattended) {
            EXPECT_TRUE(boxes.empty());
        }

        std::set<std::string> expected{"X.zip"};
        if (e.left == kNewArchive) {
            expected.insert(ExtractFileName(written));
            const std::vector<std::string> entries = Entries(written);
            EXPECT_EQ(entries, (std::vector<std::string>{Stored("src\\docs\\a.txt"), Stored("src\\docs\\b.txt")}));
        }
        EXPECT_EQ(FilesIn(dest), expected) << "no other file, no temporary one";
        if (written != dest + "\\X.zip" || e.left != kNewArchive) {
            EXPECT_EQ(Bytes(dest + "\\X.zip"), earlier) << "the earlier archive changed";
        }
    }
}

// A request to stop is heard once its step has ended: the run stops before
// the next step and says so once, whatever asks again.
TEST_F(BackupRunEndings, ACancelRequestStopsBeforeTheNextStepAndEndsOnce) {
    Write("src\\docs\\a.txt", "alpha");
    Folder("tmp");
    TRunJob job;
    job.Mode = bmHardDisk;
    job.Destination = dest;
    job.ArchiveName = "X.zip";
    job.TempDir = root + "tmp";
    FakeHost host;
    host.found.RecursiveDirs.Add(src + "\\docs");
    TZipArchiver archiver;
    ConfigureRunArchiver(archiver);
    TBackupRun run(host, job, archiver);
    std::vector<std::string> ran;
    for (TBackupRun::TStep& step : run.Steps())
        step.Action = [&ran, &run, name = step.Name] {
            ran.push_back(name);
            if (name == "destination") run.RequestCancel();
        };
    run.Execute();
    run.AbortRun();   // the end of the Windows session after the run had stopped
    EXPECT_EQ(ran, (std::vector<std::string>{"lists", "free space", "destination"}));
    EXPECT_EQ(run.Outcome(), roCancelled);
    EXPECT_EQ(std::count(host.lines.begin(), host.lines.end(), "Operation aborted"), 1);
    EXPECT_EQ(host.reports, 1);
    EXPECT_TRUE(FilesIn(dest).empty());
}

// The free-space check: 1.8 times the selected size, equality passes; a
// person is asked, an unattended run stops unless the settings say go on; a
// drive that cannot be asked stops the run with no box.
TEST_F(BackupRunEndings, TheFreeSpaceCheckAsksWarnsOrStops) {
    char missing = 0;
    for (char d = 'Q'; d >= 'H' && !missing; --d)
        if (!(::GetLogicalDrives() & (1u << (d - 'A')))) missing = d;
    ASSERT_NE(missing, 0);
    int64_t freeBytes = 0, total = 0;
    EXPECT_FALSE(GetDriveSpace(missing, freeBytes, total));
    EXPECT_EQ(freeBytes, -1);
    ASSERT_TRUE(GetDriveSpace(dest[0], freeBytes, total));
    const int64_t tooMuch = freeBytes;   // 1.8 times that is more than there is
    struct Case {
        const char* name;
        std::string path;
        int64_t selected;
        bool unattended, ignore;
        int answer;
        bool stops;
        size_t boxes, redLines;
    } cases[] = {
        {"enough", dest, 1, false, false, IDOK, false, 0, 0},
        {"too little, the person stops", dest, tooMuch, false, false, IDCANCEL, true, 1, 1},
        {"too little, the person goes on", dest, tooMuch, false, false, IDOK, false, 1, 0},
        {"too little, ignored by the settings", dest, tooMuch, false, true, IDOK, false, 0, 1},
        {"too little, unattended", dest, tooMuch, true, false, IDOK, true, 0, 1},
        {"too little, unattended, ignored", dest, tooMuch, true, true, IDOK, false, 0, 1},
        {"a drive that cannot be asked", std::string(1, missing) + ":\\backup", 1, false, false, IDOK, true, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TRunJob job;
        job.IgnoreDiskSpace = c.ignore;
        FakeHost host;
        host.selected = c.selected;
        KorvaneState().Batch = c.unattended;
        boxAnswer = c.answer;
        boxes.clear();
        TZipArchiver archiver;
        TBackupRun run(host, job, archiver);
        run.CheckFreeSpace(c.path);
        EXPECT_EQ(run.Stopping(), c.stops);
        ASSERT_EQ(boxes.size(), c.boxes);
        if (c.boxes) {
            EXPECT_EQ(boxes[0].flags, 49u);
            EXPECT_EQ(boxes[0].text, "Warning: the disk free space may not be enough to backup all the selected "
                                     "folders.\r\nPress CANCEL to abort the operation or OK to go on.");
        }
        // The red line as it always reads, then the figures (free space changes) on a detail line.
        ASSERT_EQ(host.lines.size(), 2 * c.redLines);
        if (c.redLines) {
            EXPECT_EQ(host.lines[0], "Warning: the disk free space may not be enough to backup all the "
                                     "selected folders");
            const auto wanted = static_cast<int64_t>(std::ceil(static_cast<double>(tooMuch) * 1.8));
            EXPECT_EQ(host.lines[1].rfind("Free space: ", 0), 0u) << host.lines[1];
            EXPECT_NE(host.lines[1].find(" bytes free, " + std::to_string(wanted) + " bytes wanted"), std::string::npos);
        }
    }
}
