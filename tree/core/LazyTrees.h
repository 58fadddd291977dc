// The lazy tree control: a tree and list whose nodes carry no content of their
// own. Text, images and children are asked for through events and overridable
// Do... operations when first needed. The node structure keeps, per node, the
// size and pixel height of its subtree so that positions and counts are known
// without walking the whole tree; a shared worker thread builds a position
// cache for trees with many visible rows.
#pragma once
#include "framework/Controls.h"
#include "framework/Drag.h"
#include "framework/Menus.h"
#include "framework/Stream.h"
#include "framework/UpdateScope.h"
#include "tree/core/LazyTreeTypes.h"
#include "tree/core/LazyTreeProperties.h"
#include "tree/header/LazyTreeHeader.h"
#include "tree/transfer/LazyTreeDataObject.h"
#include "tree/transfer/LazyTreeDragManager.h"
#include "tree/paint/LazyTreeDrawing.h"
#include "tree/core/LazyTreeNodePool.h"
#include "framework/ComCtrls.h"
#include "framework/HintWindow.h"
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace krv {

class TBaseLazyTree;

// The option sets of a tree; each setter stores the set and, when it really
// changed, applies what changes with it (repaint, new window, drop target).
class TCustomLazyTreeOptions {
public:
    explicit TCustomLazyTreeOptions(TBaseLazyTree* owner) : owner_(owner) {}
    virtual ~TCustomLazyTreeOptions() = default;
    TLTPaintOptions PaintOptions() const { return paint_; }
    TLTAnimationOptions AnimationOptions() const { return animation_; }
    TLTAutoOptions AutoOptions() const { return auto_; }
    TLTSelectionOptions SelectionOptions() const { return selection_; }
    TLTMiscOptions MiscOptions() const { return misc_; }
    void SetPaintOptions(TLTPaintOptions v);
    void SetAnimationOptions(TLTAnimationOptions v) { animation_ = v; }
    virtual void SetAutoOptions(TLTAutoOptions v);
    virtual void SetSelectionOptions(TLTSelectionOptions v);
    void SetMiscOptions(TLTMiscOptions v);
    // Copies the five sets through dest's setters, so their effects run on dest's tree.
    virtual void AssignTo(TCustomLazyTreeOptions& dest) const;
    TBaseLazyTree* Owner() const { return owner_; }
protected:
    TBaseLazyTree* owner_;
private:
    TLTPaintOptions paint_ = DefaultPaintOptions;
    TLTAnimationOptions animation_;
    TLTAutoOptions auto_ = DefaultAutoOptions;
    TLTSelectionOptions selection_;
    TLTMiscOptions misc_ = DefaultMiscOptions;
};
using TOptionsClass = std::unique_ptr<TCustomLazyTreeOptions> (*)(TBaseLazyTree* owner);

// The in-place editor's side of an edit.
class ILTEditLink {
public:
    virtual ~ILTEditLink() = default;
    virtual bool StartEditing() = 0;
    virtual bool CancelEditing() = 0;
    virtual bool FinishEditing() = 0;
    virtual bool PrepareEditing(TBaseLazyTree* tree, PLazyNode node, TColumnIndex column) = 0;
    virtual RECT GetEditorBounds() = 0;
    virtual void ForwardMessage(UINT msg, WPARAM wParam, LPARAM lParam) = 0;
    virtual void SetEditorBounds(RECT r) = 0;
};
using PLTEditLink = std::shared_ptr<ILTEditLink>;
using THeaderClass = std::unique_ptr<TLTHeader> (*)(TBaseLazyTree* owner);

// What painting hands the paint operations for one cell.
enum TLTImageInfoIndex { iiNormal, iiState, iiCheck };
struct TLTImageInfo {
    int Index = -1;
    int XPos = 0, YPos = 0;
    bool Ghosted = false;
    TImageList* Images = nullptr;
};
struct TLTPaintInfo {
    TCanvas* Canvas = nullptr;
    unsigned PaintOptions = 0;
    PLazyNode Node = nullptr;
    TColumnIndex Column = ColumnNone;
    RECT CellRect{};
    RECT ContentRect{};
    int NodeWidth = 0;
    TAlignment Alignment = taLeftJustify;
    TBiDiMode BidiMode = bdLeftToRight;
    TLTImageInfo ImageInfo[3];
};

// One position cache entry: a visible node and the pixel top of its row.
struct TCacheEntry {
    PLazyNode Node;
    uint32_t AbsoluteTop;
};

// What lies under a point of the tree window.
enum : uint16_t {
    hpAbove = 0x0001, hpBelow = 0x0002, hpNowhere = 0x0004, hpOnItem = 0x0008, hpOnItemButton = 0x0010,
    hpOnItemCheckbox = 0x0020, hpOnItemIndent = 0x0040, hpOnItemLabel = 0x0080, hpOnItemLeft = 0x0100,
    hpOnItemRight = 0x0200, hpOnNormalIcon = 0x0400, hpOnStateIcon = 0x0800, hpToLeft = 0x1000,
    hpToRight = 0x2000
};
struct THitTestResult {
    PLazyNode Node = nullptr;
    uint16_t Positions = 0;
    TColumnIndex Column = ColumnNone;
};
// Directions of auto scrolling (AutoScrollDirections).
enum : uint8_t { sdLeftDir = 1, sdUpDir = 2, sdRightDir = 4, sdDownDir = 8 };

using TNodeArray = std::vector<PLazyNode>;

class TLTDragImage;
// What the tree's image of a drag shows.
enum TLTDragImageKind { diComplete, diMainColumnOnly, diNoImage };
// The effects a drag started in the tree allows (none: all three).
enum TDragOperation : unsigned { doCopy = 1, doMove = 2, doLink = 4 };
// The kind of a drag-over call: entering, leaving, moving over the tree.
enum TDragState { dsDragEnter, dsDragLeave, dsDragMove };
// The clipboard formats a drop offers, in the data object's order.
using TFormatArray = std::vector<CLIPFORMAT>;

// What the tree hands its hint window with a hint.
struct TLazyTreeHintData {
    TBaseLazyTree* Tree = nullptr;
    PLazyNode Node = nullptr;
    TColumnIndex Column = ColumnNone;
    RECT HintRect{};
    std::wstring DefaultHint;
    std::wstring HintText;
    TBiDiMode BidiMode = bdLeftToRight;
    TAlignment Alignment = taLeftJustify;
    int TextHeight = 0;
};
using TLTGetNodeProc = std::function<void(TBaseLazyTree* sender, PLazyNode node, void* data, bool& abort)>;

// One of the tree's cursors ("LT_MOVEN" ... "LT_MOVEALL", "LT_HEADERSPLIT").
HCURSOR LoadTreeCursor(const char* name);

class TBaseLazyTree : public TCustomControl {
    friend class TWorkerThread;
    friend class TCustomLazyTreeOptions;
    friend class TStringEditLink;
    friend class TLTHeader;
    friend class TLazyTreeHintWindow;
    friend class TLazyTreeColumns;
    friend class TLazyTreeColumn;
    friend class TLTDataObject;
    friend class TLTDragManager;
public:
    explicit TBaseLazyTree(TComponent* owner = nullptr);
    ~TBaseLazyTree() override;

    // ---- node model ---------------------------------------------------
    PLazyNode RootNode() const { return root_; }
    void* GetNodeData(PLazyNode node) const;
    PLazyNode AddChild(PLazyNode parent, void* userData = nullptr);
    unsigned RootNodeCount() const { return root_->ChildCount; }
    void SetRootNodeCount(unsigned value);
    unsigned ChildCount(PLazyNode node) const { return node ? node->ChildCount : root_->ChildCount; }
    void SetChildCount(PLazyNode node, unsigned newChildCount);
    bool HasChildren(PLazyNode node) const;
    void SetHasChildren(PLazyNode node, bool value);
    bool Expanded(PLazyNode node) const { return node && (node->States & vsExpanded); }
    void SetExpanded(PLazyNode node, bool value);
    unsigned NodeHeight(PLazyNode node);
    void SetNodeHeight(PLazyNode node, unsigned value);
    bool IsVisible(PLazyNode node) const { return node && (node->States & vsVisible); }
    void SetIsVisible(PLazyNode node, bool value);
    bool Selected(PLazyNode node) const { return node && (node->States & vsSelected); }
    void SetSelected(PLazyNode node, bool value);
    bool IsDisabled(PLazyNode node) const { return node && (node->States & vsDisabled); }
    void SetDisabled(PLazyNode node, bool value);
    TCheckState CheckState(PLazyNode node) const { return static_cast<TCheckState>(node->CheckState); }
    void SetCheckState(PLazyNode node, TCheckState value);
    TCheckType CheckType(PLazyNode node) const { return static_cast<TCheckType>(node->CheckType); }
    void SetCheckType(PLazyNode node, TCheckType value);
    void DeleteNode(PLazyNode node, bool reindex = true);
    void DeleteChildren(PLazyNode node, bool resetHasChildren = false);
    void DeleteSelectedNodes();
    void Clear();
    virtual void ReinitNode(PLazyNode node, bool recursive);
    void ReinitChildren(PLazyNode node, bool recursive);
    void ResetNode(PLazyNode node);
    void ToggleNode(PLazyNode node);
    void FullExpand(PLazyNode node = nullptr);
    void FullCollapse(PLazyNode node = nullptr);
    void MoveTo(PLazyNode source, PLazyNode target, TLTNodeAttachMode mode, bool childrenOnly);
    unsigned VisibleCount() const { return visibleCount_; }
    unsigned TotalCount() const { return root_->TotalCount - 1; }
    int DefaultNodeHeight() const { return defaultNodeHeight_; }
    void SetDefaultNodeHeight(int value);
    int NodeDataSize() const { return nodeDataSize_; }
    void SetNodeDataSize(int value);
    unsigned Indent() const { return indent_; }
    void SetIndent(unsigned value);
    // Non-zero turns the toggle animation on, 0 off.
    unsigned AnimationDuration() const { return animationDuration_; }
    void SetAnimationDuration(unsigned value);
    unsigned ChangeDelay = 0;
    // The tree owning a node (through the root's parent link).
    static TBaseLazyTree* TreeFromNode(PLazyNode node);
    // Whether node names a live node of this tree (not the root); reads
    // nothing behind the pointer, so any value may be asked about.
    bool IsLiveNode(PLazyNode node) const { return nodePool_.IsLive(node); }
    // The memory of this tree's nodes (the root aside).
    const TLazyNodePool& NodeMemory() const { return nodePool_; }

    // ---- update batching, iteration, navigation ------------------------
    void BeginUpdate();
    void EndUpdate();
    unsigned UpdateCount() const { return updateCount_; }
    PLazyNode IterateSubtree(PLazyNode node, const TLTGetNodeProc& callback, void* data,
                             TLazyNodeStates filter = 0, bool doInit = false, bool childNodesOnly = false);

    PLazyNode GetFirst();
    PLazyNode GetFirstNoInit() const;
    PLazyNode GetFirstChild(PLazyNode node);
    PLazyNode GetFirstVisible();
    PLazyNode GetFirstVisibleNoInit() const;
    PLazyNode GetFirstVisibleChild(PLazyNode node);
    PLazyNode GetFirstCutCopy();
    PLazyNode GetFirstInitialized();
    PLazyNode GetFirstSelected();
    PLazyNode GetNext(PLazyNode node);
    PLazyNode GetNextNoInit(PLazyNode node) const;
    PLazyNode GetNextInitialized(PLazyNode node);
    PLazyNode GetNextVisible(PLazyNode node);
    PLazyNode GetNextVisibleNoInit(PLazyNode node) const;
    PLazyNode GetNextVisibleSibling(PLazyNode node);
    PLazyNode GetNextSibling(PLazyNode node);
    PLazyNode GetNextCutCopy(PLazyNode node);
    PLazyNode GetNextSelected(PLazyNode node);
    PLazyNode GetPrevious(PLazyNode node);
    PLazyNode GetPreviousNoInit(PLazyNode node) const;
    PLazyNode GetPreviousVisible(PLazyNode node);
    PLazyNode GetPreviousVisibleNoInit(PLazyNode node) const;
    PLazyNode GetPreviousSibling(PLazyNode node);
    PLazyNode GetPreviousVisibleSibling(PLazyNode node);
    PLazyNode GetPreviousVisibleSiblingNoInit(PLazyNode node) const;
    PLazyNode GetLastChild(PLazyNode node);
    PLazyNode GetLastChildNoInit(PLazyNode node) const;
    PLazyNode GetLast(PLazyNode node = nullptr);
    PLazyNode GetLastNoInit(PLazyNode node = nullptr) const;
    PLazyNode GetLastVisibleChild(PLazyNode node);
    PLazyNode GetLastVisible(PLazyNode node = nullptr);
    PLazyNode GetLastVisibleChildNoInit(PLazyNode node) const;
    PLazyNode GetLastVisibleNoInit(PLazyNode node = nullptr) const;
    PLazyNode GetVisibleParent(PLazyNode node) const;
    PLazyNode GetTopNode();
    PLazyNode GetNodeAt(int x, int y, bool relative, int& nodeTop);
    PLazyNode GetNodeAtXY(int x, int y);
    // Absolute pixel top of a node's row (-1 when it is not shown).
    int GetNodeTop(PLazyNode node);
    bool HasAsParent(PLazyNode node, PLazyNode potentialParent) const;
    unsigned GetNodeLevel(PLazyNode node) const;
    bool IsEffectivelyVisible(PLazyNode node) const;
    bool FullyVisible(PLazyNode node) const;
    bool ScrollIntoView(PLazyNode node, bool center, bool horizontally = false);
    int OffsetY() const { return offsetY_; }
    int OffsetX() const { return offsetX_; }
    void SetOffsetY(int value);
    void SetOffsetX(int value);
    // Expands the node's collapsed ancestors and scrolls its row to the top.
    void SetTopNode(PLazyNode node);
    virtual void InvalidateNode(PLazyNode node);
    void InvalidateToBottom(PLazyNode node);
    bool IsEditing() const { return states_.Contains(tsEditing); }
    // Whether the window has the focus, read once per paint: every cell
    // asks, and each question is a round trip to the window server.
    bool PaintingFocused() const { return paintFocused_ >= 0 ? paintFocused_ != 0 : Focused(); }
    bool IsMouseSelecting() const { return states_.Contains(tsDrawSelPending) || states_.Contains(tsDrawSelecting); }

    // ---- selection and focus --------------------------------------------
    void AddToSelection(PLazyNode node);
    void AddToSelection(const TNodeArray& nodes, bool forceInsert = false);
    void RemoveFromSelection(PLazyNode node);
    void ClearSelection();
    TNodeArray GetSortedSelection(bool resolve);
    TNodeArray GetSortedCutCopySet(bool resolve);
    void InvertSelection(bool visibleOnly);
    void SelectAll(bool visibleOnly);
    unsigned SelectedCount() const { return selectionCount_; }
    PLazyNode FocusedNode() const { return focusedNode_; }
    void SetFocusedNode(PLazyNode node);
    TColumnIndex FocusedColumn() const { return focusedColumn_; }
    void SetFocusedColumn(TColumnIndex column);
    PLazyNode RangeAnchor() const { return rangeAnchor_; }

    // ---- check boxes, sorting, streams (their own files) -----------------
    // The state a click or the space key gives a box of this type (a descendant may cycle otherwise).
    virtual TCheckState DetermineNextCheckState(TCheckType checkType, TCheckState checkState);
    // Space key and mouse: press shows the box held down; release applies it.
    bool BeginPendingCheck(PLazyNode node, bool byMouse);
    void EndPendingCheck(bool apply);
    PLazyNode PendingCheckNode() const { return checkNode_; }
    void Sort(PLazyNode node, TColumnIndex column, TSortDirection direction, bool doInit = true);
    void SortTree(TColumnIndex column, TSortDirection direction, bool doInit = true);
    virtual void SaveToStream(TStream& stream, PLazyNode node = nullptr);
    virtual void LoadFromStream(TStream& stream);
    void LoadFromFile(const std::string& fileName);

    // ---- the position cache (worker thread) -----------------------------
    void ValidateCache();
    void InvalidateCache();
    void InterruptValidation();
    const std::vector<TCacheEntry>& PositionCache() const { return positionCache_; }
    PLazyNode FindInPositionCache(uint32_t position, uint32_t& top) const;
    PLazyNode FindInPositionCache(PLazyNode node, uint32_t& top) const;
    static int CompareNodePositions(PLazyNode node1, PLazyNode node2);

    // ---- states, options, header, editing --------------------------------
    TLazyTreeStates TreeStates() const { return states_; }
    TCustomLazyTreeOptions& TreeOptions() { return *options_; }
    void SetTreeOptions(const TCustomLazyTreeOptions& value) { value.AssignTo(*options_); }

    // ---- painting (LazyTreePaint.cpp) --------------------------------------
    // Flags of a PaintTree call.
    enum : unsigned {
        poBackground = 0x01, poColumnColor = 0x02, poDrawFocusRect = 0x04, poDrawSelection = 0x08,
        poDrawDropMark = 0x10, poGridLines = 0x20, poMainOnly = 0x40, poSelectedOnly = 0x80, poAll = 0x3F
    };
    enum TPixelFormat { pfDevice, pf32bit };
    // Draws the part Window (tree coordinates) of the tree at Target on the
    // canvas. Rows are drawn in 32 bits whatever the format: blending needs it.
    void PaintTree(TCanvas& target, RECT window, POINT targetPoint, unsigned paintOptions,
                   TPixelFormat pixelFormat = pfDevice);
    // A cell's rectangle in client coordinates (empty when the node is not shown).
    RECT GetDisplayRect(PLazyNode node, TColumnIndex column, bool textOnly, bool unclipped = false);
    int GetMaxColumnWidth(TColumnIndex column);
    RECT GetTreeRect();
    void InvalidateColumn(TColumnIndex column);
    void RepaintNode(PLazyNode node);
    int HorizontalRange() const { return rangeX_; }
    void SetHorizontalRange(int value);

    // ---- published properties (LazyTreeProperties.cpp) --------------------------
    TLTColors& Colors() { return colors_; }
    void SetColors(const TLTColors& value) { colors_.Assign(value); }
    TScrollBarOptions& ScrollBarOptions() { return scrollBarOptions_; }
    void SetScrollBarOptions(const TScrollBarOptions& value) { scrollBarOptions_.Assign(value); }
    TClipboardFormats& ClipboardFormats() { return clipboardFormats_; }
    void SetClipboardFormats(const TStringList& value) { clipboardFormats_.Assign(value); }
    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment value);
    TBiDiMode BiDiMode() const { return bidiMode_; }
    void SetBiDiMode(TBiDiMode value);
    void SetColor(TColor color) override;
    HBITMAP Background() const { return background_.get(); }
    void SetBackground(HBITMAP picture);
    int BackgroundOffsetX() const { return backgroundOffsetX_; }
    void SetBackgroundOffsetX(int value);
    int BackgroundOffsetY() const { return backgroundOffsetY_; }
    void SetBackgroundOffsetY(int value);
    TBorderStyle BorderStyle() const { return borderStyle_; }
    void SetBorderStyle(TBorderStyle value);
    // With a single border: a sunken client edge (true) or a plain line.
    bool Ctl3D() const { return ctl3D_; }
    void SetCtl3D(bool value);
    // Only inside a form: a tree without one has nowhere to keep the focus.
    bool CanFocus() const override;
    TLTButtonFillMode ButtonFillMode() const { return buttonFillMode_; }
    void SetButtonFillMode(TLTButtonFillMode value);
    TLTButtonStyle ButtonStyle() const { return buttonStyle_; }
    void SetButtonStyle(TLTButtonStyle value);
    TCheckImageKind CheckImageKind() const { return checkImageKind_; }
    void SetCheckImageKind(TCheckImageKind value);
    TImageList* CustomCheckImages() const { return customCheckImages_; }
    void SetCustomCheckImages(TImageList* value);
    // The list the check images come from now (none without check support).
    TImageList* CheckImages() const;
    TImageList* Images() const { return images_; }
    void SetImages(TImageList* value);
    TImageList* StateImages() const { return stateImages_; }
    void SetStateImages(TImageList* value);
    TLTIncrementalSearch IncrementalSearch() const { return incrementalSearch_; }
    void SetIncrementalSearch(TLTIncrementalSearch value);
    const std::wstring& SearchBuffer() const { return searchBuffer_; }
    TLTLineMode LineMode() const { return lineMode_; }
    void SetLineMode(TLTLineMode value);
    TLTLineStyle LineStyle() const { return lineStyle_; }
    void SetLineStyle(TLTLineStyle value);
    int Margin() const { return margin_; }
    void SetMargin(int value);
    int TextMargin() const { return textMargin_; }
    void SetTextMargin(int value);
    int SelectionCurveRadius() const { return selectionCurveRadius_; }
    void SetSelectionCurveRadius(int value);
    int SelectionBlendFactor = 128;
    TLTNodeAlignment NodeAlignment() const { return nodeAlignment_; }
    void SetNodeAlignment(TLTNodeAlignment value);
    TDropMode LastDropMode() const { return lastDropMode_; }
    PLazyNode DropTargetNode() const { return dropTargetNode_; }
    PLazyNode HotNode() const { return hotNode_; }
    // Repaints the whole client area when there is a window and no form is being read.
    void RepaintTree();
    // The window made again (its class or styles change); nothing without one.
    void RecreateTreeWindow();
    // Which tree classes this object is (the clipboard formats are offered per class).
    virtual bool InheritsFrom(const std::string& className) const { return className == "TBaseLazyTree"; }
    // Reads options stored as the old single set ("voShowRoot", "voMultiSelect", ...).
    void ReadOldOptions(const std::vector<std::string>& names);
    void Notification(TComponent* component, TOperation operation) override;
    // Rebuilds the node buttons and the line brush (colours or styles changed).
    void PrepareBitmaps(bool buttons, bool lines);
    TLTHeader& Header() { return *header_; }
    bool EndEditNode();
    virtual bool CancelEditNode();
    // Focuses the node and starts its editor; answers whether editing runs.
    bool EditNode(PLazyNode node, TColumnIndex column);
    // Deepest nesting a loaded stream may have.
    static constexpr int MaxStreamDepth = 10000;

    // ---- hit test, mouse, keys, scrolling (LazyTreeHitTest.cpp, LazyTreeMouse.cpp, LazyTreeKeys.cpp)
    // What lies at (x, y); relative: client coordinates, else tree coordinates.
    void GetHitTestInfoAt(int x, int y, bool relative, THitTestResult& hitInfo);
    int GetImageIndexOf(PLazyNode node, TLTImageKind kind, TColumnIndex column, bool& ghosted);
    // The widest content of the rows now shown (the horizontal range without columns).
    int WidestVisibleExtent();
    int VerticalRange() const { return int(root_->TotalHeight) - root_->NodeHeight; }
    uint8_t AutoScrollDirections() const { return autoScrollDirections_; }
    unsigned AutoScrollDelay = 1000;
    unsigned AutoScrollInterval = 1;
    unsigned AutoExpandDelay = 1000;
    unsigned EditDelay = 1000;
    unsigned IncrementalSearchTimeout = 1000;
    TLTSearchDirection IncrementalSearchDirection = sdForward;
    TLTSearchStart IncrementalSearchStart = ssFocusedNode;
    // Selects the visible nodes from anchor to target (all others dropped unless addOnly).
    void AddToSelectionRange(PLazyNode anchor, PLazyNode target, bool addOnly);
    void IncrementalSearchChar(WORD charCode);
    void StartWheelPanning(POINT position);
    void StopWheelPanning();
    POINT PanAnchor() const { return panAnchor_; }
    HWND PanningWindow() const { return panningWindow_.get(); }
    // The name of the pan cursor shown now ("LT_MOVEN" ...), null when not panning.
    const char* PanCursorName() const { return panCursorName_; }
    // Moves the view; answers whether it moved. Offsets are clamped to the ranges.
    bool DoSetOffsetXY(POINT value, bool scrollBars = true);
    // Runs Callback(step, stepSize, data) over Duration ms; false from it ends early.
    using TLTAnimationCallback = std::function<bool(int step, int stepSize, void* data)>;
    void RunStepAnimation(int steps, int duration, const TLTAnimationCallback& callback, void* data);
    // The selection frame in tree coordinates (from the press point to the mouse).
    RECT SelectionRect() const { return newSelRect_; }
    // The framework's dragging test: an OLE drag pending or running, or the framework's drag of this tree.
    bool Dragging() const {
        return states_.Contains(tsOLEDragPending) || states_.Contains(tsOLEDragging) || ControlDragSource() == this;
    }
    int DragThreshold = 5;
    // Automatic: every press on a node may start a drag.
    enum TDragMode { dmManual, dmAutomatic };
    TDragMode DragMode = dmManual;
    // OLE drags reach other programs; the framework's own stays within this one.
    enum TDragType { dtOLE, dtFramework };
    TDragType DragType = dtOLE;
    // The tree's own context menu, shown when DoGetPopupMenu has none for the node.
    TPopupMenu* PopupMenu() const { return popupMenu_; }
    void SetPopupMenu(TPopupMenu* menu);
    // The dialog's Tab key moves the focused column instead of the focus.
    bool WantTabs = false;
    // Sends the tree the release of the button held (left when none), at the
    // mouse's place, and leaves the framework drag states.
    void SimulateMouseUp();
    // Copies the published properties of another tree through their setters.
    virtual void Assign(const TBaseLazyTree& source);
    // Tells the tree where the mouse is (the tests drive the tree by messages alone).
    std::function<DWORD()> TickSource;

    // ---- clipboard, drag and drop (LazyTreeClipboard.cpp, LazyTreeDragDrop.cpp) -----
    // Put the selected nodes on the clipboard and mark them; false when nothing was done.
    virtual bool CopyToClipboard();
    virtual bool CutToClipboard();
    virtual bool PasteFromClipboard();
    void CancelCutOrCopy();
    void MarkCutCopyNodes();
    // Renders one format for the clipboard (the cut/copy set) or a drag (the selection).
    virtual HRESULT RenderOLEData(const FORMATETC& formatEtcIn, STGMEDIUM& medium, bool forClipboard);
    // Adds the nodes of a data object at Target (copies), or moves the source's
    // nodes when Optimized; false when no node data could be read.
    bool ProcessOLEData(TBaseLazyTree* source, IDataObject* dataObject, PLazyNode targetNode,
                        TLTNodeAttachMode mode, bool optimized);
    // The tree of this process a data object came from; nil for any other.
    static TBaseLazyTree* GetTreeFromDataObject(IDataObject* dataObject);
    // Whether a pointer names a tree that exists now (compared, never read).
    static bool IsLiveTree(const void* tree);
    virtual void GetNativeClipboardFormats(TFormatEtcArray& formats);
    virtual DWORD SuggestDropEffect(TBaseLazyTree* source, TShiftState shift, POINT pt, DWORD allowedEffects);
    // The drag manager (made on first use) and the tree's own drag image.
    ILTDragManager* DragManager();
    TLTDragImage& DragImage();
    // The picture the source tree of a drag draws itself (null when the
    // system shows it or the tree shows none).
    static TLTDragImage* OwnDragImageOf(TBaseLazyTree* source);
    // The drop target's work, called by the drag manager (points in screen coordinates).
    HRESULT DragEnter(DWORD keyState, POINT pt, DWORD& effect);
    void DragOver(TObject* source, DWORD keyState, TDragState state, POINT pt, DWORD& effect);
    void DragLeave();
    HRESULT DragDrop(IDataObject* dataObject, DWORD keyState, POINT pt, DWORD& effect);
    // Where a drop at a client point would go (the node is the result).
    PLazyNode DetermineDropMode(POINT p, bool dragOver, TDropMode& mode);
    // The selected nodes of the drag now running, in tree order.
    const TNodeArray& DragSelection() const { return dragSelection_; }
    const TFormatArray& DropFormats() const { return dropFormats_; }
    // Draws the start of an OLE drag as the tree's image (client point).
    void PrepareDragImage(POINT hotSpot, IDataObject* dataObject);
    // Repaints part of the window under another tree's visible drag image.
    void UpdateWindowAndDragImage(TBaseLazyTree* tree, RECT treeRect, bool updateNCArea, bool reshowDragImage);
    TLTNodeAttachMode DefaultPasteMode = amAddChildLast;
    TLTDragImageKind DragImageKind = diComplete;
    unsigned DragOperations = doCopy | doMove;
    int DragWidth = 200, DragHeight = 350;

    // ---- events ---------------------------------------------------------
    std::function<void(TBaseLazyTree*, PLazyNode parent, PLazyNode node, TLazyNodeInitStates& initialStates)> OnInitNode;
    std::function<void(TBaseLazyTree*, PLazyNode node, unsigned& childCount)> OnInitChildren;
    std::function<void(TBaseLazyTree*, int& nodeDataSize)> OnGetNodeDataSize;
    std::function<void(TBaseLazyTree*, PLazyNode node)> OnFreeNode;
    std::function<void(TBaseLazyTree*, PLazyNode node)> OnResetNode;
    std::function<void(TBaseLazyTree*, PLazyNode node, bool& allowed)> OnExpanding;
    std::function<void(TBaseLazyTree*, PLazyNode node, bool& allowed)> OnCollapsing;
    std::function<void(TBaseLazyTree*, PLazyNode node)> OnExpanded;
    std::function<void(TBaseLazyTree*, PLazyNode node)> OnCollapsed;
    std::function<void(TBaseLazyTree*, PLazyNode node, TChangeReason reason)> OnStructureChange;
    std::function<void(TBaseLazyTree*, PLazyNode node)> OnChange;
    std::function<void(TBaseLazyTree*, TLazyTreeStates enter, TLazyTreeStates leave)> OnStateChange;
    std::function<void(TBaseLazyTree*, TLTUpdateState state)> OnUpdating;
    std::function<void(TBaseLazyTree*, PLazyNode node, TCheckState& newState, bool& allowed)> OnChecking;
    std::function<void(TBaseLazyTree*, PLazyNode node)> OnChecked;
    std::function<void(TBaseLazyTree*, PLazyNode node1, PLazyNode node2, TColumnIndex column, int& result)> OnCompareNodes;
    std::function<void(TBaseLazyTree*, PLazyNode node, TStream& stream)> OnSaveNode;
    std::function<void(TBaseLazyTree*, PLazyNode node, TStream& stream)> OnLoadNode;
    std::function<void(TBaseLazyTree*, PLazyNode oldNode, PLazyNode newNode, TColumnIndex oldColumn,
                       TColumnIndex newColumn, bool& allowed)> OnFocusChanging;
    std::function<void(TBaseLazyTree*, PLazyNode node, TColumnIndex column)> OnFocusChanged;
    std::function<void(TBaseLazyTree*, PLazyNode node, TColumnIndex column, bool& allowed)> OnEditing;
    std::function<void(TBaseLazyTree*, PLazyNode node, TColumnIndex column, PLTEditLink& link)> OnCreateEditor;
    std::function<void(TBaseLazyTree*, PLazyNode node, TColumnIndex column)> OnEdited;
    std::function<void(TBaseLazyTree*, TColumnIndex column)> OnEditCancelled;
    std::function<void(TBaseLazyTree*, PLazyNode node)> OnNodeCopied;
    std::function<void(TBaseLazyTree*, PLazyNode node, PLazyNode target, bool& allowed)> OnNodeCopying;
    std::function<void(TBaseLazyTree*, PLazyNode node)> OnNodeMoved;
    std::function<void(TBaseLazyTree*, PLazyNode node, PLazyNode target, bool& allowed)> OnNodeMoving;
    std::function<void(TBaseLazyTree*, PLazyNode oldNode, PLazyNode newNode)> OnHotChange;
    std::function<void(TBaseLazyTree*, PLazyNode node, TColumnIndex column, bool& isEmpty)> OnGetCellIsEmpty;
    std::function<void(TBaseLazyTree*, PLazyNode node, TColumnIndex column, bool& allowed)> OnDragAllowed;
    std::function<void(TBaseLazyTree*, int deltaX, int deltaY)> OnScroll;
    // A drag from this tree ended; x, y: the cursor in client coordinates.
    std::function<void(TBaseLazyTree*, int x, int y)> OnEndDrag;
    std::function<void(TBaseLazyTree*, WORD& charCode, unsigned& shift, bool& doDefault)> OnKeyAction;
    std::function<void(TBaseLazyTree*, PLazyNode node, const std::wstring& searchText, int& result)> OnIncrementalSearch;
    std::function<void(TBaseLazyTree*, TColumnIndex column, unsigned shift)> OnColumnClick;
    std::function<void(TBaseLazyTree*, TColumnIndex column, unsigned shift)> OnColumnDblClick;
    std::function<void(TLTHeader*, THeaderPaintInfo& paintInfo, THeaderPaintElements elements)> OnAdvancedHeaderDraw;
    std::function<void(TLTHeader*, TColumnIndex column)> OnColumnResize;
    std::function<void(TLTHeader*, HCURSOR& cursor)> OnGetHeaderCursor;
    std::function<void(TLTHeader*, TColumnIndex column, TMouseButton button, TShiftState shift, int x, int y)>
        OnHeaderClick;
    std::function<void(TLTHeader*, TColumnIndex column, TMouseButton button, TShiftState shift, int x, int y)>
        OnHeaderDblClick;
    std::function<void(TLTHeader*, TColumnIndex column, TColumnPosition oldPosition)> OnHeaderDragged;
    std::function<void(TLTHeader*, TColumnIndex column, POINT dropPosition)> OnHeaderDraggedOut;
    std::function<void(TLTHeader*, TColumnIndex column, bool& allowed)> OnHeaderDragging;
    std::function<void(TLTHeader*, TCanvas& canvas, TLazyTreeColumn& column, RECT r, bool hover, bool pressed,
                       TLTDropMarkMode dropMark)>
        OnHeaderDraw;
    std::function<void(TLTHeader*, THeaderPaintInfo& paintInfo, THeaderPaintElements& elements)>
        OnHeaderDrawQueryElements;
    std::function<void(TLTHeader*, TMouseButton button, TShiftState shift, int x, int y)> OnHeaderMouseDown;
    std::function<void(TLTHeader*, TShiftState shift, int x, int y)> OnHeaderMouseMove;
    std::function<void(TLTHeader*, TMouseButton button, TShiftState shift, int x, int y)> OnHeaderMouseUp;
    std::function<void(TBaseLazyTree*, PLazyNode node, TLTImageKind kind, TColumnIndex column, bool& ghosted,
                       int& imageIndex)> OnGetImageIndex;
    std::function<void(TBaseLazyTree*, HCURSOR& cursor)> OnGetCursor;
    std::function<void(TBaseLazyTree*, PLazyNode node, TColumnIndex column, POINT p, bool& askParent,
                       TPopupMenu*& popupMenu)> OnGetPopupMenu;
    std::function<void(TBaseLazyTree*, TCanvas& canvas, PLazyNode node, int& nodeHeight)> OnMeasureItem;
    std::function<void(TBaseLazyTree*, PLazyNode node, TColumnIndex column, int& helpContext)> OnGetHelpContext;
    std::function<void(TBaseLazyTree*, TCanvas& canvas)> OnBeforePaint;
    std::function<void(TBaseLazyTree*, TCanvas& canvas)> OnAfterPaint;
    std::function<void(TBaseLazyTree*, TCanvas& canvas, RECT r, bool& handled)> OnPaintBackground;
    std::function<void(TBaseLazyTree*, TCanvas& canvas, PLazyNode node, RECT itemRect, TColor& itemColor,
                       TItemEraseAction& eraseAction)> OnBeforeItemErase;
    std::function<void(TBaseLazyTree*, TCanvas& canvas, PLazyNode node, RECT itemRect)> OnAfterItemErase;
    std::function<void(TBaseLazyTree*, TCanvas& canvas, PLazyNode node, RECT itemRect, bool& customDraw)> OnBeforeItemPaint;
    std::function<void(TBaseLazyTree*, TCanvas& canvas, PLazyNode node, RECT itemRect)> OnAfterItemPaint;
    std::function<void(TBaseLazyTree*, TCanvas& canvas, PLazyNode node, TColumnIndex column, RECT cellRect)> OnBeforeCellPaint;
    std::function<void(TBaseLazyTree*, TCanvas& canvas, PLazyNode node, TColumnIndex column, RECT cellRect)> OnAfterCellPaint;
    std::function<void(TBaseLazyTree*, const void*& bits)> OnGetLineStyle;
    std::function<void(TBaseLazyTree*, ComPtr<IDataObject>& dataObject)> OnCreateDataObject;
    std::function<void(TBaseLazyTree*, ComPtr<ILTDragManager>& dragManager)> OnCreateDragManager;
    std::function<void(TBaseLazyTree*, TObject* source, TShiftState shift, TDragState state, POINT pt, TDropMode mode,
                       DWORD& effect, bool& accept)> OnDragOver;
    std::function<void(TBaseLazyTree*, TObject* source, IDataObject* dataObject, const TFormatArray& formats,
                       TShiftState shift, POINT pt, DWORD& effect, TDropMode mode)> OnDragDrop;
    std::function<void(TBaseLazyTree*, const FORMATETC& formatEtcIn, STGMEDIUM& medium, bool forClipboard,
                       HRESULT& result)> OnRenderOLEData;
    std::function<void(TBaseLazyTree*, TFormatEtcArray& formats)> OnGetUserClipboardFormats;

    THintAnimationType HintAnimation = hatSystemDefault;
    TLTHintMode HintMode = hmDefault;
    // The hint decision (LazyTreeHint.cpp): 0 shows the hint the information
    // now describes, 1 none.
    int CMHintShow(THintInfo& info);
    // The pause before a hint at a client point: -1 the hint manager's own, 0 none.
    int HintShowPause(POINT p) const;
    // The cursor rectangle of the hint shown last (empty when none shows).
    RECT LastHintRect() const { return lastHintRect_; }
    // The hint animation to use, with the system's settings resolved.
    THintAnimationType GetHintAnimationType() const;
    // Frame thickness the window style takes from each side (negative).
    POINT BorderSize() const;
    void ChangeScale(int m, int d);

    // Reserves internal data behind the fixed node part; answers its offset.
    unsigned AllocateInternalDataArea(unsigned size);
    void Loaded() override;

protected:
    // A node kept in a local across calls into application code. A handler
    // that deletes the node clears the local; a walk's place (the node it goes
    // to next) instead moves on past what was deleted, to the node after the
    // deleted subtree (Ahead) or before it (Behind), so the walk goes on from
    // there. Every other loop that calls out holds its node and its place this
    // way (a walk in tree order is a TTreeWalk, which the tree tells itself);
    // a walk over a list of nodes holds the whole list, whose deleted entries
    // are cleared.
    enum class TWatchKind : uint8_t { Clear, Ahead, Behind };
    class TNodeWatch {
    public:
        TNodeWatch(TBaseLazyTree* tree, PLazyNode* slot, TWatchKind kind = TWatchKind::Clear) : tree_(tree), slot_(slot) {
            tree_->watched_.push_back({slot, kind});
        }
        TNodeWatch(TBaseLazyTree* tree, TNodeArray& nodes);
        ~TNodeWatch() {
            // Watches nearly always end in the reverse order they began.
            std::vector<TWatched>& w = tree_->watched_;
            if (!slot_) {
                EndListWatch();
                return;
            }
            if (w.back().Slot == slot_) {
                w.pop_back();
                return;
            }
            for (size_t i = w.size(); i-- > 0;)
                if (w[i].Slot == slot_) {
                    w.erase(w.begin() + ptrdiff_t(i));
                    break;
                }
        }
        TNodeWatch(const TNodeWatch&) = delete;
        TNodeWatch& operator=(const TNodeWatch&) = delete;
    private:
        void EndListWatch();
        TBaseLazyTree* tree_;
        PLazyNode* slot_ = nullptr;   // nil for a list
    };
    // A walk in tree order over top's subtree that calls out at each node it
    // holds (top = the root: the whole tree). The node in hand is also its
    // place: a handler that deletes it, or a subtree holding it, moves the
    // place past what went, and Advance goes on from there. A handler that
    // moves it (or a subtree holding it, below top) ends its part of the walk
    // the same way, and a node the walk has passed that moves, or is sorted,
    // to where the walk still goes is passed over there: the walk never
    // leaves top's subtree and reaches each node at most once. Each step
    // starts from the node in hand and climbs no higher than top, so a walk
    // costs what it visits, whatever the tree's shape; the tree tells its
    // walks of each deletion, move and sort, and only then is a walk's
    // position looked at again.
    class TTreeWalk {
    public:
        TTreeWalk(TBaseLazyTree* tree, PLazyNode top, PLazyNode first)
            : tree_(tree), top_(top), run_(first), place_(first), fast_(first), outer_(tree->walks_) {
            tree->walks_ = this;
        }
        // Walks are locals: they end in the reverse order they began.
        ~TTreeWalk() { tree_->walks_ = outer_; }
        TTreeWalk(const TTreeWalk&) = delete;
        TTreeWalk& operator=(const TTreeWalk&) = delete;
        // The node in hand; nil when a handler deleted or moved it, or at the end.
        PLazyNode Node() const { return run_; }
        // Initialises the node in hand when it is not yet.
        void InitNode() {
            if (run_ && run_ != tree_->root_ && !(run_->States & vsInitialized)) tree_->InitHeldNode(run_, run_);
        }
        // Initialises it again; held is the node in hand, kept in the caller's local.
        void ReinitNode(PLazyNode held) { tree_->InitHeldNode(held, run_); }
        // To the node's first child (when descend) or the node after its subtree.
        void Advance(bool descend) {
            if (PLazyNode n = fast_) [[likely]] StepFrom(n, descend);
            else AdvanceSlowly(descend);
        }
        // Advance, for a caller that kept the node in hand in a local across
        // its calls out: while that node is still in hand the step starts
        // from the local, so going from node to node never waits on a
        // reload of the walk's fields. Answers the new node in hand.
        PLazyNode Next(PLazyNode held, bool descend) {
            // Only a deletion, a move or a sort that the tree told of clears fast_.
            if (fast_ != held) [[unlikely]] {
                AdvanceSlowly(descend);
                return run_;
            }
            // Equal as they are, the compiler would step from the reloaded
            // field instead: this keeps it to the local.
            __asm__("" : "+r"(held));
            return StepFrom(held, descend);
        }
        void Stop() { run_ = place_ = fast_ = nullptr; }
    private:
        friend class TBaseLazyTree;
        PLazyNode StepFrom(PLazyNode n, bool descend) {
            n = descend && n->FirstChild ? n->FirstChild : After(n);
            return run_ = fast_ = n;
        }
        PLazyNode Place() const { return run_ ? run_ : place_; }
        // The node after n's subtree inside top's (n inside top's subtree).
        PLazyNode After(PLazyNode n) const {
            while (n != top_ && !n->NextSibling) n = n->Parent;
            return n == top_ ? nullptr : n->NextSibling;
        }
        // The step when the node in hand went, or nodes are to be passed over.
        void AdvanceSlowly(bool descend);
        // From n on, past the subtrees of the passed nodes met there.
        PLazyNode Pass(PLazyNode n);
        void Passed(PLazyNode node);
        // What the tree tells its walks: node (or only its children) is about
        // to be deleted; node is about to move; node's children were sorted
        // from the order in old.
        void Deleting(PLazyNode node, bool childrenOnly);
        void Moving(PLazyNode node);
        void Sorted(PLazyNode node, const TNodeArray& old);
        TBaseLazyTree* tree_;
        // Without a node in hand, place_ is where the walk goes on (the
        // node in hand is its own place).
        PLazyNode top_, run_, place_;
        // run_ while the next step may start from it without a look at what
        // the tree told; nil once the node went or a node is to be passed over.
        PLazyNode fast_;
        TTreeWalk* outer_;
        // Nodes the walk has passed that moved or were sorted ahead of it, by address.
        std::vector<PLazyNode> passed_;
    };
    // ---- Do... slots: each presets the permissive default and fires the event.
    virtual void DoInitNode(PLazyNode parent, PLazyNode node, TLazyNodeInitStates& initialStates);
    virtual void DoInitChildren(PLazyNode node, unsigned& childCount);
    virtual void DoGetNodeDataSize(int& size);
    virtual void DoFreeNode(PLazyNode node);
    virtual void DoResetNode(PLazyNode node);
    virtual bool DoExpanding(PLazyNode node);
    virtual bool DoCollapsing(PLazyNode node);
    virtual void DoExpanded(PLazyNode node);
    virtual void DoCollapsed(PLazyNode node);
    virtual void DoStructureChange(PLazyNode node, TChangeReason reason);
    virtual void DoChange(PLazyNode node);
    virtual void DoStateChange(TLazyTreeStates enter, TLazyTreeStates leave = {});
    virtual void DoUpdating(TLTUpdateState state);
    virtual bool DoChecking(PLazyNode node, TCheckState& newState);
    virtual void DoChecked(PLazyNode node);
    virtual void DoSetCheckState(PLazyNode node, TCheckState newState);
    virtual int DoCompareNodes(PLazyNode node1, PLazyNode node2, TColumnIndex column);
    virtual void DoSaveNode(PLazyNode node, TStream& stream);
    virtual void DoLoadNode(PLazyNode node, TStream& stream);
    virtual bool DoFocusChanging(PLazyNode oldNode, PLazyNode newNode, TColumnIndex oldColumn, TColumnIndex newColumn);
    virtual void DoFocusChanged(PLazyNode node, TColumnIndex column);
    virtual void DoFocusNode(PLazyNode node, bool ask);
    virtual bool DoEditing(PLazyNode node, TColumnIndex column, bool allowed);
    virtual PLTEditLink DoCreateEditor(PLazyNode node, TColumnIndex column);
    virtual void DoEdit();
    virtual bool DoEndEdit();
    virtual bool DoCancelEdit();
    virtual bool CanEdit(PLazyNode node, TColumnIndex column);
    virtual void DoNodeCopied(PLazyNode node);
    virtual bool DoNodeCopying(PLazyNode node, PLazyNode target);
    virtual void DoNodeMoved(PLazyNode node);
    virtual bool DoNodeMoving(PLazyNode node, PLazyNode target);
    virtual void DoHotChange(PLazyNode oldNode, PLazyNode newNode);
    virtual bool DoGetCellIsEmpty(PLazyNode node, TColumnIndex column);
    virtual bool DoDragAllowed(PLazyNode node, TColumnIndex column);
    virtual void DoScroll(int deltaX, int deltaY);
    virtual void DoEndDrag(int x, int y);
    virtual bool DoKeyAction(WORD& charCode, unsigned& shift);
    virtual int DoIncrementalSearch(PLazyNode node, const std::wstring& text);
    virtual void DoColumnClick(TColumnIndex column, unsigned shift);
    virtual void DoColumnDblClick(TColumnIndex column, unsigned shift);
    // ---- clipboard and drag slots (LazyTreeClipboard.cpp, LazyTreeDragDrop.cpp)
    virtual ComPtr<IDataObject> DoCreateDataObject();
    virtual ComPtr<ILTDragManager> DoCreateDragManager();
    virtual bool DoDragOver(TObject* source, TShiftState shift, TDragState state, POINT pt, TDropMode mode,
                            DWORD& effect);
    virtual void DoDragDrop(TObject* source, IDataObject* dataObject, const TFormatArray& formats, TShiftState shift,
                            POINT pt, DWORD& effect, TDropMode mode);
    virtual HRESULT DoRenderOLEData(const FORMATETC& formatEtcIn, STGMEDIUM& medium, bool forClipboard);
    virtual void DoGetUserClipboardFormats(TFormatEtcArray& formats);
    virtual bool CanShowDragImage() const { return DragImageKind != diNoImage; }
    // The framework's drag: its start, its end, and this tree as a target (CM_DRAG).
    void DoStartDrag(TDragObject*& dragObject) override;
    void DragEnded(TObject* target, POINT screen) override;
    LRESULT CMDrag(TDragMessage kind, const TDragRec& rec);
    // The system's modal drag loop (tests drive the drop target instead).
    virtual HRESULT RunDragLoop(IDataObject* dataObject, IDropSource* dropSource, DWORD allowedEffects, DWORD& effect);
    // Puts this tree's formats on the clipboard for good when it holds them;
    // the destructor of a class that renders formats of its own calls it.
    void FlushClipboard();
    // ---- header slots (LazyTreeHeaderMouse.cpp); Sender of their events is the header.
    virtual void DoAdvancedHeaderDraw(THeaderPaintInfo& paintInfo, THeaderPaintElements elements);
    virtual void DoColumnResize(TColumnIndex column);
    virtual void DoGetHeaderCursor(HCURSOR& cursor);
    virtual void DoHeaderClick(TColumnIndex column, TMouseButton button, TShiftState shift, int x, int y);
    virtual void DoHeaderDblClick(TColumnIndex column, TMouseButton button, TShiftState shift, int x, int y);
    virtual void DoHeaderDragged(TColumnIndex column, TColumnPosition oldPosition);
    virtual void DoHeaderDraggedOut(TColumnIndex column, POINT dropPosition);
    virtual bool DoHeaderDragging(TColumnIndex column);
    virtual void DoHeaderDraw(TCanvas& canvas, TLazyTreeColumn& column, RECT r, bool hover, bool pressed,
                              TLTDropMarkMode dropMark);
    virtual void DoHeaderDrawQueryElements(THeaderPaintInfo& paintInfo, THeaderPaintElements& elements);
    virtual void DoHeaderMouseDown(TMouseButton button, TShiftState shift, int x, int y);
    virtual void DoHeaderMouseMove(TShiftState shift, int x, int y);
    virtual void DoHeaderMouseUp(TMouseButton button, TShiftState shift, int x, int y);
    virtual void DoGetImageIndex(PLazyNode node, TLTImageKind kind, TColumnIndex column, bool& ghosted, int& index);
    virtual void DoGetCursor(HCURSOR& cursor);
    virtual std::wstring DoGetNodeHint(PLazyNode node, TColumnIndex column);
    virtual std::wstring DoGetNodeTooltip(PLazyNode node, TColumnIndex column);
    virtual int DoGetNodeWidth(PLazyNode node, TColumnIndex column, TCanvas* canvas);
    virtual TPopupMenu* DoGetPopupMenu(PLazyNode node, TColumnIndex column, POINT p);
    virtual int DoGetHelpContext(PLazyNode node, TColumnIndex column);
    virtual void DoMeasureItem(TCanvas& canvas, PLazyNode node, int& nodeHeight);
    virtual void DoBeforePaint(TCanvas& canvas);
    virtual void DoAfterPaint(TCanvas& canvas);
    virtual bool DoPaintBackground(TCanvas& canvas, RECT r);
    virtual void DoBeforeItemErase(TCanvas& canvas, PLazyNode node, RECT itemRect, TColor& itemColor,
                                   TItemEraseAction& eraseAction);
    virtual void DoAfterItemErase(TCanvas& canvas, PLazyNode node, RECT itemRect);
    virtual bool DoBeforeItemPaint(TCanvas& canvas, PLazyNode node, RECT itemRect);
    virtual void DoAfterItemPaint(TCanvas& canvas, PLazyNode node, RECT itemRect);
    virtual void DoBeforeCellPaint(TCanvas& canvas, PLazyNode node, TColumnIndex column, RECT cellRect);
    virtual void DoAfterCellPaint(TCanvas& canvas, PLazyNode node, TColumnIndex column, RECT cellRect);
    virtual void DoGetLineStyle(const void*& bits);
    // Text rectangle, text and font of a cell; the string tree fills them.
    virtual void GetTextInfo(PLazyNode node, TColumnIndex column, TFont& font, RECT& r, std::wstring& text);
    // ---- painting slots -------------------------------------------------------
    virtual void DoPaintNode(TLTPaintInfo& paintInfo);
    virtual void DoPaintDropMark(TCanvas& canvas, PLazyNode node, RECT r);
    virtual int GetCheckImage(PLazyNode node);
    virtual void PaintCheckImage(const TLTPaintInfo& paintInfo);
    virtual void PaintImage(TLTPaintInfo& paintInfo, TLTImageInfoIndex which);
    virtual void PaintNodeButton(TCanvas& canvas, PLazyNode node, int x, int y, bool rightToLeft);
    virtual void PaintTreeLines(const TLTPaintInfo& paintInfo, int vAlign, int indentSize,
                                const std::vector<uint8_t>& lineImage);
    // The cell may reach over empty neighbours; answers the next column to paint.
    virtual void AdjustPaintCellRect(TLTPaintInfo& paintInfo, TColumnIndex& nextNonEmpty);
    virtual void DoPopupMenu(PLazyNode node, TColumnIndex column, POINT position);
    virtual void Paint() override;
    // Class factories a descendant overrides to use its own header and options.
    // Virtual calls do not reach a descendant during the base constructor, so
    // a descendant that overrides one calls UseOwnClasses() in its constructor.
    virtual THeaderClass GetHeaderClass() const;
    virtual TColumnClass GetColumnClass() const;
    virtual TOptionsClass GetOptionsClass() const;
    void UseOwnClasses();
    // Measures a node's height under toVariableNodeHeight once.
    void MeasureItemHeight(TCanvas& canvas, PLazyNode node);
    // The vertical line on which lines, buttons and images of the node are centred.
    int NodeAlignmentLine(PLazyNode node, int rowHeight, bool withImages) const;
    // The drop target the window registers while toAcceptOLEDrop is set.
    virtual IDropTarget* DropTarget();
    void RegisterDropTarget(bool doRegister);
    bool DropTargetRegistered() const { return dropTargetRegistered_; }
    // A DC for measuring outside painting, with the tree's font selected.
    HDC MeasureDC();
    // Runs in the worker thread: builds the cache from stored heights only.
    virtual bool DoValidateCache();
    // ---- input slots (LazyTreeMouse.cpp, LazyTreeKeys.cpp) ----------------------
    virtual void HandleMouseDown(TMouseButton button, TShiftState shift, POINT p, THitTestResult& hitInfo);
    virtual void HandleMouseUp(TMouseButton button, TShiftState shift, POINT p, THitTestResult& hitInfo);
    virtual void HandleMouseDblClick(TMouseButton button, TShiftState shift, POINT p, THitTestResult& hitInfo);
    virtual void HandleClickSelection(PLazyNode lastFocused, PLazyNode newNode, TShiftState shift, bool dragPending);
    virtual void HandleMouseMoveTree(TShiftState shift, POINT p);
    virtual bool HandleDrawSelection(RECT oldRect, RECT newRect);
    virtual void HandleKeyDown(WORD& charCode, TShiftState shift);
    virtual void HandleKeyUp(WORD charCode, TShiftState shift);
    virtual bool AutoScrollAllowed();
    virtual uint8_t ScrollDirectionsAt(int x, int y);
    virtual void DoAutoScroll(int x, int y);
    virtual void ScrollTimerStep();
    virtual void UpdatePanCursor(POINT mouse);
    virtual void BeginDrag(bool immediate, int threshold = -1);
    // Starts the system drag loop with the selected nodes (the drag manager supplies the data).
    virtual void StartOleDrag(POINT p);
    bool HasPopupMenu(PLazyNode node, TColumnIndex column, POINT p);
    // Runs the cell tests of one reading order; x relative to the cell's left edge.
    void CellHitTestLTR(THitTestResult& hitInfo, int x, TAlignment alignment, int width);
    void CellHitTestRTL(THitTestResult& hitInfo, int x, TAlignment alignment, int width);
    // The column at x (tree coordinates) with its edges; ColumnInvalid right of the last.
    TColumnIndex ColumnAt(int x, int& left, int& right);
    TAlignment ColumnAlignment(TColumnIndex column) const;
    TBiDiMode ColumnBiDiMode(TColumnIndex column) const;
    TColor ColumnColor(TColumnIndex column) const;
    DWORD CurrentTime() const { return TickSource ? TickSource() : ::GetTickCount(); }
    bool HandleInputMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void CancelHintOnPress(UINT msg);
    // The input messages by concern; each answers whether the message is done.
    bool HandleMouseMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    bool HandleKeyMessage(UINT msg, WPARAM wParam, LRESULT& result);
    bool HandleTimerMessage(WPARAM id, LRESULT& result);
    void HandleFocusMessage(UINT msg);
    bool HandleSetCursor(WPARAM wParam, LPARAM lParam, LRESULT& result);
    void HandleContextMenu(POINT screenPoint);
    // The client y below a node's row (-1 when it is not shown).
    int RowBottom(PLazyNode node);
    void AnimateToggle(int rowBottom, int distance, bool down);
    // Places the running editor over the focused node's text in the edit column.
    void UpdateEditBounds();
    // The header's room above the client area and its painting there.
    void AdjustNonClientForHeader(NCCALCSIZE_PARAMS* params);
    void PaintNonClientHeader();

    // ---- node internals used by the other parts -------------------------
    PLazyNode MakeNewNode();
    void InternalConnectNode(PLazyNode node, PLazyNode destination, TBaseLazyTree* target, TLTNodeAttachMode mode);
    void InternalDisconnectNode(PLazyNode node, bool keepFocus, bool reindex = true);
    void AdjustTotalCount(PLazyNode node, int64_t value, bool relative);
    void AdjustTotalHeight(PLazyNode node, int64_t value, bool relative);
    unsigned CountVisibleChildren(PLazyNode node) const;
    void DetermineHiddenChildrenFlag(PLazyNode node);
    void DetermineHiddenChildrenFlagAllNodes();
    void InitNode(PLazyNode node);
    // InitNode on node, which the caller holds in the watched slot held (nil
    // after, when a handler deleted it); a walk's node needs no second watch:
    // its slot is also cleared when a handler moves the node out of the
    // walk's hand, which movedFromHand_ then names. The node comes by value
    // too, so a walk's step to the next node does not wait on the slot.
    void InitHeldNode(PLazyNode node, PLazyNode& held);
    // Only a node with vsHasChildren asks for its children: the test is inline
    // because walks make it at every node.
    void InitChildren(PLazyNode node) {
        if (node && node != root_ && (node->States & vsHasChildren)) AskForChildren(node);
    }
    void AskForChildren(PLazyNode node);
    void InitIfNeeded(PLazyNode node) { if (node && node != root_ && !(node->States & vsInitialized)) InitNode(node); }
    void NotifyChange(PLazyNode node);
    void NotifyStructureChange(PLazyNode node, TChangeReason reason);
    bool ChangeCheckState(PLazyNode node, TCheckState value);
    bool CheckParentCheckState(PLazyNode node, TCheckState newCheckState);
    // A node with its subtree, refused before anything is written when nested too deep.
    void WriteNode(TStream& stream, PLazyNode node);
    void WriteSubtree(TStream& stream, PLazyNode node);
    void CheckStreamDepth(PLazyNode node);
    [[noreturn]] void RefuseStreamDepth();
    virtual void WriteChunks(TStream& stream, PLazyNode node);
    void ReadNode(TStream& stream, int version, PLazyNode node);
    virtual bool ReadChunk(TStream& stream, int version, PLazyNode node, uint32_t chunkType, uint32_t chunkSize);
    void SkipNode(TStream& stream);
    void InternalAddFromStream(TStream& stream, int version, PLazyNode node);
    [[noreturn]] void ShowError(const std::string& msg, int code);
    void UpdateScrollBars(bool doRepaint);
    void UpdateScrollBarsOnce(bool doRepaint);
    void SetUpdateState(bool updating);
    bool MiscOption(TLTMiscOption o) const { return options_->MiscOptions().Contains(o); }
    bool AutoOption(TLTAutoOption o) const { return options_->AutoOptions().Contains(o); }
    bool SelectionOption(TLTSelectionOption o) const { return options_->SelectionOptions().Contains(o); }

    void CreateParams(TCreateParams& params) override;
    void FontChanged() override;
    void CreateWnd() override;
    void CreateHandleDone() override;
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

    RECT lastHintRect_{};
    TLazyTreeHintData hintData_;
    PLazyNode root_ = nullptr;
    TLazyNodePool nodePool_;
    PLazyNode hotNode_ = nullptr;
    PLazyNode dropTargetNode_ = nullptr;
    // Where and how the last framework drag over this tree would drop.
    PLazyNode lastFrameworkDragTarget_ = nullptr;
    DWORD frameworkDragEffect_ = DROPEFFECT_NONE;
    PLazyNode lastSearchNode_ = nullptr;
    PLazyNode lastClickedNode_ = nullptr;

private:
    void SetScrollInfoShown(int bar, const SCROLLINFO& si, bool show, bool doRepaint);
    // The focus as read at the start of the paint running now; -1 outside one.
    int8_t paintFocused_ = -1;
    void MakeRootNode();
    bool PutSelectionOnClipboard(TLazyTreeState pending);
    // Cuts the links of data objects and the drag manager that may outlive the tree.
    void DetachOleObjects();
    void ForgetNode(PLazyNode node, PLazyNode parent);
    void FreeNodeMemory(PLazyNode node);
    void TearDownChildren(PLazyNode node);
    void AppendChildren(PLazyNode parent, unsigned count);
    void ChangeVisibleCount(int64_t delta);
    PLazyNode StepInto(PLazyNode node) {
        // Only a node still to initialise, or whose children are still to make, calls out.
        if ((node->States & vsInitialized) && (node == root_ || !(node->States & vsHasChildren) || node->FirstChild))
            return node->FirstChild;
        return InitAndStepInto(node);
    }
    PLazyNode InitAndStepInto(PLazyNode node);
    // The steps of RunStepAnimation, which enters and leaves the animating state around them.
    void StepAnimation(int steps, int duration, const TLTAnimationCallback& callback, void* data);
    // Takes step from from and initialises the node it answers; when an init
    // handler deletes that node the step is taken again, so the caller never
    // gets a freed node (nil when from went too).
    template <class Step> PLazyNode InitStep(PLazyNode from, Step step);
    bool FindSelected(PLazyNode node, size_t& index) const;
    void PackSelection();
    void FocusMainColumnIfNone();
    void InternalAddToSelection(TNodeArray nodes, bool force);
    void SortChildren(PLazyNode node, TColumnIndex column, TSortDirection direction);
    void StopChangeTimer(UINT id);
    bool StartTimer(UINT id, unsigned delay);
    void WaitForWorker();
    void HandleChangeState(unsigned enter, unsigned leave);
    int LoadHeader(TStream& stream);
    // Moves the walks' places out of what is about to be deleted: node's
    // subtree, node itself too unless childrenOnly.
    void MoveWatchedPlaces(PLazyNode node, bool childrenOnly);
    void RefuseWhileSorting(const char* what = "delete");
    PLazyNode IteratePlain(TTreeWalk& walk, const TLTGetNodeProc& callback, void* data, TLazyNodeStates filter);
    // The first node after node's subtree in tree order, or nil.
    PLazyNode NodeAfterSubtree(PLazyNode node) const;
    // Whether a deletion of node (or only of its children) takes held with it.
    bool Goes(PLazyNode held, PLazyNode node, bool childrenOnly) const;
    // Whether a comes before b in tree order (two nodes of this tree, not the root).
    bool Precedes(PLazyNode a, PLazyNode b) const;
    // Takes node out of its place and links it relative to target, telling the walks first.
    void Relink(PLazyNode node, PLazyNode target, TLTNodeAttachMode mode, bool reindex);
    bool ExpandParents(PLazyNode node);
    void SelectFocusedAfterKey(PLazyNode oldFocused, PLazyNode newFocused, TShiftState shift);
    // The keyboard by concern: keys that move the focus (each answers the node
    // to focus, or nil when the key scrolled, toggled or changed the column
    // only), and keys that act on the focused node.
    void HandleNavigationKey(WORD key, TShiftState shift);
    PLazyNode TabKeyTarget(PLazyNode old, bool backwards);
    PLazyNode PageKeyTarget(PLazyNode old, bool up, bool ctrl);
    PLazyNode HomeEndKeyTarget(PLazyNode old, bool home, bool ctrl);
    PLazyNode LeftRightKeyTarget(PLazyNode old, bool left, TShiftState shift);
    PLazyNode UpDownKeyTarget(PLazyNode old, bool up, bool ctrl);
    void HandleCommandKey(WORD key, TShiftState shift);
    void HandleMouseWheel(int delta, TShiftState shift);
    void HandleScrollMessage(int bar, WORD code);
    void StopAutoScroll();
    void KillInputTimers();
    void UpdateHotNode(PLazyNode node);
    LRESULT AnswerTreeViewQuery(UINT msg, WPARAM wParam, LPARAM lParam);
    // Hands a mouse move (client point, above the client area over the header) to the hint manager.
    void HintMouseMoved(POINT p);
    void CancelHintOf(PLazyNode node);
    TLTDragImage* DropDragImage();
    void PrintWindowTo(HDC dc, DWORD flags);
    // Colours changed (the tree's, the system's): buttons redrawn, tree repainted.
    void ColorsChanged();
    // F1: the help topic of the focused node, its parents, then the controls around.
    void ShowHelpContext();
    bool CollectNodesInFrame(RECT oldRect, RECT newRect);
    void ApplyBaseRecord(TStream& stream, int version, PLazyNode node, uint32_t& childCount);
    void AdoptLoadedSelection(PLazyNode node);

    void PaintRow(TLTPaintInfo& info, HDC rowDC, int rowWidth, RECT window, const std::vector<uint8_t>& lineImage,
                  int windowOrgX);
    void PaintCell(TLTPaintInfo& info, HDC dc, int rowWidth, RECT cell, TColumnIndex column,
                   const std::vector<uint8_t>& lineImage, int windowOrgX);
    void EraseRow(TLTPaintInfo& info, RECT r, int windowOrgX);
    void PaintSelection(TLTPaintInfo& info, int windowOrgX, int maxWidth, HDC rowDC);
    // The colour the cell's selection is drawn in (clNoColor when none), and its border's.
    TColor CellSelectionColor(const TLTPaintInfo& info, TColor* border = nullptr) const;
    // The mouse selection frame over a band of the tree (a row or the room
    // below the last row) held in a bitmap of width x height whose top is at
    // bandTop and whose left at windowLeft, both in tree coordinates.
    void PaintSelectionFrame(HDC bandDC, int windowLeft, int bandTop, int width, int height);
    void DetermineLineImage(PLazyNode node, std::vector<uint8_t>& lineImage);
    void DrawLine(TCanvas& canvas, int x1, int y1, int x2, int y2);
    int CheckImageWidth() const;
    void WatchList(TImageList*& field, TChangeLink& link, TImageList* value);
    int ImagesWidth(PLazyNode node, TColumnIndex column);

    std::unique_ptr<TCustomLazyTreeOptions> options_;
    std::unique_ptr<TLTHeader> header_;
    TPopupMenu* popupMenu_ = nullptr;
    TLTColors colors_{this};
    TScrollBarOptions scrollBarOptions_{this};
    TClipboardFormats clipboardFormats_{this};
    unsigned indent_ = 18;
    unsigned animationDuration_ = 200;
    TAlignment alignment_ = taLeftJustify;
    TBiDiMode bidiMode_ = bdLeftToRight;
    BitmapHandle background_;
    int backgroundOffsetX_ = 0, backgroundOffsetY_ = 0;
    TBorderStyle borderStyle_ = TBorderStyle::bsSingle;
    bool ctl3D_ = true;
    TLTButtonFillMode buttonFillMode_ = fmTreeColor;
    TLTButtonStyle buttonStyle_ = bsRectangle;
    TCheckImageKind checkImageKind_ = ckLightCheck;
    TImageList* customCheckImages_ = nullptr;
    TImageList* images_ = nullptr;
    TImageList* stateImages_ = nullptr;
    TChangeLink customCheckImagesLink_, imagesLink_, stateImagesLink_;
    TLTIncrementalSearch incrementalSearch_ = isNone;
    std::wstring searchBuffer_;
    TLTLineMode lineMode_ = lmNormal;
    TLTLineStyle lineStyle_ = lsDotted;
    int margin_ = 4, textMargin_ = 4, selectionCurveRadius_ = 0;
    TLTNodeAlignment nodeAlignment_ = naProportional;
    TDropMode lastDropMode_ = dmOnNode;
    int rangeX_ = 0;
    // Each button's picture with its transparent pixels black, and its mask
    // (white where the row shows through): two plain copies draw it.
    BitmapHandle plusBitmap_, minusBitmap_, plusMask_, minusMask_;
    std::unique_ptr<MemoryDC> buttonDC_;
    // The ghosted images of the paint under way; nil outside a paint.
    std::unique_ptr<TGhostedImageCache> ghostedImages_;
    BrushHandle dottedBrush_;
    ComPtr<ILTDragManager> dragManager_;
    std::unique_ptr<TLTDragImage> dragImage_;
    // Data objects made by this tree that are still alive (their link is cut when the tree goes).
    std::vector<TLTDataObject*> dataObjects_;
    TNodeArray dragSelection_;
    TFormatArray dropFormats_;
    bool dropTargetRegistered_ = false;
    bool redrawOff_ = false;
    // Set while the bars are being set: their own size changes come back as WM_SIZE.
    bool settingScrollBars_ = false;
    std::unique_ptr<MemoryDC> measureDC_;
    TLazyTreeStates states_;
    // Mirrors tsStopValidation for the worker thread, which reads it while building.
    std::atomic<bool> stopValidation_{false};
    unsigned updateCount_ = 0;
    unsigned visibleCount_ = 0;
    int defaultNodeHeight_ = 18;
    int nodeDataSize_ = -1;
    unsigned totalInternalDataSize_ = 0;
    int offsetX_ = 0;
    int offsetY_ = 0;
    bool destroying_ = false;
    // Inside the worker's report the worker is blocked on us and reads nothing.
    int inChangeState_ = 0;
    unsigned runningTimers_ = 0;

    // selection: sorted by address; a set lowest bit marks an entry removed during an update
    TNodeArray selection_;
    unsigned selectionCount_ = 0;
    PLazyNode rangeAnchor_ = nullptr;
    int selectionLevel_ = -1;
    PLazyNode focusedNode_ = nullptr;
    TColumnIndex focusedColumn_ = ColumnNone;

    // delayed notifications
    PLazyNode pendingChangeNode_ = nullptr;
    PLazyNode pendingStructureNode_ = nullptr;
    TChangeReason pendingStructureReason_ = crIgnore;

    // pending space-key or mouse check
    PLazyNode checkNode_ = nullptr;
    TCheckState pendingCheckState_ = csUncheckedNormal;

    PLTEditLink editLink_;
    TColumnIndex editColumn_ = ColumnNone;

    // position cache, written by the worker while it owns this tree
    std::vector<TCacheEntry> positionCache_;
    unsigned startIndex_ = 0;

    // input
    struct TWatched {
        PLazyNode* Slot;
        TWatchKind Kind;
    };
    std::vector<TWatched> watched_;
    // The walks running now, the innermost first (linked through their outer_).
    TTreeWalk* walks_ = nullptr;
    // The last node a move took out of a walk's hand, while it lives.
    PLazyNode movedFromHand_ = nullptr;
    // A watched list, and its entries by address (with their index) so a
    // freed node is found without a scan of the list.
    struct TWatchedList {
        TNodeArray* Nodes;
        std::vector<std::pair<PLazyNode, size_t>> ByAddress;
    };
    std::vector<TWatchedList> watchedLists_;
    // Set while a sort relinks a sibling list (see SortChildren).
    bool sorting_ = false;
    uint8_t autoScrollDirections_ = 0;
    DWORD scrollStartTime_ = 0;
    POINT panAnchor_{};
    POINT lastClickPos_{};
    POINT lastMouse_{};
    RECT newSelRect_{}, oldSelRect_{};
    TShiftState drawSelShift_ = 0;
    WindowHandle panningWindow_;
    BitmapHandle panningImage_;
    const char* panCursorName_ = nullptr;
    RegionHandle panningRegion_;
    HCURSOR savedCursor_ = nullptr;
    TNodeArray frameAdd_;
    wchar_t keyCharacter_ = 0;   // what the last key-down produced
};

} // namespace krv
