#include "ShellTestUtil.h"
#include "shell/base/ShellEntryPoints.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/WideFileUtils.h"
#include "shell/base/WideStrUtils.h"
#include "framework/Forms.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <cstdlib>

using namespace krv;

namespace {
FARPROC NothingFound(const char*, LPCSTR) { return nullptr; }
FARPROC NoILIsParent(const char* module, LPCSTR name) {
    if (IS_INTRESOURCE(name) && reinterpret_cast<UINT_PTR>(name) == 23) return nullptr;
    return ::GetProcAddress(::GetModuleHandleA(module), name);
}

// Restores the real entry-point lookup when a test ends.
class ResolverScope {
public:
    explicit ResolverScope(TProcResolver r) : old_(SetProcResolver(r)) {}
    ~ResolverScope() { SetProcResolver(old_); }
private:
    TProcResolver old_;
};

void ReportToFile(const std::string& text) {
    const char* path = std::getenv("KRV_HALT_REPORT");
    if (FILE* f = path ? std::fopen(path, "wb") : nullptr) {
        std::fputs(text.c_str(), f);
        std::fclose(f);
    }
}

std::wstring ThisExe() {
    wchar_t path[MAX_PATH];
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

struct FakeItem {
    LPITEMIDLIST rel, abs;
    bool deletable, sheet;
    LPITEMIDLIST RelativePIDL() const { return rel; }
    LPITEMIDLIST AbsolutePIDL() const { return abs; }
    bool CanDelete() const { return deletable; }
    bool HasPropSheet() const { return sheet; }
};
} // namespace

TEST(PathToPIDL, DriveRootIsTwoIdentifiersAndComesBack) {
    PIDLPtr root(PathToPIDL(L"C:\\"));
    ASSERT_TRUE(root);
    EXPECT_EQ(TPIDLManager::IDCount(root.get()), 2);   // My Computer, then the drive
    EXPECT_EQ(PIDLToPath(root.get()), L"C:\\");
    // The first identifier alone is My Computer.
    PIDLPtr drives(SpecialFolderPIDL(CSIDL_DRIVES));
    PIDLPtr parent(PIDLManager()->CopyPIDL(root.get()));
    TPIDLManager::StripLastID(parent.get());
    EXPECT_TRUE(krv::ILIsEqual(parent.get(), drives.get()));
}

TEST(PathToPIDL, FolderPathsRoundTrip) {
    shelltest::TempFolder tmp(L"round");
    std::wstring deep = tmp / L"Ünïcode ✓ folder";
    shelltest::MakeDir(deep);
    PIDLPtr pidl(PathToPIDL(deep));
    ASSERT_TRUE(pidl);
    EXPECT_EQ(StrICompW(PIDLToPath(pidl.get()).c_str(), deep.c_str()), 0);
}

TEST(PathToPIDL, EmptyAndUnknownPathsGiveNothing) {
    // The shell itself answers My Computer for an empty name: we must not.
    EXPECT_EQ(PathToPIDL(L""), nullptr);
    EXPECT_EQ(PathToPIDL(L"C:\\no such folder here\\at all"), nullptr);
    EXPECT_EQ(PathToPIDL(L"C:\\missing\\..\\also missing\\x.txt"), nullptr);
}

namespace {
std::string Bytes(LPCITEMIDLIST pidl) {
    return pidl ? std::string(reinterpret_cast<const char*>(pidl), TPIDLManager::PIDLSize(pidl)) : std::string();
}
} // namespace

// The parser of many paths keeps the last parent's folder and lists it:
// whatever order the paths come in, each list must name the item a parse
// from the desktop names, its own identifier byte for byte. (The levels
// above may carry older folder times: listing a folder reads it, which can
// move its access time in a later parse.)
TEST(PathParser, GivesTheListsOfAWholeParseInAnyOrder) {
    ASSERT_TRUE(LoadShellEntryPoints());
    shelltest::TempFolder tmp(L"parser");
    for (auto name : {L"a", L"a\\x", L"a\\y", L"b", L"Ünï ✓"}) shelltest::MakeDir(tmp / name);
    shelltest::WriteFileBytes(tmp / L"a\\f.txt", "data");
    const std::vector<std::wstring> paths{
        tmp / L"a\\x", tmp / L"a\\y", tmp / L"a\\f.txt", tmp / L"a\\missing", tmp / L"A\\X",   // one parent, case aside
        tmp / L"b", tmp / L"a\\x", tmp / L"Ünï ✓", tmp / L"a\\x\\",                           // parents change back and forth
        tmp / L"a\\..\\b", tmp / L"a\\.", L"C:\\", L"C:\\windows", L"", L"C:", L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}",
        tmp / L"gone\\x", tmp / L"a/x"};
    TPathParser parser;
    for (int round = 0; round < 2; ++round) {
        for (const std::wstring& path : paths) {
            PIDLPtr whole(PathToPIDL(path)), parsed(parser.Parse(path));
            ASSERT_EQ(!parsed, !whole) << WideToAnsi(path);
            if (!whole) continue;
            EXPECT_EQ(Bytes(TPIDLManager::GetPointerToLastID(parsed.get())),
                      Bytes(TPIDLManager::GetPointerToLastID(whole.get()))) << WideToAnsi(path);
            EXPECT_EQ(TPIDLManager::IDCount(parsed.get()), TPIDLManager::IDCount(whole.get())) << WideToAnsi(path);
            EXPECT_TRUE(ShellEntryPoints().ILIsEqual(parsed.get(), whole.get())) << WideToAnsi(path);
        }
    }
    // A parent removed while the parser lives: its items are no longer found.
    ASSERT_TRUE(::RemoveDirectoryW((tmp / L"a\\y").c_str()));
    PIDLPtr gone(parser.Parse(tmp / L"a\\y"));
    EXPECT_FALSE(gone);
}

