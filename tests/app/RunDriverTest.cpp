// Whole hard-disk runs through the main window's objects: the order of the
// report, the archive's entries, the free names, masks, locked files, cancel,
// archiver failures and the checks before compression.
#include "CloseWays.h"
#include "RunFixture.h"
#include "WorkerGate.h"
#include "app/ArchiveTarget.h"
#include "app/AppState.h"
#include "net/NetTestUtil.h"
#include "app/ZipWait.h"
#include "app/ZipWaitThread.h"
#include "framework/Handle.h"
#include <atomic>
#include <cmath>
#include <fstream>
#include <iterator>
#include <set>

using namespace krvtest;

namespace {

class HardDiskRun : public RunFixture {
protected:
    void MakeTree() {
        Write("src\\docs\\a.txt", "alpha");
        Write("src\\docs\\b c.doc", std::string(5000, 'b'));
        Write("src\\docs\\skip.tmp", "tmp");
        Write("src\\docs\\sub dir\\deep.txt", "deep");
        Write("src\\docs\\sub dir\\empty.txt", "");
        Folder("src\\docs\\zero");
        Write("src\\pics\\p.jpg", "jpeg");
    }
    TMainForm& TreeForm(const std::string& archive = "X.zip") {
        MakeTree();
        TMainForm& f = MakeForm({src + "\\docs", src + "\\pics"}, archive);
        f.SubFoldersCheck->SetChecked(true);
        return f;
    }
    // Lines of the report from "Backup started at" on.
    std::vector<std::string> RunLines() const {
        auto lines = Report();
        auto it = std::find_if(lines.begin(), lines.end(),
                               [](const std::string& l) { return l.rfind("Backup started at ", 0) == 0; });
        return {it, lines.end()};
    }
    std::string Archive(const std::string& name = "X.zip") const { return dest + "\\" + name; }
    // Shown, with the report mailed to server:port when a server is given.
    TMainForm& ShownForm(const char* server, const std::string& port = "25") {
        TMainForm& f = TreeForm();
        f.OnActivate = f.OnShow = nullptr;
        f.Show();
        f.MailCheck->SetChecked(server != nullptr);
        f.AddressEdit->SetText("admin@korvane.test");
        f.SMTPEdit->SetText(server ? server : "");
        f.ReportMail().SmtpClient().Port = port;
        return f;
    }
    // The worker's hand-off clock set for a test, put back afterwards.
    struct HandOffEvery {
        explicit HandOffEvery(unsigned ms) : kept(TZipperThread::HandOffInterval.exchange(ms)) {}
        ~HandOffEvery() { TZipperThread::HandOffInterval = kept; }
        unsigned kept;
    };
    // Bytes that deflate cannot shrink: compression takes a while and reports progress often.
    static std::string Incompressible(size_t size, uint32_t state) {
        std::string bytes(size, '\0');
        for (char& c : bytes) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
        return bytes;
    }
};

} // namespace

TEST_F(HardDiskRun, ArchivesTheTickedFoldersAndLogsTheRunInOrder) {
    TMainForm& f = TreeForm();
    f.Session.Log = 3;
    f.ButtonStartClick();
    ASSERT_FALSE(f.RunStopped()) << ::testing::PrintToString(Report());
    EXPECT_EQ(Entries(Archive()), (std::vector<std::string>{
                                      Stored("src\\docs\\a.txt"), Stored("src\\docs\\b c.doc"),
                                      Stored("src\\docs\\skip.tmp"), Stored("src\\docs\\sub dir/"),
                                      Stored("src\\docs\\sub dir\\deep.txt"), Stored("src\\docs\\sub dir\\empty.txt"),
                                      Stored("src\\docs\\zero/"), Stored("src\\pics\\p.jpg")}));

    auto lines = RunLines();
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[1], "Checking folders to be added...");
    EXPECT_EQ(lines[2].rfind("Compressing files... [", 0), 0u);
    EXPECT_EQ(lines[3].rfind("Zip file created [", 0), 0u);
    EXPECT_EQ(lines[4], "The backup zip file has been created in the selected folder: " + dest);
    EXPECT_EQ(lines[5].rfind("Zip file created in ", 0), 0u);
    EXPECT_EQ(lines.back(), "Backup done");
    EXPECT_EQ(ReadLines(ReportFile()), Report());
    EXPECT_GT(f.Session.LastBackup, 0);
    EXPECT_EQ(Application().Title(), "Korvane");
    EXPECT_NE(f.LabelSize->Caption(), "0 bytes");
    EXPECT_TRUE(boxes.empty());
}

