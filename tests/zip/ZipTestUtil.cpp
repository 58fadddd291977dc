#include "ZipTestUtil.h"
#include "framework/Handle.h"
#include <zlib.h>
#include <atomic>
#include <stdexcept>

namespace ziptest {

namespace {
void RemoveTree(const std::string& dir) {
    WIN32_FIND_DATAA fd;
    bool wide = false;
    // The search ends before the folder goes. Wide calls: names may end in a dot or a space.
    if (krv::FindHandle h(krv::FindFirstFileAny(dir + "*", fd, wide)); h) {
        do {
            std::string n = fd.cFileName;
            if (n == "." || n == "..") continue;
            std::string p = dir + n;
            ::SetFileAttributesW(krv::LongPathW(p).c_str(), FILE_ATTRIBUTE_NORMAL);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(p + "\\");
            else ::DeleteFileW(krv::LongPathW(p).c_str());
        } while (krv::FindNextFileAny(h.get(), fd, wide));
    }
    ::RemoveDirectoryW(krv::LongPathW(dir).c_str());
}
} // namespace

TScratch::TScratch() {
    static std::atomic<int> counter{0};
    char tmp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, tmp);
    dir_ = krv::Format("%sziptest_%lu_%d\\", tmp, ::GetCurrentProcessId(), counter++);
    RemoveTree(dir_);
    krv::ForceDirectories(dir_);
}

TScratch::~TScratch() { RemoveTree(dir_); }

std::string TScratch::Write(const std::string& rel, const std::string& data) const {
    std::string p = dir_ + rel;
    krv::ForceDirectories(krv::ExtractFileDir(p));
    krv::TFileStream f(p, krv::fmCreate);
    if (!data.empty()) f.WriteBuffer(data.data(), data.size());
    return p;
}

namespace {
template <class Try> void Eventually(Try&& attempt) {
    for (int i = 0; i < 500; ++i) {
        if (attempt()) return;
        ::Sleep(10);
    }
    throw std::runtime_error("the file stayed in use");
}
} // namespace

std::string TScratch::Rewrite(const std::string& rel, const std::string& data) const {
    Eventually([&] {
        try {
            Write(rel, data);
            return true;
        } catch (const krv::EFOpenError&) {
            return false;
        }
    });
    return dir_ + rel;
}

void TScratch::Delete(const std::string& rel) const {
    Eventually([&] { return ::DeleteFileA((dir_ + rel).c_str()) != 0; });
}

std::string TScratch::Folder(const std::string& rel) const {
    std::string p = dir_ + rel;
    krv::ForceDirectories(p);
    return p;
}

std::string Pattern(size_t n, unsigned salt) {
    std::string s(n, '\0');
    uint32_t x = salt * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        s[i] = static_cast<char>((i % 64 < 40) ? 'a' + (i % 7) : (x >> 16));
    }
    return s;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    krv::TFileStream f(path, krv::fmOpenRead | krv::fmShareDenyNone);
    std::vector<uint8_t> v(static_cast<size_t>(f.Size()));
    if (!v.empty()) f.ReadBuffer(v.data(), v.size());
    return v;
}

std::string Bytes(const std::vector<uint8_t>& v, size_t from, size_t n) {
    return std::string(reinterpret_cast<const char*>(v.data()) + from, n);
}
uint32_t U32At(const std::vector<uint8_t>& v, size_t p) {
    return v.at(p) | (v.at(p + 1) << 8) | (v.at(p + 2) << 16) | (static_cast<uint32_t>(v.at(p + 3)) << 24);
}
uint16_t U16At(const std::vector<uint8_t>& v, size_t p) { return static_cast<uint16_t>(v.at(p) | (v.at(p + 1) << 8)); }

std::string Inflate(const uint8_t* data, size_t size) {
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) throw std::runtime_error("inflateInit2");
    std::string out;
    char buf[65536];
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    int rc;
    do {
        z.next_out = reinterpret_cast<Bytef*>(buf);
        z.avail_out = sizeof buf;
        rc = inflate(&z, Z_NO_FLUSH);
        if (rc < 0 && rc != Z_BUF_ERROR) break;
        out.append(buf, sizeof buf - z.avail_out);
    } while (rc != Z_STREAM_END && (z.avail_in > 0 || z.avail_out == 0));
    inflateEnd(&z);
    if (rc != Z_STREAM_END) throw std::runtime_error("deflate stream does not end");
    return out;
}

std::string EntryData(const std::vector<uint8_t>& archive, const krv::TDirItem& item) {
    const size_t at = static_cast<size_t>(item.localHeaderOffset);
    const size_t start = at + 30 + U16At(archive, at + 26) + U16At(archive, at + 28);
    if (item.method == 0) return Bytes(archive, start, static_cast<size_t>(item.compressedSize));
    return Inflate(archive.data() + start, static_cast<size_t>(item.compressedSize));
}

} // namespace ziptest
