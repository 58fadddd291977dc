// The small window shown while a session file loads: the load starts from a
// one-shot timer once the window is up, then the main window takes the result.
#pragma once
#include "framework/Forms.h"
#include "framework/StdCtrls.h"
#include <string>

namespace krv {

class TMainForm;

// The shell's "searching a folder" animation.
class TFindFolderAnimation : public TWinControl {
public:
    using TWinControl::TWinControl;
protected:
    void CreateParams(TCreateParams& params) override;
    void CreateHandleDone() override;
};

class TFormLoadWait : public TForm {
public:
    explicit TFormLoadWait(TMainForm& main);
    void FormShow();
    void TimerTimer();

    std::string FileName;
    bool Loaded = false;
    TLabel* LabelWait = nullptr;
    TFindFolderAnimation* Animate = nullptr;
    TTimer* Timer = nullptr;

protected:
    void CreateParams(TCreateParams& params) override;

private:
    TMainForm& main_;
};

} // namespace krv
