// Building a window's controls in code: one call per control, named as in the
// window's description so the language files find it.
#pragma once
#include "framework/Forms.h"

namespace krv {

template <class T>
T* MakeControl(TForm* form, TWinControl* parent, const char* name, int x, int y, int w, int h,
               const char* caption = nullptr) {
    auto* c = new T(form);
    c->SetName(name);
    c->SetParent(parent);
    c->SetBounds(x, y, w, h);
    if (caption) c->SetCaption(caption);
    return c;
}

// The client area of a window whose frame only the system knows: measured on
// the real window, so every control laid out inside it stays visible.
inline void SetFormClientSize(TForm* form, int width, int height) {
    form->HandleNeeded();
    form->SetClientSize(width, height);
}

} // namespace krv
