// Check boxes: propagation down, up and across radio groups, vetoes at each
// level, with the exact sequence of OnChecking and OnChecked events.
#include "TreeTestSupport.h"
#include <map>

using namespace krv;
using namespace krv::test;

namespace {
// A tree whose nodes have names, logging every checking and checked event.
struct CheckFixture {
    TTestTree tree;
    std::map<PLazyNode, std::string> names;
    std::vector<std::string> log;
    std::map<std::string, bool> veto;

    CheckFixture() {
        tree.TreeOptions().SetMiscOptions(tree.TreeOptions().MiscOptions() + toCheckSupport);
        tree.OnChecking = [this](TBaseLazyTree*, PLazyNode n, TCheckState& s, bool& allowed) {
            log.push_back("checking " + names[n] + " " + std::to_string(int(s)));
            if (veto[names[n]]) allowed = false;
        };
        tree.OnChecked = [this](TBaseLazyTree*, PLazyNode n) { log.push_back("checked " + names[n]); };
    }
    PLazyNode Add(PLazyNode parent, const std::string& name, TCheckType type, TCheckState state = csUncheckedNormal) {
        PLazyNode n = tree.AddChild(parent);
        tree.InitNode(n);
        n->CheckType = type;
        n->CheckState = state;
        names[n] = name;
        return n;
    }
    std::string Log() const {
        std::string s;
        for (const auto& l : log) s += l + "; ";
        return s;
    }
};
}

TEST(CheckState, CheckingATriStateParentChecksItsBoxChildrenFirst) {
    CheckFixture f;
    PLazyNode p = f.Add(nullptr, "P", ctTriStateCheckBox);
    PLazyNode a = f.Add(p, "A", ctCheckBox), b = f.Add(p, "B", ctCheckBox), c = f.Add(p, "C", ctCheckBox);
    f.Add(p, "N", ctNone);
    f.tree.SetCheckState(p, csCheckedNormal);
    EXPECT_EQ(f.Log(), "checking P 2; checking A 2; checked A; checking B 2; checked B; checking C 2; checked C; checked P; ");
    for (PLazyNode n : {p, a, b, c}) EXPECT_EQ(n->CheckState, csCheckedNormal);
    EXPECT_TREE_CONSISTENT(f.tree);
}

TEST(CheckState, AVetoedChildMakesTheParentMixed) {
    CheckFixture f;
    PLazyNode p = f.Add(nullptr, "P", ctTriStateCheckBox);
    PLazyNode a = f.Add(p, "A", ctCheckBox), b = f.Add(p, "B", ctCheckBox), c = f.Add(p, "C", ctCheckBox);
    f.veto["B"] = true;
    f.tree.SetCheckState(p, csCheckedNormal);
    EXPECT_EQ(f.Log(), "checking P 2; checking A 2; checked A; checking B 2; checking C 2; checked C; checked P; ");
    EXPECT_EQ(p->CheckState, csMixedNormal);
    EXPECT_EQ(a->CheckState, csCheckedNormal);
    EXPECT_EQ(b->CheckState, csUncheckedNormal);
    EXPECT_EQ(c->CheckState, csCheckedNormal);
}

TEST(CheckState, AllChildrenVetoedLeaveTheParentUnchecked) {
    CheckFixture f;
    PLazyNode p = f.Add(nullptr, "P", ctTriStateCheckBox);
    f.Add(p, "A", ctCheckBox);
    f.veto["A"] = true;
    f.tree.SetCheckState(p, csCheckedNormal);
    // A checked box over only unchecked boxes would be a lie.
    EXPECT_EQ(p->CheckState, csUncheckedNormal);
}

TEST(CheckState, UncheckingChildrenTurnsTheParentMixedThenUnchecked) {
    CheckFixture f;
    PLazyNode p = f.Add(nullptr, "P", ctTriStateCheckBox, csCheckedNormal);
    PLazyNode a = f.Add(p, "A", ctCheckBox, csCheckedNormal);
    PLazyNode b = f.Add(p, "B", ctCheckBox, csCheckedNormal);
    f.tree.SetCheckState(a, csUncheckedNormal);
    EXPECT_EQ(f.Log(), "checking A 0; checking P 4; checked P; checked A; ");
    EXPECT_EQ(p->CheckState, csMixedNormal);
    f.log.clear();
    f.tree.SetCheckState(b, csUncheckedNormal);
    EXPECT_EQ(f.Log(), "checking B 0; checking P 0; checked P; checked B; ");
    EXPECT_EQ(p->CheckState, csUncheckedNormal);
}

