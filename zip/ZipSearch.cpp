// The file search of an update: masks turned into folders and name patterns,
// folders walked, every found path tested against the exclusions and marked
// in the update list under its stored name. Nothing is read or written here.
#include "zip/ZipArchiver.h"
#include "zip/ZipMask.h"
#include "zip/ZipPrefetch.h"
#include <windows.h>

namespace krv {

namespace {

bool IsSep(char c) { return c == '\\' || c == '/'; }
bool HasWildcards(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

// The path below root, or the whole path when it lies elsewhere.
std::string RelativeTo(const std::string& path, const std::string& root) {
    std::string r = ZipTrailingSeparator(root);
    if (path.size() >= r.size() && CompareText(path.substr(0, r.size()), r) == 0) return path.substr(r.size());
    return path;
}

uint32_t DosTimeOf(const FILETIME& ft) {
    FILETIME local;
    WORD date = 0, time = 0;
    if (!::FileTimeToLocalFileTime(&ft, &local) || !::FileTimeToDosDateTime(&local, &date, &time)) return 0;
    return (static_cast<uint32_t>(date) << 16) | time;
}

// Whether path is the archive or one of its volumes beside it (name.Z01 ...
// and name_001.ext), by exact names.
bool IsArchiveOrVolume(const std::string& path, const std::string& archive) {
    if (path == archive) return true;
    if (ExtractFilePath(path) != ExtractFilePath(archive)) return false;
    std::string ext = ExtractFileExt(archive);
    std::string base = ExtractFileName(archive);
    base.resize(base.size() - ext.size());
    std::string name = ExtractFileName(path);
    if (name.size() <= base.size() || name.compare(0, base.size(), base) != 0) return false;
    std::string rest = name.substr(base.size());
    auto digits = [](const std::string& s) {
        return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
    };
    if (rest.size() > 2 && (rest.substr(0, 2) == ".Z" || rest.substr(0, 2) == ".z") && digits(rest.substr(2))) return true;
    if (rest.size() > 1 && rest[0] == '_' && CompareText(ExtractFileExt(rest), ext) == 0)
        return digits(rest.substr(1, rest.size() - 1 - ext.size()));
    return false;
}

// The path of the file an old entry stands for whose name differs from a
// found one's only in letter case: the found path with those letters as the
// entry has them. Empty where the names do not map onto the path's end.
std::string PathSpelledAs(const std::string& path, const std::string& name, const std::string& oldName) {
    if (name.size() != oldName.size()) return {};
    // A folder's entry ends in "/" where its path ends in its name.
    const size_t end = name.size() - (!name.empty() && name.back() == '/' && oldName.back() == '/' ? 1 : 0);
    size_t first = 0;
    while (first < end && name[first] == oldName[first]) ++first;
    const size_t tail = end - first;
    if (tail == 0 || tail > path.size()) return {};
    std::string spelled = path;
    for (size_t k = 1; k <= tail; ++k) {
        const char found = name[end - k], old = oldName[end - k];
        char& at = spelled[path.size() - k];
        if ((found == '/' ? '\\' : found) != at) return {};
        if (found != old) at = old;
    }
    return spelled;
}

// Whether EntryPath leaves path as it is (its root aside: "c:" is the drive "C:").
bool EntryPathKeeps(const std::string& path) { return EntryPath(path) == SystemRoot(path); }

// Every name the folder holds; false when it could not be listed.
bool ListNames(const std::string& folder, std::unordered_set<std::string>& names) {
    WIN32_FIND_DATAA fd;
    bool wide = false;
    FindHandle find(FindFirstFileAny(folder + "*", fd, wide));
    if (find) {
        do names.insert(fd.cFileName);
        while (FindNextFileAny(find.get(), fd, wide));
    }
    const DWORD error = ::GetLastError();
    return error == ERROR_NO_MORE_FILES || error == ERROR_FILE_NOT_FOUND;
}

} // namespace

void TZipBaseArchiver::SearchMasks(const TStrings& exclusions) {
    std::string base = ZipTrailingSeparator(ZipExpandPath(BaseDir, ""));
    searchPaths_.base = base;
    // The archive as the file it is, so that the search's names (a listing's)
    // are compared with it exactly: "x.zip" beside "X.zip" is another file.
    searchPaths_.archiveNamed = FileName.empty() ? std::string() : ZipExpandPath(FileName, "");
    searchPaths_.archive = EntryPath(searchPaths_.archiveNamed);
    searchPaths_.masks.clear();
    searchPaths_.spelled.clear();
    for (int i = 0; i < fileMasks_.Count(); ++i) {
        const std::string& mask = fileMasks_[i];
        if (Trim(mask).empty()) continue;
        // Found paths are compared by their bytes with the exclusions and the
        // archive (EntryPath's): their root is spelled as those spell it.
        std::string full = SystemRoot(ZipExpandPath(mask, base));
        if (!HasWildcards(full) && FileExists(full)) {
            AddFoundPath(full, false, ExtractFilePath(full), exclusions);
            continue;
        }
        std::string folder = ExtractFilePath(full);
        // Exclusions with a folder part are taken relative to the base folder,
        // or to the searched folder when no base folder is set.
        std::string root = BaseDir.empty() ? folder : base;
        SearchOne(folder, ExtractFileName(full), root, exclusions, Options.SearchAttr);
    }
}

bool TZipBaseArchiver::SearchOne(const std::string& folder, const std::string& namePart, const std::string& root,
                                 const TStrings& exclusions, int searchAttr) {
    const DWORD fileAttr = static_cast<DWORD>(searchAttr) & ~FILE_ATTRIBUTE_DIRECTORY;
    const DWORD allOld = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    bool listed = ListFolder(folder, namePart, [&](const WIN32_FIND_DATAA& fd) {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return;
        DWORD a = fd.dwFileAttributes;
        bool accepted = (a & fileAttr) != 0 || (a == 0 && (static_cast<DWORD>(searchAttr) & allOld) == allOld);
        if (accepted) AddFoundPath(folder + fd.cFileName, false, root, exclusions, &fd);
    });
    const bool folders = (searchAttr & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!listed || (!folders && !Options.Recurse)) return listed;
    const auto& list = dir_->UpdateList;
    return ListFolder(folder, "*.*", [&](const WIN32_FIND_DATAA& fd) {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return;
        std::string name = fd.cFileName;
        if (name == "." || name == "..") return;
        std::string sub = folder + name;
        if (Excluded(sub, true, root, exclusions)) return;
        const bool named = folders && (MatchesMask(name, namePart) || MatchesMask(name + ".", namePart));
        // Links to folders are not followed (they can loop or leave the tree), and say so.
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            if (named || Options.Recurse) SearchFailure(sub, ZipNative::FolderLinkNotFollowed, ERROR_SUCCESS);
            return;
        }
        if (named) {
            const int at = AddFoundPath(sub, true, root, exclusions, &fd);
            // A folder that could not be listed (or was gone when it was) must
            // not stand in the archive as an empty one: its own entry goes,
            // wherever it stands (an earlier mask may have found it), and the
            // files listed in it before the failure stay.
            if (at >= 0 && Options.Recurse) {
                const std::string name = list.Item(at).name;
                if (!SearchOne(sub + "\\", namePart, root, exclusions, searchAttr)) TakeBack(name);
            }
        } else if (Options.Recurse) {
            SearchOne(sub + "\\", namePart, root, exclusions, searchAttr);
        }
    });
}

bool TZipBaseArchiver::ListFolder(const std::string& folder, const std::string& pattern,
                                  const std::function<void(const WIN32_FIND_DATAA&)>& found) {
    for (;;) {
        WIN32_FIND_DATAA fd;
        bool wide = false;
        DWORD error;
        {
            FindHandle find(FindFirstFileAny(folder + pattern, fd, wide));
            if (find) {
                do found(fd);
                while (FindNextFileAny(find.get(), fd, wide));
            }
            error = ::GetLastError();
        }
        // Nothing that matches is an empty listing; any other end is a failure.
        if (error == ERROR_NO_MORE_FILES || error == ERROR_FILE_NOT_FOUND) return true;
        std::string path = folder.size() > 3 ? ExcludeTrailingBackslash(folder) : folder;
        if (!SearchFailure(path, ZipNative::CannotListFolder, error)) return false;
    }
}

bool TZipBaseArchiver::SearchFailure(const std::string& path, int nativeError, unsigned long systemError) {
    // Each folder once, though several masks and searches of the update reach
    // it; by its exact name: "DATA" beside "data" is another folder.
    if (!searchPaths_.leftOut.insert(path).second) return false;
    EZipException failure = EZipException::Fmt(nativeError, this, path.c_str()).WithSystemError(systemError);
    TZipAction action = fxaIgnore;
    failureSystemError_ = systemError;
    DoProcessFileFailure(path, poAdd, failure.NativeError, failure.ErrorCode, DescribeError(failure), action);
    if (action == fxaAbort) throw failure;
    if (action != fxaRetry || nativeError != ZipNative::CannotListFolder) return false;
    searchPaths_.leftOut.erase(path);
    return true;
}

bool TZipBaseArchiver::Excluded(const std::string& path, bool isFolder, const std::string& root,
                                const TStrings& masks) const {
    for (int i = 0; i < masks.Count(); ++i) {
        std::string mask = Trim(masks[i]);
        if (mask.empty()) continue;
        if (mask == "*.*") return true;
        if (ZipIsRelativeMask(mask)) {
            if (mask.find_first_of("\\/") == std::string::npos) {
                // A bare name mask speaks of files: "*.xps" never drops a folder "dir.xps".
                if (!isFolder && MatchesMask(ExtractFileName(path), mask)) return true;
                continue;
            }
            std::string m = StringReplaceAll(mask, "/", "\\");
            std::string rel = RelativeTo(path, root);
            if (isFolder) {
                rel += '\\';
                if (m.back() != '*' && m.back() != '\\') m += '\\';
            }
            if (MatchesMask(rel, m)) return true;
        } else {
            // The entries the mask names (EntryPath), compared with the found
            // (real) names exactly; a name holding a wildcard is a pattern.
            auto known = searchPaths_.masks.find(mask);
            if (known == searchPaths_.masks.end()) {
                const std::string full = EntryPath(ZipExpandPath(mask, ZipExpandPath(BaseDir, "")));
                known = searchPaths_.masks.emplace(mask, full).first;
            }
            std::string full = known->second;
            std::string p = path;
            if (isFolder) {
                p += '\\';
                if (full.back() != '*' && !IsSep(full.back())) full += '\\';
            }
            const std::string name = ExtractFileName(full);
            if (ExtractFilePath(p) == ExtractFilePath(full) &&
                (HasWildcards(name) ? MatchesMask(ExtractFileName(p), name) : ExtractFileName(p) == name))
                return true;
        }
    }
    return false;
}

bool TZipBaseArchiver::ExclusionKeepsOut(const std::string& folder, const std::string& searched) const {
    const std::string top = ZipTrailingSeparator(searched);
    // The searched folder itself is never tested, only what the search meets below it.
    if (folder.size() <= top.size()) return false;
    const std::string root = BaseDir.empty() ? top : ZipTrailingSeparator(ZipExpandPath(BaseDir, ""));
    size_t at = top.size();
    do {
        at = folder.find_first_of("\\/", at + 1);
        if (Excluded(folder.substr(0, at), true, root, exclusionMasks_)) return true;
    } while (at != std::string::npos);
    return false;
}

bool TZipBaseArchiver::IsOwnFile(const std::string& path) const {
    if (FileName.empty() || inMemory_) return false;
    // The archive as the file it is, and as the name its volumes are made from.
    return IsArchiveOrVolume(path, searchPaths_.archive) || IsArchiveOrVolume(path, searchPaths_.archiveNamed);
}

bool TZipBaseArchiver::SpelledSoOnDisk(const std::string& path) {
    // Asked for each old entry an update claims: a path's walk name by name
    // costs a find per name, and the system scans the whole folder for a name
    // it lacks, so each folder is asked once and its names are looked up here.
    const std::string folder = ExtractFilePath(path);
    auto [at, added] = searchPaths_.spelled.try_emplace(folder);
    auto& known = at->second;
    if (added) {
        known.exact = EntryPathKeeps(folder);
        known.listed = known.exact && ListNames(folder, known.names);
        if (!known.listed) known.names.clear();
        for (const std::string& name : known.names) known.folded.insert(AnsiUpperCase(name));
    }
    if (!known.exact) return false;
    const std::string name = ExtractFileName(path);
    if (known.listed && known.names.count(name)) return true;
    // Where the folder holds the name in another case, the system finds that
    // one; only where it holds none does the path stand as spelled.
    if (known.listed && known.folded.count(AnsiUpperCase(name))) return false;
    return EntryPathKeeps(path);
}

void TZipBaseArchiver::TakeBack(const std::string& name) {
    auto& list = dir_->UpdateList;
    const int index = list.IndexOfName(name);
    if (index < 0) return;
    // An entry the archive already holds keeps it; only this update's mark goes.
    const std::string& oldName = list.Item(index).oldName;
    if (const int old = dir_->Directory.IndexOfName(oldName.empty() ? name : oldName); old >= 0) {
        list.Put(index, dir_->Directory.Item(old));
        return;
    }
    list.Delete(index);
    if (prefetchFrom_ > index) --prefetchFrom_;
}

int TZipBaseArchiver::AddFoundPath(const std::string& path, bool isFolder, const std::string& root,
                                   const TStrings& exclusions, const WIN32_FIND_DATAA* found) {
    if (Excluded(path, isFolder, root, exclusions) || IsOwnFile(path)) return -1;
    bool confirm = true;
    DoConfirmProcessFile(path, poAdd, confirm);
    if (!confirm) return -1;

    std::string name = ZipStoredNameBelow(path, searchPaths_.base, Options.StorePath);
    if (isFolder) name += '/';
    WIN32_FILE_ATTRIBUTE_DATA data{};
    bool known = found != nullptr;
    if (found) {
        data.dwFileAttributes = found->dwFileAttributes;
        data.ftLastWriteTime = found->ftLastWriteTime;
    } else {
        known = GetFileAttributesAny(path, data);
    }
    uint32_t attr = known ? data.dwFileAttributes : (isFolder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE);
    uint32_t dosTime = known ? DosTimeOf(data.ftLastWriteTime) : 0;
    std::string comment;
    DoStoreFile(name, attr, comment, path);

    auto& list = dir_->UpdateList;
    // The entry of exactly this name; only where there is none, an entry the
    // archive held under another spelling that no found name has claimed and
    // whose own file has no entry of its exact name (the same file, where its
    // folder does not tell case apart).
    int index = list.IndexOfName(name);
    std::string replaces;
    if (index < 0 && dir_->Directory.Count() > 0 && (index = list.IndexOfUnclaimed(name)) >= 0) {
        const std::string own = PathSpelledAs(path, name, list.Item(index).name);
        if (!own.empty() && SpelledSoOnDisk(own)) index = -1;
        else replaces = list.Item(index).name;
    }
    if (index >= 0) {
        TDirItem& old = list.Item(index);
        bool replace = true;
        switch (Options.OverwriteMode) {
        case omPrompt: {
            std::string dest = old.name;
            DoConfirmOverwrite(path, dest, replace);
            break;
        }
        case omAlways: break;
        case omNever: replace = false; break;
        case omIfNewer:
        case omIfOlder: {
            uint32_t disk = dosTime;
            uint32_t stored = (static_cast<uint32_t>(old.date) << 16) | old.time;
            replace = Options.OverwriteMode == omIfNewer ? disk > stored : disk < stored;
            break;
        }
        }
        if (!replace) return -1;
        TDirItem item;
        FillItem(item, path, isFolder, attr, dosTime);
        // Only an entry the archive already holds is an update; a file found
        // twice in this update stays an addition.
        item.oldName = !replaces.empty() ? replaces : old.marked ? old.oldName : std::string();
        item.operation = !item.oldName.empty() || dir_->Directory.IndexOfName(name) >= 0 ? poUpdate : poAdd;
        item.name = name;
        item.comment = comment;
        list.Put(index, item);
    } else {
        TDirItem item;
        FillItem(item, path, isFolder, attr, dosTime);
        item.operation = poAdd;
        item.name = name;
        item.comment = comment;
        index = list.Add(item);
    }
    TDirItem& item = list.Item(index);
    if (!isFolder && Excluded(path, false, root, noCompressionMasks_)) {
        item.level = 0;
        item.method = 0;
    }
    if (!isFolder) QueueAhead(item, index);
    return index;
}

std::unique_ptr<TZipPrefetcher> TZipBaseArchiver::NewPrefetcher() const {
    unsigned workers = PrefetchWorkers >= 0 ? static_cast<unsigned>(PrefetchWorkers) : TZipPrefetcher::DefaultWorkers();
    return workers == 0 ? nullptr : std::make_unique<TZipPrefetcher>(workers, PrefetchRead);
}

void TZipBaseArchiver::QueueAheadInto(TZipPrefetcher& prefetch, const TDirItem& item) const {
    prefetch.Add({item.sourceName, ShareFlags(), item.level, item.method});
}

void TZipBaseArchiver::QueueAhead(const TDirItem& item, int index) {
    if (!prefetch_) {
        prefetch_ = NewPrefetcher();
        prefetchFrom_ = -1;
        if (!prefetch_) return;
    }
    if (prefetchFrom_ < 0 && prefetch_->HasRoom()) QueueAheadInto(*prefetch_, item);
    else if (prefetchFrom_ < 0) prefetchFrom_ = index;
}

void TZipBaseArchiver::FillItem(TDirItem& item, const std::string& path, bool isFolder, uint32_t attr,
                                uint32_t dosTime) {
    TDirItem fresh;
    fresh.versionMadeBy = fresh.versionNeeded = Options.OEMFileNames ? 20 : 0x0B14;
    UpdateCompressionMethod();
    fresh.method = static_cast<uint16_t>(compressionMethod_ < 0 ? 8 : compressionMethod_);
    fresh.flags = Password.empty() ? 0 : 1;
    uint32_t dt = dosTime != 0 ? dosTime : Now();
    fresh.date = static_cast<uint16_t>(dt >> 16);
    fresh.time = static_cast<uint16_t>(dt & 0xFFFF);
    fresh.crc = 0xFFFFFFFFu;
    fresh.externalAttr = attr;
    fresh.marked = true;
    fresh.password = Password;
    fresh.sourceName = path;
    fresh.level = static_cast<uint8_t>(compressionMode_);
    if (isFolder) {
        fresh.method = 0;
        fresh.crc = 0;
        fresh.flags = 2;
        fresh.level = 0;
    }
    item = fresh;
}

} // namespace krv
