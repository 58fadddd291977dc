#include "framework/Drag.h"
#include <cstdlib>
#include <memory>
#include <utility>

namespace krv {

namespace {
const char* const kDragClass = "KorvaneDragCapture";
}

// One running drag; the hidden window it holds the mouse with stays for the next.
class TControlDrag {
public:
    TControlDrag(TWinControl* control, int threshold) : control_(control), threshold_(threshold) {
        ::GetCursorPos(&start_);
        last_ = start_;
        TDragObject* given = nullptr;
        control->DoStartDrag(given);
        object_ = given;
        if (!object_) {
            own_ = std::make_unique<TDragControlObject>(control);
            object_ = own_.get();
        }
    }
    TWinControl* Control() const { return control_; }
    void Begin() { started_ = true; }
    void Forget(TControl* control) {
        if (target_ == control) target_ = nullptr, accepted_ = false;
    }

    // The mouse at a screen point: past the threshold the control under it is
    // told, the one it left first.
    void MoveTo(POINT p) {
        last_ = p;
        if (!started_) {
            if (std::abs(p.x - start_.x) <= threshold_ && std::abs(p.y - start_.y) <= threshold_) return;
            started_ = true;
        }
        TControl* target = FindTarget(p);
        // A handler may end the drag: nothing more is told after that.
        if (target != target_ && !finished_) {
            if (target_) Send(target_, dmDragLeave, p);
            target_ = target;
            accepted_ = target && !finished_ && Send(target, dmDragEnter, p) != 0;
        }
        if (target_ && !finished_) accepted_ = Send(target_, dmDragMove, p) != 0;
        if (!finished_) ::SetCursor(::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(accepted_ ? IDC_ARROW : IDC_NO)));
    }

    // Drops on the control under the mouse when it takes it, else leaves it;
    // then the source learns the end, unless the target's handler freed it.
    void Finish(bool drop) {
        finished_ = true;
        TLifeWatch source(control_), target(target_);
        TControl* dropped = nullptr;
        if (target_) {
            if (drop && accepted_) {
                Send(target_, dmDragDrop, last_);
                if (!target.Gone()) dropped = target_;
            } else {
                Send(target_, dmDragLeave, last_);
            }
        }
        if (!source.Gone()) control_->DragEnded(dropped, last_);
    }

    // The source went mid-drag: the control under the mouse is left (told
    // of no source: what the drag carried may have gone with it), and
    // nothing more is sent.
    void Abandon() {
        finished_ = true;
        object_ = nullptr;
        if (TControl* target = std::exchange(target_, nullptr)) Send(target, dmDragLeave, last_);
    }

private:
    static HWND WindowOf(TControl* control) {
        for (TControl* c = control; c; c = c->Parent())
            if (auto* w = dynamic_cast<TWinControl*>(c); w && w->HandleAllocated()) return w->Handle();
        return nullptr;
    }
    LRESULT Send(TControl* target, TDragMessage kind, POINT p) {
        HWND wnd = WindowOf(target);
        TDragRec rec{p, object_, target};
        return wnd ? ::SendMessageA(wnd, CM_DRAG, kind, reinterpret_cast<LPARAM>(&rec)) : 0;
    }
    // The first control of ours at or above the window under the point names
    // the target (itself, or a child it hands the drag to).
    TControl* FindTarget(POINT p) {
        for (HWND wnd = ::WindowFromPoint(p); wnd; wnd = ::GetParent(wnd))
            if (auto* control = dynamic_cast<TWinControl*>(TWindow::FromHandle(wnd)))
                return reinterpret_cast<TControl*>(Send(control, dmFindTarget, p));
        return nullptr;
    }

    TWinControl* control_;
    int threshold_;
    POINT start_{}, last_{};
    bool started_ = false, finished_ = false;
    std::unique_ptr<TDragControlObject> own_;
    TDragObject* object_ = nullptr;
    TControl* target_ = nullptr;
    bool accepted_ = false;
};

namespace {
std::shared_ptr<TControlDrag> running;

// Takes the mouse while a drag runs: moves drive it, a release drops, a lost capture cancels.
class TDragCaptureWindow : public TWindow {
public:
    TDragCaptureWindow() {
        RegisterWindowClass(kDragClass, 0);
        CreateWindowHandle(kDragClass, "", WS_POPUP, WS_EX_TOOLWINDOW, 0, 0, 0, 0, nullptr);
    }
protected:
    bool HandleMessage(UINT msg, WPARAM, LPARAM lParam, LRESULT& result) override {
        if (!running) return false;
        switch (msg) {
        case WM_MOUSEMOVE: {
            POINT p{short(LOWORD(lParam)), short(HIWORD(lParam))};
            ::ClientToScreen(handle_, &p);
            std::shared_ptr<TControlDrag> drag = running;   // kept while a handler ends it
            drag->MoveTo(p);
            break;
        }
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
        case WM_MBUTTONUP:
            EndControlDrag(true);
            break;
        case WM_CANCELMODE:
            EndControlDrag(false);
            break;
        case WM_CAPTURECHANGED:
            if (reinterpret_cast<HWND>(lParam) == handle_) return false;
            EndControlDrag(false);
            break;
        default:
            return false;
        }
        result = 0;
        return true;
    }
};

HWND CaptureWindow() {
    static TDragCaptureWindow* window = new TDragCaptureWindow;
    return window->Handle();
}
} // namespace

void BeginControlDrag(TWinControl* control, bool immediate, int threshold) {
    if (running || !control) return;
    running = std::make_shared<TControlDrag>(control, threshold >= 0 ? threshold : ::GetSystemMetrics(SM_CXDRAG));
    ::SetCapture(CaptureWindow());
    if (immediate) {
        std::shared_ptr<TControlDrag> drag = running;
        drag->Begin();
        POINT p;
        ::GetCursorPos(&p);
        drag->MoveTo(p);
    }
}

void EndControlDrag(bool drop) {
    if (!running) return;
    // Taken out first: the hooks may start the next drag.
    std::shared_ptr<TControlDrag> drag = std::move(running);
    if (::GetCapture() == CaptureWindow()) ::ReleaseCapture();
    drag->Finish(drop);
}

TWinControl* ControlDragSource() { return running ? running->Control() : nullptr; }

void ControlDragGone(TControl* control) {
    if (!running) return;
    if (running->Control() != control) return running->Forget(control);
    std::shared_ptr<TControlDrag> drag = std::move(running);
    if (::GetCapture() == CaptureWindow()) ::ReleaseCapture();
    drag->Abandon();
}

} // namespace krv
