// Whole archives written by the archiver and taken apart again: data in
// blocks, records and their fields, encryption against golden bytes, volumes.
#include "ZipTestUtil.h"
#include "zip/ZipArchiver.h"
#include "zip/ZipCompress.h"
#include "zip/ZipRecords.h"
#include <gtest/gtest.h>

using namespace krv;
using namespace ziptest;

namespace {

struct Archived {
    std::string name;
    uint16_t flags, method, version;
    uint32_t crc, attr;
    uint64_t compressed, size;
    std::string data;   // the entry's data as stored (after the local header)
};

// Reads every entry back through the engine's directory reader and the local headers.
std::vector<Archived> ReadBack(const std::string& path) {
    TZipArchiver z;
    z.FileName = path;
    z.OpenArchive(fmOpenRead | fmShareDenyNone);
    auto bytes = ReadAll(path);
    std::vector<Archived> out;
    for (int i = 0; i < z.Count(); ++i) {
        const TDirItem& it = z.Items(i);
        size_t at = static_cast<size_t>(it.localHeaderOffset);
        EXPECT_EQ(U32At(bytes, at), kLocalHeaderSig);
        size_t start = at + 30 + U16At(bytes, at + 26) + U16At(bytes, at + 28);
        out.push_back({it.name, it.flags, it.method, it.versionNeeded, it.crc, it.externalAttr, it.compressedSize,
                       it.uncompressedSize, Bytes(bytes, start, static_cast<size_t>(it.compressedSize))});
    }
    z.CloseArchive();
    return out;
}

void ArchiveFolder(TZipArchiver& z, const std::string& archive, const std::string& folder) {
    z.FileName = archive;
    z.BaseDir = folder;
    z.OnProcessFileFailure = [](TObject*, const std::string& n, TZipProcessOperation, int, int, const std::string& m,
                                TZipAction& a) {
        ADD_FAILURE() << n << ": " << m;
        a = fxaAbort;
    };
    z.OpenArchive(fmCreate);
    z.BeginUpdate();
    z.FileMasks().Add("*.*");
    z.AddFiles();
    z.EndUpdate();
    z.CloseArchive();
}

} // namespace

TEST(ZipCompression, BlockBoundariesRoundTrip) {
    const size_t block = ZipBlockSize(9);
    ASSERT_EQ(block, 1572864u);
    TScratch s;
    std::vector<size_t> sizes = {0, 1, block, block + 1, 2 * block + 17};
    for (size_t n : sizes) s.Write("src\\f" + std::to_string(n) + ".bin", Pattern(n, static_cast<unsigned>(n)));
    TZipArchiver z;
    z.SetCompressionMode(9);
    ArchiveFolder(z, s.Path("out.zip"), s.Path("src"));
    auto entries = ReadBack(s.Path("out.zip"));
    ASSERT_EQ(entries.size(), sizes.size());
    for (const auto& e : entries) {
        size_t n = std::stoul(e.name.substr(1));
        std::string original = Pattern(n, static_cast<unsigned>(n));
        EXPECT_EQ(e.size, n);
        EXPECT_EQ(e.crc, Crc32(original.data(), original.size())) << e.name;
        if (n == 0) {
            EXPECT_EQ(e.method, 0);   // empty files are stored
            EXPECT_EQ(e.compressed, 0u);
            EXPECT_EQ(e.crc, 0u);
            continue;
        }
        EXPECT_EQ(e.method, 8);
        std::string inflated = Inflate(reinterpret_cast<const uint8_t*>(e.data.data()), e.data.size());
        EXPECT_TRUE(inflated == original) << e.name;
    }
}

