#include "app/ZipWaitThread.h"
#include "app/RunTrace.h"
#include "app/Log.h"
#include "app/Messages.h"
#include "app/SplitString.h"
#include "app/ZipWait.h"
#include "app/ZipCheckDirsThread.h"
#include "framework/SysUtils.h"
#include "framework/Stream.h"
#include <algorithm>
#include <cmath>

namespace krv {

namespace {
constexpr UINT kShowPostedMessage = WM_APP + 0x31;
}

void StoreWithDriveFolder(std::string& storedName, const std::string& fullPath) {
    std::string drive = ExtractFileDrive(fullPath);
    if (drive.empty()) return;
    if (drive.size() > 2 && drive[0] == '\\' && drive[1] == '\\') {
        // \\server\share\dir\f.txt is stored as share\dir\f.txt: the server becomes the first folder.
        std::string server = drive.substr(2, drive.find('\\', 2) - 2);
        storedName = server + "\\" + storedName;
        return;
    }
    storedName = drive.substr(0, drive.size() - 1) + "\\" + storedName;
}

std::string SkipReason(const std::string& fileName, int errorCode, unsigned long systemError, unsigned shareFlags) {
    if (errorCode == ZipErrorCode::FileNotFound) return KV_ZPFileNotFound;
    // The system's answer to the archiver's own open; when the archiver
    // knows none, ask the system again.
    DWORD error = systemError;
    if (error == ERROR_SUCCESS) try {
        TFileStream probe(fileName, fmOpenRead | shareFlags);
    } catch (const EFOpenError& e) {
        error = e.Error;
    }
    switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return KV_ZPFileLocked;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return KV_ZPFileNotFound;
    case ERROR_SUCCESS: return KV_ZPFileUnread;
    default: return KV_ZPFileCannotRead + " " + TrimRight(SysErrorMessage(error));
    }
}

TZipperThread::TZipperThread(const TZipperView& view, const TStringList& recursiveMasks, const TStringList& flatMasks,
                             TZipArchiver& archiver, const std::string& exclusionText, const std::string& keepOut,
                             std::vector<std::string> folderLinks)
    : view_(view), recursiveMasks_(recursiveMasks), flatMasks_(flatMasks), archiver_(archiver),
      keepOut_(EntryPath(keepOut)), folderLinks_(std::move(folderLinks)), previousConfirm_(archiver.OnConfirmProcessFile) {
    postWindow_ = std::make_unique<TMessageWindow>([this](UINT msg, WPARAM, LPARAM, LRESULT& result) {
        if (msg != kShowPostedMessage) return false;
        result = 0;
        ShowPosted();
        if (view_.AfterHandOff) view_.AfterHandOff();
        return true;
    });
    SplitMasks(exclusionText, exclusionList_);
    if (!keepOut_.empty()) {
        // By its exact name (the real one: the search's names are a
        // listing's): a mask could match other files too, and "x.zip" beside
        // "X.zip" is another file.
        archiver_.OnConfirmProcessFile = [this](TObject* sender, const std::string& fileName,
                                                TZipProcessOperation operation, bool& confirm) {
            if (fileName == keepOut_) {
                confirm = false;
                return;
            }
            if (previousConfirm_) previousConfirm_(sender, fileName, operation, confirm);
        };
    }
    archiver_.OnProcessFileFailure = [this](TObject*, const std::string& fileName, TZipProcessOperation, int,
                                            int errorCode, const std::string& errorMessage, TZipAction& action) {
        ProcessFileFailure(fileName, errorCode, action);
        if (action == fxaAbort) {
            message_ = fileName + ": " + errorMessage;
            HandOff([this] { view_.AddLog(message_, lcRed, 0, lkNormal); }, false);
        }
    };
    archiver_.OnOverallProgress = [this](TObject*, double progress, TZipProcessOperation operation,
                                         TZipProgressPhase phase, bool& cancel) {
        OverallProgress(progress, operation, phase, cancel);
    };
    archiver_.OnFileProgress = [this](TObject*, const std::string& fileName, double progress, TZipProcessOperation,
                                      TZipProgressPhase phase, bool& cancel) {
        FileProgress(fileName, progress, phase, cancel);
    };
    archiver_.OnStoreFile = [](TObject*, std::string& fileName, uint32_t&, std::string&, const std::string& fullPath) {
        StoreWithDriveFolder(fileName, fullPath);
    };
    Start();
}

