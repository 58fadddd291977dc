// The worker thread that every tree of the process shares: it builds the
// position caches of queued trees, one tree at a time, and reports its state
// changes to each tree's window with the synchronous WM_CHANGESTATE message.
#pragma once
#include "framework/Thread.h"
#include "tree/core/LazyTrees.h"
#include <mutex>
#include <vector>

namespace krv {

class TWorkerThread : public TThread {
public:
    TWorkerThread();
    ~TWorkerThread() override;
    // Queues a tree (never twice) and clears its stop request.
    void AddTree(TBaseLazyTree* tree);
    void RemoveTree(TBaseLazyTree* tree);
    // Takes the tree off the queue; answers whether the worker is inside it now.
    bool DequeueOrIsCurrent(TBaseLazyTree* tree);
    bool IsCurrent(TBaseLazyTree* tree);
    void Wake();
    HANDLE LeftTreeEvent() const { return leftTree_.get(); }
    size_t QueuedCount();
protected:
    void Execute() override;
private:
    void ChangeTreeStates(unsigned enter, unsigned leave);
    std::mutex listLock_;
    std::vector<TBaseLazyTree*> waiting_;
    TBaseLazyTree* currentTree_ = nullptr;   // guarded by listLock_
    std::mutex validationLock_;
    KernelHandle wake_;
    KernelHandle leftTree_;
};

// Every tree takes one reference while it lives; the first starts the worker,
// the last one's release stops and frees it.
void AddThreadReference();
void ReleaseThreadReference(TBaseLazyTree* tree);
// The worker, or null when no tree lives.
TWorkerThread* Worker();

} // namespace krv
