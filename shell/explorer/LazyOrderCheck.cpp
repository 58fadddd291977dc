#include "shell/explorer/LazyOrderCheck.h"
#include "shell/explorer/ShellSortHelper.h"
#include <algorithm>

namespace krv {

// ---- the worker ----------------------------------------------------------------------

TChildOrderThread::TChildOrderThread(PIDLPtr folderPIDL, TBindFolder bind)
    : folderPIDL_(std::move(folderPIDL)), bind_(std::move(bind)) {}

TChildOrderThread::~TChildOrderThread() { Stop(); }

void TChildOrderThread::Hand(std::vector<LPCITEMIDLIST>& batch) {
    {
        std::lock_guard<std::mutex> lock(lock_);
        // A worker that ended early takes no more.
        if (!closed_) queue_.insert(queue_.end(), batch.begin(), batch.end());
    }
    batch.clear();
    wake_.notify_one();
}

TChildOrderVerdict TChildOrderThread::Finish(std::vector<LPCITEMIDLIST>& rest, IShellFolder* folder) {
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (!closed_) queue_.insert(queue_.end(), rest.begin(), rest.end());
        closed_ = true;
    }
    rest.clear();
    wake_.notify_one();
    TChildOrderVerdict mine;
    std::vector<LPCITEMIDLIST> piece;
    LPCITEMIDLIST before = nullptr;
    while (folder && TakeBack(piece, before) && Compare(folder, before, piece, mine)) {
    }
    WaitFor();
    std::lock_guard<std::mutex> lock(lock_);
    TChildOrderVerdict both = verdict_;
    both.Falls |= mine.Falls;
    both.Rises |= mine.Rises;
    return both;
}

void TChildOrderThread::Stop() {
    Terminate();
    {
        // Under the lock, so a worker about to wait cannot miss the wake-up.
        std::lock_guard<std::mutex> lock(lock_);
        closed_ = true;
        queue_.clear();
        head_ = 0;
    }
    wake_.notify_one();
    WaitFor();
}

bool TChildOrderThread::TakeFront(std::vector<LPCITEMIDLIST>& piece) {
    std::unique_lock<std::mutex> lock(lock_);
    wake_.wait(lock, [this] { return head_ < queue_.size() || closed_ || Terminated(); });
    if (Terminated() || head_ == queue_.size()) return false;
    size_t n = std::min(PieceSize, queue_.size() - head_);
    piece.assign(queue_.begin() + ptrdiff_t(head_), queue_.begin() + ptrdiff_t(head_ + n));
    head_ += n;
    lastTaken_ = piece.back();
    if (head_ == queue_.size()) {
        queue_.clear();
        head_ = 0;
    }
    return true;
}

bool TChildOrderThread::TakeBack(std::vector<LPCITEMIDLIST>& piece, LPCITEMIDLIST& before) {
    std::lock_guard<std::mutex> lock(lock_);
    if (failed_ || head_ == queue_.size()) return false;
    size_t from = queue_.size() - std::min(PieceSize, queue_.size() - head_);
    before = from > head_ ? queue_[from - 1] : lastTaken_;
    piece.assign(queue_.begin() + ptrdiff_t(from), queue_.end());
    queue_.resize(from);
    return true;
}

bool TChildOrderThread::Compare(IShellFolder* folder, LPCITEMIDLIST previous,
                                const std::vector<LPCITEMIDLIST>& piece, TChildOrderVerdict& verdict) {
    for (LPCITEMIDLIST id : piece) {
        // Once both directions are broken nothing more can be learned.
        if (Terminated() || (verdict.Falls && verdict.Rises)) return false;
        if (previous) {
            int order = CompareFolderIDs(folder, 0, previous, id);
            if (order > 0) verdict.Falls = true;
            else if (order < 0) verdict.Rises = true;
        }
        previous = id;
    }
    return true;
}

void TChildOrderThread::Execute() {
    ComInit com;
    ComPtr<IShellFolder> folder = bind_ ? bind_(folderPIDL_.get()) : nullptr;
    TChildOrderVerdict mine;
    bool whole = bool(folder);
    if (folder) {
        std::vector<LPCITEMIDLIST> piece;
        LPCITEMIDLIST previous = nullptr;
        while (TakeFront(piece)) {
            if (!Compare(folder.get(), previous, piece, mine)) {
                // Stopped, or the order is broken both ways: the rest changes nothing.
                whole = !Terminated();
                break;
            }
            previous = piece.back();
        }
    }
    std::lock_guard<std::mutex> lock(lock_);
    failed_ = !folder;
    verdict_ = mine;
    verdict_.Known = whole && !Terminated();
    closed_ = true;
}

// ---- the enumerating side ----------------------------------------------------------------

void TChildOrderFeed::Add(LPCITEMIDLIST relativePIDL) {
    if (gaveUp_) return;
    pending_.push_back(relativePIDL);
    if (pending_.size() < BatchSize) return;
    if (!thread_) {
        // Without a worker the caller checks the order itself, as for a small folder.
        try {
            thread_ = start_ ? start_() : nullptr;
        } catch (const std::exception&) {
            thread_.reset();
        }
        if (!thread_) {
            gaveUp_ = true;
            pending_.clear();
            return;
        }
    }
    thread_->Hand(pending_);
}

TChildOrderVerdict TChildOrderFeed::Finish(IShellFolder* folder) {
    if (!thread_) return {};
    TChildOrderVerdict verdict = thread_->Finish(pending_, folder);
    thread_.reset();
    return verdict;
}

void TChildOrderFeed::Stop() {
    if (thread_) thread_->Stop();
    thread_.reset();
    pending_.clear();
}

} // namespace krv
