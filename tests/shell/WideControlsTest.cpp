// Wide text in framework controls: Cyrillic, CJK and a character outside the
// basic plane must come back exactly, whether set before or after the window
// exists, typed, or kept beside an ANSI window.
#include "ShellTestUtil.h"
#include "framework/Controls.h"
#include "framework/Window.h"
#include "shell/base/SystemVersion.h"
#include "shell/base/WideControls.h"
#include "framework/Graphics.h"
#include <gtest/gtest.h>

using namespace krv;

namespace {
// Cyrillic, CJK, and U+20000 as a surrogate pair.
const std::wstring kMixed = L"\u041f\u0440\u0438\u0432\u0435\u0442, \u0451\u0401 \u2014 \u4f60\u597d\u4e16\u754c "
                            L"\U00020000 \u65e5\u672c\u8a9e";

std::wstring WindowText(HWND wnd) {
    wchar_t buf[256] = {};
    ::GetWindowTextW(wnd, buf, 256);
    return buf;
}

// Shows the creation parameters a wide edit asks for.
class TProbeWideEdit : public TWideEdit {
public:
    using TWideEdit::TWideEdit;
    TCreateParams Params() {
        TCreateParams params;
        CreateParams(params);
        return params;
    }
};

} // namespace

TEST(WideEdit, CyrillicAndCjkTextRoundTripsExactly) {
    TWinControl host;
    host.HandleNeeded();

    TWideEdit before(&host);
    before.SetText(kMixed);   // kept until the window is made
    before.SetParent(&host);
    ASSERT_TRUE(before.HandleAllocated());
    EXPECT_TRUE(::IsWindowUnicode(before.Handle()));
    EXPECT_EQ(before.Text(), kMixed);
    EXPECT_EQ(WindowText(before.Handle()), kMixed);

    TWideEdit after(&host);
    after.SetParent(&host);
    after.SetText(kMixed);
    EXPECT_EQ(after.Text(), kMixed);
    EXPECT_EQ(WideGetText(&after), kMixed);
    EXPECT_EQ(::SendMessageW(after.Handle(), WM_GETTEXTLENGTH, 0, 0), static_cast<LRESULT>(kMixed.size()));

    // Made again (a style change does that), the window keeps the text.
    after.DestroyHandle();
    after.HandleNeeded();
    EXPECT_EQ(after.Text(), kMixed);

    after.SetText(L"");
    EXPECT_EQ(after.Text(), L"");
}

TEST(WideEdit, TypedWideCharactersReachTheTextAndKeyPressSeesAPlaceholder) {
    TWinControl host;
    host.HandleNeeded();
    TWideEdit edit(&host);
    edit.SetParent(&host);
    std::string pressed;
    edit.OnKeyPress = [&](TObject*, char& key) { pressed += key; };
    for (wchar_t c : std::wstring(L"\u0416\u4e2da")) ::SendMessageW(edit.Handle(), WM_CHAR, c, 1);
    EXPECT_EQ(edit.Text(), L"\u0416\u4e2da");
    // The ANSI key event cannot hold them: a code above 255 travels as 255.
    EXPECT_EQ(pressed, std::string("\xff\xff" "a"));
}

TEST(WideEdit, WithoutUnicodeWindowsTheWideCaptionIsKeptBesideTheAnsiText) {
    shelltest::TFakeWindows98 windows98;
    TWinControl host;
    host.HandleNeeded();
    TWideEdit edit(&host);
    edit.SetText(kMixed);
    edit.SetParent(&host);
    EXPECT_FALSE(::IsWindowUnicode(edit.Handle()));
    EXPECT_EQ(edit.Text(), kMixed);
    ASSERT_NE(TWideCaptionHolder::Find(&edit), nullptr);

    // The ANSI text changed behind the holder's back: the holder no longer speaks for it.
    edit.SetCaption("plain");
    EXPECT_EQ(edit.Text(), L"plain");
}

TEST(WideText, AnsiControlsKeepAWideCaptionThatGoesWithThem) {
    auto* label = new TLabel;
    WideSetText(label, kMixed);
    EXPECT_EQ(WideGetText(label), kMixed);
    TWideCaptionHolder* holder = TWideCaptionHolder::Find(label);
    ASSERT_NE(holder, nullptr);
    EXPECT_EQ(TWideCaptionHolder::For(label), holder);   // one per control
    delete label;
    EXPECT_EQ(TWideCaptionHolder::Find(label), nullptr);
}

