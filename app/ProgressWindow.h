// What the progress windows of a run share: a timer made stopped, the
// Minimize button, and the text of a worker's failure.
#pragma once
#include "framework/Forms.h"
#include <exception>
#include <functional>
#include <string>

namespace krv {

// A stopped timer owned by the window.
TTimer* MakeWindowTimer(TForm* owner, const char* name, unsigned interval, std::function<void()> onTimer);

// The Minimize button: in batch mode the window goes first, then the program.
void MinimizeProgressWindow(TForm& window);

// The message of the exception that ended a worker.
std::string ExceptionText(const std::exception_ptr& e);

} // namespace krv
