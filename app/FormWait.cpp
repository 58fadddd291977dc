#include "app/FormWait.h"
#include "app/Main.h"
#include "app/Messages.h"
#include "framework/Dialogs.h"

namespace krv {

TFormWait::TFormWait(TComponent* owner) : TConsoleForm(owner, 10000) {
    SetName("FormWait");
    BorderStyle = bsDialog;
    Position = poMainFormCenter;
    SetBounds(0, 0, 446, 170);
    Animate = new TAnimate(this);
    Animate->SetName("Animate");
    Animate->SetBounds(10, 12, 100, 56);
    Animate->SetParent(this);
    // The labels go right of the clip.
    for (TLabel* label : {LabelWaitTask, LabelWait2, LabelWaitProgress})
        label->SetBounds(120, label->Top(), 310, label->Height());
    // The clip starts with the program.
    Timer->OnTimer = [this, start = Timer->OnTimer](TObject* sender) {
        Animate->Play();
        start(sender);
    };
    ButtonWaitCancel = new TButton(this);
    ButtonWaitCancel->SetName("ButtonWaitCancel");
    ButtonWaitCancel->SetCaption("Cancel");
    ButtonWaitCancel->SetBounds(228, 100, 90, 26);
    ButtonWaitCancel->OnClick = [this](TObject*) { ButtonWaitCancelClick(); };
    ButtonWaitCancel->SetParent(this);
    ButtonMinimize = new TButton(this);
    ButtonMinimize->SetName("ButtonMinimize");
    ButtonMinimize->SetCaption("Minimize");
    ButtonMinimize->SetBounds(328, 100, 90, 26);
    ButtonMinimize->OnClick = [this](TObject*) { ButtonMinimizeClick(); };
    ButtonMinimize->SetParent(this);
    OnShow = [this](TObject*) { FormShow(); };
    DoCreate();
}

void TFormWait::FormShow() {
    ApplyLanguage();
    UserCancelled = false;
    RecorderError = false;
    LogRuler();
    Timer->SetEnabled(true);
}

void TFormWait::ButtonWaitCancelClick() {
    if (ShowMessageBox(KV_UserCancel_Confirm, KV_UserCancel_Conform_Title, MB_YESNO) != IDYES) return;
    UserCancelled = true;
    LabelWait2->SetCaption("");
    LabelWaitTask->SetCaption(KV_UserCancelLabel);
    ButtonWaitCancel->SetEnabled(false);
    Repaint();
    // The end event then closes the window.
    if (Command()) Command()->Stop();
}

void TFormWait::ButtonMinimizeClick() {
    if (Batch) Minimize();
    Application().Minimize();
}

bool TFormWait::CloseQuery() {
    // Only the program's end closes the window (the system menu's close would
    // leave the program running behind a closed window).
    return ModalResult() == 1 && TConsoleForm::CloseQuery();
}

} // namespace krv
