// Scratch folders of the application tests: one of its own per use under
// the temp folder, and its removal with everything in it (read-only and
// hidden entries too); ScratchFolder owns one for a test's lifetime.
#pragma once
#include "framework/Handle.h"
#include "framework/SysUtils.h"
#include "common/TempPath.h"
#include <windows.h>
#include <atomic>
#include <cstdio>
#include <string>

namespace krvtest {

// Removes a folder and all it holds; with or without a trailing "\". Wide
// calls: names may end in a dot or a blank.
inline void RemoveFolderTree(const std::string& folder) {
    const std::string dir = krv::IncludeTrailingBackslash(folder);
    WIN32_FIND_DATAA fd;
    bool wide = false;
    krv::FindHandle h(krv::FindFirstFileAny(dir + "*", fd, wide));
    if (h) {
        do {
            const std::string n = fd.cFileName;
            if (n == "." || n == "..") continue;
            ::SetFileAttributesW(krv::LongPathW(dir + n).c_str(), FILE_ATTRIBUTE_NORMAL);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveFolderTree(dir + n);
            else ::DeleteFileW(krv::LongPathW(dir + n).c_str());
        } while (krv::FindNextFileAny(h.get(), fd, wide));
    }
    h.reset();
    ::RemoveDirectoryW(krv::LongPathW(dir).c_str());
}

// Makes "<parent>\<name>\" anew (emptied if a run before left it) and
// answers it, with the trailing "\".
inline std::string NewFolderIn(const std::string& parent, const std::string& name) {
    const std::string dir = krv::IncludeTrailingBackslash(parent) + name + "\\";
    RemoveFolderTree(dir);
    ::CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

// Makes "%TEMP%\<prefix>_<process>_<n>\" anew: the prefix's temp folder
// is this run's alone, and no two of its live processes share an id.
inline std::string NewTempFolder(const std::string& prefix) {
    static std::atomic<int> counter{0};
    char tmp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, tmp);
    return NewFolderIn(tmp, krv::Format("%s_%lu_%d", prefix.c_str(), ::GetCurrentProcessId(), counter++));
}

// A NewTempFolder, or a folder of a UniqueName in another folder, removed
// with everything in it when the test ends.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& prefix) : path_(NewTempFolder(prefix)) {}
    ScratchFolder(const std::string& parent, const std::string& prefix)
        : path_(NewFolderIn(parent, krv::test::UniqueName(prefix))) {}
    ~ScratchFolder() { RemoveFolderTree(path_); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // With a trailing "\".
    const std::string& Dir() const { return path_; }
    std::string Path(const std::string& name) const { return path_ + name; }
    // Writes the bytes to the named file and answers its path.
    std::string Write(const std::string& name, const std::string& bytes) const {
        const std::string p = Path(name);
        FILE* f = std::fopen(p.c_str(), "wb");
        if (f) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        return p;
    }

private:
    std::string path_;
};

} // namespace krvtest
