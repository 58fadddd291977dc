// Types shared by every part of the lazy tree: the node record, node and tree
// states, option sets, check states and types, the tree's exception.
#pragma once
#include "framework/SysUtils.h"
#include "tree/core/LazyTreeOptions.h"
#include <cstdint>
#include <initializer_list>

namespace krv {

class TBaseLazyTree;

// ---- node record ----------------------------------------------------------

struct TLazyNode;
using PLazyNode = TLazyNode*;

// The fixed part of every node; the internal data area and the user data follow it.
struct TLazyNode {
    uint32_t Index;          // position among its siblings, dense from 0
    uint32_t ChildCount;     // children now linked
    uint16_t NodeHeight;     // own row height in pixels
    uint16_t States;         // TLazyNodeStates bits
    uint8_t Align;           // vertical alignment of lines and images
    uint8_t CheckState;      // TCheckState
    uint8_t CheckType;       // TCheckType
    uint8_t Dummy;           // keeps the layout of the next field
    uint32_t TotalCount;     // nodes in the subtree, this one included
    uint32_t TotalHeight;    // own row plus, when expanded, the visible children's totals
    PLazyNode Parent;        // for the root: the owning tree object
    PLazyNode PrevSibling;
    PLazyNode NextSibling;
    PLazyNode FirstChild;
    PLazyNode LastChild;
};
#if !defined(_WIN64)
static_assert(sizeof(TLazyNode) == 44, "the node record is part of the interface");
#endif

// Node state bits (TLazyNode::States).
using TLazyNodeStates = uint16_t;
enum : uint16_t {
    vsInitialized = 1u << 0,
    vsChecking = 1u << 1,
    vsCutOrCopy = 1u << 2,
    vsDisabled = 1u << 3,
    vsDeleting = 1u << 4,
    vsExpanded = 1u << 5,
    vsHasChildren = 1u << 6,
    vsVisible = 1u << 7,
    vsSelected = 1u << 8,
    vsInitialUserData = 1u << 9,
    vsAllChildrenHidden = 1u << 10,
    vsClearing = 1u << 11,
    vsMultiline = 1u << 12,
    vsHeightMeasured = 1u << 13,
};

// What OnInitNode may ask for a node.
enum TLazyNodeInitState { ivsDisabled, ivsExpanded, ivsHasChildren, ivsMultiline, ivsSelected };
using TLazyNodeInitStates = TEnumSet<TLazyNodeInitState, uint8_t>;

// ---- tree states ------------------------------------------------------------

enum TLazyTreeState {
    tsCancelHintAnimation, tsChangePending, tsCheckPropagation, tsCollapsing, tsToggleFocusedSelection,
    tsClearPending, tsClipboardFlushing, tsCopyPending, tsCutPending, tsDrawSelPending, tsDrawSelecting,
    tsEditing, tsEditPending, tsExpanding, tsHint, tsInAnimation, tsIncrementalSearching,
    tsIncrementalSearchPending, tsIterating, tsKeyCheckPending, tsLeftButtonDown, tsMouseCheckPending,
    tsMiddleButtonDown, tsNeedScale, tsNeedRootCountUpdate, tsOLEDragging, tsOLEDragPending, tsPainting,
    tsRightButtonDown, tsPopupMenuShown, tsScrolling, tsScrollPending, tsSizing, tsStopValidation,
    tsStructureChangePending, tsSynchMode, tsThumbTracking, tsUpdateHiddenChildrenNeeded, tsUpdating,
    tsUseCache, tsUserDragObject, tsUseThemes, tsValidating, tsValidationNeeded, tsFrameworkDragging,
    tsFrameworkDragPending, tsWheelPanning, tsWheelScrolling, tsWindowCreating
};
using TLazyTreeStates = TEnumSet<TLazyTreeState, uint64_t>;

// The 4-bit sets carried by the worker's state message.
enum : unsigned { csStopValidation = 1, csUseCache = 2, csValidating = 4, csValidationNeeded = 8 };
constexpr unsigned WM_CHANGESTATE = 0x8020;

// ---- check boxes ------------------------------------------------------------

enum TCheckState : uint8_t {
    csUncheckedNormal, csUncheckedPressed, csCheckedNormal, csCheckedPressed, csMixedNormal, csMixedPressed
};
enum TCheckType : uint8_t { ctNone, ctTriStateCheckBox, ctCheckBox, ctRadioButton, ctButton };

// ---- misc -------------------------------------------------------------------

enum TLTImageKind { ikNormal, ikSelected, ikState, ikOverlay };
enum TItemEraseAction { eaColor, eaDefault, eaNone };
enum THintAnimationType { hatNone, hatFade, hatSlide, hatSystemDefault };
// What a hint shows: the control's hint, the node's, both, or a cut-off cell's full text.
enum TLTHintMode { hmDefault, hmHint, hmHintAndDefault, hmTooltip };
enum TLTNodeAttachMode { amNoWhere, amInsertBefore, amInsertAfter, amAddChildFirst, amAddChildLast };
enum TChangeReason { crIgnore, crAccumulated, crChildAdded, crChildDeleted, crNodeAdded, crNodeCopied, crNodeMoved };
enum TLTUpdateState { usBegin, usUpdate, usEnd };
enum TSortDirection { sdAscending, sdDescending };
using TColumnIndex = int;
constexpr TColumnIndex ColumnNone = -1;
constexpr TColumnIndex ColumnInvalid = -2;

// Every fault the tree reports.
class ELazyTreeError : public Exception {
public:
    ELazyTreeError(int code, const std::string& msg) : Exception(msg), Code(code) {}
    int Code;
};

} // namespace krv
