#include "archive/zip_files_with_paths.h"

#include "archive/build.h"
#include "archive/carry_over.h"
#include "driver/command_line.h"
#include "select/collect.h"
#include "select/path.h"
#include "win32/system.h"
#include "win32/zip_files.h"

namespace kelzar {

namespace {

// A collected path is added when it still names a visible file: hidden and
// system files are listed by the walk but never archived.
bool IsVisibleFile(const std::string& path) {
    for (const sys::DirEntry& entry : sys::FindEntries(path)) {
        if (!entry.Has(sys::kAttributeDirectory | sys::kAttributeHidden | sys::kAttributeSystem)) {
            return true;
        }
    }
    return false;
}

std::vector<FileToAdd> CollectFilesToAdd(const std::string& filesToZip) {
    FileList list;
    CollectFiles(GetDirectoryPart(filesToZip), GetBaseName(filesToZip), list,
                 GetExtension(filesToZip));
    std::vector<FileToAdd> files;
    for (const std::string& record : list.records) {
        std::string path = TrimSpaces(SplitFields(record, '\t').front());
        if (!path.empty() && IsVisibleFile(path)) {
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
    std::vector<FileToAdd> files = CollectFilesToAdd(filesToZip);
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
    BuildResult result = BuildArchive(*target, files, carryOver);
    return result.inPlace && result.allAdded ? result.added : 0;
}

} // namespace kelzar
