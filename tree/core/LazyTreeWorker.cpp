// The shared worker thread, the WM_CHANGESTATE handshake, and the position
// cache it builds: one entry per 2000 visible rows with the row's pixel top.
//
// Exclusion: the worker reads a tree's links, flags and stored heights only
// while it is that tree's current tree. Every change on the user-interface
// thread first calls InterruptValidation, which asks the worker to stop and
// does not return until the worker has left the tree, answering the worker's
// synchronous messages meanwhile. The worker never calls application code.
#include "tree/core/LazyTreeWorker.h"
#include <algorithm>

namespace krv {

namespace {
constexpr unsigned kCacheStep = 2000;
std::mutex referenceLock;
TWorkerThread* worker = nullptr;
unsigned references = 0;
}

TWorkerThread* Worker() { return worker; }

void AddThreadReference() {
    std::lock_guard<std::mutex> lock(referenceLock);
    if (!worker) {
        auto* w = new TWorkerThread();
        w->Start();
        worker = w;
    }
    ++references;
}

void ReleaseThreadReference(TBaseLazyTree* tree) {
    TWorkerThread* w;
    {
        std::lock_guard<std::mutex> lock(referenceLock);
        if (!worker) return;
        --references;
        w = worker;
    }
    tree->InterruptValidation();
    std::lock_guard<std::mutex> lock(referenceLock);
    if (references == 0 && worker) {
        worker = nullptr;
        w->Terminate();
        w->Wake();
        w->WaitFor();
        delete w;
    }
}

// ---- the worker -----------------------------------------------------------------

TWorkerThread::TWorkerThread() {
    wake_.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!wake_) throw Exception(SysErrorMessage(::GetLastError()));
    leftTree_.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!leftTree_) throw Exception(SysErrorMessage(::GetLastError()));
}

TWorkerThread::~TWorkerThread() {
    Terminate();
    Wake();
    WaitFor();
}

void TWorkerThread::Wake() { ::SetEvent(wake_.get()); }

void TWorkerThread::AddTree(TBaseLazyTree* tree) {
    tree->DoStateChange({}, tsStopValidation);
    std::lock_guard<std::mutex> lock(listLock_);
    if (std::find(waiting_.begin(), waiting_.end(), tree) == waiting_.end()) waiting_.push_back(tree);
}

void TWorkerThread::RemoveTree(TBaseLazyTree* tree) {
    std::lock_guard<std::mutex> lock(listLock_);
    waiting_.erase(std::remove(waiting_.begin(), waiting_.end(), tree), waiting_.end());
}

bool TWorkerThread::DequeueOrIsCurrent(TBaseLazyTree* tree) {
    std::lock_guard<std::mutex> lock(listLock_);
    waiting_.erase(std::remove(waiting_.begin(), waiting_.end(), tree), waiting_.end());
    return currentTree_ == tree;
}

bool TWorkerThread::IsCurrent(TBaseLazyTree* tree) {
    std::lock_guard<std::mutex> lock(listLock_);
    return currentTree_ == tree;
}

size_t TWorkerThread::QueuedCount() {
    std::lock_guard<std::mutex> lock(listLock_);
    return waiting_.size();
}

void TWorkerThread::ChangeTreeStates(unsigned enter, unsigned leave) {
    TBaseLazyTree* tree;
    {
        std::lock_guard<std::mutex> lock(listLock_);
        tree = currentTree_;
    }
    // The tree cannot go while it is current: its destructor waits for us.
    HWND wnd = tree ? tree->Handle() : nullptr;
    if (wnd) ::SendMessageA(wnd, WM_CHANGESTATE, enter, leave);
}

void TWorkerThread::Execute() {
    while (!Terminated()) {
        ::WaitForSingleObject(wake_.get(), INFINITE);
        if (Terminated()) break;
        TBaseLazyTree* tree = nullptr;
        {
            std::lock_guard<std::mutex> lock(listLock_);
            if (!waiting_.empty()) {
                tree = waiting_.front();
                waiting_.erase(waiting_.begin());
                if (!waiting_.empty()) Wake();
            }
            currentTree_ = tree;
        }
        if (!tree) continue;
        ChangeTreeStates(csValidating, csUseCache);
        bool done;
        {
            std::lock_guard<std::mutex> lock(validationLock_);
            done = !tree->stopValidation_.load() && tree->DoValidateCache();
        }
        ChangeTreeStates(done ? csUseCache : 0u,
                         csStopValidation | csValidating | (done ? unsigned(csValidationNeeded) : 0u));
        {
            std::lock_guard<std::mutex> lock(listLock_);
            currentTree_ = nullptr;
        }
        ::SetEvent(leftTree_.get());
    }
}

// ---- tree side -------------------------------------------------------------------------

void TBaseLazyTree::InvalidateCache() { DoStateChange(tsValidationNeeded, tsUseCache); }

void TBaseLazyTree::ValidateCache() {
    InterruptValidation();
    startIndex_ = 0;
    TWorkerThread* w = Worker();
    // Without a window the worker could not report back; the states stay and
    // the next ValidateCache after the window exists queues the tree.
    if (w && states_.Contains(tsValidationNeeded) && HandleAllocated()) {
        w->AddTree(this);
        w->Wake();
    }
}

