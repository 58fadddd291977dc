#include "framework/Menus.h"
#include <algorithm>
#include <utility>

namespace krv {

namespace {
// Menu command ids start above the dialog ids (IDOK, IDCANCEL...).
UINT nextCommand = 1000;
const char* const kPopupHostClass = "KorvanePopupMenuHost";

// The window a context menu runs over. Only forms hand WM_INITMENUPOPUP to
// their menu, so this one does it for the showing context menu: a submenu
// about to open fires its item first. Every menu message, that one included,
// then goes on to the window the menu was shown for.
class TPopupHost : public TWindow {
public:
    TPopupHost() {
        RegisterWindowClass(kPopupHostClass, 0);
        CreateWindowHandle(kPopupHostClass, "", WS_POPUP, WS_EX_TOOLWINDOW, 0, 0, 0, 0, nullptr);
    }
    // What the host works for while a menu shows (saved and restored around a nested one).
    struct TShowing {
        TMenuItem* Root = nullptr;
        TLifeWatch Menu;
        TWinControl* Owner = nullptr;
        TLifeWatch OwnerLife;
    } Showing;
protected:
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
        switch (msg) {
        case WM_INITMENUPOPUP: {
            // A submenu's handler may free the menu: later ones then fire nothing.
            TMenuItem* root = Showing.Root;
            TMenuItem* item = root && !Showing.Menu.Gone() ? root->FindPopup(reinterpret_cast<HMENU>(wParam)) : nullptr;
            if (item && item != root) item->Click();
            // The owner hears of it after the item, whose handler may have freed it.
            PassToOwner(msg, wParam, lParam, result);
            result = 0;
            return true;
        }
        case WM_INITMENU: case WM_MENUSELECT: case WM_MENUCHAR: case WM_ENTERIDLE: case WM_UNINITMENUPOPUP:
        case WM_ENTERMENULOOP: case WM_EXITMENULOOP: case WM_MEASUREITEM: case WM_DRAWITEM:
            return PassToOwner(msg, wParam, lParam, result);
        default:
            return false;
        }
    }
private:
    bool PassToOwner(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
        if (Showing.OwnerLife.Gone() || !Showing.Owner->HandleAllocated()) return false;
        result = ::SendMessageA(Showing.Owner->Handle(), msg, wParam, lParam);
        return true;
    }
};

TPopupHost& PopupHost() {
    static TPopupHost* host = new TPopupHost;
    return *host;
}
}

TMenuItem::TMenuItem(TComponent* owner) : TComponent(owner), command_(nextCommand++) {}

