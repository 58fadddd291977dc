// Update batching, iteration, navigation over shown rows, selection, focus,
// delayed change notification and the in-place edit states.
#include "TreeTestSupport.h"
#include "tree/core/LazyTreeGlobals.h"
#include <algorithm>
#include <functional>
#include <random>

using namespace krv;
using namespace krv::test;

TEST(UpdateBatch, NestedBracketsReportBeginUpdateUpdateEnd) {
    TTestTree tree;
    std::vector<TLTUpdateState> log;
    tree.OnUpdating = [&](TBaseLazyTree*, TLTUpdateState s) { log.push_back(s); };
    tree.BeginUpdate();
    tree.BeginUpdate();
    EXPECT_TRUE(tree.TreeStates().Contains(tsUpdating));
    tree.EndUpdate();
    tree.EndUpdate();
    EXPECT_EQ(log, (std::vector<TLTUpdateState>{usBegin, usUpdate, usUpdate, usEnd}));
    EXPECT_FALSE(tree.TreeStates().Contains(tsUpdating));
    log.clear();
    tree.EndUpdate();   // unbalanced: only the end is reported
    EXPECT_EQ(log, (std::vector<TLTUpdateState>{usEnd}));
    EXPECT_EQ(tree.UpdateCount(), 0u);
    EXPECT_FALSE(tree.TreeStates().Contains(tsUpdating));
}

TEST(UpdateBatch, ChangesInsideABracketAreReportedOnceAtTheEnd) {
    TTestTree tree;
    std::vector<std::pair<PLazyNode, TChangeReason>> structure;
    tree.OnStructureChange = [&](TBaseLazyTree*, PLazyNode n, TChangeReason r) { structure.emplace_back(n, r); };
    tree.BeginUpdate();
    PLazyNode a = tree.AddChild(nullptr);
    tree.AddChild(a);
    tree.DeleteNode(a->FirstChild);
    EXPECT_TRUE(structure.empty());
    tree.EndUpdate();
    ASSERT_EQ(structure.size(), 1u);
    EXPECT_EQ(structure[0].first, a);
    EXPECT_EQ(structure[0].second, crAccumulated);
}

TEST(UpdateBatch, DeletedSelectedNodesStayCountedUntilTheEnd) {
    TTestTree tree;
    tree.TreeOptions().SetSelectionOptions(tree.TreeOptions().SelectionOptions() + toMultiSelect);
    tree.SetRootNodeCount(5);
    for (PLazyNode n = tree.GetFirst(); n; n = tree.GetNextSibling(n)) tree.SetSelected(n, true);
    ASSERT_EQ(tree.SelectedCount(), 5u);
    tree.BeginUpdate();
    tree.DeleteNode(tree.GetFirstNoInit());
    tree.DeleteNode(tree.GetFirstNoInit());
    EXPECT_EQ(tree.SelectedCount(), 5u);
    tree.EndUpdate();
    EXPECT_EQ(tree.SelectedCount(), 3u);
    EXPECT_TREE_CONSISTENT(tree);
    tree.DeleteSelectedNodes();
    EXPECT_EQ(tree.RootNodeCount(), 0u);
    EXPECT_EQ(tree.SelectedCount(), 0u);
}

