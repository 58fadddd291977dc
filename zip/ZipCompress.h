// One file turned into the data of one entry: read in blocks, CRC-32, raw
// deflate (a sync flush between blocks, finish on the last), optionally the
// traditional cipher with its 12-byte header. The reading and compressing can
// also be done ahead, on another thread, and the result written later.
#pragma once
#include "zip/ZipCrypt.h"
#include "zip/ZipDir.h"
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace krv {

class TStream;
class TZipOutStream;
class TComponent;

// Read block size for a deflate level.
size_t ZipBlockSize(int level);

class TZipDeflater;

// Keeps a deflate stream between files: setting one up costs several hundred
// kilobytes of fresh memory, so one owner (a thread's worth of work) resets
// it for each file instead. Not shared between threads.
class TZipDeflaterCache {
public:
    TZipDeflaterCache();
    ~TZipDeflaterCache();
    TZipDeflaterCache(const TZipDeflaterCache&) = delete;
    TZipDeflaterCache& operator=(const TZipDeflaterCache&) = delete;
    // A fresh raw deflate stream at the level.
    TZipDeflater& Acquire(int level);

private:
    std::unique_ptr<TZipDeflater> deflater_;
};

// What a source file's open handle says of it: its size and last write time.
// The same before and after a read means the read saw one state of the file.
struct TZipSourceState {
    int64_t size = 0;
    uint64_t written = 0;   // FILETIME
    bool operator==(const TZipSourceState&) const = default;
};
// False (the system's error left) when the handle cannot be asked.
bool ZipSourceStateOf(void* handle, TZipSourceState& state);

// A file read and compressed ahead of its entry: the CRC of what was read and
// one piece of entry data (deflated, or stored as read) per read block.
struct TZipPrepared {
    int64_t size = 0;
    uint32_t crc = 0;
    size_t blockSize = 0;
    std::vector<std::vector<uint8_t>> blocks;
    // The file changed while it was read ahead: no data, the writer reads it
    // again, and that read is the file's second.
    bool changed = false;
    uint64_t Bytes() const;
};

// Compresses a file's bytes as an entry of that level and method would have
// them. Answers false, leaving out incomplete, when stop was raised on the way.
bool ZipPrepareData(const uint8_t* data, size_t size, int level, uint16_t method, TZipDeflaterCache& deflaters,
                    TZipPrepared& out, const std::atomic<bool>* stop = nullptr);

struct TZipCompressJob {
    TDirItem* item = nullptr;        // level, method, password in; crc and sizes out
    TStream* source = nullptr;       // positioned at its start
    int64_t sourceSize = 0;
    // When set, the data was read and compressed ahead and source is not used.
    const TZipPrepared* prepared = nullptr;
    TZipOutStream* out = nullptr;
    // Called before each block with the fraction of the file read so far; answers true to cancel.
    std::function<bool(double fraction)> progress;
    TZipRandomSource random;
    const TComponent* owner = nullptr;
    TZipDeflaterCache* deflaters = nullptr; // a private one when not set
};

// Writes the entry's data. Answers false when cancelled. Raises EZipException 34
// when the source gave fewer bytes than its size, 8 when an encrypted source
// changed between its two reads, and ECompressionError for zlib failures.
bool ZipCompressItem(TZipCompressJob& job);

} // namespace krv
