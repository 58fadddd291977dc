// The commit of an update: rewrites the archive from the first changed entry
// on, compressing marked files, copying unchanged entries, reporting failing
// files to the owner, and putting everything back on abort or cancel.
#include "zip/ZipArchiver.h"
#include "zip/ZipCompress.h"
#include "zip/ZipPrefetch.h"
#include "zip/ZipRecords.h"
#include "zip/ZipStream.h"
#include <windows.h>
#include <algorithm>
#include <memory>

namespace krv {

namespace {

// Data this small is staged in memory; larger data goes to a temp file.
constexpr int64_t kMemoryStageLimit = 16 << 20;
constexpr size_t kCopyChunk = 1000000;

// A temp file of a unique name, deleted with its owner.
class TZipTempFile {
public:
    TZipTempFile(const std::string& tempDir, const TComponent* owner) {
        std::string dir = tempDir;
        if (dir.empty()) {
            char buf[256];
            DWORD n = ::GetTempPathA(sizeof buf, buf);
            dir.assign(buf, n < sizeof buf ? n : 0);
        }
        name_ = CreateUniqueFile(dir, "FC");
        if (name_.empty())
            throw EZipException::Fmt(ZipNative::CannotCreateFile, owner, dir.c_str()).WithSystemError(::GetLastError());
        try {
            stream_ = std::make_unique<TFileStream>(name_, fmCreate);
        } catch (const EFOpenError& e) {
            DeleteFileAny(name_);
            throw EZipException::Fmt(ZipNative::CannotCreateFile, owner, name_.c_str()).WithSystemError(e.Error);
        }
    }
    ~TZipTempFile() {
        stream_.reset();
        DeleteFileAny(name_);
    }
    TStream& Stream() { return *stream_; }

private:
    std::string name_;
    std::unique_ptr<TFileStream> stream_;
};

// Copies count bytes from the stream's position onto a writer, in chunks.
template <class Sink> void CopyBytes(TStream& from, int64_t count, Sink&& sink) {
    std::vector<uint8_t> buf(static_cast<size_t>(std::min<int64_t>(count, kCopyChunk)));
    while (count > 0) {
        size_t n = static_cast<size_t>(std::min<int64_t>(count, static_cast<int64_t>(buf.size())));
        from.ReadBuffer(buf.data(), n);
        sink(buf.data(), n);
        count -= static_cast<int64_t>(n);
    }
}

// Worst-case entry data for a source size: the cipher header, and what deflate
// adds to incompressible data (stored-block headers and a sync marker per block).
uint64_t WorstCaseData(uint64_t size) { return size + size / 256 + 65536 + 12; }

} // namespace

struct TZipCommit {
    TZipBaseArchiver& a;
    TZipDirManager& dir;
    bool multi;
    std::unique_ptr<TZipOutStream> out;        // single-file archive
    std::unique_ptr<TZipVolumeWriter> volumes; // split or spanned archive
    std::unique_ptr<TStream> tailOwner;
    std::unique_ptr<TZipTempFile> tailTemp;
    TStream* tail = nullptr;                   // old data from startPos to the old end
    int64_t startPos = 0;
    std::unique_ptr<TZipTempFile> stageTemp;
    TZipAction action = fxaIgnore;
    TZipDeflaterCache deflaters;
    std::unique_ptr<TZipPrefetcher> prefetch;
    int queueFrom = -1;                        // the next list entry to queue ahead, -1 when done

    explicit TZipCommit(TZipBaseArchiver& archiver) : a(archiver), dir(*archiver.dir_), multi(archiver.MultiVolume()) {}

    std::string Encoded(const std::string& name) const { return ZipEncodeName(name, a.Options.OEMFileNames); }

    void SaveTail(int firstChanged) {
        const auto& old = dir.Directory;
        if (firstChanged < old.Count()) startPos = static_cast<int64_t>(old.Item(firstChanged).localHeaderOffset);
        else if (old.Count() > 0 || dir.HasDirectory) startPos = static_cast<int64_t>(dir.End.directoryOffset);
        else startPos = dir.DataStart;
        TStream& s = *a.stream_;
        int64_t size = s.Size();
        if (startPos > size) startPos = size;
        int64_t length = size - startPos;
        if (length > kMemoryStageLimit) {
            tailTemp = std::make_unique<TZipTempFile>(a.TempDir, &a);
            tail = &tailTemp->Stream();
        } else {
            tailOwner = std::make_unique<TMemoryStream>();
            tail = tailOwner.get();
        }
        s.SetPosition(startPos);
        if (length > 0) tail->CopyFrom(s, length);
        s.SetPosition(startPos);
        out = std::make_unique<TZipOutStream>(s, &a);
        out->Truncate(startPos);
    }

