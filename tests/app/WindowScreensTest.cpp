// Every window a user sees, in each shipped language: no caption is cut off
// by its control, and no two visible controls of one container overlap.
// Asked by tests/e2e/window_screens.sh (KRV_SCREENS_DIR), each window is
// also held open until its screenshot has been taken.
#include "SoonCall.h"
#include "app/About.h"
#include "app/FormWait.h"
#include "app/Main.h"
#include "app/Messages.h"
#include "app/OptionsForm.h"
#include "app/Recorders.h"
#include "framework/ExtCtrls.h"
#include "framework/SysUtils.h"
#include "tests/app/LangFixture.h"
#include <gtest/gtest.h>
#include <cstdlib>
#include <set>

using namespace krv;

namespace {

void Pump() {
    while (Application().HandleOneMessage(false)) {
        MSG msg;
        if (!::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) break;
    }
}

void Paint(TForm& form) {
    ::RedrawWindow(form.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    Pump();
}

// The width the control's caption needs in its own font ("&" marks no width).
int TextWidth(TWinControl& c) {
    std::string text;
    for (size_t i = 0; i < c.Caption().size(); ++i) {
        if (c.Caption()[i] == '&' && i + 1 < c.Caption().size()) ++i;
        text += c.Caption()[i];
    }
    WindowDC dc(c.Handle());
    SelectObjectScope font(dc.get(), reinterpret_cast<HFONT>(::SendMessageA(c.Handle(), WM_GETFONT, 0, 0)));
    SIZE size{};
    ::GetTextExtentPoint32A(dc.get(), text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
}

// Room a control's frame, box or picture takes beside its caption.
int Chrome(TControl& c) {
    if (dynamic_cast<TButton*>(&c)) return 10;
    if (dynamic_cast<TCheckBox*>(&c)) return 22;
    if (auto* s = dynamic_cast<TSpeedButton*>(&c)) return s->Images ? 4 + s->Images->Width() + 4 + 4 : 8;
    return 0;
}

bool Shown(TControl& c) {
    for (TControl* p = &c; p; p = p->Parent())
        if (!p->Visible()) return false;
    return true;
}

// Checks every control below the container, recursively.
void CheckLayout(TWinControl& container, const std::string& where) {
    std::vector<TControl*> shown;
    for (int i = 0; i < container.ControlCount(); ++i) {
        TControl* c = container.Controls(i);
        if (!Shown(*c)) continue;
        shown.push_back(c);
        auto* w = dynamic_cast<TWinControl*>(c);
        const bool captioned = dynamic_cast<TButton*>(c) || dynamic_cast<TCheckBox*>(c) ||
                               dynamic_cast<TSpeedButton*>(c) ||
                               (dynamic_cast<TLabel*>(c) && !static_cast<TLabel*>(c)->WordWrap);
        if (w && captioned && !c->Caption().empty()) {
            EXPECT_LE(TextWidth(*w) + Chrome(*c), c->Width())
                << where << ": \"" << c->Caption() << "\" is cut off in " << c->Name();
        }
        if (w && c->Align() == alNone) {
            EXPECT_LE(c->Left() + c->Width(), container.ClientWidth()) << where << ": " << c->Name() << " sticks out";
            EXPECT_LE(c->Top() + c->Height(), container.ClientHeight()) << where << ": " << c->Name() << " sticks out";
        }
        if (w) CheckLayout(*w, where);
    }
    for (size_t i = 0; i < shown.size(); ++i)
        for (size_t j = i + 1; j < shown.size(); ++j) {
            if (shown[i]->Align() != alNone || shown[j]->Align() != alNone) continue;
            RECT a = shown[i]->BoundsRect(), b = shown[j]->BoundsRect(), both;
            EXPECT_FALSE(::IntersectRect(&both, &a, &b))
                << where << ": " << shown[i]->Name() << " and " << shown[j]->Name() << " overlap";
        }
}

// The dark pixels of a caption button drawn the way the system draws the
// buttons of every title bar (a glyph of its symbol font), inside the edge.
struct Glyph {
    std::set<std::pair<int, int>> ink;
    int minX = 1 << 20, maxX = -1, minY = 1 << 20, maxY = -1;
    std::string picture;
};

Glyph CaptionButtonGlyph(UINT button) {
    constexpr int kSize = 32, kEdge = 3;
    WindowDC screen(nullptr);
    MemoryDC dc(screen.get());
    BitmapHandle bitmap(::CreateCompatibleBitmap(screen.get(), kSize, kSize));
    SelectObjectScope select(dc.get(), bitmap.get());
    RECT r{0, 0, kSize, kSize};
    ::DrawFrameControl(dc.get(), &r, DFC_CAPTION, button);
    Glyph g;
    for (int y = kEdge; y < kSize - kEdge; ++y) {
        for (int x = kEdge; x < kSize - kEdge; ++x) {
            COLORREF c = ::GetPixel(dc.get(), x, y);
            const bool dark = GetRValue(c) + GetGValue(c) + GetBValue(c) < 3 * 64;
            g.picture += dark ? '#' : '.';
            if (!dark) continue;
            g.ink.insert({x, y});
            g.minX = std::min(g.minX, x), g.maxX = std::max(g.maxX, x);
            g.minY = std::min(g.minY, y), g.maxY = std::max(g.maxY, y);
        }
        g.picture += '\n';
    }
    return g;
}

// The share of the ink whose mirror image (left-right, or top-bottom) is ink too.
double MirrorMatch(const Glyph& g, bool leftRight) {
    if (g.ink.empty()) return 0;
    int matched = 0;
    for (auto [x, y] : g.ink) {
        std::pair<int, int> m = leftRight ? std::make_pair(g.minX + g.maxX - x, y) : std::make_pair(x, g.minY + g.maxY - y);
        matched += g.ink.count(m) ? 1 : 0;
    }
    return static_cast<double>(matched) / static_cast<double>(g.ink.size());
}

class WindowScreens : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        Application().Initialize();
        appDir = dir.Dir();
        dir.CopyShippedLanguages();
        dir.MakeDir("tools");
        for (const char* f : {"tools\\mkisofs.exe", "tools\\cdrecord.exe", "tools\\cygwin1.dll"}) dir.Write(f, "x");
        // The program starts in the other language and is switched at run
        // time, where the old language's geometry and tabs could stay behind.
        TSettings s;
        s.Lang = Target() == "Deutsch" ? std::string() : LangFile("Deutsch");
        WriteSettings(SettingsFileName(appDir), s);
    }
    void TearDown() override { LoadLanguageStrings(TLang()); }
    std::string Target() const { return GetParam(); }
    std::string LangFile(const std::string& name) const { return appDir + "lang\\" + name + ".lang"; }

    // When the screenshot script asks for it: says the window is up, then
    // waits (bounded) until the script has taken the picture.
    void Hold(TForm& form, const std::string& name) {
        Paint(form);
        const char* folder = std::getenv("KRV_SCREENS_DIR");
        if (!folder) return;
        const std::string base = std::string(folder) + "\\" + Target() + "_" + name;
        if (FILE* f = std::fopen((base + ".ready").c_str(), "wb")) std::fclose(f);
        const DWORD start = ::GetTickCount();
        while (!FileExists(base + ".done") && ::GetTickCount() - start < 300000) {
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
            Pump();
        }
    }

    LangFolder dir;
    std::string appDir;
};

} // namespace

