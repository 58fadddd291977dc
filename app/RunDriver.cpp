// The backup run: the fixed order of its steps, the abort path, the end of a
// run, and the destination-folder helpers of the main window (free space,
// network folders). The archive's name and files: ArchiveTarget.cpp.
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
#include "shell/FolderBrowser.h"
#include <cmath>
#include <cstdlib>

namespace krv {

namespace {
// Said when nothing would be backed up: an empty archive is not a backup.
const char* const kNothingSelected = "no folder is selected for the backup";
const char* const kSessionEnds = "Windows is ending the session: the backup is stopped";

constexpr LCID kDurationLocale = 0x410;

bool IsNetworkPath(const std::string& path) { return path.size() >= 2 && path[0] == '\\' && path[1] == '\\'; }
}

// The size of a disc backup's volumes. KORVANE_TEST_VOLUME_SIZE (bytes) is a
// test seam only: end-to-end tests set it small to get a multi-volume set from
// a few files. Anything not a positive number keeps the normal size.
namespace {
int64_t DiscVolumeSize() {
    constexpr int64_t kVolumeSize = 2000000000;
    const int64_t size = TestSeamNumber("KORVANE_TEST_VOLUME_SIZE", kVolumeSize);
    return size > 0 ? size : kVolumeSize;
}
}

// -------------------------------------------------------------- the run

void TMainForm::ButtonStartClick() {
    if (runActive_) return;
    runActive_ = true;
    runEnded_ = false;
    closeAfterRun_ = false;
    try {
        RunBackup();
    } catch (...) {
        runActive_ = false;
        throw;
    }
    runActive_ = false;
    // Closed while the run went on: the close waited for the run's end.
    if (closeAfterRun_ && !Batch) Close();
}

void TMainForm::StartRun() {
    if (StartBackup) StartBackup();
    else ButtonStartClick();
}

bool TMainForm::SaveSessionNow() { return SaveSession ? SaveSession() : SaveSessionClick(); }

void TMainForm::SessionEnds() {
    SessionEnding = true;
    batchPending_ = false;
    if (!runActive_ || runEnded_) return;
    AddLog(kSessionEnds, lcRed, 0, lkNormal);
    Cancel = true;
    TActiveStep::StopCurrent();
    AbortRun();
}

bool TMainForm::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
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
        // The process may be ended as soon as this returns.
        if (wParam) SessionEnds();
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
    const bool noFolder = Mode == bmHardDisk && !IsDirectory(HDFolderEdit->Text());
    if (noFolder && !Batch) {
        ShowMessageBox(KV_NoValidDir, KV_NoValidDir_Title, MB_ICONERROR);
        return;
    }
    ExitCode = ecFailed;
    LeftOut = 0;
    ArchivedFiles = ArchivedBytes = 0;
    ArchiveWritten.clear();
    FormToSession();
    Cancel = false;
    ReportLines.Clear();
    ClearIncompleteMailOptions();
    if (noFolder) {
        AddLog(KV_NoValidDir + " (" + HDFolderEdit->Text() + ")", lcRed, 0, lkNormal);
        return AbortRun();
    }
    if (Mode == bmHardDisk) CheckDestination(HDFolderEdit->Text());

    durationLocale_ = ::IsValidLocale(kDurationLocale, LCID_INSTALLED) ? kDurationLocale : ::GetThreadLocale();
    char format[128] = {};
    durationFormat_ = ::GetLocaleInfoA(durationLocale_, LOCALE_STIMEFORMAT, format, sizeof format) ? format : "";

    if (Session.Modified && CloseKVCheck->Checked() && !Batch) {
        if (ShowMessageBox(KV_Save_Session, KV_Save_Session_Title, MB_YESNO | MB_ICONWARNING) == IDYES) {
            SaveSessionNow();
        } else {
            Session.Modified = false;
        }
    }
    AddLog(KV_BackupStarted + DateTimeToStr(Now()), lcBlack, 1, lkNormal);
    if (!Session.UnreadableDates.empty()) AddLog(KV_Date_Unreadable + std::exchange(Session.UnreadableDates, {}), lcBlack, 1, lkNormal);

