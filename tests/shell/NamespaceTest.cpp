// The shell item against independent system calls on fixtures under C:\, and
// through a counting folder of the tests' own for its caches and for the
// interfaces this system's shell lacks.
#include "CountingFolder.h"
#include "ShellTestUtil.h"
#include "shell/item/LazyShellUtilities.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/WideFileUtils.h"
#include "shell/base/WideStrUtils.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <set>

using namespace krv;
using shelltest::TCallCounts;
using shelltest::TFolderOptions;
using shelltest::TSeamFolder;

namespace {

// The shell components' start-up (special folders) for the suites below.
class NamespaceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartShellUtilities(); }
    static void TearDownTestSuite() { StopShellUtilities(); }
};

// Hands every child an enumeration gives to take, which owns it; the count the enumeration answers.
int EachChild(TNamespace& folder, bool folders, bool nonFolders, bool hidden,
              const std::function<void(LPITEMIDLIST child, TNamespace* parent)>& take) {
    return folder.EnumerateFolder(folders, nonFolders, hidden,
                                  [&](LPITEMIDLIST child, TNamespace* parent, void*, bool&) {
                                      take(child, parent);
                                      return true;
                                  },
                                  nullptr);
}

// The children an enumeration hands out, by their exact in-folder parse names.
std::set<std::wstring> ChildNames(TNamespace& folder, bool folders, bool nonFolders, bool hidden,
                                  int* counted = nullptr) {
    std::set<std::wstring> names;
    int n = EachChild(folder, folders, nonFolders, hidden, [&](LPITEMIDLIST child, TNamespace* parent) {
        names.insert(TNamespace(child, parent).NameForParsingInFolder());
    });
    if (counted) *counted = n;
    return names;
}

// The first child list an enumeration hands out (the caller owns it).
LPITEMIDLIST FirstChild(TNamespace& folder) {
    LPITEMIDLIST first = nullptr;
    folder.EnumerateFolder(true, true, true,
                           [&](LPITEMIDLIST child, TNamespace*, void*, bool& stop) {
                               first = child;
                               stop = true;
                               return true;
                           },
                           nullptr);
    return first;
}

void SetAttributes(const std::wstring& path, DWORD attributes) { ASSERT_TRUE(::SetFileAttributesW(path.c_str(), attributes)); }

uint64_t UsedBytes(const std::wstring& root) {
    ULARGE_INTEGER freeToCaller, total;
    ::GetDiskFreeSpaceExW(root.c_str(), &freeToCaller, &total, nullptr);
    return total.QuadPart - freeToCaller.QuadPart;
}
} // namespace