TZipperThread::~TZipperThread() {
    WaitFor();
    Detach();
}

void TZipperThread::Detach() {
    archiver_.OnProcessFileFailure = nullptr;
    archiver_.OnOverallProgress = nullptr;
    archiver_.OnFileProgress = nullptr;
    archiver_.OnStoreFile = nullptr;
    if (!keepOut_.empty()) archiver_.OnConfirmProcessFile = previousConfirm_;
}

void TZipperThread::HandOff(const std::function<void()>& fn, bool skipWhenTerminated) {
    if (skipWhenTerminated && Terminated()) return;
    Synchronize([&] {
        fn();
        if (view_.AfterHandOff) view_.AfterHandOff();
    });
}

bool TZipperThread::Due(unsigned long& last) const {
    unsigned long now = ::GetTickCount();
    // The window gets as long to itself as its last batch took it: lines
    // that come faster than it lays them out would keep it busy to the end
    // (each batch laying out what the next one pushes out), and slow to
    // answer Cancel.
    const unsigned long wait = HandOffInterval == 0 ? 0 : std::max<unsigned long>(HandOffInterval, 2 * showCost_);
    if (wait != 0 && last != 0 && now - last < wait) return false;
    last = now;
    return true;
}

void TZipperThread::Post(bool bars, unsigned steps) {
    if (pending_.empty() && !bars && steps == 0) return;
    bool post = false;
    {
        std::lock_guard<std::mutex> guard(postedLock_);
        posted_.lines.insert(posted_.lines.end(), std::make_move_iterator(pending_.begin()),
                             std::make_move_iterator(pending_.end()));
        if (bars) {
            posted_.overall = shownOverall_;
            posted_.file = shownFile_;
        }
        posted_.steps |= steps;
        post = !posted_.onItsWay;
        posted_.onItsWay = true;
    }
    pending_.clear();
    // What is posted while the window is still busy with earlier lines goes
    // with the message already on its way.
    if (post && !::PostMessageA(postWindow_->Handle(), kShowPostedMessage, 0, 0)) {
        // A full queue: the next post tries again, and the end shows it all anyway.
        std::lock_guard<std::mutex> guard(postedLock_);
        posted_.onItsWay = false;
    }
}

void TZipperThread::ShowPosted() {
    struct TCost {
        std::atomic<unsigned long>& cost;
        unsigned long started;
        ~TCost() { cost = ::GetTickCount() - started; }
    } measure{showCost_, ::GetTickCount()};
    TPosted posted;
    {
        std::lock_guard<std::mutex> guard(postedLock_);
        std::swap(posted, posted_);
    }
    if (posted.steps & kSearchStarts) {
        if (view_.AnimateChecking) {
            view_.AnimateChecking->Show();
            view_.AnimateChecking->Play();
        }
        if (!Terminated() && view_.ButtonCancel) view_.ButtonCancel->SetEnabled(false);
    }
    if (posted.steps & kSearchEnds) {
        // Compression begins and can be cancelled.
        if (view_.ButtonCancel && !UserCancelled) view_.ButtonCancel->SetEnabled(true);
        StopAnimation();
    }
    if (posted.overall >= 0 && view_.ProgressBar) view_.ProgressBar->SetPosition(posted.overall);
    if (posted.file >= 0 && view_.ProgressBarFile) view_.ProgressBarFile->SetPosition(posted.file);
    if (posted.lines.empty()) return;
    if (view_.EditZipMsg) {
        // One insertion for the batch, whatever its colours; it scrolls to its end.
        std::vector<TLogLine> box;
        box.reserve(posted.lines.size());
        for (TBoxLine& line : posted.lines)
            box.push_back({line.logged ? line.text : std::move(line.text), LogColourValue(line.colour)});
        view_.EditZipMsg->AddLines(box);
    }
    // The log takes the lines of files left out, each run of one colour at once.
    std::vector<std::string> run;
    int runColour = lcBlack;
    auto logRun = [&] {
        if (run.empty()) return;
        view_.AddLogLines(run, runColour, 0, lkNormal);
        run.clear();
    };
    for (TBoxLine& line : posted.lines) {
        if (!line.logged) continue;
        if (line.colour != runColour) logRun();
        runColour = line.colour;
        run.push_back(std::move(line.text));
    }
    logRun();
}

