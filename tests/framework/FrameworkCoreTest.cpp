#include "common/ExactNames.h"
#include "common/TempPath.h"
#include "framework/Classes.h"
#include "framework/Stream.h"
#include "framework/Strings.h"
#include "framework/SysUtils.h"
#include "framework/Thread.h"
#include "framework/Window.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <atomic>
#include <vector>

using namespace krv;
using krv::test::TempPath;
using krv::test::UniqueName;

TEST(StringList, SortedListKeepsOrderAndAppliesDuplicateRule) {
    TStringList l;
    l.SetSorted(true);
    for (const char* s : {"pear", "Apple", "fig", "apple", "banana"}) l.Add(s);
    // Case-insensitive by default: "apple" is a duplicate of "Apple" and ignored.
    ASSERT_EQ(l.Count(), 4);
    EXPECT_EQ(l[0], "Apple");
    EXPECT_EQ(l[3], "pear");
    int idx = -1;
    EXPECT_TRUE(l.Find("FIG", idx));
    EXPECT_EQ(idx, 2);
    EXPECT_FALSE(l.Find("grape", idx));
    EXPECT_EQ(idx, 3);   // where it would go

    l.SetDuplicates(dupAccept);
    l.Add("APPLE");
    EXPECT_EQ(l.Count(), 5);
    l.SetDuplicates(dupError);
    EXPECT_THROW(l.Add("pear"), EStringListError);
    EXPECT_THROW(l.Insert(0, "x"), EStringListError);
    EXPECT_THROW(l.Get(99), EStringListError);
}

TEST(StringList, TextAndCommaTextRoundTrip) {
    TStringList l;
    l.SetText("one\r\ntwo\nthree\rfour");
    ASSERT_EQ(l.Count(), 4);
    EXPECT_EQ(l.Text(), "one\r\ntwo\r\nthree\r\nfour\r\n");
    l.Clear();
    l.Add("plain");
    l.Add("with space");
    l.Add("a,b");
    l.Add("say \"hi\"");
    l.Add("");
    std::string ct = l.CommaText();
    EXPECT_EQ(ct, "plain,\"with space\",\"a,b\",\"say \"\"hi\"\"\",");
    TStringList back;
    back.SetCommaText(ct);
    EXPECT_EQ(back.ToVector(), l.ToVector());
    back.SetValue("Key", "v1");
    EXPECT_EQ(back.Value("key"), "v1");
    back.SetValue("key", "");
    EXPECT_EQ(back.IndexOfName("Key"), -1);
}

TEST(Streams, ShortReadRaisesAndFileModesShare) {
    std::string path = TempPath("krv_stream_test.bin");
    {
        TFileStream f(path, fmCreate);
        f.WriteValue<uint32_t>(0x11223344);
        f.WriteBuffer("abc", 3);
        EXPECT_EQ(f.Size(), 7);
    }
    {
        TFileStream f(path, fmOpenRead | fmShareDenyWrite);
        EXPECT_EQ(f.ReadValue<uint32_t>(), 0x11223344u);
        char buf[8];
        EXPECT_THROW(f.ReadBuffer(buf, 4), EReadError);   // only 3 left
        // A second reader may share, a writer may not.
        EXPECT_NO_THROW(TFileStream(path, fmOpenRead | fmShareDenyNone));
        EXPECT_THROW(TFileStream(path, fmOpenWrite | fmShareDenyNone), EFOpenError);
    }
    EXPECT_THROW(TFileStream(TempPath("no\\such\\dir\\f.bin"), fmOpenRead), EFOpenError);
    ::DeleteFileA(path.c_str());

    TMemoryStream m;
    m.WriteBuffer("hello", 5);
    m.SetPosition(1);
    char two[2];
    m.ReadBuffer(two, 2);
    EXPECT_EQ(std::string(two, 2), "el");
    EXPECT_EQ(m.Remaining(), 2);
}

TEST(Paths, SplitAndJoinLikeTheShellDoes) {
    EXPECT_EQ(ExtractFilePath("C:\\a\\b.txt"), "C:\\a\\");
    EXPECT_EQ(ExtractFileDir("C:\\a\\b.txt"), "C:\\a");
    EXPECT_EQ(ExtractFileDir("C:\\b.txt"), "C:\\");
    EXPECT_EQ(ExtractFileName("C:\\a\\b.txt"), "b.txt");
    EXPECT_EQ(ExtractFileExt("C:\\a.d\\b"), "");
    EXPECT_EQ(ExtractFileExt("b.tar.gz"), ".gz");
    EXPECT_EQ(ChangeFileExt("C:\\x\\arc.zip", ".Z01"), "C:\\x\\arc.Z01");
    EXPECT_EQ(ChangeFileExt("C:\\x.y\\arc", ".zip"), "C:\\x.y\\arc.zip");
    EXPECT_EQ(ExtractFileDrive("\\\\srv\\share\\dir\\f"), "\\\\srv\\share");
    EXPECT_EQ(IncludeTrailingBackslash("C:\\a"), "C:\\a\\");
    EXPECT_EQ(ExcludeTrailingBackslash("C:\\a\\"), "C:\\a");
    EXPECT_EQ(StrToIntDef("$FF", 0), 255);
    EXPECT_EQ(StrToIntDef("12x", -1), -1);
    EXPECT_EQ(Format("%s=%05d", "n", 42), "n=00042");
}

