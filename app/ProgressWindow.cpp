#include "app/ProgressWindow.h"
#include "app/AppState.h"

namespace krv {

void MinimizeProgressWindow(TForm& window) {
    if (Batch) window.Minimize();
    Application().Minimize();
}

} // namespace krv
