// Drawing services: the check-image index table, the image strips, blending
// (the packed-integer path against the plain one), text shortening and the
// text buffers of the exports.
#include "tree/paint/LazyTreeDrawing.h"
#include "tree/core/LazyTreeProperties.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <random>
#include <vector>

using namespace krv;

namespace {

struct IndexCase {
    TCheckType type;
    TCheckState state;
    int disabled, disabledHot, enabled, enabledHot;
};

TEST(CheckImages, IndexTableForEveryTypeStateAndMode) {
    const IndexCase table[] = {
        {ctCheckBox, csUncheckedNormal, 12, 12, 9, 10},   {ctCheckBox, csUncheckedPressed, 12, 12, 11, 11},
        {ctCheckBox, csCheckedNormal, 16, 16, 13, 14},    {ctCheckBox, csCheckedPressed, 16, 16, 15, 15},
        {ctCheckBox, csMixedNormal, 20, 20, 17, 18},      {ctCheckBox, csMixedPressed, 20, 20, 19, 19},
        {ctTriStateCheckBox, csMixedNormal, 20, 20, 17, 18}, {ctTriStateCheckBox, csCheckedPressed, 16, 16, 15, 15},
        {ctRadioButton, csUncheckedNormal, 4, 4, 1, 2},   {ctRadioButton, csUncheckedPressed, 4, 4, 3, 3},
        {ctRadioButton, csCheckedNormal, 8, 8, 5, 6},     {ctRadioButton, csCheckedPressed, 8, 8, 7, 7},
        {ctRadioButton, csMixedNormal, 20, 20, 17, 18},   {ctRadioButton, csMixedPressed, 20, 20, 19, 19},
        {ctButton, csUncheckedNormal, 24, 24, 21, 22},    {ctButton, csCheckedNormal, 24, 24, 21, 22},
        {ctButton, csCheckedPressed, 24, 24, 23, 23},     {ctButton, csMixedNormal, 20, 20, 17, 18},
        {ctButton, csMixedPressed, 20, 20, 19, 19},
    };
    for (const IndexCase& c : table) {
        SCOPED_TRACE(testing::Message() << "type " << int(c.type) << " state " << int(c.state));
        EXPECT_EQ(CheckImageIndex(c.type, c.state, false, false), c.disabled);
        EXPECT_EQ(CheckImageIndex(c.type, c.state, false, true), c.disabledHot);
        EXPECT_EQ(CheckImageIndex(c.type, c.state, true, false), c.enabled);
        EXPECT_EQ(CheckImageIndex(c.type, c.state, true, true), c.enabledHot);
    }
    for (int s = csUncheckedNormal; s <= csMixedPressed; ++s)
        EXPECT_EQ(CheckImageIndex(ctNone, TCheckState(s), true, true), -1);
}

TEST(CheckImages, EveryKindHoldsTwentyFiveImages) {
    for (int k = ckLightCheck; k <= ckSystemFlat; ++k) {
        if (k == ckCustom) {
            EXPECT_EQ(CheckImageList(ckCustom), nullptr);
            continue;
        }
        TImageList* list = CheckImageList(TCheckImageKind(k));
        ASSERT_NE(list, nullptr) << k;
        EXPECT_EQ(list->Count(), 25) << k;
        EXPECT_EQ(list->Width(), list->Height()) << k;
    }
    EXPECT_EQ(CheckImageList(ckLightCheck)->Width(), 16);
    // Dropped lists come back on the next use.
    RebuildCheckImageLists();
    ASSERT_NE(CheckImageList(ckFlat), nullptr);
    EXPECT_EQ(CheckImageList(ckFlat)->Count(), 25);
}

// A 32-bit DIB section in its own memory DC, filled from a generator.
struct TestDib {
    MemoryDC dc{nullptr};
    BitmapHandle bitmap;
    uint32_t* bits = nullptr;
    HGDIOBJ old = nullptr;
    int w, h;
    TestDib(int width, int height, bool bottomUp, std::mt19937& rng) : w(width), h(height) {
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = bottomUp ? h : -h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        void* p = nullptr;
        bitmap.reset(::CreateDIBSection(dc.get(), &bi, DIB_RGB_COLORS, &p, nullptr, 0));
        bits = static_cast<uint32_t*>(p);
        old = ::SelectObject(dc.get(), bitmap.get());
        for (int i = 0; i < w * h; ++i) bits[i] = rng();
    }
    ~TestDib() { ::SelectObject(dc.get(), old); }
    std::vector<uint32_t> Pixels() const { return std::vector<uint32_t>(bits, bits + w * h); }
    void Set(const std::vector<uint32_t>& p) { std::copy(p.begin(), p.end(), bits); }
};

TEST(Blend, FastPathGivesThePixelsOfThePlainPath) {
    if (!BlendFastPathAvailable()) GTEST_SKIP() << "no packed-integer unit on this processor";
    std::mt19937 rng(7);
    struct Case { TBlendMode mode; int alpha; int bias; RECT r; POINT target; bool bottomUp; };
    const Case cases[] = {
        {bmConstantAlpha, 128, 0, {0, 0, 37, 11}, {0, 0}, false},
        {bmConstantAlpha, 255, 40, {3, 2, 30, 9}, {5, 1}, true},      // odd widths, bias that saturates
        {bmConstantAlpha, 0, -300, {1, 1, 36, 10}, {0, 0}, false},    // bias clamped below
        {bmConstantAlpha, 256, 0, {0, 0, 2, 1}, {1, 1}, false},
        {bmPerPixelAlpha, 0, 17, {2, 0, 33, 11}, {3, 0}, true},
        {bmPerPixelAlpha, 0, -17, {0, 0, 37, 11}, {0, 0}, false},
        {bmMasterAlpha, int(RGB(10, 200, 90)), 77, {5, 5, 36, 11}, {0, 0}, false},
        {bmConstantAlphaAndColor, 128, int(RGB(0, 120, 215)), {0, 0, 37, 11}, {0, 0}, true},
        {bmConstantAlphaAndColor, 2, int(RGB(255, 255, 255)), {-4, -2, 50, 20}, {0, 0}, false},   // clipped
        {bmConstantAlpha, 100, 0, {10, 3, 10, 9}, {0, 0}, false},     // empty: nothing changes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << int(c.mode) << " alpha " << c.alpha << " bias " << c.bias);
        TestDib src(37, 11, c.bottomUp, rng), dst(37, 11, !c.bottomUp, rng);
        std::vector<uint32_t> before = dst.Pixels();
        SetBlendFastPath(false);
        BlendRect(src.dc.get(), dst.dc.get(), c.r, c.target, c.mode, c.alpha, c.bias);
        std::vector<uint32_t> plain = dst.Pixels();
        dst.Set(before);
        SetBlendFastPath(true);
        BlendRect(src.dc.get(), dst.dc.get(), c.r, c.target, c.mode, c.alpha, c.bias);
        EXPECT_EQ(dst.Pixels(), plain);
        if (c.r.right > c.r.left && c.alpha != 0) {
            EXPECT_NE(plain, before);
        }
    }
}

// A rectangle blends the rows it names whichever way the bitmap's rows run
// (the system reports every DIB section's height as positive).
TEST(Blend, TheRectangleIsTheOneNamedInBothRowOrders) {
    std::mt19937 rng(3);
    for (bool bottomUp : {false, true}) {
        TestDib dst(6, 5, bottomUp, rng);
        std::fill(dst.bits, dst.bits + 30, 0x00FFFFFFu);
        BlendRect(nullptr, dst.dc.get(), RECT{1, 0, 3, 2}, POINT{0, 0}, bmConstantAlphaAndColor, 256, int(RGB(0, 0, 0)));
        // Device pixel (x, y) as GDI sees it.
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 6; ++x) {
                bool inside = x >= 1 && x < 3 && y < 2;
                EXPECT_EQ(::GetPixel(dst.dc.get(), x, y), inside ? RGB(0, 0, 0) : RGB(255, 255, 255))
                    << (bottomUp ? "bottom-up " : "top-down ") << x << "," << y;
            }
    }
}

