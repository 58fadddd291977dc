#include "app/BackupRun.h"
#include "app/AppState.h"
#include "app/ArchiveTarget.h"
#include "app/DiscSteps.h"
#include "app/Log.h"
#include "app/Messages.h"
#include "app/ProgressWindow.h"
#include "app/RunTrace.h"
#include "app/SplitString.h"
#include "app/Unattended.h"
#include "app/ZipWait.h"
#include "framework/Dialogs.h"
#include "framework/SysUtils.h"
#include "shell/base/FolderBrowser.h"
#include <cmath>

namespace krv {

namespace {
constexpr LCID kDurationLocale = 0x410;

// The size of a disc backup's volumes. KORVANE_TEST_VOLUME_SIZE (bytes) is a
// test seam only: end-to-end tests set it small to get a multi-volume set from
// a few files. Anything not a positive number keeps the normal size.
int64_t DiscVolumeSize() {
    constexpr int64_t kVolumeSize = 2000000000;
    const int64_t size = TestSeamNumber("KORVANE_TEST_VOLUME_SIZE", kVolumeSize);
    return size > 0 ? size : kVolumeSize;
}

// Folder + "\" + mask for every folder and, within it, every mask.
void ApplyMasks(TStringList& dirs, const TStringList& masks) {
    TStringList result;
    for (int i = 0; i < dirs.Count(); ++i)
        for (int m = 0; m < masks.Count(); ++m) result.Add(dirs[i] + "\\" + masks[m]);
    dirs = result;
}
}

int RunExitCode(TRunOutcome outcome) {
    switch (outcome) {
    case roDone: return ecDone;
    case roLeftOut: return ecLeftOut;
    default: return ecFailed;   // no other way out is a success
    }
}

void ConfigureRunArchiver(TZipArchiver& archiver) {
    archiver.SetName("Archiver");
    archiver.SetCompressionLevel(clMax);
    archiver.SetSpanningMode(smSplitting);
    archiver.SpanningOptions.AdvancedNaming = false;
    archiver.SpanningOptions.VolumeSize = vsCustom;
    archiver.SpanningOptions.SetCustomVolumeSize(DiscVolumeSize());
    archiver.Options.Recurse = false;
    archiver.Options.StorePath = spFullPath;
    archiver.Options.CreateDirs = false;
    archiver.Options.FlushBuffers = true;
    archiver.Options.OEMFileNames = true;
    archiver.SetInMemory(false);
    archiver.ExtractCorruptedFiles = false;
    archiver.SetZip64Mode(zmAuto);
}

double SpaceWanted(int64_t selectedSize) {
    // The archive is written beside the files it may replace, and a disc
    // backup needs the image beside the volumes.
    constexpr double kSpaceFactor = 1.8;
    return static_cast<double>(selectedSize) * kSpaceFactor;
}

bool GetDriveSpace(char driveLetter, int64_t& freeAvailable, int64_t& total) {
    // Asked of the drive's root: a missing drive fails here as well.
    std::string root = std::string(1, driveLetter) + ":\\";
    ULARGE_INTEGER avail{}, all{};
    bool ok = ::GetDiskFreeSpaceExA(root.c_str(), &avail, &all, nullptr) != 0;
    freeAvailable = ok ? static_cast<int64_t>(avail.QuadPart) : -1;
    total = ok ? static_cast<int64_t>(all.QuadPart) : -1;
    return ok;
}

// -------------------------------------------------------------- the run

TBackupRun::TBackupRun(IRunHost& host, TRunJob job, TZipArchiver& archiver)
    : host_(host), job_(std::move(job)), archiver_(archiver) {
    BuildSteps();
}

TBackupRun::~TBackupRun() = default;

void TBackupRun::BuildSteps() {
    const bool hardDisk = job_.Mode == bmHardDisk;
    steps_.push_back({"lists", &KV_CheckingDirs_AppTitle_1, [this] { MakeLists(); }});
    if (!job_.NetworkDestination)
        steps_.push_back({"free space", &KV_CheckingFreeSpace_AppTitle_1,
                          [this] { CheckFreeSpace(job_.Mode == bmDisc ? job_.TempDir : job_.Destination); }});
    steps_.push_back({"destination", nullptr, [this] { PrepareDestination(); }});
    steps_.push_back({"compress", &KV_Zipping_AppTitle_1, [this] { ZipFiles(); }});
    // Only a whole new archive takes the place of an old one.
    steps_.push_back({"replace", nullptr, [this] { ReplaceArchive(); }});
    if (hardDisk) return;
    steps_.push_back({"iso", &KV_MakingISO_AppTitle_1, [this] { DiscStep(&TDiscSteps::MakeIso); },
                      job_.Rewritable ? &KV_MakeISOTime : nullptr});
    steps_.push_back({"blank", &KV_Blanking_AppTitle_1, [this] { DiscStep(&TDiscSteps::BlankDisc); },
                      &KV_FormatDiscTime});
    steps_.push_back({"burn", &KV_Burning_AppTitle_1,
                      [this] {
                          DiscStep(&TDiscSteps::BurnIso);
                          // The archive in the temp folder is gone: it lives on the disc now.
                          if (!stop_) ArchiveWritten = ExtractFileName(ArchiveWritten) + " (on the disc)";
                      },
                      &KV_WriteISOTime});
}

TBackupRun::TStep* TBackupRun::FindStep(const std::string& name) {
    for (TStep& step : steps_)
        if (step.Name == name) return &step;
    return nullptr;
}

void TBackupRun::Execute() {
    durationLocale_ = ::IsValidLocale(kDurationLocale, LCID_INSTALLED) ? kDurationLocale : ::GetThreadLocale();
    char format[128] = {};
    durationFormat_ = ::GetLocaleInfoA(durationLocale_, LOCALE_STIMEFORMAT, format, sizeof format) ? format : "";
    for (const TStep& step : steps_) {
        if (step.Title) host_.ShowRunStep(*step.Title);
        const TDateTime started = Now();
        step.Action();
        if (stop_) return AbortRun();
        if (step.DoneText) AddLog(*step.DoneText + FormatDuration(Now() - started), lcBlue, 1, lkNormal);
    }
    FinishRun();
}

void TBackupRun::RequestCancel() {
    stop_ = true;
    requested_ = true;
}

void TBackupRun::Fail() { stop_ = true; }

void TBackupRun::FinishRun() {
    outcome_ = LeftOut > 0 || ChangedWhileRead > 0 ? roLeftOut : roDone;
    const std::vector<std::string> summary =
        RunSummaryLines(ArchiveWritten, ArchivedFiles, ArchivedBytes, ChangedWhileRead, LeftOut);
    const size_t last = summary.size() - 1;
    for (size_t i = 0; i <= last; ++i) {
        // The counts of files not stored, or not surely whole, are red.
        const bool red = i == last ? LeftOut > 0 : i + 1 == last && ChangedWhileRead > 0;
        AddLog(summary[i], red ? lcRed : lcBlue, 1, lkNormal);
    }
    host_.ShowRunStep(KV_Mailing_AppTitle_1);
    host_.MailReport();
    host_.ShowRunStep("");
    AddLog(KV_BackupDone, lcBlue, 1, lkNormal);
    host_.RunDone();
}

void TBackupRun::AbortRun() {
    stop_ = true;
    // Stopped by the end of the session, the run has said so already.
    if (Ended()) return;
    outcome_ = requested_ ? roCancelled : roFailed;
    host_.ShowRunStep("");
    AddLog(KV_Aborted, lcRed, 1, lkNormal);
    // A mail would be cut off with the session.
    if (!KorvaneState().SessionEnding) host_.MailReport();
    host_.SaveReport();
}

void TBackupRun::FolderLeftOut(const std::string& path) {
    AddLog(path + " " + KV_ZPFileNotFound, lcRed, 0, lkNormal);
    ++LeftOut;
}

std::string TBackupRun::FormatDuration(double days) const {
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

TLogCall TBackupRun::LogCall() {
    return [this](const std::string& msg, int colour, int level, int kind) { AddLog(msg, colour, level, kind); };
}

// ------------------------------------------------------------ the steps

void TBackupRun::MakeLists() {
    TScanFindings found;
    // When the size is not known yet, one walk of the folders gives it and the lists.
    host_.ScanFolders(job_.SizeStale, found);
    TraceMark("folders checked");
    if (found.Stopped) return RequestCancel();
    RecursiveDirs = found.RecursiveDirs;
    FlatDirs = found.FlatDirs;
    // Ticked, but not there to back up: each one named, never skipped in silence.
    for (const std::string& path : found.Missing) FolderLeftOut(path);
    FolderLinks = found.Links;
    if (RecursiveDirs.Empty() && FlatDirs.Empty()) {
        // No target is backed up: each link is left out.
        for (const std::string& link : FolderLinks) AddLog(LinkLine(link, ltLeftOut), lcRed, 0, lkNormal);
        // Nothing would be backed up: an empty archive is not a backup.
        AddLog(KV_Error + ": " + KV_NothingSelected, lcRed, 0, lkNormal);
        Fail();
    }
}

void TBackupRun::CheckFreeSpace(const std::string& path) {
    int64_t freeAvailable = 0, total = 0;
    if (path.empty() || !GetDriveSpace(path[0], freeAvailable, total)) return Fail();
    const double wanted = SpaceWanted(host_.SelectedBytes());
    if (static_cast<double>(freeAvailable) >= wanted) return;
    // A warning, whether the run goes on (IgnoreDiskSpace, the user's OK) or
    // stops ("Operation aborted" follows then): the text already says
    // "Warning:", so no "Error: " goes in front of it. The figures behind it
    // go on a detail line of their own.
    auto logShortage = [&] {
        AddLog(KV_NoFreeSpace_1, lcRed, 1, lkNormal);
        AddLog(KV_UnitFreeSpace + IntToStr(freeAvailable) + " " + KV_BytesFree + ", " +
                   IntToStr(static_cast<int64_t>(std::ceil(wanted))) + " " + KV_BytesWanted,
               lcBlack, 2, lkDetail);
    };
    if (job_.IgnoreDiskSpace) return logShortage();
    // Unattended, the answer that writes nothing is taken: stop.
    if (!KorvaneState().Batch && ShowMessageBox(KV_NoFreeSpace_1 + ".\r\n" + KV_NoFreeSpace_2, KV_NoFreeSpace_Title,
                                 MB_OKCANCEL | MB_ICONWARNING) == IDOK)
        return;
    logShortage();
    if (KorvaneState().Batch) Fail();
    else RequestCancel();
}

void TBackupRun::PrepareDestination() {
    if (job_.Mode == bmHardDisk) {
        archiver_.SetSpanningMode(smNone);
        if (!DirectoryExists(job_.Destination)) {
            AskUser(KQ_NoDirHD, KQ_NoDirHD_Title, MB_ICONERROR,
                    [this](const std::string& line) { AddLog(line, lcRed, 0, lkNormal); });
            return Fail();
        }
    } else {
        archiver_.SetSpanningMode(smSplitting);
        // Volumes or an image of an earlier run must never be taken for this one's.
        disc_ = std::make_unique<TDiscSteps>(host_.WindowOwner(),
                                             TDiscJob{job_.AppDir, job_.TempDir, job_.ArchiveName, job_.DeviceId,
                                                      job_.Rewritable},
                                             LogCall());
        disc_->RemoveStaleOutput();
    }
    TraceMark("free space checked");
}

void TBackupRun::ZipFiles() {
    zipStarted_ = Now();
    AddLog(KV_Start_Zip + " [" + DateTimeToStr(Now()) + "]", lcBlack, 2, lkNormal);
    archiver_.TempDir = job_.TempDir;
    if (!OpenArchiveTarget()) return Fail();

    TStringList masks;
    if (job_.Filters && !job_.InclusionMask.empty()) SplitMasks(job_.InclusionMask, masks);
    else masks.Add("*.*");
    ApplyMasks(RecursiveDirs, masks);
    ApplyMasks(FlatDirs, masks);

    {
        TFormZipWait form(host_.WindowOwner(), *this, job_.Filters ? job_.ExclusionMask : std::string());
        form.SetCaption(std::string(kProductName) + KV_ZipWait_Title);
        TActiveStep step(form, [&form] { form.ButtonCancelClick(); }, [this] { DiscardArchive(writing_); });
        TraceMark("compression window");
        form.ShowModal();
    }
    TraceMark("compression ended");
    try {
        if (!stop_) {
            CountArchive();
            AddLog(KV_ZipCreated + " [" + DateTimeToStr(Now()) + "]", lcBlue, 1, lkNormal);
            host_.ShowArchiveSize(archiver_.GetArchiveSize());
        }
        archiver_.CloseArchive();
    } catch (const std::exception& e) {
        AddLog(KV_Error + ": " + DescribeError(e), lcRed, 0, lkNormal);
        Fail();
        try {
            archiver_.CloseArchive();
        } catch (const std::exception& closing) {
            AddLog(KV_Error + ": " + DescribeError(closing), lcRed, 0, lkNormal);
        }
    }
    TraceMark("archive closed");
    // A stopped run leaves no archive behind that could pass for a backup;
    // an archive it was to replace is left as it was.
    if (stop_) DiscardArchive(writing_);
}

void TBackupRun::ReplaceArchive() {
    ArchiveWritten = CommitArchive(target_);
    if (ArchiveWritten.empty()) {
        Fail();
        return DiscardArchive(writing_);
    }
    ZipDuration = Now() - zipStarted_;
    if (job_.Mode != bmHardDisk) return;
    AddLog(KV_HDZipCreated + " " + job_.Destination, lcBlue, 1, lkNormal);
    AddLog(KV_HDZipCreatedTime + FormatDuration(ZipDuration), lcBlue, 1, lkNormal);
}

void TBackupRun::DiscStep(void (TDiscSteps::*step)()) {
    ((*disc_).*step)();
    if (!disc_->Cancel) return;
    if (disc_->UserCancelled) RequestCancel();
    else Fail();
}

void TBackupRun::DiscardArchive(const std::string& file) {
    try {
        archiver_.CloseArchive();
    } catch (const std::exception& e) {
        AddLog(KV_Error + ": " + DescribeError(e), lcRed, 0, lkNormal);
    }
    if (file.empty()) return;
    DeleteArchiveFiles(file, LogCall());
}

void TBackupRun::CountArchive() {
    ArchivedFiles = ArchivedBytes = 0;
    for (int i = 0; i < archiver_.Count(); ++i) {
        const TDirItem& item = archiver_.Items(i);
        if (item.IsFolder()) continue;
        ++ArchivedFiles;
        ArchivedBytes += static_cast<int64_t>(item.uncompressedSize);
    }
}

} // namespace krv
