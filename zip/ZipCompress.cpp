#include "zip/ZipCompress.h"
#include "zip/ZipErrors.h"
#include "zip/ZipStream.h"
#include "framework/Stream.h"
#include <zlib.h>
#include <algorithm>
#include <memory>
#include <vector>

namespace krv {

size_t ZipBlockSize(int level) {
    if (level >= 1 && level <= 3) return 524288;
    if (level >= 7 && level <= 9) return 1572864;
    return 1048576;
}

namespace {

// A raw deflate stream (no zlib header or Adler-32 trailer).
class TDeflater {
public:
    explicit TDeflater(int level) {
        if (deflateInit2(&z_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw ECompressionError("error");
        open_ = true;
    }
    ~TDeflater() {
        if (open_) deflateEnd(&z_);
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
    void End() {
        open_ = false;
        if (deflateEnd(&z_) < 0) throw ECompressionError("error");
    }

private:
    z_stream z_{};
    bool open_ = false;
};

size_t ReadFull(TStream& s, uint8_t* buf, size_t count) {
    size_t got = 0;
    while (got < count) {
        size_t n = s.Read(buf + got, count - got);
        if (n == 0) break;
        got += n;
    }
    return got;
}

} // namespace

bool ZipCompressItem(TZipCompressJob& job) {
    TDirItem& item = *job.item;
    TStream& src = *job.source;
    const int64_t size = job.sourceSize;
    const size_t blockSize = ZipBlockSize(item.level);
    const bool deflating = item.method == 8 && size > 0;
    const bool encrypted = !item.password.empty();
    std::vector<uint8_t> in(static_cast<size_t>(std::min<int64_t>(size, static_cast<int64_t>(blockSize))));
    std::vector<uint8_t> out;
    std::unique_ptr<TDeflater> deflater;
    if (deflating) deflater = std::make_unique<TDeflater>(item.level);

    uint64_t compressed = 0;
    uint32_t crc = 0xFFFFFFFFu;
    uint32_t firstPassCrc = 0;
    std::unique_ptr<TZipCipher> cipher;
    if (encrypted) {
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
        cipher = std::make_unique<TZipCipher>(item.password);
        uint8_t header[12];
        cipher->MakeHeader(firstPassCrc, job.random, header);
        job.out->Write(header, sizeof header);
        compressed = 12;
    }

    int64_t read = 0;
    bool cancelled = false;
    while (size > read) {
        if (job.progress && job.progress(static_cast<double>(read) / static_cast<double>(size))) {
            cancelled = true;
            break;
        }
        size_t count = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(blockSize), size - read));
        if (ReadFull(src, in.data(), count) != count) break;
        crc = CrcUpdate(crc, in.data(), count);
        bool last = read + static_cast<int64_t>(count) == size;
        const uint8_t* data = in.data();
        size_t length = count;
        if (deflating) {
            deflater->Block(in.data(), count, last, out);
            data = out.data();
            length = out.size();
        }
        if (cipher) {
            if (!deflating) out.assign(data, data + length);
            cipher->Encrypt(out.data(), length);
            data = out.data();
        }
        job.out->Write(data, length);
        read += static_cast<int64_t>(count);
        compressed += length;
    }
    if (deflater) {
        if (cancelled) deflater.reset();
        else deflater->End();
    }
    if (cancelled) return false;
    if (read != size) throw EZipException::Fmt(34, job.owner, static_cast<int>(size), static_cast<int>(read));
    if (encrypted && ~crc != firstPassCrc) throw EZipException(8, job.owner);
    item.crc = size > 0 ? ~crc : 0;
    item.compressedSize = compressed;
    item.uncompressedSize = static_cast<uint64_t>(size);
    if (size == 0) item.method = 0;
    return true;
}

} // namespace krv
