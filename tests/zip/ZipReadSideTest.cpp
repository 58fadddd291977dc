// Archives opened again (split sets, stubs in front, no end record), and
// writes that fail part-way or find the disk full.
#include "ZipTestUtil.h"
#include "zip/ZipArchiver.h"
#include "zip/ZipCompress.h"
#include "zip/ZipRecords.h"
#include "zip/ZipStream.h"
#include <gtest/gtest.h>
#include <algorithm>

using namespace krv;
using namespace ziptest;

namespace {

void Split(TZipArchiver& z, TZipSpanningMode mode, bool advanced = false, TZipVolumeSize size = vsCustom) {
    z.SetSpanningMode(mode);
    z.SpanningOptions.AdvancedNaming = advanced;
    z.SpanningOptions.VolumeSize = size;
    z.SpanningOptions.SetCustomVolumeSize(65536);
}

// Adds the files of folder matching mask; answers the native error of the commit.
int Add(TZipArchiver& z, const std::string& archive, const std::string& folder, const char* mask = "*.*",
        bool close = true) {
    z.FileName = archive;
    z.BaseDir = folder;
    z.BeginUpdate();
    z.FileMasks().Add(mask);
    z.AddFiles();
    int error = NativeErrorOf([&] { z.EndUpdate(); });
    if (close) z.CloseArchive();
    return error;
}

} // namespace

// A split set opened by its last (or ".exe" first) volume gets its spanning
// mode from its end record, so a change that would write it as one file is refused.
TEST(ZipSplitOpen, ASplitSetIsRecognisedAndNotChanged) {
    struct Case {
        const char* opened;
        bool advanced, stub;   // how the set was written
        const char* gone;      // a volume removed before opening
        TZipSpanningMode mode;
        bool inUpdate;
    } cases[] = {
        {"set.zip", false, false, nullptr, smSplitting, false}, {"set.zip", false, false, nullptr, smSplitting, true},
        {"set.zip", true, false, nullptr, smSplitting, false},  {"set.exe", false, true, nullptr, smSplitting, false},
        {"set.zip", false, false, "set.Z01", smNone, false},   // still one of several
    };
    for (const Case& c : cases) {
        TScratch t;
        t.Write("src\\big.bin", Pattern(150000, 3));
        for (int i = 0; i < 5; ++i) t.Write("src\\f" + std::to_string(i) + ".txt", Pattern(200 + i, i));
        t.Write("more\\new.txt", "new");
        {
            TZipArchiver w;
            if (c.stub) w.SFXStub = t.Write("stub.bin", std::string(500, 'S'));
            w.SetCompressionMode(0);
            Split(w, smSplitting, c.advanced);
            Add(w, t.Path("set.zip"), t.Path("src"));
        }
        ASSERT_TRUE(FileExists(t.Path(c.advanced ? "set_002.zip" : "set.Z02"))) << c.opened;
        if (c.gone) t.Delete(c.gone);
        const auto before = ReadAll(t.Path("set.zip"));
        TZipArchiver z;
        z.SpanningOptions.AdvancedNaming = !c.advanced;   // the other scheme is tried too
        z.FileName = t.Path(c.opened);
        EXPECT_EQ(NativeErrorOf([&] { z.OpenArchive(fmOpenReadWrite | fmShareDenyWrite); }), -1) << c.opened;
        if (!z.Active()) continue;
        EXPECT_EQ(z.SpanningMode(), c.mode) << c.opened;
        EXPECT_EQ(z.SpanningOptions.AdvancedNaming, c.mode == smSplitting ? c.advanced : !c.advanced);
        EXPECT_EQ(z.Count(), 6);
        if (c.inUpdate) {
            EXPECT_EQ(Add(z, z.FileName, t.Path("more")), 52);
        } else {
            z.BaseDir = t.Path("more");
            EXPECT_EQ(NativeErrorOf([&] { z.AddFiles(); }), 52);
            z.CloseArchive();
        }
        EXPECT_EQ(ReadAll(t.Path("set.zip")), before) << "the set is left as it was";
    }
    // A volume of a set whose end record is missing.
    TScratch t;
    t.Write("set.Z01", "first volume");
    t.Write("set.zip", "not the last volume");
    TZipArchiver z;
    z.FileName = t.Path("set.zip");
    EXPECT_EQ(NativeErrorOf([&] { z.OpenArchive(fmOpenRead); }), 44);
}