    TraceMark("run starts");
    SetRunTitle(KV_CheckingDirs_AppTitle_1);
    // When the size is not known yet, one walk of the folders gives it and the lists.
    if (ButtonUpdateSize->Enabled()) ScanFolders(cdmListsAndSize);
    else MakeDirLists();
    TraceMark("folders checked");
    if (Cancel) return AbortRun();
    if (RecursiveDirs.Empty() && FlatDirs.Empty()) {
        AddLog(KV_Error + ": " + kNothingSelected, lcRed, 0, lkNormal);
        return AbortRun();
    }

    if (!NetworkDestination) {
        SetRunTitle(KV_CheckingFreeSpace_AppTitle_1);
        CheckFreeSpace(Mode == bmDisc ? TempDir : HDFolderEdit->Text());
        if (Cancel) return AbortRun();
    }
    std::unique_ptr<TDiscSteps> disc;
    if (Mode == bmHardDisk) {
        Archiver.SetSpanningMode(smNone);
        if (!DirectoryExists(HDFolderEdit->Text())) {
            Ask(KQ_NoDirHD, KQ_NoDirHD_Title, MB_ICONERROR);
            return AbortRun();
        }
    } else {
        Archiver.SetSpanningMode(smSplitting);
        // Volumes or an image of an earlier run must never be taken for this one's.
        disc = MakeDiscSteps();
        disc->RemoveStaleOutput();
    }

    TraceMark("free space checked");
    SetRunTitle(KV_Zipping_AppTitle_1);
    TDateTime started = Now();
    ZipFiles();
    ZipDuration = Now() - started;
    if (Cancel) return AbortRun();

    if (Mode == bmHardDisk) {
        AddLog(KV_HDZipCreated + " " + HDFolderEdit->Text(), lcBlue, 1, lkNormal);
        AddLog(KV_HDZipCreatedTime + FormatDuration(ZipDuration), lcBlue, 1, lkNormal);
    } else {
        // The disc steps: each one is a modal step that sets Cancel on failure.
        struct DiscStep {
            const std::string* title;
            std::function<void()>* seam;
            void (TDiscSteps::*step)();
            const std::string* doneText;
            bool logged;
        } steps[] = {{&KV_MakingISO_AppTitle_1, &MakeIsoStep, &TDiscSteps::MakeIso, &KV_MakeISOTime, CheckRW->Checked()},
                     {&KV_Blanking_AppTitle_1, &BlankDiscStep, &TDiscSteps::BlankDisc, &KV_FormatDiscTime, true},
                     {&KV_Burning_AppTitle_1, &BurnDiscStep, &TDiscSteps::BurnIso, &KV_WriteISOTime, true}};
        for (const DiscStep& s : steps) {
            SetRunTitle(*s.title);
            TDateTime stepStart = Now();
            if (*s.seam) {
                (*s.seam)();
            } else {
                ((*disc).*s.step)();
                Cancel = disc->Cancel;
            }
            if (Cancel) return AbortRun();
            if (s.logged) AddLog(*s.doneText + FormatDuration(Now() - stepStart), lcBlue, 1, lkNormal);
        }
        // The archive in the temp folder is gone: it lives on the disc now.
        ArchiveWritten = ExtractFileName(ArchiveWritten) + " (on the disc)";
    }

    FinishRun();
}

void TMainForm::FinishRun() {
    runEnded_ = true;
    const std::vector<std::string> summary = RunSummaryLines(ArchiveWritten, ArchivedFiles, ArchivedBytes, LeftOut);
    for (size_t i = 0; i < summary.size(); ++i)
        AddLog(summary[i], i + 1 == summary.size() && LeftOut > 0 ? lcRed : lcBlue, 1, lkNormal);
    ExitCode = LeftOut > 0 ? ecLeftOut : ecDone;
    SetRunTitle(KV_Mailing_AppTitle_1);
    MailReport();
    Application().SetTitle(kProductName);
    AddLog(KV_BackupDone, lcBlue, 1, lkNormal);
    Session.LastBackup = Now();
    std::string error;
    // Before the report is saved, so that a failure is in it.
    if (!SessionFileArg.empty() && !UpdateLastBackupInFile(Session, SessionFileArg, &error))
        AddLog(KV_LastBackup_NotSaved + SessionFileArg + ": " + error, lcRed, 0, lkNormal);
    SaveReport();
    TraceMark("report saved");
    ShowSessionStatus();
    if (!Batch && CloseKVCheck->Checked()) Close();
}

