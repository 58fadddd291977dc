// The main window's side of a backup run: the Start button builds a run
// (BackupRun.cpp) from the session and shows its outcome; the folder scan
// with its window; the end of the Windows session; and the destination-folder
// helpers of the window (free space, network folders).
#include "app/ArchiveTarget.h"
#include "app/RunTrace.h"
#include "app/Log.h"
#include "app/Main.h"
#include "app/DiscSteps.h"
#include "app/Messages.h"
#include "app/ProgressWindow.h"
#include "app/SplitString.h"
#include "app/ZipCheckDirs.h"
#include "app/ZipWait.h"
#include "framework/Dialogs.h"
#include "framework/SysUtils.h"
#include "shell/base/FolderBrowser.h"
#include <cmath>
#include <cstdlib>

namespace krv {

namespace {
bool IsNetworkPath(const std::string& path) { return path.size() >= 2 && path[0] == '\\' && path[1] == '\\'; }
}

// -------------------------------------------------------------- the run

void TMainForm::ButtonStartClick() {
    if (runActive_) return;
    runActive_ = true;
    closeAfterRun_ = false;
    try {
        RunBackup();
    } catch (...) {
        runActive_ = false;
        throw;
    }
    runActive_ = false;
    // Closed while the run went on, or to be closed after it: the close
    // waited for the run's end (and waits on for a mail still under way).
    if (closeAfterRun_ && !KorvaneState().Batch) Close();
}

void TMainForm::StartRun() {
    if (StartBackup) StartBackup();
    else ButtonStartClick();
}

bool TMainForm::SaveSessionNow() { return SaveSession ? SaveSession() : SaveSessionClick(); }

bool TMainForm::SessionEnds() {
    KorvaneState().SessionEnding = true;
    batchPending_ = false;
    if (!runActive_ || !run_ || run_->Ended()) return false;
    AddLog(KV_SessionEnds, lcRed, 0, lkNormal);
    run_->RequestCancel();
    TActiveStep::StopCurrent();
    AbortRun();
    return true;
}

bool TMainForm::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
    case WM_SIZE:
        // Back from minimized: the panel takes the lines kept meanwhile.
        if (wParam != SIZE_MINIMIZED) ShowPendingPanelLines();
        break;
    case WM_QUERYENDSESSION:
        // A backup is no reason to keep Windows from ending the session.
        result = TRUE;
        return true;
    case WM_SYSCOMMAND:
        // The window is disabled under the run's progress window, and the
        // system ignores its Close then; the taskbar's Close still means
        // Cancel.
        if ((wParam & 0xFFF0) != SC_CLOSE || !runActive_) break;
        Close();
        result = 0;
        return true;
    case WM_ENDSESSION:
        // The process may be ended as soon as this returns. A stopped run has
        // nothing left to do: the program ends here with the run's code, not
        // later as a success (or not at all, when the sender does not end it).
        if (wParam && SessionEnds()) {
            if (EndProcess) EndProcess(ExitCode);
            else ::ExitProcess(static_cast<UINT>(ExitCode));
        }
        result = 0;
        return true;
    default:
        break;
    }
    return TForm::HandleMessage(msg, wParam, lParam, result);
}

void TMainForm::RunBackup() {
    // A person is told and nothing starts; an unattended run has no one to
    // tell, so it reports the reason and ends in the abort path.
    const bool noFolder = Mode == bmHardDisk && !IsDirectory(DestinationFolder());
    if (noFolder && !KorvaneState().Batch) {
        ShowMessageBox(KV_NoValidDir, KV_NoValidDir_Title, MB_ICONERROR);
        return;
    }
    ExitCode = ecFailed;
    run_.reset();
    FormToSession();
    ReportLines.Clear();
    ++reportRun_;
    reportName_ = ClaimReportName(TempDir, Session.SessionName, reportHold_);
    if (!reportName_.empty() && reportName_ != ReportBaseName(Session.SessionName, ExcludeTrailingBackslash(TempDir)))
        AddLog(KV_Report_InUse + IncludeTrailingBackslash(TempDir) + reportName_ + ".log", lcRed, 0, lkNormal);
    ClearIncompleteMailOptions();
    if (noFolder) {
        AddLog(KV_NoValidDir + " (" + Session.DirHD + ")", lcRed, 0, lkNormal);
        return AbortRun();
    }
    if (Mode == bmHardDisk) CheckDestination(Session.DirHD);
    run_ = std::make_unique<TBackupRun>(*this, MakeRunJob(), Archiver);

    if (Session.Modified && CloseKVCheck->Checked() && !KorvaneState().Batch) {
        if (ShowMessageBox(KV_Save_Session, KV_Save_Session_Title, MB_YESNO | MB_ICONWARNING) == IDYES) {
            SaveSessionNow();
        } else {
            Session.Modified = false;
        }
    }
    AddLog(KV_BackupStarted + DateTimeToStr(Now()), lcBlack, 1, lkNormal);
    if (!Session.UnreadableDates.empty()) AddLog(KV_Date_Unreadable + std::exchange(Session.UnreadableDates, {}), lcBlack, 1, lkNormal);

    TraceMark("run starts");
    if (OnRunBuilt) OnRunBuilt(*run_);
    run_->Execute();
}