TEST(Blend, FormulasOnKnownPixels) {
    std::mt19937 rng(1);
    TestDib src(2, 1, false, rng), dst(2, 1, false, rng);
    for (bool fast : {false, true}) {
        SetBlendFastPath(fast);
        src.bits[0] = 0x80FF0000;   // alpha 128, red 255
        dst.bits[0] = 0x11000000;   // black, alpha byte 0x11 stays
        src.bits[1] = 0x00000000;
        dst.bits[1] = 0x00FFFFFF;
        BlendRect(src.dc.get(), dst.dc.get(), RECT{0, 0, 2, 1}, POINT{0, 0}, bmPerPixelAlpha, 0, 0);
        EXPECT_EQ(dst.bits[0], 0x117F0000u) << fast;   // (0 * 128 + 255 * 128) >> 8 = 127
        EXPECT_EQ(dst.bits[1], 0x00FFFFFFu) << fast;   // alpha 0 keeps the destination
        dst.bits[0] = 0x00204060;
        BlendRect(nullptr, dst.dc.get(), RECT{0, 0, 1, 1}, POINT{0, 0}, bmConstantAlphaAndColor, 256,
                  int(RGB(1, 2, 3)));
        EXPECT_EQ(dst.bits[0], 0x00010203u) << fast;   // full alpha: the colour itself
    }
    SetBlendFastPath(true);
}

