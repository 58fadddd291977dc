// Holds Wine's desktop for a test run. The desktop process is started by the
// first program that uses the desktop, keeps that program's output open, and
// lives until no program uses the desktop any more: started by a test, it
// held that test's output until every later test had ended, and the test ran
// into its time-out on a slow machine. Started by this program, with its
// output going nowhere, it lives as long as this program does. Usage:
//   keepdesktop READY-FILE SECONDS
// uses the desktop, creates READY-FILE, and waits until it is ended (at most
// SECONDS). Exit code 0, 1 when the desktop or the file could not be had, 2
// on bad use.
#include "framework/Handle.h"
#include <windows.h>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    if (!::GetDesktopWindow()) return 1;
    krv::FileHandle ready(::CreateFileA(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!ready) return 1;
    ready.reset();
    ::Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)) * 1000);
    return 0;
}
