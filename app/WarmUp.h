#pragma once
#include "framework/Thread.h"

namespace krv {

// Work the start of the program would otherwise wait for, done on a worker
// while the main window is being made: the shell's image lists (the first
// icon lookup builds them, the trees' small list is found through the
// desktop's icon) and the XML engine's library (the first session document
// loads it). Whoever comes later, on any thread, finds both ready.
// The destructor waits for the worker.
class TStartWarmUp : public TThread {
public:
    TStartWarmUp() { Start(); }
    ~TStartWarmUp() override { WaitFor(); }

protected:
    void Execute() override;
};

} // namespace krv
