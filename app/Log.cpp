#include "app/Log.h"
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

ReportSaveResult SaveReportFile(const TStringList& lines, const std::string& tempDir, const std::string& sessionName) {
    ReportSaveResult result;
    std::string name = CleanFileName(sessionName);
    if (name != sessionName) result.Problems = "The session name holds characters not allowed in a file name; saved as \"" + name + ".log\". ";
    std::string dir = ExcludeTrailingBackslash(tempDir);
    if (dir.empty() || !DirectoryExists(dir)) {
        if (dir.empty() || !ForceDirectories(dir)) {
            result.FileName = dir + "/" + name + ".log";
            result.Problems += "The temp folder \"" + tempDir + "\" does not exist and cannot be created.";
            return result;
        }
        result.Problems += "The temp folder \"" + tempDir + "\" was missing and has been created again. ";
    }
    result.FileName = dir + "/" + name + ".log";
    try {
        if (FileExists(result.FileName) && !::DeleteFileA(result.FileName.c_str()))
            throw Exception("Cannot replace " + result.FileName + ": " + SysErrorMessage(::GetLastError()));
        TFileStream out(result.FileName, fmCreate);
        for (int i = 0; i < lines.Count(); ++i) {
            std::string line = lines[i] + "\r\n";
            out.WriteBuffer(line.data(), line.size());
        }
        result.Saved = true;
    } catch (const std::exception& e) {
        result.Problems += e.what();
    }
    result.Problems = TrimRight(result.Problems);
    return result;
}

} // namespace krv