TRunJob TMainForm::MakeRunJob() const {
    TRunJob job;
    job.Mode = Session.Type;
    job.Destination = EntryPath(Session.DirHD);
    job.ArchiveName = SystemPath(Session.ArchiveName);
    job.Overwrite = Session.OverwriteHD;
    job.Filters = Session.FiltersActive;
    job.InclusionMask = Session.InclusionMask;
    job.ExclusionMask = Session.ExclusionMask;
    job.Rewritable = Session.RWDisk;
    const int device = DeviceCombo->ItemIndex();
    if (device >= 0 && device < DeviceIds.Count()) job.DeviceId = DeviceIds[device];
    job.AppDir = AppDir;
    job.TempDir = TempDir;
    job.IgnoreDiskSpace = Settings.IgnoreDiskSpace;
    job.NetworkDestination = networkDestination_;
    job.SizeStale = ButtonUpdateSize->Enabled();
    return job;
}

void TMainForm::AbortRun() {
    ExitCode = ecFailed;
    if (!run_) run_ = std::make_unique<TBackupRun>(*this, MakeRunJob(), Archiver);
    run_->AbortRun();
}

void TMainForm::RunDone() {
    ExitCode = run_->ExitCode();
    Session.LastBackup = Now();
    std::string error;
    // Before the report is saved, so that a failure is in it.
    if (!SessionFileArg.empty() && !UpdateLastBackupInFile(Session, SessionFileArg, &error))
        AddLog(KV_LastBackup_NotSaved + SessionFileArg + ": " + error, lcRed, 0, lkNormal);
    SaveReport();
    TraceMark("report saved");
    TracePeakMemory();
    ShowSessionStatus();
    // The run is still active here, and a close now would be taken for its
    // Cancel and refused: ButtonStartClick closes once the run has ended.
    if (!KorvaneState().Batch && CloseKVCheck->Checked()) closeAfterRun_ = true;
}

void TMainForm::ShowRunStep(const std::string& title) { Application().SetTitle(std::string(kProductName) + title); }

void TMainForm::ShowArchiveSize(int64_t bytes) { LabelSize->SetCaption(FormatSize(bytes)); }

void TMainForm::ScanFolders(bool withSize, TScanFindings& found) {
    // When the size is not known yet, one walk of the folders gives it and the lists.
    if (withSize) ScanFolders(cdmListsAndSize);
    else MakeDirLists();
    found = LastScan;
}

void TMainForm::WireRun() {
    ButtonUpdateSize->OnClick = [this](TObject*) { ButtonUpdateSizeClick(); };
    HDFolderEdit->OnExit = [this](TObject*) { HDFolderEditExit(); };
}

TReportMail& TMainForm::ReportMail() {
    if (!reportMail_) {
        mailHost_ = std::make_unique<TMainFormMailHost>(*this);
        reportMail_ = std::make_unique<TReportMail>(*mailHost_);
    }
    return *reportMail_;
}

void TMainForm::MailReport() {
    if (!MailCheck->Checked()) return;
    mailedRun_ = reportRun_;
    ReportMail().SendMailReport();
}

void TMainForm::MailFinished() {
    // The run saved its report when the mail had only started: save it again.
    // A run begun since has cleared the list for its own report, which that
    // run saves; saving it here would put its partial report in the file.
    if (mailedRun_ == reportRun_) SaveReport();
}


// ------------------------------------------------------------ the steps

