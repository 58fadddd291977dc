// Enumerations and option objects of the archiver.
#pragma once
#include <cstdint>

namespace krv {

enum TZipCompressionLevel { clNone, clFastest, clNormal, clMax };
enum TZipSpanningMode { smNone, smSpanning, smSplitting };
enum TZip64Mode { zmDisabled, zmAuto, zmAlways };
enum TZipStorePathMode { spNoPath, spRelativePath, spFullPath, spFullPathWithDrive };
enum TZipFileShareMode { smShareCompat, smShareExclusive, smShareDenyWrite, smShareDenyRead, smShareDenyNone };
enum TZipOverwriteMode { omPrompt, omAlways, omNever, omIfNewer, omIfOlder };
enum TZipVolumeSize { vsAutoDetect, vsCustom, vs1_44MB, vs100MB, vs200MB, vs250MB, vs600MB, vs650MB, vs700MB };
enum TZipProcessOperation {
    poAdd, poMove, poDelete, poUpdate, poExtract, poTest, poRename, poChangeAttr, poChangeComment, poMakeSFX
};
enum TZipProgressPhase { ppStart, ppProcess, ppEnd };
enum TZipAction { fxaRetry, fxaIgnore, fxaAbort };

struct TZipOptions {
    TZipStorePathMode StorePath = spRelativePath;
    bool Recurse = true;
    TZipFileShareMode ShareMode = smShareDenyNone;
    TZipOverwriteMode OverwriteMode = omAlways;
    bool CreateDirs = true;
    bool ReplaceReadOnly = true;
    bool SetAttributes = true;
    int SearchAttr = 0x28BF;
    bool FlushBuffers = true;
    bool OEMFileNames = true;
};

struct TZipSpanningOptions {
    bool AdvancedNaming = true;
    int64_t FirstVolumeSize = 0;
    TZipVolumeSize VolumeSize = vsAutoDetect;
    int64_t CustomVolumeSize() const { return customVolumeSize_; }
    // Volumes are at least 64 KiB.
    void SetCustomVolumeSize(int64_t v) { customVolumeSize_ = v < 65536 ? 65536 : v; }

private:
    int64_t customVolumeSize_ = 0;
};

// Zip64 is needed for any size, offset or directory field of 0xFFFFFFFF or more.
constexpr bool ZipNeeds64(uint64_t value) { return value >= 0xFFFFFFFFull; }
// Counts and volume numbers saturate at 0xFFFF.
constexpr bool ZipNeeds64Count(uint64_t value) { return value >= 0xFFFFull; }

} // namespace krv
