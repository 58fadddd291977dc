// The list view, and the linking of the published views through change links.
#include "shell/explorer/LazyExplorerListview.h"
#include "shell/explorer/LazyChangeLinks.h"
#include "shell/explorer/LazyExplorerContextMenu.h"
#include "shell/base/ShellEntryPoints.h"
#include "shell/base/WideFileUtils.h"
#include "shell/base/WideStrUtils.h"

namespace krv {

// ---- linking the views -----------------------------------------------------------------

TLazyExplorerViews::~TLazyExplorerViews() {
    if (linkedView_) linkedView_->linkedView_ = nullptr;
    if (TLETChangeDispatch* dispatch = ChangeDispatch()) dispatch->RemoveLinks(this, lkServerAndClient);
}

void TLazyExplorerViews::LinkView(TLazyExplorerViews* other) {
    if (other == linkedView_ || other == this) return;
    TLETChangeDispatch& dispatch = EnsureChangeDispatch();
    // Only the pair goes: the old partner keeps its links with other controls.
    auto unlink = [&dispatch](TLazyExplorerViews* a, TLazyExplorerViews* b) {
        dispatch.RemoveLink(a, b);
        dispatch.RemoveLink(b, a);
        a->linkedView_ = b->linkedView_ = nullptr;
    };
    if (linkedView_) unlink(this, linkedView_);
    if (!other) return;
    if (other->linkedView_) unlink(other, other->linkedView_);
    linkedView_ = other;
    other->linkedView_ = this;
    dispatch.AddLink(this, other, [other](TObject*, LPCITEMIDLIST pidl) { other->SyncToPIDL(pidl); });
    dispatch.AddLink(other, this, [this](TObject*, LPCITEMIDLIST pidl) { SyncToPIDL(pidl); });
}

void TLazyExplorerViews::SyncLinkedControls() {
    if (IsDesigning()) return;
    if (syncSuppressed_ > 0 || Browsing() || UpdateCount() > 0) {
        syncPending_ = true;
        return;
    }
    syncPending_ = false;
    TLETChangeDispatch* dispatch = ChangeDispatch();
    if (!dispatch) return;
    PLazyNode node = GetFirstSelected();
    if (!node) node = FocusedNode();
    TNamespace* ns;
    if (ValidateNamespace(node, ns) && ns->AbsolutePIDL()) dispatch->DispatchChange(this, ns->AbsolutePIDL());
}

bool TLazyExplorerViews::BrowseToPIDL(LPCITEMIDLIST pidl, bool expand, bool select, bool setFocus,
                                      bool collapseFirst, bool walkExpand) {
    bool result = TCustomLazyExplorerTree::BrowseToPIDL(pidl, expand, select, setFocus, collapseFirst, walkExpand);
    if (syncPending_ && !Browsing()) SyncLinkedControls();
    return result;
}

void TLazyExplorerViews::DoChange(PLazyNode node) {
    TCustomLazyExplorerTree::DoChange(node);
    // A right-click selects for its menu: the linked controls follow once it ends.
    TContextMenuManager& menu = ContextMenuManager();
    if (menu.MenuShown() || menu.RightClickSelecting()) return;
    SyncLinkedControls();
}

TLazyExplorerListview* TLazyExplorerTreeview::LazyExplorerListview() const {
    return dynamic_cast<TLazyExplorerListview*>(LinkedView());
}

void TLazyExplorerTreeview::SetLazyExplorerListview(TLazyExplorerListview* value) { LinkView(value); }

// ---- the list view ------------------------------------------------------------------------

TLazyExplorerListview::TLazyExplorerListview(TComponent* owner) : TLazyExplorerViews(owner) {
    ++rebuildLock_;
    InitDefaultOptions();
    --rebuildLock_;
}

TLazyExplorerListview::~TLazyExplorerListview() { FreePIDL(limitRoot_); }

void TLazyExplorerListview::InitDefaultOptions() {
    Header().SetHeight(17);
    Header().SetOptions({hoColumnResize, hoDblClickResize, hoDrag, hoShowSortGlyphs});
    SetIndent(0);
    SetMargin(4);
    auto& o = TreeOptions();
    o.SetAutoOptions({toAutoScroll});
    o.SetMiscOptions({toAcceptOLEDrop, toEditable, toReportMode, toToggleOnDblClick});
    o.SetPaintOptions({toShowTreeLines, toUseBlendedImages, toGhostedIfUnfocused});
    o.SetSelectionOptions({toMultiSelect, toRightClickSelect, toSiblingSelectConstraint});
    o.SetLETFolderOptions({toHideRootFolder});
    o.SetLETImageOptions({toImages, toThreadedImages, toMarkCutAndCopy});
    o.SetLETShellOptions({toRightAlignSizeColumn, toContextMenus, toShellHints});
    o.SetLETMiscOptions({toBrowseExecuteFolder, toBrowseExecuteFolderShortcut, toBrowseExecuteZipFolder,
                         toChangeNotifierThread, toExecuteOnDblClk});
    o.SetLETSyncOptions({toCollapseTargetFirst, toExpandTarget, toSelectTarget});
    SetFileObjects({foFolders, foNonFolders, foHidden});
    SetColumnDetails(cdShellColumns);
}

TLazyExplorerTreeview* TLazyExplorerListview::LazyExplorerTreeview() const {
    return dynamic_cast<TLazyExplorerTreeview*>(LinkedView());
}

void TLazyExplorerListview::SetLazyExplorerTreeview(TLazyExplorerTreeview* value) { LinkView(value); }

void TLazyExplorerListview::SetLimitRootPIDL(LPCITEMIDLIST pidl) {
    FreePIDL(limitRoot_);
    limitRoot_ = pidl ? PIDLManager()->CopyPIDL(pidl) : nullptr;
}

bool TLazyExplorerListview::CanBrowseTo(LPCITEMIDLIST pidl) const {
    auto& options = const_cast<TLazyExplorerListview*>(this)->TreeOptions();
    if (!pidl) return false;
    if (!options.LETMiscOptions().Contains(toListviewLimitBrowseToRoot)) return true;
    LPCITEMIDLIST limit = limitRoot_;
    if (TLazyExplorerTreeview* tree = LazyExplorerTreeview(); tree && tree->RootFolderNamespace())
        limit = tree->RootFolderNamespace()->AbsolutePIDL();
    return !limit || krv::ILIsEqual(limit, pidl) || krv::ILIsParent(limit, pidl, false);
}

bool TLazyExplorerListview::BrowseToPIDL(LPCITEMIDLIST pidl, bool, bool select, bool, bool, bool) {
    if (!CanBrowseTo(pidl)) return false;
    struct TQuiet {
        int& count;
        ~TQuiet() { --count; }
    } quiet{++syncSuppressed_};
    bool folder = TNamespace(PIDLManager()->CopyPIDL(pidl)).Folder();
    PIDLPtr root(PIDLManager()->CopyPIDL(pidl));
    if (!root) return false;
    if (!folder) TPIDLManager::StripLastID(root.get());
    SetRootFolderCustomPIDL(root.get());
    if (!folder && select) WalkToPIDL(pidl, true, false);
    syncPending_ = false;
    return RootFolderNamespace() != nullptr;
}

void TLazyExplorerListview::RebuildTree() {
    TLazyExplorerViews::RebuildTree();
    BuildColumns();
}

void TLazyExplorerListview::BrowseByUser(LPCITEMIDLIST pidl) {
    if (!BrowseToPIDL(pidl, false, false, false, false, false)) return;
    TLETChangeDispatch* dispatch = ChangeDispatch();
    if (dispatch && RootFolderNamespace()) dispatch->DispatchChange(this, RootFolderNamespace()->AbsolutePIDL());
}

bool TLazyExplorerListview::ExecuteNode(PLazyNode node) {
    TNamespace* ns;
    if (!ValidateNamespace(node, ns)) return false;
    auto misc = TreeOptions().LETMiscOptions();
    bool zip = WideLowerCase(ExtractFileExtW(ns->NameForParsing())) == L".zip";
    if (misc.Contains(toBrowseExecuteFolder) && ns->Folder() && (!zip || misc.Contains(toBrowseExecuteZipFolder))) {
        BrowseByUser(ns->AbsolutePIDL());
        return true;
    }
    if (misc.Contains(toBrowseExecuteFolderShortcut) && ns->Link()) {
        ++syncSuppressed_;
        bool browsed = BrowseToShortcutTarget(ns);
        --syncSuppressed_;
        if (browsed) {
            BrowseByUser(RootFolderNamespace()->AbsolutePIDL());
            return true;
        }
    }
    std::wstring workingDir, parameters;
    if (!DoShellExecute(ns, workingDir, parameters)) return false;
    // Nothing was browsed into: the shell opens it, a folder or a folder's shortcut too.
    return ShellExecuteItem(ns, workingDir, parameters, true, true);
}

bool TLazyExplorerListview::ShellExecuteItem(TNamespace* ns, const std::wstring& workingDir,
                                             const std::wstring& parameters, bool execFolder,
                                             bool execFolderShortcut) {
    return ns->ShellExecuteNamespace(workingDir, parameters, execFolder, execFolderShortcut);
}

void TLazyExplorerListview::HandleKeyDown(WORD& key, TShiftState shift) {
    if (!IsEditing()) {
        if (key == VK_BACK && RootFolderNamespace() && !RootFolderNamespace()->IsDesktop()) {
            PIDLPtr up(PIDLManager()->CopyPIDL(RootFolderNamespace()->AbsolutePIDL()));
            if (up) {
                TPIDLManager::StripLastID(up.get());
                BrowseByUser(up.get());
            }
            return;
        }
        if (key == VK_RETURN && SelectedCount() == 1) {
            if (TLazyExplorerTreeview* tree = LazyExplorerTreeview(); tree && tree->FocusedNode())
                tree->RefreshNode(tree->FocusedNode());
            ExecuteNode(GetFirstSelected());
            return;
        }
    }
    TLazyExplorerViews::HandleKeyDown(key, shift);
}

void TLazyExplorerListview::HandleMouseDblClick(TMouseButton button, TShiftState shift, POINT p,
                                                THitTestResult& hitInfo) {
    if (button == mbLeft && hitInfo.Node && TreeOptions().LETMiscOptions().Contains(toExecuteOnDblClk) &&
        (hitInfo.Positions & hpOnItem)) {
        ExecuteNode(hitInfo.Node);
        return;
    }
    TLazyExplorerViews::HandleMouseDblClick(button, shift, p, hitInfo);
}

} // namespace krv
