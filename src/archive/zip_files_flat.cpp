#include "archive/zip_files_flat.h"

#include "archive/build.h"
#include "select/collect.h"
#include "select/file_pattern.h"
#include "sys/files.h"
#include "sys/walk.h"

namespace kelzar {

namespace {

// The files the listing of the pattern yields, opened from the folder the
// listing searched (by its full path, which keeps the names that end in a
// dot or a space as they are) and stored under the name it yielded. A listing that
// broke off part-way goes to the report as well.
std::vector<FileToAdd> ListFlatFiles(const FilePattern& pattern, RunReport& report,
                                     bool& incomplete) {
    std::vector<FileToAdd> files;
    sys::Listing listing = ListMatchingEntries(pattern.folder, pattern.name);
    incomplete = listing.failure.has_value();
    if (listing.failure) {
        report.Add(*listing.failure);
    }
    Result<std::string> full = sys::FullFolderPath(pattern.folder);
    const std::string& folder = full ? *full : pattern.folder;
    for (sys::DirEntry& entry : listing.entries) {
        if (entry.IsDotEntry() ||
            entry.Has(sys::kAttributeDirectory | sys::kAttributeHidden | sys::kAttributeSystem)) {
            continue;
        }
        std::string path = folder + entry.name;
        files.push_back(FileToAdd{std::move(path), entry.name, entry.name, entry.lastWriteUtc});
    }
    return files;
}

} // namespace

int ZipFilesFlat(const std::string& zipfilePath, const std::string& filesToZip, RunReport& report) {
    // Claimed first, so that the listing sees what an earlier run on the same
    // archive left, and no leftover temporary of a killed run.
    auto target = ArchiveTarget::Claim(zipfilePath, report);
    if (!target) {
        return 0;
    }
    bool incomplete = false;
    std::vector<FileToAdd> files = ListFlatFiles(ParseFilePattern(filesToZip), report, incomplete);
    if (files.empty()) {
        report.Add("find a file that matches", filesToZip);
        return 0;
    }
    // Files the listing did not reach may belong in the archive: the others
    // are stored, and the run reports the gap.
    BuildResult result = BuildArchive(*target, files, nullptr);
    return result.inPlace && result.allAdded && !incomplete ? result.added : 0;
}

} // namespace kelzar
