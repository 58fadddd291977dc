// The explorer tree: the string tree as a view of the shell namespace. Every
// node owns one shell item; children are made when a node is expanded, by
// enumerating the item's folder, filtered by the options and OnEnumFolder
// and sorted in the shell's order. Icons come from the system image list,
// fetched by the icon thread with placeholders meanwhile. Check states live
// in a storage keyed by item (plugged in through ILETCheckStorage), so they
// outlive the nodes.
#pragma once
#include "shell/explorer/LazyExplorerColumns.h"
#include "shell/explorer/LazyExplorerOptions.h"
#include "shell/notify/LazyShellEvents.h"
#include "shell/item/LazyShellUtilities.h"
#include "shell/explorer/ShellSortHelper.h"
#include "tree/string/LazyStringTree.h"
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace krv {

class TCustomLazyExplorerTree;
class TContextMenuManager;
class TLazySysImages;
class TRootNodeStorage;
class TLazyExplorerListview;
class TChildOrderThread;
class TLETPersistent;
class TViewManager;
struct TImageThreadRequest;

// The icon thread's answers (the change notifier's WM_SHELLNOTIFY is in LazyShellEvents.h).
constexpr UINT WM_LETICONTHREAD = 0x8034;
// A rename the shell refused, posted so that it is handled after the editor closed.
constexpr UINT WM_LETRENAMEFAILED = 0x8035;

// Text colours of the explorer tree's items; a change repaints the tree.
class TLETColors {
public:
    explicit TLETColors(TCustomLazyExplorerTree* owner) : owner_(owner) {}
    TColor CompressedTextColor() const { return compressed_; }
    TColor FolderTextColor() const { return folder_; }
    TColor FileTextColor() const { return file_; }
    void SetCompressedTextColor(TColor value) { Set(compressed_, value); }
    void SetFolderTextColor(TColor value) { Set(folder_, value); }
    void SetFileTextColor(TColor value) { Set(file_, value); }
private:
    void Set(TColor& field, TColor value);
    TCustomLazyExplorerTree* owner_;
    TColor compressed_ = clBlue, folder_ = clBlack, file_ = clBlack;
};

// The node's internal data area.
struct TLETNodeData {
    TNamespace* Namespace;
    TColumnManager* ColumnManager;
};
using PLETNodeData = TLETNodeData*;
#if !defined(_WIN64)
static_assert(sizeof(TLETNodeData) == 8, "the internal node area is 8 bytes");
#endif

// Where the check states of shell items are kept beyond their nodes. The
// tree asks it when a node is initialised and tells it when a check changes.
class ILETCheckStorage {
public:
    virtual ~ILETCheckStorage() = default;
    // The stored check state and type of an item; false when none is stored.
    virtual bool FindCheck(LPCITEMIDLIST absolutePIDL, TCheckState& state, TCheckType& type) = 0;
    virtual void StoreCheck(LPCITEMIDLIST absolutePIDL, TCheckState state, TCheckType type) = 0;
    // Drops the item's check; force also drops records holding other kinds, with their descendants.
    virtual void RemoveCheck(LPCITEMIDLIST absolutePIDL, bool force) = 0;
};

// The default storage: a TRootNodeStorage record tree (LazyExplorerWalk.cpp),
// its own or one owned elsewhere (the tree's persistent-state object).
std::unique_ptr<ILETCheckStorage> MakeRootCheckStorage();
std::unique_ptr<ILETCheckStorage> MakeRootCheckStorage(TRootNodeStorage& root);

enum TNamespaceStructureChange { nscAdd, nscDelete, nscRename };

// One shell change as the change notifier hands it on.
struct TLETShellEvent {
    LONG EventID = 0;
    LPCITEMIDLIST PIDL1 = nullptr;
    LPCITEMIDLIST PIDL2 = nullptr;
};

class TCustomLazyExplorerTreeOptions : public TStringTreeOptions {
public:
    using TStringTreeOptions::TStringTreeOptions;
    TLETFolderOptions LETFolderOptions() const { return folder_; }
    TLETImageOptions LETImageOptions() const { return image_; }
    TLETMiscOptions LETMiscOptions() const { return misc_; }
    TLETShellOptions LETShellOptions() const { return shell_; }
    TLETSyncOptions LETSyncOptions() const { return sync_; }
    void SetLETFolderOptions(TLETFolderOptions v);
    void SetLETImageOptions(TLETImageOptions v);
    void SetLETMiscOptions(TLETMiscOptions v);
    void SetLETShellOptions(TLETShellOptions v);
    void SetLETSyncOptions(TLETSyncOptions v) { sync_ = v; }
    // The explorer tree sorts after each enumeration: automatic sorting never stays on.
    void SetAutoOptions(TLTAutoOptions v) override;
    // Several selected items must share a folder for the shell's verbs.
    void SetSelectionOptions(TLTSelectionOptions v) override;
    void AssignTo(TCustomLazyTreeOptions& dest) const override;

private:
    TCustomLazyExplorerTree* Tree() const;
    TLETFolderOptions folder_ = DefaultLETFolderOptions;
    TLETImageOptions image_;
    TLETMiscOptions misc_;
    TLETShellOptions shell_;
    TLETSyncOptions sync_;
};

class TLazyExplorerTreeOptions : public TCustomLazyExplorerTreeOptions {
public:
    using TCustomLazyExplorerTreeOptions::TCustomLazyExplorerTreeOptions;
};

class TCustomLazyExplorerTree : public TCustomLazyStringTree {
    friend class TCustomLazyExplorerTreeOptions;
    friend class TLETDataObject;
public:
    explicit TCustomLazyExplorerTree(TComponent* owner = nullptr);
    ~TCustomLazyExplorerTree() override;

    TCustomLazyExplorerTreeOptions& TreeOptions() {
        return static_cast<TCustomLazyExplorerTreeOptions&>(TBaseLazyTree::TreeOptions());
    }
    // Refused with EAssertionFailed when the sets carry the base read-only option.
    void SetTreeOptions(const TCustomLazyTreeOptions& value);
    void Assign(const TCustomLazyExplorerTree& source);

    // ---- nodes ---------------------------------------------------------------
    // The node's internal data area (the hidden root's too); nil for nil.
    PLETNodeData GetNodeData(PLazyNode node) const;
    // False (and nil) for a nil node or one without an item.
    bool ValidateNamespace(PLazyNode node, TNamespace*& ns) const;
    // The node's column manager, made when first asked for: most nodes of a
    // big folder never are.
    TColumnManager* ColumnManagerOf(PLazyNode node);
    // Fills a node's children when it has none yet; answers its child count.
    virtual int ExpandNamespaceFolder(PLazyNode node);
    PLazyNode AddCustomNode(PLazyNode parent, TNamespace* ns, bool setCheckType, TCheckType checkType = ctNone);
    // Reads the node's item afresh: children dropped, has-children asked
    // again; the folders expanded below it and the selection come back.
    void RefreshNode(PLazyNode node);
    // Brings the node's children in line with its folder now (gone items
    // deleted, new ones added), then refreshes the node.
    virtual void ReReadAndRefreshNode(PLazyNode node);
    // Gives the nodes already made their check states from the storage again
    // (a node without a record is unchecked); makes no node.
    void ReloadCheckStates();
    virtual void RebuildTree();
    // After the application cleared the stored checks.
    void RebuildTreeAfterClearingChecks() { RebuildTree(); }

    // ---- properties -------------------------------------------------------------
    bool Active() const { return active_; }
    void SetActive(bool value);
    // True once the nodes were built for the current Active.
    bool Built() const { return built_; }
    TRootFolder RootFolder() const { return rootFolder_; }
    void SetRootFolder(TRootFolder value);
    const std::wstring& RootFolderCustomPath() const { return customPath_; }
    void SetRootFolderCustomPath(const std::wstring& path);
    LPCITEMIDLIST RootFolderCustomPIDL() const { return customPIDL_; }
    void SetRootFolderCustomPIDL(LPCITEMIDLIST pidl);
    TNamespace* RootFolderNamespace() const { return rootNamespace_.get(); }
    TFileObjects FileObjects() const { return fileObjects_; }
    void SetFileObjects(TFileObjects value);
    TFileSort FileSort() const { return fileSort_; }
    void SetFileSort(TFileSort value);
    TFileSizeFormat FileSizeFormat() const { return fileSizeFormat_; }
    void SetFileSizeFormat(TFileSizeFormat value);
    TColumnDetails ColumnDetails() const { return columnDetails_; }
    void SetColumnDetails(TColumnDetails value);
    // Drops the nodes around the change of size.
    void SetNodeDataSize(int value);
    // Nested: the first of all trees shows the hourglass, the last restores the cursor.
    void WaitCursor(bool show);
    // Turning it on while the hourglass shows ends every nesting level at once.
    void SetShowWaitCursor(bool value);
    bool ShowWaitCursor() const { return showWaitCursor_; }
    int UnknownFolderIconIndex() const { return unknownFolderIcon_; }
    int UnknownFileIconIndex() const { return unknownFileIcon_; }
    bool ThreadedImagesRegistered() const { return threadedImagesRegistered_; }
    bool ChangeNotifierRegistered() const { return changeNotifierRegistered_; }

    // The check storage the tree reads and writes; nil stores nothing.
    ILETCheckStorage* CheckStorage() const { return storage_.get(); }
    void SetCheckStorage(std::unique_ptr<ILETCheckStorage> storage) { storage_ = std::move(storage); }

    // The tree's persistent-state object: the view kept across a refresh and
    // the record tree of the default check storage.
    TLETPersistent& Persistent() { return *persistent_; }
    // Named views of this tree.
    TViewManager& ViewManager() { return *viewManager_; }
    // The explorer tree's nodes are made from shell items only: a tree
    // stream would give nodes without one. Both raise EStreamError; saved
    // views (Persistent, ViewManager) keep what a tree stream would.
    void SaveToStream(TStream& stream, PLazyNode node = nullptr) override;
    void LoadFromStream(TStream& stream) override;

    // ---- commands on the selected items ----------------------------------------
    enum TShellVerb { svDelete, svCut, svCopy, svPaste, svProperties };
    // False when refused (read-only tree, no selection) or when the shell did nothing.
    bool SelectedFilesDelete();
    bool SelectedFilesPaste();
    bool SelectedFilesShowProperties();
    bool CopyToClipboard();
    bool CutToClipboard();
    bool PasteFromClipboard();
    std::vector<TNamespace*> SelectedNamespaces();

    // ---- linked views, browsing, columns (their own code) -----------------------
    virtual bool CanBrowseTo(LPCITEMIDLIST) const { return true; }

    // ---- finding and browsing to nodes (LazyExplorerWalk.cpp) ---------------------
    // The record tree behind the default check storage; nil when another storage was set.
    TRootNodeStorage* GetStorage() const;
    // The node of an absolute list among the nodes already made; nil when a level is missing.
    PLazyNode FindNodeByPIDL(LPCITEMIDLIST pidl);
    PLazyNode FindNodeByPath(const std::wstring& path);
    // Makes the missing levels on the way: with select every level is expanded
    // and the node selected, focused and scrolled to; without, the levels only
    // get their children made.
    PLazyNode WalkToPIDL(LPCITEMIDLIST pidl, bool select, bool expand);
    PLazyNode WalkToPath(const std::wstring& path, bool select);
    PLazyNode InternalWalkToPIDL(LPCITEMIDLIST pidl, bool select, bool walk, bool reinit, bool expand);
    // False when the path does not parse or names no node of the tree.
    bool BrowseToPath(const std::wstring& path, bool expand, bool select, bool setFocus, bool collapseFirst);
    virtual bool BrowseToPIDL(LPCITEMIDLIST pidl, bool expand, bool select, bool setFocus, bool collapseFirst,
                              bool walkExpand);
    // A shortcut to an existing folder browses to the folder (LETSyncOptions decide how).
    virtual bool BrowseToShortcutTarget(TNamespace* ns);
    // Browses to pidl unless the selected item is already it; not re-entered.
    void SyncToPIDL(LPCITEMIDLIST pidl);
    // The first selected item's parse name when it is in the file system, else empty.
    std::wstring SelectedPath();
    virtual void SyncLinkedControls() {}
    virtual void RestoreColumnState();
    virtual void StoreColumnState();

    // ---- verbs, keys, rename, context menu (LazyExplorerVerbs.cpp, LazyExplorerContextMenu.cpp) ----
    // Makes a not yet used folder from suggestedName (default "New Folder")
    // under the parent, adds, selects and focuses its node and starts editing
    // its name. Needs toEditable (EAssertionFailed otherwise); false when the
    // parent is not an existing directory or the folder cannot be made.
    virtual bool CreateNewFolder(LPCITEMIDLIST parentPIDL, const std::wstring& suggestedName, std::wstring& newName);
    // Hands the item to the shell unless the browse options keep folders or
    // folder shortcuts in the tree.
    virtual bool ShellExecuteNamespace(TNamespace* ns, const std::wstring& workingDir, const std::wstring& parameters);
    // Saves the view, rebuilds through the root folder and restores the view.
    void RefreshTree(bool restoreTopNode);
    // The second half: rebuilds and restores the view Persistent() holds.
    void RebuildAndRestoreView(bool restoreTopNode);
    // The cut or copy marks of the selected nodes; earlier marks go first.
    void MarkCutCopy(bool cut);
    void ClearCutCopyMarks();
    // Shows the shell's menu of the node (of the whole selection when the
    // node is selected with others) at a screen point; false when none was shown.
    bool ShowShellContextMenu(PLazyNode node, POINT screenPoint);
    TLETColors& LETColors() { return letColors_; }
    // ---- drag and drop through the shell (LazyExplorerDrag.cpp) --------------------
    // The tree's formats and, while a drag's data object exists, every format
    // of the shell's data object of the dragged items.
    void GetNativeClipboardFormats(TFormatEtcArray& formats) override;
    // Copy, move and link as far as the source allows: the shell's drop target chooses.
    DWORD SuggestDropEffect(TBaseLazyTree* source, TShiftState shift, POINT pt, DWORD allowedEffects) override;
    TContextMenuManager& ContextMenuManager();
    // Added to the shell's menu under ShellContextSubMenuCaption when more than one item is selected.
    TMenuItem* ShellContextSubMenu = nullptr;
    std::wstring ShellContextSubMenuCaption;

    // ---- sorting and columns (LazyExplorerColumns.cpp) ------------------------------
    TShellSortHelper& ShellSortHelper() const { return *sortHelper_; }
    // The header's columns for ColumnDetails, made once the window exists.
    void BuildColumns();
    // The folder whose items the rows are: the hidden root's item, else the root's.
    virtual TNamespace* ColumnFolder() const;
    // A row's text in a column (the main column is the name).
    std::wstring ColumnText(TColumnIndex column, TNamespace* ns);
    // The header's column menu at a screen point; the column-settings dialog.
    virtual void ShowColumnMenu(POINT screen);
    virtual void ShowColumnSettings();
    std::function<void(TCustomLazyExplorerTree*, TColumnIndex firstAvailableIndex)> OnAddCustomShellColumn;
    // ---- end of sorting and columns -------------------------------------------------

    void Loaded() override;
    bool InheritsFrom(const std::string& className) const override {
        return className == "TCustomLazyExplorerTree" || TCustomLazyStringTree::InheritsFrom(className);
    }

    // ---- events ----------------------------------------------------------------
    std::function<void(TCustomLazyExplorerTree*, TNamespace* ns, bool& allowAsChild)> OnEnumFolder;
    std::function<void(TCustomLazyExplorerTree*, PLazyNode parentNode)> OnCustomNamespace;
    std::function<void(TCustomLazyExplorerTree*)> OnRootChange;
    std::function<void(TCustomLazyExplorerTree*, TRootFolder newValue, TNamespace* currentNamespace, TNamespace* ns,
                       bool& allow)> OnRootChanging;
    std::function<void(TCustomLazyExplorerTree*)> OnRootRebuild;
    std::function<void(TCustomLazyExplorerTree*, TColumnIndex column, PLazyNode node, TNamespace* ns,
                       std::wstring& text)> OnGetLETText;
    std::function<void(TCustomLazyExplorerTree*, PLazyNode node, TNamespace* ns, TNamespaceStructureChange change)>
        OnNamespaceStructureChange;
    std::function<void(TCustomLazyExplorerTree*, TNamespace* ns, std::wstring& workingDir, std::wstring& parameters,
                       bool& allow)> OnShellExecute;
    std::function<void(TCustomLazyExplorerTree*, const TLETShellEvent& event)> OnShellNotify;
    std::function<void(TCustomLazyExplorerTree*, PLazyNode node, TMouseButton button, POINT p)> OnTreeDblClick;
    std::function<void(TCustomLazyExplorerTree*, bool& handled)> OnClipboardCopy;
    std::function<void(TCustomLazyExplorerTree*, bool& markSelectedCut, bool& handled)> OnClipboardCut;
    std::function<void(TCustomLazyExplorerTree*, bool& handled)> OnClipboardPaste;
    std::function<void(TCustomLazyExplorerTree*, TNamespace* ns, const std::wstring& verb, int menuItemID,
                       bool successful)> OnContextMenuAfterCmd;
    std::function<void(TCustomLazyExplorerTree*, TNamespace* ns, const std::wstring& verb, int menuItemID,
                       bool& handled)> OnContextMenuCmd;
    std::function<void(TCustomLazyExplorerTree*, TNamespace* ns, int menuItemID, HMENU subMenu, bool mouseSelect)>
        OnContextMenuItemChange;
    std::function<void(TCustomLazyExplorerTree*, TNamespace* ns, HMENU menu, bool& allow)> OnContextMenuShow;
    std::function<void(TCustomLazyExplorerTree*, TColumnIndex column, PLazyNode node1, PLazyNode node2,
                       int& result)> OnCustomColumnCompare;

protected:
    // ---- slots of this tree --------------------------------------------------------
    virtual void DoAddCustomShellColumn(TColumnIndex firstAvailableIndex);
    virtual bool DoClipboardCopy();
    // markSelectedCut (preset true) marks the nodes cut when the handler handled the cut.
    virtual bool DoClipboardCut(bool& markSelectedCut);
    virtual bool DoClipboardPaste();
    virtual int DoCustomColumnCompare(TColumnIndex column, PLazyNode node1, PLazyNode node2);
    virtual void DoCustomNamespace(PLazyNode parentNode);
    virtual bool DoEnumFolder(TNamespace* ns);
    virtual void DoNamespaceStructureChange(PLazyNode node, TNamespace* ns, TNamespaceStructureChange change);
    virtual void DoRootChange();
    virtual bool DoRootChanging(TRootFolder newValue, TNamespace* ns);
    virtual void DoRootRebuild();
    virtual bool DoShellExecute(TNamespace* ns, std::wstring& workingDir, std::wstring& parameters);
    virtual void DoShellNotify(const TLETShellEvent& event);
    virtual void DoTreeDblClick(PLazyNode node, TMouseButton button, POINT p);
    // ---- verbs, keys, rename, context menu (LazyExplorerVerbs.cpp, LazyExplorerContextMenu.cpp) ----
    // A command chosen from the shell's menu, before the shell runs it; true when handled here.
    bool ContextMenuCommand(TNamespace* ns, const std::wstring& verb, int menuItemID);
    virtual bool DoContextMenuCmd(TNamespace* ns, const std::wstring& verb, int menuItemID);
    virtual void DoContextMenuAfterCmd(TNamespace* ns, const std::wstring& verb, int menuItemID, bool successful);
    virtual bool DoContextMenuShow(TNamespace* ns, HMENU menu);
    virtual void DoContextMenuItemChange(TNamespace* ns, int menuItemID, HMENU subMenu, bool mouseSelect);
    void DoNewText(PLazyNode node, TColumnIndex column, const std::wstring& text) override;
    bool DoEditing(PLazyNode node, TColumnIndex column, bool allowed) override;
    bool DoEndEdit() override;
    void DoPaintText(TCanvas& canvas, PLazyNode node, TColumnIndex column, TLSTTextType textType) override;
    std::wstring DoGetNodeHint(PLazyNode node, TColumnIndex column) override;
    void HandleMouseDblClick(TMouseButton button, TShiftState shift, POINT p, THitTestResult& hitInfo) override;
    // Only items, never the desktop, with toDragDrop and toAcceptOLEDrop; never in a read-only tree.
    bool DoDragAllowed(PLazyNode node, TColumnIndex column) override;
    // A TLETDataObject over the shell's data object of the selected items.
    ComPtr<IDataObject> DoCreateDataObject() override;
    // The drag is handed to the drop target of the item under the point (its
    // answer presets accept and effect for OnDragOver); never in a read-only
    // tree, never onto a dragged item or below one.
    bool DoDragOver(TObject* source, TShiftState shift, TDragState state, POINT pt, TDropMode mode,
                    DWORD& effect) override;
    // The drop goes to that drop target, then to OnDragDrop with the effect it answered.
    void DoDragDrop(TObject* source, IDataObject* dataObject, const TFormatArray& formats, TShiftState shift,
                    POINT pt, DWORD& effect, TDropMode mode) override;
    // The shell's drop target of an item; nil when the item takes no drops.
    virtual ComPtr<IDropTarget> ItemDropTarget(TNamespace* ns);
    // The window messages of the verbs; false for the others.
    bool HandleVerbMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // Edits the node's name: column 0 when the header has columns, else the tree's text.
    bool EditNodeName(PLazyNode node);
    // Runs the shell's "properties" of the selection.
    bool ShowSelectionProperties();
    virtual void InitDefaultOptions();
    // The one place the selection commands reach the shell.
    virtual bool InvokeShellVerb(TShellVerb verb, TNamespace* target, const TNamespaceArray& items);

    // ---- the base tree's slots --------------------------------------------------------
    void DoInitNode(PLazyNode parent, PLazyNode node, TLazyNodeInitStates& initialStates) override;
    void DoInitChildren(PLazyNode node, unsigned& childCount) override;
    bool DoExpanding(PLazyNode node) override;
    bool DoCollapsing(PLazyNode node) override;
    void DoCollapsed(PLazyNode node) override;
    void DoChecked(PLazyNode node) override;
    void DoFreeNode(PLazyNode node) override;
    void DoGetImageIndex(PLazyNode node, TLTImageKind kind, TColumnIndex column, bool& ghosted, int& index) override;
    void DoGetText(PLazyNode node, TColumnIndex column, TLSTTextType textType, std::wstring& text) override;
    int DoCompareNodes(PLazyNode node1, PLazyNode node2, TColumnIndex column) override;
    void DoUpdating(TLTUpdateState state) override;
    void HandleKeyDown(WORD& charCode, TShiftState shift) override;
    void HandleMouseDown(TMouseButton button, TShiftState shift, POINT p, THitTestResult& hitInfo) override;
    TOptionsClass GetOptionsClass() const override;
    // ---- sorting and columns (LazyExplorerColumns.cpp) ------------------------------
    THeaderClass GetHeaderClass() const override;
    TColumnClass GetColumnClass() const override;
    void DoHeaderClick(TColumnIndex column, TMouseButton button, TShiftState shift, int x, int y) override;
    void DoHeaderMouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
    void DoColumnResize(TColumnIndex column) override;
    void DoHeaderDragged(TColumnIndex column, TColumnPosition oldPosition) override;
    bool Browsing() const { return browsing_; }
    // ---- end of sorting and columns -------------------------------------------------
    void CreateHandleDone() override;
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

    // The folder of an absolute list for the order check of a big folder's
    // children. Called on the check's own thread: it must not touch the tree.
    virtual ComPtr<IShellFolder> BindChildOrderFolder(LPCITEMIDLIST folderPIDL);
    // The folder-expansion gate: false for a drive that does not answer (no medium).
    virtual bool CanExpandFolder(PLazyNode node);
    // Whether the drive of a root such as "C:\" answers a free-space query.
    virtual bool DriveHasMedium(wchar_t driveLetter);
    // The has-children test of a node's item.
    bool HasChildrenTest(TNamespace* ns, PLazyNode parent);
    DWORD EnumFlags() const;
    void ThreadedImagesOn(bool on);
    void ChangeNotifierOn(bool on);
    // ---- shell change notifications (LazyExplorerNotify.cpp) ----------------------------
    // A batch from the change notifier: every event to OnShellNotify, then the
    // changed folders re-read. Releases the window's reference of the list.
    virtual void HandleShellNotify(TLazyShellEventList* list);
    // Re-reads the node of an absolute folder list when the tree has one
    // (later, at the next mouse move, while the tree is busy).
    void ShellFolderChanged(LPCITEMIDLIST folder);
    // True while a re-read must wait: inside an update, an edit, a shown
    // context menu or a hidden window.
    bool ShellRefreshBusy();
    // After a file-association change: the shell builds its icon list anew
    // and the tree is refreshed (at the next mouse move while busy).
    void RebuildSystemIconList();
    // Tells the system the icon size changed and re-initialises the shell's icon cache.
    virtual void ReinitShellIconCache();
    void RunDeferredShellRefresh();
    // Reacts to option changes; the option sets call these.
    void ImagesChanged();
    bool Constructing() const { return constructing_; }
    bool IsLoading() const { return (ComponentState() & csLoading) != 0; }
    bool IsDesigning() const { return (ComponentState() & csDesigning) != 0; }
    // The read-only option also forbids renaming.
    bool CanEdit(PLazyNode node, TColumnIndex column) override;
    // A column of the application's own beside the names: any but the main
    // one without detail columns, a cdCustom one among the tree's own, one
    // past the shell's columns.
    bool IsCustomColumn(TColumnIndex column);
    // How long the end of an edit waits for the change notifier's report of a rename.
    static constexpr DWORD ShellNotifyWaitMs = 100;
    // While held, option setters change values without rebuilding.
    int rebuildLock_ = 0;

private:
    bool EnumFolderCallback(LPITEMIDLIST childPIDL, TNamespace* parent, std::vector<TNamespace*>& accepted);
    // The options' filter, then OnEnumFolder: whether an enumerated item gets a node.
    bool AcceptEnumerated(TNamespace* ns);
    // Re-points the children's items at the top node's new item before its old one goes.
    void MoveChildrenTo(PLazyNode node, TNamespace* fresh);
    void AddEnumerated(PLazyNode node, const std::vector<TNamespace*>& items);
    bool ChildrenInOrder(PLazyNode node);
    // A started worker that checks the order of folder's children as they are enumerated; nil when none.
    std::unique_ptr<TChildOrderThread> StartChildOrderThread(TNamespace* folder);
    bool ChildrenAreExactly(PLazyNode node, const std::vector<TNamespace*>& items);
    // Whether the children's order is the one their folder's column-0
    // comparison gives (the sort column and options as DoCompareNodes reads
    // them); without a child, as far as can be told before there is one.
    bool SortsByShellName(PLazyNode child);
    void AddMyDocuments(PLazyNode node);
    void FreeNodeData(PLazyNode node);
    void ClearAll();
    void DropPendingIcons();
    // Drops the node's icon request, queued or waiting for a paint, before
    // its item goes: the request names the item.
    void DropIconRequest(PLazyNode node);
    void IconAnswer(TImageThreadRequest* request);
    // Icon requests made while the rows are painted, or while a paint is
    // due, go to the icon thread when that paint is done: its shell calls
    // would compete with the names and the frame the paint draws, and the
    // first paint would wait longer.
    void Paint() override;
    bool PaintDue() const;
    void RequestIcon(PLazyNode node, TNamespace* ns, bool large);
    void QueueIcon(PLazyNode node, TNamespace* ns, bool large);
    void SubmitDeferredIcons();
    bool FolderOption(TLETFolderOption o) { return TreeOptions().LETFolderOptions().Contains(o); }
    bool ImageOption(TLETImageOption o) { return TreeOptions().LETImageOptions().Contains(o); }
    bool LETMiscOption(TLETMiscOption o) { return TreeOptions().LETMiscOptions().Contains(o); }
    void MarkAncestorsMixed(PLazyNode node);
    // The node's check from the storage, as its initialisation takes it;
    // with reset a node without a record is unchecked, else it keeps its state.
    void LoadCheck(PLazyNode parent, PLazyNode node, bool reset);
    PLazyNode AddItemNode(PLazyNode parent, TNamespace* ns, bool setCheckType, TCheckType checkType);
    // After node's item was renamed from before: the stored records and the
    // items of the nodes below follow it to its new list.
    void ItemRenamed(PLazyNode node, LPCITEMIDLIST before);
    // Offers ns as the new root for value; answers whether it was taken.
    bool ChangeRoot(TRootFolder value, std::unique_ptr<TNamespace>& pending);
    // Browses with the mapping of LETSyncOptions.
    bool BrowseToSyncTarget(LPCITEMIDLIST pidl);

    unsigned dataOffset_ = 0;
    bool constructing_ = true;
    bool active_ = false;
    bool built_ = false;
    bool browsing_ = false;
    bool syncing_ = false;
    bool buttonPressed_ = false;
    bool threadedImagesRegistered_ = false;
    bool changeNotifierRegistered_ = false;
    bool showWaitCursor_ = true;
    // Inside a node's freeing or an item's replacement: icon answers store
    // their index and invalidate their rows, painting none.
    int freeing_ = 0;
    int waitCursorCount_ = 0;
    TRootFolder rootFolder_ = rfDesktop;
    std::unique_ptr<TNamespace> rootNamespace_;
    std::wstring customPath_;
    LPITEMIDLIST customPIDL_ = nullptr;
    TFileObjects fileObjects_{foFolders};
    TFileSort fileSort_ = fsFileType;
    TFileSizeFormat fileSizeFormat_ = fsfExplorer;
    TColumnDetails columnDetails_ = cdUser;
    std::unique_ptr<TLETPersistent> persistent_;
    std::unique_ptr<TViewManager> viewManager_;
    std::unique_ptr<ILETCheckStorage> storage_;
    ComPtr<IMalloc> malloc_;
    std::unique_ptr<TImageList> smallImages_, largeImages_;
    int unknownFolderIcon_ = 0, unknownFileIcon_ = 0;
    // Nodes with an icon request out; an answer for any other node is stale.
    std::unordered_set<PLazyNode> iconPending_;
    // Nodes added by AddCustomNode: their items need not be their folder's own.
    std::unordered_set<PLazyNode> customNodes_;
    // The child of parent whose item is id (one identifier), as a walk looks for it.
    PLazyNode FindChildByID(PLazyNode parent, LPCITEMIDLIST id);
    // The children of big folders by their identifier's bytes, made on a
    // walk's first look into the folder, so that walks to thousands of items
    // of one folder do not compare each with every sibling. Any freed node
    // voids them all (a freed address may come back as another node).
    std::unordered_map<PLazyNode, std::unordered_map<std::string, PLazyNode>> childIndex_;
    uint64_t nodesFreed_ = 0, indexedAtFreed_ = 0;
    struct TDeferredIcon {
        PLazyNode Node;
        TNamespace* Namespace;
        bool Large;
    };
    std::vector<TDeferredIcon> deferredIcons_;
    bool deferIcons_ = false;

    // ---- verbs, keys, rename, context menu ----
    bool ContextMenuMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void RenameFailed(LPITEMIDLIST pidl);
    TLETColors letColors_{this};
    std::unique_ptr<TContextMenuManager> contextMenuManager_;
    // The items of refused renames posted and not yet handled; the message
    // carries the list, never the node, which a rebuild may have freed.
    std::vector<PIDLPtr> failedRenames_;
    bool altDown_ = false;
    // ---- drag and drop through the shell ----
    // Whether the node's item is one of the items a tree of this process drags, or lies below one.
    bool DropOntoDraggedItem(TObject* source, PLazyNode node);
    // Drags over the drop target of node's item, first leaving the old target
    // and entering the new one when the node changed; true when it takes the drag.
    bool DragOverItem(TObject* source, PLazyNode node, DWORD keys, POINTL pt, DWORD& effect);
    void LeaveItemDropTarget();
    // The shell's data object of the items of the drag being started, held while its data object lives.
    ComPtr<IDataObject> shellDataObject_;
    // The drop target the drag is now over and the node it belongs to (cleared when that node is freed).
    ComPtr<IDropTarget> itemDropTarget_;
    PLazyNode itemDropNode_ = nullptr;
    bool dropPending_ = false;
    // ---- sorting and columns (LazyExplorerColumns.cpp) ------------------------------
    std::unique_ptr<TShellSortHelper> sortHelper_ = std::make_unique<TShellSortHelper>();
    // While the columns are built their changes are not stored.
    bool buildingColumns_ = false;
    // The columns the shell gave (the rest were added by OnAddCustomShellColumn).
    TColumnIndex shellColumnCount_ = 0;
    int CompareShellColumn(TColumnIndex column, PLazyNode node1, PLazyNode node2, TNamespace* ns1, TNamespace* ns2);
    TLETColumnDetails ColumnKind(TColumnIndex column);
    void BuildLETColumns();
    void BuildShellColumns();
    bool PersistentColumns();
    // ---- end of sorting and columns -------------------------------------------------
    // Folders whose change came while the tree was busy.
    std::vector<PIDLPtr> deferredShellFolders_;
    bool iconListRebuildPending_ = false;
};

// The published folder tree and list view; each follows the other through
// change links (LazyExplorerListview.cpp).
// The hourglass of a tree for a scope, however the scope ends.
class TWaitCursorScope {
public:
    explicit TWaitCursorScope(TCustomLazyExplorerTree& tree) : tree_(tree) { tree_.WaitCursor(true); }
    ~TWaitCursorScope() { tree_.WaitCursor(false); }
    TWaitCursorScope(const TWaitCursorScope&) = delete;
    TWaitCursorScope& operator=(const TWaitCursorScope&) = delete;
private:
    TCustomLazyExplorerTree& tree_;
};

class TLazyExplorerViews : public TCustomLazyExplorerTree {
public:
    using TCustomLazyExplorerTree::TCustomLazyExplorerTree;
    ~TLazyExplorerViews() override;
    bool InheritsFrom(const std::string& className) const override {
        return className == "TLazyExplorerViews" || TCustomLazyExplorerTree::InheritsFrom(className);
    }
    // Tells the linked controls the item of the first selected (else the focused)
    // node; asked during an update or a browse, it is done when that ends.
    void SyncLinkedControls() override;
    bool BrowseToPIDL(LPCITEMIDLIST pidl, bool expand, bool select, bool setFocus, bool collapseFirst,
                      bool walkExpand) override;

protected:
    void DoChange(PLazyNode node) override;
    // Drops the old partner's links and links this view and other both ways.
    void LinkView(TLazyExplorerViews* other);
    TLazyExplorerViews* LinkedView() const { return linkedView_; }
    // While above 0 (a browse of our own) the linked controls are not told.
    int syncSuppressed_ = 0;
    bool syncPending_ = false;

private:
    TLazyExplorerViews* linkedView_ = nullptr;
};

// The folder tree of a window (folders and hidden items, check boxes allowed).
class TLazyExplorerTreeview : public TLazyExplorerViews {
public:
    explicit TLazyExplorerTreeview(TComponent* owner = nullptr);
    bool InheritsFrom(const std::string& className) const override {
        return className == "TLazyExplorerTreeview" || TLazyExplorerViews::InheritsFrom(className);
    }
    TLazyExplorerListview* LazyExplorerListview() const;
    void SetLazyExplorerListview(TLazyExplorerListview* value);
protected:
    void InitDefaultOptions() override;
};

class TLazyExplorerTree : public TCustomLazyExplorerTree {
public:
    explicit TLazyExplorerTree(TComponent* owner = nullptr);
    bool InheritsFrom(const std::string& className) const override {
        return className == "TLazyExplorerTree" || TCustomLazyExplorerTree::InheritsFrom(className);
    }
};

} // namespace krv
