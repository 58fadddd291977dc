#include "app/ArchiveName.h"
#include "app/Log.h"
#include "app/Messages.h"
#include "framework/SysUtils.h"

namespace krv {

std::string WithZipExtension(const std::string& name) {
    const size_t at = name.find(".zip");
    if (at != std::string::npos && name.size() >= 4 && at == name.size() - 4) return name;
    return name + ".zip";
}

bool IsValidArchiveFileName(const std::string& name) {
    if (name.empty()) return false;
    for (unsigned char c : name)
        if (c < 0x20 || std::string("\\|/*?:<>\"").find(static_cast<char>(c)) != std::string::npos) return false;
    if (name.find_first_not_of(". ") == std::string::npos) return false;
    return !IsDeviceName(name);
}

std::string ArchiveNameRefusal(const std::string& name, const std::string& separator) {
    // A device name holds no wrong character: saying so would send the user looking for one.
    if (IsDeviceName(name)) return KV_ArchiveFileName_Device;
    return KV_ArchiveFileName_Error_1 + separator + KV_ArchiveFileName_Error_2;
}

} // namespace krv
