// Mouse clicks: focus, click and range selection with Shift and Ctrl, toggling
// and checking by mouse, the selection frame, hot tracking, the edit delay,
// drag start and the middle-button panning window.
#include "tree/core/LazyTreeTimers.h"
#include "tree/core/LazyTrees.h"
#include <algorithm>
#include <cstring>

namespace krv {

namespace {
constexpr unsigned kPanInterval = 20;
const char* const kPanningClass = "LTPanningWindow";
constexpr uint16_t kItemParts = hpOnItemLabel | hpOnNormalIcon | hpOnStateIcon | hpOnItemCheckbox | hpOnItemButton;

RECT Normalised(RECT r) {
    if (r.left > r.right) std::swap(r.left, r.right);
    if (r.top > r.bottom) std::swap(r.top, r.bottom);
    return r;
}

bool IsEmptyRect(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }
}

// ---- click selection ------------------------------------------------------------------------

void TBaseLazyTree::AddToSelectionRange(PLazyNode anchor, PLazyNode target, bool addOnly) {
    if (!anchor || !target) return;
    auto visibleEnd = [&](PLazyNode n) {
        while (n && n != root_ && !IsEffectivelyVisible(n)) n = GetPreviousVisibleNoInit(n);
        return n == root_ ? nullptr : n;
    };
    PLazyNode from = visibleEnd(anchor), to = visibleEnd(target);
    if (!from || !to) return;
    if (CompareNodePositions(from, to) > 0) std::swap(from, to);
    PLazyNode keepAnchor = rangeAnchor_;
    bool anchorSelected = keepAnchor && (keepAnchor->States & vsSelected);
    InUpdate(*this, [&] {
        if (!addOnly) ClearSelection();
        TNodeArray nodes;
        for (PLazyNode run = from; run; run = GetNextVisibleNoInit(run)) {
            if (!(run->States & vsSelected)) nodes.push_back(run);
            if (run == to) break;
        }
        AddToSelection(nodes, false);
    });
    // The anchor stays where it was while it is still part of the selection.
    if (keepAnchor && (anchorSelected || !addOnly) && (keepAnchor->States & vsSelected)) rangeAnchor_ = keepAnchor;
}

void TBaseLazyTree::HandleClickSelection(PLazyNode lastFocused, PLazyNode newNode, TShiftState shift,
                                         bool dragPending) {
    (void)lastFocused;
    if (!newNode) return;
    bool ctrl = shift & ssCtrl, shiftKey = shift & ssShift;
    if (ctrl && shiftKey) {
        PLazyNode anchor = rangeAnchor_ ? rangeAnchor_ : newNode;
        AddToSelectionRange(anchor, newNode, true);
        rangeAnchor_ = anchor;
        Invalidate();
    } else if (ctrl) {
        if (!SelectionOption(toSiblingSelectConstraint)) rangeAnchor_ = newNode;
        if (dragPending) {
            DoStateChange(tsToggleFocusedSelection);
        } else {
            if (newNode->States & vsSelected) RemoveFromSelection(newNode);
            else AddToSelection(newNode);
            if (!rangeAnchor_ && (newNode->States & vsSelected)) rangeAnchor_ = newNode;
            InvalidateNode(newNode);
        }
    } else if (shiftKey) {
        if (!rangeAnchor_) rangeAnchor_ = GetFirstVisibleNoInit();
        PLazyNode anchor = rangeAnchor_;
        AddToSelectionRange(anchor, newNode, false);
        rangeAnchor_ = anchor;
        Invalidate();
    } else {
        if (!(newNode->States & vsSelected)) {
            if (!SelectionOption(toMultiSelect)) ClearSelection();
            AddToSelection(newNode);
            InvalidateNode(newNode);
        }
        rangeAnchor_ = newNode;
    }
}

// ---- button down, up, double click ----------------------------------------------------------------

void TBaseLazyTree::HandleMouseDown(TMouseButton button, TShiftState shift, POINT p, THitTestResult& hi) {
    StopWheelPanning();
    if (states_.Contains(tsEditPending)) {
        StopChangeTimer(kEditTimer);
        DoStateChange({}, tsEditPending);
    }
    if (states_.Contains(tsEditing) && !DoEndEdit()) return;
    TNodeWatch watch(this, &hi.Node);
    if (!Focused() && CanFocus()) SetFocus();
    DoStateChange(button == mbLeft ? tsLeftButtonDown : button == mbRight ? tsRightButtonDown : tsMiddleButtonDown);
    if (button == mbMiddle) {
        if (MiscOption(toWheelPanning)) StartWheelPanning(p);
        return;
    }
    // A click in the body is a click on its column too (fired on release over the same column).
    header_->PressedColumn = hi.Column;
    bool fullRow = SelectionOption(toFullRowSelect);
    bool onLabel = hi.Positions & hpOnItemLabel;
    TColumnIndex column = focusedColumn_;
    if (onLabel || fullRow || MiscOption(toGridExtensions)) {
        column = hi.Column;
        if (MiscOption(toGridExtensions) && !SelectionOption(toExtendedFocus)) column = header_->MainColumn();
    }
    shift &= ~unsigned(ssAlt);
    bool modifiers = shift & (ssShift | ssCtrl);
    bool multi = SelectionOption(toMultiSelect);
    PLazyNode node = hi.Node;
    TNodeWatch watchNode(this, &node);

    if (node && (hi.Positions & hpOnItemButton) && (node->States & vsHasChildren)) {
        ToggleNode(node);
        return;
    }
    if (button == mbRight && !SelectionOption(toRightClickSelect)) {
        // Focus and selection stay as they are for the context menu.
        return;
    }
    if (node && (hi.Positions & hpOnItemCheckbox) && button == mbLeft) {
        BeginPendingCheck(node, true);
        if (!node) return;   // a handler deleted it
    }

    bool anyHit = (hi.Positions & kItemParts) || (fullRow && node);
    if (multi && !SelectionOption(toDisableDrawSelection) && !anyHit &&
        !(button == mbRight && HasPopupMenu(node, column, p))) {
        // A press beside the items starts a selection frame (drawn once the mouse moves).
        if (HandleAllocated()) ::SetCapture(handle_);
        DoStateChange(tsDrawSelPending);
        POINT start{p.x - offsetX_, p.y - offsetY_};
        newSelRect_ = RECT{start.x, start.y, start.x, start.y};
        oldSelRect_ = RECT{};
        drawSelShift_ = shift;
        lastClickPos_ = p;
        if (!modifiers) DoStateChange(tsClearPending);
        return;
    }
    if (!anyHit) return;

    bool wasSelected = node->States & vsSelected;
    bool wasFocused = node == focusedNode_;
    PLazyNode lastFocused = focusedNode_;
    TNodeWatch watchLast(this, &lastFocused);
    if (node != focusedNode_) {
        DoFocusNode(node, true);
        if (!node || focusedNode_ != node) return;   // vetoed or deleted by a handler
        if (column != focusedColumn_ && DoFocusChanging(node, node, focusedColumn_, column)) focusedColumn_ = column;
        DoFocusChanged(focusedNode_, focusedColumn_);
    } else if (column != focusedColumn_ && DoFocusChanging(node, node, focusedColumn_, column)) {
        focusedColumn_ = column;
        DoFocusChanged(focusedNode_, focusedColumn_);
    }
    if (!node) return;
    bool dragPending = DragMode == dmAutomatic || DoDragAllowed(node, column);
    if (!node) return;
    if (multi && modifiers) {
        HandleClickSelection(lastFocused, node, shift, dragPending);
    } else {
        rangeAnchor_ = node;
        if (!wasSelected) {
            BeginUpdate();
            ClearSelection();
            AddToSelection(node);
            EndUpdate();
            rangeAnchor_ = node;
            InvalidateNode(node);
        } else if (selectionCount_ > 1) {
            // Released without a drag, the click keeps only this node.
            DoStateChange(tsClearPending);
        }
    }
    if (!node) return;
    lastClickPos_ = p;
    if (dragPending) BeginDrag(false);
    if (!modifiers && onLabel && wasSelected && wasFocused && column == focusedColumn_ && button == mbLeft &&
        MiscOption(toEditable))
        DoStateChange(tsEditPending);
}

void TBaseLazyTree::HandleMouseUp(TMouseButton button, TShiftState shift, POINT p, THitTestResult& hi) {
    (void)p;
    // A middle click leaves panning on until the next press; a drag ends it.
    if (button == mbMiddle && states_.Contains(tsWheelScrolling)) StopWheelPanning();
    if (HandleAllocated() && ::GetCapture() == handle_ && !states_.Contains(tsWheelPanning)) ::ReleaseCapture();
    if (states_.Contains(tsFrameworkDragPending)) return;
    TNodeWatch watch(this, &hi.Node);
    if (states_.Contains(tsDrawSelPending) || states_.Contains(tsDrawSelecting)) {
        DoStateChange({}, {tsDrawSelPending, tsDrawSelecting});
        Invalidate();
    }
    if (states_.Contains(tsClearPending)) {
        PLazyNode keep = focusedNode_ && (focusedNode_->States & vsSelected) ? focusedNode_ : nullptr;
        TNodeWatch watchKeep(this, &keep);
        InUpdate(*this, [&] {
            ClearSelection();
            if (keep) AddToSelection(keep);
        });
        if (keep) rangeAnchor_ = keep;
    }
    if (states_.Contains(tsToggleFocusedSelection)) {
        DoStateChange({}, tsToggleFocusedSelection);
        if (hi.Node && hi.Node == focusedNode_) {
            if (hi.Node->States & vsSelected) RemoveFromSelection(hi.Node);
            else AddToSelection(hi.Node);
            InvalidateNode(hi.Node);
        }
    }
    DoStateChange({}, {tsLeftButtonDown, tsRightButtonDown, tsMiddleButtonDown, tsOLEDragPending, tsClearPending});
    StopAutoScroll();
    scrollStartTime_ = 0;
    if (states_.Contains(tsMouseCheckPending) && button == mbLeft) {
        bool onSame = hi.Node && hi.Node == checkNode_ && (hi.Positions & hpOnItemCheckbox);
        EndPendingCheck(onSame);
    }
    if (header_->PressedColumn > ColumnNone && header_->PressedColumn == hi.Column) DoColumnClick(hi.Column, shift);
    if (states_.Contains(tsEditPending)) {
        if (hi.Node && hi.Node == focusedNode_ && (hi.Positions & hpOnItemLabel) && CanEdit(hi.Node, focusedColumn_)) {
            editColumn_ = focusedColumn_;
            if (!StartTimer(kEditTimer, EditDelay)) DoStateChange({}, tsEditPending);
        } else {
            DoStateChange({}, tsEditPending);
        }
    }
}

void TBaseLazyTree::HandleMouseDblClick(TMouseButton button, TShiftState shift, POINT p, THitTestResult& hi) {
    (void)p;
    if (states_.Contains(tsEditPending)) {
        StopChangeTimer(kEditTimer);
        DoStateChange({}, tsEditPending);
    }
    if (states_.Contains(tsEditing) && !DoEndEdit()) return;
    TNodeWatch watch(this, &hi.Node);
    if (header_->PressedColumn > ColumnNone && header_->PressedColumn == hi.Column) {
        DoColumnDblClick(hi.Column, shift);
        // The release that closes the double click is no click of its own.
        header_->PressedColumn = ColumnNone;
    }
    if (!hi.Node || button != mbLeft) return;
    if (hi.Positions & hpOnItemCheckbox) {
        // The second press of a double click on a box checks again.
        if (BeginPendingCheck(hi.Node, true)) DoStateChange(tsLeftButtonDown);
        return;
    }
    if (hi.Positions & hpOnItemButton) {
        ToggleNode(hi.Node);
        return;
    }
    if (MiscOption(toToggleOnDblClick) &&
        ((hi.Positions & kItemParts) || (SelectionOption(toFullRowSelect) && (hi.Positions & hpOnItem))))
        ToggleNode(hi.Node);
}

// ---- mouse move: panning, drag start, frame, hot tracking ----------------------------------------

void TBaseLazyTree::UpdateHotNode(PLazyNode node) {
    if (node == hotNode_) return;
    PLazyNode old = hotNode_;
    hotNode_ = node;
    DoHotChange(old, hotNode_);
    if (options_->PaintOptions().Contains(toHotTrack) || MiscOption(toCheckSupport)) {
        if (old) InvalidateNode(old);
        if (hotNode_) InvalidateNode(hotNode_);
    }
}

void TBaseLazyTree::HandleMouseMoveTree(TShiftState shift, POINT p) {
    (void)shift;
    lastMouse_ = p;
    bool panning = states_.Contains(tsWheelPanning) || states_.Contains(tsWheelScrolling);
    auto outsideThreshold = [&](POINT from) {
        return std::abs(p.x - from.x) > DragThreshold || std::abs(p.y - from.y) > DragThreshold;
    };
    if (!states_.Contains(tsDrawSelPending)) {
        if (states_.Contains(tsWheelPanning) && outsideThreshold(panAnchor_)) {
            DoStateChange(tsWheelScrolling, tsWheelPanning);
        }
        if (states_.Contains(tsOLEDragPending) && outsideThreshold(lastClickPos_)) {
            StartOleDrag(p);
            return;
        }
        if (AutoScrollAllowed()) DoAutoScroll(p.x, p.y);
        if (panning) UpdatePanCursor(p);
    }
    if (!states_.Contains(tsDrawSelecting) && !states_.Contains(tsDrawSelPending)) {
        THitTestResult hi;
        GetHitTestInfoAt(p.x, p.y, true, hi);
        bool over = (hi.Positions & kItemParts) || (SelectionOption(toFullRowSelect) && (hi.Positions & hpOnItem));
        UpdateHotNode(over ? hi.Node : nullptr);
        return;
    }
    if (states_.Contains(tsDrawSelecting)) {
        if (states_.Contains(tsScrolling)) return;
        RECT old = newSelRect_;
        newSelRect_.right = std::clamp<int>(p.x - offsetX_, 0, std::max(rangeX_, ClientWidth()));
        newSelRect_.bottom = std::clamp<int>(p.y - offsetY_, 0, std::max(VerticalRange(), ClientHeight()));
        if (std::memcmp(&old, &newSelRect_, sizeof old) == 0) return;
        oldSelRect_ = old;
        bool changed = HandleDrawSelection(oldSelRect_, newSelRect_);
        if (HandleAllocated()) {
            if (changed) {
                Invalidate();
            } else {
                RECT a = Normalised(oldSelRect_), b = Normalised(newSelRect_), u;
                ::UnionRect(&u, &a, &b);
                ::OffsetRect(&u, offsetX_, offsetY_);
                ::InflateRect(&u, 1, 1);
                ::InvalidateRect(handle_, &u, FALSE);
            }
            Update();
        }
        return;
    }
    // A frame is pending: it starts once the mouse has left the threshold square.
    if (outsideThreshold(lastClickPos_)) {
        InUpdate(*this, [&] {
            if (states_.Contains(tsClearPending)) ClearSelection();
            DoStateChange(tsDrawSelecting, {tsDrawSelPending, tsClearPending});
            focusedColumn_ = header_->MainColumn();
            RECT old = newSelRect_;
            newSelRect_.right = std::clamp<int>(p.x - offsetX_, 0, std::max(rangeX_, ClientWidth()));
            newSelRect_.bottom = std::clamp<int>(p.y - offsetY_, 0, std::max(VerticalRange(), ClientHeight()));
            // The first frame selects what it covers as well: it is compared with an empty one.
            oldSelRect_ = RECT{old.left, old.top, old.left, old.top};
            HandleDrawSelection(oldSelRect_, newSelRect_);
        });
        if (HandleAllocated()) {
            Invalidate();
            Update();
        }
        if (AutoScrollAllowed()) DoAutoScroll(p.x, p.y);
    }
}

// ---- the selection frame ------------------------------------------------------------------------------

bool TBaseLazyTree::HandleDrawSelection(RECT oldRect, RECT newRect) {
    if (root_->TotalCount <= 1 || !states_.Contains(tsDrawSelecting)) return false;
    frameAdd_.clear();
    bool changed = CollectNodesInFrame(Normalised(oldRect), Normalised(newRect));
    if (changed) {
        // One change notification for the whole frame step.
        InUpdate(*this, [&] {
            PackSelection();
            if (!frameAdd_.empty()) AddToSelection(frameAdd_, false);
            frameAdd_.clear();
            NotifyChange(nullptr);
        });
    }
    return changed;
}

// Walks the rows the two frames span; a node whose text lies in one frame but
// not the other changes. Works for both reading orders: for right to left
// the text is measured leftward from the column's right edge.
bool TBaseLazyTree::CollectNodesInFrame(RECT oldR, RECT newR) {
    TColumnIndex mainColumn = header_->MainColumn();
    TBiDiMode bidi = ColumnBiDiMode(mainColumn);
    bool rtl = bidi != bdLeftToRight;
    TAlignment alignment = ColumnAlignment(mainColumn);
    if (rtl) alignment = alignment == taLeftJustify ? taRightJustify : alignment == taRightJustify ? taLeftJustify : alignment;
    int nodeLeft = 0, nodeRight = ClientWidth();
    if (header_->ColumnCount() > 0 && mainColumn > ColumnNone) {
        int l, r;
        header_->ColumnBounds(mainColumn, l, r);
        nodeLeft = l;
        nodeRight = r;
    }
    int minY = std::min(oldR.top, newR.top), maxY = std::max(oldR.bottom, newR.bottom);
    bool switchMode = drawSelShift_ & ssCtrl;
    int checkOffset = MiscOption(toCheckSupport) && CheckImages() ? CheckImages()->Width() + 2 : 0;
    int imageOffset = images_ ? images_->Width() + 2 : 0;
    int stateOffset = stateImages_ ? stateImages_->Width() + 2 : 0;
    bool simple = SelectionOption(toSimpleDrawSelection);
    bool spanning = header_->ColumnCount() > 0 && mainColumn > ColumnNone && AutoOption(toAutoSpanColumns);
    // With spanning a node's text runs on over the empty cells beside its own
    // (those reading the same way): the far edge of the last of them.
    auto spanEdge = [&](PLazyNode node, int edge) {
        if (!spanning) return edge;
        TLazyTreeColumns& columns = header_->Columns();
        for (TColumnIndex c = rtl ? columns.GetPreviousVisibleColumn(mainColumn) : columns.GetNextVisibleColumn(mainColumn);
             c >= 0 && (ColumnBiDiMode(c) != bdLeftToRight) == rtl && DoGetCellIsEmpty(node, c);
             c = rtl ? columns.GetPreviousVisibleColumn(c) : columns.GetNextVisibleColumn(c)) {
            int l, r;
            header_->ColumnBounds(c, l, r);
            edge = rtl ? l : r;
        }
        return edge;
    };
    int currentTop;
    PLazyNode run = GetNodeAt(0, minY, false, currentTop);
    if (!run) return false;
    int showRoot = options_->PaintOptions().Contains(toShowRoot) ? 1 : 0;
    int level = int(GetNodeLevel(run));
    int indentSpace = (level + showRoot) * int(indent_) + margin_;
    bool changed = false;
    TCanvas canvas(MeasureDC());
    canvas.Font = font_;
    while (run) {
        int textLeft, textRight;
        int lead = indentSpace;
        bool ghosted;
        if (checkOffset && run->CheckType != ctNone) lead += checkOffset;
        if (imageOffset && GetImageIndexOf(run, ikNormal, mainColumn, ghosted) > -1) lead += imageOffset;
        if (stateOffset && GetImageIndexOf(run, ikState, mainColumn, ghosted) > -1) lead += stateOffset;
        MeasureItemHeight(canvas, run);
        int nextTop = currentTop + run->NodeHeight;
        bool inOld, inNew;
        if (simple) {
            inOld = nextTop > oldR.top && currentTop < oldR.bottom;
            inNew = nextTop > newR.top && currentTop < newR.bottom;
        } else {
            int w = DoGetNodeWidth(run, mainColumn, nullptr);
            if (!rtl) {
                textLeft = nodeLeft + lead;
                int currentRight = spanEdge(run, nodeRight);
                if (w >= currentRight - textLeft) {
                    textRight = currentRight;
                } else if (alignment == taLeftJustify) {
                    textRight = textLeft + w;
                } else if (alignment == taCenter) {
                    textLeft = (textLeft + currentRight - w) / 2;
                    textRight = textLeft + w;
                } else {
                    textRight = currentRight;
                    textLeft = currentRight - w;
                }
            } else {
                textRight = nodeRight - lead;
                int currentLeft = spanEdge(run, nodeLeft);
                if (w >= textRight - currentLeft) {
                    textLeft = currentLeft;
                } else if (alignment == taLeftJustify) {
                    textLeft = currentLeft;
                    textRight = currentLeft + w;
                } else if (alignment == taCenter) {
                    textLeft = (textRight + currentLeft - w) / 2;
                    textRight = textLeft + w;
                } else {
                    textLeft = textRight - w;
                }
            }
            auto inside = [&](const RECT& f) {
                return !IsEmptyRect(f) && f.left <= textRight && f.right >= textLeft && nextTop > f.top &&
                       currentTop < f.bottom;
            };
            inOld = inside(oldR);
            inNew = inside(newR);
        }
        if (simple) {
            inOld = inOld && !IsEmptyRect(oldR);
            inNew = inNew && !IsEmptyRect(newR);
        }
        if (inOld != inNew) {
            changed = true;
            bool select = switchMode ? !(run->States & vsSelected) : inNew;
            if (select) {
                if (!(run->States & vsSelected)) frameAdd_.push_back(run);
            } else if (run->States & vsSelected) {
                size_t index;
                run->States &= ~vsSelected;
                if (FindSelected(run, index))
                    selection_[index] = reinterpret_cast<PLazyNode>(reinterpret_cast<uintptr_t>(selection_[index]) | 1);
            }
        }
        currentTop = nextTop;
        PLazyNode next = GetNextVisibleNoInit(run);
        if (!next) break;
        int nextLevel = int(GetNodeLevel(next));
        indentSpace += (nextLevel - level) * int(indent_);
        level = nextLevel;
        run = next;
        if (currentTop > maxY) break;
    }
    return changed;
}

// ---- wheel panning ---------------------------------------------------------------------------------------

namespace {
// The panning image: a circle with arrows for the directions the view can go.
HBITMAP MakePanningImage(bool horizontal, bool vertical) {
    WindowDC screen(nullptr);
    HBITMAP bmp = ::CreateCompatibleBitmap(screen.get(), 32, 32);
    MemoryDC dc(screen.get());
    SelectObjectScope select(dc.get(), bmp);
    TCanvas canvas(dc.get());
    canvas.Brush.SetColor(0xFF00FF);
    canvas.FillRect(RECT{0, 0, 32, 32});
    canvas.Brush.SetColor(clWhite);
    canvas.Pen.SetColor(clBlack);
    ::Ellipse(dc.get(), 1, 1, 31, 31);
    canvas.Brush.SetColor(clBlack);
    if (vertical) {
        POINT up[3] = {{16, 4}, {11, 10}, {21, 10}};
        POINT down[3] = {{16, 27}, {11, 21}, {21, 21}};
        canvas.Polygon(up, 3);
        canvas.Polygon(down, 3);
    }
    if (horizontal) {
        POINT left[3] = {{4, 16}, {10, 11}, {10, 21}};
        POINT right[3] = {{27, 16}, {21, 11}, {21, 21}};
        canvas.Polygon(left, 3);
        canvas.Polygon(right, 3);
    }
    ::Rectangle(dc.get(), 14, 14, 18, 18);
    return bmp;
}

// One rectangle per run of non-transparent pixels per row.
HRGN RegionFromImage(HBITMAP bmp) {
    MemoryDC dc(nullptr);
    SelectObjectScope select(dc.get(), bmp);
    HRGN region = ::CreateRectRgn(0, 0, 0, 0);
    for (int y = 0; y < 32; ++y) {
        int x = 0;
        while (x < 32) {
            while (x < 32 && ::GetPixel(dc.get(), x, y) == 0xFF00FF) ++x;
            int start = x;
            while (x < 32 && ::GetPixel(dc.get(), x, y) != 0xFF00FF) ++x;
            if (x > start) {
                RegionHandle part(::CreateRectRgn(start, y, x, y + 1));
                ::CombineRgn(region, region, part.get(), RGN_OR);
            }
        }
    }
    return region;
}

LRESULT CALLBACK PanningWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_PAINT) {
        PaintScope paint(wnd);
        auto bmp = reinterpret_cast<HBITMAP>(::GetWindowLongPtrA(wnd, GWLP_USERDATA));
        if (bmp) {
            MemoryDC source(paint.dc());
            SelectObjectScope select(source.get(), bmp);
            ::BitBlt(paint.dc(), 0, 0, 32, 32, source.get(), 0, 0, SRCCOPY);
        }
        return 0;
    }
    return ::DefWindowProcA(wnd, msg, wParam, lParam);
}
}

