#include "app/ArchiveTarget.h"
#include "app/Log.h"
#include "app/AppState.h"
#include "app/BackupRun.h"
#include "app/Unattended.h"
#include "app/Messages.h"
#include "framework/Dialogs.h"
#include "framework/Handle.h"
#include "framework/SysUtils.h"
#include "zip/ZipVolumes.h"
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>

namespace krv {

namespace {
constexpr char kTemporaryPrefix[] = "~kv";

bool AllDigits(const std::string& s, size_t from) {
    if (s.size() <= from) return false;
    for (size_t i = from; i < s.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    return true;
}

// "~kvXXXX" when the name is a temporary archive or one of its volumes
// ("~kvXXXX.Z01", ...); empty for any other name.
std::string TemporaryStem(const std::string& fileName) {
    const size_t dot = fileName.find('.');
    if (dot == std::string::npos || !IsTemporaryArchiveName(fileName.substr(0, dot) + ".tmp")) return {};
    const std::string ext = fileName.substr(dot);
    if (SameText(ext, ".tmp") || (ext.size() >= 4 && (ext[1] == 'Z' || ext[1] == 'z') && AllDigits(ext, 2)))
        return fileName.substr(0, dot);
    return {};
}

void LogLine(const TLogCall& log, const std::string& msg, int colour, int level) {
    if (log) log(msg, colour, level, lkNormal);
}

enum class Removal { Removed, Absent, InUse, Failed };

Removal RemoveFile(const std::string& path, const TLogCall& log) {
    if (DeleteFileAny(path)) return Removal::Removed;
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return Removal::Absent;
    // Held open by a run that is still writing it: not ours to remove.
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return Removal::InUse;
    LogLine(log, KV_Error + ": " + path + ": " + SysErrorMessage(error), lcRed, 0);
    return Removal::Failed;
}
}

std::string TemporaryArchiveName(const std::string& folder) { return CreateUniqueFile(folder, kTemporaryPrefix); }

bool IsTemporaryArchiveName(const std::string& fileName) {
    // The system's number is four hex digits, or (under some systems) one to four.
    const size_t dot = fileName.find('.');
    if (dot == std::string::npos || dot < 4 || dot > 7 || !SameText(fileName.substr(0, 3), kTemporaryPrefix) ||
        !SameText(fileName.substr(dot), ".tmp"))
        return false;
    for (size_t i = 3; i < dot; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(fileName[i]))) return false;
    return true;
}

std::string ArchiveVolume(const std::string& archive, int n) {
    return ZipVolumeFileName(archive, static_cast<uint32_t>(n - 1), smSplitting, false, false);
}

std::vector<std::string> ArchiveVolumes(const std::string& archive) {
    std::vector<std::string> volumes;
    for (int n = 1; FileExists(ArchiveVolume(archive, n)); ++n) volumes.push_back(ArchiveVolume(archive, n));
    return volumes;
}

namespace {
// A file name's length as the file system counts its 255: UTF-16 units on
// Windows; the bytes of its UTF-8 form where names are kept by a Linux host
// (Wine), which has no other way to say a name is too long than "not found".
size_t FileNameLength(const std::string& name) {
    static const bool linuxNames = ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    const std::wstring wide = AnsiToWide(name);
    return linuxNames ? WideToAnsi(wide, CP_UTF8).size() : wide.size();
}
}

bool ArchivePathFits(const std::string& path) {
    // The system counts UTF-16 units, not the bytes of the program's UTF-8 text.
    auto units = [](const std::string& s) {
        return static_cast<size_t>(::MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0));
    };
    // The temporary name it is written under first (a backslash and "~kvXXXX.tmp") must fit too.
    const std::string folder = ExcludeTrailingBackslash(ExtractFilePath(path));
    return units(path) < MAX_PATH && FileNameLength(ExtractFileName(path)) <= 255 && units(folder) <= MAX_PATH - 14;
}

