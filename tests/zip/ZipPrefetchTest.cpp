// Reading and compressing ahead on worker threads: whatever the number of
// workers, the archive comes out byte for byte as the writer alone makes it,
// failures reach the owner as before, and the workers never hold anything up.
#include "ZipTestUtil.h"
#include "zip/ZipArchiver.h"
#include "zip/ZipPrefetch.h"
#include <gtest/gtest.h>

using namespace krv;
using namespace ziptest;

namespace {

// Every kind of file a commit meets: many small ones, empty ones, one of
// several blocks, one above the workers' size limit, and ones stored by mask.
struct MixedTree {
    TScratch s;
    explicit MixedTree(bool withLarge) {
        for (int i = 0; i < 120; ++i) s.Write(Format("src\\a\\f%03d.txt", i), Pattern(static_cast<size_t>(i * 97 % 5000), i));
        s.Write("src\\a\\empty.txt", "");
        s.Write("src\\a\\blocks.dat", Pattern(ZipBlockSize(9) * 2 + 17, 7));
        s.Write("src\\a\\stored.bin", Pattern(3000, 8));
        s.Folder("src\\a\\hollow");
        for (int i = 0; i < 40; ++i) s.Write(Format("src\\b\\g%02d.txt", i), Pattern(static_cast<size_t>(i * 331 % 9000), 100 + i));
        s.Write("src\\b\\empty.txt", "");
        if (withLarge)
            s.Write("src\\b\\large.dat", Pattern(static_cast<size_t>(TZipPrefetcher::kFileLimit) + 1, 9));
    }
};

struct Outcome {
    std::vector<uint8_t> bytes;
    std::vector<std::pair<int, int>> failures;   // native, code
    int count = 0;
};

// Two passes at two levels, as the backup run adds its folders.
Outcome Build(const MixedTree& t, int workers, const std::string& password, const std::string& name) {
    Outcome out;
    TZipArchiver z;
    z.PrefetchWorkers = workers;
    z.Password = password;
    z.RandomSource = [](uint8_t* p, size_t n) { for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(i * 7 + 3); };
    z.FileName = t.s.Path(name);
    z.BaseDir = t.s.Path("src");
    z.Options.StorePath = spRelativePath;
    z.Options.Recurse = true;
    z.OnProcessFileFailure = [&](TObject*, const std::string&, TZipProcessOperation, int native, int code,
                                 const std::string&, TZipAction& action) {
        out.failures.push_back({native, code});
        action = fxaIgnore;
    };
    z.OpenArchive(fmCreate);
    z.BeginUpdate();
    z.NoCompressionMasks().Add("*.bin");
    z.SetCompressionMode(9);
    z.FileMasks().Add("a\\*.*");
    z.AddFiles();
    z.SetCompressionMode(1);
    z.FileMasks().Clear();
    z.FileMasks().Add("b\\*.*");
    z.AddFiles();
    z.EndUpdate();
    out.count = z.Count();
    z.CloseArchive();
    out.bytes = ReadAll(t.s.Path(name));
    return out;
}

// Workers given the files below the scratch folder, all at once.
std::unique_ptr<TZipPrefetcher> Ahead(const TScratch& s, const std::vector<std::string>& names, unsigned workers,
                                      int level = 6) {
    auto p = std::make_unique<TZipPrefetcher>(workers);
    for (auto& n : names) p->Add({s.Path(n), fmShareDenyWrite, level, 8});
    p->NoMoreJobs();
    return p;
}

std::string Unpacked(const TZipPrepared& p) {
    std::string all;
    for (auto& b : p.blocks) all.append(reinterpret_cast<const char*>(b.data()), b.size());
    return Inflate(reinterpret_cast<const uint8_t*>(all.data()), all.size());
}

} // namespace

TEST(ZipPrefetch, ArchiveIsTheSameWhateverTheWorkers) {
    MixedTree t(true);
    for (const std::string password : {"", "pw"}) {
        Outcome alone = Build(t, 0, password, "alone.zip");
        EXPECT_TRUE(alone.failures.empty());
        EXPECT_EQ(alone.count, 120 + 3 + 1 + 40 + 2);   // files and the empty folder
        for (int workers : password.empty() ? std::vector<int>{1, 3, 8} : std::vector<int>{4}) {
            Outcome ahead = Build(t, workers, password, Format("w%d.zip", workers));
            EXPECT_TRUE(ahead.failures.empty()) << workers;
            EXPECT_EQ(ahead.count, alone.count) << workers;
            EXPECT_TRUE(ahead.bytes == alone.bytes) << "workers " << workers << " password '" << password << "'";
        }
    }
}

