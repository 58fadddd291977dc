// Helpers shared by the shell layer's tests: a scratch folder under the
// system temp folder (on C:, never Z:), hand-made identifier lists.
#pragma once
#include "framework/Handle.h"
#include "shell/base/PIDLTools.h"
#include "shell/base/SystemVersion.h"
#include <windows.h>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace krv { class TForm; }

namespace shelltest {

// One shown form for the controls of all tests: closing forms costs seconds under Wine.
krv::TForm& ShownForm();

// A fresh folder under %TEMP%, removed with everything in it afterwards.
class TempFolder {
public:
    explicit TempFolder(const std::wstring& name);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::wstring& Path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }
private:
    std::wstring path_;
};

void MakeDir(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);
// Removes a tree without following links to folders.
void RemoveTree(const std::wstring& path);

struct LinkFields {
    std::wstring target, arguments, description, workingDir, iconFile;
    int iconIndex = 0;
    WORD hotKey = 0;
    int showCmd = SW_SHOWNORMAL;
};
// Writes a link with the shell's own link object (our reader only reads).
void WriteLink(const std::wstring& file, const LinkFields& fields);

// A list made of the given identifiers' data, allocated with the task allocator.
LPITEMIDLIST MakePIDL(const std::vector<std::string>& ids);
std::vector<uint8_t> PIDLBytes(LPCITEMIDLIST pidl);

// Windows 98 as the version source for a scope (the 9x paths on this system).
class TFakeWindows98 {
public:
    TFakeWindows98();
    ~TFakeWindows98();
    TFakeWindows98(const TFakeWindows98&) = delete;
    TFakeWindows98& operator=(const TFakeWindows98&) = delete;
private:
    krv::TVersionSource old_;
};

// One to maxEdits random edits of a stream's bytes (a byte replaced, a bit
// flipped, the tail cut, a byte inserted); stops early once nothing is left.
// Answers messages until done() holds; bounded, so a fault fails instead of hanging.
bool PumpUntil(const std::function<bool()>& done, int rounds = 400, unsigned waitMs = 50);

void MutateBytes(std::vector<uint8_t>& bytes, std::mt19937& rng, int maxEdits);

// A row of a table of faults: what it checks, and the check (true when sound).
struct TFaultRow {
    const char* name;
    std::function<bool()> sound;
};

} // namespace shelltest