TEST_F(HardDiskRun, RunningAgainTakesTheNextFreeNameAndNeverOverwrites) {
    TMainForm& f = TreeForm();
    f.ButtonStartClick();
    std::string first = Archive();
    ASSERT_TRUE(FileExists(first));
    WIN32_FILE_ATTRIBUTE_DATA before{};
    ::GetFileAttributesExA(first.c_str(), GetFileExInfoStandard, &before);

    f.ButtonStartClick();
    f.ButtonStartClick();
    EXPECT_TRUE(FileExists(Archive("X_1.zip")));
    EXPECT_TRUE(FileExists(Archive("X_1_2.zip")));
    EXPECT_EQ(Entries(Archive("X_1_2.zip")), Entries(first));
    WIN32_FILE_ATTRIBUTE_DATA after{};
    ::GetFileAttributesExA(first.c_str(), GetFileExInfoStandard, &after);
    EXPECT_EQ(CompareFileTime(&before.ftLastWriteTime, &after.ftLastWriteTime), 0);

    // With "overwrite" the old backup of that name is replaced.
    f.CheckOverwriteFile->SetChecked(true);
    f.ButtonStartClick();
    EXPECT_FALSE(FileExists(Archive("X_1_2_3.zip")));
    EXPECT_EQ(Entries(first).size(), Entries(Archive("X_1.zip")).size());
}

TEST_F(HardDiskRun, FreeNameSearchNeverAnswersATakenName) {
    TMainForm& f = MakeForm({});
    const TLogCall log = [&f](const std::string& msg, int colour, int level, int kind) { f.AddLog(msg, colour, level, kind); };
    std::string name = Archive();
    EXPECT_EQ(FindFreeArchiveName(name, log), name);
    // A folder of that name is as taken as a file.
    ::CreateDirectoryA(name.c_str(), nullptr);
    EXPECT_EQ(FindFreeArchiveName(name, log), Archive("X_1.zip"));
    Write("dest\\X_1.zip", "old");
    EXPECT_EQ(FindFreeArchiveName(name, log), Archive("X_1_2.zip"));
    // The number goes before the file name's own extension, whatever it is.
    for (auto [taken, next] : {std::pair{"backup", "backup_1"}, {"data.7z", "data_1.7z"}, {"set.zip", "set_1.zip"},
                               {"a", "a_1"}, {"d.e\\ab", "d.e\\ab_1"}}) {
        Write("dest\\" + std::string(taken), "old");
        EXPECT_EQ(FindFreeArchiveName(Archive(taken), log), Archive(next));
    }
    EXPECT_TRUE(boxes.empty());

    // Every candidate taken up to what a path can hold: no name and a clear error.
    std::string taken = name;
    for (int n = 1; taken.size() < MAX_PATH; ++n) {
        Write("dest\\" + ExtractFileName(taken), "old");
        taken.insert(taken.size() - 4, Format("_%d", n));
    }
    EXPECT_EQ(FindFreeArchiveName(name, log), "");
    const std::string failed = "Korvane has failed to find a free name for the backup.";
    const std::string tooLong = "The next free name would be longer than a file name or a path may be:";
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].flags, 16u);
    EXPECT_EQ(boxes[0].text, failed + "\r\n" + tooLong + "\r\n" + taken);
    // The file name's limit as the host counts it: 125 accented letters are
    // 254 bytes of UTF-8, and the host's 255 bytes take no "_1" after them.
    const std::string accented = Archive(WideToAnsi(std::wstring(125, L'\xE9')) + ".zip");
    Write("dest\\" + ExtractFileName(accented), "old");
    EXPECT_EQ(FindFreeArchiveName(accented, log), "");
    EXPECT_EQ(Report().back(), failed + " " + tooLong + " " + ChangeFileExt(accented, "_1.zip"));
}

