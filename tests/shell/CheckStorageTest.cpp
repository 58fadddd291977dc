#include "CountingFolder.h"
#include "common/ExactNames.h"
#include "ShellTestUtil.h"
#include "shell/explorer/LazyCheckStorage.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/WideStrUtils.h"
#include "framework/SysUtils.h"
#include <gtest/gtest.h>
#include <functional>
#include <map>
#include <random>
#include <set>

using namespace krv;
using shelltest::MakeDir;
using shelltest::TempFolder;

namespace {
// A list's bytes as a map key.
std::string Bytes(LPCITEMIDLIST pidl) {
    auto b = shelltest::PIDLBytes(pidl);
    return std::string(b.begin(), b.end());
}

PIDLPtr Parse(const std::wstring& path) {
    PIDLPtr pidl(PathToPIDL(path));
    if (!pidl) ADD_FAILURE() << "cannot parse " << WideToAnsi(path);
    return pidl;
}

TNodeStorage* Check(TRootNodeStorage& root, const std::wstring& path, TCheckState state = csCheckedNormal) {
    PIDLPtr pidl = Parse(path);
    TNodeStorage* record = root.Store(pidl.get(), skCheck);
    record->Storage.Check = {state, ctTriStateCheckBox};
    return record;
}

// Every record: one identifier below its parent, in its folder's order
// without equals, pointing back at its parent.
void ExpectSound(TNodeStorage& record) {
    for (int i = 0; i < record.ChildCount(); ++i) {
        TNodeStorage* child = record.ChildNodeList->Items(i);
        ASSERT_EQ(child->ParentNode, &record);
        ASSERT_EQ(TPIDLManager::IDCount(child->AbsolutePIDL), TPIDLManager::IDCount(record.AbsolutePIDL) + 1);
        ASSERT_EQ(child->RelativePIDL, TPIDLManager::GetPointerToLastID(child->AbsolutePIDL));
        if (i > 0) {
            ASSERT_LT(CompareStorageIDs(record.ShellFolder(), record.ChildNodeList->Items(i - 1)->RelativePIDL,
                                        child->RelativePIDL),
                      0);
        }
        ExpectSound(*child);
    }
}

// Records stored as checked, as the bytes of their lists.
void CollectChecked(TNodeStorage& record, std::set<std::string>& out) {
    if ((record.Storage.Types & skCheck) && record.Storage.Check.CheckState == csCheckedNormal)
        out.insert(Bytes(record.AbsolutePIDL));
    for (int i = 0; i < record.ChildCount(); ++i) CollectChecked(*record.ChildNodeList->Items(i), out);
}

std::vector<uint8_t> Saved(TNodeStorage& record, int version, bool withVersion) {
    TMemoryStream s;
    record.SaveToStream(s, version, withVersion);
    return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size());
}

class TNote : public TNodeUserData {
public:
    std::string Text;
    std::string ClassName() const override { return "TNote"; }
    std::unique_ptr<TNodeUserData> Clone() const override {
        auto copy = std::make_unique<TNote>();
        copy->Text = Text;
        return copy;
    }
    void LoadFromStream(TStream& s, int version, bool readVerFromStream) override {
        TNodeUserData::LoadFromStream(s, version, readVerFromStream);
        uint8_t n = s.ReadValue<uint8_t>();
        Text.assign(n, '\0');
        if (n) s.ReadBuffer(Text.data(), n);
    }
    void SaveToStream(TStream& s, int version, bool writeVerToStream) override {
        TNodeUserData::SaveToStream(s, version, writeVerToStream);
        s.WriteValue(static_cast<uint8_t>(Text.size()));
        s.WriteBuffer(Text.data(), Text.size());
    }
};

