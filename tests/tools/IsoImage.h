// A minimal ISO 9660 image writer for the image-maker stand-in: the given
// files in the root folder, with a primary tree (upper-case names) and a
// Joliet tree (the names as given). Files must be below 4 GiB each.
#pragma once
#include <string>
#include <vector>

bool WriteIsoImage(const std::string& imagePath, const std::string& volumeId,
                   const std::vector<std::string>& files, std::string& error);
