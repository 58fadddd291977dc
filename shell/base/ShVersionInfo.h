// The error table of the folder-browser family, its exceptions, and a reader
// of a file's version resource (used to learn the shell's version).
#pragma once
#include "framework/SysUtils.h"
#include <cstdint>
#include <string>
#include <vector>

namespace krv {

class EShException : public Exception {
public:
    EShException(const std::string& msg, int code) : Exception(msg), ErrorCode(code) {}
    int ErrorCode;
};
class EShVersionInfoError : public EShException {
public:
    using EShException::EShException;
};
class EShShellError : public EShException {
public:
    using EShException::EShException;
};

// Codes raised by this family.
constexpr int shErrOpenFile = 73;
constexpr int shErrNoVersionInfo = 100;
constexpr int shErrReadVersionInfo = 101;
constexpr int shErrShellVersion = 110;
constexpr int shErrVersionKey = 134;

// The table's message for a code ("" for a code it does not hold).
std::string ShErrorMessage(int code);

// Raises E with the table's message for code and that code.
template <class E> [[noreturn]] void RaiseShError(int code) { throw E(ShErrorMessage(code), code); }

// "4.72.3110.0" -> 4.72: a plain number when the text is one, else the text
// up to the second "." with the first "." as the decimal separator. 0 when
// nothing numeric is left.
double VersionTextToNumber(const std::string& text);

class TShCustomVersionInfo {
public:
    // Empty fileName: the running program's own file.
    explicit TShCustomVersionInfo(const std::string& fileName = "");
    virtual ~TShCustomVersionInfo() = default;

    const std::string& FileName() const { return fileName_; }
    // A value of the first language's string table; EShVersionInfoError 134
    // when the key is missing.
    std::string GetString(const std::string& key) const;
    bool HasString(const std::string& key) const;

    std::string FileVersion() const { return fileVersion_; }
    std::string ProductVersion() const { return productVersion_; }
    double FileVersionNumber() const { return fileVersionNumber_; }
    double ProductVersionNumber() const { return productVersionNumber_; }
    // The fixed part: flags and the four 16-bit parts of each version.
    uint32_t FileFlags() const { return fixed_.dwFileFlags & fixed_.dwFileFlagsMask; }
    uint32_t FileVersionMS() const { return fixed_.dwFileVersionMS; }
    uint32_t FileVersionLS() const { return fixed_.dwFileVersionLS; }
    uint32_t ProductVersionMS() const { return fixed_.dwProductVersionMS; }
    uint32_t ProductVersionLS() const { return fixed_.dwProductVersionLS; }

private:
    const char* Query(const std::string& sub) const;
    std::string fileName_;
    std::vector<char> data_;
    std::string prefix_;
    VS_FIXEDFILEINFO fixed_{};
    std::string fileVersion_, productVersion_;
    double fileVersionNumber_ = 0, productVersionNumber_ = 0;
};

class TShVersionInfo : public TShCustomVersionInfo {
public:
    using TShCustomVersionInfo::TShCustomVersionInfo;
};

} // namespace krv
