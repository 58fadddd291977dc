// The order check's worker and its feed over a scripted folder: items are
// two-byte identifiers ordered by their value, handed over in pieces.
#include "CountingFolder.h"
#include "ShellTestUtil.h"
#include "shell/LazyOrderCheck.h"
#include <gtest/gtest.h>
#include <atomic>
#include <memory>
#include <vector>

using namespace krv;

namespace {

// Refuses to compare this value: the identifiers' bytes must decide.
constexpr uint16_t Incomparable = 0xFFFF;

uint16_t ValueOf(LPCITEMIDLIST id) { return uint16_t(id->mkid.abID[0] << 8 | id->mkid.abID[1]); }

struct TScriptedItems {
    std::vector<PIDLPtr> Owned;
    std::vector<LPCITEMIDLIST> Ids;
    explicit TScriptedItems(const std::vector<uint16_t>& values) {
        for (uint16_t v : values) {
            // High byte first, so that the bytes order as the values do.
            Owned.emplace_back(shelltest::MakePIDL({std::string{char(v >> 8), char(v & 0xFF)}}));
            Ids.push_back(Owned.back().get());
        }
    }
};

// The folder the worker binds, and the one the caller checks its share
// through: the desktop, with the values' order as its comparison.
struct TScriptedFolder {
    std::shared_ptr<shelltest::TFolderOptions> Options = std::make_shared<shelltest::TFolderOptions>();
    std::shared_ptr<std::atomic<int>> Compares = std::make_shared<std::atomic<int>>(0);
    TScriptedFolder() {
        auto compares = Compares;
        Options->Compare = [compares](IShellFolder*, LPARAM, LPCITEMIDLIST a, LPCITEMIDLIST b) {
            ++*compares;
            uint16_t va = ValueOf(a), vb = ValueOf(b);
            if (va == Incomparable || vb == Incomparable) return E_FAIL;
            return MAKE_HRESULT(SEVERITY_SUCCESS, 0, uint16_t(int16_t((va > vb) - (va < vb))));
        };
    }
    std::unique_ptr<TChildOrderThread> Start(bool binds) {
        auto options = Options;
        auto thread = std::make_unique<TChildOrderThread>(
            PIDLPtr(shelltest::MakePIDL({})), [binds, options](LPCITEMIDLIST desktop) -> ComPtr<IShellFolder> {
                if (!binds) return nullptr;
                return shelltest::MakeCountingFolder(BindFolderOfPIDL(desktop),
                                                     std::make_shared<shelltest::TCallCounts>(), options);
            });
        thread->Start();
        return thread;
    }
    ComPtr<IShellFolder> Own() {
        return shelltest::MakeCountingFolder(BindFolderOfPIDL(nullptr), std::make_shared<shelltest::TCallCounts>(),
                                             Options);
    }
};

// The comparisons the worker alone makes of the first n items: it stops
// once both directions are broken.
int WorkerComparesOf(const std::vector<uint16_t>& v, size_t n) {
    int count = 0;
    bool falls = false, rises = false;
    for (size_t i = 1; i < n && !(falls && rises); ++i, ++count) {
        // The byte fallback orders Incomparable last, as its bytes would.
        falls |= v[i - 1] > v[i];
        rises |= v[i - 1] < v[i];
    }
    return count;
}

std::vector<uint16_t> Rising(size_t n, size_t fallAt = 0) {
    std::vector<uint16_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint16_t(10 + i);
    if (fallAt) v[fallAt] = 1;
    return v;
}

// Each piece but the last is handed over only once the worker compared all
// before it, so every hand-over is a boundary of the worker's pieces; the
// last goes with Finish, which shares what is left between the worker and
// the caller, a piece at a time from the end.
TEST(ChildOrderThread, VerdictCoversEveryNeighbourPairWhateverTheHandOvers) {
    const struct {
        const char* Name;
        std::vector<uint16_t> Values;
        std::vector<size_t> Pieces;
        bool Binds;
        bool Known, Falls, Rises;
    } rows[] = {
        {"rising in three pieces", {1, 2, 3, 4, 5, 6, 7}, {3, 2, 2}, true, true, false, true},
        {"a fall across a hand-over", {1, 2, 3, 2, 4, 5}, {3, 3}, true, true, true, true},
        {"a fall in the last pair", {1, 2, 3, 4, 3}, {2, 2, 1}, true, true, true, true},
        {"a fall at the first pair", {2, 1, 1, 1}, {2, 2}, true, true, true, false},
        {"falling only", {9, 8, 7, 6}, {2, 2}, true, true, true, false},
        {"equal neighbours", {4, 4, 4}, {1, 1, 1}, true, true, false, false},
        {"a pair the folder cannot compare", {1, Incomparable, 2, 3}, {2, 2}, true, true, true, true},
        {"one item", {7}, {1}, true, true, false, false},
        {"nothing after the start", {}, {0}, true, true, false, false},
        {"a long rest, rising", Rising(1000), {1000}, true, true, false, true},
        {"a fall where the last piece of the rest begins", Rising(1000, 744), {1000}, true, true, true, true},
        {"a fall between the worker's share and the rest", Rising(600, 300), {300, 300}, true, true, true, true},
        {"a folder that cannot be bound", {1, 3, 2}, {2, 1}, false, false, false, false},
        {"a folder that cannot be bound, a long rest", Rising(900), {100, 800}, false, false, false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        TScriptedFolder folder;
        ComPtr<IShellFolder> own = folder.Own();
        TScriptedItems items(row.Values);
        auto thread = folder.Start(row.Binds);
        size_t handed = 0;
        TChildOrderVerdict verdict;
        for (size_t p = 0; p < row.Pieces.size(); ++p) {
            std::vector<LPCITEMIDLIST> piece(items.Ids.begin() + handed, items.Ids.begin() + handed + row.Pieces[p]);
            handed += row.Pieces[p];
            if (p + 1 == row.Pieces.size()) {
                verdict = thread->Finish(piece, own.get());
                break;
            }
            thread->Hand(piece);
            EXPECT_TRUE(piece.empty());
            // A worker without a folder has ended before the caller could take a share.
            if (row.Binds)
                ASSERT_TRUE(shelltest::PumpUntil([&] { return *folder.Compares == WorkerComparesOf(row.Values, handed); }));
            else
                ASSERT_TRUE(shelltest::PumpUntil([&] { return thread->Finished(); }));
        }
        EXPECT_EQ(row.Known, verdict.Known);
        if (row.Known) {
            EXPECT_EQ(row.Falls, verdict.Falls);
            EXPECT_EQ(row.Rises, verdict.Rises);
        }
        EXPECT_EQ(row.Known && !row.Falls, verdict.InOrder(true));
        EXPECT_EQ(row.Known && !row.Rises, verdict.InOrder(false));
        // No pair twice; every pair where the order is not broken both ways.
        int pairs = row.Values.empty() ? 0 : int(row.Values.size()) - 1;
        if (!row.Binds) EXPECT_EQ(0, int(*folder.Compares)) << "the caller checks nothing of a worker without a folder";
        else if (row.Falls && row.Rises) EXPECT_LE(int(*folder.Compares), pairs);
        else EXPECT_EQ(pairs, int(*folder.Compares));
    }
}

TEST(ChildOrderThread, StopEndsAWaitingWorkerWithoutAVerdict) {
    TScriptedFolder folder;
    TScriptedItems items({1, 2, 3});
    auto thread = folder.Start(true);
    std::vector<LPCITEMIDLIST> piece(items.Ids.begin(), items.Ids.end());
    thread->Hand(piece);
    ASSERT_TRUE(shelltest::PumpUntil([&] { return *folder.Compares == 2; }));
    thread->Stop();
    EXPECT_TRUE(thread->Finished());
    // Whatever is handed later is never read.
    std::vector<LPCITEMIDLIST> late{nullptr, nullptr};
    EXPECT_FALSE(thread->Finish(late, folder.Own().get()).Known);
    EXPECT_EQ(2, int(*folder.Compares));
}

// A small folder never starts a worker; a big one starts one with its first
// full batch, and the verdict covers the items added after it.
TEST(ChildOrderFeed, AWorkerStartsWithTheFirstFullBatchOnly) {
    const size_t batch = TChildOrderFeed::BatchSize;
    const struct {
        const char* Name;
        size_t Count;
        bool StartGivesThread;
        int Starts;
        bool Known;
    } rows[] = {
        {"one short of a batch", batch - 1, true, 0, false},
        {"exactly a batch", batch, true, 1, true},
        {"a batch and a rest", 2 * batch + 3, true, 1, true},
        {"no worker to be had", 2 * batch, false, 1, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        // The last item falls: a verdict that missed the rest would not see it.
        std::vector<uint16_t> values = Rising(row.Count, row.Count - 1);
        TScriptedFolder folder;
        TScriptedItems items(values);
        int starts = 0;
        TChildOrderFeed feed([&]() -> std::unique_ptr<TChildOrderThread> {
            ++starts;
            return row.StartGivesThread ? folder.Start(true) : nullptr;
        });
        for (LPCITEMIDLIST id : items.Ids) feed.Add(id);
        TChildOrderVerdict verdict = feed.Finish(folder.Own().get());
        EXPECT_EQ(row.Starts, starts);
        EXPECT_EQ(row.Known, verdict.Known);
        EXPECT_EQ(row.Known, verdict.Falls);
        EXPECT_EQ(row.Known, verdict.Rises);
    }
}

} // namespace
