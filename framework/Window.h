// The window base: a C++ object behind every window we create. The static
// window procedure stores `this` at WM_NCCREATE and hands each message to the
// virtual HandleMessage, which says whether it handled it.
#pragma once
#include "framework/Handle.h"
#include <exception>
#include <functional>
#include <string>

namespace krv {

// Registers a window class of ours once per process (later calls are no-ops).
void RegisterWindowClass(const char* className, UINT style = CS_DBLCLKS, HBRUSH background = nullptr,
                         HCURSOR cursor = nullptr, HICON icon = nullptr);

class TWindow {
public:
    TWindow() = default;
    virtual ~TWindow();
    TWindow(const TWindow&) = delete;
    TWindow& operator=(const TWindow&) = delete;

    HWND Handle() const { return handle_; }
    bool HandleAllocated() const { return handle_ != nullptr; }
    // Creates the window of a class registered with RegisterWindowClass.
    bool CreateWindowHandle(const char* className, const char* caption, DWORD style, DWORD exStyle,
                            int x, int y, int w, int h, HWND parent, HMENU menuOrId = nullptr);
    void DestroyHandle();

    // Takes over a window made from a class that is not ours (a standard
    // control): its messages then reach HandleMessage first and the control's
    // own procedure through DefaultHandler.
    bool SubclassWindow(HWND wnd);
    // The same for a Unicode window: messages keep their UTF-16 text.
    bool SubclassWindowW(HWND wnd);

    // The object behind a window of ours, or null.
    static TWindow* FromHandle(HWND wnd);
    // The procedure of every class registered with RegisterWindowClass.
    static LRESULT CALLBACK StaticWndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK StaticWndProcW(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);

protected:
    // Answers true when the message was handled; result is then returned.
    virtual bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // Whatever HandleMessage does not handle.
    virtual LRESULT DefaultHandler(UINT msg, WPARAM wParam, LPARAM lParam);
    // Last message the window gets; the object no longer has a handle after it.
    virtual void HandleDestroyed() {}

    HWND handle_ = nullptr;
    WNDPROC oldWndProc_ = nullptr;   // the standard control's procedure when subclassed
    bool wide_ = false;              // subclassed as a Unicode window
private:
    static LRESULT Dispatch(TWindow* self, HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
};

// An exception thrown by a message handler cannot cross the system's message
// dispatch; the window procedure catches it and hands it here (the application
// logs it). Without a handler it is shown in a message box.
using WindowExceptionHandler = std::function<void(const std::exception_ptr& e)>;
void SetWindowExceptionHandler(WindowExceptionHandler handler);
void HandleWindowException(const std::exception_ptr& e);

// A hidden message-only window whose messages go to a function: sockets, the
// thread hand-off and other components that only need a message target.
class TMessageWindow : public TWindow {
public:
    using Handler = std::function<bool(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result)>;
    explicit TMessageWindow(Handler handler);
    ~TMessageWindow() override;
protected:
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
private:
    Handler handler_;
};

// Dispatches every waiting message of this thread; false when WM_QUIT came
// (it is posted again so the main loop still sees it).
bool ProcessMessages();

} // namespace krv