namespace {
class Child : public TComponent {
public:
    Child(TComponent* owner, int* freed) : TComponent(owner), freed_(freed) {}
    ~Child() override { ++*freed_; }
    TComponent* watched = nullptr;
protected:
    void Notification(TComponent* c, TOperation op) override {
        TComponent::Notification(c, op);
        if (op == opRemove && c == watched) watched = nullptr;
    }
private:
    int* freed_;
};
}

TEST(Components, OwnerFreesChildrenAndWatchersAreTold) {
    int freed = 0;
    auto* owner = new TComponent(nullptr);
    auto* a = new Child(owner, &freed);
    a->SetName("ButtonOK");
    auto* b = new Child(owner, &freed);
    EXPECT_EQ(owner->FindComponent("buttonok"), a);
    auto* other = new TComponent(nullptr);
    b->watched = other;
    b->FreeNotification(other);
    delete other;
    EXPECT_EQ(b->watched, nullptr);
    delete a;
    EXPECT_EQ(owner->ComponentCount(), 1);
    delete owner;
    EXPECT_EQ(freed, 2);
}

namespace {
class CountingThread : public TThread {
public:
    CountingThread() = default;
    DWORD syncThread = 0;
    int steps = 0;
protected:
    void Execute() override {
        while (!Terminated() && steps < 5) {
            Synchronize([this] { syncThread = ::GetCurrentThreadId(); ++steps; });
        }
        ReturnValue = 7;
    }
};
class FailingThread : public TThread {
public:
    FailingThread() = default;
protected:
    void Execute() override {
        Synchronize([] { throw Exception("from the user-interface thread"); });
    }
};
}

TEST(Threads, SynchronizeRunsOnTheMainThreadWhileTheWorkerWaits) {
    InitSynchronize();
    CountingThread t;
    bool terminatedOnMain = false;
    t.OnTerminate = [&](TThread*) { terminatedOnMain = IsMainThread(); };
    t.Start();
    EXPECT_EQ(t.WaitFor(), 7);
    EXPECT_EQ(t.steps, 5);
    EXPECT_EQ(t.syncThread, ::GetCurrentThreadId());
    EXPECT_TRUE(terminatedOnMain);

    FailingThread f;
    f.Start();
    f.WaitFor();
    ASSERT_TRUE(f.FatalException);
    EXPECT_THROW(std::rethrow_exception(f.FatalException), Exception);
}

TEST(Windows, MessageWindowDispatchesToItsObject) {
    int seen = 0;
    TMessageWindow w([&](UINT msg, WPARAM wp, LPARAM, LRESULT& r) {
        if (msg != WM_APP + 1) return false;
        seen += static_cast<int>(wp);
        r = 99;
        return true;
    });
    ASSERT_TRUE(w.HandleAllocated());
    EXPECT_EQ(TWindow::FromHandle(w.Handle()), &w);
    EXPECT_EQ(::SendMessageA(w.Handle(), WM_APP + 1, 5, 0), 99);
    ::PostMessageA(w.Handle(), WM_APP + 1, 3, 0);
    EXPECT_TRUE(ProcessMessages());
    EXPECT_EQ(seen, 8);
}

