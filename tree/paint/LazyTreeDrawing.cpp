#include "tree/paint/LazyTreeDrawing.h"
#include <cstring>
#include <commctrl.h>
#include <emmintrin.h>
#include <algorithm>
#include <array>
#include <memory>
#include <vector>

namespace krv {

// ---- check images ----------------------------------------------------------------

namespace {

// The check image kinds a tree can choose. No kind draws from a "utilities"
// strip, so none is made: a list that nothing reads would only cost start-up.
const wchar_t* ResourceName(TCheckImageKind kind) {
    switch (kind) {
    case ckLightCheck: return L"LT_CHECK_LIGHT";
    case ckDarkCheck: return L"LT_CHECK_DARK";
    case ckLightTick: return L"LT_TICK_LIGHT";
    case ckDarkTick: return L"LT_TICK_DARK";
    case ckFlat: return L"LT_FLAT";
    case ckXP: return L"LT_XP";
    default: return nullptr;
    }
}

// A DIB section of 32-bit pixels, top-down, that the caller fills.
struct Dib32 {
    BitmapHandle bitmap;
    uint32_t* bits = nullptr;
    Dib32(int w, int h) {
        void* p = nullptr;
        bitmap = CreateDib32(w, h, &p);
        bits = static_cast<uint32_t*>(p);
    }
};

// The pixels of a bitmap resource as 0x00RRGGBB, top-down.
bool ReadStrip(const wchar_t* name, std::vector<uint32_t>& pixels, int& w, int& h) {
    BitmapHandle bmp(static_cast<HBITMAP>(::LoadImageW(::GetModuleHandleW(nullptr), name, IMAGE_BITMAP, 0, 0,
                                                        LR_CREATEDIBSECTION)));
    if (!bmp) return false;
    BITMAP info{};
    ::GetObjectW(bmp.get(), sizeof info, &info);
    w = info.bmWidth;
    h = info.bmHeight;
    BITMAPINFO bi = Dib32Info(w, h);
    pixels.assign(size_t(w) * size_t(h), 0);
    WindowDC screen(nullptr);
    return ::GetDIBits(screen.get(), bmp.get(), 0, UINT(h), pixels.data(), &bi, DIB_RGB_COLORS) == h;
}

uint32_t DibColor(COLORREF c) { return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c); }

std::unique_ptr<TImageList> LoadStrip(TCheckImageKind kind) {
    std::vector<uint32_t> pixels;
    int w = 0, h = 0;
    if (!ReadStrip(ResourceName(kind), pixels, w, h) || h <= 0) return nullptr;
    if (kind != ckXP) {
        const uint32_t window = DibColor(::GetSysColor(COLOR_WINDOW)), face = DibColor(::GetSysColor(COLOR_BTNFACE)),
                       shadow = DibColor(::GetSysColor(COLOR_BTNSHADOW));
        for (uint32_t& p : pixels) {
            p &= 0xFFFFFF;
            if (p == 0xFFFFFF) p = window;
            else if (p == 0xC0C0C0) p = face;
            else if (p == 0x808080) p = shadow;
        }
    }
    auto list = std::make_unique<TImageList>(nullptr, h, h);
    for (int i = 0; i < w / h; ++i) {
        Dib32 image(h, h);
        for (int y = 0; y < h; ++y)
            std::copy_n(&pixels[size_t(y) * size_t(w) + size_t(i) * size_t(h)], h, image.bits + size_t(y) * size_t(h));
        ::GdiFlush();
        uint32_t corner = image.bits[0];
        list->AddMasked(image.bitmap.get(), TColor(RGB((corner >> 16) & 255, (corner >> 8) & 255, corner & 255)));
    }
    return list;
}

// The system's frame-control pictures; the push buttons come from a strip.
std::unique_ptr<TImageList> DrawSystemList(bool flat, TImageList* buttons) {
    int w = ::GetSystemMetrics(SM_CXMENUCHECK) + 3, h = ::GetSystemMetrics(SM_CYMENUCHECK) + 3;
    auto list = std::make_unique<TImageList>(nullptr, w, h);
    WindowDC screen(nullptr);
    for (int i = -1; i < 24; ++i) {
        BitmapHandle bmp = CreateDib32(w, h);
        MemoryDC dc(screen.get());
        {
            SelectObjectScope select(dc.get(), bmp.get());
            RECT r{0, 0, w, h};
            ::FillRect(dc.get(), &r, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
            if (i >= 0 && i < 20) {
                UINT state = i < 8 ? DFCS_BUTTONRADIO : i < 16 ? DFCS_BUTTONCHECK : DFCS_BUTTON3STATE;
                switch (i % 4) {
                case 1: state |= 0x1000; break;   // DFCS_HOT
                case 2: state |= DFCS_PUSHED; break;
                case 3: state |= DFCS_INACTIVE; break;
                default: break;
                }
                if ((i >= 4 && i < 8) || i >= 12) state |= DFCS_CHECKED;
                if (flat) state |= DFCS_FLAT;
                RECT box{1, 1, w - 2, h - 2};
                ::DrawFrameControl(dc.get(), &box, DFC_BUTTON, state);
            } else if (i >= 20 && buttons) {
                buttons->Draw(dc.get(), (w - buttons->Width()) / 2, (h - buttons->Height()) / 2, i + 1);
            }
        }
        list->AddMasked(bmp.get(), clWhite);
    }
    return list;
}

std::array<std::unique_ptr<TImageList>, ckSystemFlat + 1>& Lists() {
    static std::array<std::unique_ptr<TImageList>, ckSystemFlat + 1> lists;
    return lists;
}

} // namespace

TImageList* CheckImageList(TCheckImageKind kind) {
    if (kind < ckLightCheck || kind > ckSystemFlat || kind == ckCustom) return nullptr;
    auto& lists = Lists();
    if (!lists[kind]) {
        if (kind == ckSystem) lists[kind] = DrawSystemList(false, CheckImageList(ckDarkCheck));
        else if (kind == ckSystemFlat) lists[kind] = DrawSystemList(true, CheckImageList(ckFlat));
        else lists[kind] = LoadStrip(kind);
    }
    return lists[kind].get();
}

// Trees look their list up at each paint, so dropping the lists is enough.
void RebuildCheckImageLists() {
    for (auto& list : Lists()) list.reset();
}

int CheckImageIndex(TCheckType type, TCheckState state, bool enabled, bool hot) {
    if (type == ctNone) return -1;
    bool pressed = state == csUncheckedPressed || state == csCheckedPressed || state == csMixedPressed;
    bool mixed = state == csMixedNormal || state == csMixedPressed;
    bool checked = state == csCheckedNormal || state == csCheckedPressed;
    int first;   // first image of the group of four
    if (mixed) first = 17;
    else if (type == ctRadioButton) first = checked ? 5 : 1;
    else if (type == ctButton) first = 21;
    else first = checked ? 13 : 9;
    if (!enabled) return first + 3;
    if (pressed) return first + 2;
    return hot ? first + 1 : first;
}

// ---- blending ----------------------------------------------------------------------

namespace {

struct DibView {
    uint8_t* bits = nullptr;
    int width = 0, height = 0;
    bool bottomUp = false;
    uint32_t* Row(int y) const {
        int line = bottomUp ? height - 1 - y : y;
        return reinterpret_cast<uint32_t*>(bits + size_t(line) * size_t(width) * 4);
    }
};

// The system reports a DIB section's height without its sign, so which way
// its rows run is seen from where GDI puts the device pixel (0, 0): in the
// first row of the bits or in the last. Both pixels get their value back.
bool RowsRunBottomUp(HDC dc, const DibView& view) {
    if (view.height < 2) return false;
    ::GdiFlush();
    uint32_t* first = reinterpret_cast<uint32_t*>(view.bits);
    uint32_t* last = reinterpret_cast<uint32_t*>(view.bits + size_t(view.height - 1) * size_t(view.width) * 4);
    uint32_t savedFirst = *first, savedLast = *last;
    uint32_t probe = (savedFirst & 0xFFFFFF) == 0x123456 ? 0x654321 : 0x123456;
    int saved = ::SaveDC(dc);
    ::SetLayout(dc, 0);
    ::SetMapMode(dc, MM_TEXT);
    ::SetWindowOrgEx(dc, 0, 0, nullptr);
    ::SetViewportOrgEx(dc, 0, 0, nullptr);
    ::SelectClipRgn(dc, nullptr);
    ::SetPixelV(dc, 0, 0, RGB(probe >> 16 & 255, probe >> 8 & 255, probe & 255));
    ::GdiFlush();
    bool bottomUp = (*first & 0xFFFFFF) != probe;
    *first = savedFirst;
    *last = savedLast;
    ::RestoreDC(dc, saved);
    return bottomUp;
}

bool ViewOf(HDC dc, DibView& view) {
    DIBSECTION ds{};
    HGDIOBJ bmp = ::GetCurrentObject(dc, OBJ_BITMAP);
    if (!bmp || ::GetObjectW(bmp, sizeof ds, &ds) != sizeof ds || ds.dsBm.bmBitsPixel != 32 || !ds.dsBm.bmBits)
        return false;
    view.bits = static_cast<uint8_t*>(ds.dsBm.bmBits);
    view.width = ds.dsBm.bmWidth;
    view.height = ds.dsBm.bmHeight;
    view.bottomUp = RowsRunBottomUp(dc, view);
    return true;
}

bool& FastPathEnabled() {
    static bool enabled = __builtin_cpu_supports("sse2");
    return enabled;
}

// One row's parameters: per channel the weight of the destination (256 - a)
// and of the other value (a), the other value (a colour) and a bias.
struct RowBlend {
    TBlendMode mode;
    int alpha;          // modes 0, 2, 3
    uint32_t color;     // modes 2, 3: 0x00RRGGBB as stored in the DIB
    int bias;           // modes 0, 1
};

inline uint32_t BlendPixel(uint32_t d, uint32_t s, const RowBlend& b) {
    int a = b.alpha;
    uint32_t other = s;
    int bias = b.bias;
    if (b.mode == bmPerPixelAlpha) a = int(s >> 24);
    if (b.mode == bmMasterAlpha || b.mode == bmConstantAlphaAndColor) {
        other = b.color;
        bias = 0;
    }
    uint32_t out = d & 0xFF000000u;   // the alpha byte stays
    for (int shift = 0; shift < 24; shift += 8) {
        int dc = int((d >> shift) & 255), oc = int((other >> shift) & 255);
        int v = ((dc * (256 - a) + oc * a) >> 8) + bias;
        out |= uint32_t(std::clamp(v, 0, 255)) << shift;
    }
    return out;
}

void BlendRowPlain(uint32_t* d, const uint32_t* s, int count, const RowBlend& b) {
    for (int i = 0; i < count; ++i) d[i] = BlendPixel(d[i], s ? s[i] : 0, b);
}

// Two pixels per step in 16-bit lanes: the products are below 65536 and the
// sum is 256 * D + (O - D) * a, so the logical shift equals the plain path's.
__attribute__((target("sse2"))) void BlendRowFast(uint32_t* d, const uint32_t* s, int count, const RowBlend& b) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i full = _mm_set1_epi16(256);
    const __m128i colorMask = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
    bool perPixel = b.mode == bmPerPixelAlpha;
    bool withColor = b.mode == bmMasterAlpha || b.mode == bmConstantAlphaAndColor;
    int bias = withColor ? 0 : b.bias;
    __m128i biasV = _mm_and_si128(_mm_set1_epi16(short(bias)), colorMask);
    __m128i constWeight = _mm_and_si128(_mm_set1_epi16(short(b.alpha)), colorMask);
    __m128i colorV = _mm_unpacklo_epi8(_mm_set1_epi32(int(b.color)), zero);
    int i = 0;
    for (; i + 2 <= count; i += 2) {
        __m128i dv = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(d + i)), zero);
        __m128i ov = withColor ? colorV : _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + i)), zero);
        __m128i w = constWeight;
        if (perPixel) {
            w = _mm_shufflehi_epi16(_mm_shufflelo_epi16(ov, _MM_SHUFFLE(3, 3, 3, 3)), _MM_SHUFFLE(3, 3, 3, 3));
            w = _mm_and_si128(w, colorMask);
        }
        __m128i sum = _mm_add_epi16(_mm_mullo_epi16(dv, _mm_sub_epi16(full, w)), _mm_mullo_epi16(ov, w));
        __m128i v = _mm_add_epi16(_mm_srli_epi16(sum, 8), biasV);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(v, zero));
    }
    if (i < count) BlendRowPlain(d + i, s ? s + i : nullptr, count - i, b);
}

} // namespace

