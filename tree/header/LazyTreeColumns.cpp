// Columns and header properties: the display order kept apart from the
// collection index, width limits, the auto-size column, springs, fitting to
// content, and the header's stream.
#include "tree/transfer/LazyTreeDragImage.h"
#include "tree/core/LazyTreeGlobals.h"
#include "tree/core/LazyTrees.h"
#include "tree/paint/LazyTreeDrawing.h"
#include <algorithm>
#include <cmath>

namespace krv {

// ---- a column ---------------------------------------------------------------------------

TLazyTreeColumn::TLazyTreeColumn(TLazyTreeColumns* owner) : owner_(owner) {}
TLazyTreeColumn::~TLazyTreeColumn() = default;

int TLazyTreeColumn::Index() const {
    const auto& items = owner_->items_;
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i].get() == this) return int(i);
    return ColumnNone;
}

void TLazyTreeColumn::Changed(bool allColumns) {
    TLTHeader& header = owner_->Header();
    if (header.Loading() || owner_->updateCount_) return;
    header.Invalidate(allColumns ? nullptr : this);
    if (header.Live()) header.Treeview()->Invalidate();
}

void TLazyTreeColumn::SetAlignment(TAlignment v) { if (v != alignment_) { alignment_ = v; Changed(false); } }
void TLazyTreeColumn::SetColor(TColor v) {
    if (v == color_ && !options_.Contains(coParentColor)) return;
    color_ = v;
    options_ -= coParentColor;
    Changed(false);
}
void TLazyTreeColumn::SetBiDiMode(TBiDiMode v) {
    if (v == bidiMode_ && !options_.Contains(coParentBidiMode)) return;
    bidiMode_ = v;
    options_ -= coParentBidiMode;
    Changed(false);
}
void TLazyTreeColumn::SetImageIndex(int v) { if (v != imageIndex_) { imageIndex_ = v; Changed(false); } }
void TLazyTreeColumn::SetLayout(TLTHeaderColumnLayout v) { if (v != layout_) { layout_ = v; Changed(false); } }
void TLazyTreeColumn::SetMargin(int v) { if (v != margin_) { margin_ = v; Changed(false); } }
void TLazyTreeColumn::SetSpacing(int v) { if (v != spacing_) { spacing_ = v; Changed(false); } }
void TLazyTreeColumn::SetStyle(TLazyTreeColumnStyle v) { if (v != style_) { style_ = v; Changed(false); } }
void TLazyTreeColumn::SetText(const std::wstring& v) { if (v != text_) { text_ = v; Changed(false); } }

void TLazyTreeColumn::SetWidth(int v) {
    TLTHeader& header = owner_->Header();
    v = std::max(minWidth_, std::min(maxWidth_, v));
    if (v == width_) return;
    TColumnIndex index = Index();
    bool loading = header.Loading();
    // The auto-size column follows the client width only.
    if (!loading && header.Options().Contains(hoAutoResize) && header.IsAutoColumn(index)) return;
    previousWidth_ = width_;
    width_ = v;
    owner_->RecomputePositions();
    if (loading || owner_->updateCount_) return;
    if (header.Options().Contains(hoAutoResize)) header.AdjustAutoSize(index);
    if (header.Live()) header.Treeview()->DoColumnResize(index);
}

void TLazyTreeColumn::SetMinWidth(int v) {
    minWidth_ = std::max(0, std::min(v, maxWidth_));
    SetWidth(width_);
}

void TLazyTreeColumn::SetMaxWidth(int v) {
    maxWidth_ = std::max(v, minWidth_);
    SetWidth(width_);
}

void TLazyTreeColumn::SetOptions(TLTColumnOptions v) {
    if (v == options_) return;
    bool visibility = v.Contains(coVisible) != options_.Contains(coVisible);
    options_ = v;
    TLTHeader& header = owner_->Header();
    if (v.Contains(coParentColor) && header.owner_) color_ = header.owner_->Color();
    if (v.Contains(coParentBidiMode) && header.owner_) bidiMode_ = header.owner_->BiDiMode();
    if (visibility) {
        owner_->RecomputePositions();
        if (!header.Loading() && header.Options().Contains(hoAutoResize)) header.AdjustAutoSize(ColumnInvalid);
    }
    Changed(visibility);
}

void TLazyTreeColumn::SetPosition(TColumnPosition v) {
    TLTHeader& header = owner_->Header();
    if (header.Loading()) {
        position_ = v;
        return;
    }
    if (owner_->Count() == 0) return;
    v = std::min<TColumnPosition>(v, TColumnPosition(owner_->Count() - 1));
    if (v == position_) return;
    owner_->FixPositions();
    if (header.Live() && header.Treeview()->IsEditing()) header.Treeview()->DoEndEdit();
    owner_->MoveInPositions(Index(), v);
    header.Invalidate();
    if (header.Live()) header.Treeview()->Invalidate();
}