TEST_F(NamespaceTest, FileItemsAgreeWithTheFileSystem) {
    shelltest::TempFolder tmp(L"ns-files");
    const std::wstring names[] = {L"plain.txt", L"Привет мир.txt", L"日本語の名前.dat", L"𠀋 outside the BMP.bin"};
    for (const auto& n : names) shelltest::WriteFileBytes(tmp / n, std::string(1234, 'x'));
    shelltest::MakeDir(tmp / L"sub");
    SetAttributes(tmp / L"plain.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);

    for (const auto& n : names) {
        std::wstring path = tmp / n;
        auto item = TNamespace::CreateFromFileName(path);
        SCOPED_TRACE(WideToAnsi(n));
        WIN32_FIND_DATAW fd;
        FindHandle find(::FindFirstFileW(path.c_str(), &fd));
        ASSERT_TRUE(find);
        EXPECT_TRUE(item->FileSystem());
        EXPECT_FALSE(item->Folder());
        EXPECT_EQ(item->FileName(), n);   // exact UTF-16, surrogate pair included
        EXPECT_EQ(item->NameForParsing(), path);
        EXPECT_EQ(item->NameForParsingInFolder(), n);
        SHFILEINFOW info{};
        ASSERT_TRUE(::SHGetFileInfoW(path.c_str(), 0, &info, sizeof info, SHGFI_DISPLAYNAME));
        EXPECT_EQ(item->NameInFolder(), info.szDisplayName);
        EXPECT_EQ(item->SizeOfFileInt64(), (int64_t(fd.nFileSizeHigh) << 32 | fd.nFileSizeLow));
        EXPECT_EQ(item->SizeOfFile(), AddThousandSeparators(L"1234"));
        EXPECT_EQ(item->SizeOfFileKB(), L"1 KB");
        EXPECT_EQ(item->Hidden(), (fd.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0);
        EXPECT_EQ(item->ReadOnlyFile(), (fd.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0);
        EXPECT_EQ(item->Archive(), (fd.dwFileAttributes & FILE_ATTRIBUTE_ARCHIVE) != 0);
        EXPECT_EQ(item->Directory(), false);
        FILETIME written = item->LastWriteTimeRaw();
        EXPECT_EQ(CompareFileTime(&written, &fd.ftLastWriteTime), 0);   // refreshed, not the list's rounded time
        FILETIME created = item->CreationTimeRaw();
        EXPECT_EQ(CompareFileTime(&created, &fd.ftCreationTime), 0);
        EXPECT_EQ(item->LastWriteTime(), FileTimeToLocalText(fd.ftLastWriteTime));
        EXPECT_EQ(item->Extension(), ExtractFileExtW(n));
        EXPECT_FALSE(item->FileType().empty());
    }
    auto hidden = TNamespace::CreateFromFileName(tmp / L"plain.txt");
    std::wstring letters = hidden->AttributesString();
    EXPECT_NE(letters.find(L"HR"), std::wstring::npos) << WideToAnsi(letters);   // H before R
    EXPECT_EQ(letters.find(L'S'), std::wstring::npos);

    auto sub = TNamespace::CreateFromFileName(tmp / L"sub");
    EXPECT_TRUE(sub->Folder());
    EXPECT_TRUE(sub->Directory());
    EXPECT_EQ(sub->SizeOfFile(), L"");
    EXPECT_EQ(sub->SizeOfFileKB(), L"");
    SetAttributes(tmp / L"plain.txt", FILE_ATTRIBUTE_NORMAL);
}

TEST_F(NamespaceTest, EmptyFileShowsOneKilobyteAndBigOnesShowSeparators) {
    shelltest::TempFolder tmp(L"ns-sizes");
    shelltest::WriteFileBytes(tmp / L"empty", "");
    shelltest::WriteFileBytes(tmp / L"big", std::string(1234567, 'b'));
    auto empty = TNamespace::CreateFromFileName(tmp / L"empty");
    EXPECT_EQ(empty->SizeOfFileKB(), L"1 KB");
    EXPECT_EQ(empty->SizeOfFile(), L"0");
    auto big = TNamespace::CreateFromFileName(tmp / L"big");
    EXPECT_EQ(big->SizeOfFile(), AddThousandSeparators(L"1234567"));
    EXPECT_EQ(big->SizeOfFileKB(), AddThousandSeparators(L"1205") + L" KB");
    DWORD spc, bps, fc, tc;
    ASSERT_TRUE(::GetDiskFreeSpaceW(L"C:\\", &spc, &bps, &fc, &tc));
    int64_t cluster = int64_t(spc) * bps;
    EXPECT_EQ(big->SizeOfFileDiskUsage(), AddThousandSeparators(IntToStrW((1234567 + cluster - 1) / cluster * cluster)));
}

TEST_F(NamespaceTest, CachedAnswersAskTheShellOnceUntilInvalidated) {
    shelltest::TempFolder tmp(L"ns-cache");
    shelltest::WriteFileBytes(tmp / L"a.txt", "abc");
    TSeamFolder item(tmp / L"a.txt");
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(item.FileSystem());
        EXPECT_FALSE(item.Folder());
        EXPECT_EQ(item.NameInFolder(), L"a.txt");
        EXPECT_EQ(item.NameParseAddress(), tmp / L"a.txt");
    }
    EXPECT_EQ(item.Calls("GetAttributesOf"), 2);    // one per cached attribute
    EXPECT_EQ(item.Calls("GetDisplayNameOf"), 2);   // one per cached name
    item.HasSubFolder();
    item.HasSubFolder();   // not cached: asked each time
    EXPECT_EQ(item.Calls("GetAttributesOf"), 4);
    item.NameForEditing();
    EXPECT_EQ(item.Calls("GetDisplayNameOf"), 3);

    item.Invalidate(false);
    EXPECT_TRUE(item.FileSystem());
    EXPECT_EQ(item.NameInFolder(), L"a.txt");
    EXPECT_EQ(item.Calls("GetAttributesOf"), 5);
    EXPECT_EQ(item.Calls("GetDisplayNameOf"), 4);
}

TEST_F(NamespaceTest, FindDataOfVirtualItemsIsEmpty) {
    ASSERT_NE(DrivesFolder, nullptr);
    auto computer = DrivesFolder->Clone();
    EXPECT_EQ(computer->FileName(), L"");
    EXPECT_FALSE(computer->Hidden());
    EXPECT_EQ(computer->SizeOfFileInt64(), 0);
    EXPECT_EQ(computer->CreationTime(), L"");
    EXPECT_EQ(computer->AttributesString(), L"");
    EXPECT_EQ(computer->FolderSize(false, true), 0);
}

TEST_F(NamespaceTest, FolderSizeBothWaysAndCached) {
    shelltest::TempFolder tmp(L"ns-size");
    shelltest::WriteFileBytes(tmp / L"one", std::string(1000, '1'));
    shelltest::WriteFileBytes(tmp / L".hidden", std::string(24, 'h'));
    SetAttributes(tmp / L".hidden", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    shelltest::MakeDir(tmp / L"deep");
    shelltest::WriteFileBytes(tmp / L"deep" + L"\\two", std::string(5000, '2'));
    auto folder = TNamespace::CreateFromFileName(tmp.Path());
    EXPECT_EQ(folder->FolderSize(true, false), 1024);   // hidden and system files count
    EXPECT_EQ(folder->FolderSize(false, true), 1024);   // the cached size, though asked to recurse
    EXPECT_EQ(folder->FolderSize(true, true), 6024);
    shelltest::WriteFileBytes(tmp / L"more", std::string(7, 'm'));
    EXPECT_EQ(folder->FolderSize(false, true), 6024);
    EXPECT_EQ(folder->FolderSize(true, true), 6031);
    auto file = TNamespace::CreateFromFileName(tmp / L"one");
    EXPECT_EQ(file->FolderSize(true, true), 0);   // not a folder
}

TEST_F(NamespaceTest, DriveRootRecursiveSizeIsUsedSpace) {
    auto root = TNamespace::CreateFromFileName(L"C:\\");
    uint64_t before = UsedBytes(L"C:\\");
    int64_t size = root->FolderSize(true, true);
    uint64_t after = UsedBytes(L"C:\\");
    // Other programs write to the disk meanwhile; the files under C:\ alone
    // are far below the used space of the whole volume.
    const int64_t slack = 256 << 20;
    EXPECT_GE(size, int64_t(std::min(before, after)) - slack);
    EXPECT_LE(size, int64_t(std::max(before, after)) + slack);

    uint64_t ownFiles = 0;
    WIN32_FIND_DATAW fd;
    FindHandle find(::FindFirstFileW(L"C:\\*.*", &fd));
    ASSERT_TRUE(find);
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ownFiles += uint64_t(fd.nFileSizeHigh) << 32 | fd.nFileSizeLow;
    } while (::FindNextFileW(find.get(), &fd));
    EXPECT_EQ(uint64_t(root->FolderSize(true, false)), ownFiles);
}

TEST_F(NamespaceTest, EnumerationWithAndWithoutHiddenItems) {
    shelltest::TempFolder tmp(L"ns-enum");
    shelltest::WriteFileBytes(tmp / L"seen.txt", "s");
    shelltest::WriteFileBytes(tmp / L"secret.txt", "h");
    SetAttributes(tmp / L"secret.txt", FILE_ATTRIBUTE_HIDDEN);
    shelltest::MakeDir(tmp / L"Ящик");
    shelltest::MakeDir(tmp / L"隠し");
    SetAttributes(tmp / L"隠し", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY);
    auto folder = TNamespace::CreateFromFileName(tmp.Path());

    using Names = std::set<std::wstring>;
    EXPECT_EQ(ChildNames(*folder, true, true, false), (Names{L"seen.txt", L"Ящик"}));
    EXPECT_EQ(ChildNames(*folder, true, true, true), (Names{L"seen.txt", L"secret.txt", L"Ящик", L"隠し"}));
    EXPECT_EQ(ChildNames(*folder, true, false, true), (Names{L"Ящик", L"隠し"}));
    EXPECT_EQ(ChildNames(*folder, false, true, false), (Names{L"seen.txt"}));
    EXPECT_TRUE(folder->SubItems());
    EXPECT_TRUE(folder->EnumHasItems(SHCONTF_FOLDERS));

    shelltest::TempFolder empty(L"ns-empty");
    auto nothing = TNamespace::CreateFromFileName(empty.Path());
    EXPECT_EQ(ChildNames(*nothing, true, true, true), Names{});
    EXPECT_FALSE(nothing->SubItems());
    EXPECT_EQ(nothing->EnumerateFolder(true, true, true, nullptr, nullptr), 0);   // no callback
}

TEST_F(NamespaceTest, CallbackStopsTheEnumerationAndOwnsTheChild) {
    shelltest::TempFolder tmp(L"ns-stop");
    for (int i = 0; i < 5; ++i) shelltest::WriteFileBytes(tmp / (L"f" + std::to_wstring(i)), "x");
    auto folder = TNamespace::CreateFromFileName(tmp.Path());
    int calls = 0;
    void* seen = nullptr;
    int counted = folder->EnumerateFolder(false, true, true,
                                          [&](LPITEMIDLIST child, TNamespace* parent, void* data, bool& terminate) {
                                              ++calls;
                                              seen = data;
                                              EXPECT_EQ(parent, folder.get());
                                              FreePIDL(child);
                                              terminate = true;
                                              return true;
                                          },
                                          &calls);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(counted, 1);
    EXPECT_EQ(seen, &calls);
    // Only the children the callback accepts are counted.
    int odd = 0;
    counted = folder->EnumerateFolder(false, true, true,
                                      [&](LPITEMIDLIST child, TNamespace*, void*, bool&) {
                                          FreePIDL(child);
                                          return (++odd % 2) == 1;
                                      },
                                      nullptr);
    EXPECT_EQ(odd, 5);
    EXPECT_EQ(counted, 3);
}

TEST_F(NamespaceTest, DamagedListsAreRefusedAndNeverHandedOn) {
    // A count that runs past the block, and a block with no terminator.
    auto* pastEnd = static_cast<uint8_t*>(::CoTaskMemAlloc(6));
    uint16_t cb = 40;
    std::memcpy(pastEnd, &cb, 2);
    EXPECT_THROW(TNamespace(reinterpret_cast<LPITEMIDLIST>(pastEnd), nullptr), ELSTInvalidPIDL);
    CoTaskMem<uint8_t> unterminated(static_cast<uint8_t*>(::CoTaskMemAlloc(4)));
    cb = 4;
    std::memcpy(unterminated.get(), &cb, 2);
    std::memcpy(unterminated.get() + 2, "zz", 2);
    EXPECT_FALSE(IsValidAllocatedPIDL(reinterpret_cast<LPITEMIDLIST>(unterminated.get())));
    uint8_t onStack[4] = {0, 0, 0, 0};   // not the allocator's block
    EXPECT_FALSE(IsValidAllocatedPIDL(reinterpret_cast<LPITEMIDLIST>(onStack)));
    PIDLPtr good(PathToPIDL(L"C:\\"));
    EXPECT_TRUE(IsValidAllocatedPIDL(good.get()));

    // A real list cut short anywhere is refused: its only terminator is at its end.
    shelltest::TempFolder deep(L"ns-fuzz");
    PIDLPtr real(PathToPIDL(deep.Path()));
    std::vector<uint8_t> bytes = shelltest::PIDLBytes(real.get());
    for (size_t cut = 1; cut < bytes.size(); ++cut) {
        CoTaskMem<uint8_t> p(static_cast<uint8_t*>(::CoTaskMemAlloc(cut)));
        std::memcpy(p.get(), bytes.data(), cut);
        EXPECT_FALSE(IsValidAllocatedPIDL(reinterpret_cast<LPITEMIDLIST>(p.get()))) << cut;
    }
    // With any byte changed, what is accepted never reaches past its block.
    uint32_t state = 12345;
    int accepted = 0;
    for (int round = 0; round < 2000; ++round) {
        state = state * 1103515245 + 12345;
        CoTaskMem<uint8_t> p(static_cast<uint8_t*>(::CoTaskMemAlloc(bytes.size())));
        std::memcpy(p.get(), bytes.data(), bytes.size());
        p.get()[(state >> 8) % bytes.size()] ^= static_cast<uint8_t>(1 + (state >> 20) % 255);
        auto* pidl = reinterpret_cast<LPITEMIDLIST>(p.get());
        if (IsValidAllocatedPIDL(pidl)) {
            ++accepted;
            EXPECT_LE(TPIDLManager::PIDLSize(pidl), bytes.size());
        }
    }
    EXPECT_GT(accepted, 0);   // a changed data byte leaves a sound list

    shelltest::TempFolder tmp(L"ns-damaged");
    shelltest::WriteFileBytes(tmp / L"only.txt", "x");
    auto options = std::make_shared<TFolderOptions>();
    options->DamagedFirstChild = true;
    TSeamFolder folder(tmp.Path(), options);
    int counted = 0;
    EXPECT_EQ(ChildNames(folder, true, true, true, &counted), std::set<std::wstring>{L"only.txt"});
    EXPECT_EQ(counted, 1);
    EXPECT_GE(folder.Calls("Next"), 2);
}

TEST_F(NamespaceTest, ComparingItems) {
    shelltest::TempFolder tmp(L"ns-compare");
    shelltest::WriteFileBytes(tmp / L"a", "a");
    shelltest::WriteFileBytes(tmp / L"b", "b");
    auto a = TNamespace::CreateFromFileName(tmp / L"a");
    auto b = TNamespace::CreateFromFileName(tmp / L"b");
    EXPECT_EQ(a->ComparePIDL(nullptr, 0), -1);
    EXPECT_EQ(a->ComparePIDL(a->AbsolutePIDL(), 0), 0);
    EXPECT_NE(a->ComparePIDL(b->AbsolutePIDL(), 0), 0);
    EXPECT_EQ(-a->ComparePIDL(b->AbsolutePIDL(), 0), b->ComparePIDL(a->AbsolutePIDL(), 0));
}

TEST_F(NamespaceTest, ParentChainAndLists) {
    shelltest::TempFolder tmp(L"ns-chain");
    shelltest::WriteFileBytes(tmp / L"leaf.txt", "l");
    auto folder = TNamespace::CreateFromFileName(tmp.Path());
    LPITEMIDLIST childId = FirstChild(*folder);
    ASSERT_NE(childId, nullptr);
    TNamespace leaf(childId, folder.get());
    EXPECT_EQ(leaf.Parent(), folder.get());
    EXPECT_EQ(TPIDLManager::IDCount(leaf.AbsolutePIDL()), TPIDLManager::IDCount(folder->AbsolutePIDL()) + 1);
    EXPECT_EQ(leaf.RelativePIDL(), TPIDLManager::GetPointerToLastID(leaf.AbsolutePIDL()));
    EXPECT_EQ(leaf.NameForParsing(), tmp / L"leaf.txt");

    // An item without a parent makes its own when asked for its folder.
    auto lone = TNamespace::CreateFromFileName(tmp / L"leaf.txt");
    EXPECT_EQ(lone->Parent(), nullptr);
    EXPECT_NE(lone->ParentShellFolder(), nullptr);
    ASSERT_NE(lone->Parent(), nullptr);
    EXPECT_TRUE(lone->Flags() & TNamespace::nfOwnsParent);
    EXPECT_EQ(lone->Parent()->NameForParsing(), tmp.Path());

    // A desktop child: absolute and relative lists are one.
    ASSERT_NE(DrivesFolder, nullptr);
    EXPECT_EQ(DrivesFolder->RelativePIDL(), DrivesFolder->AbsolutePIDL());
    EXPECT_THROW(TNamespace::CreateFromFileName(tmp / L"missing"), ELSTInvalidFileName);
}

// An enumerated child joins its list with its parent's only when asked: it
// must still be the same item as one joined at once, in every answer, and
// its relative list must stay where it is when the join happens.
TEST_F(NamespaceTest, EnumeratedChildrenAnswerAsChildrenJoinedAtOnce) {
    shelltest::TempFolder tmp(L"ns-enumerated");
    shelltest::WriteFileBytes(tmp / L"leaf.txt", "leaf");
    ASSERT_TRUE(::CreateDirectoryW((tmp / L"sub folder").c_str(), nullptr));
    shelltest::WriteFileBytes(tmp / L"Файл.log", "x");
    auto folder = TNamespace::CreateFromFileName(tmp.Path());
    int seen = 0;
    EachChild(*folder, true, true, true, [&](LPITEMIDLIST child, TNamespace* parent) {
        TNamespace eager(PIDLManager()->CopyPIDL(child), parent);
        TNamespace lazy(TNamespace::TEnumeratedChild{child}, parent);
        std::wstring name = eager.NameForParsingInFolder();
        SCOPED_TRACE(WideToAnsi(name));
        LPITEMIDLIST relative = lazy.RelativePIDL();
        EXPECT_EQ(lazy.Parent(), parent);
        EXPECT_FALSE(lazy.IsDesktop());
        EXPECT_EQ(lazy.NameInFolder(), eager.NameInFolder());
        EXPECT_EQ(lazy.Folder(), eager.Folder());
        EXPECT_EQ(lazy.NameForParsing(), tmp / name);
        EXPECT_TRUE(krv::ILIsEqual(lazy.AbsolutePIDL(), eager.AbsolutePIDL()));
        EXPECT_EQ(lazy.AbsolutePIDL(), lazy.AbsolutePIDL());   // joined once
        EXPECT_EQ(lazy.RelativePIDL(), relative);
        EXPECT_EQ(TPIDLManager::PIDLSize(relative), TPIDLManager::PIDLSize(eager.RelativePIDL()));
        EXPECT_EQ(std::memcmp(relative, eager.RelativePIDL(), TPIDLManager::PIDLSize(relative)), 0);
        EXPECT_EQ(lazy.Clone()->NameForParsing(), tmp / name);
        EXPECT_EQ(lazy.GetIconIndex(false, 0), eager.GetIconIndex(false, 0));
        ++seen;
    });
    EXPECT_EQ(seen, 3);

    // Renamed before its list was ever joined: the item follows the new name.
    LPITEMIDLIST leafId = nullptr;
    folder->EnumerateFolder(false, true, true,
                            [&](LPITEMIDLIST child, TNamespace* parent, void*, bool& stop) {
                                TNamespace probe(PIDLManager()->CopyPIDL(child), parent);
                                if (probe.NameForParsingInFolder() != L"leaf.txt") {
                                    FreePIDL(child);
                                    return false;
                                }
                                leafId = child;
                                stop = true;
                                return true;
                            },
                            nullptr);
    ASSERT_NE(leafId, nullptr);
    TNamespace leaf(TNamespace::TEnumeratedChild{leafId}, folder.get());
    ASSERT_TRUE(leaf.SetNameOf(L"renamed.txt"));
    EXPECT_EQ(leaf.NameForParsing(), tmp / L"renamed.txt");
    EXPECT_EQ(leaf.RelativePIDL(), TPIDLManager::GetPointerToLastID(leaf.AbsolutePIDL()));

    // Under the desktop the child's list is its absolute list already; without a parent it is refused.
    ASSERT_NE(DesktopFolder, nullptr);
    LPITEMIDLIST drives = PIDLManager()->CopyPIDL(DrivesFolder->AbsolutePIDL());
    TNamespace computer(TNamespace::TEnumeratedChild{drives}, DesktopFolder);
    EXPECT_EQ(computer.AbsolutePIDL(), computer.RelativePIDL());
    EXPECT_TRUE(computer.IsMyComputer());
    EXPECT_THROW(TNamespace(TNamespace::TEnumeratedChild{PIDLManager()->CopyPIDL(drives)}, nullptr),
                 ELSTInvalidPIDL);
}

TEST_F(NamespaceTest, SpecialItemsExistAfterStartUpAndAreRecognised) {
    ASSERT_NE(DesktopFolder, nullptr);
    ASSERT_NE(DrivesFolder, nullptr);
    ASSERT_NE(DesktopDirectoryFolder, nullptr);
    EXPECT_TRUE(DesktopFolder->IsDesktop());
    EXPECT_TRUE(DrivesFolder->IsMyComputer());
    EXPECT_FALSE(DesktopFolder->IsMyComputer());

    TNamespace desktop(nullptr, nullptr);
    EXPECT_TRUE(desktop.IsDesktop());
    wchar_t desktopDir[MAX_PATH];
    ASSERT_HRESULT_SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktopDir));
    EXPECT_EQ(desktop.NameForParsing(), desktopDir);
    EXPECT_EQ(desktop.FolderSize(false, true), 0);
    EXPECT_TRUE(desktop.DropTarget());

    auto root = TNamespace::CreateFromFileName(L"C:\\");
    EXPECT_FALSE(root->IsMyComputer());
    EXPECT_FALSE(root->IsDesktop());
    root->ParentShellFolder();
    ASSERT_NE(root->Parent(), nullptr);
    EXPECT_TRUE(root->Parent()->IsMyComputer());   // the drive's made parent
    EXPECT_EQ(root->NameForParsing(), L"C:\\");
    EXPECT_TRUE(root->FileSystem());
    EXPECT_TRUE(root->Folder());

    if (RecycleBinFolder) {
        TNamespace bin(SpecialFolderPIDL(CSIDL_BITBUCKET), nullptr);
        EXPECT_TRUE(bin.IsRecycleBin());
        EXPECT_TRUE(bin.IsRecycleBin());   // kept in the flags
        EXPECT_TRUE(bin.EnumHasItems(0));   // answered without asking
        EXPECT_FALSE(root->IsRecycleBin());
    }
    // The documents icon is asked of an item over the documents folder.
    PIDLPtr documents(PathToPIDL(L"::{450d8fba-ad25-11d0-98a8-0800361b1103}"));
    if (documents) {
        TNamespace item(PIDLManager()->CopyPIDL(documents.get()), nullptr);
        EXPECT_EQ(SystemIconIndex(4), item.GetIconIndex(false, 0, true));
    }
    // Every item the start-up made is over its own folder.
    for (const auto& slot : SpecialFolderSlots) {
        if (!*slot.Global) continue;
        PIDLPtr expected(SpecialFolderPIDL(slot.CSIDL));
        EXPECT_TRUE(krv::ILIsEqual((*slot.Global)->AbsolutePIDL(), expected.get())) << slot.CSIDL;
    }
}

