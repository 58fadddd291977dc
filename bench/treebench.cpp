// Tree benchmark: bulk operations on 1,000,000 nodes. Prints one
// "name: seconds" line per operation.
#include "tree/LazyStringTree.h"
#include "tree/LazyTreeDrawing.h"
#include "tree/LazyTrees.h"
#include "tree/LazyTreeWorker.h"
#include <algorithm>
#include <cstdio>
#include <vector>
#include <random>
#include <string>
#include <cwchar>

using namespace krv;

namespace {
double Now() {
    LARGE_INTEGER f, c;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&c);
    return double(c.QuadPart) / double(f.QuadPart);
}

template <class F> void Time(const char* name, F&& f) {
    double start = Now();
    f();
    std::printf("%s: %.6f\n", name, Now() - start);
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

void Lookups(TBaseLazyTree& tree, const char* name) {
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

// One screen of rows painted into a bitmap at the top, the middle and the
// end of a string tree whose texts come from OnGetText.
void PaintScreens(unsigned count) {
    constexpr int width = 400, height = 600, rounds = 201;
    TLazyStringTree tree;
    tree.SetBounds(0, 0, width, height);
    tree.HandleNeeded();
    wchar_t buffer[32];
    tree.OnGetText = [&](TBaseLazyTree*, PLazyNode node, TColumnIndex, TVSTTextType, std::wstring& text) {
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
}

int main(int argc, char** argv) {
    constexpr unsigned N = 1000000;
    if (argc > 1 && std::string(argv[1]) == "paint") {
        PaintScreens(N);
        return 0;
    }
    TBaseLazyTree tree;
    tree.HandleNeeded();

    Time("root count 1000000", [&] { tree.SetRootNodeCount(N); });
    Lookups(tree, "position lookup, 1000000 top-level rows");
    Time("clear 1000000", [&] { tree.Clear(); });

    Time("AddChild 1000000 in one update", [&] {
        tree.BeginUpdate();
        PLazyNode parent = tree.AddChild(nullptr);
        for (unsigned i = 1; i < N; ++i) tree.AddChild(parent);
        tree.EndUpdate();
    });
    PLazyNode parent = tree.GetFirstNoInit();
    Time("expand a node with 999999 children", [&] { tree.SetExpanded(parent, true); });
    Lookups(tree, "position lookup, under one expanded node");
    Time("collapse a node with 999999 children", [&] { tree.SetExpanded(parent, false); });
    Time("clear 1000000", [&] { tree.Clear(); });

    // 1000 x 999 two-level tree for the full expand and collapse.
    tree.BeginUpdate();
    tree.SetRootNodeCount(1000);
    for (PLazyNode n = tree.GetFirstNoInit(); n; n = n->NextSibling) tree.SetChildCount(n, 999);
    tree.EndUpdate();
    Time("full expand 1000000", [&] { tree.FullExpand(); });
    Lookups(tree, "position lookup, fully expanded 1000 x 999");
    Time("iterate 1000000 (IterateSubtree)", [&] {
        unsigned count = 0;
        tree.IterateSubtree(nullptr, [&](TBaseLazyTree*, PLazyNode, void*, bool&) { ++count; }, nullptr);
        if (count != N) std::printf("iterate miscounted: %u\n", count);
    });
    Time("iterate visible 1000000 (GetNextVisible)", [&] {
        unsigned count = 0;
        for (PLazyNode n = tree.GetFirstVisibleNoInit(); n; n = tree.GetNextVisibleNoInit(n)) ++count;
        if (count != N) std::printf("visible walk miscounted: %u\n", count);
    });
    TMemoryStream stream;
    Time("save 1000000 to a stream", [&] { tree.SaveToStream(stream); });
    std::printf("stream bytes: %lld\n", (long long)stream.Size());
    Time("full collapse 1000000", [&] { tree.FullCollapse(); });
    Time("clear 1000000", [&] { tree.Clear(); });
    stream.SetPosition(0);
    Time("load 1000000 from a stream", [&] { tree.LoadFromStream(stream); });
    if (tree.TotalCount() != N || tree.VisibleCount() != N) std::printf("load miscounted\n");
    Time("clear 1000000", [&] { tree.Clear(); });
    PaintScreens(N);
    return 0;
}