void TLazyTreeColumn::SetIndex(int value) {
    auto& items = owner_->items_;
    int old = Index();
    value = std::clamp(value, 0, int(items.size()) - 1);
    if (old < 0 || value == old) return;
    // Display positions stay with their columns; only the indices they name move.
    for (TColumnIndex& c : owner_->positionToIndex_) {
        if (c == old) c = value;
        else if (old < value && c > old && c <= value) --c;
        else if (old > value && c >= value && c < old) ++c;
    }
    auto moving = std::move(items[size_t(old)]);
    items.erase(items.begin() + old);
    items.insert(items.begin() + value, std::move(moving));
    owner_->RecomputePositions();
    Changed(true);
}

RECT TLazyTreeColumn::GetRect() const {
    RECT header = owner_->Header().HeaderRect();
    header.left += left_;
    header.right = header.left + width_;
    return header;
}

std::string TLazyTreeColumn::GetDisplayName() const {
    for (wchar_t c : text_)
        if (c > 255) return "Column " + std::to_string(Index());
    return std::string(text_.begin(), text_.end());
}

void TLazyTreeColumn::Assign(const TLazyTreeColumn& s) {
    alignment_ = s.alignment_;
    bidiMode_ = s.bidiMode_;
    color_ = s.color_;
    hint_ = s.hint_;
    imageIndex_ = s.imageIndex_;
    layout_ = s.layout_;
    margin_ = s.margin_;
    spacing_ = s.spacing_;
    style_ = s.style_;
    Tag = s.Tag;
    text_ = s.text_;
    minWidth_ = s.minWidth_;
    maxWidth_ = s.maxWidth_;
    position_ = s.position_;
    SetWidth(s.width_);
    SetOptions(s.options_);   // last: it may recompute positions
}

bool TLazyTreeColumn::Equals(const TLazyTreeColumn& o) const {
    return alignment_ == o.alignment_ && bidiMode_ == o.bidiMode_ && color_ == o.color_ && hint_ == o.hint_ &&
           imageIndex_ == o.imageIndex_ && layout_ == o.layout_ && margin_ == o.margin_ && spacing_ == o.spacing_ &&
           maxWidth_ == o.maxWidth_ && minWidth_ == o.minWidth_ && options_ == o.options_ &&
           position_ == o.position_ && style_ == o.style_ && Tag == o.Tag && text_ == o.text_ && width_ == o.width_;
}

// ---- the collection -----------------------------------------------------------------------

TLazyTreeColumns::TLazyTreeColumns(TLTHeader* header) : header_(header) {}

// Destroying the header notifies nobody: the tree is going away with it.
TLazyTreeColumns::~TLazyTreeColumns() = default;

TLazyTreeColumn* TLazyTreeColumns::Add() {
    TBaseLazyTree* tree = header_->owner_;
    std::unique_ptr<TLazyTreeColumn> column =
        tree ? tree->GetColumnClass()(this) : std::make_unique<TLazyTreeColumn>(this);
    TLazyTreeColumn* result = column.get();
    result->position_ = TColumnPosition(items_.size());
    if (tree) {
        result->color_ = tree->Color();
        result->bidiMode_ = tree->BiDiMode();
    }
    items_.push_back(std::move(column));
    if (!header_->Loading()) positionToIndex_.push_back(TColumnIndex(items_.size() - 1));
    Update();
    return result;
}

void TLazyTreeColumns::Clear() {
    clearing_ = true;
    hoverIndex_ = downIndex_ = dropTarget_ = trackIndex_ = ColumnNone;
    header_->PressedColumn = header_->dragIndex_ = ColumnNone;
    if (!header_->Loading()) {
        header_->autoSizeIndex_ = ColumnNone;
        header_->mainColumn_ = ColumnNone;
        header_->sortColumn_ = ColumnNone;
    }
    items_.clear();
    positionToIndex_.clear();
    clearing_ = false;
    Update();
}

void TLazyTreeColumns::Delete(TColumnIndex index) {
    if (!IsColumnIndexValid(index)) return;
    items_.erase(items_.begin() + index);
    ColumnRemoved(index);
    Update();
}

