// Sorting and detail columns of the explorer tree over a scratch folder: the
// shell's own order, folders first in the size column, shell column titles,
// the column state kept per folder, the width toggles, the header menu and
// the column-settings dialog.
#include "CountingFolder.h"
#include "ShellTestUtil.h"
#include "shell/explorer/ColumnSettingsForm.h"
#include "shell/explorer/LazyCheckStorage.h"
#include "shell/explorer/LazyExplorerTree.h"
#include "shell/base/ShellUtils.h"
#include "shell/base/WideFileUtils.h"
#include "shell/base/WideStrUtils.h"
#include "framework/Forms.h"
#include "framework/Stream.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <random>
#include <memory>
#include <string>
#include <vector>

using namespace krv;
using shelltest::MakeDir;
using shelltest::TempFolder;
using shelltest::TSeamFolder;
using shelltest::WriteFileBytes;

namespace {

class TColumnsTree : public TLazyExplorerTree {
public:
    using TLazyExplorerTree::TLazyExplorerTree;
    using TLazyExplorerTree::DoHeaderClick;
    using TLazyExplorerTree::DoCompareNodes;
    using TLazyExplorerTree::DoEditing;
    // When set, the columns are those of this folder instead of the root's.
    TNamespace* FolderOverride = nullptr;
    TNamespace* ColumnFolder() const override {
        return FolderOverride ? FolderOverride : TLazyExplorerTree::ColumnFolder();
    }
    // The menu is modal: a test only counts that it would show.
    int MenusShown = 0;
    void ShowColumnMenu(POINT) override { ++MenusShown; }
    // A header press and release at a client point above the rows.
    void HeaderClick(UINT down, UINT up, POINT p) {
        ::ClientToScreen(Handle(), &p);
        ::SendMessageW(Handle(), down, HTBORDER, MAKELPARAM(p.x, p.y));
        ::SendMessageW(Handle(), up, HTBORDER, MAKELPARAM(p.x, p.y));
    }
};

class ExplorerColumns : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartShellUtilities(); }
    static void TearDownTestSuite() { StopShellUtilities(); }
    TempFolder tmp{L"columns-" + AnsiToWide(::testing::UnitTest::GetInstance()->current_test_info()->name())};
    std::unique_ptr<TColumnsTree> tree;

    void SetUp() override {
        for (auto name : {L"Folder B", L"folder a", L"10"}) MakeDir(tmp / name);
        WriteFileBytes(tmp / L"b.txt", std::string(10, 'b'));
        WriteFileBytes(tmp / L"a.txt", std::string(10, 'a'));
        WriteFileBytes(tmp / L"z.dat", std::string(5, 'z'));
        WriteFileBytes(tmp / L"big.bin", std::string(3000, 'x'));
        WriteFileBytes(tmp / L"9.txt", std::string(1, '9'));
        tree = std::make_unique<TColumnsTree>();
        auto& o = tree->TreeOptions();
        o.SetLETImageOptions({});
        o.SetLETFolderOptions({toFoldersExpandable, toHideRootFolder});
        tree->SetFileObjects({foFolders, foNonFolders});
        tree->SetParent(&shelltest::ShownForm());
        tree->SetBounds(0, 0, 600, 300);
        tree->HandleNeeded();
        tree->SetRootFolderCustomPath(tmp.Path());
        tree->SetActive(true);
    }

    std::vector<std::wstring> Order() {
        std::vector<std::wstring> names;
        for (PLazyNode run = tree->GetFirstChild(nullptr); run; run = tree->GetNextSibling(run))
            names.push_back(Ns(run)->NameForParsingInFolder());
        return names;
    }
    TNamespace* Ns(PLazyNode node) {
        TNamespace* ns = nullptr;
        tree->ValidateNamespace(node, ns);
        return ns;
    }
    TLazyTreeColumns& Columns() { return tree->Header().Columns(); }
};