TEST_F(NamespaceTest, RenameKeepsTheItemInItsFolder) {
    shelltest::TempFolder tmp(L"ns-rename");
    shelltest::WriteFileBytes(tmp / L"old.txt", "content");
    auto item = TNamespace::CreateFromFileName(tmp / L"old.txt");
    EXPECT_TRUE(item->CanRename());
    ASSERT_TRUE(item->SetNameOf(L"Новое имя.log"));
    EXPECT_TRUE(FileExistsW(tmp / L"Новое имя.log"));
    EXPECT_FALSE(FileExistsW(tmp / L"old.txt"));
    EXPECT_EQ(item->NameForParsing(), tmp / L"Новое имя.log");
    EXPECT_EQ(shelltest::ReadFileBytes(tmp / L"Новое имя.log"), "content");

    EXPECT_TRUE(item->ReloadPIDL(true, true, true));
    EXPECT_EQ(item->NameForParsing(), tmp / L"Новое имя.log");
    ::DeleteFileW((tmp / L"Новое имя.log").c_str());
    EXPECT_FALSE(item->ReloadPIDL(true, true, true));
}

TEST_F(NamespaceTest, InterfacesThisShellLacksAreUsedWhenAFolderOffersThem) {
    shelltest::TempFolder tmp(L"ns-iface");
    shelltest::WriteFileBytes(tmp / L"f.txt", "f");
    auto options = std::make_shared<TFolderOptions>();
    options->ShellIcon = options->IconOverlay = options->QueryInfo = true;
    TSeamFolder item(tmp / L"f.txt", options);

    EXPECT_EQ(item.GetIconIndex(false, 0, true), 77);
    EXPECT_EQ(item.GetIconIndex(false, 0, true), 77);
    EXPECT_EQ(item.Calls("GetIconOf"), 1);   // cached per kind
    EXPECT_EQ(item.GetIconIndex(true, 0, false), -1);   // not computed without ForceLoad
    EXPECT_EQ(item.InfoTip(), L"tip from the test");

    // Invalidating keeps known icons unless they are flushed with it.
    item.SetIconIndex(12, true);
    EXPECT_TRUE(item.ThreadedIconLoaded());
    item.Invalidate(false);
    EXPECT_EQ(item.GetIconIndex(false, 0, false), 12);
    item.SetThreadIconLoading(true);
    item.Invalidate(true);
    EXPECT_EQ(item.GetIconIndex(false, 0, false), -1);
    EXPECT_FALSE(item.ThreadedIconLoaded());
    EXPECT_FALSE(item.ThreadIconLoading());
    EXPECT_EQ(item.GetIconIndex(false, 0, true), 77);
    EXPECT_EQ(item.Calls("GetIconOf"), 2);

    // The overlay comes from the parent namespace's folder.
    TSeamFolder folder(tmp.Path(), options);
    LPITEMIDLIST childId = FirstChild(folder);
    ASSERT_NE(childId, nullptr);
    TNamespace child(childId, &folder);
    EXPECT_EQ(child.OverlayIndex(), 3);
    EXPECT_EQ(folder.Calls("GetOverlayIndex"), 1);
    EXPECT_EQ(child.GetIconIndex(false, 1, true), 77);

    // Details through IShellDetails when the folder has no IShellFolder2.
    auto detailed = std::make_shared<TFolderOptions>();
    detailed->ShellDetails = true;
    detailed->HideFolder2 = true;
    TSeamFolder dfolder(tmp.Path(), detailed);
    LPITEMIDLIST dchildId = FirstChild(dfolder);
    ASSERT_NE(dchildId, nullptr);
    TNamespace dchild(dchildId, &dfolder);
    EXPECT_EQ(dchild.DetailsColumnCount(), 3);
    EXPECT_EQ(dchild.DetailsOf(1), L"value 1");
    EXPECT_EQ(dchild.DetailsColumnTitle(2), L"title 2");
    EXPECT_EQ(dchild.DetailsColumnTitle(7), L"Path");   // beyond the shell's columns: the default title
    EXPECT_EQ(dchild.DetailsColumnState(0), 8);
}

