#include "app/ProgressWindow.h"
#include "app/Main.h"
#include "zip/ZipErrors.h"

namespace krv {

TTimer* MakeWindowTimer(TForm* owner, const char* name, unsigned interval, std::function<void()> onTimer) {
    auto* timer = new TTimer(owner);
    timer->SetName(name);
    timer->SetEnabled(false);
    timer->SetInterval(interval);
    timer->OnTimer = [onTimer = std::move(onTimer)](TObject*) { onTimer(); };
    return timer;
}

void MinimizeProgressWindow(TForm& window) {
    if (Batch) window.Minimize();
    Application().Minimize();
}

std::string ExceptionText(const std::exception_ptr& e) {
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& x) {
        return DescribeError(x);
    } catch (...) {
        return "Unknown error";
    }
}

} // namespace krv
