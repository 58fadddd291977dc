#include "zip/ZipRecords.h"
#include "zip/ZipErrors.h"
#include "zip/ZipStream.h"
#include "framework/Stream.h"
#include <windows.h>
#include <algorithm>

namespace krv {

bool ZipNameIsUtf8(const std::string& name) {
    if (::GetACP() != CP_UTF8) return false;
    return std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

std::string ZipEncodeName(const std::string& name, bool oem) {
    // UTF-8 names are stored as they are, flagged (general purpose bit 11).
    if (!oem || name.empty() || ZipNameIsUtf8(name)) return name;
    std::string out(name);
    ::CharToOemBuffA(name.c_str(), out.data(), static_cast<DWORD>(name.size()));
    return out;
}

std::string ZipDecodeName(const std::string& name, bool oem, uint16_t flags) {
    if (name.empty()) return name;
    if (flags & kFlagUtf8Name) {
        if (::GetACP() == CP_UTF8) return name;
        return WideToAnsi(AnsiToWide(name, CP_UTF8));
    }
    if (!oem) return name;
    std::string out(name);
    ::OemToCharBuffA(name.c_str(), out.data(), static_cast<DWORD>(name.size()));
    return out;
}

std::vector<uint8_t> ZipLocalHeader(const TDirItem& item, const std::string& storedName) {
    TLEWriter w;
    uint32_t compressed = item.zip64 ? 0xFFFFFFFFu : static_cast<uint32_t>(item.compressedSize);
    uint32_t uncompressed = item.zip64 ? 0xFFFFFFFFu : static_cast<uint32_t>(item.uncompressedSize);
    w.U32(kLocalHeaderSig).U16(item.versionNeeded).U16(item.flags).U16(item.method).U16(item.time).U16(item.date)
        .U32(item.crc).U32(compressed).U32(uncompressed).U16(static_cast<uint32_t>(storedName.size()))
        .U16(item.zip64 ? kLocalZip64ExtraSize : 0);
    w.Str(storedName);
    if (item.zip64) w.U16(kZip64Tag).U16(16).U64(item.uncompressedSize).U64(item.compressedSize);
    return std::move(w.data);
}

std::vector<uint8_t> ZipCentralHeader(const TDirItem& item, const std::string& storedName) {
    bool bigUncompressed = item.zip64 || ZipNeeds64(item.uncompressedSize);
    bool bigCompressed = item.zip64 || ZipNeeds64(item.compressedSize);
    bool bigOffset = ZipNeeds64(item.localHeaderOffset);
    bool bigDisk = item.diskNumberStart > 65534;
    TLEWriter z64;
    if (bigUncompressed) z64.U64(item.uncompressedSize);
    if (bigCompressed) z64.U64(item.compressedSize);
    if (bigOffset) z64.U64(item.localHeaderOffset);
    if (bigDisk) z64.U32(item.diskNumberStart);
    TLEWriter extra;
    if (z64.Size() > 0) extra.U16(kZip64Tag).U16(static_cast<uint32_t>(z64.Size())).Bytes(z64.data.data(), z64.Size());
    for (const auto& b : item.extra) {
        if (b.tag == kZip64Tag) continue;
        extra.U16(b.tag).U16(static_cast<uint32_t>(b.data.size())).Str(b.data);
    }
    uint16_t version = z64.Size() > 0 ? std::max<uint16_t>(kVersionZip64, item.versionNeeded & 0xFF) : item.versionNeeded;
    uint16_t madeBy = z64.Size() > 0 ? static_cast<uint16_t>((item.versionMadeBy & 0xFF00) | version) : item.versionMadeBy;
    TLEWriter w;
    w.U32(kCentralHeaderSig).U16(madeBy).U16(version).U16(item.flags).U16(item.method).U16(item.time)
        .U16(item.date).U32(item.crc)
        .U32(bigCompressed ? 0xFFFFFFFFu : static_cast<uint32_t>(item.compressedSize))
        .U32(bigUncompressed ? 0xFFFFFFFFu : static_cast<uint32_t>(item.uncompressedSize))
        .U16(static_cast<uint32_t>(storedName.size())).U16(static_cast<uint32_t>(extra.Size()))
        .U16(static_cast<uint32_t>(item.comment.size())).U16(bigDisk ? 0xFFFF : item.diskNumberStart)
        .U16(item.internalAttr).U32(item.externalAttr)
        .U32(bigOffset ? 0xFFFFFFFFu : static_cast<uint32_t>(item.localHeaderOffset));
    w.Str(storedName).Bytes(extra.data.data(), extra.Size()).Str(item.comment);
    return std::move(w.data);
}

bool ZipClosingNeeds64(const TZipClosing& c) {
    const auto& e = c.end;
    return ZipNeeds64(c.position) || ZipNeeds64Count(e.thisVolume) || ZipNeeds64Count(e.directoryVolume) ||
           ZipNeeds64Count(e.entriesOnVolume) || ZipNeeds64Count(e.totalEntries) || ZipNeeds64(e.directorySize) ||
           ZipNeeds64(e.directoryOffset);
}

size_t ZipClosingSize(const TZipClosing& c) {
    return (ZipClosingNeeds64(c) ? kZip64EndSize + kZip64LocatorSize : 0) + kEndSize + c.end.comment.size();
}

std::vector<uint8_t> ZipClosingRecords(const TZipClosing& c) {
    const auto& e = c.end;
    TLEWriter w;
    if (ZipClosingNeeds64(c)) {
        w.U32(kZip64EndSig).U64(44).U16(kVersionZip64).U16(kVersionZip64).U32(e.thisVolume).U32(e.directoryVolume)
            .U64(e.entriesOnVolume).U64(e.totalEntries).U64(e.directorySize).U64(e.directoryOffset);
        w.U32(kZip64LocatorSig).U32(c.volume).U64(c.position).U32(c.totalVolumes);
    }
    auto count16 = [](uint64_t v) { return ZipNeeds64Count(v) ? 0xFFFFu : static_cast<uint32_t>(v); };
    auto size32 = [](uint64_t v) { return ZipNeeds64(v) ? 0xFFFFFFFFu : static_cast<uint32_t>(v); };
    w.U32(kEndSig).U16(count16(e.thisVolume)).U16(count16(e.directoryVolume)).U16(count16(e.entriesOnVolume))
        .U16(count16(e.totalEntries)).U32(size32(e.directorySize)).U32(size32(e.directoryOffset))
        .U16(static_cast<uint32_t>(e.comment.size())).Str(e.comment);
    return std::move(w.data);
}

namespace {

// Finds the end record in the archive's last bytes; answers its offset or -1.
int64_t FindEndRecord(TStream& s, std::vector<uint8_t>& tail, int64_t& tailStart) {
    int64_t size = s.Size();
    int64_t n = std::min<int64_t>(size, 65600);
    tailStart = size - n;
    tail.resize(static_cast<size_t>(n));
    s.SetPosition(tailStart);
    if (n > 0) s.ReadBuffer(tail.data(), tail.size());
    for (int64_t i = n - static_cast<int64_t>(kEndSize); i >= 0; --i) {
        const uint8_t* p = tail.data() + i;
        if (p[0] != 0x50 || p[1] != 0x4B || p[2] != 0x05 || p[3] != 0x06) continue;
        size_t commentLen = p[20] | (p[21] << 8);
        if (static_cast<int64_t>(i + kEndSize + commentLen) == n) return tailStart + i;
    }
    return -1;
}

void ReadExtra(TDirItem& item, const std::string& extra, bool c32, bool u32, bool o32, bool d16) {
    TLEReader r(reinterpret_cast<const uint8_t*>(extra.data()), extra.size());
    while (r.Left() >= 4) {
        uint16_t tag = static_cast<uint16_t>(r.U16());
        uint16_t len = static_cast<uint16_t>(r.U16());
        if (len > r.Left()) break;
        std::string data = r.Str(len);
        if (tag != kZip64Tag) {
            item.extra.push_back({tag, data});
            continue;
        }
        TLEReader z(reinterpret_cast<const uint8_t*>(data.data()), data.size());
        if (u32 && z.Left() >= 8) item.uncompressedSize = z.U64();
        if (c32 && z.Left() >= 8) item.compressedSize = z.U64();
        if (o32 && z.Left() >= 8) item.localHeaderOffset = z.U64();
        if (d16 && z.Left() >= 4) item.diskNumberStart = z.U32();
    }
}

} // namespace

void ZipReadDirectory(TStream& s, TZipDirManager& dir, bool oem, const TComponent* owner) {
    std::vector<uint8_t> tail;
    int64_t tailStart = 0;
    int64_t endPos = FindEndRecord(s, tail, tailStart);
    dir.HasDirectory = endPos >= 0;
    if (endPos < 0) return;
    TLEReader er(tail.data() + (endPos - tailStart), tail.size() - static_cast<size_t>(endPos - tailStart));
    er.U32();
    TZipEndInfo& e = dir.End;
    e.thisVolume = er.U16();
    e.directoryVolume = er.U16();
    e.entriesOnVolume = er.U16();
    e.totalEntries = er.U16();
    e.directorySize = er.U32();
    e.directoryOffset = er.U32();
    e.comment = er.Str(er.U16());

    int64_t locPos = endPos - static_cast<int64_t>(kZip64LocatorSize);
    if (locPos >= tailStart) {
        TLEReader lr(tail.data() + (locPos - tailStart), kZip64LocatorSize);
        if (lr.U32() == kZip64LocatorSig) {
            lr.U32();
            int64_t z64Pos = static_cast<int64_t>(lr.U64());
            uint8_t buf[kZip64EndSize];
            s.SetPosition(z64Pos);
            if (z64Pos < 0 || s.Read(buf, sizeof buf) != sizeof buf) throw EZipException(ZipNative::NoZip64End, owner);
            TLEReader zr(buf, sizeof buf);
            if (zr.U32() != kZip64EndSig) throw EZipException(ZipNative::NoZip64End, owner);
            zr.U64();
            zr.U16();
            zr.U16();
            uint32_t thisVol = zr.U32(), dirVol = zr.U32();
            uint64_t onVol = zr.U64(), total = zr.U64(), size = zr.U64(), offset = zr.U64();
            if (e.thisVolume == 0xFFFF) e.thisVolume = thisVol;
            if (e.directoryVolume == 0xFFFF) e.directoryVolume = dirVol;
            if (e.entriesOnVolume == 0xFFFF) e.entriesOnVolume = onVol;
            if (e.totalEntries == 0xFFFF) e.totalEntries = total;
            if (e.directorySize == 0xFFFFFFFF) e.directorySize = size;
            if (e.directoryOffset == 0xFFFFFFFF) e.directoryOffset = offset;
        }
    }

    if (e.directoryOffset + e.directorySize > static_cast<uint64_t>(endPos)) throw EZipException(ZipNative::InvalidArchive, owner);
    std::vector<uint8_t> cd(static_cast<size_t>(e.directorySize));
    s.SetPosition(static_cast<int64_t>(e.directoryOffset));
    if (!cd.empty()) s.ReadBuffer(cd.data(), cd.size());
    TLEReader r(cd.data(), cd.size());
    dir.UpdateList.Clear();
    for (uint64_t n = 0; n < e.totalEntries; ++n) {
        if (r.Left() < kCentralHeaderSize || r.U32() != kCentralHeaderSig) throw EZipException(ZipNative::InvalidArchive, owner);
        TDirItem item;
        item.versionMadeBy = static_cast<uint16_t>(r.U16());
        item.versionNeeded = static_cast<uint16_t>(r.U16());
        item.flags = static_cast<uint16_t>(r.U16());
        item.method = static_cast<uint16_t>(r.U16());
        item.time = static_cast<uint16_t>(r.U16());
        item.date = static_cast<uint16_t>(r.U16());
        item.crc = r.U32();
        item.compressedSize = r.U32();
        item.uncompressedSize = r.U32();
        size_t nameLen = r.U16(), extraLen = r.U16(), commentLen = r.U16();
        item.diskNumberStart = r.U16();
        item.internalAttr = static_cast<uint16_t>(r.U16());
        item.externalAttr = r.U32();
        item.localHeaderOffset = r.U32();
        item.name = ZipDecodeName(r.Str(nameLen), oem, item.flags);
        std::string extra = r.Str(extraLen);
        item.comment = r.Str(commentLen);
        bool bothBig = item.compressedSize == 0xFFFFFFFF && item.uncompressedSize == 0xFFFFFFFF;
        ReadExtra(item, extra, item.compressedSize == 0xFFFFFFFF, item.uncompressedSize == 0xFFFFFFFF,
                  item.localHeaderOffset == 0xFFFFFFFF, item.diskNumberStart == 0xFFFF);
        // Entries whose sizes both live in the Zip64 extra keep that form when rewritten.
        item.zip64 = bothBig;
        dir.UpdateList.Add(item);
    }
}

size_t ZipLocalHeaderLength(TStream& s, const TComponent* owner) {
    uint8_t h[kLocalHeaderSize];
    if (s.Read(h, sizeof h) != sizeof h) throw EZipException(ZipNative::InvalidArchive, owner);
    TLEReader r(h, sizeof h);
    if (r.U32() != kLocalHeaderSig) throw EZipException(ZipNative::InvalidArchive, owner);
    r.Skip(22);
    size_t nameLen = r.U16(), extraLen = r.U16();
    return kLocalHeaderSize + nameLen + extraLen;
}

} // namespace krv
