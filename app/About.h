// The about window: the program's pictures, a line about it and its version.
#pragma once
#include "framework/Forms.h"
#include "framework/JpegPicture.h"
#include "framework/StdCtrls.h"

namespace krv {

class TLang;

class TFormAbout : public TForm {
public:
    // lang translates the window each time it is shown (may be null).
    TFormAbout(TComponent* owner, TLang* lang);

    TJpegPicture* ImageBanner;
    TJpegPicture* ImageLogo;
    TLabel* LabelInfoAbout;
    TLabel* LabelVersion;
    TButton* ButtonOK;

    // The version line under the description.
    static std::string VersionText();

protected:
    void DoShow() override;

private:
    TLang* lang_;
};

} // namespace krv
