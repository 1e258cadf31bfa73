#include "common/text.h"

#include <algorithm>
#include <cstdint>

namespace kelzar {

std::vector<std::string> SplitFields(std::string_view text, char delimiter) {
    std::vector<std::string> fields;
    for (;;) {
        std::size_t at = text.find(delimiter);
        fields.emplace_back(text.substr(0, at));
        if (at == std::string_view::npos) {
            return fields;
        }
        text.remove_prefix(at + 1);
    }
}

std::string TrimSpaces(std::string_view text) {
    std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    std::size_t last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

std::string WithBackslashes(std::string_view text) {
    std::string result(text);
    std::replace(result.begin(), result.end(), '/', '\\');
    return result;
}

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string HexDigest(std::string_view text) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (char c : text) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex(16, '0');
    for (int i = 15; i >= 0; --i, hash >>= 4) {
        hex[static_cast<std::size_t>(i)] = kDigits[hash & 0xF];
    }
    return hex;
}

} // namespace kelzar