// Closes the gap a removed column leaves in the display order and in the
// header's column references.
void TLazyTreeColumns::ColumnRemoved(TColumnIndex c) {
    positionToIndex_.erase(std::remove(positionToIndex_.begin(), positionToIndex_.end(), c), positionToIndex_.end());
    for (TColumnIndex& i : positionToIndex_)
        if (i > c) --i;
    auto shift = [c](TColumnIndex& ref) {
        if (ref == c) ref = ColumnNone;
        else if (ref > c) --ref;
    };
    shift(header_->autoSizeIndex_);
    shift(header_->sortColumn_);
    shift(header_->mainColumn_);
    for (TColumnIndex* ref :
         {&hoverIndex_, &downIndex_, &dropTarget_, &trackIndex_, &header_->PressedColumn, &header_->dragIndex_})
        shift(*ref);
}

void TLazyTreeColumns::Assign(const TLazyTreeColumns& source) {
    BeginUpdate();
    items_.clear();
    positionToIndex_.clear();
    for (const auto& c : source.items_) {
        TLazyTreeColumn* added = Add();
        added->Assign(*c);
    }
    positionToIndex_ = source.positionToIndex_;
    EndUpdate();
}

void TLazyTreeColumns::EndUpdate() {
    if (updateCount_ > 0 && --updateCount_ == 0) Update();
}

void TLazyTreeColumns::Update() {
    if (updateCount_ || clearing_) return;
    if (header_->Loading()) {
        needUpdate_ = true;
        return;
    }
    FixPositions();
    RecomputePositions();
    if (Count() > 0 && header_->mainColumn_ < 0) header_->mainColumn_ = 0;
    if (header_->options_.Contains(hoAutoResize)) header_->AdjustAutoSize(ColumnInvalid);
    header_->Invalidate();
    if (header_->Live()) header_->owner_->Invalidate();
}

// Brings the position array to Count entries, each column once; new and
// repeated columns take the free positions in index order.
void TLazyTreeColumns::FixPositions() {
    std::vector<TColumnIndex> order;
    std::vector<bool> placed(items_.size(), false);
    for (TColumnIndex c : positionToIndex_)
        if (IsColumnIndexValid(c) && !placed[size_t(c)]) {
            order.push_back(c);
            placed[size_t(c)] = true;
        }
    for (size_t c = 0; c < items_.size(); ++c)
        if (!placed[c]) order.push_back(TColumnIndex(c));
    positionToIndex_ = std::move(order);
}

void TLazyTreeColumns::MoveInPositions(TColumnIndex c, TColumnPosition to) {
    auto it = std::find(positionToIndex_.begin(), positionToIndex_.end(), c);
    if (it == positionToIndex_.end()) return;
    positionToIndex_.erase(it);
    positionToIndex_.insert(positionToIndex_.begin() + std::min<size_t>(to, positionToIndex_.size()), c);
    RecomputePositions();
}

void TLazyTreeColumns::RecomputePositions() {
    if (header_->Loading()) {
        needUpdate_ = true;
        return;
    }
    if (positionToIndex_.size() != items_.size()) FixPositions();
    int left = 0;
    for (size_t p = 0; p < positionToIndex_.size(); ++p) {
        TLazyTreeColumn& c = *items_[size_t(positionToIndex_[p])];
        c.position_ = TColumnPosition(p);
        c.left_ = left;
        if (c.Visible()) left += c.width_;
    }
}

TColumnIndex TLazyTreeColumns::GetFirstVisibleColumn() const {
    for (TColumnIndex c : positionToIndex_)
        if (items_[size_t(c)]->Visible()) return c;
    return ColumnInvalid;
}

TColumnIndex TLazyTreeColumns::GetLastVisibleColumn() const {
    for (auto it = positionToIndex_.rbegin(); it != positionToIndex_.rend(); ++it)
        if (items_[size_t(*it)]->Visible()) return *it;
    return ColumnInvalid;
}

TColumnIndex TLazyTreeColumns::GetNextColumn(TColumnIndex c) const {
    if (!IsColumnIndexValid(c)) return ColumnInvalid;
    size_t p = items_[size_t(c)]->position_;
    return p + 1 < positionToIndex_.size() ? positionToIndex_[p + 1] : ColumnInvalid;
}

TColumnIndex TLazyTreeColumns::GetPreviousColumn(TColumnIndex c) const {
    if (!IsColumnIndexValid(c)) return ColumnInvalid;
    size_t p = items_[size_t(c)]->position_;
    return p > 0 && p <= positionToIndex_.size() ? positionToIndex_[p - 1] : ColumnInvalid;
}

TColumnIndex TLazyTreeColumns::GetNextVisibleColumn(TColumnIndex c) const {
    for (c = GetNextColumn(c); c >= 0; c = GetNextColumn(c))
        if (items_[size_t(c)]->Visible()) return c;
    return ColumnInvalid;
}