void TZipperThread::FlushLines() {
    Post(false);
    {
        std::lock_guard<std::mutex> guard(postedLock_);
        if (!posted_.onItsWay) return;
    }
    HandOff([this] { ShowPosted(); }, true);
}

void TZipperThread::HandOver(bool now) {
    const bool bars = overallPos_ != shownOverall_ || filePos_ != shownFile_;
    if (!bars && pending_.empty()) return;
    // One clock for lines and bars: each hand-off wakes the window once.
    if (!Due(handedOver_) && !now) return;
    shownOverall_ = overallPos_;
    shownFile_ = filePos_;
    Post(bars);
}

bool TZipperThread::AtLastFile() const {
    const int toProcess = archiver_.ItemsToProcess();
    return toProcess > 0 && archiver_.ItemsProcessed() + Skipped + 1 >= toProcess;
}

void TZipperThread::ShowMessage(const std::string& message) {
    if (Terminated()) return;
    pending_.push_back({message});
    Post(false);
}

void TZipperThread::StopAnimation() {
    if (!view_.AnimateChecking) return;
    view_.AnimateChecking->Stop();
    view_.AnimateChecking->Hide();
    Animating = false;
}

void TZipperThread::Execute() {
    TraceMark("archiver starts");
    Post(false, kSearchStarts);
    ShowMessage(KV_PrepZip);
    ShowMessage(KV_ZipCheckingFiles);
    ShowMessage(KV_WarningWaitChecking);

    archiver_.BeginUpdate();
    try {
        archiver_.FileMasks().Clear();
        archiver_.ExclusionMasks().Clear();
        archiver_.SetExclusionMasks(exclusionList_);
        archiver_.Options.Recurse = false;
        archiver_.Options.SearchAttr = 47;   // read-only, hidden, system, volume label, archive
        archiver_.SetFileMasks(flatMasks_);
        archiver_.AddFiles();
        overallPos_ = 0;
        HandOver(true);
        archiver_.Options.Recurse = true;
        archiver_.Options.SearchAttr = 63;   // the same and folders
        archiver_.SetFileMasks(recursiveMasks_);
        archiver_.AddFiles();
        TZipAction skip = fxaIgnore;
        for (const std::string& link : folderLinks_) ProcessFileFailure(link, ZipErrorCode::FolderLinkNotFollowed, skip);
    } catch (...) {
        FlushLines();
        // The update must not be committed later by the archive's close: a
        // commit cancelled at its first event rolls it back here.
        Cancel = true;
        try {
            archiver_.EndUpdate();
        } catch (const std::exception& rollback) {
            message_ = DescribeError(rollback);
            HandOff([this] { view_.AddLog(message_, lcRed, 0, lkNormal); }, false);
        }
        throw;
    }
    try {
        archiver_.EndUpdate();
    } catch (...) {
        FlushLines();
        throw;
    }
    TraceMark("archiver ended");
    // Everything posted is shown before the window learns that the work ended.
    HandOver(true);
    FlushLines();
}

