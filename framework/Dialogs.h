// Message boxes (flags as the Windows numbers: 16 error, 49 OK/Cancel,
// 51 Yes/No/Cancel, 52 Yes/No, 64 information) and locale date/time text.
#pragma once
#include <windows.h>
#include <functional>
#include <string>

namespace krv {

// Shows a message box over the active window; answers IDOK, IDYES...
int ShowMessageBox(const std::string& text, const std::string& caption, UINT flags);
// Tests and unattended runs answer boxes through a hook instead of a window.
using MessageBoxHook = std::function<int(const std::string& text, const std::string& caption, UINT flags)>;
void SetMessageBoxHook(MessageBoxHook hook);

// Days since 30 December 1899, the fraction the time of day.
using TDateTime = double;
TDateTime Now();
TDateTime SystemTimeToDateTime(const SYSTEMTIME& st);
SYSTEMTIME DateTimeToSystemTime(TDateTime value);
// The user's short date and time format.
std::string DateTimeToStr(TDateTime value);
std::string DateToStr(TDateTime value);
std::string TimeToStr(TDateTime value);

} // namespace krv
