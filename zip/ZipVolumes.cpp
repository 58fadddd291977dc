#include "zip/ZipVolumes.h"
#include "zip/ZipErrors.h"
#include "framework/Stream.h"
#include "framework/SysUtils.h"
#include <windows.h>
#include <algorithm>
#include <new>

namespace krv {

bool TZipVolumeNumberInfo::operator==(const TZipVolumeNumberInfo& o) const {
    if (kind == vnLast && o.kind == vnLast) return true;
    if (kind == vnFirst && o.kind == vnFirst) return true;
    if (number < 0 || o.number < 0) return kind == o.kind;
    return number == o.number;
}

int64_t ZipVolumeSize(const TZipSpanningOptions& options, uint32_t number) {
    if (number == 0 && options.FirstVolumeSize > 0) return options.FirstVolumeSize;
    switch (options.VolumeSize) {
    case vsAutoDetect: return -1;
    case vsCustom: return options.CustomVolumeSize();
    case vs1_44MB: return 1457664;
    case vs100MB: return 104857600;
    case vs200MB: return 209715200;
    case vs250MB: return 262144000;
    case vs600MB: return 629145600;
    case vs650MB: return 681574400;
    case vs700MB: return 734003200;
    }
    return -1;
}

std::string ZipVolumeFileName(const std::string& fileName, uint32_t number, TZipSpanningMode mode,
                              bool advancedNaming, bool selfExtracting, bool tryBoth) {
    std::string folder = ExtractFilePath(fileName);
    std::string ext = ExtractFileExt(fileName);
    std::string base = ExtractFileName(fileName);
    base.resize(base.size() - ext.size());
    if (number == kLastVolume) {
        if (mode == smSplitting && selfExtracting) return folder + base + ".ZIP";
        return fileName;
    }
    auto advanced = [&] { return folder + base + Format("_%.3u", number + 1) + ext; };
    if (mode == smSpanning) {
        if (selfExtracting) ext = ".exe";
        std::string name = advancedNaming ? advanced() : folder + base + ext;
        if (tryBoth && !FileExists(name)) {
            std::string other = advancedNaming ? folder + base + ext : advanced();
            if (FileExists(other)) name = other;
        }
        return name;
    }
    if (number == 0 && selfExtracting) return folder + base + ".exe";
    if (advancedNaming) return advanced();
    std::string name = folder + base + Format(".Z%.2u", number + 1);
    if (tryBoth && !FileExists(name) && FileExists(advanced())) name = advanced();
    return name;
}

TZipVolumeWriter::TZipVolumeWriter(TZipVolumeHost& host) : host_(host) {}
TZipVolumeWriter::~TZipVolumeWriter() = default;

int64_t TZipVolumeWriter::Room(size_t want) {
    if (!out_) return 0;
    // Another program may fill the disk while a volume is written, but asking
    // the disk costs more than writing a small file: its answer, less what was
    // written since, holds while that stays within half the room it gave and
    // a few MB. A write that could fill the volume always asks again.
    if (askedAt_ < 0 || out_->Position() - askedAt_ + static_cast<int64_t>(want) > std::min(known_ / 2, kTrustedBytes))
        Ask(host_.VolumeFreeSpace(names_.back()));
    const int64_t free = known_ - (out_->Position() - askedAt_);
    return limit_ < 0 ? free : std::min(limit_ - out_->Position(), free);
}

// What is buffered is not on the disk yet: the room is the free space less that.
void TZipVolumeWriter::Ask(int64_t free) {
    known_ = free - static_cast<int64_t>(out_->Buffered());
    askedAt_ = out_->Position();
}

void TZipVolumeWriter::OpenNext() {
    uint32_t number = out_ ? number_ + 1 : 0;
    if (out_) {
        out_->Flush();
        if (host_.VolumeFlushEach()) ::FlushFileBuffers(file_->Handle());
        out_.reset();
        file_.reset();
    }
    int64_t size = host_.VolumeSizeOf(number);
    std::string name;
    bool cancel = false;
    int64_t free = 0;
    for (;;) {
        cancel = host_.VolumeRequestBlank(number, name);
        if (cancel) break;
        free = host_.VolumeFreeSpace(name);
        if (free >= 65537 && (size < 0 || free >= size)) break;
        cancel = host_.VolumeDiskFull(number, name);
        if (cancel) break;
    }
    if (cancel) throw EZipException(ZipNative::OpenAborted, host_.VolumeOwner());
    try {
        file_ = std::make_unique<TFileStream>(name, fmCreate);
    } catch (const EFOpenError&) {
        throw EZipException(ZipNative::OpenAborted, host_.VolumeOwner());
    }
    names_.push_back(name);
    number_ = number;
    host_.VolumeCreated(number, name);
    limit_ = size;   // without a fixed size the volume takes what the disk holds
    // A floppy disk is written once per volume: the volume is collected in
    // memory and put on the disk when it is full or the archive ends. A larger
    // disk gets a buffer of a few MB, whatever room it has.
    int64_t buffer = 1 << 20;
    if (host_.VolumeBuffered(name)) buffer = std::clamp<int64_t>(size >= 0 ? size : free, buffer, kMaxVolumeBuffer);
    try {
        out_ = std::make_unique<TZipOutStream>(*file_, host_.VolumeOwner(), static_cast<size_t>(buffer));
    } catch (const std::bad_alloc&) {
        throw EZipException(ZipNative::OpenAborted, host_.VolumeOwner());
    }
    Ask(free);
}

void TZipVolumeWriter::Reserve(size_t count) {
    if (!out_) OpenNext();
    if (static_cast<int64_t>(count) > Room(count) && out_->Position() > 0) OpenNext();
}

void TZipVolumeWriter::Write(const void* data, size_t count, size_t keepTogether) {
    if (keepTogether > 0) Reserve(keepTogether);
    auto* p = static_cast<const uint8_t*>(data);
    while (count > 0) {
        int64_t room = Room(count);
        if (room <= 0) {
            OpenNext();
            room = Room(count);
            if (room <= 0) throw EZipException(ZipNative::WriteFailed, host_.VolumeOwner());
        }
        size_t n = static_cast<size_t>(std::min<int64_t>(room, static_cast<int64_t>(count)));
        out_->Write(p, n);
        p += n;
        count -= n;
        total_ += static_cast<int64_t>(n);
    }
}

void TZipVolumeWriter::Finish(const std::string& archiveName) {
    if (!out_) OpenNext();
    out_->Flush();
    if (host_.VolumeFlushEach()) ::FlushFileBuffers(file_->Handle());
    out_.reset();
    file_.reset();
    const std::string& last = names_.back();
    if (CompareText(last, archiveName) != 0) {
        ::DeleteFileA(archiveName.c_str());
        if (!::MoveFileA(last.c_str(), archiveName.c_str()))
            throw EZipException::Fmt(ZipNative::CannotCreateFile, host_.VolumeOwner(), archiveName.c_str()).WithSystemError(::GetLastError());
        names_.back() = archiveName;
    }
}

void TZipVolumeWriter::Discard() {
    out_.reset();
    file_.reset();
    for (const auto& n : names_) ::DeleteFileA(n.c_str());
    names_.clear();
}

} // namespace krv
