// The explorer tree's nodes: their data area, initialisation, expansion by
// enumeration, the check-state bridge, icons and text, and the window's
// messages. Options, the root folder and rebuilding are in
// LazyExplorerTreeOptions.cpp.
#include "shell/explorer/LazyExplorerTree.h"
#include "shell/explorer/LazyCheckStorage.h"
#include "shell/explorer/LazyExplorerContextMenu.h"
#include "shell/explorer/LazyExplorerViews.h"
#include "shell/item/LazyIconThread.h"
#include "shell/explorer/LazyOrderCheck.h"
#include "shell/base/ShellEntryPoints.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/WideFileUtils.h"
#include <algorithm>
#include <cstring>

namespace krv {

namespace {

// A file-system item is asked on disk; any other the shell no longer lists is gone.
bool ItemStillExists(TNamespace* ns) {
    if (!ns->FileSystem()) return false;
    TErrorModeScope quiet(SEM_FAILCRITICALERRORS);
    return ::GetFileAttributesW(ns->NameForParsing().c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool SamePIDL(LPCITEMIDLIST a, LPCITEMIDLIST b) {
    return a && b && CompareIDBytes(a, b) == 0;
}

// The system image index of an imagined item (no disk access).
int ImageIndexByAttributes(const wchar_t* name, DWORD attributes) {
    SHFILEINFOW info{};
    if (!::SHGetFileInfoW(name, attributes, &info, sizeof info,
                          SHGFI_SYSICONINDEX | SHGFI_USEFILEATTRIBUTES | SHGFI_SMALLICON))
        return 0;
    return info.iIcon;
}

// One hourglass for all trees of the process.
int g_waitCursorUsers = 0;
HCURSOR g_savedCursor = nullptr;

} // namespace

// ---- life time -------------------------------------------------------------------------

TCustomLazyExplorerTree::TCustomLazyExplorerTree(TComponent* owner) : TCustomLazyStringTree(owner) {
    UseOwnClasses();
    // The internal area comes first, while the tree is empty, so every node has it.
    dataOffset_ = AllocateInternalDataArea(sizeof(TLETNodeData));
    persistent_ = std::make_unique<TLETPersistent>();
    viewManager_ = std::make_unique<TViewManager>();
    storage_ = MakeRootCheckStorage(*persistent_->Storage);
    SetDefaultNodeHeight(17);
    DragOperations = doCopy | doMove | doLink;
    DragWidth = 150;
    DragHeight = 250;
    // Nodes give their own hints (the shell's info tip with toShellHints).
    HintMode = hmHint;
    ClipboardFormats().Add("Lazy Tree Data");
    ::SHGetMalloc(malloc_.put());
    unknownFolderIcon_ = ImageIndexByAttributes(L"C:\\", FILE_ATTRIBUTE_DIRECTORY);
    unknownFileIcon_ = ImageIndexByAttributes(L"*.zyxwv", FILE_ATTRIBUTE_NORMAL);
    SetRootFolder(rfDesktop);
    ++rebuildLock_;
    InitDefaultOptions();
    --rebuildLock_;
    constructing_ = false;
}

TCustomLazyExplorerTree::~TCustomLazyExplorerTree() {
    LeaveItemDropTarget();
    Clear();
    ThreadedImagesOn(false);
    ChangeNotifierOn(false);
    FreeNodeData(root_);
    FreePIDL(customPIDL_);
    while (waitCursorCount_ > 0) WaitCursor(false);
}

TOptionsClass TCustomLazyExplorerTree::GetOptionsClass() const {
    return +[](TBaseLazyTree* owner) -> std::unique_ptr<TCustomLazyTreeOptions> {
        return std::make_unique<TLazyExplorerTreeOptions>(owner);
    };
}

void TCustomLazyExplorerTree::InitDefaultOptions() {
    auto& o = TreeOptions();
    o.SetPaintOptions({toShowButtons, toShowTreeLines, toUseBlendedImages, toGhostedIfUnfocused});
    o.SetLETFolderOptions({toFoldersExpandable});
    o.SetLETShellOptions({toRightAlignSizeColumn, toContextMenus});
    o.SetLETMiscOptions({toBrowseExecuteFolder, toBrowseExecuteFolderShortcut, toBrowseExecuteZipFolder,
                         toExecuteOnDblClk});
    o.SetLETImageOptions({toImages, toMarkCutAndCopy});
    o.SetLETSyncOptions({toCollapseTargetFirst, toExpandTarget, toSelectTarget});
}

TLazyExplorerTreeview::TLazyExplorerTreeview(TComponent* owner) : TLazyExplorerViews(owner) {
    // The base constructor could not reach this class's defaults.
    ++rebuildLock_;
    InitDefaultOptions();
    --rebuildLock_;
}

void TLazyExplorerTreeview::InitDefaultOptions() {
    SetFileObjects({foFolders, foHidden});
    auto& o = TreeOptions();
    o.SetAutoOptions({toAutoScroll});
    o.SetSelectionOptions({toLevelSelectConstraint, toMultiSelect});
    o.SetMiscOptions({toAcceptOLEDrop, toEditable, toToggleOnDblClick});
    o.SetPaintOptions({toShowButtons, toShowTreeLines, toUseBlendedImages, toGhostedIfUnfocused});
    o.SetLETFolderOptions({toFoldersExpandable});
    o.SetLETShellOptions({toContextMenus});
    o.SetLETMiscOptions({toBrowseExecuteFolder, toBrowseExecuteFolderShortcut, toBrowseExecuteZipFolder,
                         toChangeNotifierThread, toRemoveContextMenuShortCut});
    o.SetLETImageOptions({toImages, toThreadedImages, toMarkCutAndCopy});
    o.SetLETSyncOptions({toCollapseTargetFirst, toExpandTarget, toSelectTarget});
}

TLazyExplorerTree::TLazyExplorerTree(TComponent* owner) : TCustomLazyExplorerTree(owner) {}

void TCustomLazyExplorerTree::CreateHandleDone() {
    TCustomLazyStringTree::CreateHandleDone();
    ThreadedImagesOn(ImageOption(toThreadedImages));
    ChangeNotifierOn(LETMiscOption(toChangeNotifierThread));
    BuildColumns();
    // Icon indexes of another window's time may be stale.
    for (PLazyNode run = GetFirstNoInit(); run; run = GetNextNoInit(run))
        if (TNamespace* ns = GetNodeData(run)->Namespace) ns->Invalidate(true);
}

// ---- the data area -------------------------------------------------------------------

PLETNodeData TCustomLazyExplorerTree::GetNodeData(PLazyNode node) const {
    return node ? reinterpret_cast<PLETNodeData>(reinterpret_cast<uint8_t*>(node) + dataOffset_) : nullptr;
}

bool TCustomLazyExplorerTree::ValidateNamespace(PLazyNode node, TNamespace*& ns) const {
    ns = node ? GetNodeData(node)->Namespace : nullptr;
    return ns != nullptr;
}

TColumnManager* TCustomLazyExplorerTree::ColumnManagerOf(PLazyNode node) {
    if (!node) return nullptr;
    PLETNodeData data = GetNodeData(node);
    if (!data->ColumnManager) data->ColumnManager = new TColumnManager(this);
    return data->ColumnManager;
}

void TCustomLazyExplorerTree::FreeNodeData(PLazyNode node) {
    if (!node) return;
    PLETNodeData data = GetNodeData(node);
    delete data->Namespace;
    delete data->ColumnManager;
    data->Namespace = nullptr;
    data->ColumnManager = nullptr;
}

// ---- initialisation ----------------------------------------------------------------

DWORD TCustomLazyExplorerTree::EnumFlags() const {
    DWORD flags = 0;
    if (fileObjects_.Contains(foFolders)) flags |= SHCONTF_FOLDERS;
    if (fileObjects_.Contains(foNonFolders)) flags |= SHCONTF_NONFOLDERS;
    if (fileObjects_.Contains(foHidden)) flags |= SHCONTF_INCLUDEHIDDEN;
    return flags;
}

bool TCustomLazyExplorerTree::HasChildrenTest(TNamespace* ns, PLazyNode parent) {
    bool top = parent == nullptr || parent == root_;
    bool allowed = FolderOption(toFoldersExpandable) || (top && !FolderOption(toHideRootFolder));
    if (!allowed) return false;
    // Its children are never counted: asking can take long.
    if (ns->IsRecycleBin()) return true;
    if (ns->HasSubFolder()) return true;
    DWORD flags = EnumFlags();
    bool result = false;
    if (fileObjects_.Contains(foFolders)) result = ns->HasChildren(flags & ~DWORD(SHCONTF_NONFOLDERS));
    if (!result && fileObjects_.Contains(foNonFolders)) result = ns->HasChildren(flags);
    return result;
}

void TCustomLazyExplorerTree::DoInitNode(PLazyNode parent, PLazyNode node, TLazyNodeInitStates& initialStates) {
    PLETNodeData data = GetNodeData(node);
    if (!parent && RootNodeCount() < 2 && !FolderOption(toHideRootFolder)) {
        std::unique_ptr<TNamespace> fresh =
            rootNamespace_ ? rootNamespace_->Clone(true) : std::make_unique<TNamespace>(nullptr);
        // The children's items point at the old item, which goes now.
        MoveChildrenTo(node, fresh.get());
        DropIconRequest(node);
        FreeNodeData(node);
        data->Namespace = fresh.release();
        data->ColumnManager = new TColumnManager(this);
        initialStates += ivsExpanded;
    }
    if (data->Namespace && HasChildrenTest(data->Namespace, parent)) initialStates += ivsHasChildren;
    TCustomLazyStringTree::DoInitNode(parent, node, initialStates);
    if (MiscOption(toCheckSupport)) LoadCheck(parent, node, false);
}

void TCustomLazyExplorerTree::LoadCheck(PLazyNode parent, PLazyNode node, bool reset) {
    TNamespace* ns = GetNodeData(node)->Namespace;
    ILETCheckStorage* storage = CheckStorage();
    if (AutoOption(toAutoTristateTracking) && parent && CheckState(parent) == csCheckedNormal) {
        node->CheckState = csCheckedNormal;
        if (ns && storage) storage->StoreCheck(ns->AbsolutePIDL(), csCheckedNormal, CheckType(node));
        return;
    }
    TCheckState state;
    TCheckType type;
    if (ns && storage && storage->FindCheck(ns->AbsolutePIDL(), state, type)) {
        // What is stored wins over what OnInitNode chose.
        node->CheckState = state;
        node->CheckType = type;
        if (AutoOption(toAutoTristateTracking) && parent && CheckState(parent) == csUncheckedNormal)
            MarkAncestorsMixed(node);
    } else if (reset) {
        node->CheckState = csUncheckedNormal;
    }
}

void TCustomLazyExplorerTree::ReloadCheckStates() {
    if (!MiscOption(toCheckSupport) || !CheckStorage()) return;
    // Parents before their children, which the tri-state rule reads.
    for (PLazyNode run = GetFirstNoInit(); run; run = GetNextNoInit(run))
        if (run->States & vsInitialized) LoadCheck(run->Parent == root_ ? nullptr : run->Parent, run, true);
    Invalidate();
}

void TCustomLazyExplorerTree::MoveChildrenTo(PLazyNode node, TNamespace* fresh) {
    TNamespace* old = GetNodeData(node)->Namespace;
    if (!old || !node->FirstChild) return;
    if (!krv::ILIsEqual(old->AbsolutePIDL(), fresh->AbsolutePIDL())) {
        // Another folder: its items are enumerated afresh when asked for.
        DeleteChildren(node);
        return;
    }
    for (PLazyNode run = node->FirstChild; run; run = run->NextSibling) {
        TNamespace* child = GetNodeData(run)->Namespace;
        if (child && child->Parent() == old) child->ReplaceParent(fresh);
    }
}

void TCustomLazyExplorerTree::MarkAncestorsMixed(PLazyNode node) {
    for (PLazyNode run = node->Parent; run; run = run == root_ ? nullptr : run->Parent) run->CheckState = csMixedNormal;
}

void TCustomLazyExplorerTree::DoInitChildren(PLazyNode node, unsigned& childCount) {
    childCount = unsigned(ExpandNamespaceFolder(node));
    // Restored check states must be there before the children are painted.
    if (MiscOption(toCheckSupport))
        for (PLazyNode run = node->FirstChild; run; run = run->NextSibling) InitIfNeeded(run);
    TCustomLazyStringTree::DoInitChildren(node, childCount);
}

// ---- expansion -----------------------------------------------------------------------

bool TCustomLazyExplorerTree::DriveHasMedium(wchar_t letter) {
    letter = wchar_t(::towupper(letter));
    if (letter < L'A' || letter > L'Z') return true;
    wchar_t root[] = {letter, L':', L'\\', 0};
    TErrorModeScope quiet(SEM_FAILCRITICALERRORS);
    ULARGE_INTEGER freeBytes, total, totalFree;
    return ::GetDiskFreeSpaceExW(root, &freeBytes, &total, &totalFree) != 0;
}

bool TCustomLazyExplorerTree::CanExpandFolder(PLazyNode node) {
    if (!FolderOption(toFoldersExpandable) && node != root_ && node != GetFirstNoInit()) return false;
    TNamespace* ns;
    if (!ValidateNamespace(node, ns)) return true;
    std::wstring address = ns->NameParseAddressInFolder();
    if (address.size() != 3 || address[1] != L':' || address[2] != L'\\' || DriveHasMedium(address[0])) return true;
    // No medium: no children and no button, without a message.
    InUpdate(*this, [node] { node->States &= ~vsHasChildren; });
    if (node != root_) InvalidateNode(node);
    return false;
}

int TCustomLazyExplorerTree::ExpandNamespaceFolder(PLazyNode node) {
    if (!node) return 0;
    if (!CanExpandFolder(node)) return int(node->ChildCount);
    TWaitCursorScope wait(*this);
    return InUpdate(*this, [&] {
        TNamespace* ns;
        std::vector<TNamespace*> accepted;
        TChildOrderVerdict order;
        if (node->ChildCount == 0 && ValidateNamespace(node, ns)) {
            // A verdict that could never be used is not worth a thread.
            TChildOrderFeed feed([this, ns]() -> std::unique_ptr<TChildOrderThread> {
                return SortsByShellName(nullptr) ? StartChildOrderThread(ns) : nullptr;
            });
            try {
                ns->EnumerateFolder(fileObjects_.Contains(foFolders), fileObjects_.Contains(foNonFolders),
                                    fileObjects_.Contains(foHidden),
                                    [this, &accepted, &feed](LPITEMIDLIST child, TNamespace* parent, void*, bool&) {
                                        if (!EnumFolderCallback(child, parent, accepted)) return false;
                                        feed.Add(accepted.back()->RelativePIDL());
                                        return true;
                                    },
                                    nullptr);
            } catch (...) {
                // The worker borrows the items' identifiers.
                feed.Stop();
                for (TNamespace* item : accepted) delete item;
                throw;
            }
            order = feed.Finish(ns->ShellFolder());
            AddEnumerated(node, accepted);
            // Items the tree refused to link are freed: their addresses may
            // come back for a custom node, so the verdict is not weighed then.
            if (node->ChildCount != accepted.size()) order = {};
        }
        DoCustomNamespace(node);
        if (node->ChildCount > 1) {
            bool inOrder = order.Known && ChildrenAreExactly(node, accepted) && SortsByShellName(node->FirstChild)
                               ? order.InOrder(Header().SortDirection() == sdAscending)
                               : ChildrenInOrder(node);
            if (!inOrder) Sort(node, Header().SortColumn(), Header().SortDirection(), false);
        }
        return int(node->ChildCount);
    });
}

std::unique_ptr<TChildOrderThread> TCustomLazyExplorerTree::StartChildOrderThread(TNamespace* folder) {
    PIDLPtr pidl(PIDLManager()->CopyPIDL(folder->AbsolutePIDL()));
    if (!pidl) return nullptr;
    auto thread = std::make_unique<TChildOrderThread>(
        std::move(pidl), [this](LPCITEMIDLIST folderPIDL) { return BindChildOrderFolder(folderPIDL); });
    thread->Start();
    return thread;
}

ComPtr<IShellFolder> TCustomLazyExplorerTree::BindChildOrderFolder(LPCITEMIDLIST folderPIDL) {
    return BindFolderOfPIDL(folderPIDL);
}

// The worker compared the enumerated items only: a node added or dropped
// since (a custom item, a child the tree refused) voids its verdict.
bool TCustomLazyExplorerTree::ChildrenAreExactly(PLazyNode node, const std::vector<TNamespace*>& items) {
    size_t i = 0;
    for (PLazyNode run = node->FirstChild; run; run = run->NextSibling, ++i)
        if (i >= items.size() || GetNodeData(run)->Namespace != items[i]) return false;
    return i == items.size();
}

bool TCustomLazyExplorerTree::EnumFolderCallback(LPITEMIDLIST childPIDL, TNamespace* parent,
                                                 std::vector<TNamespace*>& accepted) {
    auto ns = std::make_unique<TNamespace>(TNamespace::TEnumeratedChild{childPIDL}, parent);
    if (!AcceptEnumerated(ns.get())) return false;
    accepted.push_back(ns.release());
    return true;
}

bool TCustomLazyExplorerTree::AcceptEnumerated(TNamespace* ns) {
    // Dropped before anyone sees it.
    if (FolderOption(toForceHideRecycleBin) && ns->IsRecycleBin()) return false;
    return DoEnumFolder(ns);
}

// The children are linked at once, not one by one: a big folder costs one
// change of the counts instead of one per item. Their column managers are
// made when asked for.
void TCustomLazyExplorerTree::AddEnumerated(PLazyNode node, const std::vector<TNamespace*>& items) {
    unsigned first = node->ChildCount;
    if (!items.empty()) SetChildCount(node, first + unsigned(items.size()));
    size_t i = 0;
    PLazyNode run = node->FirstChild;
    for (unsigned skip = 0; run && skip < first; ++skip) run = run->NextSibling;
    for (; run && i < items.size(); run = run->NextSibling, ++i) GetNodeData(run)->Namespace = items[i];
    // Children the tree refused to make (a read-only tree) take no items.
    for (; i < items.size(); ++i) delete items[i];
}

// Shell folders mostly list their items in their own order already; checking
// costs one comparison per child where sorting costs many.
bool TCustomLazyExplorerTree::ChildrenInOrder(PLazyNode node) {
    TColumnIndex column = Header().SortColumn();
    bool ascending = Header().SortDirection() == sdAscending;
    for (PLazyNode run = node->FirstChild; run && run->NextSibling; run = run->NextSibling) {
        int order = DoCompareNodes(run, run->NextSibling, column);
        if (ascending ? order > 0 : order < 0) return false;
    }
    return true;
}

void TCustomLazyExplorerTree::AddMyDocuments(PLazyNode node) {
    TNamespace* ns;
    if (!ValidateNamespace(node, ns) || !ns->IsDesktop() || !ns->Folder()) return;
    ComPtr<IShellFolder> desktop;
    if (FAILED(::SHGetDesktopFolder(desktop.put()))) return;
    wchar_t name[] = L"::{450d8fba-ad25-11d0-98a8-0800361b1103}";
    LPITEMIDLIST pidl = nullptr;
    if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, name, nullptr, &pidl, nullptr)) || !pidl) return;
    auto docs = std::make_unique<TNamespace>(pidl);
    for (PLazyNode run = node->FirstChild; run; run = run->NextSibling) {
        TNamespace* child = GetNodeData(run)->Namespace;
        if (child && SamePIDL(child->AbsolutePIDL(), docs->AbsolutePIDL())) return;
    }
    AddCustomNode(node, docs.release(), MiscOption(toCheckSupport), ctTriStateCheckBox);
}

