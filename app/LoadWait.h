// The small window shown while a session file loads: the load starts from a
// one-shot timer once the window is up, then the main window takes the result.
#pragma once
#include "app/ProgressWindow.h"
#include "framework/ComCtrls.h"
#include "framework/Forms.h"
#include "framework/StdCtrls.h"
#include <string>

namespace krv {

class TMainForm;

class TFormLoadWait : public TForm {
public:
    explicit TFormLoadWait(TMainForm& main);
    void FormShow();
    void TimerTimer();

    std::string FileName;
    bool Loaded = false;
    TLabel* LabelWait = nullptr;
    TAnimate* Animate = nullptr;   // the find-folder clip
    TTimer* Timer = nullptr;

protected:
    void CreateParams(TCreateParams& params) override;
    bool CloseQuery() override;

private:
    TMainForm& main_;
    bool started_ = false;
    // A load cannot stop half way: a close before it starts means no load,
    // one during it waits for its end.
    TProgressCancel cancel_;
};

} // namespace krv
