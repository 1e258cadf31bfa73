// Windows' own wildcard rules, applied to a long file name. The directory
// search matches a pattern against a file's 8.3 alias as well as its long
// name ("*.doc" finds "report.docx" through "REPORT~1.DOC"), so every name a
// listing yields is matched again here, by its long name alone.
#pragma once

#include <string_view>

namespace kelzar {

// Whether `name` matches `pattern` as the directory search reads a pattern:
// "*" is any run of characters; "?" is one character, or none before a dot
// or at the end; "*" before a dot stops at the name's last dot, and a dot
// before a wildcard or at the end also matches the end of a name without
// one ("*." matches the names without an extension, "*.*" every name).
// Both are UTF-8 and compared unit for unit in UTF-16, as the file system
// compares: the caller upper-cases both first.
bool MatchesWildcard(std::string_view pattern, std::string_view name);

} // namespace kelzar
