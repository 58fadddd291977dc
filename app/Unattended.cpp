#include "app/Unattended.h"
#include <cstdlib>
#include "app/Log.h"
#include "app/Messages.h"
#include "framework/Dialogs.h"
#include "framework/SysUtils.h"

namespace krv {

int UnattendedAnswer(UINT flags) {
    switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL:
    case MB_RETRYCANCEL:
    case MB_CANCELTRYCONTINUE: return IDCANCEL;
    case MB_YESNO:
    case MB_YESNOCANCEL: return IDNO;
    case MB_ABORTRETRYIGNORE: return IDABORT;
    default: return IDOK;
    }
}

std::string OneLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r') continue;
        if (c == '\n') {
            if (!out.empty() && out.back() != ' ') out += ' ';
            continue;
        }
        out += c;
    }
    return out;
}

int AskUser(const std::string& text, const std::string& caption, UINT flags,
            const std::function<void(const std::string&)>& redLine) {
    if (!KorvaneState().Batch) return ShowMessageBox(text, caption, flags);
    if (redLine) redLine(OneLine(text));
    return UnattendedAnswer(flags);
}

std::vector<std::string> RunSummaryLines(const std::string& archive, int64_t files, int64_t bytes, int changed,
                                         int leftOut) {
    std::vector<std::string> lines = {
        KV_Summary_Archive + " " + archive,
        KV_Summary_Files + " " + IntToStr(files) + " (" + IntToStr(bytes) + " " + KV_Summary_Bytes + ")"};
    if (changed > 0) lines.push_back(KV_Summary_Changed + " " + IntToStr(changed));
    lines.push_back(KV_Summary_LeftOut + " " + IntToStr(leftOut));
    return lines;
}

int64_t TestSeamNumber(const char* name, int64_t max) {
    char text[32] = {};
    DWORD n = ::GetEnvironmentVariableA(name, text, sizeof text);
    if (n == 0 || n >= sizeof text) return 0;
    char* end = nullptr;
    long long v = std::strtoll(text, &end, 10);
    return end && *end == 0 && v > 0 && v <= max ? v : 0;
}

} // namespace krv
