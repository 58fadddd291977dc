// The column header of the lazy tree: the columns (display order kept apart
// from the collection index, width limits, one auto-size column, springs),
// the header drawn in the tree's non-client area above the rows, its mouse
// handling (resizing at a splitter, dragging a column to a new position)
// and its stream.
#pragma once
#include "framework/ComCtrls.h"
#include "framework/Controls.h"
#include "framework/Graphics.h"
#include "framework/Stream.h"
#include "tree/core/LazyTreeOptions.h"
#include "tree/core/LazyTreeTypes.h"
#include <memory>
#include <string>
#include <vector>

namespace krv {

class TBaseLazyTree;
class TLTDragImage;
class TImageList;
class TPopupMenu;
class TLTHeader;
class TLazyTreeColumns;

enum TLTHeaderOption {
    hoAutoResize, hoColumnResize, hoDblClickResize, hoDrag, hoHotTrack, hoOwnerDraw, hoRestrictDrag, hoShowHint,
    hoShowImages, hoShowSortGlyphs, hoVisible, hoAutoSpring
};
using TLTHeaderOptions = TEnumSet<TLTHeaderOption, uint16_t>;
inline constexpr TLTHeaderOptions DefaultHeaderOptions{hoColumnResize, hoDrag, hoShowSortGlyphs};

enum TLTHeaderStyle { hsThickButtons, hsFlatButtons, hsPlates, hsXPStyle };

enum TLTColumnOption {
    coAllowClick, coDraggable, coEnabled, coParentBidiMode, coParentColor, coResizable, coShowDropMark, coVisible,
    coAutoSpring
};
using TLTColumnOptions = TEnumSet<TLTColumnOption, uint32_t>;
inline constexpr TLTColumnOptions DefaultColumnOptions{coAllowClick, coDraggable,   coEnabled,      coParentBidiMode,
                                                      coParentColor, coResizable, coShowDropMark, coVisible};

enum TLTHeaderColumnLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };
enum TLazyTreeColumnStyle { lsText, lsOwnerDraw };
enum TLTDropMarkMode { dmmNone, dmmLeft, dmmRight };
using TColumnPosition = unsigned;

// The parts of a header column the advanced owner draw may take over.
enum THeaderPaintElement { hpeBackground, hpeDropMark, hpeHeaderGlyph, hpeSortGlyph, hpeText };
using THeaderPaintElements = TEnumSet<THeaderPaintElement, uint8_t>;

struct THeaderPaintInfo {
    TCanvas* TargetCanvas = nullptr;
    class TLazyTreeColumn* Column = nullptr;   // null for the area right of the last column
    RECT PaintRectangle{};
    RECT TextRectangle{};
    bool IsHoverIndex = false, IsDownIndex = false, IsEnabled = true, ShowHeaderGlyph = false,
         ShowSortGlyph = false, ShowRightBorder = true;
    TLTDropMarkMode DropMark = dmmNone;
    POINT GlyphPos{}, SortGlyphPos{};
};

// Header state flags (one byte).
enum : uint8_t {
    hsAutoSizing = 1, hsDragging = 2, hsDragPending = 4, hsLoading = 8, hsTracking = 16, hsTrackPending = 32
};

class TLazyTreeColumn {
public:
    explicit TLazyTreeColumn(TLazyTreeColumns* owner);
    virtual ~TLazyTreeColumn();
    TLazyTreeColumn(const TLazyTreeColumn&) = delete;
    TLazyTreeColumn& operator=(const TLazyTreeColumn&) = delete;

