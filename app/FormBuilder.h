// Building a window's controls in code: one call per control, named as in the
// window's description so the language files find it.
#pragma once
#include "framework/Forms.h"
#include <functional>
#include <string>

namespace krv {

// PlaceControl (framework/Controls.h) for a new control of the given owner.
template <class T>
T* MakeControl(TComponent* owner, TWinControl* parent, const char* name, int left, int top, int width, int height,
               const std::string& caption = {}) {
    return PlaceControl(new T(owner), parent, name, left, top, width, height, caption);
}

// A stopped timer owned by the window.
inline TTimer* MakeWindowTimer(TForm* owner, const char* name, unsigned interval, std::function<void()> onTimer) {
    auto* timer = new TTimer(owner);
    timer->SetName(name);
    timer->SetEnabled(false);
    timer->SetInterval(interval);
    timer->OnTimer = [onTimer = std::move(onTimer)](TObject*) { onTimer(); };
    return timer;
}

// The client area of a window whose frame only the system knows: measured on
// the real window, so every control laid out inside it stays visible.
inline void SetFormClientSize(TForm* form, int width, int height) {
    form->HandleNeeded();
    form->SetClientSize(width, height);
}

} // namespace krv
