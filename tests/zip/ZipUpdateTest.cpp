// The update engine: the search with attributes, masks and exclusions, and
// the commit with failures, retry, abort, cancel, rollback and appending.
#include "ZipTestUtil.h"
#include "common/ExactNames.h"
#include "zip/ZipArchiver.h"
#include "zip/ZipCompress.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <atomic>
#include <set>

using namespace krv;
using namespace ziptest;

namespace {

std::set<std::string> Names(TZipArchiver& z) {
    std::set<std::string> n;
    for (int i = 0; i < z.Count(); ++i) n.insert(z.Items(i).name);
    return n;
}

std::set<std::string> NamesIn(const std::string& archive) {
    TZipArchiver z;
    z.FileName = archive;
    z.OpenArchive(fmOpenRead | fmShareDenyNone);
    return Names(z);
}

struct Tree {
    TScratch s;
    Tree() {
        s.Write("data\\a.txt", "a");
        s.Write("data\\b.tmp", "b");
        s.Write("data\\sub\\c.txt", "c");
        s.Write("data\\sub\\deep\\d.txt", "d");
        s.Write("data\\dir.xps\\e.txt", "e");
        s.Write("data\\cache\\f.txt", "f");
        s.Folder("data\\empty");
    }
};

// Sets the archiver up as the backup program does and records failures.
struct AppArchiver {
    TZipArchiver z;
    std::vector<std::pair<int, int>> failures;   // native, code
    std::function<TZipAction(const std::string&, int)> decide;
    explicit AppArchiver(const std::string& archive) {
        z.SetName("Archiver");
        z.SetCompressionLevel(clMax);
        z.SetZip64Mode(zmAuto);
        z.Options.StorePath = spFullPath;
        z.FileName = archive;
        z.OnProcessFileFailure = [this](TObject*, const std::string& name, TZipProcessOperation, int native, int code,
                                        const std::string&, TZipAction& action) {
            failures.push_back({native, code});
            const bool skipped = code == 6 || code == 12 || (code >= 34 && code <= 38);
            action = decide ? decide(name, code) : skipped ? fxaIgnore : fxaAbort;
        };
        z.OnStoreFile = [](TObject*, std::string& name, uint32_t&, std::string&, const std::string& full) {
            name = ExtractFileDrive(full).substr(0, 1) + "\\" + name;
        };
    }
    // Several recursive masks are separated by '|'.
    void Run(const std::string& flat, const std::string& recursive, const std::string& exclude = "") {
        z.BeginUpdate();
        z.FileMasks().Clear();
        z.ExclusionMasks().Clear();
        if (!exclude.empty()) z.ExclusionMasks().Add(exclude);
        z.Options.Recurse = false;
        z.Options.SearchAttr = 47;
        if (!flat.empty()) z.FileMasks().Add(flat);
        z.AddFiles();
        z.Options.Recurse = true;
        z.Options.SearchAttr = 63;
        z.FileMasks().Clear();
        for (size_t at = 0; at < recursive.size();) {
            size_t end = std::min(recursive.find('|', at), recursive.size());
            z.FileMasks().Add(recursive.substr(at, end - at));
            at = end + 1;
        }
        z.AddFiles();
        z.EndUpdate();
    }
    // Stored names below the scratch folder, without the drive and scratch prefix.
    std::set<std::string> Relative(const TScratch& s) {
        std::string prefix = ExtractFileDrive(s.Dir()).substr(0, 1) + "/" +
                             StringReplaceAll(s.Dir().substr(3), "\\", "/");
        std::set<std::string> out;
        for (const auto& n : Names(z)) {
            EXPECT_EQ(n.rfind(prefix, 0), 0u) << n;
            out.insert(n.substr(prefix.size()));
        }
        return out;
    }
};

// The path as a person may type it: its drive letter in lower case.
std::string LowerDrive(const std::string& path) { return AnsiLowerCase(path.substr(0, 1)) + path.substr(1); }

// An archive of the top folder's files, made before the update under test.
void MakeEarlierArchive(Tree& t) {
    AppArchiver first(t.s.Path("out.zip"));
    first.z.OpenArchive(fmCreate);
    first.Run(t.s.Path("data\\*.*"), "");
    first.z.CloseArchive();
}

} // namespace

