#include "app/Log.h"
#include "app/Messages.h"
#include "framework/Strings.h"
#include "framework/Stream.h"
#include "framework/SysUtils.h"

namespace krv {

TColor LogColourValue(int colour) {
    switch (colour) {
    case lcRed: return clRed;
    case lcBlue: return clBlue;
    default: return clBlack;
    }
}

LogRoute RouteLogLine(int reportLevel, bool debug, int colour, int level, int kind) {
    LogRoute route{reportLevel >= level, true, LogColourValue(colour)};
    if (!debug && (kind == lkDebug || (kind == lkDetail && colour == lcBlack))) route.ToPanel = false;
    return route;
}

namespace {
std::string DecimalSeparator() {
    char buf[8] = {};
    if (::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buf, sizeof buf) > 0 && buf[0]) return buf;
    return ".";
}

std::string Scaled(double value, const char* unit) {
    std::string s = Format("%*.*f %s", 8, 2, value, unit);
    std::string sep = DecimalSeparator();
    if (sep != ".") {
        size_t dot = s.find('.');
        if (dot != std::string::npos) s.replace(dot, 1, sep);
    }
    return s;
}
}

std::string FormatSize(int64_t b) {
    if (b < 1024) return IntToStr(b) + " bytes";
    if (b < 1048576) return Scaled(static_cast<double>(b) / 1024.0, "KB");
    if (b < 1073741824) return Scaled(static_cast<double>(b) / 1048576.0, "MB");
    return Scaled(static_cast<double>(b) / 1073741824.0, "GB");
}

std::string CleanFileName(const std::string& name) {
    std::string out = name;
    for (char& c : out) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 32 || std::string("\\/:*?\"<>|").find(c) != std::string::npos) c = '_';
    }
    return out;
}

bool IsDeviceName(const std::string& name) {
    // Windows takes the part before the first dot, less trailing blanks; the
    // one rule for report and archive names (writing to a device "succeeds"
    // and keeps nothing).
    std::string base = AnsiUpperCase(TrimRight(name.substr(0, name.find('.'))));
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CLOCK$", "CONIN$", "CONOUT$"})
        if (base == device) return true;
    return base.size() == 4 && (base.rfind("COM", 0) == 0 || base.rfind("LPT", 0) == 0) && base[3] >= '0' &&
           base[3] <= '9';
}

namespace {
// Where a cut of the text to at most `room` bytes ends: never inside a
// character (the program's text is UTF-8).
size_t CharacterCut(const std::string& text, size_t room) {
    if (text.size() <= room) return text.size();
    while (room > 0 && (static_cast<unsigned char>(text[room]) & 0xC0) == 0x80) --room;
    return room;
}

// "~" and 8 hex digits of a hash of the whole name (FNV-1a): names that
// share the part kept still give two files.
std::string NameHashSuffix(const std::string& name) {
    uint32_t hash = 2166136261u;
    for (unsigned char c : name) hash = (hash ^ c) * 16777619u;
    return Format("~%08x", hash);
}
}

std::string ReportBaseName(const std::string& sessionName, const std::string& folder) {
    std::string name = CleanFileName(sessionName);
    if (IsDeviceName(name)) name = "_" + name;
    // MAX_PATH holds the terminating NUL; a file name holds at most 255
    // characters. Counted in bytes: a UTF-8 text never holds more UTF-16
    // units than bytes, and a host that keeps names as UTF-8 counts bytes.
    const size_t extra = folder.size() + 1 + 4;
    if (extra >= MAX_PATH - 1) return {};
    const size_t room = std::min<size_t>(MAX_PATH - 1 - extra, 255 - 4);
    if (name.size() <= room) return name;
    // A folder that leaves hardly any room gets the bare cut.
    const std::string suffix = room >= 18 ? NameHashSuffix(name) : std::string();
    name.resize(CharacterCut(name, room - suffix.size()));
    // The cut must not leave a device name or a bare dot before the suffix.
    if (IsDeviceName(name + suffix) || name.find_first_not_of(". ") == std::string::npos) {
        name.resize(CharacterCut(name, name.size() - 1));
        name.insert(name.begin(), '_');
    }
    return name + suffix;
}

