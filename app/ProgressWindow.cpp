#include "app/ProgressWindow.h"
#include "app/AppState.h"
#include "app/Messages.h"
#include "framework/Dialogs.h"

namespace krv {

void NoBorderIcons(TCreateParams& params) { params.Style &= ~WS_SYSMENU; }

TProgressCancel::TProgressCancel(const TForm& window, std::function<bool()> stopped, std::function<void()> stop)
    : window_(window), stopped_(std::move(stopped)), stop_(std::move(stop)) {}

void TProgressCancel::Press(bool ask) const {
    if (stopped_() || (ask && !ConfirmCancel())) return;
    stop_();
}

bool TProgressCancel::CloseQuery() const {
    if (window_.ModalResult() != mrNone) return true;
    if (!stopped_()) stop_();
    return false;
}

namespace {
TActiveStep* current = nullptr;
}

void MinimizeProgressWindow(TForm& window) {
    if (KorvaneState().Batch) window.Minimize();
    Application().Minimize();
}

bool ConfirmCancel() {
    if (KorvaneState().Batch || KorvaneState().SessionEnding) return true;
    return ShowMessageBox(KV_UserCancel_Confirm, KV_UserCancel_Conform_Title, MB_YESNO | MB_ICONWARNING) == IDYES;
}

TActiveStep::TActiveStep(TForm& window, std::function<void()> cancel, std::function<void()> discard)
    : window_(window), cancel_(std::move(cancel)), discard_(std::move(discard)), outer_(current) {
    current = this;
}

TActiveStep::~TActiveStep() { current = outer_; }

bool TActiveStep::CancelCurrent() {
    if (!current) return false;
    current->cancel_();
    return true;
}

void TActiveStep::StopCurrent() {
    TActiveStep* step = current;
    if (!step) return;
    step->cancel_();
    while (current == step && step->window_.ModalResult() == mrNone && Application().HandleOneMessage(true)) {
    }
    // Only once the worker has ended: nothing may touch its files meanwhile.
    if (current == step && step->window_.ModalResult() != mrNone && step->discard_) step->discard_();
}

} // namespace krv