TColumnIndex TLazyTreeColumns::GetPreviousVisibleColumn(TColumnIndex c) const {
    for (c = GetPreviousColumn(c); c >= 0; c = GetPreviousColumn(c))
        if (items_[size_t(c)]->Visible()) return c;
    return ColumnInvalid;
}

std::vector<TColumnIndex> TLazyTreeColumns::GetVisibleColumns() const {
    std::vector<TColumnIndex> result;
    for (TColumnIndex c : positionToIndex_)
        if (IsColumnIndexValid(c) && items_[size_t(c)]->Visible()) result.push_back(c);
    return result;
}

TColumnIndex TLazyTreeColumns::ColumnFromPosition(TColumnPosition position) const {
    return position < positionToIndex_.size() ? positionToIndex_[position] : ColumnNone;
}

TColumnIndex TLazyTreeColumns::ColumnFromPoint(POINT p, bool relative) const {
    TBaseLazyTree* tree = header_->owner_;
    if (tree && (p.y < -header_->height_ || p.y >= tree->Height())) return ColumnInvalid;
    int x = p.x - (relative && tree ? tree->OffsetX() : 0);
    for (TColumnIndex c : GetVisibleColumns()) {
        const TLazyTreeColumn& col = *items_[size_t(c)];
        if (x >= col.left_ && x < col.left_ + col.width_) return c;
    }
    return ColumnInvalid;
}

void TLazyTreeColumns::GetColumnBounds(TColumnIndex c, int& left, int& right) const {
    if (IsColumnIndexValid(c)) {
        left = items_[size_t(c)]->left_;
        right = left + items_[size_t(c)]->width_;
    } else {
        left = 0;
        right = header_->owner_ ? header_->owner_->ClientWidth() : 0;
    }
}

int TLazyTreeColumns::TotalWidth() const {
    TColumnIndex last = GetLastVisibleColumn();
    if (last < 0) return 0;
    return items_[size_t(last)]->left_ + items_[size_t(last)]->width_;
}

// Floating-point accumulation carries each column's rounding remainder over
// to the next, so the whole change is handed out.
void TLazyTreeColumns::AdjustSprings(int delta) {
    std::vector<TColumnIndex> springs;
    int springWidth = 0;
    for (TColumnIndex c : GetVisibleColumns())
        if (items_[size_t(c)]->options_.Contains(coAutoSpring)) {
            springs.push_back(c);
            springWidth += items_[size_t(c)]->width_;
        }
    if (springs.empty() || delta == 0) return;
    double carry = 0;
    for (TColumnIndex c : springs) {
        TLazyTreeColumn& col = *items_[size_t(c)];
        double share = springWidth > 0 ? double(delta) * col.width_ / springWidth : double(delta) / springs.size();
        share += carry;
        int whole = int(std::lround(share));
        carry = share - whole;
        int target = std::clamp(col.width_ + whole, col.minWidth_, col.maxWidth_);
        carry += whole - (target - col.width_);   // what the limits refused goes to the next
        col.previousWidth_ = col.width_;
        col.width_ = target;
    }
    RecomputePositions();
    header_->Invalidate();
}

void TLazyTreeColumns::AnimatedResize(TColumnIndex c, int newWidth) {
    if (!IsColumnIndexValid(c)) return;
    TLazyTreeColumn& col = *items_[size_t(c)];
    newWidth = std::clamp(newWidth, col.minWidth_, col.maxWidth_);
    if (newWidth == col.width_) return;
    TBaseLazyTree* tree = header_->owner_;
    if (header_->Live() && ::IsWindowVisible(tree->Handle())) {
        WindowDC dc(tree->Handle());
        RECT client = tree->ClientRect();
        int right = col.left_ + col.width_ + tree->OffsetX();
        int step = (newWidth - col.width_) / 32;
        int moved = 0;
        TCanvas canvas(dc.get());
        canvas.Brush.SetColor(tree->Color());
        if (step != 0) NeedFineTimer();
        for (int i = 0; i < 32 && step != 0; ++i) {
            RECT area{right + moved, 0, client.right, client.bottom};
            if (step > 0) area.right -= step;
            ::ScrollDC(dc.get(), step, 0, &area, &area, nullptr, nullptr);
            if (step > 0) canvas.FillRect(RECT{area.left, area.top, area.left + step, area.bottom});
            moved += step;
            ::Sleep(1);
        }
    }
    col.SetWidth(newWidth);
}

// ---- header properties --------------------------------------------------------------------

