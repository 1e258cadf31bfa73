#include "select/collect.h"

#include "select/path.h"
#include "select/wildcard.h"
#include "sys/files.h"
#include "sys/text.h"
#include "sys/walk.h"

#include <algorithm>

namespace kelzar {

namespace {

// A folder on the walk's current path. Its index on its volume is cheap to
// have; the whole identity is asked only when two indexes agree.
struct OnPath {
    std::string folder;
    std::uint64_t index = 0;
};

class Walk {
  public:
    Walk(const std::string& namePattern, FileList& list,
         const std::function<void(const CollectedFile&)>& found)
        : filter_(namePattern), list_(list), found_(found),
          matchesAll_(namePattern == "*" || namePattern == "*.*") {}

    void Visit(const std::string& folder) {
        // Where the folder is already on the current path (a link leading
        // back up), walking it again would repeat the walk without end. A
        // folder whose identity cannot be read cannot be told from one on
        // the path: it is not walked, and its files are a gap.
        Result<std::uint64_t> index = sys::GetFileIndex(folder);
        if (!index) {
            list_.gaps.push_back(index.Why());
            return;
        }
        Result<bool> onPath = IsOnPath(folder, *index);
        if (!onPath) {
            list_.gaps.push_back(onPath.Why());
            return;
        }
        if (*onPath) {
            return;
        }
        path_.push_back(OnPath{folder, *index});
        if (matchesAll_) {
            // One listing serves for the files and the subfolders.
            sys::Listing listing = sys::ListEntries(folder + "*");
            NoteGap(listing);
            AddFiles(folder, listing);
            VisitSubfolders(folder, listing);
        } else {
            sys::Listing files = filter_.ListIn(folder);
            NoteGap(files);
            AddFiles(folder, files);
            sys::Listing all = sys::ListEntries(folder + "*");
            NoteGap(all);
            VisitSubfolders(folder, all);
        }
        path_.pop_back();
    }

  private:
    Result<bool> IsOnPath(const std::string& folder, std::uint64_t index) const {
        for (const OnPath& on : path_) {
            if (on.index != index) {
                continue;
            }
            Result<sys::FileId> mine = sys::GetFileId(folder);
            if (!mine) {
                return mine.Why();
            }
            Result<sys::FileId> theirs = sys::GetFileId(on.folder);
            if (!theirs) {
                return theirs.Why();
            }
            if (*mine == *theirs) {
                return true;
            }
        }
        return false;
    }

    void NoteGap(const sys::Listing& listing) {
        if (listing.failure) {
            list_.gaps.push_back(*listing.failure);
        }
    }

    void AddFiles(const std::string& folder, sys::Listing& listing) {
        for (sys::DirEntry& entry : listing.entries) {
            if (entry.Has(sys::kAttributeDirectory)) {
                continue;
            }
            // Only the subfolders' names are read after this.
            CollectedFile file{folder, std::move(entry.name), entry.attributes, entry.size,
                               entry.lastWriteUtc};
            if (found_) {
                found_(file);
            } else {
                list_.files.push_back(std::move(file));
            }
        }
    }

    void VisitSubfolders(const std::string& folder, const sys::Listing& listing) {
        for (const sys::DirEntry& entry : listing.entries) {
            if (entry.Has(sys::kAttributeDirectory) && !entry.Has(sys::kAttributeHidden) &&
                !entry.IsDotEntry()) {
                Visit(folder + entry.name + "\\");
            }
        }
    }

    const NameFilter filter_;
    FileList& list_;
    const std::function<void(const CollectedFile&)>& found_;
    const bool matchesAll_;
    std::vector<OnPath> path_; // the folders from the top to the one being walked
};

} // namespace

NameFilter::NameFilter(std::string namePattern)
    : pattern_(std::move(namePattern)), wildcards_(HasWildcards(pattern_)),
      upperPattern_(wildcards_ ? sys::UpperCase(pattern_) : std::string()) {}

sys::Listing NameFilter::ListIn(const std::string& folder) const {
    sys::Listing listing = sys::ListEntries(folder + pattern_);
    if (wildcards_) {
        std::erase_if(listing.entries, [&](const sys::DirEntry& entry) {
            return !MatchesWildcard(upperPattern_, sys::UpperCase(entry.name));
        });
    }
    return listing;
}

sys::Listing ListMatchingEntries(const std::string& folder, const std::string& namePattern) {
    return NameFilter(namePattern).ListIn(folder);
}

std::string BuildFileRecord(const std::string& folder, const std::string& name, std::uint64_t size,
                            const std::string& lastWrite) {
    return folder + name + '\t' + folder + '\t' + FormatSizeField(size) + '\t' + lastWrite;
}

std::string FileList::Record(std::size_t i) const {
    const CollectedFile& file = files[i];
    return BuildFileRecord(file.folder, file.name, file.size,
                           sys::FormatFileTime(file.lastWriteUtc));
}

void CollectFiles(const FilePattern& pattern, FileList& list) {
    CollectFiles(pattern, list, nullptr);
}

void CollectFiles(const FilePattern& pattern, FileList& list,
                  const std::function<void(const CollectedFile&)>& found) {
    Walk(pattern.name, list, found).Visit(pattern.folder);
}

} // namespace kelzar
