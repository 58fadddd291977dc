// The drop-down window of the path combo box: a top-most pop-up that runs
// its own message loop while it is open (RollDown returns only once it has
// rolled up), with an owner-drawn scroll bar and an optional size grip. The
// placement, the layout of its children and the grip's corner are plain
// functions so they can be checked without a screen.
#pragma once
#include "shell/combo/OwnerDrawScrollbar.h"
#include "tree/core/LazyTreeOptions.h"
#include "framework/Controls.h"
#include <commctrl.h>
#include <functional>
#include <memory>

namespace krv {

enum TPopupOption { poAnimated, poEnabled, poPersistentSizing, poSizeable, poRespectSysAnimationFlag, poThemeAware };
using TPopupOptions = TEnumSet<TPopupOption, uint8_t>;
constexpr TPopupOptions DefaultPopupOptions = {poEnabled, poRespectSysAnimationFlag, poThemeAware};

// Tells a drop-down window to bring its scroll bar in line with its tree.
constexpr UINT WM_DROPDOWNUPDATESCROLLBAR = WM_APP + 10;

// Where a drop-down of the wanted height goes for an anchor (screen
// coordinates): below when it fits, else above, else on the side with more
// room, cut to the screen edge.
struct TDropDownPlacement {
    int Left, Top, Height;
    bool Above;
};
TDropDownPlacement PlaceDropDown(const RECT& anchor, int height, int screenHeight);

// The scroll bar's and the grip's rectangles in a window of outer size w x h
// (client coordinates inside the one-pixel border).
struct TDropDownLayout {
    RECT ScrollBar, Grip;
};
TDropDownLayout LayoutDropDown(int w, int h, int scrollWidth, int gripHeight, bool openedBelow, bool rightToLeft);

// The grip's triangle: the right angle at the window's outer corner.
enum TGripCorner { gcBottomRight, gcTopRight, gcBottomLeft, gcTopLeft };
TGripCorner GripCorner(bool openedBelow, bool rightToLeft);
void GripTriangle(const RECT& grip, TGripCorner corner, POINT points[3]);

class TDropDownWnd;

// The size grip in a corner of the drop-down; dragging it resizes the window.
class TSizeGrabber : public TCustomControl {
public:
    explicit TSizeGrabber(TDropDownWnd* dropDown);
    TDropDownWnd* DropDown() const { return dropDown_; }
    // Draws the grip into dc at r (the grip paints itself, or the tree asks for it).
    void PaintGrip(HDC dc, const RECT& r);
    // The triangle's region is set again for the window's corner.
    void UpdateRegion();
protected:
    void Paint() override;
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseMove(TShiftState shift, int x, int y) override;
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
private:
    TDropDownWnd* dropDown_;
    bool dragging_ = false;
    POINT start_{};
    RECT startBounds_{};
};

class TDropDownWnd : public TWinControl {
public:
    explicit TDropDownWnd(TComponent* owner = nullptr);
    ~TDropDownWnd() override;

    // Opens at alignTo (at control without one) and returns once rolled up.
    void RollDown(TWinControl* control, TControl* alignTo = nullptr, const SIZE* size = nullptr);
    void RollUp(bool selected);

    int DropDownCount() const { return dropDownCount_; }
    void SetDropDownCount(int value);
    TPopupOptions Options() const { return options_; }
    void SetOptions(TPopupOptions value) { options_ = value; }
    int AnimationSpeed = 200;
    unsigned AutoScrollTimeFast = 10, AutoScrollTimeSlow = 200;

    bool DroppedDown() const { return droppedDown_; }
    bool OpenedAbove() const { return above_; }
    bool OpenedBelow() const { return below_; }
    bool Sized() const { return sized_; }
    // Whether the last roll-up chose an entry.
    bool LastSelected() const { return lastSelected_; }
    bool RightToLeftScrollbar() const { return rtlScrollbar_; }
    bool ScrollingUp() const { return scrollingUp_; }
    bool ScrollingDown() const { return scrollingDown_; }
    bool FastTimer() const { return fastTimer_; }
    bool SlowTimer() const { return slowTimer_; }
    TWinControl* OwnerControl() const { return ownerControl_; }
    TWinControl* FocusControl() const { return focusControl_; }
    TOwnerDrawScrollbar& ScrollBar() { return *scrollBar_; }
    TSizeGrabber& Grabber() { return *grabber_; }
    // The grip's height: the system scroll-bar arrow's with poSizeable, else 0.
    int GripHeight() const;

    std::function<void(TObject* sender, bool& allow)> OnRollDown;
    std::function<void(TObject* sender, bool selected)> OnRollUp;
    // Runs while the window is placed off the screen before it shows.
    TNotifyEvent OnRollDownInit;

    // Auto-scroll for a mouse at y in the tree's client coordinates (tree height h).
    void AutoScrollAt(int y, int treeHeight);
    void StopAutoScroll();
    virtual void UpdateScrollbar() {}

protected:
    virtual void DoRollDown(bool& allow);
    virtual void DoRollDownInit();
    virtual void DoRollUp(bool selected);
    virtual void HandleKey(MSG& message, bool& handled);
    virtual int RowHeight() { return 17; }
    virtual void LayoutChildren(int width, int height);
    // Whether the window is made with its scroll bar on the left.
    virtual bool ScrollBarOnLeft() const { return false; }
    void SetFocusControl(TWinControl* control) { focusControl_ = control; }
    // One auto-scroll step on the tree (0 line up, 1 line down).
    virtual void AutoScrollStep(int code) { (void)code; }

    void CreateParams(TCreateParams& params) override;
    void CreateHandleDone() override;
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void PlaceAndInit(TControl* alignTo, const SIZE* size);
    void Animate();
    void AnimateByBitmap(bool upward);
    void RunLoop();
    void PrintChildren(HDC dc, LPARAM flags);

    TWinControl* ownerControl_ = nullptr;
    TWinControl* focusControl_ = nullptr;
    int dropDownCount_ = 8;
    TPopupOptions options_ = DefaultPopupOptions;
    bool droppedDown_ = false, above_ = false, below_ = false, sized_ = false;
    bool scrollingUp_ = false, scrollingDown_ = false, fastTimer_ = false, slowTimer_ = false;
    bool rtlScrollbar_ = false;
    bool lastSelected_ = false;
    TOwnerDrawScrollbar* scrollBar_;
    TSizeGrabber* grabber_;
};

} // namespace krv
