// Translating a window: captions and hints by component name, geometry as
// the def.dat base plus the language file's offset.
#include "app/Lang.h"
#include "framework/Controls.h"
#include "tests/app/LangFixture.h"
#include <gtest/gtest.h>

using namespace krv;

namespace {

struct FakeWindow {
    TWinControl form;
    TControl* button;
    TControl* label;
    TComponent* plain;
    FakeWindow() {
        form.SetName("MainForm");
        button = new TControl(&form);
        button->SetName("ButtonStart");
        button->SetBounds(10, 20, 75, 25);
        button->SetCaption("Start");
        label = new TControl(&form);
        label->SetName("LabelSize");
        label->SetBounds(1, 2, 3, 4);
        label->SetCaption("Size");
        plain = new TComponent(&form);   // not a control: never touched
        plain->SetName("DirHD");
    }
};

const char* kWindowFile =
    "<Korvane><Lang value=\"T\"/>"
    "<MainForm>"
    "  <Control name=\"ButtonStart\" caption=\"Los\" hint=\"Sicherung starten\" top=\"10\" width=\"-5\"/>"
    "  <!-- a remark between entries -->"
    "  <Other name=\"LabelSize\" caption=\"Gr&#246;&#223;e\"/>"
    "  <Control name=\"NoSuchControl\" caption=\"x\"/>"
    "  <Control caption=\"no name\"/>"
    "  <Control name=\"DirHD\" caption=\"y\"/>"
    "</MainForm>"
    "<FormAbout/>"
    "</Korvane>";

} // namespace

TEST(LangApply, CaptionsAndHintsByNameGeometryOnlyWithABase) {
    LangFolder dir;
    TLang lang;
    ASSERT_TRUE(lang.LoadFromFile(dir.Write("t.lang", kWindowFile)));
    FakeWindow w;
    EXPECT_TRUE(lang.ApplyToForm(w.form));
    EXPECT_EQ(w.button->Caption(), "Los");
    EXPECT_EQ(w.button->Hint, "Sicherung starten");
    // No def.dat: the offsets are ignored.
    EXPECT_EQ(w.button->Top(), 20);
    EXPECT_EQ(w.button->Width(), 75);
    // Entries after the first Control are taken whatever their element name.
    EXPECT_EQ(w.label->Caption(), "Gr\xF6\xDF" "e");
    EXPECT_EQ(w.label->Left(), 1);
}

TEST(LangApply, DefDatBasePlusOffset) {
    LangFolder dir;
    dir.Write("def.dat", "[MainForm=ButtonStart]\r\ntop=100\r\nwidth=80\r\n");
    TLang lang;
    ASSERT_TRUE(lang.LoadFromFile(dir.Write("t.lang", kWindowFile)));
    FakeWindow w;
    ASSERT_TRUE(lang.ApplyToForm(w.form));
    EXPECT_EQ(w.button->Top(), 110);
    EXPECT_EQ(w.button->Width(), 75);   // 80 - 5
    EXPECT_EQ(w.button->Left(), 10);    // no offset in the file
    EXPECT_EQ(w.button->Height(), 25);  // no base
}

TEST(LangApply, MissingWindowOrNoFileChangesNothing) {
    LangFolder dir;
    TLang english;
    FakeWindow w;
    EXPECT_FALSE(english.ApplyToForm(w.form));
    EXPECT_EQ(w.button->Caption(), "Start");

    TLang lang;
    ASSERT_TRUE(lang.LoadFromFile(dir.Write("t.lang", kWindowFile)));
    w.form.SetName("FormOptions");
    EXPECT_FALSE(lang.ApplyToForm(w.form));
    EXPECT_EQ(w.button->Caption(), "Start");
    w.form.SetName("FormAbout");   // present but without entries
    EXPECT_TRUE(lang.ApplyToForm(w.form));
}

TEST(LangApply, CaptionOnlyEntryLeavesGeometryAlone) {
    LangFolder dir;
    dir.Write("def.dat", "[MainForm=ButtonStart]\r\ntop=100\r\nleft=100\r\nwidth=100\r\nheight=100\r\n");
    TLang lang;
    ASSERT_TRUE(lang.LoadFromFile(dir.Write("c.lang",
        "<K><Lang value=\"C\"/><MainForm><Control name=\"ButtonStart\" caption=\"\"/></MainForm></K>")));
    FakeWindow w;
    ASSERT_TRUE(lang.ApplyToForm(w.form));
    EXPECT_EQ(w.button->Caption(), "");
    EXPECT_EQ(w.button->Top(), 20);
    EXPECT_EQ(w.button->Left(), 10);
}

TEST(LangApply, NonNumericOffsetStopsTheWindowWithAClearError) {
    LangFolder dir;
    dir.Write("def.dat", "[MainForm=ButtonStart]\r\ntop=100\r\n");
    TLang lang;
    ASSERT_TRUE(lang.LoadFromFile(dir.Write("b.lang",
        "<K><Lang value=\"B\"/><MainForm><Control name=\"ButtonStart\" top=\"ten\" caption=\"A\"/>"
        "<Control name=\"LabelSize\" caption=\"B\"/></MainForm></K>")));
    FakeWindow w;
    try {
        lang.ApplyToForm(w.form);
        ADD_FAILURE();
    } catch (const Exception& e) {
        EXPECT_NE(std::string(e.what()).find("'ten'"), std::string::npos) << e.what();
    }
    EXPECT_EQ(w.label->Caption(), "Size");   // later entries are not reached
}
