#include "app/ViewLog.h"
#include "app/AppState.h"
#include "app/Messages.h"

namespace krv {

TFormViewLog::TFormViewLog(TComponent* owner) : TForm(owner) {
    SetName("FormViewLog");
    Position = poMainFormCenter;
    SetBounds(0, 0, 560, 420);
    Constraints.MinWidth = 400;
    Constraints.MinHeight = 200;

    auto* bottom = new TPanel(this);
    bottom->SetName("PanelBottom");
    bottom->BevelOuter = bvNone;
    bottom->SetBounds(0, 0, 544, 40);   // the first client width: the anchors work from it
    bottom->SetAlign(alBottom);
    bottom->SetParent(this);
    ButtonClose = new TButton(this);
    ButtonClose->SetName("ButtonClose");
    ButtonClose->SetCaption("Close");
    ButtonClose->ModalResult = mrOk;
    ButtonClose->Cancel = true;   // Escape closes too
    ButtonClose->Default = true;
    ButtonClose->SetBounds(544 - 100, 7, 90, 26);
    ButtonClose->SetAnchors(akRight | akTop);
    ButtonClose->SetParent(bottom);

    MemoLog = new TMemo(this);
    MemoLog->SetName("MemoLog");
    MemoLog->SetReadOnly(true);
    MemoLog->SetAlign(alClient);
    MemoLog->SetParent(this);

    OnShow = [this](TObject*) { FormShow(); };
    DoCreate();
}

void TFormViewLog::FormShow() {
    ApplyOwnerLanguage(*this);
    SetCaption(std::string(kProductName) + KV_ViewLog_Title);
}

} // namespace krv
