#include "archive/entry_name.h"

#include "common/text.h"
#include "common/utf.h"
#include "sys/text.h"

namespace kelzar {

namespace {
constexpr std::uint16_t kUtf8NameFlag = 0x800;
}

std::optional<StoredName> EncodeEntryName(const std::string& utf8Name) {
    if (IsAscii(utf8Name)) {
        return StoredName{utf8Name, 0};
    }
    if (!IsValidUtf8(utf8Name)) {
        return std::nullopt;
    }
    if (std::optional<std::string> ansi = sys::ToAnsiExactly(utf8Name)) {
        return StoredName{std::move(*ansi), 0};
    }
    return StoredName{utf8Name, kUtf8NameFlag};
}

} // namespace kelzar
