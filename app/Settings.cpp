#include "app/Settings.h"
#include "framework/IniFiles.h"

namespace krv {

namespace {
const char* const kSection = "KRV";
}

std::string SettingsFileName(const std::string& appDir) { return appDir + "\\" + "Korvane.ini"; }

TSettings ReadSettings(const std::string& fileName) {
    TIniFile ini(fileName);
    TSettings s;
    s.TempDir = ini.ReadString(kSection, "TempDir", s.TempDir);
    s.ExSubDir = ini.ReadBool(kSection, "ExSubDir", s.ExSubDir);
    s.Log = ini.ReadBool(kSection, "Log", s.Log);
    s.SaveLog = ini.ReadBool(kSection, "SaveLog", s.SaveLog);
    s.UpdateSize = ini.ReadBool(kSection, "UpdateSize", s.UpdateSize);
    s.ViewLogPanel = ini.ReadBool(kSection, "ViewLogPanel", s.ViewLogPanel);
    s.Lang = ini.ReadString(kSection, "Lang", s.Lang);
    s.IgnoreDiskSpace = ini.ReadBool(kSection, "IgnoreDiskSpace", s.IgnoreDiskSpace);
    s.LogLevel = ini.ReadInteger(kSection, "LogLevel", s.LogLevel);
    return s;
}

void WriteSettings(const std::string& fileName, const TSettings& s) {
    TIniFile ini(fileName);
    ini.WriteString(kSection, "TempDir", s.TempDir);
    ini.WriteBool(kSection, "ExSubDir", s.ExSubDir);
    ini.WriteBool(kSection, "Log", s.Log);
    ini.WriteBool(kSection, "SaveLog", s.SaveLog);
    ini.WriteBool(kSection, "UpdateSize", s.UpdateSize);
    ini.WriteBool(kSection, "ViewLogPanel", s.ViewLogPanel);
    ini.WriteString(kSection, "Lang", s.Lang);
    ini.WriteBool(kSection, "IgnoreDiskSpace", s.IgnoreDiskSpace);
    ini.WriteInteger(kSection, "LogLevel", s.LogLevel);
}

} // namespace krv