void TZipperThread::ProcessFileFailure(const std::string& fileName, int errorCode, TZipAction& action) {
    if (errorCode == ZipErrorCode::FolderLinkNotFollowed) {
        const TLinkTarget target = LinkTargetOf(fileName, BackedUpFolders());
        // Nothing asked for is missing unless the target is left out: a plain line, not counted.
        if (target == ltLeftOut) ++FoldersLeftOut;
        LeaveOut(LinkLine(fileName, target), target == ltLeftOut ? lcRed : lcBlack);
    } else if (errorCode == ZipErrorCode::CannotListFolder) {
        // The search says only that it could not list the folder: ask the system why.
        ++FoldersLeftOut;
        LeaveOut(FolderLeftOutLine(fileName, FolderListingError(fileName), false), lcRed);
    } else if (errorCode == ZipErrorCode::FileNotFound || errorCode == ZipErrorCode::CannotOpenFile) {
        ++Skipped;
        LeaveOut(fileName + " " +
                     SkipReason(fileName, errorCode, archiver_.FailureSystemError(), archiver_.ShareFlags()),
                 lcRed);
    } else if (errorCode == ZipErrorCode::SourceShrank || errorCode == ZipErrorCode::CannotReadFile) {
        // Its partial entry is already cut off the archive; the run goes on.
        ++Skipped;
        LeaveOut(fileName + " " +
                     (errorCode == ZipErrorCode::SourceShrank
                          ? KV_ZPFileChanged
                          : KV_ZPFileReadFailed + " " + TrimRight(SysErrorMessage(archiver_.FailureSystemError()))),
                 lcRed);
    } else if (errorCode == ZipErrorCode::SourceChanged) {
        // The preset action keeps the copy read last in the archive.
        ++ChangedWhileRead;
        LeaveOut(fileName + " " + KV_ZPFileChangedStored, lcRed);
    } else {
        // The run ends: what was posted is shown before the line that says why.
        FlushLines();
        ErrorCode = errorCode;
        Cancel = true;
        action = fxaAbort;
        return;
    }
    // The preset action skips the file or folder.
}

void TZipperThread::LeaveOut(const std::string& line, int colour) {
    if (Terminated()) return;
    // With the "Adding" lines, in their order and on their clock: a hand-off
    // of its own per file made a run with thousands left out take an hour.
    pending_.push_back({line, colour, true});
    HandOver(false);
}

const TBackedUpFolders& TZipperThread::BackedUpFolders() {
    if (!backedUp_) {
        // The folders of the masks, searched with their subfolders or alone.
        backedUp_.emplace();
        for (int i = 0; i < recursiveMasks_.Count(); ++i) backedUp_->Whole.push_back(ExtractFilePath(recursiveMasks_[i]));
        for (int i = 0; i < flatMasks_.Count(); ++i) backedUp_->Own.push_back(ExtractFilePath(flatMasks_[i]));
        backedUp_->Excluded = [this](const std::string& folder, const std::string& searched) {
            return archiver_.ExclusionKeepsOut(folder, searched);
        };
    }
    return *backedUp_;
}

void TZipperThread::OverallProgress(double progress, TZipProcessOperation operation, TZipProgressPhase phase,
                                    bool& cancel) {
    if (phase == ppStart && operation == poAdd) {
        // The search is over.
        TraceMark("files found");
        Post(false, kSearchEnds);
        ShowMessage(KV_ZipFilesChecked);
    }
    overallPos_ = static_cast<int>(std::lround(progress));
    HandOver(phase == ppEnd);
    cancel = Cancel;
}

void TZipperThread::FileProgress(const std::string& fileName, double progress, TZipProgressPhase phase, bool& cancel) {
    filePos_ = static_cast<int>(std::lround(progress));
    if (view_.BeforeFileProgress) view_.BeforeFileProgress(fileName, progress, phase);
    cancel = Cancel;
    if (phase == ppStart) pending_.push_back({KV_Adding + fileName});
    // The window falls behind when many small files come at once, and the
    // run ends only when it has shown every line: the last lines go as soon
    // as the last file is written, and the window works them off while the
    // archive's directory is written and flushed.
    HandOver(phase == ppEnd && AtLastFile());
}

} // namespace krv
