#include "framework/Stream.h"
#include <algorithm>
#include <cstring>

namespace krv {

int64_t TStream::Size() {
    int64_t pos = Seek(0, soCurrent);
    int64_t end = Seek(0, soEnd);
    Seek(pos, soBeginning);
    return end;
}
void TStream::SetSize(int64_t) { throw EStreamError("Stream size cannot be changed"); }

void TStream::ReadBuffer(void* buffer, size_t count) {
    auto* p = static_cast<uint8_t*>(buffer);
    while (count > 0) {
        size_t n = Read(p, count);
        if (n == 0) throw EReadError("Stream read error");
        p += n;
        count -= n;
    }
}
void TStream::WriteBuffer(const void* buffer, size_t count) {
    auto* p = static_cast<const uint8_t*>(buffer);
    while (count > 0) {
        size_t n = Write(p, count);
        if (n == 0) throw EWriteError("Stream write error");
        p += n;
        count -= n;
    }
}
int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    std::vector<uint8_t> buf(static_cast<size_t>(std::min<int64_t>(count, 1 << 16)) + 1);
    int64_t left = count;
    while (left > 0) {
        size_t n = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(buf.size())));
        source.ReadBuffer(buf.data(), n);
        WriteBuffer(buf.data(), n);
        left -= n;
    }
    return count;
}

size_t THandleStream::Read(void* buffer, size_t count) {
    DWORD got = 0;
    DWORD want = static_cast<DWORD>(std::min<size_t>(count, 0x40000000));
    if (!::ReadFile(handle_, buffer, want, &got, nullptr)) return 0;
    return got;
}
size_t THandleStream::Write(const void* buffer, size_t count) {
    DWORD put = 0;
    DWORD want = static_cast<DWORD>(std::min<size_t>(count, 0x40000000));
    if (!::WriteFile(handle_, buffer, want, &put, nullptr)) return 0;
    return put;
}
int64_t THandleStream::Seek(int64_t offset, TSeekOrigin origin) {
    LARGE_INTEGER dist, result;
    dist.QuadPart = offset;
    if (!::SetFilePointerEx(handle_, dist, &result, static_cast<DWORD>(origin))) return -1;
    return result.QuadPart;
}
void THandleStream::SetSize(int64_t size) {
    int64_t pos = Position();
    Seek(size, soBeginning);
    if (!::SetEndOfFile(handle_)) throw EStreamError(SysErrorMessage(::GetLastError()));
    if (pos < size) Seek(pos, soBeginning);
}

TFileStream::TFileStream(const std::string& fileName, unsigned mode)
    : THandleStream(INVALID_HANDLE_VALUE), fileName_(fileName) {
    if (mode == fmCreate) {
        file_.reset(CreateFileAny(fileName, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS));
        if (!file_) {
            DWORD e = ::GetLastError();
            throw EFCreateError(Format("Cannot create file \"%s\". %s", fileName.c_str(), SysErrorMessage(e).c_str()), e);
        }
    } else {
        static const DWORD access[3] = {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE};
        static const DWORD share[5] = {0, 0, FILE_SHARE_READ, FILE_SHARE_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE};
        unsigned a = mode & 3, s = (mode & 0xF0) >> 4;
        if (a > 2 || s > 4) throw EStreamError("Invalid file open mode");
        file_.reset(CreateFileAny(fileName, access[a], share[s], OPEN_EXISTING));
        if (!file_) {
            DWORD e = ::GetLastError();
            throw EFOpenError(Format("Cannot open file \"%s\". %s", fileName.c_str(), SysErrorMessage(e).c_str()), e);
        }
    }
    handle_ = file_.get();
}

size_t TMemoryStream::Read(void* buffer, size_t count) {
    if (pos_ >= data_.size()) return 0;
    size_t n = std::min(count, data_.size() - pos_);
    std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += n;
    return n;
}
size_t TMemoryStream::Write(const void* buffer, size_t count) {
    if (count == 0) return 0;
    if (pos_ + count > data_.size()) data_.resize(pos_ + count);
    std::memcpy(data_.data() + pos_, buffer, count);
    pos_ += count;
    return count;
}
int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? static_cast<int64_t>(pos_) : Size();
    int64_t p = base + offset;
    if (p < 0) return -1;
    pos_ = static_cast<size_t>(p);
    return p;
}
void TMemoryStream::SetSize(int64_t size) {
    data_.resize(static_cast<size_t>(size));
    if (pos_ > data_.size()) pos_ = data_.size();
}
void TMemoryStream::LoadFromStream(TStream& s) {
    s.SetPosition(0);
    data_.resize(static_cast<size_t>(s.Size()));
    if (!data_.empty()) s.ReadBuffer(data_.data(), data_.size());
    pos_ = 0;
}
void TMemoryStream::LoadFromFile(const std::string& fileName) {
    TFileStream f(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(f);
}
void TMemoryStream::SaveToFile(const std::string& fileName) {
    TFileStream f(fileName, fmCreate);
    if (!data_.empty()) f.WriteBuffer(data_.data(), data_.size());
}

} // namespace krv
