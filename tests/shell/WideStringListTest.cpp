#include "ShellTestUtil.h"
#include "shell/base/SystemVersion.h"
#include "shell/base/WideFileStream.h"
#include "shell/base/WideStringList.h"
#include "shell/base/WideStrUtils.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <random>

using namespace krv;

namespace {
std::vector<uint8_t> Bytes(TMemoryStream& s) { return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size()); }

void LoadBytes(TWideStringList& l, std::vector<uint8_t> bytes) {
    TMemoryStream s;
    if (!bytes.empty()) s.WriteBuffer(bytes.data(), bytes.size());
    s.SetPosition(0);
    l.LoadFromStream(s);
}

template <class Fn> std::string ErrorText(Fn fn) {
    try {
        fn();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "(no error)";
}

struct Tracked : TObject {
    explicit Tracked(int& deaths) : deaths_(deaths) {}
    ~Tracked() override { ++deaths_; }
    int& deaths_;
};
} // namespace

TEST(WideStringList, SortedIgnoreKeepsOneEntryRegardlessOfCase) {
    TWideStringList l;
    l.SetSorted(true);
    l.Add(L"zeta");
    int first = l.Add(L"abc");
    int again = l.Add(L"ABC");
    EXPECT_EQ(first, again);
    EXPECT_EQ(l.Count(), 2);
    EXPECT_EQ(l[0], L"abc");
    EXPECT_EQ(l.IndexOf(L"ABC"), 0);
    EXPECT_EQ(l.IndexOf(L"missing"), -1);
    int at = -1;
    EXPECT_FALSE(l.Find(L"mid", at));
    EXPECT_EQ(at, 1);   // the insertion point
}

TEST(WideStringList, DuplicateRulesAndFirstOfEqualEntries) {
    TWideStringList l;
    l.SetSorted(true);
    l.SetDuplicates(dupAccept);
    for (const wchar_t* s : {L"b", L"a", L"B", L"c", L"b"}) l.Add(s);
    EXPECT_EQ(l.Count(), 5);
    int at = -1;
    EXPECT_TRUE(l.Find(L"b", at));
    EXPECT_EQ(at, 1);   // the first of the three
    EXPECT_EQ(l[1].size(), 1u);
    EXPECT_EQ(l[4], L"c");
    l.SetDuplicates(dupError);
    EXPECT_EQ(ErrorText([&] { l.Add(L"A"); }), "String list does not allow duplicates");
}

TEST(WideStringList, QuotedErrorsForBadIndexesAndSortedChanges) {
    TWideStringList l;
    l.Add(L"one");
    EXPECT_EQ(ErrorText([&] { l.Get(1); }), "List index out of bounds (1)");
    EXPECT_EQ(ErrorText([&] { l.Get(-1); }), "List index out of bounds (-1)");
    EXPECT_EQ(ErrorText([&] { l.Delete(5); }), "List index out of bounds (5)");
    EXPECT_EQ(ErrorText([&] { l.Exchange(0, 2); }), "List index out of bounds (2)");
    EXPECT_EQ(ErrorText([&] { l.PutObject(3, nullptr); }), "List index out of bounds (3)");
    EXPECT_EQ(ErrorText([&] { l.Insert(3, L"x"); }), "List index out of bounds (3)");
    l.Insert(1, L"two");   // at Count is allowed
    EXPECT_EQ(ErrorText([&] { l.SetCapacity(1); }), "List capacity out of bounds (1)");
    EXPECT_EQ(ErrorText([&] { l.SetCapacity(0x8000000); }), "List capacity out of bounds (134217728)");
    l.SetSorted(true);
    EXPECT_EQ(ErrorText([&] { l.Insert(0, L"x"); }), "Operation not allowed on sorted list");
    EXPECT_EQ(ErrorText([&] { l.Put(0, L"x"); }), "Operation not allowed on sorted list");
}

TEST(WideStringList, SortingExchangesObjectsWithTheirStrings) {
    TWideStringList l;
    std::vector<std::wstring> words = {L"pear", L"Apple", L"fig", L"banana", L"Cherry", L"date", L"elder", L"apple2"};
    std::vector<TObject> objects(words.size());
    for (size_t i = 0; i < words.size(); ++i) l.AddObject(words[i], &objects[i]);
    l.Sort();
    for (int i = 1; i < l.Count(); ++i) EXPECT_LE(StrICompW(l[i - 1].c_str(), l[i].c_str()), 0);
    for (int i = 0; i < l.Count(); ++i) {
        size_t orig = std::find(words.begin(), words.end(), l[i]) - words.begin();
        EXPECT_EQ(l.GetObject(i), &objects[orig]);
    }
    // Descending by a custom order.
    l.CustomSort([](TWideStringList& list, int a, int b) { return -StrICompW(list[a].c_str(), list[b].c_str()); });
    EXPECT_EQ(l[0], L"pear");
}

