// Helpers of the bench programs that drive the archiver.
#pragma once
#include "zip/ZipArchiver.h"
#include <string>

namespace bench {

// Sets zip up to archive the files below folder with their subfolders,
// stored by their paths relative to it.
inline void ArchiveFolder(krv::TZipArchiver& zip, const std::string& archive, const std::string& folder, int level) {
    zip.SetCompressionMode(level);
    zip.FileName = archive;
    zip.BaseDir = folder;
    zip.Options.StorePath = krv::spRelativePath;
    zip.Options.Recurse = true;
}

// One update of the open archive with every file the folder holds.
inline void AddEverything(krv::TZipArchiver& zip) {
    zip.BeginUpdate();
    zip.FileMasks().Add("*.*");
    zip.AddFiles();
    zip.EndUpdate();
}

} // namespace bench
