// Main and context menus with nested items. Items are components (found by
// name through their owner); each leaf gets a command id, each item with
// children a popup. Opening a popup fires its item's OnClick first, so a
// handler can enable the entries below it just in time.
#pragma once
#include "framework/Controls.h"
#include <string>
#include <vector>

namespace krv {

class TMenuItem : public TComponent {
public:
    explicit TMenuItem(TComponent* owner = nullptr);
    ~TMenuItem() override;

    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    bool Checked() const { return checked_; }
    void SetChecked(bool checked);
    std::string ShortCutText;   // shown right-aligned, e.g. "Ctrl+S"
    // Shown by the application (its OnHint) while the item is highlighted.
    std::string Hint;

    // Appends a child item (not owned by this item: ownership stays with its owner).
    void Add(TMenuItem* item);
    int Count() const { return static_cast<int>(items_.size()); }
    TMenuItem* Items(int i) const { return items_.at(static_cast<size_t>(i)); }
    TMenuItem* ParentItem() const { return parentItem_; }
    UINT Command() const { return command_; }
    HMENU SubMenu() const { return subMenu_; }

    TNotifyEvent OnClick;
    virtual void Click();

    // The item with a command id or a popup handle in this subtree, or null.
    TMenuItem* FindCommand(UINT command);
    TMenuItem* FindPopup(HMENU popup);

protected:
    virtual void DoClick();

private:
    friend class TMainMenu;
    friend class TPopupMenu;
    void Build(HMENU into, int position);
    void Unbuild();
    void UpdateMenuItem();

    std::string caption_;
    bool enabled_ = true;
    bool checked_ = false;
    std::vector<TMenuItem*> items_;
    TMenuItem* parentItem_ = nullptr;
    UINT command_;
    HMENU parentMenu_ = nullptr;   // where this item sits once built
    int position_ = -1;
    HMENU subMenu_ = nullptr;
    class TMainMenu* mainMenu_ = nullptr;   // set on the root item only
};

class TMainMenu : public TComponent {
public:
    explicit TMainMenu(TComponent* owner = nullptr);
    ~TMainMenu() override;
    // The invisible root; its children are the menu bar's entries.
    TMenuItem& Items() { return root_; }
    // Builds the menu bar (again) from the items.
    HMENU Handle();
    void Rebuild();
    // What the window calls on WM_COMMAND (menu) and WM_INITMENUPOPUP.
    bool DispatchCommand(UINT command);
    bool DispatchPopup(HMENU popup);
    // The item a WM_MENUSELECT names (item: command id or position; flags:
    // MF_POPUP when it is a position in menu), or null.
    TMenuItem* FindSelected(UINT item, UINT flags, HMENU menu);
    // The window showing the menu (set by the form).
    HWND Window = nullptr;
private:
    TMenuItem root_;
    MenuHandle menu_;
};

// A context menu. Its system menu is built from the items each time it shows
// and gone after, so the items may change between showings; the menu answers
// the chosen command itself, so no command reaches the window it shows over.
class TPopupMenu : public TComponent {
public:
    explicit TPopupMenu(TComponent* owner = nullptr);
    ~TPopupMenu() override;
    // The invisible root: its OnClick fires as the menu opens.
    TMenuItem& Items() { return root_; }
    // The component the menu shows for (set by whoever shows it).
    TComponent* PopupComponent = nullptr;
    // Shows the menu at a screen point for owner (which gets the menu's
    // messages, WM_INITMENUPOPUP after the opening submenu's item fired, while
    // it lives; may be null) until the user chooses or leaves; fires the
    // chosen item's OnClick and answers that item (null when none was chosen
    // or a handler freed the menu).
    TMenuItem* Popup(int x, int y, TWinControl* owner = nullptr);
private:
    TMenuItem root_;
};

} // namespace krv