int RemoveStaleTemporaryArchives(const std::string& folder, const TLogCall& log) {
    const std::string dir = IncludeTrailingBackslash(folder);
    // Every temporary archive with the volumes found beside it, by stem; each
    // file with its volume number (0 for the archive itself).
    std::map<std::string, std::vector<std::pair<long, std::string>>,
             bool (*)(const std::string&, const std::string&)>
        stems([](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
    WIN32_FIND_DATAA fd;
    bool wide = false;
    FindHandle find(FindFirstFileAny(dir + kTemporaryPrefix + "*", fd, wide));
    if (!find) return 0;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::string name = fd.cFileName;
        const std::string stem = TemporaryStem(name);
        if (stem.empty()) continue;
        const size_t dot = stem.size();
        const long number = SameText(name.substr(dot), ".tmp") ? 0 : std::strtol(name.c_str() + dot + 2, nullptr, 10);
        stems[stem].emplace_back(number, dir + name);
    } while (FindNextFileAny(find.get(), fd, wide));

    int removed = 0;
    for (auto& [stem, files] : stems) {
        // The last volume first and the archive itself last: a run that is
        // still writing holds its archive (a hard disk's) or its last volume
        // (a disc's) open, and then nothing of it is touched.
        std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
        for (const auto& [number, path] : files) {
            const Removal r = RemoveFile(path, log);
            if (r == Removal::InUse || r == Removal::Failed) break;
            if (r == Removal::Removed) {
                LogLine(log, KV_StaleArchiveRemoved + " " + path, lcBlack, 1);
                ++removed;
            }
        }
    }
    return removed;
}

void DeleteArchiveFiles(const std::string& archive, const TLogCall& log) {
    std::vector<std::string> files = ArchiveVolumes(archive);
    files.insert(files.begin(), archive);
    for (const std::string& path : files) {
        if (DeleteFileAny(path)) continue;
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) LogLine(log, path + ": " + SysErrorMessage(error), lcRed, 0);
    }
}

// ------------------------------------------- the main window's archive

namespace {
// Any file system entry of that name (a folder named like the archive counts).
bool PathTaken(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesAny(path, data);
}

bool IsReadOnly(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesAny(path, data) && (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY);
}
}

bool ArchivePathUsable(const std::string& path, const TLogCall& log) {
    if (ArchivePathFits(path)) return true;
    if (!KorvaneState().Batch) ShowMessageBox(KV_ArchivePathTooLong + "\r\n" + path, KV_NoZipFileName_Title, MB_ICONERROR);
    log(KV_ArchivePathTooLong + " " + path, lcRed, 0, lkNormal);
    return false;
}

std::string FindFreeArchiveName(const std::string& name, const TLogCall& log) {
    if (!ArchivePathUsable(name, log)) return {};
    // The search ends at a suffixed name the file system cannot hold: the
    // suffixes grow too long well before a hundred of them are reached.
    std::string candidate = name;
    int n = 1;
    while (ArchivePathFits(candidate) && PathTaken(candidate) && n < 100) {
        // Before the file name's own extension ("backup_1", "data_1.7z"), not
        // four characters from the end: a name without ".zip" (a session's)
        // got the number inside it, or inside its folder's name.
        candidate.insert(candidate.size() - ExtractFileExt(candidate).size(), Format("_%d", n));
        ++n;
    }
    // Never hand out a name that exists: that would overwrite a backup. A
    // name grown too long is said as such, not as too many backups.
    const bool tooLong = !ArchivePathFits(candidate);
    if (tooLong || PathTaken(candidate)) {
        const std::string head = std::string(kProductName) + " " + KV_NoZipFileName_1;
        std::string box = KrvNoFreeName, line = head + " " + KV_NoZipFileName_2;
        if (tooLong) {
            box = head + "\r\n" + KV_NoZipFileName_TooLong + "\r\n" + candidate;
            line = head + " " + KV_NoZipFileName_TooLong + " " + candidate;
        }
        if (!KorvaneState().Batch) ShowMessageBox(box, KV_NoZipFileName_Title, MB_ICONERROR);
        log(line, lcRed, 0, lkNormal);
        return {};
    }
    return candidate;
}

