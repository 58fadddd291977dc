// Files read and compressed ahead of the writer. Opening a file costs far
// more than its few kilobytes of data, and deflate keeps one processor busy,
// so worker threads take the coming files in order while the writer puts the
// finished data in place. The writer still decides everything: a file it
// finds missing here, not yet usable or unreadable it reads itself, so every
// failure is met where it is met without the workers.
#pragma once
#include "framework/Thread.h"
#include "zip/ZipCompress.h"
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace krv {

class TZipPrefetcher {
public:
    struct TJob {
        std::string path;
        unsigned mode = 0;     // file stream open mode (share flags)
        int level = 0;
        uint16_t method = 0;
    };
    // Files larger than this are left to the writer.
    static constexpr int64_t kFileLimit = 16 << 20;
    // Finished data held for the writer, at most (one file may go over it).
    static constexpr uint64_t kHeldLimit = 64u << 20;
    // How far ahead of the writer the workers may go, in files.
    static constexpr size_t kAheadLimit = 16384;

    // Starts the workers; with none, every Take answers null. Jobs come with
    // Add, while the workers already work, until NoMoreJobs. afterRead is
    // called on a worker between reading a file and asking whether it changed
    // meanwhile (tests change it there).
    explicit TZipPrefetcher(unsigned workers, std::function<void(const std::string& path)> afterRead = {});
    void Add(TJob job);
    // Whether fewer than kAheadLimit jobs wait beyond the writer: the caller
    // holds the rest back and adds them as the writer goes on, so a run of a
    // million files never holds a million paths here.
    bool HasRoom();
    // Files read from now on are not read during the search (see Take).
    void SearchOver();
    void NoMoreJobs();
    // Stops the workers and waits for them.
    ~TZipPrefetcher();
    TZipPrefetcher(const TZipPrefetcher&) = delete;
    TZipPrefetcher& operator=(const TZipPrefetcher&) = delete;

    // The data of the file at path, waiting for it if a worker has it in hand.
    // Null when the caller must read the file itself: not a job, already
    // passed, too large, unreadable, compressed at another level or method,
    // or read before NoMoreJobs and changed or gone since. Data without
    // blocks, marked changed, when the file changed while it was read. Jobs
    // before the one taken are given up.
    std::unique_ptr<TZipPrepared> Take(const std::string& path, int level, uint16_t method);

    // The default worker count for this machine.
    static unsigned DefaultWorkers();

private:
    enum TState { stWaiting, stRunning, stDone, stFailed };
    struct TSlot {
        TJob job;
        TState state = stWaiting;
        bool early = false;        // read while the search still went on
        std::unique_ptr<TZipPrepared> data;
        TZipSourceState read;      // the file's size and time when read
    };
    void Work();
    bool MayStart() const;
    void Release(size_t index);
    std::unique_ptr<TZipPrepared> Prepare(const TJob& job, TZipDeflaterCache& deflaters, TZipSourceState& read);
    // False when the writer must read the file itself; changed: the file's
    // size or time after the read differ from before it.
    bool ReadWhole(const TJob& job, std::vector<uint8_t>& bytes, TZipSourceState& read, bool& changed);
    static bool Unchanged(const std::string& path, const TZipSourceState& read);

    TSlot& SlotAt(size_t index) { return slots_[index - first_]; }
    void DropPassed();

    std::deque<TSlot> slots_;        // grows at the back, passed ones leave at the front
    size_t first_ = 0;               // the number of the front slot
    std::unordered_map<std::string, size_t> byPath_;
    std::mutex lock_;
    std::condition_variable workerWake_;   // a worker may start, or must stop
    std::condition_variable writerWake_;   // the slot the writer waits for has ended
    unsigned idleWorkers_ = 0;
    size_t writerWaits_ = SIZE_MAX;  // the slot the writer waits for
    bool complete_ = false;          // no more jobs come
    bool searchOver_ = false;
    size_t next_ = 0;                // the next slot a worker starts
    size_t cursor_ = 0;              // the first slot the writer has not passed
    uint64_t held_ = 0;              // bytes of finished data not yet taken
    std::atomic<bool> stop_{false};
    std::function<void(const std::string& path)> afterRead_;
    class TWorker;
    std::vector<std::unique_ptr<TWorker>> threads_;
};

} // namespace krv
