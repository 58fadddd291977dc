// The option sets of the tree and of every component built on it, and the
// small enumerations its published properties take. The order of each
// enumeration is its bit order in the sets and in stored forms: never
// reorder, only append.
#pragma once
#include <cstdint>
#include <initializer_list>

namespace krv {

// A small set over an enumeration whose values are bit numbers.
template <class E, class U> class TEnumSet {
public:
    constexpr TEnumSet() = default;
    constexpr TEnumSet(E e) : bits_(U(1) << static_cast<unsigned>(e)) {}
    constexpr TEnumSet(std::initializer_list<E> l) { for (E e : l) bits_ |= U(1) << static_cast<unsigned>(e); }
    static constexpr TEnumSet FromBits(U bits) { TEnumSet s; s.bits_ = bits; return s; }
    constexpr U Bits() const { return bits_; }
    constexpr bool Contains(E e) const { return (bits_ >> static_cast<unsigned>(e)) & 1; }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr TEnumSet operator+(TEnumSet o) const { return FromBits(bits_ | o.bits_); }
    constexpr TEnumSet operator-(TEnumSet o) const { return FromBits(bits_ & ~o.bits_); }
    constexpr TEnumSet operator*(TEnumSet o) const { return FromBits(bits_ & o.bits_); }
    TEnumSet& operator+=(TEnumSet o) { bits_ |= o.bits_; return *this; }
    TEnumSet& operator-=(TEnumSet o) { bits_ &= ~o.bits_; return *this; }
    constexpr bool operator==(const TEnumSet&) const = default;
private:
    U bits_ = 0;
};

// ---- option sets --------------------------------------------------------------

enum TLTPaintOption {
    toHideFocusRect, toHideSelection, toHotTrack, toPopupMode, toShowBackground, toShowButtons,
    toShowDropmark, toShowHorzGridLines, toShowRoot, toShowTreeLines, toShowVertGridLines, toThemeAware,
    toUseBlendedImages, toGhostedIfUnfocused, toFullVertGridLines, toAlwaysHideSelection,
    toUseBlendedSelection
};
using TLTPaintOptions = TEnumSet<TLTPaintOption, uint32_t>;

enum TLTAnimationOption { toAnimatedToggle };
using TLTAnimationOptions = TEnumSet<TLTAnimationOption, uint8_t>;

enum TLTAutoOption {
    toAutoDropExpand, toAutoExpand, toAutoScroll, toAutoScrollOnExpand, toAutoSort, toAutoSpanColumns,
    toAutoTristateTracking, toAutoHideButtons, toAutoDeleteMovedNodes, toDisableAutoscrollOnFocus,
    toAutoChangeScale, toAutoFreeOnCollapse
};
using TLTAutoOptions = TEnumSet<TLTAutoOption, uint16_t>;

enum TLTSelectionOption {
    toDisableDrawSelection, toExtendedFocus, toFullRowSelect, toLevelSelectConstraint, toMiddleClickSelect,
    toMultiSelect, toRightClickSelect, toSiblingSelectConstraint, toCenterScrollIntoView,
    toSimpleDrawSelection
};
using TLTSelectionOptions = TEnumSet<TLTSelectionOption, uint16_t>;

enum TLTMiscOption {
    toAcceptOLEDrop, toCheckSupport, toEditable, toFullRepaintOnResize, toGridExtensions, toInitOnSave,
    toReportMode, toToggleOnDblClick, toWheelPanning, toReadOnly, toVariableNodeHeight, toFullRowDrag
};
using TLTMiscOptions = TEnumSet<TLTMiscOption, uint16_t>;

enum TLTStringOption { toSaveCaptions, toShowStaticText, toAutoAcceptEditChange };
using TLTStringOptions = TEnumSet<TLTStringOption, uint8_t>;

// The defaults of a new tree.
constexpr TLTPaintOptions DefaultPaintOptions = {toShowButtons, toShowDropmark, toShowRoot, toShowTreeLines,
                                                 toThemeAware, toUseBlendedImages};
constexpr TLTAutoOptions DefaultAutoOptions = {toAutoDropExpand, toAutoScrollOnExpand, toAutoTristateTracking,
                                               toAutoDeleteMovedNodes};
constexpr TLTMiscOptions DefaultMiscOptions = {toAcceptOLEDrop, toFullRepaintOnResize, toInitOnSave,
                                               toToggleOnDblClick, toWheelPanning};
constexpr TLTStringOptions DefaultStringOptions = {toSaveCaptions, toAutoAcceptEditChange};
// Stored forms carry these numbers: the bit order above is fixed by them.
static_assert(DefaultPaintOptions.Bits() == 7008);
static_assert(DefaultAutoOptions.Bits() == 329);
static_assert(DefaultMiscOptions.Bits() == 425);
static_assert(DefaultStringOptions.Bits() == 5);

// ---- property enumerations ------------------------------------------------------

enum TCheckImageKind {
    ckLightCheck, ckDarkCheck, ckLightTick, ckDarkTick, ckFlat, ckXP, ckCustom, ckSystem, ckSystemFlat
};
enum TLTButtonStyle { bsRectangle, bsTriangle };
enum TLTButtonFillMode { fmTreeColor, fmWindowColor, fmShaded, fmTransparent };
enum TLTLineStyle { lsCustomStyle, lsDotted, lsSolid };
enum TLTLineMode { lmNormal, lmBands };
enum TLTNodeAlignment { naFromBottom, naFromTop, naProportional };
enum TLTIncrementalSearch { isAll, isNone, isInitializedOnly, isVisibleOnly };
enum TLTSearchDirection { sdForward, sdBackward };
enum TLTSearchStart { ssAlwaysStartOver, ssLastHit, ssFocusedNode };
enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };
enum TScrollBarStyle { ssRegular, ssFlat, ssHotTrack };
enum TDropMode { dmNowhere, dmAbove, dmOnNode, dmBelow };
enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TBiDiMode { bdLeftToRight, bdRightToLeft, bdRightToLeftNoAlign, bdRightToLeftReadingOnly };
// Scoped: the form border styles of the framework share the names.
enum class TBorderStyle { bsNone, bsSingle };
enum TLSTTextType { ttNormal, ttStatic };

} // namespace krv
