// A vertical scroll bar that paints itself, so its colours can follow the
// list it scrolls and its owner can paint any part. With an owner control
// it never moves itself: it sends the owner WM_VSCROLL and the owner sets
// Position; without one it scrolls itself.
#pragma once
#include "framework/Controls.h"
#include "framework/Themes.h"
#include <functional>
#include <memory>

namespace krv {

enum TScrollOption : unsigned { soThemeAware = 1 };
using TScrollOptions = unsigned;
enum TScrollPaintCycle { pcBackground, pcScrollUp, pcScrollDown, pcThumb };
enum TScrollPaintState { psNormal, psHot, psPressed, psScrolling, psDisabled };

// The parts of the bar a point can fall on.
enum TScrollHitPart { shNone, shUpButton, shDownButton, shPageUp, shPageDown, shThumb };

// Where the parts of a bar of a given size lie and how pixels and positions
// map onto each other. Max is the property's value (the stored maximum less
// the page size).
struct TScrollBarMetrics {
    TScrollBarMetrics(int width, int height, int buttonHeight, int minThumb, int min, int max, int pageSize);
    int Width, Height, Min, Max, PageSize;
    int ButtonHeight;    // shrinks when the bar is lower than two buttons
    int TrackTop, TrackLength;
    int ThumbLength;     // 0 when the track has no room for a thumb

    int PixelToPosition(int y) const;
    int PositionToPixel(int position) const;
    RECT UpButton() const { return RECT{0, 0, Width, ButtonHeight}; }
    RECT DownButton() const { return RECT{0, Height - ButtonHeight, Width, Height}; }
    RECT Track() const { return RECT{0, TrackTop, Width, TrackTop + TrackLength}; }
    RECT Thumb(int position) const;
    RECT PageUp(int position) const;
    RECT PageDown(int position) const;
    TScrollHitPart HitTest(int x, int y, int position) const;
};

class TCustomOwnerDrawScrollbar;

// Setting a colour rebuilds the background pattern and repaints the bar.
class TScrollBarColors {
public:
    explicit TScrollBarColors(TCustomOwnerDrawScrollbar* bar);
    TColor ThumbButton() const { return thumbButton_; }
    TColor Background() const { return background_; }
    TColor BackgroundBlend() const { return backgroundBlend_; }
    TColor PageScrollHot() const { return pageScrollHot_; }
    void SetThumbButton(TColor c) { Set(thumbButton_, c); }
    void SetBackground(TColor c) { Set(background_, c); }
    void SetBackgroundBlend(TColor c) { Set(backgroundBlend_, c); }
    void SetPageScrollHot(TColor c) { Set(pageScrollHot_, c); }
private:
    void Set(TColor& slot, TColor c);
    TCustomOwnerDrawScrollbar* bar_;
    TColor thumbButton_, background_, backgroundBlend_ = clWhite, pageScrollHot_ = clBlack;
};

using TOnScrollCustomPaint =
    std::function<void(TCustomOwnerDrawScrollbar* sender, TScrollPaintCycle paintCycle,
                       TScrollPaintState scrollPaintState, const RECT& paintRect, TCanvas& canvas, bool& handled)>;

class TCustomOwnerDrawScrollbar : public TCustomControl {
public:
    explicit TCustomOwnerDrawScrollbar(TComponent* owner = nullptr);
    ~TCustomOwnerDrawScrollbar() override;

    TScrollBarColors& Colors() { return colors_; }
    bool Flat() const { return flat_; }
    void SetFlat(bool flat);
    int LargeChange = 1;
    int SmallChange = 1;
    int Max() const { return storedMax_ - pageSize_; }
    void SetMax(int max);
    int Min() const { return min_; }
    void SetMin(int min);
    int PageSize() const { return pageSize_; }
    void SetPageSize(int pageSize);
    int Position() const { return position_; }
    void SetPosition(int position);
    TScrollOptions Options() const { return options_; }
    void SetOptions(TScrollOptions options);
    // Milliseconds between repeats while a button or the track is held.
    UINT RepeatInterval = 50;

    TOnScrollCustomPaint OnScrollCustomPaint;

    TScrollBarMetrics Metrics();
    // The part under the mouse button while it is held (shNone otherwise).
    TScrollHitPart PressedPart() const { return pressed_; }
    bool MouseInside() const { return hot_; }

    // Called by Colors when a colour changes.
    void ColorsChanged();

protected:
    void Paint() override;
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseMove(TShiftState shift, int x, int y) override;
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
    // Asks OnScrollCustomPaint; answers whether the owner painted the part.
    virtual bool DoScrollCustomPaint(TScrollPaintCycle cycle, TScrollPaintState state, const RECT& rect);
    // Sends the owner a scroll code, or scrolls the bar itself without one.
    virtual void DoScroll(int code, int trackPosition = 0);

private:
    void ScrollPart(TScrollHitPart part);
    void EndPress();
    void BuildPattern();
    TScrollPaintState StateOf(TScrollHitPart part) const;
    void PaintButton(TScrollPaintCycle cycle, const RECT& r);
    void PaintTrack(const TScrollBarMetrics& m);
    void PaintThumb(const RECT& r);
    TWinControl* OwnerControl() const;

    TScrollBarColors colors_;
    bool flat_ = false;
    int min_ = 0, storedMax_ = 101, pageSize_ = 1, position_ = 0;
    TScrollOptions options_ = soThemeAware;
    TScrollHitPart pressed_ = shNone;
    TScrollHitPart hotPart_ = shNone;
    bool hot_ = false;
    bool dragging_ = false;
    int dragOffset_ = 0, lastTrack_ = 0;
    BitmapHandle pattern_;
    BrushHandle patternBrush_;
    TTheme theme_;
};

class TOwnerDrawScrollbar : public TCustomOwnerDrawScrollbar {
public:
    using TCustomOwnerDrawScrollbar::TCustomOwnerDrawScrollbar;
};

} // namespace krv
