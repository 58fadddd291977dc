// The header's messages: cursor, non-client mouse buttons and moves,
// resizing a column at its splitter, dragging a column to a new display
// position, hot tracking with its timer; and the tree's header Do slots.
#include "tree/transfer/LazyTreeDragImage.h"
#include "tree/core/LazyTreeTimers.h"
#include "tree/core/LazyTrees.h"
#include <algorithm>
#include <cstdlib>

namespace krv {

namespace {
constexpr uint8_t kMouseStates = hsDragging | hsDragPending | hsTracking | hsTrackPending;

TMouseButton ButtonOf(UINT msg) {
    switch (msg) {
    case WM_NCRBUTTONDOWN: case WM_NCRBUTTONUP: case WM_NCRBUTTONDBLCLK:
    case WM_RBUTTONDOWN: case WM_RBUTTONUP: case WM_RBUTTONDBLCLK:
        return mbRight;
    case WM_NCMBUTTONDOWN: case WM_NCMBUTTONUP: case WM_NCMBUTTONDBLCLK:
    case WM_MBUTTONDOWN: case WM_MBUTTONUP: case WM_MBUTTONDBLCLK:
        return mbMiddle;
    default:
        return mbLeft;
    }
}

TShiftState HeaderShift() { return KeyboardShiftState() & (ssShift | ssCtrl | ssAlt); }
} // namespace

POINT TLTHeader::ScreenToClientPoint(LPARAM lParam) const {
    POINT p{short(LOWORD(lParam)), short(HIWORD(lParam))};
    ::ScreenToClient(owner_->Handle(), &p);
    return p;
}

bool TLTHeader::HasCapture() const { return ::GetCapture() == owner_->Handle(); }

bool TLTHeader::FindSplitterColumn(POINT p) {
    if (columns_->Count() == 0) return false;
    int edge = (owner_ ? owner_->OffsetX() : 0) + columns_->TotalWidth();
    std::vector<TColumnIndex> visible = columns_->GetVisibleColumns();
    for (auto it = visible.rbegin(); it != visible.rend(); ++it) {
        TLazyTreeColumn& column = (*columns_)[*it];
        if (edge - 3 < p.x && p.x < edge + 5) {
            if (!column.options_.Contains(coResizable)) return false;
            columns_->trackIndex_ = *it;
            trackStart_ = edge - column.width_;
            return true;
        }
        edge -= column.width_;
    }
    return false;
}

void TLTHeader::SetDownIndex(TColumnIndex c) {
    TColumnIndex old = columns_->downIndex_;
    if (old == c) return;
    columns_->downIndex_ = c;
    if (columns_->IsColumnIndexValid(old)) Invalidate(&(*columns_)[old]);
    if (columns_->IsColumnIndexValid(c)) Invalidate(&(*columns_)[c]);
}

void TLTHeader::SetHoverIndex(TColumnIndex c) {
    TColumnIndex old = columns_->hoverIndex_;
    if (old == c) return;
    columns_->hoverIndex_ = c;
    if (columns_->IsColumnIndexValid(old)) Invalidate(&(*columns_)[old]);
    if (columns_->IsColumnIndexValid(c)) Invalidate(&(*columns_)[c]);
}

bool TLTHeader::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (!owner_ || !owner_->HandleAllocated()) return false;
    bool visible = options_.Contains(hoVisible);
    bool mouseState = states_ & kMouseStates;
    switch (msg) {
    case WM_NCHITTEST:
        if (!visible || !InHeader(ScreenToClientPoint(lParam))) return false;
        result = HTBORDER;
        return true;
    case WM_SETCURSOR: {
        if (!visible || reinterpret_cast<HWND>(wParam) != owner_->Handle()) return false;
        if (mouseState) {
            result = TRUE;
            return true;
        }
        POINT p;
        ::GetCursorPos(&p);
        ::ScreenToClient(owner_->Handle(), &p);
        if (!InHeader(p)) return false;
        HCURSOR cursor = options_.Contains(hoColumnResize) && FindSplitterColumn(p) ? LoadTreeCursor("LT_HEADERSPLIT")
                                                                                    : ::LoadCursorA(nullptr, IDC_ARROW);
        owner_->DoGetHeaderCursor(cursor);
        if (cursor && cursor != ::GetCursor()) ::SetCursor(cursor);
        result = TRUE;
        return true;
    }
    case WM_NCLBUTTONDOWN: case WM_NCRBUTTONDOWN: case WM_NCMBUTTONDOWN:
    case WM_NCLBUTTONDBLCLK: case WM_NCRBUTTONDBLCLK: case WM_NCMBUTTONDBLCLK: {
        POINT p = ScreenToClientPoint(lParam);
        if (!visible || !InHeader(p)) return false;
        bool dbl = msg == WM_NCLBUTTONDBLCLK || msg == WM_NCRBUTTONDBLCLK || msg == WM_NCMBUTTONDBLCLK;
        MouseDown(ButtonOf(msg), p, dbl, HeaderShift());
        result = 0;
        return true;
    }
    case WM_NCLBUTTONUP: case WM_NCRBUTTONUP: case WM_NCMBUTTONUP: {
        POINT p = ScreenToClientPoint(lParam);
        if (!visible || (!InHeader(p) && !mouseState)) return false;
        MouseUp(ButtonOf(msg), p, HeaderShift());
        result = 0;
        return true;
    }
    case WM_NCMOUSEMOVE: {
        POINT p = ScreenToClientPoint(lParam);
        if (!visible || !InHeader(p)) return false;
        MouseMove(p, HeaderShift());
        if (options_.Contains(hoShowHint) && !(states_ & kMouseStates)) owner_->HintMouseMoved(p);
        result = 0;
        return true;
    }
    // While the header holds the capture, the client messages are its.
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP: {
        if (!mouseState || !HasCapture()) return false;
        POINT p{short(LOWORD(lParam)), short(HIWORD(lParam))};
        if (msg == WM_MOUSEMOVE) MouseMove(p, HeaderShift());
        else MouseUp(mbLeft, p, HeaderShift());
        result = 0;
        return true;
    }
    case WM_KEYDOWN:
        if (wParam != VK_ESCAPE || !mouseState) return false;
        EndDragAndTrack();
        result = 0;
        return true;
    case WM_KILLFOCUS:
    case WM_CANCELMODE:
        if (mouseState) EndDragAndTrack();
        return false;
    case WM_CAPTURECHANGED:
        if (mouseState && reinterpret_cast<HWND>(lParam) != owner_->Handle()) EndDragAndTrack();
        return false;
    case WM_TIMER: {
        if (wParam != kHeaderTimer) return false;
        POINT p;
        ::GetCursorPos(&p);
        ::ScreenToClient(owner_->Handle(), &p);
        if (!InHeader(p)) {
            owner_->StopChangeTimer(kHeaderTimer);
            SetHoverIndex(ColumnNone);
        }
        result = 0;
        return true;
    }
    default:
        return false;
    }
}