TLTHeader::TLTHeader(TBaseLazyTree* owner) : owner_(owner) {
    columns_ = GetColumnsClass()(this);
    // Changed in place (Font().SetSize) as much as through SetFont.
    font_.OnChange = [this] { Invalidate(); };
    imagesLink_.OnChange = [this] { Invalidate(); };
}

TLTHeader::~TLTHeader() = default;

TColumnsClass TLTHeader::GetColumnsClass() const {
    return +[](TLTHeader* header) { return std::make_unique<TLazyTreeColumns>(header); };
}

bool TLTHeader::Live() const { return owner_ && owner_->HandleAllocated() && !owner_->destroying_; }

bool TLTHeader::ColumnAlignmentOf(TColumnIndex c, TAlignment& a) const {
    if (!columns_->IsColumnIndexValid(c)) return false;
    a = (*columns_)[c].Alignment();
    return true;
}

bool TLTHeader::ColumnBiDiModeOf(TColumnIndex c, TBiDiMode& b) const {
    if (!columns_->IsColumnIndexValid(c)) return false;
    b = (*columns_)[c].BiDiMode();
    return true;
}

bool TLTHeader::IsAutoColumn(TColumnIndex c) const {
    int count = columns_->Count();
    if (count == 0) return false;
    TColumnIndex autoIndex = autoSizeIndex_ >= 0 && autoSizeIndex_ < count ? autoSizeIndex_ : count - 1;
    return c == autoIndex;
}

void TLTHeader::AdjustAutoSize(TColumnIndex currentIndex, bool force) {
    int count = columns_->Count();
    if (count == 0) return;
    TColumnIndex autoIndex = autoSizeIndex_ >= 0 && autoSizeIndex_ < count ? autoSizeIndex_ : count - 1;
    if (currentIndex > ColumnNone && columns_->IsColumnIndexValid(currentIndex) &&
        (*columns_)[currentIndex].position_ >= (*columns_)[autoIndex].position_) {
        autoIndex = columns_->GetNextVisibleColumn(currentIndex);
        if (autoIndex < 0) return;
    }
    int width = owner_ ? (owner_->HandleAllocated() ? owner_->ClientWidth() : owner_->Width()) : 0;
    for (TColumnIndex c : columns_->GetVisibleColumns())
        if (c != autoIndex) width -= (*columns_)[c].width_;
    TLazyTreeColumn& col = (*columns_)[autoIndex];
    width = std::max(col.minWidth_, std::min(col.maxWidth_, width));
    if (!force && width == col.width_) return;
    col.width_ = width;
    columns_->RecomputePositions();
    if (Live()) owner_->DoColumnResize(autoIndex);
}

void TLTHeader::ClientWidthChanged(int newWidth) {
    int old = lastClientWidth_;
    lastClientWidth_ = newWidth;
    if (options_.Contains(hoAutoSpring) && old >= 0) columns_->AdjustSprings(newWidth - old);
    if (options_.Contains(hoAutoResize)) AdjustAutoSize(ColumnInvalid);
}

void TLTHeader::TreeAppearanceChanged() {
    if (!owner_) return;
    for (auto& c : columns_->items_) {
        if (c->options_.Contains(coParentColor)) c->color_ = owner_->Color();
        if (c->options_.Contains(coParentBidiMode)) c->bidiMode_ = owner_->BiDiMode();
    }
    if (parentFont_) font_ = owner_->Font();
    Invalidate();
}

void TLTHeader::FitColumnsToContent(bool animated) {
    if (!owner_) return;
    for (TColumnIndex c : columns_->GetVisibleColumns()) {
        TLazyTreeColumn& col = (*columns_)[c];
        if (!col.options_.Contains(coResizable)) continue;
        int width = owner_->GetMaxColumnWidth(c);
        if (animated) columns_->AnimatedResize(c, width);
        else col.SetWidth(width);
    }
}

void TLTHeader::RestoreColumns() {
    std::vector<TColumnIndex> visible = columns_->GetVisibleColumns();
    for (auto it = visible.rbegin(); it != visible.rend(); ++it) {
        TColumnIndex c = *it;
        TLazyTreeColumn& col = (*columns_)[c];
        if (col.options_.Contains(coResizable)) columns_->AnimatedResize(c, col.previousWidth_);
    }
}

void TLTHeader::SetAutoSizeIndex(TColumnIndex v) {
    if (v == autoSizeIndex_) return;
    autoSizeIndex_ = v;
    if (!Loading() && options_.Contains(hoAutoResize)) AdjustAutoSize(ColumnInvalid);
}

void TLTHeader::SetBackground(TColor v) {
    if (v == background_) return;
    background_ = v;
    Invalidate();
}

