// Saved views of an explorer tree: which folders are expanded, what is
// selected and focused, which node is at the top and which root is shown,
// kept by item identifier lists so that they survive rebuilding the nodes
// and, through a stream, the program. A view manager keeps named views; the
// global one also carries a copy of the tree's check storage per view.
#pragma once
#include "shell/explorer/LazyCheckStorage.h"
#include "shell/explorer/LazyExplorerOptions.h"
#include "shell/base/PIDLTools.h"
#include "shell/base/Streamable.h"
#include "tree/core/LazyTreeTypes.h"
#include <memory>
#include <string>
#include <vector>

namespace krv {

class TCustomLazyExplorerTree;

// Version 3 keeps the custom root path as two bytes per character.
constexpr int ViewStreamVersion = 3;

// Sorts list[left..right] in place in the folder's order of its items
// (CompareIDs, column 0). Lists that the folder cannot order stay where they are.
void PIDLListQuickSort(TPIDLList& list, IShellFolder* folder, int left, int right);

// An expanded node none of whose children is expanded (or, when nothing
// below the start is expanded, the start node with its own state).
struct TLeafNode {
    bool Expanded = true;
    PIDLPtr PIDL;   // absolute
};
using TLeafNodeList = std::vector<TLeafNode>;

class TLETPersistent : public TStreamableClass {
public:
    TLETPersistent();
    ~TLETPersistent() override;
    TLETPersistent(const TLETPersistent&) = delete;
    TLETPersistent& operator=(const TLETPersistent&) = delete;

    TLeafNodeList LeafNodes;
    TPIDLList SelectedPIDLs;            // relative to SelectedFolderPIDL
    PIDLPtr SelectedFolderPIDL;
    PIDLPtr TopNodePIDL;
    PIDLPtr FocusPIDL;                  // kept in memory only
    TRootFolder RootFolder = rfDesktop;
    std::wstring RootFolderCustomPath;
    PIDLPtr RootFolderCustomPIDL;
    std::unique_ptr<TRootNodeStorage> Storage;

    // Skipped while this object saves or restores (a handler run by the
    // restore must not overwrite what is being restored). With a start node
    // only the expanded folders below it are kept (the refresh of one node).
    void SaveTree(TCustomLazyExplorerTree& tree, bool saveSelection, bool saveFocus, PLazyNode start = nullptr);
    void RestoreTree(TCustomLazyExplorerTree& tree, bool restoreSelection, bool restoreFocus, bool restoreTopNode);
    bool Busy() const { return flags_ != 0; }
    virtual void Clear();

    // Reading is all or nothing: a stream that is not one sound record
    // raises EReadError and leaves the object as it was.
    void LoadFromStream(TStream& s, int version, bool readVerFromStream) override;
    void SaveToStream(TStream& s, int version, bool writeVerToStream) override;

protected:
    void SwapContent(TLETPersistent& other);

private:
    void CollectLeaves(TCustomLazyExplorerTree& tree, PLazyNode start);
    void SaveSelection(TCustomLazyExplorerTree& tree);
    void RestoreLeaves(TCustomLazyExplorerTree& tree);
    void RestoreSelection(TCustomLazyExplorerTree& tree);

    enum : uint8_t { pfSaving = 1, pfRestoring = 2 };
    uint8_t flags_ = 0;
};

class TView : public TLETPersistent {
public:
    std::wstring ViewName;
    void LoadFromStream(TStream& s, int version, bool readVerFromStream) override;
    void SaveToStream(TStream& s, int version, bool writeVerToStream) override;
};

// Owns its views.
class TViewList : public TStreamableList {
public:
    TViewList() = default;
    ~TViewList() override { Clear(); }
    TViewList(const TViewList&) = delete;
    TViewList& operator=(const TViewList&) = delete;

    TView* Items(int i) const { return static_cast<TView*>((*this)[i]); }
    void Add(std::unique_ptr<TView> view) { items_.push_back(view.release()); }
    // Frees the views, the last first.
    void Clear() override;
    void Swap(TViewList& other) { items_.swap(other.items_); }

    void LoadFromStream(TStream& s, int version, bool readVerFromStream) override;
    void SaveToStream(TStream& s, int version, bool writeVerToStream) override;
};

class TViewManager : public TStreamableClass {
public:
    TViewList Views;

    // The view of that name, whatever the case of its letters; nil when none.
    TView* FindView(const std::wstring& name) const;
    // False when there is no such view.
    virtual bool ShowView(const std::wstring& name, TCustomLazyExplorerTree& tree);
    // Saves the tree into the named view, made when missing.
    virtual TView* Snapshot(const std::wstring& name, TCustomLazyExplorerTree& tree);
    void Clear() { Views.Clear(); }

    // All or nothing, as TLETPersistent.
    void LoadFromStream(TStream& s, int version, bool readVerFromStream) override;
    void SaveToStream(TStream& s, int version, bool writeVerToStream) override;
};

// Views of the process that carry the tree's check storage as well.
class TGlobalViewManager : public TViewManager {
public:
    bool ShowView(const std::wstring& name, TCustomLazyExplorerTree& tree) override;
    TView* Snapshot(const std::wstring& name, TCustomLazyExplorerTree& tree) override;
    // Always reads the version from the stream; the views read replace the old ones.
    void LoadFromStream(TStream& s, int version, bool readVerFromStream) override;
    // Always writes version 3 first.
    void SaveToStream(TStream& s, int version, bool writeVerToStream) override;
};

// The process's global view manager (made on first use).
TGlobalViewManager& GlobalViewManager();

} // namespace krv
