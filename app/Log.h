// The log call's rules: which lines reach the report and which the log panel,
// in which colour; the size formatter of the size labels; and the report
// file, whose saving never throws out of a run.
#pragma once
#include "framework/Graphics.h"
#include "framework/Handle.h"
#include <cstdint>
#include <string>

namespace krv {

class TStringList;

// The lines the log panel keeps (the last ones; the report keeps them all).
constexpr int kLogPanelLines = 1000;

// Colour codes of the log call.
enum LogColour { lcBlack = 0, lcRed = 1, lcBlue = 2 };
// Kinds: normal lines, detail lines (hidden when black), debug lines.
enum LogKind { lkNormal = 0, lkDetail = 1, lkDebug = 2 };

struct LogRoute {
    bool ToReport;
    bool ToPanel;
    TColor Color;
};

// The report takes a line when reportLevel >= level; the panel shows it
// unless it is a debug line, or a black detail line, while debug is off.
LogRoute RouteLogLine(int reportLevel, bool debug, int colour, int level, int kind);
// 0 black, 1 red, 2 blue; anything else black.
TColor LogColourValue(int colour);

// "n bytes" below 1024, else KB, MB or GB, right-aligned in 8 characters
// with two decimals and the locale's decimal separator.
std::string FormatSize(int64_t bytes);

// A session name made fit for a file name: characters Windows refuses in file
// names (and control characters) become "_".
std::string CleanFileName(const std::string& name);
// CON, NUL, COM1... (also with an extension): names Windows opens as a
// device; the one rule for report and archive file names.
bool IsDeviceName(const std::string& name);
// The report file's name (without ".log") for a session: cleaned, kept off the
// device names, and cut so that folder + "/" + name + ".log" fits a path.
// Empty when the folder leaves no room.
std::string ReportBaseName(const std::string& sessionName, const std::string& folder);

struct ReportSaveResult {
    bool Saved = false;
    std::string FileName;   // the file written (or tried)
    std::string Problems;   // what had to be mended or why it failed
};

// Writes the report lines to tempDir + "/" + sessionName + ".log", replacing
// an older file. A missing temp folder is created again; a name that is no
// usable file name is mended; when the temp folder cannot take the file, it
// goes to fallbackDir (the user's temp folder) and Problems says where.
// Never throws: failures come back in the result.
// claimedName: the name ClaimReportName gave this run (empty: the usual one).
ReportSaveResult SaveReportFile(const TStringList& lines, const std::string& tempDir, const std::string& sessionName,
                                const std::string& fallbackDir = {}, const std::string& claimedName = {});
// Takes the report's file name in the temp folder for a run and holds the
// file open (in hold) until the report is saved: the usual name, or, while
// another run of the session holds that, name_1, name_2... Empty when no
// name could be had (the save then tries the usual way).
std::string ClaimReportName(const std::string& tempDir, const std::string& sessionName, FileHandle& hold);
// Writes the lines to fileName, replacing it; the error text, or empty.
std::string WriteReportLines(const TStringList& lines, const std::string& fileName);
// The user's temp folder, without a trailing separator (empty when unknown).
std::string UserTempFolder();

} // namespace krv
