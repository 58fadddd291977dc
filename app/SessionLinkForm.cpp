#include "app/SessionLinkForm.h"
#include "app/Main.h"
#include "app/Messages.h"

namespace krv {

TFormSessionLink::TFormSessionLink(TComponent* owner) : TForm(owner) {
    SetName("FormSessionLink");
    Position = poMainFormCenter;
    BorderStyle = bsDialog;
    SetBounds(0, 0, 420, 250);
    auto add = [this](auto* control, const char* name, int left, int top, int width, int height, const char* caption) {
        control->SetName(name);
        control->SetBounds(left, top, width, height);
        if (caption) control->SetCaption(caption);
        control->SetParent(this);
        return control;
    };
    add(new TLabel(this), "LabelDestFolder", 12, 12, 300, 16, "Destination Folder");
    DestFolderEdit = add(new TEdit(this), "DestFolderEdit", 12, 30, 340, 21, nullptr);
    DestButton = add(new TButton(this), "DestButton", 358, 29, 40, 23, "...");
    add(new TLabel(this), "LabelArchiveName", 12, 62, 150, 16, "Archive Name");
    add(new TLabel(this), "LabelArchiveHint", 170, 62, 230, 16, "(Leave blank if not needed)");
    ArchiveNameEdit = add(new TEdit(this), "ArchiveNameEdit", 12, 80, 386, 21, nullptr);
    add(new TLabel(this), "LabelLinkName", 12, 112, 300, 16, "Link Name");
    LinkNameEdit = add(new TEdit(this), "LinkNameEdit", 12, 130, 386, 21, nullptr);
    ButtonGenerate = add(new TButton(this), "ButtonGenerate", 214, 176, 90, 26, "Generate");
    ButtonGenerate->ModalResult = mrOk;
    ButtonGenerate->Default = true;
    ButtonGenerate->SetEnabled(false);
    ButtonCancel = add(new TButton(this), "ButtonCancel", 308, 176, 90, 26, "Cancel");
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
    if (auto* main = dynamic_cast<TMainForm*>(Owner()); main && main->Lang) main->Lang->ApplyToForm(*this);
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