// Event coordinates are the header's own: x as in the client, y from the header's top.
void TLTHeader::MouseDown(TMouseButton button, POINT p, bool dblClick, TShiftState shift) {
    int y = p.y + height_;
    if (dblClick) {
        if (button == mbLeft && options_.Contains(hoDblClickResize) && FindSplitterColumn(p)) {
            TColumnIndex c = columns_->trackIndex_;
            columns_->trackIndex_ = ColumnNone;
            TLazyTreeColumn& column = (*columns_)[c];
            columns_->AnimatedResize(c, std::max(column.minWidth_, owner_->GetMaxColumnWidth(c)));
            return;
        }
        owner_->DoHeaderDblClick(columns_->ColumnFromPoint(p, true), button, shift | ssDouble, p.x, y);
        return;
    }
    if (button == mbLeft) {
        if (owner_->IsEditing()) owner_->DoEndEdit();
        owner_->StopChangeTimer(kScrollTimer);
        owner_->StopChangeTimer(kEditTimer);
        owner_->DoStateChange({}, {tsOLEDragPending, tsEditPending, tsScrollPending, tsScrolling});
    }
    owner_->DoHeaderMouseDown(button, shift, p.x, y);
    if (button != mbLeft) return;
    if (options_.Contains(hoColumnResize) && FindSplitterColumn(p)) {
        states_ |= hsTrackPending;
        ::SetCapture(owner_->Handle());
        return;
    }
    TColumnIndex c = columns_->ColumnFromPoint(p, true);
    if (columns_->IsColumnIndexValid(c)) {
        TLTColumnOptions o = (*columns_)[c].options_;
        if (!o.Contains(coAllowClick) || !o.Contains(coEnabled)) c = ColumnNone;
    } else {
        c = ColumnNone;
    }
    SetDownIndex(c);
    if (c >= 0 && options_.Contains(hoDrag) && (*columns_)[c].options_.Contains(coDraggable)) {
        states_ |= hsDragPending;
        dragStart_ = p;
        ::SetCapture(owner_->Handle());
    }
}

