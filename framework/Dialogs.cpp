#include "framework/Dialogs.h"
#include <cmath>

namespace krv {

namespace {
MessageBoxHook messageBoxHook;
}

void SetMessageBoxHook(MessageBoxHook hook) { messageBoxHook = std::move(hook); }

int ShowMessageBox(const std::string& text, const std::string& caption, UINT flags) {
    if (messageBoxHook) return messageBoxHook(text, caption, flags);
    return ::MessageBoxA(::GetActiveWindow(), text.c_str(), caption.c_str(), flags);
}

TDateTime SystemTimeToDateTime(const SYSTEMTIME& st) {
    FILETIME ft;
    if (!::SystemTimeToFileTime(&st, &ft)) return 0;
    ULARGE_INTEGER v;
    v.LowPart = ft.dwLowDateTime;
    v.HighPart = ft.dwHighDateTime;
    // FILETIME counts 100 ns from 1601-01-01; 109205 days lie between that and 1899-12-30.
    return static_cast<double>(v.QuadPart) / 864000000000.0 - 109205.0;
}

SYSTEMTIME DateTimeToSystemTime(TDateTime value) {
    double ticks = std::floor((value + 109205.0) * 864000000000.0 + 0.5);
    ULARGE_INTEGER v;
    v.QuadPart = ticks < 0 ? 0 : static_cast<ULONGLONG>(ticks);
    // Round to whole milliseconds so 12:00:00 does not print as 11:59:59.
    v.QuadPart = (v.QuadPart + 5000) / 10000 * 10000;
    FILETIME ft{v.LowPart, v.HighPart};
    SYSTEMTIME st{};
    ::FileTimeToSystemTime(&ft, &st);
    return st;
}

TDateTime Now() {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    return SystemTimeToDateTime(st);
}

std::string DateToStr(TDateTime value) {
    SYSTEMTIME st = DateTimeToSystemTime(value);
    char buf[128];
    int n = ::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, buf, sizeof buf);
    return n > 0 ? std::string(buf) : std::string();
}

std::string TimeToStr(TDateTime value) {
    SYSTEMTIME st = DateTimeToSystemTime(value);
    char buf[128];
    int n = ::GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, buf, sizeof buf);
    return n > 0 ? std::string(buf) : std::string();
}

std::string DateTimeToStr(TDateTime value) {
    return DateToStr(value) + " " + TimeToStr(value);
}

} // namespace krv
