#include "select/collect.h"

#include "select/path.h"
#include "win32/system.h"

#include <algorithm>

namespace kelzar {

namespace {

class Walk {
  public:
    Walk(const std::string& namePattern, FileList& list) : namePattern_(namePattern), list_(list) {}

    void Visit(const std::string& folder) {
        // The identity of the folder whatever path reached it: a link back
        // to a folder being walked would repeat the walk without end.
        Result<sys::FileId> id = sys::GetFileId(folder + ".");
        if (id && std::find(path_.begin(), path_.end(), *id) != path_.end()) {
            return;
        }
        if (id) {
            path_.push_back(*id);
        }
        AddFiles(folder);
        VisitSubfolders(folder);
        if (id) {
            path_.pop_back();
        }
    }

  private:
    void NoteGap(const sys::Listing& listing) {
        if (listing.failure) {
            list_.gaps.push_back(*listing.failure);
        }
    }

    void AddFiles(const std::string& folder) {
        sys::Listing listing = sys::ListEntries(folder + namePattern_);
        NoteGap(listing);
        for (sys::DirEntry& entry : listing.entries) {
            if (!entry.Has(sys::kAttributeDirectory)) {
                list_.files.push_back(CollectedFile{folder, std::move(entry.name), entry.attributes,
                                                    entry.size, entry.lastWriteUtc});
            }
        }
    }

    void VisitSubfolders(const std::string& folder) {
        sys::Listing listing = sys::ListEntries(folder + "*");
        NoteGap(listing);
        for (const sys::DirEntry& entry : listing.entries) {
            if (entry.Has(sys::kAttributeDirectory) && !entry.Has(sys::kAttributeHidden) &&
                !entry.IsDotEntry()) {
                Visit(folder + entry.name + "\\");
            }
        }
    }

    const std::string& namePattern_;
    FileList& list_;
    std::vector<sys::FileId> path_; // the folders from the top to the one being walked
};

} // namespace

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
    Walk(pattern.name, list).Visit(pattern.folder);
}

} // namespace kelzar
