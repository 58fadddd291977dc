#include "shell/base/ShVersionInfo.h"
#include "framework/LazyLibrary.h"
#include <cstdlib>

namespace krv {

std::string ShErrorMessage(int code) {
    switch (code) {
    case shErrOpenFile: return "Error opening file";
    case shErrNoVersionInfo: return "File does not contain version info";
    case shErrReadVersionInfo: return "Unable to read version info";
    case shErrShellVersion: return "Operation not supported in this version of the shell";
    case shErrVersionKey: return "The specified key cannnot be found in version info";
    default: return "";
    }
}

namespace {

// A whole-text decimal number, "." as the separator; false when any other
// character is left over.
bool ParseNumber(const std::string& text, double& value) {
    const std::string t = Trim(text);
    if (t.empty()) return false;
    int dots = 0;
    for (char c : t) {
        if (c == '.') ++dots;
        else if (c < '0' || c > '9') return false;
    }
    if (dots > 1 || t == ".") return false;
    value = std::strtod(t.c_str(), nullptr);
    return true;
}

} // namespace

double VersionTextToNumber(const std::string& text) {
    double v = 0;
    if (ParseNumber(text, v)) return v;
    const size_t first = text.find('.');
    if (first == std::string::npos) return 0;
    size_t end = text.find('.', first + 1);
    std::string head = text.substr(0, end);
    // Texts such as "6.0 (xpsp.080413-2111)": keep the digits that lead.
    size_t stop = 0;
    while (stop < head.size() && ((head[stop] >= '0' && head[stop] <= '9') || head[stop] == '.')) ++stop;
    head.resize(stop);
    return ParseNumber(head, v) ? v : 0;
}

TShCustomVersionInfo::TShCustomVersionInfo(const std::string& fileName) : fileName_(fileName) {
    if (fileName_.empty()) {
        char path[MAX_PATH * 2] = {};
        ::GetModuleFileNameA(nullptr, path, sizeof path);
        fileName_ = path;
    } else if (!FileExists(fileName_)) {
        RaiseShError<EShVersionInfoError>(shErrOpenFile);
    }
    DWORD ignored = 0;
    const DWORD size = KRV_LAZY_CALL(VersionLibrary, GetFileVersionInfoSizeA)(fileName_.c_str(), &ignored);
    if (size == 0) {
        if (::GetLastError() == ERROR_RESOURCE_TYPE_NOT_FOUND) RaiseShError<EShVersionInfoError>(shErrNoVersionInfo);
        RaiseShError<EShVersionInfoError>(shErrReadVersionInfo);
    }
    data_.resize(size);
    if (!KRV_LAZY_CALL(VersionLibrary, GetFileVersionInfoA)(fileName_.c_str(), 0, size, data_.data()))
        RaiseShError<EShVersionInfoError>(shErrReadVersionInfo);

    void* block = nullptr;
    UINT len = 0;
    if (KRV_LAZY_CALL(VersionLibrary, VerQueryValueA)(data_.data(), "\\", &block, &len) && block && len >= sizeof(VS_FIXEDFILEINFO))
        fixed_ = *static_cast<VS_FIXEDFILEINFO*>(block);
    if (KRV_LAZY_CALL(VersionLibrary, VerQueryValueA)(data_.data(), "\\VarFileInfo\\Translation", &block, &len) && block && len >= 4) {
        const auto* pair = static_cast<const WORD*>(block);
        prefix_ = Format("StringFileInfo\\%.4x%.4x\\", pair[0], pair[1]);
    } else {
        RaiseShError<EShVersionInfoError>(shErrReadVersionInfo);
    }
    if (HasString("FileVersion")) fileVersion_ = GetString("FileVersion");
    if (HasString("ProductVersion")) productVersion_ = GetString("ProductVersion");
    fileVersionNumber_ = VersionTextToNumber(fileVersion_);
    productVersionNumber_ = VersionTextToNumber(productVersion_);
}

const char* TShCustomVersionInfo::Query(const std::string& key) const {
    void* value = nullptr;
    UINT len = 0;
    const std::string sub = "\\" + prefix_ + key;
    if (!KRV_LAZY_CALL(VersionLibrary, VerQueryValueA)(const_cast<char*>(data_.data()), sub.c_str(), &value, &len) || !value) return nullptr;
    return static_cast<const char*>(value);
}

bool TShCustomVersionInfo::HasString(const std::string& key) const { return Query(key) != nullptr; }

std::string TShCustomVersionInfo::GetString(const std::string& key) const {
    const char* v = Query(key);
    if (!v) RaiseShError<EShVersionInfoError>(shErrVersionKey);
    return v;
}

} // namespace krv
