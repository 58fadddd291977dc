// The files of the archive a run writes. Every archive is written under a
// temporary name ("~kvXXXX.tmp", its volumes "~kvXXXX.Z01"...) in its own
// folder and takes its real name only when the run has succeeded, so a run
// that is killed never leaves a cut-off file under a backup's name; a later
// run into that folder removes what such a run left.
#pragma once
#include "app/ConsoleForm.h"
#include <string>
#include <vector>

namespace krv {

// A new, unused file in folder ("~kvXXXX.tmp", made empty here, reached
// through the wide calls where its path needs them; give a drive's root
// with its backslash);
// empty on failure, with the system error left in GetLastError.
std::string TemporaryArchiveName(const std::string& folder);

// True for a file name that TemporaryArchiveName gives ("~kv", one to four
// hex digits, ".tmp"; any case).
bool IsTemporaryArchiveName(const std::string& fileName);

// Volume n (1 for ".Z01") of a split archive, named from the archive's name.
std::string ArchiveVolume(const std::string& archive, int n);
// The volumes of archive that exist, from ".Z01" up to the first gap.
std::vector<std::string> ArchiveVolumes(const std::string& archive);

// True when an archive can be written beside a temporary name and renamed to
// path: the whole path shorter than MAX_PATH, the file name at most 255 as
// the file system counts (UTF-16 units; under Wine, bytes of UTF-8), and the
// folder short enough for a temporary name in it.
bool ArchivePathFits(const std::string& path);

// Removes the temporary archives of this program's naming, and their volumes,
// that a stopped or killed run left in folder, logging each file removed.
// An archive of which a running program holds a file open (a hard disk's
// archive, a disc's last volume) is left alone; any other failure is a red
// line. Returns the number of files removed.
int RemoveStaleTemporaryArchives(const std::string& folder, const TLogCall& log);

// Deletes an unfinished archive and its volumes; a failure is a red line.
void DeleteArchiveFiles(const std::string& archive, const TLogCall& log);
// False, with a box when a person is there and a red line always, for a
// path too long to write the archive under (ArchivePathFits).
bool ArchivePathUsable(const std::string& path, const TLogCall& log);
// The first free name from name on ("X.zip", "X_1.zip", "X_1_2.zip"...,
// the number before the file name's own extension: "backup_1", "data_1.7z");
// empty when every candidate is taken or the next one would be too long for
// a file name or a path (the user has been told which, and the name).
std::string FindFreeArchiveName(const std::string& name, const TLogCall& log);
// The free name taken instead of a read-only archive that "Overwrite" would
// replace, both said in the report; empty when there is none.
std::string NameBesideReadOnly(const std::string& archive, const TLogCall& log);

} // namespace krv
