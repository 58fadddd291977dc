// The path of a scratch file in the system temp folder (on C:, never Z:),
// and a scratch name no other run gives.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace krv::test {

inline std::string TempPath(const std::string& name) {
    char dir[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + name;
}

// "<prefix>_" and 16 random hex digits. A Windows process id is no unique
// name: every prefix gives them out in the same order, so a rerun meets the
// leftover of a run that was stopped, and a folder other runs see too (a
// user's Documents) meets theirs.
inline std::string UniqueName(const std::string& prefix) {
    GUID g{};
    if (FAILED(::CoCreateGuid(&g))) throw std::runtime_error("no random name for " + prefix);
    char tail[24];
    std::snprintf(tail, sizeof tail, "_%08lx%04x%04x", g.Data1, g.Data2, g.Data3);
    return prefix + tail;
}

} // namespace krv::test
