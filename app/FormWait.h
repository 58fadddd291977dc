// The console task window of the disc steps: runs one console program
// modally, shows its output, flags the recorder's error lines, and lets the
// user cancel (after a confirmation) or minimise the program.
#pragma once
#include "app/ConsoleForm.h"
#include "app/ProgressWindow.h"
#include "framework/ComCtrls.h"

namespace krv {

class TFormWait : public TConsoleForm {
public:
    explicit TFormWait(TComponent* owner = nullptr);

    int TaskKind = 0;             // 0 image, 1 blank, 2 burn
    bool UserCancelled = false;
    bool RecorderError = false;
    TButton* ButtonWaitCancel = nullptr;
    TButton* ButtonMinimize = nullptr;
    // The task's clip (file copy or delete), played once the program starts.
    TAnimate* Animate = nullptr;

    void FormShow();
    void ButtonWaitCancelClick();
    // What Cancel does once confirmed (also what a close of the window does).
    void StopTask();
    void ButtonMinimizeClick();

protected:
    const std::vector<std::string>& ErrorTexts() const override { return RecorderErrorTexts(); }
    void ErrorLineSeen() override { RecorderError = true; }
    void CommandEnded() override { CloseWithResult(1); }
    void CreateParams(TCreateParams& params) override;
    bool CloseQuery() override;

private:
    TProgressCancel cancel_;
};

} // namespace krv
