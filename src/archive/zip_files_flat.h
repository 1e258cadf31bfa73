#pragma once

#include "archive/report.h"

#include <string>

namespace kelzar {

// Writes every visible file that matches the pattern in one folder into a new
// archive under its bare name. Returns the number of files stored when every
// matching file was stored and the archive is in place, 0 otherwise; what
// went wrong goes to `report`.
int ZipFilesFlat(const std::string& zipfilePath, const std::string& filesToZip, RunReport& report);

} // namespace kelzar