bool BlendFastPathAvailable() { return FastPathEnabled(); }
void SetBlendFastPath(bool enabled) { FastPathEnabled() = enabled && __builtin_cpu_supports("sse2"); }

void BlendRect(HDC source, HDC destination, RECT r, POINT target, TBlendMode mode, int constantAlpha, int bias) {
    if (r.left >= r.right || r.top >= r.bottom) return;
    ::GdiFlush();
    DibView dst, src;
    if (!ViewOf(destination, dst)) return;
    bool needSource = mode == bmConstantAlpha || mode == bmPerPixelAlpha;
    if (needSource && !ViewOf(source, src)) return;
    // Clip to both bitmaps.
    if (r.left < 0) { target.x -= r.left; r.left = 0; }
    if (r.top < 0) { target.y -= r.top; r.top = 0; }
    r.right = std::min<LONG>(r.right, dst.width);
    r.bottom = std::min<LONG>(r.bottom, dst.height);
    if (needSource) {
        if (target.x < 0) { r.left -= target.x; target.x = 0; }
        if (target.y < 0) { r.top -= target.y; target.y = 0; }
        r.right = std::min<LONG>(r.right, r.left + (src.width - target.x));
        r.bottom = std::min<LONG>(r.bottom, r.top + (src.height - target.y));
    }
    if (r.left >= r.right || r.top >= r.bottom) return;
    RowBlend b{mode, 0, 0, 0};
    if (mode == bmMasterAlpha) {
        b.alpha = std::clamp(bias, 0, 256);
        b.color = DibColor(COLORREF(constantAlpha));
    } else if (mode == bmConstantAlphaAndColor) {
        // Constant alpha and a tint, without the source's own alpha: the rows
        // this blends are drawn by GDI, whose alpha bytes are 0, so weighting
        // by them would blend nothing and the selection would not show.
        b.alpha = std::clamp(constantAlpha, 0, 256);
        b.color = DibColor(COLORREF(bias));
    } else {
        b.alpha = std::clamp(constantAlpha, 0, 256);
        b.bias = std::clamp(bias, -255, 255);
    }
    int count = r.right - r.left;
    bool fast = FastPathEnabled();
    for (int y = r.top; y < r.bottom; ++y) {
        uint32_t* d = dst.Row(y) + r.left;
        const uint32_t* s = needSource ? src.Row(target.y + (y - r.top)) + target.x : nullptr;
        if (fast) BlendRowFast(d, s, count, b);
        else BlendRowPlain(d, s, count, b);
    }
}

