// The folder tree of the main window: ticks given with the mouse and the
// space key, the session's folder lists written from them and restored into
// them, and the run's folder scan over the real tree (lists, size, left-out
// folders, cancel).
#include "CloseWays.h"
#include "common/ExactNames.h"
#include "FolderTreeFixture.h"
#include "app/Log.h"
#include "app/Messages.h"
#include "app/ZipCheckDirs.h"
#include "framework/FileDialogs.h"
#include "shell/base/ShellUtils.h"
#include <shlobj.h>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>

using namespace krvtest;

namespace {

class FolderTree : public FolderTreeFixture {
protected:
    // docs (own files, sub with deep, skip), pics, other.
    void MakeTree() {
        Write("src\\docs\\a.txt", std::string(100, 'a'));
        Write("src\\docs\\sub\\s.txt", std::string(20, 's'));
        Write("src\\docs\\sub\\deep\\d.txt", std::string(1000, 'd'));
        Write("src\\docs\\skip\\k.txt", std::string(7, 'k'));
        Write("src\\pics\\p.jpg", std::string(3, 'p'));
        Write("src\\other\\o.txt", "o");
    }
    std::string S(const std::string& rel) const { return src + "\\" + rel; }
    // A session file loaded as the Load command does it, its file dialog answered.
    static void LoadAsTheCommandDoes(TMainForm& f, const std::string& file) {
        SetFileDialogHook([&](TFileDialog& d) {
            d.FileName = file;
            return true;
        });
        f.LoadSessionClick();
        SetFileDialogHook(nullptr);
    }
    std::vector<std::string> Archived() { return Entries(dest + "\\X.zip"); }
    std::vector<std::string> StoredAll(std::initializer_list<const char*> rels) {
        std::vector<std::string> v;
        for (const char* r : rels) v.push_back(Stored(std::string("src\\") + r));
        std::sort(v.begin(), v.end());
        return v;
    }
};

} // namespace

TEST_F(FolderTree, TicksByMouseAndSpaceGoIntoTheSessionComeBackAndAreWhatTheRunArchives) {
    MakeTree();
    TMainForm& f = ShownForm();
    f.SubFoldersCheck->SetChecked(true);
    EXPECT_FALSE(f.ButtonStart->Enabled());
    ClickBox(S("docs"));
    EXPECT_TRUE(Ticked(S("docs")));
    EXPECT_TRUE(f.ButtonStart->Enabled()) << "a ticked folder enables Start";
    EXPECT_TRUE(Holds(Report(), "Selected: " + S("docs")));
    Open(S("docs"));   // opened for the first time: its children take its tick
    EXPECT_TRUE(Ticked(S("docs\\sub")));
    SpaceOn(S("docs\\skip"));
    EXPECT_FALSE(Ticked(S("docs\\skip")));
    EXPECT_TRUE(Holds(Report(), "Unselected: " + S("docs\\skip")));
    SpaceOn(S("pics"));
    EXPECT_TRUE(Ticked(S("pics")));
    EXPECT_EQ(Lower(f.CheckedPaths()), Lower({S("docs"), S("pics")}));

    f.FormToSession();
    EXPECT_EQ(Lower(f.Session.SelectedFolders.ToVector()), Lower({S("docs"), S("docs\\sub"), S("pics")}));
    EXPECT_EQ(Lower(f.Session.UnselectedFolders.ToVector()), Lower({S("docs\\skip")}));
    const std::string file = root + "ticks.xml";
    f.Session.SaveToFile(file);

    // A clean tree, then the session loaded as the Load command does it.
    f.ButtonResetClick();
    EXPECT_TRUE(f.CheckedPaths().empty());
    EXPECT_FALSE(Ticked(S("docs")));
    f.Session.Modified = false;
    LoadAsTheCommandDoes(f, file);
    EXPECT_EQ(f.SessionFileArg, file);
    // The walks of the load went deep; the tree is back at its root.
    TNamespace* selected = nullptr;
    ASSERT_TRUE(Tree().ValidateNamespace(Tree().GetFirstSelected(), selected));
    EXPECT_TRUE(selected->IsMyComputer());
    EXPECT_TRUE(Ticked(S("docs")));
    EXPECT_TRUE(Ticked(S("docs\\sub")));
    EXPECT_FALSE(Ticked(S("docs\\skip")));
    EXPECT_TRUE(Ticked(S("pics")));
    EXPECT_FALSE(Ticked(S("other")));

    f.Mode = bmHardDisk;
    f.HDFolderEdit->SetText(dest);
    f.EditArchiveName->SetText("X.zip");
    f.ButtonStartClick();
    ASSERT_FALSE(f.RunStopped()) << ::testing::PrintToString(Report());
    // docs opened: its own files and its ticked children (their content); skip left out.
    EXPECT_EQ(Lower(f.LastRun()->FlatDirs.ToVector()), Lower({S("docs\\*.*")}));
    EXPECT_EQ(Archived(), StoredAll({"docs\\a.txt", "docs\\sub\\s.txt", "docs\\sub\\deep/", "docs\\sub\\deep\\d.txt",
                                     "pics\\p.jpg"}));
    // tests/e2e/folder_select.sh runs korvane.exe on the saved session and
    // reads both archives with the zip peers against the source tree.
    if (const char* note = std::getenv("KRV_FOLDER_SELECT")) {
        keepRoot = true;
        std::ofstream(note) << root;
    }
}

