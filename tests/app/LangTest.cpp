// Language files: names, message texts with their English fall-backs, the
// def.dat base geometry, and damaged files that must not take the program down.
#include "app/Lang.h"
#include "framework/Strings.h"
#include "tests/app/LangFixture.h"
#include <gtest/gtest.h>
#include <random>

using namespace krv;

TEST(Lang, BuiltInEnglishWhenNothingIsLoaded) {
    TLang lang;
    EXPECT_EQ(lang.GetName(), "");
    EXPECT_EQ(lang.GetConstant("KV_Reset", "Interface cleared"), "Interface cleared");
    EXPECT_TRUE(lang.LoadFromFile(""));
    EXPECT_EQ(lang.DefaultGeometry("MainForm", "ButtonStart", "top"), -1);
}

TEST(Lang, ConstantsFallBackOnlyWhenElementOrAttributeIsMissing) {
    LangFolder dir;
    const std::string file = dir.Write("t.lang",
        "<Korvane><Lang value=\"Testisch\"/><Constant>"
        "<KV_Reset value=\"\"/><KV_Never value=\"Nimmer\"/><KV_Error/>"
        "<!-- a comment --><KV_Aborted value=\"Ab &amp; &quot;weg&quot;\"/>"
        "</Constant></Korvane>");
    TLang lang;
    ASSERT_TRUE(lang.LoadFromFile(file));
    EXPECT_EQ(lang.GetName(), "Testisch");
    EXPECT_EQ(lang.GetConstant("KV_Reset", "Interface cleared"), "");
    EXPECT_EQ(lang.GetConstant("KV_Never", "Never"), "Nimmer");
    EXPECT_EQ(lang.GetConstant("KV_Error", "Error"), "Error");   // no value attribute
    EXPECT_EQ(lang.GetConstant("KV_Sorry", "Sorry"), "Sorry");   // no element
    EXPECT_EQ(lang.GetConstant("KV_Aborted", "x"), "Ab & \"weg\"");

    const std::string noConstants = dir.Write("n.lang", "<Root><Lang value=\"N\"/></Root>");
    ASSERT_TRUE(lang.LoadFromFile(noConstants));
    EXPECT_EQ(lang.GetName(), "N");
    EXPECT_EQ(lang.GetConstant("KV_Never", "Never"), "Never");
}

TEST(Lang, FailedLoadsLeaveTheBuiltInEnglish) {
    LangFolder dir;
    TLang lang;
    ASSERT_TRUE(lang.LoadFromFile(dir.Write("ok.lang", "<K><Lang value=\"Ok\"/><Constant><KV_Never value=\"N\"/></Constant></K>")));
    EXPECT_FALSE(lang.LoadFromFile(dir.Path("missing.lang")));
    EXPECT_EQ(lang.GetName(), "");
    EXPECT_EQ(lang.GetConstant("KV_Never", "Never"), "Never");

    EXPECT_FALSE(lang.LoadFromFile(dir.Write("broken.lang", "<K><Lang value=\"B\"><Constant></K>")));
    EXPECT_EQ(lang.GetConstant("KV_Never", "Never"), "Never");
    EXPECT_EQ(lang.GetName(), "");

    // Parses, but without Lang it is not a language file: none of its texts
    // may leak into the English the caller then reports.
    EXPECT_FALSE(lang.LoadFromFile(dir.Write("nolang.lang", "<K><Constant><KV_Never value=\"X\"/></Constant></K>")));
    EXPECT_EQ(lang.GetName(), "");
    EXPECT_EQ(lang.GetConstant("KV_Never", "Never"), "Never");

    EXPECT_FALSE(lang.LoadFromFile(dir.Write("empty.lang", "")));
    ASSERT_TRUE(lang.LoadFromFile(dir.Path("ok.lang")));
    EXPECT_TRUE(lang.LoadFromFile(""));   // back to English drops everything
    EXPECT_EQ(lang.GetName(), "");
    EXPECT_EQ(lang.DefaultsFile(), "");
    EXPECT_EQ(lang.GetConstant("KV_Never", "Never"), "Never");
}

TEST(Lang, DefDatBesideTheFileGivesBaseGeometry) {
    LangFolder dir;
    const std::string file = dir.Write("g.lang", "<K><Lang value=\"G\"/></K>");
    TLang lang;
    ASSERT_TRUE(lang.LoadFromFile(file));
    EXPECT_EQ(lang.DefaultGeometry("MainForm", "ButtonStart", "top"), -1);   // no def.dat yet
    dir.Write("def.dat", "[MainForm=ButtonStart]\r\ntop=100\r\nleft=7\r\n");
    EXPECT_EQ(lang.DefaultGeometry("MainForm", "ButtonStart", "top"), 100);
    EXPECT_EQ(lang.DefaultGeometry("MainForm", "ButtonStart", "left"), 7);
    EXPECT_EQ(lang.DefaultGeometry("MainForm", "ButtonStart", "width"), -1);
    EXPECT_EQ(lang.DefaultGeometry("FormAbout", "ButtonStart", "top"), -1);
}

TEST(Lang, MutatedFilesNeverCrashOrHang) {
    LangFolder dir;
    const std::string good =
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><Korvane><Lang value=\"Deutsch\"/><Constant>"
        "<KV_Never value=\"Nie\"/><KV_Reset value=\"\"/></Constant><MainForm><Control name=\"ButtonStart\" "
        "caption=\"Start\" top=\"4\"/></MainForm></Korvane>";
    std::mt19937 rng(77);
    TLang lang;
    int loaded = 0;
    for (int round = 0; round < 150; ++round) {
        std::string text = good;
        for (int i = 0, n = 1 + static_cast<int>(rng() % 5); i < n; ++i)
            text[rng() % text.size()] = static_cast<char>(rng() % 256);
        if (round % 4 == 0) text.resize(rng() % text.size());
        if (lang.LoadFromFile(dir.Write("m.lang", text))) ++loaded;
        // Whatever came of it, lookups answer.
        (void)lang.GetConstant("KV_Never", "Never");
        (void)lang.GetName();
    }
    EXPECT_LT(loaded, 150);
}

TEST(Lang, OnlyFilesThatLoadAreListed) {
    LangFolder dir;
    dir.Write("b_deutsch.lang", "<K><Lang value=\"Deutsch\"/></K>");
    dir.Write("a_english.lang", "<K><Lang value=\"English\"/></K>");
    dir.Write("c_broken.lang", "<K><Lang value=\"Kaputt\"></K>");
    dir.Write("d_nolang.lang", "<K><Constant/></K>");
    dir.Write("e_other.xml", "<K><Lang value=\"Other\"/></K>");
    TStringList names, paths;
    ListLanguageFiles(dir.Dir(), names, paths);
    EXPECT_EQ(names.ToVector(), (std::vector<std::string>{"English", "Deutsch"}));
    ASSERT_EQ(paths.Count(), 2);
    EXPECT_EQ(paths[0], dir.Path("a_english.lang"));
    EXPECT_EQ(paths[1], dir.Path("b_deutsch.lang"));

    TStringList none, nonePaths;
    ListLanguageFiles(dir.Path("no_such_folder"), none, nonePaths);
    EXPECT_EQ(none.Count(), 0);
}