TEST(WideStringList, EventsSurroundEveryChange) {
    TWideStringList l;
    std::string log;
    l.OnChanging = [&](TObject*) { log += '<'; };
    l.OnChange = [&](TObject*) { log += '>'; };
    l.Add(L"a");
    l.Put(0, L"b");
    l.Delete(0);
    EXPECT_EQ(log, "<><><>");
    log.clear();
    l.SetUpdateState(true);
    l.SetUpdateState(false);
    EXPECT_EQ(log, "<>");
}

TEST(WideStringList, OwnedObjectsAreFreedOnDeleteAndClear) {
    int deaths = 0;
    {
        TWideStringList l;
        l.OwnsObjects = true;
        l.AddObject(L"a", new Tracked(deaths));
        l.AddObject(L"b", new Tracked(deaths));
        l.AddObject(L"c", new Tracked(deaths));
        l.Delete(1);
        EXPECT_EQ(deaths, 1);
        l.Clear();
        EXPECT_EQ(deaths, 3);
        EXPECT_EQ(l.GetCapacity(), 0);
        l.AddObject(L"d", new Tracked(deaths));
    }
    EXPECT_EQ(deaths, 4);
}

TEST(WideStringList, CapacityGrowsInSteps) {
    TWideStringList l;
    std::vector<int> caps;
    for (int i = 0; i < 100; ++i) {
        l.Add(L"x");
        if (caps.empty() || caps.back() != l.GetCapacity()) caps.push_back(l.GetCapacity());
    }
    EXPECT_EQ(caps, (std::vector<int>{4, 8, 12, 28, 44, 60, 76, 95, 118}));
}

TEST(WideStringList, TextBreaksAtEveryLineEndKind) {
    TWideStringList l;
    l.SetText(L"a\r\nb\rc");
    ASSERT_EQ(l.Count(), 3);
    EXPECT_EQ(l[2], L"c");
    l.SetText(L"a\r\nb\r\n");
    EXPECT_EQ(l.Count(), 2);   // a final CR LF adds no empty line
    l.SetText(std::wstring(L"1\n2\v3\f4") + wchar_t(0x2028) + L"5" + wchar_t(0x2029) + L"6\n\n7");
    EXPECT_EQ(l.Count(), 8);
    EXPECT_EQ(l[6], L"");
    EXPECT_EQ(l.Text(), L"1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n\r\n7\r\n");
    l.SetText(L"");
    EXPECT_EQ(l.Count(), 0);
}

TEST(WideStringList, StreamFormsByByteOrderMark) {
    TWideStringList l;
    TMemoryStream empty;
    l.SaveToStream(empty);
    EXPECT_EQ(Bytes(empty), (std::vector<uint8_t>{0xFF, 0xFE}));

    l.Add(L"Ä");
    l.Add(L"b");
    TMemoryStream s;
    l.SaveToStream(s);
    EXPECT_EQ(Bytes(s), (std::vector<uint8_t>{0xFF, 0xFE, 0xC4, 0, '\r', 0, '\n', 0, 'b', 0, '\r', 0, '\n', 0}));

    TWideStringList back;
    LoadBytes(back, {0xFF, 0xFE, 0xC4, 0, '\r', 0, '\n', 0, 'b', 0});
    EXPECT_EQ(back.Text(), L"Ä\r\nb\r\n");
    LoadBytes(back, {0xFE, 0xFF, 0x00, 0xC4, 0, '\n', 0x26, 0x13});   // big-endian
    ASSERT_EQ(back.Count(), 2);
    EXPECT_EQ(back[0], L"Ä");
    EXPECT_EQ(back[1], std::wstring(1, wchar_t(0x2613)));
    LoadBytes(back, {'a', 'n', 's', 'i', '\r', '\n', 'x'});   // no mark: ANSI
    EXPECT_EQ(back.Text(), L"ansi\r\nx\r\n");
    LoadBytes(back, {'z'});
    EXPECT_EQ(back.Text(), L"z\r\n");
    LoadBytes(back, {});
    EXPECT_EQ(back.Count(), 0);
    LoadBytes(back, {0xFF, 0xFE, 'q', 0, 'r'});   // half a unit at the end is dropped
    EXPECT_EQ(back.Text(), L"q\r\n");
}