void TLTHeader::SetFont(const TFont& v) {
    font_ = v;
    parentFont_ = false;
    Invalidate();
}

void TLTHeader::SetParentFont(bool v) {
    if (v == parentFont_) return;
    parentFont_ = v;
    if (v && owner_) font_ = owner_->Font();
    Invalidate();
}

void TLTHeader::SetHeight(int v) {
    v = std::max(0, v);
    if (v == height_) return;
    height_ = v;
    RecalculateHeader();
}

// The tree is told when the list or the menu goes (its Notification clears them here).
void TLTHeader::SetImages(TImageList* v) {
    if (v == images_) return;
    // A list already destroyed has cut the link itself.
    if (TImageList* old = imagesLink_.Sender()) old->UnRegisterChanges(&imagesLink_);
    images_ = v;
    if (v) v->RegisterChanges(&imagesLink_);
    if (owner_ && v) owner_->FreeNotification(v);
    Invalidate();
}

void TLTHeader::SetPopupMenu(TPopupMenu* menu) {
    popupMenu_ = menu;
    if (owner_ && menu) owner_->FreeNotification(menu);
}

void TLTHeader::Loaded() {
    states_ &= uint8_t(~hsLoading);
    columns_->FixPositions();
    columns_->Update();
    if (options_.Contains(hoAutoResize)) AdjustAutoSize(ColumnInvalid);
    RecalculateHeader();
}

void TLTHeader::SetMainColumn(TColumnIndex v) {
    if (Loading()) {
        mainColumn_ = v;
        return;
    }
    int count = columns_->Count();
    v = count == 0 ? ColumnNone : std::clamp(v, 0, count - 1);
    if (v == mainColumn_) return;
    if (Live() && owner_->IsEditing()) owner_->DoEndEdit();
    mainColumn_ = v;
    if (Live()) owner_->Invalidate();
}

void TLTHeader::SetOptions(TLTHeaderOptions v) {
    TLTHeaderOptions old = options_;
    if (v == old) return;
    options_ = v;
    if (Loading()) return;
    if (old.Contains(hoVisible) != v.Contains(hoVisible)) RecalculateHeader();
    if (old.Contains(hoAutoResize) != v.Contains(hoAutoResize) && columns_->Count() > 0) {
        AdjustAutoSize(ColumnInvalid);
        if (v.Contains(hoAutoResize) && Live()) owner_->Invalidate();
    }
    Invalidate();
}

void TLTHeader::SetStyle(TLTHeaderStyle v) {
    if (v == style_) return;
    style_ = v;
    Invalidate();
}

void TLTHeader::AutoSort() {
    if (owner_ && owner_->TreeOptions().AutoOptions().Contains(toAutoSort) && owner_->UpdateCount() == 0)
        owner_->SortTree(sortColumn_, sortDirection_, true);
}

void TLTHeader::SetSortColumn(TColumnIndex c) {
    if (Loading()) {
        sortColumn_ = c;
        return;
    }
    c = std::clamp(c, ColumnNone, columns_->Count() - 1);
    if (c == sortColumn_) return;
    if (columns_->IsColumnIndexValid(sortColumn_)) Invalidate(&(*columns_)[sortColumn_]);
    sortColumn_ = c;
    if (columns_->IsColumnIndexValid(c)) Invalidate(&(*columns_)[c]);
    AutoSort();
}

void TLTHeader::SetSortDirection(TSortDirection d) {
    if (d == sortDirection_) return;
    sortDirection_ = d;
    Invalidate();
    AutoSort();
}

void TLTHeader::ChangeScale(int m, int d) {
    if (d != 0) font_.SetSize(::MulDiv(font_.Size(), m, d));
}

void TLTHeader::Assign(const TLTHeader& s) {
    autoSizeIndex_ = s.autoSizeIndex_;
    background_ = s.background_;
    columns_->Assign(*s.columns_);
    font_ = s.font_;
    SetImages(s.images_);
    mainColumn_ = s.mainColumn_;
    options_ = s.options_;
    parentFont_ = s.parentFont_;
    SetPopupMenu(s.popupMenu_);
    sortColumn_ = s.sortColumn_;
    sortDirection_ = s.sortDirection_;
    style_ = s.style_;
    SetHeight(s.height_);
    RecalculateHeader();
}

// ---- window geometry ---------------------------------------------------------------------

RECT TLTHeader::HeaderRect() const {
    int width = owner_ ? owner_->ClientWidth() : 0;
    return RECT{0, -height_, width, 0};
}

