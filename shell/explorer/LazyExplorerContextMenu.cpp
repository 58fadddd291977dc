// The explorer tree's shell context menu: right-button selection, the menu
// from the mouse and from the keyboard, its events, and the window messages
// that carry them.
#include "shell/explorer/LazyExplorerContextMenu.h"
#include "shell/explorer/LazyExplorerTree.h"
#include "shell/base/WideStrUtils.h"
#include "framework/Menus.h"
#include <windowsx.h>

namespace krv {

namespace {
PIDLPtr ItemOf(TCustomLazyExplorerTree* tree, PLazyNode node) {
    TNamespace* ns;
    if (!tree->ValidateNamespace(node, ns)) return PIDLPtr();
    return PIDLPtr(PIDLManager()->CopyPIDL(ns->AbsolutePIDL()));
}

bool IsSeparator(HMENU menu, int position) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE;
    return ::GetMenuItemInfoW(menu, UINT(position), TRUE, &info) && (info.fType & MFT_SEPARATOR);
}
// Gives a menu item the caption for as long as it is shown under it.
class TSubMenuCaption {
public:
    TSubMenuCaption(TMenuItem* item, const std::wstring& caption) {
        if (!item || caption.empty() || item->ParentItem()) return;
        item_ = item;
        watch_ = TLifeWatch(item);
        old_ = item->Caption();
        item->SetCaption(WideToAnsi(caption));
    }
    ~TSubMenuCaption() {
        if (item_ && !watch_.Gone()) item_->SetCaption(old_);   // a handler may have freed it
    }
    TSubMenuCaption(const TSubMenuCaption&) = delete;
    TSubMenuCaption& operator=(const TSubMenuCaption&) = delete;
    bool Applied() const { return item_ != nullptr; }
private:
    TMenuItem* item_ = nullptr;
    TLifeWatch watch_;
    std::string old_;
};
} // namespace

bool RemoveContextMenuShortCut(HMENU menu, const std::function<std::wstring(UINT id)>& verbOf) {
    int count = ::GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        UINT id = ::GetMenuItemID(menu, i);
        if (id == UINT(-1) || id == 0 || IsSeparator(menu, i)) continue;
        if (StrICompW(verbOf(id).c_str(), L"link") != 0) continue;
        ::DeleteMenu(menu, UINT(i), MF_BYPOSITION);
        bool wasLast = i == count - 1;
        if (i > 0 && IsSeparator(menu, i - 1) && (wasLast || IsSeparator(menu, i)))
            ::DeleteMenu(menu, UINT(i - 1), MF_BYPOSITION);
        return true;
    }
    return false;
}

// ---- TContextMenuManager ---------------------------------------------------------------

bool TContextMenuManager::Enabled() const {
    return tree_->TreeOptions().LETShellOptions().Contains(toContextMenus);
}

PLazyNode TContextMenuManager::RightClickNode() const {
    return rightClick_ ? tree_->FindNodeByPIDL(rightClick_.get()) : nullptr;
}

void TContextMenuManager::RightButtonDown(PLazyNode node) {
    if (!Enabled() || !node) return;
    rightClick_ = ItemOf(tree_, node);
    previousSelection_.clear();
    for (PLazyNode selected : tree_->GetSortedSelection(false))
        if (PIDLPtr item = ItemOf(tree_, selected)) previousSelection_.push_back(std::move(item));
    previousFocus_ = ItemOf(tree_, tree_->FocusedNode());
    // Set first: the selection's change notifications must see it.
    selectionChanged_ = !tree_->Selected(node);
    if (selectionChanged_) {
        tree_->ClearSelection();
        tree_->SetSelected(node, true);
        tree_->SetFocusedNode(node);
    }
}

bool TContextMenuManager::ShowMenuForRightClick(POINT screenPoint) {
    PLazyNode node = RightClickNode();
    return node && tree_->ShowShellContextMenu(node, screenPoint);
}