// Folders whose names differ only in case, and "dir." beside "dir": the tick
// is on the folder clicked alone, the session names it alone, and the run
// archives its own files.
TEST_F(FolderTree, ATickIsOnTheFolderOfExactlyItsName) {
    Write("src\\Data\\x.txt", "first upper");
    Write("src\\dir\\in.txt", "plain");
    const std::wstring folder = AnsiToWide(src);
    const std::pair<const wchar_t*, const char*> made[] = {{L"data", "lower"}, {L"DATA", "ALL UPPER"}, {L"dir.", "dot"}};
    for (auto [name, content] : made) {
        ASSERT_TRUE(krv::test::MakeExactDir(folder, name));
        ASSERT_TRUE(krv::test::WriteExactFile(folder + L"\\" + name, name[3] == L'.' ? L"in.txt" : L"x.txt", content));
    }
    TMainForm& f = ShownForm();
    f.SubFoldersCheck->SetChecked(true);
    ClickBox(S("data"));
    ClickBox(S("dir."));
    EXPECT_TRUE(Ticked(S("data")));
    EXPECT_FALSE(Ticked(S("DATA")));
    EXPECT_FALSE(Ticked(S("Data")));
    EXPECT_TRUE(Ticked(S("dir.")));
    EXPECT_FALSE(Ticked(S("dir")));
    f.FormToSession();
    std::set<std::string> saved;
    for (const std::string& p : f.Session.SelectedFolders.ToVector()) saved.insert(ExtractFileName(p));
    EXPECT_EQ(saved, (std::set<std::string>{"data", "dir."}));
    EXPECT_EQ(f.Session.SelectedFolders.Count(), 2);
    f.ButtonStartClick();
    ASSERT_FALSE(f.RunStopped()) << ::testing::PrintToString(Report());
    EXPECT_EQ(Archived(), StoredAll({"data\\x.txt", "dir.\\in.txt"})) << ::testing::PrintToString(Report());
}

// What is ticked is reached whatever path leads to it: a folder in the
// user's Documents (under Wine a link to another folder), ticked, saved with
// the session, read back and run, the destination typed with its drive in
// lower case.
TEST_F(FolderTree, AFolderTickedBelowALinkIsSavedReadBackAndBackedUp) {
    char documents[MAX_PATH] = {};
    ASSERT_EQ(::SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, 0, documents), S_OK);
    const ScratchFolder made(documents, "krv_tick");
    const std::string mine = ExcludeTrailingBackslash(made.Dir());
    ASSERT_TRUE(DirectoryExists(mine));
    std::ofstream(mine + "\\m.txt", std::ios::binary) << "mine";
    TMainForm& f = ShownForm();
    f.SubFoldersCheck->SetChecked(true);
    ClickBox(mine);
    f.FormToSession();
    const std::string file = root + "docs.xml";
    f.Session.SaveToFile(file);
    f.ButtonResetClick();
    f.Session.Modified = false;
    LoadAsTheCommandDoes(f, file);
    EXPECT_TRUE(Ticked(mine));
    f.HDFolderEdit->SetText(AnsiLowerCase(dest.substr(0, 1)) + dest.substr(1));
    f.ButtonStartClick();
    ASSERT_FALSE(f.RunStopped()) << ::testing::PrintToString(Report());
    std::string stored = mine.substr(0, 1) + "/" + mine.substr(3) + "/m.txt";
    std::replace(stored.begin(), stored.end(), '\\', '/');
    EXPECT_EQ(Archived(), std::vector<std::string>{stored}) << ::testing::PrintToString(Report());
}

