// The Options dialog: the settings file's values on three pages, and the
// language files that load, to choose from.
#pragma once
#include "app/Settings.h"
#include "framework/ComCtrls.h"
#include "framework/Forms.h"
#include "framework/StdCtrls.h"
#include "shell/base/FolderBrowser.h"
#include <functional>

namespace krv {

class TLang;
class TStringList;

// The name of the language the program speaks without a language file.
inline constexpr const char* kBuiltInLanguage = "English";

class TFormOptions : public TForm {
public:
    // lang: the program's language (translates the dialog, names the current
    // language); langDir: the folder searched for language files; langFiles:
    // filled with their full paths, parallel to ComboLang's items.
    TFormOptions(TComponent* owner, TLang* lang, const std::string& langDir, TStringList* langFiles);

    TPageControl* OptionPageControl;
    TTabSheet* TabSheetGeneral;
    TTabSheet* TabSheetAdvanced;
    TTabSheet* TabSheetLang;
    TLabel* LabelTempFolder;
    TEdit* TempFolderEdit;
    TButton* TempFolderButton;
    TCheckBox* ExpandOnCheck;
    TCheckBox* CheckSaveLog;
    TCheckBox* CheckUpdateSize;
    TCheckBox* CheckViewLogPanel;
    TCheckBox* CheckVerboseLog;
    TCheckBox* CheckIgnoreDiskSpace;
    TLabel* LabelLang;
    TComboBox* ComboLang;
    TButton* ButtonOK;
    TButton* ButtonCancel;
    TFolderBrowser* SelectDir;

    // The settings into the controls.
    void SettingsToForm(const TSettings& settings);
    // The controls back into settings; true when the language changed.
    bool FormToSettings(TSettings& settings) const;

    void TempFolderButtonClick(TObject* sender);

protected:
    void DoShow() override;
    // OK with a temp folder that does not exist keeps the dialog open.
    void DoClose(TCloseAction& action) override;

private:
    TLang* lang_;
    std::string langDir_;
    TStringList* langFiles_;
    int builtInIndex_ = -1;   // the item standing for the built-in English
};

enum class TOptionsOutcome { Cancelled, Saved, LanguageChanged };

// The Options command up to the language switch: settings into the dialog,
// the dialog shown modally, and on OK the settings read back and handed to
// save (which writes the whole settings file).
TOptionsOutcome ExecuteOptions(TFormOptions& dialog, TSettings& settings,
                               const std::function<void(const TSettings&)>& save);

} // namespace krv