TEST_P(WindowScreens, MainOptionsAboutAndWaitWindowsShowTheirTextsWhole) {
    TMainForm main(appDir, {});
    main.DiscoverRecorders = [&main] {
        main.DeviceCombo->AddItem("0,0,0  'KORVANE ' 'DVD-RW WRITER   ' '1.0'");
        main.DevicesFound = true;
        main.DeviceCombo->SetItemIndex(0);
    };
    main.Show();
    Paint(main);
    main.Settings.Lang = LangFile(Target());
    main.ApplyLanguageChange();
    ASSERT_EQ(main.Lang->GetName(), Target());
    main.Session.SessionName = "Weekly";
    main.SessionFileArg = appDir + "Weekly.xml";
    main.Session.LastSave = main.Session.LastBackup = Now();
    main.ShowSessionStatus();
    ASSERT_EQ(main.Mode, bmDisc);
    CheckLayout(main, "main window");
    Hold(main, "main");
    main.ButtonStart->SetEnabled(false);   // greyed: its text must still fit
    main.PageControl->SetActivePage(main.TabSession);
    CheckLayout(main, "session page");
    Hold(main, "main_session");
    main.BtnHDBackupClick();
    main.PageControl->SetActivePage(main.TabDestination);
    CheckLayout(main, "hard-disk page");
    main.PageControl->SetActivePage(main.TabMail);
    CheckLayout(main, "mail page");
    Hold(main, "main_mail");

    {
        TFormOptions options(&main, main.Lang.get(), appDir + "lang", &main.LangFiles);
        options.SettingsToForm(main.Settings);
        options.Show();
        for (int i = 0; i < options.OptionPageControl->PageCount(); ++i) {
            options.OptionPageControl->SetActivePageIndex(i);
            CheckLayout(options, "options page " + std::to_string(i));
        }
        options.OptionPageControl->SetActivePageIndex(0);
        Hold(options, "options");
        options.OptionPageControl->SetActivePageIndex(2);
        Hold(options, "options_language");
    }
    {
        TFormAbout about(&main, main.Lang.get());
        about.Show();
        CheckLayout(about, "about window");
        Hold(about, "about");
    }
    {
        TFormWait wait(&main);
        wait.LabelWaitTask->SetCaption(KV_WritingStart);
        wait.SetCaption(std::string(kProductName) + " :: " + KV_WritingStart);
        wait.Animate->SetCommonAVI(aviCopyFiles);
        wait.Show();
        wait.Timer->SetEnabled(false);   // shown only: no program runs
        wait.Animate->Play();
        wait.LabelWaitProgress->SetCaption(KV_CDR_GraceTime);
        CheckLayout(wait, "wait window");
        Hold(wait, "wait");
        wait.Hide();
    }
    {
        TFormSplashScreen splash(&main, appDir);
        splash.LabelWaitTask->SetCaption(KV_ScanningStart);
        splash.Show();
        splash.Timer->SetEnabled(false);   // shown only: no scan runs
        CheckLayout(splash, "recorder scan window");
        Hold(splash, "splash");
        splash.Hide();
    }
    main.Session.Modified = false;
}

