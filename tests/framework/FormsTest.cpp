#include "framework/ComCtrls.h"
#include "framework/Dialogs.h"
#include "framework/ExtCtrls.h"
#include "framework/Forms.h"
#include "framework/Menus.h"
#include "framework/RichLog.h"
#include "framework/SysUtils.h"
#include "framework/StdCtrls.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <tuple>

using namespace krv;

namespace {
struct AppInit {
    AppInit() { Application().Initialize(); }
};
const AppInit appInit;

template <class T> T* Make(TForm& form, TWinControl* parent, const char* name) {
    auto* c = new T(&form);
    c->SetName(name);
    c->SetParent(parent);
    return c;
}
}

TEST(Forms, ModalResultOfAButtonEndsShowModalAndCloseActionNoneRefuses) {
    TForm form;
    form.SetCaption("Modal");
    form.Position = poScreenCenter;
    auto* ok = Make<TButton>(form, &form, "ButtonOk");
    ok->ModalResult = mrOk;
    int shows = 0, activations = 0, closes = 0;
    form.OnShow = [&](TObject*) { ++shows; };
    form.OnActivate = [&](TObject*) { ++activations; };
    form.OnClose = [&](TObject*, TCloseAction& action) {
        // The first close is refused; the second goes through.
        action = ++closes == 1 ? caNone : caHide;
    };
    TTimer timer(&form);
    timer.SetInterval(1);
    int ticks = 0;
    timer.OnTimer = [&](TObject*) {
        ++ticks;
        if (ticks == 1) ok->Click();          // refused by OnClose
        if (ticks == 3) form.Find<TButton>("buttonok")->Click();
        if (ticks >= 3) timer.SetEnabled(false);
    };
    EXPECT_EQ(form.ShowModal(), mrOk);
    EXPECT_EQ(closes, 2);
    EXPECT_GE(ticks, 3);
    EXPECT_EQ(shows, 1);
    EXPECT_GE(activations, 1);
    EXPECT_FALSE(::IsWindowVisible(form.Handle()));
    // Placed at the centre of the work area.
    RECT area;
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    EXPECT_NEAR(form.Left() + form.Width() / 2, (area.left + area.right) / 2, 2);
}

// A window's first step runs once from the loop: after the window and its
// children are painted when asked, else ahead of their paint messages, so a
// worker it starts overlaps the painting.
TEST(Forms, APostedStepRunsOnceBeforeOrAfterThePaintAsAsked) {
    for (bool paintFirst : {true, false}) {
        SCOPED_TRACE(paintFirst ? "after the paint" : "ahead of the paint");
        TForm form;
        form.SetCaption("Step");
        form.SetBounds(0, 0, 300, 200);
        auto* button = Make<TButton>(form, &form, "ButtonStep");
        button->SetBounds(10, 10, 100, 26);
        int steps = 0;
        bool formDirty = false, buttonDirty = false;
        form.OnShow = [&](TObject*) {
            form.PostStep([&] {
                ++steps;
                formDirty = ::GetUpdateRect(form.Handle(), nullptr, FALSE);
                buttonDirty = ::GetUpdateRect(button->Handle(), nullptr, FALSE);
                form.SetModalResult(mrOk);
            }, paintFirst);
        };
        EXPECT_EQ(form.ShowModal(), mrOk);
        ::SendMessageA(form.Handle(), ::RegisterWindowMessageA("Korvane.PostedStep"), 0, 0);
        EXPECT_EQ(steps, 1) << "a later message of the same kind must find no step left to run";
        EXPECT_EQ(formDirty, !paintFirst) << "the form still to be painted";
        EXPECT_EQ(buttonDirty, !paintFirst) << "the button still to be painted";
    }
}

