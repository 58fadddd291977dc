// Helpers shared by the bench programs.
#pragma once
#include "framework/Strings.h"
#include <windows.h>
#include <string>

namespace bench {

// Seconds on the performance counter.
inline double Now() {
    LARGE_INTEGER f, c;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&c);
    return double(c.QuadPart) / double(f.QuadPart);
}

// Adds the ";"-separated masks of a command-line argument to a list.
inline void SplitInto(krv::TStrings& list, const std::string& masks) {
    size_t start = 0;
    while (start <= masks.size()) {
        size_t end = masks.find(';', start);
        if (end == std::string::npos) end = masks.size();
        std::string m = krv::Trim(masks.substr(start, end - start));
        if (!m.empty()) list.Add(m);
        start = end + 1;
    }
}

// Answers the thread's messages for the given seconds (the show programs' life).
inline void RunMessagesFor(int seconds) {
    ::SetTimer(nullptr, 0, UINT(seconds) * 1000, nullptr);
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER && !msg.hwnd) break;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

} // namespace bench
