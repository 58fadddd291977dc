#include "app/OptionsForm.h"
#include "app/FormBuilder.h"
#include "app/Lang.h"
#include "app/Messages.h"
#include "framework/Dialogs.h"
#include "framework/Strings.h"

namespace krv {

TFormOptions::TFormOptions(TComponent* owner, TLang* lang, const std::string& langDir, TStringList* langFiles)
    : TForm(owner), lang_(lang), langDir_(langDir), langFiles_(langFiles) {
    SetName("FormOptions");
    SetCaption("Korvane :: Options");
    BorderStyle = bsDialog;
    Position = poScreenCenter;

    OptionPageControl = MakeControl<TPageControl>(this, this, "OptionPageControl", 8, 8, 364, 250);
    TabSheetGeneral = AddTabSheet(this, OptionPageControl, "TabSheetGeneral", "General");
    TabSheetAdvanced = AddTabSheet(this, OptionPageControl, "TabSheetAdvanced", "Advanced");
    TabSheetLang = AddTabSheet(this, OptionPageControl, "TabSheetLang", "Language");

    LabelTempFolder = MakeControl<TLabel>(this, TabSheetGeneral, "LabelTempFolder", 8, 10, 300, 16, "Temp Folder");
    TempFolderEdit = MakeControl<TEdit>(this, TabSheetGeneral, "TempFolderEdit", 8, 28, 300, 22);
    TempFolderButton = MakeControl<TButton>(this, TabSheetGeneral, "TempFolderButton", 312, 27, 30, 24, "...");
    TempFolderButton->OnClick = [this](TObject* s) { TempFolderButtonClick(s); };
    ExpandOnCheck = MakeControl<TCheckBox>(this, TabSheetGeneral, "ExpandOnCheck", 8, 62, 280, 20,
                                           "Expand subfolders on select");
    CheckSaveLog = MakeControl<TCheckBox>(this, TabSheetGeneral, "CheckSaveLog", 8, 86, 280, 20, "Save log");
    CheckUpdateSize = MakeControl<TCheckBox>(this, TabSheetGeneral, "CheckUpdateSize", 8, 110, 280, 20,
                                             "Update backup size when opened");
    CheckViewLogPanel = MakeControl<TCheckBox>(this, TabSheetGeneral, "CheckViewLogPanel", 8, 134, 280, 20,
                                               "View log panel at startup");
    CheckVerboseLog = MakeControl<TCheckBox>(this, TabSheetAdvanced, "CheckVerboseLog", 8, 10, 280, 20,
                                             "High level debug");
    CheckIgnoreDiskSpace = MakeControl<TCheckBox>(this, TabSheetAdvanced, "CheckIgnoreDiskSpace", 8, 34, 280, 20,
                                                  "Ignore requested disk space");
    LabelLang = MakeControl<TLabel>(this, TabSheetLang, "LabelLang", 8, 10, 300, 16, "Selected language");
    ComboLang = MakeControl<TComboBox>(this, TabSheetLang, "ComboLang", 8, 28, 250, 200);

    ButtonOK = MakeControl<TButton>(this, this, "ButtonOK", 216, 268, 75, 25, "OK");
    ButtonOK->ModalResult = mrOk;
    ButtonOK->Default = true;
    ButtonCancel = MakeControl<TButton>(this, this, "ButtonCancel", 297, 268, 75, 25, "Cancel");
    ButtonCancel->ModalResult = mrCancel;
    ButtonCancel->Cancel = true;

    SelectDir = new TFolderBrowser(this);
    SelectDir->SetName("SelectDir");
    OptionPageControl->SetActivePage(TabSheetGeneral);
    SetFormClientSize(this, 380, 300);
    DoCreate();
}

void TFormOptions::SettingsToForm(const TSettings& s) {
    TempFolderEdit->SetText(s.TempDir);
    ExpandOnCheck->SetChecked(s.ExSubDir);
    CheckSaveLog->SetChecked(s.SaveLog);
    CheckUpdateSize->SetChecked(s.UpdateSize);
    CheckViewLogPanel->SetChecked(s.ViewLogPanel);
    CheckVerboseLog->SetChecked(s.Log);
    CheckIgnoreDiskSpace->SetChecked(s.IgnoreDiskSpace);
}

bool TFormOptions::FormToSettings(TSettings& s) const {
    s.TempDir = TempFolderEdit->Text();
    s.ExSubDir = ExpandOnCheck->Checked();
    s.SaveLog = CheckSaveLog->Checked();
    s.UpdateSize = CheckUpdateSize->Checked();
    s.ViewLogPanel = CheckViewLogPanel->Checked();
    s.Log = CheckVerboseLog->Checked();
    s.IgnoreDiskSpace = CheckIgnoreDiskSpace->Checked();
    const int i = ComboLang->ItemIndex();
    if (i < 0) return false;   // nothing chosen: the language stays
    // An index past the listed files, or the item standing for the built-in
    // English while it is in use, means the built-in English.
    const bool builtIn = i == builtInIndex_ || !langFiles_ || i >= langFiles_->Count();
    const std::string chosen = builtIn ? std::string() : (*langFiles_)[i];
    if (chosen == s.Lang) return false;
    s.Lang = chosen;
    return true;
}

void TFormOptions::DoShow() {
    if (lang_) lang_->ApplyToForm(*this);
    SetCaption("Korvane" + KV_Options_Title);
    ComboLang->ClearItems();
    if (langFiles_) langFiles_->Clear();
    TStringList names, paths;
    ListLanguageFiles(langDir_, names, paths);
    for (int i = 0; i < names.Count(); ++i) {
        ComboLang->AddItem(names[i]);
        if (langFiles_) langFiles_->Add(paths[i]);
    }
    // The language in use; the built-in one is English, so its file stands for it.
    const std::string current = lang_ ? lang_->GetName() : std::string();
    builtInIndex_ = current.empty() ? ComboLang->IndexOf(kBuiltInLanguage) : -1;
    ComboLang->SetItemIndex(current.empty() ? builtInIndex_ : ComboLang->IndexOf(current));
    TForm::DoShow();
}

void TFormOptions::DoClose(TCloseAction& action) {
    if (ModalResult() == mrOk && !DirectoryExists(EntryPath(TempFolderEdit->Text()))) {
        action = caNone;
        ShowMessageBox(KQ_NoTempDir, KQ_NoTempDir_Title, MB_ICONERROR);
        return;
    }
    TForm::DoClose(action);
}

void TFormOptions::TempFolderButtonClick(TObject*) {
    SelectDir->SetSelectedFolder(TempFolderEdit->Text());
    if (SelectDir->Execute()) TempFolderEdit->SetText(SelectDir->FolderPath());
}

TOptionsOutcome ExecuteOptions(TFormOptions& dialog, TSettings& settings,
                               const std::function<void(const TSettings&)>& save) {
    dialog.SettingsToForm(settings);
    if (dialog.ShowModal() != mrOk) return TOptionsOutcome::Cancelled;
    const bool languageChanged = dialog.FormToSettings(settings);
    save(settings);
    return languageChanged ? TOptionsOutcome::LanguageChanged : TOptionsOutcome::Saved;
}

} // namespace krv
