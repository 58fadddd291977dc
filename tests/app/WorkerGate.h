// Stops a run in the middle of its compression on any machine, busy or not:
// the worker is held at the first file whose name holds `at`, the stop runs
// on the user-interface thread meanwhile, and the worker goes on only once
// the stop has been dealt with (its release is posted after whatever the
// stop posted itself). The worker then reads Cancel at that very file.
// A `stop` that only looks (at the run's files, say) sees them as they are
// at that file.
#pragma once
#include "app/ZipWait.h"
#include "framework/Handle.h"
#include "framework/Window.h"
#include <atomic>
#include <functional>
#include <string>

namespace krvtest {

class WorkerGate {
public:
    WorkerGate(std::string at, std::function<void(krv::TFormZipWait&)> stop)
        : at_(std::move(at)), stop_(std::move(stop)), release_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          ui_([this](UINT msg, WPARAM, LPARAM lParam, LRESULT& result) { return OnMessage(msg, lParam, result); }) {
        window_ = ui_.Handle();   // made here, on the user-interface thread
        krv::TFormZipWait::OnWorkerProgress = [this](krv::TFormZipWait& w, const std::string& fileName) {
            if (fileName.find(at_) == std::string::npos || held_.exchange(true)) return;
            ::PostMessageA(window_, kStop, 0, reinterpret_cast<LPARAM>(&w));
            // Bounded only so that a broken run cannot hang the suite.
            ::WaitForSingleObject(release_.get(), 300000);
        };
    }
    ~WorkerGate() {
        krv::TFormZipWait::OnWorkerProgress = nullptr;
        ::SetEvent(release_.get());
    }
    WorkerGate(const WorkerGate&) = delete;
    WorkerGate& operator=(const WorkerGate&) = delete;

    int Stops = 0;   // how often the stop ran (once, when the gate was reached)

private:
    static constexpr UINT kStop = WM_APP + 0x51, kRelease = WM_APP + 0x52;
    bool OnMessage(UINT msg, LPARAM lParam, LRESULT& result) {
        if (msg == kStop) {
            ++Stops;
            stop_(*reinterpret_cast<krv::TFormZipWait*>(lParam));
            ::PostMessageA(window_, kRelease, 0, 0);
        } else if (msg == kRelease) {
            ::SetEvent(release_.get());
        } else {
            return false;
        }
        result = 0;
        return true;
    }

    std::string at_;
    std::function<void(krv::TFormZipWait&)> stop_;
    krv::KernelHandle release_;
    std::atomic<bool> held_{false};
    krv::TMessageWindow ui_;
    HWND window_ = nullptr;
};

} // namespace krvtest
