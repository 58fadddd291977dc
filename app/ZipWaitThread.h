// The compression worker of a run: feeds the two folder lists (as masks) to
// the main window's archiver and commits the archive. Every change of a
// window control or of the log is handed to the user-interface thread.
#pragma once
#include "framework/ComCtrls.h"
#include "framework/RichLog.h"
#include "framework/Strings.h"
#include "framework/Thread.h"
#include "zip/ZipArchiver.h"
#include <atomic>
#include <functional>
#include <string>

namespace krv {

class TAnimateChecking;
class TButton;

// Where the worker's events go on the user-interface thread.
struct TZipperView {
    TProgressBar* ProgressBar = nullptr;       // overall
    TProgressBar* ProgressBarFile = nullptr;   // current file
    TRichLog* EditZipMsg = nullptr;
    TAnimateChecking* AnimateChecking = nullptr;
    TButton* ButtonCancel = nullptr;
    // The main window's log call.
    std::function<void(const std::string& msg, int colour, int level, int kind)> AddLog;
    // Called on the user-interface thread after every hand-off (tests).
    std::function<void()> AfterHandOff;
};

class TZipperThread : public TThread {
public:
    // Starts at once. The masks and the archiver belong to the main window,
    // which leaves them alone until the thread has ended.
    TZipperThread(const TZipperView& view, const TStringList& recursiveMasks, const TStringList& flatMasks,
                  TZipArchiver& archiver, const std::string& exclusionText);
    ~TZipperThread() override;

    // The archiver's failure code that stopped the run (0: none).
    int ErrorCode = 0;
    // Stops the archiver at its next progress event; set by the user's Cancel
    // and by a failure that aborts.
    std::atomic<bool> Cancel{false};
    bool Animating = true;

protected:
    void Execute() override;

private:
    void HandOff(const std::function<void()>& fn, bool skipWhenTerminated);
    void ShowMessage(const std::string& message);
    void ProcessFileFailure(const std::string& fileName, int errorCode, TZipAction& action);
    void OverallProgress(double progress, TZipProcessOperation operation, TZipProgressPhase phase, bool& cancel);
    void FileProgress(const std::string& fileName, double progress, TZipProgressPhase phase, bool& cancel);
    void StopAnimation();
    void Detach();

    TZipperView view_;
    const TStringList& recursiveMasks_;
    const TStringList& flatMasks_;
    TStringList exclusionList_;
    TZipArchiver& archiver_;
    std::string message_;
    int overallPos_ = 0;
    int filePos_ = 0;
};

// The stored name of a file: the drive letter as the first folder
// (C:\data\a.txt, stored as data\a.txt, becomes C\data\a.txt).
void StoreWithDriveFolder(std::string& storedName, const std::string& fullPath);

} // namespace krv
