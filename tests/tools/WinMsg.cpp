// Sends a running program's windows what a person or Windows would: the
// end-to-end tests stop runs with it. Usage:
//   winmsg ACTION CAPTION [SECONDS]
// waits up to SECONDS (default 30) for a top-level window of the class
// "KorvaneForm" whose caption is CAPTION (a trailing "*" matches any rest),
// then does ACTION to it (each answer it waits for is bounded by SECONDS too:
// a busy machine answers late):
//   close      posts WM_CLOSE
//   sysclose   posts WM_SYSCOMMAND SC_CLOSE (the system menu's Close)
//   altf4      posts Alt+F4 as a system key
//   cancel     clicks its enabled button captioned "Cancel"
//   logoff     sends every top-level window of its process WM_QUERYENDSESSION,
//              then WM_ENDSESSION (logging off), then ends the process as
//              Windows does once they have answered
//   endsession the same messages, but the process is left to end itself
// Exit code: 0 done, 1 no such window in time, 2 bad arguments or failure.
#include "framework/Handle.h"
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Search {
    std::string caption;
    HWND found = nullptr;
};

bool Matches(const std::string& pattern, const std::string& text) {
    if (!pattern.empty() && pattern.back() == '*') return text.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
    return text == pattern;
}

std::string TextOf(HWND wnd) {
    char text[512] = {};
    GetWindowTextA(wnd, text, sizeof text);
    return text;
}

BOOL CALLBACK FindTop(HWND wnd, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    char cls[64] = {};
    GetClassNameA(wnd, cls, sizeof cls);
    if (std::string(cls) != "KorvaneForm" || !IsWindowVisible(wnd) || !Matches(search->caption, TextOf(wnd))) return TRUE;
    search->found = wnd;
    return FALSE;
}

BOOL CALLBACK FindCancel(HWND wnd, LPARAM param) {
    std::string text = TextOf(wnd);
    while (!text.empty() && text.back() == ' ') text.pop_back();   // the language file may pad captions
    if (text != "Cancel" || !IsWindowEnabled(wnd) || !IsWindowVisible(wnd)) return TRUE;
    *reinterpret_cast<HWND*>(param) = wnd;
    return FALSE;
}

struct Process {
    DWORD pid;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectOfProcess(HWND wnd, LPARAM param) {
    auto* process = reinterpret_cast<Process*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    if (pid == process->pid) process->windows.push_back(wnd);
    return TRUE;
}

int LogOff(HWND target, bool terminate, DWORD boundMs) {
    Process process{0, {}};
    GetWindowThreadProcessId(target, &process.pid);
    EnumWindows(CollectOfProcess, reinterpret_cast<LPARAM>(&process));
    krv::KernelHandle owned(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, process.pid));
    HANDLE handle = owned.get();
    if (!handle) {
        std::printf("winmsg: cannot open process %lu\n", process.pid);
        return 2;
    }
    for (HWND w : process.windows) {
        DWORD_PTR answer = 0;
        SendMessageTimeoutA(w, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, boundMs, &answer);
    }
    for (HWND w : process.windows) {
        DWORD_PTR answer = 0;
        SendMessageTimeoutA(w, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, boundMs, &answer);
    }
    // Windows ends the process once its windows have answered: nothing it
    // did not finish in its handlers may count.
    if (terminate) TerminateProcess(handle, 99);
    WaitForSingleObject(handle, boundMs);
    std::printf("winmsg: logged off %u windows\n", static_cast<unsigned>(process.windows.size()));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::printf("usage: winmsg close|sysclose|altf4|cancel|logoff|endsession CAPTION [SECONDS]\n");
        return 2;
    }
    const std::string action = argv[1];
    Search search{argv[2]};
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 30;
    for (int i = 0; i < seconds * 10 && !search.found; ++i) {
        EnumWindows(FindTop, reinterpret_cast<LPARAM>(&search));
        if (!search.found) Sleep(100);
    }
    if (!search.found) {
        std::printf("winmsg: no window \"%s\" within %d s\n", argv[2], seconds);
        return 1;
    }
    HWND wnd = search.found;
    if (action == "close") return PostMessageA(wnd, WM_CLOSE, 0, 0) ? 0 : 2;
    if (action == "sysclose") return PostMessageA(wnd, WM_SYSCOMMAND, SC_CLOSE, 0) ? 0 : 2;
    if (action == "altf4") {
        // Alt is down (bit 29) for both messages; the key goes up afterwards.
        const LPARAM down = 1 | (MapVirtualKeyA(VK_F4, 0) << 16) | (1 << 29);
        PostMessageA(wnd, WM_SYSKEYDOWN, VK_F4, down);
        return PostMessageA(wnd, WM_SYSKEYUP, VK_F4, down | (1u << 30) | (1u << 31)) ? 0 : 2;
    }
    if (action == "cancel") {
        HWND button = nullptr;
        for (int i = 0; i < seconds * 10 && !button; ++i) {
            EnumChildWindows(wnd, FindCancel, reinterpret_cast<LPARAM>(&button));
            if (!button) Sleep(100);
        }
        if (!button) {
            std::printf("winmsg: no enabled Cancel button\n");
            return 1;
        }
        return PostMessageA(button, BM_CLICK, 0, 0) ? 0 : 2;
    }
    if (action == "logoff" || action == "endsession") return LogOff(wnd, action == "logoff", seconds * 1000u);
    std::printf("winmsg: unknown action %s\n", action.c_str());
    return 2;
}
