#include "provision/provision.h"

#include "provision/library_image.h"
#include "select/path.h"
#include "sys/files.h"
#include "sys/process.h"
#include "sys/walk.h"

#include <algorithm>

namespace kelzar {

namespace {
const char* const kLibraryName = "ZLib.dll";
const char* const kTemporaryMark = ".~kz";
const char* const kTemporarySuffix = ".tmp";

// Writes data into a new hidden file named prefix, a unique part and suffix,
// and returns its name once every byte is on disk. When the file cannot be
// created or not all of data reaches it, nothing is left behind.
std::optional<std::string> WriteUniqueFile(const std::string& prefix, const std::string& suffix,
                                           const std::string& data) {
    auto created = sys::CreateUniqueFile(prefix, suffix, sys::kAttributeHidden);
    if (!created) {
        return std::nullopt;
    }
    auto& [name, file] = *created; // held without sharing until complete
    bool complete = file.WriteAt(0, data.data(), data.size()) && file.FlushToDisk();
    complete = file.Close() && complete;
    if (!complete) {
        sys::RemoveFile(name);
        return std::nullopt;
    }
    return std::move(name);
}

} // namespace

std::string GetLibraryImage() {
    return std::string(reinterpret_cast<const char*>(kLibraryImage), kLibraryImageSize);
}

void ProvisionLibrary() {
    std::string folder = AddTrailingBackslash(GetDirectoryPart(sys::GetExeFilePath()));
    if (folder.empty()) {
        return;
    }
    std::string libraryPath = folder + kLibraryName;

    // The search matches names as the file system does, so zlib.DLL counts.
    // Any file counts, hidden and system ones too: writing over one would
    // corrupt a library someone put there. A folder of that name does not
    // count; the final move then fails and nothing stays behind.
    std::vector<sys::DirEntry> found = sys::ListEntries(libraryPath).entries;
    if (std::any_of(found.begin(), found.end(), [](const sys::DirEntry& entry) {
            return !entry.Has(sys::kAttributeDirectory);
        })) {
        return;
    }

    // Temporaries found now were left by a run that was killed while writing
    // (one still being written is held open without sharing and stays).
    for (const sys::DirEntry& entry :
         sys::ListEntries(libraryPath + kTemporaryMark + "*" + kTemporarySuffix).entries) {
        if (!entry.Has(sys::kAttributeDirectory)) {
            sys::RemoveFile(folder + entry.name);
        }
    }

    // A partly written library would be taken as present by every later
    // start, so the image gets the library's name only once all of it is
    // written.
    std::optional<std::string> temporary =
        WriteUniqueFile(libraryPath + kTemporaryMark, kTemporarySuffix, GetLibraryImage());
    if (!temporary) {
        return;
    }
    // The temporary was hidden so that no run archives it; the library is not.
    sys::SetAttributes(*temporary, 0);
    if (!sys::MoveToFreeName(*temporary, libraryPath)) {
        sys::RemoveFile(*temporary);
    }
}

} // namespace kelzar
