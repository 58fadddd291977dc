// Steps posted to a hidden window, run one by one inside whatever message
// loop is pumping (a drop-down's own), and a watchdog that ends a loop which
// outlives its script instead of waiting for a person.
#pragma once
#include "framework/Window.h"
#include <functional>
#include <vector>

namespace shelltest {

class PostedSteps {
public:
    explicit PostedSteps(std::function<void()> onWatchdog, UINT watchdogMs = 8000)
        : onWatchdog_(std::move(onWatchdog)), window_([this](UINT msg, WPARAM wParam, LPARAM, LRESULT& r) {
              if (msg != kStep) return false;
              steps_.at(wParam)();
              r = 0;
              return true;
          }) {
        current_ = this;
        timer_ = ::SetTimer(nullptr, 0, watchdogMs, &PostedSteps::Watchdog);
    }
    ~PostedSteps() {
        ::KillTimer(nullptr, timer_);
        current_ = nullptr;
    }
    PostedSteps(const PostedSteps&) = delete;
    PostedSteps& operator=(const PostedSteps&) = delete;

    // Queues a step behind everything already posted.
    void Then(std::function<void()> step) {
        steps_.push_back(std::move(step));
        ::PostMessageW(window_.Handle(), kStep, steps_.size() - 1, 0);
    }
    bool WatchdogFired() const { return fired_; }

private:
    static constexpr UINT kStep = WM_APP + 77;
    static void CALLBACK Watchdog(HWND, UINT, UINT_PTR, DWORD) {
        if (!current_ || current_->fired_) return;
        current_->fired_ = true;
        if (current_->onWatchdog_) current_->onWatchdog_();
    }
    static inline PostedSteps* current_ = nullptr;
    std::function<void()> onWatchdog_;
    krv::TMessageWindow window_;
    std::vector<std::function<void()>> steps_;
    UINT_PTR timer_ = 0;
    bool fired_ = false;
};

} // namespace shelltest
