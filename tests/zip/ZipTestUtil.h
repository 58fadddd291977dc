// Fixtures shared by the archive engine's tests: a scratch folder under the
// temp folder, files written into it, and whole files read back.
#pragma once
#include "framework/Stream.h"
#include "framework/SysUtils.h"
#include "zip/ZipDir.h"
#include "zip/ZipErrors.h"
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

namespace ziptest {

// The native code of the archive error that fn raises; -1 when it raises none.
template <class Fn> int NativeErrorOf(Fn fn) {
    try {
        fn();
    } catch (const krv::EZipException& e) {
        return e.NativeError;
    }
    return -1;
}

class TScratch {
public:
    TScratch();
    ~TScratch();
    const std::string& Dir() const { return dir_; }
    std::string Path(const std::string& rel) const { return dir_ + rel; }
    std::string Write(const std::string& rel, const std::string& data) const;
    std::string Folder(const std::string& rel) const;
    // The same while the archiver's read-ahead workers may briefly hold the
    // file open: tried again for up to five seconds.
    std::string Rewrite(const std::string& rel, const std::string& data) const;
    void Delete(const std::string& rel) const;

private:
    std::string dir_;
};

// Half text, half noise: compresses, but not to nothing.
std::string Pattern(size_t n, unsigned salt);
std::vector<uint8_t> ReadAll(const std::string& path);
std::string Bytes(const std::vector<uint8_t>& v, size_t from, size_t n);
uint32_t U32At(const std::vector<uint8_t>& v, size_t pos);
uint16_t U16At(const std::vector<uint8_t>& v, size_t pos);
// Raw inflate of a deflate stream.
std::string Inflate(const uint8_t* data, size_t size);
// The data of an entry (deflated or stored, no password) in an archive's bytes.
std::string EntryData(const std::vector<uint8_t>& archive, const krv::TDirItem& item);

} // namespace ziptest