std::string NameBesideReadOnly(const std::string& archive, const TLogCall& log) {
    log(KV_ArchiveReadOnly + " " + archive, lcBlack, 0, lkNormal);
    std::string name = FindFreeArchiveName(archive, log);
    if (!name.empty()) log(KV_ArchiveNameChanged + ExtractFileName(name), lcBlack, 0, lkNormal);
    return name;
}

bool TBackupRun::OpenArchiveTarget() {
    const TLogCall log = LogCall();
    std::string& target = target_;
    std::string& writing = writing_;
    ArchiveToReplace.clear();
    // With its backslash: a drive's root without it ("D:") is that drive's current folder.
    const std::string folder =
        IncludeTrailingBackslash(ExcludeTrailingBackslash(job_.Mode == bmHardDisk ? job_.Destination : job_.TempDir));
    target = folder + job_.ArchiveName;
    if (!ArchivePathUsable(target, log)) return false;
    RemoveStaleTemporaryArchives(folder, log);
    if (job_.Mode == bmHardDisk) {
        const bool replace = job_.Overwrite && FileExists(target);
        if (replace && !IsReadOnly(target)) {
            // The old backup stays until the new one is whole.
            ArchiveToReplace = target;
        } else {
            target = replace ? NameBesideReadOnly(target, log) : FindFreeArchiveName(target, log);
            if (target.empty()) return false;
        }
    } else if (FileExists(target) && !DeleteFileAny(target)) {
        AddLog(target + ": " + SysErrorMessage(::GetLastError()), lcRed, 0, lkNormal);
    }
    writing = TemporaryArchiveName(folder);
    if (writing.empty()) {
        AddLog(KV_Error + ": " + folder + ": " + SysErrorMessage(::GetLastError()), lcRed, 0, lkNormal);
        return false;
    }
    // Created here for a disc as well: the system made the temporary name as
    // an empty file, which is no archive to add to.
    try {
        archiver_.FileName = writing;
        archiver_.OpenArchive(fmCreate);
    } catch (const std::exception& e) {
        AddLog(KV_Error + ": " + DescribeError(e), lcRed, 0, lkNormal);
        DeleteArchiveFiles(writing, log);
        return false;
    }
    return true;
}

std::string TBackupRun::CommitArchive(std::string target) {
    const std::string& writing = writing_;
    // A disc's archive in the temp folder is the run's own: an earlier one is replaced.
    bool replace = job_.Mode == bmDisc || !ArchiveToReplace.empty();
    if (job_.Mode == bmHardDisk && replace && IsReadOnly(target)) {
        replace = false;
        target = NameBesideReadOnly(target, LogCall());
        if (target.empty()) return {};
    }
    auto failed = [this](const std::string& path) {
        AddLog(KV_Error + ": " + path + ": " + SysErrorMessage(::GetLastError()), lcRed, 0, lkNormal);
        return std::string();
    };
    // The volumes first: the archive's own name appears only on a whole set.
    const std::vector<std::string> volumes = ArchiveVolumes(writing);
    for (size_t i = 0; i < volumes.size(); ++i) {
        const std::string volume = ArchiveVolume(target, static_cast<int>(i) + 1);
        if (MoveFileAny(volumes[i], volume, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) continue;
        failed(volume);
        for (size_t done = 0; done < i; ++done) DeleteFileAny(ArchiveVolume(target, static_cast<int>(done) + 1));
        return {};
    }
    // A name taken by someone else while the run wrote is never overwritten:
    // the next free one is taken (each try takes a longer name, so this ends).
    for (;;) {
        const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
        if (MoveFileAny(writing, target, flags)) return target;
        const DWORD error = ::GetLastError();
        if (replace || (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)) return failed(target);
        // From the asked name, as every free name is found (X_1.zip, X_1_2.zip...):
        // from the name just taken it would be X_1_1.zip.
        target = FindFreeArchiveName(ExtractFilePath(target) + job_.ArchiveName, LogCall());
        if (target.empty()) return {};
        AddLog(KV_ArchiveNameChanged + ExtractFileName(target), lcBlack, 0, lkNormal);
    }
}

} // namespace krv
