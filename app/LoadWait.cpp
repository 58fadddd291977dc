#include "app/LoadWait.h"
#include "app/FormBuilder.h"
#include "app/Main.h"
#include "app/ProgressWindow.h"

namespace krv {

TFormLoadWait::TFormLoadWait(TMainForm& main)
    : TForm(&main), main_(main), cancel_(*this, [this] { return started_; }, [this] {
          Timer->SetEnabled(false);
          SetModalResult(mrCancel);
      }) {
    SetName("FormLoadWait");
    Position = poMainFormCenter;
    BorderStyle = bsDialog;
    SetBounds(0, 0, 320, 150);
    Animate = new TAnimate(this);
    Animate->SetCommonAVI(aviFindFolder);
    Animate->Play();
    PlaceControl(Animate, this, "Animate", 10, 8, 294, 60);
    LabelWait = new TLabel(this);
    LabelWait->Alignment = SS_CENTER;
    PlaceControl(LabelWait, this, "LabelWait", 10, 76, 294, 32, "Loading session, please wait...");
    Timer = MakeWindowTimer(this, "Timer", 100, [this] { TimerTimer(); });
    OnShow = [this](TObject*) { FormShow(); };
    DoCreate();
}

void TFormLoadWait::CreateParams(TCreateParams& params) {
    TForm::CreateParams(params);
    NoBorderIcons(params);
}

bool TFormLoadWait::CloseQuery() { return cancel_.CloseQuery(); }

void TFormLoadWait::FormShow() {
    if (main_.Lang) main_.Lang->ApplyToForm(*this);
    Loaded = false;
    started_ = false;
    Timer->SetEnabled(true);
}

void TFormLoadWait::TimerTimer() {
    Timer->SetEnabled(false);
    started_ = true;
    Loaded = main_.Session.LoadFromFile(FileName);
    main_.AfterSessionLoad(Loaded, FileName);
    SetModalResult(mrOk);
}

} // namespace krv
