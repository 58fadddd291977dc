// The shell shortcut (.lnk) that starts the program with a session file, so
// that opening it (or a scheduler starting it) runs the session unattended.
#pragma once
#include <string>

namespace krv {

struct TSessionLinkRequest {
    std::string AppDir;        // the program's folder, with its trailing "\"
    std::string SessionFile;   // the session's file, as last loaded or saved
    std::string DestFolder;    // where the shortcut goes
    std::string LinkName;      // without ".lnk"
    std::string ArchiveName;   // optional: passed as the second argument
};

// destination folder + "\" (only when it lacks one) + link name + ".lnk"
std::string SessionLinkFileName(const std::string& destFolder, const std::string& linkName);
// "\"session\"", then " \"archive\"" when an archive name is given.
std::string SessionLinkArguments(const std::string& sessionFile, const std::string& archiveName);

// Writes the shortcut through the shell's link object: target
// AppDir + "korvane.exe", working folder AppDir, icon the program's own
// (index 0), normal window. False, with the reason in `error`, when the link
// object cannot be made or the file cannot be written.
bool WriteSessionLink(const TSessionLinkRequest& request, std::string* error = nullptr);

} // namespace krv