    TLazyTreeColumns& Owner() const { return *owner_; }
    int Index() const;

    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment v);
    TBiDiMode BiDiMode() const { return bidiMode_; }
    void SetBiDiMode(TBiDiMode v);
    TColor Color() const { return color_; }
    void SetColor(TColor v);
    const std::wstring& Hint() const { return hint_; }
    void SetHint(const std::wstring& v) { hint_ = v; }
    int ImageIndex() const { return imageIndex_; }
    void SetImageIndex(int v);
    TLTHeaderColumnLayout Layout() const { return layout_; }
    void SetLayout(TLTHeaderColumnLayout v);
    int Margin() const { return margin_; }
    void SetMargin(int v);
    int MaxWidth() const { return maxWidth_; }
    void SetMaxWidth(int v);
    int MinWidth() const { return minWidth_; }
    void SetMinWidth(int v);
    TLTColumnOptions Options() const { return options_; }
    void SetOptions(TLTColumnOptions v);
    TColumnPosition Position() const { return position_; }
    void SetPosition(TColumnPosition v);
    int Spacing() const { return spacing_; }
    void SetSpacing(int v);
    TLazyTreeColumnStyle Style() const { return style_; }
    void SetStyle(TLazyTreeColumnStyle v);
    int Tag = 0;
    const std::wstring& Text() const { return text_; }
    void SetText(const std::wstring& v);
    int Width() const { return width_; }
    void SetWidth(int v);
    int Left() const { return left_; }
    int PreviousWidth() const { return previousWidth_; }
    bool Visible() const { return options_.Contains(coVisible); }

    virtual void Assign(const TLazyTreeColumn& source);
    virtual bool Equals(const TLazyTreeColumn& other) const;
    virtual std::string GetDisplayName() const;
    virtual void SetIndex(int value);
    // The column's rectangle in the header (without the scroll offset).
    virtual RECT GetRect() const;
    // Places glyph, sort glyph and caption in Client by Layout, Margin and Spacing.
    virtual void ComputeHeaderLayout(HDC dc, RECT client, bool useHeaderGlyph, bool useSortGlyph, POINT& glyphPos,
                                     POINT& sortGlyphPos, RECT& textBounds) const;

private:
    friend class TLazyTreeColumns;
    friend class TLTHeader;
    void Changed(bool allColumns);
    TLazyTreeColumns* owner_;
    TAlignment alignment_ = taLeftJustify;
    TBiDiMode bidiMode_ = bdLeftToRight;
    TColor color_ = clWindow;
    std::wstring hint_, text_;
    int imageIndex_ = -1;
    TLTHeaderColumnLayout layout_ = blGlyphLeft;
    int margin_ = 4, spacing_ = 4;
    int maxWidth_ = 10000, minWidth_ = 10;
    TLTColumnOptions options_ = DefaultColumnOptions;
    TColumnPosition position_ = 0;
    TLazyTreeColumnStyle style_ = lsText;
    int width_ = 50, previousWidth_ = 50, left_ = 0;
};
using TColumnClass = std::unique_ptr<TLazyTreeColumn> (*)(TLazyTreeColumns* owner);

class TLazyTreeColumns {
public:
    explicit TLazyTreeColumns(TLTHeader* header);
    virtual ~TLazyTreeColumns();
    TLTHeader& Header() const { return *header_; }
    int Count() const { return int(items_.size()); }
    TLazyTreeColumn& operator[](TColumnIndex i) const { return *items_.at(size_t(i)); }

    virtual TLazyTreeColumn* Add();
    virtual void Clear();
    void Delete(TColumnIndex index);
    virtual void Assign(const TLazyTreeColumns& source);
    // The collection changed: positions, main column, auto-size, repaint.
    virtual void Update();
    void BeginUpdate() { ++updateCount_; }
    void EndUpdate();

    bool IsColumnIndexValid(TColumnIndex c) const { return c >= 0 && c < Count(); }
    TColumnIndex GetFirstVisibleColumn() const;
    TColumnIndex GetLastVisibleColumn() const;
    TColumnIndex GetNextColumn(TColumnIndex c) const;
    TColumnIndex GetPreviousColumn(TColumnIndex c) const;
    TColumnIndex GetNextVisibleColumn(TColumnIndex c) const;
    TColumnIndex GetPreviousVisibleColumn(TColumnIndex c) const;
    std::vector<TColumnIndex> GetVisibleColumns() const;
    // The column at a display position (ColumnNone past the end).
    virtual TColumnIndex ColumnFromPosition(TColumnPosition position) const;
    // The column under a client point (ColumnInvalid outside); Relative
    // applies the tree's horizontal scroll offset.
    virtual TColumnIndex ColumnFromPoint(POINT p, bool relative) const;
    void GetColumnBounds(TColumnIndex c, int& left, int& right) const;
    int TotalWidth() const;
    // Paints the header into dc at r; hOffset is the tree's horizontal scroll offset.
    virtual void PaintHeader(HDC dc, RECT r, int hOffset);

