#include "zip/ZipErrors.h"
#include "framework/Classes.h"
#include <cstdarg>
#include <iterator>

namespace krv {

namespace {

const char* const kMessages[] = {
    "Unknown error",
    "Index out of bounds",
    "Invalid compression mode. Mode must be in [0-9] range",
    "Unexpected nil pointer",
    "Invalid size or check sum of file or unsupported compression format",
    "File name is blank. Specify appropriate file name",
    "File \"%s\" not found",
    "Archive is not open",
    "SFXStub property is not specified",
    "Cannot create file \"%s\"",
    "Cannot create directory \"%s\"",
    "Internal error. Update is not started",
    "Cannot open file \"%s\"",
    "Cannot proceed when update is not ended. Preceding EndUpdate call is required.",
    "Cannot delete file \"%s\"",
    "In-memory archive can be created only",
    "File is open in read-only mode",
    // The sizes are 64-bit: files of 2 GiB and more are printed as they are.
    "Invalid compressed size, rfs.size = %lld, count = %lld",
    "Invalid archive file.",
    "Cannot create output file. Probably file is locked by another process. FileName = '%s'.",
    "Archive is open. You should close it beore performing this operation.",
    "Unable to create directory",
    "Cannot find Zip64 directory end record",
    "Cannot compress file '%s'. Zip64 mode is not enabled",
    "Cannot open archive file. Opening aborted or invalid file",
    "Write to stream error",
    "Cannot place SFX stub on volume. Volume size limit is too small",
    "Archive is damaged. Open failed",
    "MakeSFX is not allowed for splitted or spanned archives. Set SFXStub before archive creation instead of MakeSFX",
    "Archive already has SFX stub",
    "Multi-volume archive is not allowed for custom stream",
    "Multi-spanned archive is not allowed for modification. Use BeginUpdate/EndUpdate methods to add files several times",
    "Deflate64 compression method is not supported",
    "MakeSFX error",
    // A folder the search could not take: never an empty folder in silence.
    "Cannot list folder \"%s\"",
    "Link to a folder \"%s\" is not followed",
    // A file read short of the size it had when it was opened, or whose read
    // failed: that file is left out, unlike a failed write of the archive.
    "File \"%s\" became shorter while it was read",
    "Cannot read file \"%s\"",
    // Stored all the same: the copy read last may mix two states of the file.
    "File \"%s\" changed while it was read; the stored copy may not be whole",
};

// Native code -> message number, indexed by native code.
const int kNativeToCode[] = {
    0, 1, 1, 1, 1, 2, 3, 1, 4, 5,        // 0-9
    5, 6, 6, 7, 7, 6, 1, 8, 6, 9,        // 10-19
    10, 1, 11, 9, 1, 11, 13, 14, 15, 5,  // 20-29
    6, 6, 16, 12, 17, 18, 19, 20, 6, 21, // 30-39
    22, 23, 6, 23, 24, 24, 25, 26, 27, 28, // 40-49
    29, 30, 31, 6, 6, 32, 33, 34, 35, 36, // 50-59
    37, 38,                              // 60-61
};

std::string Decorate(const std::string& text, const TComponent* archiver, int nativeError) {
    std::string msg = text;
    if (archiver && !archiver->Name().empty()) msg = Format("%s: %s", archiver->Name().c_str(), msg.c_str());
    std::string code = Format("%5d", nativeError);
    for (char& c : code)
        if (c == ' ') c = '0';
    return msg + " - Native error: " + code;
}

} // namespace

int ZipErrorCodeOf(int nativeError) {
    if (nativeError < 0 || nativeError >= static_cast<int>(std::size(kNativeToCode))) return 0;
    return kNativeToCode[nativeError];
}

const char* ZipErrorText(int errorCode) {
    if (errorCode < 0 || errorCode >= static_cast<int>(std::size(kMessages))) return kMessages[0];
    return kMessages[errorCode];
}

EZipException::EZipException(int nativeError, const TComponent* archiver, const std::string& text)
    : Exception(Decorate(text, archiver, nativeError)), ErrorCode(ZipErrorCodeOf(nativeError)), NativeError(nativeError) {}

EZipException::EZipException(int nativeError, const TComponent* archiver)
    : EZipException(nativeError, archiver, ZipErrorText(ZipErrorCodeOf(nativeError))) {}

EZipException EZipException::Fmt(int nativeError, const TComponent* archiver, ...) {
    va_list args;
    va_start(args, archiver);
    std::string text = FormatV(ZipErrorText(ZipErrorCodeOf(nativeError)), args);
    va_end(args);
    return EZipException(nativeError, archiver, text);
}

EZipException EZipException::System(int nativeError, const TComponent* archiver, unsigned long systemError) {
    return EZipException(nativeError, archiver, ZipErrorText(ZipErrorCodeOf(nativeError))).WithSystemError(systemError);
}

std::string DescribeError(const std::exception& e) {
    std::string text = e.what();
    if (const auto* z = dynamic_cast<const EZipException*>(&e); z && z->SystemError != 0)
        text += " (" + TrimRight(SysErrorMessage(static_cast<DWORD>(z->SystemError))) + ")";
    return text;
}

namespace ZipPrompt {
const char* const ConfirmOverwrite = "Overwrite file \"%s\" with \"%s\"";
const char* const PasswordCaption = "Password for \"%s\"";
const char* const PasswordPrompt = "Enter password: ";
const char* const InsertBlankDisk = "Please insert a blank disk #%d";
const char* const InsertFirstDisk = "Please insert the first disk";
const char* const InsertLastDisk = "Please insert the last disk";
const char* const InsertDisk = "Please insert disk #%d";
const char* const DiskFull =
    "Disk is full. Required free space: %lld bytes, but available only: %lld bytes. Clean the disk or find another blank disk";
const char* const FileFailure = "%s. File processing error, possibly disk is full";
const char* const FileNotOnLastDisk = "File '%s' not found on inserted disk. Please insert last disk with required file";
const char* const SpanningModeOnOpen = "Cannot set spanning mode on open archive";
const char* const InvalidMask = "'%s' is an invalid mask at (%d)";
} // namespace ZipPrompt

} // namespace krv