void TBaseLazyTree::StartWheelPanning(POINT position) {
    if (!HandleAllocated()) return;
    StopChangeTimer(kScrollTimer);
    DoStateChange(tsWheelPanning);
    panAnchor_ = position;
    lastMouse_ = position;
    WNDCLASSA wc{};
    if (!::GetClassInfoA(::GetModuleHandleA(nullptr), kPanningClass, &wc)) {
        wc.lpfnWndProc = PanningWindowProc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = kPanningClass;
        ::RegisterClassA(&wc);
    }
    bool fitsH = ClientWidth() >= rangeX_, fitsV = ClientHeight() >= VerticalRange();
    panningImage_.reset(MakePanningImage(!fitsH, !fitsV || (fitsH && fitsV)));
    POINT screen = position;
    ::ClientToScreen(handle_, &screen);
    panningWindow_.reset(::CreateWindowExA(WS_EX_TOOLWINDOW, kPanningClass, "", WS_POPUP, screen.x - 16, screen.y - 16,
                                           32, 32, handle_, nullptr, ::GetModuleHandleA(nullptr), nullptr));
    if (panningWindow_) {
        ::SetWindowLongPtrA(panningWindow_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(panningImage_.get()));
        // The window owns the region once set.
        ::SetWindowRgn(panningWindow_.get(), RegionFromImage(panningImage_.get()), FALSE);
        ::ShowWindow(panningWindow_.get(), SW_SHOWNOACTIVATE);
    }
    ::SetCapture(handle_);
    savedCursor_ = ::GetCursor();
    panCursorName_ = nullptr;
    UpdatePanCursor(position);
    StartTimer(kScrollTimer, kPanInterval);
}