// The ANSI calls refuse paths of MAX_PATH characters and more; backups must
// still find, open and list what lies there.
TEST(LongPaths, FilesPastMaxPathAreCreatedFoundOpenedAndListed) {
    EXPECT_EQ(LongPathW("C:\\a/b"), L"\\\\?\\C:\\a\\b");
    EXPECT_EQ(LongPathW("\\\\server\\share\\x"), L"\\\\?\\UNC\\server\\share\\x");
    EXPECT_EQ(LongPathW("\\\\?\\C:\\x"), L"\\\\?\\C:\\x");
    // A listing's names ending in a dot or a space are reached only in the "\\?\" form; a pattern's dot is its own.
    for (const char* path : {"C:\\a.\\b.txt", "C:\\a\\b ", "\\\\s\\share\\b."}) EXPECT_TRUE(NeedsWidePath(path)) << path;
    for (const char* path : {"C:\\a\\*.", "C:\\a\\..\\b", "b."}) EXPECT_FALSE(NeedsWidePath(path)) << path;
    // A path a person gives means what the system makes of it (its own
    // expansion agrees); a name then left ending in a dot or a space is real.
    struct Given {
        const char* typed;
        const char* system;
        bool wide;
    } given[] = {{"C:\\d\\Backup.", "C:\\d\\Backup", false}, {"C:\\d\\s.txt ", "C:\\d\\s.txt", false},
                 {"C:\\a.\\b. .", "C:\\a\\b", false},       {"C:\\a..\\b", "C:\\a.\\b", true},
                 {"C:\\a \\b", "C:\\a \\b", true},           {"C:\\a\\..\\b\\.\\c.", "C:\\b\\c", false},
                 {"\\\\s\\sh\\b .", "\\\\s\\sh\\b", false},  {"C:\\a.\\", "C:\\a\\", false},
                 {"C:\\a\\*.", "C:\\a\\*.", false},         {"s.txt ", "s.txt", false},
                 {"sub.\\*.doc", "sub\\*.doc", false},       {"..\\x.", "..\\x", false}};
    for (const Given& g : given) {
        const std::string typed = g.typed;
        EXPECT_EQ(SystemPath(typed), g.system) << typed;
        EXPECT_EQ(NeedsWidePath(SystemPath(typed)), g.wide) << typed;
        wchar_t full[MAX_PATH];
        if (typed.find_first_of("*?") == std::string::npos && (typed[1] == ':' || typed[0] == '\\')) {
            EXPECT_EQ(std::wstring(full, ::GetFullPathNameW(AnsiToWide(typed).c_str(), MAX_PATH, full, nullptr)),
                      AnsiToWide(g.system)) << typed;
        }
    }

    // What a path names: the entry of exactly that name first; the system's
    // reading only where no entry has it, then under the real name found.
    const std::wstring lookAlike = AnsiToWide(TempPath(UniqueName("krv_names")));
    ASSERT_TRUE(::CreateDirectoryW(lookAlike.c_str(), nullptr));
    const wchar_t* made[] = {L"Data", L"data", L"dir", L"dir.", L"sp "};
    for (const wchar_t* name : made) ASSERT_TRUE(krv::test::MakeExactDir(lookAlike, name));
    const std::pair<const wchar_t*, const wchar_t*> named[] = {
        {L"\\data", L"\\data"}, {L"\\Data\\", L"\\Data\\"}, {L"\\dir.", L"\\dir."}, {L"\\sp ", L"\\sp "},
        {L"\\DIR", L"\\dir"}, {L"\\dir. .", L"\\dir"}, {L"\\DIR.\\new.", L"\\dir\\new"}, {L"\\Data\\..\\sp", L"\\sp"}};
    // The root as the system compares it: a drive letter typed in lower case
    // names the same entries, spelled alike, as do a server and share.
    std::wstring lower = lookAlike;
    lower[0] = static_cast<wchar_t>(::towlower(lower[0]));
    ASSERT_EQ(EntryPath(lower).substr(0, 2), std::wstring(1, static_cast<wchar_t>(::towupper(lower[0]))) + L":");
    for (auto [given, real] : named)
        for (const std::wstring& at : {lookAlike, lower})
            EXPECT_EQ(EntryPath(at + given), EntryPath(lookAlike) + real) << WideToAnsi(at + given);
    for (auto [path, root] : {std::pair{"c:\\x\\y", "C:\\x\\y"}, {"\\\\srv\\Share\\x", "\\\\SRV\\SHARE\\x"},
                              {"\\\\?\\c:\\x", "\\\\?\\c:\\x"}, {"dir\\c:", "dir\\c:"}})
        EXPECT_EQ(SystemRoot(std::string(path)), root) << path;
    EXPECT_EQ(EntryPath(WideToAnsi(lookAlike) + "\\sp "), WideToAnsi(EntryPath(lookAlike)) + "\\sp ");
    for (const wchar_t* name : made) EXPECT_TRUE(::RemoveDirectoryW(krv::test::ExactNamePath(lookAlike, name).c_str()));
    EXPECT_TRUE(::RemoveDirectoryW(lookAlike.c_str()));

    const std::string base = TempPath(UniqueName("krv_long"));
    std::vector<std::string> folders{base};
    while (folders.back().size() < 320) folders.push_back(folders.back() + "\\" + std::string(50, 'd'));
    for (const std::string& f : folders) ASSERT_TRUE(::CreateDirectoryW(LongPathW(f).c_str(), nullptr)) << f.size();
    const std::string deep = folders.back(), file = deep + "\\f.txt";
    ASSERT_TRUE(IsLongPath(deep));
    ASSERT_FALSE(IsLongPath(base));

    {
        TFileStream out(file, fmCreate);
        out.WriteBuffer("abc", 3);
    }
    EXPECT_TRUE(DirectoryExists(deep));
    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(FileExists(deep));
    EXPECT_EQ(FileSizeOf(file), 3);
    {
        TFileStream in(file, fmOpenRead | fmShareDenyWrite);
        char text[4] = {};
        in.ReadBuffer(text, 3);
        EXPECT_STREQ(text, "abc");
    }
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    bool wide = false;
    FindHandle find(FindFirstFileAny(deep + "\\*.*", fd, wide));
    ASSERT_TRUE(find);
    EXPECT_TRUE(wide);
    do names.push_back(fd.cFileName);
    while (FindNextFileAny(find.get(), fd, wide));
    find.reset();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "f.txt"}));
    find.reset(FindFirstFileAny(base + "\\*.*", fd, wide));
    EXPECT_FALSE(wide);
    find.reset();

    EXPECT_TRUE(::DeleteFileW(LongPathW(file).c_str()));
    for (auto f = folders.rbegin(); f != folders.rend(); ++f) EXPECT_TRUE(::RemoveDirectoryW(LongPathW(*f).c_str()));
}
