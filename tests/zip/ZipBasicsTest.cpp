// Errors, masks, CRC and cipher, the directory arrays, stored names and
// volume names: the engine's pieces that need no archive on disk.
#include "ZipTestUtil.h"
#include "zip/ZipArchiver.h"
#include "zip/ZipCrypt.h"
#include "zip/ZipDir.h"
#include "zip/ZipErrors.h"
#include "zip/ZipMask.h"
#include "zip/ZipRecords.h"
#include "zip/ZipVolumes.h"
#include <gtest/gtest.h>

using namespace krv;

TEST(ZipErrors, MessageCarriesComponentNameAndZeroPaddedNativeCode) {
    TComponent archiver;
    archiver.SetName("Archiver");
    EZipException e = EZipException::Fmt(33, &archiver, "C:\\x.txt");
    EXPECT_EQ(e.ErrorCode, 12);
    EXPECT_EQ(e.NativeError, 33);
    EXPECT_STREQ(e.what(), "Archiver: Cannot open file \"C:\\x.txt\" - Native error: 00033");

    EZipException unnamed(13, nullptr);
    EXPECT_EQ(unnamed.ErrorCode, 7);
    EXPECT_STREQ(unnamed.what(), "Archive is not open - Native error: 00013");
    // Without arguments the placeholders stay as they are.
    EXPECT_STREQ(EZipException(43, nullptr).what(),
                 "Cannot compress file '%s'. Zip64 mode is not enabled - Native error: 00043");
}

TEST(ZipErrors, NativeCodesOutsideTheTableReadUnknown) {
    for (int native : {62, 1000, -1}) {
        EZipException e(native, nullptr);
        EXPECT_EQ(e.ErrorCode, 0) << native;
        EXPECT_EQ(std::string(e.what()).rfind("Unknown error - Native error: ", 0), 0u) << native;
    }
    EXPECT_STREQ(EZipException(62, nullptr).what(), "Unknown error - Native error: 00062");
}

TEST(ZipErrors, SharedMessagesAndFormattedNumbers) {
    struct { int native, code; } pairs[] = {{1, 1}, {4, 1}, {5, 2}, {11, 6}, {12, 6}, {13, 7}, {27, 14}, {34, 17},
                                            {41, 23}, {43, 23}, {45, 24}, {46, 25}, {48, 27}, {52, 31}, {56, 33},
                                            {57, 34}, {58, 35}, {59, 36}, {60, 37}, {61, 38}};
    for (auto p : pairs) EXPECT_EQ(ZipErrorCodeOf(p.native), p.code) << p.native;
    EXPECT_STREQ(EZipException::Fmt(34, nullptr, 100LL, 42LL).what(),
                 "Invalid compressed size, rfs.size = 100, count = 42 - Native error: 00034");
    EXPECT_STREQ(ZipErrorText(20), "Archive is open. You should close it beore performing this operation.");
    EXPECT_STREQ(ZipErrorText(99), "Unknown error");
}

TEST(ZipMasks, WildcardsAndCase) {
    EXPECT_TRUE(MatchesMask("a.txt", "*.TXT"));
    EXPECT_FALSE(MatchesMask("ac", "a?c"));
    EXPECT_TRUE(MatchesMask("abc", "a?c"));
    EXPECT_TRUE(MatchesMask("", "*?"));     // "*?" is "*"
    EXPECT_TRUE(MatchesMask("", "*"));
    EXPECT_FALSE(MatchesMask("", "?"));
    EXPECT_TRUE(MatchesMask("[ab].txt", "[ab].txt"));
    EXPECT_FALSE(MatchesMask("a.txt", "[ab].txt"));
    EXPECT_FALSE(MatchesMask("README", "*.*"));
    EXPECT_TRUE(MatchesMask("READ.ME", "*.*"));
    EXPECT_FALSE(MatchesMask("a.txtx", "*.txt"));
    EXPECT_TRUE(MatchesMask("report.final.txt", "*.*.txt"));
}

