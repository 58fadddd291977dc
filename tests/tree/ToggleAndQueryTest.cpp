// The step animation and the animated toggle on an injected clock, scrolling
// an opened subtree into view, the standard tree-view queries, and what
// losing the focus or a cancelled mode resets.
#include "SessionSupport.h"
#include <commctrl.h>
#include <cstring>

using namespace krv;
using namespace krv::test;

namespace {

TEST(StepAnimation, StepsSpreadOverTheDurationAndEndWithAFinalCall) {
    Session s;
    DWORD now = 1000;
    s.tree.TickSource = [&] { return now += 10; };   // every reading of the clock is 10 ms later
    std::vector<std::pair<int, int>> calls;
    auto record = [&](int step, int size, void*) {
        calls.emplace_back(step, size);
        return true;
    };
    s.tree.RunStepAnimation(20, 100, record, nullptr);
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls.back(), std::make_pair(0, 0));   // the closing call
    int covered = 0;
    for (size_t i = 0; i + 1 < calls.size(); ++i) covered += calls[i].second;
    EXPECT_LE(covered, 20);
    EXPECT_FALSE(s.tree.TreeStates().Contains(tsInAnimation));
    // No duration: nothing at all, not even the closing call.
    calls.clear();
    s.tree.RunStepAnimation(20, 0, record, nullptr);
    EXPECT_TRUE(calls.empty());
    // A callback that answers false ends the steps early; the closing call still comes.
    int seen = 0;
    s.tree.RunStepAnimation(50, 500, [&](int, int size, void*) { return ++seen, size == 0; }, nullptr);
    EXPECT_EQ(seen, 2);
}

TEST(AnimatedToggle, RowsBelowSlideAndTheEndStateIsExact) {
    Session s;
    DWORD now = 1000;
    s.tree.TickSource = [&] { return now += 5; };
    PLazyNode a = s.Add(nullptr, L"Alpha");
    for (int i = 0; i < 3; ++i) s.Add(a, L"Child " + std::to_wstring(i));
    s.Add(nullptr, L"Beta");
    auto& o = s.tree.TreeOptions();
    o.SetAnimationOptions(o.AnimationOptions() + toAnimatedToggle);
    int animations = 0;
    s.tree.OnStateChange = [&](TBaseLazyTree*, TLazyTreeStates enter, TLazyTreeStates) {
        if (enter.Contains(tsInAnimation)) ++animations;
    };
    s.tree.ToggleNode(a);
    EXPECT_EQ(animations, 1);
    EXPECT_TRUE(s.tree.Expanded(a));
    EXPECT_EQ(s.tree.VisibleCount(), 5u);
    s.tree.ToggleNode(a);
    EXPECT_EQ(animations, 2);
    EXPECT_FALSE(s.tree.Expanded(a));
    // Nothing follows the last node: expanding it slides nothing.
    PLazyNode b = s.Node("Beta");
    s.Add(b, L"Leaf");
    s.tree.ToggleNode(b);
    EXPECT_EQ(animations, 2);
    EXPECT_TREE_CONSISTENT(s.tree);
}

TEST(AnimatedToggle, OpenedSubtreeScrollsIntoView) {
    Session s(240, 200);   // 11 rows fit
    for (int i = 0; i < 10; ++i) s.Add(nullptr, L"Row " + std::to_wstring(i));
    PLazyNode last = s.Node("Row 9");
    for (int i = 0; i < 4; ++i) s.Add(last, L"Child " + std::to_wstring(i));
    s.tree.ToggleNode(last);
    // The last child is in view: the view went down by the rows that did not fit.
    EXPECT_EQ(s.tree.OffsetY(), s.tree.ClientHeight() - 14 * 18);
    s.tree.SetOffsetY(0);
    // A subtree taller than the client area starts at the top instead.
    PLazyNode big = s.Node("Row 2");
    for (int i = 0; i < 20; ++i) s.Add(big, L"Item " + std::to_wstring(i));
    s.tree.ToggleNode(big);
    EXPECT_EQ(s.tree.OffsetY(), -2 * 18);
    // Without the option the view stays.
    auto& o = s.tree.TreeOptions();
    o.SetAutoOptions(o.AutoOptions() - toAutoScrollOnExpand);
    s.tree.ToggleNode(big);
    s.tree.SetOffsetY(0);
    s.tree.ToggleNode(big);
    EXPECT_EQ(s.tree.OffsetY(), 0);
}

