// A scratch folder for language files and program folders, removed with
// everything in it (hidden folders too).
#pragma once
#include "framework/SysUtils.h"
#include <windows.h>
#include <cstdio>
#include <string>

class LangFolder {
public:
    LangFolder() {
        char tmp[MAX_PATH] = {};
        ::GetTempPathA(MAX_PATH, tmp);
        path_ = krv::Format("%skrv_lang_%lu_%d\\", tmp, ::GetCurrentProcessId(), counter_++);
        ::CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~LangFolder() { RemoveTree(path_); }
    LangFolder(const LangFolder&) = delete;
    LangFolder& operator=(const LangFolder&) = delete;

    // With a trailing "\".
    const std::string& Dir() const { return path_; }
    std::string Path(const std::string& name) const { return path_ + name; }
    std::string Write(const std::string& name, const std::string& text) {
        const std::string p = Path(name);
        FILE* f = std::fopen(p.c_str(), "wb");
        if (f) {
            std::fwrite(text.data(), 1, text.size(), f);
            std::fclose(f);
        }
        return p;
    }
    std::string MakeDir(const std::string& name) {
        const std::string p = Path(name);
        ::CreateDirectoryA(p.c_str(), nullptr);
        return p;
    }
    // Copies a file in under a new name.
    std::string Copy(const std::string& from, const std::string& name) {
        ::CopyFileA(from.c_str(), Path(name).c_str(), FALSE);
        return Path(name);
    }

private:
    static void RemoveTree(const std::string& dir) {
        WIN32_FIND_DATAA d;
        HANDLE h = ::FindFirstFileA((dir + "*").c_str(), &d);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                const std::string n = d.cFileName;
                if (n == "." || n == "..") continue;
                ::SetFileAttributesA((dir + n).c_str(), FILE_ATTRIBUTE_NORMAL);
                if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(dir + n + "\\");
                else ::DeleteFileA((dir + n).c_str());
            } while (::FindNextFileA(h, &d));
            ::FindClose(h);
        }
        ::RemoveDirectoryA(dir.c_str());
    }
    static inline int counter_ = 0;
    std::string path_;
};