TEST_F(HardDiskRun, NoFreeNameAbortsTheRunWithoutTouchingTheOldBackups) {
    TMainForm& f = TreeForm("Y.zip");
    std::string taken = Archive("Y.zip");
    for (int n = 1; taken.size() < MAX_PATH; ++n) {
        Write("dest\\" + ExtractFileName(taken), "old");
        taken.insert(taken.size() - 4, Format("_%d", n));
    }
    f.ButtonStartClick();
    EXPECT_TRUE(f.RunStopped());
    EXPECT_EQ(Report().back(), "Operation aborted");
    EXPECT_FALSE(Holds(Report(), "Backup done"));
    std::ifstream in(Archive("Y.zip"));
    std::string content;
    std::getline(in, content);
    EXPECT_EQ(content, "old");
}

TEST_F(HardDiskRun, MasksSelectFolderByFolderAndExclusionsDrop) {
    TMainForm& f = TreeForm();
    f.CheckFilters->SetChecked(true);
    f.EditInclusionMask->SetText("*.txt;*.doc");
    f.EditExclusionMask->SetText("*.tmp;deep.*");
    f.ButtonStartClick();
    ASSERT_FALSE(f.RunStopped());
    EXPECT_EQ(f.LastRun()->RecursiveDirs.ToVector(),
              (std::vector<std::string>{src + "\\docs\\*.txt", src + "\\docs\\*.doc", src + "\\pics\\*.txt",
                                        src + "\\pics\\*.doc"}));
    EXPECT_EQ(Entries(Archive()), (std::vector<std::string>{Stored("src\\docs\\a.txt"), Stored("src\\docs\\b c.doc"),
                                                            Stored("src\\docs\\sub dir\\empty.txt")}));
}

TEST_F(HardDiskRun, WithoutSubfoldersOnlyTheTickedFoldersOwnFilesAreTaken) {
    TMainForm& f = TreeForm();
    f.SubFoldersCheck->SetChecked(false);
    f.ButtonStartClick();
    ASSERT_FALSE(f.RunStopped());
    EXPECT_EQ(Entries(Archive()), (std::vector<std::string>{Stored("src\\docs\\a.txt"), Stored("src\\docs\\b c.doc"),
                                                            Stored("src\\docs\\skip.tmp"), Stored("src\\pics\\p.jpg")}));
}

TEST_F(HardDiskRun, ALockedFileIsSkippedWithItsRedLineAndTheRestArchived) {
    TMainForm& f = TreeForm();
    std::string locked = root + "src\\docs\\b c.doc";
    FileHandle hold(::CreateFileA(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(hold);
    // The compression window's box as last seen: its "Adding" lines are
    // posted, the red line is handed over at once, and neither may overtake.
    std::vector<std::pair<std::string, TColor>> box;
    TFormZipWait::OnHandOff = [&](TFormZipWait& w) {
        box.clear();
        for (int i = 0; i < w.EditZipMsg->LineCount(); ++i)
            box.emplace_back(w.EditZipMsg->Line(i), w.EditZipMsg->LineColor(i));
    };
    f.ButtonStartClick();
    TFormZipWait::OnHandOff = nullptr;
    hold.reset();
    ASSERT_FALSE(f.RunStopped());
    auto names = Entries(Archive());
    EXPECT_EQ(std::count(names.begin(), names.end(), Stored("src\\docs\\b c.doc")), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), Stored("src\\docs\\a.txt")), 1);
    std::string line = locked + " is locked by another process, skipped.";
    EXPECT_TRUE(Holds(Report(), line));
    bool red = false;
    for (int i = 0; i < f.LogEdit->LineCount(); ++i)
        if (f.LogEdit->Line(i) == line) red = f.LogEdit->LineColor(i) == clRed;
    EXPECT_TRUE(red);
    EXPECT_EQ(Report().back(), "Backup done");
    auto adding = std::find_if(box.begin(), box.end(), [&](const auto& l) { return l.first == "Adding " + locked; });
    ASSERT_NE(adding, box.end()) << ::testing::PrintToString(box);
    EXPECT_EQ(adding->second, clBlack);
    // The red line (the box wraps it) comes right after, and black lines go on after it.
    auto next = adding + 1;
    std::string wrapped;
    for (; next != box.end() && next->second == clRed; ++next) wrapped += next->first;
    EXPECT_EQ(wrapped, line) << ::testing::PrintToString(box);
    ASSERT_NE(next, box.end());
    EXPECT_EQ(next->first.rfind("Adding ", 0), 0u);
    EXPECT_TRUE(std::all_of(next, box.end(), [](const auto& l) { return l.second == clBlack; }));
    EXPECT_TRUE(std::any_of(box.begin(), adding, [&](const auto& l) { return l.first == "Adding " + root + "src\\docs\\a.txt"; }));
}

