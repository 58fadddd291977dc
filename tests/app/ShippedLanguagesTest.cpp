// The language files we ship (build/dist/lang): both load, the translation is
// complete, every window entry names a real control, and def.dat plus the
// German offsets give the intended geometry on each window (the main
// window's are checked in MainLanguageTest).
#include "app/About.h"
#include "app/FormWait.h"
#include "app/Recorders.h"
#include "app/Lang.h"
#include "app/Messages.h"
#include "app/OptionsForm.h"
#include "app/ViewLog.h"
#include "framework/Strings.h"
#include "framework/XmlDoc.h"
#include <gtest/gtest.h>
#include <set>

using namespace krv;

namespace {

std::string ShippedLangDir() { return ProgramFolder() + "..\\dist\\lang\\"; }

std::set<std::string> ConstantKeys(const std::string& file) {
    TXmlDocument doc;
    EXPECT_TRUE(doc.Load(file)) << file;
    std::set<std::string> keys;
    for (TXmlNode n = doc.Root().Child("Constant").FirstElement(); n; n = n.NextElement()) keys.insert(n.Name());
    return keys;
}

// Every Control entry of a window names a component the window owns.
void ExpectEntriesNameComponents(const std::string& file, TComponent& form) {
    TXmlDocument doc;
    ASSERT_TRUE(doc.Load(file)) << file;
    const TXmlNode window = doc.Root().Child(form.Name());
    ASSERT_TRUE(window) << form.Name();
    for (TXmlNode n = window.FirstElement(); n; n = n.NextElement())
        EXPECT_NE(form.FindComponent(n.AttributeOr("name", "")), nullptr) << file << ": " << n.AttributeOr("name", "");
}

} // namespace

TEST(ShippedLanguages, BothLoadAndAreComplete) {
    TStringList names, paths;
    ListLanguageFiles(ShippedLangDir(), names, paths);
    EXPECT_EQ(names.ToVector(), (std::vector<std::string>{"Deutsch", "English"}));
    ASSERT_EQ(paths.Count(), 2);
    const auto german = ConstantKeys(paths[0]);
    const auto english = ConstantKeys(paths[1]);
    EXPECT_EQ(german, english);
    EXPECT_GE(english.size(), 146u);
    // Every text the program shows or logs has its entry in both.
    for (const MessageEntry& entry : MessageTable()) EXPECT_EQ(german.count(entry.Key), 1u) << entry.Key;

    TLang de, en;
    ASSERT_TRUE(de.LoadFromFile(paths[0]));
    ASSERT_TRUE(en.LoadFromFile(paths[1]));
    EXPECT_EQ(en.GetConstant("KQ_NoTempDir", "?"), "The temp folder must exists!");
    EXPECT_EQ(en.GetConstant("KV_ArchiveFileName_Error_2", "?"), "The characters \\ | \" / * ? > < : are not allowed.");
    EXPECT_EQ(de.GetConstant("KV_Never", "?"), "Nie");
    EXPECT_EQ(de.GetConstant("KV_Boot_1", "?"), " startet...");   // leading blank kept
    EXPECT_EQ(de.GetConstant("KQ_NoTempDir", "?"), "Der tempor\xE4re Ordner muss existieren!");
}

TEST(ShippedLanguages, EntriesNameRealControlsAndDefDatGivesGermanGeometry) {
    TStringList names, paths;
    ListLanguageFiles(ShippedLangDir(), names, paths);
    ASSERT_EQ(paths.Count(), 2);
    TLang de;
    ASSERT_TRUE(de.LoadFromFile(paths[0]));
    TStringList langFiles;
    {
        TFormOptions options(nullptr, nullptr, ShippedLangDir(), &langFiles);
        for (int i = 0; i < 2; ++i) ExpectEntriesNameComponents(paths[i], options);
        EXPECT_EQ(options.ExpandOnCheck->Width(), 280);
        ASSERT_TRUE(de.ApplyToForm(options));
        EXPECT_EQ(options.ExpandOnCheck->Width(), 340);
        EXPECT_EQ(options.CheckIgnoreDiskSpace->Width(), 320);
        EXPECT_EQ(options.ButtonCancel->Caption(), "Abbrechen");
    }
    {
        TFormAbout about(nullptr, nullptr);
        for (int i = 0; i < 2; ++i) ExpectEntriesNameComponents(paths[i], about);
        EXPECT_EQ(about.LabelInfoAbout->Height(), 48);
        ASSERT_TRUE(de.ApplyToForm(about));
        EXPECT_EQ(about.LabelInfoAbout->Height(), 40);   // two lines, clear of the version below
    }
    {
        TFormWait wait(nullptr);
        for (int i = 0; i < 2; ++i) ExpectEntriesNameComponents(paths[i], wait);
        ASSERT_TRUE(de.ApplyToForm(wait));
        EXPECT_EQ(wait.ButtonMinimize->Caption(), "Minimieren");
        TFormSplashScreen splash(nullptr, ShippedLangDir());
        for (int i = 0; i < 2; ++i) ExpectEntriesNameComponents(paths[i], splash);
    }
    {
        TFormViewLog viewLog(nullptr);
        for (int i = 0; i < 2; ++i) ExpectEntriesNameComponents(paths[i], viewLog);
        EXPECT_EQ(viewLog.ButtonClose->Left(), 444);
        ASSERT_TRUE(de.ApplyToForm(viewLog));
        EXPECT_EQ(viewLog.ButtonClose->Left(), 434);
        EXPECT_EQ(viewLog.ButtonClose->Width(), 100);
        EXPECT_EQ(viewLog.ButtonClose->Caption(), "Schlie\xDF" "en");
    }
}