TEST(ZipCompression, SyncFlushMarksEveryBlockBoundary) {
    const size_t block = ZipBlockSize(9);
    TScratch s;
    std::string text = Pattern(block + 100, 3);
    s.Write("src\\two.bin", text);
    TZipArchiver z;
    z.SetCompressionMode(9);
    ArchiveFolder(z, s.Path("out.zip"), s.Path("src"));
    auto e = ReadBack(s.Path("out.zip")).at(0);
    // Deflating the first block alone with a sync flush gives exactly the entry's first bytes.
    std::string first = Inflate(reinterpret_cast<const uint8_t*>(e.data.data()), e.data.size());
    EXPECT_TRUE(first == text);
    size_t marker = e.data.find(std::string("\x00\x00\xFF\xFF", 4));
    ASSERT_NE(marker, std::string::npos);
    EXPECT_LT(marker, e.data.size() - 4);   // the marker closes the first block, not the stream
}

TEST(ZipCompression, LevelZeroStoresBytesUnchanged) {
    TScratch s;
    std::string text = Pattern(300000, 9);
    s.Write("src\\plain.bin", text);
    TZipArchiver z;
    z.SetCompressionMode(0);
    EXPECT_EQ(z.CompressionLevel(), clNone);
    EXPECT_EQ(z.CompressionMethod(), 0);
    ArchiveFolder(z, s.Path("out.zip"), s.Path("src"));
    auto e = ReadBack(s.Path("out.zip")).at(0);
    EXPECT_EQ(e.method, 0);
    EXPECT_TRUE(e.data == text);
}

TEST(ZipCompression, NoCompressionMasksStoreMatchingFiles) {
    TScratch s;
    s.Write("src\\a.jpg", Pattern(5000, 1));
    s.Write("src\\a.txt", Pattern(5000, 1));
    TZipArchiver z;
    z.NoCompressionMasks().Add("*.jpg");
    ArchiveFolder(z, s.Path("out.zip"), s.Path("src"));
    for (const auto& e : ReadBack(s.Path("out.zip"))) EXPECT_EQ(e.method, e.name == "a.jpg" ? 0 : 8) << e.name;
}

TEST(ZipRecords, EmptyArchiveIsTheEndRecordAlone) {
    TScratch s;
    TZipArchiver z;
    z.FileName = s.Path("empty.zip");
    z.OpenArchive(fmCreate);
    z.CloseArchive();
    auto b = ReadAll(s.Path("empty.zip"));
    ASSERT_EQ(b.size(), 22u);
    EXPECT_EQ(U32At(b, 0), kEndSig);
    for (size_t i = 4; i < 22; ++i) EXPECT_EQ(b[i], 0) << i;
}