// A handler that throws inside one of the tree's own brackets: the bracket
// still closes, so the tree goes on painting and reporting its changes. A
// move to another tree brackets the target tree.
TEST(UpdateBatch, AHandlerThatThrowsLeavesNoBracketOpen) {
    struct Thrown {};
    using Step = std::function<void(TTestTree& tree, TTestTree& other)>;
    TMemoryStream saved;
    {
        TTestTree source;
        source.SetRootNodeCount(2);
        source.SaveToStream(saved);
    }
    const struct {
        const char* name;
        Step act;
    } cases[] = {
        {"expand all", [](TTestTree& t, TTestTree&) {
             t.OnExpanding = [](TBaseLazyTree*, PLazyNode, bool&) { throw Thrown{}; };
             t.FullExpand();
         }},
        {"collapse all", [](TTestTree& t, TTestTree&) {
             t.FullExpand();
             t.OnCollapsing = [](TBaseLazyTree*, PLazyNode, bool&) { throw Thrown{}; };
             t.FullCollapse();
         }},
        {"load", [&](TTestTree& t, TTestTree&) {
             t.OnNodeCopied = [](TBaseLazyTree*, PLazyNode) { throw Thrown{}; };
             saved.SetPosition(0);
             t.LoadFromStream(saved);
         }},
        {"move to another tree", [](TTestTree& t, TTestTree& other) {
             t.OnNodeMoved = [](TBaseLazyTree*, PLazyNode) { throw Thrown{}; };
             t.MoveTo(t.GetFirst(), other.GetFirst(), amInsertAfter, false);
         }},
        {"add a child inside a bracket", [](TTestTree& t, TTestTree&) {
             t.OnGetNodeDataSize = [](TBaseLazyTree*, int&) { throw Thrown{}; };
             InUpdate(t, [&] { t.AddChild(nullptr); });
         }},
    };
    for (const auto& c : cases) {
        TTestTree tree, other;
        std::vector<TLTUpdateState> log, otherLog;
        for (TTestTree* t : {&tree, &other}) {
            t->SetRootNodeCount(3);
            for (PLazyNode n = t->GetFirst(); n; n = t->GetNextSibling(n)) t->SetChildCount(n, 2);
            t->OnUpdating = [&log, &otherLog, t, &tree](TBaseLazyTree*, TLTUpdateState s) {
                (t == &tree ? log : otherLog).push_back(s);
            };
        }
        EXPECT_THROW(c.act(tree, other), Thrown) << c.name;
        tree.OnExpanding = tree.OnCollapsing = nullptr;
        tree.OnNodeCopied = tree.OnNodeMoved = nullptr;
        tree.OnGetNodeDataSize = nullptr;
        EXPECT_FALSE(log.empty() && otherLog.empty()) << c.name << ": no bracket was opened";
        for (TTestTree* t : {&tree, &other}) {
            std::vector<TLTUpdateState>& seen = t == &tree ? log : otherLog;
            EXPECT_EQ(t->UpdateCount(), 0u) << c.name;
            EXPECT_FALSE(t->TreeStates().Contains(tsUpdating)) << c.name;
            EXPECT_FALSE(t->TreeStates().Contains(tsExpanding) || t->TreeStates().Contains(tsCollapsing)) << c.name;
            if (!seen.empty()) {
                EXPECT_EQ(seen.back(), usEnd) << c.name;
            }
            seen.clear();
            t->BeginUpdate();
            t->EndUpdate();
            EXPECT_EQ(seen, (std::vector<TLTUpdateState>{usBegin, usEnd})) << c.name;
        }
    }
}

TEST(Iterate, FilterAbortAndChildNodesOnly) {
    TTestTree tree;
    tree.TreeOptions().SetSelectionOptions(tree.TreeOptions().SelectionOptions() + toMultiSelect);
    PLazyNode a = tree.AddChild(nullptr);
    PLazyNode a1 = tree.AddChild(a);
    PLazyNode a2 = tree.AddChild(a);
    PLazyNode b = tree.AddChild(nullptr);
    tree.SetSelected(a1, true);
    tree.SetSelected(b, true);
    std::vector<PLazyNode> seen;
    auto collect = [&](TBaseLazyTree*, PLazyNode n, void*, bool&) { seen.push_back(n); };
    EXPECT_EQ(tree.IterateSubtree(nullptr, collect, nullptr, vsSelected), nullptr);
    EXPECT_EQ(seen, (std::vector<PLazyNode>{a1, b}));
    seen.clear();
    tree.IterateSubtree(a, collect, nullptr);   // a's subtree only
    EXPECT_EQ(seen, (std::vector<PLazyNode>{a, a1, a2}));
    seen.clear();
    tree.IterateSubtree(a2, collect, nullptr, 0, false, true);   // no children: nothing
    EXPECT_TRUE(seen.empty());
    PLazyNode stopped = tree.IterateSubtree(nullptr, [&](TBaseLazyTree*, PLazyNode n, void*, bool& abort) {
        abort = n == a2;
    }, nullptr);
    EXPECT_EQ(stopped, a2);
    EXPECT_FALSE(tree.TreeStates().Contains(tsIterating));
}