bool TLTHeader::InHeader(POINT p) const {
    if (!options_.Contains(hoVisible)) return false;
    RECT r = HeaderRect();
    return ::PtInRect(&r, p) != FALSE;
}

void TLTHeader::RecalculateHeader() {
    if (!Live()) return;
    ::SetWindowPos(owner_->Handle(), nullptr, 0, 0, 0, 0,
                   SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The header is in the non-client area, outside the client's update region:
// it is drawn again at once, which costs one blit of the header's bitmap.
void TLTHeader::Invalidate(TLazyTreeColumn*, bool) {
    if (!options_.Contains(hoVisible) || !Live() || !::IsWindowVisible(owner_->Handle())) return;
    owner_->PaintNonClientHeader();
}

// ---- stream -------------------------------------------------------------------------------

namespace {
constexpr int32_t kHeaderStreamVersion = 3;
constexpr int32_t kMaxStreamedWidth = 1 << 20;
constexpr int32_t kMaxStreamedHeight = 1000;

int32_t ReadInt(TStream& s) { return s.ReadValue<int32_t>(); }

// A length read from outside can be no longer than what is left to read.
std::wstring ReadWide(TStream& s) {
    int32_t length = ReadInt(s);
    if (length < 0 || int64_t(length) * 2 > s.Remaining())
        throw ELazyTreeError(2004, "Unable to load the header, not enough data available.");
    std::wstring text(size_t(length), L'\0');
    if (length) s.ReadBuffer(text.data(), size_t(length) * 2);
    return text;
}

void WriteWide(TStream& s, const std::wstring& text) {
    s.WriteValue(int32_t(text.size()));
    if (!text.empty()) s.WriteBuffer(text.data(), text.size() * 2);
}

uint32_t ConvertOldColumnOptions(uint32_t bits, int version) {
    if (version == 2) return bits & ~0xFF00u;
    if (version < 2) return (bits & 0xFu) | ((bits & 0x70u) << 1) | ((bits & 0xFFFF8000u) << 1);
    return bits;
}

// The font's pixel height as stored; the font itself keeps points.
int FontPixelHeight(const TFont& font) {
    WindowDC screen(nullptr);
    return -::MulDiv(font.Size(), ::GetDeviceCaps(screen.get(), LOGPIXELSY), 72);
}

int FontPointsFromHeight(int height) {
    WindowDC screen(nullptr);
    int dpi = std::max(1, ::GetDeviceCaps(screen.get(), LOGPIXELSY));
    return ::MulDiv(std::abs(height), 72, dpi);
}
} // namespace

void TLTHeader::SaveToStream(TStream& s) const {
    s.WriteValue(int32_t(-1));
    s.WriteValue(kHeaderStreamVersion);
    const bool writeColumns = CanWriteColumns();
    s.WriteValue(int32_t(writeColumns ? columns_->Count() : 0));
    for (const auto& c : columns_->items_) {
        if (!writeColumns) break;
        WriteWide(s, c->text_);
        WriteWide(s, c->hint_);
        for (int32_t v : {int32_t(c->width_), int32_t(c->minWidth_), int32_t(c->maxWidth_), int32_t(c->style_),
                          int32_t(c->imageIndex_), int32_t(c->layout_), int32_t(c->margin_), int32_t(c->spacing_),
                          int32_t(c->bidiMode_), int32_t(c->options_.Bits()), int32_t(c->Tag),
                          int32_t(c->alignment_), int32_t(c->color_)})
            s.WriteValue(v);
    }
    for (int32_t v : {int32_t(autoSizeIndex_), int32_t(background_), int32_t(height_), int32_t(options_.Bits()),
                      int32_t(style_), int32_t(font_.Color()), int32_t(FontPixelHeight(font_))})
        s.WriteValue(v);
    const std::string& name = font_.Name();
    s.WriteValue(int32_t(name.size()));
    if (!name.empty()) s.WriteBuffer(name.data(), name.size());
    s.WriteValue(int32_t(font_.Pitch()));
    s.WriteValue(int32_t(font_.Style() & 0xFF));
    s.WriteValue(int32_t(mainColumn_));
    s.WriteValue(int32_t(sortColumn_));
    s.WriteValue(int32_t(sortDirection_));
}

void TLTHeader::LoadFromStream(TStream& s) {
    states_ |= hsLoading;
    TLTHeaderOptions savedOptions = options_;
    // Suspended so that no auto-size runs while the columns come in.
    options_ = {};
    try {
        int32_t version = ReadInt(s);
        int32_t count;
        if (version == -1) {
            version = ReadInt(s);
            if (version < 0 || version > kHeaderStreamVersion)
                throw ELazyTreeError(2003, "Unable to load the header, the version is unknown.");
            count = ReadInt(s);
        } else {
            count = version;
            version = 0;
        }
        // Every column takes at least its two text lengths and the numbers
        // of its version: 10, with Tag and alignment from version 1, with
        // the colour from version 2.
        const int64_t columnSize = 4 * (12 + (version > 0 ? 2 : 0) + (version > 1 ? 1 : 0));
        if (count < 0 || int64_t(count) * columnSize > s.Remaining())
            throw ELazyTreeError(2004, "Unable to load the header, not enough data available.");
        columns_->Clear();
        for (int32_t i = 0; i < count; ++i) {
            TLazyTreeColumn& c = *columns_->Add();
            c.text_ = ReadWide(s);
            c.hint_ = ReadWide(s);
            int32_t width = ReadInt(s), minWidth = ReadInt(s), maxWidth = ReadInt(s);
            // Bounded so that the sums of widths cannot overflow.
            c.minWidth_ = std::clamp(minWidth, 0, kMaxStreamedWidth);
            c.maxWidth_ = std::clamp(maxWidth, c.minWidth_, kMaxStreamedWidth);
            c.width_ = std::clamp(width, c.minWidth_, c.maxWidth_);
            c.previousWidth_ = c.width_;
            c.style_ = ReadInt(s) == lsOwnerDraw ? lsOwnerDraw : lsText;
            c.imageIndex_ = ReadInt(s);
            c.layout_ = TLTHeaderColumnLayout(std::clamp(ReadInt(s), 0, int(blGlyphBottom)));
            c.margin_ = ReadInt(s);
            c.spacing_ = ReadInt(s);
            c.bidiMode_ = TBiDiMode(std::clamp(ReadInt(s), 0, int(bdRightToLeftReadingOnly)));
            c.options_ = TLTColumnOptions::FromBits(ConvertOldColumnOptions(uint32_t(ReadInt(s)), version) & 0x1FF);
            if (version > 0) {
                c.Tag = ReadInt(s);
                c.alignment_ = TAlignment(std::clamp(ReadInt(s), 0, int(taCenter)));
            }
            if (version > 1) c.color_ = ReadInt(s);
        }
        autoSizeIndex_ = ReadInt(s);
        background_ = ReadInt(s);
        int32_t height = ReadInt(s);
        savedOptions = TLTHeaderOptions::FromBits(uint16_t(ReadInt(s) & 0xFFF));
        style_ = TLTHeaderStyle(std::clamp(ReadInt(s), 0, int(hsXPStyle)));
        font_.SetColor(ReadInt(s));
        int32_t fontHeight = std::clamp(ReadInt(s), -kMaxStreamedHeight, kMaxStreamedHeight);
        int32_t nameLength = ReadInt(s);
        if (nameLength < 0 || nameLength > s.Remaining())
            throw ELazyTreeError(2004, "Unable to load the header, not enough data available.");
        std::string name(size_t(nameLength), '\0');
        if (nameLength) s.ReadBuffer(name.data(), size_t(nameLength));
        int32_t pitch = ReadInt(s) & 0x7F;
        unsigned style = unsigned(ReadInt(s)) & 0xFF;
        font_.SetName(name);
        font_.SetSize(FontPointsFromHeight(fontHeight));
        font_.SetStyle(style);
        font_.SetPitch(pitch == fpFixed ? fpFixed : pitch == fpVariable ? fpVariable : fpDefault);
        parentFont_ = false;
        if (version > 0) {
            mainColumn_ = ReadInt(s);
            sortColumn_ = ReadInt(s);
            sortDirection_ = ReadInt(s) == sdDescending ? sdDescending : sdAscending;
        }
        height_ = std::clamp(height, 0, kMaxStreamedHeight);
        EndLoading(savedOptions);
        RecalculateHeader();
    } catch (...) {
        EndLoading(savedOptions);
        throw;
    }
}

// Values stored raw while loading are brought into range once the columns are known.
void TLTHeader::EndLoading(TLTHeaderOptions options) {
    states_ &= uint8_t(~hsLoading);
    options_ = options;
    int columnCount = columns_->Count();
    auto clampRef = [columnCount](TColumnIndex& ref, TColumnIndex low) {
        ref = columnCount == 0 ? ColumnNone : std::clamp(ref, low, columnCount - 1);
    };
    clampRef(autoSizeIndex_, ColumnNone);
    clampRef(sortColumn_, ColumnNone);
    clampRef(mainColumn_, 0);
    columns_->FixPositions();
    columns_->needUpdate_ = false;
    columns_->Update();
}

} // namespace krv
