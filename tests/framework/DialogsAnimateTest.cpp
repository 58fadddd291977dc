// The button and input dialogs (built from in-memory templates) answered
// through their windows, and the animation control's clips: the system's
// where it has them, the program's own where it does not.
#include "framework/ComCtrls.h"
#include "framework/Dialogs.h"
#include "framework/Forms.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <thread>

using namespace krv;

namespace {
struct AppInit {
    AppInit() { Application().Initialize(); }
};
const AppInit appInit;

std::string TextOf(HWND wnd) {
    char text[256] = {};
    ::GetWindowTextA(wnd, text, sizeof text);
    return text;
}

// Answers the next dialog by pressing the button with this id (after typing
// into the input field when text is given), and records what it showed.
struct Answer {
    Answer(int id, const char* text = nullptr) {
        SetDialogShownHook([this, id, text](HWND dialog) {
            caption = TextOf(dialog);
            RECT r, area;
            ::GetWindowRect(dialog, &r);
            ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
            onScreen = r.left >= area.left && r.top >= area.top && r.right <= area.right && r.bottom <= area.bottom;
            for (int b : {IDYES, IDNO, idNoToAll, idYesToAll, IDOK, IDCANCEL})
                if (HWND button = ::GetDlgItem(dialog, b)) buttons.push_back(TextOf(button));
            if (HWND edit = ::GetDlgItem(dialog, idInputEdit)) {
                shownValue = TextOf(edit);
                masked = ::SendMessageA(edit, EM_GETPASSWORDCHAR, 0, 0) != 0;
                if (text) ::SetWindowTextA(edit, text);
            }
            ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
        });
    }
    ~Answer() { SetDialogShownHook(nullptr); }
    std::string caption, shownValue;
    std::vector<std::string> buttons;
    bool masked = false;
    bool onScreen = false;
};
} // namespace

TEST(Dialogs, ButtonDialogAnswersTheButtonPressedAlsoFromAWorkerThread) {
    const std::vector<TDialogButton> buttons = {
        {IDYES, "&Yes"}, {IDNO, "&No"}, {idNoToAll, "No to a&ll"}, {idYesToAll, "Yes to &all"}};
    for (int id : {IDYES, IDNO, idNoToAll, idYesToAll}) {
        Answer answer(id);
        EXPECT_EQ(ShowButtonDialog("Overwrite file \"a\" with \"b\"", "Confirm", buttons), id);
        EXPECT_EQ(answer.caption, "Confirm");
        EXPECT_TRUE(answer.onScreen);
        EXPECT_EQ(answer.buttons, (std::vector<std::string>{"&Yes", "&No", "No to a&ll", "Yes to &all"}));
    }
    {
        Answer closed(IDCANCEL);   // the close box or Escape
        EXPECT_EQ(ShowButtonDialog("?", "Confirm", buttons), IDCANCEL);
    }
    // The archiver asks from its worker: the dialog runs on that thread.
    Answer answer(idYesToAll);
    int result = 0;
    std::thread worker([&] { result = ShowButtonDialog("from a worker", "Confirm", buttons); });
    worker.join();
    EXPECT_EQ(result, idYesToAll);
}

TEST(Dialogs, InputQueryGivesTheTypedTextOnlyOnOk) {
    std::string value = "old";
    {
        Answer answer(IDOK, "s3cret");
        EXPECT_TRUE(InputQuery("Password for \"x.txt\"", "Enter password: ", value, true));
        EXPECT_EQ(answer.caption, "Password for \"x.txt\"");
        EXPECT_EQ(answer.shownValue, "old");
        EXPECT_TRUE(answer.masked);
        EXPECT_TRUE(answer.onScreen);
    }
    EXPECT_EQ(value, "s3cret");
    {
        Answer answer(IDCANCEL, "typed but cancelled");
        EXPECT_FALSE(InputQuery("Name", "Name: ", value));
        EXPECT_FALSE(answer.masked);
    }
    EXPECT_EQ(value, "s3cret");
    Answer empty(IDOK, "");
    EXPECT_TRUE(InputQuery("Name", "Name: ", value));
    EXPECT_EQ(value, "");
}

TEST(CommonControls, AnimationPlaysTheSystemClipOrOurOwn) {
    TForm form;
    auto* animate = new TAnimate(&form);
    animate->SetParent(&form);
    form.HandleNeeded();
    EXPECT_EQ(animate->ClipSource(), 0);   // no clip chosen
    for (TCommonAVI avi : {aviCopyFiles, aviDeleteFile}) {
        animate->SetCommonAVI(avi);
        animate->Play();
        EXPECT_NE(animate->ClipSource(), 0) << avi;
        EXPECT_TRUE(animate->Active());
        animate->Stop();
        EXPECT_FALSE(animate->Active());
    }
    // A system without the standard clips: ours are in the program's resources.
    TAnimate::SetUseSystemClips(false);
    for (TCommonAVI avi : {aviCopyFiles, aviDeleteFile}) {
        ASSERT_NE(TAnimate::OwnClipId(avi), 0);
        EXPECT_NE(::FindResourceA(nullptr, MAKEINTRESOURCEA(TAnimate::OwnClipId(avi)), "AVI"), nullptr);
        animate->SetCommonAVI(avi);
        EXPECT_EQ(animate->ClipSource(), 2) << avi;
        animate->Play();
    }
    // A clip we have no copy of shows nothing rather than a wrong one.
    animate->SetCommonAVI(aviFindComputer);
    EXPECT_EQ(animate->ClipSource(), 0);
    TAnimate::SetUseSystemClips(true);
}

TEST(CommonControls, ANarrowerTabCaptionRepaintsWhereTheWiderTabWas) {
    TForm form;
    form.SetBounds(0, 0, 500, 300);
    auto* pages = new TPageControl(&form);
    pages->SetAlign(alClient);
    pages->SetParent(&form);
    TTabSheet* last = nullptr;
    for (const char* caption : {"Destination", "Session Options", "A rather wide last tab"})
        last = AddTabSheet(&form, pages, caption, caption);
    form.Show();
    ::UpdateWindow(form.Handle());
    RECT wide{};
    ::SendMessageA(pages->Handle(), TCM_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&wide));
    ::ValidateRect(pages->Handle(), nullptr);
    last->SetCaption("Mail");
    RECT narrow{}, dirty{};
    ::SendMessageA(pages->Handle(), TCM_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&narrow));
    ASSERT_LT(narrow.right, wide.right);
    // The strip between the new and the old right end must be painted again.
    ASSERT_TRUE(::GetUpdateRect(pages->Handle(), &dirty, FALSE));
    EXPECT_LE(dirty.left, narrow.right);
    EXPECT_GE(dirty.right, wide.right);
    EXPECT_LE(dirty.top, wide.top);
    EXPECT_GE(dirty.bottom, wide.bottom);
    form.Hide();
}