TEST_F(ExplorerColumns, WithoutColumnsSiblingsComeInTheFoldersOwnOrderWhateverFileSort) {
    ComPtr<IShellFolder> folder = shelltest::BindFolder(tmp.Path());
    std::vector<PLazyNode> nodes;
    for (PLazyNode run = tree->GetFirstChild(nullptr); run; run = tree->GetNextSibling(run)) nodes.push_back(run);
    ASSERT_EQ(nodes.size(), 8u);
    // Every pair, not only neighbours: the folder's answer is the order.
    for (size_t i = 0; i < nodes.size(); ++i)
        for (size_t j = i + 1; j < nodes.size(); ++j) {
            HRESULT hr = folder->CompareIDs(0, Ns(nodes[i])->RelativePIDL(), Ns(nodes[j])->RelativePIDL());
            ASSERT_TRUE(SUCCEEDED(hr));
            EXPECT_LT(short(HRESULT_CODE(hr)), 0) << i << " " << j;
        }
    std::vector<std::wstring> before = Order();
    tree->SetFileSort(fsFileExtension);
    tree->SortTree(ColumnNone, sdAscending, false);
    EXPECT_EQ(Order(), before);
}

TEST_F(ExplorerColumns, ShellComparisonsReadASigned16BitCodeAndAFailureIsNeverEqual) {
    auto options = std::make_shared<shelltest::TFolderOptions>();
    options->ScriptedCompare = true;
    TSeamFolder a(tmp / L"a.txt", options), b(tmp / L"b.txt", options);
    TShellSortHelper sort;
    const struct {
        HRESULT Answer;
        int Column, Expected;
    } table[] = {
        {HRESULT(0x0000FFFF), 0, -1},   // -1 in the low word, not 65535
        {HRESULT(0x00008000), 0, -1},
        {HRESULT(0x00007FFF), 0, 1},
        {HRESULT(0x0001FFFF), 0, -1},   // a facility does not change the order
        {HRESULT(0x00000001), 0, 1},
        {S_OK, 0, 0},
        {S_OK, 1, -1},                  // a detail column's tie goes to the names
    };
    for (const auto& row : table) {
        options->CompareResult = row.Answer;
        EXPECT_EQ(sort.CompareIDSort(row.Column, &a, &b), row.Expected) << std::hex << row.Answer;
    }
    // A comparison the folder refuses still orders the two, the same both ways round.
    options->CompareResult = E_FAIL;
    int forward = sort.CompareIDSort(0, &a, &b);
    EXPECT_NE(forward, 0);
    EXPECT_EQ(sort.CompareIDSort(0, &b, &a), -forward);
    EXPECT_EQ(sort.CompareIDSort(0, &a, &a), 0);
}

TEST_F(ExplorerColumns, SizeColumnPutsFoldersFirstAndEqualSizesFallBackToTheShellsNameOrder) {
    tree->SetColumnDetails(cdLETColumns);
    ASSERT_EQ(Columns().Count(), 9);
    ASSERT_EQ(static_cast<TLETColumn&>(Columns()[1]).ColumnDetails(), cdSize);
    tree->DoHeaderClick(1, mbLeft, 0, 10, 5);
    EXPECT_EQ(tree->Header().SortColumn(), 1);
    std::vector<std::wstring> order = Order();
    ASSERT_EQ(order.size(), 8u);
    for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(DirExistsW(tmp / order[i])) << WideToAnsi(order[i]);
    std::vector<std::wstring> files(order.begin() + 3, order.end());
    EXPECT_EQ(files, (std::vector<std::wstring>{L"9.txt", L"z.dat", L"a.txt", L"b.txt", L"big.bin"}));
    // The same column again turns the order round.
    tree->DoHeaderClick(1, mbLeft, 0, 10, 5);
    EXPECT_EQ(tree->Header().SortDirection(), sdDescending);
    EXPECT_EQ(Order().front(), L"big.bin");
    EXPECT_TRUE(DirExistsW(tmp / Order().back()));
    // Texts follow the column kinds.
    PLazyNode big = tree->GetFirstChild(nullptr);
    EXPECT_EQ(tree->Text(big, 0), L"big.bin");
    EXPECT_EQ(tree->Text(big, 1), Ns(big)->SizeOfFileKB());
    EXPECT_EQ(tree->Text(big, 4), Ns(big)->AttributesString());
    EXPECT_EQ(Columns()[6].Text(), L"Created");
    EXPECT_FALSE(Columns()[6].Visible());
}

