#include "archive/zip_files_flat.h"

#include "archive/build.h"
#include "select/selection.h"

namespace kelzar {

int ZipFilesFlat(const std::string& zipfilePath, const std::string& filesToZip, RunReport& report) {
    // Claimed first, so that the listing sees what an earlier run on the same
    // archive left, and no leftover temporary of a killed run.
    auto target = ArchiveTarget::Claim(zipfilePath, report);
    if (!target) {
        return 0;
    }
    FlatSelection selection = SelectFlat(filesToZip);
    for (const Failure& gap : selection.gaps) {
        report.Add(gap);
    }
    if (selection.files.empty()) {
        report.Add("find a file that matches", filesToZip);
        return 0;
    }
    // Files the listing did not reach may belong in the archive: the others
    // are stored, and the run reports the gap.
    BuildResult result = BuildArchive(*target, selection.files, nullptr);
    return result.inPlace && result.allAdded && selection.gaps.empty() ? result.added : 0;
}

} // namespace kelzar
