/* Waits for a top-level window whose caption starts with a text and sends it
   a close the way the system or a person would: "close" posts WM_CLOSE (a
   program ending others, the system at log-off), "command" posts the system
   menu's close command, "altf4" the Alt+F4 key. Exit code 0 when the close
   was posted, 1 when no such window showed within the time, 2 on bad use.
   Used by tests/e2e/endings_scan.sh. */
#include <windows.h>
#include <stdlib.h>
#include <string.h>

static const char* prefix;
static HWND found;

static BOOL CALLBACK Look(HWND wnd, LPARAM unused) {
    char caption[256];
    (void)unused;
    if (GetWindowTextA(wnd, caption, sizeof caption) > 0 && strncmp(caption, prefix, strlen(prefix)) == 0) {
        found = wnd;
        return FALSE;
    }
    return TRUE;
}

int main(int argc, char** argv) {
    DWORD start, limit;
    if (argc != 4) return 2;
    prefix = argv[1];
    limit = (DWORD)strtoul(argv[3], NULL, 10);
    start = GetTickCount();
    while (!found) {
        EnumWindows(Look, 0);
        if (found) break;
        if (GetTickCount() - start > limit) return 1;
        Sleep(5); /* polling another process's windows: there is nothing to wait on */
    }
    if (strcmp(argv[2], "close") == 0) return PostMessageA(found, WM_CLOSE, 0, 0) ? 0 : 1;
    if (strcmp(argv[2], "command") == 0) return PostMessageA(found, WM_SYSCOMMAND, SC_CLOSE, 0) ? 0 : 1;
    if (strcmp(argv[2], "altf4") == 0)
        return PostMessageA(found, WM_SYSKEYDOWN, VK_F4, (LPARAM)(0x20000001 | (0x3E << 16))) ? 0 : 1;
    return 2;
}