TMenuItem::~TMenuItem() {
    for (TMenuItem* child : items_) child->parentItem_ = nullptr;
    if (parentItem_) {
        auto& siblings = parentItem_->items_;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
}

void TMenuItem::Add(TMenuItem* item) {
    if (!item || item->parentItem_) return;
    item->parentItem_ = this;
    items_.push_back(item);
}

void TMenuItem::SetCaption(const std::string& caption) {
    caption_ = caption;
    UpdateMenuItem();
}

void TMenuItem::SetEnabled(bool enabled) {
    enabled_ = enabled;
    UpdateMenuItem();
}

void TMenuItem::SetChecked(bool checked) {
    checked_ = checked;
    UpdateMenuItem();
}

void TMenuItem::Click() { DoClick(); }
void TMenuItem::DoClick() { if (OnClick) OnClick(this); }

TMenuItem* TMenuItem::FindCommand(UINT command) {
    if (items_.empty() && command_ == command) return this;
    for (TMenuItem* c : items_)
        if (TMenuItem* found = c->FindCommand(command)) return found;
    return nullptr;
}

TMenuItem* TMenuItem::FindPopup(HMENU popup) {
    if (subMenu_ && subMenu_ == popup) return this;
    for (TMenuItem* c : items_)
        if (TMenuItem* found = c->FindPopup(popup)) return found;
    return nullptr;
}

void TMenuItem::Build(HMENU into, int position) {
    parentMenu_ = into;
    position_ = position;
    std::string text = caption_;
    if (!ShortCutText.empty()) text += "\t" + ShortCutText;
    if (caption_ == "-") {
        ::AppendMenuA(into, MF_SEPARATOR, 0, nullptr);
        return;
    }
    UINT flags = MF_STRING | (enabled_ ? MF_ENABLED : MF_GRAYED) | (checked_ ? MF_CHECKED : 0);
    if (items_.empty()) {
        subMenu_ = nullptr;
        ::AppendMenuA(into, flags, command_, text.c_str());
    } else {
        subMenu_ = ::CreatePopupMenu();
        for (size_t i = 0; i < items_.size(); ++i) items_[i]->Build(subMenu_, static_cast<int>(i));
        ::AppendMenuA(into, flags | MF_POPUP, reinterpret_cast<UINT_PTR>(subMenu_), text.c_str());
    }
}

void TMenuItem::Unbuild() {
    parentMenu_ = nullptr;
    position_ = -1;
    subMenu_ = nullptr;   // destroyed with the bar
    for (TMenuItem* c : items_) c->Unbuild();
}

void TMenuItem::UpdateMenuItem() {
    if (!parentMenu_ || caption_ == "-") return;
    std::string text = caption_;
    if (!ShortCutText.empty()) text += "\t" + ShortCutText;
    MENUITEMINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STRING | MIIM_STATE;
    info.dwTypeData = text.data();
    info.fState = (enabled_ ? MFS_ENABLED : MFS_GRAYED) | (checked_ ? MFS_CHECKED : MFS_UNCHECKED);
    ::SetMenuItemInfoA(parentMenu_, static_cast<UINT>(position_), TRUE, &info);
    // A change on the bar itself needs a redraw of the bar.
    TMenuItem* top = this;
    while (top->parentItem_) top = top->parentItem_;
    if (top != this && parentItem_ == top) {
        if (top->mainMenu_ && top->mainMenu_->Window) ::DrawMenuBar(top->mainMenu_->Window);
    }
}

TMainMenu::TMainMenu(TComponent* owner) : TComponent(owner), root_(nullptr) { root_.mainMenu_ = this; }

TMainMenu::~TMainMenu() {
    if (Window && ::IsWindow(Window) && ::GetMenu(Window) == menu_.get()) ::SetMenu(Window, nullptr);
    root_.Unbuild();
}

HMENU TMainMenu::Handle() {
    if (!menu_) {
        menu_.reset(::CreateMenu());
        for (int i = 0; i < root_.Count(); ++i) root_.Items(i)->Build(menu_.get(), i);
        root_.subMenu_ = menu_.get();
    }
    return menu_.get();
}

void TMainMenu::Rebuild() {
    // The old bar goes only after the window shows the new one.
    MenuHandle old(menu_.release());
    root_.Unbuild();
    HMENU fresh = Handle();
    if (Window) {
        ::SetMenu(Window, fresh);
        ::DrawMenuBar(Window);
    }
}

bool TMainMenu::DispatchCommand(UINT command) {
    TMenuItem* item = root_.FindCommand(command);
    if (!item || item == &root_ || !item->Enabled()) return false;
    item->Click();
    return true;
}

bool TMainMenu::DispatchPopup(HMENU popup) {
    TMenuItem* item = root_.FindPopup(popup);
    if (!item || item == &root_) return false;
    item->Click();
    return true;
}

TMenuItem* TMainMenu::FindSelected(UINT item, UINT flags, HMENU menu) {
    if (flags & MF_POPUP) {
        TMenuItem* parent = menu == menu_.get() ? &root_ : root_.FindPopup(menu);
        if (!parent || item >= static_cast<UINT>(parent->Count())) return nullptr;
        return parent->Items(static_cast<int>(item));
    }
    TMenuItem* found = root_.FindCommand(item);
    return found == &root_ ? nullptr : found;
}

TPopupMenu::TPopupMenu(TComponent* owner) : TComponent(owner), root_(nullptr) {}

TPopupMenu::~TPopupMenu() { root_.Unbuild(); }

TMenuItem* TPopupMenu::Popup(int x, int y, TWinControl* owner) {
    TLifeWatch self(this), ownerLife(owner);   // the opening handler may free either
    root_.Click();
    if (self.Gone() || root_.Count() == 0) return nullptr;   // nothing to show
    MenuHandle menu(::CreatePopupMenu());
    if (!menu) return nullptr;
    for (int i = 0; i < root_.Count(); ++i) root_.Items(i)->Build(menu.get(), i);
    root_.subMenu_ = menu.get();
    TPopupHost& host = PopupHost();
    TPopupHost::TShowing outer = std::exchange(host.Showing, {&root_, self, owner, ownerLife});
    UINT chosen = static_cast<UINT>(::TrackPopupMenu(menu.get(), TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD,
                                                     x, y, 0, host.Handle(), nullptr));
    host.Showing = outer;
    if (self.Gone()) return nullptr;
    root_.Unbuild();
    menu.reset();
    TMenuItem* item = chosen ? root_.FindCommand(chosen) : nullptr;
    if (!item || item == &root_ || !item->Enabled()) return nullptr;
    item->Click();
    return item;
}

} // namespace krv
