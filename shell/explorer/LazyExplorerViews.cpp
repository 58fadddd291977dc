// Saved views: capturing and restoring a tree's visible state, their
// stream form, and the named views of the view managers.
#include "shell/explorer/LazyExplorerViews.h"
#include "shell/explorer/LazyExplorerTree.h"
#include "shell/base/WideStrUtils.h"
#include <algorithm>
#include <unordered_map>
#include <utility>

namespace krv {

namespace {

PIDLPtr CopyOf(LPCITEMIDLIST pidl) { return PIDLPtr(pidl ? PIDLManager()->CopyPIDL(pidl) : nullptr); }

// The folder's order; where it gives none the bytes decide, so the sort always has a total order.
int Order(IShellFolder* folder, LPCITEMIDLIST a, LPCITEMIDLIST b) { return CompareStorageIDs(folder, a, b); }

int ReadVersion(TStream& s, int version, bool readVerFromStream) {
    if (!readVerFromStream) return version;
    int32_t v = s.ReadValue<int32_t>();
    if (v < 0 || v > ViewStreamVersion) throw EReadError(Format("Saved view: unknown stream version %d", v));
    return v;
}

// A count the stream can hold, given the fewest bytes each entry takes.
uint32_t ReadCount(TStream& s, int minEntryBytes, const char* what) {
    int32_t count = s.ReadValue<int32_t>();
    if (count < 0 || static_cast<int64_t>(count) * minEntryBytes > s.Remaining())
        throw EReadError(Format("Saved view: %s count %d does not fit the stream", what, count));
    return static_cast<uint32_t>(count);
}

PIDLPtr ReadPIDL(TStream& s) { return PIDLPtr(PIDLManager()->LoadFromStream(s)); }

// Before version 3 a character took one byte.
std::wstring ReadWide(TStream& s, bool wide) {
    int charBytes = wide ? 2 : 1;
    uint32_t length = ReadCount(s, charBytes, "text");
    std::wstring text(length, L'\0');
    if (wide) {
        if (length) s.ReadBuffer(text.data(), length * 2);
    } else {
        std::string narrow(length, '\0');
        if (length) s.ReadBuffer(narrow.data(), length);
        text = AnsiToWide(narrow);
    }
    return text;
}

void WriteWide(TStream& s, const std::wstring& text, bool wide) {
    if (wide) {
        s.WriteValue(static_cast<int32_t>(text.size()));
        if (!text.empty()) s.WriteBuffer(text.data(), text.size() * 2);
    } else {
        std::string narrow = WideToAnsi(text);
        s.WriteValue(static_cast<int32_t>(narrow.size()));
        if (!narrow.empty()) s.WriteBuffer(narrow.data(), narrow.size());
    }
}

struct TFlagScope {
    uint8_t& flags;
    uint8_t bit;
    TFlagScope(uint8_t& f, uint8_t b) : flags(f), bit(b) { flags |= bit; }
    ~TFlagScope() { flags &= static_cast<uint8_t>(~bit); }
};

} // namespace

void PIDLListQuickSort(TPIDLList& list, IShellFolder* folder, int left, int right) {
    if (!folder) return;
    // Recursion only on the left part: the right part loops, which bounds the depth.
    while (left < right) {
        int i = left, j = right;
        LPITEMIDLIST pivot = list[(left + right) / 2];
        do {
            while (Order(folder, list[i], pivot) < 0) ++i;
            while (Order(folder, list[j], pivot) > 0) --j;
            if (i <= j) {
                list.Exchange(i, j);
                ++i;
                --j;
            }
        } while (i <= j);
        if (left < j) PIDLListQuickSort(list, folder, left, j);
        left = i;
    }
}

// ---- TLETPersistent -----------------------------------------------------------------

TLETPersistent::TLETPersistent() : Storage(std::make_unique<TRootNodeStorage>()) {}
TLETPersistent::~TLETPersistent() = default;

void TLETPersistent::Clear() {
    LeafNodes.clear();
    SelectedPIDLs.Clear();
    SelectedFolderPIDL.reset();
    TopNodePIDL.reset();
    FocusPIDL.reset();
    RootFolderCustomPIDL.reset();
    Storage->Clear(false);
}

void TLETPersistent::SwapContent(TLETPersistent& other) {
    LeafNodes.swap(other.LeafNodes);
    SelectedPIDLs.Swap(other.SelectedPIDLs);
    std::swap(SelectedFolderPIDL, other.SelectedFolderPIDL);
    std::swap(TopNodePIDL, other.TopNodePIDL);
    std::swap(FocusPIDL, other.FocusPIDL);
    std::swap(RootFolder, other.RootFolder);
    RootFolderCustomPath.swap(other.RootFolderCustomPath);
    std::swap(RootFolderCustomPIDL, other.RootFolderCustomPIDL);
    // The storage objects stay (a tree's check storage points at its own
    // object's): their records change places.
    TRootNodeStorage held;
    held.Assign(*Storage);
    Storage->Assign(*other.Storage);
    other.Storage->Assign(held);
    std::swap(StreamVersion, other.StreamVersion);
}

void TLETPersistent::SaveTree(TCustomLazyExplorerTree& tree, bool saveSelection, bool saveFocus, PLazyNode start) {
    if (Busy()) return;
    TFlagScope saving(flags_, pfSaving);
    FocusPIDL.reset();
    TopNodePIDL.reset();
    TNamespace* ns;
    if (tree.ValidateNamespace(tree.GetTopNode(), ns)) TopNodePIDL = CopyOf(ns->AbsolutePIDL());
    if (saveFocus && tree.ValidateNamespace(tree.FocusedNode(), ns)) FocusPIDL = CopyOf(ns->AbsolutePIDL());
    CollectLeaves(tree, start);
    if (saveSelection) SaveSelection(tree);
    RootFolderCustomPIDL = CopyOf(tree.RootFolderCustomPIDL());
    RootFolder = tree.RootFolder();
    RootFolderCustomPath = tree.RootFolderCustomPath();
}

void TLETPersistent::CollectLeaves(TCustomLazyExplorerTree& tree, PLazyNode start) {
    LeafNodes.clear();
    bool hiddenRoot = tree.TreeOptions().LETFolderOptions().Contains(toHideRootFolder);
    if (!start) start = hiddenRoot ? tree.RootNode() : tree.GetFirst();
    if (!start) return;
    auto expanded = [](PLazyNode node) { return (node->States & vsExpanded) != 0; };
    auto addLeaf = [&](PLazyNode node, bool isExpanded) {
        TNamespace* ns;
        if (tree.ValidateNamespace(node, ns)) LeafNodes.push_back({isExpanded, CopyOf(ns->AbsolutePIDL())});
    };
    // Depth first without recursion: deep trees must not overflow the stack.
    std::vector<PLazyNode> pending{start};
    while (!pending.empty()) {
        PLazyNode node = pending.back();
        pending.pop_back();
        if (!expanded(node)) continue;
        bool anyChildExpanded = false;
        std::vector<PLazyNode> children;
        for (PLazyNode child = node->FirstChild; child; child = child->NextSibling)
            if (expanded(child)) {
                anyChildExpanded = true;
                children.push_back(child);
            }
        if (!anyChildExpanded) addLeaf(node, true);
        pending.insert(pending.end(), children.rbegin(), children.rend());
    }
    if (LeafNodes.empty()) addLeaf(start, expanded(start));
}

void TLETPersistent::SaveSelection(TCustomLazyExplorerTree& tree) {
    SelectedPIDLs.Clear();
    SelectedFolderPIDL.reset();
    for (PLazyNode node : tree.GetSortedSelection(true)) {
        TNamespace* ns;
        if (!tree.ValidateNamespace(node, ns) || ns->IsDesktop()) continue;
        PIDLPtr folder = CopyOf(ns->AbsolutePIDL());
        TPIDLManager::StripLastID(folder.get());
        if (!SelectedFolderPIDL) SelectedFolderPIDL = std::move(folder);
        // One folder only: the selection is restored among one folder's items.
        else if (!krv::ILIsEqual(SelectedFolderPIDL.get(), folder.get())) continue;
        SelectedPIDLs.CopyAdd(TPIDLManager::GetPointerToLastID(ns->AbsolutePIDL()));
    }
}

void TLETPersistent::RestoreTree(TCustomLazyExplorerTree& tree, bool restoreSelection, bool restoreFocus,
                                 bool restoreTopNode) {
    if (Busy()) return;
    TFlagScope restoring(flags_, pfRestoring);
    InUpdate(tree, [&] {
        RestoreLeaves(tree);
        if (restoreSelection) RestoreSelection(tree);
        if (restoreFocus && FocusPIDL)
            if (PLazyNode focus = tree.FindNodeByPIDL(FocusPIDL.get())) tree.SetFocusedNode(focus);
    });
    if (restoreTopNode && TopNodePIDL)
        if (PLazyNode top = tree.FindNodeByPIDL(TopNodePIDL.get())) tree.SetTopNode(top);
}

void TLETPersistent::RestoreLeaves(TCustomLazyExplorerTree& tree) {
    bool hiddenRoot = tree.TreeOptions().LETFolderOptions().Contains(toHideRootFolder);
    for (const TLeafNode& leaf : LeafNodes) {
        // A folder that is gone, or lies outside the current root, gives nil.
        PLazyNode node = tree.InternalWalkToPIDL(leaf.PIDL.get(), false, true, false, true);
        if (node && !(hiddenRoot && node == tree.RootNode())) tree.SetExpanded(node, leaf.Expanded);
        else if (node && leaf.Expanded) tree.ExpandNamespaceFolder(node);
    }
}

void TLETPersistent::RestoreSelection(TCustomLazyExplorerTree& tree) {
    if (!SelectedFolderPIDL || SelectedPIDLs.Count() == 0) return;
    // The selection's folder is a node, or (for the top node of a tree that
    // shows its root) the folder above the first node.
    std::vector<PLazyNode> candidates;
    if (PLazyNode folderNode = tree.InternalWalkToPIDL(SelectedFolderPIDL.get(), false, true, false, false)) {
        if (folderNode->ChildCount == 0 && (folderNode->States & vsHasChildren)) tree.ExpandNamespaceFolder(folderNode);
        for (PLazyNode child = folderNode->FirstChild; child; child = child->NextSibling) candidates.push_back(child);
    } else if (PLazyNode first = tree.GetFirst()) {
        candidates.push_back(first);
    }
    TNamespace folderNs(PIDLManager()->CopyPIDL(SelectedFolderPIDL.get()));
    IShellFolder* folder = folderNs.ShellFolder();
    if (!folder || candidates.empty()) return;

    TPIDLList wanted, present;
    wanted.SharePIDLs = present.SharePIDLs = true;
    std::unordered_map<LPCITEMIDLIST, PLazyNode> nodeOf;
    for (int i = 0; i < SelectedPIDLs.Count(); ++i) wanted.Add(SelectedPIDLs[i]);
    for (PLazyNode node : candidates) {
        TNamespace* ns;
        if (!tree.ValidateNamespace(node, ns) || ns->IsDesktop()) continue;
        LPITEMIDLIST last = TPIDLManager::GetPointerToLastID(ns->AbsolutePIDL());
        // Only items of this folder (a custom node may come from elsewhere).
        PIDLPtr parent = CopyOf(ns->AbsolutePIDL());
        TPIDLManager::StripLastID(parent.get());
        if (!krv::ILIsEqual(parent.get(), SelectedFolderPIDL.get())) continue;
        present.Add(last);
        nodeOf[last] = node;
    }
    PIDLListQuickSort(wanted, folder, 0, wanted.Count() - 1);
    PIDLListQuickSort(present, folder, 0, present.Count() - 1);
    tree.ClearSelection();
    PLazyNode firstSelected = nullptr;
    for (int i = 0, j = 0; i < wanted.Count() && j < present.Count();) {
        int c = Order(folder, wanted[i], present[j]);
        if (c < 0) ++i;
        else if (c > 0) ++j;
        else {
            PLazyNode node = nodeOf[present[j]];
            tree.SetSelected(node, true);
            if (!firstSelected) firstSelected = node;
            ++i, ++j;
        }
    }
    if (firstSelected && !FocusPIDL) tree.SetFocusedNode(firstSelected);
}

void TLETPersistent::LoadFromStream(TStream& s, int version, bool readVerFromStream) {
    TLETPersistent loaded;
    loaded.StreamVersion = ReadVersion(s, version, readVerFromStream);
    uint32_t leafCount = ReadCount(s, 5, "leaf");
    for (uint32_t i = 0; i < leafCount; ++i) {
        TLeafNode leaf;
        if (readVerFromStream) ReadVersion(s, version, true);
        uint8_t expanded = s.ReadValue<uint8_t>();
        if (expanded > 1) throw EReadError("Saved view: a leaf's expanded flag is not 0 or 1");
        leaf.Expanded = expanded != 0;
        leaf.PIDL = ReadPIDL(s);
        if (!leaf.PIDL) throw EReadError("Saved view: a leaf without an item");
        loaded.LeafNodes.push_back(std::move(leaf));
    }
    loaded.SelectedFolderPIDL = ReadPIDL(s);
    loaded.SelectedPIDLs.LoadFromStream(s);
    loaded.RootFolderCustomPIDL = ReadPIDL(s);
    loaded.TopNodePIDL = ReadPIDL(s);
    uint8_t root = s.ReadValue<uint8_t>();
    if (root > rfCustomPIDL) throw EReadError(Format("Saved view: unknown root folder %u", unsigned(root)));
    loaded.RootFolder = static_cast<TRootFolder>(root);
    loaded.RootFolderCustomPath = ReadWide(s, loaded.StreamVersion >= 3);
    loaded.Storage->LoadFromStream(s, NodeStorageStreamVersion, true);
    SwapContent(loaded);
}

void TLETPersistent::SaveToStream(TStream& s, int version, bool writeVerToStream) {
    TStreamableClass::SaveToStream(s, version, writeVerToStream);
    s.WriteValue(static_cast<int32_t>(LeafNodes.size()));
    for (const TLeafNode& leaf : LeafNodes) {
        if (writeVerToStream) s.WriteValue(static_cast<int32_t>(version));
        s.WriteValue(static_cast<uint8_t>(leaf.Expanded ? 1 : 0));
        TPIDLManager::SaveToStream(s, leaf.PIDL.get());
    }
    TPIDLManager::SaveToStream(s, SelectedFolderPIDL.get());
    SelectedPIDLs.SaveToStream(s);
    TPIDLManager::SaveToStream(s, RootFolderCustomPIDL.get());
    TPIDLManager::SaveToStream(s, TopNodePIDL.get());
    s.WriteValue(static_cast<uint8_t>(RootFolder));
    WriteWide(s, RootFolderCustomPath, version >= 3);
    Storage->SaveToStream(s, NodeStorageStreamVersion, true);
}

// ---- TView ----------------------------------------------------------------------------

void TView::LoadFromStream(TStream& s, int version, bool readVerFromStream) {
    TView loaded;
    loaded.TLETPersistent::LoadFromStream(s, version, readVerFromStream);
    loaded.ViewName = ReadWide(s, true);
    SwapContent(loaded);
    ViewName.swap(loaded.ViewName);
}

void TView::SaveToStream(TStream& s, int version, bool writeVerToStream) {
    TLETPersistent::SaveToStream(s, version, writeVerToStream);
    WriteWide(s, ViewName, true);
}

// ---- TViewList and the managers ----------------------------------------------------------

void TViewList::Clear() {
    while (!items_.empty()) {
        delete static_cast<TView*>(items_.back());
        items_.pop_back();
    }
}

void TViewList::LoadFromStream(TStream& s, int version, bool readVerFromStream) {
    TViewList loaded;
    loaded.StreamVersion = ReadVersion(s, version, readVerFromStream);
    // A view takes at least its counts, lists and sizes: far more than 16 bytes.
    uint32_t count = ReadCount(s, 16, "view");
    for (uint32_t i = 0; i < count; ++i) {
        auto view = std::make_unique<TView>();
        view->LoadFromStream(s, loaded.StreamVersion, false);
        loaded.Add(std::move(view));
    }
    Swap(loaded);
    StreamVersion = loaded.StreamVersion;
}

void TViewList::SaveToStream(TStream& s, int version, bool writeVerToStream) {
    TStreamableList::SaveToStream(s, version, writeVerToStream);
    s.WriteValue(static_cast<int32_t>(Count()));
    for (int i = 0; i < Count(); ++i) Items(i)->SaveToStream(s, version, false);
}

TView* TViewManager::FindView(const std::wstring& name) const {
    for (int i = 0; i < Views.Count(); ++i)
        if (StrICompW(Views.Items(i)->ViewName.c_str(), name.c_str()) == 0) return Views.Items(i);
    return nullptr;
}

bool TViewManager::ShowView(const std::wstring& name, TCustomLazyExplorerTree& tree) {
    TView* view = FindView(name);
    if (!view) return false;
    tree.WaitCursor(true);
    try {
        view->RestoreTree(tree, true, true, true);
    } catch (...) {
        tree.WaitCursor(false);
        throw;
    }
    tree.WaitCursor(false);
    return true;
}

TView* TViewManager::Snapshot(const std::wstring& name, TCustomLazyExplorerTree& tree) {
    TView* view = FindView(name);
    if (!view) {
        auto made = std::make_unique<TView>();
        made->ViewName = name;
        view = made.get();
        Views.Add(std::move(made));
    }
    view->SaveTree(tree, true, true);
    return view;
}

void TViewManager::LoadFromStream(TStream& s, int version, bool readVerFromStream) {
    int v = ReadVersion(s, version, readVerFromStream);
    Views.LoadFromStream(s, v, false);
    StreamVersion = v;
}

void TViewManager::SaveToStream(TStream& s, int version, bool writeVerToStream) {
    TStreamableClass::SaveToStream(s, version, writeVerToStream);
    Views.SaveToStream(s, version, false);
}

bool TGlobalViewManager::ShowView(const std::wstring& name, TCustomLazyExplorerTree& tree) {
    TView* view = FindView(name);
    if (!view) return false;
    if (TRootNodeStorage* storage = tree.GetStorage()) storage->Assign(*view->Storage);
    // The nodes already made take their checks from the new storage before
    // the restore makes more below them; no folder is read for it.
    tree.ReloadCheckStates();
    TViewManager::ShowView(name, tree);
    return true;
}

TView* TGlobalViewManager::Snapshot(const std::wstring& name, TCustomLazyExplorerTree& tree) {
    if (TView* existing = FindView(name)) existing->Clear();
    TView* view = TViewManager::Snapshot(name, tree);
    if (TRootNodeStorage* storage = tree.GetStorage()) view->Storage->Assign(*storage);
    return view;
}

void TGlobalViewManager::LoadFromStream(TStream& s, int, bool) {
    // The views read replace the old ones only once all were read: a bad stream loses nothing.
    TViewManager::LoadFromStream(s, ViewStreamVersion, true);
}

void TGlobalViewManager::SaveToStream(TStream& s, int, bool) { TViewManager::SaveToStream(s, ViewStreamVersion, true); }

TGlobalViewManager& GlobalViewManager() {
    static TGlobalViewManager manager;
    return manager;
}

} // namespace krv
