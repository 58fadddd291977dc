// The window that shows a tree's hints and tooltips in the tree's own look,
// with an optional fade or slide animation.
#pragma once
#include "tree/core/LazyTrees.h"

namespace krv {

class TLazyTreeHintWindow : public THintWindow {
public:
    TLazyTreeHintWindow();
    ~TLazyTreeHintWindow() override;
    RECT CalcHintRect(int maxWidth, const std::wstring& hint, void* data) override;
    void ActivateHint(RECT rect, const std::wstring& hint) override;
    void ActivateHintData(RECT rect, const std::wstring& hint, void* data) override;
    const TLazyTreeHintData& HintData() const { return data_; }
    // Rect moved back onto Desktop: up or left to end at its far edge, but
    // never past its top or left edge.
    static RECT KeepOnDesktop(RECT rect, const RECT& desktop);
    static RECT Desktop();

protected:
    // Draws the hint, animation step Step of StepSize (StepSize 0: the final picture).
    virtual void InternalPaint(int step, int stepSize);
    void Paint(HDC dc) override;
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    bool Animate(int step, int stepSize);
    // The hint's own rectangle, without its shadow.
    RECT HintRect(int maxWidth, const std::wstring& hint, void* data);
    void PaintShadow(HDC dc, int shadow);
    void Forget();
    TLazyTreeHintData data_;
    THintAnimationType animation_ = hatNone;
    int width_ = 0, height_ = 0;
    // The room right of and below the hint that its shadow takes (0: none;
    // set when CalcHintRect sized the hint).
    int shadow_ = 0;
    BitmapHandle background_, buffer_, target_;
    // Ended first when the window goes: a running animation then stops.
    TLifetime lifetime_;
};

} // namespace krv
