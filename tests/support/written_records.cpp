#include "written_records.h"

namespace kelzar::testing {

WrittenEntries Packed(const std::vector<WrittenEntry>& entries) {
    WrittenEntries packed;
    for (const WrittenEntry& entry : entries) {
        packed.Add(entry);
    }
    return packed;
}

std::vector<WrittenEntry> Unpacked(const WrittenEntries& packed, std::size_t first) {
    std::vector<WrittenEntry> entries;
    WrittenEntries::Reader reader = packed.From(first);
    while (const WrittenEntry* entry = reader.Next()) {
        entries.push_back(*entry);
    }
    return entries;
}

} // namespace kelzar::testing
