// One backup run: built from the session and the settings when Start is
// pressed (or a session runs unattended), it goes through its steps in a
// fixed order and ends with one outcome, which the exit code, the report's
// last lines, the status line and the mail all read. What it needs of the
// window that starts it comes through IRunHost.
#pragma once
#include "app/ConsoleForm.h"
#include "app/SessionData.h"
#include "app/ZipCheckDirs.h"
#include "framework/Strings.h"
#include "zip/ZipArchiver.h"
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace krv {

class TComponent;
class TDiscSteps;

// How a run ended.
enum TRunOutcome {
    roRunning,     // not ended yet
    roDone,        // the archive holds every selected file
    roLeftOut,     // done, but files or folders were left out, or files stored as
                   // they changed (each named in the report)
    roFailed,      // a step could not go on; nothing kept
    roCancelled,   // stopped by the user, a closed window or the end of the Windows session
};
// The program's exit code for an outcome (TRunExitCode).
int RunExitCode(TRunOutcome outcome);

// What a run is given: the session as the window holds it when the run
// starts, the settings, and where the program and its temp folder are.
struct TRunJob {
    TBackupMode Mode = bmDisc;
    std::string Destination;   // the hard-disk folder
    std::string ArchiveName;   // X.zip
    bool Overwrite = false;    // replace the archive of that name (hard disk)
    bool Filters = false;
    std::string InclusionMask, ExclusionMask;
    bool Rewritable = false;   // blank the disc first
    std::string DeviceId;      // the recorder
    std::string AppDir, TempDir;
    bool IgnoreDiskSpace = false;
    bool NetworkDestination = false;   // no free-space check
    bool SizeStale = false;            // the scan counts the size too
};

// What a run needs from the window that starts it.
class IRunHost {
public:
    virtual ~IRunHost() = default;
    virtual void AddLog(const std::string& msg, int colour, int level, int kind) = 0;
    // Lines of one colour, level and kind: one change of the log panel for all.
    virtual void AddLogLines(const std::vector<std::string>& lines, int colour, int level, int kind) {
        for (const std::string& line : lines) AddLog(line, colour, level, kind);
    }
    // The application's title during a step; empty: the product's name alone.
    virtual void ShowRunStep(const std::string& title) = 0;
    // The folder scan with its window: the lists, and the size when withSize.
    virtual void ScanFolders(bool withSize, TScanFindings& found) = 0;
    virtual int64_t SelectedBytes() = 0;
    virtual void ShowArchiveSize(int64_t bytes) = 0;
    // The owner of the run's progress windows (may be none).
    virtual TComponent* WindowOwner() = 0;
    virtual void MailReport() = 0;
    virtual void SaveReport() = 0;
    // The run concluded done: its last-backup time is kept, the report saved.
    virtual void RunDone() = 0;
};

// The configuration every run's archiver has.
void ConfigureRunArchiver(TZipArchiver& archiver);
// The free bytes a backup of selectedSize asks for.
double SpaceWanted(int64_t selectedSize);
// The free and total bytes of a drive (as the caller may use them); false,
// both -1, when the drive cannot be asked.
bool GetDriveSpace(char driveLetter, int64_t& freeAvailable, int64_t& total);

class TBackupRun {
public:
    // One step: its name, the application's title while it runs (null: the
    // title stays), what it does (a step that cannot go on stops the run),
    // and the text logged with its duration when it went well (null: none).
    struct TStep {
        std::string Name;
        const std::string* Title = nullptr;
        std::function<void()> Action;
        const std::string* DoneText = nullptr;
    };

    TBackupRun(IRunHost& host, TRunJob job, TZipArchiver& archiver);
    ~TBackupRun();
    TBackupRun(const TBackupRun&) = delete;
    TBackupRun& operator=(const TBackupRun&) = delete;

    // The steps in order; tests may replace what one does.
    std::vector<TStep>& Steps() { return steps_; }
    TStep* FindStep(const std::string& name);
    // Runs the steps; the first that leaves the run cancelled ends it in the
    // abort path, else it finishes.
    void Execute();
    // The abort path: "Operation aborted", the mail (unless the Windows
    // session ends) and the report. Once only.
    void AbortRun();

    // A request to stop (the user's Cancel, a closed window, the end of the
    // Windows session): the run ends cancelled after the current step.
    void RequestCancel();
    // A step cannot go on: the run ends failed after it.
    void Fail();
    // Whether the run stops after the current step.
    bool Stopping() const { return stop_; }

    TRunOutcome Outcome() const { return outcome_; }
    int ExitCode() const { return RunExitCode(outcome_); }
    bool Ended() const { return outcome_ != roRunning; }

    // What the run has gathered: the folder lists, what was left out, and the
    // archive it wrote.
    TStringList RecursiveDirs, FlatDirs;
    // Ticked links to folders the scan met: never followed, the archive step names them.
    std::vector<std::string> FolderLinks;
    int LeftOut = 0;
    // Files in the archive that changed while they were read (each named).
    int ChangedWhileRead = 0;
    int64_t ArchivedFiles = 0;
    int64_t ArchivedBytes = 0;
    std::string ArchiveWritten;
    // The old archive an "Overwrite" run replaces at its end (empty: none).
    std::string ArchiveToReplace;
    double ZipDuration = 0;   // days
    const TRunJob& Job() const { return job_; }
    TZipArchiver& Archiver() { return archiver_; }
    void AddLog(const std::string& msg, int colour, int level, int kind) { host_.AddLog(msg, colour, level, kind); }
    void AddLogLines(const std::vector<std::string>& lines, int colour, int level, int kind) {
        host_.AddLogLines(lines, colour, level, kind);
    }
    // A ticked folder whose files cannot be backed up: said in red and counted.
    void FolderLeftOut(const std::string& path);

    // The steps (each stops the run, by Fail or RequestCancel, when it cannot go on).
    void MakeLists();
    void CheckFreeSpace(const std::string& path);
    void PrepareDestination();
    void ZipFiles();
    void ReplaceArchive();
    void FinishRun();

private:
    void BuildSteps();
    void DiscStep(void (TDiscSteps::*step)());
    bool OpenArchiveTarget();
    std::string CommitArchive(std::string target);
    void DiscardArchive(const std::string& file);
    void CountArchive();
    std::string FormatDuration(double days) const;
    TLogCall LogCall();

    IRunHost& host_;
    TRunJob job_;
    TZipArchiver& archiver_;
    std::vector<TStep> steps_;
    std::unique_ptr<TDiscSteps> disc_;
    bool stop_ = false;
    bool requested_ = false;   // stopped by a request, not by a failure
    TRunOutcome outcome_ = roRunning;
    std::string target_;       // the archive's name once the run succeeds
    std::string writing_;      // the temporary file written meanwhile
    TDateTime zipStarted_ = 0;
    std::string durationFormat_;
    unsigned long durationLocale_ = 0;
};

} // namespace krv
