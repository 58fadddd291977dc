#include "shell/base/WideFileUtils.h"
#include "shell/base/PIDLTools.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/SystemVersion.h"
#include "shell/base/WideStrUtils.h"
#include "framework/Handle.h"
#include <cwctype>
#include <functional>
#include <set>
#include <tuple>

namespace krv {

namespace {
bool IsLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// The form in which the wide calls reach the entry a path of real names
// names: "\\?\" where a name ends in a dot or a blank (or the path is long).
std::wstring EntryCallPath(const std::wstring& path) { return NeedsWidePath(path) ? LongPathW(path) : path; }

DWORD FileAttributes(const std::wstring& path) {
    if (auto get = WideFunctions().GetFileAttributesW) return get(EntryCallPath(path).c_str());
    return ::GetFileAttributesA(WideToAnsi(path).c_str());
}

struct TFoundEntry {
    std::wstring name;
    DWORD attributes;
    uint64_t size;
};

// Calls fn for every entry of a folder; false when the folder cannot be
// listed (error then says why). No entry at all is an empty folder.
bool ListEntries(const std::wstring& folder, const std::function<void(const TFoundEntry&)>& fn, DWORD& error) {
    std::wstring pattern = folder + L"\\*.*";
    if (auto findFirst = WideFunctions().FindFirstFileW) {
        WIN32_FIND_DATAW fd;
        FindHandle find(findFirst(pattern.c_str(), &fd));
        if (find) {
            do {
                fn({fd.cFileName, fd.dwFileAttributes, (uint64_t(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow});
            } while (::FindNextFileW(find.get(), &fd));
        }
        error = ::GetLastError();
    } else {
        WIN32_FIND_DATAA fd;
        FindHandle find(::FindFirstFileA(WideToAnsi(pattern).c_str(), &fd));
        if (find) {
            do {
                fn({AnsiToWide(fd.cFileName), fd.dwFileAttributes, (uint64_t(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow});
            } while (::FindNextFileA(find.get(), &fd));
        }
        error = ::GetLastError();
    }
    return error == ERROR_NO_MORE_FILES || error == ERROR_FILE_NOT_FOUND;
}

// The same, and for a folder the plain form cannot list (a long path, a name
// ending in a dot or a space), through the "\\?\" form of its path.
bool ForEachEntry(const std::wstring& folder, const std::function<void(const TFoundEntry&)>& fn, DWORD& error) {
    bool any = false;
    auto counted = [&](const TFoundEntry& e) {
        any = true;
        fn(e);
    };
    if (ListEntries(folder, counted, error)) return true;
    const bool absolute = folder.size() > 2 && ((folder[1] == L':' && folder[2] == L'\\') || folder.rfind(L"\\\\", 0) == 0);
    // A listing cut short is not listed again: its entries would count twice.
    if (any || !absolute || folder.rfind(L"\\\\?\\", 0) == 0 || !IsWinNT()) return false;
    const std::wstring literal = folder[1] == L':' ? L"\\\\?\\" + folder : L"\\\\?\\UNC\\" + folder.substr(2);
    const DWORD plainError = error;
    if (ListEntries(literal, fn, error)) return true;
    // The plain form's word on the length is the clearer one.
    if (plainError == ERROR_FILENAME_EXCED_RANGE) error = plainError;
    return false;
}

// Volume and file index of a folder: the same folder reached twice (through a
// link the system does not flag) has the same identity.
using TFolderId = std::tuple<DWORD, DWORD, DWORD>;
bool FolderIdentity(const std::wstring& folder, TFolderId& id) {
    FileHandle h(IsWinNT()
                     ? ::CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)
                     : INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION info;
    if (!h || !::GetFileInformationByHandle(h.get(), &info)) return false;
    id = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return true;
}

// Links the system flags are never followed, so only one it does not flag
// can bring the walk round again, and such a loop runs ever deeper. Taking
// each folder's identity opens it, which more than doubles a walk under
// Wine; from this depth on a loop is still caught after a few levels.
constexpr int IdentityDepth = 16;

void SumFolderSizes(const std::wstring& folder, bool recurse, uint64_t& total, std::set<TFolderId>& seen, int depth,
                    const TFolderLeftOut& leftOut) {
    if (recurse && depth >= IdentityDepth) {
        TFolderId id;
        if (FolderIdentity(folder, id) && !seen.insert(id).second) return;
    }
    DWORD error = ERROR_SUCCESS;
    const bool listed = ForEachEntry(folder, [&](const TFoundEntry& e) {
        bool isDir = (e.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (recurse && isDir) {
            if (e.name == L"." || e.name == L"..") return;
            // A symbolic link or junction points elsewhere (maybe back up the tree).
            if (e.attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                if (leftOut) leftOut(folder + L"\\" + e.name, ERROR_SUCCESS, true);
                return;
            }
            SumFolderSizes(folder + L"\\" + e.name, recurse, total, seen, depth + 1, leftOut);
        } else {
            total += e.size;
        }
    }, error);
    if (!listed && leftOut) leftOut(folder, error, false);
}

uint64_t DriveUsedBytes(const std::wstring& root) {
    if (IsWin95Gold()) {
        DWORD sectors, bytes, freeClusters, totalClusters;
        if (!::GetDiskFreeSpaceA(WideToAnsi(root).c_str(), &sectors, &bytes, &freeClusters, &totalClusters)) return 0;
        return (uint64_t(totalClusters) - freeClusters) * sectors * bytes;
    }
    ULARGE_INTEGER freeToCaller, total;
    BOOL ok = IsWinNT() ? ::GetDiskFreeSpaceExW(root.c_str(), &freeToCaller, &total, nullptr)
                        : ::GetDiskFreeSpaceExA(WideToAnsi(root).c_str(), &freeToCaller, &total, nullptr);
    return ok ? total.QuadPart - freeToCaller.QuadPart : 0;
}
} // namespace

std::wstring ExtractFileExtW(const std::wstring& path) {
    // Only the last name of the path can carry the extension: "C:\dir.x\file" has none.
    size_t dot = path.find_last_of(L".\\:");
    if (dot == std::wstring::npos || path[dot] != L'.') return std::wstring();
    return path.substr(dot);
}

std::wstring ExtractFileDriveW(const std::wstring& path) {
    size_t at = path.find(L":\\");
    return at == std::wstring::npos ? std::wstring() : path.substr(0, at + 1);
}

std::wstring ExtractFileDirW(const std::wstring& path) {
    if (path.size() == 1 || path.size() == 2) {
        return IsLetter(path[0]) ? std::wstring(1, path[0]) + L":\\" : std::wstring();
    }
    if (path.find(L":\\") == std::wstring::npos) return std::wstring();
    size_t slash = path.rfind(L'\\');
    if (slash > 0 && path[slash - 1] == L':') return path.substr(0, slash + 1);
    return path.substr(0, slash);
}

bool IsPathDelimiterW(const std::wstring& s, int index) {
    return index >= 1 && static_cast<size_t>(index) <= s.size() && s[static_cast<size_t>(index) - 1] == L'\\';
}

std::wstring IncludeTrailingBackslashW(const std::wstring& s) {
    if (!s.empty() && s.back() == L'\\') return s;
    return s + L'\\';
}

std::wstring ExcludeTrailingBackslashW(const std::wstring& s, bool force) {
    if (s.empty() || (s.back() != L'\\' && s.back() != L'/')) return s;
    if (!force && IsDriveRoot(s)) return s;
    return s.substr(0, s.size() - 1);
}

bool IsDriveRoot(const std::wstring& path) { return path.size() == 3 && path[1] == L':' && path[2] == L'\\'; }

bool DirExistsW(const std::wstring& path) {
    if (path.empty()) return false;
    DWORD a = FileAttributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileExistsW(const std::wstring& path) {
    // A pattern would "find" whatever it matches.
    if (path.empty() || path.find_first_of(L"*?") != std::wstring::npos) return false;
    if (auto findFirst = WideFunctions().FindFirstFileW) {
        WIN32_FIND_DATAW fd;
        return static_cast<bool>(FindHandle(findFirst(EntryCallPath(path).c_str(), &fd)));
    }
    WIN32_FIND_DATAA fd;
    return static_cast<bool>(FindHandle(::FindFirstFileA(WideToAnsi(path).c_str(), &fd)));
}

bool DiskInDrive(wchar_t drive) {
    drive = static_cast<wchar_t>(std::towupper(drive));
    if (drive < L'A' || drive > L'Z') return false;
    TErrorModeScope quiet(SEM_FAILCRITICALERRORS);
    std::wstring root = std::wstring(1, drive) + L":\\";
    ULARGE_INTEGER freeToCaller, total;
    if (IsWinNT()) return ::GetDiskFreeSpaceExW(root.c_str(), &freeToCaller, &total, nullptr) != 0;
    DWORD sectors, bytes, freeClusters, totalClusters;
    return ::GetDiskFreeSpaceA(WideToAnsi(root).c_str(), &sectors, &bytes, &freeClusters, &totalClusters) != 0;
}

bool CreateDirW(const std::wstring& path) {
    BOOL ok;
    if (auto create = WideFunctions().CreateDirectoryW) ok = create(path.c_str(), nullptr);
    else ok = ::CreateDirectoryA(WideToAnsi(path).c_str(), nullptr);
    if (ok) {
        PIDLPtr pidl(PathToPIDL(path));
        if (pidl) ::SHChangeNotify(SHCNE_MKDIR, SHCNF_IDLIST, pidl.get(), nullptr);
    }
    return ok != 0;
}

std::wstring UniqueDirName(const std::wstring& path, const std::wstring& name) {
    std::wstring base = ExcludeTrailingBackslashW(path, true) + L"\\";
    std::wstring stem = name.empty() ? L"New Folder" : name;
    // A file of the name blocks a new folder as much as a folder does.
    auto taken = [](const std::wstring& p) { return FileAttributes(p) != INVALID_FILE_ATTRIBUTES; };
    std::wstring candidate = base + stem;
    for (int n = 1; taken(candidate); ++n) {
        if (n > UniqueDirNameLimit) return std::wstring();
        candidate = base + stem + L" (" + std::to_wstring(n) + L")";
    }
    return candidate;
}

uint64_t CalcFolderSize(const std::wstring& path, bool recurse, const TFolderLeftOut& leftOut) {
    if (recurse && IsDriveRoot(path)) return DriveUsedBytes(path);
    uint64_t total = 0;
    std::set<TFolderId> seen;
    SumFolderSizes(ExcludeTrailingBackslashW(path, true), recurse, total, seen, 0, leftOut);
    return total;
}

} // namespace krv
