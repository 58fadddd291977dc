// Painting, checked against golden images (drawn with our own look, no
// visual styles): lines and buttons, check images of every type and state,
// selection, grid lines, owner-painted rows, the empty tree and shortened text.
#include "TreeTestSupport.h"
#include "common/TempPath.h"
#include <gtest/gtest-spi.h>
#include "framework/Forms.h"
#include "tree/string/LazyDrawTree.h"
#include "tree/string/LazyStringTree.h"
#include "tree/paint/LazyTreeDrawing.h"
#include <map>

using namespace krv;
using namespace krv::test;

namespace {

// A string tree whose texts come from a table, in a hidden window.
struct TextTree {
    TLazyStringTree tree;
    std::map<PLazyNode, std::wstring> texts;
    std::map<PLazyNode, std::wstring> statics;
    explicit TextTree(int width = 220, int height = 160) {
        tree.SetBounds(0, 0, width, height);
        tree.HandleNeeded();
        tree.OnGetText = [this](TBaseLazyTree*, PLazyNode node, TColumnIndex, TLSTTextType type, std::wstring& text) {
            auto& table = type == ttNormal ? texts : statics;
            auto it = table.find(node);
            if (it != table.end()) text = it->second;
            else if (type == ttStatic) text.clear();
        };
    }
    PLazyNode Add(PLazyNode parent, const std::wstring& text) {
        PLazyNode node = tree.AddChild(parent);
        texts[node] = text;
        return node;
    }
    void Paint(TLTPaintOption add, TLTPaintOption remove = TLTPaintOption(-1)) {
        TLTPaintOptions p = tree.TreeOptions().PaintOptions() + add;
        if (int(remove) >= 0) p -= remove;
        tree.TreeOptions().SetPaintOptions(p);
    }
    // Folders two levels deep: expanded, collapsed with children, leaves.
    void Folders() {
        PLazyNode docs = Add(nullptr, L"Documents");
        PLazyNode letters = Add(docs, L"Letters");
        Add(letters, L"2025");
        Add(letters, L"2026");
        PLazyNode invoices = Add(docs, L"Invoices");
        Add(invoices, L"March");
        PLazyNode pictures = Add(nullptr, L"Pictures");
        Add(pictures, L"\u041e\u0442\u043f\u0443\u0441\u043a \u03b8\u03ac\u03bb\u03b1\u03c3\u03c3\u03b1");
        Add(nullptr, L"Music");
        tree.SetExpanded(docs, true);
        tree.SetExpanded(letters, true);
        tree.SetExpanded(pictures, true);
    }
};

TEST(PaintGolden, LinesAndButtons) {
    TextTree t;
    t.Folders();
    ExpectMatchesGolden("lines_buttons", RenderTree(t.tree, 220, 160));
}

TEST(PaintGolden, NoRootSolidLinesTriangleButtons) {
    TextTree t;
    t.Folders();
    t.Paint(toShowButtons, toShowRoot);
    t.tree.SetLineStyle(lsSolid);
    t.tree.SetButtonStyle(bsTriangle);
    ExpectMatchesGolden("noroot_solid_triangles", RenderTree(t.tree, 220, 160));
}

TEST(PaintGolden, ShadedButtonsWithoutLinesAndBands) {
    TextTree t;
    t.Folders();
    t.Paint(toShowButtons, toShowTreeLines);
    t.tree.SetButtonFillMode(fmShaded);
    TImage noLines = RenderTree(t.tree, 220, 160);
    t.Paint(toShowTreeLines);
    t.tree.SetLineMode(lmBands);
    t.tree.SetButtonFillMode(fmWindowColor);
    TImage bands = RenderTree(t.tree, 220, 160);
    // Both in one picture, side by side.
    TImage both{440, 160, {}};
    for (int y = 0; y < 160; ++y) {
        both.Pixels.insert(both.Pixels.end(), noLines.Pixels.begin() + y * 220, noLines.Pixels.begin() + (y + 1) * 220);
        both.Pixels.insert(both.Pixels.end(), bands.Pixels.begin() + y * 220, bands.Pixels.begin() + (y + 1) * 220);
    }
    ExpectMatchesGolden("shaded_buttons_and_bands", both);
}

// One row per check type and state, then the same disabled, and a hot one.
void CheckMatrix(TCheckImageKind kind, const char* golden) {
    TextTree t(260, 0);
    const TCheckType types[] = {ctTriStateCheckBox, ctCheckBox, ctRadioButton, ctButton};
    const wchar_t* typeNames[] = {L"tri-state", L"box", L"radio", L"button"};
    const wchar_t* stateNames[] = {L"unchecked", L"unchecked pressed", L"checked", L"checked pressed", L"mixed",
                                   L"mixed pressed"};
    t.tree.TreeOptions().SetMiscOptions(t.tree.TreeOptions().MiscOptions() + toCheckSupport);
    t.tree.TreeOptions().SetAutoOptions(t.tree.TreeOptions().AutoOptions() - toAutoTristateTracking);
    t.tree.SetCheckImageKind(kind);
    for (int disabled = 0; disabled < 2; ++disabled)
        for (int ti = 0; ti < 4; ++ti)
            for (int s = csUncheckedNormal; s <= csMixedPressed; ++s) {
                PLazyNode n = t.Add(nullptr, std::wstring(typeNames[ti]) + L" " + stateNames[s] +
                                                 (disabled ? L" (disabled)" : L""));
                t.tree.SetCheckType(n, types[ti]);
                n->CheckState = uint8_t(s);
                if (disabled) t.tree.SetDisabled(n, true);
            }
    int height = int(t.tree.RootNode()->TotalHeight) - int(t.tree.RootNode()->NodeHeight);
    t.tree.SetBounds(0, 0, 260, height);
    ExpectMatchesGolden(golden, RenderTree(t.tree, 260, height));
}

TEST(PaintGolden, CheckImagesLight) { CheckMatrix(ckLightCheck, "checks_light"); }
TEST(PaintGolden, CheckImagesXP) { CheckMatrix(ckXP, "checks_xp"); }
TEST(PaintGolden, CheckImagesSystemFlat) { CheckMatrix(ckSystemFlat, "checks_system_flat"); }

void Selection(bool blended, const char* golden) {
    TextTree t;
    t.Folders();
    t.Paint(toPopupMode);   // draws as when focused, without taking the focus
    if (blended) t.Paint(toUseBlendedSelection);
    t.tree.TreeOptions().SetSelectionOptions(t.tree.TreeOptions().SelectionOptions() + toMultiSelect);
    PLazyNode first = t.tree.GetFirst();
    t.tree.SetSelected(t.tree.GetNext(first), true);
    t.tree.SetSelected(t.tree.GetNext(t.tree.GetNext(first)), true);
    t.tree.SetFocusedNode(t.tree.GetNext(t.tree.GetNext(first)));
    t.tree.SetSelectionCurveRadius(blended ? 0 : 4);
    ExpectMatchesGolden(golden, RenderTree(t.tree, 220, 160));
}

TEST(PaintGolden, SelectionAndFocus) { Selection(false, "selection"); }
TEST(PaintGolden, BlendedSelection) { Selection(true, "selection_blended"); }

TEST(PaintGolden, FullRowSelectWithGridLines) {
    TextTree t;
    t.Folders();
    t.Paint(toShowHorzGridLines);
    t.Paint(toShowVertGridLines);
    t.tree.TreeOptions().SetSelectionOptions(t.tree.TreeOptions().SelectionOptions() + toFullRowSelect);
    t.tree.SetSelected(t.tree.GetFirst(), true);
    t.tree.Colors().Set(TLTColors::GridLineColor, clRed);
    ExpectMatchesGolden("fullrow_grid", RenderTree(t.tree, 220, 160));
}

TEST(PaintGolden, EmptyTreePaintsOnlyTheBackground) {
    TextTree t;
    std::vector<std::string> calls;
    t.tree.OnPaintBackground = [&](TBaseLazyTree*, TCanvas&, RECT r, bool&) {
        calls.push_back("background " + std::to_string(r.bottom - r.top));
    };
    t.tree.OnBeforeItemPaint = [&](TBaseLazyTree*, TCanvas&, PLazyNode, RECT, bool&) { calls.push_back("row"); };
    TImage image = RenderTree(t.tree, 120, 80);
    EXPECT_EQ(calls, std::vector<std::string>{"background 80"});
    ExpectMatchesGolden("empty", image);
    for (uint32_t p : image.Pixels) ASSERT_EQ(p, image.Pixels[0]);
}

TEST(PaintGolden, OwnerPaintedRowsSkipEraseCellsAndContent) {
    TextTree t;
    t.Folders();
    std::vector<std::wstring> log;
    PLazyNode custom = t.tree.GetNext(t.tree.GetFirst());   // "Letters"
    PLazyNode tinted = t.tree.GetFirst();
    t.tree.OnBeforeItemPaint = [&](TBaseLazyTree*, TCanvas& canvas, PLazyNode node, RECT r, bool& customDraw) {
        if (node != custom) return;
        customDraw = true;
        canvas.Brush.SetColor(0x40A0F0);
        canvas.FillRect(r);
        log.push_back(L"custom " + t.texts[node]);
    };
    t.tree.OnBeforeItemErase = [&](TBaseLazyTree*, TCanvas&, PLazyNode node, RECT, TColor& color,
                                   TItemEraseAction& action) {
        if (node == custom) log.push_back(L"erased the custom row");
        if (node == tinted) {
            color = 0xE0FFE0;
            action = eaColor;
        }
    };
    t.tree.OnPaintText = [&](TBaseLazyTree*, TCanvas&, PLazyNode node, TColumnIndex, TLSTTextType) {
        if (node == custom) log.push_back(L"text of the custom row");
    };
    t.tree.OnAfterItemPaint = [&](TBaseLazyTree*, TCanvas& canvas, PLazyNode node, RECT r) {
        if (node != custom) return;
        canvas.Brush.SetColor(clBlack);
        canvas.FrameRect(r);
        log.push_back(L"after " + t.texts[node]);
    };
    TImage image = RenderTree(t.tree, 220, 160);
    EXPECT_EQ(log, (std::vector<std::wstring>{L"custom Letters", L"after Letters"}));
    ExpectMatchesGolden("owner_painted", image);
}

// A header whose columns have fixed extents, and a string tree that uses it.
class FixedColumnsHeader : public TLTHeader {
public:
    FixedColumnsHeader(TBaseLazyTree* owner, std::vector<std::pair<int, int>> bounds)
        : TLTHeader(owner), bounds_(std::move(bounds)) {}
    int ColumnCount() const override { return int(bounds_.size()); }
    std::vector<TColumnIndex> VisibleColumnsInOrder() const override {
        std::vector<TColumnIndex> order;
        for (size_t i = 0; i < bounds_.size(); ++i) order.push_back(TColumnIndex(i));
        return order;
    }
    void ColumnBounds(TColumnIndex column, int& left, int& right) const override {
        left = bounds_[size_t(column)].first;
        right = bounds_[size_t(column)].second;
    }
private:
    std::vector<std::pair<int, int>> bounds_;
};

template <int... Edges> class FixedColumnsTree : public TLazyStringTree {
public:
    FixedColumnsTree() { UseOwnClasses(); }
protected:
    THeaderClass GetHeaderClass() const override {
        return +[](TBaseLazyTree* owner) -> std::unique_ptr<TLTHeader> {
            const int edges[] = {Edges...};
            std::vector<std::pair<int, int>> bounds;
            for (size_t i = 0; i + 1 < std::size(edges); ++i) bounds.emplace_back(edges[i], edges[i + 1]);
            return std::make_unique<FixedColumnsHeader>(owner, bounds);
        };
    }
};
// One column narrower than the texts: they are shortened.
using ColumnStringTree = FixedColumnsTree<0, 150>;

TEST(PaintGolden, StringTreeShortensTextToItsColumnAndShowsStaticText) {
    ColumnStringTree tree;
    tree.SetBounds(0, 0, 220, 100);
    tree.HandleNeeded();
    const std::wstring texts[] = {L"Short", L"A rather long folder name that cannot fit",
                                  L"Документы и настройки пользователя",
                                  L"Fits exactly?"};
    std::vector<std::wstring> shortenAsked;
    tree.OnGetText = [&](TBaseLazyTree*, PLazyNode node, TColumnIndex column, TLSTTextType type, std::wstring& text) {
        EXPECT_EQ(column, 0);
        text = type == ttNormal ? texts[node->Index] : (node->Index == 0 ? L"(static)" : L"");
    };
    tree.OnShortenString = [&](TBaseLazyTree*, TCanvas&, PLazyNode, TColumnIndex, const std::wstring& s, int, bool,
                               std::wstring&, bool&) { shortenAsked.push_back(s); };
    tree.TreeOptions().SetStringOptions(tree.TreeOptions().StringOptions() + toShowStaticText);
    tree.SetRootNodeCount(4);
    TImage image = RenderTree(tree, 220, 100);
    EXPECT_EQ(shortenAsked, (std::vector<std::wstring>{texts[1], texts[2]}));
    ExpectMatchesGolden("string_shortened", image);
}

TEST(PaintGolden, ColumnGridLinesRunToTheBottom) {
    ColumnStringTree tree;
    tree.SetBounds(0, 0, 200, 80);
    tree.HandleNeeded();
    tree.SetRootNodeCount(2);
    auto& o = tree.TreeOptions();
    o.SetPaintOptions(o.PaintOptions() + toShowVertGridLines + toShowHorzGridLines + toFullVertGridLines);
    tree.Colors().Set(TLTColors::GridLineColor, clBlue);
    ExpectMatchesGolden("column_grid", RenderTree(tree, 200, 80));
}

TEST(PaintGolden, ImagesStateImagesAndVariableHeights) {
    TextTree t;
    TImageList images(nullptr, 16, 16), states(nullptr, 12, 12);
    // Drawn into 32-bit bitmaps so that the screen's depth does not matter.
    auto add = [](TImageList& list, const std::function<void(TCanvas&)>& draw) {
        BitmapHandle bmp = CreateDib32(list.Width(), list.Height());
        {
            MemoryDC dc(nullptr);
            SelectObjectScope select(dc.get(), bmp.get());
            TCanvas c(dc.get());
            c.Brush.SetColor(TImageList::clFuchsia);
            c.FillRect(RECT{0, 0, list.Width(), list.Height()});
            draw(c);
        }
        list.AddMasked(bmp.get(), TImageList::clFuchsia);
    };
    add(images, [](TCanvas& c) {
        c.Brush.SetColor(0x30B0E0);
        c.Rectangle(1, 3, 15, 14);
    });
    add(images, [](TCanvas& c) {
        c.Brush.SetColor(0x2050A0);
        c.Ellipse(2, 2, 14, 14);
    });
    add(states, [](TCanvas& c) {
        c.Brush.SetColor(clGreen);
        c.FillRect(RECT{2, 2, 10, 10});
    });
    t.tree.SetImages(&images);
    t.tree.SetStateImages(&states);
    t.tree.TreeOptions().SetMiscOptions(t.tree.TreeOptions().MiscOptions() + toVariableNodeHeight);
    t.tree.OnMeasureItem = [&](TBaseLazyTree*, TCanvas&, PLazyNode node, int& height) {
        if (t.texts[node] == L"Letters") height = 30;
    };
    t.tree.OnGetImageIndex = [&](TBaseLazyTree*, PLazyNode node, TLTImageKind kind, TColumnIndex, bool& ghosted,
                                 int& index) {
        if (kind == ikNormal) index = node->ChildCount ? 0 : 1;
        if (kind == ikState && t.texts[node] == L"Invoices") index = 0;
        ghosted = t.texts[node] == L"Music";
    };
    t.Folders();
    ExpectMatchesGolden("images_heights", RenderTree(t.tree, 220, 180));
    PLazyNode letters = t.tree.GetNext(t.tree.GetFirst());
    EXPECT_EQ(t.tree.NodeHeight(letters), 30u);
    // The text rectangle starts behind the indentation and both images.
    RECT r = t.tree.GetDisplayRect(letters, ColumnNone, true);
    EXPECT_EQ(r.left, 4 + 2 * 18 + 16 + 2);
    EXPECT_EQ(r.right - r.left, int(t.tree.CachedWidth(letters)));
}

} // namespace