TEST_F(ExplorerColumns, ShellColumnTitlesAreTheFoldersOwnAndTheirTextsTheShellsDetails) {
    tree->SetColumnDetails(cdShellColumns);
    ComPtr<IShellFolder> folder = shelltest::BindFolder(tmp.Path());
    ComPtr<IShellFolder2> folder2;
    ASSERT_TRUE(SUCCEEDED(folder->QueryInterface(IID_IShellFolder2, folder2.put_void())));
    int count = 0;
    for (;; ++count) {
        SHELLDETAILS details{};
        if (FAILED(folder2->GetDetailsOf(nullptr, UINT(count), &details))) break;
        ASSERT_LT(count, Columns().Count());
        EXPECT_EQ(Columns()[count].Text(), StrRetToStr(details.str, nullptr)) << count;
        SHCOLSTATEF state = 0;
        folder2->GetDefaultColumnState(UINT(count), &state);
        EXPECT_EQ(Columns()[count].Visible(), (state & SHCOLSTATE_ONBYDEFAULT) != 0) << count;
    }
    EXPECT_EQ(count, Columns().Count());
    EXPECT_TRUE(tree->Header().Options().Contains(hoVisible));
    PLazyNode first = tree->GetFirstChild(nullptr);
    for (int c = 1; c < count; ++c) EXPECT_EQ(tree->Text(first, c), Ns(first)->DetailsOf(c)) << c;
    // The size column of a file-system folder keeps folders first as well,
    // whatever type the shell gives the column.
    tree->DoHeaderClick(1, mbLeft, 0, 10, 5);
    std::vector<std::wstring> order = Order();
    ASSERT_EQ(order.size(), 8u);
    for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(DirExistsW(tmp / order[i])) << WideToAnsi(order[i]);
    EXPECT_EQ(std::vector<std::wstring>(order.begin() + 3, order.end()),
              (std::vector<std::wstring>{L"9.txt", L"z.dat", L"a.txt", L"b.txt", L"big.bin"}));
    // Another column is the folder's own comparison for it.
    tree->DoHeaderClick(4, mbLeft, 0, 10, 5);
    std::vector<PLazyNode> rows;
    for (PLazyNode run = tree->GetFirstChild(nullptr); run; run = tree->GetNextSibling(run)) rows.push_back(run);
    for (size_t i = 0; i + 1 < rows.size(); ++i) {
        HRESULT hr = folder->CompareIDs(4, Ns(rows[i])->RelativePIDL(), Ns(rows[i + 1])->RelativePIDL());
        EXPECT_LE(short(HRESULT_CODE(hr)), 0) << i;
    }
    // Back to no columns: the header goes.
    tree->SetColumnDetails(cdUser);
    EXPECT_EQ(Columns().Count(), 0);
    EXPECT_FALSE(tree->Header().Options().Contains(hoVisible));
}

// The shell of these machines has no folder with IShellDetails alone.
TEST_F(ExplorerColumns, AFolderWithOnlyIShellDetailsGivesItsColumns) {
    auto options = std::make_shared<shelltest::TFolderOptions>();
    options->ShellDetails = true;
    options->HideFolder2 = true;
    options->DetailColumns = 4;
    TSeamFolder folder(tmp.Path(), options);
    tree->FolderOverride = &folder;
    tree->SetColumnDetails(cdShellColumns);
    ASSERT_EQ(Columns().Count(), 4);
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(Columns()[c].Text(), L"title " + std::to_wstring(c));
        EXPECT_TRUE(Columns()[c].Visible());
    }
    tree->FolderOverride = nullptr;
}

