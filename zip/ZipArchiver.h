// The archiver component: options, masks, events and the open/update/close
// life cycle. Adding files only marks them; the outermost EndUpdate commits,
// compressing every marked file into the archive (ZipUpdate.cpp).
#pragma once
#include "framework/Classes.h"
#include "framework/Stream.h"
#include "framework/Strings.h"
#include "zip/ZipCrypt.h"
#include "zip/ZipDir.h"
#include "zip/ZipErrors.h"
#include "zip/ZipTypes.h"
#include "zip/ZipVolumes.h"
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace krv {

class TZipOutStream;
struct TZipCommit;

class TZipPrefetcher;

class TZipBaseArchiver : public TComponent, private TZipVolumeHost {
public:
    explicit TZipBaseArchiver(TComponent* owner = nullptr);
    ~TZipBaseArchiver() override;

    // --- properties
    bool ExtractCorruptedFiles = false;
    TZipCompressionLevel CompressionLevel() const { return compressionLevel_; }
    void SetCompressionLevel(TZipCompressionLevel level);
    int CompressionMode() const { return compressionMode_; }
    void SetCompressionMode(int mode);
    std::string CurrentVersion() const;
    void SetCurrentVersion(const std::string&) {}
    std::string Password;
    std::string FileName;
    std::string BaseDir;
    std::string TempDir;
    TZipSpanningMode SpanningMode() const { return spanningMode_; }
    void SetSpanningMode(TZipSpanningMode mode);
    TZipSpanningOptions SpanningOptions;
    std::string SFXStub;
    TZipOptions Options;
    TStrings& FileMasks() { return fileMasks_; }
    void SetFileMasks(const TStrings& masks) { fileMasks_ = masks; }
    TStrings& ExclusionMasks() { return exclusionMasks_; }
    void SetExclusionMasks(const TStrings& masks) { exclusionMasks_ = masks; }
    TStrings& NoCompressionMasks() { return noCompressionMasks_; }
    void SetNoCompressionMasks(const TStrings& masks) { noCompressionMasks_ = masks; }
    bool InMemory() const { return inMemory_; }
    void SetInMemory(bool value);

    // --- events
    std::function<void(TObject* sender, const std::string& fileName, double progress, TZipProcessOperation operation,
                       TZipProgressPhase phase, bool& cancel)> OnFileProgress;
    std::function<void(TObject* sender, double progress, TZipProcessOperation operation, TZipProgressPhase phase,
                       bool& cancel)> OnOverallProgress;
    std::function<void(TObject* sender, double progress, TZipProgressPhase phase, bool& cancel)> OnCopyTempFileProgress;
    std::function<void(TObject* sender, const std::string& sourceFileName, std::string& destFileName, bool& confirm)>
        OnConfirmOverwrite;
    std::function<void(TObject* sender, const std::string& fileName, TZipProcessOperation operation, bool& confirm)>
        OnConfirmProcessFile;
    std::function<void(TObject* sender)> AfterOpen;
    std::function<void(TObject* sender, const std::string& fileName, std::string& newPassword, bool& skipFile)> OnPassword;
    std::function<void(TObject* sender, const std::string& fileName, TZipProcessOperation operation, int nativeError,
                       int errorCode, const std::string& errorMessage, TZipAction& action)> OnProcessFileFailure;
    std::function<void(TObject* sender, int volumeNumber, std::string& volumeFileName, bool& cancel)> OnRequestBlankVolume;
    std::function<void(TObject* sender, std::string& volumeFileName, bool& cancel)> OnRequestFirstVolume;
    std::function<void(TObject* sender, std::string& volumeFileName, bool& cancel)> OnRequestLastVolume;
    std::function<void(TObject* sender, int volumeNumber, std::string& volumeFileName, bool& cancel)> OnRequestMiddleVolume;
    std::function<void(TObject* sender, int volumeNumber, const std::string& volumeFileName, bool& cancel)> OnDiskFull;
    std::function<void(TObject* sender, std::string& fileName, uint32_t& fileAttr, std::string& comment,
                       const std::string& originalFileName)> OnStoreFile;
    std::function<void(TObject* sender, std::string& fileName, uint32_t& fileAttr, const std::string& comment)> OnExtractFile;

    // --- seams: the random bytes of encryption headers, the clock for entries
    // without a file date (DOS date in the high word, time in the low word),
    // the free space of a drive, and how many threads read and compress files
    // ahead of the writer (-1: one per processor up to eight; 0: none), and a
    // call on such a thread between its read of a file and its check that the
    // file did not change meanwhile (tests change the file there).
    TZipRandomSource RandomSource;
    std::function<uint32_t()> Clock;
    std::function<int64_t(const std::string& path)> FreeSpace;
    int PrefetchWorkers = -1;
    std::function<void(const std::string& path)> PrefetchRead;

    // --- operations
    void OpenArchive(unsigned mode);
    void CloseArchive();
    bool Active() const { return active_; }
    void SetActive(bool value);
    void BeginUpdate();
    void EndUpdate();
    void AddFiles();
    // True when a search of searched with its subfolders would not reach
    // folder (which lies inside it) because the exclusion masks drop that
    // folder or one on the way to it.
    bool ExclusionKeepsOut(const std::string& folder, const std::string& searched) const;
    int64_t GetArchiveSize();
    int UpdateLevel() const { return updateLevel_; }

    // The entries as the archive holds them (after a commit).
    int Count() const;
    const TDirItem& Items(int i) const;
    // The share flags (fmShare...) source files are opened with (Options.ShareMode).
    unsigned ShareFlags() const;
    // The system's error code behind the failure OnProcessFileFailure is
    // telling of (0: none, or none known); read it inside the handler.
    unsigned long FailureSystemError() const { return failureSystemError_; }
    // Counters of the last commit.
    int ItemsProcessed() const { return itemsProcessed_; }
    int ItemsToProcess() const { return itemsToProcess_; }

protected:
    virtual void UpdateCompressionMethod() { compressionMethod_ = -1; }
    virtual void DoOverallProgress(double progress, TZipProcessOperation operation, TZipProgressPhase phase, bool& cancel);
    virtual void DoFileProgress(const std::string& fileName, double progress, TZipProcessOperation operation,
                                TZipProgressPhase phase, bool& cancel);
    virtual void DoCopyTempFileProgress(double progress, TZipProgressPhase phase, bool& cancel);
    virtual void DoConfirmOverwrite(const std::string& sourceFileName, std::string& destFileName, bool& confirm);
    virtual void DoConfirmProcessFile(const std::string& fileName, TZipProcessOperation operation, bool& confirm);
    virtual void DoPassword(const std::string& fileName, std::string& newPassword, bool& skipFile);
    virtual void DoProcessFileFailure(const std::string& fileName, TZipProcessOperation operation, int nativeError,
                                      int errorCode, const std::string& errorMessage, TZipAction& action);
    virtual void DoRequestBlankVolume(int volumeNumber, std::string& volumeFileName, bool& cancel);
    virtual void DoRequestFirstVolume(std::string& volumeFileName, bool& cancel);
    virtual void DoRequestLastVolume(std::string& volumeFileName, bool& cancel);
    virtual void DoRequestMiddleVolume(int volumeNumber, std::string& volumeFileName, bool& cancel);
    virtual void DoDiskFull(int volumeNumber, const std::string& volumeFileName, bool& cancel);
    virtual void DoUnpublishedEvent() {}
    virtual void DoStoreFile(std::string& fileName, uint32_t& fileAttr, std::string& comment,
                             const std::string& originalFileName);
    virtual void DoExtractFile(std::string& fileName, uint32_t& fileAttr, const std::string& comment);

    int compressionMethod_ = -1;
    TZip64Mode zip64Mode_ = zmAuto;

private:
    friend struct TZipCommit;
    // volume host
    bool VolumeRequestBlank(uint32_t number, std::string& name) override;
    bool VolumeDiskFull(uint32_t number, const std::string& name) override;
    int64_t VolumeFreeSpace(const std::string& name) override;
    int64_t VolumeSizeOf(uint32_t number) override { return ZipVolumeSize(SpanningOptions, number); }
    const TComponent* VolumeOwner() override { return this; }
    bool VolumeFlushEach() override { return spanningMode_ == smSpanning; }
    bool VolumeBuffered(const std::string& name) override { return spanningMode_ == smSpanning && ZipIsFloppy(name); }
    void VolumeCreated(uint32_t number, const std::string& name) override;

    void OpenAuto();
    void OpenNew();
    void OpenExisting();
    std::vector<uint8_t> ReadStub() const;
    void FreeArchive();
    bool MultiVolume() const { return spanningMode_ != smNone && !inMemory_; }
    // Written as several volumes, or read as one of several (its other volumes may be missing).
    bool MultiVolumeSet() const { return MultiVolume() || (dir_ && dir_->End.thisVolume > 0); }
    bool OpenLastVolume(const std::string& name);
    void RequestLastVolume();
    void SettleSpanningMode();
    std::vector<uint8_t> ReadAcrossVolumes(uint32_t volume, uint64_t offset, uint64_t size);
    std::string VolumeName(uint32_t number) const;
    void CommitUpdate();
    void WriteEmptyArchive();
    void PutStub(TZipVolumeWriter& volumes, const std::vector<uint8_t>& stub);
    // File search.
    void SearchMasks(const TStrings& exclusions);
    // False when the folder could not be listed (it is reported, never taken as empty).
    bool SearchOne(const std::string& folder, const std::string& namePart, const std::string& root,
                   const TStrings& exclusions, int searchAttr);
    // Calls found for each entry of folder + pattern; false when the folder
    // could not be listed and the owner did not have it tried again.
    bool ListFolder(const std::string& folder, const std::string& pattern,
                    const std::function<void(const WIN32_FIND_DATAA&)>& found);
    // A folder the search leaves out, told to OnProcessFileFailure; true when
    // the owner wants it tried again. Abort raises the failure.
    bool SearchFailure(const std::string& path, int nativeError, unsigned long systemError);
    // found: what the folder listing said of the path, when it came from one.
    // The entry's index in the update list, -1 when the path was not taken.
    int AddFoundPath(const std::string& path, bool isFolder, const std::string& root, const TStrings& exclusions,
                      const WIN32_FIND_DATAA* found = nullptr);
    // Takes the entry of that stored name out of the update again.
    void TakeBack(const std::string& name);
    bool Excluded(const std::string& path, bool isFolder, const std::string& root, const TStrings& masks) const;
    bool IsOwnFile(const std::string& path) const;
    // Whether an entry of exactly path's spelling (its root aside) is on the disk.
    bool SpelledSoOnDisk(const std::string& path);
    // What a search works from, worked out once for all its files: the base
    // folder and the archive's own path expanded, and absolute masks expanded.
    struct TSearchPaths {
        std::string base;
        std::string archive;        // the file it is (EntryPath)
        std::string archiveNamed;   // as named, which its volumes follow
        mutable std::unordered_map<std::string, std::string> masks;
        std::unordered_set<std::string> leftOut;   // folders already reported, by exact path
        // Folders an old entry of another spelling lies in, asked of the disk
        // once each: whether the folder is spelled so there, and the names it
        // holds, as they are and folded (empty when it could not be listed).
        struct TSpelledFolder {
            bool exact = false;
            bool listed = false;
            std::unordered_set<std::string> names, folded;
        };
        std::unordered_map<std::string, TSpelledFolder> spelled;
    };
    TSearchPaths searchPaths_;
    // Workers that read and compress the files found so far while the search
    // goes on; the commit takes them over, with the files from prefetchFrom_
    // on (-1: none) that waited for room.
    std::unique_ptr<TZipPrefetcher> prefetch_;
    int prefetchFrom_ = -1;
    std::unique_ptr<TZipPrefetcher> NewPrefetcher() const;
    void QueueAhead(const TDirItem& item, int index);
    void QueueAheadInto(TZipPrefetcher& prefetch, const TDirItem& item) const;
    void FillItem(TDirItem& item, const std::string& path, bool isFolder, uint32_t attr, uint32_t dosTime);
    uint32_t Now() const;

    TZipCompressionLevel compressionLevel_ = clFastest;
    int compressionMode_ = 1;
    TZipSpanningMode spanningMode_ = smNone;
    TStringList fileMasks_, exclusionMasks_, noCompressionMasks_;
    bool inMemory_ = false;

    int updateLevel_ = 0;
    bool active_ = false;
    unsigned mode_ = fmCreate;
    int itemsProcessed_ = 0;
    int itemsToProcess_ = 0;
    bool cancel_ = false;
    bool progressWanted_ = false;
    unsigned long failureSystemError_ = 0;
    std::unique_ptr<TStream> stream_;
    std::unique_ptr<TZipDirManager> dir_;
    // A new split or spanned archive's volumes from its opening to its first commit.
    std::unique_ptr<TZipVolumeWriter> volumes_;
    TZipVolumeNumberInfo volumeNumber_;
};

class TZipArchiver : public TZipBaseArchiver {
public:
    explicit TZipArchiver(TComponent* owner = nullptr);
    TZip64Mode Zip64Mode() const { return zip64Mode_; }
    void SetZip64Mode(TZip64Mode mode) { zip64Mode_ = mode; }
    int CompressionMethod() const { return compressionMethod_; }

protected:
    void UpdateCompressionMethod() override { compressionMethod_ = CompressionMode() != 0 ? 8 : 0; }
};

} // namespace krv