TEST(WideText, ComparisonAndSelectionHelpers) {
    EXPECT_EQ(CompareWideStrings(L"\u0430\u0431\u0432", L"\u0430\u0431\u0432"), 0);
    EXPECT_LT(CompareWideStrings(L"\u0430", L"\u0431"), 0);
    EXPECT_GT(CompareWideStrings(L"b", L"a"), 0);

    TWinControl host;
    host.HandleNeeded();
    TWideEdit edit(&host);
    edit.SetParent(&host);
    edit.SetText(kMixed);
    PostSetSelection(edit.Handle(), 2, 5);
    ProcessMessages();
    DWORD start = 0, end = 0;
    ::SendMessageW(edit.Handle(), EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 2u);
    EXPECT_EQ(end, 5u);
}

TEST(WideControls, SubclassingNeedsAUnicodeWindowAndGivesAChildItsHandleAsIdentifier) {
    TWinControl host;
    host.HandleNeeded();
    TWideEdit edit(&host);
    edit.SetParent(&host);
    ASSERT_TRUE(::IsWindowUnicode(edit.Handle()));
    EXPECT_EQ(::GetWindowLongPtrW(edit.Handle(), GWLP_ID), reinterpret_cast<LONG_PTR>(edit.Handle()));
    EXPECT_NO_THROW(SubClassUnicodeControl(&edit));

    TEdit ansi(&host);
    ansi.SetParent(&host);
    TWideEdit unmade;
    for (TWinControl* control : {static_cast<TWinControl*>(&ansi), static_cast<TWinControl*>(&unmade)}) {
        try {
            SubClassUnicodeControl(control);
            ADD_FAILURE() << "taken although not Unicode";
        } catch (const Exception& e) {
            EXPECT_STREQ(e.what(), "Wide Control Internal Error: SubClassUnicodeControl.Control is not Unicode.");
        }
    }
    EXPECT_EQ(::GetWindowLongPtrW(ansi.Handle(), GWLP_ID), 0) << "an ANSI window is left as it is";
}

TEST(WideControls, NewFontsTakeTheDialogFaceOfTheSystemFromTheStart) {
    const struct {
        DWORD Platform, Major;
        const char* Face;
    } table[] = {
        {VER_PLATFORM_WIN32_NT, 4, "MS Shell Dlg"},
        {VER_PLATFORM_WIN32_NT, 5, "MS Shell Dlg 2"},
        {VER_PLATFORM_WIN32_NT, 10, "MS Shell Dlg 2"},
        {VER_PLATFORM_WIN32_WINDOWS, 4, "MS Shell Dlg"},
    };
    for (const auto& row : table) {
        TOSVersion v;
        v.PlatformId = row.Platform;
        v.MajorVersion = row.Major;
        EXPECT_EQ(WideControlsFontName(v), row.Face) << row.Platform << "." << row.Major;
    }
    // Chosen at start-up: no wide control needed first.
    const std::string face = TFont().Name();
    EXPECT_TRUE(face == "MS Shell Dlg 2" || face == "MS Shell Dlg") << face;
}

TEST(WideEdit, OutsideTheNTFamilyAReadOnlyEditIsMadeReadOnlyByMessageWhileSwitchedOn) {
    shelltest::TFakeWindows98 windows98;
    TWinControl host;
    host.HandleNeeded();
    for (bool on : {false, true}) {
        WideEditReadOnlyByMessage = on;
        TProbeWideEdit edit(&host);
        edit.SetReadOnly(true);
        EXPECT_EQ((edit.Params().Style & ES_READONLY) != 0, !on) << on;
        edit.SetParent(&host);
        ASSERT_TRUE(edit.HandleAllocated());
        EXPECT_NE(::GetWindowLongW(edit.Handle(), GWL_STYLE) & ES_READONLY, 0) << "read-only either way, " << on;
    }
    WideEditReadOnlyByMessage = false;
}

// A window of the framework's own class, asked for as a Unicode window.
struct TOwnUnicodeControl : TWinControl {
    void CreateParams(TCreateParams& params) override { TWinControl::CreateParams(params), params.Unicode = true; }
};

// A Unicode window is made of the wide class named after its own class,
// over a standard class's procedure or, without one, the default procedure.
TEST(WideControls, UnicodeWindowsComeFromTheirOwnWideClass) {
    TWideEdit edit;
    TOwnUnicodeControl own;
    for (auto [control, cls] : {std::pair<TWinControl*, std::string>{&edit, "EDIT.UnicodeClass"},
                                {&own, "KorvaneControl.UnicodeClass"}}) {
        char name[64] = {};
        ::GetClassNameA(control->HandleNeeded(), name, sizeof name);
        ::SetWindowTextW(control->Handle(), kMixed.c_str());
        EXPECT_EQ(cls, name);
        EXPECT_EQ(kMixed, WindowText(control->Handle())) << cls;
    }
}
