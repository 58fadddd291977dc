// A scratch folder for language files, removed with everything in it.
#pragma once
#include "framework/SysUtils.h"
#include <windows.h>
#include <cstdio>
#include <string>
#include <vector>

class LangFolder {
public:
    LangFolder() {
        char tmp[MAX_PATH] = {};
        ::GetTempPathA(MAX_PATH, tmp);
        path_ = krv::Format("%skrv_lang_%lu_%d\\", tmp, ::GetCurrentProcessId(), counter_++);
        ::CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~LangFolder() {
        for (const auto& f : files_) ::DeleteFileA(f.c_str());
        for (auto d = dirs_.rbegin(); d != dirs_.rend(); ++d) ::RemoveDirectoryA(d->c_str());
        ::RemoveDirectoryA(path_.c_str());
    }
    LangFolder(const LangFolder&) = delete;
    LangFolder& operator=(const LangFolder&) = delete;

    const std::string& Dir() const { return path_; }
    std::string Path(const std::string& name) const { return path_ + name; }
    std::string Write(const std::string& name, const std::string& text) {
        const std::string p = Path(name);
        FILE* f = std::fopen(p.c_str(), "wb");
        if (f) {
            std::fwrite(text.data(), 1, text.size(), f);
            std::fclose(f);
        }
        files_.push_back(p);
        return p;
    }

    // A sub-folder, removed (when empty of untracked files) with the rest.
    std::string MakeDir(const std::string& name) {
        const std::string p = Path(name);
        ::CreateDirectoryA(p.c_str(), nullptr);
        dirs_.push_back(p);
        return p;
    }
    // A file something else writes here, removed with the rest.
    std::string Track(const std::string& name) {
        files_.push_back(Path(name));
        return Path(name);
    }

private:
    std::vector<std::string> dirs_;
    static inline int counter_ = 0;
    std::string path_;
    std::vector<std::string> files_;
};