    TColumnIndex HoverIndex() const { return hoverIndex_; }
    TColumnIndex DownIndex() const { return downIndex_; }
    TColumnIndex DropTarget() const { return dropTarget_; }
    TLTDropMarkMode DropMark() const { return dropMark_; }
    TColumnIndex TrackIndex() const { return trackIndex_; }

    // Spreads a change of the header width over the spring columns.
    void AdjustSprings(int delta);
    // Scrolls the tree right of the column in steps, then sets the width.
    void AnimatedResize(TColumnIndex c, int newWidth);
    void RecomputePositions();

private:
    friend class TLazyTreeColumn;
    friend class TLTHeader;
    void FixPositions();
    void MoveInPositions(TColumnIndex c, TColumnPosition to);
    void ColumnRemoved(TColumnIndex c);
    void PaintColumn(HDC dc, TLazyTreeColumn* column, RECT r, bool hover, bool pressed, TLTDropMarkMode dropMark);
    TLTHeader* header_;
    std::vector<std::unique_ptr<TLazyTreeColumn>> items_;
    std::vector<TColumnIndex> positionToIndex_;
    TColumnIndex hoverIndex_ = ColumnNone, downIndex_ = ColumnNone, dropTarget_ = ColumnNone,
                 trackIndex_ = ColumnNone;
    TLTDropMarkMode dropMark_ = dmmNone;
    bool clearing_ = false, needUpdate_ = false;
    unsigned updateCount_ = 0;
};
using TColumnsClass = std::unique_ptr<TLazyTreeColumns> (*)(TLTHeader* header);

class TLTHeader {
public:
    explicit TLTHeader(TBaseLazyTree* owner);
    virtual ~TLTHeader();
    TLTHeader(const TLTHeader&) = delete;
    TLTHeader& operator=(const TLTHeader&) = delete;

    TBaseLazyTree* Treeview() const { return owner_; }
    TLazyTreeColumns& Columns() { return *columns_; }
    const TLazyTreeColumns& Columns() const { return *columns_; }

    // What the tree's painting and hit testing consult.
    virtual int ColumnCount() const { return columns_->Count(); }
    virtual std::vector<TColumnIndex> VisibleColumnsInOrder() const { return columns_->GetVisibleColumns(); }
    virtual void ColumnBounds(TColumnIndex c, int& left, int& right) const { columns_->GetColumnBounds(c, left, right); }
    virtual bool ColumnAlignmentOf(TColumnIndex c, TAlignment& a) const;
    virtual bool ColumnBiDiModeOf(TColumnIndex c, TBiDiMode& b) const;

    TColumnIndex AutoSizeIndex() const { return autoSizeIndex_; }
    void SetAutoSizeIndex(TColumnIndex v);
    TColor Background() const { return background_; }
    void SetBackground(TColor v);
    TFont& Font() { return font_; }
    void SetFont(const TFont& v);
    int Height() const { return height_; }
    void SetHeight(int v);
    TImageList* Images() const { return images_; }
    void SetImages(TImageList* v);
    TColumnIndex MainColumn() const { return ColumnCount() > 0 ? mainColumn_ : ColumnNone; }
    void SetMainColumn(TColumnIndex v);
    TLTHeaderOptions Options() const { return options_; }
    void SetOptions(TLTHeaderOptions v);
    bool ParentFont() const { return parentFont_; }
    void SetParentFont(bool v);
    TPopupMenu* PopupMenu() const { return popupMenu_; }
    void SetPopupMenu(TPopupMenu* menu);
    // The end of the tree's loading: positions recomputed, the auto-size column fitted.
    void Loaded();
    TColumnIndex SortColumn() const { return sortColumn_; }
    void SetSortColumn(TColumnIndex c);
    TSortDirection SortDirection() const { return sortDirection_; }
    void SetSortDirection(TSortDirection d);
    TLTHeaderStyle Style() const { return style_; }
    void SetStyle(TLTHeaderStyle v);
    uint8_t States() const { return states_; }
    // The picture of the column being dragged (null before the first column drag).
    TLTDragImage* DragImage() const { return dragImage_.get(); }

