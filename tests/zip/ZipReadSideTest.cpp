// Archives opened again: split sets by their last volume, stubs in front,
// archives without an end record; writes that fail part-way or find the
// disk full.
#include "ZipTestUtil.h"
#include "framework/Dialogs.h"
#include "zip/ZipArchiver.h"
#include "zip/ZipCompress.h"
#include "zip/ZipRecords.h"
#include "zip/ZipStream.h"
#include <gtest/gtest.h>
#include <functional>

using namespace krv;
using namespace ziptest;

namespace {

void Fill(TZipArchiver& z, const std::string& archive, const std::string& folder) {
    z.FileName = archive;
    z.BaseDir = folder;
    z.BeginUpdate();
    z.FileMasks().Clear();
    z.FileMasks().Add("*.*");
    z.AddFiles();
    z.EndUpdate();
    z.CloseArchive();
}

// A split set of at least three volumes of the folder src: set.Z01, set.Z02,
// ..., set.zip; with a stub set.exe, set.Z02, ..., set.ZIP.
void MakeSplitSet(const TScratch& t, bool advanced, bool stub) {
    t.Write("src\\big.bin", Pattern(150000, 3));
    for (int i = 0; i < 5; ++i) t.Write("src\\f" + std::to_string(i) + ".txt", Pattern(200 + i, i));
    TZipArchiver z;
    if (stub) z.SFXStub = t.Write("stub.bin", std::string(500, 'S'));
    z.SetCompressionMode(0);
    z.SetSpanningMode(smSplitting);
    z.SpanningOptions.AdvancedNaming = advanced;
    z.SpanningOptions.VolumeSize = vsCustom;
    z.SpanningOptions.SetCustomVolumeSize(65536);
    Fill(z, t.Path("set.zip"), t.Path("src"));
}

std::string Sum(const std::string& path) {
    auto v = ReadAll(path);
    return std::to_string(v.size()) + ":" + std::to_string(CrcUpdate(0xFFFFFFFFu, v.data(), v.size()));
}

} // namespace

// Opening a split set by its last volume settles the spanning mode from its end
// record, so a change that would write the set as one file is refused.
TEST(ZipSplitOpen, ASplitSetIsRecognisedAndNotChanged) {
    struct Case {
        const char* opened;
        bool advanced;     // naming the set was written with
        bool stub;
        const char* gone;  // a volume removed before opening
        TZipSpanningMode mode;
        bool inUpdate;
    } cases[] = {
        {"set.zip", false, false, nullptr, smSplitting, false},
        {"set.zip", false, false, nullptr, smSplitting, true},
        {"set.zip", true, false, nullptr, smSplitting, false},
        {"set.exe", false, true, nullptr, smSplitting, false},   // opened by its first volume
        {"set.zip", false, false, "set.Z01", smNone, false},    // volumes not at hand: still one of several
    };
    for (const Case& c : cases) {
        TScratch t;
        MakeSplitSet(t, c.advanced, c.stub);
        ASSERT_TRUE(FileExists(t.Path(c.stub ? "set.Z02" : c.advanced ? "set_002.zip" : "set.Z02"))) << c.opened;
        if (c.gone) t.Delete(c.gone);
        const std::string before = Sum(t.Path("set.zip"));
        t.Write("more\\new.txt", "new");
        TZipArchiver z;
        z.SpanningOptions.AdvancedNaming = !c.advanced;   // the other scheme is tried too
        z.FileName = t.Path(c.opened);
        EXPECT_EQ(NativeErrorOf([&] { z.OpenArchive(fmOpenReadWrite | fmShareDenyWrite); }), -1) << c.opened;
        if (!z.Active()) continue;
        EXPECT_EQ(z.SpanningMode(), c.mode) << c.opened;
        if (c.mode == smSplitting) {
            EXPECT_EQ(z.SpanningOptions.AdvancedNaming, c.advanced);
        }
        EXPECT_EQ(z.Count(), 6);
        z.BaseDir = t.Path("more");
        z.FileMasks().Add("new.txt");
        if (c.inUpdate) {
            z.BeginUpdate();
            z.AddFiles();
            EXPECT_EQ(NativeErrorOf([&] { z.EndUpdate(); }), 52);
        } else {
            EXPECT_EQ(NativeErrorOf([&] { z.AddFiles(); }), 52);
        }
        z.CloseArchive();
        EXPECT_EQ(Sum(t.Path("set.zip")), before) << "the set is left as it was";
    }
    // A volume of a set whose last volume is not there.
    TScratch t;
    MakeSplitSet(t, false, false);
    t.Write("set.zip", "not the last volume");
    TZipArchiver z;
    z.FileName = t.Path("set.zip");
    EXPECT_EQ(NativeErrorOf([&] { z.OpenArchive(fmOpenRead); }), 44);
}

