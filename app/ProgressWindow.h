// What the progress windows of a run share: no border icons, a close that
// counts as Cancel, the Minimize button (and, for the windows that include
// this, the control and timer makers).
#pragma once
#include "app/FormBuilder.h"
#include "framework/Forms.h"
#include <functional>

namespace krv {

// The window's style without its system menu, so the caption shows no close
// box and the window menu offers no Close.
void NoBorderIcons(TCreateParams& params);

// The close query of a progress window. A close that still reaches it while
// its task runs (Alt+F4, WM_CLOSE, the system menu's close, the system ending
// the program) is the Cancel button without its question: the close was the
// decision. The window itself stays until the task's end closes it, so the
// run never goes on from half-done work. True only once the task has ended.
bool CloseMeansCancel(const TForm& window, const std::function<void()>& cancel);

// The Minimize button: in batch mode the window goes first, then the program.
void MinimizeProgressWindow(TForm& window);

} // namespace krv