// ---- wide text -------------------------------------------------------------------------

int WideTextWidth(HDC dc, const std::wstring& text) {
    if (text.empty()) return 0;
    SIZE size{};
    ::GetTextExtentPoint32W(dc, text.data(), int(text.size()), &size);
    return size.cx;
}

int DrawTextWEmulation(HDC dc, const std::wstring& text, RECT& r, UINT flags) {
    std::vector<std::wstring> lines;
    if (flags & DT_SINGLELINE) {
        lines.push_back(text);
    } else {
        size_t start = 0;
        while (true) {
            size_t end = text.find_first_of(L"\r\n", start);
            lines.push_back(text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
            if (end == std::wstring::npos) break;
            start = end + ((text[end] == L'\r' && end + 1 < text.size() && text[end + 1] == L'\n') ? 2 : 1);
        }
    }
    TEXTMETRICW tm{};
    ::GetTextMetricsW(dc, &tm);
    int lineHeight = tm.tmHeight;
    int total = lineHeight * int(lines.size());
    if (flags & DT_CALCRECT) {
        int widest = 0;
        for (const auto& l : lines) widest = std::max(widest, WideTextWidth(dc, l));
        r.right = r.left + widest;
        r.bottom = r.top + total;
        return total;
    }
    UINT align = TA_TOP | TA_LEFT;
    int x = r.left;
    if (flags & DT_RIGHT) {
        align = TA_TOP | TA_RIGHT;
        x = r.right;
    } else if (flags & DT_CENTER) {
        align = TA_TOP | TA_CENTER;
        x = (r.left + r.right) / 2;
    }
    if (flags & DT_RTLREADING) align |= TA_RTLREADING;
    UINT oldAlign = ::SetTextAlign(dc, align);
    int y = r.top;
    if (flags & DT_VCENTER) y = (r.top + r.bottom - total) / 2;
    UINT options = (flags & DT_NOCLIP) ? 0 : ETO_CLIPPED;
    for (const auto& l : lines) {
        ::ExtTextOutW(dc, x, y, options, &r, l.data(), UINT(l.size()), nullptr);
        y += lineHeight;
    }
    ::SetTextAlign(dc, oldAlign);
    return total;
}

std::wstring ShortenWideString(HDC dc, const std::wstring& s, int width, int ellipsisWidth, bool rightToLeft) {
    if (s.empty() || width <= 0) return {};
    if (ellipsisWidth == 0) ellipsisWidth = WideTextWidth(dc, L"...");
    if (width <= ellipsisWidth) return {};
    int space = width - ellipsisWidth;
    // The longest count in [0, length - 1] whose part fits.
    int low = 0, high = int(s.size()) - 1;
    auto part = [&](int n) { return rightToLeft ? s.substr(s.size() - size_t(n)) : s.substr(0, size_t(n)); };
    while (low < high) {
        int mid = (low + high + 1) / 2;
        if (WideTextWidth(dc, part(mid)) <= space) low = mid;
        else high = mid - 1;
    }
    return rightToLeft ? L"..." + part(low) : part(low) + L"...";
}

BITMAPINFO Dib32Info(int width, int height) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    return bi;
}