TEST_F(ExplorerColumns, ColumnStateIsKeptPerFolderAndAStateOfAnotherColumnCountIsDiscarded) {
    tree->TreeOptions().SetLETMiscOptions(tree->TreeOptions().LETMiscOptions() + toPersistentColumns);
    tree->SetColumnDetails(cdShellColumns);
    int count = Columns().Count();
    ASSERT_GE(count, 4);
    int defaultWidth = Columns()[1].Width();
    Columns()[1].SetWidth(33);                 // a resize stores the state
    Columns()[0].SetPosition(2);
    tree->StoreColumnState();
    Columns()[3].SetOptions(Columns()[3].Options() - coVisible);
    tree->StoreColumnState();
    TRootNodeStorage* storage = tree->GetStorage();
    LPCITEMIDLIST pidl = tree->ColumnFolder()->AbsolutePIDL();
    TNodeStorage* record = storage->FindWithKinds(pidl, skColumns);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->Storage.Column.Width.size(), size_t(count));
    EXPECT_EQ(record->Storage.Column.Width[1], 33);

    // Built again (as a new folder's columns would be): the stored state comes back.
    tree->SetColumnDetails(cdLETColumns);
    tree->SetColumnDetails(cdShellColumns);
    EXPECT_EQ(Columns()[1].Width(), 33);
    EXPECT_EQ(Columns()[0].Position(), 2u);
    EXPECT_FALSE(Columns()[3].Visible());

    // A state written for another column count is dropped, not half applied.
    record = storage->FindWithKinds(pidl, skColumns);
    ASSERT_NE(record, nullptr);
    record->Storage.Column.Width.push_back(50);
    record->Storage.Column.Position.push_back(uint16_t(count));
    record->Storage.Column.Visible.push_back(1);
    tree->SetColumnDetails(cdLETColumns);
    tree->SetColumnDetails(cdShellColumns);
    EXPECT_EQ(Columns()[1].Width(), defaultWidth);
    EXPECT_EQ(Columns()[0].Position(), 0u);
    EXPECT_EQ(storage->FindWithKinds(pidl, skColumns), nullptr);

    // Positions that do not name each column once are dropped as well.
    tree->StoreColumnState();
    record = storage->FindWithKinds(pidl, skColumns);
    ASSERT_NE(record, nullptr);
    record->Storage.Column.Position[0] = record->Storage.Column.Position[1];
    tree->SetColumnDetails(cdLETColumns);
    tree->SetColumnDetails(cdShellColumns);
    EXPECT_EQ(storage->FindWithKinds(pidl, skColumns), nullptr);
}

// Stored states come from saved streams: any arrays either apply whole or go.
TEST_F(ExplorerColumns, MutatedColumnStatesApplyWholeOrAreDropped) {
    tree->TreeOptions().SetLETMiscOptions(tree->TreeOptions().LETMiscOptions() + toPersistentColumns);
    tree->SetColumnDetails(cdShellColumns);
    const size_t count = size_t(Columns().Count());
    TRootNodeStorage* storage = tree->GetStorage();
    LPCITEMIDLIST pidl = tree->ColumnFolder()->AbsolutePIDL();
    std::mt19937 rng(28);
    int applied = 0, dropped = 0;
    for (int round = 0; round < 300; ++round) {
        TColumnStorage& stored = storage->Store(pidl, skColumns)->Storage.Column;
        auto length = [&] { return rng() % 4 == 0 ? count - 1 + rng() % 3 : count; };
        stored.Width.resize(length());
        stored.Position.resize(length());
        stored.Visible.resize(length());
        for (auto& w : stored.Width) w = uint16_t(rng() % 400);
        for (size_t i = 0; i < stored.Position.size(); ++i) stored.Position[i] = uint16_t(i);
        if (rng() % 2) std::shuffle(stored.Position.begin(), stored.Position.end(), rng);
        if (rng() % 4 == 0 && !stored.Position.empty()) stored.Position[rng() % stored.Position.size()] = uint16_t(rng());
        for (auto& v : stored.Visible) v = uint8_t(rng() % 2);
        const TColumnStorage expected = stored;
        tree->RestoreColumnState();
        std::vector<bool> seen(count);
        for (size_t c = 0; c < count; ++c) {
            TColumnPosition p = Columns()[TColumnIndex(c)].Position();
            ASSERT_LT(p, count);
            EXPECT_FALSE(seen[p]) << "two columns at " << p;
            seen[p] = true;
        }
        if (!storage->FindWithKinds(pidl, skColumns)) {
            ++dropped;
            continue;
        }
        ++applied;
        for (size_t c = 0; c < count; ++c) {
            EXPECT_EQ(Columns()[TColumnIndex(c)].Width(), expected.Width[c]);
            EXPECT_EQ(Columns()[TColumnIndex(c)].Position(), expected.Position[c]);
            EXPECT_EQ(Columns()[TColumnIndex(c)].Visible(), expected.Visible[c] != 0);
        }
    }
    EXPECT_GT(applied, 50);
    EXPECT_GT(dropped, 50);
}

