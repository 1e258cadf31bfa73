#include "select/path.h"

namespace kelzar {

std::string GetDirectoryPart(std::string_view path) {
    size_t last = path.rfind('\\');
    return last == std::string_view::npos ? std::string() : std::string(path.substr(0, last + 1));
}

std::string GetFileNamePart(std::string_view path) {
    size_t last = path.find_last_of("\\/");
    return std::string(last == std::string_view::npos ? path : path.substr(last + 1));
}

std::string GetBaseName(std::string_view path) {
    std::string name = GetFileNamePart(path);
    return name.substr(0, name.find('.'));
}

std::string GetExtension(std::string_view path) {
    std::string name = GetFileNamePart(path);
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

std::string AddTrailingBackslash(std::string_view text) {
    std::string result(text);
    if (!result.empty() && result.back() != '\\') {
        result += '\\';
    }
    return result;
}

std::string GetListingFolder(std::string_view pattern) {
    size_t last = pattern.find_last_of("\\/:");
    return last == std::string_view::npos ? std::string()
                                          : std::string(pattern.substr(0, last + 1));
}

std::string StripDriveAndLeadingBackslashes(std::string_view path) {
    size_t colon = path.find(':');
    if (colon != std::string_view::npos) {
        path.remove_prefix(colon + 1);
    }
    size_t first = path.find_first_not_of('\\');
    return first == std::string_view::npos ? std::string() : std::string(path.substr(first));
}

bool HasWildcards(std::string_view path) {
    return path.find_first_of("*?") != std::string_view::npos;
}

std::string FormatSizeField(std::uint64_t size) {
    std::string digits = std::to_string(size);
    std::string grouped;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            grouped += ',';
        }
        grouped += digits[i];
    }
    size_t padding = digits.size() < 9 ? 9 - digits.size() : 0;
    return std::string(padding, ' ') + grouped;
}

} // namespace kelzar
