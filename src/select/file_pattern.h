// FilesToZip, read once and the same way for both modes: the folder the
// listing searches and the name pattern it matches there.
#pragma once

#include <string>
#include <string_view>

namespace kelzar {

struct FilePattern {
    // As written, up to and including the last "\", "/" or drive colon;
    // empty for the working folder. Joined with a name the listing yields,
    // it names the file the listing found.
    std::string folder;
    // The whole last component, wildcards and dots as typed: "*.tar.gz" or
    // "report.v1.txt" are matched as they stand. "*.*" when FilesToZip ends
    // in a separator or a colon: every file of that folder.
    std::string name;

    std::string Search() const { return folder + name; }
};

FilePattern ParseFilePattern(std::string_view filesToZip);

} // namespace kelzar
