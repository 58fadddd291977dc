// The Options dialog driven through its objects: the language list, the
// refusal of a missing temp folder, and the settings file written on OK.
#include "app/Lang.h"
#include "app/Messages.h"
#include "app/OptionsForm.h"
#include "app/Settings.h"
#include "framework/Dialogs.h"
#include "framework/IniFiles.h"
#include "framework/Strings.h"
#include "tests/app/LangFixture.h"
#include "tests/app/SoonCall.h"
#include <gtest/gtest.h>
#include <functional>
#include <memory>

using namespace krv;

namespace {

struct Box {
    std::string text, caption;
    UINT flags;
};


class OptionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        LoadLanguageStrings(TLang());
        SetMessageBoxHook([this](const std::string& text, const std::string& caption, UINT flags) {
            boxes.push_back({text, caption, flags});
            if (onBox) onBox();
            return IDOK;
        });
        langDir = dir.MakeDir("lang");
        iniFile = SettingsFileName(dir.Dir());
        dir.Write("lang\\English.lang", "<K><Lang value=\"English\"/></K>");
        dir.Write("lang\\Deutsch.lang", "<K><Lang value=\"Deutsch\"/><FormOptions>"
                                         "<Control name=\"CheckSaveLog\" caption=\"Protokoll speichern\"/>"
                                         "</FormOptions></K>");
        dir.Write("lang\\Kaputt.lang", "<K><Lang value=\"Kaputt\"></K>");
    }
    void TearDown() override {
        SetMessageBoxHook(nullptr);
    }

    std::function<void(const TSettings&)> Save() {
        return [this](const TSettings& s) { WriteSettings(iniFile, s); };
    }

    LangFolder dir;
    std::string langDir, iniFile;
    std::vector<Box> boxes;
    std::function<void()> onBox;
    TLang lang;
    TStringList langFiles;
};

} // namespace

TEST_F(OptionsTest, ListsOnlyLanguagesThatLoadAndPreselects) {
    {
        TFormOptions dlg(nullptr, &lang, langDir, &langFiles);
        dlg.Show();
        ASSERT_EQ(dlg.ComboLang->ItemCount(), 2);
        EXPECT_EQ(dlg.ComboLang->Item(0), "Deutsch");   // file-name order
        EXPECT_EQ(dlg.ComboLang->Item(1), "English");
        // The built-in English is in use: its file's entry stands for it.
        EXPECT_EQ(dlg.ComboLang->ItemIndex(), 1);
        ASSERT_EQ(langFiles.Count(), 2);
        EXPECT_TRUE(SameText(langFiles[0], langDir + "\\Deutsch.lang")) << langFiles[0];
        EXPECT_EQ(dlg.Caption(), "Korvane :: Options");
        EXPECT_EQ(dlg.CheckSaveLog->Caption(), "Save log");
    }
    ASSERT_TRUE(lang.LoadFromFile(langDir + "\\Deutsch.lang"));
    TFormOptions dlg(nullptr, &lang, langDir, &langFiles);
    dlg.Show();
    EXPECT_EQ(dlg.ComboLang->Item(dlg.ComboLang->ItemIndex()), "Deutsch");
    EXPECT_EQ(dlg.CheckSaveLog->Caption(), "Protokoll speichern");   // translated on show
}

TEST_F(OptionsTest, OkIsRefusedWhileTheTempFolderDoesNotExist) {
    TSettings settings;
    settings.TempDir = dir.Dir() + "no_such_temp";
    TFormOptions dlg(nullptr, &lang, langDir, &langFiles);
    // First OK: refused with the box; the box's answer fixes the folder and
    // presses OK again, which then closes the dialog.
    std::unique_ptr<SoonCall> again;
    onBox = [&] {
        dlg.TempFolderEdit->SetText(dir.Dir());
        again = std::make_unique<SoonCall>([&] { dlg.ButtonOK->Click(); });
    };
    SoonCall press([&] { dlg.ButtonOK->Click(); });
    SoonCall watchdog([&] { dlg.SetModalResult(mrCancel); }, 20000);
    // A fresh install's OK keeps the built-in English (Deutsch is listed first).
    EXPECT_EQ(ExecuteOptions(dlg, settings, Save()), TOptionsOutcome::Saved);
    EXPECT_EQ(settings.Lang, "");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "The temp folder must exists!");
    EXPECT_EQ(boxes[0].caption, "Error!");
    EXPECT_EQ(boxes[0].flags, 16u);
    EXPECT_EQ(settings.TempDir, dir.Dir());
}

TEST_F(OptionsTest, OkWritesEveryKeyInOrder) {
    TSettings settings;
    settings.TempDir = dir.Dir();
    settings.Lang = langDir + "\\English.lang";
    settings.LogLevel = 3;
    ASSERT_TRUE(lang.LoadFromFile(settings.Lang));   // the language in use
    TFormOptions dlg(nullptr, &lang, langDir, &langFiles);
    SoonCall press([&] {
        dlg.CheckVerboseLog->SetChecked(true);
        dlg.CheckSaveLog->SetChecked(false);
        dlg.ComboLang->SetItemIndex(1);   // English, unchanged
        dlg.ButtonOK->Click();
    });
    EXPECT_EQ(ExecuteOptions(dlg, settings, Save()), TOptionsOutcome::Saved);
    TIniFile ini(iniFile);
    TStringList keys;
    ini.ReadSection("KRV", keys);
    EXPECT_EQ(keys.ToVector(), (std::vector<std::string>{"TempDir", "ExSubDir", "Log", "SaveLog", "UpdateSize",
                                                          "ViewLogPanel", "Lang", "IgnoreDiskSpace", "LogLevel"}));
    EXPECT_EQ(ini.ReadString("KRV", "Log", ""), "1");
    EXPECT_EQ(ini.ReadString("KRV", "SaveLog", ""), "0");
    EXPECT_EQ(ini.ReadString("KRV", "ViewLogPanel", ""), "1");
    EXPECT_EQ(ini.ReadString("KRV", "LogLevel", ""), "3");
    const TSettings back = ReadSettings(iniFile);
    EXPECT_EQ(back.TempDir, dir.Dir());
    EXPECT_TRUE(back.Log);
    EXPECT_FALSE(back.SaveLog);
    EXPECT_TRUE(SameText(back.Lang, langDir + "\\English.lang"));
}

