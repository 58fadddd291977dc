// Rules for the archive's file name, typed by the user, read from a session
// file or given on the command line.
#pragma once
#include <string>

namespace krv {

// Appends ".zip" unless the first ".zip" in the name ends it. The test is
// case-sensitive: "Data.ZIP" becomes "Data.ZIP.zip".
std::string WithZipExtension(const std::string& name);

// True when the name is a plain file name that stays inside the destination
// folder: not empty, none of \ | / * ? : < > " or control characters (so no
// drive, absolute path or "..\"), not a device name such as "NUL.zip", not
// made of dots only.
bool IsValidArchiveFileName(const std::string& name);
// Why such a name is refused, for a name IsValidArchiveFileName refuses: a
// device name is told as one; otherwise the wrong-character text, its two
// sentences joined by separator.
std::string ArchiveNameRefusal(const std::string& name, const std::string& separator);

} // namespace krv
