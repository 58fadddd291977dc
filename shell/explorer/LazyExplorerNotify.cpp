// The explorer tree as a client of the change notifier: registration with
// the window's life, and what a batch of changes does to the nodes.
#include "shell/explorer/LazyExplorerTree.h"
#include "shell/explorer/LazyExplorerContextMenu.h"
#include "shell/explorer/LazyExplorerViews.h"
#include "shell/notify/LazyShellNotifier.h"
#include "shell/base/ShellUtils.h"
#include <algorithm>

namespace krv {

void TCustomLazyExplorerTree::ChangeNotifierOn(bool on) {
    if (IsLoading() || IsDesigning() || constructing_ || on == changeNotifierRegistered_) return;
    if (on) {
        // The notifier posts to the window: none yet, registered at its creation.
        if (!LETMiscOption(toChangeNotifierThread) || !HandleAllocated()) return;
        LazyChangeNotifier()->RegisterShellChangeNotify(this);
        changeNotifierRegistered_ = true;
        return;
    }
    // What the notifier already sent is handled before leaving it: a batch
    // left in the queue of a window that goes would never be released.
    if (HandleAllocated()) {
        MSG msg;
        while (::PeekMessageW(&msg, Handle(), WM_SHELLNOTIFY, WM_SHELLNOTIFY, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    changeNotifierRegistered_ = false;
    deferredShellFolders_.clear();
    LazyChangeNotifier()->UnRegisterShellChangeNotify(this);
}

void TCustomLazyExplorerTree::HandleShellNotify(TLazyShellEventList* list) {
    TLazyShellEventListPtr hold(list);
    if (!list) return;
    for (int i = 0; i < list->Count(); ++i) {
        const TLazyShellEvent& e = list->Items(i);
        // A folder watch's change carries no shell bits: to a handler it is a folder update.
        DoShellNotify({e.Flags ? e.Flags : LONG(SHCNE_UPDATEDIR), e.PIDL1.get(), e.PIDL2.get()});
        if (!changeNotifierRegistered_) continue;
        switch (e.Kind) {
        case sekUpdateDir: ShellFolderChanged(e.PIDL1.get()); break;
        case sekDriveAdd:
        case sekDriveRemoved: ShellFolderChanged(e.ParentPIDL1.get()); break;
        case sekMediaInserted:
        case sekMediaRemoved:
            if (PLazyNode drive = e.PIDL1 ? FindNodeByPIDL(e.PIDL1.get()) : nullptr) RefreshNode(drive);
            break;
        case sekAssociationChanged:
            if (!LETMiscOption(toNoRebuildIconListOnAssocChange)) {
                RebuildSystemIconList();
                break;
            }
            [[fallthrough]];
        case sekUpdateImage:
            // Any shown icon may have changed: ask again as the nodes are painted.
            DropPendingIcons();
            for (PLazyNode run = GetFirstNoInit(); run; run = GetNextNoInit(run))
                if (TNamespace* ns = GetNodeData(run)->Namespace) ns->Invalidate(true);
            Invalidate();
            break;
        default: break;
        }
    }
}

bool TCustomLazyExplorerTree::ShellRefreshBusy() {
    return UpdateCount() > 0 || IsEditing() || !HandleAllocated() || !::IsWindowVisible(Handle()) ||
           ContextMenuManager().MenuShown();
}

void TCustomLazyExplorerTree::RebuildSystemIconList() {
    if (ShellRefreshBusy()) {
        iconListRebuildPending_ = true;
        return;
    }
    iconListRebuildPending_ = false;
    Persistent().SaveTree(*this, true, true);
    {
        // No icon is drawn from the list while the shell makes it anew; the
        // tree is rebuilt once, afterwards.
        struct TLock {
            int& count;
            ~TLock() { --count; }
        } lock{++rebuildLock_};
        // A tree shown without images stays so.
        TLETImageOptions images = TreeOptions().LETImageOptions();
        TreeOptions().SetLETImageOptions(images - toImages);
        RebuildShellIconCache([this] { ReinitShellIconCache(); });
        TreeOptions().SetLETImageOptions(images);
    }
    RebuildAndRestoreView(LETMiscOption(toRestoreTopNodeOnRefresh));
}

void TCustomLazyExplorerTree::ReinitShellIconCache() { BroadcastIconMetricsChange(); }

void TCustomLazyExplorerTree::ShellFolderChanged(LPCITEMIDLIST folder) {
    if (!folder) return;
    if (ShellRefreshBusy()) {
        auto same = [folder](const PIDLPtr& p) { return SameShellPIDL(p.get(), folder); };
        if (std::none_of(deferredShellFolders_.begin(), deferredShellFolders_.end(), same))
            deferredShellFolders_.emplace_back(PIDLManager()->CopyPIDL(folder));
        return;
    }
    PLazyNode node = FindNodeByPIDL(folder);
    TNamespace* ns;
    if (!ValidateNamespace(node, ns)) return;
    if (node == RootNode() || node->ChildCount > 0 || Expanded(node)) {
        ReReadAndRefreshNode(node);
        return;
    }
    // Its children were never made: only whether it has any may have changed.
    ns->Invalidate(false);
    SetHasChildren(node, HasChildrenTest(ns, node->Parent == RootNode() ? nullptr : node->Parent));
    InvalidateNode(node);
}

void TCustomLazyExplorerTree::RunDeferredShellRefresh() {
    if (ShellRefreshBusy()) return;
    if (iconListRebuildPending_) RebuildSystemIconList();
    if (deferredShellFolders_.empty()) return;
    std::vector<PIDLPtr> folders = std::move(deferredShellFolders_);
    deferredShellFolders_.clear();
    for (auto& folder : folders) ShellFolderChanged(folder.get());
}

} // namespace krv