// A cache switched off here must be marked as needed again, even when the
// worker had already finished and left: otherwise the next ValidateCache
// finds nothing to do and the tree walks from the top until its rows change.
void TBaseLazyTree::InterruptValidation() {
    bool hadCache = states_.Contains(tsUseCache);
    DoStateChange(tsStopValidation, tsUseCache);
    TWorkerThread* w = Worker();
    if (!w) return;
    bool workerInside = w->DequeueOrIsCurrent(this);
    if (workerInside && inChangeState_ == 0) WaitForWorker();
    if (workerInside || hadCache) DoStateChange(tsValidationNeeded);
}

// Waits until the worker has left this tree. Its reports are sent messages,
// delivered while this thread peeks; messages posted to this window are
// dispatched; a WM_QUIT seen on the way is posted again afterwards.
void TBaseLazyTree::WaitForWorker() {
    TWorkerThread* w = Worker();
    bool quit = false;
    WPARAM quitCode = 0;
    HANDLE left = w->LeftTreeEvent();
    while (w->IsCurrent(this)) {
        MSG msg;
        if (!quit && HandleAllocated() && ::PeekMessageA(&msg, handle_, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = true;
                quitCode = msg.wParam;
            } else {
                ::TranslateMessage(&msg);
                ::DispatchMessageA(&msg);
            }
            continue;
        }
        ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        if (!w->IsCurrent(this)) break;
        ::MsgWaitForMultipleObjects(1, &left, FALSE, 10, QS_SENDMESSAGE);
    }
    if (quit) ::PostQuitMessage(int(quitCode));
}

// In the worker thread, with this tree current. Only stored heights are used.
bool TBaseLazyTree::DoValidateCache() {
    if (stopValidation_.load()) return false;
    if (startIndex_ == 0) positionCache_.clear();
    if (visibleCount_ <= kCacheStep) return false;
    size_t length = (size_t(visibleCount_) + kCacheStep - 1) / kCacheStep;
    startIndex_ = std::min<unsigned>(startIndex_, unsigned(length));
    positionCache_.resize(length);
    PLazyNode node;
    uint64_t top;
    size_t writeIndex;
    if (startIndex_ == 0 || !positionCache_[startIndex_ - 1].Node) {
        node = GetFirstVisibleNoInit();
        top = 0;
        writeIndex = 0;
    } else {
        node = positionCache_[startIndex_ - 1].Node;
        top = positionCache_[startIndex_ - 1].AbsoluteTop;
        writeIndex = startIndex_ - 1;
    }
    PLazyNode first = node;
    PLazyNode last = node;
    uint64_t counter = 0;
    while (node) {
        if (stopValidation_.load(std::memory_order_relaxed)) return false;
        if (counter % kCacheStep == 0) {
            positionCache_[writeIndex++] = TCacheEntry{node, uint32_t(top)};
            if (writeIndex >= length) {
                last = node;
                break;
            }
        }
        top += node->NodeHeight;
        last = node;
        node = GetNextVisibleNoInit(node);
        ++counter;
    }
    if (writeIndex < positionCache_.size()) positionCache_.resize(writeIndex);
    startIndex_ = unsigned(writeIndex);
    return last != first && !stopValidation_.load();
}

PLazyNode TBaseLazyTree::FindInPositionCache(uint32_t position, uint32_t& top) const {
    top = 0;
    if (!states_.Contains(tsUseCache) || positionCache_.empty()) return nullptr;
    int lo = 0, hi = int(positionCache_.size()) - 1;
    while (lo <= hi) {
        int mid = (lo + hi) / 2;
        if (positionCache_[size_t(mid)].AbsoluteTop <= position) lo = mid + 1;
        else hi = mid - 1;
    }
    if (lo == 0) return nullptr;
    top = positionCache_[size_t(lo - 1)].AbsoluteTop;
    return positionCache_[size_t(lo - 1)].Node;
}

PLazyNode TBaseLazyTree::FindInPositionCache(PLazyNode node, uint32_t& top) const {
    top = 0;
    if (!states_.Contains(tsUseCache) || positionCache_.empty()) return nullptr;
    int lo = 0, hi = int(positionCache_.size()) - 1;
    while (lo <= hi) {
        int mid = (lo + hi) / 2;
        if (CompareNodePositions(positionCache_[size_t(mid)].Node, node) <= 0) lo = mid + 1;
        else hi = mid - 1;
    }
    if (lo == 0) return nullptr;
    top = positionCache_[size_t(lo - 1)].AbsoluteTop;
    return positionCache_[size_t(lo - 1)].Node;
}

int TBaseLazyTree::CompareNodePositions(PLazyNode node1, PLazyNode node2) {
    if (node1 == node2) return 0;
    auto level = [](PLazyNode n) {
        unsigned l = 0;
        while (n->PrevSibling != n && n->Parent) {
            n = n->Parent;
            ++l;
        }
        return l;
    };
    unsigned l1 = level(node1), l2 = level(node2);
    PLazyNode run1 = node1, run2 = node2;
    while (l1 > l2) { run1 = run1->Parent; --l1; }
    while (l2 > l1) { run2 = run2->Parent; --l2; }
    if (run1 == run2) return node1 == run1 ? -1 : 1;   // one is the other's ancestor
    while (run1->Parent != run2->Parent) {
        run1 = run1->Parent;
        run2 = run2->Parent;
    }
    return run1->Index < run2->Index ? -1 : (run1->Index > run2->Index ? 1 : 0);
}

} // namespace krv
