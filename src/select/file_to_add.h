// What a run's selection hands to the archive code: the files to store, as a
// stream, so that finding them can overlap with compressing them and a tree
// of a million files is never held in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kelzar {

struct FileToAdd {
    std::string path;               // where to read the file
    std::string name;               // its own name, as the listing gave it
    std::string entryName;          // the name it gets in the archive (UTF-8)
    std::uint64_t lastWriteUtc = 0; // as the listing gave it (a FILETIME)
};

// Hands the files over in order: `emit(index, file)` for each, where index
// is the selection's own number for the file.
using FileEmitter = std::function<void(std::size_t index, const FileToAdd& file)>;
// Emits every file of the selection. The archive code may run it on a
// thread of its own, and more than once (an archive written again).
using FileFeed = std::function<void(const FileEmitter& emit)>;

} // namespace kelzar
