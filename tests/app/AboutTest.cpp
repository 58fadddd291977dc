// The about window: both pictures reach the screen, caption and version come
// from the message table, and the language file translates it.
#include "app/About.h"
#include "app/Lang.h"
#include "app/Messages.h"
#include "tests/app/LangFixture.h"
#include <gtest/gtest.h>
#include <cstdlib>

using namespace krv;

namespace {

// Shows the form and lets it paint.
void ShowAndPaint(TForm& form) {
    form.Show();
    ::RedrawWindow(form.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    while (Application().HandleOneMessage(false)) {
        MSG msg;
        if (!::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) break;
    }
}

COLORREF ScreenPixel(TWinControl& control, int x, int y) {
    WindowDC dc(control.Handle());
    return ::GetPixel(dc.get(), x, y);
}

// When the end-to-end script asks for it, holds the window open until the
// script has taken its screenshot (bounded, so a lost script cannot hang us).
void HoldForScreenshot() {
    const char* ready = std::getenv("KRV_SCREEN_READY");
    const char* done = std::getenv("KRV_SCREEN_DONE");
    if (!ready || !done) return;
    if (FILE* f = std::fopen(ready, "wb")) std::fclose(f);
    const DWORD start = ::GetTickCount();
    while (!FileExists(done) && ::GetTickCount() - start < 300000) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        while (Application().HandleOneMessage(false)) {
            MSG msg;
            if (!::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) break;
        }
    }
}

} // namespace

TEST(AboutWindow, ShowsBothPicturesAndTheVersion) {
    LoadLanguageStrings(TLang());
    TFormAbout about(nullptr, nullptr);
    ShowAndPaint(about);
    EXPECT_EQ(about.Caption(), "Korvane :: About");
    EXPECT_EQ(about.LabelVersion->Caption(), "version 0.9.1 [0106]");
    ASSERT_EQ(about.ImageBanner->Picture().Width(), 400);
    ASSERT_EQ(about.ImageLogo->Picture().Width(), 96);
    // What reached the screen is the pictures' own colours: the banner's
    // dark blue corner and the logo's pale background.
    const COLORREF bannerCorner = ScreenPixel(*about.ImageBanner, 2, 2);
    EXPECT_LT(GetRValue(bannerCorner), 0x40) << std::hex << bannerCorner;
    EXPECT_GT(GetBValue(bannerCorner), 0x30) << std::hex << bannerCorner;
    const COLORREF logoCorner = ScreenPixel(*about.ImageLogo, 1, 1);
    EXPECT_GT(GetRValue(logoCorner), 0xD0) << std::hex << logoCorner;
    // Nothing is cut off by the frame.
    for (TControl* c : {static_cast<TControl*>(about.ButtonOK), static_cast<TControl*>(about.ImageBanner)}) {
        EXPECT_LE(c->Top() + c->Height(), about.ClientHeight()) << c->Name();
        EXPECT_LE(c->Left() + c->Width(), about.ClientWidth()) << c->Name();
    }
    HoldForScreenshot();
}

TEST(AboutWindow, TranslatedWithGeometryFromDefDat) {
    LangFolder dir;
    dir.Write("def.dat", "[FormAbout=LabelInfoAbout]\r\nheight=48\r\n");
    TLang lang;
    ASSERT_TRUE(lang.LoadFromFile(dir.Write("de.lang",
        "<K><Lang value=\"Deutsch\"/><Constant><KV_VersionTxt value=\"Version\"/><KV_About_Title value=\" :: &#220;ber\"/>"
        "</Constant><FormAbout><Control name=\"LabelInfoAbout\" caption=\"Sichert Ordner.\" height=\"16\"/>"
        "<Control name=\"ButtonOK\" caption=\"Gut\"/></FormAbout></K>")));
    LoadLanguageStrings(lang);
    TFormAbout about(nullptr, &lang);
    ShowAndPaint(about);
    EXPECT_EQ(about.Caption(), "Korvane :: \xDC" "ber");
    EXPECT_EQ(about.LabelVersion->Caption(), "Version 0.9.1 [0106]");
    EXPECT_EQ(about.LabelInfoAbout->Caption(), "Sichert Ordner.");
    EXPECT_EQ(about.LabelInfoAbout->Height(), 64);
    EXPECT_EQ(about.ButtonOK->Caption(), "Gut");
    LoadLanguageStrings(TLang());
}