PLazyNode TCustomLazyExplorerTree::AddCustomNode(PLazyNode parent, TNamespace* ns, bool setCheckType,
                                                 TCheckType checkType) {
    PLazyNode node = AddItemNode(parent, ns, setCheckType, checkType);
    if (node) customNodes_.insert(node);
    return node;
}

PLazyNode TCustomLazyExplorerTree::AddItemNode(PLazyNode parent, TNamespace* ns, bool setCheckType,
                                               TCheckType checkType) {
    PLazyNode node = AddChild(parent);
    if (!node) {
        delete ns;
        return nullptr;
    }
    PLETNodeData data = GetNodeData(node);
    data->Namespace = ns;
    data->ColumnManager = new TColumnManager(this);
    if (setCheckType) {
        node->CheckType = checkType;
        node->CheckState = csUncheckedNormal;
    }
    DoNamespaceStructureChange(node, ns, nscAdd);
    return node;
}

bool TCustomLazyExplorerTree::DoExpanding(PLazyNode node) {
    bool allowed = LETMiscOption(toBrowseExecuteFolder) || node == GetFirstNoInit() || buttonPressed_;
    return allowed && TCustomLazyStringTree::DoExpanding(node);
}

void TCustomLazyExplorerTree::HandleMouseDown(TMouseButton button, TShiftState shift, POINT p,
                                             THitTestResult& hitInfo) {
    buttonPressed_ = button == mbLeft && (hitInfo.Positions & hpOnItemButton);
    try {
        TCustomLazyStringTree::HandleMouseDown(button, shift, p, hitInfo);
    } catch (...) {
        buttonPressed_ = false;
        throw;
    }
    buttonPressed_ = false;
}

