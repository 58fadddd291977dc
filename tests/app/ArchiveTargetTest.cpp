// The files of a run's archive: written under a temporary name and given its
// own only when the run succeeded, what a stopped run left removed by the
// next run, a read-only archive never replaced, a name taken meanwhile never
// overwritten, and a path too long for Windows said as such.
#include "RunFixture.h"
#include "WorkerGate.h"
#include "app/ArchiveTarget.h"
#include "app/Unattended.h"
#include "app/ZipWait.h"
#include "app/ZipWaitThread.h"
#include <functional>

using namespace krvtest;

namespace {

class ArchiveFiles : public RunFixture {
protected:
    TMainForm& Form(const std::string& archive = "X.zip") {
        Write("src\\docs\\a.txt", "alpha");
        Write("src\\docs\\sub\\b.txt", std::string(3000, 'b'));
        TMainForm& f = MakeForm({src + "\\docs"}, archive);
        f.SubFoldersCheck->SetChecked(true);
        KorvaneState().Batch = true;
        return f;
    }
    void TearDown() override {
        KorvaneState().Batch = false;
        RunFixture::TearDown();
    }
    // Runs the backup; during() is called once, on the user-interface thread,
    // while the worker is held at the first file whose name holds `at`.
    void Run(TMainForm& f, const std::function<void()>& during = {}, const std::string& at = "") {
        WorkerGate gate(at, [&](TFormZipWait&) {
            if (during) during();
        });
        f.ButtonStartClick();
        EXPECT_EQ(gate.Stops, 1);
    }
    static int Temporaries(const std::string& folder) {
        int n = 0;
        for (const std::string& name : FilesIn(folder)) n += IsTemporaryArchiveName(name) ? 1 : 0;
        return n;
    }
    static bool ReadOnly(const std::string& path) {
        DWORD a = ::GetFileAttributesA(path.c_str());
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY);
    }
    std::string Dest(const std::string& name) const { return dest + "\\" + name; }
    std::vector<std::string> Wanted() const { return {Stored("src\\docs\\a.txt"), Stored("src\\docs\\sub/"), Stored("src\\docs\\sub\\b.txt")}; }
};

} // namespace

TEST(ArchiveNames, TemporaryNamesAndVolumeNames) {
    struct Case {
        const char* name;
        bool temporary;
    } cases[] = {{"~kv1A2B.tmp", true},      {"~KV00ff.TMP", true},  {"~kv0000.tmp", true},  {"~kv9a.tmp", true},
                 {"~kvf.tmp", true},         {"~kv.tmp", false},     {"~kv12345.tmp", false}, {"~kvXYZW.tmp", false},
                 {"~kv1234.txt", false},     {"a~kv1234.tmp", false}, {"~kv1234.tmp.zip", false},
                 {"~fc1234.tmp", false}};
    for (const Case& c : cases) EXPECT_EQ(IsTemporaryArchiveName(c.name), c.temporary) << c.name;

    EXPECT_EQ(ArchiveVolume("C:\\t\\~kv1A2B.tmp", 1), "C:\\t\\~kv1A2B.Z01");
    EXPECT_EQ(ArchiveVolume("C:\\t\\Set.zip", 12), "C:\\t\\Set.Z12");
    EXPECT_EQ(ArchiveVolume("C:\\t\\Set.zip", 100), "C:\\t\\Set.Z100");

    // MAX_PATH counts the closing zero; a temporary name needs 14 characters in its folder.
    const std::string folder246 = "C:\\" + std::string(243, 'd'), folder247 = folder246 + "d";
    EXPECT_TRUE(ArchivePathFits(folder246 + "\\X.zip"));
    EXPECT_FALSE(ArchivePathFits(folder247 + "\\X.zip"));
    const std::string folder200 = "C:\\" + std::string(197, 'd');
    EXPECT_TRUE(ArchivePathFits(folder200 + "\\" + std::string(54, 'n') + ".zip"));   // 259 characters
    EXPECT_FALSE(ArchivePathFits(folder200 + "\\" + std::string(55, 'n') + ".zip"));
    EXPECT_TRUE(ArchivePathFits("C:\\" + std::string(251, 'n') + ".zip"));   // a name of 255
    EXPECT_FALSE(ArchivePathFits("C:\\" + std::string(252, 'n') + ".zip"));
    EXPECT_FALSE(ArchivePathFits("C:\\b\\" + std::string(296, 'n') + ".zip"));
}

