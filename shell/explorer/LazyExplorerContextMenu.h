// The explorer tree's shell context menu: the right-button selection around
// it, where a menu opened from the keyboard appears, and the removal of the
// shell's "create shortcut" item.
#pragma once
#include "shell/base/PIDLTools.h"
#include "tree/core/LazyTrees.h"
#include <functional>
#include <string>
#include <vector>

namespace krv {

class TCustomLazyExplorerTree;

// Deletes the first top-level item whose verb is "link", and the separator
// before it when that would be left last or doubled. False when there was none.
bool RemoveContextMenuShortCut(HMENU menu, const std::function<std::wstring(UINT id)>& verbOf);

// One per tree. Nodes are remembered by their items, not by pointer: a verb
// run from the menu may rebuild the nodes.
class TContextMenuManager {
public:
    explicit TContextMenuManager(TCustomLazyExplorerTree* tree) : tree_(tree) {}

    bool Enabled() const;   // mirrors toContextMenus
    bool MenuShown() const { return menuShown_; }
    // From a right press that changed the selection until Reset: the
    // selection is the menu's, and linked controls do not follow it.
    bool RightClickSelecting() const { return selectionChanged_; }
    PLazyNode RightClickNode() const;

    // A right press over a node's label or icon: the selection and focus are
    // remembered, and an unselected node is selected and focused.
    void RightButtonDown(PLazyNode node);
    // The menu for the right-clicked node at a screen point; false when none was shown.
    bool ShowMenuForRightClick(POINT screenPoint);
    // The menu of the first selected node at the keyboard position.
    bool ShowMenuFromKeyboard();
    // Where a menu opened from the keyboard goes, in screen coordinates.
    POINT KeyboardMenuPosition(PLazyNode node);
    // Ends a right-click: without toRightButtonSelect the remembered selection
    // and focus come back; the linked controls then follow the selection as
    // it stays. Forgets everything.
    void Reset();
    void SetMenuShown(bool value) { menuShown_ = value; }

private:
    void Restore();
    TCustomLazyExplorerTree* tree_;
    PIDLPtr rightClick_;
    std::vector<PIDLPtr> previousSelection_;
    PIDLPtr previousFocus_;
    bool selectionChanged_ = false;
    bool menuShown_ = false;
};

} // namespace krv
