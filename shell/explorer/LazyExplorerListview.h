// The published list view: the items of one folder shown flat with the
// shell's detail columns. Backspace goes up a folder; a double-click or
// Enter browses into a folder or has the shell open the item. Linked with
// a TLazyExplorerTreeview, each follows the other's selection.
#pragma once
#include "shell/explorer/LazyExplorerTree.h"
#include <string>

namespace krv {

class TLazyExplorerListview : public TLazyExplorerViews {
public:
    explicit TLazyExplorerListview(TComponent* owner = nullptr);
    ~TLazyExplorerListview() override;
    bool InheritsFrom(const std::string& className) const override {
        return className == "TLazyExplorerListview" || TLazyExplorerViews::InheritsFrom(className);
    }

    TLazyExplorerTreeview* LazyExplorerTreeview() const;
    void SetLazyExplorerTreeview(TLazyExplorerTreeview* value);
    // With toListviewLimitBrowseToRoot and no linked tree, browsing stays below this item.
    LPCITEMIDLIST LimitRootPIDL() const { return limitRoot_; }
    void SetLimitRootPIDL(LPCITEMIDLIST pidl);

    // The item's folder (the item itself, else its parent) becomes the root;
    // a file is then selected with select. True when a root is set.
    bool BrowseToPIDL(LPCITEMIDLIST pidl, bool expand, bool select, bool setFocus, bool collapseFirst,
                      bool walkExpand) override;
    bool CanBrowseTo(LPCITEMIDLIST pidl) const override;
    void RebuildTree() override;
    // Browses into a folder (as the options allow) or has the shell open the item.
    bool ExecuteNode(PLazyNode node);

protected:
    void InitDefaultOptions() override;
    void HandleKeyDown(WORD& charCode, TShiftState shift) override;
    void HandleMouseDblClick(TMouseButton button, TShiftState shift, POINT p, THitTestResult& hitInfo) override;
    // Opens the item with the shell (folders and folder shortcuts only when
    // told); a seam for tests.
    virtual bool ShellExecuteItem(TNamespace* ns, const std::wstring& workingDir, const std::wstring& parameters,
                                  bool execFolder, bool execFolderShortcut);

private:
    // Browses to pidl as the user's own move: the linked controls follow the new folder.
    void BrowseByUser(LPCITEMIDLIST pidl);
    LPITEMIDLIST limitRoot_ = nullptr;
    int browseDepth_ = 0;
};

} // namespace krv
