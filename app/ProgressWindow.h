// What the progress windows of a run share: a timer made stopped, a control
// placed on the window, the Minimize button, and the text of a worker's failure.
#pragma once
#include "framework/Forms.h"
#include <exception>
#include <functional>
#include <string>

namespace krv {

// A stopped timer owned by the window.
TTimer* MakeWindowTimer(TForm* owner, const char* name, unsigned interval, std::function<void()> onTimer);

// Names, places and parents a control of the window.
template <class T> T* PlaceControl(T* control, TWinControl* parent, const char* name, int left, int top, int width,
                                   int height, const std::string& caption = {}) {
    control->SetName(name);
    control->SetBounds(left, top, width, height);
    if (!caption.empty()) control->SetCaption(caption);
    control->SetParent(parent);
    return control;
}

// The Minimize button: in batch mode the window goes first, then the program.
void MinimizeProgressWindow(TForm& window);

// The message of the exception that ended a worker.
std::string ExceptionText(const std::exception_ptr& e);

} // namespace krv