// A folder whose comparison answers a fixed result.
class TFixedCompareFolder : public IShellFolder {
public:
    explicit TFixedCompareFolder(HRESULT answer) : answer_(answer) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override { *out = nullptr; return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE ParseDisplayName(HWND, LPBC, LPOLESTR, ULONG*, PIDLIST_RELATIVE*, ULONG*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE EnumObjects(HWND, SHCONTF, IEnumIDList**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BindToObject(PCUIDLIST_RELATIVE, LPBC, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BindToStorage(PCUIDLIST_RELATIVE, LPBC, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CompareIDs(LPARAM, PCUIDLIST_RELATIVE, PCUIDLIST_RELATIVE) override { return answer_; }
    HRESULT STDMETHODCALLTYPE CreateViewObject(HWND, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAttributesOf(UINT, PCUITEMID_CHILD_ARRAY, SFGAOF*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetUIObjectOf(HWND, UINT, PCUITEMID_CHILD_ARRAY, REFIID, UINT*, void**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDisplayNameOf(PCUITEMID_CHILD, SHGDNF, STRRET*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetNameOf(HWND, PCUITEMID_CHILD, LPCOLESTR, SHGDNF, PITEMID_CHILD*) override {
        return E_NOTIMPL;
    }
private:
    HRESULT answer_;
};

class CheckStorage : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartShellUtilities(); }
    static void TearDownTestSuite() { StopShellUtilities(); }
};
} // namespace

TEST_F(CheckStorage, ShellAnswersAreSigned16BitCodesAndFailuresNeverMatch) {
    PIDLPtr a(shelltest::MakePIDL({"alpha"})), b(shelltest::MakePIDL({"beta"}));
    struct Case {
        HRESULT answer;
        int expected;
    } cases[] = {
        {0x00000000, 0},     {0x00000001, 1},      {0x0000FFFF, -1},   // -1 as a 16-bit code
        {0x00000100, 1},     {0x00008000, -1},     {0x00007FFF, 1},    // low byte 0 is not "equal"
        {0x0001FFFF, -1},    // facility bits do not count
    };
    for (const Case& c : cases) {
        TFixedCompareFolder folder(c.answer);
        EXPECT_EQ(CompareStorageIDs(&folder, a.get(), b.get()), c.expected) << std::hex << c.answer;
    }
    // Failed calls, even ones whose code is 0, fall back to the identifiers'
    // bytes: different items stay different, the same bytes are one item.
    for (HRESULT failure : {E_FAIL, E_INVALIDARG, static_cast<HRESULT>(0x80000000)}) {
        TFixedCompareFolder folder(failure);
        int ab = CompareStorageIDs(&folder, a.get(), b.get());
        EXPECT_NE(ab, 0);
        EXPECT_EQ(CompareStorageIDs(&folder, b.get(), a.get()), -ab);
        EXPECT_EQ(CompareStorageIDs(&folder, a.get(), a.get()), 0);
    }
    EXPECT_NE(CompareStorageIDs(nullptr, a.get(), b.get()), 0);
    // Names that differ only in Unicode normalisation or in letter case are
    // two folders, though the shell may call them equal.
    TempFolder tmp(L"chk-nfd");
    auto equal = std::make_shared<shelltest::TFolderOptions>();
    equal->ScriptedCompare = true;   // S_OK: "the same item"
    for (auto [one, two] : {std::pair{L"Caf\x00E9", L"Cafe\x0301"}, std::pair{L"Data", L"data"}}) {
        ASSERT_TRUE(krv::test::MakeExactDir(tmp.Path(), one) && krv::test::MakeExactDir(tmp.Path(), two));
        shelltest::TSeamFolder a(tmp / one, equal), b(tmp / two, equal);
        const int order = CompareStorageIDs(a.ParentShellFolder(), a.RelativePIDL(), b.RelativePIDL());
        EXPECT_NE(order, 0) << WideToAnsi(two);
        EXPECT_EQ(CompareStorageIDs(a.ParentShellFolder(), b.RelativePIDL(), a.RelativePIDL()), -order);
    }
}

TEST_F(CheckStorage, CheckedPathsComeBackInShellOrderWithoutBadDeletedOrMixedOnes) {
    TempFolder tmp(L"chk-paths");
    for (auto name : {L"b", L"a", L"a\\x", L"a\\x\\deep", L"c", L"m"}) MakeDir(tmp / name);
    shelltest::WriteFileBytes(tmp / L"f.txt", "data");
    const std::string root = WideToAnsi(tmp.Path());

    TRootNodeStorage storage;
    TStringList paths;
    for (const std::string& p : {root + "\\b", std::string("C:\\no such folder\\zz"), root + "\\a\\x",
                                 std::string(), root + "\\c", std::string("C:\\"), root + "\\a",
                                 std::string("::{bad class}"), root + "\\a\\x\\deep"})
        paths.Add(p);
    storage.SetCheckedPaths(paths);
    ASSERT_TRUE(::RemoveDirectoryW((tmp / L"c").c_str()));
    // A mixed record and one whose check kind was taken away are not checked folders.
    Check(storage, tmp / L"m", csMixedNormal);
    TNodeStorage* deep = storage.Find(Parse(tmp / L"a\\x\\deep").get(), false);
    ASSERT_NE(deep, nullptr);
    deep->Storage.Types = skColumns;

    const TStringList& got = storage.GetCheckedPaths();
    std::vector<std::string> expected{"C:\\", root + "\\a", root + "\\a\\x", root + "\\b"};
    ASSERT_EQ(got.Count(), static_cast<int>(expected.size())) << got.Text();
    for (int i = 0; i < got.Count(); ++i) EXPECT_TRUE(SameText(got[i], expected[i])) << got[i];
    EXPECT_TRUE(storage.UnheldCheckedPaths().empty());
    // Each listed path comes with the list the storage holds for it.
    ASSERT_EQ(storage.CheckedPIDLs().size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(krv::ILIsEqual(storage.CheckedPIDLs()[i].get(), Parse(AnsiToWide(expected[i])).get())) << i;

    // A file stored checked is listed too.
    Check(storage, tmp / L"f.txt");
    EXPECT_EQ(&storage.GetCheckedPaths(), &got);   // the same list, refilled
    EXPECT_EQ(got.Count(), 5);

    // Each path is the folder of exactly its name: "data" beside "Data" and
    // "DATA", "dir." beside "dir", and "sp ".
    for (auto name : {L"Data", L"data", L"DATA", L"dir", L"dir.", L"sp "}) ASSERT_TRUE(krv::test::MakeExactDir(tmp.Path(), name));
    TStringList exact;
    for (auto name : {"\\data", "\\dir.", "\\sp "}) exact.Add(root + name);
    storage.SetCheckedPaths(exact);
    EXPECT_EQ(storage.GetCheckedPaths().ToVector(), (std::vector<std::string>{root + "\\data", root + "\\dir.", root + "\\sp "}));

    storage.SetCheckedPaths(TStringList());
    EXPECT_EQ(storage.ChildCount(), 0);
    EXPECT_EQ(storage.GetCheckedPaths().Count(), 0);
}

TEST_F(CheckStorage, NamesOutsideTheCodePageAreListedInAFormTheProgramCanOpen) {
    TempFolder tmp(L"chk-names");
    const std::wstring cyrillic = tmp / L"\x0416\x0443\x0440\x043D\x0430\x043B", cjk = tmp / L"\x6587\x66F8";
    MakeDir(cyrillic);
    MakeDir(cjk);
    TRootNodeStorage storage;
    Check(storage, cyrillic);
    Check(storage, cjk);
    const TStringList& got = storage.GetCheckedPaths();
    // None is dropped without a word: each is listed or named as unheld.
    EXPECT_EQ(got.Count() + static_cast<int>(storage.UnheldCheckedPaths().size()), 2);
    for (int i = 0; i < got.Count(); ++i) {
        std::wstring back = AnsiToWide(got[i]);
        EXPECT_EQ(back.find(L'?'), std::wstring::npos) << got[i];
        wchar_t longName[MAX_PATH] = {};
        ASSERT_NE(::GetLongPathNameW(back.c_str(), longName, MAX_PATH), 0u) << got[i];
        EXPECT_TRUE(StrICompW(longName, cyrillic.c_str()) == 0 || StrICompW(longName, cjk.c_str()) == 0) << got[i];
    }
    std::string text;
    EXPECT_TRUE(WidePathToProgramText(L"C:\\plain", text));
    EXPECT_EQ(text, "C:\\plain");
}

TEST_F(CheckStorage, LookupsTheDesktopAndKinds) {
    TempFolder tmp(L"chk-find");
    MakeDir(tmp / L"one");
    MakeDir(tmp / L"one\\two");
    TRootNodeStorage storage;
    PIDLPtr desktop(SpecialFolderPIDL(CSIDL_DESKTOP));
    EXPECT_EQ(storage.Find(desktop.get(), false), &storage);

    PIDLPtr two = Parse(tmp / L"one\\two");
    EXPECT_EQ(storage.Find(two.get(), false), nullptr);
    TNodeStorage* record = storage.Store(two.get(), skColumns);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(Bytes(record->AbsolutePIDL), Bytes(two.get()));
    EXPECT_EQ(storage.Find(two.get(), false), record);
    EXPECT_EQ(storage.FindWithKinds(two.get(), skCheck), nullptr);
    TNodeStorage* out = &storage;
    EXPECT_FALSE(storage.FindWithKinds(two.get(), skCheck, out));
    EXPECT_EQ(out, nullptr);
    EXPECT_TRUE(storage.FindWithKinds(two.get(), skColumns | skCheck, out));
    EXPECT_EQ(out, record);
    // Intermediate records carry no state, unless the lookup starts on a tri-state record.
    TNodeStorage* one = storage.Find(Parse(tmp / L"one").get(), false);
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(one->Storage.Types, 0);

    storage.Storage.Check = {csCheckedNormal, ctTriStateCheckBox};
    storage.Clear(false);
    PIDLPtr deep = Parse(tmp / L"one\\two");
    storage.Store(deep.get(), skCheck);
    one = storage.Find(Parse(tmp / L"one").get(), false);
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(one->Storage.Types, skCheck);
    EXPECT_EQ(one->Storage.Check.CheckState, csMixedNormal);

    // Removing on the desktop's list only unchecks the root.
    storage.Remove(desktop.get(), skCheck, true, false);
    EXPECT_EQ(storage.Storage.Check.CheckState, csUncheckedNormal);
    EXPECT_NE(storage.Find(deep.get(), false), nullptr);
    ExpectSound(storage);
}

TEST_F(CheckStorage, TheLookupShortcutNeverOutlivesItsRecord) {
    TempFolder tmp(L"chk-cache");
    for (auto name : {L"p", L"p\\q", L"p\\q\\r", L"p\\q\\s"}) MakeDir(tmp / name);
    TRootNodeStorage storage;
    auto refill = [&] {
        TNodeStorage* q = Check(storage, tmp / L"p\\q\\r")->ParentNode;
        EXPECT_EQ(storage.CacheNode(), q);
        return q;
    };

    // Removing through a record below the root frees the cached record's subtree.
    TNodeStorage* q = refill();
    TNodeStorage* p = q->ParentNode;
    p->Remove(q->RelativePIDL, skCheck, true, false);
    EXPECT_EQ(storage.CacheNode(), nullptr);
    EXPECT_EQ(storage.Find(Parse(tmp / L"p\\q\\r").get(), false), nullptr);
    Check(storage, tmp / L"p\\q\\s");
    EXPECT_EQ(storage.Find(Parse(tmp / L"p\\q\\r").get(), false), nullptr);

    refill();
    storage.Clear(false);
    EXPECT_EQ(storage.CacheNode(), nullptr);
    EXPECT_EQ(storage.Find(Parse(tmp / L"p\\q\\s").get(), false), nullptr);

    refill();
    TRootNodeStorage other;
    storage.Assign(other);
    EXPECT_EQ(storage.CacheNode(), nullptr);
    EXPECT_EQ(storage.Find(Parse(tmp / L"p\\q\\r").get(), false), nullptr);

    refill();
    TMemoryStream s;
    other.SaveToStream(s, 2, true);
    s.SetPosition(0);
    storage.LoadFromStream(s, 0, true);
    EXPECT_EQ(storage.CacheNode(), nullptr);
    EXPECT_EQ(storage.Find(Parse(tmp / L"p\\q\\r").get(), false), nullptr);
}

// Random checks and unchecks (an unchecked ancestor takes its subtree's
// states with it), compared after every step with a plain set.
TEST_F(CheckStorage, RandomStoresAndRemovesMatchAPlainModel) {
    TempFolder tmp(L"chk-stress");
    std::vector<std::wstring> folders;
    std::vector<int> parentOf;
    // Three levels of four: 4 + 16 + 64 folders.
    std::function<void(const std::wstring&, int, int)> make = [&](const std::wstring& base, int parent, int depth) {
        if (depth == 3) return;
        for (int i = 0; i < 4; ++i) {
            std::wstring path = base + L"\\" + std::wstring(1, static_cast<wchar_t>(L'k' - i)) + std::to_wstring(i);
            MakeDir(path);
            folders.push_back(path);
            parentOf.push_back(parent);
            make(path, static_cast<int>(folders.size()) - 1, depth + 1);
        }
    };
    make(tmp.Path(), -1, 0);
    std::vector<PIDLPtr> pidls;
    // Records are matched by path: a record made on the way to a deeper one
    // keeps the bytes of that deeper list's prefix, whose folder times may
    // differ from those of the folder's own list.
    std::map<std::wstring, int> indexOf;
    for (size_t i = 0; i < folders.size(); ++i) {
        pidls.push_back(Parse(folders[i]));
        indexOf[folders[i]] = static_cast<int>(i);
    }
    std::map<std::string, int> indexOfBytes;
    auto index = [&](const std::string& bytes) {
        auto it = indexOfBytes.find(bytes);
        if (it == indexOfBytes.end())
            it = indexOfBytes.emplace(bytes, indexOf.at(PIDLToPath(reinterpret_cast<LPCITEMIDLIST>(bytes.data())))).first;
        return it->second;
    };
    auto isInside = [&](int i, int ancestor) {
        for (; i >= 0; i = parentOf[static_cast<size_t>(i)])
            if (i == ancestor) return true;
        return false;
    };

    TRootNodeStorage storage;
    std::set<int> model;
    std::mt19937 rng(20261207);
    for (int step = 0; step < 10000; ++step) {
        int pick = static_cast<int>(rng() % folders.size());
        if (rng() % 2) {
            TNodeStorage* r = storage.Store(pidls[static_cast<size_t>(pick)].get(), skCheck);
            r->Storage.Check = {csCheckedNormal, ctTriStateCheckBox};
            model.insert(pick);
        } else {
            // Upper levels more often, so that whole stored subtrees go.
            while (parentOf[static_cast<size_t>(pick)] >= 0 && rng() % 2) pick = parentOf[static_cast<size_t>(pick)];
            storage.Remove(pidls[static_cast<size_t>(pick)].get(), skCheck, false, false);
            for (auto it = model.begin(); it != model.end();) it = isInside(*it, pick) ? model.erase(it) : ++it;
        }
        std::set<std::string> stored;
        CollectChecked(storage, stored);
        std::set<int> got;
        for (const auto& bytes : stored) got.insert(index(bytes));
        ASSERT_EQ(got, model) << "step " << step;
        if (TNodeStorage* cache = storage.CacheNode()) {
            // The shortcut is a record still in the tree.
            TNodeStorage* r = cache;
            while (r->ParentNode) r = r->ParentNode;
            ASSERT_EQ(r, &storage) << "step " << step;
        }
        if (step % 1000 == 999) {
            ExpectSound(storage);
            EXPECT_EQ(storage.GetCheckedPaths().Count(), static_cast<int>(model.size()));
        }
    }
}

TEST_F(CheckStorage, TheStreamFormLoadsWhatItSaved) {
    RegisterNodeUserDataClass("TNote", [] { return std::unique_ptr<TNodeUserData>(new TNote); });
    TempFolder tmp(L"chk-stream");
    for (auto name : {L"s", L"s\\t", L"u"}) MakeDir(tmp / name);
    TRootNodeStorage storage;
    Check(storage, tmp / L"s\\t");
    TNodeStorage* u = Check(storage, tmp / L"u", csMixedPressed);
    u->Storage.Types |= skColumns | skUserData;
    u->Storage.Column = {{100, 20, 65535}, {2, 0, 1}, {1, 0, 1}};
    auto note = std::make_unique<TNote>();
    note->Text = "kept";
    u->Storage.UserData = std::move(note);

    for (int version : {0, 1, 2}) {
        for (bool withVersion : {false, true}) {
            auto bytes = Saved(storage, version, withVersion);
            TRootNodeStorage loaded;
            TMemoryStream s;
            s.WriteBuffer(bytes.data(), bytes.size());
            s.SetPosition(0);
            loaded.LoadFromStream(s, version, withVersion);
            EXPECT_EQ(s.Remaining(), 0);
            EXPECT_EQ(Saved(loaded, version, withVersion), bytes) << version << withVersion;
            ExpectSound(loaded);
            TNodeStorage* lu = loaded.Find(Parse(tmp / L"u").get(), false);
            ASSERT_NE(lu, nullptr);
            EXPECT_EQ(lu->Storage.Check.CheckState, csMixedPressed);
            EXPECT_EQ(lu->Storage.Check.CheckType, version >= 2 ? ctTriStateCheckBox : ctNone);
            EXPECT_EQ(lu->Storage.Column.Width, (std::vector<uint16_t>{100, 20, 65535}));
            auto* ln = dynamic_cast<TNote*>(lu->Storage.UserData.get());
            if (version >= 1) {
                ASSERT_NE(ln, nullptr);
                EXPECT_EQ(ln->Text, "kept");
            } else {
                EXPECT_EQ(ln, nullptr);
            }
            EXPECT_NE(loaded.FindWithKinds(Parse(tmp / L"s\\t").get(), skCheck), nullptr);
        }
    }
    // A deep copy keeps everything and shares nothing.
    TRootNodeStorage copy;
    copy.Assign(storage);
    EXPECT_EQ(Saved(copy, 2, true), Saved(storage, 2, true));
    EXPECT_NE(copy.Find(Parse(tmp / L"u").get(), false)->Storage.UserData.get(), u->Storage.UserData.get());
    ExpectSound(copy);
}

TEST_F(CheckStorage, DamagedStreamsFailCleanlyOrLoadSoundly) {
    RegisterNodeUserDataClass("TNote", [] { return std::unique_ptr<TNodeUserData>(new TNote); });
    TempFolder tmp(L"chk-fuzz");
    for (auto name : {L"a", L"a\\b", L"c", L"d"}) MakeDir(tmp / name);
    TRootNodeStorage storage;
    Check(storage, tmp / L"a\\b");
    Check(storage, tmp / L"c");
    TNodeStorage* d = Check(storage, tmp / L"d");
    d->Storage.Types |= skColumns | skUserData;
    d->Storage.Column = {{10, 20}, {1, 0}, {1, 1}};
    d->Storage.UserData = std::make_unique<TNote>();
    const auto good = Saved(storage, 2, true);

    std::mt19937 rng(7);
    int loadedCount = 0, refused = 0;
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint8_t> bytes = good;
        shelltest::MutateBytes(bytes, rng, 3);
        TRootNodeStorage target;
        Check(target, tmp / L"c");
        const auto before = Saved(target, 2, true);
        TMemoryStream s;
        s.WriteBuffer(bytes.data(), bytes.size());
        s.SetPosition(0);
        try {
            target.LoadFromStream(s, 2, true);
        } catch (const EReadError&) {
            ++refused;
            ASSERT_EQ(Saved(target, 2, true), before) << "round " << round;   // left as it was
            continue;
        }
        ++loadedCount;
        ExpectSound(target);
        // What loaded saves and loads again to the same bytes.
        auto again = Saved(target, target.StreamVersion, true);
        TRootNodeStorage second;
        TMemoryStream s2;
        s2.WriteBuffer(again.data(), again.size());
        s2.SetPosition(0);
        second.LoadFromStream(s2, 0, true);
        ASSERT_EQ(Saved(second, second.StreamVersion, true), again) << "round " << round;
    }
    EXPECT_GT(refused, 0);
    EXPECT_GT(loadedCount, 0);
}