    void CopyOldEntry(int index) {
        TDirItem& item = dir.UpdateList.Item(index);
        // A marked item names the entry it renames or replaces (under another spelling) in oldName.
        int old = dir.Directory.IndexOfName(item.marked && !item.oldName.empty() ? item.oldName : item.name);
        if (old < 0 || !out) throw EZipException(ZipNative::OldEntryMissing, &a);
        const TDirItem& oldItem = dir.Directory.Item(old);
        if (!item.marked || item.operation == poUpdate) item = oldItem;
        tail->SetPosition(static_cast<int64_t>(oldItem.localHeaderOffset) - startPos);
        // An entry is copied only when its local header is the one the
        // directory describes: anything else would carry a broken entry on.
        if (!ZipLocalHeaderMatches(*tail, oldItem)) throw EZipException(ZipNative::InvalidArchive, &a);
        tail->SetPosition(static_cast<int64_t>(oldItem.localHeaderOffset) - startPos);
        const uint64_t length = ZipLocalEntryLength(*tail, oldItem, &a);
        tail->SetPosition(static_cast<int64_t>(oldItem.localHeaderOffset) - startPos);
        item.localHeaderOffset = static_cast<uint64_t>(out->Position());
        item.diskNumberStart = 0;
        CopyBytes(*tail, static_cast<int64_t>(length), [&](const uint8_t* p, size_t n) { out->Write(p, n); });
        out->Flush();   // a failure to write it shows here, not at the next file
    }

    bool Progress(const std::string& name, TZipProcessOperation op, double fraction) {
        bool cancel = false;
        a.DoFileProgress(name, fraction * 100.0, op, ppProcess, cancel);
        if (!cancel) {
            double overall = a.itemsToProcess_ > 0 ? (a.itemsProcessed_ + fraction) / a.itemsToProcess_ * 100.0 : 0.0;
            a.DoOverallProgress(overall, op, ppProcess, cancel);
        }
        if (cancel) a.cancel_ = true;
        return cancel;
    }

    // Decides whether the entry's sizes go to a Zip64 extra, before its data is written.
    void DecideZip64(TDirItem& item, int64_t size) {
        item.zip64 = false;
        if (item.IsFolder()) return;
        bool wanted = a.zip64Mode_ == zmAlways || ZipNeeds64(WorstCaseData(static_cast<uint64_t>(size)));
        if (!wanted) return;
        if (a.zip64Mode_ == zmDisabled) {
            if (ZipNeeds64(static_cast<uint64_t>(size))) throw EZipException::Fmt(ZipNative::FileNeedsZip64, &a, item.sourceName.c_str());
            return;
        }
        item.zip64 = true;
    }

    void SetVersion(TDirItem& item) {
        bool big = item.zip64 || ZipNeeds64(item.localHeaderOffset);
        item.versionNeeded = item.versionMadeBy = big ? kVersionZip64 : a.Options.OEMFileNames ? kVersionOem : kVersionAnsi;
        if (ZipNameIsUtf8(item.name)) {
            item.flags |= kFlagUtf8Name;
            // Not an MS-DOS name: readers convert those from the OEM code page
            // whatever bit 11 says. The attributes stay DOS ones (host NTFS).
            item.versionMadeBy = static_cast<uint16_t>(kHostNtfs | (item.versionMadeBy & 0xFF));
        } else {
            item.flags &= static_cast<uint16_t>(~kFlagUtf8Name);
        }
    }

    // Header and data of one entry onto a buffered stream starting at its local header.
    bool BuildEntry(TDirItem& item, TStream* source, const TZipPrepared* prepared, int64_t size, TZipOutStream& sink) {
        int64_t headerPos = sink.Position();
        std::string stored = Encoded(item.name);
        sink.Write(ZipLocalHeader(item, stored));
        if (source || prepared) {
            TZipCompressJob job;
            job.item = &item;
            job.source = source;
            job.sourceSize = size;
            job.prepared = prepared;
            job.deflaters = &deflaters;
            job.out = &sink;
            job.random = a.RandomSource;
            job.owner = &a;
            // The blocks are reported under the stored name (start and end under the source path).
            job.progress = [&](double f) { return Progress(item.name, item.operation, f); };
            if (!ZipCompressItem(job)) return false;
        } else {
            item.crc = 0;
            item.compressedSize = item.uncompressedSize = 0;
        }
        if (!item.zip64 && (ZipNeeds64(item.compressedSize) || ZipNeeds64(item.uncompressedSize)))
            throw EZipException::Fmt(ZipNative::FileNeedsZip64, &a, item.sourceName.c_str());
        auto header = ZipLocalHeader(item, stored);
        sink.Patch(headerPos, header.data(), header.size());
        if (!source && !prepared) sink.Flush();   // the compressor flushes the others
        return true;
    }