// The byte comparison in front of the shell's own must never give another
// answer than the shell: every ordered pair of a set of lists, both ways of
// asking for a parent.
TEST(ShellEntryPoints, ItemComparisonsAgreeWithTheShellOnEveryPair) {
    ASSERT_TRUE(LoadShellEntryPoints());
    shelltest::TempFolder tmp(L"ilcmp");
    for (auto name : {L"a", L"a\\b", L"a\\b\\c", L"d"}) shelltest::MakeDir(tmp / name);
    std::vector<PIDLPtr> lists;
    lists.emplace_back(SpecialFolderPIDL(CSIDL_DESKTOP));
    lists.emplace_back(SpecialFolderPIDL(CSIDL_DRIVES));
    for (const std::wstring& path : {std::wstring(L"C:\\"), tmp.Path(), tmp / L"a", tmp / L"a\\b", tmp / L"a\\b\\c",
                                     tmp / L"d"})
        lists.emplace_back(PathToPIDL(path));
    // The same item twice, from another parse: equal by name, maybe not by bytes.
    lists.emplace_back(TPathParser().Parse(tmp / L"a\\b"));
    for (const PIDLPtr& l : lists) ASSERT_TRUE(l);
    const auto shellEqual = ShellEntryPoints().ILIsEqual;
    const auto shellParent = ShellEntryPoints().ILIsParent;
    for (size_t i = 0; i < lists.size(); ++i) {
        for (size_t j = 0; j < lists.size(); ++j) {
            LPCITEMIDLIST a = lists[i].get(), b = lists[j].get();
            EXPECT_EQ(krv::ILIsEqual(a, b), shellEqual(a, b) != FALSE) << i << " " << j;
            for (bool immediate : {false, true})
                EXPECT_EQ(krv::ILIsParent(a, b, immediate), shellParent(a, b, immediate) != FALSE)
                    << i << " " << j << " " << immediate;
        }
    }
}

TEST(PIDLToPath, NilIsTheDesktopDirectoryAndDesktopHasAName) {
    wchar_t desktopDir[MAX_PATH];
    ASSERT_HRESULT_SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktopDir));
    EXPECT_EQ(PIDLToPath(nullptr), desktopDir);
    PIDLPtr desktop(SpecialFolderPIDL(CSIDL_DESKTOP));
    ASSERT_TRUE(desktop);
    EXPECT_TRUE(TPIDLManager::IsDesktopFolder(desktop.get()));
    EXPECT_FALSE(PIDLToPath(desktop.get()).empty());
}