TEST(ShortenWideString, FitsWithEllipsisOrGivesNothing) {
    MemoryDC dc(nullptr);
    LOGFONTW lf{};
    lf.lfHeight = -11;
    wcscpy(lf.lfFaceName, L"Tahoma");
    FontHandle font(::CreateFontIndirectW(&lf));
    SelectObjectScope select(dc.get(), font.get());
    const std::wstring s = L"Backup of the documents folder";
    int full = WideTextWidth(dc.get(), s), dots = WideTextWidth(dc.get(), L"...");
    ASSERT_GT(dots, 0);
    EXPECT_EQ(ShortenWideString(dc.get(), L"", 500), L"");
    EXPECT_EQ(ShortenWideString(dc.get(), s, 0), L"");
    EXPECT_EQ(ShortenWideString(dc.get(), s, -5), L"");
    EXPECT_EQ(ShortenWideString(dc.get(), s, dots), L"");
    // Just over the ellipsis: no character fits, the ellipsis alone is left.
    EXPECT_EQ(ShortenWideString(dc.get(), s, dots + 1), L"...");
    for (int width : {dots + 20, full / 2, full - 1, full + 40}) {
        SCOPED_TRACE(width);
        std::wstring ltr = ShortenWideString(dc.get(), s, width);
        ASSERT_GE(ltr.size(), 3u);
        EXPECT_EQ(ltr.substr(ltr.size() - 3), L"...");
        std::wstring kept = ltr.substr(0, ltr.size() - 3);
        EXPECT_EQ(s.compare(0, kept.size(), kept), 0);
        EXPECT_LE(WideTextWidth(dc.get(), kept), width - dots);
        // One more character would not fit (unless all but the last are in).
        if (kept.size() + 1 < s.size()) {
            EXPECT_GT(WideTextWidth(dc.get(), s.substr(0, kept.size() + 1)), width - dots);
        }
        std::wstring rtl = ShortenWideString(dc.get(), s, width, 0, true);
        EXPECT_EQ(rtl.substr(0, 3), L"...");
        std::wstring tail = rtl.substr(3);
        EXPECT_EQ(s.compare(s.size() - tail.size(), tail.size(), tail), 0);
    }
    // A given ellipsis width is used as it is.
    EXPECT_EQ(ShortenWideString(dc.get(), s, 30, 30), L"");
    // Text outside any ANSI code page survives as UTF-16.
    std::wstring cjk = L"\u5907\u4efd\u6587\u4ef6\u5939\u0416\u0436";
    std::wstring shortened = ShortenWideString(dc.get(), cjk, WideTextWidth(dc.get(), cjk) - 1);
    ASSERT_GE(shortened.size(), 4u);
    EXPECT_EQ(shortened.substr(0, 1), cjk.substr(0, 1));
}

TEST(DrawTextWEmulation, MeasuresLinesAndAligns) {
    MemoryDC dc(nullptr);
    TEXTMETRICW tm{};
    ::GetTextMetricsW(dc.get(), &tm);
    RECT r{10, 20, 10, 20};
    int height = DrawTextWEmulation(dc.get(), L"one\r\nlonger line\nx", r, DT_CALCRECT);
    EXPECT_EQ(height, 3 * tm.tmHeight);
    EXPECT_EQ(r.bottom - r.top, 3 * tm.tmHeight);
    EXPECT_EQ(r.right - r.left, WideTextWidth(dc.get(), L"longer line"));
    RECT single{0, 0, 0, 0};
    DrawTextWEmulation(dc.get(), L"a\nb", single, DT_CALCRECT | DT_SINGLELINE);
    EXPECT_EQ(single.bottom, tm.tmHeight);
}

TEST(TextBuffers, GrowToHoldAnyText) {
    TWideBufferedString wide;
    std::wstring expected;
    // A text far longer than one growth step must not overflow the block.
    std::wstring big(20000, L'\u00e9');
    wide.Add(L"head");
    wide.Add(big);
    wide.AddNewLine();
    expected = L"head" + big + L"\r\n";
    for (int i = 0; i < 3000; ++i) {
        wide.Add(L"cell;");
        expected += L"cell;";
    }
    EXPECT_EQ(wide.AsString(), expected);
    EXPECT_GE(wide.Capacity(), expected.size());
    TBufferedString narrow;
    narrow.AddNewLine();
    narrow.Add(std::string(4095, 'a'));
    narrow.Add("b");
    EXPECT_EQ(narrow.AsString(), "\r\n" + std::string(4095, 'a') + "b");
    EXPECT_EQ(TBufferedString().AsString(), "");
}

