// Menus are translated by ApplyToMenu at every depth, never by ApplyToForm.
#include "app/Lang.h"
#include "framework/Forms.h"
#include "framework/Menus.h"
#include "tests/app/LangFixture.h"
#include <gtest/gtest.h>

using namespace krv;

TEST(LangMenu, CaptionsAtEveryDepthOnlyThroughApplyToMenu) {
    LangFolder dir;
    TLang lang;
    ASSERT_TRUE(lang.LoadFromFile(dir.Write("m.lang",
        "<K><Lang value=\"M\"/><MainForm>"
        "<Control name=\"FileMenu\" caption=\"&amp;Datei\"/>"
        "<Control name=\"SaveSessionAs\" caption=\"Speichern &amp;unter...\"/>"
        "<Control name=\"DeepItem\" caption=\"Tief\"/>"
        "<Control name=\"ExitMenu\" hint=\"only a hint\"/>"
        "</MainForm></K>")));
    TForm form;
    form.SetName("MainForm");
    TMainMenu menu(&form);
    auto item = [&form](const char* name, const char* caption, TMenuItem& parent) {
        auto* i = new TMenuItem(&form);
        i->SetName(name);
        i->SetCaption(caption);
        parent.Add(i);
        return i;
    };
    TMenuItem* file = item("FileMenu", "&File", menu.Items());
    TMenuItem* saveAs = item("SaveSessionAs", "Save session &as...", *file);
    TMenuItem* more = item("More", "More", *file);
    TMenuItem* deep = item("DeepItem", "Deep", *more);
    TMenuItem* exitItem = item("ExitMenu", "E&xit", *file);

    EXPECT_TRUE(lang.ApplyToForm(form));   // menu items are not controls
    EXPECT_EQ(file->Caption(), "&File");
    EXPECT_EQ(deep->Caption(), "Deep");

    EXPECT_TRUE(lang.ApplyToMenu(form, menu));
    EXPECT_EQ(file->Caption(), "&Datei");
    EXPECT_EQ(saveAs->Caption(), "Speichern &unter...");
    EXPECT_EQ(deep->Caption(), "Tief");
    EXPECT_EQ(more->Caption(), "More");
    EXPECT_EQ(exitItem->Caption(), "E&xit");   // no caption in the entry

    form.SetName("FormAbout");
    EXPECT_FALSE(lang.ApplyToMenu(form, menu));
    TLang english;
    EXPECT_FALSE(english.ApplyToMenu(form, menu));
}