// "Open on tick": the folder opens and its children take the tick, whether
// the tick came by key or by mouse, and however long the opening takes.
TEST_F(FolderTree, OpenOnTickKeepsATickGivenByKeyOrMouse) {
    MakeTree();
    Write("src\\more\\x\\y.txt", "y");
    TMainForm& f = ShownForm();
    f.SubFoldersCheck->SetChecked(true);
    f.Settings.ExSubDir = true;
    SpaceOn(S("docs"));
    ClickBox(S("more"));
    for (const char* ticked : {"docs", "docs\\sub", "docs\\skip", "more", "more\\x"}) {
        PLazyNode node = Tree().FindNodeByPath(AnsiToWide(S(ticked)));
        ASSERT_TRUE(node) << ticked;
        EXPECT_EQ(node->CheckState, csCheckedNormal) << ticked;
    }
    EXPECT_TRUE(Tree().Expanded(Tree().FindNodeByPath(AnsiToWide(S("docs")))));
    EXPECT_TRUE(Tree().Expanded(Tree().FindNodeByPath(AnsiToWide(S("more")))));
    EXPECT_EQ(Lower(f.CheckedPaths()), Lower({S("docs"), S("more")}));
}

TEST_F(FolderTree, SpecialFoldersCannotBeTickedADriveCan) {
    TMainForm& f = ShownForm();
    PLazyNode computer = Tree().FindNodeByPIDL(DrivesFolder->AbsolutePIDL());
    ASSERT_TRUE(computer);
    Tree().SetCheckState(computer, csCheckedNormal);
    EXPECT_EQ(Tree().CheckState(computer), csUncheckedNormal);
    EXPECT_TRUE(f.CheckedPaths().empty());
    TNamespace* ns = nullptr;
    ASSERT_TRUE(Tree().ValidateNamespace(computer, ns));
    EXPECT_FALSE(f.IsCheckable(ns));
    EXPECT_FALSE(f.IsCheckable(DesktopFolder));
    EXPECT_FALSE(f.IsCheckable(RecycleBinFolder));

    f.SubFoldersCheck->SetChecked(false);
    PLazyNode drive = Node("C:\\");
    Tree().SetCheckState(drive, csCheckedNormal);
    EXPECT_EQ(Tree().CheckState(drive), csCheckedNormal);
    EXPECT_EQ(f.CheckedPaths(), std::vector<std::string>{"C:\\"});
    // The tree shows only file-system folders and My Computer.
    for (PLazyNode n = computer->FirstChild; n; n = n->NextSibling) {
        ASSERT_TRUE(Tree().ValidateNamespace(n, ns));
        EXPECT_TRUE(ns->FileSystem()) << WideToAnsi(ns->NameForParsing());
    }
}

TEST_F(FolderTree, ALoadedTickHoldsForSubfoldersMadeSinceAndOnlyTheUnselectedStayOut) {
    MakeTree();
    TMainForm& f = MakeForm({S("docs")});
    f.Session.UnselectedFolders.Add(S("docs\\skip"));
    Write("src\\docs\\new\\n.txt", "new");   // made after the session was saved
    f.Session.Type = bmHardDisk;
    f.Session.DirHD = dest;
    f.Session.ArchiveName = "X.zip";
    f.SessionToForm();
    EXPECT_TRUE(Ticked(S("docs\\new")));
    EXPECT_TRUE(Ticked(S("docs\\sub")));
    EXPECT_FALSE(Ticked(S("docs\\skip")));
    f.ButtonStartClick();
    ASSERT_FALSE(f.RunStopped()) << ::testing::PrintToString(Report());
    EXPECT_EQ(Archived(), StoredAll({"docs\\a.txt", "docs\\new\\n.txt", "docs\\sub\\s.txt", "docs\\sub\\deep/",
                                     "docs\\sub\\deep\\d.txt"}));
}

