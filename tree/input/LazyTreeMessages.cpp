// The tree window's input messages: mouse buttons and moves through the hit
// test, keys, the wheel, both scroll bars, the auto-scroll, auto-expand and
// search timers, focus changes, and the standard tree-view queries that
// accessibility tools send.
#include "tree/core/LazyTreeTimers.h"
#include "tree/core/LazyTrees.h"
#include "tree/transfer/LazyTreeDragImage.h"
#include "framework/Forms.h"
#include "tree/paint/LazyTreeDrawing.h"
#include <commctrl.h>
#include <algorithm>

namespace krv {

namespace {
constexpr UINT kSupportsRequest = 0xB7D0;
// The tree-view header of this toolchain lacks the focused-item flag.
constexpr UINT kItemFocused = 0x0001;

POINT PointOf(LPARAM lParam) { return POINT{short(LOWORD(lParam)), short(HIWORD(lParam))}; }
}

void TBaseLazyTree::KillInputTimers() {
    for (UINT id : {kExpandTimer, kEditTimer, kHeaderTimer, kScrollTimer, kSearchTimer}) StopChangeTimer(id);
    DoStateChange({}, {tsScrollPending, tsScrolling, tsIncrementalSearching, tsIncrementalSearchPending});
    searchBuffer_.clear();
}

// A press (on the rows or on the header) or a key ends this tree's hint.
// Asked before the header sees the message: it keeps the presses it takes.
void TBaseLazyTree::CancelHintOnPress(UINT msg) {
    switch (msg) {
    case WM_LBUTTONDOWN: case WM_RBUTTONDOWN: case WM_MBUTTONDOWN:
    case WM_NCLBUTTONDOWN: case WM_NCRBUTTONDOWN: case WM_NCMBUTTONDOWN:
    case WM_KEYDOWN:
        if (HintManager().HintControl() == this) HintManager().CancelHint();
        break;
    default:
        break;
    }
}

bool TBaseLazyTree::HandleInputMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDBLCLK:
    case WM_MOUSEMOVE:
    case WM_NCLBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
    case WM_NCMBUTTONDOWN:
    case WM_MOUSELEAVE:
    case WM_MOUSEWHEEL:
        return HandleMouseMessage(msg, wParam, lParam, result);
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
        return HandleKeyMessage(msg, wParam, result);
    case WM_TIMER:
        return HandleTimerMessage(wParam, result);
    case WM_HSCROLL:
    case WM_VSCROLL:
        HandleScrollMessage(msg == WM_HSCROLL ? SB_HORZ : SB_VERT, LOWORD(wParam));
        result = 0;
        return true;
    case WM_CANCELMODE:
    case WM_KILLFOCUS:
    case WM_SETFOCUS:
        HandleFocusMessage(msg);
        return false;
    case WM_SIZE:
        TCustomControl::HandleMessage(msg, wParam, lParam, result);
        header_->ClientWidthChanged(ClientWidth());
        UpdateScrollBars(true);
        if (header_->ColumnCount() == 0) UpdateEditBounds();
        result = 0;
        return true;
    case WM_GETDLGCODE:
        result = DLGC_WANTARROWS | DLGC_WANTCHARS | (WantTabs ? DLGC_WANTTAB : 0);
        return true;
    case WM_COPY:
        CopyToClipboard();
        result = 0;
        return true;
    case WM_CUT:
        CutToClipboard();
        result = 0;
        return true;
    case WM_PASTE:
        PasteFromClipboard();
        result = 0;
        return true;
    case WM_SYSCOLORCHANGE:
        // The check images carry system colours; then it is a colour change like any other.
        RebuildCheckImageLists();
        ColorsChanged();
        return false;
    case WM_THEMECHANGED:
        if (options_->PaintOptions().Contains(toThemeAware) && ThemesActive()) DoStateChange(tsUseThemes);
        else DoStateChange({}, tsUseThemes);
        RepaintTree();
        return false;
    case WM_ENABLE:
        header_->Invalidate();
        RepaintTree();
        return false;
    case WM_PRINT:
        PrintWindowTo(reinterpret_cast<HDC>(wParam), DWORD(lParam));
        result = 0;
        return true;
    case WM_SETCURSOR:
        return HandleSetCursor(wParam, lParam, result);
    case WM_CONTEXTMENU:
        HandleContextMenu(PointOf(lParam));
        result = 0;
        return true;
    case WM_COMMAND:
        // The editor's own change notifications go back to it.
        if (editLink_ && lParam && HIWORD(wParam) == EN_UPDATE) {
            editLink_->ForwardMessage(msg, wParam, lParam);
            result = 0;
            return true;
        }
        return false;
    case kSupportsRequest:
        result = 1;
        return true;
    case TVM_GETITEMA:
    case TVM_GETITEMW:
    case TVM_GETITEMRECT:
    case TVM_GETNEXTITEM:
        result = AnswerTreeViewQuery(msg, wParam, lParam);
        return true;
    default:
        return false;
    }
}

