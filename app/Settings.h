// The program-wide settings kept in Korvane.ini beside the program (section
// "KRV"). The Options dialog that edits them lives elsewhere; this is only
// the file.
#pragma once
#include <string>

namespace krv {

struct TSettings {
    std::string TempDir;
    bool ExSubDir = false;
    bool Log = false;            // "High level debug": debug lines reach the log panel
    bool SaveLog = true;
    bool UpdateSize = false;
    bool ViewLogPanel = true;
    std::string Lang;            // full path of the language file; empty: English
    bool IgnoreDiskSpace = false;
    int LogLevel = 1;
};

// AppDir + "\" + "Korvane.ini" (AppDir ends with "\"; Windows accepts the doubled separator).
std::string SettingsFileName(const std::string& appDir);
TSettings ReadSettings(const std::string& fileName);
// Rewrites every key; raises EIniFileException when the file cannot be written.
void WriteSettings(const std::string& fileName, const TSettings& settings);

} // namespace krv