// A folder that refuses a column leaves it to IShellDetails, and a column
// neither answers to the default columns.
TEST_F(NamespaceTest, DetailsAFolderRefusesComeFromIShellDetailsThenTheDefaultColumns) {
    shelltest::TempFolder tmp(L"ns-details-fallback");
    shelltest::WriteFileBytes(tmp / L"f.txt", "f");
    const struct {
        bool ShellDetails;
        int Column;
        std::function<std::wstring(TNamespace&)> Expected;
    } table[] = {
        {true, 1, [](TNamespace&) { return std::wstring(L"value 1"); }},
        {true, 4, [](TNamespace& ns) { return ns.AttributesString(); }},   // past IShellDetails' three
        {false, 0, [](TNamespace& ns) { return ns.NameInFolder(); }},
        {false, 1, [](TNamespace&) { return std::wstring(L"1 KB"); }},
    };
    for (const auto& row : table) {
        auto options = std::make_shared<TFolderOptions>();
        options->Folder2DetailsFail = true;
        options->ShellDetails = row.ShellDetails;
        TSeamFolder folder(tmp.Path(), options);
        LPITEMIDLIST childId = FirstChild(folder);
        ASSERT_NE(childId, nullptr);
        TNamespace child(childId, &folder);
        EXPECT_EQ(child.DetailsOf(row.Column), row.Expected(child)) << row.ShellDetails << " " << row.Column;
    }
}