TEST_F(HardDiskRun, EveryFileHasItsAddingLineInOrderWithFarFewerHandOffsThanFiles) {
    std::vector<std::string> files;
    for (int i = 0; i < 400; ++i) {
        std::string rel = Format("src\\docs\\many\\f%03d.txt", i);
        Write(rel, Format("file %d", i));
        files.push_back(root + rel);
    }
    TMainForm& f = TreeForm();
    f.CheckOverwriteFile->SetChecked(true);
    // Rows: the files readable; all held open by another program, each left
    // out with its red line (a hand-off of its own per file made a run
    // leaving thousands out take an hour).
    for (const bool held : {false, true}) {
        std::vector<FileHandle> holds;
        for (const std::string& file : held ? files : std::vector<std::string>{})
            holds.emplace_back(::CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        int handOffs = 0;
        std::vector<std::string> shown;
        TFormZipWait::OnHandOff = [&](TFormZipWait& w) {
            ++handOffs;
            if (w.EditZipMsg->LineCount() == static_cast<int>(shown.size())) return;
            shown.clear();
            for (int i = 0; i < w.EditZipMsg->LineCount(); ++i) shown.push_back(w.EditZipMsg->Line(i));
        };
        f.ButtonStartClick();
        TFormZipWait::OnHandOff = nullptr;
        ASSERT_FALSE(f.RunStopped()) << ::testing::PrintToString(Report());
        std::vector<std::string> adding;
        size_t firstAdding = shown.size(), checked = shown.size();
        for (size_t i = 0; i < shown.size(); ++i) {
            if (shown[i].rfind("Adding ", 0) == 0) {
                adding.push_back(shown[i].substr(7));
                firstAdding = std::min(firstAdding, i);
            }
            if (shown[i] == "Files checked.") checked = i;
        }
        // The folders' and files' lines, each once, in the order written; the
        // line that ends the search comes before them.
        auto many = std::find(adding.begin(), adding.end(), files.front());
        ASSERT_NE(many, adding.end()) << held;
        EXPECT_TRUE(std::equal(files.begin(), files.end(), many));
        EXPECT_EQ(std::set<std::string>(adding.begin(), adding.end()).size(), adding.size());
        EXPECT_EQ(adding.size(), Entries(Archive()).size() + (held ? files.size() : 0));
        EXPECT_LT(checked, firstAdding);
        // The report names every file left out, in order.
        auto report = Report();
        auto at = report.begin();
        for (const std::string& file : held ? files : std::vector<std::string>{})
            at = std::find(at, report.end(), file + " is locked by another process, skipped.");
        EXPECT_NE(at, report.end()) << held;
        // Without gathering there are at least two per file.
        EXPECT_LT(handOffs, static_cast<int>(files.size())) << "a hand-off per file, held: " << held;
    }
}

TEST_F(HardDiskRun, LinesAndBarsShareOneClockAndTheLastOnesStillArrive) {
    for (int i = 0; i < 60; ++i) Write(Format("src\\docs\\many\\g%02d.txt", i), std::string(100 + i, 'g'));
    TMainForm& f = TreeForm();
    // A clock that never comes round: only the hand-offs that must happen do,
    // and they must still carry the last lines and bar positions.
    HandOffEvery interval(3600000);
    int overall = -1, file = -1;
    std::vector<std::string> shown;
    TFormZipWait::OnHandOff = [&](TFormZipWait& w) {
        overall = w.ProgressBar->Position();
        file = w.ProgressBarFile->Position();
        shown.clear();
        for (int i = 0; i < w.EditZipMsg->LineCount(); ++i) shown.push_back(w.EditZipMsg->Line(i));
    };
    f.ButtonStartClick();
    TFormZipWait::OnHandOff = nullptr;
    ASSERT_FALSE(f.RunStopped()) << ::testing::PrintToString(Report());
    // Every entry's line, each once, after the line that ends the search.
    auto checked = std::find(shown.begin(), shown.end(), "Files checked.");
    ASSERT_NE(checked, shown.end()) << ::testing::PrintToString(shown);
    const auto adding = std::count_if(checked, shown.end(), [](const std::string& l) { return l.rfind("Adding ", 0) == 0; });
    EXPECT_EQ(adding, static_cast<long>(Entries(Archive()).size()));
    EXPECT_EQ(adding, static_cast<long>(std::set<std::string>(checked, shown.end()).size()) - 1);
    EXPECT_EQ(shown.back(), "Adding " + root + "src\\pics\\p.jpg");
    // The bars' last positions reach the window although no interval passed.
    EXPECT_EQ(overall, 100);
    EXPECT_EQ(file, 100);
}

TEST_F(HardDiskRun, CancelInTheMiddleAbortsAndLeavesNoArchive) {
    TMainForm& f = TreeForm();
    Write("src\\docs\\big1.bin", Incompressible(64 << 10, 12345u));
    Write("src\\docs\\big2.bin", Incompressible(64 << 10, 54321u));
    boxAnswer = IDYES;
    int presses = 0;
    {
        // Pressed once, while the worker is held at the first big file.
        WorkerGate gate(".bin", [&](TFormZipWait& w) {
            ++presses;
            w.ButtonCancel->Click();
        });
        f.ButtonStartClick();
    }
    ASSERT_EQ(presses, 1);
    EXPECT_TRUE(f.RunStopped());
    EXPECT_TRUE(UserCancelled);
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back().text, "Do you really want to stop the task?");
    EXPECT_EQ(boxes.back().flags, 52u);
    EXPECT_EQ(Report().back(), "Operation aborted");
    EXPECT_FALSE(Holds(Report(), "Backup done"));
    EXPECT_FALSE(Holds(Report(), "Zip error code:"));
    EXPECT_EQ(::GetFileAttributesA(Archive().c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ReadLines(ReportFile()), Report());
    EXPECT_EQ(Application().Title(), "Korvane");
}

// A close that reaches the compression window is Cancel without the
// question: the archive under way is removed, the earlier one stays as it was.
TEST_F(HardDiskRun, ClosingTheCompressionWindowCancelsTheRun) {
    TMainForm& f = TreeForm();
    Write("src\\docs\\big1.bin", Incompressible(64 << 10, 4242u));
    Write("src\\docs\\big2.bin", Incompressible(64 << 10, 2424u));
    Write("dest\\X.zip", "the earlier backup");
    for (const CloseWay& way : CloseWays()) {
        // Alt+F4 is the close command once the system has posted it on: the
        // scan window and the end-to-end cases take it.
        if (way.name == "Alt+F4") continue;
        SCOPED_TRACE(way.name);
        bool posted = false, icons = true;
        f.ReportLines.Clear();
        {
            // While the worker is held at the first big file.
            WorkerGate gate(".bin", [&](TFormZipWait& w) {
                posted = true;
                icons = HasBorderIcons(w.Handle());
                EXPECT_TRUE(CloseWhileWorking(w.Handle(), way, [] { return UserCancelled; }));
            });
            f.ButtonStartClick();
        }
        ASSERT_TRUE(posted);
        EXPECT_FALSE(icons);
        EXPECT_TRUE(f.RunStopped());
        EXPECT_TRUE(UserCancelled);
        EXPECT_EQ(f.ExitCode, ecFailed);
        EXPECT_TRUE(boxes.empty()) << "a close asks nothing";
        EXPECT_EQ(Report().back(), "Operation aborted");
        EXPECT_FALSE(Holds(Report(), "Zip error code:"));
        EXPECT_FALSE(FileExists(Archive("X_1.zip"))) << ::testing::PrintToString(Report());
        std::ifstream in(Archive());
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "the earlier backup");
    }
}

