// When a tree shows a hint and what it shows (the decision), and the hint
// window: its size, its place on the desktop, its painting and animation.
#include "tree/paint/LazyTreeHint.h"
#include "tree/string/LazyDrawTree.h"
#include "tree/string/LazyStringTree.h"
#include "tree/paint/LazyTreeDrawing.h"
#include <algorithm>

namespace krv {

namespace {

// The soft shadow: one band a pixel wide per value, darkened more the
// nearer it lies to the hint.
constexpr int kShadowBias[] = {5, 10, 20, 35, 50};
constexpr int kShadowSize = int(std::size(kShadowBias));

// The part of a control hint before "|" (the rest is for a status line).
std::wstring ShortHint(const std::string& hint) { return AnsiToWide(hint.substr(0, hint.find('|'))); }

bool IsTreeHintActive(TBaseLazyTree& tree, PLazyNode hitNode) {
    if (tree.IsEditing()) return hitNode != tree.FocusedNode();
    HWND root = ::GetAncestor(tree.Handle(), GA_ROOT);
    if (root && root != tree.Handle())   // on a form: the form has the focus or the program is active
        return ::GetForegroundWindow() == root || ::GetActiveWindow() != nullptr;
    return ::GetFocus() == tree.Handle();
}

} // namespace

// ---- the decision ----------------------------------------------------------------------------------

int TBaseLazyTree::CMHintShow(THintInfo& info) {
    if (::PtInRect(&lastHintRect_, info.CursorPos)) return 1;
    THitTestResult hit;
    GetHitTestInfoAt(info.CursorPos.x, info.CursorPos.y, true, hit);
    if (::GetCapture() || !ShowHint || Dragging() || IsMouseSelecting() || states_.Contains(tsScrolling) ||
        header_->States() != 0 || !IsTreeHintActive(*this, hit.Node)) {
        lastHintRect_ = RECT{};
        DoStateChange({}, {tsHint});
        return 1;
    }
    int result = 0;
    bool ownHint = false;
    info.HintStr = L" ";
    hintData_ = TLazyTreeHintData{};
    TLTHeader& header = *header_;
    // A draw tree sizes its node hints itself: no size, no hint.
    auto drawTreeHintSized = [&] {
        auto* draw = dynamic_cast<TCustomLazyDrawTree*>(this);
        if (draw) draw->DoGetHintSize(hit.Node, hit.Column, hintData_.HintRect);
        return !draw || !::IsRectEmpty(&hintData_.HintRect);
    };
    if (header.ColumnCount() > 0 && header.Options().Contains(hoShowHint) && header.InHeader(info.CursorPos)) {
        RECT r = header.HeaderRect();
        TColumnIndex column = header.Columns().ColumnFromPoint(info.CursorPos, true);
        if (column >= 0 && !(::GetKeyState(VK_LBUTTON) & 0x8000)) {
            int left, right;
            header.Columns().GetColumnBounds(column, left, right);
            r.left = left + offsetX_;   // where the scrolled column shows
            r.right = right + offsetX_;
            POINT bottom{0, r.bottom};
            ::ClientToScreen(handle_, &bottom);
            info.HintPos.y = std::max(info.HintPos.y, bottom.y);
            info.CursorRect = r;
            hintData_.DefaultHint = header.Columns()[column].Hint();
            ownHint = !hintData_.DefaultHint.empty();
            result = ownHint ? 0 : 1;
        } else {
            result = 1;
        }
    } else if (HintMode == hmDefault) {
        info.HintStr = ShortHint(Hint);
        result = info.HintStr.empty() ? 1 : 0;
    } else if (hit.Node && hit.Column >= ColumnNone && !drawTreeHintSized()) {
        result = 1;
    } else if (hit.Node && hit.Column >= ColumnNone) {
        ownHint = true;
        int left = 0, right = ClientWidth();
        if (hit.Column >= 0) {
            header.ColumnBounds(hit.Column, left, right);
            if (TreeOptions().AutoOptions().Contains(toAutoSpanColumns)) {
                for (TColumnIndex c = header.Columns().GetNextVisibleColumn(hit.Column);
                     c >= 0 && DoGetCellIsEmpty(hit.Node, c); c = header.Columns().GetNextVisibleColumn(c)) {
                    int l, r;
                    header.ColumnBounds(c, l, r);
                    right = r;
                }
            }
            left += offsetX_;   // client coordinates of the scrolled tree
            right += offsetX_;
        }
        if (HintMode != hmTooltip) {
            RECT r = GetDisplayRect(hit.Node, hit.Column, false);
            r.left = left;
            r.right = right;
            POINT bottom{0, r.bottom};
            ::ClientToScreen(handle_, &bottom);
            info.HintPos.y = std::max(info.HintPos.y, bottom.y) + 2;
            info.CursorRect = r;
        } else {
            bool multiline = hit.Node->States & vsMultiline;
            RECT nodeRect = GetDisplayRect(hit.Node, hit.Column, true, !multiline);
            if (!multiline) {
                POINT p = info.CursorPos;
                bool cutOff = nodeRect.right > std::min(right, ClientWidth()) || nodeRect.left < std::max(left, 0);
                ownHint = ::PtInRect(&nodeRect, p) && p.x >= left && p.x < right && cutOff;
            }
            if (ownHint) {
                POINT topLeft{nodeRect.left, nodeRect.top};
                ::ClientToScreen(handle_, &topLeft);
                info.HintPos = topLeft;
                info.CursorRect = nodeRect;
            } else {
                result = 1;
            }
        }
    } else if (HintMode == hmHintAndDefault) {
        hintData_.DefaultHint = ShortHint(Hint);
        ownHint = !hintData_.DefaultHint.empty();
        result = ownHint ? 0 : 1;
    } else {
        result = 1;
    }

    if (ownHint && result == 0) {
        info.HintWindowClass = [] { return std::unique_ptr<THintWindow>(new TLazyTreeHintWindow); };
        hintData_.Tree = this;
        hintData_.Node = hit.Node;
        hintData_.Column = hit.Column;
        info.HintData = &hintData_;
        lastHintRect_ = info.CursorRect;
    } else {
        lastHintRect_ = RECT{};
    }
    if (result == 0) DoStateChange({tsHint});
    else DoStateChange({}, {tsHint});
    return result;
}

// No pause before a header hint or a tooltip: both stand for what the mouse already points at.
int TBaseLazyTree::HintShowPause(POINT p) const {
    if (header_->Options().Contains(hoShowHint) && header_->InHeader(p)) return 0;
    return HintMode == hmTooltip ? 0 : -1;
}

void TBaseLazyTree::HintMouseMoved(POINT p) {
    if (!ShowHint || !HandleAllocated()) return;
    HintManager().MouseMoved(this, handle_, p, [this](THintInfo& info) { return CMHintShow(info); }, HintShowPause(p));
}

// The hint window paints from its node: it goes with the node.
void TBaseLazyTree::CancelHintOf(PLazyNode node) {
    if (hintData_.Node == node) hintData_.Node = nullptr;
    if (HintManager().HintControl() != this) return;
    auto* window = dynamic_cast<TLazyTreeHintWindow*>(HintManager().HintWindow());
    if (window && window->HintData().Node == node) HintManager().CancelHint();
}

// ---- the window ------------------------------------------------------------------------------------

TLazyTreeHintWindow::TLazyTreeHintWindow() {
    Style = WS_POPUP;
    ExStyle = WS_EX_TOOLWINDOW | WS_EX_TOPMOST;
}

TLazyTreeHintWindow::~TLazyTreeHintWindow() {
    lifetime_.End();
    DestroyHandle();
}

RECT TLazyTreeHintWindow::Desktop() {
    int x = ::GetSystemMetrics(SM_XVIRTUALSCREEN), y = ::GetSystemMetrics(SM_YVIRTUALSCREEN);
    return RECT{x, y, x + ::GetSystemMetrics(SM_CXVIRTUALSCREEN), y + ::GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

RECT TLazyTreeHintWindow::KeepOnDesktop(RECT r, const RECT& desktop) {
    auto fit = [](LONG& low, LONG& high, LONG min, LONG max) {
        LONG size = high - low;
        if (high > max) low = max - size;
        if (low < min) low = min;
        high = low + size;
    };
    fit(r.top, r.bottom, desktop.top, desktop.bottom);
    fit(r.left, r.right, desktop.left, desktop.right);
    return r;
}

RECT TLazyTreeHintWindow::CalcHintRect(int maxWidth, const std::wstring& hint, void* data) {
    RECT r = HintRect(maxWidth, hint, data);
    // The window grows by the shadow when it is shown.
    shadow_ = ::IsRectEmpty(&r) ? 0 : kShadowSize;
    return r;
}

RECT TLazyTreeHintWindow::HintRect(int maxWidth, const std::wstring& hint, void* data) {
    if (!data) return RECT{};
    data_ = *static_cast<TLazyTreeHintData*>(data);
    TBaseLazyTree* tree = data_.Tree;
    if (!tree) return RECT{};
    PLazyNode node = data_.Node;
    TColumnIndex column = data_.Column;
    if (node && dynamic_cast<TCustomLazyDrawTree*>(tree)) return data_.HintRect;
    bool tooltip = tree->HintMode == hmTooltip && node;

    if (column >= 0) {
        TLazyTreeColumn& c = tree->Header().Columns()[column];
        data_.BidiMode = c.BiDiMode();
        data_.Alignment = c.Alignment();
    } else {
        data_.BidiMode = tree->BiDiMode();
        data_.Alignment = tree->Alignment();
    }
    if (data_.BidiMode != bdLeftToRight) {
        if (data_.Alignment == taLeftJustify) data_.Alignment = taRightJustify;
        else if (data_.Alignment == taRightJustify) data_.Alignment = taLeftJustify;
    }

    TCanvas canvas(nullptr);
    WindowDC screen(nullptr);
    canvas.SetHandle(screen.get());
    HFONT font = HintFont();
    if (tooltip) {
        canvas.Font = tree->Font();
        if (auto* strings = dynamic_cast<TCustomLazyStringTree*>(tree)) strings->DoPaintText(canvas, node, column, ttNormal);
        font = canvas.Font.Handle();
    }
    {
        SelectObjectScope select(screen.get(), font);
        TEXTMETRICW metrics;
        ::GetTextMetricsW(screen.get(), &metrics);
        data_.TextHeight = metrics.tmHeight;
    }

    if (!data_.DefaultHint.empty()) data_.HintText = data_.DefaultHint;
    else if (!node) data_.HintText.clear();
    else data_.HintText = tooltip ? tree->DoGetNodeTooltip(node, column) : tree->DoGetNodeHint(node, column);
    canvas.SetHandle(nullptr);
    if (data_.HintText.empty()) return RECT{};
    (void)hint;

    RECT r;
    if (tooltip) {
        if (!(node->States & vsMultiline)) {
            r = tree->GetDisplayRect(node, column, true, true);
            if (tree->TreeOptions().PaintOptions().Contains(toShowHorzGridLines)) --r.bottom;
        } else {
            r = tree->GetDisplayRect(node, column, true, false);
            RECT laidOut = r;
            SelectObjectScope select(screen.get(), font);
            ::DrawTextW(screen.get(), data_.HintText.c_str(), int(data_.HintText.size()), &laidOut,
                        DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
            RECT cell = tree->GetDisplayRect(node, column, false, false);
            RECT client = tree->ClientRect(), inside;
            bool wholeCell = ::IntersectRect(&inside, &cell, &client) && ::EqualRect(&inside, &cell);
            if (int(node->NodeHeight) + 2 >= laidOut.bottom - laidOut.top && wholeCell) return RECT{};
            r.bottom = r.top + (laidOut.bottom - laidOut.top);
            r.right = std::max(r.right, laidOut.right) + 1;
        }
        data_.HintRect = r;
        return RECT{-1, -1, r.right - r.left + 1, r.bottom - r.top + 1};
    }
    r = RECT{0, 0, maxWidth, data_.TextHeight};
    SelectObjectScope select(screen.get(), font);
    ::DrawTextW(screen.get(), data_.HintText.c_str(), int(data_.HintText.size()), &r,
                DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    r.bottom += 6;
    r.right += 2 * tree->TextMargin() + 2;
    return r;
}

void TLazyTreeHintWindow::ActivateHintData(RECT rect, const std::wstring& hint, void* data) {
    // CalcHintRect has taken the data already, with the text it found.
    if (data && !data_.Tree) data_ = *static_cast<TLazyTreeHintData*>(data);
    ActivateHint(rect, hint);
}

void TLazyTreeHintWindow::ActivateHint(RECT rect, const std::wstring& hint) {
    if (::IsRectEmpty(&rect) || !data_.Tree) return;
    TBaseLazyTree& tree = *data_.Tree;
    if (tree.states_.Contains(tsInAnimation)) tree.DoStateChange({tsCancelHintAnimation});
    caption_ = hint;
    HandleNeeded();
    rect.right += shadow_;
    rect.bottom += shadow_;
    rect = KeepOnDesktop(rect, Desktop());
    width_ = rect.right - rect.left;
    height_ = rect.bottom - rect.top;
    ::SetWindowPos(handle_, nullptr, rect.left, rect.top, width_, height_,
                   SWP_HIDEWINDOW | SWP_NOACTIVATE | SWP_NOZORDER);
    background_ = CreateDib32(width_, height_);
    buffer_ = CreateDib32(width_, height_);
    target_ = CreateDib32(width_, height_);
    if (tree.HandleAllocated()) ::UpdateWindow(tree.Handle());
    {
        // What lies under the hint, for the fade to blend over.
        WindowDC screen(nullptr);
        MemoryDC dc(screen.get());
        SelectObjectScope select(dc.get(), background_.get());
        ::BitBlt(dc.get(), 0, 0, width_, height_, screen.get(), rect.left, rect.top, SRCCOPY);
    }
    ::SetWindowPos(handle_, HWND_TOPMOST, 0, 0, 0, 0, SWP_SHOWWINDOW | SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE);
    animation_ = tree.GetHintAnimationType();
    auto step = [this, self = TLifeWatch(lifetime_)](int s, int size, void*) { return !self.Gone() && Animate(s, size); };
    switch (animation_) {
    case hatFade: tree.RunStepAnimation(255, 2 * int(tree.AnimationDuration()), step, nullptr); break;
    case hatSlide: tree.RunStepAnimation(height_, int(tree.AnimationDuration()), step, nullptr); break;
    default: ::InvalidateRect(handle_, nullptr, FALSE); ::UpdateWindow(handle_); break;
    }
}

bool TLazyTreeHintWindow::Animate(int step, int stepSize) {
    if (!handle_ || !::IsWindowVisible(handle_) || !data_.Tree ||
        data_.Tree->states_.Contains(tsCancelHintAnimation))
        return false;
    InternalPaint(step, stepSize);
    return true;
}

void TLazyTreeHintWindow::InternalPaint(int step, int stepSize) {
    if (!handle_ || !buffer_ || !data_.Tree) return;
    TBaseLazyTree& tree = *data_.Tree;
    WindowDC window(handle_);
    MemoryDC buffer(window.get()), target(window.get()), background(window.get());
    SelectObjectScope b(buffer.get(), buffer_.get()), t(target.get(), target_.get()),
        g(background.get(), background_.get());
    RECT whole{0, 0, width_, height_};
    // The shadow lies over what was under the window; the hint takes the rest.
    int shadow = std::min({shadow_, width_ / 2, height_ / 2});
    RECT r{0, 0, width_ - shadow, height_ - shadow};
    if (shadow) ::BitBlt(buffer.get(), 0, 0, width_, height_, background.get(), 0, 0, SRCCOPY);
    ::FillRect(buffer.get(), &r, ::GetSysColorBrush(COLOR_INFOBK));
    ::FrameRect(buffer.get(), &r, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
    PaintShadow(buffer.get(), shadow);

    auto* draw = dynamic_cast<TCustomLazyDrawTree*>(&tree);
    bool tooltip = tree.HintMode == hmTooltip && data_.Node;
    TCanvas canvas(buffer.get());
    HFONT font = THintWindow::HintFont();
    if (tooltip) {
        canvas.Font = tree.Font();
        if (auto* strings = dynamic_cast<TCustomLazyStringTree*>(&tree))
            strings->DoPaintText(canvas, data_.Node, data_.Column, ttNormal);
        font = canvas.Font.Handle();
    }
    if (draw && data_.Node) {
        draw->DoDrawHint(canvas, data_.Node, r, data_.Column);
    } else {
        SelectObjectScope select(buffer.get(), font);
        ::SetBkMode(buffer.get(), TRANSPARENT);
        // A tooltip shows the cell's text as the tree paints it, colour included.
        ::SetTextColor(buffer.get(), tooltip ? ColorToRGB(canvas.Font.Color()) : ::GetSysColor(COLOR_INFOTEXT));
        UINT flags = DT_NOPREFIX | (data_.Alignment == taRightJustify ? DT_RIGHT
                                    : data_.Alignment == taCenter    ? DT_CENTER
                                                                     : DT_LEFT);
        if (data_.BidiMode != bdLeftToRight) flags |= DT_RTLREADING;
        RECT text = r;
        if (tooltip) {
            ::InflateRect(&text, -1, -1);
            if (data_.Node->States & vsMultiline) flags |= DT_WORDBREAK;
            else flags |= DT_SINGLELINE | DT_VCENTER;
        } else {
            ::InflateRect(&text, -(tree.TextMargin() + 1), -3);
            flags |= DT_WORDBREAK;
        }
        ::DrawTextW(buffer.get(), data_.HintText.c_str(), int(data_.HintText.size()), &text, flags);
    }
    canvas.SetHandle(nullptr);

    bool finished = stepSize == 0;
    if (animation_ == hatFade && !finished) {
        ::BitBlt(target.get(), 0, 0, width_, height_, background.get(), 0, 0, SRCCOPY);
        BlendRect(buffer.get(), target.get(), whole, POINT{0, 0}, bmConstantAlpha, std::clamp(step, 0, 255), 0);
    } else if (animation_ == hatSlide && !finished) {
        ::BitBlt(target.get(), 0, 0, width_, height_, background.get(), 0, 0, SRCCOPY);
        int rows = std::clamp(step, 0, height_);
        ::BitBlt(target.get(), 0, 0, width_, rows, buffer.get(), 0, 0, SRCCOPY);
    } else {
        ::BitBlt(target.get(), 0, 0, width_, height_, buffer.get(), 0, 0, SRCCOPY);
    }
    ::BitBlt(window.get(), 0, 0, width_, height_, target.get(), 0, 0, SRCCOPY);
}

// Bands along the right and bottom edges, the outermost first: each an L
// one pixel wide, offset from the top and left by the shadow's size.
void TLazyTreeHintWindow::PaintShadow(HDC dc, int shadow) {
    for (int k = 0; k < shadow; ++k) {
        int bias = -kShadowBias[k];
        RECT right{width_ - 1 - k, shadow, width_ - k, height_ - k};
        RECT bottom{shadow, height_ - 1 - k, width_ - 1 - k, height_ - k};
        BlendRect(dc, dc, right, POINT{right.left, right.top}, bmConstantAlpha, 0, bias);
        BlendRect(dc, dc, bottom, POINT{bottom.left, bottom.top}, bmConstantAlpha, 0, bias);
    }
}

void TLazyTreeHintWindow::Paint(HDC) { InternalPaint(0, 0); }

void TLazyTreeHintWindow::Forget() {
    if (data_.Tree) data_.Tree->lastHintRect_ = RECT{};
    data_ = TLazyTreeHintData{};
}

bool TLazyTreeHintWindow::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
    case WM_ERASEBKGND:
        result = 1;
        return true;
    case WM_NCPAINT:
        result = 0;
        return true;
    case WM_SHOWWINDOW:
        if (!wParam) Forget();
        return false;
    default:
        return THintWindow::HandleMessage(msg, wParam, lParam, result);
    }
}

} // namespace krv