TEST_F(FolderTree, WithoutSubfoldersTicksStayPutAndUntickingKeepsTheTicksBelow) {
    MakeTree();
    TMainForm& f = ShownForm();
    f.SubFoldersCheck->SetChecked(false);
    ClickBox(S("docs"));
    Open(S("docs"));
    EXPECT_FALSE(Ticked(S("docs\\sub"))) << "no tick spreads without subfolders";
    ClickBox(S("docs\\sub"));
    ClickBox(S("docs"));
    EXPECT_FALSE(Ticked(S("docs")));
    EXPECT_TRUE(Ticked(S("docs\\sub")));
    EXPECT_EQ(Lower(f.CheckedPaths()), Lower({S("docs\\sub")}));
    f.ButtonStartClick();
    ASSERT_FALSE(f.RunStopped()) << ::testing::PrintToString(Report());
    ASSERT_TRUE(FileExists(dest + "\\X.zip")) << ::testing::PrintToString(Report());
    EXPECT_EQ(Archived(), StoredAll({"docs\\sub\\s.txt"}));
}

TEST_F(FolderTree, ScanListsAndSizeFollowTheTreeAndANestedTickIsTakenOnce) {
    MakeTree();
    TMainForm& f = MakeForm({S("docs"), S("docs\\sub\\deep"), S("pics")});
    f.SubFoldersCheck->SetChecked(true);
    f.MakeDirLists();
    EXPECT_FALSE(f.LastScan.Stopped);
    // The load opened docs and sub to reach deep: they give their own files,
    // their ticked children go on; deep is taken once.
    EXPECT_EQ(Lower(f.LastScan.FlatDirs.ToVector()), Lower({S("docs"), S("docs\\sub")}));
    EXPECT_EQ(Lower(f.LastScan.RecursiveDirs.ToVector()), Lower({S("docs\\skip"), S("docs\\sub\\deep"), S("pics")}));
    f.ButtonUpdateSize->SetEnabled(true);
    f.ButtonUpdateSizeClick();
    EXPECT_EQ(f.SelectedSize, 100 + 20 + 1000 + 7 + 3);
    EXPECT_EQ(f.LabelSize->Caption(), FormatSize(1130));
    EXPECT_FALSE(f.ButtonUpdateSize->Enabled());

    // An unticked child of an opened folder is neither listed nor counted.
    Tree().SetCheckState(Node(S("docs\\skip")), csUncheckedNormal);
    f.MakeDirLists();
    EXPECT_EQ(Lower(f.LastScan.RecursiveDirs.ToVector()), Lower({S("docs\\sub\\deep"), S("pics")}));
    f.ButtonUpdateSizeClick();
    EXPECT_EQ(f.SelectedSize, 100 + 20 + 1000 + 3);

    // Without subfolders: the ticked folders' own files, nothing below.
    f.SubFoldersCheck->SetChecked(false);
    f.MakeDirLists();
    EXPECT_TRUE(f.LastScan.RecursiveDirs.Empty());
    EXPECT_EQ(Lower(f.LastScan.FlatDirs.ToVector()), Lower({S("docs"), S("docs\\sub"), S("docs\\sub\\deep"), S("pics")}));
    f.ButtonUpdateSizeClick();
    EXPECT_EQ(f.SelectedSize, 100 + 20 + 1000 + 3);
}

// Many folders under few parents, as a large session names them: the walks
// look children up by index, the paths are parsed from listings, and the
// sizes are counted on several threads. The ticks must come back exactly,
// compared as sets, each said once in the report, and the size is every
// selected file's.
TEST_F(FolderTree, AManyFolderSessionComesBackTickForTickAndIsSizedWhole) {
    std::set<std::string> selected, unselected;
    int64_t size = 0;
    for (int i = 0; i < 150; ++i) {
        std::string rel = "g";   // built in steps: one expression trips a false warning of the compiler
        rel += std::to_string(i % 3) + "\\d" + std::to_string(i);
        Write("src\\" + rel + "\\f.txt", std::string(static_cast<size_t>(i + 1), 'x'));
        if (i % 25 == 0) continue;   // left unticked
        selected.insert(AnsiLowerCase(S(rel)));
        size += i + 1;
        if (i % 10 == 3) {
            Write("src\\" + rel + "\\out\\o.txt", "left out");
            unselected.insert(AnsiLowerCase(S(rel + "\\out")));
        }
    }
    form = std::make_unique<TMainForm>(appDir, std::vector<std::string>{});
    TMainForm& f = *form;
    f.FormShow();
    f.Session.SubFolders = true;
    f.Session.Log = 3;
    for (const std::string& p : selected) f.Session.SelectedFolders.Add(p);
    for (const std::string& p : unselected) f.Session.UnselectedFolders.Add(p);
    f.RestoreTreeChecks();

    auto lowered = [](const std::vector<std::string>& v) {
        std::set<std::string> out;
        for (const std::string& p : v) out.insert(AnsiLowerCase(p));
        return out;
    };
    EXPECT_EQ(lowered(f.CheckedPaths()), selected);
    std::multiset<std::string> said;
    for (const std::string& line : Report())
        if (line.rfind(krv::KV_CheckFolder, 0) == 0) said.insert(AnsiLowerCase(line.substr(krv::KV_CheckFolder.size())));
    EXPECT_EQ(said, std::multiset<std::string>(selected.begin(), selected.end()));
    f.TreeChecksToSession();
    EXPECT_EQ(lowered(f.Session.SelectedFolders.ToVector()), selected);
    EXPECT_EQ(lowered(f.Session.UnselectedFolders.ToVector()), unselected);

    f.SubFoldersCheck->SetChecked(true);
    f.ButtonUpdateSize->SetEnabled(true);
    f.ButtonUpdateSizeClick();
    EXPECT_EQ(f.SelectedSize, size);
}