// Until the run has succeeded the archive lies under a temporary name: a run
// that is killed leaves nothing under a backup's name.
TEST_F(ArchiveFiles, TheArchiveTakesItsNameOnlyWhenTheRunSucceeded) {
    struct Case {
        const char* what;
        bool overwrite;
        bool oldArchive;
        const char* name;   // the archive's name after the run
    } cases[] = {{"a new name", false, false, "X.zip"},
                 {"the next free name", false, true, "X_1.zip"},
                 {"overwrite", true, true, "X.zip"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TMainForm& f = Form();
        for (const std::string& n : FilesIn(dest)) ::DeleteFileA(Dest(n).c_str());
        if (c.oldArchive) Write("dest\\X.zip", "the old backup");
        f.CheckOverwriteFile->SetChecked(c.overwrite);
        Run(f, [&] {
            EXPECT_EQ(Temporaries(dest), 1);
            EXPECT_EQ(FilesIn(dest).size(), c.oldArchive ? 2u : 1u);
            if (c.oldArchive) {
                EXPECT_EQ(Bytes(Dest("X.zip")), "the old backup");
            }
        });
        ASSERT_FALSE(f.RunStopped()) << ::testing::PrintToString(Report());
        EXPECT_EQ(Entries(Dest(c.name)), Wanted());
        EXPECT_EQ(Temporaries(dest), 0);
        EXPECT_EQ(FilesIn(dest).size(), c.oldArchive && !c.overwrite ? 2u : 1u);
        EXPECT_EQ(f.ExitCode, ecDone);
    }
}

// A disc's volumes are written under the temporary name too and take the
// archive's names (".Z01", ".Z02"... and the archive's own for the last)
// before the image is made.
TEST_F(ArchiveFiles, ADiscSetTakesItsNamesWhenItIsWhole) {
    TMainForm& f = Form("D.zip");
    std::string noise(200000, '\0');
    uint32_t x = 99;
    for (char& c : noise) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
    Write("src\\docs\\noise.bin", noise);
    f.Mode = bmDisc;
    f.CheckRW->SetChecked(false);
    f.Archiver.SpanningOptions.SetCustomVolumeSize(65536);
    const std::string temp = ExcludeTrailingBackslash(f.TempDir);
    ::CreateDirectoryA(temp.c_str(), nullptr);
    std::set<std::string> atIso;
    f.OnRunBuilt = [&](TBackupRun& run) {
        run.FindStep("iso")->Action = [&] { atIso = FilesIn(temp); };
        run.FindStep("blank")->Action = run.FindStep("burn")->Action = [] {};
    };
    // Held at the last file, with the earlier volumes written.
    Run(f, [&] {
        EXPECT_EQ(Temporaries(temp), 1);
        for (const std::string& n : FilesIn(temp)) EXPECT_NE(n.substr(0, 2), "D.") << n;
    }, "b.txt");
    ASSERT_FALSE(f.RunStopped()) << ::testing::PrintToString(Report());
    EXPECT_TRUE(atIso.count("D.zip"));
    EXPECT_TRUE(atIso.count("D.Z01"));
    EXPECT_TRUE(atIso.count("D.Z03"));
    for (const std::string& n : atIso) EXPECT_EQ(n.rfind("~kv", 0), std::string::npos) << n;
}

// What a killed run left (its temporary archive and volumes) is removed by the
// next run into that folder and logged; a temporary archive that a running
// program holds open, and names of any other kind, are left alone.
TEST_F(ArchiveFiles, WhatAStoppedRunLeftIsRemovedByTheNextRun) {
    TMainForm& f = Form();
    const std::vector<std::string> stale = {"~kv1A2B.tmp", "~KV00FF.TMP", "~kv5E6F.tmp", "~kv5E6F.Z01",
                                            "~kv5E6F.Z02", "~kv7777.Z01", "~kv9a.tmp", "~kv9a.Z01"};
    // Held open: a hard disk's archive being written, a disc's last volume being
    // written (its earlier volumes and its reserved name are closed meanwhile).
    const std::vector<std::string> held = {"~kv3C4D.tmp", "~kv9E9E.Z03"};
    const std::vector<std::string> kept = {"~kv3C4D.tmp", "~kv9E9E.tmp", "~kv9E9E.Z01", "~kv9E9E.Z02",
                                           "~kv9E9E.Z03", "~kvABCDE.tmp", "~kv.tmp", "~kvXYZW.tmp",
                                           "~kv1234.txt", "notes~kv1234.tmp"};
    for (const std::string& n : stale) Write("dest\\" + n, "cut off");
    for (const std::string& n : kept) Write("dest\\" + n, "someone's");
    std::vector<FileHandle> holds;
    for (const std::string& n : held) {
        holds.emplace_back(::CreateFileA(Dest(n).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                         nullptr));
        ASSERT_TRUE(holds.back()) << n;
    }
    Run(f);
    ASSERT_FALSE(f.RunStopped()) << ::testing::PrintToString(Report());
    std::set<std::string> want(kept.begin(), kept.end());
    want.insert("X.zip");
    EXPECT_EQ(FilesIn(dest), want);
    for (const std::string& n : stale)
        EXPECT_TRUE(Holds(Report(), "Removed an unfinished archive left by a stopped run: " + Dest(n))) << n;
    for (const std::string& n : kept) EXPECT_FALSE(Holds(Report(), Dest(n))) << n;
    EXPECT_FALSE(Holds(Report(), "Error"));
    EXPECT_EQ(f.ExitCode, ecDone);

    // Once their program lets them go, the next run removes them.
    holds.clear();
    Run(f);
    for (const char* n : {"~kv3C4D.tmp", "~kv9E9E.tmp", "~kv9E9E.Z01", "~kv9E9E.Z03"})
        EXPECT_FALSE(FileExists(Dest(n))) << n;
    EXPECT_TRUE(FileExists(Dest("~kvABCDE.tmp")));
}

// "Overwrite" never replaces an archive the user made read-only, whether it
// was so when the run started or became so while it ran: the backup takes the
// next free name and the report says so.
TEST_F(ArchiveFiles, AReadOnlyArchiveIsNeverReplaced) {
    for (bool duringRun : {false, true}) {
        SCOPED_TRACE(duringRun ? "made read-only during the run" : "read-only before the run");
        TMainForm& f = Form();
        for (const std::string& n : FilesIn(dest)) {
            ::SetFileAttributesA(Dest(n).c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileA(Dest(n).c_str());
        }
        Write("dest\\X.zip", "the old backup");
        auto protect = [&] { ASSERT_TRUE(::SetFileAttributesA(Dest("X.zip").c_str(), FILE_ATTRIBUTE_READONLY)); };
        if (!duringRun) protect();
        f.CheckOverwriteFile->SetChecked(true);
        Run(f, [&] {
            if (duringRun) protect();
        });
        ASSERT_FALSE(f.RunStopped()) << ::testing::PrintToString(Report());
        EXPECT_EQ(Bytes(Dest("X.zip")), "the old backup");
        EXPECT_TRUE(ReadOnly(Dest("X.zip")));
        EXPECT_EQ(Entries(Dest("X_1.zip")), Wanted());
        EXPECT_EQ(FilesIn(dest), (std::set<std::string>{"X.zip", "X_1.zip"}));
        EXPECT_TRUE(Holds(Report(), "The archive is read-only and is not replaced: " + Dest("X.zip")));
        EXPECT_TRUE(Holds(Report(), "The archive name has been changed to X_1.zip"));
        EXPECT_TRUE(Holds(Report(), "Archive: " + Dest("X_1.zip")));
        EXPECT_EQ(f.ExitCode, ecDone);
        ::SetFileAttributesA(Dest("X.zip").c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

// A name free when the run started but taken when it ends (another program
// wrote it meanwhile) is never overwritten.
// The next free name follows the one rule (X_1.zip, X_1_2.zip...) from the
// name asked for, also when the name the run took is taken meanwhile.
TEST_F(ArchiveFiles, ANameTakenWhileTheRunWroteIsNeverOverwritten) {
    struct Case {
        std::vector<std::string> before;   // in the destination when the run starts
        std::string meanwhile, written;
    } cases[] = {{{}, "X.zip", "X_1.zip"}, {{"X.zip"}, "X_1.zip", "X_1_2.zip"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.written);
        for (const std::string& name : FilesIn(dest)) ::DeleteFileA(Dest(name).c_str());
        for (const std::string& name : c.before) Write("dest\\" + name, "earlier");
        TMainForm& f = Form();
        Run(f, [&] { Write("dest\\" + c.meanwhile, "written meanwhile"); });
        ASSERT_FALSE(f.RunStopped()) << ::testing::PrintToString(Report());
        EXPECT_EQ(Bytes(Dest(c.meanwhile)), "written meanwhile");
        EXPECT_EQ(Entries(Dest(c.written)), Wanted());
        EXPECT_TRUE(Holds(Report(), "The archive name has been changed to " + c.written));
        EXPECT_TRUE(Holds(Report(), "Archive: " + Dest(c.written)));
        EXPECT_EQ(Temporaries(dest), 0);
    }
}

// A destination or a name too long for Windows is its own error, not "too
// many backups"; with a person there it is also a box.
TEST_F(ArchiveFiles, APathTooLongForWindowsIsSaidAsSuch) {
    TMainForm& f = Form();
    struct Case {
        const char* what;
        size_t folderLength;   // of the destination folder, 0: the test's own
        size_t nameLength;     // of the archive's name with ".zip"
        bool fits;
    } cases[] = {{"254-character destination", 254, 5, false},
                 {"300-character name", 0, 300, false},
                 {"no room for a temporary name", 247, 5, false},
                 {"the longest that fits", 246, 5, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string folder = dest;
        if (c.folderLength) {
            folder += "\\" + std::string(c.folderLength - dest.size() - 1, 'f');
            ASSERT_TRUE(::CreateDirectoryW(LongPathW(folder).c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
        }
        const std::string name = std::string(c.nameLength - 4, 'n') + ".zip";
        f.HDFolderEdit->SetText(folder);
        f.EditArchiveName->SetText(name);
        const std::string path = folder + "\\" + name;
        for (bool person : {false, true}) {
            KorvaneState().Batch = !person;
            boxes.clear();
            f.ButtonStartClick();
            if (c.fits) {
                EXPECT_FALSE(f.RunStopped()) << ::testing::PrintToString(Report());
                ::DeleteFileA(path.c_str());
                continue;
            }
            EXPECT_TRUE(f.RunStopped());
            EXPECT_TRUE(Holds(Report(), "The backup's path is too long for Windows: " + path));
            EXPECT_FALSE(Holds(Report(), "There are too many backups"));
            EXPECT_EQ(Report().back(), "Operation aborted");
            EXPECT_EQ(Temporaries(folder), 0);
            if (person) {
                ASSERT_EQ(boxes.size(), 1u);
                EXPECT_EQ(boxes[0].text, "The backup's path is too long for Windows:\r\n" + path);
                EXPECT_EQ(boxes[0].flags, 16u);
            } else {
                EXPECT_TRUE(boxes.empty());
            }
        }
    }
    KorvaneState().Batch = true;
}

// A drive's root as the destination: the archive is written in that root,
// not in the drive's current folder.
TEST_F(ArchiveFiles, ADriveRootDestinationKeepsTheTemporaryArchiveInTheRoot) {
    const std::string drive = dest.substr(0, 3);   // the test folder's drive, "C:\"
    const std::string name = krv::test::UniqueName("krv_root") + ".zip";
    TMainForm& f = Form(name);
    Folder("dest\\current");
    char saved[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, saved);
    ASSERT_TRUE(::SetCurrentDirectoryA((dest + "\\current").c_str()));
    f.HDFolderEdit->SetText(drive);
    Run(f, [&] { EXPECT_EQ(FilesIn(dest + "\\current").size(), 0u); });
    ::SetCurrentDirectoryA(saved);
    ASSERT_FALSE(f.RunStopped()) << ::testing::PrintToString(Report());
    EXPECT_EQ(Entries(drive + name), Wanted());
    EXPECT_EQ(FilesIn(dest + "\\current").size(), 0u);
    ::DeleteFileA((drive + name).c_str());
}