// Archives that are not a plain archive from its first byte.
TEST(ZipReadSide, StubsMissingEndRecordsAndBrokenHeaders) {
    TScratch t;
    t.Write("src\\a.txt", Pattern(3000, 1));
    t.Write("src\\b.txt", Pattern(5000, 2));
    t.Write("add\\c.txt", "added later");
    const std::string stub(777, 'S');
    t.Write("stub.bin", stub);
    {
        TZipArchiver z;
        Fill(z, t.Path("plain.zip"), t.Path("src"));
    }
    const auto plain = ReadAll(t.Path("plain.zip"));
    const std::string body(plain.begin(), plain.end());
    const size_t cd = U32At(plain, plain.size() - 6);
    std::string badHeader = body;
    badHeader[body.find("PK\x03\x04", 4) + 14] ^= 0x55;   // b.txt's CRC in its local header
    struct Case {
        const char* what;
        std::string bytes;
        int openError;     // -1: opens
        int entries;
        int addError;      // adding c.txt in front of the old entries
    } cases[] = {
        {"stub in front", stub + body, -1, 2, -1},
        {"no directory", body.substr(0, cd), -1, 2, -1},
        {"no directory, stub", stub + body.substr(0, cd) + std::string(50, 'x'), -1, 2, -1},
        {"no header at all", std::string(300, 'x'), 35, 0, -1},
        {"broken local header", badHeader, -1, 2, 35},
    };
    for (const Case& c : cases) {
        t.Write("case.zip", c.bytes);
        TZipArchiver z;
        z.FileName = t.Path("case.zip");
        EXPECT_EQ(NativeErrorOf([&] { z.OpenArchive(fmOpenReadWrite | fmShareDenyWrite); }), c.openError) << c.what;
        if (c.openError >= 0 || !z.Active()) continue;
        EXPECT_EQ(z.Count(), c.entries) << c.what;
        if (z.Count() != c.entries) continue;
        EXPECT_EQ(z.Items(0).name, "a.txt") << c.what;
        // Replacing a.txt rewrites it and copies b.txt from where it really is.
        z.BaseDir = t.Path("src");
        z.BeginUpdate();
        z.FileMasks().Add("a.txt");
        z.AddFiles();
        EXPECT_EQ(NativeErrorOf([&] { z.EndUpdate(); }), c.addError) << c.what;
        z.CloseArchive();
        if (c.addError >= 0) {
            EXPECT_EQ(ReadAll(t.Path("case.zip")), std::vector<uint8_t>(c.bytes.begin(), c.bytes.end())) << c.what;
            continue;
        }
        TZipArchiver again;
        again.FileName = t.Path("case.zip");
        again.OpenArchive(fmOpenRead | fmShareDenyNone);
        EXPECT_EQ(again.Count(), 2) << c.what;
        if (again.Count() != 2) continue;
        auto bytes = ReadAll(t.Path("case.zip"));
        for (int i = 0; i < 2; ++i) {
            const TDirItem& it = again.Items(i);
            size_t at = static_cast<size_t>(it.localHeaderOffset);
            EXPECT_EQ(U32At(bytes, at), kLocalHeaderSig) << c.what << i;
            EXPECT_EQ(U32At(bytes, at + 14), it.crc) << c.what << i;
        }
    }
}