POINT TContextMenuManager::KeyboardMenuPosition(PLazyNode node) {
    RECT r = tree_->GetDisplayRect(node, ColumnNone, false);
    int level = int(tree_->GetNodeLevel(node));
    int indent = int(tree_->Indent());
    POINT p{r.left + level * indent + indent / 2, (r.top + r.bottom) / 2};
    ::ClientToScreen(tree_->Handle(), &p);
    return p;
}

bool TContextMenuManager::ShowMenuFromKeyboard() {
    PLazyNode node = tree_->GetFirstSelected();
    return Enabled() && node && tree_->ShowShellContextMenu(node, KeyboardMenuPosition(node));
}

void TContextMenuManager::Restore() {
    tree_->ClearSelection();
    for (const PIDLPtr& item : previousSelection_)
        if (PLazyNode node = tree_->FindNodeByPIDL(item.get())) tree_->SetSelected(node, true);
    if (previousFocus_) tree_->SetFocusedNode(tree_->FindNodeByPIDL(previousFocus_.get()));
}

void TContextMenuManager::Reset() {
    bool changed = selectionChanged_;
    if (changed && !tree_->TreeOptions().LETMiscOptions().Contains(toRightButtonSelect)) Restore();
    rightClick_.reset();
    previousSelection_.clear();
    previousFocus_.reset();
    selectionChanged_ = false;
    menuShown_ = false;
    if (changed) tree_->SyncLinkedControls();
}

// ---- the tree's side ---------------------------------------------------------------------

TContextMenuManager& TCustomLazyExplorerTree::ContextMenuManager() {
    if (!contextMenuManager_) contextMenuManager_ = std::make_unique<TContextMenuManager>(this);
    return *contextMenuManager_;
}

bool TCustomLazyExplorerTree::ShowShellContextMenu(PLazyNode node, POINT screenPoint) {
    TNamespace* ns;
    if (!ValidateNamespace(node, ns) || !HandleAllocated()) return false;
    TNamespaceArray items{ns};
    if (Selected(node) && SelectedCount() > 1) items = SelectedNamespaces();
    // A verb may rebuild the nodes while the menu runs (its windows answer
    // the change notifications): the menu works on a copy of the item.
    std::unique_ptr<TNamespace> target = ns->Clone(true);
    TNamespace* shown = target.get();
    // Any hook, or one of the tree's own items, may close the tree: after that
    // the hooks are not passed on and nothing of the tree is touched.
    TLifeWatch self(this);
    TNamespace::TContextMenuHooks hooks;
    hooks.OnShow = [this, shown, self](HMENU menu, const std::function<std::wstring(UINT)>& verbOf) {
        if (LETMiscOption(toRemoveContextMenuShortCut)) RemoveContextMenuShortCut(menu, verbOf);
        return DoContextMenuShow(shown, menu) && !self.Gone();
    };
    hooks.OnCommand = [this, self](TNamespace* item, const std::wstring& verb, int id, bool& handled) {
        handled = self.Gone() || ContextMenuCommand(item, verb, id);
    };
    hooks.OnAfterCommand = [this, self](TNamespace* item, const std::wstring& verb, int id, bool successful) {
        if (!self.Gone()) DoContextMenuAfterCmd(item, verb, id, successful);
    };
    hooks.OnMenuSelect = [this, shown, self](UINT id, HMENU sub, UINT flags) {
        if (!self.Gone()) DoContextMenuItemChange(shown, int(id), sub, (flags & MF_MOUSESELECT) != 0);
    };
    // The tree's own items go into the shell's menu as one submenu under the caption.
    TMenuItem holder;
    TMenuItem* merge = ShellContextSubMenu;
    TSubMenuCaption caption(ShellContextSubMenu, ShellContextSubMenuCaption);
    if (caption.Applied()) {
        holder.Add(ShellContextSubMenu);
        merge = &holder;
    }
    ContextMenuManager().SetMenuShown(true);
    bool result = target->ShowContextMenu(Handle(), screenPoint, items, merge, hooks);
    if (self.Gone()) return result;
    ContextMenuManager().SetMenuShown(false);
    return result;
}

