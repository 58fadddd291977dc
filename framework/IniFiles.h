// An ini file over the Win32 profile functions. The file name is made
// absolute so the functions never fall back to the Windows folder.
#pragma once
#include "framework/SysUtils.h"
#include <string>

namespace krv {

class TStringList;

class EIniFileException : public Exception {
public:
    using Exception::Exception;
};

class TIniFile {
public:
    explicit TIniFile(const std::string& fileName);
    const std::string& FileName() const { return fileName_; }

    std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
    int ReadInteger(const std::string& section, const std::string& key, int def) const;
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;
    // Writes raise EIniFileException when the file cannot be written.
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int value);
    void WriteBool(const std::string& section, const std::string& key, bool value);

    bool SectionExists(const std::string& section) const;
    bool ValueExists(const std::string& section, const std::string& key) const;
    // The key names of a section, in file order.
    void ReadSection(const std::string& section, TStringList& keys) const;
    void EraseSection(const std::string& section);
    void DeleteKey(const std::string& section, const std::string& key);
    // Flushes the system's cached copy to disk.
    void UpdateFile();

private:
    std::string fileName_;
};

} // namespace krv
