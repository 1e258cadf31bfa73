// How a file's name is written into the archive.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kelzar {

struct StoredName {
    std::string bytes;
    std::uint16_t utf8Flag = 0; // 0x800 when the bytes are UTF-8
};

// A name that the system's ANSI code page holds exactly is stored in that
// code page without the UTF-8 flag, as archives always had it and as readers
// of such archives expect; any other name is stored in UTF-8 with the flag
// set. Nothing when the name is not valid Unicode (a lone surrogate), which
// no reader could take.
std::optional<StoredName> EncodeEntryName(const std::string& utf8Name);

} // namespace kelzar