// Archives that are not a plain archive from their first byte.
TEST(ZipReadSide, StubsMissingEndRecordsAndBrokenHeaders) {
    TScratch t;
    t.Write("src\\a.txt", Pattern(3000, 1));
    t.Write("src\\b.txt", Pattern(5000, 2));
    const std::string stub(777, 'S');
    {
        TZipArchiver z;
        Add(z, t.Path("plain.zip"), t.Path("src"));
    }
    const auto plain = ReadAll(t.Path("plain.zip"));
    const std::string body(plain.begin(), plain.end()), noDirectory = body.substr(0, U32At(plain, plain.size() - 6));
    std::string badHeader = body;
    badHeader[body.find("PK\x03\x04", 4) + 14] ^= 0x55;   // b.txt's CRC in its local header
    // b.txt as a streaming writer leaves it: flag bit 3, its CRC and sizes in a descriptor after the data.
    const size_t lh = body.find("PK\x03\x04", 4), cd = U32At(plain, plain.size() - 6) + 16;
    std::string described = body;
    described.insert(lh + 30 + U16At(plain, lh + 26) + U16At(plain, lh + 28) + U32At(plain, lh + 18),
                     "PK\x07\x08" + body.substr(lh + 14, 12));
    described.replace(lh + 14, 12, 12, '\0');
    for (size_t at : {lh + 6, described.rfind("PK\x01\x02") + 8}) described[at] |= 8;
    for (int i = 0; i < 4; ++i) described[described.size() - 6 + i] = static_cast<char>(cd >> (8 * i));
    struct Case {
        const char* what;
        std::string bytes;
        int openError, addError;   // -1: none; adding replaces a.txt and copies b.txt
    } cases[] = {
        {"stub in front", stub + body, -1, -1},
        {"no directory", noDirectory, -1, -1},
        {"no directory, stub", stub + noDirectory + std::string(50, 'x'), -1, -1},
        {"no header at all", std::string(300, 'x'), 35, -1},
        {"broken local header", badHeader, -1, 35},
        {"descriptor", described, -1, -1},
        {"descriptor, no directory", described.substr(0, cd), -1, -1},
    };
    for (const Case& c : cases) {
        t.Write("case.zip", c.bytes);
        TZipArchiver z;
        z.FileName = t.Path("case.zip");
        EXPECT_EQ(NativeErrorOf([&] { z.OpenArchive(fmOpenReadWrite | fmShareDenyWrite); }), c.openError) << c.what;
        if (!z.Active()) continue;
        EXPECT_EQ(z.Count(), 2) << c.what;
        EXPECT_EQ(Add(z, z.FileName, t.Path("src"), "a.txt"), c.addError) << c.what;
        auto bytes = ReadAll(t.Path("case.zip"));
        if (c.addError >= 0) {
            EXPECT_EQ(bytes, std::vector<uint8_t>(c.bytes.begin(), c.bytes.end())) << c.what;
            continue;
        }
        TZipArchiver again;
        again.FileName = t.Path("case.zip");
        again.OpenArchive(fmOpenRead | fmShareDenyNone);
        EXPECT_EQ(again.Count(), 2) << c.what;
        for (int i = 0; i < again.Count(); ++i) {
            const TDirItem& item = again.Items(i);
            size_t at = static_cast<size_t>(item.localHeaderOffset);
            EXPECT_EQ(U32At(bytes, at), kLocalHeaderSig) << c.what << i;
            // The CRC is in the local header, or with flag bit 3 in the descriptor after the data.
            size_t data = at + 30 + U16At(bytes, at + 26) + U16At(bytes, at + 28) + item.compressedSize;
            bool described = U16At(bytes, at + 6) & kFlagDescriptor;
            EXPECT_TRUE(!described || U32At(bytes, data) == kDescriptorSig) << c.what << i;
            EXPECT_EQ(U32At(bytes, described ? data + 4 : at + 14), item.crc) << c.what << i;
        }
    }
}