BitmapHandle CreateDib32(int width, int height, void** bits) {
    BITMAPINFO bi = Dib32Info(width, height);
    void* p = nullptr;
    BitmapHandle bitmap(::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &p, nullptr, 0));
    if (bits) *bits = p;
    return bitmap;
}

// ---- ghosted images ------------------------------------------------------------------------

namespace {
// Past this many kept draws a paint draws the rest through the list.
constexpr size_t MaxGhostedEntries = 64;
} // namespace

TGhostedImageCache::~TGhostedImageCache() {
    if (oldBitmap_) ::SelectObject(scratchDC_->get(), oldBitmap_);
}

bool TGhostedImageCache::ReadPlace(HDC dc, int x, int y, int width, int height) {
    if (!scratchDC_) scratchDC_ = std::make_unique<MemoryDC>(nullptr);
    if (!scratchDC_->get()) return false;
    if (width != width_ || height != height_) {
        void* bits = nullptr;
        BitmapHandle fresh = CreateDib32(width, height, &bits);
        if (!fresh) return false;
        HGDIOBJ previous = ::SelectObject(scratchDC_->get(), fresh.get());
        if (!oldBitmap_) oldBitmap_ = previous;
        scratch_ = std::move(fresh);
        bits_ = static_cast<uint32_t*>(bits);
        width_ = width;
        height_ = height;
    }
    if (!::BitBlt(scratchDC_->get(), 0, 0, width, height, dc, x, y, SRCCOPY)) return false;
    ::GdiFlush();
    return true;
}