// Without the symbol font the title bars show the letters "0", "1" and "r"
// where the minimise, maximise and close symbols belong.
TEST(CaptionButtons, AreDrawnAsSymbolsNotLetters) {
    const Glyph close = CaptionButtonGlyph(DFCS_CAPTIONCLOSE);
    const Glyph max = CaptionButtonGlyph(DFCS_CAPTIONMAX);
    const Glyph min = CaptionButtonGlyph(DFCS_CAPTIONMIN);
    EXPECT_GE(MirrorMatch(close, true), 0.9) << "close is no cross:\n" << close.picture;
    EXPECT_GE(MirrorMatch(close, false), 0.9) << "close is no cross:\n" << close.picture;
    EXPECT_GE(MirrorMatch(max, true), 0.9) << "maximise is no window frame:\n" << max.picture;
    ASSERT_FALSE(min.ink.empty()) << min.picture;
    EXPECT_LE(min.maxY - min.minY, 4) << "minimise is no bar:\n" << min.picture;
    EXPECT_GE(min.maxX - min.minX, 3 * (min.maxY - min.minY + 1)) << "minimise is no bar:\n" << min.picture;
}

INSTANTIATE_TEST_SUITE_P(Languages, WindowScreens, ::testing::Values("English", "Deutsch"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });
