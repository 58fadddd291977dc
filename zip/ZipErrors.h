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