// Buttons go through the hit test; the framework's mouse events follow them.
bool TBaseLazyTree::HandleMouseMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
    case WM_MOUSEMOVE:
        if (HandleAllocated()) {
            TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, handle_, 0};
            ::TrackMouseEvent(&track);
        }
        HandleMouseMoveTree(MouseShiftState(wParam), PointOf(lParam));
        HintMouseMoved(PointOf(lParam));
        return false;
    case WM_NCLBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
    case WM_NCMBUTTONDOWN:
        // A press on the border or a scroll bar focuses the tree too.
        if (!Focused() && CanFocus()) SetFocus();
        return false;
    case WM_MOUSELEAVE:
        if (HintManager().HintControl() == this) HintManager().CancelHint();
        if (!states_.Contains(tsOLEDragging) && !states_.Contains(tsLeftButtonDown) &&
            !states_.Contains(tsRightButtonDown) && !states_.Contains(tsMiddleButtonDown) &&
            !states_.Contains(tsWheelPanning) && !states_.Contains(tsWheelScrolling))
            StopAutoScroll();
        UpdateHotNode(nullptr);
        return false;
    case WM_MOUSEWHEEL: {
        StopWheelPanning();
        TShiftState shift = MouseShiftState(LOWORD(wParam));
        // The general wheel handling (the owner's event) goes first.
        if (!DoMouseWheel(shift, short(HIWORD(wParam)), PointOf(lParam))) HandleMouseWheel(short(HIWORD(wParam)), shift);
        result = 0;
        return true;
    }
    default:
        break;
    }
    POINT p = PointOf(lParam);
    THitTestResult hi;
    GetHitTestInfoAt(p.x, p.y, true, hi);
    TMouseButton button = (msg == WM_RBUTTONDOWN || msg == WM_RBUTTONUP || msg == WM_RBUTTONDBLCLK) ? mbRight
                          : (msg == WM_MBUTTONDOWN || msg == WM_MBUTTONUP || msg == WM_MBUTTONDBLCLK) ? mbMiddle
                                                                                                     : mbLeft;
    TShiftState shift = MouseShiftState(wParam);
    if (msg == WM_LBUTTONDOWN || msg == WM_RBUTTONDOWN || msg == WM_MBUTTONDOWN)
        HandleMouseDown(button, shift, p, hi);
    else if (msg == WM_LBUTTONUP || msg == WM_RBUTTONUP || msg == WM_MBUTTONUP)
        HandleMouseUp(button, shift, p, hi);
    else
        HandleMouseDblClick(button, shift, p, hi);
    return false;
}

bool TBaseLazyTree::HandleKeyMessage(UINT msg, WPARAM wParam, LRESULT& result) {
    switch (msg) {
    case WM_KEYDOWN: {
        StopWheelPanning();
        WORD key = WORD(wParam);
        TLifeWatch self(this);   // the Apps key's menu may close the tree
        HandleKeyDown(key, KeyboardShiftState());
        if (key == 0 || self.Gone()) {
            result = 0;
            return true;
        }
        return false;
    }
    case WM_KEYUP:
        HandleKeyUp(WORD(wParam), KeyboardShiftState());
        if (wParam == VK_APPS && states_.Contains(tsPopupMenuShown)) {
            DoStateChange({}, tsPopupMenuShown);
            result = 0;
            return true;
        }
        return false;
    default:   // WM_CHAR
        if (states_.Contains(tsIncrementalSearchPending)) {
            DoStateChange({}, tsIncrementalSearchPending);
            IncrementalSearchChar(WORD(wParam));
        }
        return false;
    }
}