TEST(TreeViewQueries, NodesAnswerAsItems) {
    Session s;
    PLazyNode a = s.Add(nullptr, L"Alpha");
    PLazyNode a1 = s.Add(a, L"Apple");
    PLazyNode b = s.Add(nullptr, L"Beta");
    s.tree.SetExpanded(a, true);
    auto next = [&](WPARAM code, PLazyNode n) {
        return reinterpret_cast<PLazyNode>(s.Send(TVM_GETNEXTITEM, code, reinterpret_cast<LPARAM>(n)));
    };
    EXPECT_EQ(next(TVGN_ROOT, nullptr), a);
    EXPECT_EQ(next(TVGN_NEXT, a), b);
    EXPECT_EQ(next(TVGN_PREVIOUS, b), a);
    EXPECT_EQ(next(TVGN_PREVIOUS, a), nullptr);
    EXPECT_EQ(next(TVGN_PARENT, a1), a);
    EXPECT_EQ(next(TVGN_PARENT, a), nullptr);   // top level: no parent
    EXPECT_EQ(next(TVGN_CHILD, a), a1);
    EXPECT_EQ(next(TVGN_FIRSTVISIBLE, nullptr), a);
    EXPECT_EQ(next(TVGN_NEXTVISIBLE, a), a1);
    EXPECT_EQ(next(TVGN_PREVIOUSVISIBLE, b), a1);
    EXPECT_EQ(next(TVGN_LASTVISIBLE, nullptr), b);
    EXPECT_EQ(next(TVGN_CARET, nullptr), nullptr);
    s.tree.SetFocusedNode(b);
    s.tree.SetSelected(b, true);
    EXPECT_EQ(next(TVGN_CARET, nullptr), b);
    // The item goes in the rectangle's first bytes.
    RECT r{};
    std::memcpy(&r, &a1, sizeof a1);
    ASSERT_TRUE(s.Send(TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r)));
    EXPECT_EQ(r.top, 18);
    EXPECT_EQ(r.bottom, 36);
    s.tree.SetExpanded(a, false);
    std::memcpy(&r, &a1, sizeof a1);
    EXPECT_FALSE(s.Send(TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r)));   // hidden
    TVITEMA item{};
    item.mask = TVIF_STATE | TVIF_CHILDREN;
    item.hItem = reinterpret_cast<HTREEITEM>(b);
    ASSERT_TRUE(s.Send(TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    EXPECT_EQ(item.state & TVIS_SELECTED, UINT(TVIS_SELECTED));
    EXPECT_EQ(item.state & TVIS_EXPANDED, 0u);
    EXPECT_EQ(item.cChildren, 0);
    item.hItem = reinterpret_cast<HTREEITEM>(a);
    s.Send(TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(item.cChildren, 1);
    EXPECT_EQ(s.Send(0xB7D0), 1);
}

TEST(ModeReset, FocusLossAndCancelModeEndSearchesAndPresses) {
    Session s;
    for (const wchar_t* n : {L"Alpha", L"Beta", L"Bravo"}) s.Add(nullptr, n);
    s.tree.SetIncrementalSearch(isAll);
    auto& o = s.tree.TreeOptions();
    o.SetMiscOptions(o.MiscOptions() + toCheckSupport);
    s.tree.SetCheckType(s.Node("Alpha"), ctCheckBox);
    s.Type("B");
    EXPECT_EQ(s.tree.SearchBuffer(), L"B");
    s.Send(WM_KILLFOCUS);
    EXPECT_EQ(s.tree.SearchBuffer(), L"");
    EXPECT_FALSE(s.tree.TreeStates().Contains(tsIncrementalSearching));
    s.Type("Br");
    EXPECT_EQ(s.Name(s.tree.FocusedNode()), "Bravo");
    s.Send(WM_CANCELMODE);
    EXPECT_EQ(s.tree.SearchBuffer(), L"");
    // A mouse check held down is cancelled with the mode.
    PLazyNode alpha = s.Node("Alpha");
    s.Down(s.PointOn(alpha, hpOnItemCheckbox));
    EXPECT_EQ(s.tree.CheckState(alpha), csUncheckedPressed);
    s.Send(WM_CANCELMODE);
    EXPECT_EQ(s.tree.CheckState(alpha), csUncheckedNormal);
    EXPECT_EQ(s.tree.PendingCheckNode(), nullptr);
    EXPECT_FALSE(s.tree.TreeStates().Contains(tsLeftButtonDown));
}

} // namespace