// The scan reopens folders the user closed, with the tree's events off; the
// next ticked folder the user opens must still hand its tick down.
TEST_F(FolderTree, AFolderOpenedAfterAScanStillHandsItsTickDown) {
    MakeTree();
    Write("src\\pics\\raw\\r.jpg", "r");
    Write("src\\pics\\raw\\old\\o.jpg", "o");
    TMainForm& f = MakeForm({S("docs\\sub\\deep"), S("pics")});
    f.SubFoldersCheck->SetChecked(true);
    ASSERT_TRUE(Ticked(S("pics\\raw")));
    Tree().SetExpanded(Tree().FindNodeByPath(AnsiToWide(S("docs"))), false);
    f.MakeDirLists();
    Open(S("pics\\raw"));
    EXPECT_TRUE(Ticked(S("pics\\raw\\old")));
    f.ButtonStartClick();
    ASSERT_FALSE(f.RunStopped()) << ::testing::PrintToString(Report());
    EXPECT_EQ(f.ExitCode, ecDone);
    EXPECT_EQ(Archived(), StoredAll({"docs\\sub\\deep\\d.txt", "pics\\p.jpg", "pics\\raw\\old\\o.jpg",
                                     "pics\\raw\\r.jpg"}));
}

TEST_F(FolderTree, AFolderThatIsGoneIsNamedInRedKeptInTheSessionAndTheRestIsBackedUp) {
    MakeTree();
    TMainForm& f = MakeForm({S("gone"), S("pics")});
    const std::string line = S("gone") + " not found, skipped.";
    EXPECT_TRUE(Holds(Report(), line)) << "said when the session is loaded";
    f.ReportLines.Clear();
    f.ButtonStartClick();
    ASSERT_FALSE(f.RunStopped()) << ::testing::PrintToString(Report());
    EXPECT_TRUE(Holds(Report(), line)) << "said by the run";
    EXPECT_EQ(Archived(), StoredAll({"pics\\p.jpg"}));
    EXPECT_EQ(Lower(f.Session.SelectedFolders.ToVector()), Lower({S("pics"), S("gone")}));

    // Ticked and shown, then deleted before the run: named as well.
    RemoveFolderTree(S("pics"));
    f.ReportLines.Clear();
    f.MakeDirLists();
    EXPECT_EQ(Lower(f.LastScan.Missing), Lower({S("gone"), S("pics")}));
    EXPECT_TRUE(f.LastScan.RecursiveDirs.Empty());
}

