// Runs a function once from inside whatever modal loop is running a moment
// from now: how tests press the buttons of a modal window.
#pragma once
#include "framework/Forms.h"
#include <functional>

class SoonCall {
public:
    explicit SoonCall(std::function<void()> fn, unsigned ms = 1) : fn_(std::move(fn)) {
        timer_.SetInterval(ms);
        timer_.OnTimer = [this](krv::TObject*) {
            timer_.SetEnabled(false);
            fn_();
        };
        timer_.SetEnabled(true);
    }

private:
    std::function<void()> fn_;
    krv::TTimer timer_;
};