TEST_F(ExplorerColumns, HeaderTogglesHideAndFitAndGiveTheWidthBack) {
    tree->SetColumnDetails(cdLETColumns);
    int width = Columns()[2].Width();
    // The top node is an enumerated child here: its manager is made by the first toggle.
    tree->DoHeaderClick(2, mbLeft, ssShift, 10, 5);
    EXPECT_EQ(Columns()[2].Width(), 0);
    TColumnManager* manager = tree->GetNodeData(tree->GetFirst())->ColumnManager;
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(manager, tree->ColumnManagerOf(tree->GetFirst()));
    EXPECT_EQ(manager->State(2), TColumnManager::csHidden);
    tree->DoHeaderClick(2, mbLeft, ssShift, 10, 5);
    EXPECT_EQ(Columns()[2].Width(), width);
    EXPECT_EQ(manager->State(2), TColumnManager::csNormal);

    tree->DoHeaderClick(2, mbLeft, ssCtrl, 10, 5);
    EXPECT_EQ(Columns()[2].Width(), tree->GetMaxColumnWidth(2));
    EXPECT_NE(Columns()[2].Width(), width);
    tree->DoHeaderClick(2, mbLeft, ssCtrl, 10, 5);
    EXPECT_EQ(Columns()[2].Width(), width);
    // Neither toggle is a sort, nor is a right click.
    EXPECT_EQ(tree->Header().SortColumn(), ColumnNone);
    tree->DoHeaderClick(2, mbRight, 0, 10, 5);
    EXPECT_EQ(tree->Header().SortColumn(), ColumnNone);
    // A column the manager never saw (added later) is grown into.
    Columns().Add();
    manager->ToggleWidthMinimize(9);
    EXPECT_EQ(Columns()[9].Width(), 0);
}

TEST_F(ExplorerColumns, HeaderClicksByTheMouseSortAndARightReleaseAsksForTheMenu) {
    tree->SetColumnDetails(cdLETColumns);
    int size = Columns()[0].Width() + 20;   // inside the size column
    tree->HeaderClick(WM_NCLBUTTONDOWN, WM_NCLBUTTONUP, {size, -8});
    EXPECT_EQ(tree->Header().SortColumn(), 1);
    EXPECT_EQ(tree->Header().SortDirection(), sdAscending);
    EXPECT_EQ(Order().back(), L"big.bin");
    tree->HeaderClick(WM_NCLBUTTONDOWN, WM_NCLBUTTONUP, {size, -8});
    EXPECT_EQ(tree->Header().SortDirection(), sdDescending);
    EXPECT_EQ(Order().front(), L"big.bin");
    // The name column sorts in the direction already chosen.
    tree->HeaderClick(WM_NCLBUTTONDOWN, WM_NCLBUTTONUP, {10, -8});
    EXPECT_EQ(tree->Header().SortColumn(), 0);
    EXPECT_EQ(tree->Header().SortDirection(), sdDescending);

    tree->HeaderClick(WM_NCRBUTTONDOWN, WM_NCRBUTTONUP, {size, -8});
    EXPECT_EQ(tree->MenusShown, 0);   // not without toShellColumnMenu
    EXPECT_EQ(tree->Header().SortColumn(), 0);
    tree->TreeOptions().SetLETShellOptions({toShellColumnMenu});
    tree->HeaderClick(WM_NCRBUTTONDOWN, WM_NCRBUTTONUP, {size, -8});
    EXPECT_EQ(tree->MenusShown, 1);
}

TEST_F(ExplorerColumns, ColumnMenuListsEveryColumnAndTogglesItsVisibility) {
    tree->SetColumnDetails(cdLETColumns);
    TColumnMenu menu(tree.get());
    const auto& items = menu.Populate();
    ASSERT_EQ(items.size(), size_t(Columns().Count()) + 2);
    EXPECT_EQ(items[0].Caption, L"Name");
    EXPECT_TRUE(items[0].Checked);
    EXPECT_FALSE(items[5].Checked);   // "Accessed" is not shown at first
    EXPECT_EQ(items[items.size() - 2].Caption, L"-");
    EXPECT_EQ(items.back().Caption, L"More ...");
    menu.Click(5);
    EXPECT_TRUE(Columns()[5].Visible());
    menu.Click(0);
    EXPECT_FALSE(Columns()[0].Visible());
    menu.Click(items.size() - 2);   // the separator does nothing
    EXPECT_TRUE(Columns()[5].Visible());
}

