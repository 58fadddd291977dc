#include "shell/base/WideFileStream.h"
#include "shell/base/SystemVersion.h"
#include "shell/base/WideStrUtils.h"

namespace krv {

namespace {
HANDLE OpenFile(const std::wstring& name, DWORD access, DWORD share, DWORD disposition) {
    if (auto create = WideFunctions().CreateFileW)
        return create(name.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    return ::CreateFileA(WideToAnsi(name).c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
}
} // namespace

TWideFileStream::TWideFileStream(const std::wstring& fileName, unsigned mode)
    : THandleStream(INVALID_HANDLE_VALUE), fileName_(fileName) {
    if (mode == fmCreate) {
        file_.reset(OpenFile(fileName, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS));
        if (!file_) throw EFCreateError(Format("Cannot create file %s", WideToAnsi(fileName).c_str()), ::GetLastError());
    } else {
        static const DWORD access[3] = {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE};
        static const DWORD share[5] = {0, 0, FILE_SHARE_READ, FILE_SHARE_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE};
        unsigned a = mode & 3, s = (mode >> 4) & 0xF;
        if (a > 2 || s > 4) throw ERangeError("Range check error");
        file_.reset(OpenFile(fileName, access[a], share[s], OPEN_EXISTING));
        if (!file_) throw EFOpenError(Format("Cannot open file %s", WideToAnsi(fileName).c_str()), ::GetLastError());
    }
    handle_ = file_.get();
}

} // namespace krv
