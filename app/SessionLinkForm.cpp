#include "app/SessionLinkForm.h"
#include "app/FormBuilder.h"
#include "app/AppState.h"
#include "app/Messages.h"

namespace krv {

TFormSessionLink::TFormSessionLink(TComponent* owner) : TForm(owner) {
    SetName("FormSessionLink");
    Position = poMainFormCenter;
    BorderStyle = bsDialog;
    SetBounds(0, 0, 420, 250);
    MakeControl<TLabel>(this, this, "LabelDestFolder", 12, 12, 300, 16, "Destination Folder");
    DestFolderEdit = MakeControl<TEdit>(this, this, "DestFolderEdit", 12, 30, 340, 21);
    DestButton = MakeControl<TButton>(this, this, "DestButton", 358, 29, 40, 23, "...");
    MakeControl<TLabel>(this, this, "LabelArchiveName", 12, 62, 150, 16, "Archive Name");
    MakeControl<TLabel>(this, this, "LabelArchiveHint", 170, 62, 230, 16, "(Leave blank if not needed)");
    ArchiveNameEdit = MakeControl<TEdit>(this, this, "ArchiveNameEdit", 12, 80, 386, 21);
    MakeControl<TLabel>(this, this, "LabelLinkName", 12, 112, 300, 16, "Link Name");
    LinkNameEdit = MakeControl<TEdit>(this, this, "LinkNameEdit", 12, 130, 386, 21);
    ButtonGenerate = MakeControl<TButton>(this, this, "ButtonGenerate", 214, 176, 90, 26, "Generate");
    ButtonGenerate->ModalResult = mrOk;
    ButtonGenerate->Default = true;
    ButtonGenerate->SetEnabled(false);
    ButtonCancel = MakeControl<TButton>(this, this, "ButtonCancel", 308, 176, 90, 26, "Cancel");
    ButtonCancel->ModalResult = mrCancel;
    ButtonCancel->Cancel = true;
    SelectDir = new TFolderBrowser(this);
    SelectDir->SetName("SelectDir");

    DestButton->OnClick = [this](TObject*) { DestButtonClick(); };
    DestFolderEdit->OnChange = [this](TObject*) { DestFolderEditChange(); };
    LinkNameEdit->OnChange = [this](TObject*) { DestFolderEditChange(); };
    OnShow = [this](TObject*) { FormShow(); };
    DoCreate();
}

void TFormSessionLink::FormShow() {
    ApplyOwnerLanguage(*this);
    SetCaption(std::string(kProductName) + KV_GenLink_Title);
}

void TFormSessionLink::DestFolderEditChange() {
    ButtonGenerate->SetEnabled(!DestFolderEdit->Text().empty() && !LinkNameEdit->Text().empty());
}

void TFormSessionLink::DestButtonClick() {
    SelectDir->SetSelectedFolder(DestFolderEdit->Text());
    if (SelectDir->Execute()) DestFolderEdit->SetText(SelectDir->FolderPath());
}

} // namespace krv
