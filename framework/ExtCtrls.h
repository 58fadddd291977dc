// Speed buttons (flat buttons with a glyph from an image list, grouped so one
// of a group stays down) and the splitter that resizes its aligned neighbour.
#pragma once
#include "framework/Controls.h"
#include <functional>

namespace krv {

class TImageList;

class TSpeedButton : public TCustomControl {
public:
    explicit TSpeedButton(TComponent* owner = nullptr);
    // Buttons of the same non-zero group on the same parent release each other.
    int GroupIndex = 0;
    bool AllowAllUp = false;
    bool Down() const { return down_; }
    void SetDown(bool down);
    TImageList* Images = nullptr;
    int ImageIndex() const { return imageIndex_; }
    void SetImageIndex(int index);
    void SetCaption(const std::string& text) override;
    std::string Caption() const override { return caption_; }
    void Click() override;
protected:
    void Paint() override;
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
private:
    bool down_ = false;
    bool pressing_ = false;
    int imageIndex_ = -1;
};

class TSplitter : public TCustomControl {
public:
    explicit TSplitter(TComponent* owner = nullptr);
    int MinSize = 30;
    // The neighbour's proposed new width (or height); clear accept to refuse it.
    std::function<void(TObject* sender, int& newSize, bool& accept)> OnCanResize;
    TNotifyEvent OnMoved;
    // The control this splitter resizes: the visible sibling with the same
    // alignment that touches it, or null.
    TControl* ResizeControl() const;
    // Resizes that control as a drag of delta pixels would.
    bool MoveBy(int delta);
protected:
    virtual bool DoCanResize(int& newSize);
    void CreateParams(TCreateParams& params) override;
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseMove(TShiftState shift, int x, int y) override;
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
private:
    bool Horizontal() const { return align_ == alLeft || align_ == alRight; }
    bool dragging_ = false;
    POINT start_{};
};

} // namespace krv
