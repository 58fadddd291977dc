#include "zip/ZipRecords.h"
#include "zip/ZipErrors.h"
#include "zip/ZipStream.h"
#include "framework/Stream.h"
#include <windows.h>
#include <algorithm>
#include <cstring>

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

bool ZipReadEnd(TStream& s, TZipEndInfo& e, int64_t& closingStart, const TComponent* owner) {
    std::vector<uint8_t> tail;
    int64_t tailStart = 0;
    int64_t endPos = FindEndRecord(s, tail, tailStart);
    if (endPos < 0) return false;
    closingStart = endPos;
    TLEReader er(tail.data() + (endPos - tailStart), tail.size() - static_cast<size_t>(endPos - tailStart));
    er.U32();
    e.thisVolume = er.U16();
    e.directoryVolume = er.U16();
    e.entriesOnVolume = er.U16();
    e.totalEntries = er.U16();
    e.directorySize = er.U32();
    e.directoryOffset = er.U32();
    e.comment = er.Str(er.U16());

    int64_t locPos = endPos - static_cast<int64_t>(kZip64LocatorSize);
    if (locPos < tailStart) return true;
    TLEReader lr(tail.data() + (locPos - tailStart), kZip64LocatorSize);
    if (lr.U32() != kZip64LocatorSig) return true;
    lr.U32();
    int64_t z64Pos = static_cast<int64_t>(lr.U64());
    uint8_t buf[kZip64EndSize];
    auto readAt = [&](int64_t pos) {
        if (pos < 0) return false;
        s.SetPosition(pos);
        return s.Read(buf, sizeof buf) == sizeof buf && TLEReader(buf, 4).U32() == kZip64EndSig;
    };
    // A stub put in front of a finished archive moves the record from where
    // the locator says; it sits right before the locator all the same.
    int64_t adjacent = locPos - static_cast<int64_t>(kZip64EndSize);
    if (readAt(z64Pos)) closingStart = z64Pos;
    else if (readAt(adjacent)) closingStart = adjacent;
    else throw EZipException(ZipNative::NoZip64End, owner);
    TLEReader zr(buf, sizeof buf);
    zr.Skip(16);
    uint32_t thisVol = zr.U32(), dirVol = zr.U32();
    uint64_t onVol = zr.U64(), total = zr.U64(), size = zr.U64(), offset = zr.U64();
    if (e.thisVolume == 0xFFFF) e.thisVolume = thisVol;
    if (e.directoryVolume == 0xFFFF) e.directoryVolume = dirVol;
    if (e.entriesOnVolume == 0xFFFF) e.entriesOnVolume = onVol;
    if (e.totalEntries == 0xFFFF) e.totalEntries = total;
    if (e.directorySize == 0xFFFFFFFF) e.directorySize = size;
    if (e.directoryOffset == 0xFFFFFFFF) e.directoryOffset = offset;
    return true;
}

void ZipParseDirectory(const std::vector<uint8_t>& cd, uint64_t count, TZipDirArray& list, bool oem,
                       const TComponent* owner) {
    TLEReader r(cd.data(), cd.size());
    list.Clear();
    for (uint64_t n = 0; n < count; ++n) {
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
        list.Add(item);
    }
}

void ZipReadDirectory(TStream& s, TZipDirManager& dir, bool oem, const TComponent* owner) {
    TZipEndInfo& e = dir.End;
    int64_t closingStart = 0;
    dir.HasDirectory = ZipReadEnd(s, e, closingStart, owner);
    if (!dir.HasDirectory) return;
    // The directory ends where the closing records begin. When it does not
    // start where the end record says, a stub was put in front of the
    // archive after it was written: every offset is that much further on.
    int64_t cdStart = closingStart - static_cast<int64_t>(e.directorySize);
    int64_t stub = cdStart - static_cast<int64_t>(e.directoryOffset);
    if (stub != 0) {
        uint8_t sig[4] = {};
        s.SetPosition(cdStart);
        bool central = cdStart >= 0 && s.Read(sig, 4) == 4 && TLEReader(sig, 4).U32() == kCentralHeaderSig;
        if (stub < 0 || (!central && e.totalEntries > 0)) throw EZipException(ZipNative::InvalidArchive, owner);
    }
    std::vector<uint8_t> cd(static_cast<size_t>(e.directorySize));
    s.SetPosition(cdStart);
    if (!cd.empty()) s.ReadBuffer(cd.data(), cd.size());
    ZipParseDirectory(cd, e.totalEntries, dir.UpdateList, oem, owner);
    e.directoryOffset = static_cast<uint64_t>(cdStart);
    auto& list = dir.UpdateList;
    for (int i = 0; i < list.Count(); ++i) list.Item(i).localHeaderOffset += static_cast<uint64_t>(stub);
    dir.DataStart = stub;
    // The first entry's header is looked for forward when it is not where the
    // directory says: the distance is a stub the offsets did not count.
    int first = -1;
    for (int i = 0; i < list.Count(); ++i)
        if (first < 0 || list.Item(i).localHeaderOffset < list.Item(first).localHeaderOffset) first = i;
    if (first < 0) return;
    const TDirItem& head = list.Item(first);
    s.SetPosition(static_cast<int64_t>(head.localHeaderOffset));
    if (ZipLocalHeaderMatches(s, head)) return;
    int64_t found = ZipFindSignature(s, static_cast<int64_t>(head.localHeaderOffset) + 1, cdStart, kLocalHeaderSig,
                                     [&](int64_t pos) {
                                         s.SetPosition(pos);
                                         return ZipLocalHeaderMatches(s, head);
                                     });
    if (found < 0) throw EZipException(ZipNative::InvalidArchive, owner);
    int64_t extra = found - static_cast<int64_t>(head.localHeaderOffset);
    for (int i = 0; i < list.Count(); ++i) list.Item(i).localHeaderOffset += static_cast<uint64_t>(extra);
    dir.DataStart += extra;
}

