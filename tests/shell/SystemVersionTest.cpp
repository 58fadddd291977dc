#include "shell/base/CallbackThunk.h"
#include "shell/base/ShellClipFormats.h"
#include "shell/base/SystemVersion.h"
#include "shell/base/WideStrUtils.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <vector>

using namespace krv;

namespace {
TOSVersion g_fake;
TOSVersion FakeVersion() { return g_fake; }

// Runs a test body as if on another system, then restores the real one.
class FakeSystem {
public:
    explicit FakeSystem(TOSVersion v) { g_fake = v; old_ = SetVersionSource(FakeVersion); }
    ~FakeSystem() { SetVersionSource(old_); }
private:
    TVersionSource old_;
};

TOSVersion Version(DWORD platform, DWORD major, DWORD minor, DWORD build) {
    TOSVersion v;
    v.PlatformId = platform;
    v.MajorVersion = major;
    v.MinorVersion = minor;
    v.BuildNumber = build;
    return v;
}

struct Collector {
    int calls = 0;
    std::vector<HWND> windows;
    std::vector<LPARAM> params;
};

BOOL __stdcall CollectChild(Collector* self, HWND wnd, LPARAM param) {
    ++self->calls;
    self->windows.push_back(wnd);
    self->params.push_back(param);
    return TRUE;
}

struct Accumulator {
    int64_t total = 0;
};

int __stdcall Weigh(Accumulator* self, int a, int b, int c, int d) {
    self->total += a * 1000 + b * 100 + c * 10 + d;
    return a - b + c - d;
}
} // namespace

TEST(SystemVersion, FamilyTestsFollowTheVersionNumbers) {
    EXPECT_FALSE(IsWinXPFamily(Version(VER_PLATFORM_WIN32_NT, 5, 0, 2195)));   // Windows 2000
    EXPECT_TRUE(IsWinXPFamily(Version(VER_PLATFORM_WIN32_NT, 5, 1, 2600)));
    EXPECT_TRUE(IsWinXPFamily(Version(VER_PLATFORM_WIN32_NT, 5, 2, 3790)));
    EXPECT_FALSE(IsWinXPFamily(Version(VER_PLATFORM_WIN32_NT, 6, 1, 7601)));
    EXPECT_FALSE(IsWinXPFamily(Version(VER_PLATFORM_WIN32_WINDOWS, 5, 1, 0)));

    // 9x keeps major and minor in the build number's high word.
    EXPECT_TRUE(IsWin95Gold(Version(VER_PLATFORM_WIN32_WINDOWS, 4, 0, 0x040003B6)));    // 950
    EXPECT_FALSE(IsWin95Gold(Version(VER_PLATFORM_WIN32_WINDOWS, 4, 0, 0x04000457)));   // 1111, OSR2
    EXPECT_FALSE(IsWin95Gold(Version(VER_PLATFORM_WIN32_WINDOWS, 4, 10, 0x040A07CE)));  // 98
    EXPECT_FALSE(IsWin95Gold(Version(VER_PLATFORM_WIN32_NT, 4, 0, 950)));

    EXPECT_TRUE(IsWinNT(Version(VER_PLATFORM_WIN32_NT, 4, 0, 1381)));
    EXPECT_FALSE(IsWinNT(Version(VER_PLATFORM_WIN32_WINDOWS, 4, 90, 3000)));
}

TEST(SystemVersion, InjectedVersionReachesTheGlobalTests) {
    {
        FakeSystem me(Version(VER_PLATFORM_WIN32_WINDOWS, 4, 0, 0x040003B6));
        EXPECT_FALSE(IsWinNT());
        EXPECT_TRUE(IsWin95Gold());
    }
    {
        FakeSystem xp(Version(VER_PLATFORM_WIN32_NT, 5, 1, 2600));
        EXPECT_TRUE(IsWinNT());
        EXPECT_TRUE(IsWinXPFamily());
    }
    EXPECT_TRUE(IsWinNT());   // the real system again (Wine reports the NT family)
}