TEST(ZipPrefetch, LockedFileFailsAsWithoutWorkers) {
    MixedTree t(false);
    FileHandle holder(::CreateFileA(t.s.Path("src\\a\\f050.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                    nullptr));
    ASSERT_TRUE(holder);
    Outcome alone = Build(t, 0, "", "alone.zip");
    Outcome ahead = Build(t, 4, "", "ahead.zip");
    ASSERT_EQ(alone.failures, (std::vector<std::pair<int, int>>{{33, 12}}));
    EXPECT_EQ(ahead.failures, alone.failures);
    EXPECT_TRUE(ahead.bytes == alone.bytes);
}

TEST(ZipPrefetch, CancelMidwayWithWorkersLeavesAnEmptyArchive) {
    MixedTree t(false);
    TZipArchiver z;
    z.PrefetchWorkers = 4;
    z.FileName = t.s.Path("out.zip");
    z.BaseDir = t.s.Path("src");
    z.Options.Recurse = true;
    int started = 0;
    z.OnFileProgress = [&](TObject*, const std::string&, double, TZipProcessOperation, TZipProgressPhase phase,
                           bool& cancel) { cancel = phase == ppStart && ++started == 5; };
    z.OpenArchive(fmCreate);
    z.BeginUpdate();
    z.FileMasks().Add("*.*");
    z.AddFiles();
    z.EndUpdate();
    EXPECT_EQ(started, 5);
    EXPECT_EQ(z.Count(), 0);
    z.CloseArchive();
    EXPECT_EQ(FileSizeOf(t.s.Path("out.zip")), 22);
}

TEST(ZipPrefetch, TakeAnswersOnlyForComingFilesAtTheirLevel) {
    TScratch s;
    std::vector<std::string> names;
    for (int i = 0; i < 6; ++i) names.push_back(s.Write(Format("f%d.txt", i), Pattern(1000 + i * 500, i)).substr(s.Dir().size()));
    auto ahead = Ahead(s, names, 3);
    TZipPrefetcher& p = *ahead;
    auto third = p.Take(s.Path("f2.txt"), 6, 8);
    ASSERT_TRUE(third);
    EXPECT_EQ(third->size, 2000);
    std::string text = Pattern(2000, 2);
    EXPECT_EQ(third->crc, ~CrcUpdate(0xFFFFFFFFu, reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    EXPECT_EQ(Unpacked(*third), text);
    EXPECT_FALSE(p.Take(s.Path("f0.txt"), 6, 8));     // passed
    EXPECT_FALSE(p.Take(s.Path("f2.txt"), 6, 8));     // taken already: a retry reads for itself
    EXPECT_FALSE(p.Take(s.Path("other.txt"), 6, 8));  // never a job
    EXPECT_FALSE(p.Take(s.Path("f3.txt"), 9, 8));     // made at another level
    EXPECT_FALSE(p.Take(s.Path("f4.txt"), 6, 0));     // ... or method
    auto last = p.Take(s.Path("f5.txt"), 6, 8);
    ASSERT_TRUE(last);
    EXPECT_EQ(Unpacked(*last), Pattern(3500, 5));
}

TEST(ZipPrefetch, FilesThatCannotBeTakenAheadAreLeftToTheWriter) {
    TScratch s;
    s.Write("big.dat", std::string(static_cast<size_t>(TZipPrefetcher::kFileLimit) + 1, 'x'));
    s.Write("locked.txt", "locked");
    s.Write("fine.txt", "fine");
    FileHandle holder(::CreateFileA(s.Path("locked.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    auto ahead = Ahead(s, {"big.dat", "missing.txt", "locked.txt", "fine.txt"}, 2);
    TZipPrefetcher& p = *ahead;
    EXPECT_FALSE(p.Take(s.Path("big.dat"), 6, 8));
    EXPECT_FALSE(p.Take(s.Path("missing.txt"), 6, 8));
    EXPECT_FALSE(p.Take(s.Path("locked.txt"), 6, 8));
    auto fine = p.Take(s.Path("fine.txt"), 6, 8);
    ASSERT_TRUE(fine);
    EXPECT_EQ(Unpacked(*fine), "fine");
}

TEST(ZipPrefetch, WorkersStopWithWorkInHandAndNoneAtAll) {
    TScratch s;
    std::vector<std::string> names;
    for (int i = 0; i < 400; ++i) names.push_back(s.Write(Format("f%03d.txt", i), Pattern(20000, i)).substr(s.Dir().size()));
    {
        auto p = Ahead(s, names, 4, 9);
        auto first = p->Take(s.Path("f000.txt"), 9, 8);
        ASSERT_TRUE(first);
        EXPECT_EQ(Unpacked(*first), Pattern(20000, 0));
    }   // the rest are dropped here, with the workers in the middle of them
    EXPECT_FALSE(Ahead(s, names, 0)->Take(s.Path("f000.txt"), 6, 8));
}

TEST(ZipPrefetch, FilesChangedAfterTheSearchReadThemAreTakenAsTheyAreNow) {
    TScratch s;
    for (int i = 0; i < 30; ++i) s.Write(Format("src\\f%02d.txt", i), Pattern(3000, i));
    TZipArchiver z;
    z.PrefetchWorkers = 3;
    z.FileName = s.Path("out.zip");
    z.BaseDir = s.Path("src");
    std::vector<std::pair<int, int>> failures;
    z.OnProcessFileFailure = [&](TObject*, const std::string&, TZipProcessOperation, int native, int code,
                                 const std::string&, TZipAction& action) {
        failures.push_back({native, code});
        action = fxaIgnore;
    };
    z.OpenArchive(fmCreate);
    z.BeginUpdate();
    z.FileMasks().Add("*.*");
    z.AddFiles();
    ::Sleep(300);   // the workers have read everything by now, or most of it
    const std::string longer = Pattern(5000, 99);
    s.Rewrite("src\\f03.txt", longer);                     // another size
    std::string same = Pattern(3000, 98);
    s.Rewrite("src\\f04.txt", same);                       // the same size, a later time
    FILETIME later;
    {
        FileHandle f(::CreateFileA(s.Path("src\\f04.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(f);
        ::GetFileTime(f.get(), nullptr, nullptr, &later);
        ULARGE_INTEGER t{{later.dwLowDateTime, later.dwHighDateTime}};
        t.QuadPart += 50000000;   // five seconds on
        later = {t.LowPart, t.HighPart};
        ::SetFileTime(f.get(), nullptr, nullptr, &later);
    }
    s.Delete("src\\f05.txt");                               // gone
    z.EndUpdate();
    EXPECT_EQ(failures, (std::vector<std::pair<int, int>>{{33, 12}}));
    ASSERT_EQ(z.Count(), 29);
    std::vector<TDirItem> items;
    for (int i = 0; i < z.Count(); ++i) items.push_back(z.Items(i));
    z.CloseArchive();
    auto bytes = ReadAll(s.Path("out.zip"));
    auto content = [&](const std::string& name) {
        for (const TDirItem& it : items)
            if (it.name == name) return EntryData(bytes, it);
        return std::string("(missing)");
    };
    EXPECT_EQ(content("f03.txt"), longer);
    EXPECT_EQ(content("f04.txt"), same);
    EXPECT_EQ(content("f06.txt"), Pattern(3000, 6));
}

TEST(ZipPrefetch, QueueHoldsAWindowAheadOfTheWriterAndForgetsPassedJobs) {
    TScratch s;
    s.Write("a.txt", "first");
    s.Write("b.txt", "last");
    TZipPrefetcher p(2);
    p.Add({s.Path("a.txt"), fmShareDenyWrite, 6, 8});
    for (size_t i = 2; i < TZipPrefetcher::kAheadLimit; ++i) p.Add({s.Path(Format("gone%u.txt", static_cast<unsigned>(i))), fmShareDenyWrite, 6, 8});
    EXPECT_TRUE(p.HasRoom());
    p.Add({s.Path("b.txt"), fmShareDenyWrite, 6, 8});
    EXPECT_FALSE(p.HasRoom());
    ASSERT_TRUE(p.Take(s.Path("a.txt"), 6, 8));
    EXPECT_TRUE(p.HasRoom());
    // Once passed, a path is no longer held: queued again, it is read again.
    p.Add({s.Path("a.txt"), fmShareDenyWrite, 6, 8});
    p.NoMoreJobs();
    auto last = p.Take(s.Path("b.txt"), 6, 8);
    ASSERT_TRUE(last);
    EXPECT_EQ(Unpacked(*last), "last");
    auto again = p.Take(s.Path("a.txt"), 6, 8);
    ASSERT_TRUE(again);
    EXPECT_EQ(Unpacked(*again), "first");
}
