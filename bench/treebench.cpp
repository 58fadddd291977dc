// Tree benchmark: bulk operations on 1,000,000 nodes (or the count given:
// treebench [paint|chain|bulk] [NODES]), the walks over a chain of 100,000
// levels, painting. Prints one "name: seconds" line per operation, and what a
// node costs in memory. "paint" prints only the paint lines, "chain" only the
// chain's (NODES its depth), "bulk" only the bulk operations'.
#include "tree/string/LazyStringTree.h"
#include "tree/paint/LazyTreeDrawing.h"
#include "tree/core/LazyTrees.h"
#include "tree/core/LazyTreeWorker.h"
#include <algorithm>
#include "BenchUtil.h"
#include <cstdio>
#include <vector>
#include <random>
#include <string>
#include <cwchar>

using namespace krv;

namespace {
using bench::Now;

template <class F> void Time(const std::string& name, F&& f) {
    double start = Now();
    f();
    std::printf("%s: %.6f\n", name.c_str(), Now() - start);
    std::fflush(stdout);
}

// Answers the worker's messages until the tree's cache is complete.
void WaitForCache(TBaseLazyTree& tree) {
    while (!tree.TreeStates().Contains(tsUseCache)) {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

void Lookups(TBaseLazyTree& tree, const std::string& label) {
    const char* name = label.c_str();
    WaitForCache(tree);
    std::mt19937 rng(1);
    uint32_t bottom = tree.RootNode()->TotalHeight - tree.RootNode()->NodeHeight;
    constexpr int count = 10000;
    std::vector<double> times;
    double start = Now();
    for (int i = 0; i < count; ++i) {
        double t0 = Now();
        int top;
        tree.GetNodeAt(0, int(rng() % bottom), false, top);
        times.push_back(Now() - t0);
    }
    double mean = (Now() - start) / count;
    std::sort(times.begin(), times.end());
    std::printf("%s (mean of %d): %.9f\n", name, count, mean);
    std::printf("%s (99th percentile): %.9f\n", name, times[size_t(count * 0.99)]);
    std::printf("%s (worst): %.9f\n", name, times.back());
}

// The process's address space in use (what a 32-bit process runs out of),
// from a walk over its regions.
uint64_t AddressSpaceUsed() {
    uint64_t used = 0;
    MEMORY_BASIC_INFORMATION info;
    for (uintptr_t at = 0; ::VirtualQuery(reinterpret_cast<void*>(at), &info, sizeof info) == sizeof info;) {
        if (info.State != MEM_FREE) used += info.RegionSize;
        uintptr_t next = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
        if (next <= at) break;
        at = next;
    }
    return used;
}

// Bytes per node of the tree's own node memory, and of the process's
// address space (everything the nodes brought with them: the position cache too).
void PrintNodeMemory(const TBaseLazyTree& tree, const char* what, uint64_t usedBefore) {
    double nodes = double(tree.NodeMemory().LiveCount());
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    ::GlobalMemoryStatusEx(&status);
    double grown = double(AddressSpaceUsed() - usedBefore);
    std::printf("memory per node, %s: %.1f bytes of node memory, %.1f bytes of address space "
                "(%.0f nodes: %.0f MB of the process's %.0f MB)\n",
                what, double(tree.NodeMemory().ReservedBytes()) / nodes, grown / nodes, nodes, grown / 1e6,
                double(status.ullTotalVirtual) / 1e6);
    std::fflush(stdout);
}

// One screen of rows painted into a bitmap at the top, the middle and the
// end of a string tree whose texts come from OnGetText.
void PaintScreens(unsigned count) {
    constexpr int width = 400, height = 600, rounds = 201;
    TLazyStringTree tree;
    tree.SetBounds(0, 0, width, height);
    tree.HandleNeeded();
    wchar_t buffer[32];
    tree.OnGetText = [&](TBaseLazyTree*, PLazyNode node, TColumnIndex, TLSTTextType, std::wstring& text) {
        std::swprintf(buffer, 32, L"Folder %u", node->Index);
        text = buffer;
    };
    tree.SetRootNodeCount(count);
    WaitForCache(tree);
    MemoryDC dc(nullptr);
    BitmapHandle target = CreateDib32(width, height);
    SelectObjectScope select(dc.get(), target.get());
    TCanvas canvas(dc.get());
    int total = int(tree.RootNode()->TotalHeight - tree.RootNode()->NodeHeight);
    const char* names[] = {"paint top", "paint middle", "paint end"};
    const int tops[] = {0, total / 2, total - height};
    // Interleaved single paints, so that load from other programs falls on
    // all three alike; the median of each.
    std::vector<double> times[3];
    for (int i = 0; i < rounds; ++i)
        for (int p = 0; p < 3; ++p) {
            RECT window{0, tops[p], width, tops[p] + height};
            double start = Now();
            tree.PaintTree(canvas, window, POINT{0, 0}, TBaseLazyTree::poAll);
            if (i > 0) times[p].push_back(Now() - start);   // the first paint also measures the texts
        }
    double medians[3];
    for (int p = 0; p < 3; ++p) {
        std::sort(times[p].begin(), times[p].end());
        medians[p] = times[p][times[p].size() / 2];
    }
    for (int p = 0; p < 3; ++p)
        std::printf("%s (%d rows, median of %d): %.6f (%.2f x top)\n", names[p], height / 18 + 1,
                    int(times[p].size()), medians[p], medians[p] / medians[0]);
    std::fflush(stdout);
}

// The walks over a chain of depth levels (each node the only child of the
// one above): what costs the same per node on any shape must not grow with
// the depth. Save refuses a tree this deep, so it is not among them.
void Chain(unsigned depth) {
    const std::string d = std::to_string(depth);
    TBaseLazyTree tree;
    tree.HandleNeeded();
    Time("chain of " + d + " levels, AddChild in one update", [&] {
        tree.BeginUpdate();
        for (PLazyNode run = nullptr; tree.TotalCount() < depth;) run = tree.AddChild(run);
        tree.EndUpdate();
    });
    Time("chain of " + d + ", iterate (IterateSubtree)", [&] {
        unsigned count = 0;
        tree.IterateSubtree(nullptr, [&](TBaseLazyTree*, PLazyNode, void*, bool&) { ++count; }, nullptr);
        if (count != depth) std::printf("chain iterate miscounted: %u\n", count);
    });
    Time("chain of " + d + ", iterate initialising (IterateSubtree)", [&] {
        tree.IterateSubtree(nullptr, [](TBaseLazyTree*, PLazyNode, void*, bool&) {}, nullptr, 0, true);
    });
    Time("chain of " + d + ", re-init (ReinitNode, in an update)", [&] {
        tree.BeginUpdate();
        tree.ReinitNode(nullptr, true);
        tree.EndUpdate();
    });
    Time("chain of " + d + ", full expand", [&] { tree.FullExpand(); });
    Time("chain of " + d + ", full collapse", [&] { tree.FullCollapse(); });
    Time("chain of " + d + ", clear", [&] { tree.Clear(); });
}
}

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    bool paintOnly = mode == "paint", chainOnly = mode == "chain", bulkOnly = mode == "bulk";
    const int modeArgs = paintOnly || chainOnly || bulkOnly;
    const unsigned N = argc > 1 + modeArgs ? unsigned(std::stoul(argv[1 + modeArgs])) : chainOnly ? 100000 : 1000000;
    if (paintOnly) {
        PaintScreens(N);
        return 0;
    }
    if (chainOnly) {
        Chain(N);
        return 0;
    }
    const std::string n = std::to_string(N), n1 = std::to_string(N - 1);
    TBaseLazyTree tree;
    tree.HandleNeeded();

    uint64_t usedBefore = AddressSpaceUsed();
    Time("root count " + n, [&] { tree.SetRootNodeCount(N); });
    PrintNodeMemory(tree, "top-level nodes", usedBefore);
    Lookups(tree, "position lookup, " + n + " top-level rows");
    Time("clear " + n, [&] { tree.Clear(); });

    Time("AddChild " + n + " in one update", [&] {
        tree.BeginUpdate();
        PLazyNode parent = tree.AddChild(nullptr);
        for (unsigned i = 1; i < N; ++i) tree.AddChild(parent);
        tree.EndUpdate();
    });
    PLazyNode parent = tree.GetFirstNoInit();
    Time("expand a node with " + n1 + " children", [&] { tree.SetExpanded(parent, true); });
    Lookups(tree, "position lookup, under one expanded node");
    Time("collapse a node with " + n1 + " children", [&] { tree.SetExpanded(parent, false); });
    Time("clear " + n, [&] { tree.Clear(); });

    // A two-level tree (1000 top-level nodes) for the full expand and collapse.
    const unsigned perFolder = N / 1000 - 1;
    const unsigned total = 1000 * (perFolder + 1);
    const std::string t = std::to_string(total);
    tree.BeginUpdate();
    tree.SetRootNodeCount(1000);
    for (PLazyNode node = tree.GetFirstNoInit(); node; node = node->NextSibling) tree.SetChildCount(node, perFolder);
    tree.EndUpdate();
    Time("full expand " + t, [&] { tree.FullExpand(); });
    PrintNodeMemory(tree, "two levels, expanded", usedBefore);
    Lookups(tree, "position lookup, fully expanded 1000 x " + std::to_string(perFolder));
    Time("iterate " + t + " (IterateSubtree)", [&] {
        unsigned count = 0;
        tree.IterateSubtree(nullptr, [&](TBaseLazyTree*, PLazyNode, void*, bool&) { ++count; }, nullptr);
        if (count != total) std::printf("iterate miscounted: %u\n", count);
    });
    Time("re-init " + t + " (ReinitNode, in an update)", [&] {
        tree.BeginUpdate();
        tree.ReinitNode(nullptr, true);
        tree.EndUpdate();
    });
    Time("iterate visible " + t + " (GetNextVisible)", [&] {
        unsigned count = 0;
        for (PLazyNode node = tree.GetFirstVisibleNoInit(); node; node = tree.GetNextVisibleNoInit(node)) ++count;
        if (count != total) std::printf("visible walk miscounted: %u\n", count);
    });
    {   // the stream's memory goes before the paint's tree is made
        TMemoryStream stream;
        Time("save " + t + " to a stream", [&] { tree.SaveToStream(stream); });
        std::printf("stream bytes: %lld\n", (long long)stream.Size());
        Time("full collapse " + t, [&] { tree.FullCollapse(); });
        Time("clear " + t, [&] { tree.Clear(); });
        stream.SetPosition(0);
        Time("load " + t + " from a stream", [&] { tree.LoadFromStream(stream); });
        if (tree.TotalCount() != total || tree.VisibleCount() != total) std::printf("load miscounted\n");
        Time("clear " + t, [&] { tree.Clear(); });
    }
    if (bulkOnly) return 0;
    Chain(100000);
    PaintScreens(N);
    return 0;
}