    // Copies a staged entry onto the volumes; answers false when the copy was cancelled.
    bool CopyToVolumes(TDirItem& item, TStream& stage, size_t headerLength) {
        stage.SetPosition(0);
        std::vector<uint8_t> header(headerLength);
        stage.ReadBuffer(header.data(), header.size());
        volumes->Reserve(headerLength);
        item.diskNumberStart = volumes->Volume();
        item.localHeaderOffset = static_cast<uint64_t>(volumes->PositionInVolume());
        volumes->Write(header.data(), header.size(), header.size());
        int64_t data = stage.Size() - static_cast<int64_t>(headerLength);
        bool cancel = false;
        a.DoCopyTempFileProgress(0.0, ppStart, cancel);
        int64_t done = 0;
        std::vector<uint8_t> buf(static_cast<size_t>(std::min<int64_t>(data, kCopyChunk)));
        while (!cancel && done < data) {
            size_t n = static_cast<size_t>(std::min<int64_t>(data - done, static_cast<int64_t>(buf.size())));
            stage.ReadBuffer(buf.data(), n);
            volumes->Write(buf.data(), n);
            done += static_cast<int64_t>(n);
            a.DoCopyTempFileProgress(static_cast<double>(done) / static_cast<double>(data) * 100.0, ppProcess, cancel);
        }
        if (!cancel) a.DoCopyTempFileProgress(100.0, ppEnd, cancel);
        return !cancel;
    }

    // The workers the search started read on; without them (the marks came
    // some other way) the commit starts its own. Files are queued a window
    // ahead of the writer (TopUp), not all at once.
    void StartPrefetch(int firstChanged) {
        if (a.prefetch_) {
            queueFrom = a.prefetchFrom_;
        } else {
            a.prefetch_ = a.NewPrefetcher();
            queueFrom = firstChanged;
        }
        prefetch = std::move(a.prefetch_);
        if (!prefetch) return;
        prefetch->SearchOver();
        if (queueFrom < 0) prefetch->NoMoreJobs();   // the search queued them all
        else TopUp();
    }

    void TopUp() {
        if (!prefetch || queueFrom < 0) return;
        auto& list = dir.UpdateList;
        for (; queueFrom < list.Count() && prefetch->HasRoom(); ++queueFrom) {
            const TDirItem& item = list.Item(queueFrom);
            if (item.marked && !item.IsFolder() && !item.sourceName.empty() && item.operation != poRename &&
                item.operation != poChangeAttr && item.operation != poChangeComment)
                a.QueueAheadInto(*prefetch, item);
        }
        if (queueFrom >= list.Count()) {
            prefetch->NoMoreJobs();
            queueFrom = -1;
        }
    }

    // Tells the owner of a file that failed, or that changed during each of
    // its reads; the owner's answer is left in action.
    void ReportFile(const TDirItem& item, const EZipException& e) {
        action = fxaIgnore;
        const std::string failName = item.operation == poUpdate ? item.name : item.sourceName;
        a.failureSystemError_ = e.SystemError;
        a.DoProcessFileFailure(StringReplaceAll(failName, "/", "\\"), item.operation, e.NativeError, e.ErrorCode,
                               DescribeError(e), action);
    }

    std::unique_ptr<TFileStream> OpenSource(const TDirItem& item) {
        try {
            return std::make_unique<TFileStream>(item.sourceName, fmOpenRead | a.ShareFlags());
        } catch (const EFOpenError& e) {
            throw EZipException::Fmt(ZipNative::CannotOpenFile, &a, item.sourceName.c_str()).WithSystemError(e.Error);
        }
    }

    TZipSourceState SourceState(TFileStream& source, const TDirItem& item) {
        TZipSourceState state;
        if (!ZipSourceStateOf(source.Handle(), state))
            throw EZipException::Fmt(ZipNative::CannotOpenFile, &a, item.sourceName.c_str()).WithSystemError(::GetLastError());
        return state;
    }

