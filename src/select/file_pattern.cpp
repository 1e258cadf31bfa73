#include "select/file_pattern.h"

namespace kelzar {

FilePattern ParseFilePattern(std::string_view filesToZip) {
    std::size_t last = filesToZip.find_last_of("\\/:");
    FilePattern pattern;
    if (last != std::string_view::npos) {
        pattern.folder = std::string(filesToZip.substr(0, last + 1));
        filesToZip.remove_prefix(last + 1);
    }
    pattern.name = filesToZip.empty() ? "*.*" : std::string(filesToZip);
    return pattern;
}

} // namespace kelzar