void TMainForm::AbortRun() {
    Cancel = true;
    ExitCode = ecFailed;
    // Stopped by the end of the session, the run has said so already.
    if (runEnded_) return;
    runEnded_ = true;
    Application().SetTitle(kProductName);
    AddLog(KV_Aborted, lcRed, 1, lkNormal);
    // A mail would be cut off with the session.
    if (!SessionEnding) MailReport();
    SaveReport();
}

std::unique_ptr<TDiscSteps> TMainForm::MakeDiscSteps() {
    int device = DeviceCombo->ItemIndex();
    std::string deviceId = device >= 0 && device < DeviceIds.Count() ? DeviceIds[device] : std::string();
    TDiscJob job{AppDir, TempDir, EditArchiveName->Text(), deviceId, CheckRW->Checked()};
    return std::make_unique<TDiscSteps>(this, job, [this](const std::string& msg, int colour, int level, int kind) {
        AddLog(msg, colour, level, kind);
    });
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
    if (MailCheck->Checked()) ReportMail().SendMailReport();
}

void TMainForm::SetRunTitle(const std::string& step) { Application().SetTitle(std::string(kProductName) + step); }

std::string TMainForm::FormatDuration(double days) const {
    // A time of day: 24 hours or more wrap.
    double ms = std::fmod(std::max(0.0, days) * 86400000.0, 86400000.0);
    auto total = static_cast<long long>(std::llround(ms));
    SYSTEMTIME st{};
    st.wYear = 1899;
    st.wMonth = 12;
    st.wDay = 30;
    st.wHour = static_cast<WORD>(total / 3600000 % 24);
    st.wMinute = static_cast<WORD>(total / 60000 % 60);
    st.wSecond = static_cast<WORD>(total / 1000 % 60);
    char text[128] = {};
    LCID lcid = durationLocale_ ? durationLocale_ : ::GetThreadLocale();
    if (::GetTimeFormatA(lcid, 0, &st, durationFormat_.empty() ? nullptr : durationFormat_.c_str(), text, sizeof text))
        return text;
    return Format("%02d:%02d:%02d", st.wHour, st.wMinute, st.wSecond);
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
    RecursiveDirs.Clear();
    FlatDirs.Clear();
    TTreeEventsOff quiet(*this);
    TFormZipCheckDirs form(this, cdmLists, KV_CheckingDirs);
    TActiveStep step(form, [&form] { form.ButtonWaitCancelClick(); });
    form.ShowModal();
}

void TMainForm::ButtonUpdateSizeClick() { ScanFolders(cdmSize); }

void TMainForm::ScanFolders(TCheckDirMode mode) {
    if (ScanGivesLists(mode)) {
        RecursiveDirs.Clear();
        FlatDirs.Clear();
    }
    // The walk selects the folders it visits: the user's selection comes back
    // after counting the size alone. A run goes on from where its walk ended,
    // as it does after making the lists.
    const std::wstring selected = mode == cdmSize ? DirTree->SelectedPath() : std::wstring();
    DirTree->Invalidate();
    bool cancelled;
    {
        TTreeEventsOff quiet(*this);
        TFormZipCheckDirs form(this, mode, KV_CheckingSize);
        if (ScanGivesLists(mode)) form.StartMessages.push_back(KV_CheckingDirs);
        form.LabelWaitTask->SetCaption(KV_CheckingBackupSize);
        form.SetCaption(std::string(kProductName) + " :: " + KV_CheckingBackupSize);
        TActiveStep step(form, [&form] { form.ButtonWaitCancelClick(); });
        form.ShowModal();
        cancelled = form.Cancelled;
    }
    if (!selected.empty()) DirTree->BrowseToPath(selected, true, true, false, false);
    if (!cancelled) ButtonUpdateSize->SetEnabled(false);
    std::string dest = IsDirectory(HDFolderEdit->Text()) ? HDFolderEdit->Text() : TempDir;
    LabelSizeWarning->SetVisible(!NetworkDestination && !SpaceIsEnough(dest));
}

