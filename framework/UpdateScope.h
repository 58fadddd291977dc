// The update bracket of a tree or an archiver, closed however its body ends.
// Both count BeginUpdate calls and act when the count falls back to zero: a
// handler that throws inside the bracket must not leave the count up, or the
// target waits for an EndUpdate that never comes.
//
// A function, not a destructor: EndUpdate fires events of its own (the
// archiver's commits the archive), and a failure there has to reach the
// caller, which a destructor that runs during unwinding cannot let it do.
#pragma once
#include <type_traits>

namespace krv {

// Runs body between target.BeginUpdate() and target.EndUpdate(); answers
// what body answers.
template <class Target, class Body> decltype(auto) InUpdate(Target& target, Body&& body) {
    target.BeginUpdate();
    if constexpr (std::is_void_v<std::invoke_result_t<Body&>>) {
        try {
            body();
        } catch (...) {
            target.EndUpdate();
            throw;
        }
        target.EndUpdate();
    } else {
        auto result = [&] {
            try {
                return body();
            } catch (...) {
                target.EndUpdate();
                throw;
            }
        }();
        target.EndUpdate();
        return result;
    }
}

} // namespace krv
