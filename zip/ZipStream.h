// Little-endian field writers and readers, and the buffered output the
// archive is written through (so small entries cost few system calls).
#pragma once
#include "framework/Stream.h"
#include <cstdint>
#include <string>
#include <vector>

namespace krv {

class TComponent;

// Appends little-endian fields to a byte buffer.
class TLEWriter {
public:
    TLEWriter& U16(uint32_t v) { Put(v, 2); return *this; }
    TLEWriter& U32(uint32_t v) { Put(v, 4); return *this; }
    TLEWriter& U64(uint64_t v) { Put(v, 8); return *this; }
    TLEWriter& Bytes(const void* p, size_t n) {
        auto* b = static_cast<const uint8_t*>(p);
        data.insert(data.end(), b, b + n);
        return *this;
    }
    TLEWriter& Str(const std::string& s) { return Bytes(s.data(), s.size()); }
    size_t Size() const { return data.size(); }
    std::vector<uint8_t> data;

private:
    void Put(uint64_t v, int n) {
        for (int i = 0; i < n; ++i) data.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
};

// Reads little-endian fields from a byte buffer; reading past its end raises.
class TLEReader {
public:
    TLEReader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
    uint32_t U16() { return static_cast<uint32_t>(Get(2)); }
    uint32_t U32() { return static_cast<uint32_t>(Get(4)); }
    uint64_t U64() { return Get(8); }
    std::string Str(size_t n);
    void Skip(size_t n);
    size_t Left() const { return n_ - pos_; }
    size_t Pos() const { return pos_; }

private:
    uint64_t Get(int n);
    const uint8_t* p_;
    size_t n_;
    size_t pos_ = 0;
};

// Buffered writing onto a seekable stream that is positioned at its end. A
// failed write raises EZipException 46 "Write to stream error" and keeps the
// bytes the target did not take until a Truncate cuts them off.
class TZipOutStream {
public:
    TZipOutStream(TStream& target, const TComponent* owner, size_t bufferSize = 1 << 20);
    ~TZipOutStream();   // does not flush: an exception may be unwinding
    TZipOutStream(const TZipOutStream&) = delete;
    TZipOutStream& operator=(const TZipOutStream&) = delete;

    void Write(const void* data, size_t count);
    void Write(const std::vector<uint8_t>& data) { Write(data.data(), data.size()); }
    int64_t Position() const { return base_ + static_cast<int64_t>(buffer_.size()); }
    // Overwrites bytes already written at an absolute position.
    void Patch(int64_t pos, const void* data, size_t count);
    void Flush();
    size_t Buffered() const { return buffer_.size(); }
    // Flushes and cuts the target at pos, leaving it positioned there.
    void Truncate(int64_t pos);
    TStream& Target() { return target_; }

private:
    // Answers the bytes the target took (fewer when a write failed).
    size_t WriteThrough(const void* data, size_t count);
    TStream& target_;
    const TComponent* owner_;
    std::vector<uint8_t> buffer_;
    size_t capacity_;
    int64_t base_;
    unsigned long lastError_ = 0;
};

} // namespace krv
