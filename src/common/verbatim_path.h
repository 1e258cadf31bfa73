// When a path must reach the system in its "\\?\" form to name the file it
// spells. Without that form the system trims the dots and spaces that end a
// component ("a." opens "a", "b " opens "b"), and such names are legal on
// NTFS: a file a listing yields under such a name could not be opened by
// it, or another file would be opened instead.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kelzar {

// The "\\?\" form ("\\?\UNC\server\share\..." for a share) of a full path
// with "\" separators and no "." or ".." components, when one of its
// components ends in a dot or a space; nothing otherwise (also for a path
// that is relative, has "/", or is already in that form, which the system
// then reads by its own rules). A last component that holds a wildcard is
// a search pattern, whose dots the search reads itself: it does not count.
std::optional<std::u16string> VerbatimForm(std::u16string_view path);

} // namespace kelzar
