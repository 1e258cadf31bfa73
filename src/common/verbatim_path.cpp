#include "common/verbatim_path.h"

namespace kelzar {

namespace {

bool IsDriveRoot(std::u16string_view path) {
    const char16_t letter = path.size() >= 3 ? path[0] : u'\0';
    return ((letter >= u'a' && letter <= u'z') || (letter >= u'A' && letter <= u'Z')) &&
           path[1] == u':' && path[2] == u'\\';
}

bool IsShare(std::u16string_view path) {
    return path.size() > 2 && path[0] == u'\\' && path[1] == u'\\' && path[2] != u'?' &&
           path[2] != u'.';
}

// Whether the components after the root are all plain names, and whether
// one of them ends in a dot or a space.
bool HasTrimmedComponent(std::u16string_view rest) {
    bool trimmed = false;
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = rest.find(u'\\', start);
        const bool last = end == std::u16string_view::npos;
        std::u16string_view part =
            rest.substr(start, last ? std::u16string_view::npos : end - start);
        if (part == u"." || part == u"..") {
            return false;
        }
        const bool pattern = last && part.find_first_of(u"*?") != std::u16string_view::npos;
        if (!part.empty() && !pattern && (part.back() == u'.' || part.back() == u' ')) {
            trimmed = true;
        }
        if (last) {
            break;
        }
        start = end + 1;
    }
    return trimmed;
}

} // namespace

std::optional<std::u16string> VerbatimForm(std::u16string_view path) {
    if (path.find(u'/') != std::u16string_view::npos) {
        return std::nullopt;
    }
    if (IsDriveRoot(path) && HasTrimmedComponent(path.substr(3))) {
        return u"\\\\?\\" + std::u16string(path);
    }
    if (IsShare(path) && HasTrimmedComponent(path.substr(2))) {
        return u"\\\\?\\UNC\\" + std::u16string(path.substr(2));
    }
    return std::nullopt;
}

} // namespace kelzar