bool TCustomLazyExplorerTree::DoCollapsing(PLazyNode node) {
    if (!TCustomLazyStringTree::DoCollapsing(node)) return false;
    PLazyNode focused = FocusedNode();
    if (focused && HasAsParent(focused, node)) {
        SetFocusedNode(nullptr);
        ClearSelection();
        SetSelected(node, true);
        SetFocusedNode(node);
    }
    return true;
}

void TCustomLazyExplorerTree::DoCollapsed(PLazyNode node) {
    TCustomLazyStringTree::DoCollapsed(node);
    if (threadedImagesRegistered_ && !browsing_) DropPendingIcons();
}

// ---- checks ------------------------------------------------------------------------------

void TCustomLazyExplorerTree::DoChecked(PLazyNode node) {
    TNamespace* ns;
    if (ValidateNamespace(node, ns) && CheckStorage()) {
        if (CheckState(node) != csUncheckedNormal)
            CheckStorage()->StoreCheck(ns->AbsolutePIDL(), CheckState(node), CheckType(node));
        else
            CheckStorage()->RemoveCheck(ns->AbsolutePIDL(), false);
    }
    TCustomLazyStringTree::DoChecked(node);
}

// ---- freeing ------------------------------------------------------------------------------

void TCustomLazyExplorerTree::DropIconRequest(PLazyNode node) {
    std::erase_if(deferredIcons_, [node](const TDeferredIcon& icon) { return icon.Node == node; });
    if (!iconPending_.erase(node) || !threadedImagesRegistered_) return;
    ++freeing_;
    ImageThreadManager().ClearPendingItem(this, node, malloc_.get(), WM_LETICONTHREAD);
    --freeing_;
}

