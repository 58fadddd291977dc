// The main window and its language: a file that cannot load at start, the
// shipped German translating controls, menus and messages (with the def.dat
// geometry), and the Options and About commands run from the menu.
#include "app/Main.h"
#include "app/Messages.h"
#include "app/OptionsForm.h"
#include "framework/Dialogs.h"
#include "framework/IniFiles.h"
#include "tests/app/LangFixture.h"
#include "tests/app/SoonCall.h"
#include <gtest/gtest.h>
#include <functional>
#include <map>
#include <set>
#include <memory>

using namespace krv;

namespace {



class MainLanguage : public ::testing::Test {
protected:
    void SetUp() override {
        Application().Initialize();
        appDir = dir.Dir();
        dir.CopyShippedLanguages();
        SetMessageBoxHook([this](const std::string& text, const std::string& caption, UINT flags) {
            boxes.push_back(caption + "|" + text + "|" + std::to_string(flags));
            return IDOK;
        });
    }
    void TearDown() override {
        SetMessageBoxHook(nullptr);
        LoadLanguageStrings(TLang());   // later tests expect English
    }
    void StartWith(const std::string& langFile) {
        TSettings s;
        s.Lang = langFile;
        WriteSettings(SettingsFileName(appDir), s);
    }
    // Picks a language in the Options dialog (or cancels with -1, or keeps
    // what it preselected) from inside its modal loop.
    static constexpr int kKeepPreselected = -2;
    void ChooseInOptions(TMainForm& form, int item) {
        SoonCall press([item] {
            auto* dlg = dynamic_cast<TFormOptions*>(Screen());
            ASSERT_NE(dlg, nullptr);
            if (item == -1) {
                dlg->ButtonCancel->Click();
                return;
            }
            if (item != kKeepPreselected) dlg->ComboLang->SetItemIndex(item);
            dlg->ButtonOK->Click();
        });
        form.OptionsMenuClick();
    }
    // The modal dialog now open on this thread.
    static TForm* Screen() {
        HWND active = ::GetActiveWindow();
        return dynamic_cast<TForm*>(TWindow::FromHandle(active));
    }

    LangFolder dir;
    std::string appDir;
    std::vector<std::string> boxes;
};

} // namespace

TEST_F(MainLanguage, AFileThatCannotLoadIsDroppedLoggedInRedAndEnglishUsed) {
    dir.Write("lang\\Broken.lang", "<Korvane><Lang value=\"Broken\"><Constant><KV_Reset value=\"x\"/></Korvane>");
    StartWith(appDir + "lang\\Broken.lang");
    TMainForm form(appDir, {});
    EXPECT_EQ(form.Settings.Lang, "");
    EXPECT_EQ(TIniFile(form.SettingsFile()).ReadString("KRV", "Lang", "?"), "");
    form.FormShow();
    ASSERT_GT(form.LogEdit->LineCount(), 0);
    EXPECT_EQ(form.LogEdit->Line(0), "Error reading the selected language file. Using the default language: English.");
    EXPECT_EQ(form.LogEdit->LineColor(0), clRed);
    EXPECT_EQ(KV_Reset, "Interface cleared");
    EXPECT_EQ(form.ButtonStart->Caption(), "Start backup");
    EXPECT_EQ(form.ToolsMenu->Caption(), "&Tools");
}