// The auto-scroll (and wheel panning), search and auto-expand timers.
bool TBaseLazyTree::HandleTimerMessage(WPARAM id, LRESULT& result) {
    switch (id) {
    case kScrollTimer:
        if (states_.Contains(tsWheelPanning) || states_.Contains(tsWheelScrolling)) {
            autoScrollDirections_ = ScrollDirectionsAt(lastMouse_.x, lastMouse_.y);
            ScrollTimerStep();
        } else if (states_.Contains(tsScrollPending)) {
            StopChangeTimer(kScrollTimer);
            DoStateChange(tsScrolling, tsScrollPending);
            // What waits in the queue (the mouse's last moves) decides the first step;
            // a button released there has ended the scroll before it began.
            Application().ProcessMessages();
            if (!states_.Contains(tsScrolling)) break;
            StartTimer(kScrollTimer, AutoScrollInterval);
            ScrollTimerStep();
        } else if (states_.Contains(tsScrolling)) {
            ScrollTimerStep();
        } else {
            StopChangeTimer(kScrollTimer);
        }
        break;
    case kSearchTimer:
        StopChangeTimer(kSearchTimer);
        DoStateChange({}, tsIncrementalSearching);
        searchBuffer_.clear();
        lastSearchNode_ = nullptr;
        break;
    case kExpandTimer:
        StopChangeTimer(kExpandTimer);
        if (dropTargetNode_ && (dropTargetNode_->States & vsHasChildren) && !(dropTargetNode_->States & vsExpanded)) {
            // The drag image of a tree of ours lies over the rows that move: off the screen meanwhile.
            TLTDragImage* image = DropDragImage();
            if (image) image->HideImage();
            ToggleNode(dropTargetNode_);
            Update();
            if (image) image->ShowImage();
        }
        break;
    default:
        return false;
    }
    result = 0;
    return true;
}

// Losing the focus or the mouse ends what a press or a key had begun.
void TBaseLazyTree::HandleFocusMessage(UINT msg) {
    switch (msg) {
    case WM_CANCELMODE:
        KillInputTimers();
        lastSearchNode_ = nullptr;
        StopWheelPanning();
        if (states_.Contains(tsMouseCheckPending)) EndPendingCheck(false);
        DoStateChange({}, {tsLeftButtonDown, tsRightButtonDown, tsMiddleButtonDown, tsOLEDragPending,
                           tsDrawSelPending, tsDrawSelecting, tsClearPending, tsToggleFocusedSelection,
                           tsEditPending});
        break;
    case WM_KILLFOCUS:
        StopWheelPanning();
        KillInputTimers();
        lastSearchNode_ = nullptr;
        if (states_.Contains(tsKeyCheckPending)) EndPendingCheck(false);
        if (HandleAllocated()) Invalidate();
        break;
    default:   // WM_SETFOCUS
        if (HandleAllocated()) Invalidate();
        break;
    }
}

bool TBaseLazyTree::HandleSetCursor(WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (LOWORD(lParam) != HTCLIENT || reinterpret_cast<HWND>(wParam) != handle_) return false;
    if (panCursorName_) {
        result = TRUE;
        return true;
    }
    HCURSOR cursor = nullptr;
    if (hotNode_ && options_->PaintOptions().Contains(toHotTrack)) cursor = ::LoadCursorA(nullptr, IDC_HAND);
    DoGetCursor(cursor);
    if (!cursor) return false;
    ::SetCursor(cursor);
    result = TRUE;
    return true;
}

// p in screen coordinates, or (-1, -1) from the keyboard.
void TBaseLazyTree::HandleContextMenu(POINT p) {
    DoStateChange({}, {tsClearPending, tsEditPending, tsOLEDragPending});
    if (p.x == -1 && p.y == -1) {
        // From the keyboard: below the focused node's text.
        p = POINT{0, 0};
        if (focusedNode_) {
            RECT r = GetDisplayRect(focusedNode_, focusedColumn_, true);
            p = POINT{r.left, r.bottom};
        }
    } else {
        ::ScreenToClient(handle_, &p);
        // The header shows its own menu when the button comes up over it.
        if (header_->InHeader(p)) return;
    }
    DoPopupMenu(focusedNode_, focusedColumn_, p);
}

// The image of the drag over this tree that one of our trees draws itself (none
// while the system shows the drag's image).
TLTDragImage* TBaseLazyTree::DropDragImage() {
    ILTDragManager* manager = dragManager_.get();
    if (!manager || !manager->TreeIsDropTarget()) return nullptr;
    TBaseLazyTree* source = manager->SourceTree();
    if (!source) source = this;
    TLTDragImage& image = source->DragImage();
    return image.Visible() ? &image : nullptr;
}