TEST(ZipRecords, FoldersEmptyFilesVersionsAndAttributes) {
    TScratch s;
    s.Folder("src\\empty dir");
    s.Write("src\\zero.txt", "");
    s.Write("src\\sub\\n.txt", "text");
    ::SetFileAttributesA(s.Path("src\\sub\\n.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    for (bool oem : {true, false}) {
        TZipArchiver z;
        z.Options.OEMFileNames = oem;
        ArchiveFolder(z, s.Path("out.zip"), s.Path("src"));
        auto entries = ReadBack(s.Path("out.zip"));
        ASSERT_EQ(entries.size(), 4u);
        for (const auto& e : entries) {
            EXPECT_EQ(e.version, oem ? 20 : 0x0B14) << e.name;
            if (e.name.back() == '/') {
                EXPECT_EQ(e.method, 0);
                EXPECT_EQ(e.flags, 2);
                EXPECT_EQ(e.crc, 0u);
                EXPECT_EQ(e.size, 0u);
                EXPECT_TRUE(e.attr & FILE_ATTRIBUTE_DIRECTORY) << e.name;
            }
            if (e.name == "zero.txt") { EXPECT_EQ(e.method, 0); }
            if (e.name == "sub/n.txt") { EXPECT_TRUE(e.attr & FILE_ATTRIBUTE_READONLY); }
        }
    }
}

TEST(ZipEncryption, GoldenBytesWithInjectedRandomAndClock) {
    TScratch s;
    std::string text = "Korvane encrypts this line. Korvane encrypts this line.";
    s.Write("src\\secret.txt", text);
    auto make = [&](const std::string& name) {
        TZipArchiver z;
        z.Password = "pw";
        z.RandomSource = [](uint8_t* p, size_t n) { for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(0x40 + i); };
        z.OnStoreFile = [](TObject*, std::string&, uint32_t& attr, std::string&, const std::string&) { attr = 32; };
        ArchiveFolder(z, s.Path(name), s.Path("src"));
        return ReadAll(s.Path(name));
    };
    auto a = make("a.zip"), b = make("b.zip");
    EXPECT_EQ(a, b);   // nothing but the injected sources goes into the bytes
    auto e = ReadBack(s.Path("a.zip")).at(0);
    EXPECT_EQ(e.flags & 1, 1);
    EXPECT_EQ(e.compressed, e.data.size());
    // Decrypt with the password: the header shows our random bytes and the CRC's top byte.
    std::string data = e.data;
    TZipCipher cipher("pw");
    cipher.Decrypt(reinterpret_cast<uint8_t*>(data.data()), data.size());
    for (int i = 0; i < 10; ++i) EXPECT_EQ(static_cast<uint8_t>(data[i]), 0x40 + i);
    EXPECT_EQ(static_cast<uint8_t>(data[11]), e.crc >> 24);
    EXPECT_EQ(Inflate(reinterpret_cast<const uint8_t*>(data.data()) + 12, data.size() - 12), text);
    const char golden[] = "\x50\x4B\x03\x04\x14\x00\x01\x00\x08\x00";
    EXPECT_EQ(Bytes(a, 0, 10), std::string(golden, 10));
}

TEST(ZipCompression, FileVanishedBeforeCommitFailsAloneWithCode12) {
    TScratch s;
    TZipArchiver z;
    z.FileName = s.Path("out.zip");
    z.OpenArchive(fmCreate);
    z.BeginUpdate();
    z.FileMasks().Add(s.Path("vanished.txt"));   // a path with no file behind it
    s.Write("vanished.txt", "x");
    z.AddFiles();
    s.Delete("vanished.txt");
    int failures = 0;
    z.OnProcessFileFailure = [&](TObject*, const std::string&, TZipProcessOperation, int native, int code,
                                 const std::string&, TZipAction& a) {
        ++failures;
        EXPECT_EQ(native, 33);
        EXPECT_EQ(code, 12);
        a = fxaIgnore;
    };
    z.EndUpdate();
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(z.Count(), 0);
    z.CloseArchive();
    EXPECT_EQ(ReadAll(s.Path("out.zip")).size(), 22u);
}

TEST(ZipVolumes, EveryVolumeWithinSizeAndClosingRecordsTogether) {
    TScratch s;
    // Sizes that put the tail of the archive on and around a volume boundary.
    for (size_t extra : {0u, 17u, 21u, 40000u}) {
        TScratch t;
        t.Write("src\\big.bin", Pattern(150000, 5));
        t.Write("src\\tail.bin", Pattern(extra, 6));
        for (int i = 0; i < 30; ++i) t.Write("src\\f" + std::to_string(i) + ".txt", Pattern(100 + i, i));
        TZipArchiver z;
        z.SetCompressionMode(0);
        z.SetSpanningMode(smSplitting);
        z.SpanningOptions.AdvancedNaming = false;
        z.SpanningOptions.VolumeSize = vsCustom;
        z.SpanningOptions.SetCustomVolumeSize(65536);
        ArchiveFolder(z, t.Path("set.zip"), t.Path("src"));
        int volumes = 0;
        while (FileExists(t.Path(Format("set.Z%.2d", volumes + 1)))) {
            EXPECT_EQ(FileSizeOf(t.Path(Format("set.Z%.2d", volumes + 1))), 65536) << extra;
            ++volumes;
        }
        EXPECT_GE(volumes, 2);
        auto last = ReadAll(t.Path("set.zip"));
        ASSERT_GE(last.size(), 22u);
        EXPECT_LE(last.size(), 65536u);
        size_t end = last.size() - 22;
        EXPECT_EQ(U32At(last, end), kEndSig) << extra;
        EXPECT_EQ(U16At(last, end + 4), volumes) << "this volume is the last one";
        EXPECT_EQ(U16At(last, end + 10), 32) << "entries in total";
        // The directory's size is what was written, wherever it starts.
        uint32_t cdVolume = U16At(last, end + 6), cdSize = U32At(last, end + 12), cdOffset = U32At(last, end + 16);
        uint64_t counted = 0;
        for (int v = static_cast<int>(cdVolume); v <= volumes; ++v) {
            int64_t len = v == volumes ? static_cast<int64_t>(end) : FileSizeOf(t.Path(Format("set.Z%.2d", v + 1)));
            counted += static_cast<uint64_t>(len) - (v == static_cast<int>(cdVolume) ? cdOffset : 0);
        }
        EXPECT_EQ(cdSize, counted) << extra;
    }
}

TEST(ZipVolumes, OneVolumeGivesJustTheArchive) {
    TScratch t;
    t.Write("src\\a.txt", "small");
    TZipArchiver z;
    z.SetSpanningMode(smSplitting);
    z.SpanningOptions.AdvancedNaming = false;
    z.SpanningOptions.VolumeSize = vsCustom;
    z.SpanningOptions.SetCustomVolumeSize(2000000000);
    z.FreeSpace = [](const std::string&) { return int64_t(3000000000); };
    ArchiveFolder(z, t.Path("one.zip"), t.Path("src"));
    EXPECT_TRUE(FileExists(t.Path("one.zip")));
    EXPECT_FALSE(FileExists(t.Path("one.Z01")));
    EXPECT_EQ(ReadBack(t.Path("one.zip")).size(), 1u);
}

TEST(ZipVolumes, TooLittleFreeSpaceFailsWithNative45) {
    TScratch t;
    t.Write("src\\a.txt", "small");
    TZipArchiver z;
    z.SetSpanningMode(smSplitting);
    z.SpanningOptions.AdvancedNaming = false;
    z.SpanningOptions.VolumeSize = vsCustom;
    z.SpanningOptions.SetCustomVolumeSize(2000000000);
    z.FreeSpace = [](const std::string&) { return int64_t(1999999999); };
    int fullEvents = 0;
    z.OnDiskFull = [&](TObject*, int volume, const std::string&, bool& cancel) {
        EXPECT_EQ(volume, 1);
        ++fullEvents;
        cancel = true;
    };
    z.FileName = t.Path("full.zip");
    // The first volume is asked for when the archive is created.
    EXPECT_EQ(NativeErrorOf([&] { z.OpenArchive(fmCreate); }), 45);
    EXPECT_EQ(fullEvents, 1);
    EXPECT_FALSE(z.Active());
    EXPECT_FALSE(FileExists(t.Path("full.Z01")));
    EXPECT_FALSE(FileExists(t.Path("full.zip")));
    // With room, the first volume is there before anything is added.
    z.FreeSpace = [](const std::string&) { return int64_t(2000000000); };
    z.OpenArchive(fmCreate);
    EXPECT_TRUE(FileExists(t.Path("full.Z01")));
    z.CloseArchive();   // nothing added: the volume becomes a valid empty archive
    EXPECT_FALSE(FileExists(t.Path("full.Z01")));
    EXPECT_EQ(FileSizeOf(t.Path("full.zip")), 22);
}

TEST(ZipArchiverProperties, LevelModeAndGuards) {
    TZipArchiver z;
    z.SetCompressionLevel(clMax);
    EXPECT_EQ(z.CompressionMode(), 9);
    EXPECT_EQ(NativeErrorOf([&] { z.SetCompressionMode(10); }), 5);
    EXPECT_EQ(z.CompressionMode(), 9);
    EXPECT_EQ(z.CompressionLevel(), clMax);
    z.SetCompressionMode(5);
    EXPECT_EQ(z.CompressionLevel(), clNormal);
    EXPECT_EQ(z.CompressionMethod(), 8);
    EXPECT_EQ(z.CurrentVersion(), "2.62 ");
    EXPECT_EQ(z.Zip64Mode(), zmDisabled);

    TScratch s;
    z.FileName = s.Path("created.zip");
    z.EndUpdate();   // without BeginUpdate: nothing
    EXPECT_FALSE(z.Active());
    z.BeginUpdate();   // a closed archive whose file does not exist is created
    EXPECT_TRUE(z.Active());
    EXPECT_TRUE(FileExists(s.Path("created.zip")));
    EXPECT_THROW(z.SetSpanningMode(smSplitting), Exception);
    z.EndUpdate();
    z.CloseArchive();
    EXPECT_EQ(FileSizeOf(s.Path("created.zip")), 22);

    TZipArchiver closed;
    EXPECT_EQ(NativeErrorOf([&] { closed.AddFiles(); }), 13);
    closed.FileName = s.Path("missing.zip");
    EXPECT_EQ(NativeErrorOf([&] { closed.OpenArchive(fmOpenReadWrite); }), 12);
    closed.FileName = s.Path("folder\\");
    EXPECT_EQ(NativeErrorOf([&] { closed.OpenArchive(fmCreate); }), 10);
}

TEST(ZipArchiverProperties, FileWithoutAnyEntryIsRefusedOnOpen) {
    TScratch s;
    s.Write("bad.zip", std::string(100, 'x'));
    TZipArchiver z;
    z.FileName = s.Path("bad.zip");
    EXPECT_EQ(NativeErrorOf([&] { z.OpenArchive(fmOpenRead); }), 35);
    EXPECT_FALSE(z.Active());
}

TEST(ZipArchiverProperties, InMemoryArchiveIsSavedWhenSwitchedOff) {
    TScratch s;
    s.Write("src\\m.txt", "memory");
    TZipArchiver z;
    z.SetInMemory(true);
    z.FileName = s.Path("mem.zip");
    z.BaseDir = s.Path("src");
    z.BeginUpdate();
    z.FileMasks().Add("*.*");
    z.AddFiles();
    z.EndUpdate();
    EXPECT_FALSE(FileExists(s.Path("mem.zip")));
    z.SetInMemory(false);
    EXPECT_TRUE(z.Active());
    z.CloseArchive();
    auto e = ReadBack(s.Path("mem.zip"));
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].name, "m.txt");
}

