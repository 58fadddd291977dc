// The main window's session editing: the record into the controls and back,
// New, Load, Save, Save As and Reset with the Modified question, the archive
// name rules, the mail options' enabling, the session shortcut command and
// the unattended run of a session file given on the command line.
#include "app/RunTrace.h"
#include "app/ArchiveName.h"
#include "app/LoadWait.h"
#include "app/Log.h"
#include "app/Main.h"
#include "app/Messages.h"
#include "app/ReportMail.h"
#include "app/SessionLink.h"
#include "app/SessionLinkForm.h"
#include "framework/Dialogs.h"
#include "framework/FileDialogs.h"
#include "framework/SysUtils.h"

namespace krv {
namespace {

const char* const kSessionFilter = "Korvane Session (*.xml)|*.xml";
const char* const kSessionExt = "*.xml";
// Not part of the language files.
const char* const kNeedsBurner =
    "This Session requires a burning device, but there are no working devices on this machine. "
    "You can only do an hard disk backup.";
const char* const kNeedsBurnerTitle = "Burning device not available!";

} // namespace

void TMainForm::WireSessionControls() {
    auto menu = [this](const char* name, std::function<void()> click) {
        TMenuItem* item = Find<TMenuItem>(name);
        item->SetEnabled(true);
        item->OnClick = [click](TObject*) { click(); };
    };
    menu("NewSession", [this] { NewSessionClick(); });
    menu("LoadSession", [this] { LoadSessionClick(); });
    menu("SaveSession", [this] { SaveSessionClick(); });
    menu("SaveSessionAs", [this] { SaveSessionAsClick(); });
    GenerateSessionLink->OnClick = [this](TObject*) { GenerateSessionLinkClick(); };

    ButtonReset->SetEnabled(true);
    ButtonReset->OnClick = [this](TObject*) { ButtonResetClick(); };
    ButtonStart->OnClick = [this](TObject*) { StartRun(); };
    EditArchiveName->OnExit = [this](TObject*) { EditArchiveNameExit(); };
    for (TEdit* edit : {EditArchiveName, AddressEdit, SMTPEdit, MailUserEdit, MailPassEdit, EditInclusionMask,
                        EditExclusionMask})
        edit->OnChange = [this](TObject*) { EditArchiveNameChange(); };
    CheckRW->OnClick = [this](TObject*) { CheckRWClick(); };
    DeviceCombo->OnChange = [this](TObject*) { DeviceComboChange(); };
    MailCheck->OnClick = [this](TObject*) { MailCheckClick(); };
    LoginCheck->OnClick = [this](TObject*) { LoginCheckClick(*this); };
    MailPassEdit->SetPasswordChar('*');
    // The fields take no more than a load of the session file does (an edit
    // counts UTF-16 units, so never more characters than that).
    const std::pair<TEdit*, const char*> limited[] = {
        {EditArchiveName, "ArchiveName"}, {AddressEdit, "Address"},   {SMTPEdit, "SMTP"},
        {MailUserEdit, "UserName"},       {MailPassEdit, "Password"}, {EditInclusionMask, "InclusionMask"},
        {EditExclusionMask, "ExclusionMask"}, {HDFolderEdit, "DirHD"}};
    for (const auto& [edit, name] : limited) edit->SetMaxLength(static_cast<int>(SessionValueLimit(name)));
    MailCheck->SetEnabled(true);
    MailCheckClick();
    Session.Modified = false;
}

// ------------------------------------------------------ record <-> controls

void TMainForm::SessionToForm() {
    RestoreTreeChecks();
    EditArchiveName->SetText(Session.ArchiveName);
    SubFoldersCheck->SetChecked(Session.SubFolders);
    if (Session.Log >= 0 && Session.Log < ComboLog->ItemCount()) ComboLog->SetItemIndex(Session.Log);
    CheckRW->SetChecked(Session.RWDisk);
    MailCheck->SetChecked(Session.MailActive);
    LoginCheck->SetChecked(Session.DoLogin);
    AddressEdit->SetText(Session.Address);
    SMTPEdit->SetText(Session.SMTP);
    MailUserEdit->SetText(Session.UserName);
    MailPassEdit->SetText(Session.Password);
    // A recorder index this machine does not have stays in the record.
    if (Session.Device >= -1 && Session.Device < DeviceCombo->ItemCount()) DeviceCombo->SetItemIndex(Session.Device);
    CloseKVCheck->SetChecked(Session.CloseKRV);
    CheckOverwriteFile->SetChecked(Session.OverwriteHD);
    HDFolderEdit->SetText(Session.DirHD);
    CheckFilters->SetChecked(Session.FiltersActive);
    EditInclusionMask->SetText(Session.InclusionMask);
    EditExclusionMask->SetText(Session.ExclusionMask);
    // A box whose state did not change fired no click: apply the enabling rules anyway.
    MailCheckClick();
    CheckFiltersClick();

    if (NoBurner && Session.Type == bmDisc) {
        Ask(kNeedsBurner, kNeedsBurnerTitle, MB_ICONERROR);
        Session.Type = bmHardDisk;
    }
    Mode = Session.Type;
    UpdateModeButtons();

    // A name that would leave the destination folder never reaches a run.
    ArchiveNameValid = IsValidArchiveName();
    if (!ArchiveNameValid) AddLog(ArchiveNameRefusal(Session.ArchiveName, " ") + " (" + Session.ArchiveName + ")", lcRed, 0, lkNormal);
    const bool any = Session.SelectedFolders.Count() > 0;
    ButtonStart->SetEnabled(any && ArchiveNameValid);
    ButtonUpdateSize->SetEnabled(any);
}

void TMainForm::FormToSession() {
    TreeChecksToSession();
    Session.ArchiveName = EditArchiveName->Text();
    Session.SubFolders = SubFoldersCheck->Checked();
    if (ComboLog->ItemIndex() >= 0) Session.Log = ComboLog->ItemIndex();
    Session.RWDisk = CheckRW->Checked();
    Session.MailActive = MailCheck->Checked();
    Session.DoLogin = LoginCheck->Checked();
    Session.Address = AddressEdit->Text();
    Session.SMTP = SMTPEdit->Text();
    Session.UserName = MailUserEdit->Text();
    Session.Password = MailPassEdit->Text();
    if (DeviceCombo->ItemCount() > 0) Session.Device = DeviceCombo->ItemIndex();
    Session.CloseKRV = CloseKVCheck->Checked();
    Session.OverwriteHD = CheckOverwriteFile->Checked();
    Session.DirHD = HDFolderEdit->Text();
    Session.FiltersActive = CheckFilters->Checked();
    Session.InclusionMask = EditInclusionMask->Text();
    Session.ExclusionMask = EditExclusionMask->Text();
    Session.Type = Mode;
}

void TMainForm::ResetForm() {
    ClearTreeChecks();
    Mode = bmDisc;
    UpdateModeButtons();
    HDFolderEdit->SetText("");
    EditArchiveName->SetText(DefaultArchiveName());
    Session.ArchiveName = EditArchiveName->Text();
    ArchiveNameValid = true;
    SubFoldersCheck->SetChecked(true);
    if (Settings.LogLevel >= 0 && Settings.LogLevel < ComboLog->ItemCount()) ComboLog->SetItemIndex(Settings.LogLevel);
    CheckRW->SetChecked(true);
    MailCheck->SetChecked(false);
    for (TEdit* edit : {AddressEdit, SMTPEdit, MailUserEdit, MailPassEdit, EditInclusionMask, EditExclusionMask})
        edit->SetText("");
    CheckFilters->SetChecked(false);
    MailCheckClick();
    CheckFiltersClick();
    ButtonStart->SetEnabled(false);
    CloseKVCheck->SetChecked(false);
    ButtonUpdateSize->SetEnabled(false);
    LabelSize->SetCaption(KV_0Byte);
    LastScan = {};
    LabelDestFreeSpace->SetCaption("");
}

bool TMainForm::IsValidArchiveName() const { return IsValidArchiveFileName(EditArchiveName->Text()); }

void TMainForm::ClearIncompleteMailOptions() {
    if (AddressEdit->Text().empty() && SMTPEdit->Text().empty() && MailCheck->Checked()) MailCheck->SetChecked(false);
    if (MailUserEdit->Text().empty() && MailPassEdit->Text().empty() && MailCheck->Checked())
        LoginCheck->SetChecked(false);
}

// ------------------------------------------------------------- commands

namespace {
// The Modified question of New, Load and closing. False: stop (Cancel, or a
// save that did not happen, so nothing the user changed is thrown away).
bool SettleModified(TMainForm& form) {
    if (!form.Session.Modified) return true;
    const int answer = ShowMessageBox(KV_Save_Session, KV_Save_Session_Title, MB_YESNOCANCEL | MB_ICONWARNING);
    if (answer == IDCANCEL) return false;
    if (answer == IDYES) return form.SaveSessionClick();
    return true;
}
} // namespace

void TMainForm::NewSessionClick() {
    if (!SettleModified(*this)) return;
    LabelSize->SetCaption(KV_0Byte);
    SessionFileArg.clear();
    ShowSessionStatus();
    Session.Clear();
    ResetForm();
    Session.Reset(KV_Unsaved);
    Session.Log = Settings.LogLevel;
    AddLog(KV_Session_New, lcBlue, 2, lkNormal);
}

void TMainForm::ButtonResetClick() {
    // A new record: unlike New, not even the mail server is kept.
    Session.Clear();
    static_cast<TSessionValues&>(Session) = TSessionValues();
    Session.Reset(KV_Unsaved);
    Session.Log = Settings.LogLevel;
    ResetForm();
    AddLog(KV_Reset, lcBlack, 3, lkNormal);
}

void TMainForm::LoadSessionClick() {
    if (!SettleModified(*this)) return;
    TOpenDialog dialog;
    dialog.Filter = kSessionFilter;
    dialog.DefaultExt = kSessionExt;
    dialog.Title = KV_OpenDialogTitle;
    if (!dialog.Execute()) return;
    TFormLoadWait wait(*this);
    wait.FileName = dialog.FileName;
    wait.ShowModal();
    // The walks of the load moved through the tree: back to its root.
    if (TNamespace* root = DirTree->RootFolderNamespace())
        DirTree->BrowseToPath(root->NameForParsing(), true, true, false, false);
}

void TMainForm::AfterSessionLoad(bool loaded, const std::string& fileName) {
    if (!loaded) {
        const std::string text = Session.LoadFailureLine(fileName);
        ShowMessageBox(text, KQ_XmlError_Title, MB_ICONERROR);
        AddLog(text, lcRed, 0, lkNormal);
        return;
    }
    LabelSize->SetCaption(KV_0Byte);
    SessionFileArg = fileName;
    TreeEventsOn = false;
    SessionToForm();
    TreeEventsOn = true;
    AddLog(KV_Session_Loaded + " (" + Session.SessionName + ")", lcBlue, 3, lkNormal);
    if (!Session.UnreadableDates.empty()) AddLog(KV_Date_Unreadable + Session.UnreadableDates, lcBlack, 1, lkNormal);
    Session.Modified = false;
    Session.NeverSaved = false;
    ShowSessionStatus();
    if (Session.Type == bmHardDisk) HDFolderEditExit();
    if (Settings.UpdateSize) ButtonUpdateSizeClick();
}

namespace {
// Writes the session to its file and reports; a failure keeps it modified.
bool WriteSessionFile(TMainForm& form, const std::string& fileName) {
    try {
        form.Session.SaveToFile(fileName);
    } catch (const std::exception& e) {
        form.AddLog(e.what(), lcRed, 0, lkNormal);
        ShowMessageBox(e.what(), KV_Error, MB_ICONERROR);
        return false;
    }
    form.SessionFileArg = fileName;
    form.Session.NeverSaved = false;
    form.AddLog(KV_Session_Saved + " (" + form.SessionFileArg + ")", lcBlue, 3, lkNormal);
    form.ShowSessionStatus();
    return true;
}
} // namespace

bool TMainForm::SaveSessionAsClick() {
    TSaveDialog dialog;
    dialog.Filter = kSessionFilter;
    dialog.DefaultExt = kSessionExt;
    dialog.Title = KV_SaveDialogTitle;
    dialog.FileName = SessionFileArg;
    if (!dialog.Execute()) return false;
    FormToSession();
    const std::string name = ExtractFileName(dialog.FileName);
    Session.SessionName = name.size() > 4 ? name.substr(0, name.size() - 4) : name;
    return WriteSessionFile(*this, dialog.FileName);
}

bool TMainForm::SaveSessionClick() {
    if (Session.NeverSaved || SessionFileArg.empty()) return SaveSessionAsClick();
    FormToSession();
    return WriteSessionFile(*this, SessionFileArg);
}

// ------------------------------------------------------------- controls

void TMainForm::MailCheckClick() {
    Session.Modified = true;
    const bool mail = MailCheck->Checked();
    for (const char* name : {"AddressLabel", "SMTPLabel"})
        if (auto* label = Find<TLabel>(name)) label->SetEnabled(mail);
    AddressEdit->SetEnabled(mail);
    SMTPEdit->SetEnabled(mail);
    LoginCheck->SetEnabled(mail);
    const bool login = LoginCheck->Checked() && LoginCheck->Enabled();
    for (const char* name : {"MailUserLabel", "MailPassLabel"})
        if (auto* label = Find<TLabel>(name)) label->SetEnabled(login);
    MailUserEdit->SetEnabled(login);
    MailPassEdit->SetEnabled(login);
}

void TMainForm::EditArchiveNameChange() { Session.Modified = true; }
void TMainForm::CheckRWClick() { Session.Modified = true; }
void TMainForm::DeviceComboChange() { Session.Modified = true; }

void TMainForm::EditArchiveNameExit() {
    const std::string text = EditArchiveName->Text();
    const std::string withZip = WithZipExtension(text);
    if (withZip != text) EditArchiveName->SetText(withZip);
    ArchiveNameValid = IsValidArchiveName();
    if (!ArchiveNameValid)
        ShowMessageBox(ArchiveNameRefusal(EditArchiveName->Text(), "\r\n"), KV_ArchiveFileName_Error_Title, MB_ICONERROR);
    UpdateStartButton();
}

void TMainForm::UpdateStartButton() {
    if (Mode == bmHardDisk && (HDFolderEdit->Text().empty() || !DirectoryExists(DestinationFolder()))) {
        ButtonStart->SetEnabled(false);
        return;
    }
    // A name with a forbidden character must not reach a run.
    if (!ArchiveNameValid) {
        ButtonStart->SetEnabled(false);
        return;
    }
    // Unticking the last folder leaves Start as it is: such a run says in
    // its report that nothing is selected.
    if (CheckedPaths().empty()) return;
    ButtonStart->SetEnabled(true);
    ButtonUpdateSize->SetEnabled(true);
}

// ------------------------------------------------------ session shortcut

void TMainForm::GenerateSessionLinkClick() {
    if (Session.NeverSaved) {
        ShowMessageBox(KV_NeedToSaveSession, KV_NeedToSaveSession_Title, MB_ICONERROR);
        return;
    }
    TFormSessionLink dialog(this);
    dialog.LinkNameEdit->SetText(Session.SessionName);
    const int result = RunLinkDialog ? RunLinkDialog(dialog) : dialog.ShowModal();
    if (result != mrOk) return;
    TSessionLinkRequest request;
    request.AppDir = AppDir;
    request.SessionFile = SessionFileArg;
    request.DestFolder = dialog.DestFolderEdit->Text();
    request.LinkName = dialog.LinkNameEdit->Text();
    request.ArchiveName = dialog.ArchiveNameEdit->Text();
    std::string error;
    // Said in red so that a shortcut that was not made is never taken for one that was.
    if (!WriteSessionLink(request, &error))
        AddLog(SessionLinkFileName(request.DestFolder, request.LinkName) + ": " + error, lcRed, 0, lkNormal);
}

// ----------------------------------------------------------- batch mode

void TMainForm::RunBatch(const std::string& sessionFile, const std::string& archiveArg) {
    Application().Minimize();
    KorvaneState().Batch = true;
    // Until a run says otherwise, the program did not do what it was asked.
    ExitCode = ecUnusable;
    TraceMark("session load");
    if (!Session.LoadFromFile(sessionFile)) {
        AddLog(Session.LoadFailureLine(sessionFile), lcRed, 0, lkNormal);
        // The report is named after the file the user gave: the session has no name.
        std::string name = ExtractFileName(sessionFile);
        if (name.size() > 4 && SameText(name.substr(name.size() - 4), ".xml")) name.resize(name.size() - 4);
        if (!name.empty()) Session.SessionName = name;
        return StopBatch(ecUnusable);
    }
    SessionFileArg = sessionFile;
    // Bounded where it is read, as the session's own archive name is.
    if (const std::string problem = TooLongProblem("ArchiveName", archiveArg, kMaxArchiveNameLength); !problem.empty()) {
        AddLog(problem, lcRed, 0, lkNormal);
        return StopBatch(ecUnusable);
    }
    if (!archiveArg.empty()) {
        Session.ArchiveName = WithZipExtension(archiveArg);
        AddLog(KV_ArchiveNameChanged + Session.ArchiveName, lcRed, 0, lkNormal);
    }
    // Told in red by SessionToForm (no box in batch mode); the session cannot run here.
    const bool needsBurner = NoBurner && Session.Type == bmDisc;
    TraceMark("session read");
    SessionToForm();
    TraceMark("ticks restored");
    AddLog(KV_Session_Loaded + " (" + Session.SessionName + ")", lcBlue, 3, lkNormal);
    Session.Modified = false;
    Session.NeverSaved = false;
    StatusBar->SetPanelText(0, KV_SessionName + ": " + Session.SessionName);
    // A refused archive name has its red line from SessionToForm.
    if (needsBurner || !ArchiveNameValid) return StopBatch(ecUnusable);
    ButtonStart->SetEnabled(true);
    Session.CloseKRV = true;
    ExitCode = ecFailed;
    try {
        StartRun();
    } catch (const std::exception& e) {
        // Never a success: the run's own abort path did not finish.
        AddLog(KV_Error + ": " + e.what(), lcRed, 0, lkNormal);
        AbortRun();
    }
    // The unattended run ends here: no question about the session on the way out.
    Session.Modified = false;
    Close();
}

void TMainForm::StopBatch(int exitCode) {
    ClearIncompleteMailOptions();
    AbortRun();
    ExitCode = exitCode;
    Session.Modified = false;
    Close();
}

} // namespace krv