// A stub set for a new archive starts it; split, it must fit in the first volume.
TEST(ZipReadSide, StubIsWrittenInFrontOfANewArchive) {
    struct Case {
        TZipSpanningMode mode;
        size_t stubSize;
        int error;
        const char* first;   // the file that starts with the stub
    } cases[] = {
        {smNone, 1000, -1, "sfx.zip"},
        {smSplitting, 1000, -1, "sfx.ZIP"},
        {smSplitting, 70000, 47, nullptr},
    };
    for (const Case& c : cases) {
        TScratch t;
        t.Write("src\\a.txt", Pattern(4000, 7));
        const std::string stub = Pattern(c.stubSize, 9);
        t.Write("stub.exe", stub);
        TZipArchiver z;
        z.SFXStub = t.Path("stub.exe");
        z.SetSpanningMode(c.mode);
        z.SpanningOptions.AdvancedNaming = false;
        z.SpanningOptions.VolumeSize = vsCustom;
        z.SpanningOptions.SetCustomVolumeSize(65536);
        if (c.error >= 0) {
            z.FileName = t.Path("sfx.zip");
            EXPECT_EQ(NativeErrorOf([&] { z.OpenArchive(fmCreate); }), c.error);
            EXPECT_FALSE(FileExists(t.Path("sfx.exe")));
            continue;
        }
        Fill(z, t.Path("sfx.zip"), t.Path("src"));
        auto bytes = ReadAll(t.Path(c.first));
        ASSERT_GT(bytes.size(), stub.size());
        EXPECT_EQ(Bytes(bytes, 0, stub.size()), stub);
        EXPECT_EQ(U32At(bytes, stub.size()), kLocalHeaderSig);
        TZipArchiver back;
        back.FileName = t.Path(c.first);
        back.OpenArchive(fmOpenRead | fmShareDenyNone);
        ASSERT_EQ(back.Count(), 1);
        EXPECT_EQ(back.Items(0).localHeaderOffset, stub.size());
    }
}

namespace {

// Takes writes until limit bytes are in it, then fails as a full disk does.
class TFullStream : public TMemoryStream {
public:
    explicit TFullStream(int64_t limit) : limit_(limit) {}
    size_t Write(const void* buffer, size_t count) override {
        int64_t room = std::max<int64_t>(0, limit_ - Position());
        size_t n = static_cast<size_t>(std::min<int64_t>(room, static_cast<int64_t>(count)));
        if (n < count) ::SetLastError(ERROR_DISK_FULL);
        return n == 0 ? 0 : TMemoryStream::Write(buffer, n);
    }

private:
    int64_t limit_;
};

} // namespace

// A write that fails part-way fails the entry being written, with the size
// error, and cutting back to that entry's start leaves the entries before it.
TEST(ZipShortWrite, TheFailingEntryIsTheOneCutOff) {
    const size_t block = ZipBlockSize(0);
    struct Case {
        std::vector<size_t> sizes;   // stored entries written one after the other
        int64_t limit;               // bytes the target takes
        size_t failing;              // index of the entry that must fail
    } cases[] = {
        {{100, 200}, 50, 0},   // buffered, it never reached the target
        {{100, 200}, 250, 1},
        {{block + 10, 5}, static_cast<int64_t>(block / 2), 0},
        {{block + 10, 5}, static_cast<int64_t>(block + 5), 0},
        {{block + 10, 5}, static_cast<int64_t>(block + 12), 1},
    };
    for (const Case& c : cases) {
        TFullStream target(c.limit);
        TZipOutStream out(target, nullptr);
        int64_t lastGood = 0;
        for (size_t i = 0; i < c.sizes.size(); ++i) {
            std::string data = Pattern(c.sizes[i], static_cast<unsigned>(i));
            TMemoryStream src;
            src.WriteBuffer(data.data(), data.size());
            src.SetPosition(0);
            TDirItem item;
            item.method = 0;
            item.level = 0;
            TZipCompressJob job;
            job.item = &item;
            job.source = &src;
            job.sourceSize = static_cast<int64_t>(data.size());
            job.out = &out;
            const int64_t start = out.Position();
            try {
                ZipCompressItem(job);
                EXPECT_NE(i, c.failing) << "entry " << i << " reported as written";
                lastGood = out.Position();
            } catch (const EZipException& e) {
                EXPECT_EQ(i, c.failing);
                EXPECT_EQ(e.NativeError, 34);
                EXPECT_EQ(e.ErrorCode, 17);
                EXPECT_EQ(e.SystemError, static_cast<unsigned long>(ERROR_DISK_FULL));
                EXPECT_NE(std::string(e.what()).find(Format("rfs.size = %u,", static_cast<unsigned>(data.size()))),
                          std::string::npos)
                    << e.what();
                out.Truncate(start);
                EXPECT_EQ(start, lastGood);
                break;
            }
        }
        EXPECT_EQ(target.Size(), lastGood) << "the cut leaves exactly the entries written";
        EXPECT_EQ(out.Position(), lastGood);
    }
}

