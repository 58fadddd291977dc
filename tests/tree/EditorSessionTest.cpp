// The in-place editor driven by messages: F2 then Return or Escape, the edit
// delay after a click, Ctrl+Return for multi-line nodes, growth with the
// text, acceptance on focus loss, UTF-16 text, and the deferred release.
#include "SessionSupport.h"
#include "tree/string/LazyStringEdit.h"

using namespace krv;
using namespace krv::test;

namespace {

struct Editing : Session {
    Editing() : Session(240, 200) {
        for (const wchar_t* name : {L"Alpha", L"Beta", L"Cherry", L"Date"}) Add(nullptr, name);
        auto& o = tree.TreeOptions();
        o.SetMiscOptions(o.MiscOptions() + toEditable);
        Take();
    }
    static BOOL CALLBACK FindEdit(HWND w, LPARAM p) {
        char cls[16];
        ::GetClassNameA(w, cls, sizeof cls);
        if (lstrcmpiA(cls, "Edit") == 0 && ::IsWindowVisible(w)) *reinterpret_cast<HWND*>(p) = w;
        return TRUE;
    }
    // The editor shown now (null when none).
    HWND Editor() {
        HWND found = nullptr;
        ::EnumChildWindows(tree.Handle(), &FindEdit, reinterpret_cast<LPARAM>(&found));
        return found;
    }
    std::wstring EditorText(HWND edit) {
        wchar_t buffer[256] = {};
        ::GetWindowTextW(edit, buffer, 256);
        return buffer;
    }
    void TypeInto(HWND edit, const std::wstring& text) {
        for (wchar_t c : text) ::SendMessageW(edit, WM_CHAR, c, 1);
    }
    void KeyInto(HWND edit, WORD vk, unsigned shift = 0) {
        SetKeys(shift);
        ::SendMessageW(edit, WM_KEYDOWN, vk, 1);
        SetKeys(0);
    }
    // Messages posted meanwhile (the editor's own) are handled.
    void Pump() { PumpUntil([] { return false; }, 50); }
};

TEST(EditorSession, F2ThenReturnStoresTheText) {
    Editing s;
    s.Click("Cherry");
    s.Take();
    s.Key(VK_F2);
    ASSERT_TRUE(s.tree.IsEditing());
    HWND edit = s.Editor();
    ASSERT_NE(edit, nullptr);
    EXPECT_TRUE(::IsWindowUnicode(edit));
    EXPECT_EQ(::GetFocus(), edit);
    EXPECT_EQ(s.EditorText(edit), L"Cherry");
    // The editor lies over the node's text.
    RECT text = s.tree.GetDisplayRect(s.Node("Cherry"), ColumnNone, true);
    RECT bounds;
    ::GetWindowRect(edit, &bounds);
    ::MapWindowPoints(nullptr, s.tree.Handle(), reinterpret_cast<POINT*>(&bounds), 2);
    EXPECT_EQ(bounds.left, text.left);
    EXPECT_LE(bounds.top, text.top + 1);
    s.TypeInto(edit, L"Kiwi");   // replaces the selected text
    EXPECT_EQ(s.EditorText(edit), L"Kiwi");
    s.KeyInto(edit, VK_RETURN);
    EXPECT_LOG(s, "text Cherry=Kiwi", "edited Kiwi");
    EXPECT_FALSE(s.tree.IsEditing());
    EXPECT_EQ(::GetFocus(), s.tree.Handle());
    EXPECT_FALSE(::IsWindowVisible(edit));
    s.Pump();
    EXPECT_FALSE(::IsWindow(edit));   // released once its messages were handled
    EXPECT_EQ(s.Name(s.tree.FocusedNode()), "Kiwi");
}

TEST(EditorSession, EscapeCancelsAndKeepsTheText) {
    Editing s;
    s.Click("Beta");
    s.Take();
    s.Key(VK_F2);
    HWND edit = s.Editor();
    ASSERT_NE(edit, nullptr);
    s.TypeInto(edit, L"Nope");
    s.KeyInto(edit, VK_ESCAPE);
    EXPECT_LOG(s, "edit cancelled");
    EXPECT_FALSE(s.tree.IsEditing());
    EXPECT_EQ(s.texts[s.Node("Beta")], L"Beta");
    EXPECT_EQ(::GetFocus(), s.tree.Handle());
    // Without toEditable F2 does nothing.
    auto& o = s.tree.TreeOptions();
    o.SetMiscOptions(o.MiscOptions() - toEditable);
    s.Key(VK_F2);
    EXPECT_FALSE(s.tree.IsEditing());
    // An OnEditing veto refuses it as well.
    o.SetMiscOptions(o.MiscOptions() + toEditable);
    s.tree.OnEditing = [](TBaseLazyTree*, PLazyNode, TColumnIndex, bool& allowed) { allowed = false; };
    s.Key(VK_F2);
    EXPECT_FALSE(s.tree.IsEditing());
}

TEST(EditorSession, ClickOnTheFocusedLabelEditsAfterTheDelay) {
    Editing s;
    s.tree.EditDelay = 600000;   // the timer is sent by hand
    s.Click("Date");
    s.Click("Date");
    EXPECT_TRUE(s.tree.TreeStates().Contains(tsEditPending));
    EXPECT_FALSE(s.tree.IsEditing());
    s.Timer(2);
    EXPECT_TRUE(s.tree.IsEditing());
    HWND edit = s.Editor();
    ASSERT_NE(edit, nullptr);
    s.TypeInto(edit, L"Dates");
    // A click elsewhere ends the edit, accepting the text, and focuses the new node.
    s.Take();
    s.Click("Alpha");
    EXPECT_LOG(s, "text Date=Dates", "edited Dates", "focus Alpha", "change");
    EXPECT_FALSE(s.tree.IsEditing());
    // Pressed on the label, released on another node: no edit.
    s.Down(s.PointOn(s.Node("Alpha"), hpOnItemLabel));
    s.Up(s.PointOn(s.Node("Beta"), hpOnItemLabel));
    EXPECT_FALSE(s.tree.TreeStates().Contains(tsEditPending));
}

TEST(EditorSession, MultiLineNodeNeedsCtrlReturn) {
    Editing s;
    PLazyNode cherry = s.Node("Cherry");
    cherry->States |= vsMultiline;
    s.Click("Cherry");
    s.Key(VK_F2);
    HWND edit = s.Editor();
    ASSERT_NE(edit, nullptr);
    EXPECT_TRUE(::GetWindowLongA(edit, GWL_STYLE) & WS_VSCROLL);
    s.TypeInto(edit, L"One");
    s.KeyInto(edit, VK_RETURN);   // a new line, still editing
    ::SendMessageW(edit, WM_CHAR, L'\r', 1);
    s.TypeInto(edit, L"Two");
    EXPECT_TRUE(s.tree.IsEditing());
    s.Take();
    s.KeyInto(edit, VK_RETURN, ssCtrl);
    EXPECT_FALSE(s.tree.IsEditing());
    EXPECT_EQ(s.texts[cherry], L"One\r\nTwo");
}

TEST(EditorSession, EditorGrowsWithItsTextAndKeepsUtf16) {
    Editing s;
    PLazyNode alpha = s.Node("Alpha");
    s.Click("Alpha");
    s.Key(VK_F2);
    HWND edit = s.Editor();
    ASSERT_NE(edit, nullptr);
    RECT before;
    ::GetWindowRect(edit, &before);
    s.TypeInto(edit, L"\u0416\u0443\u043a \u5907\u4efd and a much longer caption");
    s.Pump();   // the size follows through a posted message
    RECT after;
    ::GetWindowRect(edit, &after);
    EXPECT_GT(after.right - after.left, before.right - before.left);
    EXPECT_EQ(after.left, before.left);
    s.KeyInto(edit, VK_RETURN);
    EXPECT_EQ(s.texts[alpha], L"\u0416\u0443\u043a \u5907\u4efd and a much longer caption");
    // A one-letter node still gets an editor 30 pixels wide.
    PLazyNode x = s.Add(nullptr, L"I");
    s.tree.EditNode(x, ColumnNone);
    edit = s.Editor();
    ASSERT_NE(edit, nullptr);
    RECT small;
    ::GetWindowRect(edit, &small);
    EXPECT_GE(small.right - small.left, 30);
    s.tree.CancelEditNode();
}

// A right-aligned column edits where its text is: at the column's right
// end, less its last pixel, and it stays there as the editor fits its text.
TEST(EditorSession, ARightAlignedColumnEditsAtItsRightEnd) {
    Editing s;
    auto& columns = s.tree.Header().Columns();
    columns.Add()->SetWidth(120);
    columns.Add()->SetWidth(100);
    columns[1].SetAlignment(taRightJustify);
    PLazyNode cherry = s.Node("Cherry");
    ASSERT_TRUE(s.tree.EditNode(cherry, 1));
    HWND edit = s.Editor();
    ASSERT_NE(edit, nullptr);
    RECT text = s.tree.GetDisplayRect(cherry, 1, true, true);
    EXPECT_EQ(text.right, 219);
    for (int pass = 0; pass < 2; ++pass) {
        RECT bounds;
        ::GetWindowRect(edit, &bounds);
        ::MapWindowPoints(nullptr, s.tree.Handle(), reinterpret_cast<POINT*>(&bounds), 2);
        EXPECT_EQ(bounds.right, 219) << pass;
        if (pass == 0) {
            EXPECT_EQ(bounds.left, text.left);
        }
        EXPECT_GT(bounds.left, 120 + 40) << pass;   // far from the column's left end
        s.Pump();
    }
    s.tree.CancelEditNode();
}

TEST(EditorSession, DeletingTheEditedNodeEndsTheEdit) {
    Editing s;
    s.Click("Beta");
    s.Key(VK_F2);
    HWND edit = s.Editor();
    ASSERT_NE(edit, nullptr);
    PLazyNode beta = s.Node("Beta");
    s.Take();
    s.tree.DeleteNode(beta);
    EXPECT_FALSE(s.tree.IsEditing());
    EXPECT_FALSE(::IsWindowVisible(edit));
    EXPECT_NE(s.tree.FocusedNode(), beta);
    // The focus leaves the node first, and that ends the edit (nothing was typed).
    EXPECT_LOG(s, "change", "edited Beta", "focus nil");
    s.Pump();
    EXPECT_FALSE(::IsWindow(edit));
}

} // namespace