void TLTHeader::MouseMove(POINT p, TShiftState shift) {
    owner_->DoHeaderMouseMove(shift, p.x, p.y + height_);
    if (states_ & hsTrackPending) {
        owner_->StopChangeTimer(kHeaderTimer);
        states_ = uint8_t((states_ & ~hsTrackPending) | hsTracking);
    }
    if (states_ & hsTracking) {
        if (columns_->IsColumnIndexValid(columns_->trackIndex_))
            (*columns_)[columns_->trackIndex_].SetWidth(p.x - trackStart_);
        return;
    }
    if (states_ & hsDragPending) {
        if (std::abs(p.x - dragStart_.x) <= ::GetSystemMetrics(SM_CXDRAG) &&
            std::abs(p.y - dragStart_.y) <= ::GetSystemMetrics(SM_CYDRAG))
            return;
        TColumnIndex c = columns_->downIndex_;
        states_ &= uint8_t(~hsDragPending);
        if (!options_.Contains(hoDrag) || !owner_->DoHeaderDragging(c)) {
            // Refused: the button comes up over the header as a plain message again.
            if (HasCapture()) ::ReleaseCapture();
            return;
        }
        owner_->StopChangeTimer(kHeaderTimer);
        dragIndex_ = c;
        SetDownIndex(ColumnNone);
        SetHoverIndex(ColumnNone);
        states_ |= hsDragging;
        TrackDrop(p);
        StartColumnDragImage(c, p);
        return;
    }
    if (states_ & hsDragging) {
        TrackDrop(p);
        return;
    }
    if (options_.Contains(hoHotTrack)) {
        SetHoverIndex(InHeader(p) ? columns_->ColumnFromPoint(p, true) : ColumnNone);
        owner_->StartTimer(kHeaderTimer, 50);
    }
}

// The drop side is the half of the column under the mouse.
void TLTHeader::TrackDrop(POINT p) {
    if (dragImage_) {
        POINT screen = p;
        ::ClientToScreen(owner_->Handle(), &screen);
        dragImage_->MoveImageTo(screen);
    }
    TColumnIndex c = columns_->ColumnFromPoint(p, true);
    TLTDropMarkMode mark = dmmNone;
    if (columns_->IsColumnIndexValid(c)) {
        const TLazyTreeColumn& column = (*columns_)[c];
        mark = p.x - owner_->OffsetX() < column.left_ + column.width_ / 2 ? dmmLeft : dmmRight;
    } else {
        c = ColumnNone;
    }
    if (c == columns_->dropTarget_ && mark == columns_->dropMark_) return;
    columns_->dropTarget_ = c;
    columns_->dropMark_ = mark;
    // The picture keeps the screen under it: it goes while the header repaints there.
    if (dragImage_) dragImage_->HideImage();
    Invalidate();
    if (dragImage_) dragImage_->ShowImage();
}

void TLTHeader::MouseUp(TMouseButton button, POINT p, TShiftState shift) {
    int y = p.y + height_;
    // A click's handler or a menu item may close the tree, and this header with it.
    TLifeWatch tree(owner_);
    if (button == mbLeft) {
        uint8_t was = states_;
        states_ &= uint8_t(~kMouseStates);
        if (HasCapture()) ::ReleaseCapture();
        if (was & hsDragging) {
            EndColumnDragImage();
            POINT screen = p;
            ::ClientToScreen(owner_->Handle(), &screen);
            RECT window;
            ::GetWindowRect(owner_->Handle(), &window);
            TColumnIndex dragged = dragIndex_, target = columns_->dropTarget_;
            TLTDropMarkMode mark = columns_->dropMark_;
            dragIndex_ = columns_->dropTarget_ = ColumnNone;
            columns_->dropMark_ = dmmNone;
            if (!::PtInRect(&window, screen)) {
                owner_->DoHeaderDraggedOut(dragged, screen);
            } else if (columns_->IsColumnIndexValid(target) && target != dragged && columns_->IsColumnIndexValid(dragged)) {
                TLazyTreeColumn& column = (*columns_)[dragged];
                TColumnPosition old = column.position_;
                TColumnPosition to = (*columns_)[target].position_ + (mark == dmmRight ? 1 : 0);
                if (old < to) --to;
                column.SetPosition(to);
                owner_->DoHeaderDragged(dragged, old);
            }
            if (tree.Gone()) return;
            Invalidate();
        } else if (was & (hsTracking | hsTrackPending)) {
            columns_->trackIndex_ = ColumnNone;
        } else {
            TColumnIndex c = columns_->downIndex_;
            if (c >= 0 && columns_->ColumnFromPoint(p, true) == c) {
                owner_->DoHeaderClick(c, button, shift, p.x, y);
                if (!tree.Gone() && (*columns_)[c].options_.Contains(coAllowClick)) owner_->DoColumnClick(c, shift);
                if (tree.Gone()) return;
            }
        }
        SetDownIndex(ColumnNone);
    } else if (button == mbRight && popupMenu_) {
        POINT screen = p;
        ::ClientToScreen(owner_->Handle(), &screen);
        popupMenu_->PopupComponent = owner_;
        popupMenu_->Popup(screen.x, screen.y, owner_);
        if (tree.Gone()) return;
    }
    owner_->DoHeaderMouseUp(button, shift, p.x, y);
}