void TCustomLazyExplorerTree::DoFreeNode(PLazyNode node) {
    ++nodesFreed_;
    customNodes_.erase(node);
    DropIconRequest(node);
    // The base frees the node's memory: the item is taken out first, so that
    // OnFreeNode still sees it and it is freed after the event.
    std::unique_ptr<TNamespace> ns(GetNodeData(node)->Namespace);
    // A drag over the node leaves its drop target at the next move.
    if (node == itemDropNode_) itemDropNode_ = nullptr;
    std::unique_ptr<TColumnManager> columns(GetNodeData(node)->ColumnManager);
    TCustomLazyStringTree::DoFreeNode(node);
}

// ---- images and text ------------------------------------------------------------------------

void TCustomLazyExplorerTree::DoGetImageIndex(PLazyNode node, TLTImageKind kind, TColumnIndex column, bool& ghosted,
                                              int& index) {
    TNamespace* ns;
    if (column != Header().MainColumn() || !ValidateNamespace(node, ns)) {
        TCustomLazyStringTree::DoGetImageIndex(node, kind, column, ghosted, index);
        return;
    }
    int size = ImageOption(toLargeImages) ? 1 : 0;
    bool expanded = Expanded(node);
    bool known = (ns->ValidMask() & TNamespace::vmIconIndexNormal) != 0;
    if (known || !threadedImagesRegistered_ || IsDesigning()) {
        ghosted = !FolderOption(toDisableGhostedFolders) && ns->Ghosted();
        switch (kind) {
        case ikNormal: index = ns->GetIconIndex(expanded, size); break;
        case ikSelected: index = ns->GetIconIndex(FolderOption(toShowOpenIconOnSelect) || expanded, size); break;
        case ikOverlay:
            index = -1;
            if (ImageOption(toHideOverlay)) break;
            if (int own = ns->OverlayIndex(); own > 0) index = own - 1;
            else if (ns->Link()) index = 1;
            else if (ns->Share()) index = 0;
            break;
        default: break;
        }
    } else if (kind == ikNormal || kind == ikSelected) {
        if (!ns->ThreadIconLoading()) RequestIcon(node, ns, size == 1);
        index = ns->FileSystem() && ns->Folder() ? unknownFolderIcon_ : unknownFileIcon_;
    } else {
        index = -1;
    }
    // Cut items look ghosted until the marks are cleared.
    if ((node->States & vsCutOrCopy) && TreeStates().Contains(tsCutPending)) ghosted = true;
    if (OnGetImageIndex) OnGetImageIndex(this, node, kind, column, ghosted, index);
}