    virtual void Assign(const TLTHeader& source);
    // False when the columns are not the header's to keep: a stream then holds none.
    // True by default: the tree's own stream carries its header, and a tree
    // saved without its columns would load back without them.
    virtual bool CanWriteColumns() const { return true; }
    virtual void ChangeScale(int m, int d);
    // Whether p (client coordinates) lies on a splitter; the hit column becomes the one resized.
    virtual bool FindSplitterColumn(POINT p);
    virtual TColumnsClass GetColumnsClass() const;
    // Mouse, cursor, key, focus and timer messages meant for the header.
    virtual bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    virtual void RecalculateHeader();
    virtual bool InHeader(POINT p) const;
    virtual void LoadFromStream(TStream& stream);
    virtual void SaveToStream(TStream& stream) const;

    // The runtime column the last-pressed query of the tree reads.
    TColumnIndex PressedColumn = ColumnNone;
    // The header rectangle in client coordinates (above the client area).
    RECT HeaderRect() const;
    // Redraws the header (the column and border arguments name what changed).
    void Invalidate(TLazyTreeColumn* column = nullptr, bool expandToBorder = false);
    // Runs the auto-size rule; CurrentIndex is the column whose width just changed.
    void AdjustAutoSize(TColumnIndex currentIndex, bool force = false);
    void FitColumnsToContent(bool animated);
    void RestoreColumns();
    // The tree's colour, reading order or font changed: columns and a
    // header that follow their parent take them.
    void TreeAppearanceChanged();
    // Called by the tree when its client width changes.
    void ClientWidthChanged(int newWidth);
    bool Loading() const { return states_ & hsLoading; }
    // The column the auto-size rule sizes (AutoSizeIndex, or the last).
    bool IsAutoColumn(TColumnIndex c) const;

protected:
    // The base constructor cannot reach a descendant's GetColumnsClass: a
    // header that overrides it calls this in its own constructor.
    void UseOwnColumnsClass() { columns_ = GetColumnsClass()(this); }
    TBaseLazyTree* owner_;
    std::unique_ptr<TLazyTreeColumns> columns_;
    TColumnIndex autoSizeIndex_ = ColumnNone;
    TColor background_ = clBtnFace;
    TFont font_;
    int height_ = 17;
    TImageList* images_ = nullptr;
    TChangeLink imagesLink_;   // new pictures in the list repaint the header
    TPopupMenu* popupMenu_ = nullptr;
    TColumnIndex mainColumn_ = 0;
    TLTHeaderOptions options_ = DefaultHeaderOptions;
    bool parentFont_ = false;
    TColumnIndex sortColumn_ = ColumnNone;
    TSortDirection sortDirection_ = sdAscending;
    TLTHeaderStyle style_ = hsThickButtons;
    uint8_t states_ = 0;
    int trackStart_ = 0;
    POINT dragStart_{};
    TColumnIndex dragIndex_ = ColumnNone;
    std::unique_ptr<TLTDragImage> dragImage_;
    int lastClientWidth_ = -1;

private:
    friend class TLazyTreeColumns;
    friend class TLazyTreeColumn;
    void AutoSort();
    void EndLoading(TLTHeaderOptions options);
    bool Live() const;
    void MouseDown(TMouseButton button, POINT client, bool dblClick, TShiftState shift);
    void MouseMove(POINT client, TShiftState shift);
    void MouseUp(TMouseButton button, POINT client, TShiftState shift);
    void EndDragAndTrack();
    void SetDownIndex(TColumnIndex c);
    void SetHoverIndex(TColumnIndex c);
    void TrackDrop(POINT client);
    // The dragged column's picture over the screen, following the mouse.
    void StartColumnDragImage(TColumnIndex c, POINT client);
    void EndColumnDragImage();
    POINT ScreenToClientPoint(LPARAM lParam) const;
    bool HasCapture() const;
};

} // namespace krv
