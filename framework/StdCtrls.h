// The standard Windows controls as objects: label, push button, check box,
// edit, memo, combo box, group box and panel. Each keeps its data while it has
// no window and pushes it in when the window is made.
#pragma once
#include "framework/Controls.h"
#include <string>
#include <vector>

namespace krv {

class TStringList;


class TLabel : public TWinControl {
public:
    explicit TLabel(TComponent* owner = nullptr);
    bool WordWrap = false;
    // Right- or centre-aligned text (DT_ style: SS_LEFT, SS_CENTER, SS_RIGHT).
    DWORD Alignment = SS_LEFT;
protected:
    void CreateParams(TCreateParams& params) override;
    bool CNCtlColor(HDC dc, HBRUSH& brush) override;
private:
    TBrush brush_;
};

// The system's button classes (push buttons, check boxes). A greyed caption
// is drawn through a bitmap just as wide as the text's advance, which cuts off
// a last glyph that overhangs it (a final "n" loses its stem): the window's
// text gets one trailing blank of room; Caption() is the text as set.
class TButtonControl : public TWinControl {
public:
    using TWinControl::TWinControl;
    std::string Caption() const override { return caption_; }
    void SetCaption(const std::string& text) override;
protected:
    void CreateParams(TCreateParams& params) override;
};

class TButton : public TButtonControl {
public:
    explicit TButton(TComponent* owner = nullptr);
    int ModalResult = mrNone;
    bool Default = false;   // Enter presses it
    bool Cancel = false;    // Escape presses it
    void Click() override;
protected:
    void CreateParams(TCreateParams& params) override;
    bool CNCommand(WORD code, LRESULT& result) override;
};

class TCheckBox : public TButtonControl {
public:
    explicit TCheckBox(TComponent* owner = nullptr);
    bool Checked() const;
    // Fires OnClick when the state changes, as a user's click would.
    void SetChecked(bool checked);
    // A user's click: toggles, then OnClick.
    void Click() override;
protected:
    void CreateParams(TCreateParams& params) override;
    void CreateHandleDone() override;
    bool CNCommand(WORD code, LRESULT& result) override;
    bool CNCtlColor(HDC dc, HBRUSH& brush) override;
private:
    bool checked_ = false;
    TBrush brush_;
};

class TEdit : public TWinControl {
public:
    explicit TEdit(TComponent* owner = nullptr);
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool readOnly);
    // The most characters the user can type or paste (0: the system's default).
    int MaxLength() const { return maxLength_; }
    void SetMaxLength(int length);
    // Shown instead of each typed character (0: the text itself).
    char PasswordChar() const { return passwordChar_; }
    void SetPasswordChar(char c);
    void SelectAll();
    void SetCaption(const std::string& text) override;
    TNotifyEvent OnChange;
protected:
    void CreateParams(TCreateParams& params) override;
    void CreateHandleDone() override;
    bool CNCommand(WORD code, LRESULT& result) override;
    virtual void DoChange();
    // Puts the text kept for the control into its new window (its limit is set by then).
    virtual void SetInitialText();
    bool readOnly_ = false;
    char passwordChar_ = 0;
    int maxLength_ = 0;
private:
    bool settingInitialText_ = false;
};

// A multi-line edit with a vertical scroll bar; Lines are CR LF separated.
class TMemo : public TEdit {
public:
    explicit TMemo(TComponent* owner = nullptr);
    void SetLines(const TStringList& lines);
    int LineCount();
    std::string Line(int index);
    bool WordWrap = true;
protected:
    void CreateParams(TCreateParams& params) override;
};

enum TComboBoxStyle { csDropDown, csDropDownList };

class TComboBox : public TWinControl {
public:
    explicit TComboBox(TComponent* owner = nullptr);
    TComboBoxStyle Style = csDropDownList;
    int DropDownCount = 12;

    int ItemCount() const { return static_cast<int>(items_.size()); }
    const std::string& Item(int index) const { return items_.at(static_cast<size_t>(index)); }
    int AddItem(const std::string& text);
    void ClearItems();
    void SetItems(const std::vector<std::string>& items);
    int IndexOf(const std::string& text) const;
    int ItemIndex() const;
    // Does not fire OnChange (only the user's choice does).
    void SetItemIndex(int index);
    std::string Caption() const override;
    TNotifyEvent OnChange;
protected:
    void CreateParams(TCreateParams& params) override;
    void CreateHandleDone() override;
    void UpdateBounds(int left, int top, int width, int height) override;
    bool CNCommand(WORD code, LRESULT& result) override;
    virtual void DoChange();
private:
    std::vector<std::string> items_;
    int itemIndex_ = -1;
};

class TGroupBox : public TWinControl {
public:
    explicit TGroupBox(TComponent* owner = nullptr);
protected:
    void CreateParams(TCreateParams& params) override;
    void AdjustClientRect(RECT& rect) override;
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
};

enum TBevelCut { bvNone, bvLowered, bvRaised };

// A container with an optional bevel and centred caption.
class TPanel : public TCustomControl {
public:
    explicit TPanel(TComponent* owner = nullptr);
    TBevelCut BevelOuter = bvRaised;
    int BorderWidth = 0;
protected:
    void CreateParams(TCreateParams& params) override;
    void Paint() override;
    void AdjustClientRect(RECT& rect) override;
};

} // namespace krv