// Messages and events that must read right.
TEST(ZipReadSide, LargeSizesAndPerBlockNames) {
    EXPECT_STREQ(EZipException::Fmt(34, nullptr, 5000000000LL, 3000000000LL).what(),
                 "Invalid compressed size, rfs.size = 5000000000, count = 3000000000 - Native error: 00034");

    TScratch t;
    t.Write("src\\sub\\big.bin", Pattern(600000, 4));   // two blocks at level 1
    TZipArchiver z;
    z.SetCompressionMode(1);
    std::vector<std::string> perBlock;
    z.OnFileProgress = [&](TObject*, const std::string& name, double, TZipProcessOperation, TZipProgressPhase phase,
                           bool&) {
        if (phase == ppProcess) perBlock.push_back(name);
    };
    Fill(z, t.Path("p.zip"), t.Path("src"));
    EXPECT_EQ(perBlock, std::vector<std::string>({"sub\\big.bin", "sub\\big.bin"}));

}

// Without a failure handler the user confirms what happens to the file.
TEST(ZipReadSide, FailureFallbackIsAConfirmation) {
    TScratch t;
    t.Write("src\\gone.bin", "soon gone");
    std::vector<std::string> captions;
    SetDialogShownHook([&](HWND dialog) {
        char text[256] = {};
        ::GetWindowTextA(dialog, text, sizeof text);
        captions.push_back(text);
        ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDIGNORE, BN_CLICKED), 0);
    });
    TZipArchiver asks;
    asks.PrefetchWorkers = 0;   // nothing reads the file before it is gone
    asks.FileName = t.Path("asks.zip");
    asks.OpenArchive(fmCreate);
    asks.BeginUpdate();
    asks.FileMasks().Add(t.Path("src\\gone.bin"));
    asks.AddFiles();
    t.Delete("src\\gone.bin");
    asks.EndUpdate();
    SetDialogShownHook(nullptr);
    EXPECT_EQ(captions, std::vector<std::string>({"Confirm"}));
    EXPECT_EQ(asks.Count(), 0);
}

// Another program may take the disk while a volume is written: the volume
// ends where the disk does instead of at its size.
TEST(ZipVolumes, FreeSpaceIsAskedBeforeEveryWrite) {
    struct Case {
        TZipVolumeSize size;
        int64_t freeDuringData;   // what the disk has once the data starts
    } cases[] = {{vsCustom, 30000}, {vsAutoDetect, 40000}};
    for (const Case& c : cases) {
        TScratch t;
        t.Write("src\\big.bin", Pattern(150000, 8));
        TZipArchiver z;
        z.SetCompressionMode(0);
        z.SetSpanningMode(smSplitting);
        z.SpanningOptions.AdvancedNaming = false;
        z.SpanningOptions.VolumeSize = c.size;
        z.SpanningOptions.SetCustomVolumeSize(65536);
        int64_t free = 1000000000;
        z.FreeSpace = [&](const std::string&) { return free; };
        z.OnCopyTempFileProgress = [&](TObject*, double, TZipProgressPhase phase, bool&) {
            if (phase == ppStart) free = c.freeDuringData;
        };
        int64_t firstVolume = -1;
        z.OnDiskFull = [&](TObject*, int, const std::string&, bool& cancel) {
            firstVolume = FileSizeOf(t.Path("set.Z01"));
            cancel = true;
        };
        z.FileName = t.Path("set.zip");
        z.BaseDir = t.Path("src");
        z.BeginUpdate();
        z.FileMasks().Add("*.*");
        z.AddFiles();
        EXPECT_EQ(NativeErrorOf([&] { z.EndUpdate(); }), 45);
        EXPECT_GT(firstVolume, 0);
        EXPECT_LE(firstVolume, c.freeDuringData);
    }
}
