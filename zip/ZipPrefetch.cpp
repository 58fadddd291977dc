#include "zip/ZipPrefetch.h"
#include "framework/Stream.h"
#include <algorithm>

namespace krv {

class TZipPrefetcher::TWorker : public TThread {
public:
    explicit TWorker(TZipPrefetcher& owner) : owner_(owner) {}
protected:
    void Execute() override { owner_.Work(); }
private:
    TZipPrefetcher& owner_;
};

TZipPrefetcher::TZipPrefetcher(unsigned workers, std::function<void(const std::string& path)> afterRead)
    : afterRead_(std::move(afterRead)) {
    try {
        for (unsigned i = 0; i < workers; ++i) {
            auto worker = std::make_unique<TWorker>(*this);
            worker->Start();
            threads_.push_back(std::move(worker));
        }
    } catch (...) {
        // Fewer workers (or none) only means more reading for the writer.
    }
}

void TZipPrefetcher::Add(TJob job) {
    bool wake;
    {
        std::lock_guard<std::mutex> guard(lock_);
        // A file found twice is read once, at its first place.
        if (complete_ || !byPath_.emplace(job.path, first_ + slots_.size()).second) return;
        slots_.emplace_back();
        slots_.back().job = std::move(job);
        wake = idleWorkers_ > 0;
    }
    if (wake) workerWake_.notify_one();
}

bool TZipPrefetcher::HasRoom() {
    std::lock_guard<std::mutex> guard(lock_);
    return first_ + slots_.size() < cursor_ + kAheadLimit;
}

void TZipPrefetcher::SearchOver() {
    std::lock_guard<std::mutex> guard(lock_);
    searchOver_ = true;
}

void TZipPrefetcher::NoMoreJobs() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        complete_ = searchOver_ = true;
    }
    workerWake_.notify_all();
}

TZipPrefetcher::~TZipPrefetcher() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stop_ = true;
    }
    workerWake_.notify_all();
    for (auto& t : threads_) t->WaitFor();
}

unsigned TZipPrefetcher::DefaultWorkers() {
    static const unsigned workers = [] {
        SYSTEM_INFO info;
        ::GetSystemInfo(&info);
        unsigned n = info.dwNumberOfProcessors;
        // A processor is left to the writer and to the system's own file
        // work; beyond four workers, opening small files only gets slower.
        return n <= 1 ? 0u : std::clamp(n - 1, 2u, 4u);
    }();
    return workers;
}

bool TZipPrefetcher::MayStart() const {
    if (next_ <= cursor_) return true;   // the writer waits for this one
    return next_ - cursor_ < kAheadLimit && held_ < kHeldLimit;
}

void TZipPrefetcher::Release(size_t index) {
    TSlot& slot = SlotAt(index);
    if (slot.data) held_ -= slot.data->Bytes();
    slot.data.reset();
}

// Slots the writer has passed go, unless a worker still has one in hand.
void TZipPrefetcher::DropPassed() {
    while (!slots_.empty() && first_ < cursor_ && slots_.front().state != stRunning) {
        Release(first_);
        byPath_.erase(slots_.front().job.path);
        slots_.pop_front();
        ++first_;
    }
}

bool TZipPrefetcher::ReadWhole(const TJob& job, std::vector<uint8_t>& bytes, TZipSourceState& read, bool& changed) {
    try {
        TFileStream source(job.path, fmOpenRead | job.mode);
        if (!ZipSourceStateOf(source.Handle(), read) || read.size > kFileLimit) return false;
        bytes.resize(static_cast<size_t>(read.size));
        if (!bytes.empty()) source.ReadBuffer(bytes.data(), bytes.size());   // a short read raises
        if (afterRead_) afterRead_(job.path);
        TZipSourceState after;
        if (!ZipSourceStateOf(source.Handle(), after)) return false;
        changed = after != read;
        return true;
    } catch (...) {
        // The writer meets the same failure when it reads the file itself.
        return false;
    }
}

