// The archive engine's one exception class and the texts of its messages and
// prompts. A raising site names a native code; a fixed table turns it into the
// message number the owner decides by.
#pragma once
#include "framework/SysUtils.h"
#include <string>

namespace krv {

class TComponent;

class EZipException : public Exception {
public:
    // Message of the native code's number, placeholders left as they are.
    EZipException(int nativeError, const TComponent* archiver);
    // The same text filled with printf-style arguments.
    static EZipException Fmt(int nativeError, const TComponent* archiver, ...);
    // The code's message with the system's error behind it (a full disk says so
    // through DescribeError).
    static EZipException System(int nativeError, const TComponent* archiver, unsigned long systemError);

    int ErrorCode;
    int NativeError;
    // The system's error code behind the failure (0 when none): the message
    // keeps its fixed form, DescribeError adds the system's words.
    unsigned long SystemError = 0;
    EZipException& WithSystemError(unsigned long error) {
        SystemError = error;
        return *this;
    }

private:
    EZipException(int nativeError, const TComponent* archiver, const std::string& text);
};

// zlib failures: not a per-file error, the whole commit fails with it.
class ECompressionError : public Exception { public: using Exception::Exception; };

// What a log line says of a failure: the message, and for an archive error
// with a system error behind it, the system's text of that error too.
std::string DescribeError(const std::exception& e);

// Native codes the engine raises, named by the failure at the raising site.
namespace ZipNative {
constexpr int InvalidCompressionMode = 5;
constexpr int OldEntryMissing = 7;
constexpr int CheckSumMismatch = 8;
constexpr int BlankNameOnOpenAuto = 9;
constexpr int BlankNameOnOpen = 10;
constexpr int FileNotFound = 12;
constexpr int ArchiveNotOpen = 13;
constexpr int CannotCreateFile = 19;
constexpr int CannotDeleteFile = 27;
constexpr int InMemoryCreateOnly = 28;
constexpr int BlankNameOnLeavingMemory = 29;
constexpr int ReadOnly = 32;
constexpr int CannotOpenFile = 33;
constexpr int SizeChanged = 34;
constexpr int InvalidArchive = 35;
constexpr int NoZip64End = 40;
constexpr int FileNeedsZip64 = 41;
constexpr int OffsetNeedsZip64 = 43;
constexpr int NoMultiVolumeEnd = 44;
constexpr int OpenAborted = 45;
constexpr int WriteFailed = 46;
constexpr int StubTooLarge = 47;
constexpr int DamagedArchive = 48;
constexpr int MultiVolumeUpdate = 52;
constexpr int CannotListFolder = 57;
constexpr int FolderLinkNotFollowed = 58;
constexpr int SourceShrank = 59;
constexpr int CannotReadFile = 60;
constexpr int SourceChanged = 61;
} // namespace ZipNative

// Message numbers an owner decides by (EZipException::ErrorCode, the error
// code of OnProcessFileFailure).
namespace ZipErrorCode {
constexpr int FileNotFound = 6;
constexpr int CannotOpenFile = 12;
// A folder the search left out: it could not be listed, or it is a link.
constexpr int CannotListFolder = 34;
constexpr int FolderLinkNotFollowed = 35;
// A file left out while it was compressed: it became shorter, or a read failed.
constexpr int SourceShrank = 36;
constexpr int CannotReadFile = 37;
// A file that changed during each of its reads: its last copy is stored all
// the same (Ignore keeps it, Retry reads the file again, Abort stops).
constexpr int SourceChanged = 38;
} // namespace ZipErrorCode

// Message number for a native code (0 for codes without one).
int ZipErrorCodeOf(int nativeError);
// Message text of a message number ("Unknown error" outside the table).
const char* ZipErrorText(int errorCode);

// Prompts of the archiver.
namespace ZipPrompt {
extern const char* const ConfirmOverwrite;
extern const char* const PasswordCaption;
extern const char* const PasswordPrompt;
extern const char* const InsertBlankDisk;
extern const char* const InsertFirstDisk;
extern const char* const InsertLastDisk;
extern const char* const InsertDisk;
extern const char* const DiskFull;
extern const char* const FileFailure;
extern const char* const FileNotOnLastDisk;
extern const char* const SpanningModeOnOpen;
extern const char* const InvalidMask;
} // namespace ZipPrompt

} // namespace krv
