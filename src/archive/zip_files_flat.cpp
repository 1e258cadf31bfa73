#include "archive/zip_files_flat.h"

#include "archive/build.h"
#include "select/path.h"
#include "win32/system.h"

namespace kelzar {

namespace {

// The files the listing of the pattern yields, opened from the folder the
// listing searched and stored under the name it yielded.
std::vector<FileToAdd> ListFlatFiles(const std::string& filesToZip) {
    const std::string folder = GetListingFolder(filesToZip);
    std::vector<FileToAdd> files;
    for (const sys::DirEntry& entry : sys::FindEntries(CompleteListingPattern(filesToZip))) {
        if (entry.IsDotEntry() ||
            entry.Has(sys::kAttributeDirectory | sys::kAttributeHidden | sys::kAttributeSystem)) {
            continue;
        }
        files.push_back(FileToAdd{folder + entry.name, entry.name});
    }
    return files;
}

} // namespace

int ZipFilesFlat(const std::string& zipfilePath, const std::string& filesToZip) {
    // Claimed first, so that the listing sees what an earlier run on the same
    // archive left, and no leftover temporary of a killed run.
    auto target = ArchiveTarget::Claim(zipfilePath);
    if (!target) {
        return 0;
    }
    std::vector<FileToAdd> files = ListFlatFiles(filesToZip);
    if (files.empty()) {
        return 0;
    }
    BuildResult result = BuildArchive(*target, files, nullptr);
    return result.inPlace && result.allAdded ? result.added : 0;
}

} // namespace kelzar
