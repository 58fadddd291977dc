// Columns and the header: width limits, display order, the auto-size and
// spring rules, the splitter zone and the header stream in every version.
#include "TreeTestSupport.h"
#include "tree/string/LazyStringTree.h"
#include <cstring>
#include <random>

namespace krv::test {
namespace {

// A tree whose header has one column per width, with a real window.
struct ColumnTree {
    explicit ColumnTree(std::initializer_list<int> widths, int clientWidth = 300) {
        tree.SetBounds(0, 0, clientWidth, 120);
        tree.HandleNeeded();
        for (int w : widths) header().Columns().Add()->SetWidth(w);
    }
    TLTHeader& header() { return tree.Header(); }
    TLazyTreeColumn& col(int i) { return header().Columns()[i]; }
    std::vector<std::pair<int, int>> bounds() {
        std::vector<std::pair<int, int>> out;
        for (TColumnIndex c : header().VisibleColumnsInOrder()) {
            int l, r;
            header().ColumnBounds(c, l, r);
            out.emplace_back(l, r);
        }
        return out;
    }
    TTestTree tree;
};

TEST(HeaderColumns, WidthIsClampedToItsLimitsAndLimitsToEachOther) {
    ColumnTree t{50};
    TLazyTreeColumn& c = t.col(0);
    c.SetWidth(3);
    EXPECT_EQ(c.Width(), 10);   // MinWidth's default
    c.SetWidth(20000);
    EXPECT_EQ(c.Width(), 10000);
    EXPECT_EQ(c.PreviousWidth(), 10);
    c.SetMaxWidth(40);          // re-applies the width
    EXPECT_EQ(c.Width(), 40);
    c.SetMinWidth(60);          // cannot pass MaxWidth
    EXPECT_EQ(c.MinWidth(), 40);
    c.SetMaxWidth(5);           // cannot fall below MinWidth
    EXPECT_EQ(c.MaxWidth(), 40);
    c.SetMinWidth(-4);
    EXPECT_EQ(c.MinWidth(), 0);
}

TEST(HeaderColumns, PositionsFollowDisplayOrderNotIndex) {
    ColumnTree t{100, 60, 40};
    EXPECT_EQ(t.bounds(), (std::vector<std::pair<int, int>>{{0, 100}, {100, 160}, {160, 200}}));
    t.col(2).SetPosition(0);   // display order now 2, 0, 1
    EXPECT_EQ(t.header().VisibleColumnsInOrder(), (std::vector<TColumnIndex>{2, 0, 1}));
    EXPECT_EQ(t.col(2).Left(), 0);
    EXPECT_EQ(t.col(0).Left(), 40);
    EXPECT_EQ(t.col(1).Left(), 140);
    EXPECT_EQ(t.col(1).Position(), 2u);
    t.col(0).SetPosition(99);  // clamped to the last position
    EXPECT_EQ(t.header().VisibleColumnsInOrder(), (std::vector<TColumnIndex>{2, 1, 0}));
    // A hidden column keeps its position but takes no room.
    t.col(1).SetOptions(t.col(1).Options() - coVisible);
    EXPECT_EQ(t.header().VisibleColumnsInOrder(), (std::vector<TColumnIndex>{2, 0}));
    EXPECT_EQ(t.col(0).Left(), 40);
    auto& cols = t.header().Columns();
    EXPECT_EQ(cols.GetFirstVisibleColumn(), 2);
    EXPECT_EQ(cols.GetNextVisibleColumn(2), 0);
    EXPECT_EQ(cols.GetNextVisibleColumn(0), ColumnInvalid);
    EXPECT_EQ(cols.GetPreviousVisibleColumn(0), 2);
    EXPECT_EQ(cols.ColumnFromPosition(1), 1);
    EXPECT_EQ(cols.ColumnFromPosition(3), ColumnNone);
    EXPECT_EQ(cols.TotalWidth(), 140);
    EXPECT_EQ(cols.ColumnFromPoint(POINT{139, 5}, false), 0);
    EXPECT_EQ(cols.ColumnFromPoint(POINT{140, 5}, false), ColumnInvalid);
    // Moving a column in the collection keeps every column at its place on screen.
    t.col(2).SetIndex(0);      // old 2 -> 0, old 0 -> 1, old 1 -> 2
    EXPECT_EQ(t.header().VisibleColumnsInOrder(), (std::vector<TColumnIndex>{0, 1}));
    EXPECT_EQ(t.col(0).Width(), 40);
    EXPECT_EQ(t.col(1).Left(), 40);
}

TEST(HeaderColumns, DeletingAColumnShiftsTheHeadersReferences) {
    ColumnTree t{50, 50, 50, 50};
    t.header().SetMainColumn(2);
    t.header().SetSortColumn(3);
    t.header().SetAutoSizeIndex(1);
    t.header().Columns().Delete(1);
    EXPECT_EQ(t.header().AutoSizeIndex(), ColumnNone);
    EXPECT_EQ(t.header().MainColumn(), 1);
    EXPECT_EQ(t.header().SortColumn(), 2);
    EXPECT_EQ(t.bounds().size(), 3u);
    t.header().Columns().Clear();
    EXPECT_EQ(t.header().MainColumn(), ColumnNone);
    EXPECT_EQ(t.header().SortColumn(), ColumnNone);
    t.header().SetSortColumn(2);   // no columns: only -1 is possible
    EXPECT_EQ(t.header().SortColumn(), ColumnNone);
}

TEST(HeaderColumns, AutoSizeColumnTakesTheRestOfTheClientAndCannotBeSetDirectly) {
    ColumnTree t{80, 60, 50};
    int client = t.tree.ClientWidth();
    std::vector<TColumnIndex> resized;
    t.tree.OnColumnResize = [&](TLTHeader*, TColumnIndex c) { resized.push_back(c); };
    t.header().SetAutoSizeIndex(1);
    t.header().SetOptions(t.header().Options() + hoAutoResize);
    EXPECT_EQ(t.col(1).Width(), client - 130);
    t.col(1).SetWidth(20);     // refused: the rule owns it
    EXPECT_EQ(t.col(1).Width(), client - 130);
    resized.clear();
    t.col(0).SetWidth(100);    // the auto column gives way
    EXPECT_EQ(t.col(1).Width(), client - 150);
    EXPECT_EQ(resized, (std::vector<TColumnIndex>{1, 0}));
    // Right of the auto column there is no neighbour to give way; the
    // scroll bar this brings resizes the tree, which runs the rule again.
    t.col(2).SetWidth(70);
    EXPECT_EQ(t.col(2).Width(), 70);
    EXPECT_EQ(t.col(1).Width(), t.tree.ClientWidth() - 170);
    // The rule respects the limits of the auto column.
    t.col(1).SetMinWidth(500);
    t.header().AdjustAutoSize(ColumnInvalid);
    EXPECT_EQ(t.col(1).Width(), 500);
    // Resizing the tree re-runs the rule.
    t.col(1).SetMinWidth(10);
    t.tree.SetBounds(0, 0, 400, 120);
    EXPECT_EQ(t.col(1).Width(), t.tree.ClientWidth() - 100 - 70);
}

TEST(HeaderColumns, SpringsShareAWidthChangeInProportionWithinTheirLimits) {
    ColumnTree t{100, 50, 30};
    for (int i : {0, 1}) t.col(i).SetOptions(t.col(i).Options() + coAutoSpring);
    t.header().SetOptions(t.header().Options() + hoAutoSpring);
    int before = t.tree.ClientWidth();
    t.tree.SetBounds(0, 0, 300 + 31, 120);
    int delta = t.tree.ClientWidth() - before;
    ASSERT_EQ(delta, 31);
    // 31 * 100/150 = 20.67 and 31 * 50/150 = 10.33: the remainder is carried, nothing is lost.
    EXPECT_EQ(t.col(0).Width() + t.col(1).Width(), 150 + 31);
    EXPECT_EQ(t.col(0).Width(), 121);
    EXPECT_EQ(t.col(2).Width(), 30);
    // A spring at its limit passes what it cannot take to the next one.
    t.col(0).SetMaxWidth(125);
    t.tree.SetBounds(0, 0, 331 + 30, 120);
    EXPECT_EQ(t.col(0).Width(), 125);
    EXPECT_EQ(t.col(1).Width(), 60 + 26);
}

TEST(HeaderColumns, SplitterZoneIsSevenPixelsAroundEachRightEdge) {
    ColumnTree t{100, 60, 400};
    TLTHeader& h = t.header();
    auto hitAt = [&](int x) {
        bool hit = h.FindSplitterColumn(POINT{x, -5});
        return hit ? h.Columns().TrackIndex() : ColumnInvalid;
    };
    EXPECT_EQ(hitAt(97), ColumnInvalid);
    EXPECT_EQ(hitAt(98), 0);
    EXPECT_EQ(hitAt(104), 0);
    EXPECT_EQ(hitAt(105), ColumnInvalid);
    EXPECT_EQ(hitAt(158), 1);
    EXPECT_EQ(hitAt(164), 1);
    t.col(0).SetOptions(t.col(0).Options() - coResizable);
    EXPECT_EQ(hitAt(100), ColumnInvalid);
    // Scrolled: the zone moves with the columns.
    t.tree.SetOffsetX(-20);
    ASSERT_EQ(t.tree.OffsetX(), -20);
    EXPECT_EQ(hitAt(140), 1);
    EXPECT_EQ(hitAt(160), ColumnInvalid);
    EXPECT_EQ(h.Columns().ColumnFromPoint(POINT{85, 5}, true), 1);
}

TEST(HeaderColumns, ColumnsFollowTheTreesColourAndFontOnlyWhileTheyFollowTheirParent) {
    ColumnTree t{50, 50};
    t.col(1).SetColor(clSilver);   // leaves coParentColor
    EXPECT_FALSE(t.col(1).Options().Contains(coParentColor));
    t.tree.SetColor(TColor(0x00FFFF));
    EXPECT_EQ(t.col(0).Color(), TColor(0x00FFFF));
    EXPECT_EQ(t.col(1).Color(), clSilver);
    t.header().SetParentFont(true);
    t.tree.Font().SetName("Courier New");
    EXPECT_EQ(t.header().Font().Name(), "Courier New");
    t.header().SetFont(TFont());   // an own font ends following the tree
    EXPECT_FALSE(t.header().ParentFont());
}

TEST(HeaderColumns, DisplayNameFallsBackForWideText) {
    ColumnTree t{50, 50};
    t.col(0).SetText(L"Größe");
    t.col(1).SetText(L"Имя");
    EXPECT_EQ(t.col(0).GetDisplayName(), std::string("Gr\xF6\xDF" "e"));
    EXPECT_EQ(t.col(1).GetDisplayName(), "Column 1");
}

// ---- stream ------------------------------------------------------------------------------------

struct Bytes {
    std::vector<uint8_t> data;
    Bytes& i(int32_t v) {
        for (int s = 0; s < 32; s += 8) data.push_back(uint8_t(uint32_t(v) >> s));
        return *this;
    }
    Bytes& w(const std::wstring& s) {
        i(int32_t(s.size()));
        for (wchar_t c : s) data.push_back(uint8_t(c)), data.push_back(uint8_t(c >> 8));
        return *this;
    }
    Bytes& a(const std::string& s) {
        i(int32_t(s.size()));
        data.insert(data.end(), s.begin(), s.end());
        return *this;
    }
};

// The header part after the columns, as every version has it.
void HeaderTail(Bytes& b) {
    b.i(1).i(clBtnFace).i(21).i(int32_t(TLTHeaderOptions{hoVisible, hoColumnResize}.Bits())).i(hsPlates);
    b.i(clNavy).i(-11).a("Tahoma").i(DEFAULT_PITCH).i(1 /* bold */);
}

void PrepareForStream(ColumnTree& t) {
    t.col(0).SetText(L"Name");
    t.col(0).SetHint(L"Имя");
    t.col(0).SetWidth(120);
    t.col(1).SetText(L"Size");
    t.col(1).SetAlignment(taRightJustify);
    t.col(1).Tag = 7;
    t.col(1).SetColor(clSilver);
    t.col(1).SetOptions(t.col(1).Options() + coAutoSpring - coDraggable);
    TLTHeader& h = t.header();
    h.SetAutoSizeIndex(1);
    h.SetBackground(clBtnFace);
    h.SetHeight(21);
    h.SetOptions(TLTHeaderOptions{hoVisible, hoColumnResize});
    h.SetStyle(hsPlates);
    TFont font;
    font.SetName("Tahoma");
    font.SetSize(8);
    font.SetStyle(1);
    font.SetColor(clNavy);
    h.SetFont(font);
    h.SetMainColumn(1);
    h.SetSortColumn(0);
    h.SetSortDirection(sdDescending);
}

TEST(HeaderStream, WritesTheCurrentVersionByteForByte) {
    ColumnTree t{50, 50};
    PrepareForStream(t);
    TMemoryStream s;
    t.header().SaveToStream(s);
    Bytes b;
    b.i(-1).i(3).i(2);
    uint32_t defaults = DefaultColumnOptions.Bits();
    b.w(L"Name").w(L"Имя").i(120).i(10).i(10000).i(0).i(-1).i(0).i(4).i(4).i(0).i(int32_t(defaults)).i(0).i(0).i(clWindow);
    uint32_t second = (DefaultColumnOptions + coAutoSpring - coDraggable - coParentColor).Bits();
    b.w(L"Size").w(L"").i(50).i(10).i(10000).i(0).i(-1).i(0).i(4).i(4).i(0).i(int32_t(second)).i(7).i(taRightJustify).i(clSilver);
    HeaderTail(b);
    b.i(1).i(0).i(sdDescending);
    EXPECT_EQ(s.Data(), b.data);

    // And it reads back into a fresh header unchanged.
    ColumnTree back{};
    s.SetPosition(0);
    back.header().LoadFromStream(s);
    ASSERT_EQ(back.header().Columns().Count(), 2);
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(back.col(i).Equals(t.col(i))) << i;
    EXPECT_EQ(back.header().SortColumn(), 0);
    EXPECT_EQ(back.header().SortDirection(), sdDescending);
    EXPECT_EQ(back.header().MainColumn(), 1);
    EXPECT_EQ(back.header().Height(), 21);
    EXPECT_EQ(back.header().Font().Name(), "Tahoma");
    EXPECT_EQ(back.header().Font().Size(), 8);
}

TEST(HeaderStream, ReadsEveryOlderVersion) {
    // Old option bits: 0-3 as today, 4-6 became 5-7, 15 and up moved up by one.
    uint32_t oldOptions = 0x1 | 0x4 | 0x10 /* -> coResizable */ | 0x40 /* -> coVisible */ | 0x80 /* dropped */;
    TLTColumnOptions converted{coAllowClick, coEnabled, coResizable, coVisible};
    struct Case {
        int version;
        TLTColumnOptions options;
        int columns;
    } cases[] = {{0, converted, 1}, {0, converted, 12}, {1, converted, 1},
                 {2, TLTColumnOptions::FromBits(oldOptions & 0xFF), 1}};
    for (const Case& c : cases) {
        Bytes b;
        if (c.version == 0) b.i(c.columns);   // no marker: the first value is the column count
        else b.i(-1).i(c.version).i(c.columns);
        uint32_t bits = c.version == 2 ? (oldOptions & 0xFF) | 0x100 /* lost in version 2 */ : oldOptions;
        const std::wstring text = c.columns > 1 ? L"" : L"Old";   // many short columns: a stream of the least size
        for (int i = 0; i < c.columns; ++i) {
            b.w(text).w(L"").i(70).i(10).i(10000).i(0).i(-1).i(0).i(4).i(4).i(0).i(int32_t(bits));
            if (c.version > 0) b.i(5).i(taCenter);
            if (c.version > 1) b.i(clRed);
        }
        HeaderTail(b);
        if (c.version > 0) b.i(0).i(0).i(sdDescending);
        TMemoryStream s;
        s.WriteBuffer(b.data.data(), b.data.size());
        s.SetPosition(0);
        ColumnTree t{};
        t.header().LoadFromStream(s);
        ASSERT_EQ(t.header().Columns().Count(), c.columns) << c.version;
        EXPECT_EQ(t.col(0).Text(), text);
        EXPECT_EQ(t.col(0).Width(), 70);
        EXPECT_EQ(t.col(0).Options(), c.options) << c.version;
        EXPECT_EQ(t.col(0).Tag, c.version > 0 ? 5 : 0);
        EXPECT_EQ(t.col(0).Alignment(), c.version > 0 ? taCenter : taLeftJustify);
        EXPECT_EQ(t.col(0).Color(), c.version > 1 ? clRed : t.tree.Color());
        EXPECT_EQ(t.header().SortColumn(), c.version > 0 ? 0 : ColumnNone);
        EXPECT_EQ(t.header().Style(), hsPlates);
        EXPECT_EQ(s.Position(), s.Size()) << "version " << c.version << " not read to its end";
    }
}

TEST(HeaderStream, MutatedStreamsFailCleanlyOrLoadConsistently) {
    ColumnTree source{50, 80, 40};
    PrepareForStream(source);
    TMemoryStream good;
    source.header().SaveToStream(good);
    std::mt19937 rng(1234);
    ColumnTree t{};
    int loaded = 0, refused = 0;
    for (int round = 0; round < 1000; ++round) {
        std::vector<uint8_t> bytes = good.Data();
        int edits = 1 + int(rng() % 4);
        for (int e = 0; e < edits; ++e) {
            size_t at = rng() % bytes.size();
            switch (rng() % 4) {
            case 0: bytes[at] ^= uint8_t(1u << (rng() % 8)); break;
            case 1: bytes[at] = uint8_t(rng()); break;
            case 2: bytes.resize(at); break;
            default: {   // a length or count field made huge or negative
                size_t word = at & ~size_t(3);
                if (word + 4 <= bytes.size()) {
                    int32_t v = (rng() & 1) ? int32_t(0x7FFFFFF0) : -int32_t(rng() % 100);
                    std::memcpy(&bytes[word], &v, 4);
                }
            }
            }
            if (bytes.empty()) bytes.push_back(0);
        }
        TMemoryStream s;
        s.WriteBuffer(bytes.data(), bytes.size());
        s.SetPosition(0);
        bool ok = false;
        try {
            t.header().LoadFromStream(s);
            ok = true;
        } catch (const Exception&) {
        }
        (ok ? loaded : refused)++;
        // Whatever happened, the header is usable and its geometry holds.
        auto& cols = t.header().Columns();
        if (ok) {
            ASSERT_LE(int64_t(cols.Count()) * 48, int64_t(bytes.size())) << round;
        }
        ASSERT_EQ(t.header().States() & hsLoading, 0) << round;
        int left = 0;
        for (TColumnIndex c : t.header().VisibleColumnsInOrder()) {
            ASSERT_EQ(cols[c].Left(), left) << round;
            ASSERT_GE(cols[c].Width(), cols[c].MinWidth()) << round;
            ASSERT_LE(cols[c].Width(), cols[c].MaxWidth()) << round;
            left += cols[c].Width();
        }
        ASSERT_GE(t.header().MainColumn(), cols.Count() ? 0 : ColumnNone) << round;
        ASSERT_LT(t.header().MainColumn(), std::max(cols.Count(), 1)) << round;
        ASSERT_LT(t.header().SortColumn(), cols.Count()) << round;
    }
    EXPECT_GT(loaded, 0);
    EXPECT_GT(refused, 0);
}

} // namespace
} // namespace krv::test