TEST(ZipMasks, BacktrackingFindsLaterMatches) {
    EXPECT_TRUE(MatchesMask("abcabd", "*ab?"));
    EXPECT_TRUE(MatchesMask("aXbXc", "a*b*c"));
    EXPECT_FALSE(MatchesMask("aXbXd", "a*b*c"));
    EXPECT_TRUE(MatchesMask("mississippi", "*sip*"));
    EXPECT_TRUE(MatchesMask("dir\\sub\\file.tmp", "*\\*.tmp"));
    EXPECT_FALSE(MatchesMask("aaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*c"));
}

TEST(ZipMasks, AtMostThirtyStarGroups) {
    std::string ok, bad;
    for (int i = 0; i < 30; ++i) ok += "*a";
    EXPECT_NO_THROW(TMask m(ok));
    EXPECT_TRUE(MatchesMask(std::string(30, 'a'), ok));
    bad = ok + "*b";   // the 31st group's state is at position 62
    try {
        TMask m(bad);
        FAIL() << "31 '*' groups must be refused";
    } catch (const EZipException&) {
        FAIL() << "the mask limit is a plain exception";
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()), "'" + bad + "' is an invalid mask at (62)");
    }
    // A trailing '*' takes its flag onto the closing state.
    EXPECT_THROW(TMask m(ok + "*"), Exception);
}

TEST(ZipCrc, CheckValueAndIncrementalUpdates) {
    EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32("", 0), 0u);
    std::string text(100003, 'x');
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(i * 7 + (i >> 5));
    uint32_t reg = 0xFFFFFFFFu;
    for (size_t at = 0; at < text.size(); at += 4093) reg = CrcUpdate(reg, text.data() + at, std::min<size_t>(4093, text.size() - at));
    EXPECT_EQ(~reg, Crc32(text.data(), text.size()));
}

TEST(ZipCipher, HeaderCarriesCrcAndDecryptsWithThePassword) {
    TZipRandomSource fixed = [](uint8_t* p, size_t n) { for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(i + 1); };
    uint8_t header[12];
    TZipCipher enc("secret");
    enc.MakeHeader(0xA1B2C3D4u, fixed, header);
    std::string data = "some plain text";
    enc.Encrypt(reinterpret_cast<uint8_t*>(data.data()), data.size());

    TZipCipher dec("secret");
    dec.Decrypt(header, 12);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(header[i], i + 1);
    EXPECT_EQ(header[10], 0xB2);
    EXPECT_EQ(header[11], 0xA1);
    dec.Decrypt(reinterpret_cast<uint8_t*>(data.data()), data.size());
    EXPECT_EQ(data, "some plain text");

    // Two headers from the system source differ: it is never an unseeded generator.
    uint8_t a[12], b[12];
    TZipCipher("x").MakeHeader(0, nullptr, a);
    TZipCipher("x").MakeHeader(0, nullptr, b);
    EXPECT_NE(std::string(a, a + 10), std::string(b, b + 10));
}

TEST(ZipDirArray, GrowsInDoublingStepsUpToTenThousand) {
    TZipDirArray a;
    std::vector<std::pair<int, int>> growth = {{1, 1000}, {1000, 1000}, {1001, 3000}, {3001, 7000},
                                               {7001, 15000}, {15001, 25000}, {25001, 35000}};
    for (auto [n, capacity] : growth) {
        while (a.Count() < n) a.SetCount(a.Count() + 1);
        EXPECT_EQ(a.Capacity(), capacity) << n;
    }
    a.SetCount(0);
    EXPECT_EQ(a.Capacity(), 0);
}

