// The compression worker of a run: feeds the two folder lists (as masks) to
// the main window's archiver and commits the archive. Every change of a
// window control or of the log is handed to the user-interface thread.
#pragma once
#include "app/Log.h"
#include "app/ZipCheckDirsThread.h"
#include "framework/ComCtrls.h"
#include "framework/RichLog.h"
#include "framework/Strings.h"
#include "framework/Thread.h"
#include "framework/Window.h"
#include "zip/ZipArchiver.h"
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace krv {

class TAnimate;
class TButton;

// Where the worker's events go on the user-interface thread.
struct TZipperView {
    TProgressBar* ProgressBar = nullptr;       // overall
    TProgressBar* ProgressBarFile = nullptr;   // current file
    TRichLog* EditZipMsg = nullptr;
    TAnimate* AnimateChecking = nullptr;
    TButton* ButtonCancel = nullptr;
    // The main window's log call, for one line and for lines of one colour.
    std::function<void(const std::string& msg, int colour, int level, int kind)> AddLog;
    std::function<void(const std::vector<std::string>& lines, int colour, int level, int kind)> AddLogLines;
    // Called on the user-interface thread after every hand-off (tests).
    std::function<void()> AfterHandOff;
    // Called on the worker at each file's progress, before it reads Cancel
    // (tests hold the worker here).
    std::function<void(const std::string& fileName, double progress, TZipProgressPhase phase)> BeforeFileProgress;
};

class TZipperThread : public TThread {
public:
    // Starts at once. The masks and the archiver belong to the main window,
    // which leaves them alone until the thread has ended.
    // keepOut: a file never archived (the old backup this run replaces, when
    // the destination lies inside a ticked folder). folderLinks: ticked links
    // to folders, named as the search names those it meets.
    TZipperThread(const TZipperView& view, const TStringList& recursiveMasks, const TStringList& flatMasks,
                  TZipArchiver& archiver, const std::string& exclusionText, const std::string& keepOut = {},
                  std::vector<std::string> folderLinks = {});
    ~TZipperThread() override;

    // The archiver's failure code that stopped the run (0: none).
    int ErrorCode = 0;
    // Files left out of the archive, each with its red line.
    int Skipped = 0;
    // Folders the search left out (not listed, or links), each named in the log.
    int FoldersLeftOut = 0;
    // Files stored as last read although they changed during each read,
    // each with its red line: archived, so not left out.
    int ChangedWhileRead = 0;
    // Stops the archiver at its next progress event; set by the user's Cancel
    // and by a failure that aborts.
    std::atomic<bool> Cancel{false};
    bool Animating = true;
    // Hand-offs cost the worker a round trip to the window thread each, and
    // the message window pays for every line it lays out and for every batch
    // it takes (its scroll bar and a repaint): "Adding" lines, the lines of
    // files left out and bar positions are gathered and handed over together
    // at most once per this many milliseconds (0: each at once), and no
    // sooner than twice the time the window's last batch took. They, the
    // other lines of the message box and the animation's start and stop are
    // posted: the worker never waits while the window shows them.
    static inline std::atomic<unsigned> HandOffInterval{100};

protected:
    void Execute() override;

private:
    void HandOff(const std::function<void()>& fn, bool skipWhenTerminated);
    void ShowMessage(const std::string& message);
    // Steps of the window that go with the posted lines.
    enum : unsigned { kSearchStarts = 1, kSearchEnds = 2 };
    // Posts the gathered lines (and the bar positions with bars, and steps) to the window.
    void Post(bool bars, unsigned steps = 0);
    // Posts the gathered lines and waits until all that was posted is shown.
    void FlushLines();
    // On the user-interface thread: shows what was posted.
    void ShowPosted();
    // Posts the gathered lines and changed bar positions when the interval
    // has passed, or at once with now.
    void HandOver(bool now);
    // The commit is at its last file (the directory and the flush follow).
    bool AtLastFile() const;
    bool Due(unsigned long& last) const;
    void ProcessFileFailure(const std::string& fileName, int errorCode, TZipAction& action);
    // A line of the message box that also goes to the log (a file or folder left out).
    void LeaveOut(const std::string& line, int colour);
    const TBackedUpFolders& BackedUpFolders();
    void OverallProgress(double progress, TZipProcessOperation operation, TZipProgressPhase phase, bool& cancel);
    void FileProgress(const std::string& fileName, double progress, TZipProgressPhase phase, bool& cancel);
    void StopAnimation();
    void Detach();

    TZipperView view_;
    const TStringList& recursiveMasks_;
    std::optional<TBackedUpFolders> backedUp_;
    const TStringList& flatMasks_;
    TStringList exclusionList_;
    TZipArchiver& archiver_;
    std::string keepOut_;
    std::vector<std::string> folderLinks_;
    decltype(TZipArchiver::OnConfirmProcessFile) previousConfirm_;
    std::string message_;
    int overallPos_ = 0;
    int filePos_ = 0;
    struct TBoxLine {
        std::string text;
        int colour = lcBlack;
        bool logged = false;             // also a line of the log and report
    };
    std::vector<TBoxLine> pending_;      // lines not yet posted
    struct TPosted {
        std::vector<TBoxLine> lines;
        int overall = -1, file = -1;     // bar positions (-1: unchanged)
        unsigned steps = 0;              // kSearchStarts, kSearchEnds
        bool onItsWay = false;           // a message to show them is posted
    };
    std::mutex postedLock_;
    TPosted posted_;                     // posted, not yet shown (guarded)
    std::unique_ptr<TMessageWindow> postWindow_;   // on the user-interface thread
    unsigned long handedOver_ = 0;       // tick of the last hand-off of lines and bars
    std::atomic<unsigned long> showCost_{0};   // milliseconds the window's last batch took
    int shownOverall_ = -1, shownFile_ = -1;
};

// Why a file the archiver could not open was left out: not found, locked by
// another process, or the system's own reason ("... skipped."), from the
// system's error behind the archiver's open (0: the file is tried again).
std::string SkipReason(const std::string& fileName, int errorCode, unsigned long systemError, unsigned shareFlags);

// The stored name of a file: the drive letter as the first folder
// (C:\data\a.txt, stored as data\a.txt, becomes C\data\a.txt).
void StoreWithDriveFolder(std::string& storedName, const std::string& fullPath);

} // namespace krv
