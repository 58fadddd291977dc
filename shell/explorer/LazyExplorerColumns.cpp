// Sorting and detail columns of the explorer tree: the comparison of two
// rows, the columns for each ColumnDetails kind, the column state kept per
// folder in the check storage, the width toggles and header clicks, and the
// header's column menu.
#include "shell/explorer/LazyExplorerColumns.h"
#include "shell/explorer/ColumnSettingsForm.h"
#include "shell/explorer/LazyCheckStorage.h"
#include "shell/explorer/LazyExplorerTree.h"
#include "framework/Handle.h"
#include <algorithm>
#include <iterator>

namespace krv {

namespace {
// Title (index into the default title table) and width of each detail kind.
struct TKindLook {
    int Title;
    int Width;
};
constexpr TKindLook KindLooks[] = {{0, 180}, {1, 96}, {2, 120}, {3, 120}, {6, 180},
                                   {5, 120}, {4, 60}, {7, 150}, {8, 80},  {9, 80}};
static_assert(std::size(KindLooks) == cdCustom + 1);

// Widths of shell columns by index, where the folder is of no kind below.
constexpr int StandardWidths[] = {180, 96,  120, 120, 60,  120, 120, 150, 80,  120, 120, 120, 120,
                                  120, 120, 120, 120, 120, 120, 120, 120, 120, 120, 120, 120, 120,
                                  120, 120, 120, 120, 120, 120, 120, 120, 120, 120, 120};
static_assert(std::size(StandardWidths) == 37);
// Special folders whose first columns hold longer texts.
constexpr int MyComputerWidths[] = {180, 120, 96, 96};     // name, type, total size, free space
constexpr int NetworkWidths[] = {180, 250};                // name, comment
constexpr int ControlPanelWidths[] = {180, 400};           // name, description
constexpr int RecycleBinWidths[] = {180, 200, 120, 96, 120, 120};   // name, origin, deleted, size, type, modified

template <size_t N> int WidthFrom(const int (&table)[N], int column) {
    return column < int(N) ? table[column] : -1;
}

int ShellColumnWidth(TNamespace* folder, int column) {
    int width = -1;
    if (folder->IsMyComputer()) width = WidthFrom(MyComputerWidths, column);
    else if (folder->IsNetworkNeighborhood()) width = WidthFrom(NetworkWidths, column);
    else if (folder->IsControlPanel()) width = WidthFrom(ControlPanelWidths, column);
    else if (folder->IsRecycleBin()) width = WidthFrom(RecycleBinWidths, column);
    if (width < 0) width = WidthFrom(StandardWidths, column);
    return width < 0 ? 120 : width;
}

} // namespace

// ---- the column class ----------------------------------------------------------------

TLETColumn::TLETColumn(TLazyTreeColumns* owner) : TLazyTreeColumn(owner) {
    // Hiding a column by the width toggle gives it width 0.
    SetMinWidth(0);
    SetWidth(200);
}

void TLETColumn::SetColumnDetails(TLETColumnDetails value) {
    auto* tree = dynamic_cast<TCustomLazyExplorerTree*>(Owner().Header().Treeview());
    if (tree && tree->ColumnDetails() == cdShellColumns) value = cdCustom;
    details_ = value;
    SetText(DefaultColumnTitle(KindLooks[value].Title));
    SetWidth(KindLooks[value].Width);
}

void TLETColumn::Assign(const TLazyTreeColumn& source) {
    TLazyTreeColumn::Assign(source);
    if (auto* other = dynamic_cast<const TLETColumn*>(&source)) details_ = other->details_;
}

// ---- the header ---------------------------------------------------------------------------

bool TLETHeader::CanWriteColumns() const {
    auto* tree = dynamic_cast<TCustomLazyExplorerTree*>(Treeview());
    return !tree || tree->ColumnDetails() != cdShellColumns;
}

void TLETHeader::LoadFromStream(TStream& stream) {
    TLTHeader::LoadFromStream(stream);
    if (!CanWriteColumns())
        if (auto* tree = dynamic_cast<TCustomLazyExplorerTree*>(Treeview())) tree->BuildColumns();
}

// ---- per-node width toggles --------------------------------------------------------------

TColumnManager::TEntry* TColumnManager::Entry(TColumnIndex column) {
    TLazyTreeColumns& columns = Owner->Header().Columns();
    if (size_t(columns.Count()) > entries_.size()) entries_.resize(size_t(columns.Count()));
    return columns.IsColumnIndexValid(column) ? &entries_[size_t(column)] : nullptr;
}

uint8_t TColumnManager::State(TColumnIndex column) const {
    return column >= 0 && size_t(column) < entries_.size() ? entries_[size_t(column)].State : uint8_t(csNormal);
}

template <class WidthFn> void TColumnManager::Toggle(TColumnIndex column, uint8_t state, WidthFn newWidth) {
    TEntry* entry = Entry(column);
    if (!entry) return;
    TLazyTreeColumn& c = Owner->Header().Columns()[column];
    if (entry->State == state) {
        c.SetWidth(entry->SavedWidth);
        entry->State = csNormal;
    } else {
        entry->SavedWidth = c.Width();
        c.SetWidth(newWidth());
        entry->State = state;
    }
}

void TColumnManager::ToggleWidthAutoFit(TColumnIndex column) {
    Toggle(column, csFitted, [this, column] { return Owner->GetMaxColumnWidth(column); });
}

void TColumnManager::ToggleWidthMinimize(TColumnIndex column) {
    Toggle(column, csHidden, [] { return 0; });
}

// ---- the column menu -----------------------------------------------------------------------

const std::vector<TColumnMenu::TColumnMenuItem>& TColumnMenu::Populate() {
    items_.clear();
    TLazyTreeColumns& columns = tree_->Header().Columns();
    for (TColumnIndex c = 0; c < columns.Count(); ++c) items_.push_back({columns[c].Text(), columns[c].Visible(), c});
    items_.push_back({L"-", false, SeparatorItem});
    items_.push_back({L"More ...", false, MoreItem});
    return items_;
}

void TColumnMenu::Click(size_t index) {
    if (index >= items_.size()) return;
    TColumnIndex column = items_[index].Column;
    if (column == MoreItem) {
        tree_->ShowColumnSettings();
        return;
    }
    TLazyTreeColumns& columns = tree_->Header().Columns();
    if (!columns.IsColumnIndexValid(column)) return;
    TLTColumnOptions options = columns[column].Options();
    if (options.Contains(coVisible)) options -= coVisible;
    else options += coVisible;
    columns[column].SetOptions(options);
    tree_->StoreColumnState();
}

void TColumnMenu::Popup(POINT screen) {
    Populate();
    MenuHandle menu(::CreatePopupMenu());
    if (!menu) return;
    for (size_t i = 0; i < items_.size(); ++i) {
        const TColumnMenuItem& item = items_[i];
        if (item.Column == SeparatorItem) {
            ::AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
            continue;
        }
        ::AppendMenuW(menu.get(), MF_STRING | (item.Checked ? MF_CHECKED : 0), UINT_PTR(i + 1), item.Caption.c_str());
    }
    UINT chosen = UINT(::TrackPopupMenu(menu.get(), TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD, screen.x,
                                        screen.y, 0, tree_->Handle(), nullptr));
    if (chosen > 0) Click(chosen - 1);
}

// ---- the tree: comparing rows --------------------------------------------------------------

TLETColumnDetails TCustomLazyExplorerTree::ColumnKind(TColumnIndex column) {
    TLazyTreeColumns& columns = Header().Columns();
    if (!columns.IsColumnIndexValid(column)) return cdCustom;
    auto* c = dynamic_cast<TLETColumn*>(&columns[column]);
    return c ? c->ColumnDetails() : cdCustom;
}

int TCustomLazyExplorerTree::DoCompareNodes(PLazyNode node1, PLazyNode node2, TColumnIndex column) {
    if (LETMiscOption(toUserSort)) return TCustomLazyStringTree::DoCompareNodes(node1, node2, column);
    TShellSortHelper& sort = *sortHelper_;
    sort.FileSort = fileSort_;
    TNamespace *ns1, *ns2;
    if (!ValidateNamespace(node1, ns1) || !ValidateNamespace(node2, ns2)) return 0;
    if (column < 0) return sort.CompareIDSort(0, ns1, ns2);
    if (columnDetails_ == cdShellColumns) return CompareShellColumn(column, node1, node2, ns1, ns2);
    switch (ColumnKind(column)) {
    case cdFileName: return sort.CompareIDSort(0, ns1, ns2);
    case cdSize: return sort.SortFileSize(ns1, ns2);
    case cdType: return sort.SortType(ns1, ns2);
    case cdModified: return sort.SortFileTime(ns1->LastWriteTimeRaw(), ns2->LastWriteTimeRaw(), ns1, ns2);
    case cdAccessed: return sort.SortFileTime(ns1->LastAccessTimeRaw(), ns2->LastAccessTimeRaw(), ns1, ns2);
    case cdCreated: return sort.SortFileTime(ns1->CreationTimeRaw(), ns2->CreationTimeRaw(), ns1, ns2);
    case cdAttributes: return sort.SortString(ns1->AttributesString(), ns2->AttributesString(), ns1, ns2);
    case cdPath: return sort.SortString(ns1->NameParseAddress(), ns2->NameParseAddress(), ns1, ns2);
    case cdDOSName: return sort.SortString(ns1->ShortFileName(), ns2->ShortFileName(), ns1, ns2);
    case cdCustom: break;
    }
    return DoCustomColumnCompare(column, node1, node2);
}

// Keep in step with DoCompareNodes and CompareShellColumn.
bool TCustomLazyExplorerTree::SortsByShellName(PLazyNode child) {
    if (LETMiscOption(toUserSort)) return false;
    TColumnIndex column = Header().SortColumn();
    if (column < 0) return true;
    TNamespace* ns;
    if (columnDetails_ == cdShellColumns)
        return column == 0 && (!child || (ValidateNamespace(child, ns) && ns->DetailsColumnCount() > 0));
    return ColumnKind(column) == cdFileName;
}

// The folder's column state says what a column holds: a number sorts by
// size, a date by time, text by the folder's own comparison for the column
// (a file-system folder's type column by SortType with fsFileType). This system's shell calls every
// column text, so a file-system folder's size and modified columns (1 and 3,
// as the size column's alignment assumes too) keep that fixed mapping when
// the shell gives them as text or gives no state.
int TCustomLazyExplorerTree::CompareShellColumn(TColumnIndex column, PLazyNode node1, PLazyNode node2,
                                                TNamespace* ns1, TNamespace* ns2) {
    TShellSortHelper& sort = *sortHelper_;
    if (column >= ns1->DetailsColumnCount()) return DoCustomColumnCompare(column, node1, node2);
    auto byTime = [&] { return sort.SortFileTime(ns1->LastWriteTimeRaw(), ns2->LastWriteTimeRaw(), ns1, ns2); };
    // The name column is the folder's own order whatever its state says.
    switch (column > 0 ? ns1->DetailsColumnState(column) & 0x07 : 0) {   // the type below the 8 of "shown"
    case SHCOLSTATE_TYPE_INT: return sort.SortFileSize(ns1, ns2);
    case SHCOLSTATE_TYPE_DATE: return byTime();
    default: break;
    }
    if (ns1->FileSystem() && ns2->FileSystem()) {
        if (column == 2 && sort.FileSort == fsFileType) return sort.SortType(ns1, ns2);
        if (column == 1) return sort.SortFileSize(ns1, ns2);
        if (column == 3) return byTime();
    }
    return sort.CompareIDSort(column, ns1, ns2);
}

std::wstring TCustomLazyExplorerTree::ColumnText(TColumnIndex column, TNamespace* ns) {
    if (column < 0 || Header().ColumnCount() == 0 || column == Header().MainColumn()) return ns->NameInFolder();
    if (columnDetails_ == cdShellColumns)
        return column < ns->DetailsColumnCount() ? ns->DetailsOf(column) : std::wstring();
    switch (ColumnKind(column)) {
    case cdFileName: return ns->NameInFolder();
    case cdSize:
        switch (fileSizeFormat_) {
        case fsfExplorer: return ns->SizeOfFileKB();
        case fsfActual: return ns->SizeOfFile();
        case fsfDiskUsage: return ns->SizeOfFileDiskUsage();
        }
        break;
    case cdType: return ns->FileType();
    case cdModified: return ns->LastWriteTime();
    case cdAccessed: return ns->LastAccessTime();
    case cdCreated: return ns->CreationTime();
    case cdAttributes: return ns->AttributesString();
    case cdPath: return ns->NameParseAddress();
    case cdDOSName: return ns->ShortFileName();
    case cdCustom: break;
    }
    return std::wstring();
}

// ---- the tree: building the columns -----------------------------------------------------------

THeaderClass TCustomLazyExplorerTree::GetHeaderClass() const {
    return +[](TBaseLazyTree* owner) -> std::unique_ptr<TLTHeader> { return std::make_unique<TLETHeader>(owner); };
}

TColumnClass TCustomLazyExplorerTree::GetColumnClass() const {
    return +[](TLazyTreeColumns* owner) -> std::unique_ptr<TLazyTreeColumn> {
        return std::make_unique<TLETColumn>(owner);
    };
}

TNamespace* TCustomLazyExplorerTree::ColumnFolder() const {
    if (TNamespace* hidden = GetNodeData(root_)->Namespace) return hidden;
    return rootNamespace_.get();
}

void TCustomLazyExplorerTree::SetColumnDetails(TColumnDetails value) {
    if (value == columnDetails_) return;
    columnDetails_ = value;
    shellColumnCount_ = 0;
    if (value == cdUser) {
        Header().Columns().Clear();
        Header().SetOptions(Header().Options() - hoVisible);
        return;
    }
    BuildColumns();
}

void TCustomLazyExplorerTree::BuildColumns() {
    if (!HandleAllocated() || columnDetails_ == cdUser) return;
    bool wasBuilding = std::exchange(buildingColumns_, true);
    try {
        InUpdate(*this, [&] {
            Header().Columns().Clear();
            shellColumnCount_ = 0;
            Header().SetOptions(Header().Options() + hoVisible);
            if (columnDetails_ == cdLETColumns) BuildLETColumns();
            else BuildShellColumns();
        });
    } catch (...) {
        buildingColumns_ = wasBuilding;
        throw;
    }
    buildingColumns_ = wasBuilding;
    // The header and the scroll bars are drawn in the frame, which a change of
    // both at once otherwise leaves unpainted.
    ::RedrawWindow(Handle(), nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE);
}

void TCustomLazyExplorerTree::BuildLETColumns() {
    TLazyTreeColumns& columns = Header().Columns();
    const TLETColumnDetails shown[] = {cdFileName, cdSize, cdType, cdModified, cdAttributes};
    const TLETColumnDetails hidden[] = {cdAccessed, cdCreated, cdDOSName, cdPath};
    for (TLETColumnDetails kind : shown) static_cast<TLETColumn*>(columns.Add())->SetColumnDetails(kind);
    for (TLETColumnDetails kind : hidden) {
        auto* column = static_cast<TLETColumn*>(columns.Add());
        column->SetColumnDetails(kind);
        column->SetOptions(column->Options() - coVisible);
    }
    if (TreeOptions().LETShellOptions().Contains(toRightAlignSizeColumn)) columns[1].SetAlignment(taRightJustify);
    DoAddCustomShellColumn(columns.Count());
}

void TCustomLazyExplorerTree::BuildShellColumns() {
    TNamespace* folder = ColumnFolder();
    if (!folder) return;
    TLazyTreeColumns& columns = Header().Columns();
    std::vector<TFolderColumn> offered = FolderDetailsColumns(folder);
    bool rightAlign = TreeOptions().LETShellOptions().Contains(toRightAlignSizeColumn) && folder->FileSystem();
    for (size_t i = 0; i < offered.size(); ++i) {
        auto* column = static_cast<TLETColumn*>(columns.Add());
        column->SetColumnDetails(cdCustom);
        column->SetText(offered[i].Title);
        column->SetWidth(ShellColumnWidth(folder, int(i)));
        if (i == 1 && rightAlign) column->SetAlignment(taRightJustify);
        if (!(offered[i].State & 8)) column->SetOptions(column->Options() - coVisible);
    }
    shellColumnCount_ = columns.Count();
    DoAddCustomShellColumn(columns.Count());
    RestoreColumnState();
}

void TCustomLazyExplorerTree::DoAddCustomShellColumn(TColumnIndex firstAvailableIndex) {
    if (OnAddCustomShellColumn) OnAddCustomShellColumn(this, firstAvailableIndex);
}

// ---- the tree: column state per folder ------------------------------------------------------------

bool TCustomLazyExplorerTree::PersistentColumns() {
    TNamespace* folder = ColumnFolder();
    return LETMiscOption(toPersistentColumns) && columnDetails_ == cdShellColumns && Header().Columns().Count() > 0 &&
           folder && folder->Folder() && GetStorage();
}

void TCustomLazyExplorerTree::StoreColumnState() {
    if (!PersistentColumns()) return;
    TNodeStorage* record = GetStorage()->Store(ColumnFolder()->AbsolutePIDL(), skColumns);
    if (!record) return;
    TLazyTreeColumns& columns = Header().Columns();
    TColumnStorage& stored = record->Storage.Column;
    size_t count = size_t(columns.Count());
    stored.Width.assign(count, 0);
    stored.Position.assign(count, 0);
    stored.Visible.assign(count, 0);
    for (size_t i = 0; i < count; ++i) {
        TLazyTreeColumn& c = columns[TColumnIndex(i)];
        stored.Width[i] = uint16_t(std::clamp(c.Width(), 0, 0xFFFF));
        stored.Position[i] = uint16_t(c.Position());
        stored.Visible[i] = c.Visible() ? 1 : 0;
    }
}

void TCustomLazyExplorerTree::RestoreColumnState() {
    if (!PersistentColumns()) return;
    LPCITEMIDLIST pidl = ColumnFolder()->AbsolutePIDL();
    TNodeStorage* record = GetStorage()->FindWithKinds(pidl, skColumns);
    if (!record) return;
    TLazyTreeColumns& columns = Header().Columns();
    const TColumnStorage& stored = record->Storage.Column;
    size_t count = size_t(columns.Count());
    // Positions must name each column once, or the header would lose one.
    std::vector<uint16_t> order(stored.Position);
    std::sort(order.begin(), order.end());
    bool permutation = order.size() == count;
    for (size_t i = 0; permutation && i < count; ++i) permutation = order[i] == i;
    if (stored.Width.size() != count || stored.Visible.size() != count || !permutation) {
        GetStorage()->Remove(pidl, skColumns, false, false);
        return;
    }
    bool wasBuilding = std::exchange(buildingColumns_, true);
    try {
        InUpdate(columns, [&] {
            for (size_t i = 0; i < count; ++i) {
                TLazyTreeColumn& c = columns[TColumnIndex(i)];
                c.SetWidth(stored.Width[i]);
                TLTColumnOptions options = c.Options();
                if (stored.Visible[i]) options += coVisible;
                else options -= coVisible;
                c.SetOptions(options);
            }
            // Lowest position first, so each placement leaves the earlier ones alone.
            for (TColumnPosition p = 0; p < count; ++p)
                for (size_t i = 0; i < count; ++i)
                    if (stored.Position[i] == p) columns[TColumnIndex(i)].SetPosition(p);
        });
    } catch (...) {
        buildingColumns_ = wasBuilding;
        throw;
    }
    buildingColumns_ = wasBuilding;
}

// ---- the tree: header clicks -----------------------------------------------------------------------

void TCustomLazyExplorerTree::DoHeaderClick(TColumnIndex column, TMouseButton button, TShiftState shift, int x,
                                            int y) {
    TCustomLazyStringTree::DoHeaderClick(column, button, shift, x, y);
    if (button == mbRight || !Header().Columns().IsColumnIndexValid(column)) return;
    TWaitCursorScope wait(*this);
    if (shift & (ssCtrl | ssShift)) {
        PLazyNode top = GetFirst();
        TColumnManager* manager = ColumnManagerOf(top);
        if (!manager) return;
        if (shift & ssCtrl) manager->ToggleWidthAutoFit(column);
        else manager->ToggleWidthMinimize(column);
        return;
    }
    TSortDirection direction = Header().SortDirection();
    if (column == Header().SortColumn()) {
        direction = direction == sdAscending ? sdDescending : sdAscending;
        Header().SetSortDirection(direction);
    } else {
        Header().SetSortColumn(column);
    }
    SortTree(column, direction, false);
}

void TCustomLazyExplorerTree::DoHeaderMouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    TCustomLazyStringTree::DoHeaderMouseUp(button, shift, x, y);
    if (button != mbRight || (Header().States() & hsDragging) ||
        !TreeOptions().LETShellOptions().Contains(toShellColumnMenu))
        return;
    POINT screen;
    ::GetCursorPos(&screen);
    ShowColumnMenu(screen);
}

void TCustomLazyExplorerTree::ShowColumnMenu(POINT screen) {
    TColumnMenu menu(this);
    menu.Popup(screen);
}

void TCustomLazyExplorerTree::ShowColumnSettings() {
    TFormColumnSettings form(this);
    form.Execute();
}

void TCustomLazyExplorerTree::DoColumnResize(TColumnIndex column) {
    TCustomLazyStringTree::DoColumnResize(column);
    if (!buildingColumns_) StoreColumnState();
}

void TCustomLazyExplorerTree::DoHeaderDragged(TColumnIndex column, TColumnPosition oldPosition) {
    TCustomLazyStringTree::DoHeaderDragged(column, oldPosition);
    if (!buildingColumns_) StoreColumnState();
}

} // namespace krv
