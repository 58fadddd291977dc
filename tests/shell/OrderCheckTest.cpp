// The order check's worker over the desktop with a scripted comparison: items
// are two-byte identifiers ordered by their value (high byte first, so their
// bytes, the fallback, order the same way; 0xFFFF is refused).
#include "CountingFolder.h"
#include "ShellTestUtil.h"
#include "shell/explorer/LazyOrderCheck.h"
#include "shell/base/ShellUtils.h"
#include <gtest/gtest.h>
#include <atomic>

using namespace krv;

namespace {

std::vector<uint16_t> Rising(size_t n, size_t fallAt) {
    std::vector<uint16_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint16_t(i == fallAt ? 1 : 10 + i);
    return v;
}

// Every piece but the last is handed over once the worker compared all before
// it, so each is a boundary of its pieces; Finish shares the rest with the
// caller, a piece of 256 at a time from the end.
TEST(ChildOrderThread, VerdictCoversEveryNeighbourPairWhateverTheHandOvers) {
    const struct {
        const char* Name;
        std::vector<uint16_t> Values;
        std::vector<size_t> Pieces;
        bool Binds, Falls, Rises;
    } rows[] = {
        {"rising in three pieces", {1, 2, 3, 4, 5, 6, 7}, {3, 2, 2}, true, false, true},
        {"a fall across a hand-over", {1, 2, 3, 2, 4}, {3, 2}, true, true, true},
        {"falling only", {9, 8, 7, 6}, {2, 2}, true, true, false},
        {"a pair the folder cannot compare", {1, 0xFFFF, 2, 3}, {2, 2}, true, true, true},
        {"a fall where the rest's last piece begins", Rising(1000, 744), {1000}, true, true, true},
        {"a fall between the worker's part and the rest", Rising(600, 300), {300, 300}, true, true, true},
        {"no folder for the worker", Rising(900, 0), {100, 800}, false, false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        auto compares = std::make_shared<std::atomic<int>>(0);
        auto options = std::make_shared<shelltest::TFolderOptions>();
        options->Compare = [compares](IShellFolder*, LPARAM, LPCITEMIDLIST a, LPCITEMIDLIST b) {
            ++*compares;
            auto value = [](LPCITEMIDLIST id) { return uint16_t(id->mkid.abID[0] << 8 | id->mkid.abID[1]); };
            uint16_t va = value(a), vb = value(b);
            if (va == 0xFFFF || vb == 0xFFFF) return E_FAIL;
            return MAKE_HRESULT(SEVERITY_SUCCESS, 0, uint16_t(int16_t((va > vb) - (va < vb))));
        };
        auto desktop = [options] {
            return shelltest::MakeCountingFolder(BindFolderOfPIDL(nullptr), std::make_shared<shelltest::TCallCounts>(),
                                                 options);
        };
        std::vector<PIDLPtr> owned;
        std::vector<LPCITEMIDLIST> ids;
        for (uint16_t v : row.Values) {
            owned.emplace_back(shelltest::MakePIDL({std::string{char(v >> 8), char(v & 0xFF)}}));
            ids.push_back(owned.back().get());
        }
        bool binds = row.Binds;
        TChildOrderThread thread(PIDLPtr(shelltest::MakePIDL({})),
                                 [&](LPCITEMIDLIST) { return binds ? desktop() : ComPtr<IShellFolder>(); });
        thread.Start();
        ComPtr<IShellFolder> own = desktop();
        TChildOrderVerdict verdict;
        for (size_t p = 0, handed = 0; p < row.Pieces.size(); ++p) {
            std::vector<LPCITEMIDLIST> piece(ids.begin() + handed, ids.begin() + handed + row.Pieces[p]);
            handed += row.Pieces[p];
            if (p + 1 == row.Pieces.size()) {
                verdict = thread.Finish(piece, own.get());
            } else {
                thread.Hand(piece);
                // The worker's comparisons so far: none without a folder, then it has ended.
                ASSERT_TRUE(shelltest::PumpUntil(
                    [&] { return binds ? *compares == int(handed) - 1 : thread.Finished(); }));
            }
        }
        EXPECT_EQ(row.Binds, verdict.Known);
        EXPECT_EQ(row.Falls, verdict.Falls);
        EXPECT_EQ(row.Rises, verdict.Rises);
        EXPECT_EQ(row.Binds && !row.Falls, verdict.InOrder(true));
        EXPECT_EQ(row.Binds && !row.Rises, verdict.InOrder(false));
        // No pair twice; the caller takes no part of a worker that has no folder.
        EXPECT_LE(int(*compares), row.Binds ? int(ids.size()) - 1 : 0);
    }
}

} // namespace