    // The entry's header and data at entryStart; for volumes onto a stage
    // instead, copied onto them once the data is known to be kept. Answers
    // false when cancelled.
    bool PutEntry(TDirItem& item, TStream* source, const TZipPrepared* prepared, int64_t size, int64_t entryStart,
                  std::unique_ptr<TStream>& memory, TStream*& stage) {
        DecideZip64(item, size);
        if (!multi) {
            item.localHeaderOffset = static_cast<uint64_t>(entryStart);
            item.diskNumberStart = 0;
            if (ZipNeeds64(item.localHeaderOffset) && a.zip64Mode_ == zmDisabled) throw EZipException(ZipNative::OffsetNeedsZip64, &a);
            if (a.zip64Mode_ == zmAlways && !item.IsFolder()) item.zip64 = true;
            SetVersion(item);
            if (BuildEntry(item, source, prepared, size, *out)) return true;
            out->Truncate(entryStart);
            return false;
        }
        SetVersion(item);
        memory.reset();
        if (size > kMemoryStageLimit) {
            if (!stageTemp) stageTemp = std::make_unique<TZipTempFile>(a.TempDir, &a);
            stageTemp->Stream().SetSize(0);
            stage = &stageTemp->Stream();
        } else {
            memory = std::make_unique<TMemoryStream>();
            stage = memory.get();
        }
        stage->SetPosition(0);
        // A small entry gets a buffer its size, not the usual megabyte.
        const int64_t worst = static_cast<int64_t>(WorstCaseData(static_cast<uint64_t>(size))) + 1024;
        TZipOutStream sink(*stage, &a, static_cast<size_t>(std::min<int64_t>(worst, 1 << 20)));
        if (!BuildEntry(item, source, prepared, size, sink)) return false;
        sink.Flush();
        return true;
    }

    // Writes one marked file; answers true when it was written.
    bool WriteMarkedFile(int index) {
        a.UpdateCompressionMethod();
        TDirItem& item = dir.UpdateList.Item(index);
        const bool byPath = item.operation == poAdd || item.operation == poMove;
        const std::string eventName = byPath ? item.sourceName : item.name;
        bool cancel = false;
        a.DoFileProgress(eventName, 0.0, item.operation, ppStart, cancel);
        if (cancel) {
            a.cancel_ = true;
            return false;
        }
        const int64_t entryStart = out ? out->Position() : 0;
        std::unique_ptr<TFileStream> source;
        std::unique_ptr<TZipPrepared> prepared;
        bool copyCancelled = false;
        bool onVolumes = false;
        try {
            item.zip64 = false;
            int64_t size = 0;
            int changedReads = 0;
            if (!item.IsFolder()) {
                TopUp();
                if (prefetch) prepared = prefetch->Take(item.sourceName, item.level, item.method);
                if (prepared && prepared->changed) {
                    prepared.reset();
                    changedReads = 1;
                }
                if (prepared) size = prepared->size;
                else source = OpenSource(item);
            }
            std::unique_ptr<TStream> memory;
            TStream* stage = nullptr;
            // A file whose size or time moved while it was read may be stored
            // torn: it is read once more. A copy that changed again is kept
            // (a later read would not be surer) and its owner told.
            for (;;) {
                TZipSourceState before;
                if (source) {
                    before = SourceState(*source, item);
                    size = before.size;
                    source->SetPosition(0);
                }
                if (!item.IsFolder()) item.crc = 0xFFFFFFFFu;
                if (!PutEntry(item, source.get(), prepared.get(), size, entryStart, memory, stage)) return false;
                if (!source || SourceState(*source, item) == before) break;
                if (++changedReads < 2) {
                    if (out) out->Truncate(entryStart);
                    continue;
                }
                ReportFile(item, EZipException::Fmt(ZipNative::SourceChanged, &a, item.sourceName.c_str()));
                if (action == fxaIgnore) break;
                if (out) out->Truncate(entryStart);
                return false;
            }
            if (multi) {
                source.reset();
                prepared.reset();
                size_t headerLength = kLocalHeaderSize + Encoded(item.name).size() + (item.zip64 ? kLocalZip64ExtraSize : 0);
                // A failure while filling the volumes cannot be undone per file: it ends the commit.
                onVolumes = true;
                copyCancelled = !CopyToVolumes(item, *stage, headerLength);
                if (ZipNeeds64(item.localHeaderOffset) && a.zip64Mode_ == zmDisabled) throw EZipException(ZipNative::OffsetNeedsZip64, &a);
            }
        } catch (const EZipException& e) {
            if (onVolumes) throw;
            source.reset();
            // A file that could not be opened wrote nothing: a cut would
            // flush the buffer and ask the system to cut the file, per file.
            if (out && out->Position() != entryStart) out->Truncate(entryStart);
            ReportFile(item, e);
            return false;
        }
        a.DoFileProgress(eventName, 100.0, item.operation, ppEnd, cancel);
        if (cancel) a.cancel_ = true;
        if (copyCancelled) {
            action = fxaAbort;
            return false;
        }
        return true;
    }