// A stub set for a new archive starts it; split, it must fit in the first volume.
TEST(ZipReadSide, StubIsWrittenInFrontOfANewArchive) {
    struct Case {
        TZipSpanningMode mode;
        size_t stubSize;   // 0: a stub that cannot be read
        int error;
    } cases[] = {{smNone, 1000, -1}, {smSplitting, 1000, -1}, {smSplitting, 70000, 47}, {smSplitting, 0, 33},
                 {smNone, 0, 33}};
    for (const Case& c : cases) {
        TScratch t;
        t.Write("src\\a.txt", Pattern(4000, 7));
        const std::string stub = Pattern(c.stubSize, 9);
        TZipArchiver z;
        z.SFXStub = c.stubSize ? t.Write("stub.exe", stub) : t.Path("gone.exe");
        Split(z, c.mode);
        z.FileName = t.Path("sfx.zip");
        EXPECT_EQ(NativeErrorOf([&] { z.OpenArchive(fmCreate); }), c.error);
        if (c.error >= 0) {
            EXPECT_FALSE(FileExists(t.Path("sfx.exe")) || FileExists(t.Path("sfx.zip"))) << "a failed open leaves nothing";
            continue;
        }
        Add(z, z.FileName, t.Path("src"));
        auto bytes = ReadAll(t.Path("sfx.zip"));   // split, the one volume is renamed "sfx.ZIP"
        EXPECT_EQ(Bytes(bytes, 0, stub.size()), stub);
        TZipArchiver back;
        back.FileName = t.Path("sfx.zip");
        back.OpenArchive(fmOpenRead | fmShareDenyNone);
        EXPECT_EQ(back.Count(), 1);
        EXPECT_EQ(back.Count() == 1 ? back.Items(0).localHeaderOffset : 0, stub.size());
    }
}

namespace {

// Takes writes until limit bytes are in it, then fails as a full disk does;
// as a source, gives reads until limit bytes are read, then fails as a locked range does.
class TFullStream : public TMemoryStream {
public:
    explicit TFullStream(int64_t limit) : Limit(limit) {}
    size_t Write(const void* buffer, size_t count) override {
        size_t n = static_cast<size_t>(std::clamp<int64_t>(Limit - Position(), 0, static_cast<int64_t>(count)));
        if (n < count) ::SetLastError(ERROR_DISK_FULL);
        return n == 0 ? 0 : TMemoryStream::Write(buffer, n);
    }
    size_t Read(void* buffer, size_t count) override {
        size_t n = static_cast<size_t>(std::clamp<int64_t>(Limit - Position(), 0, static_cast<int64_t>(count)));
        if (n == 0) ::SetLastError(ERROR_LOCK_VIOLATION);
        return n == 0 ? 0 : TMemoryStream::Read(buffer, n);
    }
    int64_t Limit;
};

} // namespace

// A write that fails part-way fails the entry being written with the size
// error, and cutting back to that entry's start leaves the entries before it.
// A source whose read fails part-way fails its entry with an error of its own.
TEST(ZipShortWrite, TheFailingEntryIsTheOneCutOff) {
    const size_t block = ZipBlockSize(0);
    struct Case {
        std::vector<size_t> sizes;   // stored entries written one after the other
        int64_t limit;               // bytes the target takes (or the failing source gives)
        size_t failing;
        bool source = false;         // the read of the failing entry fails, not the write
    } cases[] = {
        {{100, 200}, 50, 0},   // buffered, it never reached the target
        {{100, 200}, 250, 1},
        {{block + 10, 5}, static_cast<int64_t>(block / 2), 0},
        {{block + 10, 5}, static_cast<int64_t>(block + 5), 0},
        {{block + 10, 5}, static_cast<int64_t>(block + 12), 1},
        {{100, block + 10, 5}, static_cast<int64_t>(block + 5), 1, true},
    };
    for (const Case& c : cases) {
        TFullStream target(c.source ? INT64_MAX : c.limit);
        TZipOutStream out(target, nullptr);
        int64_t lastGood = 0;
        for (size_t i = 0; i < c.sizes.size(); ++i) {
            std::string data = Pattern(c.sizes[i], static_cast<unsigned>(i));
            TFullStream src(INT64_MAX);
            src.WriteBuffer(data.data(), data.size());
            src.SetPosition(0);
            if (c.source && i == c.failing) src.Limit = c.limit;
            TDirItem item;
            TZipCompressJob job;
            job.item = &item;
            job.source = &src;
            job.sourceSize = static_cast<int64_t>(data.size());
            job.out = &out;
            try {
                ZipCompressItem(job);
                EXPECT_NE(i, c.failing) << "entry " << i << " reported as written";
                lastGood = out.Position();
            } catch (const EZipException& e) {
                EXPECT_EQ(i, c.failing);
                EXPECT_EQ(e.ErrorCode, c.source ? 37 : 17);   // native 60 or 34
                EXPECT_EQ(e.SystemError, static_cast<unsigned long>(c.source ? ERROR_LOCK_VIOLATION : ERROR_DISK_FULL));
                out.Truncate(lastGood);
                break;
            }
        }
        EXPECT_EQ(target.Size(), lastGood) << "the cut leaves exactly the entries written";
    }
}

