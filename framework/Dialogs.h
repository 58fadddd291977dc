// Message boxes (flags as the Windows numbers: 16 error, 49 OK/Cancel,
// 51 Yes/No/Cancel, 52 Yes/No, 64 information) and locale date/time text.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

namespace krv {

// Shows a message box over the active window; answers IDOK, IDYES...
int ShowMessageBox(const std::string& text, const std::string& caption, UINT flags);
// Tests and unattended runs answer boxes through a hook instead of a window.
using MessageBoxHook = std::function<int(const std::string& text, const std::string& caption, UINT flags)>;
void SetMessageBoxHook(MessageBoxHook hook);

// Answers of the button dialog beyond the system's IDYES, IDNO, IDCANCEL.
constexpr int idNoToAll = 9;
constexpr int idYesToAll = 10;
struct TDialogButton {
    int Id;
    std::string Caption;
};
// A modal question with buttons of our choosing (the system box has no "Yes
// to all"); answers the pressed button's id, IDCANCEL when closed. Built from
// an in-memory template, so it works on any thread, a worker's included.
int ShowButtonDialog(const std::string& text, const std::string& caption, const std::vector<TDialogButton>& buttons);
// A modal one-line input; true on OK (value then holds the text). password
// hides what is typed.
bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value, bool password = false);
// Called with every such dialog's window once it is set up (tests answer it).
void SetDialogShownHook(std::function<void(HWND dialog)> hook);
// The id of the edit field of InputQuery's dialog.
constexpr int idInputEdit = 100;

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