TEST_F(MainLanguage, GermanTranslatesControlsMenusMessagesAndGeometry) {
    StartWith(appDir + "lang\\Deutsch.lang");
    TMainForm form(appDir, {});
    form.FormShow();
    EXPECT_EQ(form.Settings.Lang, appDir + "lang\\Deutsch.lang");
    EXPECT_EQ(form.Caption(), "Korvane 0.9.1");
    EXPECT_EQ(form.ButtonStart->Caption(), "Sicherung starten");
    EXPECT_EQ(form.ButtonStart->Hint, "Die Sicherung starten");
    EXPECT_EQ(form.TabSession->Caption(), "Sitzungsoptionen");
    EXPECT_EQ(form.ButtonViewLog->Caption(), "Protokoll ausblenden");   // from the message table
    // def.dat base + the German offsets.
    EXPECT_EQ(form.ButtonStart->Width(), 140);
    EXPECT_EQ(form.ButtonViewLog->Left(), 156);
    EXPECT_EQ(form.ButtonViewLog->Width(), 190);
    EXPECT_EQ(form.ButtonClear->Left(), 354);
    // Menus at both depths.
    EXPECT_EQ(form.ToolsMenu->Caption(), "&Extras");
    EXPECT_EQ(form.OptionsMenu->Caption(), "&Optionen...");
    EXPECT_EQ(form.ExitMenu->Caption(), "&Beenden");
    EXPECT_EQ(form.HelpTopics->Hint, "Die Hilfedatei \xF6" "ffnen");   // hints at every depth too
    EXPECT_EQ(form.ToolsMenu->Hint, "Optionen, Bericht und Verkn\xFC" "pfung");
    // The message table and the texts composed from it.
    EXPECT_EQ(KV_Never, "Nie");
    EXPECT_EQ(KrvSessionFileError, " ist keine g\xFCltige Korvane-Sitzungsdatei.");
    EXPECT_EQ(form.ComboLog->Item(0), "Kein Bericht");
    bool startLine = false, germanToolLine = false;
    for (int i = 0; i < form.LogEdit->LineCount(); ++i) {
        startLine |= form.LogEdit->Line(i) == "Korvane 0.9.1 startet...";
        germanToolLine |= form.LogEdit->Line(i) == "Datei \"mkisofs.exe\" nicht gefunden.";
    }
    EXPECT_TRUE(startLine);
    EXPECT_TRUE(germanToolLine);
}

TEST_F(MainLanguage, OptionsSwitchesTheLanguageAndWritesEverySetting) {
    StartWith("");
    TMainForm form(appDir, {});
    form.FormShow();
    EXPECT_EQ(form.ButtonStart->Caption(), "Start backup");

    ChooseInOptions(form, 0);   // "Deutsch", the first listed
    ASSERT_EQ(form.LangFiles.Count(), 2);
    EXPECT_TRUE(SameText(form.Settings.Lang, appDir + "lang\\Deutsch.lang")) << form.Settings.Lang;
    EXPECT_EQ(form.ButtonStart->Caption(), "Sicherung starten");
    EXPECT_EQ(form.HelpMenu->Caption(), "&Hilfe");
    EXPECT_EQ(KV_Reset, "Oberfl\xE4" "che zur\xFC" "ckgesetzt");
    EXPECT_EQ(form.ComboLog->Item(3), "Vollst\xE4ndig");
    EXPECT_EQ(form.ComboLog->ItemIndex(), form.Settings.LogLevel);
    EXPECT_TRUE(boxes.empty());   // the restart notice is only for going back to the built-in English

    TIniFile ini(form.SettingsFile());
    TStringList keys;
    ini.ReadSection("KRV", keys);
    EXPECT_EQ(keys.Count(), 9);
    EXPECT_TRUE(SameText(ini.ReadString("KRV", "Lang", ""), appDir + "lang\\Deutsch.lang"));

    ChooseInOptions(form, -1);   // Cancel changes nothing
    EXPECT_EQ(form.ButtonStart->Caption(), "Sicherung starten");

    ChooseInOptions(form, 1);   // the English file
    EXPECT_EQ(form.ButtonStart->Caption(), "Start backup");
    EXPECT_EQ(KV_Reset, "Interface cleared");
    EXPECT_TRUE(boxes.empty());
    // The German widths are undone: English puts the base geometry back.
    EXPECT_EQ(form.ButtonStart->Width(), 100);
    EXPECT_EQ(form.ButtonViewLog->Left(), 116);
    EXPECT_EQ(form.ButtonViewLog->Width(), 100);
    EXPECT_EQ(form.ButtonClear->Left(), 224);
    EXPECT_EQ(form.ButtonClear->Width(), 100);
    EXPECT_EQ(form.HelpTopics->Hint, "Open the help file");
}