// Paints the tree as it looks on the screen into a device context whose
// origin is the window's top-left corner.
void TBaseLazyTree::PrintWindowTo(HDC dc, DWORD flags) {
    if (!HandleAllocated() || ((flags & PRF_CHECKVISIBLE) && !::IsWindowVisible(handle_))) return;
    RECT window;
    ::GetWindowRect(handle_, &window);
    POINT origin{0, 0};
    ::ClientToScreen(handle_, &origin);
    int left = origin.x - window.left, top = origin.y - window.top;
    if ((flags & PRF_NONCLIENT) && header_->Options().Contains(hoVisible))
        header_->Columns().PaintHeader(dc, RECT{left, top - int(header_->Height()), left + ClientWidth(), top}, offsetX_);
    if (flags & PRF_CLIENT) {
        TCanvas canvas(dc);
        RECT client = ClientRect();
        ::OffsetRect(&client, -offsetX_, -offsetY_);
        PaintTree(canvas, client, POINT{left, top}, poAll);
    }
}

// ---- wheel and scroll bars ----------------------------------------------------------------------------

void TBaseLazyTree::HandleMouseWheel(int delta, TShiftState shift) {
    bool ctrl = shift & ssCtrl;
    if (VerticalRange() > ClientHeight()) {
        int lines;
        UINT scrollLines = 3;
        ::SystemParametersInfoA(SPI_GETWHEELSCROLLLINES, 0, &scrollLines, 0);
        if (ctrl || scrollLines == WHEEL_PAGESCROLL)
            lines = (ClientHeight() / std::max(1, defaultNodeHeight_)) * (delta / WHEEL_DELTA);
        else
            lines = delta * int(scrollLines) / WHEEL_DELTA;
        DoSetOffsetXY(POINT{offsetX_, offsetY_ + lines * defaultNodeHeight_});
    } else {
        int steps = ctrl ? (ClientWidth() / std::max(1, int(indent_))) * (delta / WHEEL_DELTA) : delta / WHEEL_DELTA;
        DoSetOffsetXY(POINT{offsetX_ + steps * int(indent_), offsetY_});
    }
}

void TBaseLazyTree::HandleScrollMessage(int bar, WORD code) {
    bool horizontal = bar == SB_HORZ;
    int offset = horizontal ? offsetX_ : offsetY_;
    int line = horizontal ? int(indent_) : defaultNodeHeight_;
    int page = horizontal ? ClientWidth() : ClientHeight();
    int range = horizontal ? rangeX_ : VerticalRange();
    int value = offset;
    switch (code) {
    case SB_LINEUP: value = offset + line; break;
    case SB_LINEDOWN: value = offset - line; break;
    case SB_PAGEUP: value = offset + page; break;
    case SB_PAGEDOWN: value = offset - page; break;
    case SB_TOP: value = 0; break;
    case SB_BOTTOM: value = -range; break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: {
        if (code == SB_THUMBTRACK) DoStateChange(tsThumbTracking);
        SCROLLINFO si{};
        si.cbSize = sizeof si;
        si.fMask = SIF_TRACKPOS;
        ::GetScrollInfo(handle_, bar, &si);
        value = -si.nTrackPos;
        break;
    }
    case SB_ENDSCROLL:
        DoStateChange({}, tsThumbTracking);
        return;
    default:
        return;
    }
    DoSetOffsetXY(horizontal ? POINT{value, offsetY_} : POINT{offsetX_, value});
}

// Sets one bar's range and shows or hides it. The range goes in first: the
// system shows the bar itself when the range needs it and draws it once,
// right (showing it first drew it with the old range, and the resize that
// causes updated the bars again). A bar that already shows what it would be
// given is left alone: each update redraws it, and one change of the tree
// updates the bars several times.
void TBaseLazyTree::SetScrollInfoShown(int bar, const SCROLLINFO& si, bool show, bool doRepaint) {
    LONG_PTR bit = bar == SB_VERT ? WS_VSCROLL : WS_HSCROLL;
    bool shown = (::GetWindowLongPtrW(handle_, GWL_STYLE) & bit) != 0;
    SCROLLINFO now{};
    now.cbSize = sizeof now;
    now.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    if (shown == show && !(si.fMask & SIF_DISABLENOSCROLL) && ::GetScrollInfo(handle_, bar, &now) &&
        now.nMin == si.nMin && now.nMax == si.nMax && now.nPage == si.nPage && now.nPos == si.nPos)
        return;
    ::SetScrollInfo(handle_, bar, &si, doRepaint);
    if (show != ((::GetWindowLongPtrW(handle_, GWL_STYLE) & bit) != 0)) ::ShowScrollBar(handle_, bar, show);
}

