// Byte streams: the abstract stream with exact reads and writes, a stream over
// a file handle, a named file with open and share modes, and a memory stream.
#pragma once
#include "framework/Handle.h"
#include "framework/SysUtils.h"
#include <cstdint>
#include <string>
#include <vector>

namespace krv {

class EStreamError : public Exception { public: using Exception::Exception; };
class EReadError : public EStreamError { public: using EStreamError::EStreamError; };
class EWriteError : public EStreamError { public: using EStreamError::EStreamError; };
class EFOpenError : public EStreamError {
public:
    EFOpenError(const std::string& msg, DWORD error) : EStreamError(msg), Error(error) {}
    DWORD Error;
};
class EFCreateError : public EFOpenError { public: using EFOpenError::EFOpenError; };

enum TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

// Open modes and share modes, combined with "|".
constexpr unsigned fmOpenRead = 0x0000;
constexpr unsigned fmOpenWrite = 0x0001;
constexpr unsigned fmOpenReadWrite = 0x0002;
constexpr unsigned fmShareCompat = 0x0000;
constexpr unsigned fmShareExclusive = 0x0010;
constexpr unsigned fmShareDenyWrite = 0x0020;
constexpr unsigned fmShareDenyRead = 0x0030;
constexpr unsigned fmShareDenyNone = 0x0040;
constexpr unsigned fmCreate = 0xFFFF;

class TStream {
public:
    virtual ~TStream() = default;
    // Reads up to count bytes; answers how many were read.
    virtual size_t Read(void* buffer, size_t count) = 0;
    // Writes up to count bytes; answers how many were written.
    virtual size_t Write(const void* buffer, size_t count) = 0;
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

    int64_t Position() { return Seek(0, soCurrent); }
    void SetPosition(int64_t pos) { Seek(pos, soBeginning); }
    virtual int64_t Size();
    virtual void SetSize(int64_t size);
    // Bytes between the position and the end.
    int64_t Remaining() { return Size() - Position(); }

    // Exact transfers: a short read raises EReadError, a short write EWriteError.
    void ReadBuffer(void* buffer, size_t count);
    void WriteBuffer(const void* buffer, size_t count);
    int64_t CopyFrom(TStream& source, int64_t count);   // count 0: the whole source

    template <class T> T ReadValue() { T v{}; ReadBuffer(&v, sizeof v); return v; }
    template <class T> void WriteValue(const T& v) { WriteBuffer(&v, sizeof v); }
};

// A stream over a handle it does not own.
class THandleStream : public TStream {
public:
    explicit THandleStream(HANDLE h) : handle_(h) {}
    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    void SetSize(int64_t size) override;
    HANDLE Handle() const { return handle_; }
protected:
    HANDLE handle_;
};

// A named file opened (or created with fmCreate) with the given modes.
class TFileStream : public THandleStream {
public:
    TFileStream(const std::string& fileName, unsigned mode);
    const std::string& FileName() const { return fileName_; }
private:
    FileHandle file_;
    std::string fileName_;
};

// A growable block of memory.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return static_cast<int64_t>(data_.size()); }
    void SetSize(int64_t size) override;
    void Clear() { data_.clear(); pos_ = 0; }
    const uint8_t* Memory() const { return data_.data(); }
    std::vector<uint8_t>& Data() { return data_; }
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName);
    void LoadFromStream(TStream& s);
private:
    std::vector<uint8_t> data_;
    size_t pos_ = 0;
};

} // namespace krv