TEST_F(MainLanguage, OkOnAFreshInstallKeepsTheBuiltInEnglish) {
    StartWith("");
    TMainForm form(appDir, {});
    form.FormShow();
    ChooseInOptions(form, kKeepPreselected);
    EXPECT_EQ(form.Settings.Lang, "");
    EXPECT_EQ(form.ButtonStart->Caption(), "Start backup");
    EXPECT_EQ(form.HelpMenu->Caption(), "&Help");
    EXPECT_EQ(KV_Never, "Never");
    EXPECT_TRUE(boxes.empty());   // no restart notice either: nothing changed
}

TEST_F(MainLanguage, GoingBackToTheBuiltInEnglishAsksForARestart) {
    StartWith(appDir + "lang\\Deutsch.lang");
    TMainForm form(appDir, {});
    form.FormShow();
    form.Settings.Lang.clear();
    form.ApplyLanguageChange();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Changing Language|You need to restart Korvane to reset the language to the default value.|64");
    EXPECT_EQ(KV_Never, "Never");
}

TEST_F(MainLanguage, AboutOpensFromTheMenuTranslated) {
    StartWith(appDir + "lang\\Deutsch.lang");
    TMainForm form(appDir, {});
    form.FormShow();
    std::string caption, version;
    SoonCall close([&] {
        TForm* about = Screen();
        ASSERT_NE(about, nullptr);
        caption = about->Caption();
        version = about->Find<TLabel>("LabelVersion")->Caption();
        about->Find<TButton>("ButtonOK")->Click();
    });
    form.AboutClick();
    EXPECT_EQ(caption, "Korvane :: \xDC" "ber");
    EXPECT_EQ(version, "Version 0.9.1 [0106]");
}

// Switched to German at run time, the main window keeps no English text:
// every caption and hint of its controls and menu items, and the texts made
// from the message table when they were shown (free space, size, status).
TEST_F(MainLanguage, SwitchingToGermanLeavesNoEnglishTextOnTheMainWindow) {
    StartWith("");
    TMainForm form(appDir, {});
    form.FormShow();
    form.BtnHDBackupClick();
    form.HDFolderEdit->SetText(appDir);
    form.HDFolderEditExit();
    ASSERT_EQ(form.LabelDestFreeSpace->Caption().rfind("Free space: ", 0), 0u) << form.LabelDestFreeSpace->Caption();
    // Texts the user typed or that name things (recorders, the log) are not the window's own.
    auto own = [](TComponent* c) {
        return !dynamic_cast<TEdit*>(c) && !dynamic_cast<TComboBox*>(c) && !dynamic_cast<TRichLog*>(c);
    };
    auto texts = [&] {
        std::map<std::string, std::string> all;
        for (int i = 0; i < form.ComponentCount(); ++i) {
            TComponent* c = form.Components(i);
            if (!own(c) || c->Name().empty()) continue;
            if (auto* item = dynamic_cast<TMenuItem*>(c)) {
                all[c->Name() + " caption"] = item->Caption();
                all[c->Name() + " hint"] = item->Hint;
            } else if (auto* control = dynamic_cast<TControl*>(c)) {
                all[c->Name() + " caption"] = control->Caption();
                all[c->Name() + " hint"] = control->Hint;
            }
        }
        all["status line"] = form.StatusBar->PanelText(0);
        for (int i = 0; i < form.ComboLog->ItemCount(); ++i) all["report level " + std::to_string(i)] = form.ComboLog->Item(i);
        return all;
    };
    const auto english = texts();
    form.Settings.Lang = appDir + "lang\\Deutsch.lang";
    form.ApplyLanguageChange();
    const auto german = texts();
    // Texts that are the same in both languages, or no words at all.
    const std::set<std::string> same = {"Korvane 0.9.1", "...", "Mail", "Disc", "-"};
    int checked = 0;
    for (const auto& [what, text] : english) {
        if (text.empty() || same.count(text)) continue;
        ++checked;
        EXPECT_NE(german.at(what), text) << what << " is still English";
    }
    EXPECT_GE(checked, 60);
}