TEST(CheckState, AVetoAtTheParentKeepsTheChildsNewStateButNotItsCheckedEvent) {
    CheckFixture f;
    PLazyNode p = f.Add(nullptr, "P", ctTriStateCheckBox, csCheckedNormal);
    PLazyNode a = f.Add(p, "A", ctCheckBox, csCheckedNormal);
    f.Add(p, "B", ctCheckBox, csCheckedNormal);
    f.veto["P"] = true;
    f.tree.SetCheckState(a, csUncheckedNormal);
    EXPECT_EQ(f.Log(), "checking A 0; checking P 4; ");
    EXPECT_EQ(a->CheckState, csUncheckedNormal);
    EXPECT_EQ(p->CheckState, csCheckedNormal);
}

TEST(CheckState, ChangesClimbEveryTriStateAncestorAndStopBelowOtherTypes) {
    CheckFixture f;
    PLazyNode top = f.Add(nullptr, "T", ctCheckBox);
    PLazyNode g = f.Add(top, "G", ctTriStateCheckBox);
    PLazyNode p = f.Add(g, "P", ctTriStateCheckBox);
    f.Add(g, "Q", ctCheckBox);
    PLazyNode a = f.Add(p, "A", ctCheckBox);
    f.Add(p, "B", ctCheckBox);
    f.tree.SetCheckState(a, csCheckedNormal);
    EXPECT_EQ(f.Log(), "checking A 2; checking P 4; checking G 4; checked G; checked P; checked A; ");
    EXPECT_EQ(top->CheckState, csUncheckedNormal);   // not a tri-state box: not touched
    f.log.clear();
    f.veto["G"] = true;
    f.tree.SetCheckState(a, csUncheckedNormal);
    EXPECT_EQ(f.Log(), "checking A 0; checking P 0; checking G 0; ");
    EXPECT_EQ(p->CheckState, csUncheckedNormal);
    EXPECT_EQ(g->CheckState, csMixedNormal);
}

TEST(CheckState, MixedChildMakesTheParentMixed) {
    CheckFixture f;
    PLazyNode g = f.Add(nullptr, "G", ctTriStateCheckBox);
    PLazyNode p = f.Add(g, "P", ctTriStateCheckBox);
    f.Add(g, "Q", ctCheckBox, csCheckedNormal);
    PLazyNode a = f.Add(p, "A", ctCheckBox);
    f.Add(p, "B", ctCheckBox, csCheckedNormal);
    f.tree.SetCheckState(a, csCheckedNormal);   // P becomes checked, so G becomes checked
    EXPECT_EQ(p->CheckState, csCheckedNormal);
    EXPECT_EQ(g->CheckState, csCheckedNormal);
    f.tree.SetCheckState(a, csUncheckedNormal);   // P mixed, so G mixed
    EXPECT_EQ(p->CheckState, csMixedNormal);
    EXPECT_EQ(g->CheckState, csMixedNormal);
}

TEST(CheckState, RadioSiblingsAreClearedWithoutEvents) {
    CheckFixture f;
    PLazyNode r1 = f.Add(nullptr, "R1", ctRadioButton);
    PLazyNode r2 = f.Add(nullptr, "R2", ctRadioButton, csCheckedNormal);
    PLazyNode box = f.Add(nullptr, "X", ctCheckBox, csCheckedNormal);
    f.tree.SetCheckState(r1, csCheckedNormal);
    EXPECT_EQ(f.Log(), "checking R1 2; checked R1; ");
    EXPECT_EQ(r1->CheckState, csCheckedNormal);
    EXPECT_EQ(r2->CheckState, csUncheckedNormal);
    EXPECT_EQ(box->CheckState, csCheckedNormal);
}

TEST(CheckState, WithoutTrackingOnlyTheNodeChanges) {
    CheckFixture f;
    f.tree.TreeOptions().SetAutoOptions(f.tree.TreeOptions().AutoOptions() - toAutoTristateTracking);
    PLazyNode p = f.Add(nullptr, "P", ctTriStateCheckBox);
    PLazyNode a = f.Add(p, "A", ctCheckBox);
    f.tree.SetCheckState(p, csCheckedNormal);
    f.tree.SetCheckState(a, csMixedNormal);
    EXPECT_EQ(f.Log(), "checking P 2; checked P; checking A 4; checked A; ");
    EXPECT_EQ(p->CheckState, csCheckedNormal);
}

TEST(CheckState, ReadOnlyAndDisabledNodesRefuseChanges) {
    CheckFixture f;
    PLazyNode a = f.Add(nullptr, "A", ctCheckBox);
    PLazyNode d = f.Add(nullptr, "D", ctCheckBox);
    f.tree.SetDisabled(d, true);
    f.tree.SetCheckState(d, csCheckedNormal);
    EXPECT_EQ(d->CheckState, csUncheckedNormal);
    f.tree.TreeOptions().SetMiscOptions(f.tree.TreeOptions().MiscOptions() + toReadOnly);
    f.tree.SetCheckState(a, csCheckedNormal);
    EXPECT_EQ(a->CheckState, csUncheckedNormal);
    EXPECT_TRUE(f.log.empty());
}