TEST(ZipDirArray, NameIndexIsExactFirstMatchAndFollowsDeletes) {
    auto named = [](const std::string& name, bool marked = false) {
        TDirItem item;
        item.name = name;
        item.marked = marked;
        return item;
    };
    TZipDirArray a;
    for (const char* n : {"a/one.txt", "B/Two.txt", "a/ONE.TXT", "c/"}) a.Add(named(n));
    EXPECT_EQ(a.IndexOfName("a/ONE.TXT"), 2);   // another spelling is another entry
    EXPECT_EQ(a.IndexOfName("b/two.TXT"), -1);
    EXPECT_EQ(a.IndexOfName("missing"), -1);
    // Folded only to an entry no found name has claimed.
    EXPECT_EQ(a.IndexOfUnclaimed("A/One.Txt"), 0);
    a.Item(0).marked = true;
    EXPECT_EQ(a.IndexOfUnclaimed("A/One.Txt"), 2);
    a.Delete(0);
    EXPECT_EQ(a.IndexOfName("a/ONE.TXT"), 1);
    const int builds = a.IndexBuilds();
    TDirItem again;
    again.name = "B/Two.txt";   // found again: replaced where the index has it
    a.Put(0, again);
    EXPECT_EQ(a.IndexOfName("B/Two.txt"), 0);
    EXPECT_EQ(a.IndexBuilds(), builds);
    a.Item(1).name = "renamed";
    a.Renamed(1, "a/ONE.TXT");
    EXPECT_EQ(a.IndexOfName("a/ONE.TXT"), -1);
    EXPECT_EQ(a.IndexOfName("renamed"), 1);
    EXPECT_EQ(a.IndexOfUnclaimed("RENAMED"), 1);

    TZipDirArray copy;
    copy.Assign(a);
    EXPECT_EQ(copy.Count(), 3);
    EXPECT_EQ(copy.IndexOfName("c/"), 2);

    // Many deleted in one pass: both indexes follow the records that move up.
    a.Delete(std::vector<int>{0});
    EXPECT_EQ(a.IndexOfName("renamed"), 0);
    EXPECT_EQ(a.IndexOfUnclaimed("RENAMED"), 0);
    EXPECT_EQ(a.IndexOfUnclaimed("C/"), 1);

    // Renames between lookups (an update claiming entries of another
    // spelling) keep both indexes, the first record of a name answering.
    TZipDirArray b;
    for (const char* n : {"d/x", "D/x", "d/x"}) b.Add(named(n));
    for (int k = 0; k < 200; ++k) b.Add(named("Data/" + std::to_string(k)));
    ASSERT_EQ(b.IndexOfUnclaimed("D/X"), 0);
    const int built = b.IndexBuilds();
    b.Put(0, named("D/x"));   // its old name passes to its next record; it goes ahead of a later one
    EXPECT_EQ(b.IndexOfName("d/x"), 2);
    EXPECT_EQ(b.IndexOfName("D/x"), 0);
    for (int k = 0; k < 200; ++k) {
        const std::string name = "data/" + std::to_string(k);
        ASSERT_EQ(b.IndexOfName(name), -1);
        ASSERT_EQ(b.IndexOfUnclaimed(name), 3 + k);
        b.Put(3 + k, named(name, true));
        EXPECT_EQ(b.IndexOfName(name), 3 + k);
        EXPECT_EQ(b.IndexOfUnclaimed(name), -1);
    }
    EXPECT_EQ(b.IndexBuilds(), built);
}

TEST(ZipDirArray, IndexGuardsRaiseTheirNativeCodes) {
    TZipDirArray a;
    a.SetCount(2);
    auto native = [](auto&& f) {
        try { f(); } catch (const EZipException& e) { EXPECT_EQ(e.ErrorCode, 1); return e.NativeError; }
        return -1;
    };
    EXPECT_EQ(native([&] { a.Put(2, TDirItem{}); }), 1);
    EXPECT_EQ(native([&] { a.Get(-1); }), 2);
    EXPECT_EQ(native([&] { a.Item(5); }), 3);
    EXPECT_EQ(native([&] { a.Delete(2); }), 4);
}