TEST_F(ExplorerColumns, SettingsDialogEditsWidthsVisibilityAndOrder) {
    tree->SetColumnDetails(cdLETColumns);
    TFormColumnSettings form(tree.get());
    EXPECT_EQ(form.Caption(), "Column Settings");
    TLazyStringTree& list = *form.LSTColumnNames;
    ASSERT_EQ(list.RootNodeCount(), 9u);
    PLazyNode first = list.GetFirst();
    EXPECT_EQ(list.Text(first, ColumnNone), L"Name");
    EXPECT_EQ(list.CheckState(first), csCheckedNormal);
    EXPECT_EQ(list.CheckState(list.GetNextSibling(list.GetNextSibling(list.GetNextSibling(
                  list.GetNextSibling(list.GetNextSibling(first)))))),
              csUncheckedNormal);

    // Only digits, backspace and Enter reach the edit.
    for (char key : {'7', '\b', '\r', 'a', '-', ' '}) {
        char k = key;
        form.WidthKeyPress(k);
        EXPECT_EQ(k, (key >= '0' && key <= '9') || key == '\b' ? key : 0) << int(key);
    }
    // Focus shows a node's width; moving on stores the edited one.
    PLazyNode type = list.GetNextSibling(list.GetNextSibling(first));
    list.SetFocusedNode(type);
    EXPECT_EQ(form.EditPixelWidth->Text(), "120");
    form.EditPixelWidth->SetText("77");
    list.SetFocusedNode(first);
    EXPECT_EQ(form.EntryOf(type).Width, 77);
    EXPECT_EQ(Columns()[2].Width(), 120);   // not live: nothing applied yet

    list.SetCheckState(type, csUncheckedNormal);
    EXPECT_FALSE(form.EntryOf(type).Visible);
    form.MoveNode(type, first, false);
    form.ApplyToTree();
    EXPECT_EQ(Columns()[2].Width(), 77);
    EXPECT_FALSE(Columns()[2].Visible());
    EXPECT_EQ(Columns()[2].Position(), 0u);
    EXPECT_EQ(Columns()[0].Position(), 1u);

    // Live update applies each change at once.
    form.CheckBoxLiveUpdate->SetChecked(true);
    list.SetCheckState(type, csCheckedNormal);
    EXPECT_TRUE(Columns()[2].Visible());
}

TEST_F(ExplorerColumns, SettingsDialogRowsAreReorderedByDraggingWithinTheList) {
    tree->SetColumnDetails(cdLETColumns);
    TFormColumnSettings form(tree.get());
    form.CheckBoxLiveUpdate->SetChecked(true);
    ::ShowWindow(form.Handle(), SW_SHOWNA);
    TLazyStringTree& list = *form.LSTColumnNames;
    list.Update();
    auto titles = [&] {
        std::vector<std::wstring> t;
        for (const auto& e : form.Entries()) t.push_back(e.Title);
        return std::vector<std::wstring>(t.begin(), t.begin() + 3);
    };
    auto at = [&](PLazyNode n, bool lower) {
        RECT r = list.GetDisplayRect(n, ColumnNone, false);
        POINT p{r.right - 4, lower ? r.bottom - 2 : r.top + 1};
        ::ClientToScreen(list.Handle(), &p);
        return POINTL{p.x, p.y};
    };
    IDropTarget* target = list.DragManager()->DropTarget();
    // Drags a row onto another's upper or lower half; answers the drop's effect.
    auto drag = [&](IDataObject* data, PLazyNode over, bool lower) {
        DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
        EXPECT_EQ(S_OK, target->DragEnter(data, MK_LBUTTON, at(over, lower), &effect));
        effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
        EXPECT_EQ(S_OK, target->DragOver(MK_LBUTTON, at(over, lower), &effect));
        DWORD offered = effect;
        if (offered == DROPEFFECT_NONE) target->DragLeave();
        else EXPECT_EQ(S_OK, target->Drop(data, MK_LBUTTON, at(over, lower), &effect));
        return std::make_pair(offered, effect);
    };
    PLazyNode name = list.GetFirst(), size = list.GetNextSibling(name), type = list.GetNextSibling(size);
    ASSERT_EQ(titles(), (std::vector<std::wstring>{L"Name", L"Size", L"Type"}));

    list.SetSelected(name, true);
    ComPtr<IDataObject> data = list.DragManager()->DataObjectForDrag();
    auto [offered, done] = drag(data.get(), type, true);
    EXPECT_EQ(offered, DWORD(DROPEFFECT_MOVE));
    EXPECT_EQ(done, DWORD(DROPEFFECT_NONE)) << "moved in place: the rows must not be deleted by the source";
    EXPECT_EQ(titles(), (std::vector<std::wstring>{L"Size", L"Type", L"Name"}));
    EXPECT_EQ(Columns()[0].Position(), 2u) << "live update applies the new order";

    list.ClearSelection();
    list.SetSelected(type, true);
    data = list.DragManager()->DataObjectForDrag();
    drag(data.get(), size, false);
    EXPECT_EQ(titles(), (std::vector<std::wstring>{L"Type", L"Size", L"Name"}));
    EXPECT_EQ(list.RootNodeCount(), 9u);

    // Rows of another tree are not taken.
    TLazyStringTree other;
    other.SetRootNodeCount(1);
    other.HandleNeeded();
    other.SetSelected(other.GetFirst(), true);
    data = other.DragManager()->DataObjectForDrag();
    EXPECT_EQ(drag(data.get(), name, true).first, DWORD(DROPEFFECT_NONE));
    EXPECT_EQ(titles(), (std::vector<std::wstring>{L"Type", L"Size", L"Name"}));
    EXPECT_EQ(list.RootNodeCount(), 9u);
}

