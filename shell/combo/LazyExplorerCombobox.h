// The path combo box: an edit for a shell path with the current item's icon
// and a button that drops down a folder tree; while the user types, an
// autocomplete list drops down instead. Enter resolves the typed text to a
// shell item (a path, a drive letter, a name on the desktop or in My
// Computer, or a file, which is opened).
#pragma once
#include "shell/explorer/LazyChangeLinks.h"
#include "shell/combo/LazyPopupDropDowns.h"
#include "shell/base/WideControls.h"
#include "framework/Themes.h"
#include <functional>
#include <memory>
#include <string>

namespace krv {

class TCustomLazyExplorerCombobox;

// The edit of the combo box. Modified is set by the first change after it
// was cleared, and cleared when the program sets the text or the window is
// made again.
class TComboEdit : public TCustomWideEdit {
public:
    explicit TComboEdit(TCustomLazyExplorerCombobox* combo);
    bool Modified() const { return modified_; }
    // Sets the text as the program's (no autocomplete, not modified).
    void SetEditText(const std::wstring& text);
    void SelectRange(int start, int end);
protected:
    void CreateParams(TCreateParams& params) override;
    void CreateHandleDone() override;
    void DoChange() override;
    void KeyDown(WORD& key, TShiftState shift) override;
    void KeyPress(char& key) override;
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
private:
    TCustomLazyExplorerCombobox* combo_;
    bool modified_ = false;
    int setting_ = 0;
};

// Where the parts of the combo box lie in a client rectangle (see Paint).
struct TComboLayout {
    RECT Inner, Button, Image, Edit;
};
TComboLayout LayoutCombo(const RECT& client, const RECT& inner, SIZE image, int buttonWidth, int textHeight);

// The start of the selection after text that did not resolve: just after the
// last backslash whose leading part is an existing folder (the parts tried
// from the left, stopping at the first that is not); 0 when there is none.
int UnresolvedTailStart(const std::wstring& text, const std::function<bool(const std::wstring&)>& isFolder);

// A typed path of one character X is X:\, one of two characters gains a "\".
std::wstring CompleteDriveForm(const std::wstring& text);

class TCustomLazyExplorerCombobox : public TCustomControl {
public:
    explicit TCustomLazyExplorerCombobox(TComponent* owner = nullptr);
    ~TCustomLazyExplorerCombobox() override;

    TComboEdit& Edit() { return *edit_; }
    TPopupExplorerDropDown& PopupExplorerDropDown() { return *explorerDropDown_; }
    TPopupAutoCompleteDropDown& PopupAutoCompleteDropDown() { return *autoCompleteDropDown_; }
    TPopupExplorerOptions& PopupExplorerOptions() { return explorerOptions_; }
    TPopupAutoCompleteOptions& PopupAutoCompleteOptions() { return autoCompleteOptions_; }

    TNamespace* CurrentItem() const { return current_.get(); }
    // Makes the item current (nil clears it) and shows its path.
    void SetCurrentItem(std::unique_ptr<TNamespace> ns);
    // A path that parses becomes the current item (unless it is that already).
    void SetPath(const std::wstring& path);
    std::wstring Path() const { return edit_->Text(); }
    int ImageIndex() const { return imageIndex_; }
    void SetImageIndex(int value);
    bool ThemeAware() const { return themeAware_; }
    void SetThemeAware(bool value);
    bool Themed() const { return theme_.Active() && themeAware_; }

    // The drop-down button's state.
    bool ButtonHot() const { return hot_; }
    bool ButtonPressed() const { return pressed_; }
    bool ButtonPressedAway() const { return pressedAway_; }

    // The button or the drop-down key: closes the autocomplete list when it
    // is open, else opens (or closes) the folder tree.
    void ButtonClick();
    // Enter in the edit.
    void ResolveTypedText();
    // The edit's text changed: the autocomplete list follows it.
    void EditChanged();
    TComboLayout Layout();

    // The client side of a change link: a server's new item becomes current.
    // This control's own choices go out through the process-wide dispatch.
    void ChangeLinkChanged(TObject* server, LPCITEMIDLIST pidl);
    // Links this control and an explorer view both ways.
    void LinkWith(TLazyExplorerViews* view);

    std::function<void(TObject* sender, const std::wstring& path)> OnInvalidPath;
    // The unresolved-path box's texts around the path, and its caption.
    static std::wstring InvalidPathPrefix, InvalidPathSuffix, InvalidPathCaption;

protected:
    virtual void DoInvalidPath(const std::wstring& path);
    // Opens a file the typed text named (through the shell).
    virtual void OpenItem(TNamespace* ns);
    void Paint() override;
    void CreateParams(TCreateParams& params) override;
    void CreateHandleDone() override;
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseMove(TShiftState shift, int x, int y) override;
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
    void FontChanged() override;

private:
    void MakeCurrent(std::unique_ptr<TNamespace> ns, bool dispatch);
    void DropExplorer();
    void OpenFile(LPITEMIDLIST pidl, const std::wstring& text);
    void Unresolved(const std::wstring& text);
    // A child of folder whose normal name is text (any case); nil when none.
    std::unique_ptr<TNamespace> ChildNamed(TNamespace* folder, const std::wstring& text, bool files);
    void PlaceEdit();
    int TextHeight();
    void SetButtonState(bool hot, bool pressed, bool away);

    TComboEdit* edit_;
    TPopupExplorerDropDown* explorerDropDown_;
    TPopupAutoCompleteDropDown* autoCompleteDropDown_;
    std::unique_ptr<TNamespace> current_;
    int imageIndex_ = -1;
    bool themeAware_ = true;
    bool hot_ = false, pressed_ = false, pressedAway_ = false, tracking_ = false;
    bool notifierRegistered_ = false;
    TTheme theme_, comboTheme_, buttonTheme_;
    TPopupExplorerOptions explorerOptions_;
    TPopupAutoCompleteOptions autoCompleteOptions_;
};

class TLazyExplorerCombobox : public TCustomLazyExplorerCombobox {
public:
    using TCustomLazyExplorerCombobox::TCustomLazyExplorerCombobox;
};

} // namespace krv