TEST(ZipSearch, FlatPassWithoutFoldersThenRecursivePassWithFolders) {
    Tree t;
    AppArchiver app(t.s.Path("out.zip"));
    app.z.OpenArchive(fmCreate);
    app.Run(t.s.Path("data\\*.*"), t.s.Path("data\\sub\\*.*"));
    std::set<std::string> expected = {"data/a.txt", "data/b.tmp", "data/sub/c.txt", "data/sub/deep/",
                                      "data/sub/deep/d.txt"};
    EXPECT_EQ(app.Relative(t.s), expected);
    app.z.CloseArchive();
}

TEST(ZipSearch, ExclusionsByNameAndByFolderPart) {
    Tree t;
    AppArchiver app(t.s.Path("out.zip"));
    app.z.OpenArchive(fmCreate);
    app.z.BeginUpdate();
    app.z.ExclusionMasks().Add("*.tmp");
    app.z.ExclusionMasks().Add("*.xps");      // a file mask: keeps the folder dir.xps
    app.z.ExclusionMasks().Add("cache\\*");   // a folder part, relative to the searched folder
    app.z.ExclusionMasks().Add("sub\\deep\\");
    // A full name, its drive typed in lower case: that file, not "A.txt" beside it; a full pattern likewise.
    app.z.ExclusionMasks().Add(LowerDrive(t.s.Path("data\\a.txt")));
    app.z.ExclusionMasks().Add(LowerDrive(t.s.Path("data\\dir.xps\\*.txt")));
    ASSERT_TRUE(krv::test::WriteExactFile(AnsiToWide(t.s.Path("data")), L"A.txt", "A"));
    app.z.Options.SearchAttr = 63;
    app.z.FileMasks().Add(t.s.Path("data\\*.*"));
    app.z.AddFiles();
    app.z.EndUpdate();
    std::set<std::string> expected = {"data/A.txt", "data/sub/", "data/sub/c.txt", "data/dir.xps/", "data/empty/"};
    EXPECT_EQ(app.Relative(t.s), expected);
    app.z.CloseArchive();
}

