#include "framework/StdCtrls.h"
#include "framework/Forms.h"
#include "framework/Strings.h"
#include <algorithm>

namespace krv {

namespace {
// Statics and check boxes take their parent's background.
HBRUSH ParentBackground(TControl* self, TBrush& brush, HDC dc) {
    TColor color = self->Parent() ? self->Parent()->Color() : clBtnFace;
    brush.SetColor(color);
    ::SetBkColor(dc, ColorToRGB(color));
    ::SetTextColor(dc, ColorToRGB(self->Enabled() ? self->Font().Color() : clGrayText));
    return brush.Handle();
}
}

// ------------------------------------------------------------------ TLabel

TLabel::TLabel(TComponent* owner) : TWinControl(owner) { font_.SetColor(clBtnText); }

void TLabel::CreateParams(TCreateParams& params) {
    TWinControl::CreateParams(params);
    params.WinClassName = "STATIC";
    params.OwnClass = false;
    params.Style &= ~WS_CLIPCHILDREN;
    params.Style |= SS_NOPREFIX | Alignment;
    if (!WordWrap && Alignment == SS_LEFT) params.Style |= SS_LEFTNOWORDWRAP;
}

bool TLabel::CNCtlColor(HDC dc, HBRUSH& brush) {
    brush = ParentBackground(this, brush_, dc);
    return true;
}

// ---------------------------------------------------------- TButtonControl

namespace {
std::string ButtonWindowText(const std::string& caption) { return caption.empty() ? caption : caption + " "; }
}

void TButtonControl::SetCaption(const std::string& text) {
    caption_ = text;
    if (handle_) ::SetWindowTextA(handle_, ButtonWindowText(text).c_str());
}

void TButtonControl::CreateParams(TCreateParams& params) {
    TWinControl::CreateParams(params);
    params.Caption = ButtonWindowText(caption_);
}

// ----------------------------------------------------------------- TButton

TButton::TButton(TComponent* owner) : TButtonControl(owner) {
    TabStop = true;
    SetBounds(0, 0, 75, 25);
}

void TButton::CreateParams(TCreateParams& params) {
    TButtonControl::CreateParams(params);
    params.WinClassName = "BUTTON";
    params.OwnClass = false;
    params.Style &= ~WS_CLIPCHILDREN;
    params.Style |= Default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
}

bool TButton::CNCommand(WORD code, LRESULT& result) {
    if (code != BN_CLICKED) return false;
    Click();
    result = 0;
    return true;
}

void TButton::Click() {
    if (ModalResult != mrNone)
        if (TForm* form = GetParentForm(this)) form->SetModalResult(ModalResult);
    TWinControl::Click();
}

// --------------------------------------------------------------- TCheckBox

TCheckBox::TCheckBox(TComponent* owner) : TButtonControl(owner) {
    TabStop = true;
    font_.SetColor(clBtnText);
}

void TCheckBox::CreateParams(TCreateParams& params) {
    TButtonControl::CreateParams(params);
    params.WinClassName = "BUTTON";
    params.OwnClass = false;
    params.Style &= ~WS_CLIPCHILDREN;
    params.Style |= BS_CHECKBOX;   // we toggle it ourselves so program and user changes agree
}

void TCheckBox::CreateHandleDone() {
    ::SendMessageA(handle_, BM_SETCHECK, checked_ ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool TCheckBox::Checked() const { return checked_; }

void TCheckBox::SetChecked(bool checked) {
    if (checked == checked_) return;
    checked_ = checked;
    if (handle_) ::SendMessageA(handle_, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    DoClick();
}

void TCheckBox::Click() { SetChecked(!checked_); }

bool TCheckBox::CNCommand(WORD code, LRESULT& result) {
    if (code != BN_CLICKED) return false;
    Click();
    result = 0;
    return true;
}

bool TCheckBox::CNCtlColor(HDC dc, HBRUSH& brush) {
    brush = ParentBackground(this, brush_, dc);
    return true;
}

// ------------------------------------------------------------------- TEdit

TEdit::TEdit(TComponent* owner) : TWinControl(owner) {
    TabStop = true;
    color_ = clWindow;
    SetBounds(0, 0, 121, 21);
}

void TEdit::CreateParams(TCreateParams& params) {
    TWinControl::CreateParams(params);
    params.WinClassName = "EDIT";
    params.OwnClass = false;
    params.Style &= ~WS_CLIPCHILDREN;
    params.Style |= ES_AUTOHSCROLL | (readOnly_ ? ES_READONLY : 0) | (passwordChar_ ? ES_PASSWORD : 0);
    params.ExStyle |= WS_EX_CLIENTEDGE;
    // The window is made empty and takes its text once its limit is set: an
    // edit refuses to be made with more text than its default limit, though
    // the limit set for it allows that much.
    params.Caption.clear();
}

void TEdit::CreateHandleDone() {
    TWinControl::CreateHandleDone();
    if (passwordChar_) ::SendMessageA(Handle(), EM_SETPASSWORDCHAR, static_cast<unsigned char>(passwordChar_), 0);
    if (maxLength_) ::SendMessageA(Handle(), EM_LIMITTEXT, static_cast<WPARAM>(maxLength_), 0);
    // Making the window is no change of its text.
    settingInitialText_ = true;
    struct Reset { bool& flag; ~Reset() { flag = false; } } reset{settingInitialText_};
    SetInitialText();
}

void TEdit::SetInitialText() {
    if (!caption_.empty()) ::SetWindowTextA(Handle(), caption_.c_str());
}

void TEdit::SetMaxLength(int length) {
    maxLength_ = length;
    if (HandleAllocated()) ::SendMessageA(Handle(), EM_LIMITTEXT, static_cast<WPARAM>(length), 0);
}

void TEdit::SetCaption(const std::string& text) {
    TWinControl::SetCaption(text);
    // The window tells of a change with EN_CHANGE; one held back cannot, so
    // the edit tells it itself, as the window would have.
    if (WindowHeldBack()) DoChange();
}

void TEdit::SetPasswordChar(char c) {
    passwordChar_ = c;
    if (HandleAllocated()) {
        ::SendMessageA(Handle(), EM_SETPASSWORDCHAR, static_cast<unsigned char>(c), 0);
        ::InvalidateRect(Handle(), nullptr, TRUE);
    }
}

void TEdit::SetReadOnly(bool readOnly) {
    readOnly_ = readOnly;
    if (handle_) ::SendMessageA(handle_, EM_SETREADONLY, readOnly, 0);
}

void TEdit::SelectAll() {
    if (handle_) ::SendMessageA(handle_, EM_SETSEL, 0, -1);
}

bool TEdit::CNCommand(WORD code, LRESULT& result) {
    if (code != EN_CHANGE) return false;
    if (!settingInitialText_) DoChange();
    result = 0;
    return true;
}

void TEdit::DoChange() {
    if (OnChange) OnChange(this);
}

// ------------------------------------------------------------------- TMemo

TMemo::TMemo(TComponent* owner) : TEdit(owner) { SetBounds(0, 0, 185, 89); }

void TMemo::CreateParams(TCreateParams& params) {
    TEdit::CreateParams(params);
    params.Style &= ~ES_AUTOHSCROLL;
    params.Style |= ES_MULTILINE | WS_VSCROLL | ES_AUTOVSCROLL | (WordWrap ? 0 : WS_HSCROLL | ES_AUTOHSCROLL);
}

void TMemo::SetLines(const TStringList& lines) {
    std::string text;
    for (int i = 0; i < lines.Count(); ++i) {
        if (i) text += "\r\n";
        text += lines[i];
    }
    SetCaption(text);
}

int TMemo::LineCount() {
    return static_cast<int>(::SendMessageA(HandleNeeded(), EM_GETLINECOUNT, 0, 0));
}

std::string TMemo::Line(int index) { return EditControlLine(HandleNeeded(), index); }

// --------------------------------------------------------------- TComboBox

TComboBox::TComboBox(TComponent* owner) : TWinControl(owner) {
    TabStop = true;
    color_ = clWindow;
    SetBounds(0, 0, 145, 21);
}

void TComboBox::CreateParams(TCreateParams& params) {
    TWinControl::CreateParams(params);
    params.WinClassName = "COMBOBOX";
    params.OwnClass = false;
    params.Style &= ~WS_CLIPCHILDREN;
    params.Style |= WS_VSCROLL | CBS_AUTOHSCROLL | (Style == csDropDownList ? CBS_DROPDOWNLIST : CBS_DROPDOWN);
    params.Height = height_ + DropDownCount * 16;
}

void TComboBox::UpdateBounds(int left, int top, int width, int height) {
    TControl::UpdateBounds(left, top, width, height);
    if (handle_)
        ::SetWindowPos(handle_, nullptr, left_, top_, width_, height_ + DropDownCount * 16, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TComboBox::CreateHandleDone() {
    for (const auto& s : items_) ::SendMessageA(handle_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s.c_str()));
    ::SendMessageA(handle_, CB_SETCURSEL, static_cast<WPARAM>(itemIndex_), 0);
    if (Style == csDropDown && itemIndex_ < 0) ::SetWindowTextA(handle_, caption_.c_str());
}

int TComboBox::AddItem(const std::string& text) {
    items_.push_back(text);
    if (handle_) ::SendMessageA(handle_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    return ItemCount() - 1;
}

void TComboBox::ClearItems() {
    items_.clear();
    itemIndex_ = -1;
    if (handle_) ::SendMessageA(handle_, CB_RESETCONTENT, 0, 0);
}

void TComboBox::SetItems(const std::vector<std::string>& items) {
    ClearItems();
    for (const auto& s : items) AddItem(s);
}

int TComboBox::IndexOf(const std::string& text) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i] == text) return static_cast<int>(i);
    return -1;
}

int TComboBox::ItemIndex() const {
    if (handle_) return static_cast<int>(::SendMessageA(handle_, CB_GETCURSEL, 0, 0));
    return itemIndex_;
}

void TComboBox::SetItemIndex(int index) {
    if (index < -1 || index >= ItemCount()) index = -1;
    itemIndex_ = index;
    if (handle_) ::SendMessageA(handle_, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

std::string TComboBox::Caption() const {
    if (Style == csDropDownList) {
        int i = ItemIndex();
        return i >= 0 && i < ItemCount() ? items_[static_cast<size_t>(i)] : std::string();
    }
    return TWinControl::Caption();
}

bool TComboBox::CNCommand(WORD code, LRESULT& result) {
    if (code == CBN_SELCHANGE) {
        itemIndex_ = ItemIndex();
        DoChange();
    } else if (code == CBN_EDITCHANGE) {
        DoChange();
    } else {
        return false;
    }
    result = 0;
    return true;
}

void TComboBox::DoChange() {
    if (OnChange) OnChange(this);
}

// --------------------------------------------------------------- TGroupBox

TGroupBox::TGroupBox(TComponent* owner) : TWinControl(owner) { font_.SetColor(clBtnText); }

void TGroupBox::CreateParams(TCreateParams& params) {
    TWinControl::CreateParams(params);
    params.WinClassName = "BUTTON";
    params.OwnClass = false;
    params.Style |= BS_GROUPBOX;
    params.ExStyle |= WS_EX_CONTROLPARENT;
}

void TGroupBox::AdjustClientRect(RECT& rect) {
    rect.top += 16;
    rect.left += 6;
    rect.right -= 6;
    rect.bottom -= 6;
}

bool TGroupBox::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (msg == WM_ERASEBKGND) {
        RECT r;
        ::GetClientRect(handle_, &r);
        ::FillRect(reinterpret_cast<HDC>(wParam), &r, BackgroundBrush());
        result = 1;
        return true;
    }
    return TWinControl::HandleMessage(msg, wParam, lParam, result);
}

// ------------------------------------------------------------------ TPanel

TPanel::TPanel(TComponent* owner) : TCustomControl(owner) {
    font_.SetColor(clBtnText);
    SetBounds(0, 0, 185, 41);
}

void TPanel::CreateParams(TCreateParams& params) {
    TCustomControl::CreateParams(params);
    params.ExStyle |= WS_EX_CONTROLPARENT;   // a container: Tab walks through its children
}

void TPanel::AdjustClientRect(RECT& rect) {
    int inset = (BevelOuter != bvNone ? 1 : 0) + BorderWidth;
    ::InflateRect(&rect, -inset, -inset);
}

void TPanel::Paint() {
    RECT r = ClientRect();
    if (BevelOuter != bvNone) canvas_.Draw3DFrame(r, BevelOuter == bvLowered);
    if (!caption_.empty()) {
        canvas_.Brush.SetStyle(bsClear);
        canvas_.TextRect(r, caption_, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        canvas_.Brush.SetStyle(bsSolid);
    }
    TCustomControl::Paint();
}

} // namespace krv