    void WriteDirectory() {
        const auto& list = dir.UpdateList;
        TZipClosing closing;
        closing.end = dir.End;
        closing.end.entriesOnVolume = closing.end.totalEntries = static_cast<uint64_t>(list.Count());
        if (!multi) {
            int64_t cdStart = out->Position();
            for (int i = 0; i < list.Count(); ++i) out->Write(ZipCentralHeader(list.Item(i), Encoded(list.Item(i).name)));
            closing.end.directoryOffset = static_cast<uint64_t>(cdStart);
            closing.end.directorySize = static_cast<uint64_t>(out->Position() - cdStart);
            closing.position = static_cast<uint64_t>(out->Position());
            out->Write(ZipClosingRecords(closing));
            out->Flush();
            a.stream_->SetSize(out->Position());
        } else {
            uint64_t before = static_cast<uint64_t>(volumes->BytesWritten());
            bool first = true;
            uint64_t onVolume = 0;
            uint32_t volume = 0;
            for (int i = 0; i < list.Count(); ++i) {
                auto header = ZipCentralHeader(list.Item(i), Encoded(list.Item(i).name));
                volumes->Reserve(header.size());
                if (first) {
                    closing.end.directoryVolume = volumes->Volume();
                    closing.end.directoryOffset = static_cast<uint64_t>(volumes->PositionInVolume());
                    first = false;
                }
                if (volumes->Volume() != volume) onVolume = 0;
                volume = volumes->Volume();
                volumes->Write(header.data(), header.size(), header.size());
                ++onVolume;
            }
            // The closing records stay together in the last volume.
            closing.end.thisVolume = 0xFFFF;   // worst case for the size
            size_t closingSize = kZip64EndSize + kZip64LocatorSize + kEndSize + closing.end.comment.size();
            volumes->Reserve(closingSize);
            if (first) {
                closing.end.directoryVolume = volumes->Volume();
                closing.end.directoryOffset = static_cast<uint64_t>(volumes->PositionInVolume());
            }
            if (volumes->Volume() != volume) onVolume = 0;
            closing.end.thisVolume = volumes->Volume();
            closing.end.entriesOnVolume = onVolume;
            // The directory's size is what was written across the volumes.
            closing.end.directorySize = static_cast<uint64_t>(volumes->BytesWritten()) - before;
            closing.volume = volumes->Volume();
            closing.position = static_cast<uint64_t>(volumes->PositionInVolume());
            closing.totalVolumes = volumes->Volume() + 1;
            auto records = ZipClosingRecords(closing);
            volumes->Write(records.data(), records.size(), records.size());
            // A split self-extracting archive's last volume is the ".ZIP" one; its first keeps the stub.
            const std::string lastName = a.VolumeName(kLastVolume);
            volumes->Finish(lastName);
            try {
                a.stream_ = std::make_unique<TFileStream>(lastName, fmOpenReadWrite | fmShareDenyNone);
            } catch (const EFOpenError& e) {
                throw EZipException::Fmt(ZipNative::CannotOpenFile, &a, lastName.c_str()).WithSystemError(e.Error);
            }
            dir.Stream = a.stream_.get();
        }
        dir.End = closing.end;
        dir.HasDirectory = true;
    }

    void Rollback() {
        prefetch.reset();
        dir.UpdateList.Assign(dir.Directory);
        if (multi) {
            if (volumes) volumes->Discard();
            if (!a.stream_) a.WriteEmptyArchive();
            return;
        }
        if (!out) return;
        out->Truncate(startPos);
        if (tail && tail->Size() > 0) {
            tail->SetPosition(0);
            CopyBytes(*tail, tail->Size(), [&](const uint8_t* p, size_t n) { out->Write(p, n); });
        } else if (dir.IsNew && startPos == dir.DataStart) {
            out->Write(ZipClosingRecords(ZipEmptyClosing(static_cast<uint64_t>(startPos))));
            dir.HasDirectory = true;
        }
        out->Flush();
        a.stream_->SetSize(out->Position());
    }

