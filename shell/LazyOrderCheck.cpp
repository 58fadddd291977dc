#include "shell/LazyOrderCheck.h"
#include "shell/ShellSortHelper.h"

namespace krv {

ComPtr<IShellFolder> BindFolderOfPIDL(LPCITEMIDLIST folderPIDL) {
    ComPtr<IShellFolder> desktop;
    if (FAILED(::SHGetDesktopFolder(desktop.put())) || !desktop) return nullptr;
    if (!folderPIDL || TPIDLManager::IsDesktopFolder(folderPIDL)) return desktop;
    ComPtr<IShellFolder> folder;
    if (FAILED(desktop->BindToObject(folderPIDL, nullptr, IID_IShellFolder, folder.put_void()))) return nullptr;
    return folder;
}

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

TChildOrderVerdict TChildOrderThread::Finish(std::vector<LPCITEMIDLIST>& rest) {
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (!closed_) queue_.insert(queue_.end(), rest.begin(), rest.end());
        closed_ = true;
    }
    rest.clear();
    wake_.notify_one();
    WaitFor();
    std::lock_guard<std::mutex> lock(lock_);
    return verdict_;
}

void TChildOrderThread::Stop() {
    Terminate();
    {
        // Under the lock, so a worker about to wait cannot miss the wake-up.
        std::lock_guard<std::mutex> lock(lock_);
        closed_ = true;
        queue_.clear();
    }
    wake_.notify_one();
    WaitFor();
}

bool TChildOrderThread::TakeBatch(std::vector<LPCITEMIDLIST>& batch) {
    std::unique_lock<std::mutex> lock(lock_);
    wake_.wait(lock, [this] { return !queue_.empty() || closed_ || Terminated(); });
    if (Terminated() || queue_.empty()) return false;
    batch.clear();
    batch.swap(queue_);
    return true;
}

void TChildOrderThread::Compare(IShellFolder* folder, const std::vector<LPCITEMIDLIST>& batch) {
    for (LPCITEMIDLIST id : batch) {
        if (Terminated()) return;
        // Once both directions are broken nothing more can be learned.
        if (previous_ && !(verdict_.Falls && verdict_.Rises)) {
            int order = CompareFolderIDs(folder, 0, previous_, id);
            if (order > 0) verdict_.Falls = true;
            else if (order < 0) verdict_.Rises = true;
        }
        previous_ = id;
    }
}

void TChildOrderThread::Execute() {
    ComInit com;
    ComPtr<IShellFolder> folder = bind_ ? bind_(folderPIDL_.get()) : nullptr;
    if (folder) {
        std::vector<LPCITEMIDLIST> batch;
        while (TakeBatch(batch)) Compare(folder.get(), batch);
    }
    std::lock_guard<std::mutex> lock(lock_);
    verdict_.Known = folder && !Terminated() && queue_.empty();
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

TChildOrderVerdict TChildOrderFeed::Finish() {
    if (!thread_) return {};
    TChildOrderVerdict verdict = thread_->Finish(pending_);
    thread_.reset();
    return verdict;
}

void TChildOrderFeed::Stop() {
    if (thread_) thread_->Stop();
    thread_.reset();
    pending_.clear();
}

} // namespace krv
