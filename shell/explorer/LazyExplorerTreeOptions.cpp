// The explorer tree's option sets and what each setter changes beyond the
// value, the root folder and its custom forms, Active and rebuilding, and
// the icon thread's switch.
#include "shell/explorer/LazyExplorerTree.h"
#include "shell/item/LazyIconThread.h"
#include "shell/item/LazySysImages.h"
#include "shell/base/ShellUtils.h"
#include <cstring>

namespace krv {

namespace {
template <class S, class E> bool Toggled(S oldSet, S newSet, E e) { return oldSet.Contains(e) != newSet.Contains(e); }

bool IsExistingDirectory(const std::wstring& path) {
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// "C:\" keeps its separator; any other folder path loses a trailing one.
std::wstring NormalisedFolderPath(std::wstring path) {
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    if (path.size() == 2 && path[1] == L':') path += L'\\';
    return path;
}
} // namespace

// ---- the option sets ---------------------------------------------------------------------

TCustomLazyExplorerTree* TCustomLazyExplorerTreeOptions::Tree() const {
    return dynamic_cast<TCustomLazyExplorerTree*>(owner_);
}

void TCustomLazyExplorerTreeOptions::SetLETFolderOptions(TLETFolderOptions v) {
    TLETFolderOptions old = folder_;
    folder_ = v;
    TCustomLazyExplorerTree* tree = Tree();
    if (!tree || tree->IsLoading()) return;
    for (TLETFolderOption o : {toFoldersExpandable, toHideRootFolder, toForceShowMyDocuments, toForceHideRecycleBin})
        if (Toggled(old, v, o)) {
            tree->RebuildTree();
            return;
        }
}

void TCustomLazyExplorerTreeOptions::SetLETImageOptions(TLETImageOptions v) {
    TLETImageOptions old = image_;
    image_ = v;
    TCustomLazyExplorerTree* tree = Tree();
    if (!tree) return;
    // The list follows both bits as they now are, whichever changed first:
    // large icons asked for before images are switched on are not lost, and
    // no list is shown while images are off.
    if (Toggled(old, v, toImages) || Toggled(old, v, toLargeImages)) tree->ImagesChanged();
    if (!tree->IsLoading()) tree->RebuildTree();
    if (Toggled(old, v, toThreadedImages)) tree->ThreadedImagesOn(v.Contains(toThreadedImages));
}

void TCustomLazyExplorerTreeOptions::SetLETMiscOptions(TLETMiscOptions v) {
    TLETMiscOptions old = misc_;
    misc_ = v;
    // Tracking mapped drives needs the notifier.
    if (!old.Contains(toTrackChangesInMappedDrives) && v.Contains(toTrackChangesInMappedDrives) &&
        !old.Contains(toChangeNotifierThread))
        misc_ += toChangeNotifierThread;
    if (misc_.Contains(toChangeNotifierThread) == old.Contains(toChangeNotifierThread)) return;
    TCustomLazyExplorerTree* tree = Tree();
    if (!misc_.Contains(toChangeNotifierThread)) {
        misc_ -= toTrackChangesInMappedDrives;
        if (tree) tree->ChangeNotifierOn(false);
    } else if (tree) {
        tree->ChangeNotifierOn(true);
    }
}

void TCustomLazyExplorerTreeOptions::SetLETShellOptions(TLETShellOptions v) {
    TLETShellOptions old = shell_;
    shell_ = v;
    if (Toggled(old, v, toRightAlignSizeColumn))
        if (TCustomLazyExplorerTree* tree = Tree()) tree->RebuildTree();
}

void TCustomLazyExplorerTreeOptions::SetAutoOptions(TLTAutoOptions v) {
    TStringTreeOptions::SetAutoOptions(v - toAutoSort);
}

void TCustomLazyExplorerTreeOptions::SetSelectionOptions(TLTSelectionOptions v) {
    if (v.Contains(toMultiSelect)) {
        v -= toLevelSelectConstraint;
        v += toSiblingSelectConstraint;
    }
    TStringTreeOptions::SetSelectionOptions(v);
}

void TCustomLazyExplorerTreeOptions::AssignTo(TCustomLazyTreeOptions& dest) const {
    TStringTreeOptions::AssignTo(dest);
    if (auto* d = dynamic_cast<TCustomLazyExplorerTreeOptions*>(&dest)) {
        d->SetLETFolderOptions(folder_);
        d->SetLETShellOptions(shell_);
        d->SetLETMiscOptions(misc_);
        d->SetLETImageOptions(image_);
        d->sync_ = sync_;
    }
}

void TCustomLazyExplorerTree::SetTreeOptions(const TCustomLazyTreeOptions& value) {
    if (value.MiscOptions().Contains(toReadOnly))
        throw EAssertionFailed(
            "Please use the TreeOptions.LETMiscOptions ReadOnly property and not the TreeOptions.MiscOptions "
            "ReadOnly property");
    TBaseLazyTree::SetTreeOptions(value);
}

bool TCustomLazyExplorerTree::CanEdit(PLazyNode node, TColumnIndex column) {
    return !LETMiscOption(toLETReadOnly) && TCustomLazyStringTree::CanEdit(node, column);
}

void TCustomLazyExplorerTree::ImagesChanged() {
    TImageList* list = nullptr;
    if (ImageOption(toImages)) {
        if (ImageOption(toLargeImages)) {
            if (!largeImages_) largeImages_ = std::make_unique<TImageList>(nullptr, LargeSysImages().Handle());
            list = largeImages_.get();
        } else {
            if (!smallImages_) smallImages_ = std::make_unique<TImageList>(nullptr, SmallSysImages().Handle());
            list = smallImages_.get();
        }
    }
    SetImages(list);
}

// ---- icon thread (the change notifier: LazyExplorerNotify.cpp) ----------------------------------

void TCustomLazyExplorerTree::ThreadedImagesOn(bool on) {
    if (IsLoading() || IsDesigning() || constructing_ || on == threadedImagesRegistered_) return;
    if (on) {
        // The thread answers to the window: none yet, registered at its creation.
        if (!HandleAllocated()) return;
        ImageThreadManager().RegisterControl(this);
        threadedImagesRegistered_ = true;
    } else {
        DropPendingIcons();
        ImageThreadManager().UnRegisterControl(this);
        threadedImagesRegistered_ = false;
    }
}

// ---- properties ------------------------------------------------------------------------------

void TCustomLazyExplorerTree::SetActive(bool value) {
    if (value == active_) return;
    active_ = value;
    if (IsLoading()) {
        if (IsDesigning()) RebuildTree();
        return;
    }
    if (value) {
        if (rootNamespace_) {
            RebuildTree();
            built_ = true;
        }
    } else {
        ClearAll();
        built_ = false;
    }
}

void TCustomLazyExplorerTree::ClearAll() {
    DropPendingIcons();
    Clear();
}

void TCustomLazyExplorerTree::Loaded() {
    TCustomLazyStringTree::Loaded();
    ImagesChanged();
    if (active_ && !built_ && rootNamespace_) {
        RebuildTree();
        built_ = true;
    }
}

void TCustomLazyExplorerTree::SetFileObjects(TFileObjects value) {
    if (value == fileObjects_) return;
    fileObjects_ = value;
    RebuildTree();
}

void TCustomLazyExplorerTree::SetFileSort(TFileSort value) {
    if (value == fileSort_) return;
    fileSort_ = value;
    if (Header().SortColumn() == 2) SortTree(2, Header().SortDirection(), false);
}

void TCustomLazyExplorerTree::SetFileSizeFormat(TFileSizeFormat value) {
    if (value == fileSizeFormat_) return;
    fileSizeFormat_ = value;
    if (HandleAllocated()) Invalidate();
}

void TCustomLazyExplorerTree::SetNodeDataSize(int value) {
    bool wasActive = active_;
    SetActive(false);
    TBaseLazyTree::SetNodeDataSize(value);
    SetActive(wasActive);
}

void TCustomLazyExplorerTree::Assign(const TCustomLazyExplorerTree& source) {
    SetColumnDetails(source.columnDetails_);
    SetFileObjects(source.fileObjects_);
    SetFileSizeFormat(source.fileSizeFormat_);
    SetFileSort(source.fileSort_);
    if (!source.customPath_.empty()) SetRootFolderCustomPath(source.customPath_);
    else if (source.customPIDL_) SetRootFolderCustomPIDL(source.customPIDL_);
    else SetRootFolder(source.rootFolder_);
    SetTreeOptions(const_cast<TCustomLazyExplorerTree&>(source).TreeOptions());
    TLETColors& colors = LETColors();
    const TLETColors& from = source.letColors_;
    colors.SetCompressedTextColor(from.CompressedTextColor());
    colors.SetFolderTextColor(from.FolderTextColor());
    colors.SetFileTextColor(from.FileTextColor());
    SetActive(source.active_);
    // The columns are those of the new root and options.
    BuildColumns();
}

// ---- root folder ---------------------------------------------------------------------------------

void TCustomLazyExplorerTree::SetRootFolder(TRootFolder value) {
    std::unique_ptr<TNamespace> pending;
    if (value == rfCustom) {
        if (LPITEMIDLIST pidl = PathToPIDL(customPath_)) pending = std::make_unique<TNamespace>(pidl);
    } else if (value == rfCustomPIDL) {
        if (customPIDL_) pending = std::make_unique<TNamespace>(PIDLManager()->CopyPIDL(customPIDL_));
    } else {
        pending.reset(CreateSpecialNamespace(RootFolderToCSIDL(value)));
        if (!DoRootChanging(value, pending.get())) return;
    }
    ChangeRoot(value, pending);
}

bool TCustomLazyExplorerTree::ChangeRoot(TRootFolder value, std::unique_ptr<TNamespace>& pending) {
    InUpdate(*this, [&] {
        ClearAll();
        rootFolder_ = value;
        if (value != rfCustom) customPath_.clear();
        if (value != rfCustomPIDL) {
            FreePIDL(customPIDL_);
            customPIDL_ = nullptr;
        }
        // The hidden root's item is a clone of the old root: it goes with it.
        FreeNodeData(root_);
        rootNamespace_ = std::move(pending);
    });
    if (rootNamespace_) RebuildTree();
    DoRootChange();
    return true;
}

void TCustomLazyExplorerTree::SetRootFolderCustomPath(const std::wstring& path) {
    if (path.empty()) {
        customPath_.clear();
        return;
    }
    std::wstring normal = NormalisedFolderPath(path);
    LPITEMIDLIST pidl = PathToPIDL(normal);
    if (!pidl) return;
    auto pending = std::make_unique<TNamespace>(pidl);
    if (!DoRootChanging(rfCustom, pending.get()) || !IsExistingDirectory(normal)) return;
    customPath_ = normal;
    ChangeRoot(rfCustom, pending);
}

void TCustomLazyExplorerTree::SetRootFolderCustomPIDL(LPCITEMIDLIST pidl) {
    if (!pidl) return;
    auto pending = std::make_unique<TNamespace>(PIDLManager()->CopyPIDL(pidl));
    if (!DoRootChanging(rfCustomPIDL, pending.get())) return;
    // The root it already has: asked, but nothing changes.
    if (rootFolder_ == rfCustomPIDL && customPIDL_ && CompareIDBytes(customPIDL_, pidl) == 0) return;
    FreePIDL(customPIDL_);
    customPIDL_ = PIDLManager()->CopyPIDL(pidl);
    ChangeRoot(rfCustomPIDL, pending);
}

// ---- rebuilding -------------------------------------------------------------------------------------

void TCustomLazyExplorerTree::RebuildTree() {
    if (rebuildLock_ > 0 || IsLoading() || !rootNamespace_ || !active_) return;
    InUpdate(*this, [&] {
        ClearAll();
        FreeNodeData(root_);
        if (!FolderOption(toHideRootFolder)) {
            // The single top node takes the root's item when it is initialised.
            // That happens inside the update, so its expansion is laid out
            // once: the position cache, the scroll bars and the repaint.
            SetRootNodeCount(1);
            GetFirst();
        } else {
            PLETNodeData data = GetNodeData(root_);
            data->Namespace = rootNamespace_->Clone(true).release();
            data->ColumnManager = new TColumnManager(this);
            ExpandNamespaceFolder(root_);
        }
    });
    if (PLazyNode first = GetFirst()) SetFocusedNode(first);
    SyncLinkedControls();
    DoRootRebuild();
}

} // namespace krv
