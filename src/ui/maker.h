// Who made the program and where to reach them: the values the information
// dialog shows in its contact lines and opens from its "Author" link. Kept in
// one place so that they can be changed without touching the dialog.
#pragma once

namespace kelzar::maker {

inline constexpr const char* kName = "Kelzar project";
// Two short lines: their labels are only 60 dialog units wide.
inline constexpr const char* kAddressLine1 = "Made with zlib";
inline constexpr const char* kAddressLine2 = "and minizip";
inline constexpr const char* kEmail = "kelzar@example.org";
inline constexpr const char* kWebSite = "https://example.org/kelzar";

} // namespace kelzar::maker