TEST(SpecialFolders, TableOrderAndMissingFolders) {
    const int expected[11] = {0x00, 0x0A, 0x10, 0x11, 0x04, 0x22, 0x03, 0x12, 0x15, 0x05, 0x06};
    for (int i = 0; i < 11; ++i) EXPECT_EQ(SpecialFolderSlots[i].CSIDL, expected[i]);
    EXPECT_EQ(SpecialFolderSlots[0].Global, &DesktopFolder);
    EXPECT_EQ(SpecialFolderSlots[10].Global, &FavoritesFolder);
    EXPECT_EQ(SpecialFolderPIDL(0x7F), nullptr);   // no such folder
    PIDLPtr drives(SpecialFolderPIDL(CSIDL_DRIVES));
    EXPECT_EQ(TPIDLManager::IDCount(drives.get()), 1);
}

namespace {
int g_made = 0, g_freed = 0;
TNamespace* MakeFake(int csidl) {
    ++g_made;
    return csidl == CSIDL_HISTORY ? nullptr : reinterpret_cast<TNamespace*>(static_cast<intptr_t>(0x1000 + csidl));
}
void FreeFake(TNamespace*) { ++g_freed; }
} // namespace

TEST(SpecialFolders, StartMakesEachItemOnceAndTheLastStopFreesThem) {
    SetSpecialNamespaceHooks(MakeFake, FreeFake);
    g_made = g_freed = 0;
    {
        TShellUtilitiesScope outer;
        TShellUtilitiesScope inner;   // counted: no second set
        EXPECT_EQ(g_made, 11);
        EXPECT_EQ(DrivesFolder, reinterpret_cast<TNamespace*>(0x1000 + CSIDL_DRIVES));
        EXPECT_EQ(HistoryFolder, nullptr);   // a folder the system lacks stays nil
    }
    EXPECT_EQ(g_freed, 10);
    EXPECT_EQ(DrivesFolder, nullptr);
    SetSpecialNamespaceHooks(nullptr, nullptr);
}

TEST(ShellEntryPoints, FoundOnThisSystemAndMissingOnesAreReported) {
    EXPECT_TRUE(LoadShellEntryPoints());
    EXPECT_NE(ShellEntryPoints().AnimateWindow, nullptr);
    {
        ResolverScope none(NothingFound);
        EXPECT_FALSE(LoadShellEntryPoints());
        PIDLPtr a(PathToPIDL(L"C:\\"));
        EXPECT_FALSE(krv::ILIsEqual(a.get(), a.get()));   // no entry point: no answer, no crash
    }
    {
        ResolverScope half(NoILIsParent);
        EXPECT_FALSE(LoadShellEntryPoints());
    }
    EXPECT_TRUE(LoadShellEntryPoints());
}

// Run only in a child process by the test below: it ends the process.
TEST(ShellStartupChild, DISABLED_HaltsWhenEntryPointsAreMissing) {
    SetFatalReporter(ReportToFile);
    SetProcResolver(NothingFound);
    StartShellUtilities();
    ADD_FAILURE() << "start-up went on without the shell entry points";
}

TEST(ShellStartup, MissingEntryPointsEndTheProgramWithAMessageAndNonZeroCode) {
    shelltest::TempFolder tmp(L"halt");
    std::wstring report = tmp / L"report.txt";
    std::wstring cmd = L"\"" + ThisExe() + L"\" --gtest_also_run_disabled_tests "
                       L"--gtest_filter=ShellStartupChild.DISABLED_HaltsWhenEntryPointsAreMissing";
    ::SetEnvironmentVariableW(L"KRV_HALT_REPORT", report.c_str());
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    ::SetEnvironmentVariableW(L"KRV_HALT_REPORT", nullptr);
    KernelHandle process(pi.hProcess), thread(pi.hThread);
    ASSERT_EQ(::WaitForSingleObject(process.get(), 120000), WAIT_OBJECT_0);
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(code, MissingEntryPointsExitCode);
    EXPECT_NE(code, 0u);
    EXPECT_EQ(shelltest::ReadFileBytes(report), MissingEntryPointsText);
}

