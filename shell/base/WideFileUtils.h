// Path and file routines on UTF-16 paths, and the folder size count.
#pragma once
#include <windows.h>
#include <cstdint>
#include <functional>
#include <string>

namespace krv {

// Suppresses the system's critical-error boxes ("insert a disk") for a scope.
class TErrorModeScope {
public:
    explicit TErrorModeScope(UINT mode) : old_(::SetErrorMode(mode)) {}
    ~TErrorModeScope() { ::SetErrorMode(old_); }
    TErrorModeScope(const TErrorModeScope&) = delete;
    TErrorModeScope& operator=(const TErrorModeScope&) = delete;
private:
    UINT old_;
};

std::wstring ExtractFileExtW(const std::wstring& path);
std::wstring ExtractFileDriveW(const std::wstring& path);
std::wstring ExtractFileDirW(const std::wstring& path);
// index is 1-based.
bool IsPathDelimiterW(const std::wstring& s, int index);
std::wstring IncludeTrailingBackslashW(const std::wstring& s);
// A drive root keeps its backslash unless force.
std::wstring ExcludeTrailingBackslashW(const std::wstring& s, bool force = false);
bool IsDriveRoot(const std::wstring& path);

bool DirExistsW(const std::wstring& path);
bool FileExistsW(const std::wstring& path);
bool DiskInDrive(wchar_t drive);
bool CreateDirW(const std::wstring& path);
// The first of path\name (or "New Folder"), path\New Folder (1) .. (20) that does
// not exist; empty when all of them do.
std::wstring UniqueDirName(const std::wstring& path, const std::wstring& name = std::wstring());
constexpr int UniqueDirNameLimit = 20;

// Bytes in a folder (with Recurse, in its subfolders too; a drive root then
// gives the drive's used space). Links to folders (symbolic links, junctions)
// are not followed, and no folder is counted twice. Each folder left out of
// the count (it cannot be listed, or it is such a link) is told to leftOut
// with the system's error (0 for a link).
using TFolderLeftOut = std::function<void(const std::wstring& folder, unsigned long error, bool link)>;
uint64_t CalcFolderSize(const std::wstring& path, bool recurse, const TFolderLeftOut& leftOut = nullptr);

} // namespace krv
