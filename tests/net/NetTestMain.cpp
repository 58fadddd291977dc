// The socket tests' own entry point: the process ends as soon as the results
// are printed. Once in several runs the program hung after its last test,
// in the process's exit (system lookup threads the tests started may still
// be at work then); nothing after the results needs to run, and a hang there
// would cost the whole suite's time limit.
#include <gtest/gtest.h>
#include <windows.h>
#include <cstdio>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::fflush(stdout);
    std::fflush(stderr);
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(result));
    return result;
}
