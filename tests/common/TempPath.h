// The path of a scratch file in the system temp folder (on C:, never Z:).
#pragma once
#include <windows.h>
#include <string>

namespace krv::test {

inline std::string TempPath(const std::string& name) {
    char dir[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + name;
}

} // namespace krv::test