// A shown window with an invalid part is sure to be painted, and the paint
// hands the request on; a hidden one may never be, and a request waiting
// for it would never be answered.
bool TCustomLazyExplorerTree::PaintDue() const {
    return HandleAllocated() && ::IsWindowVisible(Handle()) && ::GetUpdateRect(Handle(), nullptr, FALSE);
}

void TCustomLazyExplorerTree::RequestIcon(PLazyNode node, TNamespace* ns, bool large) {
    if (deferIcons_ || PaintDue()) {
        ns->SetThreadIconLoading(true);
        deferredIcons_.push_back({node, ns, large});
    } else {
        QueueIcon(node, ns, large);
    }
    iconPending_.insert(node);
}

void TCustomLazyExplorerTree::QueueIcon(PLazyNode node, TNamespace* ns, bool large) {
    ImageThreadManager().AddNewItem(this, WM_LETICONTHREAD, 0, node, large, ns->AbsolutePIDL(), ns);
}

void TCustomLazyExplorerTree::SubmitDeferredIcons() {
    std::vector<TDeferredIcon> icons;
    icons.swap(deferredIcons_);
    for (const TDeferredIcon& icon : icons) {
        // A node freed meanwhile has left the pending set.
        TNamespace* ns;
        if (!iconPending_.count(icon.Node) || !ValidateNamespace(icon.Node, ns) || ns != icon.Namespace) continue;
        if (threadedImagesRegistered_) QueueIcon(icon.Node, ns, icon.Large);
        else ns->SetThreadIconLoading(false);
    }
}

