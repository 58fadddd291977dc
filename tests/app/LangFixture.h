// A scratch folder for language files and program folders, removed with
// everything in it (hidden folders too).
#pragma once
#include "TempFolder.h"
#include "framework/SysUtils.h"
#include <windows.h>
#include <cstdio>
#include <string>

class LangFolder {
public:
    LangFolder() : path_(krvtest::NewTempFolder("krv_lang")) {}
    ~LangFolder() { krvtest::RemoveFolderTree(path_); }
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

    // A "lang" folder holding the language files and def.dat the build ships.
    void CopyShippedLanguages() {
        MakeDir("lang");
        for (const char* f : {"English.lang", "Deutsch.lang", "def.dat"})
            Copy(krv::ProgramFolder() + "..\\dist\\lang\\" + f, std::string("lang\\") + f);
    }

private:
    std::string path_;
};
