// scanbench: the folder scan of a run over a ticked folder, beside a bare
// recursive FindFirstFileW walk of the same folders in the same process.
//   scanbench FOLDER [rounds]
// Prints, in seconds (the median of the rounds, each figure taken in turn
// with the others so that load from other programs falls on all alike):
//   bare_walk      FindFirstFileW/FindNextFileW over every folder, sizes added
//   size_closed    the size scan (Update size) with the ticked folder never
//                  opened in the tree (taken whole); lists_closed the lists scan
//   size_open      the same with every folder of the tree opened (a node per
//                  folder, each taken with its own files); lists_open likewise
// and the files, folders and bytes the walk saw and what the scans gave.
#include "BenchWindow.h"
#include "framework/Handle.h"
#include "shell/base/WideStrUtils.h"
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

using namespace krv;

namespace {

struct Walked {
    int64_t files = 0, folders = 0, bytes = 0;
};

void BareWalk(const std::wstring& folder, Walked& w) {
    WIN32_FIND_DATAW fd;
    krv::FindHandle h(::FindFirstFileW((folder + L"\\*").c_str(), &fd));
    if (!h) return;
    ++w.folders;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (fd.cFileName[0] == L'.' && (!fd.cFileName[1] || (fd.cFileName[1] == L'.' && !fd.cFileName[2]))) continue;
            BareWalk(folder + L"\\" + fd.cFileName, w);
        } else {
            ++w.files;
            w.bytes += (static_cast<int64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
        }
    } while (::FindNextFileW(h.get(), &fd));
}

double Seconds(const std::function<void()>& f) {
    auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Opens every folder below node (explicit stack: the tree may be deep).
void OpenAll(TLazyExplorerTreeview& tree, PLazyNode node) {
    std::vector<PLazyNode> stack{node};
    while (!stack.empty()) {
        PLazyNode n = stack.back();
        stack.pop_back();
        tree.SetExpanded(n, true);
        for (PLazyNode c = n->FirstChild; c; c = c->NextSibling) stack.push_back(c);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: scanbench FOLDER [rounds]\n");
        return 2;
    }
    const std::string folder = ExcludeTrailingBackslash(argv[1]);
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    krvbench::TBenchWindow bench("scanbench");
    TMainForm& form = bench.Form;
    form.FormShow();
    if (!bench.Tick(folder)) return 1;
    auto size = [&] { form.ButtonUpdateSizeClick(); };
    auto lists = [&] { form.MakeDirLists(); };

    Walked walked;
    std::vector<double> bare, sizeClosed, listsClosed, sizeOpen, listsOpen;
    auto round = [&](std::vector<double>& sizes, std::vector<double>& listTimes) {
        walked = Walked();
        bare.push_back(Seconds([&] { BareWalk(AnsiToWide(folder), walked); }));
        sizes.push_back(Seconds(size));
        listTimes.push_back(Seconds(lists));
    };
    for (int r = 0; r < rounds; ++r) round(sizeClosed, listsClosed);
    const int64_t closedSize = form.SelectedSize;
    const int closedLists = form.LastScan.FlatDirs.Count() + form.LastScan.RecursiveDirs.Count();

    const double opening = Seconds([&] { OpenAll(*form.DirTree, form.DirTree->WalkToPath(AnsiToWide(folder), false)); });
    for (int r = 0; r < rounds; ++r) round(sizeOpen, listsOpen);

    const double b = Median(bare);
    std::printf("files %lld\nfolders %lld\nbytes %lld\n", static_cast<long long>(walked.files),
                static_cast<long long>(walked.folders), static_cast<long long>(walked.bytes));
    std::printf("size_closed_bytes %lld\nsize_open_bytes %lld\nlist_entries_closed %d\nlist_entries_open %d\n",
                static_cast<long long>(closedSize), static_cast<long long>(form.SelectedSize), closedLists,
                form.LastScan.FlatDirs.Count() + form.LastScan.RecursiveDirs.Count());
    std::printf("bare_walk %.3f\nsize_closed %.3f\nlists_closed %.3f\nsize_open %.3f\nlists_open %.3f\n"
                "opening_all_folders %.3f\n",
                b, Median(sizeClosed), Median(listsClosed), Median(sizeOpen), Median(listsOpen), opening);
    std::printf("ratio_size_closed %.2f\nratio_size_open %.2f\nratio_size_and_lists_open %.2f\n",
                Median(sizeClosed) / b, Median(sizeOpen) / b, (Median(sizeOpen) + Median(listsOpen)) / b);
    return 0;
}