void TLTHeader::EndDragAndTrack() {
    EndColumnDragImage();
    states_ &= uint8_t(~kMouseStates);
    dragIndex_ = columns_->dropTarget_ = columns_->trackIndex_ = ColumnNone;
    columns_->dropMark_ = dmmNone;
    columns_->downIndex_ = ColumnNone;
    if (HasCapture()) ::ReleaseCapture();
    Invalidate();
}

// ---- the tree's header slots -----------------------------------------------------------------------

TColumnClass TBaseLazyTree::GetColumnClass() const {
    return +[](TLazyTreeColumns* owner) { return std::make_unique<TLazyTreeColumn>(owner); };
}

void TBaseLazyTree::DoAdvancedHeaderDraw(THeaderPaintInfo& info, THeaderPaintElements elements) {
    if (OnAdvancedHeaderDraw) OnAdvancedHeaderDraw(header_.get(), info, elements);
}

void TBaseLazyTree::DoColumnResize(TColumnIndex column) {
    if ((ComponentState() & csLoading) || !HandleAllocated()) return;
    for (PLazyNode node = GetFirstVisibleNoInit(); node; node = GetNextVisibleNoInit(node))
        if (node->States & vsMultiline) node->States &= ~vsHeightMeasured;
    UpdateScrollBars(true);
    RECT r = ClientRect();
    if (!AutoOption(toAutoSpanColumns) && header_->Columns().IsColumnIndexValid(column))
        r.left = std::max<int>(0, header_->Columns()[column].Left() + offsetX_);
    ::InvalidateRect(handle_, &r, FALSE);
    if (header_->Columns().IsColumnIndexValid(column)) header_->Invalidate(&header_->Columns()[column]);
    if (header_->States() & hsTracking) ::UpdateWindow(handle_);
    if (OnColumnResize) OnColumnResize(header_.get(), column);
    if (states_.Contains(tsEditing)) UpdateEditBounds();
}

void TBaseLazyTree::DoGetHeaderCursor(HCURSOR& cursor) {
    if (OnGetHeaderCursor) OnGetHeaderCursor(header_.get(), cursor);
}

void TBaseLazyTree::DoHeaderClick(TColumnIndex column, TMouseButton button, TShiftState shift, int x, int y) {
    if (OnHeaderClick) OnHeaderClick(header_.get(), column, button, shift, x, y);
}

void TBaseLazyTree::DoHeaderDblClick(TColumnIndex column, TMouseButton button, TShiftState shift, int x, int y) {
    if (OnHeaderDblClick) OnHeaderDblClick(header_.get(), column, button, shift, x, y);
}

void TBaseLazyTree::DoHeaderDragged(TColumnIndex column, TColumnPosition oldPosition) {
    if (OnHeaderDragged) OnHeaderDragged(header_.get(), column, oldPosition);
}

void TBaseLazyTree::DoHeaderDraggedOut(TColumnIndex column, POINT dropPosition) {
    if (OnHeaderDraggedOut) OnHeaderDraggedOut(header_.get(), column, dropPosition);
}

bool TBaseLazyTree::DoHeaderDragging(TColumnIndex column) {
    bool allowed = true;
    if (OnHeaderDragging) OnHeaderDragging(header_.get(), column, allowed);
    return allowed;
}

void TBaseLazyTree::DoHeaderDraw(TCanvas& canvas, TLazyTreeColumn& column, RECT r, bool hover, bool pressed,
                                 TLTDropMarkMode dropMark) {
    if (OnHeaderDraw) OnHeaderDraw(header_.get(), canvas, column, r, hover, pressed, dropMark);
}

void TBaseLazyTree::DoHeaderDrawQueryElements(THeaderPaintInfo& info, THeaderPaintElements& elements) {
    if (OnHeaderDrawQueryElements) OnHeaderDrawQueryElements(header_.get(), info, elements);
}

void TBaseLazyTree::DoHeaderMouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    if (OnHeaderMouseDown) OnHeaderMouseDown(header_.get(), button, shift, x, y);
}

void TBaseLazyTree::DoHeaderMouseMove(TShiftState shift, int x, int y) {
    if (OnHeaderMouseMove) OnHeaderMouseMove(header_.get(), shift, x, y);
}

void TBaseLazyTree::DoHeaderMouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    if (OnHeaderMouseUp) OnHeaderMouseUp(header_.get(), button, shift, x, y);
}

} // namespace krv
