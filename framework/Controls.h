// Controls: the properties every control shares (parent, bounds, alignment,
// visibility, caption, font) and the windowed control that owns a window,
// lays out its children and hands each child the notifications its parent gets
// (WM_COMMAND, WM_NOTIFY, WM_CTLCOLOR*, WM_DRAWITEM come back to the child's
// object as CN... calls).
//
// A control gets its window on demand (HandleNeeded): its parent's window, or
// a hidden parking window while it has no parent. Properties set before that
// are kept and applied when the window is made.
#pragma once
#include "framework/Classes.h"
#include "framework/Graphics.h"
#include "framework/Window.h"
#include <functional>
#include <string>
#include <vector>

namespace krv {

// Modal results a button hands to its form.
enum TModalResult : int { mrNone = 0, mrOk = IDOK, mrCancel = IDCANCEL, mrAbort = IDABORT, mrRetry = IDRETRY,
                          mrIgnore = IDIGNORE, mrYes = IDYES, mrNo = IDNO };

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum TAnchorKind : unsigned { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };
using TAnchors = unsigned;
enum TMouseButton { mbLeft, mbRight, mbMiddle };
// Shift state bits of mouse and key events.
enum TShiftStateFlag : unsigned { ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32, ssDouble = 64 };
using TShiftState = unsigned;
TShiftState KeyboardShiftState();
// The keys and buttons a mouse message's wParam reports, with Alt read from the keyboard.
TShiftState MouseShiftState(WPARAM wParam);
// The other way: MK_ bits of a shift state (Alt as MK_ALT), as drop targets take them.
DWORD ShiftStateKeys(TShiftState shift);
// Line index of an edit or rich-edit control as the control gives it (empty
// past the last line).
std::string EditControlLine(HWND edit, int index);

using TNotifyEvent = std::function<void(TObject* sender)>;
using TMouseEvent = std::function<void(TObject* sender, TMouseButton button, TShiftState shift, int x, int y)>;
using TMouseMoveEvent = std::function<void(TObject* sender, TShiftState shift, int x, int y)>;
using TKeyEvent = std::function<void(TObject* sender, WORD& key, TShiftState shift)>;
using TKeyPressEvent = std::function<void(TObject* sender, char& key)>;
// A wheel turn over a control (delta in 120ths of a notch, mousePos on the screen).
using TMouseWheelEvent =
    std::function<void(TObject* sender, TShiftState shift, int wheelDelta, POINT mousePos, bool& handled)>;

// What a control asks for when its window is made.
struct TCreateParams {
    std::string WinClassName;     // a standard class or one of ours
    bool OwnClass = true;         // true: registered by us, our procedure from the start
    // A Unicode window (its text is UTF-16 inside), of the wide class
    // "<WinClassName>.UnicodeClass" over the standard class's procedure, or
    // over the default one for a class of ours; WideCaption is its first text.
    bool Unicode = false;
    std::wstring WideCaption;
    UINT ClassStyle = CS_DBLCLKS;
    HBRUSH ClassBackground = nullptr;
    std::string Caption;
    DWORD Style = 0;
    DWORD ExStyle = 0;
    int X = 0, Y = 0, Width = 0, Height = 0;
    HWND WndParent = nullptr;
};

class TWinControl;
class TDragObject;

class TControl : public TComponent {
public:
    explicit TControl(TComponent* owner = nullptr);
    ~TControl() override;

    TWinControl* Parent() const { return parent_; }
    virtual void SetParent(TWinControl* parent);

    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
    void SetTop(int v) { SetBounds(left_, v, width_, height_); }
    void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
    void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
    virtual void SetBounds(int left, int top, int width, int height);
    RECT BoundsRect() const { return RECT{left_, top_, left_ + width_, top_ + height_}; }

    TAlign Align() const { return align_; }
    void SetAlign(TAlign align);
    TAnchors Anchors() const { return anchors_; }
    void SetAnchors(TAnchors anchors) { anchors_ = anchors; }

    bool Visible() const { return visible_; }
    virtual void SetVisible(bool visible);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    bool Enabled() const { return enabled_; }
    virtual void SetEnabled(bool enabled);

    // The caption of buttons and labels, the text of edits.
    virtual std::string Caption() const { return caption_; }
    virtual void SetCaption(const std::string& text);
    std::string Text() const { return Caption(); }
    void SetText(const std::string& text) { SetCaption(text); }

    TFont& Font() { return font_; }
    TColor Color() const { return color_; }
    virtual void SetColor(TColor color);

    std::string Hint;
    bool ShowHint = false;
    // The help topic of the control (0: the parent's).
    int HelpContext = 0;

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TNotifyEvent OnResize;
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;
    TMouseMoveEvent OnMouseMove;

    // What a user's click does (buttons press, check boxes toggle first).
    virtual void Click();

    // The start of this control's framework drag (Drag.h): a handler may
    // supply a drag object of its own (it stays the handler's).
    std::function<void(TObject* sender, TDragObject*& dragObject)> OnStartDrag;

protected:
    virtual void DoStartDrag(TDragObject*& dragObject);
    // This control's framework drag ended at a screen point: dropped on
    // target, or cancelled or taken by no control (target null).
    virtual void DragEnded(TObject* /*target*/, POINT /*screen*/) {}
    virtual void DoClick();
    virtual void DoDblClick();
    virtual void DoResize();
    virtual void FontChanged() {}
    // Called when the parent changes size (anchors) and before it lays out.
    void ApplyAnchors(int deltaWidth, int deltaHeight);
    // Moves the control without re-laying out the parent (used by the layout itself).
    virtual void UpdateBounds(int left, int top, int width, int height);