void TBaseLazyTree::StopWheelPanning() {
    if (!states_.Contains(tsWheelPanning) && !states_.Contains(tsWheelScrolling)) return;
    StopChangeTimer(kScrollTimer);
    if (HandleAllocated() && ::GetCapture() == handle_) ::ReleaseCapture();
    DoStateChange({}, {tsWheelPanning, tsWheelScrolling});
    autoScrollDirections_ = 0;
    panningWindow_.reset();
    panningImage_.reset();
    panCursorName_ = nullptr;
    if (savedCursor_) ::SetCursor(savedCursor_);
    savedCursor_ = nullptr;
}

// ---- drag start and editing ---------------------------------------------------------------------------------

void TBaseLazyTree::BeginDrag(bool immediate, int threshold) {
    if (DragType == dtFramework) {
        if (ControlDragSource()) return;
        DoStateChange(tsFrameworkDragPending);
        BeginControlDrag(this, immediate, threshold);
        return;
    }
    if (states_.Contains(tsOLEDragPending) || states_.Contains(tsOLEDragging)) return;
    DragThreshold = threshold >= 0 ? threshold : ::GetSystemMetrics(SM_CXDRAG);
    if (immediate) StartOleDrag(lastClickPos_);
    else DoStateChange(tsOLEDragPending);
}