std::string WriteReportLines(const TStringList& lines, const std::string& fileName) {
    if (FileExists(fileName) && !::DeleteFileA(fileName.c_str()))
        return "Cannot replace " + fileName + ": " + SysErrorMessage(::GetLastError());
    try {
        // In one write: a report with a line per file left out cost a call
        // to the system per line.
        lines.SaveToFile(fileName);
    } catch (const std::exception& e) {
        // A report cut short (a full drive) is not left looking like one:
        // the report goes elsewhere, and the report says where.
        ::DeleteFileA(fileName.c_str());
        return e.what();
    }
    return {};
}

std::string UserTempFolder() {
    char buffer[MAX_PATH + 1] = {};
    DWORD n = ::GetTempPathA(sizeof buffer, buffer);
    if (n == 0 || n > MAX_PATH) return {};
    return ExcludeTrailingBackslash(buffer);
}

namespace {
// The temp folder, made again when it went missing; false when it cannot be had.
bool EnsureReportFolder(const std::string& dir, const std::string& tempDir, std::string& problems) {
    if (!dir.empty() && DirectoryExists(dir)) return true;
    if (dir.empty() || !ForceDirectories(dir)) {
        problems += KV_Report_TempFolder + " \"" + tempDir + "\" " + KV_Report_TempNotMade + " ";
        return false;
    }
    problems += KV_Report_TempFolder + " \"" + tempDir + "\" " + KV_Report_TempMadeAgain + " ";
    return true;
}

// The system's reasons end with a full stop; the line adds its own.
std::string WithoutFullStop(std::string text) {
    text = TrimRight(text);
    while (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}
}

std::string ClaimReportName(const std::string& tempDir, const std::string& sessionName, FileHandle& hold) {
    hold.reset();
    const std::string dir = ExcludeTrailingBackslash(tempDir);
    const std::string name = ReportBaseName(sessionName, dir);
    if (name.empty()) return {};
    // Held open without write sharing until the run saves its report: a
    // second run of the session at the same time cannot open it and takes
    // the next name, so neither overwrites the other's report.
    for (int n = 0; n < 100; ++n) {
        const std::string candidate = n == 0 ? name : name + "_" + std::to_string(n);
        if (dir.size() + 1 + candidate.size() + 4 >= MAX_PATH || candidate.size() + 4 > 255) break;
        hold.reset(::CreateFileA((dir + "\\" + candidate + ".log").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (hold) return candidate;
        if (::GetLastError() != ERROR_SHARING_VIOLATION) break;
    }
    return {};
}

ReportSaveResult SaveReportFile(const TStringList& lines, const std::string& tempDir, const std::string& sessionName,
                                const std::string& fallbackDir, const std::string& claimedName) {
    ReportSaveResult result;
    if (CleanFileName(sessionName) != sessionName) result.Problems = KV_Report_BadChars + " ";
    const std::string dir = ExcludeTrailingBackslash(tempDir);
    // A name taken while another run of the session held the usual one is
    // what this run wanted: its report says so in its first line.
    const bool otherName = !claimedName.empty() && claimedName != ReportBaseName(sessionName, dir);
    const std::string wanted = dir + "\\" + (otherName ? claimedName : sessionName) + ".log";
    std::string error;
    if (EnsureReportFolder(dir, tempDir, result.Problems)) {
        const std::string name = claimedName.empty() ? ReportBaseName(sessionName, dir) : claimedName;
        result.FileName = dir + "\\" + name + ".log";
        error = name.empty() && !sessionName.empty() ? KV_Report_TempPathTooLong : WriteReportLines(lines, result.FileName);
        result.Saved = error.empty();
    } else {
        result.FileName = wanted;
    }
    const std::string fallback = ExcludeTrailingBackslash(fallbackDir);
    if (!result.Saved && !fallback.empty() && !SameText(fallback, dir)) {
        const std::string name = ReportBaseName(sessionName, fallback);
        const std::string file = fallback + "\\" + name + ".log";
        if ((!name.empty() || sessionName.empty()) && WriteReportLines(lines, file).empty()) {
            result.FileName = file;
            result.Saved = true;
        }
    }
    if (result.FileName != wanted || !result.Saved) {
        result.Problems += KV_Report_NotSaved + wanted + (error.empty() ? "" : ": " + WithoutFullStop(error)) + ".";
        if (result.Saved) result.Problems += " " + KV_Report_SavedAs + result.FileName;
    }
    result.Problems = TrimRight(result.Problems);
    return result;
}

} // namespace krv
