// Helpers of the session tests: a scratch folder emptied and removed at the
// end, whole-file reads and writes, and a fixed clock.
#pragma once
#include "app/SessionData.h"
#include "TempFolder.h"
#include "framework/SysUtils.h"
#include <windows.h>
#include <cstdio>
#include <string>

class SessionFolder : public krvtest::ScratchFolder {
public:
    SessionFolder() : ScratchFolder("krv_session") {}
};

inline std::string ReadFileBytes(const std::string& path) {
    std::string out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
    return out;
}

// Pins the session clock for one test; 46362.5 is 6 December 2026, noon.
class FixedSessionClock {
public:
    explicit FixedSessionClock(krv::TDateTime now = 46362.5) : saved_(krv::TSessionData::Clock) {
        krv::TSessionData::Clock = [this] { return now_; };
        now_ = now;
    }
    ~FixedSessionClock() { krv::TSessionData::Clock = saved_; }
    FixedSessionClock(const FixedSessionClock&) = delete;
    FixedSessionClock& operator=(const FixedSessionClock&) = delete;
    void Set(krv::TDateTime now) { now_ = now; }

private:
    std::function<krv::TDateTime()> saved_;
    krv::TDateTime now_ = 0;
};