void TBaseLazyTree::UpdateEditBounds() {
    if (!states_.Contains(tsEditing) || !editLink_ || !focusedNode_) return;
    bool multiline = focusedNode_->States & vsMultiline;
    RECT r = GetDisplayRect(focusedNode_, editColumn_, true, !multiline);
    if (MiscOption(toGridExtensions)) {
        // The editor reaches the cell's far side.
        TAlignment alignment = ColumnAlignment(editColumn_);
        if (ColumnBiDiMode(editColumn_) != bdLeftToRight)
            alignment = alignment == taLeftJustify ? taRightJustify : alignment == taRightJustify ? taLeftJustify : alignment;
        RECT cell = GetDisplayRect(focusedNode_, editColumn_, false);
        if (alignment == taLeftJustify) r.right = cell.right;
        else r.left = cell.left;
    }
    if (options_->PaintOptions().Contains(toShowHorzGridLines)) --r.bottom;
    editLink_->SetEditorBounds(r);
}

void TBaseLazyTree::SimulateMouseUp() {
    if (HandleAllocated()) {
        POINT p;
        ::GetCursorPos(&p);
        ::ScreenToClient(handle_, &p);
        UINT msg = states_.Contains(tsRightButtonDown)    ? WM_RBUTTONUP
                   : states_.Contains(tsMiddleButtonDown) ? WM_MBUTTONUP
                   : states_.Contains(tsLeftButtonDown)   ? WM_LBUTTONUP
                                                          : 0;
        if (msg) ::SendMessageA(handle_, msg, 0, MAKELPARAM(p.x, p.y));
    }
    DoStateChange({}, {tsUserDragObject, tsFrameworkDragging, tsFrameworkDragPending});
}

bool TBaseLazyTree::HasPopupMenu(PLazyNode node, TColumnIndex column, POINT p) {
    return popupMenu_ != nullptr || DoGetPopupMenu(node, column, p) != nullptr;
}

} // namespace krv
