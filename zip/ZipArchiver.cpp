#include "zip/ZipArchiver.h"
#include "zip/ZipPrefetch.h"
#include "zip/ZipRecords.h"
#include "zip/ZipStream.h"
#include "framework/Dialogs.h"
#include "framework/UpdateScope.h"
#include <windows.h>
#include <algorithm>

namespace krv {

namespace {

int Box(const std::string& text, UINT flags) {
    return ::MessageBoxA(nullptr, text.c_str(), "", flags | MB_TASKMODAL);
}

} // namespace

TZipBaseArchiver::TZipBaseArchiver(TComponent* owner) : TComponent(owner) {
    SetCompressionLevel(clFastest);
}

TZipBaseArchiver::~TZipBaseArchiver() {
    try {
        CloseArchive();
    } catch (...) {
        // A destructor cannot report; callers that care close the archive themselves.
    }
}

void TZipBaseArchiver::SetCompressionLevel(TZipCompressionLevel level) {
    static const int modes[] = {0, 1, 6, 9};
    compressionLevel_ = level;
    compressionMode_ = modes[level];
    UpdateCompressionMethod();
}

void TZipBaseArchiver::SetCompressionMode(int mode) {
    if (mode < 0 || mode >= 10) throw EZipException(ZipNative::InvalidCompressionMode, this);
    compressionMode_ = mode;
    compressionLevel_ = mode == 0 ? clNone : mode <= 3 ? clFastest : mode <= 6 ? clNormal : clMax;
    UpdateCompressionMethod();
}

std::string TZipBaseArchiver::CurrentVersion() const { return "2.62 "; }

void TZipBaseArchiver::SetSpanningMode(TZipSpanningMode mode) {
    if (active_) throw Exception(ZipPrompt::SpanningModeOnOpen);
    spanningMode_ = mode;
}

void TZipBaseArchiver::SetInMemory(bool value) {
    if (value == inMemory_) return;
    if (active_) {
        if (!value) {
            if (ExtractFileName(FileName).empty()) throw EZipException(ZipNative::BlankNameOnLeavingMemory, this);
            if (updateLevel_ > 0) CommitUpdate();
            if (stream_->Size() == 0) WriteEmptyArchive();
            static_cast<TMemoryStream&>(*stream_).SaveToFile(FileName);
        }
        active_ = false;
        updateLevel_ = 0;
        FreeArchive();
        inMemory_ = value;
        OpenAuto();
        return;
    }
    inMemory_ = value;
}

std::string TZipBaseArchiver::VolumeName(uint32_t number) const {
    return ZipVolumeFileName(FileName, number, spanningMode_, SpanningOptions.AdvancedNaming,
                             !SFXStub.empty() || ZipIsSfxName(FileName));
}

void TZipBaseArchiver::OpenArchive(unsigned mode) {
    if (!inMemory_ && ExtractFileName(FileName).empty()) throw EZipException(ZipNative::BlankNameOnOpen, this);
    if (mode < fmCreate && !FileExists(FileName) && spanningMode_ != smSpanning && !ZipIsRemovable(FileName))
        throw EZipException::Fmt(ZipNative::FileNotFound, this, FileName.c_str());
    if (mode < fmCreate && inMemory_) throw EZipException(ZipNative::InMemoryCreateOnly, this);
    CloseArchive();
    mode_ = mode;
    if (mode_ == fmCreate || inMemory_) OpenNew();
    else OpenExisting();
    active_ = true;
    if (AfterOpen) AfterOpen(this);
}

void TZipBaseArchiver::OpenNew() {
    // The stub is read before anything is created: a stub that cannot be read
    // leaves neither a first volume nor an emptied archive behind.
    const std::vector<uint8_t> stub = SFXStub.empty() ? std::vector<uint8_t>() : ReadStub();
    if (inMemory_) {
        stream_ = std::make_unique<TMemoryStream>();
    } else if (!MultiVolume()) {
        try {
            stream_ = std::make_unique<TFileStream>(FileName, fmCreate);
        } catch (const EFOpenError& e) {
            throw EZipException::Fmt(ZipNative::CannotCreateFile, this, FileName.c_str()).WithSystemError(e.Error);
        }
    }
    volumeNumber_.SetFirst();
    dir_ = std::make_unique<TZipDirManager>(stream_.get(), true);
    if (!inMemory_ && MultiVolume()) {
        // The first volume is asked for and created now; the commit fills it.
        auto volumes = std::make_unique<TZipVolumeWriter>(static_cast<TZipVolumeHost&>(*this));
        try {
            volumes->Begin();
            if (!SFXStub.empty()) PutStub(*volumes, stub);
        } catch (...) {
            volumes->Discard();   // the open failed: the set it began is not kept
            throw;
        }
        volumes_ = std::move(volumes);
    }
    if (stream_ && !SFXStub.empty()) {
        // The stub starts the file; the archive's data begins after it.
        stream_->WriteBuffer(stub.data(), stub.size());
        dir_->DataStart = static_cast<int64_t>(stub.size());
    }
}

// A split or spanned archive starts with the stub in its first volume, whole.
void TZipBaseArchiver::PutStub(TZipVolumeWriter& volumes, const std::vector<uint8_t>& stub) {
    const int64_t room = VolumeSizeOf(0);
    if (room >= 0 && static_cast<int64_t>(stub.size()) > room) throw EZipException(ZipNative::StubTooLarge, this);
    if (!stub.empty()) volumes.Write(stub.data(), stub.size(), stub.size());
}

std::vector<uint8_t> TZipBaseArchiver::ReadStub() const {
    try {
        TFileStream f(SFXStub, fmOpenRead | fmShareDenyWrite);
        std::vector<uint8_t> stub(static_cast<size_t>(f.Size()));
        if (!stub.empty()) f.ReadBuffer(stub.data(), stub.size());
        return stub;
    } catch (const EFOpenError& e) {
        throw EZipException::Fmt(ZipNative::CannotOpenFile, this, SFXStub.c_str()).WithSystemError(e.Error);
    }
}

bool TZipBaseArchiver::OpenLastVolume(const std::string& name) {
    FreeArchive();
    try {
        stream_ = std::make_unique<TFileStream>(name, mode_);
    } catch (const EFOpenError& e) {
        throw EZipException::Fmt(ZipNative::CannotOpenFile, this, name.c_str()).WithSystemError(e.Error);
    }
    dir_ = std::make_unique<TZipDirManager>(stream_.get(), false);
    int64_t closingStart = 0;
    dir_->HasDirectory = ZipReadEnd(*stream_, dir_->End, closingStart, this);
    return dir_->HasDirectory;
}

// Asks for the last volume until one holds an end record.
void TZipBaseArchiver::RequestLastVolume() {
    for (;;) {
        std::string name;
        bool cancel = false;
        DoRequestLastVolume(name, cancel);
        // A split archive has nowhere else to look; a spanned one can be given another disk.
        if (cancel) throw EZipException(spanningMode_ == smSpanning ? ZipNative::OpenAborted : ZipNative::NoMultiVolumeEnd, this);
        if (FileExists(name) && OpenLastVolume(name)) return;
        if (spanningMode_ != smSpanning) throw EZipException(ZipNative::NoMultiVolumeEnd, this);
    }
}

void TZipBaseArchiver::SettleSpanningMode() {
    const uint32_t last = dir_->End.thisVolume;
    spanningMode_ = smNone;
    if (last == 0) return;
    const bool sfx = !SFXStub.empty() || ZipIsSfxName(FileName);
    auto present = [&](bool advanced) {
        for (uint32_t v = 0; v < last; ++v)
            if (!FileExists(ZipVolumeFileName(FileName, v, smSplitting, advanced, sfx))) return false;
        return true;
    };
    if (present(SpanningOptions.AdvancedNaming)) {
        spanningMode_ = smSplitting;
    } else if (present(!SpanningOptions.AdvancedNaming)) {
        SpanningOptions.AdvancedNaming = !SpanningOptions.AdvancedNaming;
        spanningMode_ = smSplitting;
    } else if (ZipIsRemovable(FileName)) {
        spanningMode_ = smSpanning;
    }
    // Otherwise the other volumes are not at hand; the end record still says
    // the archive is one of several, and MultiVolumeSet keeps it unchanged.
}

std::vector<uint8_t> TZipBaseArchiver::ReadAcrossVolumes(uint32_t volume, uint64_t offset, uint64_t size) {
    const uint32_t last = dir_->End.thisVolume;
    std::vector<uint8_t> out;
    for (uint32_t v = volume; out.size() < size; ++v) {
        if (v > last) throw EZipException(ZipNative::InvalidArchive, this);
        std::unique_ptr<TFileStream> other;
        TStream* s = stream_.get();
        if (v != last) {
            std::string name;
            bool cancel = false;
            DoRequestMiddleVolume(static_cast<int>(v + 1), name, cancel);
            if (cancel) throw EZipException(ZipNative::OpenAborted, this);
            try {
                other = std::make_unique<TFileStream>(name, fmOpenRead | fmShareDenyNone);
            } catch (const EFOpenError&) {
                throw EZipException(ZipNative::OpenAborted, this);
            }
            s = other.get();
        }
        const int64_t from = v == volume ? static_cast<int64_t>(offset) : 0;
        const int64_t n = std::min<int64_t>(static_cast<int64_t>(size - out.size()), s->Size() - from);
        if (n <= 0) continue;
        size_t at = out.size();
        out.resize(at + static_cast<size_t>(n));
        s->SetPosition(from);
        s->ReadBuffer(out.data() + at, static_cast<size_t>(n));
    }
    return out;
}

void TZipBaseArchiver::OpenExisting() {
    spanningMode_ = smNone;
    volumeNumber_.Reset();
    try {
        if (ZipIsSfxName(FileName)) {
            // A self-extracting archive holds its end record, unless it is the
            // first volume of a split one: the end record is then in the last.
            if (!OpenLastVolume(FileName)) {
                spanningMode_ = smSplitting;
                RequestLastVolume();
            }
        } else if (!FileExists(FileName) && ZipIsRemovable(FileName)) {
            spanningMode_ = smSpanning;
            RequestLastVolume();
        } else if (!OpenLastVolume(FileName)) {
            const bool sfx = !SFXStub.empty();
            // The first volume of a set beside it: this is a volume of several
            // whose end record is missing, not a single file to rebuild.
            for (bool advanced : {false, true})
                if (FileExists(ZipVolumeFileName(FileName, 0, smSplitting, advanced, sfx)))
                    throw EZipException(ZipNative::NoMultiVolumeEnd, this);
            ZipRebuildDirectory(*stream_, *dir_, Options.OEMFileNames, this);
        }
        volumeNumber_.lastNumber = dir_->End.thisVolume;
        volumeNumber_.SetLast();
        if (dir_->HasDirectory) {
            SettleSpanningMode();
            if (dir_->End.thisVolume == 0) {
                ZipReadDirectory(*stream_, *dir_, Options.OEMFileNames, this);
            } else {
                const TZipEndInfo& e = dir_->End;
                ZipParseDirectory(ReadAcrossVolumes(e.directoryVolume, e.directoryOffset, e.directorySize), e.totalEntries,
                                  dir_->UpdateList, Options.OEMFileNames, this);
            }
        }
    } catch (...) {
        FreeArchive();
        throw;
    }
    dir_->Directory.Assign(dir_->UpdateList);
}

void TZipBaseArchiver::OpenAuto() {
    if (!inMemory_ && ExtractFileName(FileName).empty()) throw EZipException(ZipNative::BlankNameOnOpenAuto, this);
    unsigned mode = fmCreate;
    if (!inMemory_ && FileExists(FileName)) {
        HANDLE h = ::CreateFileA(FileName.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            FileHandle probe(h);
            mode = fmOpenReadWrite | fmShareDenyWrite;
        } else {
            mode = fmOpenRead | fmShareDenyNone;
        }
    }
    OpenArchive(mode);
}

void TZipBaseArchiver::SetActive(bool value) {
    if (value == active_) return;
    if (value) OpenAuto();
    else CloseArchive();
}

void TZipBaseArchiver::WriteEmptyArchive() {
    if (!stream_) {
        try {
            stream_ = std::make_unique<TFileStream>(FileName, fmCreate);
        } catch (const EFOpenError& e) {
            throw EZipException::Fmt(ZipNative::CannotCreateFile, this, FileName.c_str()).WithSystemError(e.Error);
        }
    }
    const int64_t start = dir_ && stream_.get() == dir_->Stream ? dir_->DataStart : 0;
    stream_->SetSize(start);
    stream_->SetPosition(start);
    auto records = ZipClosingRecords(ZipEmptyClosing(static_cast<uint64_t>(start)));
    stream_->WriteBuffer(records.data(), records.size());
    if (dir_) dir_->HasDirectory = true;
}

void TZipBaseArchiver::CloseArchive() {
    if (active_) {
        std::exception_ptr failure;
        try {
            if (updateLevel_ > 0) CommitUpdate();
            const int64_t start = dir_ ? dir_->DataStart : 0;
            if (volumes_) {
                // Nothing was committed: the first volume becomes a valid empty archive.
                auto records = ZipClosingRecords(ZipEmptyClosing(static_cast<uint64_t>(volumes_->PositionInVolume())));
                volumes_->Write(records.data(), records.size(), records.size());
                volumes_->Finish(VolumeName(kLastVolume));
                volumes_.reset();
            } else if (dir_ && dir_->IsNew && !inMemory_ && (!stream_ || stream_->Size() == start)) WriteEmptyArchive();
            else if (inMemory_ && stream_ && stream_->Size() == start) WriteEmptyArchive();
        } catch (...) {
            failure = std::current_exception();
        }
        active_ = false;
        updateLevel_ = 0;
        FreeArchive();
        if (failure) std::rethrow_exception(failure);
        return;
    }
    FreeArchive();
}

unsigned TZipBaseArchiver::ShareFlags() const {
    static const unsigned share[] = {fmShareCompat, fmShareExclusive, fmShareDenyWrite, fmShareDenyRead,
                                     fmShareDenyNone};
    return share[Options.ShareMode];
}

void TZipBaseArchiver::FreeArchive() {
    prefetch_.reset();
    if (volumes_) volumes_->Discard();   // a volume no commit filled is not kept
    volumes_.reset();
    stream_.reset();
    dir_.reset();
}

void TZipBaseArchiver::BeginUpdate() {
    if (updateLevel_ == 0) {
        prefetch_.reset();
        searchPaths_.leftOut.clear();   // each folder left out is told once per update
        SetActive(true);
        if ((mode_ & 3) == 0 && mode_ != fmCreate && !inMemory_) throw EZipException(ZipNative::ReadOnly, this);
        auto& list = dir_->UpdateList;
        for (int i = 0; i < list.Count(); ++i) list.Item(i).marked = false;
        dir_->Directory.Assign(list);
    }
    ++updateLevel_;
}

void TZipBaseArchiver::EndUpdate() {
    if (updateLevel_ > 1) --updateLevel_;
    else if (updateLevel_ == 1) CommitUpdate();
}

void TZipBaseArchiver::AddFiles() {
    if (!active_) throw EZipException(ZipNative::ArchiveNotOpen, this);
    if (MultiVolumeSet() && dir_->UpdateList.Count() > 0 && updateLevel_ == 0) throw EZipException(ZipNative::MultiVolumeUpdate, this);
    InUpdate(*this, [&] {
        TStringList exclusions = exclusionMasks_;
        if (!FileName.empty()) exclusions.Add(ZipExpandPath(FileName, ""));
        SearchMasks(exclusions);
    });
}

int64_t TZipBaseArchiver::GetArchiveSize() {
    if (!active_) throw EZipException(ZipNative::ArchiveNotOpen, this);
    return stream_ ? stream_->Size() : 0;
}

int TZipBaseArchiver::Count() const { return dir_ ? dir_->UpdateList.Count() : 0; }

const TDirItem& TZipBaseArchiver::Items(int i) const {
    if (!dir_) throw EZipException(ZipNative::ArchiveNotOpen, this);
    return dir_->UpdateList.Item(i);
}

uint32_t TZipBaseArchiver::Now() const {
    if (Clock) return Clock();
    SYSTEMTIME st;
    FILETIME ft;
    WORD date = 0, time = 0;
    ::GetLocalTime(&st);
    ::SystemTimeToFileTime(&st, &ft);
    ::FileTimeToDosDateTime(&ft, &date, &time);
    return (static_cast<uint32_t>(date) << 16) | time;
}

// --- events

void TZipBaseArchiver::DoOverallProgress(double progress, TZipProcessOperation operation, TZipProgressPhase phase,
                                         bool& cancel) {
    if (OnOverallProgress) OnOverallProgress(this, progress, operation, phase, cancel);
    else cancel = false;
}

void TZipBaseArchiver::DoFileProgress(const std::string& fileName, double progress, TZipProcessOperation operation,
                                      TZipProgressPhase phase, bool& cancel) {
    if (OnFileProgress) {
        std::string name = StringReplaceAll(fileName, "/", "\\");
        OnFileProgress(this, name, progress, operation, phase, cancel);
    } else {
        cancel = false;
    }
}

void TZipBaseArchiver::DoCopyTempFileProgress(double progress, TZipProgressPhase phase, bool& cancel) {
    cancel = false;
    if (OnCopyTempFileProgress) OnCopyTempFileProgress(this, progress, phase, cancel);
}

void TZipBaseArchiver::DoConfirmOverwrite(const std::string& sourceFileName, std::string& destFileName, bool& confirm) {
    if (OnConfirmOverwrite) {
        OnConfirmOverwrite(this, sourceFileName, destFileName, confirm);
        return;
    }
    const int r = ShowButtonDialog(Format(ZipPrompt::ConfirmOverwrite, destFileName.c_str(), sourceFileName.c_str()), "Confirm",
                                   {{IDYES, "&Yes"}, {IDNO, "&No"}, {idNoToAll, "No to a&ll"}, {idYesToAll, "Yes to &all"}});
    confirm = r == IDYES || r == idYesToAll;
    if (r == idYesToAll) Options.OverwriteMode = omAlways;
    if (r == idNoToAll) Options.OverwriteMode = omNever;
}

void TZipBaseArchiver::DoConfirmProcessFile(const std::string& fileName, TZipProcessOperation operation, bool& confirm) {
    confirm = true;
    if (OnConfirmProcessFile) OnConfirmProcessFile(this, fileName, operation, confirm);
}

void TZipBaseArchiver::DoPassword(const std::string& fileName, std::string& newPassword, bool& skipFile) {
    if (OnPassword) {
        OnPassword(this, fileName, newPassword, skipFile);
        return;
    }
    skipFile = !InputQuery(Format(ZipPrompt::PasswordCaption, fileName.c_str()), ZipPrompt::PasswordPrompt, newPassword, true);
}

void TZipBaseArchiver::DoProcessFileFailure(const std::string& fileName, TZipProcessOperation operation,
                                            int nativeError, int errorCode, const std::string& errorMessage,
                                            TZipAction& action) {
    action = fxaIgnore;
    if (OnProcessFileFailure) {
        OnProcessFileFailure(this, fileName, operation, nativeError, errorCode, errorMessage, action);
        return;
    }
    const int r = ShowButtonDialog(Format(ZipPrompt::FileFailure, errorMessage.c_str()), "Confirm",
                                   {{IDABORT, "&Abort"}, {IDRETRY, "&Retry"}, {IDIGNORE, "&Ignore"}});
    action = r == IDRETRY ? fxaRetry : r == IDIGNORE ? fxaIgnore : fxaAbort;
}

void TZipBaseArchiver::DoRequestBlankVolume(int volumeNumber, std::string& volumeFileName, bool& cancel) {
    volumeFileName = VolumeName(static_cast<uint32_t>(volumeNumber - 1));
    cancel = false;
    if (OnRequestBlankVolume) {
        OnRequestBlankVolume(this, volumeNumber, volumeFileName, cancel);
    } else if (spanningMode_ == smSpanning) {
        cancel = Box(Format(ZipPrompt::InsertBlankDisk, volumeNumber), MB_OKCANCEL | MB_ICONINFORMATION) != IDOK;
    }
}

void TZipBaseArchiver::DoRequestFirstVolume(std::string& volumeFileName, bool& cancel) {
    volumeFileName = VolumeName(0);
    if (OnRequestFirstVolume) {
        OnRequestFirstVolume(this, volumeFileName, cancel);
    } else if (spanningMode_ == smSpanning) {
        cancel = Box(ZipPrompt::InsertFirstDisk, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK;
        volumeFileName = VolumeName(0);
    } else {
        cancel = !FileExists(volumeFileName) && !(dir_ && dir_->IsNew);
    }
}

void TZipBaseArchiver::DoRequestLastVolume(std::string& volumeFileName, bool& cancel) {
    volumeFileName = VolumeName(kLastVolume);
    if (OnRequestLastVolume) {
        OnRequestLastVolume(this, volumeFileName, cancel);
    } else if (spanningMode_ == smSpanning) {
        cancel = Box(ZipPrompt::InsertLastDisk, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK;
        while (!cancel && !FileExists(volumeFileName))
            cancel = Box(Format(ZipPrompt::FileNotOnLastDisk, volumeFileName.c_str()), MB_OKCANCEL | MB_ICONWARNING) != IDOK;
    } else {
        cancel = !FileExists(volumeFileName);
    }
}

void TZipBaseArchiver::DoRequestMiddleVolume(int volumeNumber, std::string& volumeFileName, bool& cancel) {
    volumeFileName = VolumeName(static_cast<uint32_t>(volumeNumber - 1));
    if (OnRequestMiddleVolume) {
        OnRequestMiddleVolume(this, volumeNumber, volumeFileName, cancel);
    } else if (spanningMode_ == smSpanning) {
        cancel = Box(Format(ZipPrompt::InsertDisk, volumeNumber), MB_OKCANCEL | MB_ICONINFORMATION) != IDOK;
    } else {
        cancel = !FileExists(volumeFileName);
    }
    volumeFileName = ZipVolumeFileName(FileName, static_cast<uint32_t>(volumeNumber - 1), spanningMode_,
                                       SpanningOptions.AdvancedNaming, !SFXStub.empty() || ZipIsSfxName(FileName), true);
}

void TZipBaseArchiver::DoDiskFull(int volumeNumber, const std::string& volumeFileName, bool& cancel) {
    cancel = false;
    if (OnDiskFull) {
        OnDiskFull(this, volumeNumber, volumeFileName, cancel);
    } else if (spanningMode_ == smSpanning) {
        long long need = VolumeSizeOf(static_cast<uint32_t>(volumeNumber - 1));
        long long have = VolumeFreeSpace(volumeFileName);
        cancel = Box(Format(ZipPrompt::DiskFull, need, have), MB_OKCANCEL | MB_ICONWARNING) != IDOK;
    } else {
        cancel = true;
    }
}

void TZipBaseArchiver::DoStoreFile(std::string& fileName, uint32_t& fileAttr, std::string& comment,
                                   const std::string& originalFileName) {
    if (!OnStoreFile) return;
    std::string name = StringReplaceAll(fileName, "/", "\\");
    OnStoreFile(this, name, fileAttr, comment, originalFileName);
    fileName = StringReplaceAll(name, "\\", "/");
}

void TZipBaseArchiver::DoExtractFile(std::string& fileName, uint32_t& fileAttr, const std::string& comment) {
    if (!OnExtractFile) return;
    std::string name = StringReplaceAll(fileName, "/", "\\");
    OnExtractFile(this, name, fileAttr, comment);
    fileName = StringReplaceAll(name, "\\", "/");
}

// --- volume host

bool TZipBaseArchiver::VolumeRequestBlank(uint32_t number, std::string& name) {
    bool cancel = false;
    DoRequestBlankVolume(static_cast<int>(number + 1), name, cancel);
    return cancel;
}

bool TZipBaseArchiver::VolumeDiskFull(uint32_t number, const std::string& name) {
    bool cancel = false;
    DoDiskFull(static_cast<int>(number + 1), name, cancel);
    return cancel;
}

void TZipBaseArchiver::VolumeCreated(uint32_t number, const std::string& name) {
    // Each disk of a spanned set is labelled with its number; a disk that
    // refuses a label still takes the volume.
    if (spanningMode_ != smSpanning) return;
    std::string drive = ExtractFileDrive(ZipExpandPath(name, ""));
    if (drive.size() == 2) ::SetVolumeLabelA((drive + "\\").c_str(), Format("pkback# %.3u", number + 1).c_str());
}

int64_t TZipBaseArchiver::VolumeFreeSpace(const std::string& name) {
    return FreeSpace ? FreeSpace(name) : ZipFreeSpace(name);
}

TZipArchiver::TZipArchiver(TComponent* owner) : TZipBaseArchiver(owner) {
    zip64Mode_ = zmDisabled;
    UpdateCompressionMethod();
}

} // namespace krv
