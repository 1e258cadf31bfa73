#include "ui/usage_text.h"

namespace kelzar {

std::string BuildUsageText() {
    static constexpr const char* kLines[] = {
        "Usage: (space or comma separator)",
        "\tkelzar.exe ZipfilePath FilesToZip 0|1",
        "or",
        "\tkelzar.exe ZipfilePath FilesToZip",
        "or",
        "\tkelzar.exe ZipfilePath,FilesToZip,0|1",
        "or",
        "\tkelzar.exe ZipfilePath,FilesToZip",
        "Where",
        "\tZipfilePath - the fully qualified path to the zipfile, like e:\\myfiles\\myzip.zip",
        "\tFilesToZip - the fully qualified path to the files to zip. Wildcards supported.",
        "\t\tExamples: d:\\Projects\\M16-2008\\*.* will zip all files.",
        "\t\t                  d:\\Projects\\M16-2008\\*.txt will zip all text files.",
        "\t0|1 - Passing zero or nothing will not store the paths in the zipfile.",
        "\t        Passing 1 will store the paths in the zipfile.",
    };
    std::string text;
    for (const char* line : kLines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

} // namespace kelzar
