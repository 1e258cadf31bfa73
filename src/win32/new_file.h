// Putting a complete file in place under a name that must not be taken over:
// the content goes into a hidden temporary first, which gets the final name
// only once every byte of it is on disk.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kelzar::sys {

// Writes data into a new hidden file named prefix, a unique part and suffix,
// with one write, and returns its name. When the file cannot be created or
// not all of data reaches it, nothing is left behind and nothing returned.
std::optional<std::string> WriteUniqueFile(const std::string& prefix, const std::string& suffix,
                                           std::string_view data);

// Gives the file the name to, only when nothing stands under that name yet
// (in any letter case); false when something does or the move failed.
bool MoveToFreeName(const std::string& from, const std::string& to);

} // namespace kelzar::sys