void TGhostedImageCache::Draw(const TImageList& images, HDC dc, int x, int y, int index) {
    const int w = images.Width(), h = images.Height();
    // A mirrored DC turns what is read and written: left to the list.
    if (!images.Handle() || index < 0 || index >= images.Count() || w <= 0 || h <= 0 || ::GetLayout(dc) != 0 ||
        !ReadPlace(dc, x, y, w, h)) {
        images.Draw(dc, x, y, index, false);
        return;
    }
    const size_t count = size_t(w) * size_t(h);
    const COLORREF highlight = ::GetSysColor(COLOR_HIGHLIGHT);
    for (const TEntry& entry : entries_) {
        if (entry.List != images.Handle() || entry.Index != index || entry.Highlight != highlight ||
            entry.Background.size() != count ||
            std::memcmp(entry.Background.data(), bits_, count * sizeof(uint32_t)) != 0)
            continue;
        std::memcpy(bits_, entry.Result.data(), count * sizeof(uint32_t));
        ::BitBlt(dc, x, y, w, h, scratchDC_->get(), 0, 0, SRCCOPY);
        return;
    }
    std::vector<uint32_t> background(bits_, bits_ + count);
    images.Draw(dc, x, y, index, false);
    // A clipped draw left some of its place as it was: it is not the image's whole draw.
    RECT visible{};
    int region = ::GetClipBox(dc, &visible);
    bool whole = region == SIMPLEREGION && visible.left <= x && visible.top <= y && visible.right >= x + w &&
                 visible.bottom >= y + h;
    if (!whole || entries_.size() >= MaxGhostedEntries || !ReadPlace(dc, x, y, w, h)) return;
    entries_.push_back({images.Handle(), index, highlight, std::move(background),
                        std::vector<uint32_t>(bits_, bits_ + count)});
}

RECT NormalizeRect(RECT r) {
    if (r.left > r.right) std::swap(r.left, r.right);
    if (r.top > r.bottom) std::swap(r.top, r.bottom);
    return r;
}

COLORREF ColorToSystemValue(TColor color) {
    if (color == clNoColor) return CLR_NONE;
    return ColorToRGB(color);
}

} // namespace krv
