// The disc steps of a backup run: the ISO image of the archive and its
// volumes (mkisofs), blanking a rewritable disc and burning the image
// (cdrecord). Each step runs its program in the console task window and sets
// Cancel when the run must stop.
#pragma once
#include "app/ConsoleForm.h"
#include <functional>
#include <string>
#include <vector>

namespace krv {

class TFormWait;

struct TDiscJob {
    std::string AppDir;        // the program folder, with a trailing "\"
    std::string TempDir;       // where the archive, its volumes and the image lie
    std::string ArchiveName;   // the archive's file name (X.zip)
    std::string DeviceId;      // the recorder address, such as 0,0,0
    bool Rewritable = false;   // blank the disc first
};

// n with at least two digits.
std::string TwoDigits(int n);
// The name the programs get: "/" instead of "\".
std::string ConsolePath(const std::string& path);

class TDiscSteps {
public:
    TDiscSteps(TComponent* windowOwner, TDiscJob job, TLogCall log);

    bool Cancel = false;
    bool UserCancelled = false;   // Cancel came from the user (or a closed window)
    // Shows the console task window; tests may replace it.
    std::function<void(TFormWait& window)> RunWindow;

    std::string Archive() const;
    std::string Volume(int n) const;
    std::string IsoFile() const;
    // The archive's volumes that exist, from .z01 up to the first gap.
    std::vector<std::string> ExistingVolumes() const;

    std::string IsoCommand() const;
    std::string BlankCommand() const;
    std::string BurnCommand() const;

    void MakeIso();
    void BlankDisc();
    void BurnIso();

    // Removes volumes and an image left in the temp folder by an earlier run,
    // so they are never taken for this run's output. Call before compressing.
    void RemoveStaleOutput();

private:
    struct StepOutcome {
        bool userCancelled = false;
        bool failed = false;          // recorder error line or failing exit code
        bool programFailed = false;   // could not start or died
    };
    StepOutcome RunStep(const std::string& commandLine, const std::string& task, int kind);
    // A step of the recorder program, repeated after a disc change the user agrees to.
    struct RecorderStep {
        std::string commandLine;
        const std::string& startLine;   // logged at each try
        const std::string& task;        // the console window's task text
        int kind;
        const std::string& okText;
        const std::string& errorText;
        const std::string& errorTitle;
        int deleteLevel;                // report level of the image's deletion line (kNoLine: none)
        bool imageDoneWith;             // the image is deleted after success too
    };
    void RunRecorderStep(const RecorderStep& step);
    bool AskChangeDisc(const std::string& error, const std::string& title);
    void DeleteArchiveAndVolumes();
    static constexpr int kNoLine = -1;
    void DeleteIso(int level);
    bool DeleteOne(const std::string& path);
    std::string Stamp() const;
    void Log(const std::string& msg, int colour, int level, int kind) const;

    TComponent* windowOwner_;
    TDiscJob job_;
    TLogCall log_;
};

} // namespace krv
