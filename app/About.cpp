#include "app/About.h"
#include "app/AboutPictures.h"
#include "app/FormBuilder.h"
#include "app/Lang.h"
#include "app/Messages.h"

namespace krv {

TFormAbout::TFormAbout(TComponent* owner, TLang* lang) : TForm(owner), lang_(lang) {
    SetName("FormAbout");
    SetCaption("Korvane");
    BorderStyle = bsDialog;
    Position = poScreenCenter;

    ImageBanner = MakeControl<TJpegPicture>(this, this, "ImageBanner", 10, 10, 400, 110);
    ImageLogo = MakeControl<TJpegPicture>(this, this, "ImageLogo", 10, 130, 96, 96);
    // Compiled-in pictures: a failure here is a build fault and is raised as such.
    ImageBanner->LoadFromMemory(kAboutPicture_banner, kAboutPicture_banner_size);
    ImageLogo->LoadFromMemory(kAboutPicture_logo, kAboutPicture_logo_size);

    LabelInfoAbout = MakeControl<TLabel>(this, this, "LabelInfoAbout", 120, 132, 290, 48,
                                         "Backs up folders into zip archives on a hard disk or a CD/DVD.");
    LabelInfoAbout->WordWrap = true;
    LabelVersion = MakeControl<TLabel>(this, this, "LabelVersion", 120, 190, 290, 20);
    ButtonOK = MakeControl<TButton>(this, this, "ButtonOK", 335, 235, 75, 25, "OK");
    ButtonOK->ModalResult = mrOk;
    ButtonOK->Default = true;
    ButtonOK->Cancel = true;
    SetFormClientSize(this, 420, 270);
    DoCreate();
}

std::string TFormAbout::VersionText() { return KV_VersionTxt + " " + "0.9.1 [0106]"; }

void TFormAbout::DoShow() {
    if (lang_) lang_->ApplyToForm(*this);
    SetCaption("Korvane" + KV_About_Title);
    LabelVersion->SetCaption(VersionText());
    TForm::DoShow();
}

} // namespace krv