TEST_F(HardDiskRun, AnArchiverFailureInTheWorkerEndsInTheAbortPath) {
    TMainForm& f = TreeForm();
    f.Archiver.OnConfirmProcessFile = [](TObject*, const std::string&, TZipProcessOperation, bool&) {
        throw Exception("search failed on purpose");
    };
    f.ButtonStartClick();
    f.Archiver.OnConfirmProcessFile = nullptr;
    EXPECT_TRUE(f.RunStopped());
    EXPECT_TRUE(Holds(Report(), "search failed on purpose"));
    EXPECT_EQ(Report().back(), "Operation aborted");
    EXPECT_FALSE(Holds(Report(), "Backup done"));
    EXPECT_FALSE(FileExists(Archive()));
    EXPECT_EQ(ReadLines(ReportFile()), Report());

    // The archiver is usable for the next run.
    f.ButtonStartClick();
    EXPECT_FALSE(f.RunStopped());
    EXPECT_EQ(Report().back(), "Backup done");
    EXPECT_EQ(Entries(Archive()).size(), 8u);
}

TEST_F(HardDiskRun, TheWorkersFailureRuleSkipsMissingAndLockedFilesAndAbortsOnOthers) {
    TMainForm& f = TreeForm();
    TZipperView view;
    std::vector<std::string> logged;
    view.AddLog = [&](const std::string& msg, int, int, int) { logged.push_back(msg); };
    view.AddLogLines = [&](const auto& lines, int, int, int) { logged.insert(logged.end(), lines.begin(), lines.end()); };
    TStringList none;
    // No archive is open: the worker's first archiver call fails and the
    // failure comes back with the thread instead of being lost.
    TZipperThread thread(view, none, none, f.Archiver, "");
    thread.WaitFor();
    ASSERT_TRUE(thread.FatalException != nullptr);

    // The archiver says "cannot open" (12) for every file it could not open:
    // the line gives the real reason, asked of the system.
    const std::string gone = root + "gone.bin", held = root + "held.bin", vanished = root + "vanished.bin",
                      reopened = root + "fine.bin";
    Write("held.bin", "held");
    Write("fine.bin", "fine");
    FileHandle holder(::CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    // Each line goes with the next hand-off: here each at once.
    HandOffEvery now(0);
    TZipAction action = fxaIgnore;
    f.Archiver.OnProcessFileFailure(nullptr, gone, poAdd, 2, ZipErrorCode::FileNotFound, "not found", action);
    EXPECT_EQ(action, fxaIgnore);
    for (const std::string& name : {held, vanished, reopened}) {
        f.Archiver.OnProcessFileFailure(nullptr, name, poAdd, ZipNative::CannotOpenFile, ZipErrorCode::CannotOpenFile,
                                       "Cannot open file", action);
        EXPECT_EQ(action, fxaIgnore);
    }
    // A folder the search could not list and a link to a folder are left out too, each with its reason.
    f.Archiver.OnProcessFileFailure(nullptr, root + "nowhere", poAdd, ZipNative::CannotListFolder,
                                   ZipErrorCode::CannotListFolder, "Cannot list folder", action);
    f.Archiver.OnProcessFileFailure(nullptr, root + "link", poAdd, ZipNative::FolderLinkNotFollowed,
                                   ZipErrorCode::FolderLinkNotFollowed, "Link to a folder", action);
    EXPECT_EQ(action, fxaIgnore);
    EXPECT_TRUE(PumpUntil([&] { return logged.size() >= 6; }));
    EXPECT_EQ(logged, (std::vector<std::string>{gone + " not found, skipped.",
                                                held + " is locked by another process, skipped.",
                                                vanished + " not found, skipped.",
                                                reopened + " could not be read while it was being archived, skipped.",
                                                root + "nowhere: not found, skipped.",
                                                root + "link: a link to a folder, not followed"}));
    EXPECT_EQ(thread.Skipped + thread.FoldersLeftOut, 6);
    EXPECT_EQ(thread.ErrorCode, 0);
    f.Archiver.OnProcessFileFailure(nullptr, "C:\\f.bin", poAdd, 34, 17, "size changed", action);
    EXPECT_EQ(action, fxaAbort);
    EXPECT_EQ(thread.ErrorCode, 17);
}

TEST_F(HardDiskRun, AnInvalidDestinationIsABoxAndNothingElse) {
    TMainForm& f = TreeForm();
    f.ReportLines.Clear();
    f.HDFolderEdit->SetText(root + "nowhere");
    f.ButtonStartClick();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "The destination folder is not a valid directory!");
    EXPECT_EQ(boxes[0].flags, 16u);
    EXPECT_TRUE(Report().empty());
}