void TCustomLazyExplorerTree::Paint() {
    deferIcons_ = true;
    try {
        TCustomLazyStringTree::Paint();
    } catch (...) {
        deferIcons_ = false;
        SubmitDeferredIcons();
        throw;
    }
    deferIcons_ = false;
    SubmitDeferredIcons();
}

void TCustomLazyExplorerTree::IconAnswer(TImageThreadRequest* request) {
    auto node = static_cast<PLazyNode>(request->Data);
    // The node may be gone since the request was queued, and its address
    // taken by another node: both the node and its item must match.
    auto pending = iconPending_.find(node);
    TNamespace* ns = nullptr;
    if (pending != iconPending_.end() && ValidateNamespace(node, ns) && SamePIDL(ns->AbsolutePIDL(), request->PIDL)) {
        iconPending_.erase(pending);
        ns->SetIconIndex(request->ImageIndex, true);
        if (!(node->States & vsDeleting)) {
            // No paint in the middle of a freeing: the row waits for the next one.
            if (UpdateCount() == 0 && !freeing_) RepaintNode(node);
            else InvalidateNode(node);
        }
    }
    if (threadedImagesRegistered_) ImageThreadManager().ReleaseItem(request, malloc_.get());
    else FreeImageRequest(request, malloc_.get());
}

void TCustomLazyExplorerTree::DropPendingIcons() {
    if (!threadedImagesRegistered_) return;
    ImageThreadManager().ClearPendingItems(this, WM_LETICONTHREAD, malloc_.get());
    for (const TDeferredIcon& icon : deferredIcons_)
        if (iconPending_.count(icon.Node)) icon.Namespace->SetThreadIconLoading(false);
    deferredIcons_.clear();
    iconPending_.clear();
}

void TCustomLazyExplorerTree::DoGetText(PLazyNode node, TColumnIndex column, TLSTTextType textType,
                                        std::wstring& text) {
    if (textType != ttNormal) {
        TCustomLazyStringTree::DoGetText(node, column, textType, text);
        return;
    }
    TNamespace* ns;
    text.clear();
    if (ValidateNamespace(node, ns)) text = ColumnText(column, ns);
    if (OnGetLETText) OnGetLETText(this, column, node, ns, text);
}