TEST_F(ExplorerColumns, ANewColumnIsANameColumnAndCustomColumnsPastTheOwnOnesAreEditable) {
    auto* added = static_cast<TLETColumn*>(Columns().Add());
    EXPECT_EQ(added->ColumnDetails(), cdFileName);
    EXPECT_EQ(added->Width(), 200);
    Columns().Clear();

    tree->OnAddCustomShellColumn = [](TCustomLazyExplorerTree* t, TColumnIndex) {
        static_cast<TLETColumn*>(t->Header().Columns().Add())->SetColumnDetails(cdCustom);
    };
    for (TColumnDetails kind : {cdLETColumns, cdShellColumns}) {
        tree->SetColumnDetails(kind);
        const TColumnIndex custom = Columns().Count() - 1;
        ASSERT_GE(custom, 4) << kind;
        PLazyNode row = tree->GetFirst();
        EXPECT_TRUE(tree->DoEditing(row, 0, true)) << "the name, kind " << kind;
        EXPECT_TRUE(tree->DoEditing(row, custom, true)) << "the custom column, kind " << kind;
        EXPECT_FALSE(tree->DoEditing(row, 1, true)) << "a detail, kind " << kind;
        EXPECT_FALSE(tree->DoEditing(row, custom, false)) << "a veto stays, kind " << kind;
    }
}

TEST_F(ExplorerColumns, AHeaderStreamKeepsNoShellColumnsAndLoadingOneGivesTheFoldersColumns) {
    auto streamedCount = [](TMemoryStream& s) {
        s.SetPosition(8);   // after the marker and the version
        return s.ReadValue<int32_t>();
    };
    tree->SetColumnDetails(cdLETColumns);
    TMemoryStream own;
    tree->Header().SaveToStream(own);
    EXPECT_EQ(streamedCount(own), 9);

    tree->SetColumnDetails(cdShellColumns);
    std::vector<std::wstring> titles;
    for (TColumnIndex c = 0; c < Columns().Count(); ++c) titles.push_back(Columns()[c].Text());
    TMemoryStream shell;
    tree->Header().SaveToStream(shell);
    EXPECT_EQ(streamedCount(shell), 0);

    own.SetPosition(0);
    tree->Header().LoadFromStream(own);
    std::vector<std::wstring> loaded;
    for (TColumnIndex c = 0; c < Columns().Count(); ++c) loaded.push_back(Columns()[c].Text());
    EXPECT_EQ(loaded, titles) << "the folder's columns, not the streamed ones";
}