    TWinControl* parent_ = nullptr;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    TAlign align_ = alNone;
    TAnchors anchors_ = akLeft | akTop;
    bool visible_ = true;
    bool enabled_ = true;
    std::string caption_;
    TFont font_;
    TColor color_ = clBtnFace;

    friend class TWinControl;
    friend class TControlDrag;
};

class TWinControl : public TControl, public TWindow {
public:
    explicit TWinControl(TComponent* owner = nullptr);
    ~TWinControl() override;

    // The window, made now if it does not exist yet.
    HWND HandleNeeded();
    using TWindow::Handle;
    using TWindow::HandleAllocated;

    void SetParent(TWinControl* parent) override;
    int ControlCount() const { return static_cast<int>(controls_.size()); }
    TControl* Controls(int i) const { return controls_.at(static_cast<size_t>(i)); }
    // The child control whose window is wnd (searching the whole subtree).
    TWinControl* FindChildControl(HWND wnd) const;

    void SetBounds(int left, int top, int width, int height) override;
    void SetVisible(bool visible) override;
    void SetEnabled(bool enabled) override;
    std::string Caption() const override;
    void SetCaption(const std::string& text) override;
    void SetColor(TColor color) override;

    // The client area in the control's own coordinates.
    RECT ClientRect();
    int ClientWidth();
    int ClientHeight();
    void SetClientSize(int width, int height);
    // Lays out the aligned and anchored children again.
    void Realign();
    void Invalidate();
    void Update();
    void Repaint() { Invalidate(); Update(); }

    bool TabStop = false;
    // While hidden, the control's window (and its children's) is not made
    // with its parent's but when it is first shown or asked for: a page
    // nobody opens costs no windows.
    bool HandleWhenShown = false;
    // No window only because a hidden container above holds it back while
    // the form's window exists.
    bool WindowHeldBack() const;
    bool Focused() const;
    virtual bool CanFocus() const;
    virtual void SetFocus();

    TKeyEvent OnKeyDown;
    TKeyEvent OnKeyUp;
    TKeyPressEvent OnKeyPress;
    TMouseWheelEvent OnMouseWheel;
    TNotifyEvent OnEnter;
    TNotifyEvent OnExit;

    // Notifications the parent window got for this control. Answer true when handled.
    virtual bool CNCommand(WORD code, LRESULT& result);
    virtual bool CNNotify(NMHDR* header, LRESULT& result);
    virtual bool CNCtlColor(HDC dc, HBRUSH& brush);
    virtual bool CNDrawItem(DRAWITEMSTRUCT* item);
    virtual bool CNMeasureItem(MEASUREITEMSTRUCT* item);

protected:
    virtual void CreateParams(TCreateParams& params);
    // Makes the window from CreateParams and applies the kept properties.
    virtual void CreateWnd();
    // Runs once the window exists (controls push their kept data into it).
    virtual void CreateHandleDone() {}
    // The part of the client area the aligned children share.
    virtual void AdjustClientRect(RECT& rect);
    virtual void AlignControls(RECT& rect);

    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void HandleDestroyed() override;
    void UpdateBounds(int left, int top, int width, int height) override;
    void FontChanged() override;

    virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
    virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
    virtual void MouseMove(TShiftState shift, int x, int y);
    virtual void KeyDown(WORD& key, TShiftState shift);
    virtual void KeyUp(WORD& key, TShiftState shift);
    virtual void KeyPress(char& key);
    // The wheel's general handling; answers whether OnMouseWheel took the turn.
    virtual bool DoMouseWheel(TShiftState shift, int wheelDelta, POINT mousePos);
    // Brush for painting the background of our own classes (and child statics).
    HBRUSH BackgroundBrush();

    void InsertControl(TControl* control);
    void RemoveControl(TControl* control);

private:
    void ReadBoundsFromWindow();
    bool ReflectToChild(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

    std::vector<TControl*> controls_;
    TBrush background_;
    int lastClientWidth_ = -1, lastClientHeight_ = -1;
    bool aligning_ = false;
    bool creating_ = false;

    friend class TControl;
};

// A windowed control of our own class that paints itself through Canvas.
class TCustomControl : public TWinControl {
public:
    explicit TCustomControl(TComponent* owner = nullptr);
    TCanvas& Canvas() { return canvas_; }
    std::function<void(TObject* sender)> OnPaint;

protected:
    // Draws the control; the canvas is attached to the paint DC meanwhile.
    virtual void Paint();
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    TCanvas canvas_;
};

// The hidden window that holds controls whose parent is not set yet.
HWND ParkingWindow();

// Names, places (unless the width is 0: the control sizes itself), captions
// and parents a control of a window; answers the control.
template <class T> T* PlaceControl(T* control, TWinControl* parent, const char* name, int left, int top, int width,
                                   int height, const std::string& caption = {}) {
    control->SetName(name);
    if (width > 0) control->SetBounds(left, top, width, height);
    if (!caption.empty()) control->SetCaption(caption);
    control->SetParent(parent);
    return control;
}

} // namespace krv