TEST_F(NamespaceTest, FallbacksWhereTheShellOffersNoInterface) {
    shelltest::TempFolder tmp(L"ns-fallback");
    shelltest::WriteFileBytes(tmp / L"f.txt", "f");
    TSeamFolder item(tmp / L"f.txt");   // offers none of the optional interfaces
    int small = item.GetIconIndex(false, 0, true);
    EXPECT_GE(small, 0);
    SHFILEINFOW info{};
    PIDLPtr pidl(PathToPIDL(tmp / L"f.txt"));
    ::SHGetFileInfoW(reinterpret_cast<LPCWSTR>(pidl.get()), 0, &info, sizeof info,
                     SHGFI_PIDL | SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
    EXPECT_EQ(small, info.iIcon);
    EXPECT_EQ(item.Calls("GetIconOf"), 0);
    EXPECT_EQ(item.InfoTip(), L"");
    EXPECT_EQ(item.OverlayIndex(), -1);

    auto plain = std::make_shared<TFolderOptions>();
    plain->HideFolder2 = true;
    TSeamFolder folder(tmp.Path(), plain);
    EXPECT_EQ(folder.DetailsColumnTitle(0), L"Name");
    EXPECT_EQ(folder.DetailsColumnTitle(4), L"Attributes");
    auto file = TNamespace::CreateFromFileName(tmp / L"f.txt");
    EXPECT_EQ(file->DetailsDefaultOf(0), file->NameInFolder());
    EXPECT_EQ(file->DetailsDefaultOf(1), L"1 KB");
    EXPECT_EQ(file->DetailsDefaultOf(4), file->AttributesString());
    EXPECT_EQ(DrivesFolder->DetailsDefaultOf(2), L"System Folder");
}

// Names of one extension are made from the first one the folder showed, and
// made again after the folder is invalidated; a folder whose desktop.ini is
// read (read-only) has every name asked for.
TEST_F(NamespaceTest, ShownNamesFollowTheFolderPerExtension) {
    shelltest::TempFolder tmp(L"ns-shown");
    const std::wstring files[] = {L"a.one", L"b.two", L"c.one", L"d.two", L".one", L"noext", L"x.tar.one", L"Имя.one"};
    for (const auto& n : files) shelltest::WriteFileBytes(tmp / n, "x");
    shelltest::MakeDir(tmp / L"dir.one");
    const std::map<std::wstring, std::wstring> oneCut = {
        {L"a.one", L"a"}, {L"c.one", L"c"}, {L"x.tar.one", L"x.tar"}, {L"Имя.one", L"Имя"}};
    const struct {
        const char* what;
        std::wstring cut;
        DWORD folderAttributes;
        bool sameFolderInvalidated;
        std::map<std::wstring, std::wstring> cutNames;   // every other name is shown whole
        int asked;   // .one and .two files, the .one directory, ".one" itself, no extension
    } cases[] = {
        {"one ask per extension and kind", L".one", FILE_ATTRIBUTE_NORMAL, false, oneCut, 5},
        {"invalidated: the rules go with the other cached answers", L".two", FILE_ATTRIBUTE_NORMAL, true,
         {{L"b.two", L"b"}, {L"d.two", L"d"}}, 5},
        {"desktop.ini read: every name asked", L".one", FILE_ATTRIBUTE_SYSTEM, false, oneCut, 9},
    };
    auto options = std::make_shared<TFolderOptions>();
    options->ScriptedShownNames = true;
    std::unique_ptr<TSeamFolder> folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::map<std::wstring, std::wstring> expected = c.cutNames, shown;
        for (const auto& n : files) expected.emplace(n, n);
        expected.emplace(L"dir.one", L"dir.one");
        options->CutExtensions = {c.cut};
        SetAttributes(tmp.Path(), c.folderAttributes);
        if (c.sameFolderInvalidated) folder->Invalidate(false);
        else folder = std::make_unique<TSeamFolder>(tmp.Path(), options);
        const int before = folder->Calls("GetDisplayNameOf.Shown");
        EachChild(*folder, true, true, true, [&](LPITEMIDLIST child, TNamespace* parent) {
            TNamespace item(TNamespace::TEnumeratedChild{child}, parent);
            shown[item.NameForParsingInFolder()] = item.NameInFolder();
        });
        EXPECT_EQ(shown, expected);
        EXPECT_EQ(folder->Calls("GetDisplayNameOf.Shown") - before, c.asked);
    }
    folder.reset();
    SetAttributes(tmp.Path(), FILE_ATTRIBUTE_NORMAL);
}