TEST(WideStringList, LoadReadsFromThePositionToTheEndOnly) {
    TMemoryStream s;
    s.WriteBuffer("HEAD", 4);
    const uint8_t body[] = {0xFF, 0xFE, 'o', 0, 'k', 0};
    s.WriteBuffer(body, sizeof body);
    s.SetPosition(4);
    TWideStringList l;
    l.LoadFromStream(s);
    EXPECT_EQ(l.Text(), L"ok\r\n");
    EXPECT_EQ(s.Position(), s.Size());
}

TEST(WideStringList, FilesRoundTripAndMissingFilesRaiseQuotedErrors) {
    shelltest::TempFolder tmp(L"wsl");
    std::wstring name = tmp / L"list ✓.txt";
    TWideStringList l;
    l.Add(L"Grüße");
    l.Add(L"✓ done");
    l.SaveToFile(name);
    EXPECT_EQ(shelltest::ReadFileBytes(name).substr(0, 2), "\xFF\xFE");
    TWideStringList back;
    back.LoadFromFile(name);
    EXPECT_EQ(back.Text(), l.Text());

    std::wstring missing = tmp / L"none.txt";
    EXPECT_EQ(ErrorText([&] { back.LoadFromFile(missing); }), "Cannot open file " + WideToAnsi(missing));
    EXPECT_THROW(back.LoadFromFile(missing), EFOpenError);
    std::wstring bad = tmp / L"no folder\\x.txt";
    EXPECT_EQ(ErrorText([&] { l.SaveToFile(bad); }), "Cannot create file " + WideToAnsi(bad));
    EXPECT_THROW(l.SaveToFile(bad), EFCreateError);
}

TEST(WideStringList, AssignBetweenWideAndAnsiLists) {
    TObject o;
    TStringList ansi;
    ansi.AddObject("first", &o);
    ansi.Add("second");
    TWideStringList w;
    w.Add(L"old");
    w.Assign(ansi);
    ASSERT_EQ(w.Count(), 2);
    EXPECT_EQ(w[0], L"first");
    EXPECT_EQ(w.GetObject(0), &o);
    TWideStringList copy;
    w.AssignTo(copy);
    EXPECT_EQ(copy.Text(), w.Text());
    TStringList out;
    w.Add(L"third");
    w.AssignTo(out);
    EXPECT_EQ(out.Count(), 3);
    EXPECT_EQ(out[2], "third");
    EXPECT_EQ(out.Objects(0), &o);
}

TEST(WideFileStream, ModesPickAccessAndSharing) {
    shelltest::TempFolder tmp(L"wfs");
    std::wstring name = tmp / L"data ✓.bin";
    {
        TWideFileStream create(name, fmCreate);
        create.WriteBuffer("12345", 5);
        EXPECT_EQ(create.Size(), 5);
    }
    {
        TWideFileStream readOnly(name, fmOpenRead | fmShareDenyNone);
        char buf[5];
        readOnly.ReadBuffer(buf, 5);
        EXPECT_EQ(std::string(buf, 5), "12345");
        EXPECT_EQ(readOnly.Write("x", 1), 0u);   // opened for reading only
        TWideFileStream second(name, fmOpenRead | fmShareDenyNone);   // sharing allowed
        EXPECT_EQ(second.Size(), 5);
    }
    {
        TWideFileStream exclusive(name, fmOpenReadWrite | fmShareExclusive);
        EXPECT_THROW(TWideFileStream(name, fmOpenRead | fmShareDenyNone), EFOpenError);
    }
    EXPECT_THROW(TWideFileStream(name, 3), ERangeError);
    EXPECT_THROW(TWideFileStream(name, 0x50), ERangeError);
}

TEST(WideStringList, ArbitraryBytesLoadWithoutCrashOrHang) {
    std::mt19937 rng(77);
    for (int round = 0; round < 500; ++round) {
        std::vector<uint8_t> bytes(rng() % 64);
        for (auto& b : bytes) b = static_cast<uint8_t>(rng() % 4 == 0 ? "\r\n\xFF\xFE"[rng() % 4] : rng());
        if (round % 3 == 0 && bytes.size() >= 2) { bytes[0] = 0xFF; bytes[1] = 0xFE; }
        if (round % 3 == 1 && bytes.size() >= 2) { bytes[0] = 0xFE; bytes[1] = 0xFF; }
        TWideStringList l;
        LoadBytes(l, bytes);
        EXPECT_LE(l.Count(), static_cast<int>(bytes.size()));
        // What was read is written back in the list's own form and reads the same.
        TMemoryStream again;
        l.SaveToStream(again);
        again.SetPosition(0);
        TWideStringList back;
        back.LoadFromStream(again);
        EXPECT_EQ(back.Text(), l.Text());
    }
}
