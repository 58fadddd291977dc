// Scripted sessions of mouse and key messages: each step's events are
// compared with an expected table, order included, and the session ends in
// known focus, selection, expansion and check states.
#include "SessionSupport.h"

using namespace krv;
using namespace krv::test;

namespace {

// Alpha (Apple, Avocado), Beta (Banana, Blueberry), Cherry, Date, Elder, Fig, Cedar.
struct Fruit : Session {
    explicit Fruit(int width = 240, int height = 200) : Session(width, height) {
        PLazyNode alpha = Add(nullptr, L"Alpha");
        Add(alpha, L"Apple");
        Add(alpha, L"Avocado");
        PLazyNode beta = Add(nullptr, L"Beta");
        Add(beta, L"Banana");
        Add(beta, L"Blueberry");
        for (const wchar_t* name : {L"Cherry", L"Date", L"Elder", L"Fig", L"Cedar"}) Add(nullptr, name);
        Take();
    }
    void Options(TLTSelectionOptions add, TLTMiscOptions misc = {}) {
        auto& o = tree.TreeOptions();
        o.SetSelectionOptions(o.SelectionOptions() + add);
        o.SetMiscOptions(o.MiscOptions() + misc);
    }
};

TEST(MouseSession, ClickShiftAndCtrlSelection) {
    Fruit s;
    s.Options(toMultiSelect);
    s.Click("Cherry");
    EXPECT_LOG(s, "focus Cherry", "change");
    EXPECT_EQ(s.Selection(), "Cherry");
    s.Click("Elder", hpOnItemLabel, MK_CONTROL);
    EXPECT_LOG(s, "focus Elder", "change");
    EXPECT_EQ(s.Selection(), "Cherry,Elder");
    // Shift: exactly the visible rows from the anchor (Elder) up to Alpha.
    s.Click("Alpha", hpOnItemLabel, MK_SHIFT);
    EXPECT_LOG(s, "focus Alpha", "change");
    EXPECT_EQ(s.Selection(), "Alpha,Beta,Cherry,Date,Elder");
    // Ctrl on a selected node of several removes only it.
    s.Click("Beta", hpOnItemLabel, MK_CONTROL);
    EXPECT_LOG(s, "focus Beta", "change");
    EXPECT_EQ(s.Selection(), "Alpha,Cherry,Date,Elder");
    // A plain click on a selected node keeps only that node, on release.
    s.Down(s.PointOn(s.Node("Date"), hpOnItemLabel));
    EXPECT_LOG(s, "focus Date");
    EXPECT_EQ(s.Selection(), "Alpha,Cherry,Date,Elder");
    s.Up(s.PointOn(s.Node("Date"), hpOnItemLabel));
    EXPECT_LOG(s, "change");
    EXPECT_EQ(s.Selection(), "Date");
    // Ctrl+Shift adds the range from the anchor (Date) and keeps the rest.
    s.Click("Fig", hpOnItemLabel, MK_CONTROL | MK_SHIFT);
    EXPECT_EQ(s.Selection(), "Date,Elder,Fig");
    // Ctrl alone moves the anchor to the clicked node.
    s.Click("Alpha", hpOnItemLabel, MK_CONTROL);
    s.Click("Beta", hpOnItemLabel, MK_CONTROL | MK_SHIFT);
    EXPECT_EQ(s.Selection(), "Alpha,Beta,Date,Elder,Fig");
    s.Click("Fig", hpOnItemLabel, MK_CONTROL);
    EXPECT_EQ(s.Selection(), "Alpha,Beta,Date,Elder");
    EXPECT_EQ(s.Name(s.tree.FocusedNode()), "Fig");
    EXPECT_TREE_CONSISTENT(s.tree);
}

TEST(MouseSession, SingleSelectionIgnoresModifiers) {
    Fruit s;
    s.Click("Cherry");
    s.Click("Fig", hpOnItemLabel, MK_SHIFT);
    EXPECT_EQ(s.Selection(), "Fig");
    s.Click("Date", hpOnItemLabel, MK_CONTROL);
    EXPECT_EQ(s.Selection(), "Date");
    // Beside the label nothing happens in a single-selection tree.
    POINT beside = s.PointOn(s.Node("Elder"), hpOnItemRight);
    s.Take();
    s.Click(beside);
    EXPECT_LOG(s);
    EXPECT_EQ(s.Selection(), "Date");
}

TEST(MouseSession, ButtonTogglesWithoutTouchingTheSelection) {
    Fruit s;
    s.Click("Cherry");
    s.Take();
    s.Click("Alpha", hpOnItemButton);
    EXPECT_LOG(s, "expanded Alpha");
    EXPECT_TRUE(s.tree.Expanded(s.Node("Alpha")));
    EXPECT_EQ(s.Selection(), "Cherry");
    EXPECT_EQ(s.Name(s.tree.FocusedNode()), "Cherry");
    s.Click("Alpha", hpOnItemButton);
    EXPECT_LOG(s, "collapsed Alpha");
    // A double click on the label toggles (toToggleOnDblClick is a default).
    s.DoubleClick(s.PointOn(s.Node("Beta"), hpOnItemLabel));
    EXPECT_LOG(s, "focus Beta", "change", "expanded Beta");
    s.DoubleClick(s.PointOn(s.Node("Beta"), hpOnItemLabel));
    EXPECT_LOG(s, "collapsed Beta");
}

TEST(MouseSession, CheckByMouseWithVetoAndRelease) {
    Fruit s;
    s.Options({}, toCheckSupport);
    for (const char* n : {"Cherry", "Date", "Elder"}) s.tree.SetCheckType(s.Node(n), ctCheckBox);
    PLazyNode cherry = s.Node("Cherry");
    POINT box = s.PointOn(cherry, hpOnItemCheckbox);
    s.Down(box);
    EXPECT_LOG(s, "checking Cherry=2", "focus Cherry", "change");
    EXPECT_EQ(s.tree.CheckState(cherry), csUncheckedPressed);
    EXPECT_EQ(s.tree.PendingCheckNode(), cherry);
    s.Up(box);
    EXPECT_LOG(s, "checked Cherry");
    EXPECT_EQ(s.tree.CheckState(cherry), csCheckedNormal);
    // Released away from the box: no change, the box looks normal again.
    PLazyNode date = s.Node("Date");
    s.Down(s.PointOn(date, hpOnItemCheckbox));
    s.Up(s.PointOn(date, hpOnItemLabel));
    EXPECT_LOG(s, "checking Date=2", "focus Date", "change");
    EXPECT_EQ(s.tree.CheckState(date), csUncheckedNormal);
    // A veto keeps the state and shows nothing pressed.
    s.tree.OnChecking = [&](TBaseLazyTree*, PLazyNode n, TCheckState&, bool& allowed) {
        s.Log("veto " + s.Name(n));
        allowed = false;
    };
    s.Click("Elder", hpOnItemCheckbox);
    EXPECT_LOG(s, "veto Elder", "focus Elder", "change");
    EXPECT_EQ(s.tree.CheckState(s.Node("Elder")), csUncheckedNormal);
    // Unchecking by a second click.
    s.tree.OnChecking = nullptr;
    s.Click("Cherry", hpOnItemCheckbox);
    EXPECT_EQ(s.tree.CheckState(cherry), csUncheckedNormal);
}

TEST(KeySession, SpaceChecksOnReleaseAndAnotherKeyCancels) {
    Fruit s;
    s.Options({}, toCheckSupport);
    for (const char* n : {"Cherry", "Date"}) s.tree.SetCheckType(s.Node(n), ctCheckBox);
    s.Click("Cherry");
    s.Take();
    s.Key(VK_SPACE);
    EXPECT_LOG(s, "checking Cherry=2", "checked Cherry");
    EXPECT_EQ(s.tree.CheckState(s.Node("Cherry")), csCheckedNormal);
    // Space down, then Down: the press is cancelled and the focus moves on.
    s.Send(WM_KEYDOWN, VK_SPACE, 1);
    EXPECT_EQ(s.tree.CheckState(s.Node("Cherry")), csCheckedPressed);
    s.Key(VK_DOWN);
    s.Send(WM_KEYUP, VK_SPACE, 0xC0000001);
    EXPECT_LOG(s, "checking Cherry=0", "focus Date", "change");
    EXPECT_EQ(s.tree.CheckState(s.Node("Cherry")), csCheckedNormal);
    // A node without a check type: space is a search character, nothing checks.
    s.Click("Elder");
    s.Take();
    s.Key(VK_SPACE);
    EXPECT_LOG(s);
}

TEST(KeySession, NavigationKeys) {
    Fruit s;
    s.Key(VK_DOWN);
    EXPECT_LOG(s, "focus Alpha", "change");
    s.Key(VK_DOWN);
    EXPECT_LOG(s, "focus Beta", "change");
    s.Key(VK_RIGHT);   // expands
    EXPECT_LOG(s, "expanded Beta");
    s.Key(VK_RIGHT);   // to the first child
    EXPECT_LOG(s, "focus Banana", "change");
    s.Key(VK_LEFT);    // a leaf: to the parent
    EXPECT_LOG(s, "focus Beta", "change");
    s.Key(VK_LEFT);    // collapses
    EXPECT_LOG(s, "collapsed Beta");
    s.Key(VK_END);
    EXPECT_LOG(s, "focus Cedar", "change");
    s.Key(VK_HOME);
    EXPECT_LOG(s, "focus Alpha", "change");
    s.Key(VK_NEXT);    // a page down reaches the last row of this short list
    EXPECT_LOG(s, "focus Cedar", "change");
    s.Key(VK_PRIOR);
    EXPECT_LOG(s, "focus Alpha", "change");
    s.Key(VK_UP);      // at the top: nothing
    EXPECT_LOG(s);
    s.Key(VK_RIGHT);
    s.Key(VK_DOWN);
    s.Take();
    s.Key(VK_BACK);    // the parent
    EXPECT_LOG(s, "focus Alpha", "change");
    EXPECT_EQ(s.Selection(), "Alpha");
    EXPECT_EQ(s.Name(s.tree.FocusedNode()), "Alpha");
}

TEST(KeySession, PlusMinusStarSlashOnBothKeyboards) {
    Fruit s;
    s.Key(VK_DOWN);   // Alpha
    s.Take();
    s.Key(VK_ADD);
    EXPECT_LOG(s, "expanded Alpha");
    s.Key(VK_SUBTRACT);
    EXPECT_LOG(s, "collapsed Alpha");
    // The main keyboard: "+" is Shift and the =/+ key, "-" its own key.
    s.Key(VK_OEM_PLUS, ssShift);
    EXPECT_LOG(s, "expanded Alpha");
    s.Key(VK_OEM_MINUS);
    EXPECT_LOG(s, "collapsed Alpha");
    // "*" and "/" expand and collapse the whole subtree.
    s.Add(s.Node("Apple"), L"Core");
    s.Take();
    s.Key(VK_MULTIPLY);
    EXPECT_TRUE(s.tree.Expanded(s.Node("Alpha")));
    EXPECT_TRUE(s.tree.Expanded(s.Node("Apple")));
    s.Key(VK_DIVIDE);
    EXPECT_FALSE(s.tree.Expanded(s.Node("Alpha")));
    EXPECT_FALSE(s.tree.Expanded(s.Node("Apple")));
    // Ctrl+Shift with + and - works on the whole tree.
    s.Key(VK_ADD, ssCtrl | ssShift);
    EXPECT_TRUE(s.tree.Expanded(s.Node("Beta")));
    s.Key(VK_SUBTRACT, ssCtrl | ssShift);
    EXPECT_FALSE(s.tree.Expanded(s.Node("Beta")));
    EXPECT_TREE_CONSISTENT(s.tree);
}

TEST(KeySession, ShiftExtendsAndStepsBackWithTheAnchor) {
    Fruit s;
    s.Options(toMultiSelect);
    s.Click("Cherry");
    s.Key(VK_DOWN, ssShift);
    s.Key(VK_DOWN, ssShift);
    EXPECT_EQ(s.Selection(), "Cherry,Date,Elder");
    s.Key(VK_UP, ssShift);
    EXPECT_EQ(s.Selection(), "Cherry,Date");
    s.Key(VK_UP, ssShift);
    s.Key(VK_UP, ssShift);
    EXPECT_EQ(s.Selection(), "Beta,Cherry");
    s.Key(VK_DOWN);
    EXPECT_EQ(s.Selection(), "Cherry");
    // Ctrl+A selects every node.
    s.Key('A', ssCtrl);
    EXPECT_EQ(s.tree.SelectedCount(), s.tree.TotalCount());
}

TEST(KeySession, FocusVetoKeepsFocusAndSelection) {
    Fruit s;
    s.Key(VK_DOWN);
    s.tree.OnFocusChanging = [&](TBaseLazyTree*, PLazyNode, PLazyNode, TColumnIndex, TColumnIndex, bool& allowed) {
        allowed = false;
    };
    s.Take();
    s.Key(VK_DOWN);
    s.Click("Date");
    EXPECT_LOG(s);
    EXPECT_EQ(s.Name(s.tree.FocusedNode()), "Alpha");
    EXPECT_EQ(s.Selection(), "Alpha");
}

TEST(SearchSession, TypingFindsWrapsAndTimesOut) {
    Fruit s;
    s.tree.SetIncrementalSearch(isAll);
    s.Type("Bl");   // Blueberry is a child of the collapsed Beta: found and shown
    EXPECT_EQ(s.Name(s.tree.FocusedNode()), "Blueberry");
    EXPECT_TRUE(s.tree.Expanded(s.Node("Beta")));
    EXPECT_EQ(s.Selection(), "Blueberry");
    EXPECT_EQ(s.tree.SearchBuffer(), L"Bl");
    s.Timer(7);   // the timeout
    EXPECT_EQ(s.tree.SearchBuffer(), L"");
    EXPECT_FALSE(s.tree.TreeStates().Contains(tsIncrementalSearching));
    s.Type("C");
    EXPECT_EQ(s.Name(s.tree.FocusedNode()), "Cherry");
    s.Type("C");   // the same letter again: the next node with it
    EXPECT_EQ(s.Name(s.tree.FocusedNode()), "Cedar");
    s.Type("C");   // and around the end to the first one
    EXPECT_EQ(s.Name(s.tree.FocusedNode()), "Cherry");
    EXPECT_EQ(s.tree.SearchBuffer(), L"C");
    s.Key(VK_BACK, 0, 8);   // one character: Backspace does nothing
    EXPECT_EQ(s.tree.SearchBuffer(), L"C");
    s.Type("e");   // "Ce" from Cherry wraps to Cedar
    EXPECT_EQ(s.Name(s.tree.FocusedNode()), "Cedar");
    s.Key(VK_BACK, 0, 8);
    EXPECT_EQ(s.tree.SearchBuffer(), L"C");
    s.Type("x");   // no match: the focus stays, the text is kept
    EXPECT_EQ(s.Name(s.tree.FocusedNode()), "Cedar");
    EXPECT_EQ(s.tree.SearchBuffer(), L"Cx");
    s.Timer(7);
    s.Type("c");   // same letter, other case: no node
    EXPECT_EQ(s.Name(s.tree.FocusedNode()), "Cedar");
}

TEST(SearchSession, VisibleOnlyAndNone) {
    Fruit s;
    s.tree.SetIncrementalSearch(isVisibleOnly);
    s.Type("Ban");   // Banana is hidden in the collapsed Beta: "B" found Beta, "Ban" nothing
    EXPECT_EQ(s.Name(s.tree.FocusedNode()), "Beta");
    EXPECT_FALSE(s.tree.Expanded(s.Node("Beta")));
    EXPECT_EQ(s.tree.SearchBuffer(), L"Ban");
    s.Timer(7);
    s.Type("F");
    EXPECT_EQ(s.Name(s.tree.FocusedNode()), "Fig");
    s.Timer(7);
    s.tree.SetIncrementalSearch(isNone);
    s.Type("D");
    EXPECT_EQ(s.Name(s.tree.FocusedNode()), "Fig");
    EXPECT_EQ(s.tree.SearchBuffer(), L"");
}

TEST(SearchSession, EightBitCharacterGoesThroughTheKeyboardCodePage) {
    Fruit s;
    // What the byte 0xC6 is in the keyboard's code page (Æ in 1252).
    char codePage[8] = {};
    LCID locale = LOWORD(reinterpret_cast<uintptr_t>(::GetKeyboardLayout(0)));
    ::GetLocaleInfoA(locale, LOCALE_IDEFAULTANSICODEPAGE, codePage, sizeof codePage);
    char byte = char(0xC6);
    wchar_t expected = 0;
    ASSERT_EQ(::MultiByteToWideChar(UINT(std::atoi(codePage)), 0, &byte, 1, &expected, 1), 1);
    PLazyNode node = s.Add(nullptr, std::wstring(1, expected) + L"ble");
    s.tree.SetIncrementalSearch(isAll);
    s.Key('Q', 0, 0xC6);   // the key makes an ASCII letter; the character message brings the byte
    EXPECT_EQ(s.tree.FocusedNode(), node);
    EXPECT_EQ(s.tree.SearchBuffer(), std::wstring(1, expected));
}

struct LongList : Session {
    LongList() : Session(240, 200) {
        for (int i = 0; i < 40; ++i) Add(nullptr, L"Row " + std::to_wstring(i));
        Take();
    }
};

// Top nodes set inside an update leave the bar to the update's end, which
// must set it from the last of them.
TEST(ScrollSession, TopNodesSetInsideAnUpdateLeaveTheBarWhereTheLastPutTheView) {
    LongList s;
    s.tree.BeginUpdate();
    for (const char* row : {"Row 28", "Row 5", "Row 25"}) s.tree.SetTopNode(s.Node(row));
    EXPECT_EQ(::GetScrollPos(s.tree.Handle(), SB_VERT), 0);
    s.tree.EndUpdate();
    EXPECT_EQ(s.tree.OffsetY(), -25 * 18);
    EXPECT_EQ(::GetScrollPos(s.tree.Handle(), SB_VERT), 25 * 18);
    EXPECT_EQ(s.tree.GetTopNode(), s.Node("Row 25"));
}

TEST(ScrollSession, WheelAndScrollBarsMoveTheView) {
    LongList s;
    int range = s.tree.VerticalRange();
    ASSERT_EQ(range, 40 * 18);
    UINT lines = 3;
    ::SystemParametersInfoA(SPI_GETWHEELSCROLLLINES, 0, &lines, 0);
    s.Send(WM_MOUSEWHEEL, MAKEWPARAM(0, WORD(-WHEEL_DELTA)), 0);
    EXPECT_EQ(s.tree.OffsetY(), -int(lines) * 18);
    EXPECT_LOG(s);
    s.Send(WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), 0);
    EXPECT_EQ(s.tree.OffsetY(), 0);
    s.Send(WM_VSCROLL, SB_LINEDOWN);
    EXPECT_EQ(s.tree.OffsetY(), -18);
    s.Send(WM_VSCROLL, SB_PAGEDOWN);
    EXPECT_EQ(s.tree.OffsetY(), -18 - s.tree.ClientHeight());
    s.Send(WM_VSCROLL, SB_BOTTOM);
    EXPECT_EQ(s.tree.OffsetY(), s.tree.ClientHeight() - range);
    EXPECT_EQ(::GetScrollPos(s.tree.Handle(), SB_VERT), range - s.tree.ClientHeight());
    s.Send(WM_VSCROLL, SB_LINEDOWN);   // clamped at the end
    EXPECT_EQ(s.tree.OffsetY(), s.tree.ClientHeight() - range);
    s.Send(WM_VSCROLL, SB_TOP);
    EXPECT_EQ(s.tree.OffsetY(), 0);
    // Ctrl+wheel scrolls by pages of whole rows.
    s.Send(WM_MOUSEWHEEL, MAKEWPARAM(MK_CONTROL, WORD(-WHEEL_DELTA)), 0);
    EXPECT_EQ(s.tree.OffsetY(), -(s.tree.ClientHeight() / 18) * 18);
    // Ctrl+Down scrolls one row without moving the focus.
    s.Key(VK_DOWN, ssCtrl);
    EXPECT_EQ(s.tree.OffsetY(), -(s.tree.ClientHeight() / 18) * 18 - 18);
    EXPECT_EQ(s.tree.FocusedNode(), nullptr);
    // Focusing the last row scrolls it into view.
    s.Key(VK_END);
    EXPECT_EQ(s.tree.OffsetY(), s.tree.ClientHeight() - range);
}