// Every navigation operation against the list of shown rows.
TEST(Navigation, VisibleStepsAgreeWithTheShownRows) {
    TTestTree tree;
    std::mt19937 rng(21);
    tree.BeginUpdate();
    for (int i = 0; i < 600; ++i) {
        unsigned total = tree.TotalCount();
        PLazyNode parent = total && rng() % 4 ? NodeByOrder(tree, rng() % total) : nullptr;
        PLazyNode n = tree.AddChild(parent);
        if (rng() % 6 == 0) tree.SetIsVisible(n, false);
        if (parent && rng() % 3) tree.SetExpanded(parent, true);
    }
    tree.EndUpdate();
    ASSERT_TREE_CONSISTENT(tree);
    std::vector<PLazyNode> all, shown;
    for (PLazyNode n = tree.GetFirstNoInit(); n; n = tree.GetNextNoInit(n)) {
        all.push_back(n);
        if (tree.IsEffectivelyVisible(n)) shown.push_back(n);
    }
    ASSERT_EQ(shown.size(), tree.VisibleCount());
    std::vector<PLazyNode> walked;
    for (PLazyNode n = tree.GetFirstVisibleNoInit(); n; n = tree.GetNextVisibleNoInit(n)) walked.push_back(n);
    EXPECT_EQ(walked, shown);
    std::vector<PLazyNode> back;
    for (PLazyNode n = tree.GetLastVisibleNoInit(); n; n = tree.GetPreviousVisibleNoInit(n)) back.push_back(n);
    std::reverse(back.begin(), back.end());
    EXPECT_EQ(back, shown);
    // From any node, hidden or not, the next shown row is the first shown one after it.
    for (size_t i = 0; i < all.size(); ++i) {
        PLazyNode expected = nullptr;
        for (size_t j = i + 1; j < all.size() && !expected; ++j)
            if (tree.IsEffectivelyVisible(all[j])) expected = all[j];
        ASSERT_EQ(tree.GetNextVisibleNoInit(all[i]), expected) << i;
    }
    std::vector<PLazyNode> backwards;
    for (PLazyNode n = tree.GetLastNoInit(); n; n = tree.GetPreviousNoInit(n)) backwards.push_back(n);
    std::reverse(backwards.begin(), backwards.end());
    EXPECT_EQ(backwards, all);
}

TEST(Navigation, InitialisingStepsInitialiseWhatTheyReturn) {
    TTestTree tree;
    tree.OnInitNode = [](TBaseLazyTree*, PLazyNode, PLazyNode n, TLazyNodeInitStates& s) {
        if (n->Index == 0) s += ivsHasChildren;
    };
    tree.OnInitChildren = [](TBaseLazyTree*, PLazyNode, unsigned& c) { c = 2; };
    tree.SetRootNodeCount(2);
    unsigned count = 0;
    for (PLazyNode n = tree.GetFirst(); n; n = tree.GetNext(n)) {
        EXPECT_TRUE(n->States & vsInitialized);
        if (++count > 100) break;
    }
    // Each first child has children in turn: the walk stops only by depth here.
    EXPECT_GT(count, 2u);
}

TEST(Selection, SingleSelectKeepsOneAndSortedSelectionResolves) {
    TTestTree tree;
    PLazyNode a = tree.AddChild(nullptr), b = tree.AddChild(nullptr);
    PLazyNode a1 = tree.AddChild(a);
    tree.SetSelected(a, true);
    tree.SetSelected(b, true);
    EXPECT_EQ(tree.SelectedCount(), 1u);
    EXPECT_FALSE(tree.Selected(a));
    tree.TreeOptions().SetSelectionOptions(tree.TreeOptions().SelectionOptions() + toMultiSelect);
    EXPECT_EQ(tree.SelectedCount(), 0u);   // switching multi-select clears
    tree.SetSelected(b, true);
    tree.SetSelected(a1, true);
    tree.SetSelected(a, true);
    EXPECT_EQ(tree.GetSortedSelection(false), (TNodeArray{a, a1, b}));
    EXPECT_EQ(tree.GetSortedSelection(true), (TNodeArray{a, b}));
    EXPECT_EQ(tree.GetFirstSelected(), a);
    EXPECT_EQ(tree.GetNextSelected(a), a1);
    tree.InvertSelection(false);
    EXPECT_EQ(tree.SelectedCount(), 0u);
    tree.SelectAll(false);
    EXPECT_EQ(tree.SelectedCount(), 3u);
    tree.SetDisabled(a1, true);
    tree.ClearSelection();
    tree.SelectAll(false);
    EXPECT_EQ(tree.SelectedCount(), 2u);   // disabled nodes are not selected
    EXPECT_TREE_CONSISTENT(tree);
}

// A selection gives a missing focused column to the main column (the first shown one while it is hidden).
TEST(Selection, SelectingANodeFocusesTheMainColumn) {
    for (bool hidden : {false, true}) {
        TTestTree tree;
        for (int i = 0; i < 3; ++i) tree.Header().Columns().Add();
        if (hidden) tree.Header().Columns()[1].SetOptions(DefaultColumnOptions - coVisible);
        tree.Header().SetMainColumn(1);
        tree.SetSelected(tree.AddChild(nullptr), true);
        EXPECT_EQ(tree.FocusedColumn(), hidden ? 0 : 1) << hidden;
    }
}