void TBaseLazyTree::UpdateScrollBars(bool doRepaint) {
    if (updateCount_ != 0 || settingScrollBars_) return;
    // Showing or hiding one bar resizes the client area, which can change
    // what the other needs: settle in a few passes instead of re-entering
    // from each WM_SIZE the bars cause (which could swing back and forth).
    settingScrollBars_ = true;
    const int oldX = offsetX_, oldY = offsetY_;
    for (int pass = 0; pass < 3; ++pass) {
        const int width = ClientWidth(), height = ClientHeight();
        UpdateScrollBarsOnce(doRepaint);
        if (width == ClientWidth() && height == ClientHeight()) break;
    }
    settingScrollBars_ = false;
    // A clamped offset moved every row (a tree scrolled to its end that got
    // shorter): what the caller repaints around its change is not enough.
    if ((oldX != offsetX_ || oldY != offsetY_) && HandleAllocated()) {
        Invalidate();
        if (oldX != offsetX_) header_->Invalidate();
    }
}

void TBaseLazyTree::UpdateScrollBarsOnce(bool doRepaint) {
    int clientWidth = ClientWidth(), clientHeight = ClientHeight();
    int verticalRange = VerticalRange();
    offsetY_ = std::clamp(offsetY_, std::min(0, clientHeight - verticalRange), 0);
    if (!HandleAllocated()) return;
    TScrollStyle bars = scrollBarOptions_.ScrollBars();
    bool always = scrollBarOptions_.AlwaysVisible();

    // Horizontal first: showing it changes the client height.
    if (header_->ColumnCount() > 0) {
        int right = 0;
        for (TColumnIndex c : header_->VisibleColumnsInOrder()) {
            int l, r;
            header_->ColumnBounds(c, l, r);
            right = std::max(right, r);
        }
        rangeX_ = right;
    } else if (::IsWindowVisible(handle_)) {
        // Measuring a hidden tree would cache widths of texts not yet set.
        rangeX_ = WidestVisibleExtent();
    }
    // One bar: shown over the range while the content overflows (or always),
    // else hidden; answers the offset the bar now has.
    auto updateBar = [&](int bar, bool wanted, int clientExtent, int range, int offset) {
        if (!wanted) {
            ::ShowScrollBar(handle_, bar, FALSE);
            return offset;
        }
        SCROLLINFO si{};
        si.cbSize = sizeof si;
        si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
        const bool show = clientExtent < range || always;
        if (show) {
            if (always) si.fMask |= SIF_DISABLENOSCROLL;
            si.nMax = range;
            si.nPage = UINT(std::max(0, clientExtent + 1));
            si.nPos = -offset;
        }
        SetScrollInfoShown(bar, si, show, doRepaint);
        return -::GetScrollPos(handle_, bar);
    };
    offsetX_ = updateBar(SB_HORZ, bars == ssHorizontal || bars == ssBoth, clientWidth, rangeX_, offsetX_);
    clientWidth = ClientWidth();
    offsetX_ = std::clamp(offsetX_, std::min(0, clientWidth - rangeX_), 0);

    clientHeight = ClientHeight();
    offsetY_ = std::clamp(offsetY_, std::min(0, clientHeight - verticalRange), 0);
    offsetY_ = updateBar(SB_VERT, bars == ssVertical || bars == ssBoth, clientHeight, verticalRange, offsetY_);
    offsetY_ = std::clamp(offsetY_, std::min(0, ClientHeight() - verticalRange), 0);
}

