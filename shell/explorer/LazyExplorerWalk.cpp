// The explorer tree's finding, walking and browsing to nodes by path or item
// identifier list, and the check storage it keeps per shell item.
#include "shell/explorer/LazyExplorerTree.h"
#include "shell/explorer/LazyCheckStorage.h"
#include "shell/item/ShellLink.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/WideFileUtils.h"
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace krv {

namespace {
// The seam the tree stores its checks through, over a record tree: its own,
// or the one in the tree's persistent-state object.
class TLETRootStorage : public ILETCheckStorage {
public:
    TLETRootStorage() : owned_(std::make_unique<TRootNodeStorage>()), root_(owned_.get()) {}
    explicit TLETRootStorage(TRootNodeStorage& root) : root_(&root) {}
    TRootNodeStorage& Root() { return *root_; }
    bool FindCheck(LPCITEMIDLIST absolutePIDL, TCheckState& state, TCheckType& type) override {
        TNodeStorage* record = root_->FindWithKinds(absolutePIDL, skCheck);
        if (!record) return false;
        state = record->Storage.Check.CheckState;
        type = record->Storage.Check.CheckType;
        return true;
    }
    void StoreCheck(LPCITEMIDLIST absolutePIDL, TCheckState state, TCheckType type) override {
        if (TNodeStorage* record = root_->Store(absolutePIDL, skCheck)) record->Storage.Check = {state, type};
    }
    void RemoveCheck(LPCITEMIDLIST absolutePIDL, bool force) override {
        root_->Remove(absolutePIDL, skCheck, force, false);
    }
private:
    std::unique_ptr<TRootNodeStorage> owned_;
    TRootNodeStorage* root_;
};

// A list copied into a buffer the walk may cut after any identifier.
class TCutPIDL {
public:
    explicit TCutPIDL(LPCITEMIDLIST pidl) : bytes_(TPIDLManager::PIDLSize(pidl)) {
        std::memcpy(bytes_.data(), pidl, bytes_.size());
    }
    LPITEMIDLIST Get() { return reinterpret_cast<LPITEMIDLIST>(bytes_.data()); }
    // Offset of the identifier after the one at offset.
    size_t Next(size_t offset) const { return offset + Length(offset); }
    uint16_t Length(size_t offset) const {
        uint16_t cb;
        std::memcpy(&cb, bytes_.data() + offset, 2);
        return cb;
    }
    void SetLength(size_t offset, uint16_t cb) { std::memcpy(bytes_.data() + offset, &cb, 2); }
    const uint8_t* At(size_t offset) const { return bytes_.data() + offset; }
private:
    std::vector<uint8_t> bytes_;
};
} // namespace

std::unique_ptr<ILETCheckStorage> MakeRootCheckStorage() { return std::make_unique<TLETRootStorage>(); }

std::unique_ptr<ILETCheckStorage> MakeRootCheckStorage(TRootNodeStorage& root) {
    return std::make_unique<TLETRootStorage>(root);
}

TRootNodeStorage* TCustomLazyExplorerTree::GetStorage() const {
    auto* storage = dynamic_cast<TLETRootStorage*>(CheckStorage());
    return storage ? &storage->Root() : nullptr;
}

PLazyNode TCustomLazyExplorerTree::InternalWalkToPIDL(LPCITEMIDLIST pidl, bool select, bool walk, bool reinit,
                                                      bool expand) {
    PLazyNode start = FolderOption(toHideRootFolder) ? RootNode() : GetFirst();
    TNamespace* startNs;
    if (!pidl || !ValidateNamespace(start, startNs) || !startNs->AbsolutePIDL()) return nullptr;
    if (krv::ILIsEqual(startNs->AbsolutePIDL(), pidl)) return start;
    if (!krv::ILIsParent(startNs->AbsolutePIDL(), pidl, false)) return nullptr;

    TCutPIDL cut(pidl);
    size_t at = 0;
    for (int i = TPIDLManager::IDCount(startNs->AbsolutePIDL()); i > 0; --i) at = cut.Next(at);
    PLazyNode current = start;
    while (current && cut.Length(at) != 0) {
        // The list up to this level: the next identifier's length word set to 0.
        const size_t next = cut.Next(at);
        const uint16_t saved = cut.Length(next);
        cut.SetLength(next, 0);
        auto level = reinterpret_cast<LPCITEMIDLIST>(cut.At(at));
        if (walk) {
            if (reinit) ReinitChildren(current, false);
            else if (expand) SetExpanded(current, true);
        }
        PLazyNode match = FindChildByID(current, level);
        if (!match && NetworkFolder && krv::ILIsParent(NetworkFolder->AbsolutePIDL(), cut.Get(), false)) {
            // Computers and shares the network's enumeration did not list.
            auto ns = std::make_unique<TNamespace>(PIDLManager()->CopyPIDL(cut.Get()));
            match = AddCustomNode(current, ns.release(), false);
        }
        if (match) InitIfNeeded(match);
        cut.SetLength(next, saved);
        current = match;
        at = next;
    }
    if (select && current) {
        ClearSelection();
        SetSelected(current, true);
        SetTopNode(current);
        SetFocusedNode(current);
    }
    return current;
}

namespace {
// Folders with fewer children are searched child by child.
constexpr unsigned IndexedChildren = 32;

std::string IDKey(LPCITEMIDLIST id) {
    uint16_t cb;
    std::memcpy(&cb, id, 2);
    return std::string(reinterpret_cast<const char*>(id), cb);
}
} // namespace

PLazyNode TCustomLazyExplorerTree::FindChildByID(PLazyNode parent, LPCITEMIDLIST id) {
    std::unordered_map<std::string, PLazyNode>* index = nullptr;
    if (parent->ChildCount >= IndexedChildren) {
        if (indexedAtFreed_ != nodesFreed_) {
            childIndex_.clear();
            indexedAtFreed_ = nodesFreed_;
        }
        index = &childIndex_[parent];
        TNamespace* ns;
        if (index->empty())
            for (PLazyNode child = parent->FirstChild; child; child = child->NextSibling)
                if (ValidateNamespace(child, ns) && ns->RelativePIDL()) index->emplace(IDKey(ns->RelativePIDL()), child);
        const std::string key = IDKey(id);
        auto known = index->find(key);
        // Checked again: the node may have moved or taken another item since.
        if (known != index->end() && known->second->Parent == parent && ValidateNamespace(known->second, ns) &&
            ns->RelativePIDL() && IDKey(ns->RelativePIDL()) == key)
            return known->second;
    }
    // Only nodes already made: a find never makes children. The same item
    // may come in another form (the shell keeps times in an identifier), so
    // the folder's own comparison decides.
    for (PLazyNode child = parent->FirstChild; child; child = child->NextSibling) {
        TNamespace* ns;
        if (ValidateNamespace(child, ns) && CompareStorageIDs(ns->ParentShellFolder(), id, ns->RelativePIDL()) == 0) {
            if (index && ns->RelativePIDL()) index->emplace(IDKey(ns->RelativePIDL()), child);
            return child;
        }
    }
    return nullptr;
}

PLazyNode TCustomLazyExplorerTree::FindNodeByPIDL(LPCITEMIDLIST pidl) {
    return InternalWalkToPIDL(pidl, false, true, false, false);
}

PLazyNode TCustomLazyExplorerTree::FindNodeByPath(const std::wstring& path) {
    PIDLPtr pidl(PathToPIDL(path));
    return pidl ? FindNodeByPIDL(pidl.get()) : nullptr;
}

PLazyNode TCustomLazyExplorerTree::WalkToPIDL(LPCITEMIDLIST pidl, bool select, bool expand) {
    return InternalWalkToPIDL(pidl, select, true, !select, expand);
}

PLazyNode TCustomLazyExplorerTree::WalkToPath(const std::wstring& path, bool select) {
    PIDLPtr pidl(PathToPIDL(path));
    return pidl ? WalkToPIDL(pidl.get(), select, true) : nullptr;
}

bool TCustomLazyExplorerTree::BrowseToPath(const std::wstring& path, bool expand, bool select, bool setFocus,
                                           bool collapseFirst) {
    PIDLPtr pidl(PathToPIDL(path));
    return pidl && BrowseToPIDL(pidl.get(), expand, select, setFocus, collapseFirst, true);
}

bool TCustomLazyExplorerTree::BrowseToPIDL(LPCITEMIDLIST pidl, bool expand, bool select, bool setFocus,
                                           bool collapseFirst, bool walkExpand) {
    if (!CanBrowseTo(pidl)) return false;
    const bool wasBrowsing = std::exchange(browsing_, true);
    PLazyNode node = nullptr;
    try {
        node = InUpdate(*this, [&] {
            PLazyNode found = InternalWalkToPIDL(pidl, false, true, false, walkExpand);
            if (found) {
                if (collapseFirst) FullCollapse(nullptr);
                SetExpanded(found, expand);
                if (setFocus && CanFocus()) SetFocus();
                if (select) {
                    ClearSelection();
                    SetFocusedNode(nullptr);
                    SetSelected(found, true);
                    SetFocusedNode(found);
                }
            }
            return found;
        });
        if (node) ScrollIntoView(node, false, LETMiscOption(toAutoScrollHorz));
    } catch (...) {
        browsing_ = wasBrowsing;
        throw;
    }
    browsing_ = wasBrowsing;
    return node != nullptr;
}

bool TCustomLazyExplorerTree::BrowseToSyncTarget(LPCITEMIDLIST pidl) {
    TLETSyncOptions sync = TreeOptions().LETSyncOptions();
    return BrowseToPIDL(pidl, sync.Contains(toExpandTarget), sync.Contains(toSelectTarget), false,
                        sync.Contains(toCollapseTargetFirst), true);
}

bool TCustomLazyExplorerTree::BrowseToShortcutTarget(TNamespace* ns) {
    if (!ns || !ns->Link()) return false;
    TLazyShellLink link;
    link.ReadFromFile(ns->NameForParsing());
    if (!DirExistsW(link.TargetPath)) return false;
    // The folder's own list: the one kept in a link may carry another form of
    // the last identifier (a plain item without times), which the folder's
    // comparison does not take for the folder.
    PIDLPtr target(PathToPIDL(link.TargetPath));
    if (!target || !CanBrowseTo(target.get())) return false;
    return BrowseToSyncTarget(target.get());
}

void TCustomLazyExplorerTree::SyncToPIDL(LPCITEMIDLIST pidl) {
    if (syncing_ || IsDesigning() || !pidl) return;
    struct TGuard {
        bool& flag;
        ~TGuard() { flag = false; }
    };
    syncing_ = true;
    TGuard guard{syncing_};
    // A list view shows a folder: it follows when its folder is another.
    PLazyNode current = InheritsFrom("TLazyExplorerListview") ? RootNode() : GetFirstSelected();
    TNamespace* ns;
    bool same = false;
    if (ValidateNamespace(current, ns)) {
        ComPtr<IShellFolder> desktop;
        if (SUCCEEDED(::SHGetDesktopFolder(desktop.put())) && desktop) {
            HRESULT hr = desktop->CompareIDs(0, ns->AbsolutePIDL(), pidl);
            same = SUCCEEDED(hr) && HRESULT_CODE(hr) == 0;
        }
    }
    if (!same) BrowseToSyncTarget(pidl);
}

std::wstring TCustomLazyExplorerTree::SelectedPath() {
    TNamespace* ns;
    if (ValidateNamespace(GetFirstSelected(), ns) && ns->FileSystem()) return ns->NameForParsing();
    return std::wstring();
}

} // namespace krv
