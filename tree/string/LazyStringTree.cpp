#include "tree/string/LazyStringTree.h"
#include "tree/paint/LazyTreeDrawing.h"
#include <algorithm>

namespace krv {

namespace {
constexpr uint32_t kCaptionChunk = 3;

bool IsWinNT() { return (::GetVersion() & 0x80000000u) == 0; }

// Takes the face and colour of src without dropping a font handle that still fits.
void TakeFont(TFont& dst, const TFont& src) {
    if (!dst.SameFace(src)) dst = src;
    else dst.SetColor(src.Color());
}
}

// ---- options ---------------------------------------------------------------------

void TCustomStringTreeOptions::SetStringOptions(TLTStringOptions v) {
    TLTStringOptions old = string_;
    if (old == v) return;
    string_ = v;
    if (old.Contains(toShowStaticText) != v.Contains(toShowStaticText) && owner_ && owner_->HandleAllocated() &&
        !(owner_->ComponentState() & csLoading))
        owner_->Invalidate();
}

void TCustomStringTreeOptions::AssignTo(TCustomLazyTreeOptions& dest) const {
    if (auto* s = dynamic_cast<TCustomStringTreeOptions*>(&dest)) s->SetStringOptions(string_);
    TCustomLazyTreeOptions::AssignTo(dest);
}

// ---- life time ----------------------------------------------------------------------

TCustomLazyStringTree::TCustomLazyStringTree(TComponent* owner) : TBaseLazyTree(owner) {
    UseOwnClasses();
    widthOffset_ = AllocateInternalDataArea(sizeof(uint32_t));
    MeasureFont();
}

TOptionsClass TCustomLazyStringTree::GetOptionsClass() const {
    return +[](TBaseLazyTree* owner) -> std::unique_ptr<TCustomLazyTreeOptions> {
        return std::make_unique<TCustomStringTreeOptions>(owner);
    };
}

TLazyStringTree::TLazyStringTree(TComponent* owner) : TCustomLazyStringTree(owner) { UseOwnClasses(); }

TOptionsClass TLazyStringTree::GetOptionsClass() const {
    return +[](TBaseLazyTree* owner) -> std::unique_ptr<TCustomLazyTreeOptions> {
        return std::make_unique<TStringTreeOptions>(owner);
    };
}

// ---- text --------------------------------------------------------------------------------

std::wstring TCustomLazyStringTree::Text(PLazyNode node, TColumnIndex column) {
    InitIfNeeded(node);
    std::wstring result = defaultText_;
    DoGetText(node, column, ttNormal, result);
    return result;
}

void TCustomLazyStringTree::SetText(PLazyNode node, TColumnIndex column, const std::wstring& value) {
    DoNewText(node, column, value);
    InvalidateNode(node);
}

void TCustomLazyStringTree::SetDefaultText(const std::wstring& value) {
    if (value == defaultText_) return;
    defaultText_ = value;
    ResetWidthCaches();
    RepaintTree();
}

void TCustomLazyStringTree::DoGetText(PLazyNode node, TColumnIndex column, TLSTTextType textType, std::wstring& text) {
    if (OnGetText) OnGetText(this, node, column, textType, text);
}

void TCustomLazyStringTree::DoNewText(PLazyNode node, TColumnIndex column, const std::wstring& text) {
    if (OnNewText) OnNewText(this, node, column, text);
}

void TCustomLazyStringTree::DoPaintText(TCanvas& canvas, PLazyNode node, TColumnIndex column, TLSTTextType textType) {
    if (OnPaintText) OnPaintText(this, canvas, node, column, textType);
}

std::wstring TCustomLazyStringTree::DoShortenString(TCanvas& canvas, PLazyNode node, TColumnIndex column,
                                                    const std::wstring& s, int width, bool rightToLeft,
                                                    int ellipsisWidth) {
    std::wstring result;
    bool done = false;
    if (OnShortenString) OnShortenString(this, canvas, node, column, s, width, rightToLeft, result, done);
    if (done) return result;
    SelectObjectScope font(canvas.Handle(), canvas.Font.Handle());
    return ShortenWideString(canvas.Handle(), s, width, ellipsisWidth, rightToLeft);
}

std::wstring TCustomLazyStringTree::DoGetNodeHint(PLazyNode node, TColumnIndex column) {
    std::wstring hint = TBaseLazyTree::DoGetNodeHint(node, column);
    if (OnGetHint) OnGetHint(this, node, column, ttNormal, hint);
    return hint;
}

std::wstring TCustomLazyStringTree::DoGetNodeTooltip(PLazyNode node, TColumnIndex column) { return Text(node, column); }

bool TCustomLazyStringTree::DoGetCellIsEmpty(PLazyNode node, TColumnIndex column) {
    if (!Text(node, column).empty()) return false;
    return TBaseLazyTree::DoGetCellIsEmpty(node, column);
}

int TCustomLazyStringTree::DoIncrementalSearch(PLazyNode node, const std::wstring& text) {
    if (OnIncrementalSearch) return TBaseLazyTree::DoIncrementalSearch(node, text);
    // Case-sensitive, unit by unit: no code page or locale folds the text.
    std::wstring cell = Text(node, FocusedColumn());
    return cell.compare(0, text.size(), text) == 0 && cell.size() >= text.size() ? 0 : 1;
}

// ---- widths ---------------------------------------------------------------------------------

uint32_t* TCustomLazyStringTree::WidthCache(PLazyNode node) const {
    return reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(node) + widthOffset_);
}