// Another program may take the disk while a volume is written: the disk is
// asked again before a write that could fill the volume, which then ends
// where the disk does. With room to spare it is asked less than once a file.
TEST(ZipVolumes, FreeSpaceIsAskedBeforeWritesThatCouldFillTheVolume) {
    struct Case {
        TZipVolumeSize size;
        int64_t freeDuringData;   // what the disk has once the big file's data starts; 0: as before
        int small;                // small files besides the big one
    } cases[] = {{vsCustom, 30000, 0}, {vsAutoDetect, 40000, 0}, {vsAutoDetect, 0, 60}};
    for (const Case& c : cases) {
        TScratch t;
        t.Write("src\\big.bin", Pattern(150000, 8));
        for (int i = 0; i < c.small; ++i) t.Write(Format("src\\s%02d.txt", i), Pattern(300, i));
        TZipArchiver z;
        z.SetCompressionMode(0);
        Split(z, smSplitting, false, c.size);
        int64_t free = 250000, firstVolume = -1, queries = 0;
        z.FreeSpace = [&](const std::string&) { return ++queries, free; };
        z.OnCopyTempFileProgress = [&](TObject*, double, TZipProgressPhase phase, bool&) {
            if (phase == ppStart && c.freeDuringData > 0) free = c.freeDuringData;
        };
        z.OnDiskFull = [&](TObject*, int, const std::string&, bool& cancel) {
            firstVolume = FileSizeOf(t.Path("set.Z01"));
            cancel = true;
        };
        EXPECT_EQ(Add(z, t.Path("set.zip"), t.Path("src")), c.freeDuringData > 0 ? 45 : -1);
        if (c.freeDuringData > 0) {
            EXPECT_GT(firstVolume, 0);
            EXPECT_LE(firstVolume, c.freeDuringData);
        } else {
            EXPECT_LT(queries, c.small / 4) << "asked " << queries << " times for " << c.small + 1 << " files";
        }
    }
}

// A removable drive with much room gets a volume buffer of a few MB, not one of its free space.
TEST(ZipVolumes, BufferedVolumeIsBoundedWhateverTheDiskHolds) {
    struct Host : TZipVolumeHost {
        std::string name;
        int64_t free;
        Host(std::string n, int64_t f) : name(std::move(n)), free(f) {}
        bool VolumeRequestBlank(uint32_t, std::string& n) override { return n = name, false; }
        bool VolumeDiskFull(uint32_t, const std::string&) override { return true; }
        int64_t VolumeFreeSpace(const std::string&) override { return free; }
        int64_t VolumeSizeOf(uint32_t) override { return -1; }
        const TComponent* VolumeOwner() override { return nullptr; }
        bool VolumeFlushEach() override { return true; }
        bool VolumeBuffered(const std::string&) override { return true; }
        void VolumeCreated(uint32_t, const std::string&) override {}
    };
    const std::string data = Pattern(9 << 20, 5);
    for (int64_t free : {int64_t(5000000000), int64_t(0x17FFFFFFF)}) {
        TScratch t;
        Host host(t.Path("set.zip"), free);
        TZipVolumeWriter w(host);
        EXPECT_EQ(NativeErrorOf([&] { w.Begin(), w.Write(data.data(), data.size()); }), -1) << free;
        EXPECT_GT(FileSizeOf(host.name), 0) << "a full buffer goes to the disk";
        w.Finish(host.name);
        EXPECT_EQ(FileSizeOf(host.name), static_cast<int64_t>(data.size()));
    }
}

TEST(ZipReadSide, LargeSizesAndPerBlockNames) {
    EXPECT_STREQ(EZipException::Fmt(34, nullptr, 5000000000LL, 3000000000LL).what(),
                 "Invalid compressed size, rfs.size = 5000000000, count = 3000000000 - Native error: 00034");
    TScratch t;
    t.Write("src\\sub\\big.bin", Pattern(600000, 4));   // two blocks at level 1
    TZipArchiver z;
    std::vector<std::string> perBlock;
    z.OnFileProgress = [&](TObject*, const std::string& name, double, TZipProcessOperation, TZipProgressPhase phase,
                           bool&) {
        if (phase == ppProcess) perBlock.push_back(name);
    };
    Add(z, t.Path("p.zip"), t.Path("src"));
    EXPECT_EQ(perBlock, std::vector<std::string>({"sub\\big.bin", "sub\\big.bin"}));
}
