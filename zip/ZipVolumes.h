// Multi-volume archives: volume numbers, sizes and names, and the writer that
// fills one volume file after another, keeping headers whole in one volume.
#pragma once
#include "zip/ZipStream.h"
#include "zip/ZipTypes.h"
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace krv {

class TFileStream;
class TComponent;

struct TZipVolumeNumberInfo {
    enum Kind { vnFirst, vnLast, vnNumbered, vnUnknown };
    Kind kind = vnUnknown;
    int64_t number = -1;       // 0-based
    int64_t lastNumber = -1;   // -1 while unknown

    void Reset() { kind = vnUnknown; number = -1; lastNumber = -1; }
    void SetFirst() { kind = vnFirst; number = 0; }
    void SetLast() { number = lastNumber; kind = vnLast; }
    void SetNumber(int64_t n) { number = n; kind = vnNumbered; }
    bool IsFirst() const { return number == 0; }
    bool IsLast() const { return lastNumber >= 0 ? number == lastNumber : kind == vnLast; }
    bool operator==(const TZipVolumeNumberInfo& o) const;
};

constexpr uint32_t kLastVolume = 0xFFFFFFFFu;

// Bytes of volume number (0-based) under the options; -1 means no limit.
int64_t ZipVolumeSize(const TZipSpanningOptions& options, uint32_t number);

// Name of a volume (0-based, or kLastVolume) of the archive fileName.
std::string ZipVolumeFileName(const std::string& fileName, uint32_t number, TZipSpanningMode mode,
                              bool advancedNaming, bool selfExtracting, bool tryBoth = false);

// What the volume writer asks of its owner.
class TZipVolumeHost {
public:
    virtual ~TZipVolumeHost() = default;
    // The name for a new volume (number 0-based); answers true to cancel.
    virtual bool VolumeRequestBlank(uint32_t number, std::string& name) = 0;
    // Not enough room for a new volume; answers true to cancel.
    virtual bool VolumeDiskFull(uint32_t number, const std::string& name) = 0;
    virtual int64_t VolumeFreeSpace(const std::string& name) = 0;
    virtual int64_t VolumeSizeOf(uint32_t number) = 0;
    virtual const TComponent* VolumeOwner() = 0;
    virtual bool VolumeFlushEach() = 0;   // flush each full volume to the disk
    virtual bool VolumeBuffered(const std::string& name) = 0;   // collect each volume in memory
    virtual void VolumeCreated(uint32_t number, const std::string& name) = 0;
};

class TZipVolumeWriter {
public:
    explicit TZipVolumeWriter(TZipVolumeHost& host);
    ~TZipVolumeWriter();

    // Opens the first volume unless one is open.
    void Begin() {
        if (!out_) OpenNext();
    }
    // Writes count bytes; keepTogether > 0 keeps that many bytes (from here) in one volume.
    void Write(const void* data, size_t count, size_t keepTogether = 0);
    // Makes sure the next bytes (at most one volume's worth) start in a volume that holds them whole.
    void Reserve(size_t count);
    uint32_t Volume() const { return number_; }
    int64_t PositionInVolume() const { return out_ ? out_->Position() : 0; }
    int64_t BytesWritten() const { return total_; }
    uint32_t VolumeCount() const { return static_cast<uint32_t>(names_.size()); }
    // Closes the last volume and gives it the archive's own name.
    void Finish(const std::string& archiveName);
    // Closes and deletes every volume written.
    void Discard();

private:
    void OpenNext();
    // Bytes the volume can still take before a write of want bytes; asks the disk when its last answer may not hold.
    int64_t Room(size_t want);
    void Ask(int64_t free);
    static constexpr int64_t kTrustedBytes = 8 << 20;
    static constexpr int64_t kMaxVolumeBuffer = 8 << 20;
    TZipVolumeHost& host_;
    std::unique_ptr<TFileStream> file_;
    std::unique_ptr<TZipOutStream> out_;
    std::vector<std::string> names_;
    uint32_t number_ = 0;
    int64_t limit_ = -1;
    int64_t total_ = 0;
    int64_t known_ = 0;        // room when the disk was last asked
    int64_t askedAt_ = -1;     // volume position then; -1: not asked for this volume
};

} // namespace krv