TEST(ZipStoredNames, EveryPathMode) {
    EXPECT_EQ(ZipStoredName("C:\\Data\\a.txt", "C:\\Data", spFullPath), "Data/a.txt");
    EXPECT_EQ(ZipStoredName("C:\\Data\\a.txt", "C:\\Data", spFullPathWithDrive), "C:/Data/a.txt");
    EXPECT_EQ(ZipStoredName("C:\\Data\\sub\\a.txt", "C:\\Data\\", spRelativePath), "sub/a.txt");
    EXPECT_EQ(ZipStoredName("C:\\Data\\sub\\a.txt", "C:\\Data", spNoPath), "a.txt");
    // Outside the base folder: the full path without the drive.
    EXPECT_EQ(ZipStoredName("D:\\Other\\b.txt", "C:\\Data", spRelativePath), "Other/b.txt");
    EXPECT_EQ(ZipStoredName("sub\\c.txt", "C:\\Data", spRelativePath), "sub/c.txt");
    EXPECT_EQ(ZipStoredName("C:\\Data\\folder\\", "C:\\Data", spRelativePath), "folder");
    EXPECT_EQ(ZipStoredName("C:\\Data\\x\\..\\y.txt", "C:\\", spFullPath), "Data/y.txt");
}

TEST(ZipStoredNames, NetworkPathsAndLongNames) {
    EXPECT_EQ(ZipStoredName("\\\\server\\share\\dir\\f.txt", "C:\\", spFullPath), "share/dir/f.txt");
    EXPECT_EQ(ZipStoredName("\\\\server\\share\\dir\\f.txt", "\\\\server\\share", spRelativePath), "dir/f.txt");
    std::string deep = "C:\\";
    for (int i = 0; i < 40; ++i) deep += Format("folder_number_%d\\", i);
    deep += "file.txt";
    std::string stored = ZipStoredName(deep, "C:\\", spFullPath);
    EXPECT_GT(stored.size(), 600u);   // no fixed-size name buffer
    EXPECT_EQ(stored, StringReplaceAll(deep.substr(3), "\\", "/"));
    EXPECT_EQ(ZipEncodeName(stored, true).size(), stored.size());
}

TEST(ZipVolumeNames, ShortAndAdvancedSchemes) {
    EXPECT_EQ(ZipVolumeFileName("C:\\t\\name.zip", 0, smSplitting, false, false), "C:\\t\\name.Z01");
    EXPECT_EQ(ZipVolumeFileName("C:\\t\\name.zip", 9, smSplitting, false, false), "C:\\t\\name.Z10");
    EXPECT_EQ(ZipVolumeFileName("C:\\t\\name.zip", 99, smSplitting, false, false), "C:\\t\\name.Z100");
    EXPECT_EQ(ZipVolumeFileName("C:\\t\\name.zip", 1, smSplitting, true, false), "C:\\t\\name_002.zip");
    EXPECT_EQ(ZipVolumeFileName("C:\\t\\name.zip", kLastVolume, smSplitting, false, false), "C:\\t\\name.zip");
    EXPECT_EQ(ZipVolumeFileName("C:\\t\\name.exe", 0, smSplitting, false, true), "C:\\t\\name.exe");
    EXPECT_EQ(ZipVolumeFileName("C:\\t\\name.exe", kLastVolume, smSplitting, false, true), "C:\\t\\name.ZIP");
    EXPECT_EQ(ZipVolumeFileName("A:\\name.zip", 3, smSpanning, false, false), "A:\\name.zip");
    EXPECT_EQ(ZipVolumeFileName("A:\\name.zip", 3, smSpanning, true, false), "A:\\name_004.zip");
}

TEST(ZipVolumeNames, SizesAndNumberInfo) {
    TZipSpanningOptions o;
    EXPECT_EQ(ZipVolumeSize(o, 0), -1);
    o.VolumeSize = vsCustom;
    o.SetCustomVolumeSize(1000);
    EXPECT_EQ(o.CustomVolumeSize(), 65536);
    o.SetCustomVolumeSize(-5);
    EXPECT_EQ(o.CustomVolumeSize(), 65536);
    o.SetCustomVolumeSize(2000000000);
    o.FirstVolumeSize = 123456;
    EXPECT_EQ(ZipVolumeSize(o, 0), 123456);
    EXPECT_EQ(ZipVolumeSize(o, 1), 2000000000);
    o.VolumeSize = vs1_44MB;
    EXPECT_EQ(ZipVolumeSize(o, 2), 1457664);

    TZipVolumeNumberInfo a, b;
    a.SetFirst();
    EXPECT_TRUE(a.IsFirst());
    b.SetNumber(0);
    EXPECT_TRUE(a == b);
    a.lastNumber = 4;
    a.SetLast();
    EXPECT_TRUE(a.IsLast());
    EXPECT_EQ(a.number, 4);
}

