// Painting of the column header: button faces per style (the system's
// header theme when themes are used, an emulation of it otherwise), images,
// captions, sort glyphs, the drop mark of a column drag, owner drawing, and
// the header's place in the tree's non-client area.
#include "tree/transfer/LazyTreeDragImage.h"
#include "tree/core/LazyTrees.h"
#include "tree/paint/LazyTreeDrawing.h"
#include "framework/Themes.h"
#include <algorithm>

namespace krv {

namespace {

constexpr int kSortGlyphWidth = 8;
constexpr int kSortGlyphHeight = 4;

void Fill(HDC dc, RECT r, TColor color) {
    BrushHandle brush(::CreateSolidBrush(ColorToRGB(color)));
    ::FillRect(dc, &r, brush.get());
}

void VLine(HDC dc, int x, int top, int bottom, TColor color) { Fill(dc, RECT{x, top, x + 1, bottom}, color); }

// The face of one column by style; answers whether the caption moves with the press.
bool PaintFace(HDC dc, TLTHeaderStyle style, RECT r, bool hover, bool pressed, bool themed, HWND wnd) {
    switch (style) {
    case hsThickButtons:
        Fill(dc, r, clBtnFace);
        ::DrawEdge(dc, &r, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT | BF_SOFT);
        return true;
    case hsFlatButtons:
        Fill(dc, r, clBtnFace);
        ::DrawEdge(dc, &r, pressed ? BDR_SUNKENOUTER : BDR_RAISEDINNER, BF_RECT);
        return true;
    case hsPlates: {
        // Plates stand apart: a one-pixel gap of the face between neighbours.
        Fill(dc, r, clBtnFace);
        RECT plate = r;
        ::InflateRect(&plate, -1, -1);
        ::DrawEdge(dc, &plate, pressed ? BDR_SUNKENOUTER : BDR_RAISEDINNER, BF_RECT);
        return true;
    }
    case hsXPStyle:
    default: {
        if (themed) {
            TTheme theme(wnd, L"HEADER");
            if (theme.Draw(dc, 1 /* HP_HEADERITEM */, pressed ? 3 : hover ? 2 : 1, r)) return false;
        }
        Fill(dc, r, pressed ? 0xD8DFDE : hover ? 0xDBEAEB : 0xF3F8FA);
        if (!pressed) {
            VLine(dc, r.right - 2, r.top + 3, r.bottom - 3, 0xB2C5C7);
            VLine(dc, r.right - 1, r.top + 3, r.bottom - 3, clWhite);
        }
        return false;
    }
    }
}

void PaintSortGlyph(HDC dc, POINT at, bool ascending, TColor color) {
    PenHandle pen(::CreatePen(PS_SOLID, 1, ColorToRGB(color)));
    BrushHandle brush(::CreateSolidBrush(ColorToRGB(color)));
    SelectObjectScope p(dc, pen.get()), b(dc, brush.get());
    POINT up[3] = {{at.x, at.y + kSortGlyphHeight - 1}, {at.x + kSortGlyphWidth - 2, at.y + kSortGlyphHeight - 1},
                   {at.x + (kSortGlyphWidth - 2) / 2, at.y}};
    POINT down[3] = {{at.x, at.y}, {at.x + kSortGlyphWidth - 2, at.y},
                     {at.x + (kSortGlyphWidth - 2) / 2, at.y + kSortGlyphHeight - 1}};
    ::Polygon(dc, ascending ? up : down, 3);
}

void PaintDropMark(HDC dc, RECT r, TLTDropMarkMode mode) {
    if (mode == dmmNone) return;
    int x = mode == dmmLeft ? r.left : r.right - 2;
    Fill(dc, RECT{x, r.top, x + 2, r.bottom}, clHighlight);
}

} // namespace

// ---- layout -----------------------------------------------------------------------------

void TLazyTreeColumn::ComputeHeaderLayout(HDC dc, RECT client, bool useHeaderGlyph, bool useSortGlyph,
                                          POINT& glyphPos, POINT& sortGlyphPos, RECT& textBounds) const {
    TLTHeader& header = owner_->Header();
    SIZE glyph{0, 0};
    if (useHeaderGlyph && header.Images()) glyph = SIZE{header.Images()->Width(), header.Images()->Height()};
    SIZE text{0, 0};
    if (!text_.empty()) {
        RECT measure{0, 0, 0, 0};
        ::DrawTextW(dc, text_.c_str(), int(text_.size()), &measure, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
        text = SIZE{measure.right, measure.bottom};
    }
    int height = client.bottom - client.top;
    // The sort glyph takes the right end, the rest is laid out in what is left.
    RECT area = client;
    area.left += margin_;
    area.right -= margin_;
    if (useSortGlyph) {
        sortGlyphPos = POINT{area.right - kSortGlyphWidth, client.top + (height - kSortGlyphHeight) / 2};
        area.right -= kSortGlyphWidth + spacing_;
    }
    int areaWidth = std::max<int>(0, area.right - area.left);
    bool vertical = layout_ == blGlyphTop || layout_ == blGlyphBottom;
    int gap = glyph.cx > 0 && text.cx > 0 ? spacing_ : 0;
    int blockWidth = int(vertical ? std::max(glyph.cx, text.cx) : glyph.cx + gap + text.cx);
    blockWidth = std::min(blockWidth, areaWidth);
    int blockLeft = alignment_ == taRightJustify ? area.right - blockWidth
                    : alignment_ == taCenter   ? area.left + (areaWidth - blockWidth) / 2
                                               : area.left;
    if (vertical) {
        int blockHeight = int(glyph.cy + gap + text.cy);
        int top = client.top + std::max(0, (height - blockHeight) / 2);
        int glyphTop = layout_ == blGlyphTop ? top : top + text.cy + gap;
        int textTop = layout_ == blGlyphTop ? top + glyph.cy + gap : top;
        glyphPos = POINT{blockLeft + (blockWidth - glyph.cx) / 2, glyphTop};
        textBounds = RECT{blockLeft, textTop, blockLeft + blockWidth, textTop + text.cy};
    } else {
        int textWidth = std::max(0, blockWidth - int(glyph.cx) - gap);
        int glyphLeft = layout_ == blGlyphRight ? blockLeft + textWidth + gap : blockLeft;
        int textLeft = layout_ == blGlyphRight ? blockLeft : blockLeft + glyph.cx + gap;
        glyphPos = POINT{glyphLeft, client.top + (height - glyph.cy) / 2};
        textBounds = RECT{textLeft, client.top, textLeft + textWidth, client.bottom};
    }
}

// ---- painting ---------------------------------------------------------------------------

void TLazyTreeColumns::PaintColumn(HDC dc, TLazyTreeColumn* column, RECT r, bool hover, bool pressed,
                                   TLTDropMarkMode dropMark) {
    TLTHeader& header = *header_;
    TBaseLazyTree* tree = header.owner_;
    TCanvas canvas(dc);
    TLTHeaderOptions options = header.Options();
    bool enabled = column->options_.Contains(coEnabled);
    bool ownerDraw = (options.Contains(hoOwnerDraw) || column->style_ == lsOwnerDraw) && tree;
    THeaderPaintInfo info;
    info.TargetCanvas = &canvas;
    info.Column = column;
    info.PaintRectangle = r;
    info.IsHoverIndex = hover;
    info.IsDownIndex = pressed;
    info.IsEnabled = enabled;
    info.DropMark = dropMark;
    info.ShowHeaderGlyph = options.Contains(hoShowImages) && header.Images() && column->imageIndex_ >= 0;
    info.ShowSortGlyph = options.Contains(hoShowSortGlyphs) && column->Index() == header.SortColumn();

    THeaderPaintElements owned;
    if (ownerDraw) {
        // The owner names the parts it draws; naming none, it draws the whole column.
        tree->DoHeaderDrawQueryElements(info, owned);
        if (owned.Empty()) {
            tree->DoHeaderDraw(canvas, *column, r, hover, pressed, dropMark);
            return;
        }
    }
    bool themed = tree && tree->TreeStates().Contains(tsUseThemes) && header.Style() == hsXPStyle;
    HWND wnd = tree && tree->HandleAllocated() ? tree->Handle() : nullptr;
    bool shiftOnPress = false;
    if (!owned.Contains(hpeBackground)) shiftOnPress = PaintFace(dc, header.Style(), r, hover, pressed, themed, wnd) && pressed;

    RECT client = r;
    ::InflateRect(&client, -2, -2);
    if (shiftOnPress) ::OffsetRect(&client, 1, 1);
    SelectObjectScope font(dc, header.Font().Handle());
    column->ComputeHeaderLayout(dc, client, info.ShowHeaderGlyph, info.ShowSortGlyph, info.GlyphPos,
                                info.SortGlyphPos, info.TextRectangle);
    int saved = ::SaveDC(dc);
    ::IntersectClipRect(dc, r.left, r.top, r.right, r.bottom);
    if (info.ShowHeaderGlyph && !owned.Contains(hpeHeaderGlyph))
        header.Images()->Draw(dc, info.GlyphPos.x, info.GlyphPos.y, column->imageIndex_, enabled);
    if (!column->text_.empty() && !owned.Contains(hpeText)) {
        TColor color = !enabled ? clGrayText
                       : hover && options.Contains(hoHotTrack) && tree ? tree->Colors().Get(TLTColors::HeaderHotColor)
                                                                      : header.Font().Color();
        ::SetTextColor(dc, ColorToRGB(color));
        ::SetBkMode(dc, TRANSPARENT);
        UINT align = column->alignment_ == taRightJustify ? DT_RIGHT : column->alignment_ == taCenter ? DT_CENTER : DT_LEFT;
        if (column->bidiMode_ != bdLeftToRight) align |= DT_RTLREADING;
        RECT text = info.TextRectangle;
        ::DrawTextW(dc, column->text_.c_str(), int(column->text_.size()), &text,
                    align | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    }
    if (info.ShowSortGlyph && !owned.Contains(hpeSortGlyph))
        PaintSortGlyph(dc, info.SortGlyphPos, header.SortDirection() == sdAscending,
                       enabled ? clBtnShadow : clGrayText);
    if (column->options_.Contains(coShowDropMark) && !owned.Contains(hpeDropMark)) PaintDropMark(dc, r, dropMark);
    ::RestoreDC(dc, saved);
    if (!owned.Empty()) tree->DoAdvancedHeaderDraw(info, owned);
}

void TLazyTreeColumns::PaintHeader(HDC dc, RECT r, int hOffset) {
    int width = std::max<int>(1, r.right - r.left), height = std::max<int>(1, r.bottom - r.top);
    MemoryDC memory(dc);
    BitmapHandle bitmap(::CreateCompatibleBitmap(dc, width, height));
    if (!memory.get() || !bitmap) return;
    SelectObjectScope select(memory.get(), bitmap.get());
    HDC target = memory.get();
    Fill(target, RECT{0, 0, width, height}, header_->Background());
    bool dragging = header_->States() & hsDragging;
    for (TColumnIndex c : GetVisibleColumns()) {
        TLazyTreeColumn* column = items_[size_t(c)].get();
        RECT cell{column->left_ + hOffset, 0, column->left_ + column->width_ + hOffset, height};
        if (cell.right <= 0 || cell.left >= width) continue;
        bool hover = c == hoverIndex_ && header_->Options().Contains(hoHotTrack);
        bool pressed = c == downIndex_;
        TLTDropMarkMode mark = dragging && c == dropTarget_ ? dropMark_ : dmmNone;
        PaintColumn(target, column, cell, hover, pressed, mark);
    }
    ::BitBlt(dc, r.left, r.top, width, height, target, 0, 0, SRCCOPY);
}

// ---- the non-client area ------------------------------------------------------------------

// The header takes Height pixels from the top of the client area.
void TBaseLazyTree::AdjustNonClientForHeader(NCCALCSIZE_PARAMS* params) {
    if (!header_->Options().Contains(hoVisible)) return;
    RECT& client = params->rgrc[0];
    client.top = std::min<LONG>(client.top + header_->Height(), client.bottom);
}

void TBaseLazyTree::PaintNonClientHeader() {
    if (!header_->Options().Contains(hoVisible) || !HandleAllocated()) return;
    WindowDC dc(handle_, true);
    RECT window;
    ::GetWindowRect(handle_, &window);
    POINT origin{0, 0};
    ::ClientToScreen(handle_, &origin);
    int left = origin.x - window.left, top = origin.y - window.top - header_->Height();
    RECT r{left, top, left + ClientWidth(), top + header_->Height()};
    // The corner above a vertical scroll bar belongs to the header too.
    RECT full = r;
    full.right = window.right - window.left - (left - 0);
    if (full.right > r.right) Fill(dc.get(), RECT{r.right, r.top, full.right, r.bottom}, header_->Background());
    header_->Columns().PaintHeader(dc.get(), r, offsetX_);
}

// ---- the picture of a dragged column -------------------------------------------------------

void TLTHeader::StartColumnDragImage(TColumnIndex c, POINT client) {
    if (!columns_->IsColumnIndexValid(c) || !owner_ || !owner_->HandleAllocated()) return;
    TLazyTreeColumn* column = &(*columns_)[c];
    int width = std::max(1, column->width_), height = std::max(1, height_);
    BitmapHandle picture = CreateDib32(width, height);
    if (!picture) return;
    {
        MemoryDC dc(WindowDC(nullptr).get());
        SelectObjectScope select(dc.get(), picture.get());
        columns_->PaintColumn(dc.get(), column, RECT{0, 0, width, height}, false, false, dmmNone);
    }
    // Where the column would be had it moved with the mouse since the press.
    RECT header = HeaderRect();
    POINT imagePos{column->left_ + owner_->OffsetX() + client.x - dragStart_.x, header.top + client.y - dragStart_.y};
    POINT hotSpot = client;
    ::ClientToScreen(owner_->Handle(), &imagePos);
    ::ClientToScreen(owner_->Handle(), &hotSpot);
    if (!dragImage_) dragImage_ = std::make_unique<TLTDragImage>(owner_);
    dragImage_->BeginImageDrag(picture.get(), imagePos, hotSpot, nullptr);
    dragImage_->ShowImage();
}

void TLTHeader::EndColumnDragImage() {
    if (dragImage_) dragImage_->EndImageDrag();
}

} // namespace krv