TEST(Focus, VetoKeepsTheOldFocusAndClearForgetsIt) {
    TTestTree tree;
    PLazyNode a = tree.AddChild(nullptr), b = tree.AddChild(nullptr);
    std::vector<PLazyNode> changed;
    tree.OnFocusChanged = [&](TBaseLazyTree*, PLazyNode n, TColumnIndex) { changed.push_back(n); };
    tree.SetFocusedNode(a);
    tree.OnFocusChanging = [](TBaseLazyTree*, PLazyNode, PLazyNode, TColumnIndex, TColumnIndex, bool& allowed) {
        allowed = false;
    };
    tree.SetFocusedNode(b);
    EXPECT_EQ(tree.FocusedNode(), a);
    EXPECT_EQ(changed, (std::vector<PLazyNode>{a}));
    tree.Clear();
    EXPECT_EQ(tree.FocusedNode(), nullptr);
}

TEST(Notification, StateChangeFiresOnlyForRealChanges) {
    TTestTree tree;
    int fired = 0;
    tree.OnStateChange = [&](TBaseLazyTree*, TLazyTreeStates, TLazyTreeStates) { ++fired; };
    tree.BeginUpdate();
    tree.BeginUpdate();   // tsUpdating already set: no event
    tree.EndUpdate();
    EXPECT_EQ(fired, 1);
    tree.EndUpdate();
}

TEST(Notification, DelayedChangesCollapseIntoOne) {
    TTestTree tree;
    tree.HandleNeeded();
    PLazyNode a = tree.AddChild(nullptr), b = tree.AddChild(nullptr);
    std::vector<PLazyNode> changes;
    tree.OnChange = [&](TBaseLazyTree*, PLazyNode n) { changes.push_back(n); };
    tree.NotifyChange(a);
    tree.NotifyChange(b);
    EXPECT_EQ(changes, (std::vector<PLazyNode>{a, b}));
    changes.clear();
    tree.ChangeDelay = 30;
    tree.NotifyChange(a);
    tree.NotifyChange(b);
    EXPECT_TRUE(changes.empty());
    ASSERT_TRUE(PumpUntil([&] { return !changes.empty(); }));
    PumpUntil([] { return false; }, 80);
    EXPECT_EQ(changes, (std::vector<PLazyNode>{b}));

    std::vector<TChangeReason> reasons;
    tree.OnStructureChange = [&](TBaseLazyTree*, PLazyNode, TChangeReason r) { reasons.push_back(r); };
    tree.NotifyStructureChange(a, crChildAdded);
    tree.NotifyStructureChange(a, crChildDeleted);
    ASSERT_TRUE(PumpUntil([&] { return !reasons.empty(); }));
    EXPECT_EQ(reasons, (std::vector<TChangeReason>{crAccumulated}));
}

namespace {
struct FakeEditor : ILTEditLink {
    bool finish = true, cancel = true;
    std::vector<std::string>* log;
    explicit FakeEditor(std::vector<std::string>* l) : log(l) {}
    bool StartEditing() override { log->push_back("start"); return true; }
    bool CancelEditing() override { log->push_back("cancel"); return cancel; }
    bool FinishEditing() override { log->push_back("finish"); return finish; }
    bool PrepareEditing(TBaseLazyTree*, PLazyNode, TColumnIndex) override { log->push_back("prepare"); return true; }
    RECT GetEditorBounds() override { return RECT{}; }
    void ForwardMessage(UINT, WPARAM, LPARAM) override {}
    void SetEditorBounds(RECT) override {}
};
}

TEST(Editing, EditStatesRunThroughTheLink) {
    TTestTree tree;
    tree.TreeOptions().SetMiscOptions(tree.TreeOptions().MiscOptions() + toEditable);
    PLazyNode a = tree.AddChild(nullptr);
    std::vector<std::string> log;
    auto editor = std::make_shared<FakeEditor>(&log);
    tree.OnCreateEditor = [&](TBaseLazyTree*, PLazyNode, TColumnIndex, PLTEditLink& link) { link = editor; };
    tree.OnEdited = [&](TBaseLazyTree*, PLazyNode, TColumnIndex) { log.push_back("edited"); };
    tree.EditNode(a, ColumnNone);
    EXPECT_TRUE(tree.IsEditing());
    editor->finish = false;
    EXPECT_FALSE(tree.EndEditNode());
    EXPECT_TRUE(tree.IsEditing());   // the editor refused to finish
    editor->finish = true;
    EXPECT_TRUE(tree.EndEditNode());
    EXPECT_FALSE(tree.IsEditing());
    EXPECT_EQ(log, (std::vector<std::string>{"prepare", "start", "finish", "finish", "edited"}));

    tree.OnCreateEditor = [](TBaseLazyTree*, PLazyNode, TColumnIndex, PLTEditLink&) {};
    try {
        tree.EditNode(a, ColumnNone);
        ADD_FAILURE() << "a nil editor must be refused";
    } catch (const ELazyTreeError& e) {
        EXPECT_EQ(e.Code, 2000);
    }
}