TEST(FileTimes, UnsetTimesGiveNoTextAndSetOnesGiveTheLocalDate) {
    FILETIME zero{0, 0};
    EXPECT_FALSE(IsFileTimeSet(zero));
    EXPECT_TRUE(IsFileTimeSet(FILETIME{1, 0}));
    EXPECT_TRUE(IsFileTimeSet(FILETIME{0, 1}));
    EXPECT_EQ(FileTimeToLocalText(zero), L"");

    SYSTEMTIME st{};
    st.wYear = 2004;
    st.wMonth = 7;
    st.wDay = 15;
    st.wHour = 12;
    FILETIME ft;
    ASSERT_TRUE(::SystemTimeToFileTime(&st, &ft));
    std::wstring text = FileTimeToLocalText(ft);
    EXPECT_NE(text.find(L"2004"), std::wstring::npos) << WideToAnsi(text);
    EXPECT_EQ(FileTimeToLocalText(FILETIME{0xFFFFFFFF, 0xFFFFFFFF}), L"");   // beyond any date
}

TEST(SystemIcons, StandardKindsHaveIndexesAndUnknownKindsNone) {
    EXPECT_GE(SystemIconIndex(0), 0);
    EXPECT_GE(SystemIconIndex(1), 0);
    EXPECT_GE(SystemIconIndex(2), 0);
    EXPECT_EQ(SystemIconIndex(3), 29);
    EXPECT_GE(SystemIconIndex(4), 0);
    EXPECT_EQ(SystemIconIndex(5), -1);
    EXPECT_EQ(SystemIconIndex(-1), -1);
}

TEST(DriveGeometry, NoNineXDeviceOnTheNTFamily) {
    DWORD spc = 7, bps = 7, fc = 7, tc = 7;
    bool ok = GetDriveClusterInfo9x(L"C:\\", spc, bps, fc, tc);
    if (ok) {   // a system that answers must answer something sane
        EXPECT_GT(spc, 0u);
        EXPECT_GT(bps, 0u);
        EXPECT_LE(fc, tc);
    } else {
        EXPECT_EQ(spc, 7u);   // nothing written on failure
    }
}

TEST(NamespaceArrays, LentListsAndAllOrNothingTests) {
    PIDLPtr r1(shelltest::MakePIDL({"r1"})), a1(shelltest::MakePIDL({"a", "r1"}));
    PIDLPtr r2(shelltest::MakePIDL({"r2"})), a2(shelltest::MakePIDL({"a", "r2"}));
    FakeItem one{r1.get(), a1.get(), true, true}, two{r2.get(), a2.get(), true, false};
    std::vector<FakeItem*> both{&one, &two}, none;
    EXPECT_EQ(NamespacesToRelativePIDLs(both), (std::vector<LPITEMIDLIST>{r1.get(), r2.get()}));
    EXPECT_EQ(NamespacesToAbsolutePIDLs(both), (std::vector<LPITEMIDLIST>{a1.get(), a2.get()}));
    EXPECT_TRUE(AllCanDelete(both));
    EXPECT_FALSE(AllHavePropSheet(both));
    EXPECT_FALSE(AllCanDelete(none));
    EXPECT_FALSE(AllHavePropSheet(none));
    EXPECT_FALSE(AnyNamespace(none));
    EXPECT_TRUE(AnyNamespace(both));
    two.deletable = false;
    EXPECT_FALSE(AllCanDelete(both));
}

// What the shell shows for the program (an item it opens) is owned by the main window once it has one.
TEST(ApplicationWindow, TheMainFormsWindowOnceItHasOne) {
    TForm* saved = Application().MainForm;
    TForm main;
    Application().MainForm = &main;
    EXPECT_EQ(ApplicationWindow(), nullptr) << "no window is made for it";
    main.HandleNeeded();
    EXPECT_EQ(ApplicationWindow(), main.Handle());
    Application().MainForm = nullptr;
    EXPECT_EQ(ApplicationWindow(), nullptr);
    Application().MainForm = saved;
}
