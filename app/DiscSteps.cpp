#include "app/DiscSteps.h"
#include "app/Unattended.h"
#include "app/FormWait.h"
#include "app/Log.h"
#include "app/Messages.h"
#include "app/ProgressWindow.h"
#include "framework/Dialogs.h"
#include "framework/SysUtils.h"

namespace krv {

std::string TwoDigits(int n) { return Format("%02d", n); }

std::string ConsolePath(const std::string& path) { return StringReplaceAll(path, "\\", "/"); }

namespace {
std::string Quoted(const std::string& s) {
    std::string q(1, '"');
    q += s;
    q += '"';
    return q;
}
std::string Tool(const std::string& appDir, const char* exe) {
    std::string path = appDir;
    path += "tools\\";
    path += exe;
    return Quoted(path);
}
}

TDiscSteps::TDiscSteps(TComponent* windowOwner, TDiscJob job, TLogCall log)
    : windowOwner_(windowOwner), job_(std::move(job)), log_(std::move(log)) {}

void TDiscSteps::Log(const std::string& msg, int colour, int level, int kind) const {
    if (log_) log_(msg, colour, level, kind);
}

std::string TDiscSteps::Stamp() const {
    std::string stamp = " [";
    stamp += DateTimeToStr(Now());
    stamp += "]";
    return stamp;
}

std::string TDiscSteps::Archive() const { return IncludeTrailingBackslash(job_.TempDir) + job_.ArchiveName; }

std::string TDiscSteps::Volume(int n) const {
    std::string a = Archive();
    return a.substr(0, a.size() >= 3 ? a.size() - 3 : 0) + "z" + TwoDigits(n);
}

std::string TDiscSteps::IsoFile() const { return IncludeTrailingBackslash(job_.TempDir) + "KV_ISO.iso"; }

std::vector<std::string> TDiscSteps::ExistingVolumes() const {
    std::vector<std::string> volumes;
    for (int n = 1; FileExists(Volume(n)); ++n) volumes.push_back(Volume(n));
    return volumes;
}

std::string TDiscSteps::IsoCommand() const {
    std::string cmd = Tool(job_.AppDir, "mkisofs.exe") + " -V Backup -v -o " +
                      Quoted(ConsolePath(IsoFile())) + " -R -J -iso-level 4 " + Quoted(ConsolePath(Archive()));
    for (const std::string& v : ExistingVolumes()) {
        cmd += ' ';
        cmd += Quoted(ConsolePath(v));
    }
    return cmd;
}

std::string TDiscSteps::BlankCommand() const {
    return Tool(job_.AppDir, "cdrecord.exe") + " -v -gracetime=2 -dev=" + job_.DeviceId + " blank=fast";
}

std::string TDiscSteps::BurnCommand() const {
    return Tool(job_.AppDir, "cdrecord.exe") + " -v -eject -gracetime=2 -dev=" + job_.DeviceId +
           " -dao speed=1 " + Quoted(ConsolePath(IsoFile()));
}

TDiscSteps::StepOutcome TDiscSteps::RunStep(const std::string& commandLine, const std::string& task, int kind) {
    TFormWait window(windowOwner_);
    window.Log = log_;
    window.CommandLine = commandLine;
    window.LabelWaitTask->SetCaption(task);
    window.SetCaption(std::string(kProductName) + " :: " + task);
    window.TaskKind = kind;
    window.Animate->SetCommonAVI(kind == 1 ? aviDeleteFile : aviCopyFiles);
    // Stopped from outside (the session ends), a half-made image goes at once.
    TActiveStep step(window, [&window] { window.ButtonWaitCancelClick(); }, [this] { DeleteOne(IsoFile()); });
    if (RunWindow)
        RunWindow(window);
    else
        window.ShowModal();
    StepOutcome out;
    out.userCancelled = window.UserCancelled;
    out.programFailed = !window.UserCancelled && window.ProgramFailed();
    // The recorder also says so by its exit code when it prints none of the known texts.
    out.failed = window.RecorderError ||
                 (kind != 0 && window.Result().Started && !window.Result().Stopped && window.Result().ExitCode != 0);
    return out;
}

bool TDiscSteps::AskChangeDisc(const std::string& error, const std::string& title) {
    // Unattended, nobody can change the disc: the step is not repeated.
    auto red = [this](const std::string& line) { Log(line, lcRed, 0, lkNormal); };
    AskUser(error, title, MB_ICONERROR, red);
    return AskUser(KrvChangeDiscQuestion, KV_Retry_ChangeDisk_Title, MB_YESNO | MB_ICONEXCLAMATION, red) == IDYES;
}

bool TDiscSteps::DeleteOne(const std::string& path) {
    if (!FileExists(path)) return false;
    if (!DeleteFileAny(path)) {
        DWORD err = ::GetLastError();
        Log(KV_Error + ": " + path + ": " + SysErrorMessage(err), lcRed, 1, lkNormal);
        return false;
    }
    return true;
}

void TDiscSteps::DeleteArchiveAndVolumes() {
    DeleteOne(Archive());
    for (int n = 1; FileExists(Volume(n)); ++n) DeleteOne(Volume(n));
}

void TDiscSteps::DeleteIso(int level) {
    DeleteOne(IsoFile());
    if (level != kNoLine) Log(KV_ISO_Deleted, lcBlack, level, lkDetail);
}

void TDiscSteps::RemoveStaleOutput() {
    DeleteOne(IsoFile());
    for (int n = 1; FileExists(Volume(n)); ++n) DeleteOne(Volume(n));
}

void TDiscSteps::MakeIso() {
    // An image left by an earlier run must not pass for this run's.
    DeleteOne(IsoFile());
    const std::string command = IsoCommand();
    Log(KV_ISO_Start + Stamp(), lcBlack, 2, lkNormal);
    StepOutcome out = RunStep(command, KV_ISO_Start, 0);
    if (out.userCancelled) {
        DeleteArchiveAndVolumes();
        Log(KV_UserCancel, lcRed, 1, lkNormal);
        DeleteArchiveAndVolumes();
        Log(KV_Zip_Deleted, lcBlack, 2, lkDetail);
        DeleteOne(IsoFile());
        Cancel = UserCancelled = true;
        return;
    }
    // Judged by the image, except that a program that died leaves at best a torn one.
    if (out.programFailed) DeleteOne(IsoFile());
    if (!FileExists(IsoFile()) && !Cancel) {
        Log(KV_ISO_Error + Stamp(), lcRed, 1, lkNormal);
        if (!KorvaneState().Batch) ShowMessageBox(KV_ISO_Error, KV_ISO_Error_Title, MB_ICONERROR);
        Cancel = true;
    } else {
        Log(KV_ISO_OK + Stamp(), lcBlue, 1, lkNormal);
    }
    DeleteArchiveAndVolumes();
    Log(KV_Zip_Deleted, lcBlack, 2, lkDetail);
}

void TDiscSteps::BlankDisc() {
    if (!job_.Rewritable) return;
    // The image is still to be burnt: only a failed blank deletes it, silently.
    RunRecorderStep({BlankCommand(), KV_Format_Start, KV_Format_Start, 1, KV_Format_OK, KV_Format_Error,
                     KV_Format_Error_Title, kNoLine, false});
}

void TDiscSteps::BurnIso() {
    RunRecorderStep({BurnCommand(), KV_ISOBurn_Start, KV_WritingStart, 2, KV_ISOBurn_OK, KV_ISOBurn_Error,
                     KV_ISOBurn_Error_Title, 2, true});
}

void TDiscSteps::RunRecorderStep(const RecorderStep& step) {
    for (;;) {
        Log(step.startLine + Stamp(), lcBlack, 2, lkNormal);
        StepOutcome out = RunStep(step.commandLine, step.task, step.kind);
        if (out.userCancelled) {
            Log(KV_UserCancel, lcRed, 1, lkNormal);
            Cancel = UserCancelled = true;
            DeleteIso(step.deleteLevel == kNoLine ? kNoLine : 1);
            return;
        }
        // A program that could not start or died is at fault itself: no disc to change.
        const bool failed = out.programFailed || out.failed;
        if (!out.programFailed && out.failed) {
            Log(step.errorText + Stamp(), lcRed, 1, lkNormal);
            if (AskChangeDisc(step.errorText, step.errorTitle)) continue;
        }
        if (failed) Cancel = true;
        else Log(step.okText + Stamp(), lcBlue, 1, lkNormal);
        if (failed || step.imageDoneWith) DeleteIso(step.deleteLevel);
        return;
    }
}

} // namespace krv
