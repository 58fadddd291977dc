// What the progress windows of a run share: no border icons, a close that
// counts as Cancel, the Minimize button, the confirmation of Cancel, and the
// step on screen, through which the main window's close and the end of the
// Windows session stop a run (and, for the windows that include this, the
// control and timer makers).
#pragma once
#include "app/FormBuilder.h"
#include "framework/Forms.h"
#include <functional>

namespace krv {

// The window's style without its system menu, so the caption shows no close
// box and the window menu offers no Close.
void NoBorderIcons(TCreateParams& params);

// The Cancel of a progress window. The button stops the task after the
// question (when the window asks one); a close that still reaches the window
// while its task runs (Alt+F4, WM_CLOSE, the system menu's close, the system
// ending the program) stops it without the question: the close was the
// decision. Either stops the task once. The window itself stays until the
// task's end closes it, so the run never goes on from half-done work.
class TProgressCancel {
public:
    // stopped: whether the task has been told to stop; stop: tells it.
    TProgressCancel(const TForm& window, std::function<bool()> stopped, std::function<void()> stop);
    // The Cancel button; ask: whether this window asks before stopping.
    void Press(bool ask = true) const;
    // The window's close query: true only once the task has ended.
    bool CloseQuery() const;

private:
    const TForm& window_;
    std::function<bool()> stopped_;
    std::function<void()> stop_;
};

// The Minimize button: in batch mode the window goes first, then the program.
void MinimizeProgressWindow(TForm& window);

// Whether a press of Cancel stops the step. A person is asked first; in an
// unattended run, or while the session ends, no one can answer, and whoever
// pressed Cancel or closed a window meant it: the step stops at once.
bool ConfirmCancel();

// The progress window of the step now running, for as long as this lives.
class TActiveStep {
public:
    // cancel: what the window's Cancel button does. discard: removes at once
    // what a stopped step leaves behind (called when the step is stopped by
    // the end of the session, which may not let the run finish its abort path).
    TActiveStep(TForm& window, std::function<void()> cancel, std::function<void()> discard = {});
    ~TActiveStep();
    TActiveStep(const TActiveStep&) = delete;
    TActiveStep& operator=(const TActiveStep&) = delete;

    // Presses the Cancel of the step on screen; false when there is none.
    static bool CancelCurrent();
    // Cancels the step on screen without a question, handles messages until
    // its window has its result (its worker has ended), then discards.
    static void StopCurrent();

private:
    TForm& window_;
    std::function<void()> cancel_;
    std::function<void()> discard_;
    TActiveStep* outer_;
};

} // namespace krv