    void Run(int firstChanged) {
        auto& list = dir.UpdateList;
        if (multi) {
            volumes = std::move(a.volumes_);   // opened with the archive
            if (!volumes) volumes = std::make_unique<TZipVolumeWriter>(static_cast<TZipVolumeHost&>(a));
        } else {
            SaveTail(firstChanged);
        }
        a.volumeNumber_.SetFirst();
        StartPrefetch(firstChanged);
        TZipProcessOperation lastOp = poAdd;
        std::vector<int> leftOut;   // new items whose file failed
        for (int i = firstChanged; i < list.Count() && !a.cancel_;) {
            bool ok = false;
            do {
                action = fxaIgnore;
                TDirItem& item = list.Item(i);
                lastOp = item.operation;
                if (!item.marked || item.operation == poRename || item.operation == poChangeAttr ||
                    item.operation == poChangeComment) {
                    CopyOldEntry(i);
                    ok = true;
                } else {
                    ok = WriteMarkedFile(i);
                }
            } while (action == fxaRetry);
            if (action == fxaAbort || a.cancel_) break;
            if (ok) {
                if (list.Item(i).marked) ++a.itemsProcessed_;
                ++i;
            } else if (list.Item(i).operation == poAdd) {
                // Dropped from the list once the loop is over, all in one pass.
                leftOut.push_back(i++);
            } else {
                CopyOldEntry(i);
                ++i;
            }
        }
        prefetch.reset();
        if (a.cancel_ || action == fxaAbort) {
            Rollback();
            return;
        }
        list.Delete(leftOut);
        WriteDirectory();
        for (int i = 0; i < list.Count(); ++i) {
            TDirItem& item = list.Item(i);
            if (item.marked && item.operation == poMove && !item.IsFolder()) {
                while (!::DeleteFileA(item.sourceName.c_str())) {
                    const DWORD error = ::GetLastError();
                    EZipException e = EZipException::Fmt(ZipNative::CannotDeleteFile, &a, item.sourceName.c_str());
                    e.SystemError = error;
                    action = fxaIgnore;
                    a.DoProcessFileFailure(item.sourceName, item.operation, e.NativeError, e.ErrorCode, DescribeError(e), action);
                    if (action != fxaRetry) break;
                }
                if (action == fxaAbort) break;
            }
        }
        for (int i = 0; i < list.Count(); ++i) list.Item(i).marked = false;
        // The list is what the file holds now; the next update takes its
        // snapshot of it when it begins (nothing reads the snapshot outside an
        // update). A copy here would keep every entry twice: 0.4 KB a file.
        dir.Directory.SetCount(0);
        bool ignored = false;
        a.DoOverallProgress(100.0, lastOp, ppEnd, ignored);
        if (a.Options.FlushBuffers)
            if (auto* f = dynamic_cast<THandleStream*>(a.stream_.get())) ::FlushFileBuffers(f->Handle());
    }
};

void TZipBaseArchiver::CommitUpdate() {
    if (updateLevel_ == 0) return;
    updateLevel_ = 0;
    itemsProcessed_ = 0;
    itemsToProcess_ = 0;
    cancel_ = false;
    progressWanted_ = true;
    auto& list = dir_->UpdateList;
    auto& old = dir_->Directory;
    int firstMarked = -1;
    for (int i = 0; i < list.Count(); ++i)
        if (list.Item(i).marked) {
            ++itemsToProcess_;
            if (firstMarked < 0) firstMarked = i;
        }
    bool cancel = false;
    DoOverallProgress(0.0, firstMarked >= 0 ? list.Item(firstMarked).operation : poDelete, ppStart, cancel);
    if (cancel) {
        // Nothing was written: the marks are dropped with the rest of the update.
        prefetch_.reset();
        list.Assign(old);
        return;
    }
    int firstChanged = 0;
    int common = std::min(list.Count(), old.Count());
    while (firstChanged < common && !list.Item(firstChanged).marked &&
           list.Item(firstChanged).name == old.Item(firstChanged).name)
        ++firstChanged;
    if (MultiVolumeSet() && old.Count() > 0) {
        prefetch_.reset();
        list.Assign(old);
        throw EZipException(ZipNative::MultiVolumeUpdate, this);
    }
    TZipCommit commit(*this);
    try {
        commit.Run(firstChanged);
    } catch (...) {
        try {
            commit.Rollback();
        } catch (...) {
            // The first failure is the one the caller needs to see.
        }
        throw;
    }
}

} // namespace krv