// ---- wait cursor ------------------------------------------------------------------------------

void TCustomLazyExplorerTree::WaitCursor(bool show) {
    if (show) {
        ++waitCursorCount_;
        if (!showWaitCursor_ || g_waitCursorUsers++ > 0) return;
        g_savedCursor = ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
    } else {
        if (waitCursorCount_ == 0) return;
        --waitCursorCount_;
        if (!showWaitCursor_ || g_waitCursorUsers == 0) return;
        if (--g_waitCursorUsers == 0) ::SetCursor(g_savedCursor);
    }
}

void TCustomLazyExplorerTree::SetShowWaitCursor(bool value) {
    if (value && waitCursorCount_ > 0 && showWaitCursor_) {
        g_waitCursorUsers = std::max(0, g_waitCursorUsers - waitCursorCount_);
        waitCursorCount_ = 0;
        if (g_waitCursorUsers == 0) ::SetCursor(g_savedCursor);
    }
    showWaitCursor_ = value;
}

void TCustomLazyExplorerTree::DoUpdating(TLTUpdateState state) {
    if (state == usBegin) WaitCursor(true);
    TCustomLazyStringTree::DoUpdating(state);
    if (state == usEnd) {
        WaitCursor(false);
        SyncLinkedControls();
    }
}

// ---- refreshing ---------------------------------------------------------------------------------

void TCustomLazyExplorerTree::RefreshNode(PLazyNode node) {
    TNamespace* ns;
    if (!ValidateNamespace(node, ns)) return;
    // The view below the node, by items: its nodes are about to be made anew.
    TLETPersistent& view = Persistent();
    view.SaveTree(*this, true, true, node);
    InUpdate(*this, [&] {
        DeleteChildren(node, true);
        ns->Invalidate(true);
        if (node != root_)
            SetHasChildren(node, HasChildrenTest(ns, node->Parent == root_ ? nullptr : node->Parent));
        bool wasBrowsing = std::exchange(browsing_, true);
        view.RestoreTree(*this, true, true, false);
        browsing_ = wasBrowsing;
    });
    if (node != root_) InvalidateNode(node);
}

void TCustomLazyExplorerTree::SaveToStream(TStream&, PLazyNode) {
    throw EStreamError("The explorer tree is not saved as a tree stream: save its view (TLETPersistent, TViewManager)");
}

void TCustomLazyExplorerTree::LoadFromStream(TStream&) {
    throw EStreamError("The explorer tree is not loaded from a tree stream: restore a saved view (TLETPersistent, "
                       "TViewManager)");
}

void TCustomLazyExplorerTree::ReReadAndRefreshNode(PLazyNode node) {
    TNamespace* ns;
    if (!ValidateNamespace(node, ns)) return;
    // The folder's items now, in the folder's order.
    std::vector<std::unique_ptr<TNamespace>> items;
    ns->EnumerateFolder(fileObjects_.Contains(foFolders), fileObjects_.Contains(foNonFolders),
                        fileObjects_.Contains(foHidden),
                        [&items](LPITEMIDLIST child, TNamespace* parent, void*, bool&) {
                            items.push_back(std::make_unique<TNamespace>(child, parent));
                            return true;
                        },
                        nullptr);
    IShellFolder* folder = ns->ShellFolder();
    // A comparison the shell refuses falls back to the items' bytes: taken as
    // "equal" it would keep a gone item and never add a new one.
    auto order = [folder](TNamespace* a, TNamespace* b) {
        return CompareStorageIDs(folder, a->RelativePIDL(), b->RelativePIDL());
    };
    std::sort(items.begin(), items.end(), [&](auto& a, auto& b) { return order(a.get(), b.get()) < 0; });
    std::vector<PLazyNode> children;
    for (PLazyNode run = node->FirstChild; run; run = run->NextSibling) children.push_back(run);
    std::stable_sort(children.begin(), children.end(), [&](PLazyNode a, PLazyNode b) {
        TNamespace *na = GetNodeData(a)->Namespace, *nb = GetNodeData(b)->Namespace;
        return na && nb && order(na, nb) < 0;
    });
    InUpdate(*this, [&] {
        size_t i = 0, j = 0;
        while (i < children.size() || j < items.size()) {
            TNamespace* existing = i < children.size() ? GetNodeData(children[i])->Namespace : nullptr;
            int c = i >= children.size() ? 1 : j >= items.size() || !existing ? -1 : order(existing, items[j].get());
            if (c == 0) {
                ++i, ++j;
            } else if (c < 0) {
                PLazyNode gone = children[i++];
                // A node added for an item the folder does not list (a custom
                // item, My Documents, a computer the network walk found) is
                // not gone for being unlisted: it stays, with its ticks.
                if (customNodes_.count(gone)) continue;
                if (FocusedNode() == gone) {
                    PLazyNode next = gone->NextSibling ? gone->NextSibling : (node == root_ ? nullptr : node);
                    SetFocusedNode(next);
                    if (next) SetSelected(next, true);
                }
                // Only an item that is really gone loses its records: one the
                // listing merely missed (now hidden, a folder briefly
                // unreadable) keeps the user's ticks.
                if (MiscOption(toCheckSupport) && existing && CheckStorage() && !ItemStillExists(existing))
                    CheckStorage()->RemoveCheck(existing->AbsolutePIDL(), true);
                DeleteNode(gone);
            } else {
                std::unique_ptr<TNamespace> fresh = std::move(items[j++]);
                if (AcceptEnumerated(fresh.get()))
                    AddItemNode(node, fresh.release(), MiscOption(toCheckSupport), ctTriStateCheckBox);
            }
        }
        if (node != root_ && FolderOption(toFoldersExpandable) && node->ChildCount > 0) node->States |= vsHasChildren;
        if (node->ChildCount > 0) Sort(node, Header().SortColumn(), Header().SortDirection(), false);
    });
    // The folder itself may have changed with its contents: its item is asked
    // afresh. Its children were just merged and keep their nodes (a held or
    // edited node stays valid), so they are not made anew as a refresh would.
    ns->Invalidate(true);
    if (node != root_) InvalidateNode(node);
}

