#include "framework/Window.h"
#include "framework/WindowClass.h"
#include "framework/SysUtils.h"
#include <mutex>
#include <set>
#include <string>

namespace krv {

namespace {
std::mutex classMutex;
std::set<std::string> registeredClasses;
const char* const kThisProp = "KorvaneWindowObject";
const char* const kMessageClass = "KorvaneMessageWindow";
}

void RegisterWindowClass(const char* className, UINT style, HBRUSH background, HCURSOR cursor, HICON icon) {
    std::lock_guard<std::mutex> lock(classMutex);
    if (registeredClasses.count(className)) return;
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = style;
    wc.lpfnWndProc = &TWindow::StaticWndProc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.hCursor = cursor ? cursor : ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = background;
    wc.hIcon = icon;
    wc.lpszClassName = className;
    if (::RegisterClassExA(&wc) || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS)
        registeredClasses.insert(className);
}

void UnregisterWindowClass(const char* className) {
    std::lock_guard<std::mutex> lock(classMutex);
    if (registeredClasses.erase(className)) ::UnregisterClassA(className, ::GetModuleHandleA(nullptr));
}

TWindow::~TWindow() { DestroyHandle(); }

TWindow* TWindow::FromHandle(HWND wnd) {
    return wnd ? static_cast<TWindow*>(::GetPropA(wnd, kThisProp)) : nullptr;
}

bool TWindow::CreateWindowHandle(const char* className, const char* caption, DWORD style, DWORD exStyle,
                                 int x, int y, int w, int h, HWND parent, HMENU menuOrId) {
    if (handle_) return true;
    HWND wnd = ::CreateWindowExA(exStyle, className, caption, style, x, y, w, h, parent, menuOrId,
                                 ::GetModuleHandleA(nullptr), this);
    return wnd != nullptr && handle_ == wnd;
}

void TWindow::DestroyHandle() {
    if (handle_) ::DestroyWindow(handle_);
}

bool TWindow::SubclassWindow(HWND wnd, bool unicode) {
    if (!wnd || handle_ || FromHandle(wnd)) return false;
    ::SetPropA(wnd, kThisProp, this);
    handle_ = wnd;
    unicode_ = unicode && ::IsWindowUnicode(wnd);
    auto proc = reinterpret_cast<LONG_PTR>(&TWindow::StaticWndProc);
    oldWndProc_ = reinterpret_cast<WNDPROC>(unicode_ ? ::SetWindowLongPtrW(wnd, GWLP_WNDPROC, proc)
                                                     : ::SetWindowLongPtrA(wnd, GWLP_WNDPROC, proc));
    return oldWndProc_ != nullptr;
}

bool TWindow::HandleMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

LRESULT TWindow::DefaultHandler(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (oldWndProc_)
        return unicode_ ? ::CallWindowProcW(oldWndProc_, handle_, msg, wParam, lParam)
                        : ::CallWindowProcA(oldWndProc_, handle_, msg, wParam, lParam);
    return ::DefWindowProcA(handle_, msg, wParam, lParam);
}

namespace {
WindowExceptionHandler windowExceptionHandler;
}

void SetWindowExceptionHandler(WindowExceptionHandler handler) { windowExceptionHandler = std::move(handler); }

void HandleWindowException(const std::exception_ptr& e) {
    if (windowExceptionHandler) {
        try {
            windowExceptionHandler(e);
            return;
        } catch (...) {
            // the handler itself failed: fall through to the plain box
        }
    }
    ::MessageBoxA(nullptr, ExceptionText(e).c_str(), "Error", MB_OK | MB_ICONSTOP | MB_TASKMODAL);
}

LRESULT CALLBACK TWindow::StaticWndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    TWindow* self = FromHandle(wnd);
    if (!self && msg == WM_NCCREATE) {
        self = static_cast<TWindow*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        if (self) {
            ::SetPropA(wnd, kThisProp, self);
            self->handle_ = wnd;
        }
    }
    if (!self) return ::DefWindowProcA(wnd, msg, wParam, lParam);
    LRESULT result = 0;
    try {
        bool handled = self->HandleMessage(msg, wParam, lParam, result);
        if (!handled) result = self->DefaultHandler(msg, wParam, lParam);
    } catch (...) {
        // C++ exceptions must not unwind through the system's dispatcher.
        HandleWindowException(std::current_exception());
    }
    if (msg == WM_NCDESTROY) {
        ::RemovePropA(wnd, kThisProp);
        if (self->oldWndProc_) {
            auto old = reinterpret_cast<LONG_PTR>(self->oldWndProc_);
            if (self->unicode_) ::SetWindowLongPtrW(wnd, GWLP_WNDPROC, old);
            else ::SetWindowLongPtrA(wnd, GWLP_WNDPROC, old);
        }
        self->handle_ = nullptr;
        self->oldWndProc_ = nullptr;
        self->unicode_ = false;
        try {
            self->HandleDestroyed();
        } catch (...) {
            HandleWindowException(std::current_exception());
        }
    }
    return result;
}

TMessageWindow::TMessageWindow(Handler handler) : handler_(std::move(handler)) {
    RegisterWindowClass(kMessageClass, 0);
    CreateWindowHandle(kMessageClass, "", 0, 0, 0, 0, 0, 0, HWND_MESSAGE);
}

TMessageWindow::~TMessageWindow() { DestroyHandle(); }

bool TMessageWindow::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    return handler_ && handler_(msg, wParam, lParam, result);
}

bool ProcessMessages() {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    return true;
}

} // namespace krv
