// The hit test: a table of points with the node, column and parts expected
// under each, in both reading orders and with every label alignment.
#include "TreeTestSupport.h"
#include "framework/ComCtrls.h"
#include <map>
#include <string>

using namespace krv;
using namespace krv::test;

namespace {

// Rows of 18 pixels, indent 18, margin 4, 16-pixel check and image lists.
// Label widths are fixed so that every edge is known to the pixel:
//   A  (level 0, expanded, check box, normal image, 50 wide)  y 0..17
//   A1 (level 1, leaf, nothing, 40 wide)                       y 18..35
//   A2 (level 1, children, check, state + normal image, 60)    y 36..53
//   B  (level 0, leaf, 30 wide)                                y 54..71
class THitTree : public TBaseLazyTree {
public:
    std::map<PLazyNode, int> widths;
    std::map<PLazyNode, std::pair<int, int>> images;   // normal, state
protected:
    int DoGetNodeWidth(PLazyNode node, TColumnIndex, TCanvas*) override { return widths[node]; }
    void DoGetImageIndex(PLazyNode node, TLTImageKind kind, TColumnIndex, bool&, int& index) override {
        auto it = images.find(node);
        if (it == images.end()) return;
        if (kind == ikNormal) index = it->second.first;
        else if (kind == ikState) index = it->second.second;
    }
};

struct HitFixture {
    THitTree tree;
    TImageList images{nullptr, 16, 16};
    TImageList states{nullptr, 16, 16};
    std::map<std::string, PLazyNode> byName;
    HitFixture() {
        images.AddPainted([](TCanvas& c) { c.FillRect(RECT{0, 0, 16, 16}); });
        states.AddPainted([](TCanvas& c) { c.FillRect(RECT{0, 0, 16, 16}); });
        tree.SetBorderStyle(TBorderStyle::bsNone);
        tree.ScrollBarOptions().SetScrollBars(ssNone);
        tree.SetBounds(0, 0, 300, 200);
        tree.HandleNeeded();
        tree.TreeOptions().SetMiscOptions(tree.TreeOptions().MiscOptions() + toCheckSupport);
        tree.SetImages(&images);
        tree.SetStateImages(&states);
        PLazyNode a = tree.AddChild(nullptr);
        PLazyNode a1 = tree.AddChild(a);
        PLazyNode a2 = tree.AddChild(a);
        tree.AddChild(a2);
        PLazyNode b = tree.AddChild(nullptr);
        tree.SetExpanded(a, true);
        tree.SetCheckType(a, ctCheckBox);
        tree.SetCheckType(a2, ctTriStateCheckBox);
        tree.widths = {{a, 50}, {a1, 40}, {a2, 60}, {b, 30}};
        tree.images = {{a, {0, -1}}, {a2, {0, 0}}};
        byName = {{"A", a}, {"A1", a1}, {"A2", a2}, {"B", b}, {"-", nullptr}};
    }
};

struct HitCase {
    int x, y;
    const char* node;
    uint16_t flags;
};

std::string Flags(uint16_t f) {
    static const char* names[] = {"Above", "Below", "Nowhere", "OnItem", "Button", "Checkbox", "Indent", "Label",
                                  "Left", "Right", "NormalIcon", "StateIcon", "ToLeft", "ToRight"};
    std::string s;
    for (int i = 0; i < 14; ++i)
        if (f & (1u << i)) s += std::string(s.empty() ? "" : "+") + names[i];
    return s.empty() ? "none" : s;
}

void RunTable(HitFixture& f, const std::vector<HitCase>& table, const char* label) {
    for (const HitCase& c : table) {
        THitTestResult hi;
        f.tree.GetHitTestInfoAt(c.x, c.y, true, hi);
        SCOPED_TRACE(testing::Message() << label << " at (" << c.x << ", " << c.y << ")");
        EXPECT_EQ(hi.Node, f.byName.at(c.node));
        EXPECT_EQ(Flags(hi.Positions), Flags(c.flags));
        EXPECT_EQ(hi.Column, ColumnNone);
    }
}

constexpr uint16_t I = hpOnItem;

TEST(HitTest, LeftToRightTable) {
    HitFixture f;
    RunTable(f, {
        // outside the client area and below the last row
        {-1, 5, "-", hpToLeft}, {301, 5, "-", hpToRight}, {10, -1, "-", hpAbove}, {10, 201, "-", hpBelow},
        {-5, -5, "-", hpToLeft | hpAbove}, {305, 205, "-", hpToRight | hpBelow}, {10, 72, "-", hpNowhere},
        {150, 199, "-", hpNowhere}, {300, 200, "-", hpNowhere},
        // A: button, check box (with the margin), image, label, right of it
        {0, 0, "A", I | hpOnItemButton}, {17, 17, "A", I | hpOnItemButton}, {18, 8, "A", I | hpOnItemCheckbox},
        {39, 8, "A", I | hpOnItemCheckbox}, {40, 8, "A", I | hpOnNormalIcon}, {57, 8, "A", I | hpOnNormalIcon},
        {58, 8, "A", I | hpOnItemLabel}, {107, 8, "A", I | hpOnItemLabel}, {108, 8, "A", I | hpOnItemRight},
        {299, 8, "A", I | hpOnItemRight},
        // A1: a leaf has no button; the label follows the margin
        {5, 20, "A1", I | hpOnItemIndent}, {20, 20, "A1", I | hpOnItemIndent}, {35, 20, "A1", I | hpOnItemIndent},
        {36, 20, "A1", I | hpOnItemLabel}, {79, 20, "A1", I | hpOnItemLabel}, {80, 20, "A1", I | hpOnItemRight},
        // A2: button of a child, check, state image, normal image, label
        {17, 40, "A2", I | hpOnItemIndent}, {18, 40, "A2", I | hpOnItemButton}, {35, 53, "A2", I | hpOnItemButton},
        {36, 40, "A2", I | hpOnItemCheckbox}, {57, 40, "A2", I | hpOnItemCheckbox}, {58, 40, "A2", I | hpOnStateIcon},
        {75, 40, "A2", I | hpOnStateIcon}, {76, 40, "A2", I | hpOnNormalIcon}, {93, 40, "A2", I | hpOnNormalIcon},
        {94, 40, "A2", I | hpOnItemLabel}, {153, 40, "A2", I | hpOnItemLabel}, {154, 40, "A2", I | hpOnItemRight},
        // B: a top-level leaf
        {0, 60, "B", I | hpOnItemIndent}, {17, 71, "B", I | hpOnItemIndent}, {18, 60, "B", I | hpOnItemLabel},
        {51, 60, "B", I | hpOnItemLabel}, {52, 60, "B", I | hpOnItemRight},
    }, "ltr");
}

TEST(HitTest, RightToLeftTableMirrorsTheRow) {
    HitFixture f;
    f.tree.SetBiDiMode(bdRightToLeft);
    RunTable(f, {
        {-1, 5, "-", hpToLeft}, {301, 5, "-", hpToRight}, {150, 72, "-", hpNowhere},
        // A measured from the right edge (pixel 299 is the first)
        {299, 8, "A", I | hpOnItemButton}, {282, 8, "A", I | hpOnItemButton}, {281, 8, "A", I | hpOnItemCheckbox},
        {260, 8, "A", I | hpOnItemCheckbox}, {259, 8, "A", I | hpOnNormalIcon}, {242, 8, "A", I | hpOnNormalIcon},
        {241, 8, "A", I | hpOnItemLabel}, {192, 8, "A", I | hpOnItemLabel}, {191, 8, "A", I | hpOnItemLeft},
        {0, 8, "A", I | hpOnItemLeft},
        {299, 20, "A1", I | hpOnItemIndent}, {264, 20, "A1", I | hpOnItemIndent}, {263, 20, "A1", I | hpOnItemLabel},
        {220, 20, "A1", I | hpOnItemLabel}, {219, 20, "A1", I | hpOnItemLeft},
        {282, 40, "A2", I | hpOnItemIndent}, {281, 40, "A2", I | hpOnItemButton}, {263, 40, "A2", I | hpOnItemCheckbox},
        {241, 40, "A2", I | hpOnStateIcon}, {223, 40, "A2", I | hpOnNormalIcon}, {205, 40, "A2", I | hpOnItemLabel},
        {145, 40, "A2", I | hpOnItemLeft},
        {281, 60, "B", I | hpOnItemLabel}, {248, 60, "B", I | hpOnItemLabel}, {247, 60, "B", I | hpOnItemLeft},
    }, "rtl");
}

TEST(HitTest, AlignmentMovesTheLabel) {
    HitFixture f;
    f.tree.SetAlignment(taRightJustify);
    // B's label (30 wide) sits at the right edge: 270..299.
    RunTable(f, {{18, 60, "B", I | hpOnItemLeft}, {269, 60, "B", I | hpOnItemLeft}, {270, 60, "B", I | hpOnItemLabel},
                 {299, 60, "B", I | hpOnItemLabel}, {5, 60, "B", I | hpOnItemIndent}},
             "right");
    f.tree.SetAlignment(taCenter);
    // Centred between the margin (22) and the edge: (22 + 300 - 30) / 2 = 146.
    RunTable(f, {{145, 60, "B", I | hpOnItemLeft}, {146, 60, "B", I | hpOnItemLabel},
                 {175, 60, "B", I | hpOnItemLabel}, {176, 60, "B", I | hpOnItemRight}},
             "centre");
    f.tree.SetBiDiMode(bdRightToLeft);
    f.tree.SetAlignment(taRightJustify);
    // Right to left a right-justified label goes to the far (left) end: 0..29.
    RunTable(f, {{0, 60, "B", I | hpOnItemLabel}, {29, 60, "B", I | hpOnItemLabel}, {30, 60, "B", I | hpOnItemRight},
                 {281, 60, "B", I | hpOnItemRight}},
             "rtl right");
}

TEST(HitTest, ScrolledViewAndTreeCoordinates) {
    HitFixture f;
    f.tree.SetBounds(0, 0, 300, 36);
    ASSERT_TRUE(f.tree.DoSetOffsetXY(POINT{0, -18}));
    THitTestResult hi;
    f.tree.GetHitTestInfoAt(60, 2, true, hi);   // client row 0 shows A1 now
    EXPECT_EQ(hi.Node, f.byName["A1"]);
    EXPECT_EQ(Flags(hi.Positions), Flags(I | hpOnItemLabel));
    f.tree.GetHitTestInfoAt(60, 2, false, hi);   // tree coordinates ignore the offset
    EXPECT_EQ(hi.Node, f.byName["A"]);
    // Without check support the check area belongs to the image and label.
    f.tree.TreeOptions().SetMiscOptions(f.tree.TreeOptions().MiscOptions() - toCheckSupport);
    f.tree.GetHitTestInfoAt(22, 8, false, hi);
    EXPECT_EQ(Flags(hi.Positions), Flags(I | hpOnNormalIcon));
    f.tree.GetHitTestInfoAt(40, 8, false, hi);
    EXPECT_EQ(Flags(hi.Positions), Flags(I | hpOnItemLabel));
}

// A node met for the first time by the hit test is initialised.
TEST(HitTest, UninitialisedNodeIsInitialised) {
    HitFixture f;
    PLazyNode b = f.byName["B"];
    b->States &= ~vsInitialized;
    int inits = 0;
    f.tree.OnInitNode = [&](TBaseLazyTree*, PLazyNode, PLazyNode, TLazyNodeInitStates&) { ++inits; };
    THitTestResult hi;
    f.tree.GetHitTestInfoAt(20, 60, true, hi);
    EXPECT_EQ(inits, 1);
    EXPECT_TRUE(b->States & vsInitialized);
    EXPECT_EQ(hi.Node, b);
}

// Columns [0, 100), [100, 180), [180, 250); column 0 is the main column.
class TColumnHeader : public TLTHeader {
public:
    using TLTHeader::TLTHeader;
    int ColumnCount() const override { return 3; }
    std::vector<TColumnIndex> VisibleColumnsInOrder() const override { return {0, 1, 2}; }
    void ColumnBounds(TColumnIndex c, int& left, int& right) const override {
        static const int edges[] = {0, 100, 180, 250};
        left = edges[c];
        right = edges[c + 1];
    }
};

class TColumnHitTree : public THitTree {
public:
    TColumnHitTree() { UseOwnClasses(); }
protected:
    THeaderClass GetHeaderClass() const override {
        return +[](TBaseLazyTree* owner) -> std::unique_ptr<TLTHeader> { return std::make_unique<TColumnHeader>(owner); };
    }
};

TEST(HitTest, ColumnsReportModeAndSpanning) {
    TColumnHitTree tree;
    tree.SetBorderStyle(TBorderStyle::bsNone);
    tree.ScrollBarOptions().SetScrollBars(ssNone);
    tree.SetBounds(0, 0, 300, 100);
    tree.HandleNeeded();
    PLazyNode a = tree.AddChild(nullptr);
    tree.widths = {{a, 30}};   // 30 in every column
    tree.OnGetCellIsEmpty = [](TBaseLazyTree*, PLazyNode, TColumnIndex column, bool& empty) { empty = column == 1; };
    struct ColumnCase {
        int x;
        TColumnIndex column;
        uint16_t flags;
    };
    auto run = [&](const std::vector<ColumnCase>& table, const char* label) {
        for (const ColumnCase& c : table) {
            THitTestResult hi;
            tree.GetHitTestInfoAt(c.x, 5, true, hi);
            SCOPED_TRACE(testing::Message() << label << " x " << c.x);
            EXPECT_EQ(hi.Column, c.column);
            EXPECT_EQ(Flags(hi.Positions), Flags(c.flags));
            EXPECT_EQ(hi.Node, a);
        }
    };
    run({{5, 0, I | hpOnItemIndent}, {30, 0, I | hpOnItemLabel}, {60, 0, I | hpOnItemRight},
         {103, 1, I | hpOnItemLabel}, {133, 1, I | hpOnItemLabel}, {134, 1, I | hpOnItemRight},
         {185, 2, I | hpOnItemLabel}, {240, 2, I | hpOnItemRight}, {260, ColumnInvalid, hpNowhere},
         {299, ColumnInvalid, hpNowhere}},
        "plain");
    auto& o = tree.TreeOptions();
    o.SetMiscOptions(o.MiscOptions() + toReportMode);
    run({{110, 1, I}, {30, 0, I | hpOnItemLabel}}, "report");
    o.SetMiscOptions(o.MiscOptions() - toReportMode);
    o.SetAutoOptions(o.AutoOptions() + toAutoSpanColumns);
    // The empty column 1 belongs to column 0, which now reaches to 180.
    run({{110, 0, I | hpOnItemRight}, {185, 2, I | hpOnItemLabel}}, "spanning");
}

} // namespace