TEST(ZipRecords, ClosingRecordsTurnZip64AtTheLimits) {
    TZipClosing c;
    c.end.totalEntries = c.end.entriesOnVolume = 65534;
    EXPECT_EQ(ZipClosingRecords(c).size(), kEndSize);
    c.end.totalEntries = c.end.entriesOnVolume = 65535;   // exactly 0xFFFF entries
    auto r = ZipClosingRecords(c);
    ASSERT_EQ(r.size(), kZip64EndSize + kZip64LocatorSize + kEndSize);
    EXPECT_EQ(ziptest::U32At(r, 0), kZip64EndSig);
    EXPECT_EQ(ziptest::U32At(r, 56), kZip64LocatorSig);
    EXPECT_EQ(ziptest::U16At(r, 76 + 10), 0xFFFF);
    c.end.totalEntries = c.end.entriesOnVolume = 3;
    c.end.directoryOffset = 0xFFFFFFFFull;   // 0xFFFFFFFF itself does not fit
    EXPECT_EQ(ZipClosingRecords(c).size(), kZip64EndSize + kZip64LocatorSize + kEndSize);
    c.end.directoryOffset = 0xFFFFFFFEull;
    EXPECT_EQ(ZipClosingRecords(c).size(), kEndSize);
}

TEST(ZipRecords, CentralHeaderPutsOnlyOversizedFieldsInZip64Extra) {
    TDirItem item;
    item.versionMadeBy = item.versionNeeded = 20;
    item.uncompressedSize = 0xFFFFFFFFull;
    item.compressedSize = 100;
    item.localHeaderOffset = 0x100000000ull;
    auto h = ZipCentralHeader(item, "n");
    EXPECT_EQ(ziptest::U16At(h, 6), 45);
    EXPECT_EQ(ziptest::U32At(h, 20), 100u);
    EXPECT_EQ(ziptest::U32At(h, 24), 0xFFFFFFFFu);
    EXPECT_EQ(ziptest::U32At(h, 42), 0xFFFFFFFFu);
    ASSERT_EQ(ziptest::U16At(h, 30), 4 + 16);
    EXPECT_EQ(ziptest::U16At(h, 47), 1);
    EXPECT_EQ(ziptest::U16At(h, 49), 16);
}

// A name flagged UTF-8 (general purpose bit 11) is read in the process's code
// page, whatever the OEM setting; unflagged names keep the OEM rule.
TEST(ZipNames, Utf8FlaggedNamesAreReadInTheProcessCodePage) {
    const std::string utf8 = "\xC3\x9C" "ber/\xD0\x94.txt";   // "Über/Д.txt"
    const std::string read = ZipDecodeName(utf8, true, kFlagUtf8Name);
    if (::GetACP() == CP_UTF8) {
        EXPECT_EQ(read, utf8);
        EXPECT_TRUE(ZipNameIsUtf8(utf8));
        EXPECT_EQ(ZipEncodeName(utf8, true), utf8);
    } else {
        // Ü has a place in the code page; Д may not, and then reads as the default character.
        EXPECT_EQ(read.substr(0, 4), std::string("\xDC") + "ber");
        EXPECT_FALSE(ZipNameIsUtf8(utf8));
    }
    EXPECT_FALSE(ZipNameIsUtf8("plain/ascii.txt"));
    EXPECT_EQ(ZipDecodeName("plain.txt", true, kFlagUtf8Name), "plain.txt");
    // Without the flag the OEM rule holds: 0x9A is "Ü" in code page 437/850.
    EXPECT_EQ(ZipDecodeName("\x9A", false, 0), "\x9A");
}
