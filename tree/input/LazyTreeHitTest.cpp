// Turning mouse positions into meaning and motion: the hit test inside a
// cell in both reading orders, the widest visible extent, auto scrolling near
// the edges and while wheel panning, the pan cursor and the step animation.
#include "tree/core/LazyTreeTimers.h"
#include "tree/core/LazyTreeGlobals.h"
#include "tree/core/LazyTrees.h"
#include "framework/Forms.h"
#include <algorithm>
#include <cmath>

namespace krv {

namespace {
constexpr int kPanDeadZone = 8;
}

// ---- columns as the hit test sees them ---------------------------------------------------

TColumnIndex TBaseLazyTree::ColumnAt(int x, int& left, int& right) {
    left = 0;
    right = 0;
    for (TColumnIndex c : header_->VisibleColumnsInOrder()) {
        int l, r;
        header_->ColumnBounds(c, l, r);
        if (x >= l && x < r) {
            left = l;
            right = r;
            return c;
        }
    }
    return ColumnInvalid;
}

TAlignment TBaseLazyTree::ColumnAlignment(TColumnIndex column) const {
    TAlignment a = alignment_;
    if (column > ColumnNone) header_->ColumnAlignmentOf(column, a);
    return a;
}

TBiDiMode TBaseLazyTree::ColumnBiDiMode(TColumnIndex column) const {
    TBiDiMode b = bidiMode_;
    if (column > ColumnNone) header_->ColumnBiDiModeOf(column, b);
    return b;
}

int TBaseLazyTree::GetImageIndexOf(PLazyNode node, TLTImageKind kind, TColumnIndex column, bool& ghosted) {
    ghosted = false;
    int index = -1;
    DoGetImageIndex(node, kind, column, ghosted, index);
    return index;
}

// ---- the hit test --------------------------------------------------------------------------

void TBaseLazyTree::GetHitTestInfoAt(int x, int y, bool relative, THitTestResult& hitInfo) {
    hitInfo = THitTestResult{};
    if (x < 0) hitInfo.Positions |= hpToLeft;
    else if (x > std::max(ClientWidth(), rangeX_)) hitInfo.Positions |= hpToRight;
    if (y < 0) hitInfo.Positions |= hpAbove;
    else if (y > std::max(ClientHeight(), VerticalRange())) hitInfo.Positions |= hpBelow;
    if (relative) {
        x -= offsetX_;
        y -= offsetY_;
    }
    if (hitInfo.Positions != 0) return;
    int top;
    hitInfo.Node = GetNodeAt(x, y, false, top);
    if (!hitInfo.Node) {
        hitInfo.Positions = hpNowhere;
        return;
    }
    {
        TNodeWatch watch(this, &hitInfo.Node);
        InitIfNeeded(hitInfo.Node);
    }
    if (!hitInfo.Node) {
        hitInfo.Positions = hpNowhere;
        return;
    }

    int left = 0, right;
    if (header_->ColumnCount() > 0) {
        int l, r;
        TColumnIndex hit = ColumnAt(x, l, r);
        hitInfo.Column = hit;
        left = l;
        right = r;
        if (hit > ColumnNone && AutoOption(toAutoSpanColumns)) {
            std::vector<TColumnIndex> order = header_->VisibleColumnsInOrder();
            size_t pos = size_t(std::find(order.begin(), order.end(), hit) - order.begin());
            // Leftward: an empty cell belongs to the nearest non-empty cell before it.
            size_t run = pos;
            while (run > 0 && DoGetCellIsEmpty(hitInfo.Node, order[run])) {
                --run;
                int pl, pr;
                header_->ColumnBounds(order[run], pl, pr);
                left -= pr - pl;
            }
            hitInfo.Column = order[run];
            for (size_t next = pos + 1; next < order.size() && DoGetCellIsEmpty(hitInfo.Node, order[next]); ++next) {
                int nl, nr;
                header_->ColumnBounds(order[next], nl, nr);
                right += nr - nl;
            }
        }
    } else {
        hitInfo.Column = ColumnNone;
        right = std::max(ClientWidth(), rangeX_);
    }
    if (hitInfo.Column == ColumnInvalid) {
        hitInfo.Positions = hpNowhere;
        return;
    }
    hitInfo.Positions = hpOnItem;
    int width = right - left;
    TAlignment alignment = ColumnAlignment(hitInfo.Column);
    if (ColumnBiDiMode(hitInfo.Column) != bdLeftToRight) CellHitTestRTL(hitInfo, x - left, alignment, width);
    else CellHitTestLTR(hitInfo, x - left, alignment, width);
}

void TBaseLazyTree::CellHitTestLTR(THitTestResult& hi, int x, TAlignment alignment, int width) {
    PLazyNode node = hi.Node;
    bool mainColumn = hi.Column == header_->MainColumn();
    int indentation = 0;
    if (mainColumn) {
        indentation = int(GetNodeLevel(node) * indent_);
        if (options_->PaintOptions().Contains(toShowRoot)) indentation += int(indent_);
    }
    if (x < indentation) {
        if (options_->PaintOptions().Contains(toShowButtons) && (node->States & vsHasChildren) &&
            x >= indentation - int(indent_))
            hi.Positions |= hpOnItemButton;
        if (hi.Positions == hpOnItem) hi.Positions |= hpOnItemIndent;
        return;
    }
    if (!mainColumn && MiscOption(toReportMode)) return;
    int pos = indentation + margin_;
    if (mainColumn && MiscOption(toCheckSupport) && CheckImages() && node->CheckType != ctNone) {
        pos += CheckImages()->Width() + 2;
        if (x < pos) {
            hi.Positions = hpOnItem | hpOnItemCheckbox;
            return;
        }
    }
    bool ghosted;
    if (stateImages_ && GetImageIndexOf(node, ikState, hi.Column, ghosted) > -1) {
        pos += stateImages_->Width() + 2;
        if (x < pos) {
            hi.Positions |= hpOnStateIcon;
            return;
        }
    }
    if (images_ && GetImageIndexOf(node, ikNormal, hi.Column, ghosted) > -1) {
        pos += images_->Width() + 2;
        if (x < pos) {
            hi.Positions |= hpOnNormalIcon;
            return;
        }
    }
    int w = DoGetNodeWidth(node, hi.Column, nullptr);
    if (w <= width - pos) {
        switch (alignment) {
        case taLeftJustify:
            if (x >= pos + w) {
                hi.Positions |= hpOnItemRight;
                return;
            }
            break;
        case taRightJustify:
            if (x < width - w) {
                hi.Positions |= hpOnItemLeft;
                return;
            }
            break;
        case taCenter: {
            int m = (pos + width - w) / 2;
            if (x < m) {
                hi.Positions |= hpOnItemLeft;
                return;
            }
            if (x >= m + w) {
                hi.Positions |= hpOnItemRight;
                return;
            }
            break;
        }
        }
    }
    hi.Positions |= hpOnItemLabel;
}

// Measured from the right edge a right-to-left cell is laid out like a
// left-to-right one; the two sides of the label are then swapped back so
// that left and right stay sides on the screen.
void TBaseLazyTree::CellHitTestRTL(THitTestResult& hi, int x, TAlignment alignment, int width) {
    CellHitTestLTR(hi, width - 1 - x, alignment, width);
    uint16_t sides = hi.Positions & (hpOnItemLeft | hpOnItemRight);
    if (sides == hpOnItemLeft) hi.Positions = uint16_t((hi.Positions & ~hpOnItemLeft) | hpOnItemRight);
    else if (sides == hpOnItemRight) hi.Positions = uint16_t((hi.Positions & ~hpOnItemRight) | hpOnItemLeft);
}

// ---- widest visible extent ----------------------------------------------------------------

int TBaseLazyTree::WidestVisibleExtent() {
    int top;
    PLazyNode run = GetNodeAt(0, 0, true, top);
    int widest = 0;
    if (run) {
        int level = int(GetNodeLevel(run));
        int imageSpace = (stateImages_ ? stateImages_->Width() + 2 : 0) + (images_ ? images_->Width() + 2 : 0);
        int offset = (level + (options_->PaintOptions().Contains(toShowRoot) ? 1 : 0)) * int(indent_) + imageSpace;
        int heights = 0;
        // The rows the client shows without a horizontal bar: whether that
        // bar is needed must not depend on the rows the bar itself covers.
        int clientHeight = ClientHeight();
        if (HandleAllocated() && (::GetWindowLongPtrW(Handle(), GWL_STYLE) & WS_HSCROLL))
            clientHeight += ::GetSystemMetrics(SM_CYHSCROLL);
        while (run) {
            InitIfNeeded(run);
            int extra = MiscOption(toCheckSupport) && CheckImages() && run->CheckType != ctNone
                            ? CheckImages()->Width() + 2 : 0;
            widest = std::max(widest, offset + extra + DoGetNodeWidth(run, ColumnNone, nullptr));
            heights += run->NodeHeight;
            if (heights > clientHeight) break;
            PLazyNode next = GetNextVisible(run);
            if (!next) break;
            offset += (int(GetNodeLevel(next)) - level) * int(indent_);
            level = int(GetNodeLevel(next));
            run = next;
        }
    }
    return widest + 2 * margin_;
}

// ---- auto scroll ------------------------------------------------------------------------------

bool TBaseLazyTree::AutoScrollAllowed() {
    bool panning = states_.Contains(tsWheelPanning) || states_.Contains(tsWheelScrolling);
    if (!AutoOption(toAutoScroll) && !panning) return false;
    // Sizing or dragging a column owns the mouse.
    if (header_->States() & (hsDragging | hsDragPending | hsTracking | hsTrackPending)) return false;
    return states_.Contains(tsDrawSelPending) || states_.Contains(tsDrawSelecting) ||
           states_.Contains(tsOLEDragging) || states_.Contains(tsFrameworkDragging) || panning;
}

uint8_t TBaseLazyTree::ScrollDirectionsAt(int x, int y) {
    if (!AutoScrollAllowed()) return 0;
    uint8_t result = 0;
    if (states_.Contains(tsWheelPanning) || states_.Contains(tsWheelScrolling)) {
        int dx = x - panAnchor_.x, dy = y - panAnchor_.y;
        if (dx < -kPanDeadZone) result |= sdLeftDir;
        else if (dx > kPanDeadZone) result |= sdRightDir;
        if (dy < -kPanDeadZone) result |= sdUpDir;
        else if (dy > kPanDeadZone) result |= sdDownDir;
        return result;
    }
    int zone = defaultNodeHeight_;
    int clientWidth = ClientWidth(), clientHeight = ClientHeight();
    if (x < zone && offsetX_ != 0) result |= sdLeftDir;
    if (clientWidth - offsetX_ < rangeX_ && x > clientWidth - zone) result |= sdRightDir;
    if (y < zone && offsetY_ != 0) result |= sdUpDir;
    if (clientHeight - offsetY_ < VerticalRange() && y > clientHeight - zone) result |= sdDownDir;
    if (!result) {
        scrollStartTime_ = 0;
        return 0;
    }
    if (!states_.Contains(tsOLEDragging) && HandleAllocated()) {
        // Only the tree and its own child windows count: a point over another
        // window scrolls at once.
        POINT screen{x, y};
        ::ClientToScreen(handle_, &screen);
        HWND under = ::WindowFromPoint(screen);
        if (under != handle_ && !::IsChild(handle_, under)) return result;
    }
    DWORD now = CurrentTime();
    if (scrollStartTime_ == 0) scrollStartTime_ = now ? now : 1;
    if (now - scrollStartTime_ < AutoScrollDelay) return 0;
    return result;
}

void TBaseLazyTree::DoAutoScroll(int x, int y) {
    autoScrollDirections_ = ScrollDirectionsAt(x, y);
    if (states_.Contains(tsWheelPanning) || states_.Contains(tsWheelScrolling)) return;
    bool scrolling = states_.Contains(tsScrollPending) || states_.Contains(tsScrolling);
    if (autoScrollDirections_ && !scrolling) {
        DoStateChange(tsScrollPending);
        StartTimer(kScrollTimer, AutoScrollDelay);
    } else if (!autoScrollDirections_ && scrolling) {
        StopAutoScroll();
    }
}

void TBaseLazyTree::StopAutoScroll() {
    StopChangeTimer(kScrollTimer);
    DoStateChange({}, {tsScrollPending, tsScrolling});
}

void TBaseLazyTree::ScrollTimerStep() {
    bool panning = states_.Contains(tsWheelPanning) || states_.Contains(tsWheelScrolling);
    POINT mouse = lastMouse_;
    int dx = 0, dy = 0;
    auto step = [&](int distance, int increment) {
        return panning ? std::max(1, std::abs(distance) * increment / 100) : increment;
    };
    int hStep = step(mouse.x - panAnchor_.x, scrollBarOptions_.HorizontalIncrement);
    int vStep = step(mouse.y - panAnchor_.y, scrollBarOptions_.VerticalIncrement);
    uint8_t dirs = autoScrollDirections_;
    if (dirs & sdLeftDir) {
        dx = std::min(hStep, -offsetX_);
        if (offsetX_ + dx >= 0) autoScrollDirections_ &= ~sdLeftDir;
    }
    if (dirs & sdRightDir) {
        int room = std::max(0, rangeX_ - ClientWidth() + offsetX_);
        dx = -std::min(hStep, room);
        if (room <= hStep) autoScrollDirections_ &= ~sdRightDir;
    }
    if (dirs & sdUpDir) {
        dy = std::min(vStep, -offsetY_);
        if (offsetY_ + dy >= 0) autoScrollDirections_ &= ~sdUpDir;
    }
    if (dirs & sdDownDir) {
        int room = std::max(0, VerticalRange() - ClientHeight() + offsetY_);
        dy = -std::min(vStep, room);
        if (room <= vStep) autoScrollDirections_ &= ~sdDownDir;
    }
    if (dx || dy) DoSetOffsetXY(POINT{offsetX_ + dx, offsetY_ + dy});
    if (states_.Contains(tsDrawSelecting)) {
        RECT old = newSelRect_;
        newSelRect_.right = std::clamp<int>(mouse.x - offsetX_, 0, std::max(rangeX_, ClientWidth()));
        newSelRect_.bottom = std::clamp<int>(mouse.y - offsetY_, 0, std::max(VerticalRange(), ClientHeight()));
        if (!::EqualRect(&old, &newSelRect_)) {
            oldSelRect_ = old;
            HandleDrawSelection(oldSelRect_, newSelRect_);
            Invalidate();
        }
    }
    if (HandleAllocated()) Update();
    if (!autoScrollDirections_ && !panning) StopAutoScroll();
}

// ---- pan cursor -----------------------------------------------------------------------------------

void TBaseLazyTree::UpdatePanCursor(POINT m) {
    bool horizontal = ClientWidth() < rangeX_;
    bool vertical = ClientHeight() < VerticalRange();
    int dx = m.x - panAnchor_.x, dy = m.y - panAnchor_.y;
    const char* name;
    if (std::abs(dx) <= kPanDeadZone && std::abs(dy) <= kPanDeadZone) {
        name = horizontal && vertical ? "LT_MOVEALL" : horizontal ? "LT_MOVEEW" : "LT_MOVENS";
    } else if (horizontal && vertical) {
        if (dx >= -kPanDeadZone && dx <= kPanDeadZone) name = dy < 0 ? "LT_MOVEN" : "LT_MOVES";
        else if (dx < -kPanDeadZone) name = dy < -kPanDeadZone ? "LT_MOVENW" : dy > kPanDeadZone ? "LT_MOVESW" : "LT_MOVEW";
        else name = dy < -kPanDeadZone ? "LT_MOVENE" : dy > kPanDeadZone ? "LT_MOVESE" : "LT_MOVEE";
    } else if (horizontal) {
        name = dx < 0 ? "LT_MOVEW" : "LT_MOVEE";
    } else {
        name = dy < 0 ? "LT_MOVEN" : "LT_MOVES";
    }
    if (name == panCursorName_) return;
    panCursorName_ = name;
    ::SetCursor(LoadTreeCursor(name));
}

HCURSOR LoadTreeCursor(const char* name) {
    // The tree's own cursors are resources of the program (the generator draws them).
    HCURSOR cursor = ::LoadCursorA(::GetModuleHandleA(nullptr), name);
    return cursor ? cursor : ::LoadCursorA(nullptr, IDC_SIZEALL);
}

// ---- step animation --------------------------------------------------------------------------------

void TBaseLazyTree::RunStepAnimation(int steps, int duration, const TLTAnimationCallback& callback, void* data) {
    if (states_.Contains(tsInAnimation) || duration <= 0) return;
    NeedFineTimer();
    DoStateChange(tsInAnimation);
    // Left however the animation ends, a throwing callback too; a handler
    // that throws on the way out still leaves the tree out of the animation,
    // and its exception reaches the caller (so it is not fired from a destructor).
    auto leave = [this] {
        try {
            DoStateChange({}, {tsCancelHintAnimation, tsInAnimation});
        } catch (...) {
            states_ -= {tsCancelHintAnimation, tsInAnimation};
            throw;
        }
    };
    try {
        StepAnimation(steps, duration, callback, data);
    } catch (...) {
        leave();
        throw;
    }
    leave();
}

void TBaseLazyTree::StepAnimation(int steps, int duration, const TLTAnimationCallback& callback, void* data) {
    // No steps still ends with the final call: the caller's last picture is drawn there.
    int stepSize = std::max(1, int(std::lround(double(steps) / duration)));
    int remaining = steps / stepSize;
    int step = 0;
    // A program that is ending shows no more steps, and no final picture either.
    auto ending = [] { return Application().Terminated(); };
    while (remaining > 0 && duration > 0 && !ending()) {
        DWORD start = CurrentTime();
        DWORD next = start + DWORD(duration / remaining);
        if (!callback(step, stepSize, data)) break;
        // A fixed pace: the steps are spread over the duration.
        while (int(CurrentTime() - next) < 0 && !TickSource) ::Sleep(0);
        int elapsed = int(CurrentTime() - start);
        if (elapsed > duration) {
            duration = 0;
            remaining = 0;
        } else {
            --remaining;
            duration -= elapsed;
        }
        while (remaining > 0 && duration / remaining == 0) {
            ++stepSize;
            remaining = duration / stepSize;
        }
        step = steps - remaining;
    }
    if (!ending()) callback(0, 0, data);
}

// ---- animated toggle -------------------------------------------------------------------------------

int TBaseLazyTree::RowBottom(PLazyNode node) {
    int top = GetNodeTop(node);
    return top < 0 ? -1 : top + offsetY_ + node->NodeHeight;
}

// Slides the rows below a node's row up (collapsing) or down (expanding)
// by distance pixels over AnimationDuration.
void TBaseLazyTree::AnimateToggle(int rowBottom, int distance, bool down) {
    if (!options_->AnimationOptions().Contains(toAnimatedToggle) || !HandleAllocated() || rowBottom < 0 ||
        distance <= 0 || !::IsWindowVisible(handle_))
        return;
    Update();
    int clientWidth = ClientWidth(), clientHeight = ClientHeight();
    RunStepAnimation(distance, int(animationDuration_), [&](int, int stepSize, void*) {
        if (stepSize == 0) return true;
        RECT area{0, rowBottom, clientWidth, clientHeight};
        ::ScrollWindowEx(handle_, 0, down ? stepSize : -stepSize, &area, &area, nullptr, nullptr, SW_INVALIDATE);
        ::UpdateWindow(handle_);
        return true;
    }, nullptr);
}

} // namespace krv
