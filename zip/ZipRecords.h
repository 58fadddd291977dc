// The zip records as written (local header, central header, Zip64 end record
// and locator, end record) and the reader of an existing archive's directory.
#pragma once
#include "zip/ZipDir.h"
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace krv {

class TStream;
class TComponent;

constexpr uint32_t kLocalHeaderSig = 0x04034B50;
constexpr uint32_t kCentralHeaderSig = 0x02014B50;
constexpr uint32_t kZip64EndSig = 0x06064B50;
constexpr uint32_t kZip64LocatorSig = 0x07064B50;
constexpr uint32_t kEndSig = 0x06054B50;
constexpr uint32_t kDescriptorSig = 0x08074B50;
constexpr uint16_t kZip64Tag = 1;
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kLocalZip64ExtraSize = 20;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kEndSize = 22;
constexpr size_t kZip64EndSize = 56;
constexpr size_t kZip64LocatorSize = 20;
constexpr size_t kDescriptorSize = 16;        // with its signature
constexpr size_t kZip64DescriptorSize = 24;
constexpr uint16_t kVersionZip64 = 45;
constexpr uint16_t kVersionOem = 20;
constexpr uint16_t kVersionAnsi = 0x0B14;
constexpr uint16_t kHostNtfs = 0x0B00;   // "version made by": host 11, DOS attributes

// General purpose bit 3: CRC and sizes follow the data in a descriptor.
constexpr uint16_t kFlagDescriptor = 0x0008;
// General purpose bit 11: the name is UTF-8.
constexpr uint16_t kFlagUtf8Name = 0x0800;

// True when the process's ANSI code page is UTF-8 and the name is not plain
// ASCII: such a name is stored as UTF-8 with bit 11 set, which every reader
// understands, instead of in a code page the reader has to guess.
bool ZipNameIsUtf8(const std::string& name);
// The name bytes as stored: in the OEM code page when asked, UTF-8 names as they are.
std::string ZipEncodeName(const std::string& name, bool oem);
// A stored name in the process's code page; flags tells a UTF-8 name.
std::string ZipDecodeName(const std::string& name, bool oem, uint16_t flags = 0);

// Local header, name and (when the item carries Zip64 sizes) the Zip64 extra.
std::vector<uint8_t> ZipLocalHeader(const TDirItem& item, const std::string& storedName);
// Central header with name, extra blocks and comment.
std::vector<uint8_t> ZipCentralHeader(const TDirItem& item, const std::string& storedName);

// Where the closing records land and what they say.
struct TZipClosing {
    TZipEndInfo end;
    uint64_t position = 0;        // offset (within its volume) where the closing records start
    uint32_t volume = 0;          // the volume they are written to
    uint32_t totalVolumes = 1;
};
bool ZipClosingNeeds64(const TZipClosing& c);
// Zip64 end record and locator when needed, then the end record and comment.
std::vector<uint8_t> ZipClosingRecords(const TZipClosing& c);
size_t ZipClosingSize(const TZipClosing& c);
// The closing records of an archive without entries whose data starts at start.
inline TZipClosing ZipEmptyClosing(uint64_t start) {
    TZipClosing c;
    c.end.directoryOffset = start;
    c.position = start;
    return c;
}

// Finds the end record (and the Zip64 one) in the stream's last bytes; false
// when there is none. closingStart: where the closing records begin.
bool ZipReadEnd(TStream& stream, TZipEndInfo& end, int64_t& closingStart, const TComponent* owner);
// The central headers of count entries from the directory's bytes.
void ZipParseDirectory(const std::vector<uint8_t>& cd, uint64_t count, TZipDirArray& list, bool oem,
                       const TComponent* owner);
// Reads the end records and the central directory of a single-file archive
// into dir.UpdateList, finding a stub put in front of it (dir.DataStart).
// Without an end record HasDirectory stays false.
void ZipReadDirectory(TStream& stream, TZipDirManager& dir, bool oem, const TComponent* owner);
// Builds dir.UpdateList from the local headers of an archive without an end
// record; native 35 when there is not one.
void ZipRebuildDirectory(TStream& stream, TZipDirManager& dir, bool oem, const TComponent* owner);
// Whether the local header at the stream's position is the one of item.
bool ZipLocalHeaderMatches(TStream& stream, const TDirItem& item);
// First position in [from, to) holding signature that accept takes; -1 when none.
int64_t ZipFindSignature(TStream& stream, int64_t from, int64_t to, uint32_t signature,
                         const std::function<bool(int64_t)>& accept);

// Length of item's entry as it stands at the stream's position: local header
// with name and extra field, data, and the data descriptor when flag bit 3 is set.
uint64_t ZipLocalEntryLength(TStream& stream, const TDirItem& item, const TComponent* owner);

} // namespace krv
