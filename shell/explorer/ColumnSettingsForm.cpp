#include "shell/explorer/ColumnSettingsForm.h"
#include "shell/explorer/LazyExplorerTree.h"
#include "shell/base/WideStrUtils.h"
#include <algorithm>
#include <cstdlib>

namespace krv {

TFormColumnSettings::TFormColumnSettings(TCustomLazyExplorerTree* tree) : TForm(nullptr), tree_(tree) {
    SetName("FormColumnSettings");
    SetCaption("Column Settings");
    Position = poScreenCenter;
    BorderStyle = bsDialog;
    SetBounds(0, 0, 330, 380);
    auto* intro = PlaceControl(new TLabel(this), this, "LabelIntro", 10, 8, 304, 30,
                               "Check the columns you would like to make visible in this Folder.  Drag and Drop to "
                               "reorder the columns. ");
    intro->WordWrap = true;
    LSTColumnNames = PlaceControl(new TLazyStringTree(this), this, "LSTColumnNames", 10, 42, 304, 210);
    PlaceControl(new TLabel(this), this, "LabelWidth", 10, 262, 170, 16, "The selected column should be ");
    EditPixelWidth = PlaceControl(new TEdit(this), this, "EditPixelWidth", 182, 259, 50, 21);
    PlaceControl(new TLabel(this), this, "LabelPixels", 238, 262, 80, 16, "pixels wide");
    CheckBoxLiveUpdate =
        PlaceControl(new TCheckBox(this), this, "CheckBoxLiveUpdate", 10, 292, 120, 20, "Live Update");
    ButtonOk = PlaceControl(new TButton(this), this, "ButtonOk", 146, 316, 80, 26, "&OK");
    ButtonOk->ModalResult = mrOk;
    ButtonOk->Default = true;
    ButtonCancel = PlaceControl(new TButton(this), this, "ButtonCancel", 234, 316, 80, 26, "&Cancel");
    ButtonCancel->ModalResult = mrCancel;
    ButtonCancel->Cancel = true;

    LSTColumnNames->SetNodeDataSize(sizeof(int));
    auto& o = LSTColumnNames->TreeOptions();
    o.SetMiscOptions(o.MiscOptions() + toCheckSupport);
    o.SetPaintOptions(o.PaintOptions() - toShowRoot - toShowTreeLines - toShowButtons);
    LSTColumnNames->OnGetText = [this](TBaseLazyTree*, PLazyNode node, TColumnIndex, TLSTTextType,
                                       std::wstring& text) { text = EntryOf(node).Title; };
    LSTColumnNames->OnChecked = [this](TBaseLazyTree*, PLazyNode node) {
        EntryOf(node).Visible = LSTColumnNames->CheckState(node) == csCheckedNormal;
        Changed();
    };
    LSTColumnNames->OnFocusChanged = [this](TBaseLazyTree*, PLazyNode node, TColumnIndex) { FocusChanged(node); };
    // Rows are reordered by dragging them within the list; nothing else is taken.
    LSTColumnNames->OnDragAllowed = [](TBaseLazyTree*, PLazyNode, TColumnIndex, bool& allowed) { allowed = true; };
    LSTColumnNames->OnDragOver = [this](TBaseLazyTree*, TObject* source, TShiftState, TDragState, POINT,
                                        TDropMode mode, DWORD& effect, bool& accept) {
        accept = source == LSTColumnNames && mode != dmNowhere;
        effect = accept ? DROPEFFECT_MOVE : DROPEFFECT_NONE;
    };
    LSTColumnNames->OnDragDrop = [this](TBaseLazyTree*, TObject* source, IDataObject*, const TFormatArray&,
                                        TShiftState, POINT, DWORD& effect, TDropMode mode) {
        if (source == LSTColumnNames) DropRows(mode);
        // Moved in place: the source must not delete the rows it sent.
        effect = DROPEFFECT_NONE;
    };
    EditPixelWidth->OnKeyPress = [this](TObject*, char& key) { WidthKeyPress(key); };
    EditPixelWidth->OnExit = [this](TObject*) { StoreWidth(); };
    OnUpdate = [](TFormColumnSettings* form) { form->ApplyToTree(); };
    Fill();
}

void TFormColumnSettings::Fill() {
    TLazyTreeColumns& columns = tree_->Header().Columns();
    entries_.clear();
    for (TColumnPosition p = 0; p < TColumnPosition(columns.Count()); ++p) {
        TColumnIndex c = columns.ColumnFromPosition(p);
        if (!columns.IsColumnIndexValid(c)) continue;
        entries_.push_back({columns[c].Text(), columns[c].Visible(), columns[c].Width(), c});
    }
    InUpdate(*LSTColumnNames, [&] {
        LSTColumnNames->Clear();
        for (size_t i = 0; i < entries_.size(); ++i) {
            PLazyNode node = LSTColumnNames->AddChild(nullptr);
            *static_cast<int*>(LSTColumnNames->GetNodeData(node)) = int(i);
            LSTColumnNames->SetCheckType(node, ctCheckBox);
            node->CheckState = entries_[i].Visible ? csCheckedNormal : csUncheckedNormal;
        }
    });
}

TFormColumnSettings::TColumnEntry& TFormColumnSettings::EntryOf(PLazyNode node) {
    return entries_.at(size_t(*static_cast<int*>(LSTColumnNames->GetNodeData(node))));
}

std::vector<TFormColumnSettings::TColumnEntry> TFormColumnSettings::Entries() const {
    std::vector<TColumnEntry> result;
    for (PLazyNode node = LSTColumnNames->GetFirst(); node; node = node->NextSibling)
        result.push_back(entries_.at(size_t(*static_cast<int*>(LSTColumnNames->GetNodeData(node)))));
    return result;
}

void TFormColumnSettings::Changed() {
    if (CheckBoxLiveUpdate->Checked() && OnUpdate) OnUpdate(this);
}

void TFormColumnSettings::WidthKeyPress(char& key) {
    if ((key >= '0' && key <= '9') || key == '\b') return;
    if (key == '\r') {
        StoreWidth();
    } else {
        ::MessageBeep(MB_OK);
    }
    key = 0;
}

void TFormColumnSettings::StoreWidth() {
    if (!widthNode_) return;
    std::string digits = EditPixelWidth->Text();
    if (digits.empty()) return;
    int width = std::min(std::atoi(digits.c_str()), 0xFFFF);
    TColumnEntry& entry = EntryOf(widthNode_);
    if (entry.Width == width) return;
    entry.Width = width;
    Changed();
}

void TFormColumnSettings::FocusChanged(PLazyNode node) {
    StoreWidth();
    widthNode_ = node;
    EditPixelWidth->SetText(node ? std::to_string(EntryOf(node).Width) : std::string());
}

void TFormColumnSettings::MoveNode(PLazyNode node, PLazyNode target, bool after) {
    if (!node || !target || node == target) return;
    LSTColumnNames->MoveTo(node, target, after ? amInsertAfter : amInsertBefore, false);
    Changed();
}

void TFormColumnSettings::DropRows(TDropMode mode) {
    PLazyNode target = LSTColumnNames->DropTargetNode();
    if (!target) return;
    TNodeArray rows = LSTColumnNames->GetSortedSelection(false);
    const bool after = mode != dmAbove;
    // Inserted one by one next to the target: after it last to first, so they keep their order.
    if (after) std::reverse(rows.begin(), rows.end());
    bool moved = false;
    for (PLazyNode row : rows) {
        if (row == target) continue;
        LSTColumnNames->MoveTo(row, target, after ? amInsertAfter : amInsertBefore, false);
        moved = true;
    }
    if (moved) Changed();
}

void TFormColumnSettings::ApplyToTree() {
    TLazyTreeColumns& columns = tree_->Header().Columns();
    std::vector<TColumnEntry> ordered = Entries();
    InUpdate(columns, [&] {
        for (size_t p = 0; p < ordered.size(); ++p) {
            const TColumnEntry& entry = ordered[p];
            if (!columns.IsColumnIndexValid(entry.ColumnIndex)) continue;
            TLazyTreeColumn& column = columns[entry.ColumnIndex];
            column.SetWidth(entry.Width);
            TLTColumnOptions options = column.Options();
            if (entry.Visible) options += coVisible;
            else options -= coVisible;
            column.SetOptions(options);
            column.SetPosition(TColumnPosition(p));
        }
    });
    tree_->StoreColumnState();
}

bool TFormColumnSettings::Execute() {
    if (ShowModal() != mrOk) return false;
    StoreWidth();
    ApplyToTree();
    return true;
}

} // namespace krv
