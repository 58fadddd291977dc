#include "framework/IniFiles.h"
#include "framework/Strings.h"
#include <vector>

namespace krv {

namespace {
// Answers the whole list the profile function fills (NUL-separated), growing the buffer.
std::vector<char> ReadList(const char* section, const std::string& file) {
    std::vector<char> buf(4096);
    for (;;) {
        DWORD n = ::GetPrivateProfileStringA(section, nullptr, "", buf.data(), static_cast<DWORD>(buf.size()), file.c_str());
        if (n + 2 < buf.size()) {
            buf.resize(n);
            return buf;
        }
        buf.resize(buf.size() * 4);
    }
}
}

TIniFile::TIniFile(const std::string& fileName) {
    char full[MAX_PATH * 4];
    DWORD n = ::GetFullPathNameA(fileName.c_str(), sizeof full, full, nullptr);
    fileName_ = (n > 0 && n < sizeof full) ? std::string(full, n) : fileName;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) const {
    std::vector<char> buf(2048);
    for (;;) {
        DWORD n = ::GetPrivateProfileStringA(section.c_str(), key.c_str(), def.c_str(), buf.data(),
                                             static_cast<DWORD>(buf.size()), fileName_.c_str());
        if (n + 1 < buf.size()) return std::string(buf.data(), n);
        buf.resize(buf.size() * 4);
    }
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
    return StrToIntDef(Trim(ReadString(section, key, "")), def);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
    if (!::WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), fileName_.c_str()))
        throw EIniFileException("Unable to write to " + fileName_ + ": " + SysErrorMessage(::GetLastError()));
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
    WriteString(section, key, IntToStr(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

bool TIniFile::SectionExists(const std::string& section) const {
    return !ReadList(section.c_str(), fileName_).empty();
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
    TStringList keys;
    ReadSection(section, keys);
    for (int i = 0; i < keys.Count(); ++i)
        if (SameText(keys[i], key)) return true;
    return false;
}

void TIniFile::ReadSection(const std::string& section, TStringList& keys) const {
    keys.Clear();
    std::vector<char> buf = ReadList(section.c_str(), fileName_);
    size_t start = 0;
    for (size_t i = 0; i < buf.size(); ++i) {
        if (buf[i] == '\0') {
            if (i > start) keys.Add(std::string(buf.data() + start, i - start));
            start = i + 1;
        }
    }
    if (start < buf.size()) keys.Add(std::string(buf.data() + start, buf.size() - start));
}

void TIniFile::EraseSection(const std::string& section) {
    if (!::WritePrivateProfileStringA(section.c_str(), nullptr, nullptr, fileName_.c_str()))
        throw EIniFileException("Unable to write to " + fileName_ + ": " + SysErrorMessage(::GetLastError()));
}

void TIniFile::DeleteKey(const std::string& section, const std::string& key) {
    ::WritePrivateProfileStringA(section.c_str(), key.c_str(), nullptr, fileName_.c_str());
}

void TIniFile::UpdateFile() { ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, fileName_.c_str()); }

} // namespace krv
