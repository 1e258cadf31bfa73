// The written-entry records as the program keeps them, from entries as a
// test states or changes them, and back.
#pragma once

#include "archive/written_entries.h"

#include <cstddef>
#include <vector>

namespace kelzar::testing {

WrittenEntries Packed(const std::vector<WrittenEntry>& entries);
// The entries from the `first`th on.
std::vector<WrittenEntry> Unpacked(const WrittenEntries& packed, std::size_t first = 0);

} // namespace kelzar::testing
