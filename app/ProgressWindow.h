// What the progress windows of a run share: the Minimize button (and, for
// the windows that include this, the control and timer makers).
#pragma once
#include "app/FormBuilder.h"
#include "framework/Forms.h"

namespace krv {

// The Minimize button: in batch mode the window goes first, then the program.
void MinimizeProgressWindow(TForm& window);

} // namespace krv
