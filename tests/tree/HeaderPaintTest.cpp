// What the header and a tree with columns look like, as golden images
// (themes off), and the header's room in the non-client area.
#include "TreeTestSupport.h"
#include "tree/string/LazyStringTree.h"

namespace krv::test {
namespace {

// A string tree with three columns: name, a right-aligned size, a type.
struct ThreeColumnTree {
    ThreeColumnTree() {
        tree.SetBounds(0, 0, 260, 120);
        auto& o = tree.TreeOptions();
        o.SetPaintOptions(o.PaintOptions() - toThemeAware);
        tree.HandleNeeded();
        TLTHeader& h = tree.Header();
        const wchar_t* captions[] = {L"Name", L"Size", L"Type"};
        const int widths[] = {110, 60, 90};
        for (int i = 0; i < 3; ++i) {
            TLazyTreeColumn* c = h.Columns().Add();
            c->SetText(captions[i]);
            c->SetWidth(widths[i]);
        }
        h.Columns()[1].SetAlignment(taRightJustify);
        h.SetOptions(h.Options() + hoVisible);
        tree.OnGetText = [this](TBaseLazyTree*, PLazyNode node, TColumnIndex column, TLSTTextType, std::wstring& text) {
            text = Cell(node, column);
        };
    }
    std::wstring Cell(PLazyNode node, TColumnIndex column) {
        static const wchar_t* names[] = {L"Documents", L"Pictures of the summer holidays", L"notes.txt"};
        static const wchar_t* sizes[] = {L"", L"", L"12 KB"};
        static const wchar_t* types[] = {L"Folder", L"Folder", L"Text document"};
        unsigned i = node->Index % 3;
        return column == 0 ? names[i] : column == 1 ? sizes[i] : types[i];
    }
    TImage Header(int width) {
        return Capture(width, tree.Header().Height(), [&](HDC dc) {
            tree.Header().Columns().PaintHeader(dc, RECT{0, 0, width, tree.Header().Height()}, 0);
        });
    }
    TLazyStringTree tree;
};

TEST(HeaderGolden, EachStyleWithCaptionsAlignmentAndSortGlyph) {
    ThreeColumnTree t;
    TLTHeader& h = t.tree.Header();
    h.SetSortColumn(1);
    h.SetSortDirection(sdDescending);
    h.Columns()[2].SetText(L"A caption far too long for its column");
    const struct {
        TLTHeaderStyle style;
        const char* golden;
    } styles[] = {{hsThickButtons, "header_thick"}, {hsFlatButtons, "header_flat"}, {hsPlates, "header_plates"},
                  {hsXPStyle, "header_xp_emulated"}};
    for (const auto& s : styles) {
        h.SetStyle(s.style);
        ExpectMatchesGolden(s.golden, t.Header(300));   // 40 pixels of background right of the last column
    }
}

TEST(HeaderGolden, OwnerDrawnElementsAreLeftToTheOwner) {
    ThreeColumnTree t;
    TLTHeader& h = t.tree.Header();
    h.SetStyle(hsFlatButtons);
    h.SetOptions(h.Options() + hoOwnerDraw);
    std::vector<std::wstring> log;
    t.tree.OnHeaderDrawQueryElements = [&](TLTHeader*, THeaderPaintInfo& info, THeaderPaintElements& elements) {
        log.push_back(L"query " + info.Column->Text());
        if (info.Column->Index() == 0) elements = THeaderPaintElements{hpeBackground, hpeText};
    };
    t.tree.OnAdvancedHeaderDraw = [&](TLTHeader*, THeaderPaintInfo& info, THeaderPaintElements elements) {
        log.push_back(L"draw " + info.Column->Text());
        EXPECT_TRUE(elements.Contains(hpeBackground) && elements.Contains(hpeText));
        info.TargetCanvas->Brush.SetColor(clNavy);
        info.TargetCanvas->FillRect(info.PaintRectangle);
    };
    TImage image = t.Header(260);
    EXPECT_EQ(log, (std::vector<std::wstring>{L"query Name", L"draw Name", L"query Size", L"query Type"}));
    EXPECT_EQ(image.Pixels[size_t(8 * 260 + 50)], 0x000080u);    // the owner's navy in the first column
    EXPECT_NE(image.Pixels[size_t(8 * 260 + 150)], 0x000080u);

    // Without the query event the plain owner draw paints whole columns.
    t.tree.OnHeaderDrawQueryElements = nullptr;
    std::vector<TColumnIndex> drawn;
    t.tree.OnHeaderDraw = [&](TLTHeader*, TCanvas&, TLazyTreeColumn& column, RECT, bool, bool, TLTDropMarkMode) {
        drawn.push_back(column.Index());
    };
    t.Header(260);
    EXPECT_EQ(drawn, (std::vector<TColumnIndex>{0, 1, 2}));
    // Without hoOwnerDraw only a column of the owner-draw style is left to the owner.
    h.SetOptions(h.Options() - hoOwnerDraw);
    h.Columns()[1].SetStyle(lsOwnerDraw);
    drawn.clear();
    t.Header(260);
    EXPECT_EQ(drawn, (std::vector<TColumnIndex>{1}));
}

TEST(HeaderGolden, ThreeColumnStringTree) {
    ThreeColumnTree t;
    auto& o = t.tree.TreeOptions();
    o.SetPaintOptions(o.PaintOptions() + toShowVertGridLines + toShowHorzGridLines);
    t.tree.Header().Columns()[2].SetColor(0xE0F0FF);
    t.tree.Header().Columns()[1].SetPosition(2);   // display order: Name, Type, Size
    t.tree.SetRootNodeCount(3);
    t.tree.SetChildCount(t.tree.GetFirst(), 2);
    t.tree.SetExpanded(t.tree.GetFirst(), true);
    int headerHeight = t.tree.Header().Height();
    const int width = 260, height = 110;
    TImage image = Capture(width, headerHeight + height, [&](HDC dc) {
        t.tree.Header().Columns().PaintHeader(dc, RECT{0, 0, width, headerHeight}, 0);
        TCanvas canvas(dc);
        t.tree.PaintTree(canvas, RECT{0, 0, width, height}, POINT{0, headerHeight}, TBaseLazyTree::poAll);
    });
    ExpectMatchesGolden("three_column_string_tree", image);
}

// A long name runs on over the empty size cell of its row, not over a filled one.
TEST(HeaderGolden, ThreeColumnTreeSpansEmptyCells) {
    ThreeColumnTree t;
    auto& o = t.tree.TreeOptions();
    o.SetAutoOptions(o.AutoOptions() + toAutoSpanColumns);
    o.SetPaintOptions(o.PaintOptions() + toShowVertGridLines);
    t.tree.SetRootNodeCount(3);
    const int width = 260, height = 60;
    TImage image = Capture(width, height, [&](HDC dc) {
        TCanvas canvas(dc);
        t.tree.PaintTree(canvas, RECT{0, 0, width, height}, POINT{0, 0}, TBaseLazyTree::poAll);
    });
    ExpectMatchesGolden("three_column_spanning", image);
}

TEST(HeaderWindow, VisibleHeaderTakesItsHeightFromTheClientArea) {
    ThreeColumnTree t;
    TLTHeader& h = t.tree.Header();
    int withHeader = t.tree.ClientHeight();
    h.SetOptions(h.Options() - hoVisible);
    EXPECT_EQ(t.tree.ClientHeight(), withHeader + h.Height());
    h.SetOptions(h.Options() + hoVisible);
    h.SetHeight(30);
    EXPECT_EQ(t.tree.ClientHeight(), withHeader + 17 - 30);
    // The header answers the hit test over it, the tree elsewhere.
    POINT overHeader{20, -10}, overClient{20, 10};
    ::ClientToScreen(t.tree.Handle(), &overHeader);
    ::ClientToScreen(t.tree.Handle(), &overClient);
    EXPECT_EQ(::SendMessageW(t.tree.Handle(), WM_NCHITTEST, 0, MAKELPARAM(overHeader.x, overHeader.y)), HTBORDER);
    EXPECT_EQ(::SendMessageW(t.tree.Handle(), WM_NCHITTEST, 0, MAKELPARAM(overClient.x, overClient.y)), HTCLIENT);
}

} // namespace
} // namespace krv::test