TEST(ScrollSession, WheelOverATreeThatFitsScrollsHorizontally) {
    Session s(240, 200);
    s.Add(nullptr, L"Short");
    s.Add(nullptr, std::wstring(120, L'W'));
    s.tree.SetBounds(0, 0, 241, 200);   // a size change measures the range again
    ASSERT_GT(s.tree.HorizontalRange(), s.tree.ClientWidth());
    s.Send(WM_MOUSEWHEEL, MAKEWPARAM(0, WORD(-WHEEL_DELTA)), 0);
    EXPECT_EQ(s.tree.OffsetX(), -int(s.tree.Indent()));
    EXPECT_EQ(s.tree.OffsetY(), 0);
    s.Send(WM_HSCROLL, SB_LINEDOWN);
    EXPECT_EQ(s.tree.OffsetX(), -2 * int(s.tree.Indent()));
    s.Send(WM_HSCROLL, SB_BOTTOM);
    EXPECT_EQ(s.tree.OffsetX(), s.tree.ClientWidth() - s.tree.HorizontalRange());
    s.Key(VK_LEFT, ssCtrl);
    EXPECT_EQ(s.tree.OffsetX(), s.tree.ClientWidth() - s.tree.HorizontalRange() + int(s.tree.Indent()));
}

} // namespace