// ---- messages ------------------------------------------------------------------------------------

bool TCustomLazyExplorerTree::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
    case WM_LETICONTHREAD:
        if (auto* request = reinterpret_cast<TImageThreadRequest*>(wParam)) IconAnswer(request);
        result = 0;
        return true;
    case WM_SHELLNOTIFY:
        HandleShellNotify(reinterpret_cast<TLazyShellEventList*>(wParam));
        result = 0;
        return true;
    case WM_MOUSEMOVE:
        RunDeferredShellRefresh();
        break;
    case WM_NCDESTROY:
        ThreadedImagesOn(false);
        ChangeNotifierOn(false);
        break;
    case WM_QUERYENDSESSION:
        ChangeNotifierOn(false);
        result = 1;
        return true;
    default:
        if (HandleVerbMessage(msg, wParam, lParam, result)) return true;
        break;
    }
    return TCustomLazyStringTree::HandleMessage(msg, wParam, lParam, result);
}

// ---- event slots ------------------------------------------------------------------------------------

bool TCustomLazyExplorerTree::DoClipboardCopy() {
    bool handled = false;
    if (OnClipboardCopy) OnClipboardCopy(this, handled);
    return handled;
}

bool TCustomLazyExplorerTree::DoClipboardCut(bool& markSelectedCut) {
    bool handled = false;
    markSelectedCut = true;
    if (OnClipboardCut) OnClipboardCut(this, markSelectedCut, handled);
    return handled;
}

bool TCustomLazyExplorerTree::DoClipboardPaste() {
    bool handled = false;
    if (OnClipboardPaste) OnClipboardPaste(this, handled);
    return handled;
}

int TCustomLazyExplorerTree::DoCustomColumnCompare(TColumnIndex column, PLazyNode node1, PLazyNode node2) {
    int result = 0;
    if (OnCustomColumnCompare) OnCustomColumnCompare(this, column, node1, node2, result);
    return result;
}

void TCustomLazyExplorerTree::DoCustomNamespace(PLazyNode parentNode) {
    if (FolderOption(toForceShowMyDocuments)) AddMyDocuments(parentNode);
    if (OnCustomNamespace) OnCustomNamespace(this, parentNode);
}

bool TCustomLazyExplorerTree::DoEnumFolder(TNamespace* ns) {
    bool allow = true;
    if (OnEnumFolder) OnEnumFolder(this, ns, allow);
    return allow;
}

void TCustomLazyExplorerTree::DoNamespaceStructureChange(PLazyNode node, TNamespace* ns,
                                                         TNamespaceStructureChange change) {
    if (OnNamespaceStructureChange) OnNamespaceStructureChange(this, node, ns, change);
}

void TCustomLazyExplorerTree::DoRootChange() {
    if (OnRootChange) OnRootChange(this);
}

bool TCustomLazyExplorerTree::DoRootChanging(TRootFolder newValue, TNamespace* ns) {
    bool allow = true;
    if (OnRootChanging) OnRootChanging(this, newValue, rootNamespace_.get(), ns, allow);
    return allow;
}

void TCustomLazyExplorerTree::DoRootRebuild() {
    if (OnRootRebuild) OnRootRebuild(this);
}

bool TCustomLazyExplorerTree::DoShellExecute(TNamespace* ns, std::wstring& workingDir, std::wstring& parameters) {
    bool allow = true;
    if (OnShellExecute) OnShellExecute(this, ns, workingDir, parameters, allow);
    return allow;
}

void TCustomLazyExplorerTree::DoShellNotify(const TLETShellEvent& event) {
    if (OnShellNotify) OnShellNotify(this, event);
}

void TCustomLazyExplorerTree::DoTreeDblClick(PLazyNode node, TMouseButton button, POINT p) {
    if (OnTreeDblClick) OnTreeDblClick(this, node, button, p);
}

} // namespace krv