// A 32-bit list of 16 x 16 images with alpha, as the system's list is, each
// a different translucent pattern.
UniqueHandle<ImageListTraits> AlphaImageList(int count) {
    UniqueHandle<ImageListTraits> list(::ImageList_Create(16, 16, ILC_COLOR32, count, 1));
    for (int i = 0; i < count; ++i) {
        void* p = nullptr;
        BitmapHandle picture = CreateDib32(16, 16, &p);
        auto* bits = static_cast<uint32_t*>(p);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                uint32_t a = (x + y + i * 5) % 4 == 0 ? 0 : (x * 16 + i * 40) & 0xFF;
                uint32_t c = (a * ((i * 60 + y * 9) & 0xFF) / 255) << 16 | (a * (x * 15 & 0xFF) / 255) << 8 | a / 2;
                bits[y * 16 + x] = a << 24 | c;
            }
        ::ImageList_Add(static_cast<HIMAGELIST>(list.get()), picture.get(), nullptr);
    }
    return list;
}

// Every ghosted draw through one cache, in order, gives the pixels the list's
// own draw gives on a twin bitmap: a draw is kept or reused from the ones
// before it.
TEST(GhostedImages, EveryDrawGivesTheListsOwnPixels) {
    std::mt19937 rng(11);
    auto alphaList = AlphaImageList(3);
    TImageList alpha(nullptr, static_cast<HIMAGELIST>(alphaList.get()));
    TImageList* masked = CheckImageList(ckLightCheck);
    ASSERT_NE(masked, nullptr);
    TestDib cached(80, 24, false, rng), direct(80, 24, false, rng);
    TGhostedImageCache cache;
    struct TDraw { const char* what; bool masked; int x, y, index, clipRight = 0, originX = 0; };
    // oddPixel: the one pixel one less than the others, or none.
    struct TBackground { uint32_t pixel; int oddPixel; std::vector<TDraw> draws; };
    const TBackground backgrounds[] = {
        {0xFF336699, -1, {{"first", false, 2, 2, 1},
                          {"same image over the same background", false, 20, 2, 1},
                          {"another image", false, 38, 2, 2},
                          {"another list, same index", true, 56, 2, 1},
                          {"over its own earlier draw", true, 56, 2, 1}}},
        {0xFF336699, -1, {{"kept, at an odd offset", false, 21, 5, 1},
                          {"another list, another image", true, 40, 3, 2},
                          {"kept from another list, at an odd offset", true, 61, 6, 2}}},
        {0xFF336699, 3 * 80 + 25, {{"one pixel of the background differs", false, 20, 2, 1}}},
        {0x00336699, -1, {{"only the background's alpha differs", false, 2, 2, 1}}},
        {0xFF224400, -1, {{"clipped: not kept", false, 20, 2, 0, 28},
                          {"inside the clip: kept", false, 2, 2, 0, 28},
                          {"a kept draw, clipped", false, 22, 4, 0, 28},
                          {"clip removed", false, 40, 2, 0}}},
        {0xFF808080, -1, {{"origin moved", false, 11, 2, 2, 0, 9},
                          {"kept, origin moved", false, 31, 2, 2, 0, 9},
                          {"half outside the bitmap", false, 80, 12, 2, 0, 9},
                          {"kept, half outside the bitmap", false, 80, 12, 2, 0, 9},
                          {"no such image", false, 2, 2, 5}}},
    };
    for (const TBackground& b : backgrounds) {
        for (int i = 0; i < cached.w * cached.h; ++i) cached.bits[i] = direct.bits[i] = b.pixel;
        if (b.oddPixel >= 0) cached.bits[b.oddPixel] = direct.bits[b.oddPixel] = b.pixel - 1;
        for (const TDraw& d : b.draws) {
            for (HDC dc : {cached.dc.get(), direct.dc.get()}) {
                ::SelectClipRgn(dc, nullptr);
                if (d.clipRight) ::IntersectClipRect(dc, 0, 0, d.clipRight, 24);
                ::SetWindowOrgEx(dc, d.originX, 0, nullptr);
            }
            const TImageList& list = d.masked ? *masked : alpha;
            cache.Draw(list, cached.dc.get(), d.x, d.y, d.index);
            list.Draw(direct.dc.get(), d.x, d.y, d.index, false);
            ::GdiFlush();
            EXPECT_TRUE(cached.Pixels() == direct.Pixels())
                << d.what << ": image " << d.index << " at " << d.x << "," << d.y << " over " << std::hex << b.pixel;
        }
    }
}

} // namespace
