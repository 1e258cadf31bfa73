// Lists the files that match a name pattern in a folder and in all of its
// subfolders that are not hidden.
#pragma once

#include "common/result.h"
#include "select/file_pattern.h"
#include "sys/walk.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kelzar {

// One file as the walk saw it.
struct CollectedFile {
    std::string folder; // as the walk reached it, ending in a separator (or empty)
    std::string name;
    std::uint32_t attributes = 0;
    std::uint64_t size = 0;
    std::uint64_t lastWriteUtc = 0; // FILETIME as one number

    std::string Path() const { return folder + name; }
};

struct FileList {
    std::vector<CollectedFile> files; // in collection order
    // Each folder of the walk that could not be searched, or whose listing
    // broke off: files may be missing.
    std::vector<Failure> gaps;

    bool Incomplete() const { return !gaps.empty(); }
    int Count() const { return static_cast<int>(files.size()); }
    // The listing record of file i: its full path, folder, size as the
    // listing shows it and local last-write date and time, TAB-separated.
    std::string Record(std::size_t i) const;
};

// What the listing of folder + pattern yields, less the names that the
// system matched only through their 8.3 alias: each name that is kept
// matches the pattern by its long name. A pattern without wildcards names
// one file, as opening it would: that is taken as the system found it. The
// pattern is upper-cased once, for all the folders it lists.
class NameFilter {
  public:
    explicit NameFilter(std::string namePattern);
    sys::Listing ListIn(const std::string& folder) const;

  private:
    std::string pattern_;
    bool wildcards_;
    std::string upperPattern_; // when it has wildcards
};

// The same for one folder.
sys::Listing ListMatchingEntries(const std::string& folder, const std::string& namePattern);

// The listing record of one file.
std::string BuildFileRecord(const std::string& folder, const std::string& name, std::uint64_t size,
                            const std::string& lastWrite);

// Adds to `list` every file (hidden and system ones too) that matches the
// pattern's name in the pattern's folder, then walks each visible subfolder
// the same way, depth first. A folder that is already on the current path
// (a link leading back up) is not entered again; links leading elsewhere are
// followed.
void CollectFiles(const FilePattern& pattern, FileList& list);

// The same, but each file goes to `found` as soon as the walk has it (so
// that what is found can be worked on while the walk goes on) instead of
// into `list`, which gets only the gaps: a tree of a million files is never
// held in memory.
void CollectFiles(const FilePattern& pattern, FileList& list,
                  const std::function<void(const CollectedFile&)>& found);

} // namespace kelzar
