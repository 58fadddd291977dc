// The column-settings dialog of the explorer tree: a check box per column
// (checked = visible) in display order, the selected column's width, and
// "Live Update" to apply each change at once.
#pragma once
#include "framework/Forms.h"
#include "framework/StdCtrls.h"
#include "tree/string/LazyStringTree.h"
#include <functional>
#include <string>
#include <vector>

namespace krv {

class TCustomLazyExplorerTree;

class TFormColumnSettings : public TForm {
public:
    // What the dialog edits, one per column in display order.
    struct TColumnEntry {
        std::wstring Title;
        bool Visible = true;
        int Width = 0;
        int ColumnIndex = 0;
    };

    explicit TFormColumnSettings(TCustomLazyExplorerTree* tree);
    // Shows the dialog modally; OK applies visibility, order and widths.
    bool Execute();
    // Writes the entries into the tree's columns.
    void ApplyToTree();
    // Fired for every change while "Live Update" is ticked (by default it applies to the tree).
    std::function<void(TFormColumnSettings*)> OnUpdate;

    TLazyStringTree* LSTColumnNames = nullptr;
    TEdit* EditPixelWidth = nullptr;
    TCheckBox* CheckBoxLiveUpdate = nullptr;
    TButton* ButtonOk = nullptr;
    TButton* ButtonCancel = nullptr;

    // The entries in the list's order (as the user arranged them).
    std::vector<TColumnEntry> Entries() const;
    TColumnEntry& EntryOf(PLazyNode node);
    // Moves a column's node before or after another (the drop of a drag).
    void MoveNode(PLazyNode node, PLazyNode target, bool after);
    // The drop of a drag within the list: the dragged rows go above or below the drop target's row.
    void DropRows(TDropMode mode);
    // The width edit: digits, backspace and Enter; anything else is dropped with a beep.
    void WidthKeyPress(char& key);
    // Stores the edit's number as the focused column's width.
    void StoreWidth();

private:
    void Fill();
    void Changed();
    void FocusChanged(PLazyNode node);
    TCustomLazyExplorerTree* tree_;
    std::vector<TColumnEntry> entries_;
    PLazyNode widthNode_ = nullptr;   // the node whose width the edit shows
};

} // namespace krv