bool TCustomLazyExplorerTree::ContextMenuMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
    case WM_CONTEXTMENU: {
        if (LETMiscOption(toLETReadOnly) || !ContextMenuManager().Enabled()) return false;
        POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        bool shown = false;
        TLifeWatch self(this);
        if (p.x == -1 && p.y == -1) {
            shown = ContextMenuManager().ShowMenuFromKeyboard();
            if (!shown && GetFirstSelected()) {
                POINT at = ContextMenuManager().KeyboardMenuPosition(GetFirstSelected());
                lParam = MAKELPARAM(at.x, at.y);
            }
        } else {
            POINT client = p;
            ::ScreenToClient(Handle(), &client);
            THitTestResult hit;
            GetHitTestInfoAt(client.x, client.y, true, hit);
            bool onItem = hit.Positions & (hpOnItemLabel | hpOnNormalIcon);
            bool mainColumn = hit.Column == ColumnNone || hit.Column == Header().MainColumn();
            if (hit.Node && onItem && mainColumn) {
                if (!ContextMenuManager().RightClickNode()) ContextMenuManager().RightButtonDown(hit.Node);
                shown = ContextMenuManager().ShowMenuForRightClick(p);
            }
        }
        if (self.Gone()) return true;
        if (!shown) TCustomLazyStringTree::HandleMessage(msg, wParam, lParam, result);
        if (self.Gone()) return true;
        ContextMenuManager().Reset();
        result = 0;
        return true;
    }
    case WM_RBUTTONDOWN: {
        THitTestResult hit;
        GetHitTestInfoAt(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), true, hit);
        if (hit.Node && (hit.Positions & (hpOnItemLabel | hpOnNormalIcon))) ContextMenuManager().RightButtonDown(hit.Node);
        return false;
    }
    case WM_RBUTTONUP: {
        // The default handling of the release raises WM_CONTEXTMENU, which ends
        // the right-click; a release that raised none ends it here.
        TLifeWatch self(this);
        if (!TCustomLazyStringTree::HandleMessage(msg, wParam, lParam, result))
            result = DefaultHandler(msg, wParam, lParam);
        if (self.Gone()) return true;
        if (ContextMenuManager().RightClickNode() || ContextMenuManager().RightClickSelecting())
            ContextMenuManager().Reset();
        if (::GetCapture() == Handle()) ::ReleaseCapture();
        return true;
    }
    default:
        return false;
    }
}

bool TCustomLazyExplorerTree::ContextMenuCommand(TNamespace* ns, const std::wstring& verb, int menuItemID) {
    if (DoContextMenuCmd(ns, verb, menuItemID)) return true;
    if (StrICompW(verb.c_str(), L"rename") != 0) return false;
    // Renaming happens in place, in the tree's own editor.
    if (SelectedCount() == 1) EditNodeName(GetFirstSelected());
    return true;
}

bool TCustomLazyExplorerTree::DoContextMenuCmd(TNamespace* ns, const std::wstring& verb, int menuItemID) {
    bool handled = false;
    if (OnContextMenuCmd) OnContextMenuCmd(this, ns, verb, menuItemID, handled);
    return handled;
}

void TCustomLazyExplorerTree::DoContextMenuAfterCmd(TNamespace* ns, const std::wstring& verb, int menuItemID,
                                                    bool successful) {
    if (successful && ImageOption(toMarkCutAndCopy)) {
        if (StrICompW(verb.c_str(), L"cut") == 0) MarkCutCopy(true);
        else if (StrICompW(verb.c_str(), L"copy") == 0) MarkCutCopy(false);
    }
    if (OnContextMenuAfterCmd) OnContextMenuAfterCmd(this, ns, verb, menuItemID, successful);
}

bool TCustomLazyExplorerTree::DoContextMenuShow(TNamespace* ns, HMENU menu) {
    bool allow = true;
    if (OnContextMenuShow) OnContextMenuShow(this, ns, menu, allow);
    return allow;
}

void TCustomLazyExplorerTree::DoContextMenuItemChange(TNamespace* ns, int menuItemID, HMENU subMenu,
                                                      bool mouseSelect) {
    if (OnContextMenuItemChange) OnContextMenuItemChange(this, ns, menuItemID, subMenu, mouseSelect);
}

} // namespace krv