TEST(ZipSearch, AttributesDecideWhatIsFound) {
    TScratch s;
    s.Write("n\\normal.txt", "x");
    s.Write("n\\hidden.txt", "x");
    ::SetFileAttributesA(s.Path("n\\normal.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    ::SetFileAttributesA(s.Path("n\\hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
    TZipArchiver z;
    z.FileName = s.Path("out.zip");
    z.BaseDir = s.Path("n");
    z.BeginUpdate();
    z.FileMasks().Add("*.*");
    z.Options.SearchAttr = FILE_ATTRIBUTE_HIDDEN;
    z.AddFiles();
    z.EndUpdate();
    EXPECT_EQ(Names(z), (std::set<std::string>{"hidden.txt"}));
    z.CloseArchive();
}

TEST(ZipSearch, ArchiveAndItsVolumesUnderTheSearchedFolderAreNeverTaken) {
    TScratch s;
    s.Write("a.txt", "a");
    s.Write("set.Z01", "an old volume");
    s.Write("set_001.zip", "an old volume");
    s.Write("settle.txt", "not a volume");
    // Either of the archive and the searched folder may have its drive typed in lower case.
    for (bool lowerArchive : {false, true}) {
        TZipArchiver z;
        z.FileName = lowerArchive ? LowerDrive(s.Path("set.zip")) : s.Path("set.zip");
        z.BaseDir = lowerArchive ? s.Dir() : LowerDrive(s.Dir());
        z.OpenArchive(fmCreate);
        z.BeginUpdate();
        z.FileMasks().Add("*.*");
        z.AddFiles();
        z.EndUpdate();
        EXPECT_EQ(Names(z), (std::set<std::string>{"a.txt", "settle.txt"})) << lowerArchive;
        z.CloseArchive();
        ASSERT_TRUE(::DeleteFileA(s.Path("set.zip").c_str()));
    }
}

// Names the ANSI calls would change, and names that differ only in case,
// are taken as they are; a folder the search cannot list is told to the
// owner once per update, never taken as empty.
TEST(ZipSearch, NamesEndingInADotOrSpaceAndFoldersThatCannotBeListed) {
    Tree t;
    for (const char* name : {"data\\g.", "data\\h ", "data\\dir.\\in.txt"}) t.s.Write(name, "n");
    for (const wchar_t* name : {L"x.txt", L"X.txt"}) ASSERT_TRUE(krv::test::WriteExactFile(AnsiToWide(t.s.Path("data")), name, "x"));
    struct Row { std::string flat, recursive; std::set<std::string> entries; std::vector<std::pair<int, int>> failures;
                 std::string gone = {}; };   // when the file gone is found, the tree is moved away
    const std::string sub = t.s.Path("data\\sub\\");
    const Row rows[] = {
        {t.s.Path("data\\*.*"), "", {"data/a.txt", "data/b.tmp", "data/g.", "data/h ", "data/x.txt", "data/X.txt"}, {}},
        {"", t.s.Path("data\\dir.\\*.*"), {"data/dir./in.txt"}, {}},
        {t.s.Path("data\\gone\\*.txt"), t.s.Path("data\\gone\\*.*"), {}, {{57, 34}}},   // gone before the search
        // The tree gone while "deep" was listed: no entry for that folder (the
        // files found before fail at the commit), also where an earlier mask found it.
        {"", sub + "*.*", {}, {{57, 34}, {33, 12}, {33, 12}}, "data\\sub\\deep\\d.txt"},
        {"", sub + "de*|" + sub + "*.*", {}, {{57, 34}, {33, 12}, {33, 12}}, "data\\sub\\deep\\d.txt"},
    };
    for (const Row& row : rows) {
        AppArchiver app(t.s.Path("out.zip"));
        // (The folders being listed are held open; the one above them is not.)
        const std::string data = t.s.Path("data"), away = t.s.Path("away");
        bool moved = false;
        app.z.OnConfirmProcessFile = [&](TObject*, const std::string& name, TZipProcessOperation, bool&) {
            if (!moved && !row.gone.empty() && name == t.s.Path(row.gone)) moved = ::MoveFileA(data.c_str(), away.c_str());
        };
        app.z.OpenArchive(fmCreate);
        app.Run(row.flat, row.recursive);
        EXPECT_EQ(moved, !row.gone.empty() && ::MoveFileA(away.c_str(), data.c_str()));
        EXPECT_EQ(app.Relative(t.s), row.entries) << row.flat << row.recursive;
        EXPECT_EQ(app.failures, row.failures) << row.flat << row.recursive;
        app.z.CloseArchive();
    }
}

TEST(ZipCommit, LockedFileGetsFailureEventAndNoEntry) {
    Tree t;
    HANDLE lock = ::CreateFileA(t.s.Path("data\\a.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    FileHandle holder(lock);
    AppArchiver app(t.s.Path("out.zip"));
    app.z.OpenArchive(fmCreate);
    app.Run(t.s.Path("data\\*.*"), "");
    ASSERT_EQ(app.failures.size(), 1u);
    EXPECT_EQ(app.failures[0], std::make_pair(33, 12));
    EXPECT_EQ(app.Relative(t.s), (std::set<std::string>{"data/b.tmp"}));
    EXPECT_EQ(app.z.ItemsProcessed(), 1);
    app.z.CloseArchive();
    holder.reset();
    EXPECT_EQ(NamesIn(t.s.Path("out.zip")).size(), 1u);
}

// A file cut short while the writer reads it (its second block) is left out
// alone, its partial entry cut off (also when staged for volumes); an entry
// an earlier archive holds stays.
TEST(ZipCommit, FileCutShortWhileReadIsLeftOutAndTheRunGoesOn) {
    for (int variant : {0, 1, 2}) {   // a new archive, an earlier one, a new split one
        const bool earlier = variant == 1;
        Tree t;
        const std::string big = t.s.Write("data\\big.bin", Pattern(2 << 20, 7));
        if (earlier) MakeEarlierArchive(t);
        AppArchiver app(t.s.Path("out.zip"));
        app.z.PrefetchWorkers = 0;
        if (variant == 2) app.z.SetSpanningMode(smSplitting);
        app.z.OnFileProgress = [&](TObject*, const std::string& name, double progress, TZipProcessOperation,
                                   TZipProgressPhase phase, bool&) {
            if (phase == ppProcess && progress > 0 && name.find("big.bin") != std::string::npos)
                TFileStream(big, fmOpenWrite | fmShareDenyNone).SetSize(1000);
        };
        if (!earlier) app.z.OpenArchive(fmCreate);
        app.Run(t.s.Path("data\\*.*"), "");
        EXPECT_EQ(app.failures, (std::vector<std::pair<int, int>>{{59, 36}})) << variant;
        std::set<std::string> want{"data/a.txt", "data/b.tmp"};
        if (earlier) want.insert("data/big.bin");
        EXPECT_EQ(app.Relative(t.s), want) << variant;
        uint64_t kept = 0;   // the earlier entry, whole
        for (int i = 0; i < app.z.Count(); ++i)
            if (app.z.Items(i).name.find("big") != std::string::npos) kept = app.z.Items(i).uncompressedSize;
        EXPECT_EQ(kept, earlier ? 2u << 20 : 0u) << variant;
        app.z.CloseArchive();
        EXPECT_EQ(NamesIn(t.s.Path("out.zip")).size(), want.size()) << variant;
    }
}

// A file rewritten in place while it is read (by the writer, or by a
// read-ahead worker) is read once more and stored as it is then, with no
// failure; one rewritten at every read keeps its last copy and is named.
TEST(ZipCommit, FileRewrittenWhileReadIsReadAgainOrKeptAndNamed) {
    struct Row { int variant; int workers; bool every; };   // variants as above
    const Row rows[] = {{0, 0, false}, {0, 0, true}, {1, 0, false}, {1, 0, true},
                        {2, 0, false}, {2, 0, true}, {0, 2, false}, {0, 2, true}};
    const size_t size = 2 << 20, block = ZipBlockSize(9);
    auto state = [&](int n) { return Pattern(size, n == 0 ? 7 : 100 + n); };
    for (const Row& row : rows) {
        Tree t;
        const std::string big = t.s.Write("data\\big.bin", state(0));
        if (row.variant == 1) MakeEarlierArchive(t);
        std::atomic<int> rewrites{0};
        // The same size, its n-th content and a time of its own, as a program rewriting its data does.
        auto rewrite = [&](const std::string& name) {
            if (name.find("big.bin") == std::string::npos || (!row.every && rewrites > 0)) return;
            const std::string data = state(++rewrites);
            FileHandle f(::CreateFileA(big.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
            DWORD done = 0;
            ::WriteFile(f.get(), data.data(), static_cast<DWORD>(size), &done, nullptr);
            const uint64_t when = 126227808000000000ull + rewrites * 10000000ull;   // 2001, plus seconds
            FILETIME time{static_cast<DWORD>(when), static_cast<DWORD>(when >> 32)};
            ASSERT_TRUE(done == size && ::SetFileTime(f.get(), nullptr, nullptr, &time));
        };
        AppArchiver app(t.s.Path("out.zip"));
        app.z.PrefetchWorkers = row.workers;
        app.z.PrefetchRead = rewrite;
        if (row.variant == 2) app.z.SetSpanningMode(smSplitting);
        app.z.OnFileProgress = [&](TObject*, const std::string& name, double progress, TZipProcessOperation,
                                   TZipProgressPhase phase, bool&) {
            if (phase == ppProcess && progress > 0) rewrite(name);   // between the first two blocks
        };
        if (row.variant != 1) app.z.OpenArchive(fmCreate);
        app.Run(t.s.Path("data\\*.*"), "");
        const std::string at = Format("variant %d workers %d every %d", row.variant, row.workers, row.every);
        EXPECT_EQ(rewrites, row.every ? 2 : 1) << at;
        const std::vector<std::pair<int, int>> named{{61, 38}};
        EXPECT_EQ(app.failures, row.every ? named : decltype(named){}) << at;
        const std::string want = row.every ? state(rewrites - 1).substr(0, block) + state(rewrites).substr(block)
                                           : state(rewrites);
        EXPECT_EQ(app.Relative(t.s), (std::set<std::string>{"data/a.txt", "data/b.tmp", "data/big.bin"})) << at;
        TDirItem stored;
        for (int i = 0; i < app.z.Count(); ++i)
            if (app.z.Items(i).name.find("big.bin") != std::string::npos) stored = app.z.Items(i);
        app.z.CloseArchive();
        EXPECT_TRUE(EntryData(ReadAll(t.s.Path("out.zip")), stored) == want) << at;
        EXPECT_EQ(stored.crc, ~CrcUpdate(0xFFFFFFFFu, reinterpret_cast<const uint8_t*>(want.data()), want.size())) << at;
    }
}

TEST(ZipCommit, RetryRepeatsTheFile) {
    Tree t;
    FileHandle holder(::CreateFileA(t.s.Path("data\\a.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    AppArchiver app(t.s.Path("out.zip"));
    app.decide = [&](const std::string&, int) {
        holder.reset();
        return fxaRetry;
    };
    app.z.OpenArchive(fmCreate);
    app.Run(t.s.Path("data\\*.*"), "");
    EXPECT_EQ(app.failures.size(), 1u);
    EXPECT_EQ(app.Relative(t.s), (std::set<std::string>{"data/a.txt", "data/b.tmp"}));
    app.z.CloseArchive();
}

TEST(ZipCommit, FileFoundTwiceThatFailsIsDroppedAlone) {
    Tree t;
    FileHandle holder(::CreateFileA(t.s.Path("data\\a.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    AppArchiver app(t.s.Path("out.zip"));
    app.z.OpenArchive(fmCreate);
    app.Run(t.s.Path("data\\*.*"), t.s.Path("data\\*.txt"));   // a.txt is found by both passes
    EXPECT_EQ(app.failures.size(), 1u);
    auto names = app.Relative(t.s);
    EXPECT_EQ(names.count("data/a.txt"), 0u);
    EXPECT_EQ(names.count("data/b.tmp"), 1u);
    EXPECT_EQ(names.count("data/sub/deep/d.txt"), 1u);
    app.z.CloseArchive();
}

TEST(ZipCommit, CancelAtFirstEventLeavesAValidEmptyArchive) {
    Tree t;
    AppArchiver app(t.s.Path("out.zip"));
    app.z.OnOverallProgress = [](TObject*, double, TZipProcessOperation, TZipProgressPhase phase, bool& cancel) {
        cancel = phase == ppStart;
    };
    app.z.OpenArchive(fmCreate);
    app.Run(t.s.Path("data\\*.*"), "");
    EXPECT_EQ(app.z.Count(), 0);   // nothing left marked as written
    app.z.CloseArchive();
    EXPECT_EQ(FileSizeOf(t.s.Path("out.zip")), 22);
}

TEST(ZipCommit, AbortOrCancelLeavesAnEarlierArchiveByteIdentical) {
    Tree t;
    MakeEarlierArchive(t);
    auto before = ReadAll(t.s.Path("out.zip"));
    t.s.Write("data\\sub\\later.txt", std::string(100000, 'L'));
    for (int variant = 0; variant < 3; ++variant) {
        AppArchiver app(t.s.Path("out.zip"));
        int started = 0;
        FileHandle holder;
        if (variant == 0) {   // the user cancels in the middle
            app.z.OnFileProgress = [&](TObject*, const std::string&, double, TZipProcessOperation,
                                       TZipProgressPhase phase, bool& cancel) {
                cancel = phase == ppStart && ++started == 3;
            };
        } else if (variant == 1) {   // the owner aborts on a failure
            holder.reset(::CreateFileA(t.s.Path("data\\sub\\c.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                       0, nullptr));
            app.decide = [](const std::string&, int) { return fxaAbort; };
        } else {   // cancel at the first event
            app.z.OnOverallProgress = [](TObject*, double, TZipProcessOperation, TZipProgressPhase phase, bool& c) {
                c = phase == ppStart;
            };
        }
        app.Run("", t.s.Path("data\\sub\\*.*"));   // opens the existing archive to add to it
        app.z.CloseArchive();
        EXPECT_EQ(ReadAll(t.s.Path("out.zip")), before) << variant;
    }
}

TEST(ZipCommit, AppendingKeepsEarlierEntriesByteIdentical) {
    Tree t;
    MakeEarlierArchive(t);
    auto before = ReadAll(t.s.Path("out.zip"));
    std::set<std::string> firstNames = NamesIn(t.s.Path("out.zip"));
    AppArchiver app(t.s.Path("out.zip"));
    app.Run("", t.s.Path("data\\sub\\*.*"));
    EXPECT_EQ(app.z.ItemsProcessed(), 3);
    app.z.CloseArchive();
    auto after = ReadAll(t.s.Path("out.zip"));
    // The old entries' bytes come first, unchanged; the old directory is replaced.
    uint32_t oldDirectory = U32At(before, before.size() - 6);
    ASSERT_GT(after.size(), oldDirectory);
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + oldDirectory, after.begin()));
    auto names = NamesIn(t.s.Path("out.zip"));
    EXPECT_EQ(names.size(), firstNames.size() + 3);
}

TEST(ZipCommit, UpdatingAnEntryThatFailsKeepsTheOldOne) {
    Tree t;
    MakeEarlierArchive(t);
    FileHandle holder(::CreateFileA(t.s.Path("data\\a.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    AppArchiver app(t.s.Path("out.zip"));
    app.Run(t.s.Path("data\\*.*"), "");
    EXPECT_EQ(app.failures.size(), 1u);
    EXPECT_EQ(app.Relative(t.s), (std::set<std::string>{"data/a.txt", "data/b.tmp"}));
    app.z.CloseArchive();
}

// An update takes the entry of exactly a found name first; an old entry of
// another spelling only where no found name has it (its folder does not
// tell case apart: here only "data" is there, searched as "Data" before).
TEST(ZipCommit, AnUpdateTakesTheEntryOfTheExactNameFirst) {
    TScratch s;
    s.Write("tell\\Data\\x.txt", "upper");
    ASSERT_TRUE(krv::test::MakeExactDir(AnsiToWide(s.Path("tell")), L"data"));
    ASSERT_TRUE(krv::test::WriteExactFile(AnsiToWide(s.Path("tell\\data")), L"x.txt", "lower"));
    s.Write("fold\\data\\x.txt", "one");
    struct Row { std::string before, after; bool locked; std::set<std::string> entries; TZipOverwriteMode mode = omAlways;
                 std::string keptOutBefore = ""; };
    const std::string upper = s.Path("tell\\Data\\*.*"), lower = s.Path("tell\\data\\*.*");
    const std::string was = s.Path("fold\\Data\\*.*"), is = s.Path("fold\\data\\*.*");
    const Row rows[] = {
        {upper, upper + "|" + lower, false, {"tell/Data/x.txt", "tell/data/x.txt"}},
        // In either order: "data" is new, though old entries are kept.
        {upper, lower + "|" + upper, false, {"tell/Data/x.txt", "tell/data/x.txt"}, omNever},
        {was, is, false, {"fold/data/x.txt"}},
        {was, is, true, {"fold/Data/x.txt"}},   // its file fails: the old entry stays as it was
        // The folders' own entries alike.
        {s.Path("tell\\*.*"), s.Path("tell\\*.*"), false,
         {"tell/Data/", "tell/Data/x.txt", "tell/data/", "tell/data/x.txt"}, omNever, s.Path("tell\\data")},
    };
    for (const Row& row : rows) {
        ::DeleteFileA(s.Path("out.zip").c_str());
        AppArchiver first(s.Path("out.zip"));
        first.z.OpenArchive(fmCreate);
        first.Run("", row.before, row.keptOutBefore);
        first.z.CloseArchive();
        FileHandle holder(row.locked ? ::CreateFileA(s.Path("fold\\data\\x.txt").c_str(), GENERIC_READ, 0, nullptr,
                                                     OPEN_EXISTING, 0, nullptr)
                                     : INVALID_HANDLE_VALUE);
        AppArchiver app(s.Path("out.zip"));
        app.z.Options.OverwriteMode = row.mode;
        app.Run("", row.after);
        EXPECT_EQ(app.Relative(s), row.entries) << row.after;
        EXPECT_EQ(app.failures.size(), row.locked ? 1u : 0u);
        app.z.CloseArchive();
    }
}

TEST(ZipCommit, ConfirmAndStoreEventsShapeTheEntries) {
    Tree t;
    TZipArchiver z;
    z.FileName = t.s.Path("out.zip");
    z.BaseDir = t.s.Path("data");
    z.OnConfirmProcessFile = [](TObject*, const std::string& name, TZipProcessOperation op, bool& confirm) {
        EXPECT_EQ(op, poAdd);
        confirm = ExtractFileName(name) != "b.tmp";
    };
    z.OnStoreFile = [](TObject*, std::string& name, uint32_t& attr, std::string& comment, const std::string&) {
        EXPECT_EQ(name.find('/'), std::string::npos);
        name = "renamed\\" + name;
        attr |= FILE_ATTRIBUTE_HIDDEN;
        comment = "c";
    };
    z.Options.Recurse = false;
    z.Options.SearchAttr = 47;
    z.BeginUpdate();
    z.FileMasks().Add("*.*");
    z.AddFiles();
    z.EndUpdate();
    ASSERT_EQ(z.Count(), 1);
    EXPECT_EQ(z.Items(0).name, "renamed/a.txt");
    EXPECT_TRUE(z.Items(0).externalAttr & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(z.Items(0).comment, "c");
    z.CloseArchive();
}

TEST(ZipCommit, OverallProgressRunsFromZeroToHundred) {
    Tree t;
    TZipArchiver z;
    z.FileName = t.s.Path("out.zip");
    z.BaseDir = t.s.Path("data");
    std::vector<std::pair<TZipProgressPhase, double>> seen;
    z.OnOverallProgress = [&](TObject*, double p, TZipProcessOperation, TZipProgressPhase phase, bool&) {
        seen.push_back({phase, p});
    };
    z.BeginUpdate();
    z.FileMasks().Add("*.*");
    z.AddFiles();
    z.EndUpdate();
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen.front(), std::make_pair(ppStart, 0.0));
    EXPECT_EQ(seen.back(), std::make_pair(ppEnd, 100.0));
    for (auto& s : seen) EXPECT_LE(s.second, 100.0);
    z.CloseArchive();
}