// A network folder has no free space to show and is not checked; a local one shows its free space.
TEST_F(HardDiskRun, ANetworkDestinationShowsItsWarningInsteadOfTheFreeSpace) {
    TMainForm& f = TreeForm();
    // A network destination skips the check: the run goes on without a box.
    f.Settings.IgnoreDiskSpace = false;
    f.SelectedSize = int64_t(1) << 62;
    f.CheckDestination("\\\\server\\share");
    EXPECT_TRUE(f.NetworkDestination());
    EXPECT_TRUE(f.LabelNetSpaceWarning->Visible());
    f.CheckDestination(dest);
    EXPECT_FALSE(f.NetworkDestination());
    EXPECT_EQ(f.LabelDestFreeSpace->Caption().rfind("Free space: ", 0), 0u);
}

TEST(StoredNames, TheDriveLetterIsTheFirstFolder) {
    std::string name = "data\\a.txt";
    StoreWithDriveFolder(name, "C:\\data\\a.txt");
    EXPECT_EQ(name, "C\\data\\a.txt");
    name = "share\\dir\\f.txt";
    StoreWithDriveFolder(name, "\\\\server\\share\\dir\\f.txt");
    EXPECT_EQ(name, "server\\share\\dir\\f.txt");
    name = "rel.txt";
    StoreWithDriveFolder(name, "rel.txt");
    EXPECT_EQ(name, "rel.txt");
}

