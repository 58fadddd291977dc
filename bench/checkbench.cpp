// Check-storage benchmark: 10,000 checked folders (100 folders of 100) set
// with SetCheckedPaths and read back with GetCheckedPaths, each against the
// bare conversion of the same paths to item identifier lists and back, run
// interleaved in the same process. Prints the median seconds and the ratios.
#include "shell/explorer/LazyCheckStorage.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/WideStrUtils.h"
#include "BenchUtil.h"
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using namespace krv;

namespace {
using bench::Now;

constexpr int Outer = 100, Inner = 100, Rounds = 3;

std::wstring MakeFolders(TStringList& paths) {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);   // on C:, never Z:
    std::wstring root = std::wstring(temp) + L"krv-checkbench";
    ::CreateDirectoryW(root.c_str(), nullptr);
    for (int i = 0; i < Outer; ++i) {
        std::wstring outer = root + L"\\group " + std::to_wstring(i);
        ::CreateDirectoryW(outer.c_str(), nullptr);
        for (int j = 0; j < Inner; ++j) {
            std::wstring inner = outer + L"\\folder " + std::to_wstring(j);
            if (!::CreateDirectoryW(inner.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
                std::fprintf(stderr, "cannot make the bench folders\n");
                std::exit(1);
            }
            paths.Add(WideToAnsi(inner));
        }
    }
    return root;
}

// The same paths to lists and back, without any storage.
double BareConversion(const TStringList& paths, size_t& converted) {
    double t = Now();
    converted = 0;
    for (int i = 0; i < paths.Count(); ++i) {
        PIDLPtr pidl(PathToPIDL(AnsiToWide(paths[i])));
        if (pidl && !PIDLToPath(pidl.get()).empty()) ++converted;
    }
    return Now() - t;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
} // namespace

int main() {
    ::CoInitialize(nullptr);
    StartShellUtilities();
    TStringList paths;
    std::wstring root = MakeFolders(paths);
    std::vector<double> bare, set, get;
    size_t converted = 0;
    int listed = 0;
    TRootNodeStorage storage;
    for (int round = 0; round < Rounds; ++round) {
        bare.push_back(BareConversion(paths, converted));
        double t = Now();
        storage.SetCheckedPaths(paths);
        set.push_back(Now() - t);
        t = Now();
        listed = storage.GetCheckedPaths().Count();
        get.push_back(Now() - t);
    }
    if (static_cast<int>(converted) != paths.Count() || listed != paths.Count()) {
        std::fprintf(stderr, "wrong counts: %zu converted, %d listed of %d\n", converted, listed, paths.Count());
        return 1;
    }
    double b = Median(bare), s = Median(set), g = Median(get);
    std::printf("checked folders: %d (median of %d rounds)\n", paths.Count(), Rounds);
    std::printf("paths to lists and back: %.3f s\n", b);
    std::printf("SetCheckedPaths: %.3f s (%.2fx)\n", s, s / b);
    std::printf("GetCheckedPaths: %.3f s (%.2fx)\n", g, g / b);
    storage.Clear(false);
    for (int i = 0; i < paths.Count(); ++i) ::RemoveDirectoryW(AnsiToWide(paths[i]).c_str());
    for (int i = 0; i < Outer; ++i) ::RemoveDirectoryW((root + L"\\group " + std::to_wstring(i)).c_str());
    ::RemoveDirectoryW(root.c_str());
    StopShellUtilities();
    ::CoUninitialize();
    return 0;
}