TEST(ZipEncryption, FileChangedBetweenItsTwoReadsFailsInsteadOfAWrongHeader) {
    TScratch s;
    std::string path = s.Write("src\\moving.txt", std::string(5000, 'a'));
    TZipArchiver z;
    z.PrefetchWorkers = 0;   // read by the writer itself, twice: once for the CRC, once to compress
    z.Password = "pw";
    z.FileName = s.Path("out.zip");
    z.BaseDir = s.Path("src");
    // The first block's progress comes after the pass that fed the header's CRC.
    z.OnFileProgress = [&](TObject*, const std::string&, double, TZipProcessOperation, TZipProgressPhase phase, bool&) {
        if (phase != ppProcess) return;
        TFileStream f(path, fmOpenWrite | fmShareDenyNone);
        f.WriteBuffer("b", 1);
    };
    std::vector<int> natives;
    z.OnProcessFileFailure = [&](TObject*, const std::string&, TZipProcessOperation, int native, int code,
                                 const std::string&, TZipAction& a) {
        natives.push_back(native);
        EXPECT_EQ(code, 4);
        a = fxaIgnore;
    };
    z.BeginUpdate();
    z.FileMasks().Add("*.*");
    z.AddFiles();
    z.EndUpdate();
    EXPECT_EQ(natives, std::vector<int>{8});
    EXPECT_EQ(z.Count(), 0);
    z.CloseArchive();
    EXPECT_EQ(FileSizeOf(s.Path("out.zip")), 22);
}