// ------------------------------------------------------------ unattended runs

namespace {

class UnattendedRun : public HardDiskRun {
protected:
    // The window of a hard-disk run, made for an unattended run.
    TMainForm& BatchForm() {
        TMainForm& f = TreeForm();
        KorvaneState().Batch = true;
        return f;
    }
    void TearDown() override {
        KorvaneState().Batch = false;
        HardDiskRun::TearDown();
    }
    // Files in the destination folder besides the ones named.
    std::vector<std::string> Strays(const std::set<std::string>& known) const {
        std::vector<std::string> strays;
        for (const std::string& n : FilesIn(dest))
            if (!known.count(n)) strays.push_back(n);
        return strays;
    }
};

} // namespace

// The report of a finished run ends with what the archive holds; the exit
// code says whether everything selected is in it.
TEST_F(UnattendedRun, TheReportEndsWithTheArchiveItsCountsAndWhatWasLeftOut) {
    TMainForm& f = BatchForm();
    f.ButtonStartClick();
    ASSERT_FALSE(f.RunStopped()) << ::testing::PrintToString(Report());
    auto lines = Report();
    ASSERT_GE(lines.size(), 4u);
    // a.txt, b c.doc, skip.tmp, deep.txt, empty.txt, p.jpg: 5 + 5000 + 3 + 4 + 0 + 4 bytes.
    EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()),
              (std::vector<std::string>{"Archive: " + Archive(), "Files archived: 6 (5016 bytes)", "Left out: 0",
                                        "Backup done"}));
    EXPECT_EQ(f.ExitCode, ecDone);

    // A ticked folder that is gone: named in red, counted, and the code says so.
    f.Session.SelectedFolders.Add(src + "\\gone");
    f.RestoreTreeChecks();
    f.ButtonStartClick();
    ASSERT_FALSE(f.RunStopped());
    lines = Report();
    EXPECT_TRUE(Holds(lines, src + "\\gone not found, skipped."));
    EXPECT_EQ(lines[lines.size() - 2], "Left out: 1");
    EXPECT_EQ(f.ExitCode, ecLeftOut);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(UnattendedRun, QuestionsBecomeRedLinesAndTheRunStopsBeforeWriting) {
    TMainForm& f = BatchForm();
    // A destination folder that does not exist: no box, the reason, the abort path.
    f.HDFolderEdit->SetText(root + "nowhere");
    f.ButtonStartClick();
    EXPECT_TRUE(Holds(Report(), "The destination folder is not a valid directory! (" + root + "nowhere)"));
    EXPECT_EQ(Report().back(), "Operation aborted");
    EXPECT_EQ(ReadLines(ReportFile()), Report());
    EXPECT_EQ(f.ExitCode, ecFailed);

    // The session's close question is not asked.
    f.HDFolderEdit->SetText(dest);
    f.Session.Modified = true;
    f.CloseKVCheck->SetChecked(true);
    f.ButtonUpdateSize->SetEnabled(true);   // the size is counted again
    f.ButtonStartClick();
    EXPECT_FALSE(f.RunStopped());
    EXPECT_EQ(f.ExitCode, ecDone);
    EXPECT_TRUE(boxes.empty());
}