void TMainForm::ConfigureArchiver() {
    Archiver.SetName("Archiver");
    Archiver.SetCompressionLevel(clMax);
    Archiver.SetSpanningMode(smSplitting);
    Archiver.SpanningOptions.AdvancedNaming = false;
    Archiver.SpanningOptions.VolumeSize = vsCustom;
    Archiver.SpanningOptions.SetCustomVolumeSize(DiscVolumeSize());
    Archiver.Options.Recurse = false;
    Archiver.Options.StorePath = spFullPath;
    Archiver.Options.CreateDirs = false;
    Archiver.Options.FlushBuffers = true;
    Archiver.Options.OEMFileNames = true;
    Archiver.SetInMemory(false);
    Archiver.ExtractCorruptedFiles = false;
    Archiver.SetZip64Mode(zmAuto);
}

namespace {
// Folder + "\" + mask for every folder and, within it, every mask.
void ApplyMasks(TStringList& dirs, const TStringList& masks) {
    TStringList result;
    for (int i = 0; i < dirs.Count(); ++i)
        for (int m = 0; m < masks.Count(); ++m) result.Add(dirs[i] + "\\" + masks[m]);
    dirs = result;
}
}

void TMainForm::ZipFiles() {
    AddLog(KV_Start_Zip + " [" + DateTimeToStr(Now()) + "]", lcBlack, 2, lkNormal);
    Archiver.TempDir = TempDir;
    std::string target;   // the archive's name when the run succeeds
    std::string writing;  // the temporary file written meanwhile
    if (!OpenArchiveTarget(target, writing)) {
        Cancel = true;
        return;
    }

    bool filters = CheckFilters->Checked() && !EditInclusionMask->Text().empty();
    TStringList masks;
    if (filters) SplitString(EditInclusionMask->Text(), ';', masks);
    else masks.Add("*.*");
    ApplyMasks(RecursiveDirs, masks);
    ApplyMasks(FlatDirs, masks);

    {
        TFormZipWait form(this, CheckFilters->Checked() ? EditExclusionMask->Text() : std::string());
        form.SetCaption(std::string(kProductName) + KV_ZipWait_Title);
        TActiveStep step(form, [&form] { form.ButtonCancelClick(); }, [this, &writing] { DiscardArchive(writing); });
        TraceMark("compression window");
        form.ShowModal();
    }
    TraceMark("compression ended");
    try {
        if (!Cancel) {
            CountArchive();
            AddLog(KV_ZipCreated + " [" + DateTimeToStr(Now()) + "]", lcBlue, 1, lkNormal);
            LabelSize->SetCaption(FormatSize(Archiver.GetArchiveSize()));
        }
        Archiver.CloseArchive();
    } catch (const std::exception& e) {
        AddLog(KV_Error + ": " + DescribeError(e), lcRed, 0, lkNormal);
        Cancel = true;
        try {
            Archiver.CloseArchive();
        } catch (const std::exception& closing) {
            AddLog(KV_Error + ": " + DescribeError(closing), lcRed, 0, lkNormal);
        }
    }
    TraceMark("archive closed");
    if (!Cancel) {
        ArchiveWritten = CommitArchive(writing, target);
        if (!ArchiveWritten.empty()) return;
        Cancel = true;
    }
    // A stopped run leaves no archive behind that could pass for a backup;
    // an archive it was to replace is left as it was.
    DiscardArchive(writing);
}

void TMainForm::DiscardArchive(const std::string& file) {
    try {
        Archiver.CloseArchive();
    } catch (const std::exception& e) {
        AddLog(KV_Error + ": " + DescribeError(e), lcRed, 0, lkNormal);
    }
    if (file.empty()) return;
    DeleteArchiveFiles(file, [this](const std::string& msg, int colour, int level, int kind) {
        AddLog(msg, colour, level, kind);
    });
}