TEST_F(ExplorerColumns, AssignTakesTheColoursAndBuildsTheColumns) {
    tree->SetColumnDetails(cdLETColumns);
    tree->LETColors().SetCompressedTextColor(clRed);
    tree->LETColors().SetFolderTextColor(clGreen);
    tree->LETColors().SetFileTextColor(clNavy);
    TColumnsTree copy;
    copy.SetParent(&shelltest::ShownForm());
    copy.SetBounds(0, 0, 300, 200);
    copy.HandleNeeded();
    copy.Assign(*tree);
    EXPECT_EQ(copy.LETColors().CompressedTextColor(), clRed);
    EXPECT_EQ(copy.LETColors().FolderTextColor(), clGreen);
    EXPECT_EQ(copy.LETColors().FileTextColor(), clNavy);
    ASSERT_EQ(copy.Header().Columns().Count(), 9);
    EXPECT_EQ(static_cast<TLETColumn&>(copy.Header().Columns()[1]).ColumnDetails(), cdSize);
    EXPECT_TRUE(copy.Header().Options().Contains(hoVisible));
}

// The shell of these machines calls every column text: the folder's column
// states are scripted here.
TEST_F(ExplorerColumns, ShellColumnsSortByTheKindOfValueTheFolderGivesEachColumn) {
    tree->SetColumnDetails(cdShellColumns);
    tree->SetFileSort(fsFileExtension);
    // a.txt: larger and older than z.dat, and first by name and by type.
    auto stamp = [](const std::wstring& path, WORD year) {
        SYSTEMTIME st{year, 1, 0, 1, 12, 0, 0, 0};
        FILETIME ft;
        ::SystemTimeToFileTime(&st, &ft);
        FileHandle f(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(f);
        ASSERT_TRUE(::SetFileTime(f.get(), &ft, &ft, &ft));
    };
    stamp(tmp / L"a.txt", 2001);
    stamp(tmp / L"z.dat", 2011);
    auto options = std::make_shared<shelltest::TFolderOptions>();
    TSeamFolder folder(tmp.Path(), options);
    auto child = [&](const wchar_t* name) {
        PIDLPtr absolute(PathToPIDL(tmp / name));
        auto* ns = new TNamespace(PIDLManager()->CopyPIDL(TPIDLManager::GetPointerToLastID(absolute.get())), &folder);
        return tree->AddCustomNode(nullptr, ns, false);
    };
    PLazyNode a = child(L"a.txt"), z = child(L"z.dat");
    ASSERT_GE(Ns(a)->DetailsColumnCount(), 4);
    ASSERT_EQ(Ns(a)->SizeOfFileInt64(), 10);
    ASSERT_EQ(Ns(z)->SizeOfFileInt64(), 5);
    auto sign = [&](TColumnIndex column) {
        int r = tree->DoCompareNodes(a, z, column);
        return (r > 0) - (r < 0);
    };
    const struct {
        SHCOLSTATEF State;
        int Expected;
    } table[] = {
        {SHCOLSTATE_TYPE_INT | SHCOLSTATE_ONBYDEFAULT, 1},    // by size: 10 bytes after 5
        {SHCOLSTATE_TYPE_DATE | SHCOLSTATE_ONBYDEFAULT, -1},  // by time: 2001 before 2011
    };
    for (const auto& row : table) {
        options->ColumnStates = {{2, row.State}};
        EXPECT_EQ(sign(2), row.Expected) << std::hex << row.State;
    }
    // Given as text, the column is the folder's own comparison for it.
    options->ColumnStates = {{2, SHCOLSTATE_TYPE_STR | SHCOLSTATE_ONBYDEFAULT}};
    ComPtr<IShellFolder> real = shelltest::BindFolder(tmp.Path());
    HRESULT hr = real->CompareIDs(2, Ns(a)->RelativePIDL(), Ns(z)->RelativePIDL());
    int shellSign = short(HRESULT_CODE(hr)) > 0 ? 1 : short(HRESULT_CODE(hr)) < 0 ? -1 : -1;   // a tie goes to the names
    EXPECT_EQ(sign(2), shellSign);
    // Wine's text-only states keep size and modified columns of file-system items numeric.
    options->ColumnStates = {{1, SHCOLSTATE_TYPE_STR}, {3, SHCOLSTATE_TYPE_STR}};
    EXPECT_EQ(sign(1), 1);
    EXPECT_EQ(sign(3), -1);
}

} // namespace
