// Drawing services the tree's painting shares: the check-image lists, the
// image index of a node's check, alpha blending of 32-bit bitmaps, wide text
// output for systems without it, and shortening a text with an ellipsis.
#pragma once
#include "framework/ComCtrls.h"
// ThemesActive: the tree draws its own look either way; tsUseThemes only
// tells the parts that follow the system's style.
#include "framework/Themes.h"
#include "tree/core/LazyTreeTypes.h"
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace krv {

// The shared image list of a kind (ckCustom: none). Made on first use on the
// user-interface thread; the resource strips have their white, silver and
// grey mapped to the window, face and shadow colours (except ckXP).
TImageList* CheckImageList(TCheckImageKind kind);
// Drops the lists after the system colours changed; they are made again
// on next use. Trees never keep a list pointer across paints.
void RebuildCheckImageLists();

// The index into a check-image list for a check type and state: -1 for
// ctNone; "enabled" is node and tree enabled, "hot" the node under the mouse.
int CheckImageIndex(TCheckType type, TCheckState state, bool enabled, bool hot);

// Blending a rectangle of one 32-bit DIB section into another.
enum TBlendMode {
    bmConstantAlpha,            // D += (S - D) * ConstantAlpha / 256 + Bias
    bmPerPixelAlpha,            // the same with the source pixel's alpha
    bmMasterAlpha,              // D blended with the colour ConstantAlpha at alpha Bias
    bmConstantAlphaAndColor     // D blended with the colour Bias at alpha ConstantAlpha
};
// R is in destination coordinates, Target the matching top-left in the
// source. Both DCs must have 32-bit DIB sections selected. Every mode is
// computed in whole numbers with the same rounding on both paths, so the
// packed-integer path gives exactly the pixels of the plain one.
void BlendRect(HDC source, HDC destination, RECT r, POINT target, TBlendMode mode, int constantAlpha, int bias);
// Whether the processor's packed-integer path is used; tests switch it off
// to compare both paths.
bool BlendFastPathAvailable();
void SetBlendFastPath(bool enabled);

// DrawTextW for the flags the tree uses, built on the wide text-out calls
// that exist everywhere: DT_CALCRECT, DT_SINGLELINE, DT_NOCLIP,
// DT_RTLREADING, DT_RIGHT, DT_CENTER, DT_VCENTER.
int DrawTextWEmulation(HDC dc, const std::wstring& text, RECT& r, UINT flags);
// The width of a text in the DC's font.
int WideTextWidth(HDC dc, const std::wstring& text);

// The longest part of S that fits Width with "..." (leading part for left to
// right, trailing for right to left). Empty when S is empty or the width
// cannot hold more than the ellipsis; EllipsisWidth 0 measures "...".
std::wstring ShortenWideString(HDC dc, const std::wstring& s, int width, int ellipsisWidth = 0,
                               bool rightToLeft = false);

// The header of a top-down 32-bit bitmap of the given size, and such a
// bitmap: pictures drawn into it look the same whatever the screen's depth.
BITMAPINFO Dib32Info(int width, int height);
BitmapHandle CreateDib32(int width, int height, void** bits = nullptr);

// Images drawn ghosted (blended with the highlight colour) during one
// paint. The image list's blend is slow, and most rows show the same few
// images over the same background: a draw over a background already seen
// with the same image copies the pixels the list drew then. Only draws that
// were wholly visible are kept, so a hit is exactly the list's own draw.
class TGhostedImageCache {
public:
    TGhostedImageCache() = default;
    ~TGhostedImageCache();
    TGhostedImageCache(const TGhostedImageCache&) = delete;
    TGhostedImageCache& operator=(const TGhostedImageCache&) = delete;
    // As images.Draw(dc, x, y, index, false).
    void Draw(const TImageList& images, HDC dc, int x, int y, int index);

private:
    struct TEntry {
        HIMAGELIST List;
        int Index;
        COLORREF Highlight;
        std::vector<uint32_t> Background, Result;
    };
    // The pixels of the image's place in dc into the scratch bitmap.
    bool ReadPlace(HDC dc, int x, int y, int width, int height);
    std::vector<TEntry> entries_;
    // Made at the first ghosted draw: most paints have none.
    std::unique_ptr<MemoryDC> scratchDC_;
    BitmapHandle scratch_;
    HGDIOBJ oldBitmap_ = nullptr;
    uint32_t* bits_ = nullptr;
    int width_ = 0, height_ = 0;
};

RECT NormalizeRect(RECT r);
// System colours resolved; clNoColor becomes CLR_NONE.
COLORREF ColorToSystemValue(TColor color);

} // namespace krv