uint32_t TCustomLazyStringTree::CachedWidth(PLazyNode node) const {
    return node && node != root_ ? *WidthCache(node) : 0;
}

void TCustomLazyStringTree::ResetWidthCaches() {
    for (PLazyNode run = GetFirstNoInit(); run; run = GetNextNoInit(run)) *WidthCache(run) = 0;
}

void TCustomLazyStringTree::MeasureFont() {
    HDC dc = MeasureDC();
    TEXTMETRICW tm{};
    ::GetTextMetricsW(dc, &tm);
    textHeight_ = tm.tmHeight;
    ellipsisWidth_ = WideTextWidth(dc, L"...");
}

void TCustomLazyStringTree::FontChanged() {
    TBaseLazyTree::FontChanged();
    MeasureFont();
    ResetWidthCaches();
}

int TCustomLazyStringTree::CalculateTextWidth(TCanvas& canvas, PLazyNode node, TColumnIndex column,
                                              const std::wstring& text) {
    int width = 2 * TextMargin();
    if (text.empty()) return width;
    TakeFont(canvas.Font, font_);
    DoPaintText(canvas, node, column, ttNormal);
    SelectObjectScope font(canvas.Handle(), canvas.Font.Handle());
    return width + WideTextWidth(canvas.Handle(), text);
}

int TCustomLazyStringTree::DoGetNodeWidth(PLazyNode node, TColumnIndex column, TCanvas* canvas) {
    if (column > ColumnNone && (node->States & vsMultiline)) {
        int left = 0, right = 0;
        Header().ColumnBounds(column, left, right);
        return right - left;
    }
    // The own canvas is kept, so its font is made once, not per node.
    if (!measureCanvas_) measureCanvas_ = std::make_unique<TCanvas>(MeasureDC());
    TCanvas& c = canvas ? *canvas : *measureCanvas_;
    if (column != Header().MainColumn()) return CalculateTextWidth(c, node, column, Text(node, column));
    uint32_t* cache = WidthCache(node);
    if (*cache == 0) *cache = uint32_t(CalculateTextWidth(c, node, column, Text(node, column)));
    return int(*cache);
}

void TCustomLazyStringTree::InvalidateNode(PLazyNode node) {
    TBaseLazyTree::InvalidateNode(node);
    if (!node || node == root_) return;
    *WidthCache(node) = 0;
    node->States &= ~vsHeightMeasured;
}

void TCustomLazyStringTree::ReinitNode(PLazyNode node, bool recursive) {
    TBaseLazyTree::ReinitNode(node, recursive);
    if (!node || node == root_) return;
    *WidthCache(node) = 0;
    node->States &= ~vsHeightMeasured;
}

bool TCustomLazyStringTree::CancelEditNode() {
    bool result = TBaseLazyTree::CancelEditNode();
    ResetWidthCaches();
    return result;
}

// ---- painting ---------------------------------------------------------------------------------

void TCustomLazyStringTree::PrepareTextFont(TLTPaintInfo& info, bool staticText) {
    TCanvas& canvas = *info.Canvas;
    PLazyNode node = info.Node;
    TakeFont(canvas.Font, font_);
    TLTPaintOptions paint = TreeOptions().PaintOptions();
    if (paint.Contains(toHotTrack) && node == HotNode()) {
        canvas.Font.SetStyle(canvas.Font.Style() | fsUnderline);
        canvas.Font.SetColor(Colors().Get(TLTColors::HotColor));
    }
    bool fullRow = TreeOptions().SelectionOptions().Contains(toFullRowSelect);
    if (!(info.PaintOptions & poDrawSelection)) return;
    if (staticText ? !fullRow : !(info.Column == FocusedColumn() || fullRow || Header().ColumnCount() == 0)) return;
    bool selected = (node->States & vsSelected) != 0;
    if (node == DropTargetNode()) {
        if (LastDropMode() == dmOnNode || selected) canvas.Font.SetColor(clHighlightText);
    } else if (selected && (PaintingFocused() || paint.Contains(toPopupMode))) {
        canvas.Font.SetColor(clHighlightText);
    }
}

