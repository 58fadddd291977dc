// One file turned into the data of one entry: read in blocks, CRC-32, raw
// deflate (a sync flush between blocks, finish on the last), optionally the
// traditional cipher with its 12-byte header.
#pragma once
#include "zip/ZipCrypt.h"
#include "zip/ZipDir.h"
#include <cstdint>
#include <functional>

namespace krv {

class TStream;
class TZipOutStream;
class TComponent;

// Read block size for a deflate level.
size_t ZipBlockSize(int level);

struct TZipCompressJob {
    TDirItem* item = nullptr;        // level, method, password in; crc and sizes out
    TStream* source = nullptr;       // positioned at its start
    int64_t sourceSize = 0;
    TZipOutStream* out = nullptr;
    // Called before each block with the fraction of the file read so far; answers true to cancel.
    std::function<bool(double fraction)> progress;
    TZipRandomSource random;
    const TComponent* owner = nullptr;
};

// Writes the entry's data. Answers false when cancelled. Raises EZipException 34
// when the source gave fewer bytes than its size, 8 when an encrypted source
// changed between its two reads, and ECompressionError for zlib failures.
bool ZipCompressItem(TZipCompressJob& job);

} // namespace krv