namespace {
// The tree's check events are not the user's while the scan walks it.
class TTreeEventsOff {
public:
    explicit TTreeEventsOff(TMainForm& form) : form_(form), saved_(form.TreeEventsOn) { form.TreeEventsOn = false; }
    ~TTreeEventsOff() { form_.TreeEventsOn = saved_; }
    TTreeEventsOff(const TTreeEventsOff&) = delete;
    TTreeEventsOff& operator=(const TTreeEventsOff&) = delete;

private:
    TMainForm& form_;
    bool saved_;
};
}

void TMainForm::MakeDirLists() {
    LastScan = {};
    TTreeEventsOff quiet(*this);
    TFormZipCheckDirs form(this, *this, cdmLists, KV_CheckingDirs);
    TActiveStep step(form, [this, &form] { CancelScan(form); });
    form.ShowModal();
    TakeScan(cdmLists, form.Found);
}

void TMainForm::CancelScan(TFormZipCheckDirs& form) {
    form.ButtonWaitCancelClick();
    // The run hears of it at once: a close of the main window waits for its end.
    if (form.Cancelled && runActive_ && run_) run_->RequestCancel();
}

void TMainForm::TakeScan(TCheckDirMode mode, const TScanFindings& found) {
    if (found.SizeCounted) {
        SelectedSize = found.Size;
        LabelSize->SetCaption(FormatSize(found.Size));
    }
    // Counting the size alone leaves the lists as they were.
    if (ScanGivesLists(mode)) LastScan = found;
    LastScan.Stopped = found.Stopped;
}

void TMainForm::ButtonUpdateSizeClick() { ScanFolders(cdmSize); }

void TMainForm::ScanFolders(TCheckDirMode mode) {
    if (ScanGivesLists(mode)) LastScan = {};
    // The walk selects the folders it visits: the user's selection comes back
    // after counting the size alone. A run goes on from where its walk ended,
    // as it does after making the lists.
    const std::wstring selected = mode == cdmSize ? DirTree->SelectedPath() : std::wstring();
    DirTree->Invalidate();
    bool cancelled;
    {
        TTreeEventsOff quiet(*this);
        TFormZipCheckDirs form(this, *this, mode, KV_CheckingSize);
        if (ScanGivesLists(mode)) form.StartMessages.push_back(KV_CheckingDirs);
        form.LabelWaitTask->SetCaption(KV_CheckingBackupSize);
        form.SetCaption(std::string(kProductName) + " :: " + KV_CheckingBackupSize);
        TActiveStep step(form, [this, &form] { CancelScan(form); });
        form.ShowModal();
        cancelled = form.Cancelled;
        TakeScan(mode, form.Found);
    }
    if (!selected.empty()) DirTree->BrowseToPath(selected, true, true, false, false);
    if (!cancelled) ButtonUpdateSize->SetEnabled(false);
    std::string dest = IsDirectory(DestinationFolder()) ? DestinationFolder() : TempDir;
    LabelSizeWarning->SetVisible(!networkDestination_ && !SpaceIsEnough(dest));
}

// ------------------------------------------------- destination helpers

std::string TMainForm::DestinationFolder() const { return EntryPath(HDFolderEdit->Text()); }

bool TMainForm::SpaceIsEnough(const std::string& path) {
    int64_t freeAvailable = 0, total = 0;
    bool known = !path.empty() && GetDriveSpace(path[0], freeAvailable, total);
    if (static_cast<double>(freeAvailable) < SpaceWanted(SelectedSize)) return false;
    return known;
}

void TMainForm::CheckDestination(const std::string& path) {
    if (IsNetworkPath(path)) {
        LabelDestFreeSpace->SetCaption("");
        LabelNetSpaceWarning->Show();
        LabelSizeWarning->Hide();
        networkDestination_ = true;
        return;
    }
    networkDestination_ = false;
    LabelNetSpaceWarning->Hide();
    int64_t freeAvailable = 0, total = 0;
    if (DirectoryExists(DestinationFolder())) {
        if (!path.empty() && GetDriveSpace(path[0], freeAvailable, total))
            LabelDestFreeSpace->SetCaption(KV_UnitFreeSpace + FormatSize(freeAvailable));
    } else {
        LabelDestFreeSpace->SetCaption("");
        LabelSizeWarning->Hide();
        ButtonStart->SetEnabled(false);
    }
}

void TMainForm::HDFolderEditExit() {
    std::string folder = DestinationFolder();
    CheckDestination(folder);
    if (IsDirectory(folder)) LabelSizeWarning->SetVisible(!networkDestination_ && !SpaceIsEnough(folder));
}

} // namespace krv