// A run that has still to count the size walks the folders once: size and
// lists come from that walk, and a folder gone since the tree showed it is
// named, not counted and not archived.
TEST_F(FolderTree, ARunThatCountsTheSizeWalksTheFoldersOnce) {
    MakeTree();
    TMainForm& f = MakeForm({S("docs"), S("docs\\sub\\deep"), S("pics"), S("other")});
    f.SubFoldersCheck->SetChecked(true);
    ASSERT_TRUE(Node(S("other")));
    RemoveFolderTree(S("other"));
    std::vector<TCheckDirMode> slices;
    TFormZipCheckDirs::OnSlice = [&](TFormZipCheckDirs& window) { slices.push_back(window.Mode); };
    f.ButtonUpdateSize->SetEnabled(true);
    f.ReportLines.Clear();
    f.ButtonStartClick();
    TFormZipCheckDirs::OnSlice = nullptr;
    ASSERT_FALSE(f.RunStopped()) << ::testing::PrintToString(Report());
    EXPECT_EQ(slices, std::vector<TCheckDirMode>{cdmListsAndSize}) << "one walk, not one per step";
    EXPECT_EQ(f.SelectedSize, 100 + 20 + 1000 + 7 + 3);
    EXPECT_FALSE(f.ButtonUpdateSize->Enabled());
    const std::vector<std::string> report = Report();
    auto size = std::find(report.begin(), report.end(), "Checking folders size...");
    ASSERT_NE(size, report.end());
    ASSERT_NE(size + 1, report.end());
    EXPECT_EQ(size[1], "Checking folders to be added...");
    EXPECT_TRUE(Holds(report, S("other") + " not found, skipped."));
    EXPECT_EQ(f.ExitCode, ecLeftOut);
    EXPECT_EQ(Archived(), StoredAll({"docs\\a.txt", "docs\\skip\\k.txt", "docs\\sub\\s.txt", "docs\\sub\\deep\\d.txt",
                                     "pics\\p.jpg"}));
}

TEST_F(FolderTree, NoTickGivesSizeZeroWithoutAWalkAndCancelAsksFirst) {
    TMainForm& f = MakeForm({});
    f.SelectedSize = 555;
    f.LabelSize->SetCaption("stale");
    f.MakeDirLists();
    EXPECT_TRUE(f.LastScan.RecursiveDirs.Empty());
    EXPECT_TRUE(f.LastScan.FlatDirs.Empty());
    EXPECT_EQ(f.SelectedSize, 0);
    EXPECT_EQ(f.LabelSize->Caption(), "0 bytes");

    TFormZipCheckDirs window(&f, f, cdmLists, "start");
    boxAnswer = IDNO;
    window.ButtonWaitCancelClick();
    EXPECT_FALSE(window.Cancelled);
    EXPECT_FALSE(window.Found.Stopped);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].flags, 52u);
    EXPECT_EQ(boxes[0].text, "Do you really want to stop the task?");
    boxAnswer = IDYES;
    window.ButtonWaitCancelClick();
    EXPECT_TRUE(window.Cancelled);
    EXPECT_TRUE(window.Found.Stopped);
    EXPECT_EQ(window.LabelWaitTask->Caption(), "Aborting task...");
    EXPECT_FALSE(window.ButtonWaitCancel->Enabled());
    TFormZipCheckDirs sizeWindow(&f, f, cdmSize, "start");
    sizeWindow.ButtonWaitCancelClick();
    EXPECT_TRUE(sizeWindow.Cancelled);
    EXPECT_EQ(boxes.size(), 2u);
}

TEST_F(FolderTree, CancelDuringTheWalkStopsTheRunBeforeAnythingIsWritten) {
    // Enough opened, ticked folders that the walk takes several slices.
    for (int i = 0; i < 30; ++i)
        for (int j = 0; j < 30; ++j) Folder(Format("src\\big\\d%02d\\e%02d", i, j));
    TMainForm& f = MakeForm({S("big")});
    for (int i = 0; i < 30; ++i) Open(S(Format("big\\d%02d", i)));
    f.SubFoldersCheck->SetChecked(true);
    boxAnswer = IDYES;
    int slices = 0;
    TFormZipCheckDirs::OnSlice = [&](TFormZipCheckDirs& window) {
        if (++slices == 1) window.ButtonWaitCancelClick();
    };
    f.ButtonStartClick();
    TFormZipCheckDirs::OnSlice = nullptr;
    EXPECT_EQ(slices, 1) << "no slice after Cancel";
    EXPECT_TRUE(f.RunStopped());
    EXPECT_EQ(Report().back(), "Operation aborted");
    EXPECT_FALSE(FileExists(dest + "\\X.zip"));
}

