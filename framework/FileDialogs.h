// The system's open and save file dialogs. Tests and unattended runs answer
// them through a hook instead of a window.
#pragma once
#include "framework/Classes.h"
#include <functional>
#include <string>

namespace krv {

class TFileDialog : public TComponent {
public:
    explicit TFileDialog(TComponent* owner = nullptr) : TComponent(owner) {}
    std::string Title;
    // "Description|pattern|Description|pattern".
    std::string Filter;
    // Added when the user types a name without one ("*.xml" and "xml" both work).
    std::string DefaultExt;
    // Preset before Execute; the chosen file after it.
    std::string FileName;
    // Shows the dialog; false when the user cancels.
    bool Execute();
    virtual bool IsSaveDialog() const = 0;
};

class TOpenDialog : public TFileDialog {
public:
    using TFileDialog::TFileDialog;
    bool IsSaveDialog() const override { return false; }
};

// Asks before replacing an existing file.
class TSaveDialog : public TFileDialog {
public:
    using TFileDialog::TFileDialog;
    bool IsSaveDialog() const override { return true; }
};

using FileDialogHook = std::function<bool(TFileDialog& dialog)>;
void SetFileDialogHook(FileDialogHook hook);

} // namespace krv
