// The compression window of a run: starts the compression worker, shows its
// progress and messages, and lets the user stop it (after a confirmation).
#pragma once
#include "app/ZipWaitThread.h"
#include "framework/ComCtrls.h"
#include "framework/Forms.h"
#include "framework/RichLog.h"
#include "framework/StdCtrls.h"
#include <memory>

namespace krv {

class TMainForm;

// The user stopped the compression (program-wide, as the run reads it).
extern bool UserCancelled;

// The "searching" animation of the window (the common animation control
// playing the system's find-file clip when the system has it).
class TAnimateChecking : public TWinControl {
public:
    explicit TAnimateChecking(TComponent* owner = nullptr);
    void Play();
    void Stop();
    bool Playing() const { return playing_; }
protected:
    void CreateParams(TCreateParams& params) override;
    void CreateHandleDone() override;
private:
    bool playing_ = false;
    bool opened_ = false;
};

class TFormZipWait : public TForm {
public:
    // exclusionText: the session's exclusion masks when its filters are on.
    TFormZipWait(TMainForm* main, const std::string& exclusionText);
    ~TFormZipWait() override;

    void FormShow();
    void TimerTimer();
    void ButtonCancelClick();
    void ButtonMinimizeClick();
    void ZipperThreadTerminate();

    TLabel* LabelWait = nullptr;
    TProgressBar* ProgressBar = nullptr;
    TProgressBar* ProgressBarFile = nullptr;
    TRichLog* EditZipMsg = nullptr;
    TAnimateChecking* AnimateChecking = nullptr;
    TButton* ButtonCancel = nullptr;
    TButton* ButtonMinimize = nullptr;
    TTimer* Timer = nullptr;
    TZipperThread* Thread() const { return thread_.get(); }

    // Called on the user-interface thread after every hand-off of the worker
    // (tests press Cancel from here at a known point).
    static std::function<void(TFormZipWait&)> OnHandOff;

private:
    TMainForm* main_;
    std::string exclusionText_;
    std::unique_ptr<TZipperThread> thread_;
};

} // namespace krv