TEST(Forms, EscapeAndCloseGiveCancel) {
    TForm form;
    auto* cancel = Make<TButton>(form, &form, "ButtonCancel");
    cancel->Cancel = true;
    cancel->ModalResult = mrCancel;
    int pressed = 0;
    cancel->OnClick = [&](TObject*) { ++pressed; };
    TTimer timer(&form);
    timer.SetInterval(1);
    timer.OnTimer = [&](TObject*) {
        timer.SetEnabled(false);
        // What the dialog manager sends for Escape.
        ::SendMessageA(form.Handle(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    };
    EXPECT_EQ(form.ShowModal(), mrCancel);
    EXPECT_EQ(pressed, 1);

    timer.OnTimer = [&](TObject*) {
        timer.SetEnabled(false);
        ::SendMessageA(form.Handle(), WM_CLOSE, 0, 0);
    };
    timer.SetEnabled(true);
    EXPECT_EQ(form.ShowModal(), mrCancel);
    EXPECT_EQ(pressed, 1);
}

// A window lands wholly on the work area: centred on its owner when the
// owner is on screen, on the area otherwise, pushed inside at the edges.
TEST(Forms, PlacementKeepsTheWindowInsideTheWorkArea) {
    const RECT work{0, 0, 1280, 1000};
    const SIZE dialog{480, 330};
    struct Case {
        const char* what;
        bool hasOwner;
        RECT owner;
        SIZE size;
        POINT want;
    } cases[] = {
        {"no owner: centre of the area", false, {}, dialog, {400, 335}},
        {"owner in the middle", true, {240, 200, 1040, 800}, dialog, {400, 335}},
        {"owner hanging off the bottom", true, {0, 847, 160, 1024}, dialog, {0, 670}},
        {"owner hanging off the top left", true, {-600, -500, 100, 100}, dialog, {0, 0}},
        {"owner hanging off the right", true, {1200, 100, 1600, 400}, dialog, {800, 85}},
        {"larger than the area: top left inside", true, {0, 0, 400, 300}, {1400, 1100}, {0, 0}},
    };
    for (const Case& c : cases) {
        POINT at = PlaceInWorkArea(c.hasOwner ? &c.owner : nullptr, c.size, work);
        EXPECT_EQ(at.x, c.want.x) << c.what;
        EXPECT_EQ(at.y, c.want.y) << c.what;
    }
    // A work area that does not start at the screen's corner (a taskbar on top).
    const RECT shifted{0, 40, 1280, 1024};
    POINT at = PlaceInWorkArea(nullptr, SIZE{1280, 2000}, shifted);
    EXPECT_EQ(at.y, 40);
}

// An owner that is minimised (an unattended run) gives no centre: the
// window goes to the middle of the work area, wholly visible.
TEST(Forms, AWindowOfAMinimisedOwnerIsCentredOnTheWorkArea) {
    TForm owner;
    owner.SetCaption("Owner");
    owner.SetBounds(100, 100, 700, 500);
    TForm* savedMain = Application().MainForm;
    Application().MainForm = &owner;
    owner.Show();
    owner.Minimize();
    ASSERT_TRUE(::IsIconic(owner.Handle()));
    TForm dialog;
    dialog.SetCaption("Owned");
    dialog.Position = poMainFormCenter;
    dialog.SetBounds(0, 0, 480, 330);
    dialog.Show();
    RECT area;
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    RECT placed;
    ::GetWindowRect(dialog.Handle(), &placed);
    Application().MainForm = savedMain;
    EXPECT_GE(placed.left, area.left);
    EXPECT_GE(placed.top, area.top);
    EXPECT_LE(placed.right, area.right);
    EXPECT_LE(placed.bottom, area.bottom);
    EXPECT_NEAR((placed.left + placed.right) / 2, (area.left + area.right) / 2, 2);
    EXPECT_NEAR((placed.top + placed.bottom) / 2, (area.top + area.bottom) / 2, 2);
}

TEST(Forms, MinimumSizeConstraintHolds) {
    TForm form;
    form.Constraints.MinWidth = 300;
    form.Constraints.MinHeight = 200;
    form.HandleNeeded();
    ::MoveWindow(form.Handle(), 0, 0, 100, 100, FALSE);
    RECT r;
    ::GetWindowRect(form.Handle(), &r);
    EXPECT_GE(r.right - r.left, 300);
    EXPECT_GE(r.bottom - r.top, 200);
}

TEST(Menus, OpeningAPopupFiresItsItemAndCommandsReachTheirItem) {
    TForm form;
    auto* menu = new TMainMenu(&form);
    auto* tools = new TMenuItem(&form);
    tools->SetCaption("&Tools");
    auto* view = new TMenuItem(&form);
    view->SetCaption("View report");
    view->SetName("ViewSavedLog");
    auto* nested = new TMenuItem(&form);
    nested->SetCaption("More");
    auto* deep = new TMenuItem(&form);
    deep->SetCaption("Deep");
    menu->Items().Add(tools);
    tools->Add(view);
    tools->Add(nested);
    nested->Add(deep);
    int viewClicks = 0, deepClicks = 0;
    tools->OnClick = [&](TObject*) { view->SetEnabled(false); };
    view->OnClick = [&](TObject*) { ++viewClicks; };
    deep->OnClick = [&](TObject*) { ++deepClicks; };
    form.SetMenu(menu);
    ASSERT_EQ(::GetMenu(form.Handle()), menu->Handle());

    ::SendMessageA(form.Handle(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(tools->SubMenu()), 0);
    EXPECT_FALSE(view->Enabled());
    EXPECT_TRUE(::GetMenuState(menu->Handle(), view->Command(), MF_BYCOMMAND) & MF_GRAYED);
    // A disabled item ignores its command; an enabled nested one gets it.
    ::SendMessageA(form.Handle(), WM_COMMAND, MAKEWPARAM(view->Command(), 0), 0);
    EXPECT_EQ(viewClicks, 0);
    ::SendMessageA(form.Handle(), WM_COMMAND, MAKEWPARAM(deep->Command(), 0), 0);
    EXPECT_EQ(deepClicks, 1);

    view->SetCaption("Report");
    char text[64] = {};
    ::GetMenuStringA(tools->SubMenu(), 0, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "Report");
    EXPECT_EQ(form.FindComponent("viewsavedlog"), view);
}

TEST(StdControls, CheckBoxComboAndEditKeepStateWithAndWithoutAWindow) {
    TForm form;
    auto* check = new TCheckBox(&form);
    int checkClicks = 0;
    check->OnClick = [&](TObject*) { ++checkClicks; };
    check->SetChecked(true);                  // before the window exists
    auto* combo = new TComboBox(&form);
    combo->AddItem("No report");
    combo->AddItem("Basic");
    combo->SetItemIndex(1);
    auto* edit = new TEdit(&form);
    edit->SetText("Backup");
    int edits = 0;
    edit->OnChange = [&](TObject*) { ++edits; };
    for (TWinControl* c : {static_cast<TWinControl*>(check), static_cast<TWinControl*>(combo), static_cast<TWinControl*>(edit)})
        c->SetParent(&form);
    form.HandleNeeded();

    EXPECT_EQ(::SendMessageA(check->Handle(), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(checkClicks, 1);
    ::SendMessageA(form.Handle(), WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), reinterpret_cast<LPARAM>(check->Handle()));
    EXPECT_FALSE(check->Checked());
    EXPECT_EQ(::SendMessageA(check->Handle(), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(checkClicks, 2);
    check->SetChecked(false);                 // no change, no click
    EXPECT_EQ(checkClicks, 2);

    EXPECT_EQ(combo->ItemIndex(), 1);
    EXPECT_EQ(combo->Caption(), "Basic");
    int changes = 0;
    combo->OnChange = [&](TObject*) { ++changes; };
    ::SendMessageA(combo->Handle(), CB_SETCURSEL, 0, 0);
    ::SendMessageA(form.Handle(), WM_COMMAND, MAKEWPARAM(0, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo->Handle()));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(combo->ItemIndex(), 0);
    combo->SetItemIndex(7);                    // out of range: no selection
    EXPECT_EQ(combo->ItemIndex(), -1);

    EXPECT_EQ(edit->Text(), "Backup");
    ::SetWindowTextA(edit->Handle(), "Other");
    EXPECT_EQ(edit->Text(), "Other");
    EXPECT_GE(edits, 1);
}

TEST(CommonControls, PageControlShowsOnlyTheActiveSheetAndStatusPanelsHoldText) {
    TForm form;
    form.SetBounds(0, 0, 500, 400);
    auto* pages = Make<TPageControl>(form, &form, "PageControl");
    pages->SetAlign(alClient);
    auto* first = new TTabSheet(&form);
    first->SetCaption("Source");
    first->SetPageControl(pages);
    auto* second = new TTabSheet(&form);
    second->SetCaption("Options");
    second->SetPageControl(pages);
    auto* status = Make<TStatusBar>(form, &form, "StatusBar");
    status->AddPanel(250, "Session never saved");
    status->AddPanel(100);
    form.HandleNeeded();

    EXPECT_EQ(pages->ActivePage(), first);
    EXPECT_TRUE(first->Visible());
    EXPECT_FALSE(second->Visible());
    EXPECT_EQ(::SendMessageA(pages->Handle(), TCM_GETITEMCOUNT, 0, 0), 2);
    // The sheet sits inside the tab control's display area.
    EXPECT_GT(first->Top(), 0);
    EXPECT_LT(first->Width(), pages->Width());

    int changes = 0;
    pages->OnChange = [&](TObject*) { ++changes; };
    ::SendMessageA(pages->Handle(), TCM_SETCURSEL, 1, 0);
    NMHDR nm{pages->Handle(), 0, static_cast<UINT>(TCN_SELCHANGE)};
    ::SendMessageA(form.Handle(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&nm));
    EXPECT_EQ(pages->ActivePage(), second);
    EXPECT_EQ(changes, 1);
    EXPECT_FALSE(::IsWindowVisible(first->Handle()) && first->Visible());

    // The status bar sits at the bottom and shows its panel texts.
    EXPECT_EQ(status->Top() + status->Height(), form.ClientHeight());
    EXPECT_EQ(pages->Top() + pages->Height(), status->Top());
    char text[64] = {};
    ::SendMessageA(status->Handle(), SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, "Session never saved");
    status->SetPanelText(1, "12 folders");
    ::SendMessageA(status->Handle(), SB_GETTEXTA, 1, reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, "12 folders");
}

TEST(CommonControls, SpeedButtonsOfAGroupReleaseEachOther) {
    TForm form;
    TImageList images(&form);
    images.AddPainted([](TCanvas& c) { c.Brush.SetColor(clBlue); c.FillRect(RECT{2, 2, 14, 14}); });
    EXPECT_EQ(images.Count(), 1);
    auto* disc = Make<TSpeedButton>(form, &form, "BtnDiscBackup");
    auto* disk = Make<TSpeedButton>(form, &form, "BtnHDBackup");
    auto* loose = Make<TSpeedButton>(form, &form, "Loose");
    disc->GroupIndex = disk->GroupIndex = 1;
    disc->Images = disk->Images = &images;
    disc->SetImageIndex(0);
    int clicks = 0;
    disk->OnClick = [&](TObject*) { ++clicks; };
    disc->SetDown(true);
    disk->Click();
    EXPECT_TRUE(disk->Down());
    EXPECT_FALSE(disc->Down());
    EXPECT_EQ(clicks, 1);
    disk->Click();                 // clicking the down one keeps it down
    EXPECT_TRUE(disk->Down());
    disk->SetDown(false);          // one of the group stays down
    EXPECT_TRUE(disk->Down());
    loose->Click();
    EXPECT_FALSE(loose->Down());   // no group: a plain button
    EXPECT_TRUE(disk->Down());
}

TEST(CommonControls, SplitterResizesItsNeighbourWithinCanResize) {
    TForm form;
    form.HandleNeeded();
    form.SetClientSize(600, 300);
    auto* tree = Make<TPanel>(form, &form, "PanelTree");
    tree->SetWidth(200);
    tree->SetAlign(alLeft);
    auto* splitter = Make<TSplitter>(form, &form, "SplitterTree");
    splitter->SetAlign(alLeft);
    auto* rest = Make<TPanel>(form, &form, "PanelRest");
    rest->SetAlign(alClient);
    ASSERT_EQ(splitter->Left(), 200);
    ASSERT_EQ(splitter->ResizeControl(), tree);

    EXPECT_TRUE(splitter->MoveBy(50));
    EXPECT_EQ(tree->Width(), 250);
    EXPECT_EQ(splitter->Left(), 250);
    EXPECT_EQ(rest->Left(), 254);
    splitter->OnCanResize = [](TObject*, int& newSize, bool& accept) { accept = newSize <= 260; };
    EXPECT_FALSE(splitter->MoveBy(20));
    EXPECT_EQ(tree->Width(), 250);
    EXPECT_TRUE(splitter->MoveBy(-500));   // stops at MinSize
    EXPECT_EQ(tree->Width(), splitter->MinSize);
}

TEST(RichLog, LinesKeepTheirColourAndOrder) {
    TForm form;
    auto* log = Make<TRichLog>(form, &form, "LogEdit");
    log->SetBounds(0, 0, 300, 200);
    form.HandleNeeded();
    EXPECT_EQ(log->LineCount(), 0);
    log->AddLine("black line", clBlack);
    log->AddLine("File \"mkisofs.exe\" not found.", clRed);
    log->AddLine("blue line", clBlue);
    ASSERT_EQ(log->LineCount(), 3);
    EXPECT_EQ(log->Line(0), "black line");
    EXPECT_EQ(log->Line(1), "File \"mkisofs.exe\" not found.");
    EXPECT_EQ(log->LineColor(0), clBlack);
    EXPECT_EQ(log->LineColor(1), clRed);
    EXPECT_EQ(log->LineColor(2), clBlue);
    // The control stays read-only for the user.
    EXPECT_TRUE(::GetWindowLongA(log->Handle(), GWL_STYLE) & ES_READONLY);
    log->Clear();
    EXPECT_EQ(log->LineCount(), 0);

    // Many lines at once, shown and hidden: all there, in order, and a hidden
    // log is not made visible by the redraw it skips.
    form.Show();
    for (bool shown : {true, false}) {
        log->SetVisible(shown);
        log->Clear();
        log->AddLine("first", clBlue);
        log->AddLine("a\r\nb\r\nc", clBlack);
        log->AddLine("d\r\ne", clRed);
        const std::vector<std::string> lines{"first", "a", "b", "c", "d", "e"};
        ASSERT_EQ(log->LineCount(), 6) << shown;
        for (int i = 0; i < 6; ++i) EXPECT_EQ(log->Line(i), lines[static_cast<size_t>(i)]) << i;
        EXPECT_EQ(log->LineColor(0), clBlue);
        EXPECT_EQ(log->LineColor(3), clBlack);
        EXPECT_EQ(log->LineColor(5), clRed);
        EXPECT_EQ(::IsWindowVisible(log->Handle()) != 0, shown);
        RECT pending;
        EXPECT_EQ(::GetUpdateRect(log->Handle(), &pending, FALSE) != 0, shown) << "a shown log is drawn again";
    }
}

TEST(RichLog, ATextOfThousandsOfLinesGoesInWholeAndInItsColour) {
    TForm form;
    auto* log = Make<TRichLog>(form, &form, "LogEdit");
    log->SetBounds(0, 0, 300, 200);
    form.Show();
    log->AddLine("first", clBlack);
    // Far more than the control takes in one insertion, with a line longer
    // than a piece and empty lines where the pieces may be cut.
    std::string text;
    for (int i = 0; i < 2000; ++i) {
        if (i) text += "\r\n";
        if (i == 1000) text += std::string(13000, 'L');
        else if (i % 250) text += Format("line %04d ", i) + std::string(static_cast<size_t>(i % 37), 'x');
    }
    log->AddLine(text, clBlue);
    log->AddLine("last", clRed);
    std::string whole(static_cast<size_t>(::GetWindowTextLengthA(log->Handle())) + 1, '\0');
    whole.resize(static_cast<size_t>(::GetWindowTextA(log->Handle(), whole.data(), static_cast<int>(whole.size()))));
    EXPECT_TRUE(whole == "first\r\n" + text + "\r\nlast") << whole.size() << " " << text.size();
    const int count = log->LineCount();
    EXPECT_EQ(log->LineColor(0), clBlack);
    EXPECT_EQ(log->LineColor(1), clBlue);
    EXPECT_EQ(log->Line(count - 2), Format("line %04d ", 1999) + std::string(1999 % 37, 'x'));
    EXPECT_EQ(log->LineColor(count - 2), clBlue) << "the colour lost between two pieces";
    EXPECT_EQ(log->Line(count - 1), "last");
    EXPECT_EQ(log->LineColor(count - 1), clRed);
}

// A log with a limit keeps exactly its last lines, in their colours: lines
// as added, however many rows a long one wraps into.
TEST(RichLog, ALogWithALimitKeepsOnlyItsLastLines) {
    TForm form;
    auto* log = Make<TRichLog>(form, &form, "LogEdit");
    log->MaxLines = 3;
    form.Show();
    std::string wraps;
    for (int i = 0; i < 40; ++i) wraps += Format("word%02d ", i);
    const std::tuple<std::vector<TLogLine>, std::string, std::vector<TColor>> rows[] = {
        {{{"a", clBlack}}, "a", {clBlack}},
        {{{"b\r\nc\r\nd\r\ne", clBlue}}, "c\r\nd\r\ne", {clBlue, clBlue, clBlue}},
        {{{"f", clRed}}, "d\r\ne\r\nf", {clBlue, clBlue, clRed}},
        {{{"g\r\nh", clBlack}}, "f\r\ng\r\nh", {clRed, clBlack, clBlack}},
        {{{"\xC3\xA9 1", clRed}, {"\xC3\xBC 2", clBlack}}, "h\r\n\xC3\xA9 1\r\n\xC3\xBC 2", {clBlack, clRed, clBlack}},
        {{{wraps, clBlue}}, "\xC3\xA9 1\r\n\xC3\xBC 2\r\n" + wraps, {clRed, clBlack, clBlue}},
        {{{"x", clRed}, {"y\r\nz", clBlack}, {"last", clBlue}}, "y\r\nz\r\nlast", {clBlack, clBlack, clBlue}}};
    for (const auto& [lines, text, colours] : rows) {
        log->AddLines(lines);
        std::string whole(static_cast<size_t>(::GetWindowTextLengthA(log->Handle())) + 1, '\0');
        whole.resize(static_cast<size_t>(::GetWindowTextA(log->Handle(), whole.data(), static_cast<int>(whole.size()))));
        EXPECT_EQ(whole, text);
        for (size_t i = 0; i < colours.size(); ++i) EXPECT_EQ(log->LineColor(static_cast<int>(i)), colours[i]) << text;
    }
}

TEST(Dialogs, MessageBoxHookAnswersAndDateTimeRoundTrips) {
    std::string seen;
    UINT flags = 0;
    SetMessageBoxHook([&](const std::string& text, const std::string&, UINT f) { seen = text; flags = f; return IDNO; });
    EXPECT_EQ(ShowMessageBox("Save?", "Session modified", 51), IDNO);
    EXPECT_EQ(seen, "Save?");
    EXPECT_EQ(flags, 51u);
    SetMessageBoxHook(nullptr);

    SYSTEMTIME st{2026, 12, 1, 7, 12, 0, 0, 0};
    TDateTime t = SystemTimeToDateTime(st);
    SYSTEMTIME back = DateTimeToSystemTime(t);
    EXPECT_EQ(back.wYear, 2026);
    EXPECT_EQ(back.wDay, 7);
    EXPECT_EQ(back.wHour, 12);
    EXPECT_EQ(back.wMinute, 0);
    EXPECT_EQ(back.wSecond, 0);
    EXPECT_DOUBLE_EQ(SystemTimeToDateTime(SYSTEMTIME{1899, 12, 6, 30, 0, 0, 0, 0}), 0.0);
    std::string text = DateTimeToStr(t);
    EXPECT_NE(text.find("2026"), std::string::npos) << text;
    EXPECT_NE(text.find("12"), std::string::npos) << text;
}

TEST(Forms, AnExceptionInAHandlerReachesTheApplicationAndTheFormLivesOn) {
    TForm form;
    auto* button = Make<TButton>(form, &form, "ButtonFail");
    int clicks = 0;
    button->OnClick = [&](TObject*) {
        if (++clicks == 1) throw Exception("disk full");
    };
    form.HandleNeeded();
    std::vector<std::string> logged;
    Application().OnException = [&](TObject*, const std::string& message) { logged.push_back(message); };
    auto click = [&] {
        ::SendMessageA(form.Handle(), WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), reinterpret_cast<LPARAM>(button->Handle()));
    };
    click();
    click();
    Application().OnException = nullptr;
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0], "disk full");
    EXPECT_EQ(clicks, 2);
    EXPECT_TRUE(::IsWindow(form.Handle()));
}

TEST(Forms, TabWalksThroughControlsInsidePanelsAndPages) {
    TForm form;
    auto* panel = Make<TPanel>(form, &form, "Panel");
    panel->SetBounds(0, 0, 300, 40);
    auto* first = Make<TEdit>(form, panel, "First");
    first->SetBounds(5, 5, 100, 21);
    auto* pages = Make<TPageControl>(form, &form, "Pages");
    pages->SetBounds(0, 50, 300, 200);
    auto* sheet = new TTabSheet(&form);
    sheet->SetCaption("Page");
    sheet->SetPageControl(pages);
    auto* second = Make<TEdit>(form, sheet, "Second");
    second->SetBounds(5, 5, 100, 21);
    form.HandleNeeded();
    ::ShowWindow(form.Handle(), SW_SHOWNA);
    EXPECT_EQ(::GetNextDlgTabItem(form.Handle(), first->Handle(), FALSE), second->Handle());
    EXPECT_EQ(::GetNextDlgTabItem(form.Handle(), second->Handle(), FALSE), first->Handle());
}
