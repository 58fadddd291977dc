// A file stream opened by a UTF-16 file name (the ANSI twin off the NT family).
#pragma once
#include "framework/Stream.h"
#include <string>

namespace krv {

class ERangeError : public Exception { public: using Exception::Exception; };

class TWideFileStream : public THandleStream {
public:
    // mode fmCreate (0xFFFF) makes the file anew; otherwise the low two bits
    // pick the access and bits 4-7 the sharing, as fmOpen... | fmShare....
    TWideFileStream(const std::wstring& fileName, unsigned mode);
    const std::wstring& FileName() const { return fileName_; }
private:
    FileHandle file_;
    std::wstring fileName_;
};

} // namespace krv
