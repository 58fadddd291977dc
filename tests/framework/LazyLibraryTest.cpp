#include "framework/LazyLibrary.h"
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

using namespace krv;

namespace {
std::string FailureText(TLazyLibrary& library, const char* entry) {
    try {
        library.Proc(entry);
    } catch (const Exception& e) {
        return e.what();
    }
    return {};
}
}

// A rare path that cannot get its library or entry point must say which one,
// never call through a null pointer.
TEST(LazyLibrary, MissingLibraryOrEntryIsRaisedByName) {
    TLazyLibrary missing("krv-no-such-library.dll");
    const std::string noLibrary = FailureText(missing, "Anything");
    EXPECT_NE(noLibrary.find("krv-no-such-library.dll"), std::string::npos) << noLibrary;
    // A failed load is tried again, not remembered as loaded.
    EXPECT_NE(FailureText(missing, "Anything"), "");

    const std::string noEntry = FailureText(VersionLibrary(), "KrvNoSuchEntryPoint");
    EXPECT_NE(noEntry.find("KrvNoSuchEntryPoint"), std::string::npos) << noEntry;
    EXPECT_NE(noEntry.find("version.dll"), std::string::npos) << noEntry;
}

// Threads asking at once load the library once and see the system's own entry.
TEST(LazyLibrary, ConcurrentFirstCallsShareOneLoad) {
    TLazyLibrary library("winmm.dll");
    std::vector<HMODULE> seen(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i) threads.emplace_back([&, i] { seen[i] = library.Module(); });
    for (std::thread& t : threads) t.join();
    for (HMODULE m : seen) EXPECT_EQ(m, seen[0]);
    ASSERT_NE(seen[0], nullptr);
    auto viaLoader = KRV_LAZY_CALL(MultimediaLibrary, timeGetTime);
    EXPECT_EQ(reinterpret_cast<void*>(viaLoader),
              reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("winmm.dll"), "timeGetTime")));
}

// An optional library answers null for whatever is missing and never raises,
// so a system without it takes the plain path; asked as required, it still
// names what is missing.
TEST(LazyLibrary, OptionalLookupsAnswerNullForWhatIsMissing) {
    TLazyLibrary missing("krv-no-such-library.dll");
    EXPECT_EQ(missing.TryModule(), nullptr);
    EXPECT_EQ(missing.TryProc("Anything"), nullptr);
    EXPECT_NE(FailureText(missing, "Anything").find("krv-no-such-library.dll"), std::string::npos);

    TLazyLibrary theme("uxtheme.dll");
    ASSERT_NE(theme.TryModule(), nullptr);
    EXPECT_EQ(theme.TryModule(), theme.Module());
    EXPECT_EQ(theme.TryProc("KrvNoSuchEntryPoint"), nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(theme.TryProc("OpenThemeData")),
              reinterpret_cast<void*>(::GetProcAddress(theme.Module(), "OpenThemeData")));
}