TEST(Popup, AskedForTheNodeThenItsParentsUntilOneAnswersOrStops) {
    TTestTree tree;
    PLazyNode a = tree.AddChild(nullptr);
    PLazyNode a1 = tree.AddChild(a);
    PLazyNode a11 = tree.AddChild(a1);
    TPopupMenu menu;
    std::vector<PLazyNode> asked;
    bool stopAtA1 = false;
    tree.OnGetPopupMenu = [&](TBaseLazyTree*, PLazyNode n, TColumnIndex, POINT, bool& askParent, TPopupMenu*& m) {
        asked.push_back(n);
        if (n == a) m = &menu;
        if (stopAtA1 && n == a1) askParent = false;
    };
    auto ask = [&](PLazyNode n) { return tree.DoGetPopupMenu(n, 0, POINT{}); };
    EXPECT_EQ(ask(a11), &menu);
    EXPECT_EQ(asked, (std::vector<PLazyNode>{a11, a1, a}));
    asked.clear();
    stopAtA1 = true;
    EXPECT_EQ(ask(a11), nullptr);
    EXPECT_EQ(asked, (std::vector<PLazyNode>{a11, a1}));
    asked.clear();
    EXPECT_EQ(ask(nullptr), nullptr);
    EXPECT_EQ(asked, (std::vector<PLazyNode>{nullptr}));
}

TEST(Globals, FirstTreeRegistersTheClipboardFormatsInPriorityOrder) {
    TTestTree tree;
    const TLazyTreeGlobals& g = InitializeGlobalStructures();
    EXPECT_EQ(g.ReferenceFormat, CLIPFORMAT(::RegisterClipboardFormatA("Lazy Tree Reference")));
    ASSERT_EQ(g.ClipboardFormats.size(), 7u);
    EXPECT_EQ(g.ClipboardFormats.front().Name, "Lazy Tree Data");
    EXPECT_EQ(g.ClipboardFormats.front().Format, CLIPFORMAT(::RegisterClipboardFormatA("Lazy Tree Data")));
    EXPECT_EQ(g.ClipboardFormats.back().Format, CF_TEXT);
    EXPECT_TRUE(std::is_sorted(g.ClipboardFormats.begin(), g.ClipboardFormats.end(),
                               [](const auto& a, const auto& b) { return a.Priority < b.Priority; }));
}

TEST(Scrolling, ScrollIntoViewBringsTheRowToTheNearestEdgeOrTheMiddle) {
    TTestTree tree;
    tree.HandleNeeded();
    tree.SetRootNodeCount(50);
    int client = tree.ClientHeight();
    ASSERT_GT(client, 40);
    PLazyNode n20 = NodeByOrder(tree, 20);
    EXPECT_TRUE(tree.ScrollIntoView(n20, false));
    EXPECT_EQ(tree.OffsetY(), client - 21 * 18);
    int top;
    EXPECT_EQ(tree.GetNodeAt(0, client - 1, true, top), n20);
    EXPECT_EQ(top, client - 18);
    EXPECT_FALSE(tree.ScrollIntoView(n20, false));   // already in view
    PLazyNode n2 = NodeByOrder(tree, 2);
    EXPECT_TRUE(tree.ScrollIntoView(n2, false));
    EXPECT_EQ(tree.OffsetY(), -36);
    EXPECT_EQ(tree.GetTopNode(), n2);
    tree.ScrollIntoView(NodeByOrder(tree, 30), true);
    EXPECT_EQ(tree.OffsetY(), client / 2 - (30 * 18 + 9));
    // A row inside a collapsed parent is shown by expanding the parents.
    PLazyNode inner = tree.AddChild(tree.AddChild(n2));
    tree.ScrollIntoView(inner, false);
    EXPECT_TRUE(tree.IsEffectivelyVisible(inner));
    EXPECT_TREE_CONSISTENT(tree);
}
