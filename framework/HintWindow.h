// Hints: the popup window that shows one, and the application's hint
// manager that asks a control what to show at a point and shows it.
#pragma once
#include "framework/Window.h"
#include <functional>
#include <memory>
#include <string>

namespace krv {

class TControl;
class THintWindow;

// What the manager and a control agree on before a hint shows.
struct THintInfo {
    TControl* HintControl = nullptr;
    POINT CursorPos{};        // client coordinates of the control
    POINT HintPos{};          // screen position of the hint's top-left corner
    RECT CursorRect{};        // client area in which the hint stays up
    int HintMaxWidth = 0;
    std::wstring HintStr;
    // Makes the window that shows the hint (the plain one when empty).
    std::function<std::unique_ptr<THintWindow>()> HintWindowClass;
    void* HintData = nullptr;
};

// A top-most popup without activation, painted by its class.
class THintWindow : public TWindow {
public:
    THintWindow();
    ~THintWindow() override;
    // The size the hint needs (left and top 0); empty when nothing is to show.
    virtual RECT CalcHintRect(int maxWidth, const std::wstring& hint, void* data);
    // Shows the hint at Rect (screen coordinates).
    virtual void ActivateHint(RECT rect, const std::wstring& hint);
    virtual void ActivateHintData(RECT rect, const std::wstring& hint, void* data);
    virtual void ReleaseHandle();
    bool Visible() const { return handle_ && ::IsWindowVisible(handle_); }
    const std::wstring& Caption() const { return caption_; }
    // The screen's hint font (the system's status font).
    static HFONT HintFont();

protected:
    // Makes the window now; Style and ExStyle are its creation styles.
    void HandleNeeded();
    virtual void Paint(HDC dc);
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    DWORD Style = WS_POPUP | WS_BORDER;
    DWORD ExStyle = WS_EX_TOOLWINDOW | WS_EX_TOPMOST;
    std::wstring caption_;
};

// Shows the hint of the control under the mouse after a pause and hides it
// when the mouse leaves the cursor rectangle or a button or key is pressed.
class THintManager {
public:
    THintManager();
    ~THintManager();
    // The control's answer: 0 shows a hint with the filled-in information.
    using THintShow = std::function<int(THintInfo& info)>;
    unsigned HintPause = 500;
    // The mouse is at Client over the control: the hint comes after the pause
    // (HintPause unless the control asks for its own, 0 for at once).
    void MouseMoved(TControl* control, HWND wnd, POINT client, THintShow hintShow, int pause = -1);
    // Asks the control now and shows its hint; answers whether one shows.
    bool ShowHintAt(TControl* control, HWND wnd, POINT client, const THintShow& hintShow);
    // Hides the hint and forgets the control it was for.
    void CancelHint();
    THintWindow* HintWindow() const { return window_.get(); }
    // The control the hint shown or pending is for.
    TControl* HintControl() const { return control_; }

private:
    std::unique_ptr<TMessageWindow> timer_;
    std::unique_ptr<THintWindow> window_;
    TControl* control_ = nullptr;
    HWND wnd_ = nullptr;
    POINT pending_{};
    RECT cursorRect_{};
    THintShow hintShow_;
};

THintManager& HintManager();

} // namespace krv
