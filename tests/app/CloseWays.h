// The ways a close reaches a window while its task runs: a close message (a
// program ending others, the system at log-off), the close command of the
// system menu, and Alt+F4 on the window.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

namespace krvtest {

struct CloseWay {
    std::string name;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};

inline const std::vector<CloseWay>& CloseWays() {
    static const std::vector<CloseWay> ways = {
        {"WM_CLOSE", WM_CLOSE, 0, 0},
        {"SC_CLOSE", WM_SYSCOMMAND, SC_CLOSE, 0},
        // Scan code 0x3E, Alt held (bit 29).
        {"Alt+F4", WM_SYSKEYDOWN, VK_F4, static_cast<LPARAM>(0x20000001 | (0x3E << 16))},
    };
    return ways;
}

inline void PostClose(HWND window, const CloseWay& way) { ::PostMessageA(window, way.msg, way.wParam, way.lParam); }
// Handled before this returns (Alt+F4 only posts the close command on).
inline void SendClose(HWND window, const CloseWay& way) { ::SendMessageA(window, way.msg, way.wParam, way.lParam); }

// Sends the close and handles the messages it posts on (Alt+F4) until
// heard() says the window took it (bounded). Called where a worker waits for this thread, it makes the
// close land while the task still runs.
inline bool CloseWhileWorking(HWND window, const CloseWay& way, const std::function<bool()>& heard) {
    SendClose(window, way);
    for (int i = 0; i < 200 && !heard(); ++i) {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
        if (!heard()) ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return heard();
}

// The caption shows no close box and there is no window menu to close from.
inline bool HasBorderIcons(HWND window) { return (::GetWindowLongA(window, GWL_STYLE) & WS_SYSMENU) != 0; }

} // namespace krvtest
