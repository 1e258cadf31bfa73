// Folder listings: what the system's directory search reports.
#pragma once

#include "common/result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kelzar::sys {

struct DirEntry {
    std::string name;
    std::uint32_t attributes = 0; // the kAttribute* bits of sys/files.h
    std::uint64_t size = 0;
    std::uint64_t lastWriteUtc = 0; // FILETIME as one number

    bool Has(std::uint32_t attribute) const { return (attributes & attribute) != 0; }
    bool IsDotEntry() const { return name == "." || name == ".."; }
};

struct Listing {
    std::vector<DirEntry> entries; // in the order the system lists them
    // Set when the folder could not be searched (missing names aside: a
    // folder that does not exist, no access, a broken path), or the search
    // broke off part-way: entries may be missing.
    std::optional<Failure> failure;
};

// What the system's directory search reports for a pattern whose last
// component may hold "*" and "?".
Listing ListEntries(const std::string& pattern);

} // namespace kelzar::sys
