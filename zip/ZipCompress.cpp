#include "zip/ZipCompress.h"
#include "zip/ZipErrors.h"
#include "zip/ZipStream.h"
#include "framework/Stream.h"
#include <windows.h>
#include <zlib.h>
#include <algorithm>

namespace krv {

size_t ZipBlockSize(int level) {
    if (level >= 1 && level <= 3) return 524288;
    if (level >= 7 && level <= 9) return 1572864;
    return 1048576;
}

// A raw deflate stream (no zlib header or Adler-32 trailer).
class TZipDeflater {
public:
    explicit TZipDeflater(int level) : level_(level) {
        if (deflateInit2(&z_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw ECompressionError("error");
        Tune();
    }
    ~TZipDeflater() { deflateEnd(&z_); }
    TZipDeflater(const TZipDeflater&) = delete;
    TZipDeflater& operator=(const TZipDeflater&) = delete;
    int Level() const { return level_; }
    void Reset() {
        if (deflateReset(&z_) != Z_OK) throw ECompressionError("error");
        Tune();   // a reset goes back to the level's own search limits
    }
    // Deflates one block into out (replacing its contents).
    void Block(const uint8_t* in, size_t count, bool last, std::vector<uint8_t>& out) {
        size_t room = ((count + count / 10 + 267) / 256) * 256 + 256;
        out.resize(room);
        z_.next_in = const_cast<Bytef*>(in);
        z_.avail_in = static_cast<uInt>(count);
        size_t produced = 0;
        for (;;) {
            z_.next_out = out.data() + produced;
            z_.avail_out = static_cast<uInt>(out.size() - produced);
            int rc = deflate(&z_, last ? Z_FINISH : Z_SYNC_FLUSH);
            if (rc < 0 && rc != Z_BUF_ERROR) throw ECompressionError("error");
            produced = out.size() - z_.avail_out;
            bool done = last ? rc == Z_STREAM_END : (z_.avail_in == 0 && z_.avail_out > 0);
            if (done) break;
            out.resize(out.size() * 2);
        }
        out.resize(produced);
    }

private:
    // Level 9 follows a match chain up to 4096 candidates long. On real
    // folders (documents, programs, libraries) the candidates past 1024 make
    // the archive about 0.03% smaller and cost a third of the time, so the
    // search stops there; everything else is level 9's.
    void Tune() {
        if (level_ == 9 && deflateTune(&z_, 32, 258, 258, 1024) != Z_OK) throw ECompressionError("error");
    }
    z_stream z_{};
    int level_;
};

TZipDeflaterCache::TZipDeflaterCache() = default;
TZipDeflaterCache::~TZipDeflaterCache() = default;

TZipDeflater& TZipDeflaterCache::Acquire(int level) {
    if (deflater_ && deflater_->Level() == level) {
        deflater_->Reset();
    } else {
        deflater_.reset();
        deflater_ = std::make_unique<TZipDeflater>(level);
    }
    return *deflater_;
}

bool ZipSourceStateOf(void* handle, TZipSourceState& state) {
    // (Size and time asked for alone: a query for everything at once costs
    // the system more than a small file's data.)
    LARGE_INTEGER size;
    FILETIME written;
    if (!::GetFileSizeEx(handle, &size) || !::GetFileTime(handle, nullptr, nullptr, &written)) return false;
    state.size = size.QuadPart;
    state.written = (static_cast<uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
    return true;
}

uint64_t TZipPrepared::Bytes() const {
    uint64_t n = 0;
    for (const auto& b : blocks) n += b.size();
    return n;
}

namespace {

// Reads count bytes unless the source ends or fails first; a failed read
// leaves the system's error in readError (an end of file leaves it 0).
size_t ReadFull(TStream& s, uint8_t* buf, size_t count, unsigned long* readError = nullptr) {
    size_t got = 0;
    while (got < count) {
        ::SetLastError(ERROR_SUCCESS);
        size_t n = s.Read(buf + got, count - got);
        if (n == 0) {
            if (readError) *readError = ::GetLastError();
            break;
        }
        got += n;
    }
    return got;
}

// Puts the pieces of one entry's data on the output: the cipher's header
// first when the entry has a password, then every piece enciphered.
class TEntryWriter {
public:
    explicit TEntryWriter(TZipCompressJob& job) : job_(job) {}
    bool Encrypted() const { return !job_.item->password.empty(); }
    bool Header(uint32_t crc) {
        cipher_ = std::make_unique<TZipCipher>(job_.item->password);
        uint8_t header[12];
        cipher_->MakeHeader(crc, job_.random, header);   // comes out enciphered
        return Write(header, sizeof header);
    }
    // Writes bytes the writer may scramble in place; false on a short write.
    bool PutOwned(uint8_t* data, size_t count) {
        if (cipher_) cipher_->Encrypt(data, count);
        return Write(data, count);
    }
    // Writes bytes that must stay as they are.
    bool Put(const std::vector<uint8_t>& piece) {
        if (!cipher_) return Write(piece.data(), piece.size());
        scratch_ = piece;
        return PutOwned(scratch_.data(), scratch_.size());
    }
    // Puts what is still buffered on the target, so an entry counts as
    // written only when its bytes are there: a failure found later would be
    // blamed on the next file.
    bool Flush() { return Guard([&] { job_.out->Flush(); }); }
    uint64_t Written() const { return written_; }
    bool Failed() const { return failed_; }
    unsigned long SystemError() const { return systemError_; }

private:
    bool Write(const uint8_t* data, size_t count) {
        if (!Guard([&] { job_.out->Write(data, count); })) return false;
        written_ += count;
        return true;
    }
    template <class Fn> bool Guard(Fn&& fn) {
        try {
            fn();
            return true;
        } catch (const EZipException& e) {
            if (e.NativeError != ZipNative::WriteFailed) throw;
            failed_ = true;
            systemError_ = e.SystemError;
            return false;
        }
    }
    TZipCompressJob& job_;
    std::unique_ptr<TZipCipher> cipher_;
    std::vector<uint8_t> scratch_;
    uint64_t written_ = 0;
    bool failed_ = false;
    unsigned long systemError_ = 0;
};

// A short write stops the entry: the block it was writing is taken back from
// the bytes read, and the entry fails with the size check's error. A source
// that ends early or fails to read fails with a code of its own: the owner
// leaves that one file out, where a failed write of the archive ends the run.
void CheckSize(const TZipCompressJob& job, const TEntryWriter& writer, int64_t size, int64_t read,
               unsigned long readError = ERROR_SUCCESS) {
    if (read == size && !writer.Failed()) return;
    if (!writer.Failed()) {
        const char* path = job.item->sourceName.c_str();
        if (readError != ERROR_SUCCESS && readError != ERROR_HANDLE_EOF)
            throw EZipException::Fmt(ZipNative::CannotReadFile, job.owner, path).WithSystemError(readError);
        throw EZipException::Fmt(ZipNative::SourceShrank, job.owner, path);
    }
    throw EZipException::Fmt(ZipNative::SizeChanged, job.owner, static_cast<long long>(size), static_cast<long long>(read))
        .WithSystemError(writer.SystemError());
}

bool Cancelled(TZipCompressJob& job, int64_t read, int64_t size) {
    return job.progress && job.progress(static_cast<double>(read) / static_cast<double>(size));
}

void Finish(TZipCompressJob& job, uint32_t crc, uint64_t written, int64_t size) {
    TDirItem& item = *job.item;
    item.crc = size > 0 ? crc : 0;
    item.compressedSize = written;
    item.uncompressedSize = static_cast<uint64_t>(size);
    if (size == 0) item.method = 0;
}

bool WritePrepared(TZipCompressJob& job) {
    const TZipPrepared& data = *job.prepared;
    TEntryWriter writer(job);
    bool ok = !writer.Encrypted() || writer.Header(data.crc);
    int64_t read = 0;
    for (size_t i = 0; ok && i < data.blocks.size(); ++i) {
        if (Cancelled(job, read, data.size)) return false;
        ok = writer.Put(data.blocks[i]) && (i + 1 < data.blocks.size() || writer.Flush());
        if (ok) read = std::min<int64_t>(data.size, read + static_cast<int64_t>(data.blockSize));
    }
    if (ok && data.blocks.empty()) writer.Flush();
    CheckSize(job, writer, data.size, read);
    Finish(job, data.crc, writer.Written(), data.size);
    return true;
}

} // namespace

bool ZipPrepareData(const uint8_t* data, size_t size, int level, uint16_t method, TZipDeflaterCache& deflaters,
                    TZipPrepared& out, const std::atomic<bool>* stop) {
    const size_t blockSize = ZipBlockSize(level);
    const bool deflating = method == 8 && size > 0;
    out.size = static_cast<int64_t>(size);
    out.blockSize = blockSize;
    out.blocks.clear();
    out.crc = ~CrcUpdate(0xFFFFFFFFu, data, size);
    TZipDeflater* deflater = deflating ? &deflaters.Acquire(level) : nullptr;
    for (size_t done = 0; done < size;) {
        if (stop && stop->load(std::memory_order_relaxed)) return false;
        size_t count = std::min(blockSize, size - done);
        out.blocks.emplace_back();
        if (deflating) deflater->Block(data + done, count, done + count == size, out.blocks.back());
        else out.blocks.back().assign(data + done, data + done + count);
        done += count;
    }
    return true;
}

bool ZipCompressItem(TZipCompressJob& job) {
    if (job.prepared) return WritePrepared(job);
    TDirItem& item = *job.item;
    TStream& src = *job.source;
    const int64_t size = job.sourceSize;
    const size_t blockSize = ZipBlockSize(item.level);
    const bool deflating = item.method == 8 && size > 0;
    std::vector<uint8_t> in(static_cast<size_t>(std::min<int64_t>(size, static_cast<int64_t>(blockSize))));
    std::vector<uint8_t> out;
    TZipDeflaterCache own;
    TZipDeflater* deflater = deflating ? &(job.deflaters ? *job.deflaters : own).Acquire(item.level) : nullptr;
    TEntryWriter writer(job);

    uint32_t firstPassCrc = 0;
    if (writer.Encrypted()) {
        // The header carries the CRC, so the file is read once before it is compressed.
        uint32_t reg = 0xFFFFFFFFu;
        for (int64_t done = 0; done < size;) {
            size_t n = ReadFull(src, in.data(), static_cast<size_t>(std::min<int64_t>(blockSize, size - done)));
            if (n == 0) break;
            reg = CrcUpdate(reg, in.data(), n);
            done += static_cast<int64_t>(n);
        }
        firstPassCrc = ~reg;
        src.SetPosition(0);
        if (!writer.Header(firstPassCrc)) CheckSize(job, writer, size, 0);
    }

    uint32_t crc = 0xFFFFFFFFu;
    int64_t read = 0;
    unsigned long readError = ERROR_SUCCESS;
    while (size > read) {
        if (Cancelled(job, read, size)) return false;
        size_t count = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(blockSize), size - read));
        if (ReadFull(src, in.data(), count, &readError) != count) break;
        const bool last = read + static_cast<int64_t>(count) == size;
        crc = CrcUpdate(crc, in.data(), count);
        bool written;
        if (deflating) {
            deflater->Block(in.data(), count, last, out);
            written = writer.PutOwned(out.data(), out.size());
        } else {
            written = writer.PutOwned(in.data(), count);
        }
        if (!written || (last && !writer.Flush())) break;
        read += static_cast<int64_t>(count);
    }
    if (size == 0) writer.Flush();
    CheckSize(job, writer, size, read, readError);
    if (writer.Encrypted() && ~crc != firstPassCrc) throw EZipException(ZipNative::CheckSumMismatch, job.owner);
    Finish(job, ~crc, writer.Written(), size);
    return true;
}

} // namespace krv