TEST(CheckState, NextStateOfAClick) {
    TTestTree tree;
    EXPECT_EQ(tree.DetermineNextCheckState(ctTriStateCheckBox, csMixedNormal), csCheckedNormal);
    EXPECT_EQ(tree.DetermineNextCheckState(ctCheckBox, csCheckedNormal), csUncheckedNormal);
    EXPECT_EQ(tree.DetermineNextCheckState(ctCheckBox, csUncheckedPressed), csCheckedNormal);
    EXPECT_EQ(tree.DetermineNextCheckState(ctRadioButton, csCheckedNormal), csCheckedNormal);
    EXPECT_EQ(tree.DetermineNextCheckState(ctButton, csCheckedNormal), csUncheckedNormal);
}

// A descendant that cycles a tri-state box through mixed as well: the key check follows its slot.
class TCyclingTree : public TTestTree {
public:
    TCheckState DetermineNextCheckState(TCheckType type, TCheckState state) override {
        if (type != ctTriStateCheckBox) return TTestTree::DetermineNextCheckState(type, state);
        return state == csUncheckedNormal ? csMixedNormal : state == csMixedNormal ? csCheckedNormal : csUncheckedNormal;
    }
};

TEST(CheckState, ADescendantDecidesTheNextState) {
    TCyclingTree tree;
    tree.TreeOptions().SetMiscOptions(tree.TreeOptions().MiscOptions() + toCheckSupport);
    PLazyNode n = tree.AddChild(nullptr);
    tree.InitNode(n);
    n->CheckType = ctTriStateCheckBox;
    tree.SetFocusedNode(n);
    for (TCheckState expected : {csMixedNormal, csCheckedNormal, csUncheckedNormal}) {
        ASSERT_TRUE(tree.BeginPendingCheck(n, false));
        tree.EndPendingCheck(true);
        EXPECT_EQ(n->CheckState, expected);
    }
}

TEST(CheckState, PendingPressShowsPressedAndAppliesOnlyOnTheSameNode) {
    CheckFixture f;
    PLazyNode a = f.Add(nullptr, "A", ctCheckBox);
    PLazyNode b = f.Add(nullptr, "B", ctCheckBox);
    f.tree.SetFocusedNode(a);
    ASSERT_TRUE(f.tree.BeginPendingCheck(a, false));
    EXPECT_EQ(a->CheckState, csUncheckedPressed);
    EXPECT_FALSE(f.tree.BeginPendingCheck(b, true));   // one pending check at a time
    f.tree.EndPendingCheck(f.tree.PendingCheckNode() == f.tree.FocusedNode());
    EXPECT_EQ(a->CheckState, csCheckedNormal);
    // Released after the focus moved: the old state comes back.
    ASSERT_TRUE(f.tree.BeginPendingCheck(a, false));
    f.tree.SetFocusedNode(b);
    f.tree.EndPendingCheck(f.tree.PendingCheckNode() == f.tree.FocusedNode());
    EXPECT_EQ(a->CheckState, csCheckedNormal);
    EXPECT_FALSE(f.tree.TreeStates().Contains(tsKeyCheckPending));
}

TEST(CheckState, NewBoxTypeTakesTheParentsDefiniteState) {
    CheckFixture f;
    PLazyNode p = f.Add(nullptr, "P", ctTriStateCheckBox, csCheckedNormal);
    PLazyNode a = f.Add(p, "A", ctNone);
    f.tree.SetCheckType(a, ctCheckBox);
    EXPECT_EQ(a->CheckState, csCheckedNormal);
}

TEST(CheckState, DeepChainPropagatesWithoutRecursion) {
    CheckFixture f;
    f.tree.OnChecking = nullptr;
    f.tree.OnChecked = nullptr;
    PLazyNode run = nullptr;
    PLazyNode top = nullptr;
    f.tree.BeginUpdate();
    for (int i = 0; i < 20000; ++i) {
        run = f.tree.AddChild(run);
        run->CheckType = ctTriStateCheckBox;
        run->States |= vsInitialized;
        if (!top) top = run;
    }
    f.tree.EndUpdate();
    f.tree.SetCheckState(run, csCheckedNormal);
    EXPECT_EQ(top->CheckState, csCheckedNormal);
    f.tree.SetCheckState(top, csUncheckedNormal);
    EXPECT_EQ(run->CheckState, csUncheckedNormal);
}