TEST(WideFunctions, NineXSystemHasNoneAndNTFamilyHasThemAll) {
    TWideFunctions nine = LoadWideFunctions(Version(VER_PLATFORM_WIN32_WINDOWS, 4, 10, 0x040A07CE));
    const void* const* slots = reinterpret_cast<const void* const*>(&nine);
    for (size_t i = 0; i < sizeof nine / sizeof(void*); ++i) EXPECT_EQ(slots[i], nullptr) << "entry " << i;

    TWideFunctions nt4 = LoadWideFunctions(Version(VER_PLATFORM_WIN32_NT, 4, 0, 1381));
    slots = reinterpret_cast<const void* const*>(&nt4);
    for (size_t i = 0; i + 1 < sizeof nt4 / sizeof(void*); ++i) EXPECT_NE(slots[i], nullptr) << "entry " << i;
    EXPECT_EQ(nt4.SHMultiFileProperties, nullptr);   // only from Windows 2000 on

    TWideFunctions xp = LoadWideFunctions(Version(VER_PLATFORM_WIN32_NT, 5, 1, 2600));
    EXPECT_EQ(reinterpret_cast<void*>(xp.lstrcmpiW), reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "lstrcmpiW")));
}

TEST(WideFunctions, RoutinesUseTheAnsiTwinsOnNineX) {
    FakeSystem me(Version(VER_PLATFORM_WIN32_WINDOWS, 4, 90, 0x045A0BB8));
    EXPECT_EQ(WideFunctions().lstrcmpiW, nullptr);
    EXPECT_EQ(StrICompW(L"Backup", L"BACKUP"), 0);
    EXPECT_LT(StrICompW(L"alpha", L"Beta"), 0);
    wchar_t text[] = L"MiXeD Case";
    EXPECT_STREQ(StrLowerW(text), L"mixed case");
    EXPECT_STREQ(StrUpperW(text), L"MIXED CASE");
}

TEST(CallbackThunk, SystemCallbackReachesTheObjectWithItsArguments) {
    HWND parent = ::CreateWindowExA(0, "STATIC", "parent", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(parent, nullptr);
    std::vector<HWND> children;
    for (int i = 0; i < 3; ++i)
        children.push_back(::CreateWindowExA(0, "STATIC", "c", WS_CHILD, 0, 0, 5, 5, parent, nullptr, nullptr, nullptr));

    Collector collector;
    auto proc = MakeCallbackThunk(&collector, &CollectChild);
    ASSERT_NE(proc, nullptr);
    ::EnumChildWindows(parent, proc, 0x5EED);
    FreeCallbackThunk(reinterpret_cast<void*>(proc));

    EXPECT_EQ(collector.calls, 3);
    EXPECT_EQ(collector.windows.size(), 3u);
    for (HWND c : children) EXPECT_NE(std::find(collector.windows.begin(), collector.windows.end(), c), collector.windows.end());
    for (LPARAM p : collector.params) EXPECT_EQ(p, 0x5EED);
    ::DestroyWindow(parent);
}

TEST(CallbackThunk, ArgumentsKeepTheirOrderAndTheStackStaysBalanced) {
    Accumulator a, b;
    TCallbackThunk ta(&a, reinterpret_cast<void*>(&Weigh));
    TCallbackThunk tb(&b, reinterpret_cast<void*>(&Weigh));
    auto fa = ta.as<int(__stdcall*)(int, int, int, int)>();
    auto fb = tb.as<int(__stdcall*)(int, int, int, int)>();
    int64_t expected = 0;
    // Many calls in a row: a thunk that left the stack unbalanced would corrupt
    // this frame long before the loop ends.
    for (int i = 0; i < 5000; ++i) {
        volatile int x = i % 7;
        EXPECT_EQ(fa(x, 2, 3, 4), x - 2 + 3 - 4);
        expected += x * 1000 + 234;
        fb(1, 2, 3, 4);
    }
    EXPECT_EQ(a.total, expected);
    EXPECT_EQ(b.total, 5000 * 1234);
}

TEST(ShellClipFormats, SixDistinctRegisteredFormats) {
    const TShellClipFormats& f = RegisterShellClipFormats();
    UINT all[6] = {f.ShellIDList, f.LogicalPerformedDropEffect, f.PreferredDropEffect,
                   f.FileContents, f.FileGroupDescriptor, f.FileGroupDescriptorW};
    for (int i = 0; i < 6; ++i) {
        EXPECT_GE(all[i], 0xC000u);
        for (int j = 0; j < i; ++j) EXPECT_NE(all[i], all[j]);
    }
    char name[64];
    ASSERT_GT(::GetClipboardFormatNameA(f.ShellIDList, name, 64), 0);
    EXPECT_STREQ(name, "Shell IDList Array");
    EXPECT_EQ(ShellClipFormats().FileGroupDescriptorW, ::RegisterClipboardFormatA("FileGroupDescriptorW"));
}