// A close that reaches the scan window half way is Cancel: the run ends
// cancelled, asks nothing, writes nothing and leaves the earlier backup as
// it was. The half-made lists never reach the compression.
TEST_F(FolderTree, ClosingTheScanWindowHalfWayCancelsTheRun) {
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 4; ++j) Write(Format("src\\big\\d%d\\e%d\\f.txt", i, j), "f");
    TMainForm& f = MakeForm({S("big")});
    for (int i = 0; i < 6; ++i) Open(S(Format("big\\d%d", i)));
    f.SubFoldersCheck->SetChecked(true);
    Write("dest\\X.zip", "the earlier backup");
    const int slice = TCheckDirThread::Slice.exchange(2);
    for (const CloseWay& way : CloseWays()) {
        SCOPED_TRACE(way.name);
        f.ButtonUpdateSize->SetEnabled(way.name != "SC_CLOSE");   // both kinds of walk
        int slices = 0;
        bool icons = true;
        TFormZipCheckDirs::OnSlice = [&](TFormZipCheckDirs& window) {
            if (++slices != 2) return;
            icons = HasBorderIcons(window.Handle());
            EXPECT_TRUE(CloseWhileWorking(window.Handle(), way, [&] { return window.Cancelled; }));
        };
        f.ReportLines.Clear();
        f.ButtonStartClick();
        TFormZipCheckDirs::OnSlice = nullptr;
        EXPECT_FALSE(icons);
        EXPECT_EQ(slices, 2) << "no slice after the close";
        EXPECT_TRUE(f.RunStopped());
        EXPECT_EQ(f.ExitCode, ecFailed);
        EXPECT_TRUE(boxes.empty()) << "a close asks nothing";
        EXPECT_EQ(Report().back(), "Operation aborted");
        EXPECT_FALSE(Holds(Report(), "Backup done"));
        EXPECT_TRUE(f.LastRun()->FlatDirs.Empty());
        EXPECT_TRUE(f.LastRun()->RecursiveDirs.Empty());
        EXPECT_FALSE(FileExists(dest + "\\X_1.zip"));
        std::ifstream in(dest + "\\X.zip");
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "the earlier backup");
    }
    TCheckDirThread::Slice = slice;
    // The size alone: a close stops the count and the stale size stays marked stale.
    f.ButtonUpdateSize->SetEnabled(true);
    TFormZipCheckDirs::OnSlice = [&](TFormZipCheckDirs& window) {
        if (!window.Cancelled) CloseWhileWorking(window.Handle(), CloseWays()[0], [&] { return window.Cancelled; });
    };
    TCheckDirThread::Slice = 2;
    f.ReportLines.Clear();
    f.ButtonUpdateSizeClick();
    TCheckDirThread::Slice = slice;
    TFormZipCheckDirs::OnSlice = nullptr;
    EXPECT_TRUE(f.ButtonUpdateSize->Enabled());
    EXPECT_FALSE(Holds(Report(), "Interrupted by user")) << "a stopped count loses nothing and says nothing";
}

TEST(ScanPaths, TrailingSeparatorsAndInsideTests) {
    EXPECT_EQ(ScanPath("C:\\a\\"), "C:\\a");
    EXPECT_EQ(ScanPath("C:\\"), "C:");
    EXPECT_FALSE(PathIsInside("C:\\a\\b", "C:\\A"));   // "A" beside "a" is another folder
    EXPECT_TRUE(PathIsInside("C:\\a\\b", "C:\\a\\"));
    EXPECT_FALSE(PathIsInside("C:\\ab", "C:\\a"));
    EXPECT_FALSE(PathIsInside("C:\\a", "C:\\a"));
    EXPECT_TRUE(PathIsInside("C:\\a", "C:"));
}

// The busy cursor lasts while the walk goes on: each time the system asks,
// over the scan window or its Cancel button, the answer is busy.
TEST_F(FolderTree, TheScanKeepsTheBusyCursorWhileItWalks) {
    MakeTree();
    TMainForm& f = MakeForm({S("docs"), S("pics")});
    std::vector<HCURSOR> shown;
    TFormZipCheckDirs::OnSlice = [&](TFormZipCheckDirs& window) {
        for (HWND over : {window.Handle(), window.ButtonWaitCancel->Handle()}) {
            ::SetCursor(::LoadCursor(nullptr, IDC_ARROW));
            ::SendMessageA(over, WM_SETCURSOR, reinterpret_cast<WPARAM>(over), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
            shown.push_back(::GetCursor());
        }
    };
    f.ButtonUpdateSizeClick();
    TFormZipCheckDirs::OnSlice = nullptr;
    EXPECT_EQ(shown, std::vector<HCURSOR>(std::max<size_t>(shown.size(), 2), ::LoadCursor(nullptr, IDC_APPSTARTING)));
}