namespace {

class HotDropTree : public TLazyStringTree {
public:
    void SetHot(PLazyNode node) { hotNode_ = node; }
    void SetDropTarget(PLazyNode node) { dropTargetNode_ = node; }
};

TEST(PaintGolden, HotTrackedTextAndDropTarget) {
    HotDropTree tree;
    tree.SetBounds(0, 0, 200, 80);
    tree.HandleNeeded();
    tree.SetRootNodeCount(4);
    tree.OnGetText = [](TBaseLazyTree*, PLazyNode node, TColumnIndex, TLSTTextType, std::wstring& text) {
        text = L"Row " + std::to_wstring(node->Index);
    };
    tree.TreeOptions().SetPaintOptions(tree.TreeOptions().PaintOptions() + toHotTrack + toPopupMode);
    PLazyNode first = tree.GetFirst();
    tree.SetHot(tree.GetNext(first));
    tree.SetDropTarget(tree.GetLast());   // on the node: drawn like a selection
    tree.Colors().Set(TLTColors::HotColor, clRed);
    ExpectMatchesGolden("hot_and_drop", RenderTree(tree, 200, 80));
}

// Every hook of a paint, in order, for two rows and the space below them.
TEST(PaintHooks, FireInTheirOrderPerRowAndOnceAroundThePaint) {
    TextTree t(200, 60);
    t.Add(nullptr, L"one");
    t.Add(nullptr, L"two");
    std::vector<std::string> log;
    auto name = [&](PLazyNode n) { return std::string(t.texts[n] == L"one" ? "one" : "two"); };
    TBaseLazyTree& tree = t.tree;
    tree.OnBeforePaint = [&](TBaseLazyTree*, TCanvas&) { log.push_back("before paint"); };
    tree.OnAfterPaint = [&](TBaseLazyTree*, TCanvas&) { log.push_back("after paint"); };
    tree.OnBeforeItemPaint = [&](TBaseLazyTree*, TCanvas&, PLazyNode n, RECT, bool&) { log.push_back("before item " + name(n)); };
    tree.OnBeforeItemErase = [&](TBaseLazyTree*, TCanvas&, PLazyNode n, RECT, TColor&, TItemEraseAction&) {
        log.push_back("before erase " + name(n));
    };
    tree.OnAfterItemErase = [&](TBaseLazyTree*, TCanvas&, PLazyNode n, RECT) { log.push_back("after erase " + name(n)); };
    tree.OnBeforeCellPaint = [&](TBaseLazyTree*, TCanvas&, PLazyNode n, TColumnIndex c, RECT) {
        log.push_back("before cell " + name(n) + " " + std::to_string(c));
    };
    t.tree.OnPaintText = [&](TBaseLazyTree*, TCanvas&, PLazyNode n, TColumnIndex, TLSTTextType) { log.push_back("text " + name(n)); };
    tree.OnAfterCellPaint = [&](TBaseLazyTree*, TCanvas&, PLazyNode n, TColumnIndex, RECT) { log.push_back("after cell " + name(n)); };
    tree.OnAfterItemPaint = [&](TBaseLazyTree*, TCanvas&, PLazyNode n, RECT) { log.push_back("after item " + name(n)); };
    tree.OnPaintBackground = [&](TBaseLazyTree*, TCanvas&, RECT r, bool&) {
        log.push_back("background " + std::to_string(r.bottom - r.top));
    };
    RenderTree(t.tree, 200, 60);   // the first paint also measures the texts
    log.clear();
    RenderTree(t.tree, 200, 60);
    std::vector<std::string> expected{"before paint"};
    for (std::string n : {"one", "two"})
        for (std::string step : {"before item ", "before erase ", "after erase ", "before cell ", "text ", "after cell ",
                                 "after item "})
            expected.push_back(step + n + (step == "before cell " ? " -1" : ""));
    expected.push_back("background 24");
    expected.push_back("after paint");
    EXPECT_EQ(log, expected);
}

} // namespace