bool TBaseLazyTree::DoSetOffsetXY(POINT value, bool scrollBars) {
    int clientWidth = ClientWidth(), clientHeight = ClientHeight();
    int x = std::clamp<int>(value.x, std::min(0, clientWidth - rangeX_), 0);
    int y = std::clamp<int>(value.y, std::min(0, clientHeight - VerticalRange()), 0);
    int dx = x - offsetX_, dy = y - offsetY_;
    if (dx == 0 && dy == 0) return false;
    offsetX_ = x;
    offsetY_ = y;
    // Inside an update the bars and the window are left to its end, which
    // sets both from the offsets: a walk that scrolls to each of thousands
    // of nodes would otherwise talk to the window system for every one.
    if (HandleAllocated()) {
        if (updateCount_ == 0) {
            if (scrollBars) {
                if (dy) ::SetScrollPos(handle_, SB_VERT, -offsetY_, TRUE);
                if (dx) ::SetScrollPos(handle_, SB_HORZ, -offsetX_, TRUE);
            }
            Invalidate();
        }
        if (dx) header_->Invalidate();
    }
    DoScroll(dx, dy);
    if (states_.Contains(tsEditing)) UpdateEditBounds();
    return true;
}

void TBaseLazyTree::SetOffsetY(int value) { DoSetOffsetXY(POINT{offsetX_, value}); }

void TBaseLazyTree::SetOffsetX(int value) { DoSetOffsetXY(POINT{value, offsetY_}); }

// ---- tree-view queries --------------------------------------------------------------------------------

LRESULT TBaseLazyTree::AnswerTreeViewQuery(UINT msg, WPARAM wParam, LPARAM lParam) {
    // Handles come from any caller (accessibility tools, other programs): one
    // that names no live node of this tree is an unknown item, and what asks
    // about it gets the system control's answer, nothing. Null and TVI_ROOT
    // stand for the top level.
    bool unknown = false;
    auto node = [this, &unknown](HTREEITEM item) -> PLazyNode {
        auto n = reinterpret_cast<PLazyNode>(item);
        if (!n || item == TVI_ROOT) return nullptr;
        if (!IsLiveNode(n)) {
            unknown = true;
            return nullptr;
        }
        return n;
    };
    auto item = [](PLazyNode n) { return reinterpret_cast<LRESULT>(n); };
    if (msg == TVM_GETNEXTITEM) {
        PLazyNode n = node(reinterpret_cast<HTREEITEM>(lParam));
        switch (wParam) {
        case TVGN_ROOT: return item(GetFirstNoInit());
        case TVGN_NEXT: return n ? item(n->NextSibling) : 0;
        case TVGN_PREVIOUS: return n ? item(n->PrevSibling) : 0;
        case TVGN_PARENT: return n && n->Parent != root_ ? item(n->Parent) : 0;
        case TVGN_CHILD: return n ? item(n->FirstChild) : unknown ? 0 : item(GetFirstNoInit());
        case TVGN_FIRSTVISIBLE: return item(GetTopNode());
        case TVGN_NEXTVISIBLE: return n ? item(GetNextVisibleNoInit(n)) : 0;
        case TVGN_PREVIOUSVISIBLE: return n ? item(GetPreviousVisibleNoInit(n)) : 0;
        case TVGN_DROPHILITE: return item(dropTargetNode_);
        case TVGN_CARET: return item(focusedNode_);
        case TVGN_LASTVISIBLE: return item(GetLastVisibleNoInit());
        default: return 0;
        }
    }
    if (msg == TVM_GETITEMRECT) {
        auto* r = reinterpret_cast<RECT*>(lParam);
        if (!r) return FALSE;
        PLazyNode n = node(*reinterpret_cast<HTREEITEM*>(lParam));
        if (!n || !IsEffectivelyVisible(n)) return FALSE;
        *r = GetDisplayRect(n, ColumnNone, wParam != 0);
        return TRUE;
    }
    // TVM_GETITEM: the state flags from the node.
    auto* tv = reinterpret_cast<TVITEMA*>(lParam);
    if (!tv) return FALSE;
    PLazyNode n = node(tv->hItem);
    if (!n) return FALSE;
    if (tv->mask & TVIF_STATE) {
        UINT state = 0;
        if (n->States & vsSelected) state |= TVIS_SELECTED;
        if (n == focusedNode_) state |= kItemFocused;
        if (n == dropTargetNode_) state |= TVIS_DROPHILITED;
        if (n->States & vsExpanded) state |= TVIS_EXPANDED;
        tv->state = state & (tv->stateMask ? tv->stateMask : ~0u);
    }
    if (tv->mask & TVIF_CHILDREN) tv->cChildren = (n->States & vsHasChildren) ? 1 : 0;
    return TRUE;
}

} // namespace krv
