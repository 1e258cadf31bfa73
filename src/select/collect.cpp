#include "select/collect.h"

#include "select/path.h"
#include "win32/system.h"

namespace kelzar {

std::string BuildFileRecord(const std::string& folder, const std::string& name, std::uint64_t size,
                            const std::string& lastWrite) {
    return folder + name + '\t' + folder + '\t' + FormatSizeField(size) + '\t' + lastWrite;
}

void CollectFiles(const std::string& folder, const std::string& name, FileList& list,
                  const std::string& extension) {
    const std::string base = GetDirectoryPart(folder);
    bool searchFailed = false;
    for (const sys::DirEntry& entry :
         sys::FindEntries(base + name + "." + extension, &searchFailed)) {
        if (!entry.Has(sys::kAttributeDirectory)) {
            list.records.push_back(BuildFileRecord(base, entry.name, entry.size,
                                                   sys::FormatFileTime(entry.lastWriteUtc)));
        }
    }
    list.incomplete = list.incomplete || searchFailed;
    for (const sys::DirEntry& entry : sys::FindEntries(base + "*")) {
        if (entry.Has(sys::kAttributeDirectory) && !entry.Has(sys::kAttributeHidden) &&
            !entry.IsDotEntry()) {
            CollectFiles(base + entry.name + "\\", name, list, extension);
        }
    }
}

} // namespace kelzar
