// The compression window of a run: starts the compression worker, shows its
// progress and messages, and lets the user stop it (after a confirmation).
#pragma once
#include "app/ProgressWindow.h"
#include "app/ZipWaitThread.h"
#include "framework/ComCtrls.h"
#include "framework/Handle.h"
#include "framework/Forms.h"
#include "framework/RichLog.h"
#include "framework/StdCtrls.h"
#include <atomic>
#include <memory>

namespace krv {

class TBackupRun;

// The lines the compression window keeps (the last ones).
constexpr int kZipMessageLines = 1000;

// The user stopped the compression (program-wide, as the run reads it).
extern bool UserCancelled;

class TFormZipWait : public TForm {
public:
    // The run gives the lists, the archiver and the archive to replace, and
    // hears how the compression ended. exclusionText: the session's
    // exclusion masks when its filters are on.
    TFormZipWait(TComponent* owner, TBackupRun& run, const std::string& exclusionText);
    ~TFormZipWait() override;

    void FormShow();
    // The compression starts from the message loop once the window is shown.
    void StartCompression();
    void ButtonCancelClick();
    // What Cancel does once decided (also what a close of the window does): the
    // worker stops at its next event.
    void CancelCompression();
    void ButtonMinimizeClick();
    void ZipperThreadTerminate();

    TLabel* LabelWait = nullptr;
    TProgressBar* ProgressBar = nullptr;
    TProgressBar* ProgressBarFile = nullptr;
    TRichLog* EditZipMsg = nullptr;
    TAnimate* AnimateChecking = nullptr;   // the "searching" clip
    TButton* ButtonCancel = nullptr;
    TButton* ButtonMinimize = nullptr;
    TZipperThread* Thread() const { return thread_.get(); }

    // Called on the user-interface thread after every hand-off of the worker
    // (tests press Cancel from here at a known point).
    static std::function<void(TFormZipWait&)> OnHandOff;
    // Called on the worker at each file's progress, before it reads Cancel
    // (tests hold the worker there until they have stopped the run).
    static std::function<void(TFormZipWait&, const std::string& fileName)> OnWorkerProgress;

protected:
    void CreateParams(TCreateParams& params) override;
    bool CloseQuery() override;

private:
    TBackupRun& run_;
    std::string exclusionText_;
    KernelHandle holdUntilStopped_;    // set by the run's stop (end-to-end test seam)
    std::atomic<bool> held_{false};
    std::unique_ptr<TZipperThread> thread_;
    TProgressCancel cancel_;
};

} // namespace krv
