// The explorer tree's detail columns: the column class with its detail kind,
// the header, the per-node width toggles (fit to contents, hide) and the
// header's column menu. The tree builds and sorts them in
// LazyExplorerColumns.cpp.
#pragma once
#include "tree/header/LazyTreeHeader.h"
#include <cstdint>
#include <string>
#include <vector>

namespace krv {

class TCustomLazyExplorerTree;

// What a column of the explorer tree shows (and sorts by).
enum TLETColumnDetails {
    cdFileName, cdSize, cdType, cdModified, cdAccessed, cdCreated, cdAttributes, cdPath, cdDOSName, cdCustom
};

class TLETColumn : public TLazyTreeColumn {
public:
    explicit TLETColumn(TLazyTreeColumns* owner);
    TLETColumnDetails ColumnDetails() const { return details_; }
    // Sets the caption and width of the kind; a tree of shell columns only has cdCustom.
    void SetColumnDetails(TLETColumnDetails value);
    void Assign(const TLazyTreeColumn& source) override;

private:
    TLETColumnDetails details_ = cdFileName;
};

// The shell's columns belong to the folder shown, not to the header: under
// cdShellColumns a stream keeps none, and loading one builds the folder's.
class TLETHeader : public TLTHeader {
public:
    explicit TLETHeader(TBaseLazyTree* owner) : TLTHeader(owner) {}
    bool CanWriteColumns() const override;
    void LoadFromStream(TStream& stream) override;
};

// Per node: the widths a column had before a toggle, so the next toggle
// gives it back.
class TColumnManager {
public:
    enum : uint8_t { csNormal = 0, csFitted = 1, csHidden = 2 };
    explicit TColumnManager(TCustomLazyExplorerTree* owner) : Owner(owner) {}
    TCustomLazyExplorerTree* Owner;

    // Widest text of the column, and back.
    void ToggleWidthAutoFit(TColumnIndex column);
    // Width 0, and back.
    void ToggleWidthMinimize(TColumnIndex column);
    uint8_t State(TColumnIndex column) const;

private:
    struct TEntry {
        int SavedWidth = 0;
        uint8_t State = csNormal;
    };
    // Grows the entries to the header's column count; nil for a column that is not there.
    TEntry* Entry(TColumnIndex column);
    // Gives the saved width back when the column is in state, else saves it and sets newWidth().
    template <class WidthFn> void Toggle(TColumnIndex column, uint8_t state, WidthFn newWidth);
    std::vector<TEntry> entries_;
};

// The header's menu: one checked item per column (checked = visible), a
// separator and "More ..." for the column-settings dialog.
class TColumnMenu {
public:
    enum : TColumnIndex { SeparatorItem = -1, MoreItem = -2 };
    struct TColumnMenuItem {
        std::wstring Caption;
        bool Checked = false;
        TColumnIndex Column = SeparatorItem;
    };
    explicit TColumnMenu(TCustomLazyExplorerTree* tree) : tree_(tree) {}
    // The items for the tree's columns as they are now.
    const std::vector<TColumnMenuItem>& Populate();
    const std::vector<TColumnMenuItem>& Items() const { return items_; }
    // What choosing the item does: a column's visibility flips; "More ..." opens the dialog.
    void Click(size_t index);
    // Shows the menu at a screen point and runs the chosen item.
    void Popup(POINT screen);

private:
    TCustomLazyExplorerTree* tree_;
    std::vector<TColumnMenuItem> items_;
};

} // namespace krv