TEST_F(OptionsTest, CancelWritesNothing) {
    TSettings settings;
    settings.TempDir = dir.Dir();
    TFormOptions dlg(nullptr, &lang, langDir, &langFiles);
    SoonCall press([&] { dlg.ButtonCancel->Click(); });
    EXPECT_EQ(ExecuteOptions(dlg, settings, Save()), TOptionsOutcome::Cancelled);
    EXPECT_FALSE(FileExists(iniFile));
}

TEST_F(OptionsTest, LanguageChoiceRules) {
    TFormOptions dlg(nullptr, &lang, langDir, &langFiles);
    dlg.Show();
    TSettings s;
    s.Lang = langDir + "\\Deutsch.lang";
    dlg.ComboLang->SetItemIndex(-1);
    EXPECT_FALSE(dlg.FormToSettings(s));   // nothing chosen: kept
    EXPECT_EQ(s.Lang, langDir + "\\Deutsch.lang");
    // Opened over the built-in English: its entry stands for it, not for the file.
    dlg.ComboLang->SetItemIndex(1);
    EXPECT_TRUE(dlg.FormToSettings(s));
    EXPECT_EQ(s.Lang, "");
    EXPECT_FALSE(dlg.FormToSettings(s));   // same again: no change
    dlg.ComboLang->SetItemIndex(0);
    EXPECT_TRUE(dlg.FormToSettings(s));
    EXPECT_TRUE(SameText(s.Lang, langDir + "\\Deutsch.lang"));

    // Opened over a language file: every entry is its file, and one past the
    // files is the built-in English.
    ASSERT_TRUE(lang.LoadFromFile(langDir + "\\Deutsch.lang"));
    TFormOptions german(nullptr, &lang, langDir, &langFiles);
    german.Show();
    german.ComboLang->SetItemIndex(1);
    EXPECT_TRUE(german.FormToSettings(s));
    EXPECT_TRUE(SameText(s.Lang, langDir + "\\English.lang"));
    langFiles.Delete(1);
    EXPECT_TRUE(german.FormToSettings(s));
    EXPECT_EQ(s.Lang, "");
}

TEST(Settings, MissingFileGivesDefaults) {
    LangFolder dir;
    const TSettings s = ReadSettings(SettingsFileName(dir.Dir()));
    EXPECT_EQ(s.TempDir, "");
    EXPECT_FALSE(s.ExSubDir);
    EXPECT_FALSE(s.Log);
    EXPECT_TRUE(s.SaveLog);
    EXPECT_FALSE(s.UpdateSize);
    EXPECT_TRUE(s.ViewLogPanel);
    EXPECT_EQ(s.Lang, "");
    EXPECT_FALSE(s.IgnoreDiskSpace);
    EXPECT_EQ(s.LogLevel, 1);
    EXPECT_EQ(SettingsFileName("C:\\prog\\"), "C:\\prog\\\\Korvane.ini");
}

TEST_F(OptionsTest, TempFolderButtonBrowsesFromTheEditAndTakesTheChoice) {
    char system[MAX_PATH] = {};
    ::GetSystemDirectoryA(system, MAX_PATH);
    TFormOptions dlg(nullptr, &lang, langDir, &langFiles);
    int button = IDOK;
    std::string preset;
    dlg.SelectDir->OnShow = [&](TObject*) {
        preset = dlg.SelectDir->SelectedFolder();
        ::PostMessageA(dlg.SelectDir->DialogHandle(), WM_COMMAND, button, 0);
    };
    // The shell dialog's own loop runs our timers: this one cancels a dialog
    // that a lost button press would leave open.
    auto guard = [&] {
        return std::make_unique<SoonCall>([&] {
            if (HWND d = dlg.SelectDir->DialogHandle()) ::PostMessageA(d, WM_COMMAND, IDCANCEL, 0);
        }, 15000);
    };
    auto first = guard();
    dlg.TempFolderEdit->SetText(std::string(system) + "\\");
    dlg.TempFolderButton->Click();
    EXPECT_EQ(preset, system);   // the trailing "\" dropped before browsing
    EXPECT_TRUE(SameText(dlg.TempFolderEdit->Text(), system)) << dlg.TempFolderEdit->Text();

    button = IDCANCEL;
    auto second = guard();
    dlg.TempFolderEdit->SetText("C:\\");
    dlg.TempFolderButton->Click();
    EXPECT_EQ(preset, "C:\\");
    EXPECT_EQ(dlg.TempFolderEdit->Text(), "C:\\");   // Cancel keeps what was typed
}
