// Painting: PaintTree draws rows one at a time into a one-row bitmap and
// copies each to the target, so no row flickers; the display rectangle of a
// node; the node buttons and the tree-line brush.
#include "tree/core/LazyTreeTimers.h"
#include "tree/core/LazyTrees.h"
#include "tree/paint/LazyTreeDrawing.h"
#include <algorithm>
#include <utility>

namespace krv {

namespace {

constexpr int kButtonSize = 9;
constexpr TColor kTransparent = 0xFF00FF;
constexpr int kBlendedImageAlpha = 64;   // a quarter, out of 256

// The picture of a button for drawing with a mask: a copy of source with the
// transparent colour turned black, and a mask that is all ones there and
// zero elsewhere. A colour-keyed copy would make a mask on every draw.
std::pair<BitmapHandle, BitmapHandle> MaskedButton(HBITMAP source) {
    void* imageBits = nullptr;
    void* maskBits = nullptr;
    BitmapHandle image = CreateDib32(kButtonSize, kButtonSize, &imageBits);
    BitmapHandle mask = CreateDib32(kButtonSize, kButtonSize, &maskBits);
    if (!image || !mask) return {};
    {
        MemoryDC from(nullptr), to(nullptr);
        SelectObjectScope selectFrom(from.get(), source);
        SelectObjectScope selectTo(to.get(), image.get());
        ::BitBlt(to.get(), 0, 0, kButtonSize, kButtonSize, from.get(), 0, 0, SRCCOPY);
    }
    ::GdiFlush();
    COLORREF key = ColorToRGB(kTransparent);
    uint32_t keyPixel = uint32_t(GetRValue(key)) << 16 | uint32_t(GetGValue(key)) << 8 | GetBValue(key);
    auto* pixels = static_cast<uint32_t*>(imageBits);
    auto* maskPixels = static_cast<uint32_t*>(maskBits);
    for (int i = 0; i < kButtonSize * kButtonSize; ++i) {
        bool clear = (pixels[i] & 0xFFFFFF) == keyPixel;
        maskPixels[i] = clear ? 0xFFFFFFFF : 0;
        if (clear) pixels[i] = 0;
    }
    return {std::move(image), std::move(mask)};
}

// A 32-bit top-down DIB section selected into a memory DC; blending works on
// its bits in place.
class RowBitmap {
public:
    explicit RowBitmap(HDC compatible) : dc_(compatible) {}
    ~RowBitmap() { if (old_) ::SelectObject(dc_.get(), old_); }
    HDC DC() const { return dc_.get(); }
    void Resize(int width, int height) {
        width = std::max(width, 1);
        height = std::max(height, 1);
        if (width == width_ && height == height_) return;
        BITMAPINFO bi = Dib32Info(width, height);
        void* bits = nullptr;
        BitmapHandle fresh(::CreateDIBSection(dc_.get(), &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
        if (!fresh) throw Exception("Cannot make the tree's row bitmap: " + SysErrorMessage(::GetLastError()));
        HGDIOBJ previous = ::SelectObject(dc_.get(), fresh.get());
        if (!old_) old_ = previous;
        bitmap_ = std::move(fresh);
        width_ = width;
        height_ = height;
    }
private:
    MemoryDC dc_;
    BitmapHandle bitmap_;
    HGDIOBJ old_ = nullptr;
    int width_ = 0, height_ = 0;
};

bool HasVisibleNextSibling(PLazyNode node) {
    for (PLazyNode run = node->NextSibling; run; run = run->NextSibling)
        if (run->States & vsVisible) return true;
    return false;
}

bool HasVisiblePrevSibling(PLazyNode node) {
    for (PLazyNode run = node->PrevSibling; run; run = run->PrevSibling)
        if (run->States & vsVisible) return true;
    return false;
}

// Fits r to width w by the alignment.
void FitToWidth(RECT& r, int w, TAlignment alignment) {
    switch (alignment) {
    case taRightJustify: r.left = r.right - w; break;
    case taCenter: r.left = (r.left + r.right - w) / 2; r.right = r.left + w; break;
    default: r.right = r.left + w; break;
    }
}

TAlignment Mirrored(TAlignment a) {
    return a == taLeftJustify ? taRightJustify : a == taRightJustify ? taLeftJustify : a;
}

void TileBitmap(HDC dc, HBITMAP picture, RECT r, int originX, int originY) {
    BITMAP info{};
    if (!::GetObjectW(picture, sizeof info, &info) || info.bmWidth <= 0 || info.bmHeight <= 0) return;
    MemoryDC source(dc);
    SelectObjectScope select(source.get(), picture);
    int w = info.bmWidth, h = info.bmHeight;
    int startX = r.left - ((r.left - originX) % w + w) % w;
    int startY = r.top - ((r.top - originY) % h + h) % h;
    for (int y = startY; y < r.bottom; y += h)
        for (int x = startX; x < r.right; x += w) {
            int left = std::max<int>(x, r.left), top = std::max<int>(y, r.top);
            int right = std::min<int>(x + w, r.right), bottom = std::min<int>(y + h, r.bottom);
            ::BitBlt(dc, left, top, right - left, bottom - top, source.get(), left - x, top - y, SRCCOPY);
        }
}

} // namespace

// ---- classes and bitmaps ------------------------------------------------------------

THeaderClass TBaseLazyTree::GetHeaderClass() const {
    return +[](TBaseLazyTree* owner) { return std::make_unique<TLTHeader>(owner); };
}

TColor TBaseLazyTree::ColumnColor(TColumnIndex column) const {
    const TLazyTreeColumns& columns = std::as_const(*header_).Columns();
    return columns.IsColumnIndexValid(column) ? columns[column].Color() : color_;
}

TOptionsClass TBaseLazyTree::GetOptionsClass() const {
    return +[](TBaseLazyTree* owner) { return std::make_unique<TCustomLazyTreeOptions>(owner); };
}

void TBaseLazyTree::UseOwnClasses() {
    options_ = GetOptionsClass()(this);
    header_ = GetHeaderClass()(this);
}

void TBaseLazyTree::PrepareBitmaps(bool buttons, bool lines) {
    WindowDC screen(nullptr);
    if (buttons) {
        for (int plus = 0; plus < 2; ++plus) {
            BitmapHandle bmp;
            if (buttonFillMode_ == fmShaded && buttonStyle_ == bsRectangle) {
                bmp.reset(static_cast<HBITMAP>(::LoadImageW(::GetModuleHandleW(nullptr),
                                                            plus ? L"LT_XPBUTTONPLUS" : L"LT_XPBUTTONMINUS",
                                                            IMAGE_BITMAP, 0, 0, 0)));
            }
            if (!bmp) {
                bmp = CreateDib32(kButtonSize, kButtonSize);
                MemoryDC dc(screen.get());
                SelectObjectScope select(dc.get(), bmp.get());
                TCanvas canvas(dc.get());
                canvas.Brush.SetColor(kTransparent);
                canvas.FillRect(RECT{0, 0, kButtonSize, kButtonSize});
                if (buttonStyle_ == bsTriangle) {
                    canvas.Brush.SetColor(clBlack);
                    canvas.Pen.SetColor(clBlack);
                    POINT collapsed[3] = {{2, 0}, {6, 4}, {2, 8}};
                    POINT expanded[3] = {{0, 2}, {8, 2}, {4, 6}};
                    canvas.Polygon(plus ? collapsed : expanded, 3);
                } else {
                    if (buttonFillMode_ != fmTransparent) {
                        canvas.Brush.SetColor(buttonFillMode_ == fmWindowColor ? clWindow : color_);
                        canvas.FillRect(RECT{1, 1, kButtonSize - 1, kButtonSize - 1});
                    }
                    canvas.Brush.SetColor(colors_.Get(TLTColors::TreeLineColor));
                    canvas.FrameRect(RECT{0, 0, kButtonSize, kButtonSize});
                    canvas.Pen.SetColor(font_.Color());
                    canvas.MoveTo(2, kButtonSize / 2);
                    canvas.LineTo(7, kButtonSize / 2);
                    if (plus) {
                        canvas.MoveTo(kButtonSize / 2, 2);
                        canvas.LineTo(kButtonSize / 2, 7);
                    }
                }
            }
            auto [image, mask] = MaskedButton(bmp.get());
            (plus ? plusBitmap_ : minusBitmap_) = std::move(image);
            (plus ? plusMask_ : minusMask_) = std::move(mask);
        }
    }
    if (lines) {
        // An 8 x 8 monochrome pattern, two bytes a row: dots every other pixel
        // on alternating rows, or solid.
        WORD pattern[8];
        for (int i = 0; i < 8; ++i) pattern[i] = lineStyle_ == lsSolid ? 0 : (i % 2 ? 0xAA : 0x55);
        if (lineStyle_ == lsCustomStyle) {
            const void* bits = nullptr;
            DoGetLineStyle(bits);
            if (bits) std::copy_n(static_cast<const WORD*>(bits), 8, pattern);
        }
        BitmapHandle mono(::CreateBitmap(8, 8, 1, 1, pattern));
        dottedBrush_.reset(::CreatePatternBrush(mono.get()));
    }
}

HDC TBaseLazyTree::MeasureDC() {
    if (!measureDC_) measureDC_ = std::make_unique<MemoryDC>(nullptr);
    ::SelectObject(measureDC_->get(), font_.Handle());
    return measureDC_->get();
}

int TBaseLazyTree::CheckImageWidth() const {
    TImageList* list = CheckImages();
    return list ? list->Width() : 0;
}

// ---- alignment and heights ------------------------------------------------------------

int TBaseLazyTree::NodeAlignmentLine(PLazyNode node, int rowHeight, bool withImages) const {
    switch (nodeAlignment_) {
    case naFromTop: return node->Align;
    case naFromBottom: return rowHeight - node->Align;
    default: {
        int element = withImages && images_ ? images_->Height()
                      : options_->PaintOptions().Contains(toShowButtons) ? kButtonSize : 0;
        return node->Align * (rowHeight - element) / 100 + element / 2;
    }
    }
}

void TBaseLazyTree::MeasureItemHeight(TCanvas& canvas, PLazyNode node) {
    if (!MiscOption(toVariableNodeHeight) || !node || node == root_ || (node->States & vsHeightMeasured)) return;
    int height = node->NodeHeight;
    DoMeasureItem(canvas, node, height);
    node->States |= vsHeightMeasured;
    if (height > 0 && height != node->NodeHeight) SetNodeHeight(node, unsigned(height));
}

// ---- Do... slots of painting -------------------------------------------------------------

void TBaseLazyTree::DoPaintNode(TLTPaintInfo&) {}

void TBaseLazyTree::DoPaintDropMark(TCanvas& canvas, PLazyNode, RECT r) {
    if (lastDropMode_ != dmAbove && lastDropMode_ != dmBelow) return;
    canvas.Brush.SetColor(colors_.Get(TLTColors::DropMarkColor));
    if (lastDropMode_ == dmAbove) r.bottom = r.top + 2;
    else r.top = r.bottom - 2;
    canvas.FillRect(r);
}

int TBaseLazyTree::GetCheckImage(PLazyNode node) {
    return CheckImageIndex(CheckType(node), CheckState(node), !(node->States & vsDisabled) && Enabled(),
                           node == hotNode_);
}

void TBaseLazyTree::PaintCheckImage(const TLTPaintInfo& info) {
    const TLTImageInfo& image = info.ImageInfo[iiCheck];
    if (image.Images) image.Images->Draw(info.Canvas->Handle(), image.XPos, image.YPos, image.Index);
}

void TBaseLazyTree::PaintImage(TLTPaintInfo& info, TLTImageInfoIndex which) {
    const TLTImageInfo& image = info.ImageInfo[which];
    if (!image.Images || image.Index < 0) return;
    bool ghosted = image.Ghosted ||
                   (options_->PaintOptions().Contains(toGhostedIfUnfocused) && !PaintingFocused() && which == iiNormal);
    HDC dc = info.Canvas->Handle();
    if (ghosted && ghostedImages_) ghostedImages_->Draw(*image.Images, dc, image.XPos, image.YPos, image.Index);
    else image.Images->Draw(dc, image.XPos, image.YPos, image.Index, !ghosted);
    if (ghosted || !options_->PaintOptions().Contains(toUseBlendedImages)) return;
    // Blended images take a quarter of the colour behind the node: the
    // selection's where a highlight sits behind the text only, the tree's
    // for a node that waits to be cut.
    TColor tint = clNoColor;
    if (!SelectionOption(toFullRowSelect) && !MiscOption(toGridExtensions)) tint = CellSelectionColor(info);
    if (tint == clNoColor && (info.Node->States & vsCutOrCopy) && states_.Contains(tsCutPending)) tint = color_;
    if (tint == clNoColor) return;
    RECT r{image.XPos, image.YPos, image.XPos + image.Images->Width(), image.YPos + image.Images->Height()}, clip;
    if (::GetClipBox(dc, &clip) == NULLREGION || !::IntersectRect(&r, &r, &clip)) return;
    // The blend works on the bitmap's own pixels.
    POINT origin{};
    ::GetWindowOrgEx(dc, &origin);
    ::OffsetRect(&r, -origin.x, -origin.y);
    ::GdiFlush();
    BlendRect(dc, dc, r, POINT{r.left, r.top}, bmConstantAlphaAndColor, kBlendedImageAlpha, int(ColorToRGB(tint)));
}

void TBaseLazyTree::PaintNodeButton(TCanvas& canvas, PLazyNode node, int x, int y, bool) {
    bool expanded = node->States & vsExpanded;
    HBITMAP bmp = expanded ? minusBitmap_.get() : plusBitmap_.get();
    HBITMAP mask = expanded ? minusMask_.get() : plusMask_.get();
    if (!bmp || !mask) return;
    if (!buttonDC_) buttonDC_ = std::make_unique<MemoryDC>(nullptr);
    HDC source = buttonDC_->get();
    {
        SelectObjectScope select(source, mask);
        ::BitBlt(canvas.Handle(), x, y, kButtonSize, kButtonSize, source, 0, 0, SRCAND);
    }
    SelectObjectScope select(source, bmp);
    ::BitBlt(canvas.Handle(), x, y, kButtonSize, kButtonSize, source, 0, 0, SRCPAINT);
}

// One-pixel line with the tree-line brush (dotted or solid).
void TBaseLazyTree::DrawLine(TCanvas& canvas, int x1, int y1, int x2, int y2) {
    RECT r{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2) + 1, std::max(y1, y2) + 1};
    ::FillRect(canvas.Handle(), &r, dottedBrush_.get());
}

void TBaseLazyTree::PaintTreeLines(const TLTPaintInfo& info, int vAlign, int indentSize,
                                   const std::vector<uint8_t>& lineImage) {
    TCanvas& canvas = *info.Canvas;
    int h = info.CellRect.bottom;
    bool rtl = info.BidiMode != bdLeftToRight;
    for (size_t i = 0; i < lineImage.size(); ++i) {
        int x0 = rtl ? info.CellRect.right - int(i + 1) * indentSize : info.CellRect.left + int(i) * indentSize;
        int cx = x0 + (indentSize - kButtonSize) / 2 + kButtonSize / 2;
        int farX = rtl ? x0 : x0 + indentSize - 1;
        switch (lineImage[i]) {
        case 1: DrawLine(canvas, cx, vAlign, cx, h - 1); DrawLine(canvas, cx, vAlign, farX, vAlign); break;
        case 2: DrawLine(canvas, cx, 0, cx, h - 1); break;
        case 3: DrawLine(canvas, cx, 0, cx, h - 1); DrawLine(canvas, cx, vAlign, farX, vAlign); break;
        case 4: DrawLine(canvas, cx, vAlign, farX, vAlign); break;
        case 5: DrawLine(canvas, cx, 0, cx, vAlign); DrawLine(canvas, cx, vAlign, farX, vAlign); break;
        case 6: DrawLine(canvas, x0, 0, x0, h - 1); break;
        case 7: DrawLine(canvas, x0, 0, x0, h - 1); DrawLine(canvas, x0, h - 1, x0 + indentSize - 1, h - 1); break;
        default: break;
        }
    }
}

// Without spanning every shown column paints its own cell, next in display order.
void TBaseLazyTree::AdjustPaintCellRect(TLTPaintInfo& info, TColumnIndex& nextNonEmpty) {
    std::vector<TColumnIndex> columns = header_->VisibleColumnsInOrder();
    auto at = std::find(columns.begin(), columns.end(), info.Column);
    nextNonEmpty = at != columns.end() && at + 1 != columns.end() ? *(at + 1) : ColumnInvalid;
}

void TBaseLazyTree::DoPopupMenu(PLazyNode node, TColumnIndex column, POINT position) {
    TPopupMenu* menu = DoGetPopupMenu(node, column, position);
    if (!menu) menu = popupMenu_;   // no menu for the node: the tree's own
    if (!menu) return;
    StopChangeTimer(kEditTimer);
    DoStateChange({}, tsEditPending);
    menu->PopupComponent = this;
    POINT screen = position;
    if (HandleAllocated()) ::ClientToScreen(handle_, &screen);
    menu->Popup(screen.x, screen.y, this);
}

// ---- line images ---------------------------------------------------------------------------

void TBaseLazyTree::DetermineLineImage(PLazyNode node, std::vector<uint8_t>& lineImage) {
    bool showRoot = options_->PaintOptions().Contains(toShowRoot);
    unsigned level = GetNodeLevel(node);
    size_t count = level + (showRoot ? 1 : 0);
    lineImage.assign(count, 0);
    if (count == 0) return;
    lineImage[count - 1] = HasVisibleNextSibling(node) ? 3 : 5;
    PLazyNode run = node->Parent;
    for (size_t i = count - 1; i-- > 0 && run != root_; run = run->Parent)
        lineImage[i] = HasVisibleNextSibling(run) ? 2 : 0;
    if (showRoot && level == 0 && options_->PaintOptions().Contains(toShowTreeLines)) {
        bool before = HasVisiblePrevSibling(node), after = HasVisibleNextSibling(node);
        lineImage[0] = !before && !after ? 4 : !before ? 1 : !after ? 5 : 3;
    }
    if (lineMode_ == lmBands) {
        for (size_t i = 0; i + 1 < count; ++i) lineImage[i] = 6;
        lineImage[count - 1] = HasVisibleNextSibling(node) ? 6 : 7;
    }
}

// ---- PaintTree -------------------------------------------------------------------------------

void TBaseLazyTree::PaintTree(TCanvas& target, RECT window, POINT targetPoint, unsigned paintOptions,
                              TPixelFormat) {
    DoStateChange(tsPainting);
    struct LeavePainting {
        TBaseLazyTree* tree;
        int8_t focused;
        std::unique_ptr<TGhostedImageCache> ghosted;
        ~LeavePainting() {
            tree->paintFocused_ = focused;
            tree->ghostedImages_ = std::move(ghosted);
            tree->DoStateChange({}, tsPainting);
        }
    };
    {
        // Ghosted draws are kept for this paint only: the lists may change between paints.
        LeavePainting leave{this, paintFocused_,
                            std::exchange(ghostedImages_, std::make_unique<TGhostedImageCache>())};
        DoBeforePaint(target);
        if (!plusBitmap_ || !dottedBrush_) PrepareBitmaps(!plusBitmap_, !dottedBrush_);
        int width = window.right - window.left;
        if (width <= 0 || window.bottom <= window.top) return;
        TLTPaintOptions paint = options_->PaintOptions();
        bool focused = Focused();
        paintFocused_ = focused;
        if (paint.Contains(toAlwaysHideSelection) || (paint.Contains(toHideSelection) && !focused))
            paintOptions &= ~unsigned(poDrawSelection);
        if (paint.Contains(toHideFocusRect)) paintOptions &= ~unsigned(poDrawFocusRect);

        RowBitmap row(target.Handle());
        HDC dc = row.DC();
        TCanvas canvas(dc);
        ::SetWindowOrgEx(dc, window.left, 0, nullptr);
        ::SetBkMode(dc, TRANSPARENT);

        int top = 0;
        PLazyNode node = GetNodeAt(0, std::max<LONG>(window.top, 0), false, top);
        std::vector<uint8_t> lineImage;
        bool waitForSelected = (paintOptions & poSelectedOnly) != 0;
        while (node && top < window.bottom) {
            InitIfNeeded(node);
            // Measured in the font it is painted in (the row before may have changed it).
            canvas.Font = font_;
            MeasureItemHeight(canvas, node);
            int h = node->NodeHeight;
            if (waitForSelected && (node->States & vsSelected)) waitForSelected = false;
            if (!waitForSelected && h > 0) {
                row.Resize(width, h);
                canvas.Font = font_;
                // Brush patterns line up with the rest of the tree.
                ::SetBrushOrgEx(dc, ((-window.left) % 8 + 8) % 8, ((-top) % 8 + 8) % 8, nullptr);
                RECT rowRect{window.left, 0, window.right, h};
                TLTPaintInfo info;
                info.Canvas = &canvas;
                info.PaintOptions = paintOptions;
                info.Node = node;
                if (!DoBeforeItemPaint(canvas, node, rowRect)) {
                    DetermineLineImage(node, lineImage);
                    EraseRow(info, rowRect, window.left);
                    PaintRow(info, dc, width, window, lineImage, window.left);
                }
                DoAfterItemPaint(canvas, node, rowRect);
                if (node == dropTargetNode_ && paint.Contains(toShowDropmark) && (paintOptions & poDrawDropMark))
                    DoPaintDropMark(canvas, node, rowRect);
                PaintSelectionFrame(dc, window.left, top, width, h);
                ::GdiFlush();
                // The band's origin is the window's left edge: its first pixel is there, not at x 0.
                ::BitBlt(target.Handle(), targetPoint.x, targetPoint.y + (top - window.top), width, h, dc,
                         window.left, 0, SRCCOPY);
            }
            top += h;
            node = GetNextVisibleNoInit(node);
        }
        if (top < window.bottom) {
            int from = std::max<int>(top, window.top);
            int h = window.bottom - from;
            row.Resize(width, h);
            RECT r{window.left, 0, window.right, h};
            if (!DoPaintBackground(canvas, r)) {
                if (paint.Contains(toShowBackground) && background_ && (paintOptions & poBackground)) {
                    TileBitmap(dc, background_.get(), r, backgroundOffsetX_, backgroundOffsetY_ - from);
                } else {
                    canvas.Brush.SetColor(color_);
                    canvas.FillRect(r);
                    if (paintOptions & poColumnColor)
                        for (TColumnIndex column : header_->VisibleColumnsInOrder()) {
                            TColor columnColor = ColumnColor(column);
                            if (columnColor == color_) continue;
                            int left = 0, right = 0;
                            header_->ColumnBounds(column, left, right);
                            canvas.Brush.SetColor(columnColor);
                            canvas.FillRect(RECT{left, 0, right, h});
                        }
                }
                // The columns' grid lines run on to the bottom.
                if (paint.Contains(toFullVertGridLines) && paint.Contains(toShowVertGridLines) &&
                    (paintOptions & poGridLines)) {
                    ::SetTextColor(dc, ColorToRGB(colors_.Get(TLTColors::GridLineColor)));
                    ::SetBkColor(dc, ColorToRGB(color_));
                    for (TColumnIndex column : header_->VisibleColumnsInOrder()) {
                        int left = 0, right = 0;
                        header_->ColumnBounds(column, left, right);
                        DrawLine(canvas, right - 1, 0, right - 1, h - 1);
                    }
                }
            }
            PaintSelectionFrame(dc, window.left, from, width, h);
            ::GdiFlush();
            ::BitBlt(target.Handle(), targetPoint.x, targetPoint.y + (from - window.top), width, h, dc,
                     window.left, 0, SRCCOPY);
        }
    }
    DoAfterPaint(target);
}

void TBaseLazyTree::EraseRow(TLTPaintInfo& info, RECT r, int) {
    TCanvas& canvas = *info.Canvas;
    PLazyNode node = info.Node;
    TItemEraseAction action = eaDefault;
    TColor color = color_;
    DoBeforeItemErase(canvas, node, r, color, action);
    TLTPaintOptions paint = options_->PaintOptions();
    if (action == eaColor) {
        canvas.Brush.SetColor(color);
        canvas.FillRect(r);
    } else if (action == eaDefault) {
        bool useBackground = paint.Contains(toShowBackground) && background_ && (info.PaintOptions & poBackground);
        if (useBackground) {
            int rowTop = GetNodeTop(node);
            TileBitmap(canvas.Handle(), background_.get(), r, backgroundOffsetX_, backgroundOffsetY_ - rowTop);
        } else if ((info.PaintOptions & poDrawSelection) && SelectionOption(toFullRowSelect) &&
                   (node->States & vsSelected)) {
            canvas.Brush.SetColor(color_);
            canvas.FillRect(r);
            RECT bar = r;
            if (paint.Contains(toShowHorzGridLines)) --bar.bottom;
            bool active = PaintingFocused() || paint.Contains(toPopupMode);
            canvas.Brush.SetColor(colors_.Get(active ? TLTColors::FocusedSelectionColor : TLTColors::UnfocusedSelectionColor));
            canvas.Pen.SetColor(colors_.Get(active ? TLTColors::FocusedSelectionBorderColor
                                                   : TLTColors::UnfocusedSelectionBorderColor));
            SelectObjectScope brush(canvas.Handle(), canvas.Brush.Handle());
            SelectObjectScope pen(canvas.Handle(), canvas.Pen.Handle());
            ::RoundRect(canvas.Handle(), bar.left, bar.top, bar.right, bar.bottom, selectionCurveRadius_,
                        selectionCurveRadius_);
        } else {
            canvas.Brush.SetColor(color_);
            canvas.FillRect(r);
        }
    }
    DoAfterItemErase(canvas, node, r);
}

void TBaseLazyTree::PaintRow(TLTPaintInfo& info, HDC dc, int rowWidth, RECT window,
                             const std::vector<uint8_t>& lineImage, int windowOrgX) {
    int h = info.Node->NodeHeight;
    std::vector<TColumnIndex> columns = header_->VisibleColumnsInOrder();
    // Without columns the single cell spans the tree's whole width.
    if (columns.empty()) {
        PaintCell(info, dc, rowWidth, RECT{0, 0, std::max<int>({int(window.right), rangeX_, ClientWidth()}), h},
                  ColumnNone, lineImage, windowOrgX);
        return;
    }
    TColumnIndex skipUntil = ColumnInvalid;
    for (TColumnIndex column : columns) {
        if ((info.PaintOptions & poMainOnly) && column != header_->MainColumn()) continue;
        if (skipUntil != ColumnInvalid && column != skipUntil) continue;
        skipUntil = ColumnInvalid;
        int left = 0, right = 0;
        header_->ColumnBounds(column, left, right);
        if (right <= window.left || left >= window.right) continue;
        TLTPaintInfo cellInfo;
        cellInfo.Canvas = info.Canvas;
        cellInfo.PaintOptions = info.PaintOptions;
        cellInfo.Node = info.Node;
        cellInfo.Column = column;
        cellInfo.CellRect = RECT{left, 0, right, h};
        cellInfo.Alignment = ColumnAlignment(column);
        cellInfo.BidiMode = ColumnBiDiMode(column);
        TColumnIndex next = ColumnInvalid;
        AdjustPaintCellRect(cellInfo, next);
        skipUntil = next;
        PaintCell(cellInfo, dc, rowWidth, cellInfo.CellRect, column, lineImage, windowOrgX);
        if (next == ColumnInvalid && cellInfo.CellRect.right > right) break;   // spanned to the end
    }
}

void TBaseLazyTree::PaintCell(TLTPaintInfo& info, HDC dc, int rowWidth, RECT cell, TColumnIndex column,
                              const std::vector<uint8_t>& lineImage, int windowOrgX) {
    TCanvas& canvas = *info.Canvas;
    PLazyNode node = info.Node;
    TLTPaintOptions paint = options_->PaintOptions();
    int h = node->NodeHeight;
    int saved = ::SaveDC(dc);
    ::IntersectClipRect(dc, cell.left, cell.top, cell.right, cell.bottom);
    info.Column = column;
    info.CellRect = cell;
    info.Alignment = ColumnAlignment(column);
    info.BidiMode = ColumnBiDiMode(column);
    bool rtl = info.BidiMode != bdLeftToRight;
    if (info.PaintOptions & poGridLines) {
        TColor grid = colors_.Get(TLTColors::GridLineColor);
        ::SetTextColor(dc, ColorToRGB(grid));
        ::SetBkColor(dc, ColorToRGB(color_));
        if (paint.Contains(toShowHorzGridLines)) {
            DrawLine(canvas, info.CellRect.left, h - 1, info.CellRect.right - 1, h - 1);
            --info.CellRect.bottom;
        }
        if (paint.Contains(toShowVertGridLines)) {
            DrawLine(canvas, info.CellRect.right - 1, 0, info.CellRect.right - 1, h - 1);
            --info.CellRect.right;
        }
    }
    info.ContentRect = info.CellRect;

    // Geometry of the main column: indentation, check image, state and normal image.
    bool isMain = column == header_->MainColumn();
    bool showRoot = paint.Contains(toShowRoot);
    int indentLevels = isMain ? int(GetNodeLevel(node)) + (showRoot ? 1 : 0) : 0;
    int offset = margin_ + indentLevels * int(indent_);
    auto place = [&](TLTImageInfo& image, int width) {
        image.XPos = rtl ? info.CellRect.right - offset - width : info.CellRect.left + offset;
        offset += width + 2;
    };
    TImageList* checks = CheckImages();
    if (isMain && MiscOption(toCheckSupport) && checks && CheckType(node) != ctNone) {
        TLTImageInfo& c = info.ImageInfo[iiCheck];
        c.Images = checks;
        c.Index = GetCheckImage(node);
        place(c, checks->Width());
    }
    if (stateImages_) {
        TLTImageInfo& s = info.ImageInfo[iiState];
        DoGetImageIndex(node, ikState, column, s.Ghosted, s.Index);
        if (s.Index > -1) {
            s.Images = stateImages_;
            place(s, stateImages_->Width());
        }
    }
    if (images_) {
        TLTImageInfo& n = info.ImageInfo[iiNormal];
        if (node->States & vsSelected) DoGetImageIndex(node, ikSelected, column, n.Ghosted, n.Index);
        if (n.Index < 0) DoGetImageIndex(node, ikNormal, column, n.Ghosted, n.Index);
        if (n.Index > -1) {
            n.Images = images_;
            place(n, images_->Width());
        }
    }
    if (rtl) info.ContentRect.right -= offset;
    else info.ContentRect.left += offset;
    int vAlign = NodeAlignmentLine(node, h, images_ != nullptr);
    for (TLTImageInfo& image : info.ImageInfo)
        if (image.Images) image.YPos = vAlign - image.Images->Height() / 2;
    info.NodeWidth = DoGetNodeWidth(node, column, &canvas);

    PaintSelection(info, windowOrgX, rowWidth, dc);
    if (isMain) {
        if (paint.Contains(toShowTreeLines)) {
            ::SetTextColor(dc, ColorToRGB(colors_.Get(TLTColors::TreeLineColor)));
            ::SetBkColor(dc, ColorToRGB(color_));
            PaintTreeLines(info, vAlign, int(indent_), lineImage);
        }
        if (paint.Contains(toShowButtons) && indentLevels > 0 && (node->States & vsHasChildren)) {
            int stepLeft = rtl ? info.CellRect.right - indentLevels * int(indent_)
                               : info.CellRect.left + (indentLevels - 1) * int(indent_);
            PaintNodeButton(canvas, node, stepLeft + (int(indent_) - kButtonSize) / 2, vAlign - kButtonSize / 2, rtl);
        }
        if (info.ImageInfo[iiCheck].Images && info.ImageInfo[iiCheck].Index >= 0) PaintCheckImage(info);
    }
    PaintImage(info, iiState);
    PaintImage(info, iiNormal);
    if (!(states_.Contains(tsEditing) && node == focusedNode_ && column == editColumn_)) {
        ::SetBkMode(dc, TRANSPARENT);
        DoPaintNode(info);
    }
    DoAfterCellPaint(canvas, node, column, info.CellRect);
    ::RestoreDC(dc, saved);
}

TColor TBaseLazyTree::CellSelectionColor(const TLTPaintInfo& info, TColor* border) const {
    PLazyNode node = info.Node;
    bool focusedColumn = info.Column == focusedColumn_ || header_->ColumnCount() == 0;
    if (!(info.PaintOptions & poDrawSelection) || (!focusedColumn && !SelectionOption(toFullRowSelect)))
        return clNoColor;
    TColor brush = clNoColor, pen = clNoColor;
    bool active = PaintingFocused() || options_->PaintOptions().Contains(toPopupMode);
    if (node == dropTargetNode_) {
        if (lastDropMode_ == dmOnNode || (node->States & vsSelected)) {
            brush = colors_.Get(TLTColors::DropTargetColor);
            pen = colors_.Get(TLTColors::DropTargetBorderColor);
        }
    } else if (node->States & vsSelected) {
        brush = colors_.Get(active ? TLTColors::FocusedSelectionColor : TLTColors::UnfocusedSelectionColor);
        pen = colors_.Get(active ? TLTColors::FocusedSelectionBorderColor : TLTColors::UnfocusedSelectionBorderColor);
    }
    if (border) *border = pen;
    return brush;
}

void TBaseLazyTree::PaintSelection(TLTPaintInfo& info, int windowOrgX, int maxWidth, HDC dc) {
    TCanvas& canvas = *info.Canvas;
    PLazyNode node = info.Node;
    TLTPaintOptions paint = options_->PaintOptions();
    RECT inner = info.ContentRect;
    TColor columnColor = ColumnColor(info.Column);
    // A cell in the tree's own colour lets the row erase (its colour or picture) show.
    if ((info.PaintOptions & poColumnColor) && columnColor != color_) {
        canvas.Brush.SetColor(columnColor);
        canvas.FillRect(info.CellRect);
    }
    DoBeforeCellPaint(canvas, node, info.Column, info.CellRect);
    bool focusedColumn = info.Column == focusedColumn_ || header_->ColumnCount() == 0;
    bool fullRow = SelectionOption(toFullRowSelect), gridExtensions = MiscOption(toGridExtensions);
    if (!focusedColumn && !fullRow) return;
    if (!gridExtensions && info.NodeWidth < inner.right - inner.left) {
        TAlignment a = info.BidiMode != bdLeftToRight ? Mirrored(info.Alignment) : info.Alignment;
        FitToWidth(inner, info.NodeWidth, a);
    }
    bool active = PaintingFocused() || paint.Contains(toPopupMode);
    if (info.PaintOptions & poDrawSelection) {
        TColor pen = clNoColor;
        TColor brush = CellSelectionColor(info, &pen);
        RECT r = (gridExtensions || fullRow) ? info.CellRect : inner;
        if (brush != clNoColor && r.right > r.left && r.bottom > r.top) {
            if (paint.Contains(toUseBlendedSelection)) {
                RECT b{r.left - windowOrgX, r.top, r.right - windowOrgX, r.bottom};
                b.left = std::max<LONG>(b.left, 0);
                b.right = std::min<LONG>(b.right, maxWidth);
                ::GdiFlush();
                BlendRect(dc, dc, b, POINT{b.left, b.top}, bmConstantAlphaAndColor, SelectionBlendFactor,
                          int(ColorToRGB(brush)));
            } else {
                canvas.Brush.SetColor(brush);
                canvas.Pen.SetColor(pen);
                SelectObjectScope b(dc, canvas.Brush.Handle());
                SelectObjectScope p(dc, canvas.Pen.Handle());
                ::RoundRect(dc, r.left, r.top, r.right, r.bottom, selectionCurveRadius_, selectionCurveRadius_);
            }
        }
    }
    if ((info.PaintOptions & poDrawFocusRect) && focusedColumn && active && node == focusedNode_) {
        COLORREF oldText = ::SetTextColor(dc, RGB(255, 255, 255));
        COLORREF oldBack = ::SetBkColor(dc, RGB(0, 0, 0));
        RECT r = gridExtensions ? info.CellRect : inner;
        ::DrawFocusRect(dc, &r);
        ::SetTextColor(dc, oldText);
        ::SetBkColor(dc, oldBack);
    }
}

void TBaseLazyTree::PaintSelectionFrame(HDC dc, int windowLeft, int bandTop, int width, int height) {
    if (!states_.Contains(tsDrawSelecting)) return;
    RECT frame = NormalizeRect(newSelRect_);
    // In the band's own pixels; what lies outside the band is clipped away.
    ::OffsetRect(&frame, -windowLeft, -bandTop);
    RECT band{0, 0, width, height}, inside;
    if (!::IntersectRect(&inside, &frame, &band)) return;
    POINT origin{};
    ::GetWindowOrgEx(dc, &origin);
    ::SetWindowOrgEx(dc, 0, 0, nullptr);
    // Dots line up from band to band as they do on the rest of the tree.
    POINT brushOrigin{};
    ::SetBrushOrgEx(dc, ((-windowLeft) % 8 + 8) % 8, ((-bandTop) % 8 + 8) % 8, &brushOrigin);
    if (options_->PaintOptions().Contains(toUseBlendedSelection)) {
        ::GdiFlush();
        BlendRect(dc, dc, inside, POINT{inside.left, inside.top}, bmConstantAlphaAndColor, SelectionBlendFactor,
                  int(ColorToRGB(colors_.Get(TLTColors::SelectionRectangleBlendColor))));
        BrushHandle border(::CreateSolidBrush(ColorToRGB(colors_.Get(TLTColors::SelectionRectangleBorderColor))));
        ::FrameRect(dc, &frame, border.get());
    } else {
        // The dotted frame inverts what lies under it, so it shows on any colour.
        COLORREF oldText = ::SetTextColor(dc, RGB(0, 0, 0));
        COLORREF oldBack = ::SetBkColor(dc, RGB(255, 255, 255));
        ::DrawFocusRect(dc, &frame);
        ::SetTextColor(dc, oldText);
        ::SetBkColor(dc, oldBack);
    }
    ::SetBrushOrgEx(dc, brushOrigin.x, brushOrigin.y, nullptr);
    ::SetWindowOrgEx(dc, origin.x, origin.y, nullptr);
}

// The room the state and normal images of a cell take, with their gaps.
int TBaseLazyTree::ImagesWidth(PLazyNode node, TColumnIndex column) {
    int width = 0;
    for (auto [list, kind] : {std::pair{stateImages_, ikState}, std::pair{images_, ikNormal}}) {
        bool ghosted = false;
        int index = -1;
        if (!list) continue;
        DoGetImageIndex(node, kind, column, ghosted, index);
        if (index > -1) width += list->Width() + 2;
    }
    return width;
}

// ---- rectangles ------------------------------------------------------------------------------

RECT TBaseLazyTree::GetDisplayRect(PLazyNode node, TColumnIndex column, bool textOnly, bool unclipped) {
    RECT r{};
    if (!node || node == root_) return r;
    InitIfNeeded(node);
    bool inMain = column == header_->MainColumn();
    int indentSum = 0;
    for (PLazyNode run = node; run != root_; run = run->Parent) {
        if (!(run->States & vsVisible)) return RECT{};
        if (run->Parent != root_) {
            if (!(run->Parent->States & vsExpanded)) return RECT{};
            if (inMain) indentSum += int(indent_);
        }
    }
    int top = GetNodeTop(node);
    if (top < 0) return RECT{};
    r = RECT{0, top, std::max(ClientWidth(), rangeX_), top + int(node->NodeHeight)};
    if (column >= 0 && column < header_->ColumnCount()) {
        // A cell spans its column only, and scrolls with the tree.
        int left = 0, right = 0;
        header_->ColumnBounds(column, left, right);
        r.left = left;
        r.right = right - 1;
        ::OffsetRect(&r, offsetX_, offsetY_);
    } else {
        ::OffsetRect(&r, column >= 0 ? 0 : offsetX_, offsetY_);
    }
    if (!textOnly) return r;
    int offset = margin_ + indentSum;
    if (inMain && options_->PaintOptions().Contains(toShowRoot)) offset += int(indent_);
    if (inMain && MiscOption(toCheckSupport) && CheckImages() && CheckType(node) != ctNone) offset += CheckImageWidth() + 2;
    offset += ImagesWidth(node, column);
    // Each column places its text by its own alignment and reading order.
    bool rtl = ColumnBiDiMode(column) != bdLeftToRight;
    TAlignment alignment = rtl ? Mirrored(ColumnAlignment(column)) : ColumnAlignment(column);
    int w = DoGetNodeWidth(node, column, nullptr);
    if (rtl) r.right -= offset;
    else r.left += offset;
    if (!unclipped) {
        if (w < r.right - r.left) FitToWidth(r, w, alignment);
    } else {
        if (w > r.right - r.left) alignment = rtl ? taRightJustify : taLeftJustify;
        FitToWidth(r, w, alignment);
    }
    return r;
}

int TBaseLazyTree::GetMaxColumnWidth(TColumnIndex column) {
    bool inMain = column == header_->MainColumn();
    bool showRoot = options_->PaintOptions().Contains(toShowRoot);
    int result = 0;
    for (PLazyNode node = GetFirstVisible(); node; node = GetNextVisible(node)) {
        int w = 2 * margin_;
        if (inMain) w += int(indent_) * (int(GetNodeLevel(node)) + (showRoot ? 1 : 0));
        if (MiscOption(toCheckSupport) && CheckImages() && CheckType(node) != ctNone) w += CheckImageWidth();
        w += ImagesWidth(node, column);
        w += DoGetNodeWidth(node, column, nullptr);
        result = std::max(result, w);
    }
    if (options_->PaintOptions().Contains(toShowVertGridLines)) ++result;
    return result;
}

RECT TBaseLazyTree::GetTreeRect() {
    int height = int(root_->TotalHeight) - int(root_->NodeHeight);
    return RECT{0, 0, std::max(ClientWidth(), rangeX_), std::max(ClientHeight(), height)};
}

void TBaseLazyTree::InvalidateColumn(TColumnIndex column) {
    if (updateCount_ != 0 || !HandleAllocated() || column < 0 || column >= header_->ColumnCount()) return;
    int left = 0, right = 0;
    header_->ColumnBounds(column, left, right);
    RECT r{left + offsetX_, 0, right + offsetX_, ClientHeight()};
    ::InvalidateRect(handle_, &r, FALSE);
}

void TBaseLazyTree::RepaintNode(PLazyNode node) {
    if (!HandleAllocated() || !node || node == root_) return;
    RECT r = GetDisplayRect(node, ColumnNone, false);
    if (r.bottom <= r.top) return;
    ::RedrawWindow(handle_, &r, nullptr,
                   RDW_INVALIDATE | RDW_VALIDATE | RDW_NOERASE | RDW_NOCHILDREN | RDW_UPDATENOW);
}

void TBaseLazyTree::SetHorizontalRange(int value) {
    rangeX_ = std::max(value, 0);
    if (offsetX_ < std::min(0, ClientWidth() - rangeX_)) SetOffsetX(std::min(0, ClientWidth() - rangeX_));
}

// ---- the control's own painting ----------------------------------------------------------------

void TBaseLazyTree::Paint() {
    RECT clip;
    if (::GetClipBox(canvas_.Handle(), &clip) == NULLREGION || ::IsRectEmpty(&clip)) return;
    RECT window = clip;
    ::OffsetRect(&window, -offsetX_, -offsetY_);
    PaintTree(canvas_, window, POINT{clip.left, clip.top}, poAll);
}

} // namespace krv