// The old backup is not deleted before the run any more: when it lies inside
// a ticked folder it must still stay out of the new one.
TEST_F(UnattendedRun, OverwriteNeverArchivesTheBackupItReplaces) {
    TMainForm& f = BatchForm();
    const std::string inside = src + "\\docs\\backups";
    ::CreateDirectoryA(inside.c_str(), nullptr);
    f.HDFolderEdit->SetText(inside);
    f.CheckOverwriteFile->SetChecked(true);
    Write("src\\docs\\backups\\X.zip", "the old backup");
    f.ButtonStartClick();
    ASSERT_FALSE(f.RunStopped()) << ::testing::PrintToString(Report());
    const auto names = Entries(inside + "\\X.zip");
    EXPECT_EQ(std::count(names.begin(), names.end(), Stored("src\\docs\\backups\\X.zip")), 0)
        << ::testing::PrintToString(names);
    EXPECT_EQ(std::count(names.begin(), names.end(), Stored("src\\docs\\backups/")), 1);
    EXPECT_EQ(f.ExitCode, ecDone);
    // The handler the run borrowed is given back.
    EXPECT_FALSE(f.Archiver.OnConfirmProcessFile);
}

// "Close Korvane after the backup": a close asked for while the run is still
// active is refused as a late Cancel; the window closes once the run is over.
TEST_F(HardDiskRun, CloseAfterTheBackupClosesTheWindowOnceTheRunHasEnded) {
    for (const char* server : {static_cast<const char*>(nullptr), ""}) {
        SCOPED_TRACE(server ? "a mail that fails at once" : "no mail");
        TMainForm& f = ShownForm(server);
        f.CloseKVCheck->SetChecked(true);
        f.ButtonStartClick();
        ProcessMessages();
        EXPECT_FALSE(f.Visible()) << ::testing::PrintToString(Report());
    }
}

// A mail that ends while the next run goes on must not save that run's
// unfinished report over the file.
TEST_F(HardDiskRun, AMailEndingDuringTheNextRunLeavesTheReportFileAlone) {
    TestServer server;   // takes the mail's connection and never answers
    TMainForm& f = ShownForm("127.0.0.1", server.Port());
    f.ButtonStartClick();
    ASSERT_TRUE(PumpUntil([&] { return !server.peers.empty(); }));
    const std::vector<std::string> first = ReadLines(ReportFile());
    std::vector<std::string> duringNext;
    f.OnRunBuilt = [&](TBackupRun&) {
        server.peers[0]->socket->Close();
        PumpUntil([] { return !KorvaneState().MailBusy; });
        duringNext = ReadLines(ReportFile());
    };
    f.ButtonStartClick();
    EXPECT_EQ(duringNext, first);
}
