// The small dialog that asks where to put a session shortcut, its name and
// an optional archive name.
#pragma once
#include "framework/Forms.h"
#include "framework/StdCtrls.h"
#include "shell/base/FolderBrowser.h"

namespace krv {

class TFormSessionLink : public TForm {
public:
    explicit TFormSessionLink(TComponent* owner = nullptr);
    void FormShow();
    void DestButtonClick();
    // Generate is possible exactly when a folder and a link name are given.
    void DestFolderEditChange();

    TEdit* DestFolderEdit = nullptr;
    TButton* DestButton = nullptr;
    TFolderBrowser* SelectDir = nullptr;
    TEdit* ArchiveNameEdit = nullptr;
    TEdit* LinkNameEdit = nullptr;
    TButton* ButtonGenerate = nullptr;
    TButton* ButtonCancel = nullptr;
};

} // namespace krv
