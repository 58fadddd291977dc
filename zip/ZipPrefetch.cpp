#include "zip/ZipPrefetch.h"
#include "framework/Stream.h"
#include <algorithm>

namespace krv {

TZipPrefetcher::TZipPrefetcher(std::vector<TJob> jobs, unsigned workers) {
    slots_.resize(jobs.size());
    for (size_t i = 0; i < jobs.size(); ++i) {
        byPath_.emplace(jobs[i].path, i);
        slots_[i].job = std::move(jobs[i]);
    }
    workers = std::min<unsigned>(workers, static_cast<unsigned>(slots_.size()));
    try {
        for (unsigned i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
    } catch (...) {
        // Fewer workers (or none) only means more reading for the writer.
    }
}

TZipPrefetcher::~TZipPrefetcher() {
    {
        TLockGuard guard(lock_);
        stop_ = true;
    }
    workerWake_.NotifyAll();
    for (auto& t : threads_) t.join();
}

unsigned TZipPrefetcher::DefaultWorkers() {
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    unsigned n = info.dwNumberOfProcessors;
    // A processor is left to the writer and to the system's own file work;
    // beyond four workers, opening small files only gets slower.
    return n <= 1 ? 0 : std::clamp(n - 1, 2u, 4u);
}

bool TZipPrefetcher::MayStart() const {
    if (next_ <= cursor_) return true;   // the writer waits for this one
    return next_ - cursor_ < kAheadLimit && held_ < kHeldLimit;
}

void TZipPrefetcher::Release(size_t index) {
    TSlot& slot = slots_[index];
    if (slot.data) held_ -= slot.data->Bytes();
    slot.data.reset();
}

bool TZipPrefetcher::ReadWhole(const TJob& job, std::vector<uint8_t>& bytes) {
    try {
        TFileStream source(job.path, fmOpenRead | job.mode);
        LARGE_INTEGER length;
        if (!::GetFileSizeEx(source.Handle(), &length) || length.QuadPart > kFileLimit) return false;
        bytes.resize(static_cast<size_t>(length.QuadPart));
        size_t got = 0;
        while (got < bytes.size()) {
            size_t n = source.Read(bytes.data() + got, bytes.size() - got);
            if (n == 0) return false;
            got += n;
        }
        return true;
    } catch (...) {
        // The writer meets the same failure when it reads the file itself.
        return false;
    }
}

std::unique_ptr<TZipPrepared> TZipPrefetcher::Prepare(const TJob& job, TZipDeflaterCache& deflaters) {
    try {
        std::vector<uint8_t> bytes;
        if (!ReadWhole(job, bytes)) return nullptr;
        auto data = std::make_unique<TZipPrepared>();
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
    lock_.Acquire();
    for (;;) {
        if (!stop_ && next_ < slots_.size() && !MayStart()) {
            ++idleWorkers_;
            workerWake_.Wait(lock_, [&] { return stop_ || next_ >= slots_.size() || MayStart(); });
            --idleWorkers_;
        }
        next_ = std::max(next_, cursor_);
        if (stop_ || next_ >= slots_.size()) break;
        size_t index = next_++;
        TSlot& slot = slots_[index];
        slot.state = stRunning;
        lock_.Release();
        auto data = Prepare(slot.job, deflaters);
        lock_.Acquire();
        if (data && index >= cursor_) {
            held_ += data->Bytes();
            slot.data = std::move(data);
            slot.state = stDone;
        } else {
            slot.state = stFailed;
        }
        if (writerWaits_ == index) writerWake_.NotifyOne();
    }
    lock_.Release();
}

std::unique_ptr<TZipPrepared> TZipPrefetcher::Take(const std::string& path, int level, uint16_t method) {
    if (threads_.empty()) return nullptr;
    TLockGuard guard(lock_);
    auto it = byPath_.find(path);
    if (it == byPath_.end() || it->second < cursor_) return nullptr;
    const size_t index = it->second;
    for (size_t i = cursor_; i < index; ++i) Release(i);
    cursor_ = index;
    TSlot& slot = slots_[index];
    if (slot.state == stWaiting && idleWorkers_ > 0) workerWake_.NotifyOne();
    writerWaits_ = index;
    writerWake_.Wait(lock_, [&] { return slot.state == stDone || slot.state == stFailed; });
    writerWaits_ = SIZE_MAX;
    std::unique_ptr<TZipPrepared> data = std::move(slot.data);
    if (data) held_ -= data->Bytes();
    cursor_ = index + 1;
    if (idleWorkers_ > 0 && MayStart()) workerWake_.NotifyAll();
    if (!data || slot.job.level != level || slot.job.method != method) return nullptr;
    return data;
}

} // namespace krv
