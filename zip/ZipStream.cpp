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

size_t TZipOutStream::WriteThrough(const void* data, size_t count) {
    auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < count) {
        size_t n = target_.Write(p + done, count - done);
        if (n == 0) {
            lastError_ = ::GetLastError();
            break;
        }
        done += n;
        base_ += static_cast<int64_t>(n);
    }
    return done;
}

void TZipOutStream::Write(const void* data, size_t count) {
    if (buffer_.size() + count > capacity_) {
        Flush();
        if (count >= capacity_) {
            size_t done = WriteThrough(data, count);
            if (done < count) {
                // The rest stays buffered: a cut (Truncate) drops it, nothing else does.
                auto* p = static_cast<const uint8_t*>(data);
                buffer_.assign(p + done, p + count);
                throw EZipException::System(ZipNative::WriteFailed, owner_, lastError_);
            }
            return;
        }
    }
    auto* p = static_cast<const uint8_t*>(data);
    buffer_.insert(buffer_.end(), p, p + count);
}

void TZipOutStream::Flush() {
    if (buffer_.empty()) return;
    size_t done = WriteThrough(buffer_.data(), buffer_.size());
    // Bytes the target did not take stay in the buffer: dropping them would
    // leave a hole the next write or a cut past it fills with zeros.
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(done));
    if (!buffer_.empty()) throw EZipException::System(ZipNative::WriteFailed, owner_, lastError_);
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
    // What lies past the cut is never written, so a write that failed there does not matter.
    if (pos < base_) buffer_.clear();
    else if (pos - base_ < static_cast<int64_t>(buffer_.size())) buffer_.resize(static_cast<size_t>(pos - base_));
    Flush();
    target_.SetSize(pos);
    target_.Seek(pos, soBeginning);
    base_ = pos;
}

} // namespace krv