namespace {

TEST(Paint, PrintClientDrawsWhatPaintTreeDraws) {
    TextTree t(160, 90);
    t.Folders();
    t.tree.SetOffsetY(-18);   // scrolled one row down
    RECT client = t.tree.ClientRect();
    int w = client.right, h = client.bottom;
    TImage printed = Capture(w, h, [&](HDC dc) {
        ::SendMessageA(t.tree.Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    });
    // PaintTree of the same part of the tree: from row 1 on.
    TImage expected = Capture(w, h, [&](HDC dc) {
        TCanvas canvas(dc);
        t.tree.PaintTree(canvas, RECT{0, 18, w, 18 + h}, POINT{0, 0}, TBaseLazyTree::poAll);
    });
    EXPECT_TRUE(printed == expected);
    EXPECT_FALSE(printed == RenderTree(t.tree, w, h));   // the first row is scrolled away
}

// Any part of the tree, wherever its window starts, paints as that part of a
// paint of the whole: the drag image's saved screen and a horizontally
// scrolled window are painted from parts that do not start at the left edge.
TEST(Paint, APartOfTheTreePaintsAsThatPartOfTheWhole) {
    TextTree t(200, 200);
    t.Folders();
    t.tree.AddToSelection(t.tree.GetFirst());
    const int w = 200, h = 200;
    auto paint = [&](RECT window) {
        return Capture(window.right - window.left, window.bottom - window.top, [&](HDC dc) {
            TCanvas canvas(dc);
            t.tree.PaintTree(canvas, window, POINT{0, 0}, TBaseLazyTree::poAll);
        });
    };
    TImage whole = paint(RECT{0, 0, w, h});
    for (RECT part : {RECT{22, 3, 142, 40}, RECT{5, 20, 6, 90}, RECT{37, 150, 200, 200}, RECT{120, 0, 200, 17}}) {
        SCOPED_TRACE(std::to_string(part.left) + "," + std::to_string(part.top));
        TImage expected;
        expected.Width = part.right - part.left;
        expected.Height = part.bottom - part.top;
        for (int y = part.top; y < part.bottom; ++y)
            for (int x = part.left; x < part.right; ++x) expected.Pixels.push_back(whole.Pixels[size_t(y) * w + x]);
        EXPECT_TRUE(paint(part) == expected);
    }
    // Scrolled to the right, the window shows the whole's columns from 20 on.
    t.tree.SetBounds(0, 0, 90, h);
    t.tree.SetHorizontalRange(300);   // a hidden tree does not measure its texts
    t.tree.SetOffsetX(-20);
    ASSERT_EQ(-20, t.tree.OffsetX());
    const int cw = t.tree.ClientRect().right, ch = t.tree.ClientRect().bottom;
    TImage printed = Capture(cw, ch, [&](HDC dc) {
        ::SendMessageA(t.tree.Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    });
    TImage wide = paint(RECT{0, 0, 20 + cw, ch});
    TImage expected{cw, ch, {}};
    for (int y = 0; y < ch; ++y)
        for (int x = 20; x < 20 + cw; ++x) expected.Pixels.push_back(wide.Pixels[size_t(y) * size_t(20 + cw) + size_t(x)]);
    EXPECT_TRUE(printed == expected);
}

using TwoColumnTree = FixedColumnsTree<0, 100, 260>;

TEST(Paint, EmptyNeighbourCellsGiveTheirRoomWithAutoSpanColumns) {
    TwoColumnTree tree;
    tree.SetBounds(0, 0, 260, 60);
    tree.HandleNeeded();
    tree.SetRootNodeCount(2);
    // Row 0 has nothing in column 1; row 1 has.
    tree.OnGetText = [](TBaseLazyTree*, PLazyNode node, TColumnIndex column, TLSTTextType, std::wstring& text) {
        text = column == 0 ? L"A text wider than one column" : node->Index == 0 ? L"" : L"second";
    };
    std::vector<std::pair<unsigned, TColumnIndex>> shortened;
    tree.OnShortenString = [&](TBaseLazyTree*, TCanvas&, PLazyNode node, TColumnIndex column, const std::wstring&,
                               int, bool, std::wstring&, bool&) { shortened.emplace_back(node->Index, column); };
    RenderTree(tree, 260, 60);
    EXPECT_EQ(shortened, (std::vector<std::pair<unsigned, TColumnIndex>>{{0, 0}, {1, 0}}));
    shortened.clear();
    tree.TreeOptions().SetAutoOptions(tree.TreeOptions().AutoOptions() + toAutoSpanColumns);
    RenderTree(tree, 260, 60);
    // Row 0's text now has both columns' room and fits; row 1 is still cut.
    EXPECT_EQ(shortened, (std::vector<std::pair<unsigned, TColumnIndex>>{{1, 0}}));
}

} // namespace

namespace {

// Three real columns: the main one, a right-aligned one and a centred one,
// then a right-to-left one whose own alignment is left (so it reads from the right).
class TAlignedTree : public TLazyStringTree {
public:
    using TLazyStringTree::DoGetNodeWidth;
    using TBaseLazyTree::MeasureDC;
};

struct AlignedColumns {
    TAlignedTree tree;
    explicit AlignedColumns(bool multiline = false) {
        auto& columns = tree.Header().Columns();
        for (int w : {100, 120, 100, 100}) columns.Add()->SetWidth(w);
        columns[1].SetAlignment(taRightJustify);
        columns[2].SetAlignment(taCenter);
        columns[3].SetOptions(columns[3].Options() - coParentBidiMode);
        columns[3].SetBiDiMode(bdRightToLeft);
        tree.SetBounds(0, 0, 300, 120);
        tree.HandleNeeded();
        tree.OnGetText = [](TBaseLazyTree*, PLazyNode node, TColumnIndex column, TLSTTextType, std::wstring& text) {
            text = node->Index == 0 ? L"size" : column == 0 ? L"one two three four five six seven eight nine" : L"";
        };
        tree.OnInitNode = [multiline](TBaseLazyTree*, PLazyNode, PLazyNode node, TLazyNodeInitStates&) {
            if (multiline && node->Index == 1) node->States |= vsMultiline;
        };
        tree.SetRootNodeCount(2);
    }
};

// The text rectangle of a cell is placed by that column's alignment and
// reading order, inside the column less its last pixel.
TEST(DisplayRect, TextOnlyFollowsEachColumnsAlignmentAndReadingOrder) {
    AlignedColumns c;
    PLazyNode node = c.tree.GetFirst();
    int w = c.tree.DoGetNodeWidth(node, 1, nullptr), m = c.tree.Margin();
    struct Case { TColumnIndex column; int left, right; } cases[] = {
        {1, 219 - w, 219},                                           // right-aligned: to the column's last pixel
        {2, (220 + m + 319 - w) / 2, (220 + m + 319 - w) / 2 + w},   // centred between margin and last pixel
        {3, 419 - m - w, 419 - m},                                   // right to left: from the right, less the margin
    };
    for (const Case& k : cases) {
        RECT r = c.tree.GetDisplayRect(node, k.column, true);
        EXPECT_EQ(r.left, k.left) << "column " << k.column;
        EXPECT_EQ(r.right, k.right) << "column " << k.column;
        RECT cell = c.tree.GetDisplayRect(node, k.column, false);
        EXPECT_EQ(cell.right, c.tree.Header().Columns()[k.column].Left() + c.tree.Header().Columns()[k.column].Width() - 1);
    }
    // Scrolled sideways the rectangles move with the columns.
    c.tree.SetOffsetX(-30);
    RECT scrolled = c.tree.GetDisplayRect(node, 1, true);
    EXPECT_EQ(scrolled.right, 219 - 30);
}

// An empty right-to-left neighbour keeps its cell: the text of a
// left-to-right cell spans only the empty left-to-right columns before it.
TEST(Paint, AutoSpanStopsAtARightToLeftColumn) {
    for (bool rtlNeighbour : {false, true}) {
        AlignedColumns c;
        auto& columns = c.tree.Header().Columns();
        columns[1].SetOptions(columns[1].Options() - coParentBidiMode);
        columns[1].SetBiDiMode(rtlNeighbour ? bdRightToLeft : bdLeftToRight);
        c.tree.TreeOptions().SetAutoOptions(c.tree.TreeOptions().AutoOptions() + toAutoSpanColumns);
        std::vector<std::pair<TColumnIndex, int>> painted;
        c.tree.OnAfterCellPaint = [&](TBaseLazyTree*, TCanvas&, PLazyNode node, TColumnIndex column, RECT r) {
            if (node->Index == 1) painted.emplace_back(column, int(r.right));
        };
        RenderTree(c.tree, 440, 60);
        // Columns 1 to 3 are empty in row 1: the main column takes them while they read left to right.
        std::vector<std::pair<TColumnIndex, int>> expected =
            rtlNeighbour ? std::vector<std::pair<TColumnIndex, int>>{{0, 100}, {1, 220}, {2, 320}, {3, 420}}
                         : std::vector<std::pair<TColumnIndex, int>>{{0, 320}, {3, 420}};
        EXPECT_EQ(painted, expected) << rtlNeighbour;
    }
}

// The height a multi-line text takes in its cell: one line when it fits,
// more when the column is narrower, the row's own height for a single line.
TEST(StringTree, MeasureMultilineHeightLaysTheTextOutInTheCell) {
    AlignedColumns c(true);
    TCanvas canvas(c.tree.MeasureDC());
    canvas.Font = c.tree.Font();
    PLazyNode single = c.tree.GetFirst(), multi = c.tree.GetNext(single);
    EXPECT_EQ(c.tree.MeasureMultilineHeight(canvas, single, 0), int(c.tree.NodeHeight(single)));
    std::vector<int> heights;
    for (int width : {600, 200, 100}) {
        c.tree.Header().Columns()[0].SetWidth(width);
        heights.push_back(c.tree.MeasureMultilineHeight(canvas, multi, 0));
    }
    EXPECT_EQ(heights[0], c.tree.TextHeight());
    EXPECT_GT(heights[1], heights[0]);
    EXPECT_GT(heights[2], heights[1]);
    EXPECT_EQ(heights[1] % c.tree.TextHeight(), 0);
    // Empty neighbours give their room to the layout with spanning.
    c.tree.TreeOptions().SetAutoOptions(c.tree.TreeOptions().AutoOptions() + toAutoSpanColumns);
    EXPECT_LT(c.tree.MeasureMultilineHeight(canvas, multi, 0), heights[2]);
}

// A text handler may ask for opaque text: it is drawn on the brush colour.
TEST(Paint, OpaqueTextIsDrawnOnTheBrushColour) {
    TextTree t;
    t.Add(nullptr, L"Opaque");
    t.Add(nullptr, L"Clear");
    t.tree.OnPaintText = [&](TBaseLazyTree*, TCanvas& canvas, PLazyNode node, TColumnIndex, TLSTTextType) {
        if (t.texts[node] != L"Opaque") return;
        canvas.TextFlags = ETO_OPAQUE;
        canvas.Brush.SetColor(0x00FFFF);   // yellow
    };
    TImage image = RenderTree(t.tree, 220, 40);
    auto yellowIn = [&](int top, int bottom) {
        int n = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = 0; x < image.Width; ++x) n += image.Pixels[size_t(y) * size_t(image.Width) + size_t(x)] == 0xFFFF00u;
        return n;
    };
    int rowHeight = int(t.tree.DefaultNodeHeight());
    EXPECT_GT(yellowIn(0, rowHeight), 100);
    EXPECT_EQ(yellowIn(rowHeight, 2 * rowHeight), 0);   // the next row does not inherit it
}

// Blended images take a quarter of the selection colour where the selection
// sits behind the text; without the option they are drawn as they are.
TEST(Paint, BlendedImagesOfSelectedNodesTakeTheSelectionColour) {
    TextTree t;
    TImageList images(nullptr, 16, 16);
    BitmapHandle bmp = CreateDib32(16, 16);
    {
        MemoryDC dc(nullptr);
        SelectObjectScope select(dc.get(), bmp.get());
        TCanvas c(dc.get());
        c.Brush.SetColor(0x30B0E0);
        c.FillRect(RECT{0, 0, 16, 16});
    }
    images.AddMasked(bmp.get(), TImageList::clFuchsia);
    t.tree.SetImages(&images);
    t.tree.OnGetImageIndex = [](TBaseLazyTree*, PLazyNode, TLTImageKind kind, TColumnIndex, bool&, int& index) {
        if (kind == ikNormal) index = 0;
    };
    t.Add(nullptr, L"Selected");
    t.Add(nullptr, L"Plain");
    t.Paint(toPopupMode, toUseBlendedImages);   // on by default
    t.tree.SetSelected(t.tree.GetFirst(), true);
    TImage plain = RenderTree(t.tree, 220, 40);
    t.Paint(toUseBlendedImages);
    TImage blended = RenderTree(t.tree, 220, 40);
    COLORREF c = ColorToRGB(t.tree.Colors().Get(TLTColors::FocusedSelectionColor));
    uint32_t tint = uint32_t(GetRValue(c)) << 16 | uint32_t(GetGValue(c)) << 8 | GetBValue(c);
    auto mix = [&](uint32_t d) {
        uint32_t out = 0;
        for (int s : {0, 8, 16}) {
            int dc = int(d >> s & 255), oc = int(tint >> s & 255);
            out |= uint32_t((dc * 192 + oc * 64) >> 8) << s;
        }
        return out;
    };
    RECT text = t.tree.GetDisplayRect(t.tree.GetFirst(), ColumnNone, true);
    int imageLeft = text.left - 18, imageTop = (int(t.tree.DefaultNodeHeight()) - 16) / 2;
    size_t changed = 0, wrong = 0;
    for (size_t i = 0; i < plain.Pixels.size(); ++i) {
        int x = int(i % 220), y = int(i / 220);
        bool inImage = x >= imageLeft && x < imageLeft + 16 && y >= imageTop && y < imageTop + 16;
        uint32_t expected = inImage ? mix(plain.Pixels[i]) : plain.Pixels[i];
        changed += inImage;
        if (blended.Pixels[i] != expected && wrong < 5)
            ADD_FAILURE() << x << "," << y << " plain " << std::hex << plain.Pixels[i] << " blended " << blended.Pixels[i]
                          << " expected " << expected;
        wrong += blended.Pixels[i] != expected;
    }
    EXPECT_EQ(changed, 256u);
    EXPECT_EQ(wrong, 0u);
}

// What a golden comparison reports, without it counting against this test.
std::vector<testing::TestPartResult> GoldenReports(const std::string& dir, const std::string& name, const TImage& image) {
    testing::TestPartResultArray results;
    {
        testing::ScopedFakeTestPartResultReporter reporter(
            testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
        ExpectMatchesGolden(dir, name, image);
    }
    std::vector<testing::TestPartResult> out;
    for (int i = 0; i < results.size(); ++i) out.push_back(results.GetTestPartResult(i));
    return out;
}

TEST(GoldenImages, AMissingGoldenFailsOnceAndIsWrittenForTheNextRun) {
    std::string dir = TempPath("korvane-golden-" + std::to_string(::GetCurrentProcessId()));
    std::string file = dir + "\\new.png";
    ::DeleteFileA(file.c_str());
    TImage image = Capture(4, 3, [](HDC) {}, RGB(1, 2, 3));
    auto first = GoldenReports(dir, "new", image);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_TRUE(first[0].nonfatally_failed());
    EXPECT_NE(std::string(first[0].message()).find("was missing"), std::string::npos) << first[0].message();
    EXPECT_TRUE(GoldenReports(dir, "new", image).empty());   // written: now it compares equal
    image.Pixels[5] = 0x123456;
    EXPECT_EQ(GoldenReports(dir, "new", image).size(), 1u);   // and a different picture fails
    ::DeleteFileA(file.c_str());
    ::DeleteFileA(BesideTestProgram("new.actual.png").c_str());
    ::RemoveDirectoryA(dir.c_str());
}

} // namespace

// Text is measured in the font it is painted in, and the header follows what
// it links to. Each row makes one change and answers what came of it and what should have.
TEST(PaintFonts, MeasuredInThePaintFontAndTheHeaderFollowsItsLinks) {
    MemoryDC dc(nullptr);
    TCanvas reference(dc.get());
    reference.Font.SetName("Arial");
    reference.Font.SetSize(24);
    const SIZE label = reference.TextExtent("Wide label");
    // The height a variable-height row of a tree in that font has after act.
    auto rowHeight = [&](const std::function<void(TTestTree&)>& act) {
        TTestTree t;
        t.Font() = reference.Font;
        t.TreeOptions().SetMiscOptions(t.TreeOptions().MiscOptions() + toVariableNodeHeight);
        t.OnMeasureItem = [](TBaseLazyTree*, TCanvas& c, PLazyNode, int& h) { h = c.TextHeight("Wide label"); };
        PLazyNode node = t.AddChild(nullptr);
        act(t);
        return std::pair<long, long>(node->NodeHeight, label.cy);
    };
    // The columns a shown owner-drawn header with an image list draws after change.
    auto headerDraws = [](const std::function<void(TLTHeader&)>& change) {
        TForm form;
        TextTree t;
        TImageList list;
        TLTHeader& h = t.tree.Header();
        for (int i = 0; i < 3; ++i) h.Columns().Add()->SetWidth(60);
        h.SetOptions(h.Options() + hoVisible + hoOwnerDraw);
        h.SetImages(&list);
        t.tree.SetParent(&form);
        form.Show();
        int drawn = 0;
        t.tree.OnHeaderDraw = [&](TLTHeader*, TCanvas&, TLazyTreeColumn&, RECT, bool, bool, TLTDropMarkMode) { ++drawn; };
        change(h);
        return std::pair<long, long>(drawn, h.Columns().Count());
    };
    const std::pair<const char*, std::pair<long, long>> rows[] = {
        {"draw tree, no canvas", [&] {
             TLazyDrawTree d;
             d.Font() = reference.Font;
             d.OnGetNodeWidth = [](TBaseLazyTree*, TCanvas& c, PLazyNode, TColumnIndex, int& w) { w = c.TextWidth("Wide label"); };
             RECT r = d.GetDisplayRect(d.AddChild(nullptr), ColumnNone, true, true);   // its text is as wide as measured
             return std::pair<long, long>(r.right - r.left, label.cx);
         }()},
        {"first row of a paint", rowHeight([](TTestTree& t) { RenderTree(t, 220, 160); })},
        {"rubber band", rowHeight([](TTestTree& t) {
             t.DoStateChange(tsDrawSelecting);
             t.HandleDrawSelection(RECT{0, 0, 1, 1}, RECT{0, 0, 100, 100});
         })},
        {"header list gets a picture", headerDraws([](TLTHeader& h) { h.Images()->AddPainted([](TCanvas&) {}); })},
        {"header font changed in place", headerDraws([](TLTHeader& h) { h.Font().SetSize(14); })},
        {"assigned header's list destroyed", [] {
             TextTree a, b;
             auto list = std::make_unique<TImageList>();
             a.tree.Header().SetImages(list.get());
             b.tree.Header().Assign(a.tree.Header());
             list.reset();
             return std::pair<long, long>(b.tree.Header().Images() != nullptr, false);
         }()},
    };
    for (const auto& [what, result] : rows) EXPECT_EQ(result.first, result.second) << what;
}
