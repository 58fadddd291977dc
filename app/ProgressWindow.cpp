#include "app/ProgressWindow.h"
#include "app/AppState.h"

namespace krv {

void NoBorderIcons(TCreateParams& params) { params.Style &= ~WS_SYSMENU; }

bool CloseMeansCancel(const TForm& window, const std::function<void()>& cancel) {
    if (window.ModalResult() != mrNone) return true;
    cancel();
    return false;
}

void MinimizeProgressWindow(TForm& window) {
    if (Batch) window.Minimize();
    Application().Minimize();
}

} // namespace krv