int64_t ZipFindSignature(TStream& s, int64_t from, int64_t to, uint32_t signature,
                         const std::function<bool(int64_t)>& accept) {
    // Windows of 64 KiB that overlap by three bytes, so no signature is cut in two.
    constexpr size_t kWindow = 65536;
    std::vector<uint8_t> buf(kWindow);
    const uint8_t sig[4] = {static_cast<uint8_t>(signature), static_cast<uint8_t>(signature >> 8),
                            static_cast<uint8_t>(signature >> 16), static_cast<uint8_t>(signature >> 24)};
    for (int64_t pos = from; pos + 4 <= to;) {
        size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(kWindow), to - pos));
        s.SetPosition(pos);
        size_t got = s.Read(buf.data(), want);
        if (got < 4) break;
        for (size_t i = 0; i + 4 <= got; ++i) {
            if (std::memcmp(buf.data() + i, sig, 4) != 0) continue;
            if (accept(pos + static_cast<int64_t>(i))) return pos + static_cast<int64_t>(i);
        }
        pos += static_cast<int64_t>(got) - 3;
    }
    return -1;
}

namespace {

struct TLocalHeader {
    uint32_t sig = 0;
    uint16_t version = 0, flags = 0, method = 0, time = 0, date = 0;
    uint32_t crc = 0;
    uint64_t compressed = 0, uncompressed = 0;
    std::string name, extra;
};

// Reads a local header with its name and extra at the stream's position.
bool ReadLocalHeader(TStream& s, TLocalHeader& h) {
    uint8_t raw[kLocalHeaderSize];
    if (s.Read(raw, sizeof raw) != sizeof raw) return false;
    TLEReader r(raw, sizeof raw);
    h.sig = r.U32();
    if (h.sig != kLocalHeaderSig) return false;
    h.version = static_cast<uint16_t>(r.U16());
    h.flags = static_cast<uint16_t>(r.U16());
    h.method = static_cast<uint16_t>(r.U16());
    h.time = static_cast<uint16_t>(r.U16());
    h.date = static_cast<uint16_t>(r.U16());
    h.crc = r.U32();
    h.compressed = r.U32();
    h.uncompressed = r.U32();
    size_t nameLen = r.U16(), extraLen = r.U16();
    h.name.resize(nameLen);
    h.extra.resize(extraLen);
    if (nameLen && s.Read(h.name.data(), nameLen) != nameLen) return false;
    if (extraLen && s.Read(h.extra.data(), extraLen) != extraLen) return false;
    TDirItem sizes;
    sizes.compressedSize = h.compressed;
    sizes.uncompressedSize = h.uncompressed;
    ReadExtra(sizes, h.extra, h.compressed == 0xFFFFFFFF, h.uncompressed == 0xFFFFFFFF, false, false);
    h.compressed = sizes.compressedSize;
    h.uncompressed = sizes.uncompressedSize;
    return true;
}

bool HasZip64Extra(const std::string& extra) {
    TLEReader r(reinterpret_cast<const uint8_t*>(extra.data()), extra.size());
    while (r.Left() >= 4) {
        const uint32_t tag = r.U16(), len = r.U16();
        if (tag == kZip64Tag) return true;
        if (len > r.Left()) break;
        r.Skip(len);
    }
    return false;
}

// Length of the descriptor in d (n bytes) that holds item's CRC and sizes:
// its signature is optional and its sizes take 8 bytes each after a Zip64
// local header (some writers use them for large entries without one). 0 when none does.
size_t DescriptorLength(const uint8_t* d, size_t n, const TDirItem& item, bool zip64) {
    for (size_t width : {zip64 ? 8u : 4u, zip64 ? 4u : 8u})
        for (size_t sig : {4u, 0u}) {
            const size_t length = sig + 4 + 2 * width;
            if (length > n || (sig && TLEReader(d, 4).U32() != kDescriptorSig)) continue;
            TLEReader r(d + sig, length - sig);
            const uint32_t crc = r.U32();
            const uint64_t compressed = width == 8 ? r.U64() : r.U32();
            const uint64_t uncompressed = width == 8 ? r.U64() : r.U32();
            if (crc == item.crc && compressed == item.compressedSize && uncompressed == item.uncompressedSize) return length;
        }
    return 0;
}

} // namespace

