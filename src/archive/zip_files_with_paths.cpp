#include "archive/zip_files_with_paths.h"

#include "archive/build.h"
#include "archive/carry_over.h"
#include "driver/command_line.h"
#include "select/collect.h"
#include "select/path.h"
#include "win32/system.h"
#include "win32/zip_files.h"

#include <algorithm>

namespace kelzar {

namespace {

// Hidden and system files are listed by the walk but never archived, and
// leaving them out is no failure. A path that is not found again (the file
// vanished, or the path is too long for the ANSI interface) stays in the
// list: opening it fails, and the run reports that.
bool IsHiddenOrSystem(const std::string& path) {
    std::vector<sys::DirEntry> found = sys::FindEntries(path);
    return !found.empty() &&
           std::all_of(found.begin(), found.end(), [](const sys::DirEntry& entry) {
               return entry.Has(sys::kAttributeDirectory | sys::kAttributeHidden |
                                sys::kAttributeSystem);
           });
}

std::vector<FileToAdd> CollectFilesToAdd(const std::string& filesToZip, bool& incomplete) {
    FileList list;
    CollectFiles(GetDirectoryPart(filesToZip), GetBaseName(filesToZip), list,
                 GetExtension(filesToZip));
    incomplete = list.incomplete;
    std::vector<FileToAdd> files;
    for (const std::string& record : list.records) {
        std::string path = TrimSpaces(SplitFields(record, '\t').front());
        if (!path.empty() && !IsHiddenOrSystem(path)) {
            files.push_back(FileToAdd{path, StripDriveAndLeadingBackslashes(path)});
        }
    }
    return files;
}

struct UnzCloser {
    void operator()(void* archive) const { unzClose(archive); }
};
using SourceArchive = std::unique_ptr<void, UnzCloser>;

// Carries the archive's entries over, holding it open only meanwhile: an
// archive still open could not be replaced by the new one.
bool CarryOverFrom(const std::string& zipfilePath, ZipWriter& writer) {
    SourceArchive source(sys::OpenZipFile(zipfilePath));
    return source && CarryOverEntries(source.get(), writer);
}

} // namespace

int ZipFilesWithPaths(const std::string& zipfilePath, const std::string& filesToZip) {
    // Claimed first, so that the walk sees what an earlier run on the same
    // archive left, and no leftover temporary of a killed run.
    auto target = ArchiveTarget::Claim(zipfilePath);
    if (!target) {
        return 0;
    }
    bool walkIncomplete = false;
    std::vector<FileToAdd> files = CollectFilesToAdd(filesToZip, walkIncomplete);
    if (files.empty()) {
        return 0;
    }
    // A file that is there but is no archive minizip can read is never
    // replaced: it may be something the user wants to keep.
    CarryOver carryOver;
    if (target->Exists()) {
        if (!SourceArchive(sys::OpenZipFile(zipfilePath))) {
            return 0;
        }
        carryOver = [&](ZipWriter& writer) { return CarryOverFrom(zipfilePath, writer); };
    }
    // A folder the walk could not search may hold files that belong in the
    // archive: the others are added, and the run reports the gap.
    BuildResult result = BuildArchive(*target, files, carryOver);
    return result.inPlace && result.allAdded && !walkIncomplete ? result.added : 0;
}

} // namespace kelzar
