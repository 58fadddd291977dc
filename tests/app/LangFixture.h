// A scratch folder for language files and program folders, removed with
// everything in it (hidden folders too).
#pragma once
#include "TempFolder.h"
#include "framework/SysUtils.h"
#include <windows.h>
#include <cstdio>
#include <string>

class LangFolder : public krvtest::ScratchFolder {
public:
    LangFolder() : ScratchFolder("krv_lang") {}

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
};