void TMainForm::CountArchive() {
    ArchivedFiles = ArchivedBytes = 0;
    for (int i = 0; i < Archiver.Count(); ++i) {
        const TDirItem& item = Archiver.Items(i);
        if (item.IsFolder()) continue;
        ++ArchivedFiles;
        ArchivedBytes += static_cast<int64_t>(item.uncompressedSize);
    }
}

// ------------------------------------------------- destination helpers

void TMainForm::CheckFreeSpace(const std::string& path) {
    int64_t freeAvailable = 0, total = 0;
    bool known = !path.empty() && GetDriveSpace(path[0], freeAvailable, total);
    Cancel = !known;
    if (!known) return;
    if (static_cast<double>(freeAvailable) >= SpaceWanted()) return;
    std::string line = KV_Error + ": " + KV_NoFreeSpace_1 + " (" + IntToStr(freeAvailable) + " bytes free, " +
                       IntToStr(static_cast<int64_t>(std::ceil(SpaceWanted()))) +
                       " bytes wanted)";
    if (Settings.IgnoreDiskSpace) {
        AddLog(line, lcRed, 1, lkNormal);
        return;
    }
    // Unattended, the answer that writes nothing is taken: stop.
    if (!Batch && ShowMessageBox(KV_NoFreeSpace_1 + ".\r\n" + KV_NoFreeSpace_2, KV_NoFreeSpace_Title, MB_OKCANCEL | MB_ICONWARNING) == IDOK) {
        Cancel = false;
    } else {
        AddLog(line, lcRed, 1, lkNormal);
        Cancel = true;
    }
}

double TMainForm::SpaceWanted() const {
    // The archive is written beside the files it may replace, and a disc
    // backup needs the image beside the volumes.
    constexpr double kSpaceFactor = 1.8;
    return static_cast<double>(SelectedSize) * kSpaceFactor;
}

bool TMainForm::GetDriveSpace(char driveLetter, int64_t& freeAvailable, int64_t& total) {
    // Asked of the drive's root: a missing drive fails here as well.
    std::string root = std::string(1, driveLetter) + ":\\";
    ULARGE_INTEGER avail{}, all{};
    bool ok = ::GetDiskFreeSpaceExA(root.c_str(), &avail, &all, nullptr) != 0;
    freeAvailable = ok ? static_cast<int64_t>(avail.QuadPart) : -1;
    total = ok ? static_cast<int64_t>(all.QuadPart) : -1;
    return ok;
}

bool TMainForm::SpaceIsEnough(const std::string& path) {
    int64_t freeAvailable = 0, total = 0;
    bool known = !path.empty() && GetDriveSpace(path[0], freeAvailable, total);
    if (static_cast<double>(freeAvailable) < SpaceWanted()) return false;
    return known;
}

void TMainForm::CheckDestination(const std::string& path) {
    if (IsNetworkPath(path)) {
        LabelDestFreeSpace->SetCaption("");
        LabelNetSpaceWarning->Show();
        LabelSizeWarning->Hide();
        NetworkDestination = true;
        return;
    }
    NetworkDestination = false;
    LabelNetSpaceWarning->Hide();
    int64_t freeAvailable = 0, total = 0;
    if (DirectoryExists(HDFolderEdit->Text())) {
        if (!path.empty() && GetDriveSpace(path[0], freeAvailable, total))
            LabelDestFreeSpace->SetCaption(KV_UnitFreeSpace + FormatSize(freeAvailable));
    } else {
        LabelDestFreeSpace->SetCaption("");
        LabelSizeWarning->Hide();
        ButtonStart->SetEnabled(false);
    }
}

void TMainForm::HDFolderEditExit() {
    std::string folder = HDFolderEdit->Text();
    CheckDestination(folder);
    if (IsDirectory(folder)) LabelSizeWarning->SetVisible(!NetworkDestination && !SpaceIsEnough(folder));
}

} // namespace krv
