#include "app/FormWait.h"
#include "app/FormBuilder.h"
#include "app/AppState.h"
#include "app/Messages.h"
#include "app/ProgressWindow.h"
#include "framework/Dialogs.h"

namespace krv {

TFormWait::TFormWait(TComponent* owner)
    : TConsoleForm(owner, 10000), cancel_(*this, [this] { return UserCancelled; }, [this] { StopTask(); }) {
    SetName("FormWait");
    BorderStyle = bsDialog;
    Position = poMainFormCenter;
    SetBounds(0, 0, 446, 170);
    Animate = MakeControl<TAnimate>(this, this, "Animate", 10, 12, 100, 56);
    // The labels go right of the clip.
    for (TLabel* label : {LabelWaitTask, LabelWait2, LabelWaitProgress})
        label->SetBounds(120, label->Top(), 310, label->Height());
    // The clip starts with the program.
    Timer->OnTimer = [this, start = Timer->OnTimer](TObject* sender) {
        if (UserCancelled) {   // closed before the program started
            Timer->SetEnabled(false);
            CloseWithResult(1);
            return;
        }
        Animate->Play();
        start(sender);
    };
    ButtonWaitCancel = MakeControl<TButton>(this, this, "ButtonWaitCancel", 228, 100, 90, 26, "Cancel");
    ButtonWaitCancel->OnClick = [this](TObject*) { ButtonWaitCancelClick(); };
    ButtonMinimize = MakeControl<TButton>(this, this, "ButtonMinimize", 328, 100, 90, 26, "Minimize");
    ButtonMinimize->OnClick = [this](TObject*) { ButtonMinimizeClick(); };
    OnShow = [this](TObject*) { FormShow(); };
    DoCreate();
}

void TFormWait::FormShow() {
    ApplyOwnerLanguage(*this);
    UserCancelled = false;
    RecorderError = false;
    LogRuler();
    Timer->SetEnabled(true);
}

void TFormWait::ButtonWaitCancelClick() { cancel_.Press(); }

void TFormWait::StopTask() {
    UserCancelled = true;
    LabelWait2->SetCaption("");
    LabelWaitTask->SetCaption(KV_UserCancelLabel);
    ButtonWaitCancel->SetEnabled(false);
    Repaint();
    // The end event then closes the window.
    if (Command()) Command()->Stop();
}

void TFormWait::ButtonMinimizeClick() { MinimizeProgressWindow(*this); }

void TFormWait::CreateParams(TCreateParams& params) {
    TConsoleForm::CreateParams(params);
    NoBorderIcons(params);
}

bool TFormWait::CloseQuery() {
    // Only the program's end closes the window; a close before it stops the program.
    return cancel_.CloseQuery() && TConsoleForm::CloseQuery();
}

} // namespace krv
