#include "select/path.h"

#include <vector>

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

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i] >= 'a' && text[i] <= 'z' ? static_cast<char>(text[i] - 32) : text[i];
        if (c != prefix[i]) {
            return false;
        }
    }
    return true;
}

// Drops the first `count` components (and the backslashes before them).
std::string_view SkipComponents(std::string_view path, int count) {
    for (int i = 0; i < count; ++i) {
        size_t start = path.find_first_not_of('\\');
        if (start == std::string_view::npos) {
            return {};
        }
        size_t end = path.find('\\', start);
        path = end == std::string_view::npos ? std::string_view() : path.substr(end);
    }
    return path;
}

// The path less its root: a drive, a share, or either behind "\\?\" or "\\.\".
std::string_view WithoutRoot(std::string_view path) {
    if (StartsWith(path, "\\\\?\\") || StartsWith(path, "\\\\.\\")) {
        path.remove_prefix(4);
        if (StartsWithNoCase(path, "UNC\\")) {
            return SkipComponents(path.substr(3), 2);
        }
    } else if (StartsWith(path, "\\\\")) {
        return SkipComponents(path, 2);
    }
    if (path.size() >= 2 && path[1] == ':') {
        path.remove_prefix(2);
    }
    return path;
}

} // namespace

std::string EntryNameOfPath(std::string_view path) {
    std::vector<std::string_view> kept;
    std::string_view rest = WithoutRoot(path);
    while (!rest.empty()) {
        size_t start = rest.find_first_not_of('\\');
        if (start == std::string_view::npos) {
            break;
        }
        size_t end = rest.find('\\', start);
        std::string_view part =
            rest.substr(start, end == std::string_view::npos ? end : end - start);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
        if (part == "..") {
            if (!kept.empty()) {
                kept.pop_back();
            }
        } else if (part != ".") {
            kept.push_back(part);
        }
    }
    std::string name;
    for (std::string_view part : kept) {
        if (!name.empty()) {
            name += '\\';
        }
        name += part;
    }
    return name;
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