bool TZipPrefetcher::Unchanged(const std::string& path, const TZipSourceState& read) {
    WIN32_FILE_ATTRIBUTE_DATA now;
    if (!GetFileAttributesAny(path, now)) return false;
    const TZipSourceState state{(static_cast<int64_t>(now.nFileSizeHigh) << 32) | now.nFileSizeLow,
                                (static_cast<uint64_t>(now.ftLastWriteTime.dwHighDateTime) << 32) |
                                    now.ftLastWriteTime.dwLowDateTime};
    return state == read;
}

std::unique_ptr<TZipPrepared> TZipPrefetcher::Prepare(const TJob& job, TZipDeflaterCache& deflaters,
                                                      TZipSourceState& read) {
    try {
        std::vector<uint8_t> bytes;
        bool changed = false;
        if (!ReadWhole(job, bytes, read, changed)) return nullptr;
        auto data = std::make_unique<TZipPrepared>();
        // What was read may mix two states of the file: not worth compressing.
        if (changed) {
            data->changed = true;
            return data;
        }
        if (!ZipPrepareData(bytes.data(), bytes.size(), job.level, job.method, deflaters, *data, &stop_))
            return nullptr;
        return data;
    } catch (...) {
        // Out of memory or a compressor error: the writer tries the file itself.
        return nullptr;
    }
}

void TZipPrefetcher::Work() {
    TZipDeflaterCache deflaters;
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
        next_ = std::max(next_, cursor_);
        auto startable = [&] { return next_ < first_ + slots_.size() && MayStart(); };
        if (!stop_ && !startable() && !(complete_ && next_ >= first_ + slots_.size())) {
            ++idleWorkers_;
            workerWake_.wait(lock, [&] {
                next_ = std::max(next_, cursor_);
                return stop_ || startable() || (complete_ && next_ >= first_ + slots_.size());
            });
            --idleWorkers_;
        }
        if (stop_ || next_ >= first_ + slots_.size()) break;
        size_t index = next_++;
        TSlot& slot = SlotAt(index);
        slot.state = stRunning;
        slot.early = !searchOver_;
        lock.unlock();
        TZipSourceState read;
        auto data = Prepare(slot.job, deflaters, read);
        lock.lock();
        slot.read = read;
        if (data && index >= cursor_) {
            held_ += data->Bytes();
            slot.data = std::move(data);
            slot.state = stDone;
        } else {
            slot.state = stFailed;
        }
        if (writerWaits_ == index) writerWake_.notify_one();
    }
}

std::unique_ptr<TZipPrepared> TZipPrefetcher::Take(const std::string& path, int level, uint16_t method) {
    if (threads_.empty()) return nullptr;
    std::unique_ptr<TZipPrepared> data;
    bool early = false;
    TZipSourceState read;
    {
        std::unique_lock<std::mutex> guard(lock_);
        DropPassed();
        auto it = byPath_.find(path);
        if (it == byPath_.end() || it->second < cursor_) return nullptr;
        const size_t index = it->second;
        for (size_t i = cursor_; i < index; ++i) Release(i);
        cursor_ = index;
        TSlot& slot = SlotAt(index);
        if (slot.state == stWaiting && idleWorkers_ > 0) workerWake_.notify_all();
        writerWaits_ = index;
        writerWake_.wait(guard, [&] { return slot.state == stDone || slot.state == stFailed; });
        writerWaits_ = SIZE_MAX;
        data = std::move(slot.data);
        if (data) held_ -= data->Bytes();
        cursor_ = index + 1;
        if (idleWorkers_ > 0 && MayStart()) workerWake_.notify_all();
        const bool usable = data && (data->changed || (slot.job.level == level && slot.job.method == method));
        early = slot.early;
        read = slot.read;
        DropPassed();
        if (!usable) return nullptr;
    }
    // What was read during the search may be old by now: a file changed or
    // gone since is read again (or missed) by the writer, as without workers.
    if (early && !data->changed && !Unchanged(path, read)) return nullptr;
    return data;
}

} // namespace krv
