#include "select/selection.h"

#include "common/text.h"
#include "select/collect.h"
#include "select/file_pattern.h"
#include "select/path.h"
#include "sys/files.h"
#include "sys/walk.h"

namespace kelzar {

namespace {

// Hidden and system files are listed but never archived, and leaving them
// out is no failure.
constexpr std::uint32_t kNeverStored = sys::kAttributeHidden | sys::kAttributeSystem;

// The pattern with its folder made full and long: the walk then yields full
// paths, and a file gets one name however the folder was spelt (relative,
// drive-relative, with "." or "..", an 8.3 alias). A folder the system
// cannot resolve is walked as given, and its listing reports what fails.
FilePattern ResolvedPattern(const std::string& filesToZip) {
    FilePattern pattern = ParseFilePattern(filesToZip);
    if (Result<std::string> full = sys::FullFolderPath(pattern.folder)) {
        pattern.folder = std::move(*full);
    }
    return pattern;
}

} // namespace

FlatSelection SelectFlat(const std::string& filesToZip) {
    const FilePattern pattern = ParseFilePattern(filesToZip);
    FlatSelection selection;
    sys::Listing listing = ListMatchingEntries(pattern.folder, pattern.name);
    if (listing.failure) {
        selection.gaps.push_back(*listing.failure);
    }
    // Opened from the folder the listing searched, by its full path: that
    // keeps names ending in a dot or a space as they are.
    Result<std::string> full = sys::FullFolderPath(pattern.folder);
    const std::string& folder = full ? *full : pattern.folder;
    for (sys::DirEntry& entry : listing.entries) {
        if (entry.IsDotEntry() || entry.Has(sys::kAttributeDirectory | kNeverStored)) {
            continue;
        }
        selection.files.push_back(
            FileToAdd{folder + entry.name, entry.name, entry.name, entry.lastWriteUtc});
    }
    return selection;
}

FileFeed TreeSelection::Feed() {
    return [this](const FileEmitter& emit) { Walk(emit); };
}

void TreeSelection::Walk(const FileEmitter& emit) {
    FileList list;
    std::size_t index = 0;
    CollectFiles(ResolvedPattern(filesToZip_), list, [&](const CollectedFile& file) {
        if ((file.attributes & kNeverStored) != 0) {
            return;
        }
        std::string path = file.Path();
        std::string entryName = EntryNameOfPath(WithBackslashes(path));
        emit(index++,
             FileToAdd{std::move(path), file.name, std::move(entryName), file.lastWriteUtc});
    });
    gaps_ = std::move(list.gaps);
}

} // namespace kelzar