void TCustomLazyStringTree::DrawWideText(TLTPaintInfo& info, const std::wstring& text, RECT r, UINT flags) {
    TCanvas& canvas = *info.Canvas;
    if ((info.Node->States & vsDisabled) || !Enabled()) canvas.Font.SetColor(Colors().Get(TLTColors::DisabledColor));
    HDC dc = canvas.Handle();
    SelectObjectScope font(dc, canvas.Font.Handle());
    ::SetTextColor(dc, ColorToRGB(canvas.Font.Color()));
    // A text handler may ask for the text on its own background.
    bool opaque = canvas.TextFlags & ETO_OPAQUE;
    ::SetBkMode(dc, opaque ? OPAQUE : TRANSPARENT);
    if (opaque) ::SetBkColor(dc, ColorToRGB(canvas.Brush.Color()));
    if (IsWinNT()) ::DrawTextW(dc, text.data(), int(text.size()), &r, flags);
    else DrawTextWEmulation(dc, text, r, flags);
}

void TCustomLazyStringTree::PaintNormalText(TLTPaintInfo& info, std::wstring text) {
    TCanvas& canvas = *info.Canvas;
    PLazyNode node = info.Node;
    PrepareTextFont(info, false);
    RECT r = info.ContentRect;
    r.left += TextMargin();
    r.right -= TextMargin();
    bool rtl = info.BidiMode != bdLeftToRight;
    UINT alignFlag = info.Alignment == taRightJustify ? DT_RIGHT : info.Alignment == taCenter ? DT_CENTER : 0;
    UINT flags;
    if (node->States & vsMultiline) {
        DoPaintText(canvas, node, info.Column, ttNormal);
        flags = alignFlag | DT_END_ELLIPSIS | DT_EDITCONTROL | DT_NOPREFIX | DT_WORDBREAK;
        if (rtl) flags |= DT_RTLREADING;
    } else {
        fontChanged_ = false;
        int ellipsis = ellipsisWidth_;
        TFont before = canvas.Font;
        DoPaintText(canvas, node, info.Column, ttNormal);
        if (!canvas.Font.SameFace(before)) {
            fontChanged_ = true;
            ellipsis = 0;
            SelectObjectScope font(canvas.Handle(), canvas.Font.Handle());
            info.NodeWidth = 2 * TextMargin() + WideTextWidth(canvas.Handle(), text);
        }
        flags = DT_NOPREFIX | DT_VCENTER | DT_SINGLELINE;
        if (rtl) flags |= DT_RTLREADING;
        if (info.Column > ColumnNone && info.NodeWidth - 2 * TextMargin() > r.right - r.left) {
            text = DoShortenString(canvas, node, info.Column, text, r.right - r.left, rtl, ellipsis);
            if (info.Alignment == taRightJustify) flags |= DT_RIGHT;
        } else {
            flags |= alignFlag;
        }
    }
    DrawWideText(info, text, r, flags);
}

void TCustomLazyStringTree::PaintStaticText(TLTPaintInfo& info, const std::wstring& text) {
    PrepareTextFont(info, true);
    DoPaintText(*info.Canvas, info.Node, info.Column, ttStatic);
    RECT r = info.ContentRect;
    if (info.Alignment == taRightJustify) r.right -= info.NodeWidth + TextMargin();
    else r.left += info.NodeWidth + TextMargin();
    UINT flags = DT_NOPREFIX | DT_VCENTER | DT_SINGLELINE;
    if (info.BidiMode != bdLeftToRight) flags |= DT_RTLREADING;
    DrawWideText(info, text, r, flags);
}

void TCustomLazyStringTree::DoPaintNode(TLTPaintInfo& info) {
    TCanvas& canvas = *info.Canvas;
    TFont saved = canvas.Font;
    canvas.TextFlags = 0;   // no cell inherits the last one's background
    std::wstring text = Text(info.Node, info.Column);
    if (!text.empty()) PaintNormalText(info, text);
    if (Alignment() != taCenter && !(info.Node->States & vsMultiline) &&
        TreeOptions().StringOptions().Contains(toShowStaticText)) {
        std::wstring staticText;
        DoGetText(info.Node, info.Column, ttStatic, staticText);
        if (!staticText.empty()) PaintStaticText(info, staticText);
    }
    TakeFont(canvas.Font, saved);
}

