// Lists the files that match a name pattern in a folder and in all of its
// subfolders that are not hidden.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelzar {

// Records of TAB-separated fields: full path, folder, size as the listing
// shows it, local last-write date and time. Grows geometrically.
struct FileList {
    std::vector<std::string> records;
    // Some folder of the walk could not be searched: files may be missing.
    bool incomplete = false;
    int Count() const { return static_cast<int>(records.size()); }
};

// The listing record of one file.
std::string BuildFileRecord(const std::string& folder, const std::string& name, std::uint64_t size,
                            const std::string& lastWrite);

// Adds to `list` every file (hidden and system ones too) matching
// name + "." + extension in `folder`, then walks each visible subfolder the
// same way. The folder is first cut back to end in "\"; one without any
// "\" is the working directory.
void CollectFiles(const std::string& folder, const std::string& name, FileList& list,
                  const std::string& extension);

} // namespace kelzar
