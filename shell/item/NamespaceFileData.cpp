// The shell item's file data: the find-data record the shell keeps in the
// item's list (refreshed from the file system for the times), and what is
// derived from it: attribute letters, times, sizes, the type name.
#include "shell/item/LazyShellUtilities.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/SystemVersion.h"
#include "shell/base/WideFileUtils.h"
#include "shell/base/WideStrUtils.h"
#include <cwctype>

namespace krv {

namespace {
std::wstring WithSeparators(int64_t n) { return AddThousandSeparators(IntToStrW(n)); }
} // namespace

namespace {
// The file system's own record of a path; false when it cannot be read.
bool ReadFindData(const std::wstring& path, WIN32_FIND_DATAW& record) {
    if (path.empty() || path.find_first_of(L"*?") != std::wstring::npos) return false;
    if (auto findW = WideFunctions().FindFirstFileW) {
        WIN32_FIND_DATAW fd;
        FindHandle find(findW(path.c_str(), &fd));
        if (!find) return false;
        record = fd;
        return true;
    }
    WIN32_FIND_DATAA fd;
    FindHandle find(::FindFirstFileA(WideToAnsi(path).c_str(), &fd));
    if (!find) return false;
    ConvertFindData(fd, record);
    return true;
}
} // namespace

void TNamespace::EnsureFindData() {
    if (findData_ || IsDesktop() || (validMask_ & vmNoFindData)) return;
    IShellFolder* folder = nullptr;
    bool underDesktop = TPIDLManager::IDCount(AbsolutePIDL()) == 1;
    if (underDesktop && DesktopDirectoryFolder && DesktopDirectoryFolder != this)
        folder = DesktopDirectoryFolder->ShellFolder();
    else
        folder = ParentShellFolder();
    auto record = std::make_unique<WIN32_FIND_DATAW>();
    *record = WIN32_FIND_DATAW{};
    HRESULT hr = E_FAIL;
    if (folder) {
        if (auto getW = WideFunctions().SHGetDataFromIDListW) {
            hr = getW(folder, relativePIDL_, SHGDFIL_FINDDATA, record.get(), sizeof(WIN32_FIND_DATAW));
        } else {
            WIN32_FIND_DATAA a{};
            hr = ::SHGetDataFromIDListA(folder, relativePIDL_, SHGDFIL_FINDDATA, &a, sizeof a);
            if (SUCCEEDED(hr)) ConvertFindData(a, *record);
        }
    }
    if (FAILED(hr)) {
        validMask_ |= vmNoFindData;
        return;
    }
    findData_ = std::move(record);
}

void TNamespace::EnsureFileTimes() {
    if (validMask_ & vmFileTimes) return;
    validMask_ |= vmFileTimes;
    EnsureFindData();
    if (!findData_ || !FileSystem()) return;
    // The shell's record may hold rounded times and names narrowed through
    // the ANSI code page: the file system's own record replaces it.
    WIN32_FIND_DATAW fd;
    if (ReadFindData(NameParseAddress(), fd)) *findData_ = fd;
}

bool TNamespace::HasFileData() {
    EnsureFileTimes();
    return findData_ && FileSystem();
}

bool TNamespace::FindAttribute(DWORD attribute) {
    return HasFileData() && (findData_->dwFileAttributes & attribute) != 0;
}

bool TNamespace::Archive() { return FindAttribute(FILE_ATTRIBUTE_ARCHIVE); }
bool TNamespace::Directory() { return FindAttribute(FILE_ATTRIBUTE_DIRECTORY); }
bool TNamespace::Hidden() { return FindAttribute(FILE_ATTRIBUTE_HIDDEN); }
bool TNamespace::Normal() { return FindAttribute(FILE_ATTRIBUTE_NORMAL); }
bool TNamespace::OffLine() { return FindAttribute(FILE_ATTRIBUTE_OFFLINE); }
bool TNamespace::ReadOnlyFile() { return FindAttribute(FILE_ATTRIBUTE_READONLY); }
bool TNamespace::SystemFile() { return FindAttribute(FILE_ATTRIBUTE_SYSTEM); }
bool TNamespace::Temporary() { return FindAttribute(FILE_ATTRIBUTE_TEMPORARY); }

// Every painted name's colour asks this: the shell's own record holds the
// bit, so no file-system read is made for it (a record refreshed earlier is
// used as it is).
bool TNamespace::Compressed() {
    if (!(validMask_ & vmCompressed)) {
        EnsureFindData();
        if (findData_ && (findData_->dwFileAttributes & FILE_ATTRIBUTE_COMPRESSED) && FileSystem())
            attributeValues_ |= 0x400;
        else attributeValues_ &= ~0x400;
        validMask_ |= vmCompressed;
    }
    return attributeValues_ & 0x400;
}

std::wstring TNamespace::FileName() { return HasFileData() ? std::wstring(findData_->cFileName) : std::wstring(); }
std::wstring TNamespace::ShortFileName() {
    return HasFileData() ? std::wstring(findData_->cAlternateFileName) : std::wstring();
}

std::wstring TNamespace::AttributesString() {
    if (!FileSystem()) return std::wstring();
    std::wstring r;
    if (Archive()) r += L'A';
    if (Hidden()) r += L'H';
    if (ReadOnlyFile()) r += L'R';
    if (SystemFile()) r += L'S';
    if (Compressed()) r += L'C';
    return r;
}

std::wstring TNamespace::CachedText(uint32_t validBit, std::wstring& cache, const std::function<std::wstring()>& make) {
    if (!(validMask_ & validBit)) {
        cache = make();
        validMask_ |= validBit;
    }
    return cache;
}

FILETIME TNamespace::FindTime(FILETIME WIN32_FIND_DATAW::*field) {
    if (!HasFileData()) return FILETIME{0, 0};
    return (*findData_).*field;
}

std::wstring TNamespace::TimeText(uint32_t validBit, std::wstring& cache, FILETIME WIN32_FIND_DATAW::*field) {
    return CachedText(validBit, cache, [&] { return FileTimeToLocalText(FindTime(field)); });
}

FILETIME TNamespace::CreationTimeRaw() { return FindTime(&WIN32_FIND_DATAW::ftCreationTime); }
FILETIME TNamespace::LastAccessTimeRaw() { return FindTime(&WIN32_FIND_DATAW::ftLastAccessTime); }
FILETIME TNamespace::LastWriteTimeRaw() { return FindTime(&WIN32_FIND_DATAW::ftLastWriteTime); }
std::wstring TNamespace::CreationTime() {
    return TimeText(vmCreationTime, creationTime_, &WIN32_FIND_DATAW::ftCreationTime);
}
std::wstring TNamespace::LastAccessTime() {
    return TimeText(vmLastAccessTime, lastAccessTime_, &WIN32_FIND_DATAW::ftLastAccessTime);
}
std::wstring TNamespace::LastWriteTime() {
    return TimeText(vmLastWriteTime, lastWriteTime_, &WIN32_FIND_DATAW::ftLastWriteTime);
}

int64_t TNamespace::SizeOfFileInt64() {
    if (!HasFileData()) return 0;
    return (int64_t(findData_->nFileSizeHigh) << 32) | findData_->nFileSizeLow;
}

std::wstring TNamespace::SizeOfFile() {
    return CachedText(vmSizeOfFile, sizeOfFile_, [this] {
        if (!HasFileData() || Directory()) return std::wstring();
        return WithSeparators(SizeOfFileInt64());
    });
}

std::wstring TNamespace::SizeOfFileKB() {
    return CachedText(vmSizeOfFileKB, sizeOfFileKB_, [this] {
        if (!HasFileData() || Directory()) return std::wstring();
        int64_t kb = SizeOfFileInt64() / 1024;
        return WithSeparators(kb == 0 ? 1 : kb) + L" KB";
    });
}

std::wstring TNamespace::SizeOfFileDiskUsage() {
    if (!HasFileData() || Directory()) return std::wstring();
    std::wstring path = NameForParsing();
    if (path.size() < 3 || path[1] != L':' || path[2] != L'\\') return SizeOfFile();
    std::wstring root = path.substr(0, 3);
    if (!DirExistsW(root)) return SizeOfFile();
    DWORD sectors = 0, bytes = 0, freeClusters = 0, totalClusters = 0;
    BOOL ok;
    if (IsWinNT()) ok = ::GetDiskFreeSpaceW(root.c_str(), &sectors, &bytes, &freeClusters, &totalClusters);
    else if (!IsWin95Gold()) ok = GetDriveClusterInfo9x(root, sectors, bytes, freeClusters, totalClusters);
    else ok = ::GetDiskFreeSpaceA(WideToAnsi(root).c_str(), &sectors, &bytes, &freeClusters, &totalClusters);
    int64_t cluster = int64_t(sectors) * bytes;
    if (!ok || cluster == 0) return SizeOfFile();
    int64_t size = SizeOfFileInt64();
    return WithSeparators((size + cluster - 1) / cluster * cluster);
}

std::wstring TNamespace::Extension() { return ExtractFileExtW(NameParseAddress()); }

std::wstring TNamespace::FileType() {
    return CachedText(vmFileType, fileType_, [this] {
        std::wstring type;
        UINT flags = SHGFI_PIDL | SHGFI_TYPENAME;
        if (auto info = WideFunctions().SHGetFileInfoW) {
            SHFILEINFOW fi{};
            if (info(reinterpret_cast<LPCWSTR>(AbsolutePIDL()), 0, &fi, sizeof fi, flags)) type = fi.szTypeName;
        } else {
            SHFILEINFOA fi{};
            if (::SHGetFileInfoA(reinterpret_cast<LPCSTR>(AbsolutePIDL()), 0, &fi, sizeof fi, flags))
                type = AnsiToWide(fi.szTypeName);
        }
        if (type.empty()) {
            std::wstring ext = ExtractFileExtW(NameForParsing());
            StrUpperW(ext.data());
            type = ext + L" File";
        }
        return type;
    });
}

std::wstring TNamespace::InfoTip() {
    IQueryInfo* info = QueryInfo();
    if (!info) return std::wstring();
    CoTaskMem<wchar_t> tip;
    if (FAILED(info->GetInfoTip(0, tip.put())) || !tip) return std::wstring();
    return tip.get();
}

} // namespace krv
