#include "app/ArchiveName.h"
#include "framework/SysUtils.h"

namespace krv {

std::string WithZipExtension(const std::string& name) {
    const size_t at = name.find(".zip");
    if (at != std::string::npos && name.size() >= 4 && at == name.size() - 4) return name;
    return name + ".zip";
}

namespace {
// Names Windows maps to devices whatever their extension: writing an
// archive there would "succeed" and keep nothing.
bool IsDeviceName(const std::string& name) {
    std::string base = AnsiUpperCase(name.substr(0, name.find('.')));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CLOCK$" || base == "CONIN$" ||
        base == "CONOUT$")
        return true;
    return base.size() == 4 && (base.rfind("COM", 0) == 0 || base.rfind("LPT", 0) == 0) && base[3] >= '1' &&
           base[3] <= '9';
}
} // namespace

bool IsValidArchiveFileName(const std::string& name) {
    if (name.empty()) return false;
    for (unsigned char c : name)
        if (c < 0x20 || std::string("\\|/*?:<>\"").find(static_cast<char>(c)) != std::string::npos) return false;
    if (name.find_first_not_of(". ") == std::string::npos) return false;
    return !IsDeviceName(name);
}

} // namespace krv
