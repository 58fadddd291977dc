// UTF-16 text in the framework's controls. The framework makes a standard
// control a Unicode window when its creation parameters ask for one and then
// handles its messages in their wide form, so text set and typed there never
// passes through the ANSI code page. Here: the wide text of any control (a
// Unicode window's own text, else a wide caption kept beside the ANSI one),
// an edit with a wide Text, and two small helpers.
#pragma once
#include "framework/StdCtrls.h"
#include "shell/base/SystemVersion.h"
#include <string>

namespace krv {

// The face the wide controls give the framework's new fonts: "MS Shell Dlg 2"
// on the NT family from version 5 on, else "MS Shell Dlg".
std::string WideControlsFontName(const TOSVersion& version);
// Once per program, at its start: the framework's default font name becomes
// WideControlsFontName of the running system.
void StartWideControls();
// Program-wide switch (off by default): outside the NT family a read-only
// wide edit is made without the read-only style and then made read-only by
// message.
extern bool WideEditReadOnlyByMessage;

// Takes a control's window as a wide control: its messages must reach the
// control in their wide form (the framework's Unicode windows do), and a
// child window without an identifier gets its own handle as identifier.
// Raises Exception when the window is not a Unicode window.
void SubClassUnicodeControl(TWinControl* control);

// The wide caption of a control whose window is not Unicode; owned by the
// control, so it goes with it.
class TWideCaptionHolder : public TComponent {
public:
    TControl* Control() const { return control_; }
    std::wstring Caption;
    // The control's holder, made on first use.
    static TWideCaptionHolder* For(TControl* control);
    // The control's holder or nil.
    static TWideCaptionHolder* Find(TControl* control);
    ~TWideCaptionHolder() override;
private:
    explicit TWideCaptionHolder(TControl* control);
    TControl* control_;
};

// A Unicode window's text; otherwise the wide caption kept for the control
// while it still matches the control's ANSI text, else that text converted.
std::wstring WideGetText(TControl* control);
// Sets a Unicode window's text itself; otherwise keeps the wide caption and
// sets the ANSI text converted.
void WideSetText(TControl* control, const std::wstring& text);

// Locale-aware comparison (<0, 0, >0): the user's default locale on the NT
// family, the converted ANSI strings elsewhere.
int CompareWideStrings(const std::wstring& a, const std::wstring& b);

// Posts EM_SETSEL with the wide or ANSI call, as the window is Unicode or not.
void PostSetSelection(HWND wnd, int start, int end);

// An edit whose Text is UTF-16; a Unicode window on the NT family.
class TCustomWideEdit : public TEdit {
public:
    explicit TCustomWideEdit(TComponent* owner = nullptr);
    std::wstring Text() const;
    void SetText(const std::wstring& text);
protected:
    void CreateParams(TCreateParams& params) override;
    void CreateHandleDone() override;
    void SetInitialText() override;
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
private:
    std::wstring text_;   // kept while there is no window
    bool readOnlyByMessage_ = false;
};

class TWideEdit : public TCustomWideEdit {
public:
    using TCustomWideEdit::TCustomWideEdit;
};

} // namespace krv
