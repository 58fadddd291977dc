// The option sets' setters, the small property objects and the published
// property setters of the tree with what each changes beyond the value.
#include "tree/core/LazyTreeProperties.h"
#include "tree/paint/LazyTreeDrawing.h"
#include "tree/core/LazyTreeGlobals.h"
#include "tree/core/LazyTreeTimers.h"
#include "tree/core/LazyTrees.h"
#include "framework/Forms.h"
#include <ole2.h>
#include <algorithm>

namespace krv {

namespace {
bool Loading(const TBaseLazyTree* tree) { return (tree->ComponentState() & csLoading) != 0; }
bool Designing(const TBaseLazyTree* tree) { return (tree->ComponentState() & csDesigning) != 0; }
bool Live(const TBaseLazyTree* tree) { return tree && tree->HandleAllocated() && !Loading(tree); }

template <class S, class E> bool Toggled(S oldSet, S newSet, E e) { return oldSet.Contains(e) != newSet.Contains(e); }
template <class S, class E> bool Added(S oldSet, S newSet, E e) { return !oldSet.Contains(e) && newSet.Contains(e); }
}

// ---- option sets ------------------------------------------------------------------

void TCustomLazyTreeOptions::SetPaintOptions(TLTPaintOptions v) {
    TLTPaintOptions old = paint_;
    if (old == v) return;
    paint_ = v;
    if (!Live(owner_)) return;
    if (Toggled(old, v, toThemeAware)) {
        bool themes = v.Contains(toThemeAware) && ThemesActive();
        owner_->DoStateChange(themes ? TLazyTreeStates(tsUseThemes) : TLazyTreeStates(),
                              themes ? TLazyTreeStates() : TLazyTreeStates(tsUseThemes));
        owner_->PrepareBitmaps(true, false);
        ::RedrawWindow(owner_->Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_VALIDATE | RDW_FRAME);
    } else {
        owner_->Invalidate();
    }
}

void TCustomLazyTreeOptions::SetAutoOptions(TLTAutoOptions v) {
    TLTAutoOptions old = auto_;
    if (old == v) return;
    auto_ = v;
    if (Toggled(old, v, toAutoSpanColumns) && Live(owner_)) owner_->Invalidate();
}

void TCustomLazyTreeOptions::SetSelectionOptions(TLTSelectionOptions v) {
    TLTSelectionOptions old = selection_;
    if (old == v) return;
    selection_ = v;
    if (!owner_) return;
    if (Toggled(old, v, toMultiSelect) || Added(old, v, toLevelSelectConstraint) ||
        Added(old, v, toSiblingSelectConstraint))
        owner_->ClearSelection();
    TColumnIndex main = owner_->Header().MainColumn();
    if (!v.Contains(toExtendedFocus) && owner_->FocusedColumn() != main) {
        bool repaint = old.Contains(toExtendedFocus) && owner_->FocusedColumn() >= 1 && owner_->HandleAllocated();
        owner_->SetFocusedColumn(main);
        if (repaint) owner_->Invalidate();
    }
}

void TCustomLazyTreeOptions::SetMiscOptions(TLTMiscOptions v) {
    TLTMiscOptions old = misc_;
    if (old == v) return;
    misc_ = v;
    if (!Live(owner_)) return;
    if (Toggled(old, v, toCheckSupport)) owner_->Invalidate();
    if (Designing(owner_)) return;
    if (Toggled(old, v, toFullRepaintOnResize)) owner_->RecreateTreeWindow();
    if (Toggled(old, v, toAcceptOLEDrop)) owner_->RegisterDropTarget(v.Contains(toAcceptOLEDrop));
}

void TCustomLazyTreeOptions::AssignTo(TCustomLazyTreeOptions& dest) const {
    dest.SetPaintOptions(paint_);
    dest.SetAnimationOptions(animation_);
    dest.SetAutoOptions(auto_);
    dest.SetSelectionOptions(selection_);
    dest.SetMiscOptions(misc_);
}

// ---- colours ------------------------------------------------------------------------

TLTColors::TLTColors(TBaseLazyTree* owner)
    : owner_(owner),
      colors_{clBtnShadow, clHighlight, clHighlight, clHighlight, clBtnFace, clBtnShadow, clBtnFace, clBtnFace,
              clWindowText, clHighlight, clBtnFace, clHighlight, clHighlight, clHighlight, clBtnShadow} {}

void TLTColors::Set(Index i, TColor value) {
    if (i < 0 || i >= Count || colors_[i] == value) return;
    colors_[i] = value;
    if (!Live(owner_)) return;
    if (i == TreeLineColor) {
        owner_->PrepareBitmaps(true, true);
        owner_->Invalidate();
    } else if (i == BorderColor) {
        ::RedrawWindow(owner_->Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_NOERASE | RDW_NOCHILDREN);
    } else {
        owner_->Invalidate();
    }
}

void TLTColors::Assign(const TLTColors& other) {
    std::copy(std::begin(other.colors_), std::end(other.colors_), std::begin(colors_));
    if (owner_ && owner_->UpdateCount() == 0 && Live(owner_)) {
        owner_->PrepareBitmaps(true, true);
        owner_->Invalidate();
    }
}

// ---- scroll bars --------------------------------------------------------------------

void TScrollBarOptions::SetAlwaysVisible(bool value) {
    if (value == alwaysVisible_) return;
    alwaysVisible_ = value;
    if (Live(owner_)) owner_->RecreateTreeWindow();
}

void TScrollBarOptions::SetScrollBars(TScrollStyle value) {
    if (value == scrollBars_) return;
    scrollBars_ = value;
    if (Live(owner_)) owner_->RecreateTreeWindow();
}

void TScrollBarOptions::Assign(const TScrollBarOptions& other) {
    SetAlwaysVisible(other.alwaysVisible_);
    HorizontalIncrement = other.HorizontalIncrement;
    SetScrollBars(other.scrollBars_);
    style_ = other.style_;
    VerticalIncrement = other.VerticalIncrement;
}

// ---- clipboard formats ------------------------------------------------------------------

TClipboardFormats::TClipboardFormats(TBaseLazyTree* owner) : owner_(owner) {
    SetSorted(true);
    SetDuplicates(dupIgnore);
}

bool TClipboardFormats::Acceptable(const std::string& s) const {
    for (const TClipboardFormatEntry& e : InitializeGlobalStructures().ClipboardFormats)
        if (SameText(e.Description, s)) return owner_ && owner_->InheritsFrom(e.OwnerClass);
    return false;
}

int TClipboardFormats::AddObject(const std::string& s, void* obj) {
    return Acceptable(s) ? TStringList::AddObject(s, obj) : -1;
}

void TClipboardFormats::Insert(int, const std::string& s, void* obj) {
    // A sorted list refuses an insert at an index outright.
    if (Acceptable(s)) TStringList::AddObject(s, obj);
}

void TClipboardFormats::Assign(const TStringList& other) {
    Clear();
    for (int i = 0; i < other.Count(); ++i) Add(other[i]);
}

// ---- the tree's published properties -----------------------------------------------------

void TBaseLazyTree::RepaintTree() {
    if (HandleAllocated() && !(ComponentState() & csLoading)) Invalidate();
}

void TBaseLazyTree::RecreateTreeWindow() {
    if (!HandleAllocated()) return;
    bool wasRegistered = dropTargetRegistered_;
    RegisterDropTarget(false);
    DestroyHandle();
    HandleNeeded();
    if (wasRegistered && !dropTargetRegistered_) RegisterDropTarget(true);
}

void TBaseLazyTree::SetIndent(unsigned value) {
    if (value == indent_) return;
    indent_ = value;
    if (updateCount_ == 0 && HandleAllocated() && !(ComponentState() & csLoading)) {
        UpdateScrollBars(true);
        Invalidate();
    }
}

void TBaseLazyTree::SetAnimationDuration(unsigned value) {
    animationDuration_ = value;
    TLTAnimationOptions a = options_->AnimationOptions();
    options_->SetAnimationOptions(value ? a + toAnimatedToggle : a - toAnimatedToggle);
}

void TBaseLazyTree::SetAlignment(TAlignment value) {
    if (value == alignment_) return;
    alignment_ = value;
    RepaintTree();
}

void TBaseLazyTree::SetBiDiMode(TBiDiMode value) {
    if (value == bidiMode_) return;
    bidiMode_ = value;
    header_->TreeAppearanceChanged();
    RecreateTreeWindow();
}

void TBaseLazyTree::SetColor(TColor color) {
    TCustomControl::SetColor(color);
    header_->TreeAppearanceChanged();
    ColorsChanged();
}

// The minus and plus bars of the node buttons are drawn in the font's colour.
void TBaseLazyTree::FontChanged() {
    TCustomControl::FontChanged();
    if (header_) header_->TreeAppearanceChanged();
    if (options_) ColorsChanged();
}

void TBaseLazyTree::ColorsChanged() {
    if (ComponentState() & csLoading) return;
    if (HandleAllocated()) PrepareBitmaps(true, false);
    RepaintTree();
}

void TBaseLazyTree::Assign(const TBaseLazyTree& source) {
    if (&source == this) return;
    InUpdate(*this, [&] {
        SetTreeOptions(*source.options_);
        header_->Assign(*source.header_);
        SetColors(source.colors_);
        SetScrollBarOptions(source.scrollBarOptions_);
        SetColor(source.Color());
        font_ = source.font_;
        FontChanged();
        SetImages(source.images_);
        SetStateImages(source.stateImages_);
        SetCustomCheckImages(source.customCheckImages_);
        SetCheckImageKind(source.checkImageKind_);
        SetAlignment(source.alignment_);
        SetBiDiMode(source.bidiMode_);
        SetBackground(source.background_.get());
        SetBackgroundOffsetX(source.backgroundOffsetX_);
        SetBackgroundOffsetY(source.backgroundOffsetY_);
        SetBorderStyle(source.borderStyle_);
        SetButtonFillMode(source.buttonFillMode_);
        SetButtonStyle(source.buttonStyle_);
        SetDefaultNodeHeight(source.defaultNodeHeight_);
        SetIndent(source.indent_);
        SetMargin(source.margin_);
        SetTextMargin(source.textMargin_);
        SetSelectionCurveRadius(source.selectionCurveRadius_);
        SetLineMode(source.lineMode_);
        SetLineStyle(source.lineStyle_);
        SetNodeAlignment(source.nodeAlignment_);
        SetIncrementalSearch(source.incrementalSearch_);
        SetAnimationDuration(source.animationDuration_);
        SetPopupMenu(source.popupMenu_);
        SelectionBlendFactor = source.SelectionBlendFactor;
        ChangeDelay = source.ChangeDelay;
        AutoExpandDelay = source.AutoExpandDelay;
        AutoScrollDelay = source.AutoScrollDelay;
        AutoScrollInterval = source.AutoScrollInterval;
        EditDelay = source.EditDelay;
        IncrementalSearchTimeout = source.IncrementalSearchTimeout;
        IncrementalSearchDirection = source.IncrementalSearchDirection;
        IncrementalSearchStart = source.IncrementalSearchStart;
        DefaultPasteMode = source.DefaultPasteMode;
        DragMode = source.DragMode;
        DragType = source.DragType;
        DragImageKind = source.DragImageKind;
        DragOperations = source.DragOperations;
        DragWidth = source.DragWidth;
        DragHeight = source.DragHeight;
        HintAnimation = source.HintAnimation;
        HintMode = source.HintMode;
        ShowHint = source.ShowHint;
        Hint = source.Hint;
        WantTabs = source.WantTabs;
        clipboardFormats_.Assign(source.clipboardFormats_);
    });
}

void TBaseLazyTree::SetPopupMenu(TPopupMenu* menu) {
    popupMenu_ = menu;
    if (menu) FreeNotification(menu);
}

void TBaseLazyTree::SetBackground(HBITMAP picture) {
    background_.reset(picture ? static_cast<HBITMAP>(::CopyImage(picture, IMAGE_BITMAP, 0, 0, 0)) : nullptr);
    RepaintTree();
}

void TBaseLazyTree::SetBackgroundOffsetX(int value) {
    if (value == backgroundOffsetX_) return;
    backgroundOffsetX_ = value;
    RepaintTree();
}

void TBaseLazyTree::SetBackgroundOffsetY(int value) {
    if (value == backgroundOffsetY_) return;
    backgroundOffsetY_ = value;
    RepaintTree();
}

void TBaseLazyTree::SetBorderStyle(TBorderStyle value) {
    if (value == borderStyle_) return;
    borderStyle_ = value;
    RecreateTreeWindow();
}

bool TBaseLazyTree::CanFocus() const {
    const TWinControl* top = this;
    while (top->Parent()) top = top->Parent();
    return top != this && dynamic_cast<const TForm*>(top) && TCustomControl::CanFocus();
}

void TBaseLazyTree::SetCtl3D(bool value) {
    if (value == ctl3D_) return;
    ctl3D_ = value;
    RecreateTreeWindow();
}

void TBaseLazyTree::SetButtonFillMode(TLTButtonFillMode value) {
    if (value == buttonFillMode_) return;
    buttonFillMode_ = value;
    PrepareBitmaps(true, false);
    RepaintTree();
}

void TBaseLazyTree::SetButtonStyle(TLTButtonStyle value) {
    if (value == buttonStyle_) return;
    buttonStyle_ = value;
    PrepareBitmaps(true, false);
    RepaintTree();
}

void TBaseLazyTree::SetCheckImageKind(TCheckImageKind value) {
    if (value < ckLightCheck || value > ckSystemFlat) value = ckCustom;
    if (value == checkImageKind_) return;
    checkImageKind_ = value;
    if (HandleAllocated() && updateCount_ == 0 && !(ComponentState() & csLoading)) Invalidate();
}

// Lists the tree refers to tell it when they go.
void TBaseLazyTree::WatchList(TImageList*& field, TChangeLink& link, TImageList* value) {
    if (field) {
        RemoveFreeNotification(field);
        field->UnRegisterChanges(&link);
    }
    field = value;
    if (value) {
        FreeNotification(value);
        // New pictures in a list the tree shows are new pictures on screen.
        link.OnChange = [this] { RepaintTree(); };
        value->RegisterChanges(&link);
    }
}

void TBaseLazyTree::SetCustomCheckImages(TImageList* value) {
    if (value == customCheckImages_) return;
    WatchList(customCheckImages_, customCheckImagesLink_, value);
    RepaintTree();
}

TImageList* TBaseLazyTree::CheckImages() const {
    if (checkImageKind_ == ckCustom) return customCheckImages_;
    return CheckImageList(checkImageKind_);
}

void TBaseLazyTree::SetImages(TImageList* value) {
    if (value == images_) return;
    WatchList(images_, imagesLink_, value);
    RepaintTree();
}

void TBaseLazyTree::SetStateImages(TImageList* value) {
    if (value == stateImages_) return;
    WatchList(stateImages_, stateImagesLink_, value);
    RepaintTree();
}

void TBaseLazyTree::Notification(TComponent* component, TOperation operation) {
    if (operation == opRemove && component) {
        bool hit = false;
        for (TImageList** field : {&images_, &stateImages_, &customCheckImages_})
            if (*field == component) {
                *field = nullptr;
                hit = true;
            }
        if (hit && !customCheckImages_ && checkImageKind_ == ckCustom) checkImageKind_ = ckLightCheck;
        if (hit && !destroying_) RepaintTree();
        if (header_->Images() == component) header_->SetImages(nullptr);
        if (header_->PopupMenu() == component) header_->SetPopupMenu(nullptr);
        if (popupMenu_ == component) popupMenu_ = nullptr;
    }
    TCustomControl::Notification(component, operation);
}

// A form that stored the options as one old set: every named option is moved
// to the new set that holds the option of the same name.
void TBaseLazyTree::ReadOldOptions(const std::vector<std::string>& names) {
    static const char* const paintNames[] = {
        "HideFocusRect", "HideSelection", "HotTrack", "PopupMode", "ShowBackground", "ShowButtons", "ShowDropmark",
        "ShowHorzGridLines", "ShowRoot", "ShowTreeLines", "ShowVertGridLines", "ThemeAware", "UseBlendedImages",
        "GhostedIfUnfocused", "FullVertGridLines", "AlwaysHideSelection", "UseBlendedSelection"};
    static const char* const animationNames[] = {"AnimatedToggle"};
    static const char* const autoNames[] = {
        "AutoDropExpand", "AutoExpand", "AutoScroll", "AutoScrollOnExpand", "AutoSort", "AutoSpanColumns",
        "AutoTristateTracking", "AutoHideButtons", "AutoDeleteMovedNodes", "DisableAutoscrollOnFocus",
        "AutoChangeScale", "AutoFreeOnCollapse"};
    static const char* const selectionNames[] = {
        "DisableDrawSelection", "ExtendedFocus", "FullRowSelect", "LevelSelectConstraint", "MiddleClickSelect",
        "MultiSelect", "RightClickSelect", "SiblingSelectConstraint", "CenterScrollIntoView", "SimpleDrawSelection"};
    static const char* const miscNames[] = {
        "AcceptOLEDrop", "CheckSupport", "Editable", "FullRepaintOnResize", "GridExtensions", "InitOnSave",
        "ReportMode", "ToggleOnDblClick", "WheelPanning", "ReadOnly", "VariableNodeHeight", "FullRowDrag"};
    auto find = [](const auto& table, const std::string& name) -> int {
        for (size_t i = 0; i < std::size(table); ++i)
            if (name == table[i]) return int(i);
        return -1;
    };
    TCustomLazyTreeOptions& o = *options_;
    o.SetPaintOptions({});
    o.SetAnimationOptions({});
    o.SetAutoOptions({});
    o.SetSelectionOptions({});
    o.SetMiscOptions({});
    for (const std::string& full : names) {
        if (full.size() < 3 || full.compare(0, 2, "vo") != 0) continue;
        std::string name = full.substr(2);
        if (int i = find(paintNames, name); i >= 0) o.SetPaintOptions(o.PaintOptions() + TLTPaintOption(i));
        else if (int i = find(animationNames, name); i >= 0) o.SetAnimationOptions(o.AnimationOptions() + TLTAnimationOption(i));
        else if (int i = find(autoNames, name); i >= 0) o.SetAutoOptions(o.AutoOptions() + TLTAutoOption(i));
        else if (int i = find(selectionNames, name); i >= 0) o.SetSelectionOptions(o.SelectionOptions() + TLTSelectionOption(i));
        else if (int i = find(miscNames, name); i >= 0) o.SetMiscOptions(o.MiscOptions() + TLTMiscOption(i));
    }
}

void TBaseLazyTree::SetIncrementalSearch(TLTIncrementalSearch value) {
    if (value == incrementalSearch_) return;
    incrementalSearch_ = value;
    if (value == isNone) {
        if (HandleAllocated()) ::KillTimer(handle_, kSearchTimer);
        searchBuffer_.clear();
        lastSearchNode_ = nullptr;
        DoStateChange({}, {tsIncrementalSearching, tsIncrementalSearchPending});
    }
}

void TBaseLazyTree::SetLineMode(TLTLineMode value) {
    if (value == lineMode_) return;
    lineMode_ = value;
    RepaintTree();
}

void TBaseLazyTree::SetLineStyle(TLTLineStyle value) {
    if (value == lineStyle_) return;
    lineStyle_ = value;
    PrepareBitmaps(false, true);
    RepaintTree();
}

void TBaseLazyTree::SetMargin(int value) {
    if (value == margin_) return;
    margin_ = value;
    RepaintTree();
}

void TBaseLazyTree::SetTextMargin(int value) {
    if (value == textMargin_) return;
    textMargin_ = value;
    RepaintTree();
}

void TBaseLazyTree::SetSelectionCurveRadius(int value) {
    if (value == selectionCurveRadius_) return;
    selectionCurveRadius_ = value;
    RepaintTree();
}

void TBaseLazyTree::SetNodeAlignment(TLTNodeAlignment value) {
    if (value == nodeAlignment_) return;
    nodeAlignment_ = value;
    RepaintTree();
}

void TBaseLazyTree::SetFocusedColumn(TColumnIndex column) {
    if (column == focusedColumn_) return;
    if (!DoFocusChanging(focusedNode_, focusedNode_, focusedColumn_, column)) return;
    CancelEditNode();
    focusedColumn_ = column;
    if (focusedNode_) {
        ScrollIntoView(focusedNode_, SelectionOption(toCenterScrollIntoView), !AutoOption(toDisableAutoscrollOnFocus));
        InvalidateNode(focusedNode_);
    }
    DoFocusChanged(focusedNode_, focusedColumn_);
}

void TBaseLazyTree::SetTopNode(PLazyNode node) {
    if (!node || node == root_ || !ExpandParents(node)) return;
    int top = GetNodeTop(node);
    if (top >= 0) SetOffsetY(-top);
}

} // namespace krv
