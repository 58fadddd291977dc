// The tree's own drag image: a picture blended over the screen while a drag
// runs, used when the system cannot show one. It keeps the screen under the
// picture so that moving and hiding restore exactly what was there.
#pragma once
#include "framework/Graphics.h"
#include "framework/Handle.h"
#include <ole2.h>
#include <cstdint>
#include <vector>

namespace krv {

class TBaseLazyTree;

enum TLTDragImageState : unsigned { disHidden = 1, disSystemSupport = 2, disInDrag = 4, disPrepared = 8 };
enum TLTDragMoveRestriction { dmrNone, dmrHorizontalOnly, dmrVerticalOnly };

class TLTDragImage {
public:
    explicit TLTDragImage(TBaseLazyTree* owner) : owner_(owner) {}
    TLTDragImage(const TLTDragImage&) = delete;
    TLTDragImage& operator=(const TLTDragImage&) = delete;
    ~TLTDragImage();

    // Image: a bitmap of the picture (copied); positions in screen
    // coordinates. With the system helper and a data object the system
    // shows the picture and this object draws nothing.
    void BeginImageDrag(HBITMAP image, POINT imagePosition, POINT hotSpot, IDataObject* dataObject);
    void EndImageDrag();
    void ShowImage();
    void HideImage();
    // Follows the hot spot to P; answers whether the picture moved.
    bool MoveImageTo(POINT p, bool forceRepaint = false);
    bool WouldMove(POINT p) const;
    // The tree painted R (its client coordinates) anew under the picture:
    // the saved screen there takes the new paint.
    void RefreshSavedBackground(TBaseLazyTree* tree, RECT r, HRGN visibleRegion, bool captureNCArea,
                                bool reshowDragImage);
    // The picture's screen rectangle while it is shown, else empty.
    RECT ImageScreenRect() const;
    bool Visible() const { return (states_ & (disHidden | disSystemSupport | disInDrag)) == disInDrag; }
    unsigned States() const { return states_; }
    POINT ImagePos() const { return imagePos_; }

    uint8_t Transparency = 128;
    int8_t BiasBefore = 0, BiasAfter = 0;
    bool FadeOut = false;
    TLTDragMoveRestriction AxisLock = dmrNone;
    TColor KeyColor = clNoColor;

private:
    POINT Delta(POINT p) const;
    // The picture blended over Background into Target (all of the image's size).
    void Blend(const uint32_t* background, uint32_t* target) const;
    void CaptureScreen(RECT r, std::vector<uint32_t>& pixels) const;
    void PutScreen(RECT r, const std::vector<uint32_t>& pixels) const;
    void DrawAt(POINT pos);

    TBaseLazyTree* owner_;
    SIZE size_{};
    std::vector<uint32_t> image_, alpha_, background_;
    POINT imagePos_{}, lastPos_{};
    unsigned states_ = 0;
};

} // namespace krv