bool ZipLocalHeaderMatches(TStream& s, const TDirItem& item) {
    if (s.Size() - s.Position() < static_cast<int64_t>(kLocalHeaderSize)) return false;
    TLocalHeader h;
    if (!ReadLocalHeader(s, h)) return false;
    if (h.method != item.method || h.time != item.time || h.date != item.date) return false;
    // With a data descriptor the header may leave CRC and sizes at 0.
    if ((h.flags & kFlagDescriptor) && h.crc == 0 && h.compressed == 0 && h.uncompressed == 0) return true;
    return h.crc == item.crc && h.compressed == item.compressedSize && h.uncompressed == item.uncompressedSize;
}

void ZipRebuildDirectory(TStream& s, TZipDirManager& dir, bool oem, const TComponent* owner) {
    auto& list = dir.UpdateList;
    list.Clear();
    const int64_t size = s.Size();
    int64_t dataEnd = 0;
    for (int64_t from = 0;;) {
        TLocalHeader h;
        int64_t at = ZipFindSignature(s, from, size, kLocalHeaderSig, [&](int64_t pos) {
            s.SetPosition(pos);
            return ReadLocalHeader(s, h);
        });
        if (at < 0) break;
        TDirItem item;
        item.versionMadeBy = item.versionNeeded = h.version;
        item.flags = h.flags;
        item.method = h.method;
        item.time = h.time;
        item.date = h.date;
        item.crc = h.crc;
        item.compressedSize = h.compressed;
        item.uncompressedSize = h.uncompressed;
        item.name = ZipDecodeName(h.name, oem, h.flags);
        item.externalAttr = !item.name.empty() && item.name.back() == '/' ? 16 : 32;
        item.localHeaderOffset = static_cast<uint64_t>(at);
        item.zip64 = h.compressed >= 0xFFFFFFFFull || h.uncompressed >= 0xFFFFFFFFull;
        int64_t data = at + static_cast<int64_t>(kLocalHeaderSize + h.name.size() + h.extra.size());
        int64_t end = data + static_cast<int64_t>(h.compressed);
        if (h.flags & kFlagDescriptor) {
            // Sizes follow the data: the descriptor whose compressed size is
            // the distance back to the data is this entry's. After a Zip64
            // local header its sizes take 8 bytes each.
            const bool wide = HasZip64Extra(h.extra);
            const size_t length = wide ? kZip64DescriptorSize : kDescriptorSize;
            uint8_t d[kZip64DescriptorSize];
            int64_t desc = ZipFindSignature(s, data, size, kDescriptorSig, [&](int64_t pos) {
                s.SetPosition(pos);
                if (s.Read(d, length) != length) return false;
                TLEReader r(d + 8, length - 8);
                return (wide ? r.U64() : r.U32()) == static_cast<uint64_t>(pos - data);
            });
            if (desc >= 0) {
                TLEReader r(d + 4, length - 4);
                item.crc = r.U32();
                item.compressedSize = wide ? r.U64() : r.U32();
                item.uncompressedSize = wide ? r.U64() : r.U32();
                end = desc + static_cast<int64_t>(length);
            }
        }
        if (end > size) end = size;
        list.Add(item);
        dataEnd = end;
        from = std::max(end, at + 4);
    }
    if (list.Count() == 0) throw EZipException(ZipNative::InvalidArchive, owner);
    // New entries go after the last one found; whatever followed it is not archive data.
    dir.End = TZipEndInfo{};
    dir.End.totalEntries = dir.End.entriesOnVolume = static_cast<uint64_t>(list.Count());
    dir.End.directoryOffset = static_cast<uint64_t>(dataEnd);
}

uint64_t ZipLocalEntryLength(TStream& s, const TDirItem& item, const TComponent* owner) {
    const int64_t at = s.Position();
    TLocalHeader h;
    if (!ReadLocalHeader(s, h)) throw EZipException(ZipNative::InvalidArchive, owner);
    const uint64_t length = kLocalHeaderSize + h.name.size() + h.extra.size() + item.compressedSize;
    if (!(h.flags & kFlagDescriptor)) return length;
    // Flag bit 3 promises the descriptor after the data: it goes with the
    // entry, or readers that follow the local headers lose their way. An
    // entry whose writer left it out is copied as the archive holds it.
    uint8_t d[kZip64DescriptorSize];
    s.SetPosition(at + static_cast<int64_t>(length));
    const size_t got = s.Read(d, sizeof d);
    return length + DescriptorLength(d, got, item, HasZip64Extra(h.extra));
}

} // namespace krv
