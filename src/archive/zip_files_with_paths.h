#pragma once

#include "archive/report.h"

#include <string>

namespace kelzar {

// Adds every file matching the pattern in its folder tree to the archive
// under its path less the drive, after the entries the archive already
// holds. Returns the number of files added when every file that exists was
// added and the rebuilt archive is in place, 0 otherwise (the archive is
// then as it was, or holds the files that could be added); what went wrong
// goes to `report`.
int ZipFilesWithPaths(const std::string& zipfilePath, const std::string& filesToZip,
                      RunReport& report);

} // namespace kelzar
