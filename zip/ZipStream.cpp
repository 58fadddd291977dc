#include "zip/ZipStream.h"
#include "zip/ZipErrors.h"
#include <cstring>

namespace krv {

std::string TLEReader::Str(size_t n) {
    if (n > Left()) throw EZipException(ZipNative::InvalidArchive, nullptr);
    std::string s(reinterpret_cast<const char*>(p_ + pos_), n);
    pos_ += n;
    return s;
}
void TLEReader::Skip(size_t n) {
    if (n > Left()) throw EZipException(ZipNative::InvalidArchive, nullptr);
    pos_ += n;
}
uint64_t TLEReader::Get(int n) {
    if (static_cast<size_t>(n) > Left()) throw EZipException(ZipNative::InvalidArchive, nullptr);
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v |= static_cast<uint64_t>(p_[pos_ + i]) << (8 * i);
    pos_ += n;
    return v;
}

TZipOutStream::TZipOutStream(TStream& target, const TComponent* owner, size_t bufferSize)
    : target_(target), owner_(owner), capacity_(bufferSize), base_(target.Position()) {
    buffer_.reserve(capacity_);
}

TZipOutStream::~TZipOutStream() = default;

void TZipOutStream::WriteThrough(const void* data, size_t count) {
    auto* p = static_cast<const uint8_t*>(data);
    while (count > 0) {
        size_t n = target_.Write(p, count);
        if (n == 0) throw EZipException::System(ZipNative::WriteFailed, owner_, ::GetLastError());
        p += n;
        count -= n;
        base_ += static_cast<int64_t>(n);
    }
}

void TZipOutStream::Write(const void* data, size_t count) {
    if (buffer_.size() + count > capacity_) {
        Flush();
        if (count >= capacity_) {
            WriteThrough(data, count);
            return;
        }
    }
    auto* p = static_cast<const uint8_t*>(data);
    buffer_.insert(buffer_.end(), p, p + count);
}

void TZipOutStream::Flush() {
    if (buffer_.empty()) return;
    std::vector<uint8_t> pending;
    pending.swap(buffer_);
    buffer_.reserve(capacity_);
    WriteThrough(pending.data(), pending.size());
}

void TZipOutStream::Patch(int64_t pos, const void* data, size_t count) {
    if (pos >= base_ && pos + static_cast<int64_t>(count) <= Position()) {
        std::memcpy(buffer_.data() + (pos - base_), data, count);
        return;
    }
    Flush();
    int64_t end = base_;
    if (target_.Seek(pos, soBeginning) != pos) throw EZipException(ZipNative::WriteFailed, owner_);
    auto* p = static_cast<const uint8_t*>(data);
    for (size_t left = count; left > 0;) {
        size_t n = target_.Write(p, left);
        if (n == 0) throw EZipException::System(ZipNative::WriteFailed, owner_, ::GetLastError());
        p += n;
        left -= n;
    }
    target_.Seek(end, soBeginning);
}

void TZipOutStream::Truncate(int64_t pos) {
    Flush();
    target_.SetSize(pos);
    target_.Seek(pos, soBeginning);
    base_ = pos;
}

} // namespace krv