// Empty cells to the right give their room to the text of this one.
void TCustomLazyStringTree::AdjustPaintCellRect(TLTPaintInfo& info, TColumnIndex& nextNonEmpty) {
    std::vector<TColumnIndex> columns = Header().VisibleColumnsInOrder();
    if (!TreeOptions().AutoOptions().Contains(toAutoSpanColumns) || columns.empty() ||
        info.BidiMode != bdLeftToRight) {
        TBaseLazyTree::AdjustPaintCellRect(info, nextNonEmpty);
        return;
    }
    auto at = std::find(columns.begin(), columns.end(), info.Column);
    nextNonEmpty = ColumnInvalid;
    // A right-to-left column keeps its cell: the text would run into it from the wrong side.
    for (auto it = at == columns.end() ? at : at + 1; it != columns.end(); ++it) {
        if (ColumnBiDiMode(*it) != bdLeftToRight || !DoGetCellIsEmpty(info.Node, *it)) {
            nextNonEmpty = *it;
            break;
        }
        int left = 0, right = 0;
        Header().ColumnBounds(*it, left, right);
        info.CellRect.right += right - left;
    }
}

int TCustomLazyStringTree::MeasureMultilineHeight(TCanvas& canvas, PLazyNode node, TColumnIndex column) {
    if (!node || node == root_ || !(node->States & vsMultiline)) return node ? int(node->NodeHeight) : 0;
    std::wstring text = Text(node, column);
    TLTPaintInfo info;
    info.Canvas = &canvas;
    info.Node = node;
    info.Column = column;
    info.Alignment = ColumnAlignment(column);
    info.BidiMode = ColumnBiDiMode(column);
    info.CellRect = GetDisplayRect(node, column, true, false);
    TColumnIndex next = ColumnInvalid;
    AdjustPaintCellRect(info, next);
    RECT r = info.CellRect;
    // Laid out as wide as the painting draws it, inside the text margins.
    r.left += TextMargin();
    r.right -= TextMargin();
    TAlignment alignment = info.Alignment;
    UINT flags = DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX;
    if (info.BidiMode != bdLeftToRight) {
        alignment = alignment == taLeftJustify ? taRightJustify : alignment == taRightJustify ? taLeftJustify : alignment;
        flags |= DT_RTLREADING | DT_RIGHT;
    }
    flags |= alignment == taRightJustify ? DT_RIGHT : alignment == taCenter ? DT_CENTER : 0;
    SelectObjectScope font(canvas.Handle(), canvas.Font.Handle());
    if (IsWinNT()) ::DrawTextW(canvas.Handle(), text.data(), int(text.size()), &r, flags);
    else DrawTextWEmulation(canvas.Handle(), text, r, flags);
    return r.bottom - r.top;
}

void TCustomLazyStringTree::GetTextInfo(PLazyNode node, TColumnIndex column, TFont& font, RECT& r, std::wstring& text) {
    TBaseLazyTree::GetTextInfo(node, column, font, r, text);
    TCanvas canvas(MeasureDC());
    canvas.Font = font;
    fontChanged_ = false;
    DoPaintText(canvas, node, column, ttNormal);
    int height = textHeight_;
    if (!canvas.Font.SameFace(font)) {
        fontChanged_ = true;
        font = canvas.Font;
        SelectObjectScope select(canvas.Handle(), canvas.Font.Handle());
        TEXTMETRICW tm{};
        ::GetTextMetricsW(canvas.Handle(), &tm);
        height = tm.tmHeight;
    }
    text = Text(node, column);
    r = GetDisplayRect(node, column, true, !(node->States & vsMultiline));
    if (TreeOptions().PaintOptions().Contains(toShowHorzGridLines)) --r.bottom;
    int grow = (height - (r.bottom - r.top)) / 2;
    r.top -= grow;
    r.bottom += grow;
}

// ---- streams ---------------------------------------------------------------------------------------

void TCustomLazyStringTree::WriteChunks(TStream& stream, PLazyNode node) {
    TBaseLazyTree::WriteChunks(stream, node);
    if (!TreeOptions().StringOptions().Contains(toSaveCaptions) || node == root_ || !(node->States & vsInitialized))
        return;
    std::wstring text = Text(node, Header().MainColumn());
    if (text.empty()) return;
    uint32_t header[2] = {kCaptionChunk, uint32_t(text.size() * sizeof(wchar_t))};
    stream.WriteBuffer(header, sizeof header);
    stream.WriteBuffer(text.data(), header[1]);
}

bool TCustomLazyStringTree::ReadChunk(TStream& stream, int version, PLazyNode node, uint32_t chunkType,
                                      uint32_t chunkSize) {
    if (chunkType != kCaptionChunk) return TBaseLazyTree::ReadChunk(stream, version, node, chunkType, chunkSize);
    std::wstring value(chunkSize / 2, L'\0');
    if (!value.empty()) stream.ReadBuffer(value.data(), value.size() * sizeof(wchar_t));
    SetText(node, Header().MainColumn(), value);
    return true;
}

} // namespace krv
