#include "app/LoadWait.h"
#include "app/FormBuilder.h"
#include "app/Main.h"

namespace krv {

TFormLoadWait::TFormLoadWait(TMainForm& main) : TForm(&main), main_(main) {
    SetName("FormLoadWait");
    Position = poMainFormCenter;
    BorderStyle = bsDialog;
    SetBounds(0, 0, 320, 150);
    Animate = new TAnimate(this);
    Animate->SetCommonAVI(aviFindFolder);
    Animate->Play();
    PlaceControl(Animate, this, "Animate", 10, 8, 294, 60);
    LabelWait = MakeControl<TLabel>(this, this, "LabelWait", 10, 76, 294, 32, "Loading session, please wait...");
    Timer = MakeWindowTimer(this, "Timer", 100, [this] { TimerTimer(); });
    OnShow = [this](TObject*) { FormShow(); };
    DoCreate();
}

void TFormLoadWait::CreateParams(TCreateParams& params) {
    TForm::CreateParams(params);
    params.Style &= ~WS_SYSMENU;   // no border icons: the load cannot be closed half way
}

void TFormLoadWait::FormShow() {
    if (main_.Lang) main_.Lang->ApplyToForm(*this);
    Loaded = false;
    Timer->SetEnabled(true);
}

void TFormLoadWait::TimerTimer() {
    Timer->SetEnabled(false);
    Loaded = main_.Session.LoadFromFile(FileName);
    main_.AfterSessionLoad(Loaded, FileName);
    SetModalResult(mrOk);
}

} // namespace krv
